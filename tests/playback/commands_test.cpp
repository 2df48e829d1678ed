#include "playback/commands.hpp"

#include <gtest/gtest.h>

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

TEST(ReplyReading, ModeAndPositionAreReadAsTheControlReadsThem) {
    const struct {
        std::string raw, mode;  // raw: over a buffer of blanks
        bool stopped;
        double position;
    } rows[] = {
        {"", "", false, 0.0},
        {"stopped\0"s, "stopped", true, 0.0},
        {"Stopped\0"s, "Stopped", true, 0.0},
        {"STOPPED\0"s, "STOPPED", true, 0.0},
        {"stopped now\0"s, "stopped now", false, 0.0},
        {"paused\0g\0"s, "paused", false, 0.0},  // over the tail of a longer reply
        {"123\0ing\0"s, "123", false, 123.0},
        {"  77 \0"s, "77 ", false, 77.0},
        {"12.5\0"s, "12.5", false, 12.5},
        {"abc\0"s, "abc", false, 0.0},
        // A reply filling the whole buffer without NUL loses its last character.
        {std::string(50, 'x'), std::string(49, 'x'), false, 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        ReplyBuffer b;
        b.set(row.raw);
        EXPECT_EQ(clean_mode_reply(b.chars()), row.mode);
        EXPECT_EQ(reads_stopped(clean_mode_reply(b.chars())), row.stopped);
        EXPECT_DOUBLE_EQ(read_position(b.chars()), row.position);
    }
}

}  // namespace
}  // namespace strovia
