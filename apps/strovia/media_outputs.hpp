#pragma once
// The media outputs the tests and benchmarks choose for the programs:
// GStreamer launch descriptions in STROVIA_AUDIO_SINK and STROVIA_VIDEO_SINK,
// and a sink log file in STROVIA_SINK_LOG. The library itself reads no
// environment; the programs hand these over.

#include <cstdlib>
#include <string>

#ifdef STROVIA_HAVE_PLAY
#include <QString>

#include "strovia/video_cntl_widget.hpp"
#endif

namespace strovia::cli {

struct MediaOutputNames {
    std::string audio_sink;
    std::string video_sink;
    std::string sink_log;
};

inline MediaOutputNames media_outputs_from_environment() {
    auto get = [](const char* name) {
        const char* v = std::getenv(name);
        return v != nullptr ? std::string(v) : std::string();
    };
    return {get("STROVIA_AUDIO_SINK"), get("STROVIA_VIDEO_SINK"), get("STROVIA_SINK_LOG")};
}

#ifdef STROVIA_HAVE_PLAY
inline VideoCntlWidget::MediaOutputs widget_outputs() {
    const auto names = media_outputs_from_environment();
    return {QString::fromStdString(names.audio_sink), QString::fromStdString(names.video_sink),
            QString::fromStdString(names.sink_log)};
}
#endif

}  // namespace strovia::cli
