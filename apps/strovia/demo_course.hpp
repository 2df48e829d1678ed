#pragma once
// The built-in demo course: a small but real course made on this machine
// with espeak-ng and ffmpeg, and a catalogue from the project's writer.

#include <functional>
#include <string>
#include <vector>

#include "control/error.hpp"

namespace strovia::cli {

inline constexpr int kDemoVersion = 1;

struct DemoSpec {
    std::string dir;        // the course folder (Resourcedir)
    int segments = 4;       // segments of the long video posture, at least 3
    std::string mt_folder;  // where the "mt" narration goes (demo_mt_folder)
};

struct DemoPosture {
    std::string name;
    bool video = false;
    int parts = 0;  // segments or pictures
};

// The postures the demo course holds, in catalogue order.
std::vector<DemoPosture> demo_postures(const DemoSpec& spec);

// The default folder: $XDG_CACHE_HOME/strovia/demo-<version>, or under
// ~/.cache.
std::string default_demo_dir();

// True when `spec.dir` holds a complete demo course of this version and
// these segments.
bool demo_course_complete(const DemoSpec& spec);

// Where the demo puts its spoken "mt" narration: beside libstrovia when the
// library sits beside this program (a build tree), where the control reads
// it. An installed library's folder belongs to the system and keeps the
// "mt" installed with it, so the demo keeps its own in the course folder.
std::string demo_mt_folder(const std::string& course_dir);

// Makes the course, reporting each file as it is made; writes its stamp
// last, so an interrupted run is made again next time.
Status make_demo_course(const DemoSpec& spec,
                        const std::function<void(const std::string&)>& progress);

// Makes the course unless a complete one is there, with "mt" beside every
// library folder; says which on standard output.
Status ensure_demo_course(const DemoSpec& spec, bool remake);

}  // namespace strovia::cli
