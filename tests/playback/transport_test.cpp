#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;

// One row of the transport's state table: the state strings and mode
// before, and what Pause and Start then send and enable.
struct TransportRow {
    const char* name;
    const char* sound;
    const char* video;
    bool video_mode;
    std::vector<std::string> pause_sends;
    std::vector<std::string> start_sends;
    bool start_timer1;
    bool start_timer2;
};

class Transport : public ControlTest, public ::testing::WithParamInterface<TransportRow> {};

TEST_P(Transport, PauseAndStartActOnlyOnDevicesMarkedPlaying) {
    const auto& row = GetParam();
    control.SoundState = row.sound;
    control.VideoState = row.video;
    control.VideoMode = row.video_mode;
    host.timer1().set_enabled(true);
    host.timer2().set_enabled(true);

    auto paused = control.Pause();
    ASSERT_TRUE(paused);
    EXPECT_TRUE(is_empty(*paused));
    EXPECT_EQ(channel.commands, row.pause_sends);
    EXPECT_FALSE(host.timer1().enabled());
    EXPECT_FALSE(host.timer2().enabled());
    EXPECT_EQ(control.SoundState, row.sound) << "strings are kept";
    EXPECT_EQ(control.VideoState, row.video);

    channel.commands.clear();
    auto started = control.Start();
    ASSERT_TRUE(started);
    EXPECT_TRUE(is_empty(*started));
    EXPECT_EQ(channel.commands, row.start_sends);
    EXPECT_EQ(host.timer1().enabled(), row.start_timer1);
    EXPECT_EQ(host.timer2().enabled(), row.start_timer2);
}

INSTANTIATE_TEST_SUITE_P(
    StateTable, Transport,
    ::testing::Values(
        TransportRow{
            "PhotoNarrated", "Playing", "", false, {"pause sound"}, {"play sound"}, false, true},
        TransportRow{"PhotoPreviewAfterEndedProgramme", "Stopped", "", false, {}, {}, false, true},
        TransportRow{"VideoPlaying",
                     "Playing",
                     "Playing",
                     true,
                     {"pause sound", "pause video"},
                     {"play sound", "play video"},
                     true,
                     false},
        TransportRow{"VideoHeldOrLastSegment",
                     "Playing",
                     "Pause",
                     true,
                     {"pause sound"},
                     {"play sound"},
                     true,
                     false},
        TransportRow{"VideoPreviewAfterPhoto", "Stopped", "", false, {}, {}, false, true},
        TransportRow{"VideoPreviewAfterVideo",
                     "Stopped",
                     "Playing",
                     false,
                     {"pause video"},
                     {"play video"},
                     true,
                     true},
        TransportRow{"NothingStartedYet", "", "", false, {}, {}, false, true}),
    [](const ::testing::TestParamInfo<TransportRow>& row_info) {
        return std::string(row_info.param.name);
    });

class StopPlay : public ControlTest {};

TEST_F(StopPlay, ClosesDatabaseThenRowsThenDevicesAndKeepsTheRest) {
    posture("Tadasana", std::int64_t{12}, std::string("Photo"));
    photos(12, {{std::string("n1"), std::string("p1.bmp")},
                {std::string("n2"), std::string("p2.bmp")}});
    ASSERT_TRUE(control.fileOpen());
    trace.take();
    auto r = control.StopPlay();
    ASSERT_TRUE(r);
    EXPECT_TRUE(is_empty(*r));
    EXPECT_THAT(trace.take(),
                ElementsAre("Timer1 off", "Timer2 off", "db close", "rs close", "mci close all"));
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p1.bmp");
    EXPECT_EQ(control.SoundState, "Playing") << "state strings are not reset";
    EXPECT_EQ(host.video_ends, 0);
}

TEST_F(StopPlay, CanBeCalledAnyTime) {
    EXPECT_TRUE(control.StopPlay()) << "before any programme";
    posture("Tadasana", std::int64_t{12}, std::string("Photo"));
    photos(12, {{std::string("n1"), std::string("p1.bmp")}});
    ASSERT_TRUE(control.fileOpen());
    narration("stopped");
    control.Timer2_Timer();  // ends: the programme closed the catalogue itself
    ASSERT_EQ(host.video_ends, 1);
    EXPECT_TRUE(control.StopPlay());
    EXPECT_TRUE(control.StopPlay()) << "twice";
}

TEST_F(StopPlay, StartAfterwardsBringsTheTimersBackButTheirTicksDoNothing) {
    posture("Tadasana", std::int64_t{12}, std::string("Photo"));
    photos(12, {{std::string("n1"), std::string("p1.bmp")},
                {std::string("n2"), std::string("p2.bmp")}});
    ASSERT_TRUE(control.Ppreview());
    ASSERT_TRUE(control.StopPlay());
    channel.commands.clear();
    ASSERT_TRUE(control.Start());
    EXPECT_TRUE(host.timer2().enabled());
    EXPECT_THAT(channel.commands, ElementsAre()) << "SoundState was never set by the preview";
    const std::string shown = host.picture1().shown;
    trace.take();
    for (int i = 0; i < 3; ++i) tick2();
    EXPECT_TRUE(trace.take().empty());
    EXPECT_EQ(host.picture1().shown, shown);
    EXPECT_EQ(host.video_ends, 0);

    // A narrated programme stopped and started again sends "play" to the
    // closed device and waits harmlessly.
    ASSERT_TRUE(control.fileOpen());
    ASSERT_TRUE(control.StopPlay());
    channel.commands.clear();
    ASSERT_TRUE(control.Start());
    EXPECT_THAT(channel.commands, ElementsAre("play sound"));
    narration("stopped");
    tick2();
    EXPECT_EQ(host.video_ends, 0);
    EXPECT_EQ(control.CurMp2name, "n1");
}

}  // namespace
}  // namespace strovia::test
