#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;

class VideoProgramme : public ControlTest {
protected:
    // Opens posture 7 the way fileOpen does and starts it.
    void start(const std::vector<Segment>& rows) {
        posture("Tadasana", std::int64_t{7}, std::string("Video"));
        segments(7, rows);
        ASSERT_TRUE(control.fileOpen());
    }
    std::vector<std::string> mci() {
        std::vector<std::string> out;
        for (const auto& l : trace.take()) {
            if (l.rfind("mci ", 0) == 0 || l == "VideoEnd" || l.rfind("Timer1", 0) == 0 ||
                l == "rs close" || l == "db close" || l == "yield") {
                out.push_back(l);
            }
        }
        return out;
    }
};

TEST_F(VideoProgramme, StartSendsTheCommandsInOrderAndLoadsTheSecondRow) {
    start({{"intro", 0, std::int64_t{40}, 2.0}, {"two", 50, std::int64_t{90}, 3.5}});
    EXPECT_THAT(
        mci(),
        ElementsAre("mci close all",
                    "mci open C:\\course\\video\\tada.mpg  alias video type mpegVideo  style child "
                    "parent  4242",
                    "mci set video time format frames",
                    "mci open C:\\course\\sound\\mp2\\intro.mp2 alias Sound type mpegVideo",
                    "mci play video", "mci pause video", "yield", "mci play sound",
                    "mci play video", "Timer1 on"));
    EXPECT_EQ(control.CurMp2name, "two");
    EXPECT_EQ(control.CurStartPos, 50);
    EXPECT_EQ(control.CurEndPos, 90);
    EXPECT_DOUBLE_EQ(control.CurFilelen, 3.5);
    EXPECT_EQ(control.CurImageName, "act");
    EXPECT_TRUE(control.VideoMode);
    EXPECT_EQ(control.VideoState, "Playing");
    EXPECT_EQ(control.SoundState, "Playing");
    EXPECT_EQ(host.timer1().interval(), 1) << "the interval is never changed";
}

TEST_F(VideoProgramme, TwoRowsHoldAtTheBoundaryThenEndOnTheLastNarration) {
    start({{"one", 0}, {"two", 50}});
    trace.take();
    narration("playing");
    video_at(49);
    tick1();
    EXPECT_TRUE(mci().empty()) << "short of the boundary nothing happens";

    video_at(52);
    tick1();
    tick1();  // held: "pause video" on every tick while the narration plays
    EXPECT_THAT(mci(), ElementsAre("mci pause video", "mci pause video"));
    EXPECT_EQ(control.VideoState, "Pause");

    narration("stopped");
    tick1();
    EXPECT_THAT(
        mci(),
        ElementsAre("mci pause video", "mci close sound", "Timer1 off",
                    "mci open C:\\course\\sound\\mp2\\two.mp2 alias Sound type mpegVideo",
                    "Timer1 on", "mci play sound", "mci play video", "rs close", "db close"));
    EXPECT_TRUE(control.ListDone);
    EXPECT_EQ(control.CurStartPos, -10);
    EXPECT_EQ(control.VideoState, "Pause") << "last segment: marked, video runs on";

    narration("playing");
    video_at(500);
    tick1();
    EXPECT_TRUE(mci().empty()) << "the last segment is never held";

    narration("stopped");
    tick1();
    EXPECT_THAT(mci(), ElementsAre("mci close sound", "Timer1 off", "VideoEnd"));
    EXPECT_EQ(host.video_ends, 1);
    EXPECT_EQ(control.SoundState, "Stopped");
}

TEST_F(VideoProgramme, ANarrationEndingEarlyWaitsOpenUntilTheBoundaryIsReachedExactly) {
    start({{"one", 0}, {"two", 50}, {"three", 80}});
    trace.take();
    narration("Stopped");
    video_at(30);
    tick1();
    EXPECT_TRUE(mci().empty()) << "no close before the video reaches the boundary";
    video_at(50);  // exactly the boundary counts
    tick1();
    EXPECT_THAT(mci(),
                ElementsAre("mci pause video", "mci close sound", "Timer1 off",
                            "mci open C:\\course\\sound\\mp2\\two.mp2 alias Sound type mpegVideo",
                            "Timer1 on", "mci play sound", "mci play video"));
    EXPECT_EQ(control.CurStartPos, 80);
    EXPECT_FALSE(control.ListDone);
}

