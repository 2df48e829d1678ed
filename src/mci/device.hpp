#pragma once
// One open device: a GStreamer pipeline built for the formats the
// mpegVideo type stands for. Used only from the interpreter's (UI) thread;
// GStreamer's threads touch nothing here but the frame slot.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "control/error.hpp"
#include "mci/frame_target.hpp"
#include "mci/parser.hpp"

typedef struct _GstElement GstElement;
typedef struct _GstBus GstBus;

namespace strovia::mci {

// How a device's stream stopped by itself: where it stood (in the device's
// time format) and, when it failed rather than played out, why.
struct Stop {
    std::string position;
    std::optional<Error> failure;
    bool found_at_close = false;  // read only as the device was closed
};

// What the interpreter asks of an open device. Device is the real one;
// the fuzz target of the command language puts a scripted one here.
class MediaDevice {
public:
    virtual ~MediaDevice() = default;
    virtual Status play() = 0;
    virtual Status pause() = 0;
    virtual Status stop() = 0;
    virtual void set_time_format(TimeFormat format) = 0;
    virtual std::string mode() = 0;
    virtual Result<std::string> position() = 0;
    virtual Result<std::string> length() = 0;
    virtual TimeFormat time_format() const = 0;
    virtual GstElement* pipeline() const { return nullptr; }
    // Once, after the stream has played out or failed: how it stopped.
    virtual std::optional<Stop> take_stop() { return std::nullopt; }
    // The stream has played out or failed (as of the last command or query).
    virtual bool ended() const { return false; }
    // Stands at `position` (in the time format), paused, ready to play on.
    virtual Status seek(std::int64_t position) {
        (void)position;
        return Error{err::kUnknownCommand, "this device cannot seek"};
    }
    // Plays at `rate` times its speed from now on, sound at its own pitch.
    virtual Status set_rate(double rate) {
        (void)rate;
        return {};
    }
};

// Tells the host that something a status query can see has changed: a
// frame was drawn, a stream ended or failed, a state change completed.
// fire() runs on any thread, GStreamer's streaming threads included.
struct ChangeHook {
    std::mutex mutex;
    std::function<void()> listener;
    void fire() {
        std::lock_guard lock(mutex);
        if (listener) listener();
    }
};

// What the bus tells a device from GStreamer's threads.
struct BusWatch {
    // Noted here before the message reaches the bus's queue (the host,
    // told at once, may ask before it is there).
    std::atomic<bool> ended{false};  // end of stream or an error
    std::mutex mutex;
    std::optional<std::string> error;  // the stream's first error
    std::shared_ptr<ChangeHook> hook;
};

class SinkLog;

struct Sinks {
    std::string audio;  // a launch description, e.g. "fakeaudiosink sync=true"
    std::string video;
    std::shared_ptr<SinkLog> log;  // may be null
};

class Device final : public MediaDevice {
public:
    ~Device() override;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Builds the pipeline for the file at `file` (already mapped) and
    // prerolls it. Video goes to `slot` when given, else to `sinks.video`.
    // `hook` (may be null) is fired on every change of what the device
    // reports.
    // `rate`: the speed it plays at (see set_rate).
    static Result<std::unique_ptr<Device>> open(const std::string& file, const Sinks& sinks,
                                                std::shared_ptr<TargetSlot> slot,
                                                std::shared_ptr<ChangeHook> hook = nullptr,
                                                double rate = 1.0);
    // Makes one element of every kind an opening uses, so that plugins
    // are loaded before the first opening rather than during it. Fails
    // when one of the sinks cannot be built.
    static Status warm_up(const Sinks& sinks);

    Status play() override;
    Status pause() override;
    Status stop() override;
    void set_time_format(TimeFormat format) override { format_ = format; }

    // Replies as text in this device's time format.
    std::string mode() override;
    Result<std::string> position() override;
    Result<std::string> length() override;
    TimeFormat time_format() const override { return format_; }

    GstElement* pipeline() const override { return pipeline_; }
    std::optional<Stop> take_stop() override;
    bool ended() const override { return ended_; }
    // A video stands on the very frame asked for, even in a program
    // stream whose demuxer lands late: it seeks before it and lets no
    // earlier picture or sound through. Waits until it stands there.
    Status seek(std::int64_t position) override;
    Status set_rate(double rate) override;

private:
    enum class Mode { kStopped, kPlaying, kPaused };
    Device() = default;

    void poll_bus();
    Result<std::string> as_text(std::int64_t nanoseconds);
    Status wait_preroll();
    std::optional<std::int64_t> exact_length();
    Result<std::int64_t> to_ns(std::int64_t units) const;
    // `at`: buffer time of a video's picture, stream time of a sound.
    Status seek_video(std::int64_t at);
    Status seek_sound(std::int64_t at);
    Status wait_settled();

    std::string file_;
    std::optional<std::int64_t> length_;  // ns, once known
    GstElement* pipeline_ = nullptr;
    GstBus* bus_ = nullptr;                  // held for the device's life
    GstElement* position_source_ = nullptr;  // sound only: its sink, else the pipeline
    Mode mode_ = Mode::kStopped;
    bool ended_ = false;
    bool stop_told_ = false;
    std::optional<Error> failure_;  // the stream's first error
    TimeFormat format_ = TimeFormat::kMilliseconds;
    std::int64_t origin_ = 0;         // sound: stream time of the first sample, ns
    std::int64_t last_position_ = 0;  // ns from origin_
    int fps_n_ = 0;
    int fps_d_ = 0;
    double rate_ = 1.0;
    std::shared_ptr<TargetSlot> slot_;
    std::shared_ptr<ChangeHook> hook_;
    BusWatch watch_;
    struct Branches;
    std::unique_ptr<Branches> branches_;
};

}  // namespace strovia::mci
