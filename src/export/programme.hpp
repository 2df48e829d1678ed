#pragma once
// What a posture's programme does over time: the control's own programme
// run on a virtual clock against the lengths of its media (src/simulation),
// as when each narration starts, what the picture shows at every moment,
// and where VideoEnd comes. `strovia export` renders from this.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/engine.hpp"
#include "control/error.hpp"
#include "simulation/virtual_run.hpp"

namespace strovia::exporting {

// The rows of a posture as the control takes them, paths formed as the
// control forms them (backslashes, not yet mapped).
struct ExportPosture {
    std::string name;
    bool video = false;
    std::string video_path;
    struct Row {
        std::string narration;  // formed path of the narration file
        std::int16_t start_pos = 0;
        std::string picture;  // photo postures: formed path, empty for an empty box
        std::string action;   // video postures: the row's Action text, as read
    };
    std::vector<Row> rows;
    // What fileOpen reads, for running the programme itself.
    sim::Posture source;
};

// The lengths the programme runs by, as the devices decode them.
struct MediaLengths {
    int video_frames = 0;  // video postures only
    int fps_n = 25, fps_d = 1;
    std::map<std::string, std::int64_t> narration_ns;  // by formed path
    // Their sound as decoded (48 kHz, interleaved stereo), kept while short
    // enough that the render need not decode it a second time.
    std::map<std::string, std::shared_ptr<const std::vector<std::int16_t>>> narration_pcm;
};

struct Schedule {
    struct Narration {
        std::string path;
        std::int64_t at_ns = 0, length_ns = 0;
    };
    // From `from_ns` on, the picture shows a picture file, or the video
    // playing from `frame` on (up to its last frame), or the video held at
    // `frame`.
    struct Shot {
        enum class Kind { Play, Hold, Picture };
        Kind kind = Kind::Play;
        std::int64_t from_ns = 0;
        int frame = 0;
        std::string picture;
    };
    struct Chapter {
        std::string title;
        std::int64_t from_ns = 0, to_ns = 0;
    };
    std::vector<Narration> narrations;
    std::vector<Shot> shots;  // in time order, the first at 0
    std::vector<Chapter> chapters;
    std::int64_t end_ns = 0;  // VideoEnd
    int fps_n = 25, fps_d = 1;

    // The video frame shown at `t_ns` (video postures), or -1 for a picture.
    int frame_at(std::int64_t t_ns, int video_frames) const;
    const Shot& shot_at(std::int64_t t_ns) const;
};

// Reads the posture `name` the way fileOpen looks it up and the programmes
// load their rows. Fails with the reason when the control would play
// nothing or never reach VideoEnd.
Result<ExportPosture> read_posture(CatalogueEngine& engine, const std::string& content,
                                   const std::string& library_folder, const std::string& name);

// The names of the catalogue's postures in table order.
Result<std::vector<std::string>> posture_names(CatalogueEngine& engine, const std::string& content);

// The programme's schedule, from running it. Fails when VideoEnd would
// never come (sim::kNeverEnds) or nothing would play.
Result<Schedule> derive_schedule(const ExportPosture& posture, const MediaLengths& lengths);

std::int64_t frames_to_ns(std::int64_t frames, int fps_n, int fps_d);

}  // namespace strovia::exporting
