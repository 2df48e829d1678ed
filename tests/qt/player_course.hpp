#pragma once
// A small course for the player's tests, made with ffmpeg and the project's
// catalogue writer: one video posture, photo postures, and postures that
// fail in each way a learner can meet.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <strovia/video_cntl_widget.hpp>

namespace player_test {

// Runs the event loop until `done` holds or `seconds` pass.
inline bool wait_for(const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

inline void pause_for(double seconds) {
    wait_for([] { return false; }, seconds);
}

inline bool sh(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Sound to a timed null sink, so that no machine's own output (or the
// notice that it has none) shows in a test.
inline bool silent(strovia::VideoCntlWidget& w) {
    return w.setMediaOutputs({"fakesink sync=true", {}, {}});
}

// Tadasana: video, three segments of 30, 30 and 40 frames at 25 a second,
// narrations of 2.5, 0.3 and 0.3 s. Vrksasana: one picture, 0.4 s.
// Garudasana: a missing narration. Broken: no photo table. Lost: its video
// is missing. Smudged: its picture is not a picture.
inline bool make_course(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    fs::create_directories(root / "video");
    fs::create_directories(root / "sound" / "mp2");
    auto at = [&](const std::string& file) { return (root / file).string(); };
    const std::string ff = std::string(FFMPEG_EXE) + " -nostdin -y -loglevel error -f lavfi -i ";
    bool ok = sh(ff + "color=c=0x307050:size=352x288:rate=25 -t 4 -c:v mpeg1video -q:v 2 -f mpeg " +
                 at("video/pose.mpg"));
    for (const auto& [name, seconds] :
         {std::pair{"s1", "2.5"}, {"s2", "0.3"}, {"s3", "0.3"}, {"p1", "0.4"}}) {
        ok = ok && sh(ff + "sine=frequency=440:duration=" + seconds + " -c:a mp2 -b:a 128k " +
                      at("sound/mp2/" + std::string(name) + ".mp2"));
    }
    ok = ok && sh(ff + "color=c=0xDC2828:size=640x480 -frames:v 1 " + at("video/pic.bmp"));
    std::ofstream(root / "video" / "smudge.bmp") << "not a picture";
    std::ofstream(root / "manifest.json") << R"({"tables": [
  {"name": "Asanas", "columns": [{"name": "AsanaID", "type": "Long"},
   {"name": "name", "type": "Text", "size": 50}, {"name": "Disp_Type", "type": "Text", "size": 10},
   {"name": "VideoName", "type": "Text", "size": 50}],
   "rows": [[3, "Tadasana", "Video", "pose.mpg"], [4, "Vrksasana", "Photo", null],
            [5, "Garudasana", "Photo", null], [6, "Broken", "Photo", null],
            [7, "Lost", "Video", "gone.mpg"], [8, "Smudged", "Photo", null]]},
  {"name": "Audio_Asana3", "columns": [{"name": "Filename", "type": "Text", "size": 50},
   {"name": "Action", "type": "Text", "size": 50}, {"name": "StartPos", "type": "Integer"},
   {"name": "EndPos", "type": "Integer"}, {"name": "Filelen", "type": "Double"}],
   "rows": [["s1", "a", 0, 29, 2.5], ["s2", "b", 30, 59, 0.3], ["s3", "c", 60, 99, 0.3]]},
  {"name": "Audio_Asana7", "columns": [{"name": "Filename", "type": "Text", "size": 50},
   {"name": "Action", "type": "Text", "size": 50}, {"name": "StartPos", "type": "Integer"},
   {"name": "EndPos", "type": "Integer"}, {"name": "Filelen", "type": "Double"}],
   "rows": [["s2", "a", 0, 29, 0.3]]},
  {"name": "Photo_Asana4", "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
   {"name": "ImageName", "type": "Text", "size": 50}], "rows": [["p1", "pic.bmp"]]},
  {"name": "Photo_Asana5", "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
   {"name": "ImageName", "type": "Text", "size": 50}], "rows": [["nosuch", "pic.bmp"]]},
  {"name": "Photo_Asana8", "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
   {"name": "ImageName", "type": "Text", "size": 50}], "rows": [["p1", "smudge.bmp"]]}]})";
    return ok && sh(std::string(STROVIA_EXE) + " catalogue build " + at("manifest.json") + " -o " +
                    at("video/AVPelmo.mdb"));
}

}  // namespace player_test
