// Starting a video programme at a later segment and repeating a segment, on
// scripted doubles: the commands, holds and events of each road.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Phase = VideoCntl::Phase;

class Practice : public ControlTest {
protected:
    // The start's commands when the programme begins at `narration`, after
    // `seek` (none for the first segment).
    static std::vector<std::string> start(const std::string& seek, const std::string& narration) {
        std::vector<std::string> out{"mci close all", "Picture1 clear", kVideoOpen,
                                     "mci set video time format frames"};
        if (!seek.empty()) out.push_back(seek);
        for (const std::string& e :
             {sound_open(narration), std::string("mci play video"), std::string("mci pause video"),
              std::string("yield"), std::string("mci play sound"), std::string("mci play video"),
              std::string("Timer1 on")}) {
            out.push_back(e);
        }
        return out;
    }
    static std::vector<std::string> again(int from, const std::string& narration) {
        return {
            "Timer1 off",          "mci close sound", "mci seek video to " + std::to_string(from),
            sound_open(narration), "Timer1 on",       "mci play sound",
            "mci play video"};
    }
    const std::vector<Segment> three_rows{{"one", 0}, {"two", 50}, {"three", 80}};
};

TEST_F(Practice, EachSegmentStartsAtItsOwnFrameWithItsNarrationAndTheProgrammeGoesOn) {
    struct Case {
        int part;
        std::string seek;
        std::string narration;
        int boundary;  // CurStartPos once started; -10: it is the last segment
    };
    for (const Case& c : {Case{1, "", "one", 50}, Case{2, "mci seek video to 50", "two", 80},
                          Case{3, "mci seek video to 80", "three", -10}}) {
        SCOPED_TRACE(c.part);
        db.files.clear();
        video_posture(three_rows);
        ASSERT_TRUE(control.fileOpenAt(c.part));
        auto expected = start(c.seek, c.narration);
        if (c.boundary < 0) {
            expected.push_back("rs close");
            expected.push_back("db close");
        }
        EXPECT_THAT(effects(), ElementsAreArray(expected));
        EXPECT_EQ(control.CurStartPos, c.boundary);
        EXPECT_EQ(control.part(), c.part);
        EXPECT_EQ(control.phase(), Phase::Playing);
        EXPECT_EQ(control.repeats_left(), 0);
        // From there it plays as ever: held at the boundary, then the next.
        narration("stopped");
        video_at(c.boundary < 0 ? 999 : c.boundary);
        control.Timer1_Timer();
        const auto after = effects();
        if (c.boundary < 0) {
            EXPECT_THAT(after, ElementsAre("mci close sound", "Timer1 off", "VideoEnd"));
        } else {
            ASSERT_GE(after.size(), 4u);
            EXPECT_EQ(after[3], sound_open(c.part == 1 ? "two" : "three"));
            EXPECT_EQ(control.part(), c.part + 1);
        }
        (void)control.StopPlay();
        trace.take();
    }
}

TEST_F(Practice, PartsBeyondTheRowsOrBelowOneAndTimesBelowOneStartNothing) {
    video_posture(three_rows);
    for (const auto& [part, times] : {std::pair{0, 1}, std::pair{2, 0}, std::pair{-3, 2}}) {
        const auto r = control.fileOpenAt(part, times);
        ASSERT_FALSE(r.ok()) << part << " " << times;
        EXPECT_EQ(r.error().number, runtime_error::kInvalidArgument);
        EXPECT_THAT(effects(), ElementsAre()) << "refused before anything is sent";
    }
    // Segment 4 of 3: the video opens, but no narration and no timer; the
    // failure is passed over as fileOpen passes over InitVideo's.
    ASSERT_TRUE(control.fileOpenAt(4));
    const auto sent = effects();
    EXPECT_THAT(sent, ElementsAre("mci close all", "Picture1 clear", kVideoOpen,
                                  "mci set video time format frames"));
    ASSERT_FALSE(host.suppressed.empty());
    EXPECT_EQ(host.suppressed.back(), "InitVideo 5");
    EXPECT_FALSE(host.timer1().enabled());
    // The next plain fileOpen starts at the first segment again.
    ASSERT_TRUE(control.fileOpen());
    EXPECT_THAT(effects(), ElementsAreArray(start("", "one")));
}

TEST_F(Practice, ARepeatedSegmentPlaysKTimesEachHeldUntilItsNarrationEnds) {
    struct Case {
        int part;
        int times;
        int from;
        std::string narration;
    };
    for (const Case& c : {Case{2, 3, 50, "two"}, Case{1, 2, 0, "one"}}) {
        SCOPED_TRACE(c.part);
        db.files.clear();
        video_posture(three_rows);
        ASSERT_TRUE(control.fileOpenAt(c.part, c.times));
        trace.take();
        const int boundary = control.CurStartPos;
        for (int round = 1; round <= c.times; ++round) {
            EXPECT_EQ(control.repeats_left(), c.times - round);
            narration("playing");
            video_at(boundary - 1);
            control.Timer1_Timer();
            video_at(boundary);
            control.Timer1_Timer();
            EXPECT_THAT(effects(), ElementsAre("mci pause video"));
            EXPECT_EQ(control.phase(), Phase::Held);
            narration("stopped");
            control.Timer1_Timer();
            auto expected = again(c.from, c.narration);
            expected.insert(expected.begin(), "mci pause video");
            if (round < c.times) {
                EXPECT_THAT(effects(), ElementsAreArray(expected));
                EXPECT_EQ(control.part(), c.part);
                EXPECT_EQ(control.CurStartPos, boundary) << "the boundary stays";
                EXPECT_EQ(control.phase(), Phase::Playing);
            } else {
                // Then the programme goes on with the next segment.
                const auto last = effects();
                ASSERT_GE(last.size(), 4u);
                EXPECT_EQ(last[3], sound_open(c.part == 1 ? "two" : "three"));
                EXPECT_EQ(control.part(), c.part + 1);
            }
        }
        (void)control.StopPlay();
        trace.take();
    }
}

TEST_F(Practice, TheLastSegmentRepeatsOnceItsVideoHasEnded) {
    video_posture(three_rows);
    ASSERT_TRUE(control.fileOpenAt(3, 2));
    trace.take();
    narration("stopped");
    video_at(120);
    control.Timer1_Timer();
    EXPECT_THAT(effects(), ElementsAre()) << "its video still runs: wait";
    channel.forget("status video Position");  // played out
    control.Timer1_Timer();
    EXPECT_THAT(effects(), ElementsAreArray(again(80, "three")));
    EXPECT_EQ(control.VideoState, "Pause") << "still a last segment, never held";
    video_at(90);
    narration("stopped");
    control.Timer1_Timer();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer1 off", "VideoEnd"));
    EXPECT_EQ(host.video_ends, 1);
}

}  // namespace
}  // namespace strovia::test
