// The interpreter on real pipelines, with media made here by ffmpeg.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include <unistd.h>

#include <gst/gst.h>

#include "mci/interpreter.hpp"

namespace strovia::mci {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Media {
public:
    static Media& get() {
        static Media media;
        return media;
    }
    fs::path dir;
    fs::path clip;       // 2 s, 352x288, 25 fps MPEG-1 program stream with a counter drawn in
    fs::path narration;  // 1 s MPEG audio layer II
    bool made = false;

    // A file made by ffmpeg from `args` (inputs, codecs, format), once.
    fs::path make(const std::string& name, const std::string& args) {
        const fs::path out = dir / name;
        if (!fs::exists(out)) {
            const std::string cmd =
                "ffmpeg -nostdin -loglevel error -y " + args + " \"" + out.string() + "\"";
            EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        }
        return out;
    }

private:
    Media() {
        dir = fs::temp_directory_path() / ("strovia-mci-" + std::to_string(::getpid()));
        fs::create_directories(dir / "My Course" / "Video");
        clip = make("My Course/Video/Clip.mpg",
                    "-f lavfi -i testsrc=size=352x288:rate=25:duration=2 -f lavfi -i "
                    "sine=frequency=440:duration=2 -c:v mpeg1video -b:v 600k -c:a mp2 -f mpeg");
        narration = make("intro.mp2", "-f lavfi -i sine=frequency=300:duration=1 -c:a mp2");
        made = fs::exists(clip) && fs::exists(narration);
    }
};

// A small program stream: `seconds` of 25 fps video, then `more` inputs
// and options (sound, codecs, format).
std::string video_of(double seconds, const std::string& more) {
    return "-f lavfi -i testsrc=size=176x144:rate=25:duration=" + std::to_string(seconds) + " " +
           more;
}

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
    long frames() {
        for (const char* alias : {"v", "video"}) {
            if (auto r = mci->run(std::string("status ") + alias + " position"))
                return std::stol(*r);
        }
        return -1;
    }
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
    EXPECT_EQ(ask("status video length"), "50");  // the last frame's number plus one
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
    EXPECT_EQ(ask("status video position"), "1960");  // frame 49 of 50, and no further
    EXPECT_EQ(ask("status video length"), "2000");
    ask("play video");  // at its end: stays there, stopped
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ask("status video mode"), "stopped");
    EXPECT_EQ(ask("status video position"), "1960");
    ask("close video");
    EXPECT_EQ(fails_with("status video mode"), err::kUnknownAlias);
}

TEST_F(Devices, NarrationOpensAsSoundAndIsAddressedAsSound) {
    ASSERT_EQ(ask("open " + Media::get().narration.string() + " alias Sound type mpegVideo"), "");
    EXPECT_EQ(ask("status sound mode"), "stopped");
    EXPECT_EQ(ask("status sound length"), "1018");  // 39 frames of 1152 samples at 44.1 kHz
    std::mutex m;
    std::condition_variable cv;
    int told = 0;
    mci->set_change_listener([&] {
        std::lock_guard lock(m);
        ++told;
        cv.notify_one();
    });
    ask("play sound");
    EXPECT_EQ(ask("status sound mode"), "playing");
    // The host is told of the end, and asking then finds it.
    bool stopped = false;
    for (int seen = 0; !stopped;) {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, 1500ms, [&] { return told > seen; })) break;
        seen = told;
        lock.unlock();
        stopped = ask("status sound mode") == "stopped";
    }
    mci->set_change_listener({});
    EXPECT_TRUE(stopped) << "the end came with no notice that shows it";
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

