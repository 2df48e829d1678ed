#include "mci/interpreter.hpp"

#include <gst/gst.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "mci/sink_log.hpp"
#include "platform/paths.hpp"

namespace strovia::mci {
namespace {

std::string from_env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

// Whether the machine has anywhere for sound to go: a sound server's
// socket or an ALSA card. Asked first because trying the sound outputs on a
// machine without any makes their libraries print errors of their own.
bool has_sound_output() {
    std::error_code ec;
    std::string runtime = from_env("XDG_RUNTIME_DIR");
    if (runtime.empty()) runtime = "/run/user/" + std::to_string(::getuid());
    if (!from_env("PULSE_SERVER").empty()) return true;
    for (const char* socket : {"pulse/native", "pipewire-0"}) {
        if (std::filesystem::exists(std::filesystem::path(runtime) / socket, ec)) return true;
    }
    std::ifstream cards("/proc/asound/cards");
    std::string line;
    while (std::getline(cards, line)) {
        if (line.find_first_not_of(' ') != std::string::npos &&
            line.find("no soundcards") == std::string::npos)
            return true;
    }
    return false;
}

// The default sound output, when the machine has one that opens; else an
// empty text and the null sink is used.
std::string default_audio_sink() {
    if (!has_sound_output()) return {};
    GstElement* probe = gst_element_factory_make("autoaudiosink", nullptr);
    if (probe == nullptr) return {};
    gst_object_ref_sink(probe);
    const bool works = gst_element_set_state(probe, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(probe, GST_STATE_NULL);
    // autoaudiosink falls back to a fake sink of its own when nothing opens.
    bool real = works;
    if (works && GST_IS_BIN(probe)) {
        GstIterator* it = gst_bin_iterate_sinks(GST_BIN(probe));
        GValue item = G_VALUE_INIT;
        if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            auto* child = GST_ELEMENT(g_value_get_object(&item));
            const gchar* kind = GST_OBJECT_NAME(gst_element_get_factory(child));
            real = std::strcmp(kind, "fakesink") != 0 && std::strcmp(kind, "fakeaudiosink") != 0;
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
    }
    gst_object_unref(probe);
    return real ? "autoaudiosink" : std::string();
}

struct Outputs {
    Sinks sinks;
    std::string notice;
};

Result<Outputs> resolve(const Options& options) {
    Outputs out;
    out.sinks.video = options.video_sink.empty() ? "fakesink sync=true" : options.video_sink;
    out.sinks.audio = options.audio_sink;
    if (out.sinks.audio.empty()) {
        out.sinks.audio = default_audio_sink();
        if (out.sinks.audio.empty()) {
            out.sinks.audio = "fakeaudiosink sync=true";
            out.notice = "No sound output was found on this machine: sound goes nowhere.";
        }
    }
    if (!options.sink_log.empty()) {
        auto log = SinkLog::open(options.sink_log);
        if (!log) return log.error();
        out.sinks.log = std::move(log).value();
    }
    if (auto warmed = Device::warm_up(out.sinks); !warmed) return warmed.error();
    return out;
}

Result<std::string> status_to_text(const Status& s) {
    if (!s) return s.error();
    return std::string();
}

}  // namespace

std::optional<Error> stop_failure(std::string_view alias, const Stop& stop, long long boundary) {
    if (alias != "video") {
        if (!stop.failure) return std::nullopt;
        return Error{stop.failure->number,
                     "the narration failed at " + stop.position + " ms: " + stop.failure->text};
    }
    const long long at = std::atoll(stop.position.c_str());
    const bool short_of_boundary = boundary >= 0 && at < boundary;
    if (!stop.failure && !short_of_boundary) return std::nullopt;
    std::string text = "the video stopped at frame " + stop.position;
    if (short_of_boundary) text += " before frame " + std::to_string(boundary);
    text += stop.failure ? ": " + stop.failure->text : std::string(": the file ends there");
    return Error{stop.failure ? stop.failure->number : err::kMediaStopped, std::move(text)};
}

Result<std::unique_ptr<Interpreter>> Interpreter::create(Options options) {
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        std::string text = error != nullptr ? error->message : "unknown reason";
        if (error != nullptr) g_error_free(error);
        return Error{err::kNoMediaFramework, "GStreamer cannot start: " + text};
    }
    auto outputs = resolve(options);
    if (!outputs) return outputs.error();
    auto* made = new Interpreter(std::move(outputs->sinks), {});
    made->audio_notice_ = std::move(outputs->notice);
    made->opener_ = [made](
                        const std::string& file,
                        std::shared_ptr<TargetSlot> slot) -> Result<std::unique_ptr<MediaDevice>> {
        auto d = Device::open(file, made->sinks_, std::move(slot), made->hook_, made->rate_);
        if (!d) return d.error();
        return std::unique_ptr<MediaDevice>(std::move(d).value());
    };
    return std::unique_ptr<Interpreter>(made);
}

Status Interpreter::set_outputs(const Options& options) {
    auto outputs = resolve(options);
    if (!outputs) return outputs.error();
    sinks_ = std::move(outputs->sinks);
    audio_notice_ = std::move(outputs->notice);
    return {};
}

std::unique_ptr<Interpreter> Interpreter::with_devices(DeviceOpener opener) {
    return std::unique_ptr<Interpreter>(new Interpreter({}, std::move(opener)));
}

Interpreter::~Interpreter() { devices_.clear(); }

void Interpreter::tell_stops() {
    if (reporter_ == nullptr) return;
    for (auto& [key, dev] : devices_) {
        if (auto stop = dev->take_stop()) reporter_->stopped(key, *stop);
    }
}

void Interpreter::close(const std::string& key) {
    auto it = devices_.find(key);
    if (it == devices_.end()) return;
    // A failure nobody asked about is still told; a stream that merely
    // played out is no news once it is closed.
    if (reporter_ != nullptr) {
        if (auto stop = it->second->take_stop(); stop && stop->failure) {
            stop->found_at_close = true;
            reporter_->stopped(key, *stop);
        }
    }
    devices_.erase(it);
}

void Interpreter::close_all() {
    while (!devices_.empty()) close(devices_.begin()->first);
}

void Interpreter::set_reporter(Reporter* reporter) { reporter_ = reporter; }

Status Interpreter::set_rate(double rate) {
    if (!(rate >= kMinRate && rate <= kMaxRate)) {
        return Error{err::kBadParameter, "the rate " + std::to_string(rate) +
                                             " is outside 0.5 to 1.5 times the normal speed"};
    }
    rate_ = rate;
    Status first;
    for (auto& [key, dev] : devices_) {
        if (auto s = dev->set_rate(rate); !s && first) first = s;
    }
    tell_stops();
    return first;
}

void Interpreter::set_change_listener(std::function<void()> listener) {
    std::lock_guard lock(hook_->mutex);
    hook_->listener = std::move(listener);
}

void Interpreter::register_frame_target(std::int64_t handle, FrameTarget* target) {
    auto& slot = targets_[handle];
    if (!slot) slot = std::make_shared<TargetSlot>();
    std::lock_guard lock(slot->mutex);
    slot->target = target;
}

void Interpreter::unregister_frame_target(std::int64_t handle) {
    auto it = targets_.find(handle);
    if (it == targets_.end()) return;
    {
        std::lock_guard lock(it->second->mutex);
        it->second->target = nullptr;
    }
    targets_.erase(it);
}

GstElement* Interpreter::pipeline_of(std::string_view alias) const {
    auto it = devices_.find(fold(alias));
    return it != devices_.end() ? it->second->pipeline() : nullptr;
}

Result<MediaDevice*> Interpreter::device(const std::string& alias) {
    auto it = devices_.find(fold(alias));
    if (it == devices_.end()) {
        return Error{err::kUnknownAlias, "no device is open under the alias \"" + alias + "\""};
    }
    return it->second.get();
}

Result<std::string> Interpreter::dispatch(const Command& c) {
    if (c.verb == Verb::kOpen) {
        const std::string key = fold(c.open.alias);
        if (key == "all") return Error{err::kBadParameter, "\"all\" cannot name a device"};
        if (devices_.count(key) != 0) {
            return Error{err::kAliasInUse, "the alias \"" + c.open.alias + "\" is already open"};
        }
        std::shared_ptr<TargetSlot> slot;
        if (c.open.parent) {
            auto t = targets_.find(*c.open.parent);
            if (t != targets_.end()) slot = t->second;
        }
        auto opened = opener_(platform::map_path(c.open.path), std::move(slot));
        if (!opened) return opened.error();
        devices_.emplace(key, std::move(opened).value());
        return std::string();
    }
    if (c.verb == Verb::kClose && keyword_is(c.alias, "all")) {
        close_all();
        return std::string();
    }
    auto d = device(c.alias);
    if (!d) return d.error();
    MediaDevice& dev = **d;
    switch (c.verb) {
        case Verb::kClose: close(fold(c.alias)); return std::string();
        case Verb::kPlay: return status_to_text(dev.play());
        case Verb::kPause: return status_to_text(dev.pause());
        case Verb::kStop: return status_to_text(dev.stop());
        case Verb::kSet: dev.set_time_format(c.format); return std::string();
        case Verb::kSeek: return status_to_text(dev.seek(c.seek_to));
        case Verb::kStatus:
            switch (c.item) {
                case StatusItem::kMode: return dev.mode();
                case StatusItem::kPosition: {
                    // A stream that played out or failed has no position
                    // to go on from; a caller waiting for one must not.
                    auto at = dev.position();
                    if (at && dev.ended()) {
                        return Error{err::kMediaStopped,
                                     "the media stopped at " + *at + " and cannot go on"};
                    }
                    return at;
                }
                case StatusItem::kLength: return dev.length();
                case StatusItem::kReady: return std::string("true");
                case StatusItem::kTimeFormat:
                    return std::string(dev.time_format() == TimeFormat::kFrames ? "frames"
                                                                                : "milliseconds");
            }
            break;
        case Verb::kOpen: break;
    }
    return Error{err::kUnknownCommand, "command not handled"};
}

Result<std::string> Interpreter::run(std::string_view command) {
    auto parsed = parse(command);
    if (!parsed) return parsed.error();
    auto r = dispatch(*parsed);
    tell_stops();
    return r;
}

bool Interpreter::execute(std::string_view command) {
    if (sinks_.log) sinks_.log->command(command);
    auto r = run(command);
    if (!r && reporter_ != nullptr) reporter_->report(command, r.error());
    return r.ok();
}

std::int32_t Interpreter::send_string(std::string_view command, char* reply,
                                      std::uint32_t reply_length, std::int64_t /*notify_window*/) {
    auto r = run(command);
    if (!r) return r.error().number;
    if (reply == nullptr || reply_length == 0) return 0;
    if (r->size() + 1 > reply_length) return err::kReplyTooLong;
    std::memcpy(reply, r->data(), r->size());
    reply[r->size()] = '\0';
    return 0;
}

}  // namespace strovia::mci
