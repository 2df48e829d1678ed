#include "export/render.hpp"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <unistd.h>

#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>

#include "mci/interpreter.hpp"
#include "platform/paths.hpp"
#include "playback/commands.hpp"

namespace strovia::exporting {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kMediaFault = 9202;
constexpr std::int32_t kRenderFault = 9203;
constexpr int kRate = 48000;                  // the sound track's samples a second
constexpr std::size_t kChunk = 1024;          // samples a sound buffer
constexpr std::int64_t kKeyframeSeconds = 2;  // so chapters seek quickly
// Some damaged streams stall a demuxer with neither an error nor an end.
constexpr GstClockTime kStallLimit = 10 * GST_SECOND;
// How long any wait lasts before it looks at the cancel flag again.
constexpr GstClockTime kSlice = 100 * GST_MSECOND;
constexpr const char* kAudioCaps =
    "audio/x-raw,format=S16LE,rate=48000,channels=2,layout=interleaved";

std::string bus_error(GstElement* pipeline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    std::string text;
    if (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        GError* e = nullptr;
        gst_message_parse_error(m, &e, nullptr);
        text = e ? e->message : "unknown error";
        if (e) g_error_free(e);
        gst_message_unref(m);
    }
    gst_object_unref(bus);
    return text;
}

// A pipeline from a launch description, stopped and freed with its owner.
class Pipeline {
public:
    static Result<std::unique_ptr<Pipeline>> make(const std::string& description) {
        GError* error = nullptr;
        GstElement* p = gst_parse_launch(description.c_str(), &error);
        if (error != nullptr) {
            std::string text = error->message;
            g_error_free(error);
            if (p) gst_object_unref(p);
            return Error{kRenderFault, "cannot build the pipeline: " + text};
        }
        return std::unique_ptr<Pipeline>(new Pipeline(p));
    }
    ~Pipeline() {
        gst_element_set_state(p_, GST_STATE_NULL);
        gst_object_unref(p_);
    }
    GstElement* get() const { return p_; }
    GstElement* element(const char* name) const {
        GstElement* e = gst_bin_get_by_name(GST_BIN(p_), name);
        if (e) gst_object_unref(e);  // the pipeline keeps it
        return e;
    }
    Status play() {
        if (gst_element_set_state(p_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            return Error{kMediaFault, "cannot start: " + bus_error(p_)};
        }
        return {};
    }

private:
    explicit Pipeline(GstElement* p) : p_(p) {}
    GstElement* p_;
};

// Decoded samples of one file, pulled one by one from an appsink "out".
class Decoder {
public:
    static Result<std::unique_ptr<Decoder>> open(const std::string& file, const std::string& chain,
                                                 const std::atomic<bool>& cancel) {
        auto p = Pipeline::make("filesrc name=src ! " + chain +
                                " ! appsink name=out sync=false max-buffers=8");
        if (!p) return p.error();
        g_object_set((*p)->element("src"), "location", file.c_str(), nullptr);
        if (auto s = (*p)->play(); !s) return s.error();
        return std::unique_ptr<Decoder>(new Decoder(std::move(*p), cancel));
    }
    // The next sample, or none at the end; a decoding failure, a stall or
    // a cancel is an error. Waits in short slices so a signal is heard.
    Result<GstSample*> next() {
        GstAppSink* sink = GST_APP_SINK(p_->element("out"));
        GstSample* s = nullptr;
        for (GstClockTime waited = 0; s == nullptr && waited < kStallLimit; waited += kSlice) {
            if (cancel_) return Error{kRenderFault, "interrupted"};
            s = gst_app_sink_try_pull_sample(sink, kSlice);
            if (s != nullptr || gst_app_sink_is_eos(sink)) break;
            const std::string e = bus_error(p_->get());
            if (!e.empty()) return Error{kMediaFault, "cannot be decoded: " + e};
        }
        if (s == nullptr) {
            const std::string e = bus_error(p_->get());
            if (!e.empty()) return Error{kMediaFault, "cannot be decoded: " + e};
            if (!gst_app_sink_is_eos(sink)) {
                return Error{kMediaFault, "decoding stalled: nothing came for 10 s"};
            }
        }
        return s;
    }

private:
    Decoder(std::unique_ptr<Pipeline> p, const std::atomic<bool>& cancel)
        : p_(std::move(p)), cancel_(cancel) {}
    std::unique_ptr<Pipeline> p_;
    const std::atomic<bool>& cancel_;
};

const std::string kNarrationChain =
    std::string("mpegaudioparse ! mpg123audiodec ! audioconvert ! audioresample ! ") + kAudioCaps;

// One decoding thread: beside the encoders, a pool of them costs more in
// handing frames over than it saves on pictures this small.
std::string video_chain(int w, int h) {
    return "mpegpsdemux ! mpegvideoparse ! avdec_mpeg2video max-threads=1 ! videoconvert ! "
           "videoscale method=bilinear2 add-borders=true ! video/x-raw,format=I420,width=" +
           std::to_string(w) + ",height=" + std::to_string(h) +
           ",pixel-aspect-ratio=1/1,colorimetry=bt601";
}

// Opens the file on the devices the control plays with (a file they refuse
// is one the programme never gets past) and, for a video, tells its length
// in frames as the programme counts them.
Result<int> open_as_device(mci::Interpreter& mci, const std::string& formed, bool video) {
    std::error_code ec;
    const fs::path file = platform::map_path(formed);
    if (!fs::is_regular_file(file, ec)) return Error{kMediaFault, file.string() + ": missing"};
    auto r = mci.run("open " + commands::path_token(formed) + " alias chk type mpegVideo");
    if (!r) return Error{kMediaFault, file.string() + ": cannot be played: " + r.error().text};
    Result<std::string> length = std::string("0");
    if (video) {
        length = mci.run("set chk time format frames");
        if (length) length = mci.run("status chk length");
    }
    (void)mci.run("close chk");
    if (!length) return Error{kMediaFault, file.string() + ": no length: " + length.error().text};
    const int frames = std::atoi(length->c_str());
    if (video && frames <= 0) return Error{kMediaFault, file.string() + ": no frames"};
    return frames;
}

Result<QImage> load_picture(const std::string& formed) {
    // As the control's picture box reads it: by content, never by name.
    const QString file = QString::fromStdString(platform::map_path(formed));
    if (!QFileInfo(file).isFile()) return Error{kMediaFault, file.toStdString() + ": missing"};
    QImageReader reader(file);
    reader.setAutoTransform(false);
    reader.setDecideFormatFromContent(true);
    QImage image = reader.read();
    if (image.isNull()) {
        return Error{kMediaFault, file.toStdString() + ": not a picture (" +
                                      reader.errorString().toStdString() + ")"};
    }
    return image;
}

// The picture scaled into the frame with its aspect kept, black around it.
QImage letterboxed(const QImage& image, int w, int h) {
    QImage frame(w, h, QImage::Format_RGBX8888);
    frame.fill(Qt::black);
    if (!image.isNull()) {
        const QImage scaled = image.scaled(w, h, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&frame);
        painter.drawImage((w - scaled.width()) / 2, (h - scaled.height()) / 2, scaled);
    }
    return frame;
}

// One frame of the picture track: 4:2:0 with the BT.601 studio range the
// decoded video has, so pictures and video need no conversion on the way.
GstBuffer* frame_of(const QImage& rgb) {
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, static_cast<guint>(rgb.width()),
                              static_cast<guint>(rgb.height()));
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    auto plane = [&](int p) { return map.data + GST_VIDEO_INFO_PLANE_OFFSET(&info, p); };
    auto stride = [&](int p) { return GST_VIDEO_INFO_PLANE_STRIDE(&info, p); };
    auto px = [&](int x, int y) { return rgb.constScanLine(y) + 4 * x; };
    auto clamp = [](double v) {
        return static_cast<std::uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
    };
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const std::uint8_t* c = px(x, y);
            plane(0)[y * stride(0) + x] =
                clamp(16 + (65.481 * c[0] + 128.553 * c[1] + 24.966 * c[2]) / 255);
        }
    }
    for (int y = 0; y + 1 < rgb.height(); y += 2) {
        for (int x = 0; x + 1 < rgb.width(); x += 2) {
            double r = 0, g = 0, b = 0;
            for (const auto* c : {px(x, y), px(x + 1, y), px(x, y + 1), px(x + 1, y + 1)}) {
                r += c[0] / 4.0;
                g += c[1] / 4.0;
                b += c[2] / 4.0;
            }
            plane(1)[y / 2 * stride(1) + x / 2] =
                clamp(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255);
            plane(2)[y / 2 * stride(2) + x / 2] =
                clamp(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255);
        }
    }
    gst_buffer_unmap(buffer, &map);
    return buffer;
}

