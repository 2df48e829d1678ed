#include "mci/device.hpp"

#include "mci/sink_log.hpp"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

namespace strovia::mci {
namespace {

// A stream that neither prerolls nor fails within this time fails the open:
// some damaged files stall a demuxer with neither error nor end of stream.
constexpr auto kPrerollWatchdog = std::chrono::seconds(4);

enum class Format { kProgramStream, kAudioLayer2 };

// The formats this device type stands for are told apart by their first
// bytes, so that no automatic type finding ever picks an unrelated element.
Result<Format> sniff(const std::string& file) {
    // A folder opens for reading here but is no file to play.
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        return Error{err::kFileNotFound, "the path " + file + " is a folder, not a file"};
    }
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) return Error{err::kFileNotFound, "cannot open the file " + file};
    std::array<unsigned char, 4> b{};
    const std::size_t got = std::fread(b.data(), 1, b.size(), f);
    std::fclose(f);
    if (got == 0) return Error{err::kUnsupportedFormat, "the file " + file + " is empty"};
    if (got == 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0xBA) {
        return Format::kProgramStream;
    }
    // MPEG audio frame sync with layer bits 10 (layer II), or a leading ID3 tag.
    if (got >= 2 && b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && ((b[1] >> 1) & 3) == 2) {
        return Format::kAudioLayer2;
    }
    if (got >= 3 && b[0] == 'I' && b[1] == 'D' && b[2] == '3') return Format::kAudioLayer2;
    return Error{err::kUnsupportedFormat, "the file " + file +
                                              " is neither an MPEG program stream nor MPEG "
                                              "audio layer II"};
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

GstFlowReturn on_sample(GstAppSink* sink, gpointer data) {
    auto* slot = static_cast<TargetSlot*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr) return GST_FLOW_EOS;
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
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// Only what the device reads is queued; everything else is dropped at once
// so that an unpolled bus does not grow. A dropped message is ours to free:
// it holds its element, and through it the whole pipeline and its file.
GstBusSyncReply keep_needed(GstBus*, GstMessage* message, gpointer) {
    constexpr int kKept = GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE;
    if ((GST_MESSAGE_TYPE(message) & kKept) != 0) return GST_BUS_PASS;
    gst_message_unref(message);
    return GST_BUS_DROP;
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
// streams.
struct Device::Branches {
    GstElement* pipeline = nullptr;
    Sinks sinks;
    std::shared_ptr<TargetSlot> slot;
    std::string file;
    std::mutex mutex;
    int linked = 0;
    bool has_video = false;
    bool has_audio = false;
    GstElement* video_decoder = nullptr;  // owned by the pipeline
    // The sinks of the video and of the first audio branch (owned by the
    // pipeline): positions are asked of the one that renders the device's
    // picture or sound rather than of every sink of the pipeline.
    GstElement* video_out = nullptr;
    GstElement* audio_out = nullptr;
    std::string failure;

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
        gst_app_sink_set_callbacks(GST_APP_SINK(*sink), &callbacks, slot.get(), nullptr);
        return sink;
    }

    // Builds the video branch (or, with `video` false, the audio branch)
    // and returns its first element, already inside the pipeline.
    Result<GstElement*> branch(bool video) {
        std::array<Result<GstElement*>, 6> parts{
            make("queue"),
            video ? make("mpegvideoparse") : make("mpegaudioparse"),
            video ? make_first({"avdec_mpeg2video", "mpeg2dec"})
                  : make_first({"mpg123audiodec", "avdec_mp2float"}),
            video ? make("videoconvert") : make("audioconvert"),
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
        auto linked_ok = link_chain(
            pipeline, {*parts[0], *parts[1], *parts[2], *parts[3], *parts[4], *parts[5]});
        for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
            gst_element_sync_state_with_parent(**it);
        }
        if (!linked_ok) return linked_ok.error();
        sink_log::watch(*parts[5], video, file);
        if (video) video_decoder = *parts[2];
        (video ? video_out : audio_out) = rendering_sink(*parts[5]);
        return *parts[0];
    }

    Result<GstElement*> discard() {
        auto sink = make("fakesink");
        if (!sink) return sink;
        g_object_set(*sink, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add(GST_BIN(pipeline), *sink);
        gst_element_sync_state_with_parent(*sink);
        return sink;
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
            // Streams of other kinds are read and dropped.
            head = discard();
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

void Device::warm_up(const Sinks& sinks) {
    // Loading a plugin and initialising an element class happen once per
    // process, on the first element of the kind; done here, the first
    // opening no longer waits for them. Missing elements are reported by
    // the opening that needs them.
    for (const char* kind :
         {"filesrc", "mpegpsdemux", "queue", "mpegvideoparse", "mpegaudioparse", "videoconvert",
          "audioconvert", "identity", "audioresample", "appsink", "fakesink"}) {
        if (auto e = make(kind)) drop(*e);
    }
    if (auto e = make_first({"avdec_mpeg2video", "mpeg2dec"})) drop(*e);
    if (auto e = make_first({"mpg123audiodec", "avdec_mp2float"})) drop(*e);
    for (const std::string* d : {&sinks.video, &sinks.audio}) {
        if (auto e = make_sink(*d)) drop(*e);
    }
}

Device::~Device() {
    if (bus_ != nullptr) gst_object_unref(bus_);
    if (pipeline_ != nullptr) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }
}

Result<std::unique_ptr<Device>> Device::open(const std::string& file, const Sinks& sinks,
                                             std::shared_ptr<TargetSlot> slot) {
    auto format = sniff(file);
    if (!format) return format.error();

    std::unique_ptr<Device> d(new Device());
    d->pipeline_ = gst_pipeline_new(nullptr);
    d->slot_ = slot;
    d->branches_ = std::make_unique<Branches>();
    Branches& b = *d->branches_;
    b.pipeline = d->pipeline_;
    b.sinks = sinks;
    b.slot = std::move(slot);
    b.file = file;

    d->bus_ = gst_element_get_bus(d->pipeline_);
    gst_bus_set_sync_handler(d->bus_, keep_needed, nullptr, nullptr);

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
    position_source_ = pipeline_;
    if (branches_->video_out != nullptr)
        position_source_ = branches_->video_out;
    else if (branches_->audio_out != nullptr)
        position_source_ = branches_->audio_out;
    // Streams may start at a time other than zero (a program stream usually
    // does); positions count from the first picture shown.
    gint64 first = 0;
    if (gst_element_query_position(position_source_, GST_FORMAT_TIME, &first) && first > 0)
        origin_ = first;

    if (branches_->video_decoder != nullptr) {
        GstPad* pad = gst_element_get_static_pad(branches_->video_decoder, "src");
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
    while (GstMessage* m = gst_bus_pop(bus_)) {
        // A stream that fails on the way ends like one that played out.
        if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS || GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
            ended_ = true;
            mode_ = Mode::kStopped;
        }
        gst_message_unref(m);
    }
}

Status Device::play() {
    poll_bus();
    if (ended_) {
        // Played out: start again from the beginning rather than do nothing.
        if (!gst_element_seek_simple(
                pipeline_, GST_FORMAT_TIME,
                static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), origin_)) {
            return Error{err::kStateChange, "cannot return to the start of the stream"};
        }
        ended_ = false;
        last_position_ = 0;
    }
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        return Error{err::kStateChange, "the device refused to play"};
    }
    mode_ = Mode::kPlaying;
    return {};
}

Status Device::pause() {
    poll_bus();
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        return Error{err::kStateChange, "the device refused to pause"};
    }
    if (!ended_) mode_ = Mode::kPaused;
    return {};
}

Status Device::stop() {
    poll_bus();
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
    const auto frames =
        gst_util_uint64_scale(static_cast<guint64>(ns), static_cast<guint64>(fps_n_),
                              static_cast<guint64>(fps_d_) * GST_SECOND);
    return std::to_string(frames);
}

Result<std::string> Device::position() {
    poll_bus();
    gint64 pos = 0;
    if (gst_element_query_position(position_source_, GST_FORMAT_TIME, &pos) && pos >= origin_) {
        last_position_ = pos - origin_;
    }
    return as_text(last_position_);
}

Result<std::string> Device::length() {
    gint64 duration = 0;
    if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &duration) || duration < 0) {
        return Error{err::kCannotDecode, "the length of the stream is not known"};
    }
    return as_text(duration);
}

}  // namespace strovia::mci