TEST_F(Devices, StreamsTheDeviceDoesNotRenderNeverHoldBackTheOthers) {
    // Dual-language and DVD-style files: a second MP2 stream, AC-3, LPCM.
    Media& m = Media::get();
    const std::string sine = "-f lavfi -i sine=duration=1 ";
    for (const auto& file : {
             m.make("two-mp2.mpg", video_of(1, sine + "-f lavfi -i sine=frequency=880:duration=1 "
                                                      "-map 0:v -map 1:a -map 2:a -c:v "
                                                      "mpeg1video -c:a mp2 -f mpeg")),
             m.make("ac3.mpg", video_of(1, sine + "-c:v mpeg1video -c:a ac3 -f mpeg")),
             m.make("ac3.vob", video_of(1, sine + "-c:v mpeg2video -c:a ac3 -f vob")),
             m.make("lpcm.vob", video_of(1,
                                         "-f lavfi -i sine=duration=1:sample_rate=48000 "
                                         "-c:v mpeg1video -c:a pcm_dvd -f vob")),
         }) {
        ASSERT_EQ(ask("open " + quoted(file) + " alias v"), "") << file;
        ask("set v time format frames");
        ask("play v");
        EXPECT_TRUE(wait_stopped("v", 3000ms)) << file;
        EXPECT_EQ(ask("status v position"), "24") << file;
        ask("close v");
    }
}

