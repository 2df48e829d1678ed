// Both programmes, the previews and the transport on scripted doubles: this
// catalogue, these replies, this tick order, then exactly these commands,
// pictures, timer changes and events.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>

#include "catalogue/posture_rows.hpp"
#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;
using Phase = VideoCntl::Phase;

class Programmes : public ControlTest {
protected:
    static std::string picture(const std::string& name) {
        return "Picture1 picture C:\\course\\video\\" + name;
    }
    void start_video(const std::vector<Segment>& rows) {
        video_posture(rows);
        ASSERT_TRUE(control.fileOpen());
    }
    // The commands sent since the last call, joined.
    std::string sent() {
        std::string out;
        for (const auto& c : channel.commands) out += (out.empty() ? "" : ", ") + c;
        channel.commands.clear();
        return out;
    }
    void start_photo(const std::vector<Photo>& rows) {
        posture("Tadasana", std::int64_t{12}, std::string("Photo"), Null{});
        photos(12, rows);
        ASSERT_TRUE(control.fileOpen());
    }
    // The parts the one row reader counts for the posture `id`.
    int parts_read(int id, bool video, bool preview = false) {
        auto opened =
            db.default_workspace().open_database(kCatalogue, false, true, ";PWD=Mint3laneKK;");
        EXPECT_TRUE(opened);
        if (!opened) return -1;
        const int n =
            catalogue::read_programme_rows(**opened, std::int64_t{id}, video).parts(preview);
        (void)(*opened)->close();
        trace.take();
        return n;
    }
    // Phase and part as one value, for short expectations.
    std::pair<Phase, int> where() const { return {control.phase(), control.part()}; }
};

TEST_F(Programmes, VideoHoldsAtEachBoundaryUntilItsNarrationEndsThenEndsOnce) {
    start_video({{"one", 0}, {"two", 50}, {"three", 80}});
    EXPECT_THAT(effects(), ElementsAre("mci close all", "Picture1 clear", kVideoOpen,
                                       "mci set video time format frames", sound_open("one"),
                                       "mci play video", "mci pause video", "yield",
                                       "mci play sound", "mci play video", "Timer1 on"));
    EXPECT_EQ(where(), std::pair(Phase::Playing, 1));
    // The second row is loaded: where the first segment ends.
    EXPECT_EQ(control.CurMp2name, "two");
    EXPECT_EQ(control.CurStartPos, 50);
    EXPECT_EQ(control.CurEndPos, 59);
    EXPECT_DOUBLE_EQ(control.CurFilelen, 2.5);

    narration("playing");
    video_at(49);
    tick1();
    video_at(50);
    tick1();
    tick1();
    EXPECT_THAT(effects(), ElementsAre("mci pause video", "mci pause video"))
        << "held from the boundary itself, on every tick while the narration plays";
    EXPECT_EQ(where(), std::pair(Phase::Held, 1));
    narration("stopped");
    tick1();
    EXPECT_THAT(effects(),
                ElementsAre("mci pause video", "mci close sound", "Timer1 off", sound_open("two"),
                            "Timer1 on", "mci play sound", "mci play video"));
    EXPECT_EQ(control.CurStartPos, 80);
    EXPECT_EQ(where(), std::pair(Phase::Playing, 2));

    // A narration that ends early waits, open, for the video to reach its boundary.
    video_at(79);
    tick1();
    EXPECT_THAT(effects(), ElementsAre());
    video_at(85);
    tick1();
    EXPECT_THAT(effects(), ElementsAre("mci pause video", "mci close sound", "Timer1 off",
                                       sound_open("three"), "Timer1 on", "mci play sound",
                                       "mci play video", "rs close", "db close"));
    EXPECT_TRUE(control.ListDone);
    EXPECT_EQ(control.CurStartPos, -10);
    EXPECT_EQ(where(), std::pair(Phase::Playing, 3)) << "the last segment is not held";

    // The last segment is never held; the end of its narration ends the programme.
    narration("playing");
    video_at(500);
    tick1();
    EXPECT_THAT(effects(), ElementsAre());
    narration("stopped");
    tick1();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer1 off", "VideoEnd"));
    EXPECT_EQ(host.video_ends, 1);
    EXPECT_EQ(where(), std::pair(Phase::Ended, 3));
    EXPECT_EQ(parts_read(7, true), 3);
}

