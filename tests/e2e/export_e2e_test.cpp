// `strovia export` end to end: a course made here, exported, and each file
// read back by an independent decoder (ffmpeg); the schedule held against
// what `strovia play --trace` does; the course page played in Chromium.

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

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

std::string ff() { return std::string(FFMPEG_EXE) + " -nostdin -y -v error "; }

std::vector<json> json_lines(const std::string& text) {
    std::vector<json> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = text.find('\n', at);
        auto j = json::parse(text.substr(at, end - at), nullptr, false);
        if (!j.is_discarded() && j.is_object()) out.push_back(std::move(j));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return out;
}

// Every frame of a file sampled at 16x16 points (no averaging, which
// would blur the brightness a frame number is read from), planar 4:4:4.
struct Frames {
    std::vector<std::string> frames;
    const unsigned char* at(std::size_t i) const {
        return reinterpret_cast<const unsigned char*>(frames[i].data());
    }
    int y(std::size_t i, int x, int row) const { return at(i)[row * 16 + x]; }
    int u(std::size_t i, int x, int row) const { return at(i)[256 + row * 16 + x]; }
    int v(std::size_t i, int x, int row) const { return at(i)[512 + row * 16 + x]; }
};

Frames decode_frames(const fs::path& file) {
    const Ran r = run(ff() + "-i " + q(file) +
                      " -vf fps=25,scale=16:16:flags=neighbor -pix_fmt yuv444p -f rawvideo -");
    Frames f;
    for (std::size_t at = 0; at + 768 <= r.out.size(); at += 768)
        f.frames.push_back(r.out.substr(at, 768));
    return f;
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

double seconds_of(const fs::path& file) {
    const Ran r = run(std::string(FFPROBE_EXE) +
                      " -v error -show_entries format=duration -of csv=p=0 " + q(file));
    return std::atof(r.out.c_str());
}

class Export : public ::testing::Test {
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
        const struct {
            const char* name;
            int hz;
            double seconds;
        } tones[] = {{"n1", 440, 0.4},
                     {"n2", 660, 2.0},
                     {"n3", 880, 0.5},
                     {"p1", 500, 0.6},
                     {"p2", 700, 0.5}};
        for (const auto& t : tones) {
            sh(ff() + "-f lavfi -i sine=frequency=" + std::to_string(t.hz) +
               ":duration=" + std::to_string(t.seconds) + " -c:a mp2 -b:a 128k " +
               q(c / "sound" / "mp2" / (std::string(t.name) + ".mp2")));
        }
        // A wide red picture, and a tall blue one that leaves bars beside it.
        sh(ff() + "-f lavfi -i color=c=red:size=64x48 -frames:v 1 " + q(c / "video" / "wide.png"));
        sh(ff() + "-f lavfi -i color=c=blue:size=48x96 -frames:v 1 " + q(c / "video" / "tall.bmp"));
        const char* manifest = R"({"tables": [
  {"name": "Asanas",
   "columns": [{"name": "AsanaID", "type": "Long"}, {"name": "name", "type": "Text", "size": 50},
               {"name": "Disp_Type", "type": "Text", "size": 10},
               {"name": "VideoName", "type": "Text", "size": 50}],
   "rows": [[1, "Count", "Video", "count.mpg"], [2, "Pics", "Photo", null],
            [3, "Broken", "Video", "count.mpg"]]},
  {"name": "Audio_Asana1",
   "columns": [{"name": "Filename", "type": "Text", "size": 50},
               {"name": "Action", "type": "Text", "size": 50},
               {"name": "StartPos", "type": "Integer"}, {"name": "EndPos", "type": "Integer"},
               {"name": "Filelen", "type": "Double"}],
   "rows": [["n1", "a", 0, 24, 0.4], ["n2", "b", 25, 49, 2.0], ["n3", "c", 50, 74, 0.5]]},
  {"name": "Photo_Asana2",
   "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
               {"name": "ImageName", "type": "Text", "size": 50}],
   "rows": [["p1", "wide.png"], ["p2", "tall.bmp"]]},
  {"name": "Audio_Asana3",
   "columns": [{"name": "Filename", "type": "Text", "size": 50},
               {"name": "Action", "type": "Text", "size": 50},
               {"name": "StartPos", "type": "Integer"}, {"name": "EndPos", "type": "Integer"},
               {"name": "Filelen", "type": "Double"}],
   "rows": [["n1", "a", 0, 24, 0.4], ["gone", "b", 25, 74, 1.0]]}]})";
        std::ofstream(root_ / "manifest.json") << manifest;
        sh(strovia("catalogue build " + q(root_ / "manifest.json") + " -o " +
                   q(c / "video" / "AVPelmo.mdb")));
        exported_ = run(strovia("export --all --content " + q(c) + " -o " + q(root_ / "out")));
        sh(strovia("demo " + q(root_ / "demo") + " --no-play --segments 3"));
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static json schedule(const fs::path& course, const std::string& posture) {
        const Ran r =
            run(strovia("export --schedule --content " + q(course) + " --posture " + posture));
        const auto lines = json_lines(r.out);
        return lines.empty() ? json() : lines.front();
    }

    static fs::path root_;
    static Ran exported_;
};

