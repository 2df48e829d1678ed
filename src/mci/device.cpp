#include "mci/device.hpp"

#include "mci/media_scan.hpp"
#include "mci/sink_log.hpp"
#include "platform/regular_file.hpp"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace strovia::mci {
namespace {

// A stream that neither prerolls nor fails within this time fails the open:
// some damaged files stall a demuxer with neither error nor end of stream.
constexpr auto kPrerollWatchdog = std::chrono::seconds(4);

enum class Format { kProgramStream, kAudio };

// The formats this device type stands for are told apart by their first
// bytes, so that no automatic type finding ever picks an unrelated element.
Result<Format> sniff(const std::string& file) {
    // Never opens what is no regular file: a FIFO would wait for a writer
    // for ever.
    const auto f = platform::RegularFile::open(file);
    using Problem = platform::RegularFile::Problem;
    if (f.problem() == Problem::kNotRegular) return Error{err::kNotAFile, "the path " + f.why()};
    if (!f.ok()) return Error{err::kFileNotFound, "cannot open the file: " + f.why()};
    if (f.size() == 0) return Error{err::kUnsupportedFormat, "the file " + file + " is empty"};
    if (scan::is_program_stream(file)) return Format::kProgramStream;
    if (scan::audio_start(file)) return Format::kAudio;
    return Error{err::kUnsupportedFormat,
                 "the file " + file +
                     " is neither an MPEG program stream nor MPEG audio of layer I, II or III"};
}

// Releases an element never put into a bin.
void drop(GstElement* e) {
    gst_object_ref_sink(e);
    gst_object_unref(e);
}

Result<GstElement*> make(const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (e == nullptr) {
        return Error{err::kMissingElement,
                     std::string("the GStreamer element ") + factory + " is not installed"};
    }
    return e;
}

Result<GstElement*> make_first(std::initializer_list<const char*> factories) {
    for (const char* f : factories) {
        if (GstElement* e = gst_element_factory_make(f, nullptr)) return e;
    }
    return Error{err::kMissingElement, std::string("no GStreamer element for this stream: ") +
                                           *factories.begin() +
                                           " and its alternatives are not installed"};
}

Result<GstElement*> make_sink(const std::string& description) {
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
    if (bin == nullptr || error != nullptr) {
        std::string text = error != nullptr ? error->message : "unknown reason";
        if (error != nullptr) g_error_free(error);
        if (bin != nullptr) drop(bin);
        return Error{err::kMissingElement,
                     "cannot build the sink \"" + description + "\": " + text};
    }
    return bin;
}

std::string error_text(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error != nullptr ? error->message : "unknown error";
    if (error != nullptr) g_error_free(error);
    g_free(debug);
    return text;
}

// Only what the device reads is queued; everything else is dropped at once
// so that an unpolled bus does not grow. A dropped message is ours to free:
// it holds its element, and through it the whole pipeline and its file.
// Every message that changes what the device reports tells the host; an
// end or a failure is noted in the watch first, since this handler runs
// before the message reaches the bus's queue.
GstBusSyncReply keep_needed(GstBus*, GstMessage* message, gpointer data) {
    const auto type = GST_MESSAGE_TYPE(message);
    constexpr int kKept = GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE;
    const bool kept = (type & kKept) != 0;
    const bool pipeline_state =
        type == GST_MESSAGE_STATE_CHANGED && GST_OBJECT_PARENT(GST_MESSAGE_SRC(message)) == nullptr;
    if (!kept) gst_message_unref(message);
    auto* watch = static_cast<BusWatch*>(data);
    if (type == GST_MESSAGE_ERROR) {
        std::string text = error_text(message);
        std::lock_guard lock(watch->mutex);
        if (!watch->error) watch->error = std::move(text);
    }
    if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) watch->ended = true;
    if ((kept || pipeline_state) && watch->hook) watch->hook->fire();
    return kept ? GST_BUS_PASS : GST_BUS_DROP;
}

