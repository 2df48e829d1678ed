#pragma once
// The chapters of an exported posture and the course page that plays them.

#include <string>
#include <vector>

#include "export/programme.hpp"

namespace strovia::exporting {

// Each chapter titled after its segment row's Action where that reads as
// a title, else "Step n".
void title_chapters(const ExportPosture& posture, Schedule& schedule);

// One cue per segment or picture, "Posture: title", each on one line.
std::string chapters_vtt(const std::string& posture, const Schedule& schedule);

// An exported posture as the page offers it. Skipped postures are not on
// the page: their reasons are for the maintainer.
struct PageEntry {
    std::string name;
    std::string file;      // the exported file, relative to the page
    std::string chapters;  // its chapters file
    std::vector<Schedule::Chapter> chapter_list;
    double seconds = 0;
};

// index.html: the postures in the order given, a player with chapter
// buttons and play-all, which rests between postures. Everything inline,
// so it works from file:// and from any static server, but for the script
// files named in `scripts`, which run first. The page announces on
// `document` "strovia:ready" {playable}, "strovia:posturestart" and
// "strovia:segment" {index, segment}, "strovia:postureend" {index};
// window.stroviaStartAt(index) plays all from that posture on.
std::string course_page(const std::string& title, const std::vector<PageEntry>& entries,
                        const std::vector<std::string>& scripts = {});

}  // namespace strovia::exporting
