// The interpreter on real pipelines, with media made here by ffmpeg.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gst/gst.h>

#include "mci/interpreter.hpp"

namespace strovia::mci {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Media {
public:
    static const Media& get() {
        static const Media media;
        return media;
    }
    fs::path dir;
    fs::path clip;       // 2 s, 352x288, 25 fps MPEG-1 program stream with a counter drawn in
    fs::path narration;  // 1 s MPEG audio layer II
    bool made = false;

private:
    Media() {
        dir = fs::temp_directory_path() / ("strovia-mci-" + std::to_string(::getpid()));
        fs::create_directories(dir / "My Course" / "Video");
        clip = dir / "My Course" / "Video" / "Clip.mpg";
        narration = dir / "intro.mp2";
        const std::string q = "\"";
        const std::string video =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=352x288:rate=25:duration=2"
            " -f lavfi -i sine=frequency=440:duration=2 -c:v mpeg1video -b:v 600k -c:a mp2"
            " -f mpeg " +
            q + clip.string() + q;
        const std::string audio =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=300:duration=1 -c:a "
            "mp2 " +
            q + narration.string() + q;
        made = std::system(video.c_str()) == 0 && std::system(audio.c_str()) == 0;
    }
};

std::unique_ptr<Interpreter> make() {
    Options headless;
    headless.audio_sink = "fakeaudiosink sync=true";
    headless.video_sink = "fakesink sync=true";
    auto made = Interpreter::create(headless);
    EXPECT_TRUE(made.ok());
    return made.ok() ? std::move(made).value() : nullptr;
}

std::string quoted(const fs::path& p) { return "\"" + p.string() + "\""; }

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Media::get().made) << "ffmpeg could not make the test media";
        mci = make();
        ASSERT_NE(mci, nullptr);
    }
    std::string ask(const std::string& command) {
        auto r = mci->run(command);
        EXPECT_TRUE(r.ok()) << command << ": " << (r.ok() ? "" : r.error().text);
        return r.ok() ? *r : std::string("<error>");
    }
    std::int32_t fails_with(const std::string& command) {
        auto r = mci->run(command);
        return r.ok() ? 0 : r.error().number;
    }
    long frames() { return std::stol(ask("status v position")); }
    bool wait_stopped(const std::string& alias, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (ask("status " + alias + " mode") == "stopped") return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::unique_ptr<Interpreter> mci;
};