TEST_F(Programmes, VideoNarrationThatCannotBeOpenedCountsAsFinished) {
    channel.failing.insert(sound_open("two").substr(4));
    start_video({{"one", 0}, {"two", 50}, {"three", 80}, {"four", 40000}});
    narration("stopped");
    video_at(50);
    trace.take();
    tick1();
    EXPECT_THAT(effects(), ElementsAre("mci pause video", "mci close sound", "Timer1 off",
                                       sound_open("two"), "Timer1 on", "mci play video"))
        << "nothing is sent to a narration that is not open";
    narration("playing");  // what the device would say of the one before
    video_at(79);
    tick1();
    EXPECT_THAT(effects(), ElementsAre()) << "the video runs on to its boundary";
    video_at(80);
    tick1();
    EXPECT_THAT(effects(), ElementsAre("mci pause video", "Timer1 off", sound_open("three"),
                                       "Timer1 on", "mci play sound", "mci play video"))
        << "no hold and no close: the next segment starts at once";

    // Row four's StartPos and EndPos do not fit: the rest of it loads, the
    // boundary stays.
    EXPECT_EQ(control.CurMp2name, "four");
    EXPECT_EQ(control.CurStartPos, 80);
    EXPECT_THAT(host.suppressed, ElementsAre("Timer1_Timer 6", "Timer1_Timer 6"));
    EXPECT_TRUE(host.timer1().enabled());
}

TEST_F(Programmes, AVideoThatCannotGoOnCountsAsHavingReachedEachBoundary) {
    // Its position query fails: the video never opened, broke, or its file
    // ended before the boundary. The narrations still play in order.
    start_video({{"one", 0}, {"two", 50}, {"three", 80}});
    trace.take();
    narration("playing");
    tick1();
    EXPECT_THAT(effects(), ElementsAre()) << "held, with nothing to pause";
    EXPECT_EQ(control.VideoState, "Pause");
    narration("stopped");
    tick1();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer1 off", sound_open("two"),
                                       "Timer1 on", "mci play sound", "mci play video"));
    tick1();
    EXPECT_THAT(effects(),
                ElementsAre("mci close sound", "Timer1 off", sound_open("three"), "Timer1 on",
                            "mci play sound", "mci play video", "rs close", "db close"));
    tick1();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer1 off", "VideoEnd"));
    EXPECT_EQ(host.video_ends, 1);
}

TEST_F(Programmes, AOneRowSegmentTablePlaysAsALastSegment) {
    start_video({{"only", 25}});
    EXPECT_TRUE(control.ListDone);
    narration("stopped");
    video_at(100);
    trace.take();
    tick1();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer1 off", "VideoEnd"));
    EXPECT_EQ(where(), std::pair(Phase::Ended, 1));
    EXPECT_EQ(parts_read(7, true), 1);
}

