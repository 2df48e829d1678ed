// The interpreter on real pipelines, with media made here by ffmpeg.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gst/gst.h>

#include "mci/interpreter.hpp"

namespace strovia::mci {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The run's media, removed when the run ends.
struct MediaDir {
    fs::path path = fs::temp_directory_path() / ("strovia-mci-" + std::to_string(::getpid()));
    MediaDir() { fs::create_directories(path); }
    ~MediaDir() { fs::remove_all(path); }
};

const fs::path& dir() {
    static const MediaDir d;
    return d.path;
}

// A file made by ffmpeg from `args` (inputs, codecs, format), once a run.
fs::path made(const std::string& name, const std::string& args) {
    const fs::path out = dir() / name;
    if (!fs::exists(out)) {
        fs::create_directories(out.parent_path());
        const std::string cmd =
            "ffmpeg -nostdin -loglevel error -y " + args + " \"" + out.string() + "\"";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    return out;
}

// `seconds` of 25 fps video, then `more` inputs and options (sound, codecs, format).
std::string video_of(double seconds, const std::string& more) {
    return "-f lavfi -i testsrc=size=176x144:rate=25:duration=" + std::to_string(seconds) + " " +
           more;
}

// 2 s, 352x288, 25 fps MPEG-1 program stream with sound, where a course keeps its videos.
fs::path clip() {
    return made("My Course/Video/Clip.mpg",
                "-f lavfi -i testsrc=size=352x288:rate=25:duration=2 -f lavfi -i "
                "sine=frequency=440:duration=2 -c:v mpeg1video -b:v 600k -c:a mp2 -f mpeg");
}

// 1 s of MPEG audio layer II.
fs::path narration() {
    return made("intro.mp2", "-f lavfi -i sine=frequency=300:duration=1 -c:a mp2");
}

std::string quoted(const fs::path& p) { return "\"" + p.string() + "\""; }

// Every stop the interpreter tells, in order.
struct Told : Reporter {
    void report(std::string_view, const Error&) override {}
    void stopped(std::string_view alias, const Stop& stop) override {
        stops.emplace_back(std::string(alias), stop);
    }
    std::vector<std::pair<std::string, Stop>> stops;
};

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        Options headless;
        headless.audio_sink = "fakeaudiosink sync=true";
        headless.video_sink = "fakesink sync=true";
        auto created = Interpreter::create(headless);
        ASSERT_TRUE(created.ok()) << created.error().text;
        mci = std::move(created).value();
        mci->set_reporter(&reported);
        mci->set_change_listener([this] {
            std::lock_guard lock(m);
            ++told;
            cv.notify_all();
        });
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
    long position(const std::string& alias = "v") {
        auto r = mci->run("status " + alias + " position");
        return r.ok() ? std::stol(*r) : -1;
    }
    void play(const std::string& alias) {
        seen = told;
        ask("play " + alias);
    }
    // Waits for `alias` to stop, asking only when the host has been told
    // of a change since play(): an end that comes without notice is missed.
    bool wait_stopped(const std::string& alias) {
        std::unique_lock lock(m);
        while (cv.wait_for(lock, 1500ms, [&] { return told > seen; })) {
            seen = told;
            lock.unlock();
            const bool stopped = ask("status " + alias + " mode") == "stopped";
            lock.lock();
            if (stopped) return true;
        }
        return false;
    }
    // Closing must release the pipeline whole: every message the bus drops
    // holds its element, so one not freed keeps the pipeline and its file.
    void close(const std::string& alias) {
        GstElement* pipeline = mci->pipeline_of(alias);
        ASSERT_NE(pipeline, nullptr) << alias;
        gst_object_ref(pipeline);
        ask("close " + alias);
        EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(pipeline), 1) << alias;
        gst_object_unref(pipeline);
        EXPECT_EQ(fails_with("status " + alias + " mode"), err::kUnknownAlias);
    }

    std::mutex m;
    std::condition_variable cv;
    std::atomic<int> told{0};
    int seen = 0;
    Told reported;  // before mci: the interpreter tells it until it goes
    std::unique_ptr<Interpreter> mci;
};