// The element that renders inside a sink description (the sink itself, or
// the first sink of the bin built from it); not referenced.
GstElement* rendering_sink(GstElement* e) {
    if (!GST_IS_BIN(e)) return e;
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_sinks(GST_BIN(e));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        found = rendering_sink(GST_ELEMENT(g_value_get_object(&item)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

Status link_chain(GstElement* bin, std::initializer_list<GstElement*> chain) {
    for (GstElement* e : chain) gst_bin_add(GST_BIN(bin), e);
    GstElement* previous = nullptr;
    for (GstElement* e : chain) {
        if (previous != nullptr && !gst_element_link(previous, e)) {
            return Error{err::kCannotDecode, std::string("cannot link ") +
                                                 GST_ELEMENT_NAME(previous) + " to " +
                                                 GST_ELEMENT_NAME(e)};
        }
        previous = e;
    }
    return {};
}

}  // namespace

// State shared with the demuxer's streaming thread while it announces its
// streams, and with the video sink's thread while it draws.
struct Device::Branches {
    GstElement* pipeline = nullptr;
    Sinks sinks;
    std::shared_ptr<TargetSlot> slot;
    std::shared_ptr<ChangeHook> hook;
    std::string file;
    std::mutex mutex;
    int linked = 0;
    bool has_video = false;
    bool has_audio = false;
    bool prerolled = false;               // branches made later must not hold up a pause either
    GstElement* video_decoder = nullptr;  // owned by the pipeline
    // The sink elements (as built from their descriptions) of the video and
    // of the first audio branch, owned by the pipeline.
    GstElement* video_out = nullptr;
    GstElement* audio_out = nullptr;
    std::string failure;
    // Buffer times of the video: the first picture that reached its sink,
    // and the last one drawn (-1: none yet). `drawn_known` is false for a
    // sink that says nothing when it draws: its last sample is asked instead.
    std::atomic<std::int64_t> first_pts{-1};
    std::atomic<std::int64_t> drawn_pts{-1};
    bool drawn_known = false;
    // The first element of each branch, owned by the pipeline.
    GstElement* video_head = nullptr;
    GstElement* audio_head = nullptr;
    // While a seek is under way: the time before which nothing may pass,
    // whether its flush has reached the video sink, and the time of the
    // first picture behind it (-1: none yet).
    std::atomic<std::int64_t> clip_from{-1};
    std::atomic<bool> seek_flushed{false};
    std::atomic<std::int64_t> landed{-1};
    std::atomic<bool> show_preroll{false};

    void drew(GstBuffer* buffer) {
        if (buffer != nullptr && GST_BUFFER_PTS_IS_VALID(buffer)) {
            drawn_pts = static_cast<std::int64_t>(GST_BUFFER_PTS(buffer));
        }
        if (hook) hook->fire();
    }

    // Hands the sample's picture to the frame target; returns its buffer.
    GstBuffer* deliver(GstSample* sample) {
        GstVideoInfo info;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) && buffer != nullptr &&
            gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            Frame frame{map.data, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                        GST_VIDEO_INFO_PLANE_STRIDE(&info, 0)};
            slot->deliver(frame);
            gst_buffer_unmap(buffer, &map);
        }
        return buffer;
    }

    static GstFlowReturn on_sample(GstAppSink* sink, gpointer data) {
        auto* self = static_cast<Branches*>(data);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (sample == nullptr) return GST_FLOW_EOS;
        self->drew(self->deliver(sample));
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    Result<GstElement*> video_sink() {
        if (!slot) return make_sink(sinks.video);
        auto sink = make("appsink");
        if (!sink) return sink;
        GstCaps* caps =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGBx", nullptr);
        g_object_set(*sink, "caps", caps, "sync", TRUE, "max-buffers", 2, "drop", TRUE, nullptr);
        gst_caps_unref(caps);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = on_sample;
        // The picture a seek stands on is shown at once, not at the next play.
        callbacks.new_preroll = +[](GstAppSink* appsink, gpointer data) -> GstFlowReturn {
            auto* self = static_cast<Branches*>(data);
            if (!self->show_preroll.exchange(false)) return GST_FLOW_OK;
            GstSample* sample = gst_app_sink_pull_preroll(appsink);
            if (sample == nullptr) return GST_FLOW_OK;
            self->deliver(sample);
            gst_sample_unref(sample);
            return GST_FLOW_OK;
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(*sink), &callbacks, this, nullptr);
        drawn_known = true;
        return sink;
    }

    // Learns when the video sink `out` draws: from our own appsink, from a
    // sink's handoff signal, or, for other sinks, when the next picture
    // arrives behind the one drawn (its time is then the sink's last sample).
    void watch_drawing(GstElement* out) {
        GstPad* pad = gst_element_get_static_pad(out, "sink");
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            +[](GstPad*, GstPadProbeInfo* info, gpointer data) {
                auto* self = static_cast<Branches*>(data);
                GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
                std::int64_t none = -1;
                if (b != nullptr && GST_BUFFER_PTS_IS_VALID(b)) {
                    self->first_pts.compare_exchange_strong(
                        none, static_cast<std::int64_t>(GST_BUFFER_PTS(b)));
                }
                if (!self->drawn_known && self->hook) self->hook->fire();
                return self->drawn_known ? GST_PAD_PROBE_REMOVE : GST_PAD_PROBE_OK;
            },
            this, nullptr);
        gst_object_unref(pad);
        if (drawn_known) return;
        GstElement* r = rendering_sink(out);
        if (r != nullptr &&
            g_object_class_find_property(G_OBJECT_GET_CLASS(r), "signal-handoffs")) {
            g_object_set(r, "signal-handoffs", TRUE, nullptr);
            g_signal_connect(r, "handoff",
                             G_CALLBACK(+[](GstElement*, GstBuffer* b, GstPad*, gpointer data) {
                                 static_cast<Branches*>(data)->drew(b);
                             }),
                             this);
            drawn_known = true;
        }
    }

    // Builds the video branch (or, with `video` false, the audio branch)
    // and returns its first element, already inside the pipeline.
    // Sound goes through scaletempo, which keeps its pitch at other rates
    // and passes it through untouched at rate 1.
    Result<GstElement*> branch(bool video) {
        std::array<Result<GstElement*>, 8> parts{
            make("queue"),
            video ? make("mpegvideoparse") : make("mpegaudioparse"),
            video ? make_first({"avdec_mpeg2video", "mpeg2dec"})
                  : make_first({"mpg123audiodec", "avdec_mp2float"}),
            video ? make("videoconvert") : make("audioconvert"),
            video ? make("identity") : make("scaletempo"),
            video ? make("identity") : make("audioconvert"),
            video ? make("identity") : make("audioresample"),
            video ? video_sink() : make_sink(sinks.audio),
        };
        for (auto& p : parts) {
            if (!p) {
                for (auto& q : parts) {
                    if (q) drop(*q);
                }
                return p.error();
            }
        }
        auto linked_ok = link_chain(pipeline, {*parts[0], *parts[1], *parts[2], *parts[3],
                                               *parts[4], *parts[5], *parts[6], *parts[7]});
        GstElement* out = *parts[7];
        if (linked_ok && video) watch_drawing(out);
        if (prerolled) let_go(out);
        for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
            gst_element_sync_state_with_parent(**it);
        }
        if (!linked_ok) return linked_ok.error();
        if (sinks.log) sinks.log->watch(out, video, file);
        if (video) video_decoder = *parts[2];
        (video ? video_out : audio_out) = out;
        (video ? video_head : audio_head) = *parts[0];
        return *parts[0];
    }

    // Once the device has shown its first picture, no sink may hold up a
    // pause or a play: a stream that has ended inside a program stream gets
    // no end of stream until the whole file has been read, so its sink has
    // nothing to preroll on, while the demuxer that would send it a gap is
    // blocked behind the other, prerolled, sink.
    static void let_go(GstElement* out) {
        if (GstElement* r = rendering_sink(out)) g_object_set(r, "async", FALSE, nullptr);
    }

    void on_pad(GstPad* pad) {
        std::lock_guard lock(mutex);
        GstCaps* caps = gst_pad_get_current_caps(pad);
        if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        const std::string name = s != nullptr ? gst_structure_get_name(s) : "";
        int version = 0;
        if (s != nullptr) gst_structure_get_int(s, "mpegversion", &version);
        gst_caps_unref(caps);

        Result<GstElement*> head = Error{};
        if (name == "video/mpeg" && (version == 1 || version == 2) && !has_video) {
            has_video = true;
            head = branch(true);
        } else if (name == "audio/mpeg" && version == 1 && !has_audio) {
            has_audio = true;
            head = branch(false);
        } else {
            // Streams the device does not render stay unlinked: the demuxer
            // drops their data and they can never hold back the others.
            return;
        }
        if (!head) {
            failure = head.error().text;
            return;
        }
        GstPad* sink_pad = gst_element_get_static_pad(*head, "sink");
        if (gst_pad_link(pad, sink_pad) == GST_PAD_LINK_OK) {
            ++linked;
        } else {
            failure = "cannot link the demuxer's stream " + std::string(GST_PAD_NAME(pad));
        }
        gst_object_unref(sink_pad);
    }
};

