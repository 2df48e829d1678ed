#pragma once
// A posture's programme played on a virtual clock: the control's own
// fileOpen, InitVideo/InitAudio and tick handlers run against a host whose
// timers follow that clock and a media channel that answers from the
// lengths of the media, so that what the programme does over time (holds,
// narration starts, pictures, VideoEnd) is known without playing anything.
// The export renders from the record, and the player shows the timeline.
//
// Plain C++ like the core: no platform header, no thread, no file access.
// The catalogue is not opened: the posture's rows, read once by the row
// reader, are served to the control from memory.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalogue/posture_rows.hpp"
#include "control/error.hpp"

namespace strovia::sim {

// What fileOpen reads for one posture.
struct Posture {
    std::string name;            // AsanaNaME, as the lookup found it
    std::string content;         // Resourcedir
    std::string library_folder;  // where the "mt" narration lies
    catalogue::PostureRow found;
    catalogue::ProgrammeRows rows;
};

// Reads what fileOpen reads for the posture `name`, through the row
// reader; the catalogue stays as the caller opened it. Fails with the
// lookup's error (kNoCurrentRecord for an unknown name).
Result<Posture> read_posture(Database& db, const std::string& name, const std::string& content,
                             const std::string& library_folder);

// Every file the programme would open, each once: the video first for a
// video posture, then the narrations in row order.
struct Named {
    std::string path;
    bool video = false;
};
std::vector<Named> media_named(const Posture& posture);

// One medium as the devices decode it. A video has frames and a rate; its
// length is that of its frames. A narration has only a length.
struct Medium {
    std::int64_t length_ns = 0;
    int frames = 0;
    int fps_n = 0, fps_d = 1;
};
// By path as the control forms it (backslashes, before mapping). A path
// missing here cannot be opened, as a missing file.
using Media = std::map<std::string, Medium>;

// Errors of a run, beside the control's own numbers.
inline constexpr std::int32_t kNeverEnds = 9210;     // no VideoEnd before the ceiling
inline constexpr std::int32_t kNothingPlays = 9211;  // the start left nothing running

// What happened, in time order.
struct Happening {
    enum class Kind {
        Part,            // segment or picture `value` begins
        NarrationStart,  // `path` starts playing; `length_ns` long
        VideoPlays,      // the video runs from frame `value`
        VideoHeld,       // the video stands at frame `value`
        Picture,         // Picture1 shows `path` (empty: the empty box)
        End,             // VideoEnd
    };
    Kind kind = Kind::Part;
    std::int64_t at_ns = 0;
    int value = 0;
    std::string path;
    std::int64_t length_ns = 0;

    friend bool operator==(const Happening&, const Happening&) = default;
};

struct Record {
    std::vector<Happening> happenings;
    std::int64_t end_ns = 0;  // VideoEnd

    // Each part from its start to the next one's, the last to VideoEnd.
    struct Span {
        std::int64_t from_ns = 0, length_ns = 0;
    };
    std::vector<Span> parts() const;
};

// Runs fileOpen for the posture and ticks its programme until VideoEnd.
// Fails with kNothingPlays when nothing was started (the reason the
// control swallowed, when it gave one) and with kNeverEnds when VideoEnd
// would not come within twice the length of all the media it names.
Result<Record> run_programme(const Posture& posture, const Media& media);

// The frame shown `ns` after frame 0, and the time frame `k` is shown, as
// the video device counts them.
int frame_at_ns(std::int64_t ns, int fps_n, int fps_d);
std::int64_t frame_time_ns(std::int64_t frame, int fps_n, int fps_d);

}  // namespace strovia::sim