struct CountingTarget : FrameTarget {
    void present(const Frame& f) override {
        width = f.width;
        height = f.height;
        ++count;
    }
    std::atomic<int> count{0}, width{0}, height{0};
};

TEST_F(Devices, AVideoPlaysHoldsResumesAndEndsBesideANarration) {
    CountingTarget target;
    mci->register_frame_target(4242, &target);
    // As a course forms the path: backslashes, and not the case on disk.
    clip();
    const std::string formed = dir().string() + "\\my course\\video\\CLIP.MPG";
    ASSERT_EQ(ask("open \"" + formed + "\" alias video type mpegVideo style child parent 4242"),
              "");
    EXPECT_EQ(fails_with("open " + quoted(narration()) + " alias VIDEO"), err::kAliasInUse);
    EXPECT_EQ(fails_with("open " + quoted(narration()) + " alias all"), err::kBadParameter);
    EXPECT_EQ(ask("status Video mode"), "stopped");  // opened, not yet played
    ask("set video time format frames");
    EXPECT_EQ(ask("status video time format"), "frames");
    EXPECT_EQ(ask("status video length"), "50");  // the last frame's number plus one
    EXPECT_EQ(ask("status video position"), "0");

    play("video");
    EXPECT_EQ(ask("status video mode"), "playing");
    const auto t0 = std::chrono::steady_clock::now();
    const long f0 = position("video");
    std::this_thread::sleep_for(400ms);
    const long f1 = position("video");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_NEAR((f1 - f0) / seconds, 25.0, 6.0) << f0 << " -> " << f1;

    ask("pause video");
    EXPECT_EQ(ask("status video mode"), "paused");
    const long held = position("video");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(position("video"), held);
    EXPECT_GE(held, f1);
    EXPECT_LE(held, f1 + 2);
    // Every picture reached the window's target and told the host; the
    // position is the picture last shown.
    EXPECT_EQ(held, target.count - 1);
    EXPECT_GE(told, target.count);
    EXPECT_EQ(target.width, 352);
    EXPECT_EQ(target.height, 288);

    mci->unregister_frame_target(4242);
    const int shown = target.count;
    ask("play video");
    std::this_thread::sleep_for(100ms);
    const long resumed = position("video");
    EXPECT_GT(resumed, held);        // went on from where it stood,
    EXPECT_LT(resumed, held + 6);    // not from the start and without a jump
    EXPECT_EQ(target.count, shown);  // nothing after unregistering
    ask("set video time format ms");
    EXPECT_NEAR(position("video"), resumed * 40, 200);

    // A reply goes into the caller's buffer, and nothing when it does not fit.
    std::string buffer(50, ' ');
    EXPECT_EQ(mci->send_string("STATUS video TIME FORMAT", buffer.data(), 49, 0), 0);
    EXPECT_EQ(buffer, std::string("milliseconds\0", 13) + std::string(37, ' '));
    std::string small(8, 'x');
    EXPECT_EQ(mci->send_string("status video mode", small.data(), 7, 0), err::kReplyTooLong);
    EXPECT_EQ(small, std::string(8, 'x'));

    EXPECT_TRUE(wait_stopped("video"));
    // Played out: told once, with where it stopped; from then on it has no
    // position to go on from.
    ASSERT_EQ(reported.stops.size(), 1u);
    EXPECT_EQ(reported.stops[0].first, "video");
    EXPECT_EQ(reported.stops[0].second.position, "1960");  // frame 49 of 50, and no further
    EXPECT_FALSE(reported.stops[0].second.failure);
    EXPECT_EQ(fails_with("status video position"), err::kMediaStopped);
    EXPECT_EQ(ask("status video length"), "2000");
    play("video");  // at its end: stays there, stopped
    ask("pause video");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ask("status video mode"), "stopped");
    EXPECT_EQ(reported.stops.size(), 1u);

    // Other outputs for what opens next; a sink that cannot be built changes nothing.
    const auto bad = mci->set_outputs({"", "nosuchsink", ""});
    EXPECT_EQ(bad ? 0 : bad.error().number, err::kMissingElement);
    const fs::path log = dir() / "sinks.log";
    ASSERT_TRUE(mci->set_outputs({"", "fakesink sync=true", log.string()}));
    ASSERT_EQ(ask("open " + narration().string() + " alias Sound type mpegVideo"), "");
    play("sound");
    EXPECT_EQ(ask("status SOUND mode"), "playing");
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(mci->execute("stop sound"));  // the seam logs what the control sends
    std::stringstream logged;
    logged << std::ifstream(log).rdbuf();
    EXPECT_NE(logged.str().find(" stop sound\n"), std::string::npos) << logged.str();
    EXPECT_NE(logged.str().find("\na "), std::string::npos) << "no sound buffer logged";
    EXPECT_EQ(ask("status sound mode"), "stopped");
    ask("close all");
    EXPECT_EQ(fails_with("status video mode"), err::kUnknownAlias);
    EXPECT_EQ(fails_with("status sound mode"), err::kUnknownAlias);
}

