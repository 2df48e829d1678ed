// The programs end to end on a course made here and on the demo course:
// `strovia export` with each file read back by an independent decoder
// (ffmpeg), its schedule held against what `strovia play --trace` does; the
// programs' exit codes and reasons; the checker on planted faults.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../jet/tables.hpp"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace strovia::test::tables;

namespace {

constexpr double kFrame = 0.04;  // the course's videos run at 25 frames a second

struct Ran {
    int exit_code = -1;
    std::string out;
};

Ran run(const std::string& command) {
    Ran r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string q(const fs::path& p) { return "'" + p.string() + "'"; }

std::string strovia(const std::string& args) { return std::string(STROVIA_EXE) + " " + args; }

Ran cli(const std::string& args) { return run(strovia(args)); }

std::string ff() { return std::string(FFMPEG_EXE) + " -nostdin -y -v error "; }

std::vector<json> json_lines(const std::string& text) {
    std::vector<json> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        auto j = json::parse(line, nullptr, false);
        if (j.is_object()) out.push_back(std::move(j));
    }
    return out;
}

// Every frame of a file sampled at 16x16 points (no averaging, which would
// blur the brightness a frame number is read from): Y, U, V planes of 256.
std::vector<std::string> decode_frames(const fs::path& file) {
    const Ran r = run(ff() + "-i " + q(file) +
                      " -vf fps=25,scale=16:16:flags=neighbor -pix_fmt yuv444p -f rawvideo -");
    std::vector<std::string> frames;
    for (std::size_t at = 0; at + 768 <= r.out.size(); at += 768)
        frames.push_back(r.out.substr(at, 768));
    return frames;
}

// Loudness of the sound track in 10 ms windows (mono, 8 kHz).
std::vector<double> loudness(const fs::path& file) {
    const Ran r = run(ff() + "-i " + q(file) + " -vn -ac 1 -ar 8000 -f s16le -");
    const auto* s = reinterpret_cast<const std::int16_t*>(r.out.data());
    const std::size_t n = r.out.size() / 2;
    std::vector<double> out;
    for (std::size_t w = 0; w + 80 <= n; w += 80) {
        double sum = 0;
        for (std::size_t i = w; i < w + 80; ++i) sum += double(s[i]) * s[i];
        out.push_back(std::sqrt(sum / 80));
    }
    return out;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("strovia-export-" + std::to_string(::getpid()));
        const fs::path c = root_ / "course";
        fs::create_directories(c / "video");
        fs::create_directories(c / "sound" / "mp2");
        auto sh = [](const std::string& command) {
            const Ran r = run(command);
            ASSERT_EQ(r.exit_code, 0) << command << "\n" << r.out;
        };
        // Frame N of the video has the brightness 16 + 3N, so a decoded
        // frame tells its own number.
        sh(ff() +
           "-f lavfi -i \"color=c=black:size=352x288:rate=25,geq=lum='16+3*N':cb=128:cr=128\" "
           "-frames:v 75 -c:v mpeg1video -q:v 2 -f mpeg " +
           q(c / "video" / "count.mpg"));
        for (const auto& [name, seconds] : std::map<std::string, double>{
                 {"n1", 0.4}, {"n2", 2.0}, {"n3", 0.5}, {"p1", 0.6}, {"p2", 0.5}}) {
            sh(ff() + "-f lavfi -i sine=frequency=500:duration=" + std::to_string(seconds) +
               " -c:a mp2 -b:a 128k " + q(c / "sound" / "mp2" / (name + ".mp2")));
        }
        // A wide red picture, and a tall blue one that leaves bars beside it.
        sh(ff() + "-f lavfi -i color=c=red:size=64x48 -frames:v 1 " + q(c / "video" / "wide.png"));
        sh(ff() + "-f lavfi -i color=c=blue:size=48x96 -frames:v 1 " + q(c / "video" / "tall.bmp"));
        const Ran built = build_catalogue(
            c,
            {asanas(json::parse(R"([[1, "Count", "Video", "count.mpg"],
                 [2, "Pics", "Photo", null], [3, "Broken", "Video", "count.mpg"]])")),
             segments(1, json::parse(R"([["n1", "a", 0, 24, 0.4], ["n2", "b", 25, 49, 2.0],
                 ["n3", "c", 50, 74, 0.5]])")),
             photos(2, json::parse(R"([["p1", "wide.png"], ["p2", "tall.bmp"]])")),
             segments(3, json::parse(R"([["n1", "a", 0, 24, 0.4], ["gone", "b", 25, 74, 1.0]])"))});
        ASSERT_EQ(built.exit_code, 0) << built.out;
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    // Made on first use: each test runs in a process of its own.
    static const Ran& exported() {
        static const Ran r = run(
            strovia("export --all --content " + q(root_ / "course") + " -o " + q(root_ / "out")));
        return r;
    }
    static const Ran& demo_made() {
        static const Ran r = cli("demo " + q(demo()) + " --no-play --segments 3");
        return r;
    }
    static fs::path demo() { return root_ / "demo"; }
    // The course's catalogue, written by the program from `tables`.
    static Ran build_catalogue(const fs::path& course, const json& tables) {
        const fs::path manifest = course.string() + ".json";
        std::ofstream(manifest) << json{{"tables", tables}}.dump();
        return cli("catalogue build " + q(manifest) + " -o " + q(course / "video" / "AVPelmo.mdb"));
    }
    static json schedule(const fs::path& course, const std::string& posture) {
        const Ran r = cli("export --schedule --content " + q(course) + " --posture " + posture);
        const auto lines = json_lines(r.out);
        return lines.empty() ? json() : lines.front();
    }

    static fs::path root_;
};

fs::path EndToEnd::root_;

// The file name after the last separator of either kind.
std::string base_name(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

// The broken posture is skipped; in each exported file the video stands at
// the scheduled frame, pictures fill the frame with their aspect kept, each
// narration sounds from its time and silence lies between.
TEST_F(EndToEnd, ExportedFramesAndSoundFollowTheSchedule) {
    const Ran& exported = EndToEnd::exported();
    EXPECT_EQ(exported.exit_code, 1) << exported.out;
    EXPECT_NE(exported.out.find("posture 3 of 3: Broken: skipped: "), std::string::npos)
        << exported.out;
    EXPECT_NE(exported.out.find("gone.mp2: missing"), std::string::npos) << exported.out;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_ / "out"))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"01-Count.mp4", "01-Count.vtt", "02-Pics.mp4",
                                               "02-Pics.vtt", "index.html"}));
    const fs::path course = root_ / "course";
    const json count = schedule(course, "Count"), pics = schedule(course, "Pics");
    ASSERT_TRUE(count.contains("shots") && pics.contains("shots")) << count << pics;
    // Row 3's StartPos holds the video at 2 s while narration 2 runs on.
    EXPECT_TRUE(std::ranges::any_of(count["shots"], [](const json& shot) {
        return shot.value("hold", -1) == 50 && std::abs(shot["from"].get<double>() - 2.0) < 1e-6;
    })) << count;
    const Ran webm = cli("export --posture Count --format webm --content " + q(course) + " -o " +
                         q(root_ / "webm"));
    ASSERT_EQ(webm.exit_code, 0) << webm.out;
    const std::pair<fs::path, const json&> files[] = {{root_ / "out" / "01-Count.mp4", count},
                                                      {root_ / "webm" / "01-Count.webm", count},
                                                      {root_ / "out" / "02-Pics.mp4", pics}};
    for (const auto& [file, s] : files) {
        SCOPED_TRACE(file.string());
        const auto frames = decode_frames(file);
        ASSERT_NEAR(frames.size(), s["end"].get<double>() / kFrame, 1.5);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const double t = i * kFrame;
            json now;
            for (const auto& shot : s["shots"]) {
                if (shot["from"].get<double>() <= t + 1e-9) now = shot;
            }
            const double from = now["from"];
            // At a change of shot the encoder's frame timing may fall either side.
            const bool edge = std::abs(t - from) < kFrame + 1e-6;
            auto at = [&](int plane, int x) {  // on the middle row
                return int(static_cast<unsigned char>(frames[i][plane * 256 + 8 * 16 + x]));
            };
            SCOPED_TRACE("frame " + std::to_string(i) + " at " + std::to_string(t) + " s");
            if (!now.contains("picture")) {
                const int expect =
                    now.contains("hold")
                        ? now["hold"].get<int>()
                        : std::min(74, now["play"].get<int>() +
                                           int(std::floor((t - from) / kFrame + 1e-6)));
                EXPECT_LE(std::abs(int(std::lround((at(0, 8) - 16) / 3.0)) - expect), edge ? 1 : 0);
            } else if (!edge) {
                // The wide red picture fills the 4:3 frame edge to edge; the
                // tall blue one has black bars beside it.
                const bool wide = base_name(now["picture"]) == "wide.png";
                EXPECT_GT(at(wide ? 2 : 1, 8), 200);
                EXPECT_TRUE(wide ? at(2, 1) > 200 : at(0, 1) < 24 && std::abs(at(1, 1) - 128) <= 6)
                    << at(0, 1) << " " << at(1, 1) << " " << at(2, 1);
            }
        }

        // Each 10 ms of sound loud inside a narration and silent outside,
        // but for a frame either side of its start and end.
        const auto loud = loudness(file);
        for (std::size_t w = 0; w < loud.size(); ++w) {
            const double t = (w + 0.5) / 100;
            bool inside = false, edge = false;
            for (const auto& n : s["narrations"]) {
                const double from = n["at"], to = from + n["length"].get<double>();
                inside |= t >= from && t < to;
                edge |= std::abs(t - from) < kFrame + 0.005 || std::abs(t - to) < kFrame + 0.005;
            }
            EXPECT_TRUE(edge || (inside ? loud[w] > 500 : loud[w] < 100))
                << (inside ? "narration" : "silence") << " at " << t << " s: level " << loud[w];
        }
    }
}

