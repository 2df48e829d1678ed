#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;

class Previews : public ControlTest {
protected:
    void catalogue(FieldValue type) {
        posture("Tadasana", std::int64_t{5}, std::move(type), std::string("tada.mpg"));
        photos(5, {{std::string("n1"), std::string("p1.bmp")},
                   {std::string("n2"), std::string("p2.bmp")},
                   {std::string("n3"), std::string("p3.bmp")}});
    }
};

TEST_F(Previews, VideoPreviewSendsThreeCommandsAndEndsOnce) {
    catalogue(std::string("Video"));
    auto r = control.Preview();
    ASSERT_TRUE(r);
    EXPECT_TRUE(is_empty(*r));
    EXPECT_THAT(channel.commands,
                ElementsAre("close all",
                            "open C:\\course\\video\\tada.mpg  alias video type mpegVideo  style "
                            "child parent  4242",
                            "play video"));
    EXPECT_TRUE(control.VideoPreview);
    EXPECT_TRUE(host.timer1().enabled());
    video_mode("playing");
    tick1();
    EXPECT_EQ(host.video_ends, 0);
    video_mode("STOPPED");  // the mode is compared without regard to case
    tick1();
    EXPECT_EQ(host.video_ends, 1);
    EXPECT_FALSE(host.timer1().enabled());
    EXPECT_EQ(channel.commands.size(), 3u);
    EXPECT_EQ(channel.queries, 2) << "one mode query a tick, nothing else";
}

TEST_F(Previews, PhotoPreviewOfNRowsEndsOnTheNthTickAndStopsItsTimer) {
    catalogue(std::string("Photo"));
    ASSERT_TRUE(control.Ppreview());
    EXPECT_THAT(channel.commands, ElementsAre("close all")) << "no narration";
    tick2();
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p2.bmp");
    tick2();
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p3.bmp");
    EXPECT_EQ(host.video_ends, 0);
    tick2();
    EXPECT_EQ(host.video_ends, 1);
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p3.bmp") << "the last picture stays";
    EXPECT_TRUE(control.ListDone);
    EXPECT_FALSE(host.timer2().enabled()) << "the ended preview does not tick on a closed row set";
    EXPECT_EQ(channel.queries, 0);

    // Start after the end brings the timer back; its ticks change nothing.
    ASSERT_TRUE(control.Start());
    tick2();
    EXPECT_EQ(host.video_ends, 1);
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p3.bmp");
}

TEST_F(Previews, UnknownNameFailsWithNoCurrentRecordAfterClosingDevices) {
    catalogue(std::string("Video"));
    control.AsanaNaME("Nowhere");
    auto r = control.Preview();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().number, 3021);
    EXPECT_THAT(channel.commands, ElementsAre("close all"));
    EXPECT_FALSE(host.timer1().enabled());

    auto p = control.Ppreview();
    ASSERT_FALSE(p);
    EXPECT_EQ(p.error().number, 3021);
    EXPECT_TRUE(control.PhotoPreview);
    EXPECT_EQ(host.timer2().interval(), 200);
    EXPECT_FALSE(host.timer2().enabled());
    // Through the dispatch entry the host gets the engine's error.
    auto d = control.invoke(dispid::kPreview, InvokeKind::Method);
    ASSERT_FALSE(d);
    EXPECT_EQ(d.error().number, 3021);
}

TEST_F(Previews, HandOverToPhotosSurvivesAnEngineRefusingASecondOpening) {
    catalogue(std::string("Photo"));
    db.second_exclusive_fails = true;
    ASSERT_TRUE(control.Preview());
    EXPECT_TRUE(host.timer2().enabled());
    EXPECT_EQ(host.picture1().shown, "C:\\course\\video\\p1.bmp");
}

TEST_F(Previews, PreviewFromTheEndHandlerOfAPreviewRaisesNoFurtherEnd) {
    catalogue(std::string("Video"));
    ASSERT_TRUE(control.Preview());
    video_mode("stopped");
    host.on_video_end = [&] {
        host.on_video_end = nullptr;
        ASSERT_TRUE(control.Preview());
        EXPECT_TRUE(host.timer1().enabled());
    };
    tick1();
    EXPECT_EQ(host.video_ends, 1);
    EXPECT_FALSE(host.timer1().enabled()) << "the ending tick turns Timer1 off after the handler";
    EXPECT_EQ(channel.commands.size(), 6u) << "the new preview's video was started";
}

}  // namespace
}  // namespace strovia::test