// Each picture shows its own frame number in eight black or white columns
// (lowest bit on the left), so a test reads which frame it was given.
fs::path numbered_clip() {
    return made("numbered.mpg",
                "-f lavfi -i color=black:size=176x144:rate=25:duration=8 -f lavfi -i "
                "sine=frequency=440:duration=8 -vf "
                "\"geq=lum='if(mod(floor(N/pow(2,floor(X/22))),2),235,16)':cb=128:cr=128\" "
                "-c:v mpeg1video -q:v 2 -g 15 -bf 2 -c:a mp2 -f mpeg");
}

struct NumberTarget : FrameTarget {
    void present(const Frame& f) override {
        int n = 0;
        const std::uint8_t* row = f.data + static_cast<std::ptrdiff_t>(f.height / 2) * f.stride;
        for (int bit = 0; bit < 8; ++bit) {
            if (row[(bit * 22 + 11) * f.width / 176 * 4] > 128) n |= 1 << bit;
        }
        std::lock_guard lock(m);
        last = n;
        ++count;
    }
    std::pair<int, int> seen() {
        std::lock_guard lock(m);
        return {count, last};
    }
    std::mutex m;
    int count = 0;
    int last = -1;
};

// 16-bit mono samples of a WAV file, from its data chunk.
std::vector<std::int16_t> wav_samples(const fs::path& file, int* rate) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::int16_t> out;
    for (std::size_t i = 12; i + 8 <= bytes.size();) {
        std::uint32_t size = 0;
        std::memcpy(&size, &bytes[i + 4], 4);
        if (std::string(&bytes[i], 4) == "fmt ") std::memcpy(rate, &bytes[i + 12], 4);
        if (std::string(&bytes[i], 4) == "data") {
            size = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(bytes.size() - i - 8));
            out.resize(size / 2);
            std::memcpy(out.data(), &bytes[i + 8], out.size() * 2);
            break;
        }
        i += 8 + size;
    }
    return out;
}

