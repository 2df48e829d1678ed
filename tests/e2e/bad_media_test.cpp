// Damaged and mislabelled media through the real devices and picture
// loader, thirty times each (some faults stall a media engine only now and
// then): every time the same error number, picture shown or stream played.

#include <QApplication>
#include <QLabel>

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

template <typename R>
std::string number(const R& r) {
    return "error " + std::to_string(r.error().number);
}

// Tells nothing, keeps each device's stop.
class Quiet : public mci::Reporter {
public:
    void report(std::string_view, const Error&) override {}
    void stopped(std::string_view, const mci::Stop& stop) override { stops.push_back(stop); }
    std::vector<mci::Stop> stops;
};

// One attempt, as the control makes it: open; for a stream, play it to its
// end (or find it will not say where it stands); close. `alias` is "video",
// "sound" (a narration) or "picture". A stream that stops is told once; a
// video says the frame it stopped at and how many pictures its file holds.
std::string attempt(mci::Interpreter& mci, Quiet& told, const std::string& alias,
                    const fs::path& file) {
    if (alias == "picture") {
        QLabel label;
        qt::QtPictureBox box(&label, 1);
        auto s = box.load_picture(file.string());
        return s ? "shown" : number(s);
    }
    auto opened = mci.run("open \"" + file.string() + "\" alias " + alias + " type mpegVideo");
    if (!opened) return number(opened);
    std::string outcome = "played";
    long frames = 0;
    if (alias == "video") {
        (void)mci.run("set video time format frames");
        if (auto p = mci.run("status video position"); !p) outcome = number(p);
        if (auto n = mci.run("status video length")) frames = std::stol(*n);
    }
    if (outcome == "played") {
        told.stops.clear();
        (void)mci.run("play " + alias);
        auto stopped = [&] {
            auto mode = mci.run("status " + alias + " mode");
            return mode && *mode == "stopped";
        };
        const auto limit = Clock::now() + std::chrono::seconds(20);
        while (!stopped() && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!stopped()) {
            outcome = "still playing after 20 s";
        } else if (told.stops.size() != 1) {
            outcome = "stopped, told " + std::to_string(told.stops.size()) + " times";
        } else if (const auto& stop = told.stops.front(); stop.failure) {
            outcome = "failed: error " + std::to_string(stop.failure->number);
        } else if (alias == "video") {
            outcome = "played to frame " + stop.position + " of " + std::to_string(frames);
        }
    }
    (void)mci.run("close " + alias);
    return outcome;
}