TEST_F(Devices, VideoPlaysPausesResumesAndStopsAtItsEnd) {
    ASSERT_EQ(ask("open " + quoted(Media::get().clip) + "  alias video type mpegVideo"), "");
    EXPECT_EQ(ask("status VIDEO mode"), "stopped");  // opened, not yet played; alias ignores case
    ASSERT_EQ(ask("set video time format frames"), "");
    EXPECT_EQ(ask("status video time format"), "frames");
    EXPECT_NEAR(std::stol(ask("status video length")), 50, 2);  // the demuxer estimates it
    EXPECT_EQ(ask("status video position"), "0");

    ask("play video");
    EXPECT_EQ(ask("status video mode"), "playing");
    const auto t0 = std::chrono::steady_clock::now();
    const long f0 = std::stol(ask("status video Position"));
    std::this_thread::sleep_for(400ms);
    const long f1 = std::stol(ask("status video Position"));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_NEAR((f1 - f0) / seconds, 25.0, 6.0) << f0 << " -> " << f1;
    EXPECT_EQ(ask("status video mode"), "playing");

    ask("pause video");
    EXPECT_EQ(ask("status video mode"), "paused");
    const long held = std::stol(ask("status video position"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(std::stol(ask("status video position")), held);
    EXPECT_GE(held, f1);
    EXPECT_LE(held, f1 + 2);

    ask("play video");
    std::this_thread::sleep_for(100ms);
    const long resumed = std::stol(ask("status video position"));
    EXPECT_GT(resumed, held);      // went on from where it stood,
    EXPECT_LT(resumed, held + 6);  // not from the start and without a jump

    ask("set video time format ms");
    EXPECT_EQ(ask("status video time format"), "milliseconds");
    EXPECT_NEAR(std::stol(ask("status video position")), resumed * 40, 200);

    EXPECT_TRUE(wait_stopped("video", 3000ms));
    EXPECT_GE(std::stol(ask("status video position")), 1900);
    ask("close video");
    EXPECT_EQ(fails_with("status video mode"), err::kUnknownAlias);
}

TEST_F(Devices, NarrationOpensAsSoundAndIsAddressedAsSound) {
    ASSERT_EQ(ask("open " + Media::get().narration.string() + " alias Sound type mpegVideo"), "");
    EXPECT_EQ(ask("status sound mode"), "stopped");
    ask("play sound");
    EXPECT_EQ(ask("status sound mode"), "playing");
    EXPECT_TRUE(wait_stopped("sound", 2500ms));
    ask("stop sound");
    EXPECT_EQ(ask("status sound mode"), "stopped");
    EXPECT_EQ(ask("close all"), "");
    EXPECT_EQ(fails_with("play sound"), err::kUnknownAlias);
}

TEST_F(Devices, StopEndsPlayingAndCloseAllClosesEveryDevice) {
    ask("open " + quoted(Media::get().clip) + " alias v");
    ask("open " + Media::get().narration.string() + " alias Sound");
    ask("play v");
    ask("play sound");
    ask("stop v");
    EXPECT_EQ(ask("status v mode"), "stopped");
    EXPECT_EQ(ask("status sound mode"), "playing");
    ask("close all");
    EXPECT_EQ(fails_with("status v mode"), err::kUnknownAlias);
    EXPECT_EQ(fails_with("status sound mode"), err::kUnknownAlias);
    EXPECT_EQ(ask("open " + quoted(Media::get().clip) + " alias v"),
              "");  // the alias is free again
}

TEST_F(Devices, ClosingReleasesThePipelineWhole) {
    // Every message the bus drops must be freed: each one holds its
    // element, so one kept back keeps the whole pipeline and its file open.
    for (const auto& file : {quoted(Media::get().clip), Media::get().narration.string()}) {
        ask("open " + file + " alias v");
        ask("play v");
        std::this_thread::sleep_for(300ms);
        ask("pause v");
        GstElement* pipeline = mci->pipeline_of("v");
        ASSERT_NE(pipeline, nullptr);
        gst_object_ref(pipeline);
        ask("close v");
        EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(pipeline), 1) << file;
        gst_object_unref(pipeline);
    }
}

TEST_F(Devices, FormedPathsAreMappedWithoutRegardToCase) {
    // Backslashes become separators; "my course\video\CLIP.MPG" finds "My Course/Video/Clip.mpg".
    const std::string formed = Media::get().dir.string() + "\\my course\\video\\CLIP.MPG";
    EXPECT_EQ(ask("open \"" + formed + "\" alias v type mpegVideo"), "");
}

TEST_F(Devices, EveryFailureLeavesNothingOpenAndTheInterpreterUsable) {
    const fs::path dir = Media::get().dir;
    const fs::path zero = dir / "zero.mpg";
    std::ofstream(zero).close();
    const fs::path gif = dir / "picture.mpg";
    std::ofstream(gif, std::ios::binary) << "GIF89a\x01\x00\x01\x00";
    const fs::path bmp = dir / "damaged.mp2";
    std::ofstream(bmp, std::ios::binary) << "BM\x36\x00\x00\x00garbage";
    const fs::path truncated = dir / "truncated.mpg";
    {
        std::ifstream in(Media::get().clip, std::ios::binary);
        std::string head(100, '\0');
        in.read(head.data(), 100);
        std::ofstream(truncated, std::ios::binary) << head;
    }

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fails_with("open " + (dir / "missing.mpg").string() + " alias v"),
              err::kFileNotFound);
    EXPECT_EQ(fails_with("open " + zero.string() + " alias v"), err::kUnsupportedFormat);
    EXPECT_EQ(fails_with("open " + gif.string() + " alias v"), err::kUnsupportedFormat);
    EXPECT_EQ(fails_with("open " + bmp.string() + " alias v"), err::kUnsupportedFormat);
    EXPECT_EQ(fails_with("open " + truncated.string() + " alias v"), err::kCannotDecode);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "a bad file held the open up";
    EXPECT_EQ(fails_with("play v"), err::kUnknownAlias);

    EXPECT_EQ(fails_with("rewind v"), err::kUnknownCommand);
    EXPECT_EQ(fails_with("open \"unclosed alias v"), err::kUnclosedQuote);
    ASSERT_EQ(ask("open " + quoted(Media::get().clip) + " alias v"), "");
    EXPECT_EQ(fails_with("open " + Media::get().narration.string() + " alias V"), err::kAliasInUse);
    EXPECT_EQ(fails_with("open " + Media::get().narration.string() + " alias all"),
              err::kBadParameter);
    EXPECT_EQ(fails_with("status w mode"), err::kUnknownAlias);
    // The device that was open before the failures still answers.
    EXPECT_EQ(ask("status v mode"), "stopped");
    EXPECT_EQ(ask("status v ready"), "true");
}