// A run of the player against the schedule: how long each narration runs
// before the player moves on, the frame the video stands at when the next
// segment starts, which narration and picture each is, when pictures change
// and that VideoEnd comes once. The player's own switching time (closing one
// narration, opening the next) is left out: the schedule has none.
void expect_player_follows(const json& s, const std::vector<json>& trace) {
    std::vector<double> starts, stops, pictures, video_ends;
    std::vector<std::string> opened, shown;  // narrations and pictures, in order
    std::vector<int> resumed_at;             // the position when each later narration starts
    double position = 0;
    for (const auto& j : trace) {
        const std::string kind = j.value("kind", ""), text = j.value("text", "");
        const double t = j["t"].get<double>() / 1000;
        if (kind == "query" && text == "status video Position")
            position = std::atof(j["reply"].get<std::string>().c_str());
        if (kind == "command" && text == "play sound") {
            if (!starts.empty()) resumed_at.push_back(int(position));
            starts.push_back(t);
        }
        if (kind == "command" && text == "close sound") stops.push_back(t);
        if (kind == "command" && text.find(" alias Sound ") != std::string::npos)
            opened.push_back(text);
        if (kind == "picture" && !j["path"].get<std::string>().empty()) {
            pictures.push_back(t);
            shown.push_back(base_name(j["path"]));
        }
        if (kind == "event" && j["name"] == "VideoEnd") video_ends.push_back(t);
    }
    const auto& narrations = s["narrations"];
    ASSERT_EQ(starts.size(), narrations.size());
    ASSERT_EQ(stops.size(), narrations.size());
    ASSERT_EQ(opened.size(), narrations.size());
    ASSERT_EQ(video_ends.size(), 1u);
    EXPECT_NEAR(video_ends[0], stops.back(), kFrame) << "VideoEnd at the last narration's end";
    for (std::size_t k = 0; k < narrations.size(); ++k) {
        const double next = k + 1 < narrations.size() ? narrations[k + 1]["at"].get<double>()
                                                      : s["end"].get<double>();
        EXPECT_NEAR(stops[k] - starts[k], next - narrations[k]["at"].get<double>(), kFrame)
            << "segment " << k + 1;
        EXPECT_NE(opened[k].find(base_name(narrations[k]["path"])), std::string::npos) << opened[k];
    }
    if (s["shots"][0].contains("play")) {
        std::vector<int> want;
        for (const auto& shot : s["shots"]) {
            if (shot.contains("play") && shot["from"].get<double>() > 0)
                want.push_back(shot["play"]);
        }
        ASSERT_EQ(resumed_at.size(), want.size());
        for (std::size_t k = 0; k < want.size(); ++k)
            EXPECT_NEAR(resumed_at[k], want[k], 1) << "the frame segment " << k + 2 << " starts at";
    } else {
        // A picture changes while the player switches narrations.
        ASSERT_EQ(pictures.size(), narrations.size());
        for (std::size_t k = 0; k < pictures.size(); ++k) {
            EXPECT_EQ(shown[k], base_name(s["shots"][k]["picture"]));
            EXPECT_TRUE((k == 0 || pictures[k] >= stops[k - 1]) && pictures[k] <= starts[k])
                << "picture " << k + 1 << " out of its place";
        }
    }
}

