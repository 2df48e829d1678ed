// Plays real postures of a course made here through the whole stack and
// reads the trace the player prints.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct PlayRun {
    int exit_code = -1;
    std::vector<json> trace;
    std::string text;  // lines that are not JSON
};

PlayRun run(const std::string& command) {
    PlayRun r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::string line;
    while (std::fgets(buf, sizeof buf, p)) {
        line = buf;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        auto j = json::parse(line, nullptr, false);
        if (!j.is_discarded() && j.is_object()) {
            r.trace.push_back(std::move(j));
        } else {
            r.text += line + "\n";
        }
    }
    const int status = ::pclose(p);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

void sh(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// One course for all tests of this file.
class Course : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("strovia-e2e-" + std::to_string(::getpid()));
        fs::create_directories(root_ / "video");
        fs::create_directories(root_ / "sound" / "mp2");
        const std::string ff = std::string(FFMPEG_EXE) + " -nostdin -y -loglevel error ";
        // 4 s of video, 100 frames, the frame number drawn by the test pattern.
        sh(ff + "-f lavfi -i testsrc=size=352x288:rate=25 -t 4 -c:v mpeg1video -b:v 1M -f mpeg " +
           (root_ / "video" / "tada.mpg").string());
        const std::map<std::string, double> narrations{{"s1", 0.6}, {"s2", 2.0}, {"s3", 0.5},
                                                       {"p1", 0.4}, {"p2", 0.4}, {"p3", 0.4}};
        for (const auto& [name, seconds] : narrations) {
            sh(ff + "-f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
               " -c:a mp2 -b:a 128k " + (root_ / "sound" / "mp2" / (name + ".mp2")).string());
        }
        for (const char* pic : {"one.bmp", "two.bmp", "three.bmp"}) {
            sh(ff + "-f lavfi -i color=c=blue:size=64x48 -frames:v 1 " +
               (root_ / "video" / pic).string());
        }
        const char* manifest = R"({"tables": [
  {"name": "Asanas",
   "columns": [{"name": "AsanaID", "type": "Long"}, {"name": "name", "type": "Text", "size": 50},
               {"name": "Disp_Type", "type": "Text", "size": 10},
               {"name": "VideoName", "type": "Text", "size": 50}],
   "rows": [[7, "Tadasana", "Video", "tada.mpg"], [12, "Vrksasana", "Photo", null]]},
  {"name": "Audio_Asana7",
   "columns": [{"name": "Filename", "type": "Text", "size": 50},
               {"name": "Action", "type": "Text", "size": 50},
               {"name": "StartPos", "type": "Integer"}, {"name": "EndPos", "type": "Integer"},
               {"name": "Filelen", "type": "Double"}],
   "rows": [["s1", "a", 0, 29, 0.6], ["s2", "b", 30, 59, 2.0], ["s3", "c", 60, 99, 0.5]]},
  {"name": "Photo_Asana12",
   "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
               {"name": "ImageName", "type": "Text", "size": 50}],
   "rows": [["p1", "one.bmp"], ["p2", "two.bmp"], ["p3", "three.bmp"]]}]})";
        std::ofstream(root_ / "manifest.json") << manifest;
        sh(std::string(STROVIA_EXE) + " catalogue build " + (root_ / "manifest.json").string() +
           " -o " + (root_ / "video" / "AVPelmo.mdb").string());
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static PlayRun play(const std::string& posture, const std::string& extra = "") {
        return run(std::string(STROVIA_EXE) + " play --headless --trace --timeout 30 --content " +
                   root_.string() + " --posture " + posture + " " + extra);
    }

    static std::vector<json> of_kind(const PlayRun& r, const std::string& kind) {
        std::vector<json> out;
        for (const auto& j : r.trace) {
            if (j.value("kind", "") == kind) out.push_back(j);
        }
        return out;
    }
    static int count_command(const PlayRun& r, const std::string& needle) {
        int n = 0;
        for (const auto& c : of_kind(r, "command")) {
            if (c["text"].get<std::string>().find(needle) != std::string::npos) ++n;
        }
        return n;
    }

    static fs::path root_;
};

fs::path Course::root_;

TEST_F(Course, VideoPostureHoldsAtEachBoundaryAndEndsOnce) {
    const PlayRun r = play("Tadasana");
    ASSERT_EQ(r.exit_code, 0) << r.text;
    EXPECT_EQ(of_kind(r, "event").size(), 1u);
    for (const char* n : {"s1.mp2", "s2.mp2", "s3.mp2"}) {
        EXPECT_EQ(count_command(r, n), 1) << n << " opened once";
    }
    // The position the video stands at while held, for each boundary.
    std::vector<double> held;
    bool holding = false;
    bool running = false;  // the start's own play-pause-play comes before Timer1 runs
    double last_position = 0;
    for (const auto& j : r.trace) {
        if (j["kind"] == "timer" && j["name"] == "Timer1" && j["enabled"] == true) running = true;
        if (j["kind"] == "query" && j["text"] == "status video Position") {
            last_position = std::atof(j["reply"].get<std::string>().c_str());
        }
        if (j["kind"] == "command" && j["text"] == "pause video" && !holding && running) {
            holding = true;
        }
        if (j["kind"] == "command" && j["text"] == "play video" && holding) {
            held.push_back(last_position);
            holding = false;
        }
    }
    ASSERT_EQ(held.size(), 2u) << ::testing::PrintToString(held);
    EXPECT_GE(held[0], 30);
    EXPECT_LE(held[0], 31) << "held within one frame of StartPos 30";
    EXPECT_GE(held[1], 60);
    EXPECT_LE(held[1], 61) << "held within one frame of StartPos 60";
    // It cannot end before its narrations and video stretches have played.
    const double end_ms = of_kind(r, "event")[0]["t"].get<double>();
    EXPECT_GT(end_ms, 1200 + 2000 + 500) << "ended at " << end_ms << " ms";
    std::printf("video posture ended at %.0f ms (expected about 3700), held at %.0f and %.0f\n",
                end_ms, held[0], held[1]);
}