Status Device::warm_up(const Sinks& sinks) {
    // Loading a plugin and initialising an element class happen once per
    // process, on the first element of the kind; done here, the first
    // opening no longer waits for them. Missing decoders are reported by
    // the opening that needs them.
    for (const char* kind :
         {"filesrc", "mpegpsdemux", "queue", "mpegvideoparse", "mpegaudioparse", "videoconvert",
          "audioconvert", "scaletempo", "identity", "audioresample", "appsink", "fakesink"}) {
        if (auto e = make(kind)) drop(*e);
    }
    if (auto e = make_first({"avdec_mpeg2video", "mpeg2dec"})) drop(*e);
    if (auto e = make_first({"mpg123audiodec", "avdec_mp2float"})) drop(*e);
    for (const std::string* d : {&sinks.video, &sinks.audio}) {
        auto e = make_sink(*d);
        if (!e) return e.error();
        drop(*e);
    }
    return {};
}

Device::~Device() {
    if (bus_ != nullptr) gst_object_unref(bus_);
    if (pipeline_ != nullptr) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }
}

Result<std::unique_ptr<Device>> Device::open(const std::string& file, const Sinks& sinks,
                                             std::shared_ptr<TargetSlot> slot,
                                             std::shared_ptr<ChangeHook> hook, double rate) {
    auto format = sniff(file);
    if (!format) return format.error();

    std::unique_ptr<Device> d(new Device());
    d->file_ = file;
    d->pipeline_ = gst_pipeline_new(nullptr);
    d->slot_ = slot;
    d->hook_ = hook;
    d->branches_ = std::make_unique<Branches>();
    Branches& b = *d->branches_;
    b.pipeline = d->pipeline_;
    b.sinks = sinks;
    b.slot = std::move(slot);
    b.hook = std::move(hook);
    b.file = file;

    d->bus_ = gst_element_get_bus(d->pipeline_);
    d->watch_.hook = d->hook_;
    gst_bus_set_sync_handler(d->bus_, keep_needed, &d->watch_, nullptr);

    auto src = make("filesrc");
    if (!src) return src.error();
    g_object_set(*src, "location", file.c_str(), nullptr);
    if (*format == Format::kProgramStream) {
        auto demux = make("mpegpsdemux");
        if (!demux) {
            drop(*src);
            return demux.error();
        }
        if (auto s = link_chain(d->pipeline_, {*src, *demux}); !s) return s.error();
        g_signal_connect(*demux, "pad-added",
                         G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer data) {
                             static_cast<Branches*>(data)->on_pad(pad);
                         }),
                         &b);
    } else {
        gst_bin_add(GST_BIN(d->pipeline_), *src);
        auto head = b.branch(false);
        if (!head) return head.error();
        if (!gst_element_link(*src, *head)) {
            return Error{err::kCannotDecode, "cannot link the file source to the audio decoder"};
        }
        b.linked = 1;
    }
    if (auto s = d->wait_preroll(); !s) return s.error();
    if (rate != 1.0) {
        if (auto s = d->set_rate(rate); !s) return s.error();
    }
    return d;
}