// The player runs in real time on a shared machine, where a busy moment can
// delay one of its ticks past a frame: the faults of a first run are held
// back and the posture played once more, which must match. A fault of the
// schedule strays both times.
TEST_F(EndToEnd, ScheduleMatchesWhatThePlayerDoes) {
    const struct {
        fs::path course;
        const char* posture;
    } cases[] = {{root_ / "course", "Count"}, {demo(), "Utkatasana"}, {demo(), "Vrksasana"}};
    ASSERT_EQ(demo_made().exit_code, 0) << demo_made().out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.posture);
        const json s = schedule(c.course, c.posture);
        ASSERT_TRUE(s.contains("narrations")) << s;
        auto play = [&] {
            const Ran played = cli("play --headless --trace --timeout 60 --content " + q(c.course) +
                                   " --posture " + c.posture);
            EXPECT_EQ(played.exit_code, 0) << played.out;
            expect_player_follows(s, json_lines(played.out));
        };
        ::testing::TestPartResultArray first_run;
        {
            const ::testing::ScopedFakeTestPartResultReporter hold_back(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &first_run);
            play();
        }
        if (first_run.size() > 0) play();
    }
}

// Each program ends with its own exit code and says why. The two previews
// bound the video's 3 s: still playing at 2 s, ended well before 30.
TEST_F(EndToEnd, ProgramsEndWithTheirExitCodeAndSayWhy) {
    ASSERT_EQ(demo_made().exit_code, 0) << demo_made().out;
    EXPECT_NE(demo_made().out.find("[1/"), std::string::npos) << "progress while making\n"
                                                              << demo_made().out;
    const fs::path empty = root_ / "empty";
    fs::create_directories(empty / "video");
    const std::string course = q(root_ / "course"), demo = q(EndToEnd::demo());
    const struct {
        std::string args;
        int exit_code;
        std::string says, also = "", before = "";
    } cases[] = {
        {"play --headless --timeout 30 --preview --posture Count --content " + course, 0,
         "VideoEnd after"},
        {"play --headless --timeout 2 --preview --posture Count --content " + course, 3,
         "no VideoEnd within 2 s"},
#ifdef BLOCK_CATALOGUE
        // Held while the catalogue's opening never returns (a preloaded library).
        {"play --headless --timeout 1 --posture Count --content " + course, 3,
         "no VideoEnd within 1 s; the program was blocked", "",
         "LD_PRELOAD=" + std::string(BLOCK_CATALOGUE) + " timeout 60 "},
#endif
        {"play --headless --at soon:Pause --posture Count --content " + course, 2,
         "--at wants SECONDS:METHOD"},
        {"play --headless --posture Nowhere --content " + course, 4, "Asana not found - Nowhere"},
        {"play --headless --posture Count --content " + q(root_ / "nowhere"), 5,
         "strovia play: fileOpen started nothing: the catalogue cannot be opened: ",
         "(error 3024)"},
        {"demo " + demo + " --no-play --segments 3", 0, "(already made)"},
        // The posture whose narration outlasts its stretch, ending on "mt".
        {"demo " + demo + " --headless --segments 3 --posture Utkatasana", 0,
         "video held at frame 2", "Utkatasana: 2 segments, VideoEnd after"},
        {"check --content " + demo, 0, "4 postures checked: 0 errors, 0 warnings"},
        {"check --content " + q(empty), 1,
         "[catalogue]: ", "error 3024: This folder holds no course: video/AVPelmo.mdb is missing"},
        // The video folder picked instead of the course: the course is named.
        {"list --content " + q(EndToEnd::demo() / "video"), 1,
         "Its parent folder " + EndToEnd::demo().string() + " is the course."},
    };
    for (const auto& c : cases) {
        const Ran r = run(c.before + strovia(c.args));
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.also), std::string::npos) << c.args << "\n" << r.out;
    }
}