std::string encoder_chain(const RenderOptions& o, int fps_n, int fps_d) {
    const std::int64_t key = std::max<std::int64_t>(1, kKeyframeSeconds * fps_n / fps_d);
    const std::string vcaps =
        "video/x-raw,format=I420,colorimetry=bt601,width=" + std::to_string(o.width) +
        ",height=" + std::to_string(o.height) + ",framerate=" + std::to_string(fps_n) + "/" +
        std::to_string(fps_d) + ",pixel-aspect-ratio=1/1";
    // Unbounded queues after the encoders: the muxer waits for both tracks
    // while an encoder holds frames back for its look-ahead.
    const std::string hold = "queue max-size-buffers=0 max-size-bytes=0 max-size-time=0";
    std::string video =
        "appsrc name=v format=time block=false max-bytes=0 max-buffers=4 caps=\"" + vcaps + "\" ! ";
    std::string audio = "appsrc name=a format=time block=false max-bytes=0 max-buffers=16 caps=\"" +
                        std::string(kAudioCaps) + "\" ! audioconvert ! ";
    if (o.format == RenderOptions::Format::Mp4) {
        video += "x264enc speed-preset=veryfast key-int-max=" + std::to_string(key) +
                 " ! video/x-h264,profile=high ! h264parse ! " + hold + " ! mux. ";
        audio += "avenc_aac bitrate=128000 ! aacparse ! " + hold + " ! mux. ";
        return video + audio + "mp4mux name=mux faststart=true ! filesink name=sink";
    }
    video +=
        "vp9enc deadline=1 cpu-used=8 row-mt=true threads=2 target-bitrate=1000000 "
        "keyframe-max-dist=" +
        std::to_string(key) + " ! " + hold + " ! mux. ";
    audio += "opusenc bitrate=96000 ! " + hold + " ! mux. ";
    return video + audio + "webmmux name=mux ! filesink name=sink";
}