TEST(BadMedia, EachCaseComesToItsOutcomeEveryTime) {
    int argc = 1;
    char name[] = "bad_media_tests";
    char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const fs::path d =
        fs::temp_directory_path() / ("strovia-bad-media-" + std::to_string(::getpid()));
    const struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{d};
    fs::create_directories(d);

    const std::string picture = "-f lavfi -i testsrc=size=176x144:rate=25:duration=0.4 ";
    const std::string sound = "-f lavfi -i sine=duration=0.4 ";
    const std::pair<const char*, std::string> sources[] = {
        {"clip.mpg", picture + sound + "-c:v mpeg1video -c:a mp2 -f mpeg"},
        {"narration.mp2", sound + "-c:a mp2"},
        {"audio-only.mpg", sound + "-c:a mp2 -f mpeg"},
        {"wave.mp2", sound + "-f wav"},
        // Streams the device does not render: a second language, DVD-style AC-3.
        {"dual.mpg",
         picture + sound + sound + "-map 0:v -map 1:a -map 2:a -c:v mpeg1video -c:a mp2 -f mpeg"},
        {"dvd.vob", picture + sound + "-c:v mpeg2video -c:a ac3 -f vob"},
        {"red.bmp", "-f lavfi -i color=c=red:size=64x48:duration=0.04 -frames:v 1"},
    };
    for (const auto& [file, args] : sources) {
        const std::string cmd = std::string(FFMPEG_EXE) + " -nostdin -loglevel error -y " + args +
                                " \"" + (d / file).string() + "\"";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }

    const std::string clip = slurp(d / "clip.mpg"), mp2 = slurp(d / "narration.mp2");
    const std::string bmp = slurp(d / "red.bmp");
    std::mt19937 rng(11);
    auto corrupt = [&](std::string s) {
        for (std::size_t i = s.size() / 4; i < s.size(); i += 97) s[i] = static_cast<char>(rng());
        return s;
    };
    std::string huge_bmp = bmp;  // a header claiming 60000 x 60000 pixels
    for (const std::size_t at : {18u, 22u}) huge_bmp.replace(at, 2, "\x60\xEA");
    spit(d / "zero.mpg", "");
    spit(d / "truncated.mpg", clip.substr(0, clip.size() / 2));
    spit(d / "corrupted.mpg", corrupt(clip));
    spit(d / "text.mpg", "This is not a video.\n");
    spit(d / "zero.mp2", "");
    spit(d / "truncated.mp2", mp2.substr(0, mp2.size() / 2));
    spit(d / "corrupted.mp2", corrupt(mp2));
    std::string noise(4096, '\0');
    for (auto& c : noise) c = static_cast<char>(rng());
    spit(d / "random.jpg", noise);
    spit(d / "truncated.bmp", bmp.substr(0, bmp.size() / 3));
    spit(d / "huge.bmp", huge_bmp);
    spit(d / "ten.gif", std::string("GIF89a\x01\x00\x01\x00", 10));
    spit(d / "Árbol" / "vídeo.mpg", clip);
    fs::create_directories(d / "folder.mpg");

    const struct {
        const char* name;
        const char* alias;
        fs::path file;
        const char* expected;  // "error N", "played (to frame F of N)" or "shown"
    } cases[] = {
        {"zero-byte video", "video", d / "zero.mpg", "error 302"},
        // Half the file holds 9 of the 10 pictures; the damaged one shows
        // all 10 (its decoder passes over the damage). Each is told once.
        {"truncated video", "video", d / "truncated.mpg", "played to frame 8 of 9"},
        {"corrupted video", "video", d / "corrupted.mpg", "played to frame 9 of 10"},
        {"text named .mpg", "video", d / "text.mpg", "error 302"},
        {"folder named .mpg", "video", d / "folder.mpg", "error 301"},
        {"stream without video", "video", d / "audio-only.mpg", "error 307"},
        {"two sound streams", "video", d / "dual.mpg", "played to frame 9 of 10"},
        {"MPEG-2 with AC-3", "video", d / "dvd.vob", "played to frame 9 of 10"},
        {"non-ASCII path", "video", d / "Árbol" / "vídeo.mpg", "played to frame 9 of 10"},
        {"zero-byte narration", "sound", d / "zero.mp2", "error 302"},
        {"truncated narration", "sound", d / "truncated.mp2", "played"},
        {"corrupted narration", "sound", d / "corrupted.mp2", "played"},
        {"wave named .mp2", "sound", d / "wave.mp2", "error 302"},
        {"random bytes .jpg", "picture", d / "random.jpg", "error 481"},
        {"truncated BMP", "picture", d / "truncated.bmp", "shown"},
        {"BMP of 60000 x 60000", "picture", d / "huge.bmp", "error 481"},
        {"10-byte GIF", "picture", d / "ten.gif", "error 481"},
        {"folder as picture", "picture", d / "folder.mpg", "error 53"},
    };

    Quiet quiet;
    mci::Options sinks;
    sinks.video_sink = sinks.audio_sink = "fakesink sync=false";
    auto made = mci::Interpreter::create(sinks);
    ASSERT_TRUE(made.ok());
    const auto mci = std::move(made).value();
    mci->set_reporter(&quiet);
    for (const auto& c : cases) {
        for (int i = 0; i < kRuns; ++i)
            EXPECT_EQ(attempt(*mci, quiet, c.alias, c.file), c.expected)
                << c.name << ", run " << i + 1;
        // Whatever happened, the channel is free for the next file.
        EXPECT_FALSE(mci->run("status video mode").ok()) << c.name;
    }
}

}  // namespace
}  // namespace strovia::test
