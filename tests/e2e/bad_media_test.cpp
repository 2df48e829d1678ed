// Damaged and mislabelled media through the real devices and the real
// picture loader, each case thirty times: some faults stall a media engine
// only now and then, so one clean run proves little. Every case must come
// to the same outcome every time: an error number, a picture shown, or a
// stream played to its end. The table of outcomes and times is printed.

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mci/interpreter.hpp"
#include "qt/qt_host.hpp"

namespace strovia::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 30;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void spit(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}
bool ffmpeg(const std::string& args, const fs::path& out) {
    fs::create_directories(out.parent_path());
    const std::string cmd = std::string(FFMPEG_EXE) + " -nostdin -loglevel error -y " + args +
                            " \"" + out.string() + "\"";
    return std::system(cmd.c_str()) == 0;
}

enum class Kind { Video, Narration, Picture };

struct Case {
    std::string name;
    Kind kind;
    fs::path file;
    std::string expected;  // "error N", "played" or "shown"
};

class BadMedia : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "bad_media_tests";
        static char* argv[] = {name, nullptr};
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app_ = new QApplication(argc, argv);
    }

    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("strovia-bad-media-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        const fs::path src = dir_ / "made";
        clip_ = src / "clip.mpg";
        narration_ = src / "narration.mp2";
        audio_only_ = src / "audio-only.mpg";
        wave_ = src / "tone.wav";
        dual_ = src / "dual.mpg";
        vob_ = src / "dvd.vob";
        mp3_ = src / "tagged.mp3";
        bmp_ = src / "red.bmp";
        ASSERT_TRUE(
            ffmpeg("-f lavfi -i testsrc=size=176x144:rate=25:duration=0.4 -f lavfi -i "
                   "sine=duration=0.4 -c:v mpeg1video -c:a mp2 -f mpeg",
                   clip_));
        ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=0.4 -c:a mp2", narration_));
        ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=0.4 -c:a mp2 -f mpeg", audio_only_));
        ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=0.4 -f wav", wave_));
        // Streams the device does not render: a second language, DVD-style AC-3.
        const std::string picture = "-f lavfi -i testsrc=size=176x144:rate=25:duration=0.4 ";
        const std::string sound = "-f lavfi -i sine=duration=0.4 ";
        ASSERT_TRUE(ffmpeg(
            picture + sound + sound + "-map 0:v -map 1:a -map 2:a -c:v mpeg1video -c:a mp2 -f mpeg",
            dual_));
        ASSERT_TRUE(ffmpeg(picture + sound + "-c:v mpeg2video -c:a ac3 -f vob", vob_));
        ASSERT_TRUE(ffmpeg(sound + "-c:a libmp3lame", mp3_));
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=red:size=64x48:duration=0.04 -frames:v 1", bmp_));
        mci::Options sinks;
        sinks.video_sink = "fakesink sync=false";
        sinks.audio_sink = "fakesink sync=false";
        auto made = mci::Interpreter::create(sinks);
        ASSERT_TRUE(made.ok());
        mci_ = std::move(made).value();
        mci_->set_reporter(&quiet_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<Case> cases() {
        const std::string clip = slurp(clip_);
        const std::string mp2 = slurp(narration_);
        const std::string bmp = slurp(bmp_);
        std::mt19937 rng(11);
        auto noise = [&](std::size_t n) {
            std::string s(n, '\0');
            for (auto& c : s) c = static_cast<char>(rng());
            return s;
        };
        auto corrupt = [&](std::string s) {
            for (std::size_t i = s.size() / 4; i < s.size(); i += 97)
                s[i] = static_cast<char>(rng());
            return s;
        };
        std::string huge_bmp = bmp;  // a header claiming 60000 x 60000 pixels
        for (int at : {18, 22}) {
            huge_bmp[static_cast<std::size_t>(at)] = '\x60';
            huge_bmp[static_cast<std::size_t>(at + 1)] = '\xEA';
        }

        const fs::path d = dir_;
        spit(d / "zero.mpg", "");
        spit(d / "truncated.mpg", clip.substr(0, clip.size() / 2));
        spit(d / "corrupted.mpg", corrupt(clip));
        spit(d / "text.mpg", "This is not a video.\n");
        spit(d / "zero.mp2", "");
        spit(d / "truncated.mp2", mp2.substr(0, mp2.size() / 2));
        spit(d / "corrupted.mp2", corrupt(mp2));
        spit(d / "random.jpg", noise(4096));
        spit(d / "truncated.bmp", bmp.substr(0, bmp.size() / 3));
        spit(d / "huge.bmp", huge_bmp);
        spit(d / "ten.gif", std::string("GIF89a\x01\x00\x01\x00", 10));
        fs::create_directories(d / "folder.mpg");
        fs::create_directories(d / "a course");
        fs::copy_file(clip_, d / "a course" / "with blanks.mpg");
        fs::create_directories(d / "Árbol");
        fs::copy_file(clip_, d / "Árbol" / "vídeo.mpg");
        fs::copy_file(wave_, d / "wave.mp2");

        return {
            {"missing video", Kind::Video, d / "missing.mpg", "error 301"},
            {"zero-byte video", Kind::Video, d / "zero.mpg", "error 302"},
            {"truncated video", Kind::Video, d / "truncated.mpg", "played"},
            {"corrupted video", Kind::Video, d / "corrupted.mpg", "played"},
            {"text named .mpg", Kind::Video, d / "text.mpg", "error 302"},
            {"folder named .mpg", Kind::Video, d / "folder.mpg", "error 301"},
            {"stream without video", Kind::Video, audio_only_, "error 307"},
            {"path with blanks", Kind::Video, d / "a course" / "with blanks.mpg", "played"},
            {"two sound streams", Kind::Video, dual_, "played"},
            {"MPEG-2 with AC-3", Kind::Video, vob_, "played"},
            {"non-ASCII path", Kind::Video, d / "Árbol" / "vídeo.mpg", "played"},
            {"zero-byte narration", Kind::Narration, d / "zero.mp2", "error 302"},
            {"truncated narration", Kind::Narration, d / "truncated.mp2", "played"},
            {"corrupted narration", Kind::Narration, d / "corrupted.mp2", "played"},
            {"wave named .mp2", Kind::Narration, d / "wave.mp2", "error 302"},
            {"layer III, ID3 tag", Kind::Narration, mp3_, "played"},
            {"random bytes .jpg", Kind::Picture, d / "random.jpg", "error 481"},
            {"truncated BMP", Kind::Picture, d / "truncated.bmp", "shown"},
            {"BMP of 60000 x 60000", Kind::Picture, d / "huge.bmp", "error 481"},
            {"10-byte GIF", Kind::Picture, d / "ten.gif", "error 481"},
            {"folder as picture", Kind::Picture, d / "folder.mpg", "error 53"},
        };
    }

    std::string number(const Result<std::string>& r) {
        return "error " + std::to_string(r.error().number);
    }

    // One attempt, as the control makes it: open; for a stream, play it to
    // its end (or find it will not say where it stands); close.
    std::string attempt(const Case& c) {
        if (c.kind == Kind::Picture) {
            QLabel label;
            qt::QtPictureBox box(&label, 1);
            auto s = box.load_picture(c.file.string());
            return s ? "shown" : "error " + std::to_string(s.error().number);
        }
        const std::string alias = c.kind == Kind::Video ? "video" : "sound";
        auto opened =
            mci_->run("open \"" + c.file.string() + "\" alias " + alias + " type mpegVideo");
        if (!opened) return number(opened);
        std::string outcome = "played";
        if (c.kind == Kind::Video) {
            (void)mci_->run("set video time format frames");
            if (auto p = mci_->run("status video position"); !p) outcome = number(p);
        }
        if (outcome == "played") {
            (void)mci_->run("play " + alias);
            const auto limit = Clock::now() + std::chrono::seconds(20);
            for (;;) {
                auto mode = mci_->run("status " + alias + " mode");
                if (mode && *mode == "stopped") break;
                if (Clock::now() > limit) {
                    outcome = "still playing after 20 s";
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        (void)mci_->run("close " + alias);
        return outcome;
    }

    class Quiet : public mci::Reporter {
    public:
        void report(std::string_view, const Error&) override {}
    } quiet_;

    static inline QApplication* app_ = nullptr;
    fs::path dir_;
    fs::path clip_, narration_, audio_only_, wave_, bmp_, dual_, vob_, mp3_;
    std::unique_ptr<mci::Interpreter> mci_;
};

TEST_F(BadMedia, EachCaseComesToItsOutcomeEveryTime) {
    std::printf("%-22s %-26s %10s %10s\n", "case", "outcome", "median ms", "max ms");
    for (const auto& c : cases()) {
        std::vector<double> ms;
        std::vector<std::string> outcomes;
        for (int i = 0; i < kRuns; ++i) {
            const auto t0 = Clock::now();
            outcomes.push_back(attempt(c));
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-22s %-26s %10.1f %10.1f\n", c.name.c_str(), outcomes.front().c_str(),
                    ms[ms.size() / 2], ms.back());
        for (int i = 0; i < kRuns; ++i) {
            EXPECT_EQ(outcomes[static_cast<std::size_t>(i)], c.expected)
                << c.name << ", run " << i + 1;
        }
        // Whatever happened, the channel is free for the next file.
        EXPECT_EQ(mci_->run("status video mode").ok(), false) << c.name;
    }
}

}  // namespace
}  // namespace strovia::test