class Recorder : public Reporter {
public:
    void report(std::string_view command, const Error& error) override {
        commands.emplace_back(command);
        numbers.push_back(error.number);
    }
    std::vector<std::string> commands;
    std::vector<std::int32_t> numbers;
};

TEST_F(Devices, TheSeamReportsFailuresAndWritesRepliesIntoTheBuffer) {
    Recorder recorder;
    mci->set_reporter(&recorder);
    EXPECT_FALSE(mci->execute("play video"));
    EXPECT_TRUE(mci->execute("open " + Media::get().narration.string() + " alias Sound"));
    ASSERT_EQ(recorder.commands, std::vector<std::string>{"play video"});
    EXPECT_EQ(recorder.numbers, std::vector<std::int32_t>{err::kUnknownAlias});

    std::string buffer(50, ' ');
    buffer.push_back('\0');
    EXPECT_EQ(mci->send_string("status sound mode", buffer.data(), 49, 0), 0);
    EXPECT_EQ(buffer.substr(0, 8), std::string("stopped\0", 8));
    EXPECT_EQ(buffer.substr(8, 42), std::string(42, ' '));  // the rest stays as it was

    std::string small(8, 'x');
    EXPECT_EQ(mci->send_string("status sound mode", small.data(), 3, 0), err::kReplyTooLong);
    EXPECT_EQ(small, std::string(8, 'x'));
    EXPECT_EQ(mci->send_string("status video mode", small.data(), 8, 0), err::kUnknownAlias);
    EXPECT_EQ(small, std::string(8, 'x'));
    EXPECT_EQ(recorder.commands.size(), 1U);  // queries fail silently
}

class CountingTarget : public FrameTarget {
public:
    void present(const Frame& f) override {
        width = f.width;
        height = f.height;
        stride = f.stride;
        first_pixel_bytes = f.data != nullptr;
        ++count;
    }
    std::atomic<int> count{0};
    std::atomic<int> width{0}, height{0}, stride{0};
    std::atomic<bool> first_pixel_bytes{false};
};

TEST_F(Devices, VideoOfAParentWithARegisteredTargetReachesIt) {
    CountingTarget target;
    mci->register_frame_target(4242, &target);
    ASSERT_EQ(ask("open " + quoted(Media::get().clip) +
                  "  alias video type mpegVideo  style child parent  4242"),
              "");
    ask("play video");
    std::this_thread::sleep_for(300ms);
    ask("pause video");
    EXPECT_GE(target.count.load(), 4);
    EXPECT_EQ(target.width.load(), 352);
    EXPECT_EQ(target.height.load(), 288);
    EXPECT_GE(target.stride.load(), 352 * 4);
    EXPECT_TRUE(target.first_pixel_bytes.load());

    mci->unregister_frame_target(4242);
    const int seen = target.count.load();
    ask("play video");
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(target.count.load(), seen);  // nothing after unregistering
    EXPECT_EQ(ask("status video mode"), "playing");
}

}  // namespace
}  // namespace strovia::mci