TEST_F(Devices, PauseAndPlayWorkWhateverTheVideosOwnSoundDoes) {
    // Sound that ends 1.5 s before the picture: a pause soon after its end
    // used to leave the video frozen for good.
    const auto short_sound =
        Media::get().make("short-sound.mpg", video_of(2,
                                                      "-f lavfi -i sine=duration=0.5 -c:v "
                                                      "mpeg1video -c:a mp2 -f mpeg"));
    ASSERT_EQ(ask("open " + quoted(short_sound) + " alias v"), "");
    ask("set v time format frames");
    ask("play v");
    for (auto at : {900ms, 400ms}) {
        std::this_thread::sleep_for(at);
        ask("pause v");
        const long held = frames();
        std::this_thread::sleep_for(100ms);
        ask("play v");
        std::this_thread::sleep_for(200ms);
        EXPECT_GT(frames(), held + 2) << "frozen after a pause at frame " << held;
    }
    EXPECT_TRUE(wait_stopped("v", 3000ms));
    EXPECT_EQ(frames(), 49);
    ask("close v");

    // Sound that outlasts the picture: the position stops at the last frame.
    const auto long_sound =
        Media::get().make("long-sound.mpg", video_of(0.6,
                                                     "-f lavfi -i sine=duration=1.6 -c:v "
                                                     "mpeg1video -c:a mp2 -f mpeg"));
    ASSERT_EQ(ask("open " + quoted(long_sound) + " alias v"), "");
    ask("set v time format frames");
    EXPECT_EQ(ask("status v length"), "15");
    ask("play v");
    long highest = 0;
    const auto start = std::chrono::steady_clock::now();
    bool paused = false;
    while (ask("status v mode") != "stopped" && std::chrono::steady_clock::now() - start < 4s) {
        highest = std::max(highest, frames());
        if (!paused && std::chrono::steady_clock::now() - start > 1s) {
            paused = true;  // in the sound's tail
            ask("pause v");
            std::this_thread::sleep_for(100ms);
            ask("play v");
        }
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(ask("status v mode"), "stopped");
    EXPECT_EQ(highest, 14);
    EXPECT_EQ(frames(), 14);
}

TEST_F(Devices, LengthIsExactInEitherFormatFromTheOpening) {
    const auto ntsc = Media::get().make(
        "ntsc.mpg",
        "-f lavfi -i testsrc=size=176x144:rate=30000/1001 -frames:v 60 -c:v mpeg1video -f mpeg");
    ASSERT_EQ(ask("open " + quoted(ntsc) + " alias v"), "");
    EXPECT_EQ(ask("status v length"), "2002");  // 60 frames of 1001/30000 s
    ask("set v time format frames");
    EXPECT_EQ(ask("status v length"), "60");
}

TEST_F(Devices, ANarrationIsMpegAudioOfAnyLayerWithOrWithoutId3Tags) {
    Media& m = Media::get();
    auto tagged = [&](const fs::path& from, const std::string& name) {
        // An ID3v2.3 tag of ten bytes of padding, then the audio as it was.
        std::ifstream in(from, std::ios::binary);
        const std::string audio{std::istreambuf_iterator<char>(in), {}};
        const fs::path out = m.dir / name;
        std::ofstream(out, std::ios::binary)
            << std::string("ID3\x03\x00\x00\x00\x00\x00\x0A", 10) << std::string(10, '\0') << audio;
        return out;
    };
    // Layer I, which ffmpeg does not write: silent 32 kbit/s mono frames.
    const fs::path layer1 = m.dir / "layer1.mp2";
    {
        std::ofstream out(layer1, std::ios::binary);
        for (int i = 0; i < 100; ++i)
            out << std::string("\xFF\xFF\x10\xC0", 4) << std::string(28, '\0');
    }
    const auto mp3 = m.make("lame.mp3", "-f lavfi -i sine=duration=0.5 -c:a libmp3lame");
    const auto bare_mp3 = m.make("bare.mp3",
                                 "-f lavfi -i sine=duration=0.5 -c:a libmp3lame -id3v2_version 0 "
                                 "-write_xing 0");
    const auto wave = m.make("tone.wav", "-f lavfi -i sine=duration=0.5");
    const struct {
        fs::path file;
        std::int32_t error;
        const char* length;
    } cases[] = {
        {tagged(m.narration, "tagged.mp2"), 0, "1018"},
        {layer1, 0, "870"},  // 100 frames of 384 samples
        {mp3, 0, "548"},     // its information frame is not counted
        {bare_mp3, 0, "548"},
        {tagged(wave, "tagged-wave.mp2"), err::kUnsupportedFormat, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fails_with("open " + quoted(c.file) + " alias s"), c.error) << c.file;
        if (c.error != 0) continue;
        EXPECT_EQ(ask("status s length"), c.length) << c.file;
        ask("play s");
        EXPECT_TRUE(wait_stopped("s", 3000ms)) << c.file;
        ask("close s");
    }
}

TEST(Sound, AMachineWithoutSoundOutputIsToldOnceAndNothingIsPrinted) {
    // ALSA and OpenAL print errors of their own when they are tried on a
    // machine without a sound card; the interpreter must not try them there.
    std::fflush(stderr);
    const int saved = ::dup(2);
    std::FILE* caught = std::tmpfile();
    ::dup2(::fileno(caught), 2);
    auto made = Interpreter::create({});
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fseek(caught, 0, SEEK_END);
    EXPECT_EQ(std::ftell(caught), 0L) << "the library printed to standard error";
    std::fclose(caught);
    ASSERT_TRUE(made.ok());
    const std::string notice = (*made)->audio_notice();
    std::printf("audio notice: \"%s\"\n", notice.c_str());
    EXPECT_TRUE(notice.empty() ||
                notice == "No sound output was found on this machine: sound goes nowhere.");
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
    std::atomic<int> changes{0};
    mci->set_change_listener([&] { ++changes; });
    mci->register_frame_target(4242, &target);
    ASSERT_EQ(ask("open " + quoted(Media::get().clip) +
                  "  alias video type mpegVideo  style child parent  4242"),
              "");
    ask("set video time format frames");
    ask("play video");
    std::this_thread::sleep_for(300ms);
    ask("pause video");
    std::this_thread::sleep_for(100ms);
    EXPECT_GE(target.count.load(), 4);
    EXPECT_EQ(target.width.load(), 352);
    EXPECT_EQ(target.height.load(), 288);
    EXPECT_GE(target.stride.load(), 352 * 4);
    EXPECT_TRUE(target.first_pixel_bytes.load());
    // The position is the frame last shown, and every frame told the host.
    EXPECT_EQ(frames(), target.count.load() - 1);
    EXPECT_GE(changes.load(), target.count.load());

    mci->unregister_frame_target(4242);
    const int seen = target.count.load();
    ask("play video");
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(target.count.load(), seen);  // nothing after unregistering
    EXPECT_EQ(ask("status video mode"), "playing");
    mci->set_change_listener({});
}

}  // namespace
}  // namespace strovia::mci