// Appends the samples of a decoded sound buffer.
void append_sound(GstSample* sample, std::vector<std::int16_t>& to) {
    GstBuffer* b = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (b && gst_buffer_map(b, &map, GST_MAP_READ)) {
        const auto* data = reinterpret_cast<const std::int16_t*>(map.data);
        to.insert(to.end(), data, data + map.size / sizeof(std::int16_t));
        gst_buffer_unmap(b, &map);
    }
}

// The sound track in order: each narration at its moment, silence between.
class SoundFeed {
public:
    SoundFeed(const Schedule& s, const MediaLengths& l, const std::atomic<bool>& cancel)
        : s_(s), l_(l), total_(samples(s.end_ns)), cancel_(cancel) {}

    bool done() const { return at_ >= total_; }
    std::int64_t next_ns() const { return at_ * 1000000000LL / kRate; }

    Result<GstBuffer*> next() {
        const std::int64_t count =
            std::min<std::int64_t>(static_cast<std::int64_t>(kChunk), total_ - at_);
        std::vector<std::int16_t> pcm(static_cast<std::size_t>(count) * 2, 0);
        std::int64_t filled = 0;
        while (filled < count) {
            const std::int64_t here = at_ + filled;
            // Start the narration whose moment has come: from the sound
            // kept when it was measured, or decoded now.
            if (!sounding_ && cue_ < s_.narrations.size() &&
                here >= samples(s_.narrations[cue_].at_ns)) {
                const std::string& path = s_.narrations[cue_].path;
                if (auto kept = l_.narration_pcm.find(path); kept != l_.narration_pcm.end()) {
                    pending_ = kept->second;
                } else {
                    auto d = Decoder::open(platform::map_path(path), kNarrationChain, cancel_);
                    if (!d) return d.error();
                    decoder_ = std::move(*d);
                }
                sounding_ = true;
                cue_end_ = cue_ + 1 < s_.narrations.size() ? samples(s_.narrations[cue_ + 1].at_ns)
                                                           : total_;
                ++cue_;
            }
            if (sounding_ && here >= cue_end_) {
                fall_silent();  // never into the next narration's moment
                continue;
            }
            if (sounding_ && (!pending_ || pending_at_ >= pending_->size())) {
                if (!decoder_) {
                    fall_silent();
                    continue;
                }
                auto sample = decoder_->next();
                if (!sample) return sample.error();
                if (*sample == nullptr) {
                    fall_silent();
                    continue;
                }
                auto chunk = std::make_shared<std::vector<std::int16_t>>();
                append_sound(*sample, *chunk);
                gst_sample_unref(*sample);
                pending_ = std::move(chunk);
                pending_at_ = 0;
                continue;
            }
            if (sounding_) {
                const std::int64_t take = std::min<std::int64_t>(
                    {count - filled, static_cast<std::int64_t>(pending_->size() - pending_at_) / 2,
                     cue_end_ - here});
                std::copy_n(pending_->begin() + static_cast<std::ptrdiff_t>(pending_at_), take * 2,
                            pcm.begin() + filled * 2);
                pending_at_ += static_cast<std::size_t>(take) * 2;
                filled += take;
                continue;
            }
            // Silence up to the next narration's moment or the chunk's end.
            std::int64_t until = at_ + count;
            if (cue_ < s_.narrations.size())
                until = std::min(until, samples(s_.narrations[cue_].at_ns));
            filled += std::max<std::int64_t>(1, until - here);
            filled = std::min(filled, count);
        }
        GstBuffer* buffer = gst_buffer_new_memdup(pcm.data(), pcm.size() * sizeof(std::int16_t));
        GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(next_ns());
        at_ += count;
        GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(next_ns()) - GST_BUFFER_PTS(buffer);
        return buffer;
    }