fs::path Export::root_;
Ran Export::exported_;

TEST_F(Export, ExportsEachPlayablePostureSkipsTheBrokenOneAndLeavesNoPartialFile) {
    EXPECT_EQ(exported_.exit_code, 1) << exported_.out;
    EXPECT_NE(exported_.out.find("posture 3 of 3: Broken: skipped: "), std::string::npos)
        << exported_.out;
    EXPECT_NE(exported_.out.find("gone.mp2: missing"), std::string::npos) << exported_.out;
    EXPECT_NE(exported_.out.find("posture 1 of 3: Count 100%"), std::string::npos);
    const fs::path out = root_ / "out";
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"01-Count.mp4", "01-Count.vtt", "02-Pics.mp4",
                                               "02-Pics.vtt", "index.html"}));
    // Stopped half way through a large render: no file of it is left.
    const fs::path stopped = root_ / "stopped";
    const Ran interrupted = run("timeout --preserve-status -s INT 1.5 " +
                                strovia("export --posture Tadasana --size 1920x1080 --content " +
                                        q(root_ / "demo") + " -o " + q(stopped)));
    EXPECT_EQ(interrupted.exit_code, 130) << interrupted.out;
    if (fs::exists(stopped)) {
        EXPECT_TRUE(fs::is_empty(stopped));
    }

    std::ifstream vtt(out / "01-Count.vtt");
    const std::string text((std::istreambuf_iterator<char>(vtt)), {});
    EXPECT_TRUE(text.starts_with("WEBVTT\n\n1\n00:00:00.000 --> ")) << text;
    EXPECT_NE(text.find("\nCount 3\n"), std::string::npos) << text;
}