TEST_F(VideoProgramme, ARowNotAheadOfThePositionHoldsOnTheNextTick) {
    start({{"one", 0}, {"two", 50}, {"three", 50}});
    narration("stopped");
    video_at(51);
    tick1();  // advance to "two"; the loaded row "three" starts at 50 too
    trace.take();
    narration("playing");
    tick1();
    EXPECT_THAT(mci(), ElementsAre("mci pause video"));
}

TEST_F(VideoProgramme, ANarrationThatCannotBeOpenedCountsAsFinished) {
    channel.failing.insert("open C:\\course\\sound\\mp2\\two.mp2 alias Sound type mpegVideo");
    start({{"one", 0}, {"two", 50}, {"three", 80}});
    trace.take();
    narration("stopped");
    video_at(50);
    tick1();
    EXPECT_THAT(mci(),
                ElementsAre("mci pause video", "mci close sound", "Timer1 off",
                            "mci open C:\\course\\sound\\mp2\\two.mp2 alias Sound type mpegVideo",
                            "Timer1 on", "mci play video"))
        << "nothing is sent to a narration that is not open";
    narration("playing");  // what the device would say of the one before
    video_at(79);
    tick1();
    EXPECT_TRUE(mci().empty()) << "the video runs on to its boundary";
    video_at(80);
    tick1();
    EXPECT_THAT(
        mci(), ElementsAre("mci pause video", "Timer1 off",
                           "mci open C:\\course\\sound\\mp2\\three.mp2 alias Sound type mpegVideo",
                           "Timer1 on", "mci play sound", "mci play video", "rs close", "db close"))
        << "no hold: the next segment starts at once";
}

TEST_F(VideoProgramme, OneRowTablePlaysItsNarrationAndEndsOnce) {
    start({{"only", 25}});
    EXPECT_TRUE(control.ListDone);
    EXPECT_EQ(control.CurStartPos, -10);
    EXPECT_TRUE(trace.contains("db close"));
    trace.take();
    narration("playing");
    video_at(100);
    tick1();
    EXPECT_TRUE(mci().empty()) << "never held";
    narration("stopped");
    tick1();
    EXPECT_THAT(mci(), ElementsAre("mci close sound", "Timer1 off", "VideoEnd"));
    EXPECT_EQ(trace.count("mci open C:\\course\\sound\\mp2\\only.mp2 alias Sound type mpegVideo"),
              1u);
}

TEST_F(VideoProgramme, ABadLaterRowKeepsThePreviousValues) {
    start({{"one", 0}, {"two", 50}, {"three", 40000}});
    narration("stopped");
    video_at(60);
    tick1();  // loads row three: StartPos out of range, the rest loads
    EXPECT_EQ(control.CurMp2name, "three");
    EXPECT_EQ(control.CurStartPos, 50);
    EXPECT_TRUE(host.timer1().enabled());
}

TEST_F(VideoProgramme, StartFailuresEndInitVideoWhereTheyHappen) {
    posture("Tadasana", std::int64_t{7}, std::string("Video"));
    segments(7, {});
    control.AsanaNaME("Tadasana");
    ASSERT_TRUE(control.fileOpen()) << "fileOpen never fails";
    EXPECT_FALSE(host.timer1().enabled());
    EXPECT_TRUE(trace.contains("mci set video time format frames"));
    EXPECT_FALSE(trace.contains("mci play video"));

    // Called directly, the failure reaches the caller.
    ASSERT_TRUE(control.Rs);
    auto direct = control.InitVideo();
    ASSERT_FALSE(direct);
    EXPECT_EQ(direct.error().number, 3021);
}

}  // namespace
}  // namespace strovia::test