    static std::int64_t samples(std::int64_t ns) {
        return (ns * kRate + 500000000LL) / 1000000000LL;
    }

private:
    void fall_silent() {
        sounding_ = false;
        decoder_.reset();
        pending_.reset();
        pending_at_ = 0;
    }

    const Schedule& s_;
    const MediaLengths& l_;
    std::int64_t total_;
    const std::atomic<bool>& cancel_;
    std::int64_t at_ = 0;
    std::size_t cue_ = 0;
    std::int64_t cue_end_ = 0;
    bool sounding_ = false;
    std::unique_ptr<Decoder> decoder_;
    std::shared_ptr<const std::vector<std::int16_t>> pending_;
    std::size_t pending_at_ = 0;
};

// The picture track, one buffer per frame: the video's frame of the
// moment (decoded in order, since the schedule never goes back), or the
// picture of the moment.
class PictureFeed {
public:
    PictureFeed(const ExportPosture& p, const Schedule& s, const MediaLengths& l,
                const RenderOptions& o, const std::atomic<bool>& cancel)
        : p_(p), s_(s), l_(l), o_(o), cancel_(cancel) {
        while (frames_to_ns(count_, s.fps_n, s.fps_d) < s.end_ns) ++count_;
    }
    ~PictureFeed() {
        if (last_) gst_sample_unref(last_);
    }