TEST_F(Devices, SeeksLandOnTheFrameAskedForAndRatesKeepFramesAndPitch) {
    NumberTarget target;
    mci->register_frame_target(77, &target);
    ASSERT_EQ(ask("open " + quoted(numbered_clip()) + " alias v type mpegVideo parent 77"), "");
    ask("set v time format frames");
    EXPECT_EQ(fails_with("seek v to -3"), err::kBadParameter);
    EXPECT_EQ(fails_with("seek v 3"), err::kMissingParameter);
    EXPECT_FALSE(mci->set_rate(1.6));
    EXPECT_FALSE(mci->set_rate(0.4));
    EXPECT_EQ(mci->rate(), 1.0);
    // Far apart and close together, forwards and back, at each rate: the
    // picture shown and the position are the frame asked for, not one later.
    for (const double rate : {1.0, 0.5, 1.5}) {
        ASSERT_TRUE(mci->set_rate(rate));
        for (const int frame : {120, 37, 38, 0, 163, 75, 199}) {
            const int before = target.seen().first;
            ASSERT_EQ(ask("seek v to " + std::to_string(frame)), "") << frame;
            for (int i = 0; i < 100 && target.seen().first == before; ++i)
                std::this_thread::sleep_for(10ms);
            EXPECT_EQ(target.seen().second, frame) << "rate " << rate;
            EXPECT_EQ(position("v"), frame) << "rate " << rate;
        }
        // It plays on from there at the rate: 25 frames a second times it.
        ask("seek v to 20");
        play("v");
        std::this_thread::sleep_for(800ms);
        ask("pause v");
        EXPECT_NEAR(position("v") - 20, 20 * rate, 6) << "rate " << rate;
        EXPECT_EQ(target.seen().second, position("v"));
    }
    // A rate changed while it plays goes on from the frame shown.
    ASSERT_TRUE(mci->set_rate(1.0));
    ask("seek v to 10");
    play("v");
    std::this_thread::sleep_for(400ms);
    ASSERT_TRUE(mci->set_rate(0.5));
    const long at_change = position("v");
    std::this_thread::sleep_for(800ms);
    EXPECT_NEAR(position("v") - at_change, 10, 4);
    ask("close v");
    mci->unregister_frame_target(77);

    // A 440 Hz narration of 2 s at each rate: as long as the rate says, at
    // its own pitch (counted from the samples the sink was given).
    const fs::path tone = made("tone.mp2", "-f lavfi -i sine=frequency=440:duration=2 -c:a mp2");
    for (const double rate : {0.5, 1.0, 1.5}) {
        const fs::path wav = dir() / ("tone-" + std::to_string(rate) + ".wav");
        ASSERT_TRUE(mci->set_outputs({"",
                                      "audioconvert ! audio/x-raw,format=S16LE,channels=1 ! "
                                      "wavenc ! filesink location=\"" +
                                          wav.string() + "\"",
                                      ""}));
        ASSERT_TRUE(mci->set_rate(rate));
        ASSERT_EQ(ask("open " + quoted(tone) + " alias s"), "");
        play("s");
        EXPECT_TRUE(wait_stopped("s"));
        ask("close s");
        int sample_rate = 0;
        const auto samples = wav_samples(wav, &sample_rate);
        ASSERT_GT(sample_rate, 0);
        const double seconds = static_cast<double>(samples.size()) / sample_rate;
        EXPECT_NEAR(seconds, 2.0 / rate, 0.15) << "rate " << rate;
        // Rising zero crossings over the middle half, away from the edges.
        int crossings = 0;
        const std::size_t from = samples.size() / 4, to = samples.size() * 3 / 4;
        for (std::size_t i = from + 1; i < to; ++i) {
            if (samples[i - 1] < 0 && samples[i] >= 0) ++crossings;
        }
        const double pitch = crossings / (static_cast<double>(to - from) / sample_rate);
        EXPECT_NEAR(pitch, 440.0, 8.0) << "rate " << rate;
        RecordProperty("pitch_at_" + std::to_string(rate), std::to_string(pitch));
        std::printf("rate %.2f: %.3f s, pitch %.1f Hz\n", rate, seconds, pitch);
    }
}

