#include "mci/parser.hpp"

#include <gtest/gtest.h>

namespace strovia::mci {
namespace {

TEST(Parse, OpenKeepsPathAndAliasAsWrittenAndReadsTheHandle) {
    auto c = parse(
        "  open  \"/a/My Course/v.mpg\"  alias video type mpegVideo style child parent  -1234 ");
    ASSERT_TRUE(c.ok()) << c.error().text;
    EXPECT_EQ(c->open.path, "/a/My Course/v.mpg");
    EXPECT_EQ(c->open.alias, "video");
    EXPECT_EQ(c->open.parent, -1234);

    c = parse("OPEN C:\\Course\\Intro.MP2 ALIAS Sound TyPe MPEGVIDEO");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c->open.path, "C:\\Course\\Intro.MP2");
    EXPECT_EQ(c->open.alias, "Sound");
    EXPECT_FALSE(c->open.parent.has_value());
    EXPECT_EQ(parse("open \"\" alias x")->open.path, "");
    EXPECT_EQ(parse("open /Data/V.mpg")->open.alias, "/Data/V.mpg");  // no alias: the path
}

// What each command is read as; the interpreter's tests show what the
// commands then do.
TEST(Parse, EveryCommandIsReadOrFailsWithItsOwnNumber) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"STATUS v TIME FORMAT", 0},
        {"Pause v", 0},
        {"open \"/a/My Course/v.mpg alias v", err::kUnclosedQuote},
        {"open \"/a/b\"c alias v", err::kGluedQuote},
        {"open /a/b\"c d\" alias v", err::kGluedQuote},
        {"", err::kEmptyCommand},
        {"   ", err::kEmptyCommand},
        {"rewind v", err::kUnknownCommand},
        {"\"play\" v", err::kUnknownCommand},
        {"open", err::kMissingParameter},
        {"open /v.mpg alias", err::kMissingParameter},
        {"open /v.mpg type waveaudio", err::kUnknownDeviceType},
        {"open /v.mpg parent 12ab", err::kBadHandle},
        {"open /v.mpg parent", err::kMissingParameter},
        {"open /v.mpg style popup", err::kBadParameter},
        {"open /v.mpg shareable x", err::kBadParameter},
        {"play", err::kMissingParameter},
        {"play v now", err::kBadParameter},
        {"status v", err::kMissingParameter},
        {"status v volume", err::kBadParameter},
        {"status v time", err::kBadParameter},
        {"status v mode now", err::kBadParameter},
        {"set v time format seconds", err::kBadParameter},
        {"set v speed format frames", err::kBadParameter},
        {"set v time format", err::kMissingParameter},
        {"SEEK v TO 0", 0},
        {"seek v", err::kMissingParameter},
        {"seek v at 5", err::kMissingParameter},
        {"seek v to", err::kMissingParameter},
        {"seek v to 5x", err::kBadParameter},
        {"seek v to -5", err::kBadParameter},
        {"seek v to 99999999999999999999", err::kBadParameter},
        {"seek v to 5 now", err::kBadParameter},
    };
    for (const auto& [command, number] : cases) {
        auto c = parse(command);
        EXPECT_EQ(c.ok() ? 0 : c.error().number, number) << command;
    }
    EXPECT_EQ(parse("Status v Ready")->item, StatusItem::kReady);
    EXPECT_EQ(parse("seek Video to 1234")->seek_to, 1234);
    EXPECT_EQ(parse("Set v Time Format Milliseconds")->format, TimeFormat::kMilliseconds);
}

}  // namespace
}  // namespace strovia::mci
