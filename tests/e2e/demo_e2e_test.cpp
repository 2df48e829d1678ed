// The demo course as a new user meets it, and the course checker on it and
// on a copy with faults planted in its files and its catalogue.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Ran {
    int exit_code = -1;
    std::string out;
};

Ran run(const std::string& args) {
    Ran r;
    FILE* p = ::popen((std::string(STROVIA_EXE) + " " + args + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, p)) r.out += buf;
    const int status = ::pclose(p);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string q(const fs::path& p) { return "'" + p.string() + "'"; }

class Demo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("strovia-demo-" + std::to_string(::getpid()));
        made_ = run("demo " + q(root_ / "course") + " --no-play --segments 3");
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }
    void SetUp() override { ASSERT_EQ(made_.exit_code, 0) << made_.out; }

    static fs::path course() { return root_ / "course"; }
    static inline fs::path root_;
    static inline Ran made_;
};

TEST_F(Demo, IsMadeOnceCheckedCleanAndListedInTableOrder) {
    EXPECT_NE(made_.out.find("[1/"), std::string::npos) << "progress while making\n" << made_.out;
    const Ran again = run("demo " + q(course()) + " --no-play --segments 3");
    EXPECT_EQ(again.exit_code, 0);
    EXPECT_NE(again.out.find("(already made)"), std::string::npos) << again.out;

    const Ran check = run("check --content " + q(course()));
    EXPECT_EQ(check.exit_code, 0) << check.out;
    EXPECT_NE(check.out.find("4 postures checked: 0 errors, 0 warnings"), std::string::npos)
        << check.out;

    const Ran list = run("list --json --content " + q(course()));
    ASSERT_EQ(list.exit_code, 0) << list.out;
    const json postures = json::parse(list.out.substr(list.out.find('[')));
    std::vector<std::string> seen;
    for (const auto& p : postures) {
        seen.push_back(p["name"].get<std::string>() + " " + p["fileOpen"].get<std::string>() + " " +
                       p["Preview"].get<std::string>() + " " +
                       std::to_string(p["parts"].get<int>()));
    }
    EXPECT_EQ(seen,
              (std::vector<std::string>{"Tadasana video video 3", "Utkatasana video video 2",
                                        "Vrksasana photo photo 3", "\xC3\x81rbol photo photo 1"}));
}

// The posture whose narration outlasts its stretch, ending on "mt".
TEST_F(Demo, PlaysHeadlessToVideoEndWithOneLinePerEvent) {
    const Ran r = run("demo " + q(course()) + " --headless --segments 3 --posture Utkatasana");
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("video held at frame 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("segment 2 of 2"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("failed"), std::string::npos) << "the mt narration opened\n" << r.out;
    EXPECT_NE(r.out.find("Utkatasana: 2 segments, VideoEnd after"), std::string::npos) << r.out;
}

TEST_F(Demo, CheckFindsEachPlantedFault) {
    const fs::path bad = root_ / "bad";
    fs::copy(course(), bad, fs::copy_options::recursive);
    // Files: a missing narration, one that is text, a truncated video, a
    // picture of random bytes.
    fs::remove(bad / "sound" / "mp2" / "arbol.mp2");
    std::ofstream(bad / "sound" / "mp2" / "vrksasana2.mp2") << "not sound\n";
    fs::resize_file(bad / "video" / "utkatasana.mpg", 2000);
    std::ofstream(bad / "video" / "vrksasana3.bmp", std::ios::binary) << "\x13\x37garbage";

    // The catalogue: rows and tables the control would stumble on.
    const Ran dump = run("catalogue dump " + q(bad / "video" / "AVPelmo.mdb"));
    ASSERT_EQ(dump.exit_code, 0) << dump.out;
    json m = json::parse(dump.out);
    auto table = [&](const std::string& name) -> json& {
        for (auto& t : m["tables"]) {
            if (t["name"] == name) return t;
        }
        throw std::runtime_error(name);
    };
    json& asanas = table("Asanas")["rows"];
    asanas.push_back({5, "TADASANA", "Video", "tadasana.mpg"});  // found as row 1
    asanas.push_back({6, "Crow", "Video ", "crow pose.mpg"});    // no photo table; blank
    asanas.push_back({7, "Ghost", "Video", nullptr});
    asanas.push_back({8, nullptr, "Photo", nullptr});
    json& seg = table("Audio_Asana1");
    for (auto& c : seg["columns"]) {
        if (c["name"] == "StartPos") c["type"] = "Long";
    }
    seg["rows"][1][0] = "nosuch";
    seg["rows"][1][2] = 40000;
    seg["rows"][2][2] = 900;
    m["tables"].push_back(
        {{"name", "Audio_Asana5"}, {"columns", seg["columns"]}, {"rows", {seg["rows"][0]}}});
    m["tables"].push_back(
        {{"name", "Audio_Asana7"}, {"columns", seg["columns"]}, {"rows", json::array()}});
    table("Photo_Asana3")["rows"][0][0] = nullptr;
    std::ofstream(root_ / "bad.json") << m.dump();
    const Ran built = run("catalogue build " + q(root_ / "bad.json") + " --output " +
                          q(bad / "video" / "AVPelmo.mdb"));
    ASSERT_EQ(built.exit_code, 0) << built.out;

    const Ran r = run("check --content " + q(bad));
    EXPECT_EQ(r.exit_code, 1) << r.out;
    for (const char* expected : {
             "Tadasana [Audio_Asana1 row 2]: narration ",  // nosuch.mp2
             "nosuch.mp2: missing",
             "Tadasana [Audio_Asana1 row 2]: StartPos cannot be read as a 16-bit",
             "Tadasana [Audio_Asana1 row 3]: StartPos 900 lies past the video's last frame",
             "Utkatasana [Asanas row 2]: video ",
             "Vrksasana [Photo_Asana3 row 1]: Mp2name is null",
             "Vrksasana [Photo_Asana3 row 2]: narration ",
             "vrksasana2.mp2: cannot be decoded",
             "Vrksasana [Photo_Asana3 row 3]: picture ",
             "\xC3\x81rbol [Photo_Asana4 row 1]: narration ",
             "TADASANA [Asanas row 5]: the lookup finds another posture",
             "TADASANA [Audio_Asana5]: warning: one row only",
             "Crow [Asanas row 6]: warning: Disp_Type \"Video \"",
             "Crow [Asanas row 6]: warning: path with a blank",
             "Crow [Photo_Asana6]: no photo table",
             "Ghost [Asanas row 7]: VideoName is null",
             "Ghost [Audio_Asana7]: no segment rows",
             "[Asanas row 8]: name is null",
         }) {
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    }
}

TEST_F(Demo, CheckAndListSayPlainlyWhenThereIsNoCourse) {
    const fs::path empty = root_ / "empty";
    fs::create_directories(empty / "video");
    const Ran check = run("check --content " + q(empty));
    EXPECT_EQ(check.exit_code, 1);
    EXPECT_NE(check.out.find("[catalogue]: "), std::string::npos) << check.out;
    EXPECT_NE(
        check.out.find("error 3024: This folder holds no course: video/AVPelmo.mdb is missing"),
        std::string::npos)
        << check.out;
    EXPECT_EQ(run("list --content " + q(empty)).exit_code, 1);
    // The video folder picked instead of the course: the course is named.
    const Ran picked = run("list --content " + q(course() / "video"));
    EXPECT_EQ(picked.exit_code, 1);
    EXPECT_NE(picked.out.find("Its parent folder " + course().string() + " is the course."),
              std::string::npos)
        << picked.out;
}

}  // namespace
