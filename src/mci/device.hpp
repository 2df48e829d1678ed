#pragma once
// One open device: a GStreamer pipeline built for the formats the
// mpegVideo type stands for. Used only from the interpreter's (UI) thread;
// GStreamer's threads touch nothing here but the frame slot.

#include <cstdint>
#include <memory>
#include <string>

#include "control/error.hpp"
#include "mci/frame_target.hpp"
#include "mci/parser.hpp"

typedef struct _GstElement GstElement;

namespace strovia::mci {

struct Sinks {
    std::string audio;  // a launch description, e.g. "fakeaudiosink sync=true"
    std::string video;
};

class Device {
public:
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Builds the pipeline for the file at `file` (already mapped) and
    // prerolls it. Video goes to `slot` when given, else to `sinks.video`.
    static Result<std::unique_ptr<Device>> open(const std::string& file, const Sinks& sinks,
                                                std::shared_ptr<TargetSlot> slot);

    Status play();
    Status pause();
    Status stop();
    void set_time_format(TimeFormat format) { format_ = format; }

    // Replies as text in this device's time format.
    std::string mode();
    Result<std::string> position();
    Result<std::string> length();
    TimeFormat time_format() const { return format_; }

    GstElement* pipeline() const { return pipeline_; }

private:
    enum class Mode { kStopped, kPlaying, kPaused };
    Device() = default;

    void poll_bus();
    Result<std::string> as_text(std::int64_t nanoseconds);
    Status wait_preroll();

    GstElement* pipeline_ = nullptr;
    Mode mode_ = Mode::kStopped;
    bool ended_ = false;
    TimeFormat format_ = TimeFormat::kMilliseconds;
    std::int64_t origin_ = 0;         // stream time of the first picture, ns
    std::int64_t last_position_ = 0;  // ns from origin_
    int fps_n_ = 0;
    int fps_d_ = 0;
    std::shared_ptr<TargetSlot> slot_;
    struct Branches;
    std::unique_ptr<Branches> branches_;
};

}  // namespace strovia::mci
