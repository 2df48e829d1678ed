#pragma once
// Rendering a posture's schedule into one file, offline and faster than it
// plays: the video decoded and re-timed frame by frame (a hold repeats its
// frame), pictures scaled into the frame, narrations laid on one sound
// track with silence between. GStreamer does the decoding and encoding.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "control/error.hpp"
#include "export/programme.hpp"

namespace strovia::exporting {

struct RenderOptions {
    enum class Format { Mp4, Webm };
    Format format = Format::Mp4;
    int width = 640, height = 480;
};

const char* extension(RenderOptions::Format format);

// Opens each file of the posture the way the control's devices and picture
// loader do, and measures the video's frames and each narration's length
// as decoded, keeping up to `keep_sound_bytes` of decoded narration for
// the render (about three minutes by default; the rest is decoded again).
// Fails with the first file that is missing or damaged. `cancel` ends it
// at once as a failure.
Result<MediaLengths> measure_media(const ExportPosture& posture, const std::atomic<bool>& cancel,
                                   std::size_t keep_sound_bytes = std::size_t{32} << 20);

// The name a file is written under until it is complete: beside it, with
// its name, the kind of part and this process's number.
std::string temp_beside(const std::string& file, const char* kind);

// Removes the parts that exports killed before they could clean up left in
// `folder` (those of running exports stay). Returns their names.
std::vector<std::string> remove_leftovers(const std::string& folder);

// Removes this process's own parts from `folder`, for an end in haste.
void remove_own_parts(const std::string& folder);

// Writes the programme to `file`, through temporary files beside it; the
// complete file is renamed over any earlier one at the end, and nothing is
// left behind on failure. `progress`
// gets the share done, 0 to 1; `cancel` stops the render as a failure.
Status render(const ExportPosture& posture, const Schedule& schedule, const MediaLengths& lengths,
              const RenderOptions& options, const std::string& file,
              const std::function<void(double)>& progress, const std::atomic<bool>& cancel);

}  // namespace strovia::exporting
