#pragma once
// The chapters of an exported posture and the course page that plays them.

#include <string>
#include <vector>

#include "strovia/export_programme.hpp"

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
// from any static server, but for the script files named in `scripts`,
// which run first. The page announces on `document` "strovia:ready"
// {playable}, "strovia:posturestart" and "strovia:segment" {index,
// segment}, "strovia:postureend" {index}; window.stroviaStartAt(index)
// plays all from that posture on.
std::string course_page(const std::string& title, const std::vector<PageEntry>& entries,
                        const std::vector<std::string>& scripts = {});

}  // namespace strovia::cli