    bool done() const { return index_ >= count_; }
    std::int64_t next_ns() const { return frames_to_ns(index_, s_.fps_n, s_.fps_d); }

    Result<GstBuffer*> next() {
        const std::int64_t t = next_ns();
        GstBuffer* buffer = nullptr;
        if (p_.video) {
            const int want = s_.frame_at(t, l_.video_frames);
            if (!decoder_) {
                auto d = Decoder::open(platform::map_path(p_.video_path),
                                       video_chain(o_.width, o_.height), cancel_);
                if (!d) return d.error();
                decoder_ = std::move(*d);
            }
            while (decoded_ < want && !ended_) {
                auto sample = decoder_->next();
                if (!sample) return sample.error();
                if (*sample == nullptr) {
                    ended_ = true;  // fewer frames than counted: the last stays
                    break;
                }
                if (last_) gst_sample_unref(last_);
                last_ = *sample;
                ++decoded_;
            }
            if (!last_) return Error{kMediaFault, p_.video_path + ": no picture decoded"};
            buffer = gst_buffer_copy(gst_sample_get_buffer(last_));
        } else {
            const std::string& path = s_.shot_at(t).picture;
            auto it = pictures_.find(path);
            if (it == pictures_.end()) {
                QImage image;
                if (!path.empty()) {
                    auto loaded = load_picture(path);
                    if (!loaded) return loaded.error();
                    image = *loaded;
                }
                GstBuffer* frame = frame_of(letterboxed(image, o_.width, o_.height));
                it = pictures_.emplace(path, std::shared_ptr<GstBuffer>(frame, gst_buffer_unref))
                         .first;
            }
            buffer = gst_buffer_copy(it->second.get());
        }
        GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(t);
        ++index_;
        GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(std::min(next_ns(), s_.end_ns) - t);
        return buffer;
    }

private:
    const ExportPosture& p_;
    const Schedule& s_;
    const MediaLengths& l_;
    const RenderOptions& o_;
    const std::atomic<bool>& cancel_;
    std::int64_t count_ = 0, index_ = 0;
    std::unique_ptr<Decoder> decoder_;
    GstSample* last_ = nullptr;
    int decoded_ = -1;
    bool ended_ = false;
    std::map<std::string, std::shared_ptr<GstBuffer>> pictures_;
};

}  // namespace

const char* extension(RenderOptions::Format format) {
    return format == RenderOptions::Format::Mp4 ? "mp4" : "webm";
}

Result<MediaLengths> measure_media(const ExportPosture& posture, const std::atomic<bool>& cancel,
                                   std::size_t keep_sound_bytes) {
    gst_init(nullptr, nullptr);
    MediaLengths lengths;
    auto made = mci::Interpreter::create({"fakesink", "fakesink", ""});
    if (!made) return made.error();
    auto& mci = **made;

    if (posture.video) {
        auto frames = open_as_device(mci, posture.video_path, true);
        if (!frames) return frames.error();
        lengths.video_frames = *frames;
        auto d = Decoder::open(platform::map_path(posture.video_path), video_chain(16, 16), cancel);
        if (!d) return d.error();
        auto first = (*d)->next();
        if (!first || *first == nullptr) {
            return Error{kMediaFault,
                         platform::map_path(posture.video_path) + ": no picture can be decoded"};
        }
        const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(*first), 0);
        const bool rated =
            gst_structure_get_fraction(caps, "framerate", &lengths.fps_n, &lengths.fps_d) &&
            lengths.fps_n > 0 && lengths.fps_d > 0;
        gst_sample_unref(*first);
        // The programme counts the video in frames; without a rate it
        // never reaches a boundary.
        if (!rated) {
            return Error{kMediaFault, platform::map_path(posture.video_path) + ": no frame rate"};
        }
    }
    for (const auto& row : posture.rows) {
        if (!posture.video && !row.picture.empty()) {
            if (auto image = load_picture(row.picture); !image) return image.error();
        }
        if (lengths.narration_ns.contains(row.narration)) continue;
        if (auto s = open_as_device(mci, row.narration, false); !s) return s.error();
        auto d = Decoder::open(platform::map_path(row.narration), kNarrationChain, cancel);
        if (!d) return d.error();
        // Kept only while it fits: a long narration is never held whole.
        auto pcm = std::make_shared<std::vector<std::int16_t>>();
        std::size_t bytes = 0;
        while (true) {
            auto sample = (*d)->next();
            if (!sample) {
                return Error{kMediaFault,
                             platform::map_path(row.narration) + ": " + sample.error().text};
            }
            if (*sample == nullptr) break;
            bytes += gst_buffer_get_size(gst_sample_get_buffer(*sample));
            if (pcm && bytes <= keep_sound_bytes) {
                append_sound(*sample, *pcm);
            } else {
                pcm.reset();
            }
            gst_sample_unref(*sample);
        }
        lengths.narration_ns[row.narration] =
            static_cast<std::int64_t>(bytes / 4) * 1000000000LL / kRate;
        if (pcm) {
            keep_sound_bytes -= bytes;
            lengths.narration_pcm[row.narration] = std::move(pcm);
        }
    }
    return lengths;
}