// Nothing a course holds stalls a programme or blocks the program: a video
// cut at half or damaged from half on counts as having reached its later
// boundaries (one VideoError says where it stopped and what it missed);
// FIFOs in place of a video, a narration or a picture are never opened.
TEST_F(EndToEnd, BrokenVideosAndFifosNeitherStallNorBlock) {
    const fs::path c = root_ / "faulty";
    fs::copy(root_ / "course", c, fs::copy_options::recursive);
    const std::string whole{std::istreambuf_iterator<char>(
                                std::ifstream(c / "video" / "count.mpg", std::ios::binary).rdbuf()),
                            {}};
    const std::size_t half = whole.size() / 2;
    std::ofstream(c / "video" / "cut.mpg", std::ios::binary) << whole.substr(0, half);
    std::string damaged = whole;
    for (std::size_t i = half; i < damaged.size(); ++i) damaged[i] = char((i * 7919) >> 3);
    std::ofstream(c / "video" / "damaged.mpg", std::ios::binary) << damaged;
    for (const fs::path& f :
         {c / "video" / "fifo.mpg", c / "video" / "fifo.png", c / "sound" / "mp2" / "fifo.mp2"}) {
        ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0) << f;
    }
    const json rows = json::parse(
        R"([["n1", "a", 0, 24, 0.4], ["n2", "b", 25, 49, 0.5], ["n3", "c", 60, 74, 0.5]])");
    const Ran built =
        build_catalogue(c, {asanas(json::parse(R"([[1, "Cut", "Video", "cut.mpg"],
             [2, "Damaged", "Video", "damaged.mpg"], [3, "FifoVideo", "Video", "fifo.mpg"],
             [4, "FifoPicture", "Photo", null], [5, "FifoNarration", "Photo", null]])")),
                            photos(4, json::parse(R"([["p1", "wide.png"], ["p1", "fifo.png"]])")),
                            photos(5, json::parse(R"([["fifo", "wide.png"], ["p1", "wide.png"]])")),
                            segments(1, rows), segments(2, rows), segments(3, rows)});
    ASSERT_EQ(built.exit_code, 0) << built.out;

    auto count = [](const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    const struct {
        const char* posture;
        const char* says;  // once
    } cases[] = {
        {"Cut", "the video cannot go on: the video stopped at frame "},
        {"Damaged", "the video cannot go on: the video stopped at frame "},
        {"FifoVideo", " is a FIFO, not a file (error 311)"},
        {"FifoPicture", " is a FIFO, not a file (error 53)"},
        {"FifoNarration", " is a FIFO, not a file (error 311)"},
    };
    for (const auto& k : cases) {
        const Ran r =
            cli("play --headless --timeout 30 --content " + q(c) + " --posture " + k.posture);
        EXPECT_EQ(r.exit_code, 0) << k.posture << "\n" << r.out;
        EXPECT_EQ(count(r.out, "VideoEnd after"), 1) << k.posture << "\n" << r.out;
        EXPECT_EQ(count(r.out, k.says), 1) << k.posture << "\n" << r.out;
        // A video that never opened is not asked to pause on every tick.
        EXPECT_LT(count(r.out, "error 201"), 10) << k.posture << "\n" << r.out;
        if (std::string(k.posture) == "Cut" || std::string(k.posture) == "Damaged") {
            // Where it stopped, the boundary it missed; reported once.
            EXPECT_EQ(count(r.out, " before frame 60: the file ends there (error 312)"), 1)
                << k.posture << "\n"
                << r.out;
            EXPECT_EQ(count(r.out, "the video"), 2) << k.posture << "\n" << r.out;
        }
    }
    const Ran checked = cli("check --content " + q(c));
    EXPECT_EQ(checked.exit_code, 1) << checked.out;
    EXPECT_EQ(count(checked.out, "is a FIFO, not a file"), 3) << checked.out;
}

