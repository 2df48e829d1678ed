// Pause, Start and StopPlay: hold, resume and end whatever programme runs.

#include "control/video_cntl.hpp"
#include "playback/commands.hpp"

namespace strovia {

Result<Variant> VideoCntl::Pause() {
    host_.timer1().set_enabled(false);
    host_.timer2().set_enabled(false);
    if (SoundState == "Playing") {
        (void)channel_.execute(commands::kPauseSound);
        SoundState = "Playing";
    }
    if (VideoState == "Playing") {
        (void)channel_.execute(commands::kPauseVideo);
        VideoState = "Playing";
    }
    return Variant{Empty{}};
}

Result<Variant> VideoCntl::Start() {
    if (SoundState == "Playing") {
        (void)channel_.execute(commands::kPlaySound);
        SoundState = "Playing";
    }
    if (VideoState == "Playing") {
        (void)channel_.execute(commands::kPlayVideo);
        VideoState = "Playing";
        host_.timer1().set_enabled(true);
    }
    if (VideoMode) {
        host_.timer1().set_enabled(true);
    } else {
        host_.timer2().set_enabled(true);
    }
    return Variant{Empty{}};
}

Result<Variant> VideoCntl::StopPlay() {
    // Every failure is ignored from here on. The run ends: ticks that a
    // later Start brings back find nothing to act on.
    BeginRun(Run::None);
    host_.timer1().set_enabled(false);
    host_.timer2().set_enabled(false);
    if (Db) (void)Db->close();
    db_open_ = false;
    if (Rs) (void)Rs->close();
    (void)channel_.execute(commands::kCloseAll);
    return Variant{Empty{}};
}

}  // namespace strovia
