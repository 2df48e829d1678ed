#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "catalogue/rules.hpp"
#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

class FileOpen : public ControlTest {};

TEST_F(FileOpen, PathAndQueryTextsAreFormedAsTheCatalogueExpects) {
    EXPECT_EQ(catalogue::catalogue_path("C:\\course"), "C:\\course\\video\\AVPelmo.mdb");
    EXPECT_EQ(catalogue::catalogue_path("C:\\course\\"), "C:\\course\\\\video\\AVPelmo.mdb");
    EXPECT_EQ(catalogue::segment_rows(FieldValue{std::int64_t{12}}), "select * from Audio_Asana12");
    EXPECT_EQ(catalogue::photo_rows(FieldValue{std::int64_t{-3}}), "select * from Photo_Asana-3");
    EXPECT_EQ(catalogue::photo_rows(FieldValue{Null{}}), "select * from Photo_Asana");
    EXPECT_EQ(catalogue::posture_lookup("Warrior \"II\""),
              "select * from Asanas where name = \"Warrior \"\"II\"\"\"");
}

TEST_F(FileOpen, UnknownNameShowsTheOneMessageAndNothingElse) {
    posture("Tadasana", std::int64_t{7}, std::string("Video"));
    control.AsanaNaME("Nowhere");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_THAT(host.messages, ::testing::ElementsAre("Asana not found - Nowhere"));
    EXPECT_EQ(host.video_ends, 0);
    EXPECT_EQ(channel.commands, std::vector<std::string>{"close all"});
    EXPECT_EQ(host.suppressed, std::vector<std::string>{"fileOpen 3021"});
    EXPECT_TRUE(trace.contains("Picture1 clear"));
    EXPECT_FALSE(host.timer1().enabled() || host.timer2().enabled());
    EXPECT_TRUE(db.connects.back() == ";PWD=Mint3laneKK;");
    EXPECT_TRUE(trace.contains("db open C:\\course\\video\\AVPelmo.mdb exclusive read-only"));
}

TEST_F(FileOpen, NamesAreLookedUpLiterallyWhateverTheirCase) {
    posture("Warrior \"II\"", std::int64_t{3}, std::string("Photo"));
    photos(3, {{std::string("w"), std::string("w.bmp")}});
    posture("a", std::int64_t{4}, std::string("Photo"));
    control.AsanaNaME("warrior \"ii\"");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(control.CurImageName, "w.bmp");

    control.AsanaNaME("x\" or \"a\"=\"a");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_THAT(host.messages, ::testing::ElementsAre("Asana not found - x\" or \"a\"=\"a"));
}

TEST_F(FileOpen, AMissingCatalogueIsSilentUnlessOneIsStillOpen) {
    ASSERT_TRUE(control.fileOpen());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(control.Db, nullptr);
    // Silent to the user, told to the host: the opening first, then what it
    // left without a catalogue, InitAudio last.
    ASSERT_FALSE(host.suppressed.empty());
    EXPECT_EQ(host.suppressed.front(), "fileOpen 3024");
    EXPECT_EQ(host.suppressed.back(), "InitAudio 91");
    EXPECT_FALSE(host.timer1().enabled() || host.timer2().enabled());
    EXPECT_EQ(host.video_ends, 0);

    // With a catalogue still held from a lookup that failed, the control goes
    // on with it when the opening fails.
    posture("Tadasana", std::int64_t{12}, std::string("Photo"));
    photos(12, {{std::string("n"), std::string("p.bmp")}});
    control.AsanaNaME("Nowhere");
    ASSERT_TRUE(control.fileOpen());
    db.second_exclusive_fails = true;
    control.AsanaNaME("Tadasana");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_TRUE(host.timer2().enabled()) << "played from the catalogue still open";
}

TEST_F(FileOpen, OpeningTwiceRestartsFromTheFirstRow) {
    posture("Tadasana", std::int64_t{7}, std::string("Video"));
    segments(7, {{"s1", 0}, {"s2", 10}, {"s3", 20}});
    ASSERT_TRUE(control.fileOpen());
    narration("stopped");
    video_at(15);
    control.Timer1_Timer();
    ASSERT_EQ(control.CurMp2name, "s3");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(control.CurMp2name, "s2");
    EXPECT_EQ(control.CurStartPos, 10);
    EXPECT_FALSE(control.ListDone);
}

TEST_F(FileOpen, MissingTableOrVideoNameLeaveWhatWasThere) {
    posture("Tadasana", std::int64_t{9}, std::string("Video"), Null{});
    control.CurVideoName = "earlier.mpg";
    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(control.CurVideoName, "earlier.mpg");
    // No Audio_Asana9: Rs keeps the lookup row, InitVideo stops at its first
    // field, which that row lacks.
    EXPECT_TRUE(
        trace.contains("mci open C:\\course\\video\\earlier.mpg  alias video type "
                       "mpegVideo  style child parent  4242"));
    EXPECT_FALSE(host.timer1().enabled());
    EXPECT_FALSE(trace.contains("mci play video"));
    EXPECT_THAT(host.suppressed,
                ::testing::ElementsAre("fileOpen 94", "fileOpen 3078", "InitVideo 3265"));
}

TEST_F(FileOpen, ANewPhotoPostureAlwaysStartsNarrated) {
    posture("Tadasana", std::int64_t{12}, std::string("Photo"));
    photos(12, {{std::string("n"), std::string("p.bmp")}});
    control.PhotoPreview = true;
    control.VideoPreview = true;
    ASSERT_TRUE(control.fileOpen());
    EXPECT_FALSE(control.PhotoPreview);
    EXPECT_FALSE(control.VideoPreview);
    EXPECT_EQ(control.SoundState, "Playing");
}

}  // namespace
}  // namespace strovia::test