TEST_F(EndToEnd, DemoCheckFindsEachPlantedFault) {
    ASSERT_EQ(demo_made().exit_code, 0) << demo_made().out;
    const fs::path bad = root_ / "bad";
    fs::copy(demo(), bad, fs::copy_options::recursive);
    // Files: a missing narration, one that is text, a truncated video, a
    // picture of random bytes.
    fs::remove(bad / "sound" / "mp2" / "arbol.mp2");
    std::ofstream(bad / "sound" / "mp2" / "vrksasana2.mp2") << "not sound\n";
    fs::resize_file(bad / "video" / "utkatasana.mpg", 2000);
    std::ofstream(bad / "video" / "vrksasana3.bmp", std::ios::binary) << "\x13\x37garbage";

    // The catalogue: rows and tables the control would stumble on.
    const Ran dump = cli("catalogue dump " + q(bad / "video" / "AVPelmo.mdb"));
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
    asanas.push_back({9, "Blank", nullptr, "tadasana.mpg"});  // Preview cannot tell
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
    const Ran built = cli("catalogue build " + q(root_ / "bad.json") + " --output " +
                          q(bad / "video" / "AVPelmo.mdb"));
    ASSERT_EQ(built.exit_code, 0) << built.out;

    const Ran r = cli("check --content " + q(bad));
    EXPECT_EQ(r.exit_code, 1) << r.out;
    for (const char* expected : {
             "nosuch.mp2: missing",
             "Tadasana [Audio_Asana1 row 2]: StartPos cannot be read as a 16-bit",
             "Tadasana [Audio_Asana1 row 3]: StartPos 900 lies past the video's last frame",
             "Utkatasana [Asanas row 2]: video ",
             "Vrksasana [Photo_Asana3 row 1]: Mp2name is null",
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

    // The listing for programs: a null Disp_Type stays null, a failing
    // Preview carries its number, a missing table counts no parts.
    const Ran listed = cli("list --json --content " + q(bad));
    ASSERT_EQ(listed.exit_code, 0) << listed.out;
    const json rows = json::parse(listed.out, nullptr, false);
    ASSERT_TRUE(rows.is_array() && rows.size() == 9) << listed.out;
    EXPECT_EQ(rows[5], json::parse(R"({"name":"Crow","AsanaID":"6","Disp_Type":"Video ",
        "fileOpen":"photo","Preview":"video","parts":-1})"));
    EXPECT_EQ(rows[8], json::parse(R"({"name":"Blank","AsanaID":"9","Disp_Type":null,
        "fileOpen":"photo","Preview":"fails","parts":-1,"PreviewError":94})"));
}

}  // namespace