TEST_F(Programmes, PhotoShowsOnePicturePerNarrationAndPassesOverRowsItCannotShowOrPlay) {
    host.picture1().failures["C:\\course\\video\\broken.bmp"] = {481, "Invalid picture"};
    channel.failing.insert(sound_open("n2").substr(4));
    control.PhotoPreview = true;  // an earlier preview does not carry over
    start_photo({{std::string("n1"), std::string("p1.bmp")},
                 {std::string("n2"), std::string("broken.bmp")},
                 {Null{}, std::string("p3.bmp")},
                 {std::string(""), std::string("p4.bmp")},
                 {std::string("n5"), Null{}},
                 {std::string("n6"), std::string("p6.jpg")},
                 {Null{}, std::string("p7.bmp")}});
    EXPECT_THAT(effects(), ElementsAre("mci close all", "Picture1 clear", picture("p1.bmp"),
                                       "yield", "Timer2 interval 10", sound_open("n1"), "yield",
                                       "mci play sound", "Timer2 on"));
    narration("playing");
    tick2();
    EXPECT_THAT(effects(), ElementsAre());
    // A picture that does not load is named in its place (an empty box
    // here); a narration that does not open is sent nothing, and its
    // picture stays three seconds ...
    narration("stopped");
    tick2();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer2 off", picture("broken.bmp"),
                                       "Picture1 clear", sound_open("n2"), "Timer2 interval 3000",
                                       "Timer2 on"));
    // ... and then counts as finished. Rows without a narration name are
    // skipped; a row without a picture shows none.
    narration("playing");
    tick2();
    EXPECT_THAT(effects(), ElementsAre("Timer2 off", "Picture1 clear", sound_open("n5"),
                                       "Timer2 interval 10", "Timer2 on", "mci play sound"));
    narration("stopped");
    tick2();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer2 off", picture("p6.jpg"),
                                       sound_open("n6"), "Timer2 on", "mci play sound"));
    // Skipping past the last row ends the programme; the last picture stays.
    tick2();
    EXPECT_THAT(effects(),
                ElementsAre("mci close sound", "Timer2 off", "rs close", "db close", "VideoEnd"));
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p6.jpg");
    // Four pictures shown, as the row reader counts them; the last is the last.
    EXPECT_EQ(where(), std::pair(Phase::Ended, 4));
    EXPECT_EQ(parts_read(12, false), 4);
    EXPECT_EQ(parts_read(12, false, true), 7) << "a preview shows every row";
}

TEST_F(Programmes, PhotoPreviewOfNRowsEndsOnTheNthTickAndStopsItsTimer) {
    posture("Tadasana", std::int64_t{5}, std::string("Photo"));
    photos(5, {{std::string("n1"), std::string("p1.bmp")},
               {std::string("n2"), std::string("p2.bmp")},
               {std::string("n3"), std::string("p3.bmp")}});
    ASSERT_TRUE(control.Preview());
    tick2();
    tick2();
    EXPECT_THAT(effects(), ElementsAre("mci close all", "mci close all", "Timer2 interval 200",
                                       picture("p1.bmp"), "yield", "Timer2 on", "Timer2 on",
                                       picture("p2.bmp"), picture("p3.bmp")))
        << "no narration";
    EXPECT_EQ(where(), std::pair(Phase::Previewing, 3));
    tick2();
    EXPECT_THAT(effects(), ElementsAre("rs close", "db close", "Timer2 off", "VideoEnd"));
    EXPECT_EQ(where(), std::pair(Phase::Ended, 3));
}

