#pragma once
// Rendering a posture's schedule into one file, offline and faster than it
// plays: the video decoded and re-timed frame by frame (a hold repeats its
// frame), pictures scaled into the frame, narrations laid on one sound
// track with silence between. GStreamer does the decoding and encoding.

#include <atomic>
#include <functional>
#include <string>

#include "control/error.hpp"
#include "strovia/export_programme.hpp"

namespace strovia::cli {

struct RenderOptions {
    enum class Format { Mp4, Webm };
    Format format = Format::Mp4;
    int width = 640, height = 480;
};

const char* extension(RenderOptions::Format format);

// Opens each file of the posture the way the control's devices and picture
// loader do, and measures the video's frames and each narration's length
// as decoded. Fails with the first file that is missing or damaged.
Result<MediaLengths> measure_media(const ExportPosture& posture);

// Writes the programme to `file`, through a temporary file beside it that
// is renamed at the end; nothing is left behind on failure. `progress`
// gets the share done, 0 to 1; `cancel` stops the render as a failure.
Status render(const ExportPosture& posture, const Schedule& schedule, const MediaLengths& lengths,
              const RenderOptions& options, const std::string& file,
              const std::function<void(double)>& progress, const std::atomic<bool>& cancel);

}  // namespace strovia::cli