Status Device::wait_preroll() {
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(pipeline_);
        GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        gst_object_unref(bus);
        std::string text = m != nullptr ? error_text(m) : "the pipeline refused to start";
        if (m != nullptr) gst_message_unref(m);
        return Error{err::kCannotDecode, "cannot decode the file: " + text};
    }
    const auto deadline = std::chrono::steady_clock::now() + kPrerollWatchdog;
    GstBus* bus = gst_element_get_bus(pipeline_);
    Status result = Error{err::kPrerollTimeout,
                          "the file neither showed a picture nor failed within the time allowed"};
    while (std::chrono::steady_clock::now() < deadline) {
        GstMessage* m = gst_bus_timed_pop_filtered(
            bus, 5 * GST_MSECOND, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        if (m != nullptr) {
            const bool is_error = GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR;
            std::string text = is_error ? error_text(m) : "the stream ended before it could play";
            gst_message_unref(m);
            result = Error{err::kCannotDecode, "cannot decode the file: " + text};
            break;
        }
        {
            std::lock_guard lock(branches_->mutex);
            if (!branches_->failure.empty()) {
                result = Error{err::kCannotDecode, branches_->failure};
                break;
            }
            if (branches_->linked == 0) continue;
        }
        GstState state = GST_STATE_NULL;
        if (gst_element_get_state(pipeline_, &state, nullptr, 0) == GST_STATE_CHANGE_SUCCESS &&
            state == GST_STATE_PAUSED) {
            result = Status{};
            break;
        }
    }
    gst_object_unref(bus);
    if (!result) return result;

    std::lock_guard lock(branches_->mutex);
    Branches& b = *branches_;
    if (b.video_out != nullptr) {
        b.prerolled = true;
        Branches::let_go(b.video_out);
        if (b.audio_out != nullptr) Branches::let_go(b.audio_out);
    } else {
        // Sound alone: positions are its sink's, counted from its first
        // sample (a program stream usually starts at a time other than 0).
        // An automatic sink picks its real child only on starting, so it is
        // looked up now.
        position_source_ = b.audio_out != nullptr ? rendering_sink(b.audio_out) : nullptr;
        if (position_source_ == nullptr) position_source_ = pipeline_;
        gint64 first = 0;
        if (gst_element_query_position(position_source_, GST_FORMAT_TIME, &first) && first > 0)
            origin_ = first;
    }
    if (b.video_decoder != nullptr) {
        GstPad* pad = gst_element_get_static_pad(b.video_decoder, "src");
        if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
            gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &fps_n_,
                                       &fps_d_);
            gst_caps_unref(caps);
        }
        gst_object_unref(pad);
    }
    return {};
}

