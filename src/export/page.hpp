#pragma once
// The chapters of an exported posture and the course page that plays them.

#include <string>
#include <vector>

#include "export/programme.hpp"

namespace strovia::cli {

// One cue per segment or picture, titled after the posture and its number.
std::string chapters_vtt(const Schedule& schedule);

struct PageEntry {
    std::string name;
    std::string file;      // the exported file, relative to the page; empty when skipped
    std::string chapters;  // its chapters file
    std::vector<Schedule::Chapter> chapter_list;
    double seconds = 0;
    bool skipped = false;  // its reason goes to the maintainer, not on the page
};

// index.html: the postures in the order given, a player with chapter
// buttons and play-all. Everything inline, so it works from file:// and
// from any static server.
std::string course_page(const std::string& title, const std::vector<PageEntry>& entries);

}  // namespace strovia::cli