// The frame shown at every moment, and the sound, against the schedule;
// the schedule itself is held against the player in its own test.
TEST_F(Export, VideoHoldsTheStartPosFrameAndNarrationsStartOnTimeInBothFormats) {
    const fs::path course = root_ / "course";
    const json s = schedule(course, "Count");
    ASSERT_TRUE(s.contains("shots")) << s;
    bool held_at_50 = false;
    for (const auto& shot : s["shots"]) {
        held_at_50 |=
            shot.value("hold", -1) == 50 && std::abs(shot["from"].get<double>() - 2.0) < 1e-6;
    }
    EXPECT_TRUE(held_at_50) << "row 3's StartPos holds the video at 2 s: " << s;

    const Ran webm = run(strovia("export --posture Count --format webm --content " + q(course) +
                                 " -o " + q(root_ / "webm")));
    ASSERT_EQ(webm.exit_code, 0) << webm.out;
    for (const fs::path& file :
         {root_ / "out" / "01-Count.mp4", root_ / "webm" / "01-Count.webm"}) {
        SCOPED_TRACE(file.string());
        const double end = s["end"];
        EXPECT_NEAR(seconds_of(file), end, kFrame);

        const Frames f = decode_frames(file);
        ASSERT_NEAR(f.frames.size(), end / kFrame, 1.5);
        for (std::size_t i = 0; i < f.frames.size(); ++i) {
            const double t = i * kFrame;
            json now;
            for (const auto& shot : s["shots"]) {
                if (shot["from"].get<double>() <= t + 1e-9) now = shot;
            }
            const double from = now["from"];
            const int expect = now.contains("hold")
                                   ? now["hold"].get<int>()
                                   : std::min(74, now["play"].get<int>() +
                                                      int(std::floor((t - from) / kFrame + 1e-6)));
            const int shown = int(std::lround((f.y(i, 8, 8) - 16) / 3.0));
            // At a change of shot the encoder's frame timing may fall either side.
            const bool edge = std::abs(t - from) < kFrame + 1e-6;
            EXPECT_LE(std::abs(shown - expect), edge ? 1 : 0)
                << "frame " << i << " at " << t << " s";
        }

        const auto loud = loudness(file);
        auto window = [&](double t) {
            return loud.at(std::min(loud.size() - 1, std::size_t(t * 100)));
        };
        double last_end = 0;
        for (const auto& n : s["narrations"]) {
            const double at = n["at"], len = n["length"];
            for (double t = last_end + 0.05; t < at - 0.05; t += 0.01)
                EXPECT_LT(window(t), 100) << "silence at " << t << " s";
            double onset = -1;
            // Where one narration follows another at once, only the level shows.
            for (double t = std::max(last_end, at - 0.2); t < at + 0.2; t += 0.01) {
                if (window(t) > 500) {
                    onset = t;
                    break;
                }
            }
            EXPECT_NEAR(onset, at, kFrame) << "narration at " << at << " s";
            for (double t = at + 0.05; t < at + len - 0.05; t += 0.01)
                EXPECT_GT(window(t), 500) << "narration at " << t << " s";
            last_end = at + len;
        }
    }
}

TEST_F(Export, PicturesShowForTheirNarrationsWithTheirAspectKept) {
    const json s = schedule(root_ / "course", "Pics");
    ASSERT_EQ(s["shots"].size(), 2u) << s;
    const double second = s["shots"][1]["from"];
    const fs::path file = root_ / "out" / "02-Pics.mp4";
    EXPECT_NEAR(seconds_of(file), s["end"].get<double>(), kFrame);
    const Frames f = decode_frames(file);
    for (std::size_t i = 0; i < f.frames.size(); ++i) {
        const double t = i * kFrame;
        if (std::abs(t - second) <= kFrame) continue;
        SCOPED_TRACE("at " + std::to_string(t) + " s");
        if (t < second) {
            // Red fills the 4:3 frame, edge to edge.
            EXPECT_GT(f.v(i, 8, 8), 200);
            EXPECT_GT(f.v(i, 1, 8), 200);
        } else {
            // Blue in the middle, black bars beside it.
            EXPECT_GT(f.u(i, 8, 8), 200);
            EXPECT_LT(f.y(i, 1, 8), 24);
            EXPECT_NEAR(f.u(i, 1, 8), 128, 6);
        }
    }
}