void Device::poll_bus() {
    while (GstMessage* m = gst_bus_pop(bus_)) gst_message_unref(m);
    if (!watch_.ended || ended_) return;
    // A stream stops at its first error; what its other elements post
    // after it is the same failure.
    ended_ = true;
    mode_ = Mode::kStopped;
    std::lock_guard lock(watch_.mutex);
    if (watch_.error) {
        failure_ = Error{err::kPlaybackFailed, *watch_.error};
        // What still reaches a sink after a failure is not shown: the
        // picture stays on the frame the position names.
        gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    }
}

std::optional<Stop> Device::take_stop() {
    poll_bus();
    if (!ended_ || stop_told_) return std::nullopt;
    stop_told_ = true;
    Stop stop;
    auto at = position();
    stop.position = at ? *at : std::string();
    stop.failure = failure_;
    return stop;
}

Status Device::play() {
    poll_bus();
    // Played out: the device stays at its end, stopped.
    if (ended_) return {};
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        return Error{err::kStateChange, "the device refused to play"};
    }
    mode_ = Mode::kPlaying;
    return {};
}

Status Device::pause() {
    poll_bus();
    // A stream that has stopped stays where it stopped.
    if (ended_) return {};
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        return Error{err::kStateChange, "the device refused to pause"};
    }
    mode_ = Mode::kPaused;
    return {};
}