TEST_F(Course, PhotoPostureShowsEachPictureWithItsNarration) {
    const PlayRun r = play("vrksasana");
    ASSERT_EQ(r.exit_code, 0) << r.text;
    std::vector<std::string> pictures;
    for (const auto& p : of_kind(r, "picture")) {
        const std::string path = p["path"];
        if (!path.empty()) pictures.push_back(fs::path(path).filename().string());
    }
    // Paths keep the control's backslashes; the file name is after the last one.
    for (auto& p : pictures) p = p.substr(p.rfind('\\') + 1);
    EXPECT_EQ(pictures, (std::vector<std::string>{"one.bmp", "two.bmp", "three.bmp"}));
    for (const char* n : {"p1.mp2", "p2.mp2", "p3.mp2"}) EXPECT_EQ(count_command(r, n), 1) << n;
    EXPECT_EQ(of_kind(r, "event").size(), 1u);
}

TEST_F(Course, PauseHoldsThePositionStillUntilStart) {
    const PlayRun r = play("Tadasana", "--at 0.5:Pause --at 1.5:Start");
    ASSERT_EQ(r.exit_code, 0) << r.text;
    double paused_at = -1, first_after = -1;
    bool paused = false, started = false;
    for (const auto& j : r.trace) {
        if (j["kind"] == "call" && j["name"] == "Pause") paused = true;
        if (j["kind"] == "call" && j["name"] == "Start") started = true;
        if (j["kind"] == "query" && j["text"] == "status video Position") {
            const double p = std::atof(j["reply"].get<std::string>().c_str());
            if (!paused) paused_at = p;
            if (started && first_after < 0) first_after = p;
        }
    }
    ASSERT_TRUE(paused && started);
    // No tick queries while paused; the first position after Start is where
    // the video stood (give or take the frame it was on).
    EXPECT_GE(first_after, paused_at);
    EXPECT_LE(first_after, paused_at + 2) << "the video moved while paused";
    EXPECT_EQ(of_kind(r, "event").size(), 1u);
}

TEST_F(Course, StopPlayEndsWithoutVideoEnd) {
    const PlayRun r = play("Tadasana", "--timeout 3 --at 0.5:StopPlay");
    EXPECT_EQ(r.exit_code, 3) << "no VideoEnd: the run times out";
    EXPECT_TRUE(of_kind(r, "event").empty());
    EXPECT_EQ(count_command(r, "close all"), 2);
}

TEST_F(Course, PreviewsPlayWithoutNarration) {
    const PlayRun video = play("Tadasana", "--preview");
    ASSERT_EQ(video.exit_code, 0) << video.text;
    EXPECT_EQ(count_command(video, ".mp2"), 0);
    EXPECT_EQ(of_kind(video, "command").size(), 3u);
    EXPECT_GT(of_kind(video, "event")[0]["t"].get<double>(), 3500) << "the whole 4 s video";

    const PlayRun photos = play("Vrksasana", "--photo-preview");
    ASSERT_EQ(photos.exit_code, 0) << photos.text;
    const auto pictures = of_kind(photos, "picture");
    ASSERT_EQ(pictures.size(), 3u);
    const double gap = pictures[2]["t"].get<double>() - pictures[1]["t"].get<double>();
    EXPECT_GE(gap, 190) << "pictures come one per 200 ms tick";
    EXPECT_EQ(count_command(photos, ".mp2"), 0);
}

// Without --timeout a run that plays nothing ends by itself, each way with
// its own exit code and the reason.
TEST_F(Course, NothingPlaysEndsAtOnceWithItsOwnExitCode) {
    const std::string play = std::string(STROVIA_EXE) + " play --headless --content ";
    const PlayRun unknown = run(play + root_.string() + " --posture Nowhere");
    EXPECT_EQ(unknown.exit_code, 4) << unknown.text;
    EXPECT_NE(unknown.text.find("Asana not found - Nowhere"), std::string::npos) << unknown.text;

    const PlayRun missing = run(play + (root_ / "nowhere").string() + " --posture Tadasana");
    EXPECT_EQ(missing.exit_code, 5) << missing.text;
    EXPECT_NE(missing.text.find("strovia play: fileOpen started nothing: the catalogue cannot be "
                                "opened: "),
              std::string::npos)
        << missing.text;
    EXPECT_NE(missing.text.find("(error 3024)"), std::string::npos) << missing.text;
}

}  // namespace
