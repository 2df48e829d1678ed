#include "control/video_cntl.hpp"

#include <cstdio>
#include <utility>

namespace strovia {
namespace {

constexpr std::string_view kResourcedirKey = "Resourcedir";
constexpr std::string_view kAsanaNaMEKey = "AsanaNaME";
constexpr std::string_view kPropertyDefault = "0";

// Dispatch failures carry the numbers a dispatch interface reports.
constexpr std::int32_t kMemberNotFound = static_cast<std::int32_t>(0x80020003u);
constexpr std::int32_t kBadParamCount = static_cast<std::int32_t>(0x8002000Eu);

Error member_not_found(DispId id, InvokeKind kind) {
    const char* what = kind == InvokeKind::Method        ? "method"
                       : kind == InvokeKind::PropertyGet ? "property get"
                                                         : "property put";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(id));
    return {kMemberNotFound,
            std::string("Member not found: no ") + what + " with dispatch id " + hex};
}

Error bad_param_count(std::size_t expected, std::size_t given) {
    return {kBadParamCount, "Invalid number of parameters: expected " + std::to_string(expected) +
                                ", given " + std::to_string(given)};
}

Result<Variant> empty_result(const Status& s) {
    if (!s) return s.error();
    return Variant{Empty{}};
}

}  // namespace

VideoCntl::VideoCntl(Host& host, MediaChannel& channel, EngineHolder& engines)
    : host_(host), channel_(channel), engines_(engines) {
    host_.timer1().set_enabled(false);
    host_.timer1().set_interval(kTimer1Interval);
    host_.timer2().set_enabled(false);
    host_.timer2().set_interval(kTimer2Interval);
}

VideoCntl::~VideoCntl() {
    host_.timer1().set_enabled(false);
    host_.timer2().set_enabled(false);
}

void VideoCntl::BeginRun(Run run, bool ended) {
    run_ = run;
    ++run_epoch_;
    paused_ = false;
    ended_ = ended;
    repeat_left_ = 0;
    if (run == Run::None && !ended) posture_not_found_ = false;
    // A run that shows something starts on its first part; the end keeps
    // the last one.
    if (!ended) part_ = run == Run::Video || run == Run::VideoPreview || run == Run::Photo ? 1 : 0;
}

VideoCntl::Phase VideoCntl::phase() const {
    switch (run_) {
        case Run::None: return ended_ ? Phase::Ended : Phase::Idle;
        case Run::StartingVideo:
        case Run::StartingPhoto: return Phase::Starting;
        case Run::VideoPreview: return paused_ ? Phase::Paused : Phase::Previewing;
        case Run::Video:
            if (paused_) return Phase::Paused;
            // "Pause" also marks the last segment, where the video runs on.
            return VideoState == "Pause" && !ListDone ? Phase::Held : Phase::Playing;
        case Run::Photo:
            if (paused_) return Phase::Paused;
            return PhotoPreview ? Phase::Previewing : Phase::Playing;
    }
    return Phase::Idle;
}

std::string VideoCntl::Resourcedir() const { return StoredResourcedir; }

void VideoCntl::Resourcedir(std::string value) {
    StoredResourcedir = std::move(value);
    host_.property_changed(kResourcedirKey);
}

std::string VideoCntl::AsanaNaME() const { return StoredAsanaNaME; }

void VideoCntl::AsanaNaME(std::string value) {
    StoredAsanaNaME = std::move(value);
    host_.property_changed(kAsanaNaMEKey);
}

Status VideoCntl::UserControl_InitProperties() {
    StoredResourcedir = std::string(kPropertyDefault);
    StoredAsanaNaME = std::string(kPropertyDefault);
    return {};
}

Status VideoCntl::UserControl_ReadProperties(PropertyStore& store) {
    auto dir = store.read(kResourcedirKey, kPropertyDefault);
    if (!dir) return dir.error();
    StoredResourcedir = std::move(*dir);
    auto name = store.read(kAsanaNaMEKey, kPropertyDefault);
    if (!name) return name.error();
    StoredAsanaNaME = std::move(*name);
    return {};
}

Status VideoCntl::UserControl_WriteProperties(PropertyStore& store) const {
    if (auto s = store.write(kResourcedirKey, StoredResourcedir, kPropertyDefault); !s) return s;
    return store.write(kAsanaNaMEKey, StoredAsanaNaME, kPropertyDefault);
}

Result<Variant> VideoCntl::invoke(DispId id, InvokeKind kind, std::span<const Variant> args) {
    const bool is_property = id == dispid::kResourcedir || id == dispid::kAsanaNaME;
    if (is_property == (kind == InvokeKind::Method)) return member_not_found(id, kind);

    const std::size_t expected = kind == InvokeKind::PropertyPut ? 1 : 0;
    auto check_args = [&]() -> Status {
        if (args.size() != expected) return bad_param_count(expected, args.size());
        return {};
    };

    if (is_property) {
        if (auto s = check_args(); !s) return s.error();
        const bool dir = id == dispid::kResourcedir;
        if (kind == InvokeKind::PropertyGet) return Variant{dir ? Resourcedir() : AsanaNaME()};
        // A put of an empty variant stores the empty string, as a string
        // parameter by value receives it.
        const auto* text = std::get_if<std::string>(&args[0]);
        std::string value = text ? *text : std::string();
        if (dir) {
            Resourcedir(std::move(value));
        } else {
            AsanaNaME(std::move(value));
        }
        return Variant{Empty{}};
    }

    auto method = [&](auto&& call) -> Result<Variant> {
        if (auto s = check_args(); !s) return s.error();
        return call();
    };
    switch (id) {
        case dispid::kFileOpen: return method([&] { return empty_result(fileOpen()); });
        case dispid::kInitAudio: return method([&] { return empty_result(InitAudio()); });
        case dispid::kInitVideo: return method([&] { return empty_result(InitVideo()); });
        case dispid::kStopPlay: return method([&] { return StopPlay(); });
        case dispid::kPreview: return method([&] { return Preview(); });
        case dispid::kPause: return method([&] { return Pause(); });
        case dispid::kStart: return method([&] { return Start(); });
        case dispid::kPpreview: return method([&] { return Ppreview(); });
        default: return member_not_found(id, kind);
    }
}

}  // namespace strovia
