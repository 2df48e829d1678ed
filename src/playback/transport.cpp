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
    bool video_paused = false;
    if (VideoState == "Playing") {
        (void)channel_.execute(commands::kPauseVideo);
        VideoState = "Playing";
        video_paused = true;
    }
    // A programme is held with its timer; a video preview only when its
    // video was paused, else it plays on.
    paused_ =
        run_ == Run::Video || run_ == Run::Photo || (run_ == Run::VideoPreview && video_paused);
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
    // A video preview is watched by Timer1 whatever programme ran before
    // it; without this, one paused after a photo programme never ends.
    if (run_ == Run::VideoPreview && !host_.timer1().enabled()) host_.timer1().set_enabled(true);
    paused_ = false;
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
