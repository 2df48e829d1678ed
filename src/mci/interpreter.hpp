#pragma once
// The media channel with real devices: an interpreter of the media command
// language whose devices are GStreamer pipelines.
//
//   auto made = strovia::mci::Interpreter::create({});
//   if (!made) { /* made.error() */ }
//   std::unique_ptr<Interpreter> mci = std::move(made).value();
//   mci->set_reporter(&my_reporter);              // optional
//   mci->register_frame_target(handle, &target);  // optional, per window
//   MediaChannel& channel = *mci;                 // hand to the control
//
// Everything is called from one (the host's UI) thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "control/error.hpp"
#include "mci/device.hpp"
#include "mci/frame_target.hpp"
#include "mci/parser.hpp"
#include "playback/media.hpp"

namespace strovia::mci {

// Tells the user that a command of execute() failed. Called on the caller's
// thread before execute() returns; it must not run a nested event loop
// (a modal box would let other timer ticks run inside the caller). A host
// with a user interface queues the report and shows it later.
class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void report(std::string_view command, const Error& error) = 0;
    // A device's stream stopped by itself: played out, or failed (then
    // `stop.failure` says why). Told once per device, on the caller's
    // thread, inside the command or query that found it; a failure found
    // only when the device is closed is told then. `alias` is folded to
    // lower case. Same rules as report().
    virtual void stopped(std::string_view alias, const Stop& stop) {
        (void)alias;
        (void)stop;
    }
};

// What a host tells its user of a stop (Reporter::stopped): the failure
// of a stream, or a video that stopped short of `boundary`, the frame a
// programme still waits for (negative: none), with the frame it stopped
// at. Nothing for a stream that played out leaving nothing to reach.
std::optional<Error> stop_failure(std::string_view alias, const Stop& stop, long long boundary);

struct Options {
    // Launch descriptions of the sinks. Video: used when no frame target
    // takes the video; empty is a clock-synchronised null sink. Audio:
    // empty is the default sound output when the machine has one (a sound
    // server's socket or a sound card) that opens, else a
    // clock-synchronised null sink and an audio_notice().
    std::string video_sink;
    std::string audio_sink;
    // A file for the sink log (mci/sink_log.hpp); empty: none.
    std::string sink_log;
};

// Opens the device for a file (already mapped); video to the slot if any.
using DeviceOpener = std::function<Result<std::unique_ptr<MediaDevice>>(
    const std::string& file, std::shared_ptr<TargetSlot> slot)>;

class Interpreter final : public MediaChannel {
public:
    static Result<std::unique_ptr<Interpreter>> create(Options options);
    // Devices from `opener` instead of GStreamer, which is not started.
    static std::unique_ptr<Interpreter> with_devices(DeviceOpener opener);
    ~Interpreter() override;

    // The seam. execute() reports a failure through the reporter;
    // send_string() writes a query's reply (NUL-terminated, at most
    // reply_length bytes) and returns the error number on failure.
    bool execute(std::string_view command) override;
    std::int32_t send_string(std::string_view command, char* reply, std::uint32_t reply_length,
                             std::int64_t notify_window) override;

    // Runs one command: the reply of a query, an empty text otherwise.
    Result<std::string> run(std::string_view command);

    // Not owned; nullptr (the default): nobody is told, and the failure
    // is only in what execute() returns. The library prints nothing.
    void set_reporter(Reporter* reporter);

    // Video of a device opened with `parent <handle>` goes to the target
    // registered for that handle at open time. Not owned: unregister
    // before destroying it; once unregister returns, present() is no longer
    // called.
    void register_frame_target(std::int64_t handle, FrameTarget* target);
    void unregister_frame_target(std::int64_t handle);

    // Called, from any thread and without the interpreter's lock, whenever
    // a status reply may have changed: a device drew a frame, reached its
    // end, failed or changed state. It must return at once (queue work to
    // the host's thread) and must not call back into the interpreter.
    // Empty: nobody is told.
    void set_change_listener(std::function<void()> listener);

    // The speed every device plays at, open ones at once and those opened
    // later from their start: video and sound together, sound at its own
    // pitch, positions still in stream time (a video still holds at the
    // frame asked for). Fails for a rate outside kMinRate..kMaxRate,
    // changing nothing; a device that fails to change is told first.
    static constexpr double kMinRate = 0.5;
    static constexpr double kMaxRate = 1.5;
    Status set_rate(double rate);
    double rate() const { return rate_; }

    // Other outputs for the devices opened from now on. Fails, changing
    // nothing, when a sink cannot be built or the log cannot be written.
    Status set_outputs(const Options& options);

    // Empty when sound reaches a sound output; else one plain sentence
    // saying where it goes, for the host to show once. Nothing is printed.
    const std::string& audio_notice() const { return audio_notice_; }

    // The pipeline behind an alias, for measurements; nullptr if not open.
    GstElement* pipeline_of(std::string_view alias) const;

    const Sinks& sinks() const { return sinks_; }

private:
    Interpreter(Sinks sinks, DeviceOpener opener)
        : sinks_(std::move(sinks)), opener_(std::move(opener)) {}
    Result<MediaDevice*> device(const std::string& alias);
    void tell_stops();
    void close_all();
    void close(const std::string& key);
    Result<std::string> dispatch(const Command& c);

    Sinks sinks_;
    DeviceOpener opener_;
    std::string audio_notice_;
    std::shared_ptr<ChangeHook> hook_ = std::make_shared<ChangeHook>();
    Reporter* reporter_ = nullptr;
    double rate_ = 1.0;
    std::map<std::string, std::unique_ptr<MediaDevice>> devices_;  // by folded alias
    std::map<std::int64_t, std::shared_ptr<TargetSlot>> targets_;
};

}  // namespace strovia::mci