// The phase after Pause and after Start, by what runs: Paused only when
// Pause held something. A video preview that no programme left playing
// plays on through Pause, and Start gives it back its watcher whatever
// programme ran before.
TEST_F(Programmes, PhaseIsPausedOnlyWhenPauseHeldSomething) {
    video_posture({{"one", 0}, {"two", 50}});
    posture("Vrksasana", std::int64_t{12}, std::string("Photo"));
    photos(12, {{std::string("n1"), std::string("p1.bmp")},
                {std::string("n2"), std::string("p2.bmp")}});
    // The steps of each row: a posture's name selects it, a method's name calls it.
    const std::map<std::string, DispId> methods{{"fileOpen", dispid::kFileOpen},
                                                {"Preview", dispid::kPreview},
                                                {"Ppreview", dispid::kPpreview},
                                                {"StopPlay", dispid::kStopPlay}};
    const struct {
        const char *name, *start;
        Phase running, paused;
        const char* pause_sends;
    } rows[] = {
        {"video programme", "Tadasana fileOpen", Phase::Playing, Phase::Paused,
         "pause sound, pause video"},
        {"photo programme", "Vrksasana fileOpen", Phase::Playing, Phase::Paused, "pause sound"},
        {"photo preview", "Vrksasana Ppreview", Phase::Previewing, Phase::Paused, "pause sound"},
        {"video preview after a photo programme", "Vrksasana fileOpen Tadasana Preview",
         Phase::Previewing, Phase::Previewing, "pause sound"},
        {"video preview after a video programme stopped while its video ran",
         "Tadasana fileOpen StopPlay Preview", Phase::Previewing, Phase::Paused,
         "pause sound, pause video"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::istringstream steps(row.start);
        for (std::string step; steps >> step;) {
            if (methods.contains(step))
                (void)control.invoke(methods.at(step), InvokeKind::Method);
            else
                control.AsanaNaME(step);
        }
        channel.commands.clear();
        EXPECT_EQ(control.phase(), row.running);
        ASSERT_TRUE(control.Pause());
        EXPECT_EQ(sent(), row.pause_sends);
        EXPECT_EQ(control.phase(), row.paused);
        ASSERT_TRUE(control.Start());
        EXPECT_EQ(control.phase(), row.running);
        if (control.run() == VideoCntl::Run::VideoPreview) {
            EXPECT_TRUE(host.timer1().enabled()) << "the preview is watched again";
            channel.answer("status video mode", std::string("stopped") + '\0');
            tick1();
            EXPECT_EQ(control.phase(), Phase::Ended);
        }
        ASSERT_TRUE(control.StopPlay());
        EXPECT_EQ(control.phase(), Phase::Idle);
    }
}

// The state table: the state strings and mode before, then what Pause and
// Start send, and which timers Start enables (Pause stops both).
TEST_F(Programmes, TransportPauseAndStartActOnlyOnDevicesMarkedPlaying) {
    const struct {
        const char *sound, *video;
        bool video_mode;
        const char *pause_sends, *start_sends;
        bool timer1, timer2;
    } rows[] = {
        {"Playing", "", false, "pause sound", "play sound", false, true},  // photo
        {"Playing", "Playing", true, "pause sound, pause video", "play sound, play video", true,
         false},                                                               // video
        {"Playing", "Pause", true, "pause sound", "play sound", true, false},  // held or last
        {"Stopped", "", false, "", "", false, true},  // photo or video preview after a programme
        {"Stopped", "Playing", false, "pause video", "play video", true, true},  // video preview
        {"", "", false, "", "", false, true},                                    // nothing yet
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.sound) + "/" + row.video);
        control.SoundState = row.sound;
        control.VideoState = row.video;
        control.VideoMode = row.video_mode;
        host.timer1().set_enabled(true);
        host.timer2().set_enabled(true);
        ASSERT_TRUE(control.Pause());
        EXPECT_EQ(sent(), row.pause_sends);
        EXPECT_FALSE(host.timer1().enabled() || host.timer2().enabled());
        EXPECT_EQ(control.SoundState, row.sound) << "strings are kept";
        EXPECT_EQ(control.VideoState, row.video);
        ASSERT_TRUE(control.Start());
        EXPECT_EQ(sent(), row.start_sends);
        EXPECT_EQ(host.timer1().enabled(), row.timer1);
        EXPECT_EQ(host.timer2().enabled(), row.timer2);
    }
}

TEST_F(Programmes, TransportStopPlayClosesDatabaseThenRowsThenDevicesAndEndsTheRun) {
    posture("Tadasana", std::int64_t{12}, std::string("Photo"));
    photos(12, {{std::string("n1"), std::string("p1.bmp")},
                {std::string("n2"), std::string("p2.bmp")}});
    ASSERT_TRUE(control.fileOpen());
    trace.take();
    ASSERT_TRUE(control.StopPlay());
    EXPECT_THAT(trace.take(),
                ElementsAre("Timer1 off", "Timer2 off", "db close", "rs close", "mci close all"));
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p1.bmp");

    // The state strings are kept: Start sends "play" to the closed device
    // and brings the timer back, whose ticks find no run to act for.
    channel.commands.clear();
    ASSERT_TRUE(control.Start());
    EXPECT_EQ(sent(), "play sound");
    narration("stopped");
    tick2();
    tick2();
    EXPECT_TRUE(channel.commands.empty());
    EXPECT_EQ(control.CurMp2name, "n1");
    EXPECT_EQ(host.video_ends, 0);
}

}  // namespace
}  // namespace strovia::test
