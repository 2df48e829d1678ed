#pragma once
// What the control will meet when it plays a course: the postures of its
// catalogue as fileOpen and Preview read them, and every fault found on
// the way, so a course can be mended before a user plays it.

#include <string>
#include <vector>

#include "catalogue/engine.hpp"
#include "control/error.hpp"

namespace strovia::cli {

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
    std::string name;
    std::string asana_id;         // as text; empty when null
    std::string disp_type;        // as stored; empty when null
    bool plays_video = false;     // fileOpen: exactly "Video"
    bool previews_photo = false;  // Preview: "PHOTO" in any case
    int parts = -1;               // rows of the table fileOpen plays; -1 when unreadable
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
    int errors() const;
    int warnings() const;
};

// Walks the catalogue of `content` in table order. With a probe, also
// decodes every file the programmes would open and checks the segment
// positions against the video's frames; without, only reads the catalogue.
CourseReport check_course(CatalogueEngine& engine, MediaProbe* probe, const std::string& content,
                          const std::string& library_folder);

// "POSTURE [PLACE]: TEXT", with "warning: " before warnings.
std::string finding_line(const Finding& f);

}  // namespace strovia::cli