std::string temp_beside(const std::string& file, const char* kind) {
    return file + "." + kind + "-" + std::to_string(::getpid());
}

namespace {
// Ours are NAME.part-PID and NAME.mux-PID, NAME one of the files an
// export writes; earlier builds hid theirs behind a dot. Nothing else in
// the folder is touched.
const std::regex& part_name() {
    static const std::regex name(R"(^.+\.(mp4|webm|vtt|html|js|xml)\.(part|mux)-([0-9]{1,9})$)");
    return name;
}

// The package's part lies beside the folder: FOLDER.zip.part-PID.
std::string package_part_prefix(const std::string& folder) {
    std::error_code ec;
    fs::path f = fs::absolute(folder, ec).lexically_normal();
    if (f.filename().empty()) f = f.parent_path();
    return f.string() + ".zip.part-";
}

// Calls `found(path, pid)` for each part in `folder` and each part of its
// package beside it.
template <typename Found>
void each_part(const std::string& folder, Found found) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::smatch m;
        if (std::regex_match(name, m, part_name()) && it->is_regular_file(ec)) {
            found(it->path(), m[3].str());
        }
    }
    const std::string prefix = package_part_prefix(folder);
    const fs::path beside = fs::path(prefix).parent_path();
    const std::string stem = fs::path(prefix).filename().string();
    for (fs::directory_iterator it(beside, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string pid = name.substr(std::min(name.size(), stem.size()));
        if (name.rfind(stem, 0) == 0 && !pid.empty() && pid.size() <= 9 &&
            pid.find_first_not_of("0123456789") == std::string::npos && it->is_regular_file(ec)) {
            found(it->path(), pid);
        }
    }
}
}  // namespace

void remove_own_parts(const std::string& folder) {
    const std::string me = std::to_string(::getpid());
    each_part(folder, [&](const fs::path& path, const std::string& pid) {
        std::error_code gone;
        if (pid == me) fs::remove(path, gone);
    });
}

std::vector<std::string> remove_leftovers(const std::string& folder) {
    // A live process's parts are left to it.
    std::vector<std::string> removed;
    each_part(folder, [&](const fs::path& path, const std::string& number) {
        const auto pid = static_cast<pid_t>(std::stol(number));
        if (pid != ::getpid() && (::kill(pid, 0) == 0 || errno != ESRCH)) return;
        std::error_code gone;
        if (fs::remove(path, gone)) removed.push_back(path.filename().string());
    });
    return removed;
}

