#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;

class Transport : public ControlTest {
protected:
    std::string sent() {
        std::string out;
        for (const auto& c : channel.commands) out += (out.empty() ? "" : ", ") + c;
        channel.commands.clear();
        return out;
    }
};

// The state table: the state strings and mode before, then what Pause and
// Start send, and which timers Start enables (Pause stops both).
TEST_F(Transport, PauseAndStartActOnlyOnDevicesMarkedPlaying) {
    const struct {
        const char* sound;
        const char* video;
        bool video_mode;
        const char* pause_sends;
        const char* start_sends;
        bool timer1;
        bool timer2;
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

TEST_F(Transport, StopPlayClosesDatabaseThenRowsThenDevicesAndEndsTheRun) {
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