Status Device::stop() {
    poll_bus();
    if (ended_) return {};
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        return Error{err::kStateChange, "the device refused to stop"};
    }
    mode_ = Mode::kStopped;
    return {};
}

std::string Device::mode() {
    poll_bus();
    switch (mode_) {
        case Mode::kPlaying: return "playing";
        case Mode::kPaused: return "paused";
        case Mode::kStopped: break;
    }
    return "stopped";
}

Result<std::string> Device::as_text(std::int64_t ns) {
    if (format_ == TimeFormat::kMilliseconds) return std::to_string(ns / 1000000);
    if (fps_n_ <= 0 || fps_d_ <= 0) {
        return Error{err::kNoFrameRate, "the device has no frame rate to count frames by"};
    }
    // Rounded: a picture's time in nanoseconds is itself rounded from the
    // stream's 90 kHz clock.
    const auto frames =
        gst_util_uint64_scale_round(static_cast<guint64>(ns), static_cast<guint64>(fps_n_),
                                    static_cast<guint64>(fps_d_) * GST_SECOND);
    return std::to_string(frames);
}

Result<std::string> Device::position() {
    poll_bus();
    Branches& b = *branches_;
    if (b.video_out != nullptr) {
        // The picture last drawn, never the clock: a hold then stands on the
        // frame shown, and the position cannot run past the last frame.
        std::int64_t drawn = b.drawn_pts;
        if (!b.drawn_known) {
            GstSample* sample = nullptr;
            if (GstElement* r = rendering_sink(b.video_out)) {
                g_object_get(r, "last-sample", &sample, nullptr);
            }
            if (sample != nullptr) {
                GstBuffer* buffer = gst_sample_get_buffer(sample);
                if (buffer != nullptr && GST_BUFFER_PTS_IS_VALID(buffer))
                    drawn = static_cast<std::int64_t>(GST_BUFFER_PTS(buffer));
                gst_sample_unref(sample);
            }
        }
        const std::int64_t first = b.first_pts;
        if (first >= 0 && drawn >= first) last_position_ = drawn - first;
        return as_text(last_position_);
    }
    gint64 pos = 0;
    if (gst_element_query_position(position_source_, GST_FORMAT_TIME, &pos) && pos >= origin_) {
        last_position_ = pos - origin_;
    }
    return as_text(last_position_);
}

std::optional<std::int64_t> Device::exact_length() {
    if (branches_->video_out != nullptr) {
        // Frames are numbered from 0 at the first picture: the length is
        // the last frame's number plus one, as many frames as pictures.
        if (fps_n_ <= 0 || fps_d_ <= 0) return std::nullopt;
        const auto pictures = scan::video_pictures(file_);
        if (!pictures) return std::nullopt;
        return static_cast<std::int64_t>(gst_util_uint64_scale_round(
            static_cast<guint64>(*pictures), static_cast<guint64>(fps_d_) * GST_SECOND,
            static_cast<guint64>(fps_n_)));
    }
    const auto start = scan::audio_start(file_);
    const auto audio = start ? scan::audio_length(file_, *start) : std::nullopt;
    if (!audio) return std::nullopt;
    return static_cast<std::int64_t>(gst_util_uint64_scale(
        static_cast<guint64>(audio->samples), GST_SECOND, static_cast<guint64>(audio->rate)));
}