// How far a run of the player strays from the schedule: how long each
// narration runs before the player moves on, the frame the video stands at
// when the next segment starts, when pictures change and VideoEnd comes.
// The player's own switching time (closing one narration, opening the next)
// is left out: the schedule has none.
std::vector<std::string> strays(const json& s, const std::vector<json>& trace) {
    std::vector<double> starts, stops, pictures;
    std::vector<int> resumed_at;  // the position when each later narration starts
    double video_end = -1, position = 0;
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
        if (kind == "picture" && !j["path"].get<std::string>().empty()) pictures.push_back(t);
        if (kind == "event" && j["name"] == "VideoEnd") video_end = t;
    }
    std::vector<std::string> out;
    auto check = [&](bool ok, const std::string& what) {
        if (!ok) out.push_back(what);
    };
    const auto& narrations = s["narrations"];
    if (starts.size() != narrations.size() || stops.size() != narrations.size())
        return {std::to_string(starts.size()) + " narrations played"};
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const double next = k + 1 < narrations.size() ? narrations[k + 1]["at"].get<double>()
                                                      : s["end"].get<double>();
        const double want = next - narrations[k]["at"].get<double>();
        check(std::abs(stops[k] - starts[k] - want) <= kFrame,
              "segment " + std::to_string(k + 1) + " ran " + std::to_string(stops[k] - starts[k]) +
                  " s, the schedule says " + std::to_string(want));
    }
    check(std::abs(video_end - stops.back()) < 0.005, "VideoEnd not at the last narration's end");
    if (s["shots"][0].contains("play")) {
        std::vector<int> want;
        for (const auto& shot : s["shots"]) {
            if (shot.contains("play") && shot["from"].get<double>() > 0)
                want.push_back(shot["play"]);
        }
        check(resumed_at.size() == want.size(),
              "resumed " + std::to_string(resumed_at.size()) + " times");
        for (std::size_t k = 0; k < std::min(want.size(), resumed_at.size()); ++k) {
            check(std::abs(resumed_at[k] - want[k]) <= 1,
                  "segment " + std::to_string(k + 2) + " started at frame " +
                      std::to_string(resumed_at[k]) + ", the schedule says " +
                      std::to_string(want[k]));
        }
    } else {
        // A picture changes while the player switches narrations.
        check(pictures.size() == narrations.size(), std::to_string(pictures.size()) + " pictures");
        for (std::size_t k = 0; k < std::min(pictures.size(), starts.size()); ++k) {
            check((k == 0 || pictures[k] >= stops[k - 1]) && pictures[k] <= starts[k],
                  "picture " + std::to_string(k + 1) + " out of its place");
        }
    }
    return out;
}

// The player runs in real time on a shared machine, where a busy moment can
// delay one of its ticks past a frame: a posture that strays is played once
// more, and must match then. A fault of the schedule strays both times.
TEST_F(Export, ScheduleMatchesWhatThePlayerDoes) {
    const struct {
        fs::path course;
        const char* posture;
    } cases[] = {
        {root_ / "course", "Count"}, {root_ / "demo", "Utkatasana"}, {root_ / "demo", "Vrksasana"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.posture);
        const json s = schedule(c.course, c.posture);
        ASSERT_TRUE(s.contains("narrations")) << s;
        std::vector<std::string> off;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const Ran played = run(strovia("play --headless --trace --timeout 60 --content " +
                                           q(c.course) + " --posture " + c.posture));
            ASSERT_EQ(played.exit_code, 0) << played.out;
            off = strays(s, json_lines(played.out));
            if (off.empty()) break;
        }
        for (const auto& what : off) ADD_FAILURE() << what;
    }
}

// The page from the folder itself and from a web server: chapter buttons
// seek, the video plays to its end, and play-all goes on to the next posture.
TEST_F(Export, CoursePagePlaysInChromiumFromFileAndServer) {
    for (const char* how : {"file", "http"}) {
        SCOPED_TRACE(how);
        const Ran r = run("python3 " + q(EXPORT_BROWSER) + " " + q(CHROMIUM_EXE) + " " +
                          q(root_ / "out") + " " + how);
        const auto lines = json_lines(r.out);
        ASSERT_EQ(lines.size(), 1u) << r.out;
        const json& page = lines.front();
        EXPECT_EQ(page["first"], "Count") << page;
        ASSERT_EQ(page["chapters"].size(), 3u) << page;
        EXPECT_EQ(page["chapters"][2][0], "Count 3");
        EXPECT_TRUE(page["seeked"].get<bool>()) << page;
        EXPECT_NEAR(page["afterSeek"].get<double>(), page["chapters"][2][1].get<double>(), 0.1);
        EXPECT_TRUE(page["ended"].get<bool>()) << page;
        EXPECT_EQ(page["mediaError"], 0);
        EXPECT_EQ(page["next"], "Pics") << page;
        EXPECT_EQ(page["nextSrc"], "02-Pics.mp4");
        if (std::string(how) == "http") {
            EXPECT_EQ(page["trackCues"], 3) << page;
        }
    }
}

}  // namespace