Status render(const ExportPosture& posture, const Schedule& schedule, const MediaLengths& lengths,
              const RenderOptions& options, const std::string& file,
              const std::function<void(double)>& progress, const std::atomic<bool>& cancel) {
    gst_init(nullptr, nullptr);
    // The muxer's own scratch file too goes beside the output, not to the
    // temporary folder: one folder to have room in, one place to clean.
    struct Cleanup {
        std::vector<fs::path> paths;
        ~Cleanup() {
            std::error_code ec;
            for (const auto& p : paths) fs::remove(p, ec);
        }
    } cleanup{{temp_beside(file, "part"), temp_beside(file, "mux")}};
    const fs::path& temp = cleanup.paths[0];

    Status result;
    {
        auto p = Pipeline::make(encoder_chain(options, schedule.fps_n, schedule.fps_d));
        if (!p) return p.error();
        Pipeline& pipe = **p;
        g_object_set(pipe.element("sink"), "location", temp.c_str(), nullptr);
        if (options.format == RenderOptions::Format::Mp4) {
            g_object_set(pipe.element("mux"), "faststart-file", cleanup.paths[1].c_str(), nullptr);
        }
        if (auto s = pipe.play(); !s) return s;
        GstAppSrc* vsrc = GST_APP_SRC(pipe.element("v"));
        GstAppSrc* asrc = GST_APP_SRC(pipe.element("a"));
        GstBus* bus = gst_element_get_bus(pipe.get());
        auto failure = [&](GstMessage* m) {
            GError* e = nullptr;
            gst_message_parse_error(m, &e, nullptr);
            Error error{kRenderFault,
                        std::string("encoding failed: ") + (e ? e->message : "unknown error")};
            if (e) g_error_free(e);
            gst_message_unref(m);
            return error;
        };
        // The sources never block: a push that waits on a stopped muxer
        // would wait for good, deaf to errors and signals. Room is waited
        // for here instead, in slices, with the bus and the flag heard.
        auto room = [&](GstAppSrc* src) -> Status {
            while (true) {
                if (cancel) return Error{kRenderFault, "interrupted"};
                if (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) return failure(m);
                if (gst_app_src_get_current_level_buffers(src) < gst_app_src_get_max_buffers(src)) {
                    return {};
                }
                if (GstMessage* m =
                        gst_bus_timed_pop_filtered(bus, 10 * GST_MSECOND, GST_MESSAGE_ERROR)) {
                    return failure(m);
                }
            }
        };

        PictureFeed pictures(posture, schedule, lengths, options, cancel);
        SoundFeed sound(schedule, lengths, cancel);
        int shown = -1;
        while (!pictures.done() || !sound.done()) {
            const bool picture_first =
                !pictures.done() && (sound.done() || pictures.next_ns() <= sound.next_ns());
            GstAppSrc* src = picture_first ? vsrc : asrc;
            if (result = room(src); !result) break;
            auto buffer = picture_first ? pictures.next() : sound.next();
            if (!buffer) {
                result = buffer.error();
                break;
            }
            if (gst_app_src_push_buffer(src, *buffer) != GST_FLOW_OK) {
                result = Error{kRenderFault, "the encoder stopped: " + bus_error(pipe.get())};
                break;
            }
            const int percent =
                static_cast<int>(100 * std::min(pictures.next_ns(), sound.next_ns()) /
                                 std::max<std::int64_t>(1, schedule.end_ns));
            if (percent != shown) {
                shown = percent;
                progress(std::min(percent, 100) / 100.0);
            }
        }
        if (result) {
            gst_app_src_end_of_stream(vsrc);
            gst_app_src_end_of_stream(asrc);
            GstMessage* m = nullptr;
            while (!m && !cancel) {
                m = gst_bus_timed_pop_filtered(
                    bus, kSlice, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
            }
            if (!m) {
                result = Error{kRenderFault, "interrupted"};
            } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
                result = failure(m);
            } else {
                gst_message_unref(m);
            }
        }
        gst_object_unref(bus);
    }  // the pipeline is stopped and the file closed here
    if (!result) return result;
    std::error_code ec;
    fs::rename(temp, file, ec);
    if (ec) return Error{kRenderFault, "cannot write " + file + ": " + ec.message()};
    return {};
}

}  // namespace strovia::exporting
