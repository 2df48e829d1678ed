#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;

class PhotoProgramme : public ControlTest {
protected:
    void start(const std::vector<Photo>& rows) {
        posture("Tadasana", std::int64_t{12}, std::string("Photo"), Null{});
        photos(12, rows);
        ASSERT_TRUE(control.fileOpen());
    }
    static std::string open(const std::string& name) {
        return "mci open C:\\course\\sound\\mp2\\" + name + ".mp2 alias Sound type mpegVideo";
    }
    static std::string pic(const std::string& name) {
        return "Picture1 picture C:\\course\\video\\" + name;
    }
    std::vector<std::string> effects() {
        std::vector<std::string> out;
        for (const auto& l : trace.take()) {
            if (l.rfind("query", 0) != 0 && l.rfind("db open", 0) != 0) out.push_back(l);
        }
        return out;
    }
};

TEST_F(PhotoProgramme, NarratedRunShowsOnePicturePerNarrationAndEnds) {
    start({{std::string("n1"), std::string("p1.bmp")},
           {std::string("n2"), std::string("p2.jpg")},
           {std::string("n3"), std::string("p3.bmp")}});
    EXPECT_THAT(effects(), ElementsAre("mci close all", "Picture1 clear", pic("p1.bmp"), "yield",
                                       "Timer2 interval 10", open("n1"), "yield", "mci play sound",
                                       "Timer2 on"));
    EXPECT_FALSE(control.VideoMode);
    EXPECT_EQ(control.VideoState, "");

    narration("playing");
    tick2();
    EXPECT_TRUE(effects().empty());

    narration("stopped");
    tick2();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer2 off", pic("p2.jpg"), open("n2"),
                                       "Timer2 on", "mci play sound"));
    tick2();
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p3.bmp");
    trace.take();
    tick2();
    EXPECT_THAT(effects(),
                ElementsAre("mci close sound", "Timer2 off", "rs close", "db close", "VideoEnd"));
    EXPECT_TRUE(control.ListDone);
    EXPECT_EQ(control.CurStartPos, -10);
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p3.bmp") << "the last picture stays";
    EXPECT_FALSE(host.timer2().enabled());
}

TEST_F(PhotoProgramme, ANarrationThatCannotBeOpenedCountsAsFinished) {
    channel.failing.insert(open("n2").substr(4));
    start({{std::string("n1"), std::string("p1.bmp")},
           {std::string("n2"), std::string("p2.bmp")},
           {std::string("n3"), std::string("p3.bmp")}});
    trace.take();
    narration("stopped");
    tick2();
    EXPECT_THAT(effects(), ElementsAre("mci close sound", "Timer2 off", pic("p2.bmp"), open("n2"),
                                       "Timer2 on"))
        << "nothing is sent to a narration that is not open";
    narration("playing");
    tick2();
    EXPECT_THAT(effects(),
                ElementsAre("Timer2 off", pic("p3.bmp"), open("n3"), "Timer2 on", "mci play sound"))
        << "the next picture comes on the next tick";
    EXPECT_EQ(control.SoundState, "Playing");
}

TEST_F(PhotoProgramme, OneRowEndsOnTheFirstFinishedNarration) {
    start({{std::string("mt"), std::string("only.bmp")}});
    EXPECT_TRUE(trace.contains("mci open C:\\lib\\mt.mp2 alias Sound type mpegVideo"));
    trace.take();
    narration("stopped");
    tick2();
    EXPECT_THAT(effects(),
                ElementsAre("mci close sound", "Timer2 off", "rs close", "db close", "VideoEnd"));
    EXPECT_EQ(host.video_ends, 1);
}

TEST_F(PhotoProgramme, RowsThatCannotBeShownAreHandledWithoutFault) {
    host.picture1().failures["C:\\course\\video\\broken.bmp"] = {481, "Invalid picture"};
    start({{std::string("n1"), std::string("p1.bmp")},
           {std::string("n2"), std::string("broken.bmp")},
           {Null{}, std::string("p3.bmp")},
           {std::string(""), std::string("p4.bmp")},
           {std::string("n5"), Null{}},
           {Null{}, std::string("p6.bmp")}});
    narration("stopped");
    tick2();
    // A picture that does not load leaves the box empty; its narration plays.
    EXPECT_EQ(control.CurMp2name, "n2");
    EXPECT_EQ(host.picture1().shown, "");
    EXPECT_TRUE(host.timer2().enabled());
    tick2();
    // Rows without a narration name are skipped; a row without a picture shows none.
    EXPECT_EQ(control.CurMp2name, "n5");
    EXPECT_EQ(host.picture1().shown, "");
    EXPECT_TRUE(trace.contains(open("n5")));
    // Skipping past the last row ends the programme like a last narration.
    tick2();
    EXPECT_EQ(host.video_ends, 1);
    EXPECT_TRUE(control.ListDone);
    EXPECT_FALSE(host.timer2().enabled());
}

}  // namespace
}  // namespace strovia::test
