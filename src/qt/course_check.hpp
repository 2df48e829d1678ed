#pragma once
// What the control will meet when it plays a course: the postures of its
// catalogue as fileOpen and Preview read them, and every fault found on
// the way, so a course can be mended before a user plays it. Behind the
// public strovia::Course.

#include <optional>
#include <string>
#include <vector>

#include "catalogue/engine.hpp"
#include "catalogue/rules.hpp"
#include "control/error.hpp"

namespace strovia::course {

// Decodes the media files a course names. Paths are given as the control
// forms them (backslashes, not yet mapped to the file system).
class MediaProbe {
public:
    virtual ~MediaProbe() = default;
    // The video's length in frames.
    virtual Result<int> video_frames(const std::string& path) = 0;
    virtual Status narration(const std::string& path) = 0;
    virtual Status picture(const std::string& path) = 0;
};

struct PostureSummary {
    int row = 0;
    std::string name;       // empty when null
    std::string asana_id;   // as text; empty when null
    std::string disp_type;  // as stored; empty when null or missing
    bool disp_type_null = false;
    catalogue::Shows file_open = catalogue::Shows::Photo;
    catalogue::Shows preview = catalogue::Shows::Video;
    std::optional<Error> preview_error;  // set when Preview fails on the row
    int parts = -1;                      // rows of the table fileOpen plays; -1 when unreadable
};

struct Finding {
    std::string posture;  // empty for the catalogue as a whole
    std::string place;    // "Asanas row 3", "Audio_Asana7 row 2", ...
    std::string text;
    bool warning = false;  // handled by this build, but worth mending
};

struct CourseReport {
    std::vector<PostureSummary> postures;
    std::vector<Finding> findings;
    // The catalogue could not be opened or its posture table not read.
    std::optional<Error> unreadable;
};

// Walks the catalogue of `content` in table order; it is opened shared and
// read-only, and closed before returning. With a probe, also decodes every
// file the programmes would open and checks the segment positions against
// the video's frames; without, only reads the catalogue.
CourseReport check_course(CatalogueEngine& engine, MediaProbe* probe, const std::string& content,
                          const std::string& library_folder);

}  // namespace strovia::course