TEST_F(Devices, EachFileOpensWithItsExactLengthAndPlaysToItsEndOrFailsLeavingNothingOpen) {
    // An ID3v2.3 tag of ten bytes of padding, then the file as it was.
    auto tagged = [](const fs::path& from, const std::string& name) {
        std::ofstream(dir() / name, std::ios::binary)
            << std::string("ID3\x03\x00\x00\x00\x00\x00\x0A", 10) << std::string(10, '\0')
            << std::ifstream(from, std::ios::binary).rdbuf();
        return dir() / name;
    };
    // Layer I, which ffmpeg does not write: silent 32 kbit/s mono frames.
    const fs::path layer1 = dir() / "layer1.mp2";
    {
        std::ofstream out(layer1, std::ios::binary);
        for (int i = 0; i < 100; ++i)
            out << std::string("\xFF\xFF\x10\xC0", 4) << std::string(28, '\0');
    }
    const fs::path truncated = dir() / "truncated.mpg";
    fs::copy_file(clip(), truncated);
    fs::resize_file(truncated, 100);

    auto error = [](std::int32_t number) { return "error " + std::to_string(number); };
    const std::string sine = "-f lavfi -i sine=duration=1 ";
    const std::string mp2 = " -c:v mpeg1video -c:a mp2 -f mpeg";
    const std::pair<fs::path, std::string> cases[] = {
        // Streams the device does not render (AC-3, DVD LPCM) must never
        // hold back the picture.
        {dir() / "missing.mpg", error(err::kFileNotFound)},
        {made("ac3.mpg", video_of(1, sine + "-c:v mpeg1video -c:a ac3 -f mpeg")),
         "1000 ms = 25 frames, played to 24"},
        {made("lpcm.vob", video_of(1,
                                   "-f lavfi -i sine=duration=1:sample_rate=48000 -c:v "
                                   "mpeg1video -c:a pcm_dvd -f vob")),
         "1000 ms = 25 frames, played to 24"},
        {truncated, error(err::kCannotDecode)},
        // The video's own sound ends long before the picture, or outlasts it.
        {made("short-sound.mpg", video_of(4, "-f lavfi -i sine=duration=0.5" + mp2)),
         "4000 ms = 100 frames, played to 99"},
        {made("long-sound.mpg", video_of(0.6, "-f lavfi -i sine=duration=1.6" + mp2)),
         "600 ms = 15 frames, played to 14"},
        {made("ntsc.mpg",
              "-f lavfi -i testsrc=size=176x144:rate=30000/1001 -frames:v 30 -c:v "
              "mpeg1video -f mpeg"),
         "1001 ms = 30 frames, played to 29"},
        // A narration is MPEG audio of any layer, with or without ID3 tags.
        {tagged(narration(), "tagged.mp2"), "1018 ms, played"},  // 39 frames of 1152 samples
        {layer1, "870 ms, played"},                              // 100 frames of 384 samples
        {made("lame.mp3", "-f lavfi -i sine=duration=0.5 -c:a libmp3lame"),
         "548 ms, played"},  // its information frame is not counted
        {made("bare.mp3",
              "-f lavfi -i sine=duration=0.5 -c:a libmp3lame -id3v2_version 0 -write_xing 0"),
         "548 ms, played"},
        {tagged(made("tone.wav", "-f lavfi -i sine=duration=0.5"), "tagged-wave.mp2"),
         error(err::kUnsupportedFormat)},
    };
    for (const auto& [file, expected] : cases) {
        const auto start = std::chrono::steady_clock::now();
        auto opened = mci->run("open " + quoted(file) + " alias v");
        if (!opened) {
            EXPECT_EQ(error(opened.error().number), expected) << file;
            EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << file << " held the open up";
            EXPECT_EQ(fails_with("status v mode"), err::kUnknownAlias) << file;
            continue;
        }
        std::string outcome = ask("status v length") + " ms";
        ask("set v time format frames");
        const auto video = mci->run("status v length");  // sound alone has no frames
        if (video) outcome += " = " + *video + " frames";
        const std::size_t stops = reported.stops.size();
        play("v");
        // Past the end of some videos' sound, in the tail of another's: a
        // pause there used to leave the video frozen for good.
        std::this_thread::sleep_for(900ms);
        ask("pause v");
        std::this_thread::sleep_for(100ms);
        ask("play v");
        outcome += wait_stopped("v") ? ", played" : ", never ended";
        // Told once, with the frame it stopped at.
        EXPECT_EQ(reported.stops.size(), stops + 1) << file;
        if (video && reported.stops.size() > stops) {
            outcome += " to " + reported.stops.back().second.position;
        }
        EXPECT_EQ(outcome, expected) << file;
        close("v");
    }
}