Result<std::string> Device::length() {
    if (!length_) length_ = exact_length();
    if (!length_) {
        // Neither pictures nor audio frames could be counted (sound inside a
        // program stream, free-format audio): the demuxer's estimate.
        gint64 duration = 0;
        if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &duration) || duration < 0) {
            return Error{err::kCannotDecode, "the length of the stream is not known"};
        }
        return as_text(duration);
    }
    return as_text(*length_);
}

}  // namespace strovia::mci

namespace strovia::mci {
namespace {

// Lets nothing before the seek's target through: each branch's new segment
// starts there, so earlier pictures and sound are decoded but dropped, and
// the target is the first thing shown, at running time zero.
GstPadProbeReturn clip_segment(GstPad*, GstPadProbeInfo* info, gpointer data) {
    const std::int64_t from = *static_cast<std::atomic<std::int64_t>*>(data);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (from < 0 || GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
    GstSegment segment;
    gst_event_copy_segment(event, &segment);
    const auto target = static_cast<guint64>(from);
    if (segment.format != GST_FORMAT_TIME || segment.start >= target) return GST_PAD_PROBE_OK;
    if (GST_CLOCK_TIME_IS_VALID(segment.time)) segment.time += target - segment.start;
    segment.start = target;
    segment.position = target;
    GstEvent* clipped = gst_event_new_segment(&segment);
    gst_event_set_seqnum(clipped, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = clipped;
    return GST_PAD_PROBE_OK;
}

gulong add_probe(GstElement* element, const char* pad_name, GstPadProbeType type,
                 GstPadProbeCallback callback, gpointer data) {
    GstPad* pad = gst_element_get_static_pad(element, pad_name);
    const gulong id = gst_pad_add_probe(pad, type, callback, data, nullptr);
    gst_object_unref(pad);
    return id;
}

void remove_probe(GstElement* element, const char* pad_name, gulong id) {
    if (id == 0) return;
    GstPad* pad = gst_element_get_static_pad(element, pad_name);
    gst_pad_remove_probe(pad, id);
    gst_object_unref(pad);
}

}  // namespace

Result<std::int64_t> Device::to_ns(std::int64_t units) const {
    if (format_ == TimeFormat::kMilliseconds) return units * 1000000;
    if (fps_n_ <= 0 || fps_d_ <= 0) {
        return Error{err::kNoFrameRate, "the device has no frame rate to count frames by"};
    }
    return static_cast<std::int64_t>(gst_util_uint64_scale_round(
        static_cast<guint64>(units), static_cast<guint64>(fps_d_) * GST_SECOND,
        static_cast<guint64>(fps_n_)));
}

Status Device::wait_settled() {
    GstState state = GST_STATE_NULL;
    const auto r = gst_element_get_state(pipeline_, &state, nullptr,
                                         std::chrono::nanoseconds(kPrerollWatchdog).count());
    if (r == GST_STATE_CHANGE_FAILURE) return Error{err::kStateChange, "the device failed to seek"};
    if (r == GST_STATE_CHANGE_ASYNC) {
        return Error{err::kPrerollTimeout, "the device did not settle after a seek in time"};
    }
    return {};
}

Status Device::seek_sound(std::int64_t at) {
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(pipeline_, rate_, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, at,
                          GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE)) {
        return Error{err::kStateChange, "the device refused to seek"};
    }
    return wait_settled();
}

Status Device::seek_video(std::int64_t at) {
    Branches& b = *branches_;
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        return Error{err::kStateChange, "the device refused to pause"};
    }
    const auto one_frame = to_ns(1);
    const std::int64_t frame = one_frame ? std::max<std::int64_t>(*one_frame, 1) : 40000000;
    // A program stream's demuxer may land a second or more after the time
    // asked for: each try starts further back, the last from the start.
    for (const std::int64_t back : {2 * GST_SECOND, 6 * GST_SECOND, std::int64_t{-1}}) {
        const std::int64_t start = back < 0 ? 0 : std::max<std::int64_t>(0, at - back);
        b.landed = -1;
        b.seek_flushed = false;
        b.clip_from = at;
        b.show_preroll = true;
        gulong clips[2] = {0, 0};
        int n = 0;
        for (GstElement* head : {b.video_head, b.audio_head}) {
            if (head != nullptr) {
                clips[n] = add_probe(head, "sink", GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                                     clip_segment, &b.clip_from);
            }
            ++n;
        }
        const gulong watch = add_probe(
            b.video_out, "sink",
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                         GST_PAD_PROBE_TYPE_EVENT_FLUSH),
            +[](GstPad*, GstPadProbeInfo* info, gpointer data) {
                auto* self = static_cast<Branches*>(data);
                if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
                    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
                    std::int64_t none = -1;
                    if (self->seek_flushed && GST_BUFFER_PTS_IS_VALID(buffer)) {
                        self->landed.compare_exchange_strong(
                            none, static_cast<std::int64_t>(GST_BUFFER_PTS(buffer)));
                    }
                } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP) {
                    self->seek_flushed = true;
                }
                return GST_PAD_PROBE_OK;
            },
            &b);
        Status result;
        if (!gst_element_seek(pipeline_, rate_, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH,
                              GST_SEEK_TYPE_SET, start, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE)) {
            result = Error{err::kStateChange, "the device refused to seek"};
        } else {
            const auto deadline = std::chrono::steady_clock::now() + kPrerollWatchdog;
            while (b.landed < 0 && !watch_.ended && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (b.landed < 0) {
                result = Error{err::kPrerollTimeout, "the video showed no picture after a seek"};
            }
        }
        remove_probe(b.video_out, "sink", watch);
        if (b.video_head != nullptr) remove_probe(b.video_head, "sink", clips[0]);
        if (b.audio_head != nullptr) remove_probe(b.audio_head, "sink", clips[1]);
        b.clip_from = -1;
        if (!result) return result;
        if (b.landed < at + frame / 2) break;
    }
    if (b.landed >= at + frame / 2) {
        return Error{err::kCannotDecode, "the video cannot show the picture asked for"};
    }
    b.drawn_pts = b.landed.load();
    if (b.first_pts >= 0 && b.drawn_pts >= b.first_pts) last_position_ = b.drawn_pts - b.first_pts;
    if (b.hook) b.hook->fire();
    return {};
}

