#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "catalogue/field.hpp"
#include "doubles/control_fixture.hpp"

namespace strovia::test {
namespace {

using ::testing::ElementsAre;

class FileOpen : public ControlTest {};

TEST_F(FileOpen, AnUnknownNameShowsTheOneMessageAndPreviewsFailWithItsNumber) {
    posture("Tadasana", std::int64_t{7}, std::string("Video"));
    control.AsanaNaME("Nowhere");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_THAT(trace.take(),
                ElementsAre("changed AsanaNaME", "mci close all",
                            "db open C:\\course\\video\\AVPelmo.mdb exclusive read-only",
                            "Picture1 clear", "query select * from Asanas where name = \"Nowhere\"",
                            "message Asana not found - Nowhere"));
    EXPECT_THAT(host.suppressed, ElementsAre("fileOpen 3021"));
    EXPECT_TRUE(control.posture_not_found());

    // The previews show nothing: the engine's number reaches the host.
    for (DispId id : {dispid::kPreview, dispid::kPpreview}) {
        channel.commands.clear();
        auto r = control.invoke(id, InvokeKind::Method);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().number, 3021);
        EXPECT_THAT(channel.commands, ElementsAre("close all"));
        EXPECT_TRUE(control.posture_not_found());
    }
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(host.timer1().enabled() || host.timer2().enabled());
}

// A start whose catalogue cannot be opened starts nothing, and does not go
// on with a catalogue still held from before: its rows are another
// folder's, whose media would be looked for under this one.
TEST_F(FileOpen, AMissingCatalogueStartsNothingAndLetsAHeldOneGo) {
    ASSERT_TRUE(control.fileOpen());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_THAT(host.suppressed, ElementsAre("fileOpen 3024"));
    EXPECT_FALSE(host.timer1().enabled() || host.timer2().enabled());

    posture("Tadasana", std::int64_t{5}, std::string("Video"));
    segments(5, {{"a", 0}, {"b", 30}, {"c", 60}});
    ASSERT_TRUE(control.fileOpen());
    ASSERT_EQ(control.phase(), VideoCntl::Phase::Playing);
    channel.commands.clear();
    host.suppressed.clear();
    control.Resourcedir("D:\\elsewhere");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_THAT(channel.commands, ElementsAre("close all"));
    EXPECT_THAT(host.suppressed, ElementsAre("fileOpen 3024"));
    EXPECT_EQ(control.phase(), VideoCntl::Phase::Idle);
    EXPECT_EQ(control.Db, nullptr);
    EXPECT_EQ(control.Rs, nullptr);
    control.Resourcedir(kRoot);
    db.files.erase(kCatalogue);

    // An engine that refuses a second exclusive opening: fileOpen goes on
    // with the catalogue a failed lookup left open, and Ppreview with the
    // one Preview holds when it hands over to it.
    posture("Tadasana", std::int64_t{12}, std::string("Photo"));
    photos(12, {{std::string("n"), std::string("p.bmp")}});
    control.AsanaNaME("Nowhere");
    ASSERT_TRUE(control.fileOpen());
    db.second_exclusive_fails = true;
    control.AsanaNaME("Tadasana");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_TRUE(host.timer2().enabled());
    ASSERT_TRUE(control.StopPlay());
    ASSERT_TRUE(control.Preview());
    EXPECT_TRUE(host.timer2().enabled());
}

TEST_F(FileOpen, VideoStartFailuresEndItWhereTheyHappen) {
    // No video name and no segment table: the earlier name is kept, and
    // InitVideo stops at the first field, which the lookup row lacks.
    posture("Tadasana", std::int64_t{9}, std::string("Video"), Null{});
    control.CurVideoName = "earlier.mpg";
    ASSERT_TRUE(control.fileOpen());
    EXPECT_THAT(host.suppressed, ElementsAre("fileOpen 94", "fileOpen 3078", "InitVideo 3265"));
    EXPECT_TRUE(
        trace.contains("mci open C:\\course\\video\\earlier.mpg  alias video type "
                       "mpegVideo  style child parent  4242"));

    // An empty segment table: the video is opened, nothing plays.
    posture("Empty", std::int64_t{7}, std::string("Video"));
    segments(7, {});
    control.AsanaNaME("Empty");
    host.suppressed.clear();
    ASSERT_TRUE(control.fileOpen());
    EXPECT_THAT(host.suppressed, ElementsAre("InitVideo 3021"));
    EXPECT_TRUE(trace.contains("mci set video time format frames"));
    EXPECT_FALSE(trace.contains("mci play video"));
    EXPECT_FALSE(host.timer1().enabled());
}

TEST(FieldConversion, Int16RoundsHalfToEvenAndRejectsOverflow) {
    EXPECT_EQ(*field_as_int16(FieldValue{2.5}), 2);
    EXPECT_EQ(*field_as_int16(FieldValue{3.5}), 4);
    EXPECT_EQ(*field_as_int16(FieldValue{-2.5}), -2);
    EXPECT_EQ(*field_as_int16(FieldValue{2.6}), 3);
    EXPECT_EQ(*field_as_int16(FieldValue{std::int64_t{-32768}}), -32768);
    EXPECT_EQ(*field_as_int16(FieldValue{32767.4}), 32767);
    EXPECT_EQ(field_as_int16(FieldValue{std::int64_t{40000}}).error().number, 6);
    EXPECT_EQ(field_as_int16(FieldValue{32767.5}).error().number, 6);
    EXPECT_EQ(field_as_int16(FieldValue{std::string(" 12 ")}).value(), 12);
    EXPECT_EQ(field_as_int16(FieldValue{std::string("12a")}).error().number, 13);
    EXPECT_EQ(field_as_int16(FieldValue{Null{}}).error().number, 94);
}

TEST(FieldConversion, TextOfNumbersIsTheirDecimalText) {
    EXPECT_EQ(*field_as_text(FieldValue{std::int64_t{-7}}), "-7");
    EXPECT_EQ(*field_as_text(FieldValue{444.555}), "444.555");
    EXPECT_EQ(*field_as_text(FieldValue{12.0}), "12");
    EXPECT_EQ(*field_as_text(FieldValue{true}), "True");
    EXPECT_EQ(field_as_text(FieldValue{Null{}}).error().number, 94);
}

TEST(FieldConversion, DoubleFromNumbersAndNumericText) {
    EXPECT_DOUBLE_EQ(*field_as_double(FieldValue{std::string("3.25")}), 3.25);
    EXPECT_DOUBLE_EQ(*field_as_double(FieldValue{std::int64_t{5}}), 5.0);
    EXPECT_EQ(field_as_double(FieldValue{std::string("abc")}).error().number, 13);
    EXPECT_EQ(field_as_double(FieldValue{Null{}}).error().number, 94);
}

}  // namespace
}  // namespace strovia::test