// A video that fails in an element (GStreamer's decoders pass over most
// damage, so the failure is posted as an element posts one), and what a host
// makes of a stop while a programme waits for frame 60. Cut and damaged
// files are played end to end, and thirty times on the real devices.
TEST_F(Devices, AVideoThatCannotGoOnIsToldOnceWithTheFrameItStoppedAt) {
    auto fail = [&](const char* alias, const char* text) {
        GstElement* pipeline = mci->pipeline_of(alias);
        GError* e = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, text);
        gst_element_post_message(
            pipeline, gst_message_new_error(GST_OBJECT(pipeline), e, "posted by the test"));
        g_error_free(e);
    };
    const fs::path whole = made("three.mpg", video_of(3, "-c:v mpeg1video -b:v 400k -f mpeg"));
    ASSERT_EQ(ask("open " + quoted(whole) + " alias video"), "");
    ask("set video time format frames");
    play("video");
    std::this_thread::sleep_for(600ms);
    fail("video", "the picture broke");
    EXPECT_TRUE(wait_stopped("video"));
    EXPECT_EQ(fails_with("status video position"), err::kMediaStopped);
    EXPECT_TRUE(mci->execute("play video"));  // stays where it stopped
    EXPECT_TRUE(mci->execute("pause video"));
    ASSERT_EQ(reported.stops.size(), 1u);
    const auto [alias, stop] = reported.stops[0];
    EXPECT_EQ(alias, "video");
    EXPECT_GT(std::stol(stop.position), 5);
    EXPECT_LT(std::stol(stop.position), 60);
    const auto said = stop_failure(alias, stop, 60);
    ASSERT_TRUE(said);
    EXPECT_EQ(said->number, err::kPlaybackFailed);
    EXPECT_EQ(said->text, "the video stopped at frame " + stop.position +
                              " before frame 60: the picture broke");
    EXPECT_TRUE(stop_failure(alias, stop, -1)) << "a failure is news past every boundary";
    ask("close video");
    EXPECT_EQ(reported.stops.size(), 1u);
    // A video that ended early is news only before a boundary it missed.
    const Stop ended{"30", std::nullopt};
    EXPECT_EQ(stop_failure("video", ended, 60)->number, err::kMediaStopped);
    EXPECT_EQ(stop_failure("video", ended, 60)->text,
              "the video stopped at frame 30 before frame 60: the file ends there");
    EXPECT_FALSE(stop_failure("video", ended, -1));
    // A narration is news only when it fails; a failure nobody asked about
    // is told when its device closes.
    const Stop played_out{"1000", std::nullopt};
    EXPECT_FALSE(stop_failure("sound", played_out, 60));
    const Stop failed{"400", Error{err::kPlaybackFailed, "no data"}};
    EXPECT_EQ(stop_failure("sound", failed, 60)->text, "the narration failed at 400 ms: no data");
    ASSERT_EQ(ask("open " + quoted(narration()) + " alias sound"), "");
    play("sound");
    fail("sound", "no data");
    reported.stops.clear();
    ask("close sound");
    ASSERT_EQ(reported.stops.size(), 1u);
    EXPECT_TRUE(reported.stops[0].second.found_at_close);
    EXPECT_EQ(reported.stops[0].second.failure->text, "no data");
}

TEST(Sound, AMachineWithoutSoundOutputIsToldOnceAndNothingIsPrinted) {
    // ALSA and OpenAL print errors of their own when they are tried on a
    // machine without a sound card; the interpreter must not try them there.
    std::fflush(stderr);
    const int saved = ::dup(2);
    std::FILE* caught = std::tmpfile();
    ::dup2(::fileno(caught), 2);
    auto created = Interpreter::create({});
    // Nor is a failed command printed: without a reporter it is only returned.
    const bool failed = created && !(*created)->execute("play nosuch");
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fseek(caught, 0, SEEK_END);
    EXPECT_EQ(std::ftell(caught), 0L) << "the library printed to standard error";
    std::fclose(caught);
    ASSERT_TRUE(created.ok());
    EXPECT_TRUE(failed);
    const std::string notice = (*created)->audio_notice();
    EXPECT_TRUE(notice.empty() ||
                notice == "No sound output was found on this machine: sound goes nowhere.")
        << notice;
}

}  // namespace
}  // namespace strovia::mci