Status Device::seek(std::int64_t position) {
    poll_bus();
    if (failure_) return *failure_;
    auto ns = to_ns(position);
    if (!ns) return ns.error();
    const bool video = branches_->video_out != nullptr;
    if (video && branches_->first_pts < 0) {
        return Error{err::kCannotDecode, "the video has shown no picture to count from"};
    }
    // A stream that played out plays again from where it now stands.
    ended_ = false;
    stop_told_ = false;
    watch_.ended = false;
    const Status s = video ? seek_video(branches_->first_pts + *ns) : seek_sound(origin_ + *ns);
    if (s) mode_ = Mode::kPaused;
    return s;
}

Status Device::set_rate(double rate) {
    poll_bus();
    if (rate == rate_) return {};
    rate_ = rate;
    if (ended_) return {};
    const bool playing = mode_ == Mode::kPlaying;
    Status s;
    if (branches_->video_out != nullptr) {
        const std::int64_t drawn = branches_->drawn_pts;
        const std::int64_t at = drawn >= 0 ? drawn : branches_->first_pts.load();
        if (at < 0) return {};
        s = seek_video(at);
    } else {
        gint64 at = 0;
        if (!gst_element_query_position(position_source_, GST_FORMAT_TIME, &at) || at < origin_)
            at = origin_;
        s = seek_sound(at);
    }
    if (s && playing &&
        gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        return Error{err::kStateChange, "the device refused to play"};
    }
    return s;
}

}  // namespace strovia::mci
