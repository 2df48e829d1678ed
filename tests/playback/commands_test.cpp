#include "playback/commands.hpp"

#include <gtest/gtest.h>

#include "doubles/scripted_channel.hpp"
#include "playback/reply.hpp"

namespace strovia {
namespace {

using namespace std::string_literals;

// The programme tests check the plain open commands; here the cases they
// do not reach: "mt" only by its exact name, blanks, negative handles.
TEST(Commands, MtOnlyByItsExactNameAndPathsWithBlanksQuotedWhole) {
    EXPECT_EQ(commands::narration_open("C:\\course", "C:\\lib", "mt"),
              "open C:\\lib\\mt.mp2 alias Sound type mpegVideo");
    EXPECT_EQ(commands::narration_open("C:\\course", "C:\\lib", "Mt"),
              "open C:\\course\\sound\\mp2\\Mt.mp2 alias Sound type mpegVideo");
    EXPECT_EQ(
        commands::video_open("C:\\course", "tada.mpg", -56),
        "open C:\\course\\video\\tada.mpg  alias video type mpegVideo  style child parent -56");
    EXPECT_EQ(
        commands::video_open("/home/a/My Course", "tada.mpg", 7),
        "open \"/home/a/My Course\\video\\tada.mpg\"  alias video type mpegVideo  style child "
        "parent  7");
    EXPECT_EQ(commands::narration_open("/c", "/opt/my lib", "mt"),
              "open \"/opt/my lib\\mt.mp2\" alias Sound type mpegVideo");
    EXPECT_EQ(commands::narration_open("/c", "/opt/my lib", "two words"),
              "open \"/c\\sound\\mp2\\two words.mp2\" alias Sound type mpegVideo");
}

TEST(ReplyReading, ModeRepliesCleanAsTheControlReadsThem) {
    ReplyBuffer b;
    EXPECT_EQ(clean_mode_reply(b.chars()), "") << "all blanks";
    EXPECT_FALSE(reads_stopped(clean_mode_reply(b.chars())));

    b.set("stopped\0"s);
    EXPECT_EQ(clean_mode_reply(b.chars()), "stopped");
    EXPECT_TRUE(reads_stopped(clean_mode_reply(b.chars())));
    b.set("Stopped\0"s);
    EXPECT_TRUE(reads_stopped(clean_mode_reply(b.chars())));
    b.set("STOPPED\0"s);
    EXPECT_TRUE(reads_stopped(clean_mode_reply(b.chars())));

    // A short reply over the tail of a longer one keeps only itself.
    b.set("paused\0g\0"s);
    EXPECT_EQ(clean_mode_reply(b.chars()), "paused");
    b.set("not ready\0"s);
    EXPECT_FALSE(reads_stopped(clean_mode_reply(b.chars())));
    b.set("stopped now\0"s);
    EXPECT_FALSE(reads_stopped(clean_mode_reply(b.chars())));
    // A reply filling the whole buffer without NUL loses its last character.
    b.set(std::string(50, 'x'));
    EXPECT_EQ(clean_mode_reply(b.chars()), std::string(49, 'x'));
}

TEST(ReplyReading, PositionIsTheLeadingNumber) {
    ReplyBuffer b;
    EXPECT_EQ(read_position(b.chars()), 0.0);
    b.set("123\0ing\0"s);
    EXPECT_EQ(read_position(b.chars()), 123.0);
    b.set("12.5\0"s);
    EXPECT_EQ(read_position(b.chars()), 12.5);
    b.set("abc\0"s);
    EXPECT_EQ(read_position(b.chars()), 0.0);
    b.set("  77 \0"s);
    EXPECT_EQ(read_position(b.chars()), 77.0);
}

TEST(ReplyReading, TheTickBufferKeepsLeftoversBetweenQueries) {
    test::Trace trace;
    test::ScriptedChannel channel(trace);
    channel.answer("status sound mode", "playing");
    channel.answer("status video Position", "42");
    ReplyBuffer b;
    b.query(channel, "status sound mode");
    EXPECT_EQ(channel.last_reply_length, 49u);
    EXPECT_EQ(channel.last_notify_window, 0);
    b.query(channel, "status video Position");
    EXPECT_EQ(b.chars().substr(0, 8), "42\0ying\0"s);
    EXPECT_EQ(read_position(b.chars()), 42.0);
    // A failed query writes nothing: the previous reply stays.
    b.query(channel, "status nothing mode");
    EXPECT_EQ(clean_mode_reply(b.chars()), "42");
}

}  // namespace
}  // namespace strovia
