#include "mci/parser.hpp"

#include <gtest/gtest.h>

namespace strovia::mci {
namespace {

std::vector<std::string> texts(std::string_view command) {
    auto t = tokenize(command);
    EXPECT_TRUE(t.ok()) << (t.ok() ? "" : t.error().text);
    std::vector<std::string> out;
    if (t) {
        for (const auto& tok : *t) out.push_back(tok.text);
    }
    return out;
}

std::int32_t error_of(std::string_view command) {
    auto c = parse(command);
    return c.ok() ? 0 : c.error().number;
}

TEST(Tokenize, BlanksSeparateAndQuotesHoldBlanks) {
    EXPECT_EQ(texts("  play   video  "), (std::vector<std::string>{"play", "video"}));
    EXPECT_EQ(texts("open \"/a/My Course/v.mpg\" alias v"),
              (std::vector<std::string>{"open", "/a/My Course/v.mpg", "alias", "v"}));
    EXPECT_EQ(texts("open \"\" x"), (std::vector<std::string>{"open", "", "x"}));
    EXPECT_EQ(texts("\"end\""), (std::vector<std::string>{"end"}));
}

TEST(Tokenize, QuoteFaultsAreErrors) {
    auto unclosed = tokenize("open \"/a/My Course/v.mpg alias v");
    ASSERT_FALSE(unclosed.ok());
    EXPECT_EQ(unclosed.error().number, err::kUnclosedQuote);
    auto glued = tokenize("open \"/a/b\"c alias v");
    ASSERT_FALSE(glued.ok());
    EXPECT_EQ(glued.error().number, err::kGluedQuote);
    auto inside = tokenize("open /a/b\"c d\" alias v");
    ASSERT_FALSE(inside.ok());
    EXPECT_EQ(inside.error().number, err::kGluedQuote);
}

TEST(ParseOpen, TheControlsVideoCommandKeepsThePathAndReadsTheHandle) {
    auto c = parse(
        "open C:\\Course\\video\\Clip.MPG  alias video type mpegVideo  style child "
        "parent  1234");
    ASSERT_TRUE(c.ok()) << c.error().text;
    EXPECT_EQ(c->verb, Verb::kOpen);
    EXPECT_EQ(c->open.path, "C:\\Course\\video\\Clip.MPG");
    EXPECT_EQ(c->open.alias, "video");
    ASSERT_TRUE(c->open.parent.has_value());
    EXPECT_EQ(*c->open.parent, 1234);

    auto negative = parse("open /x/v.mpg alias video type mpegVideo  style child parent -77");
    ASSERT_TRUE(negative.ok());
    EXPECT_EQ(*negative->open.parent, -77);
}

TEST(ParseOpen, KeywordsIgnoreCaseButPathAndAliasAreKept) {
    auto c = parse("OPEN /Data/Sound/MP2/Intro.mp2 ALIAS Sound TyPe MPEGVIDEO");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c->open.path, "/Data/Sound/MP2/Intro.mp2");
    EXPECT_EQ(c->open.alias, "Sound");
    EXPECT_FALSE(c->open.parent.has_value());

    auto no_alias = parse("open /Data/V.mpg");
    ASSERT_TRUE(no_alias.ok());
    EXPECT_EQ(no_alias->open.alias, "/Data/V.mpg");
}

TEST(ParseOpen, BadParametersHaveTheirOwnNumbers) {
    EXPECT_EQ(error_of("open"), err::kMissingParameter);
    EXPECT_EQ(error_of("open /v.mpg alias"), err::kMissingParameter);
    EXPECT_EQ(error_of("open /v.mpg type waveaudio"), err::kUnknownDeviceType);
    EXPECT_EQ(error_of("open /v.mpg parent 12ab"), err::kBadHandle);
    EXPECT_EQ(error_of("open /v.mpg parent"), err::kMissingParameter);
    EXPECT_EQ(error_of("open /v.mpg style popup"), err::kBadParameter);
    EXPECT_EQ(error_of("open /v.mpg shareable x"), err::kBadParameter);
}

TEST(ParseOthers, VerbsStatusItemsAndTimeFormats) {
    auto pos = parse("status video Position");
    ASSERT_TRUE(pos.ok());
    EXPECT_EQ(pos->verb, Verb::kStatus);
    EXPECT_EQ(pos->alias, "video");
    EXPECT_EQ(pos->item, StatusItem::kPosition);

    auto fmt = parse("STATUS v TIME FORMAT");
    ASSERT_TRUE(fmt.ok());
    EXPECT_EQ(fmt->item, StatusItem::kTimeFormat);
    EXPECT_EQ(parse("status v length")->item, StatusItem::kLength);
    EXPECT_EQ(parse("status v ready")->item, StatusItem::kReady);
    EXPECT_EQ(parse("status sound mode")->item, StatusItem::kMode);

    EXPECT_EQ(parse("set video time format frames")->format, TimeFormat::kFrames);
    EXPECT_EQ(parse("set video time format ms")->format, TimeFormat::kMilliseconds);
    EXPECT_EQ(parse("Set video Time Format Milliseconds")->format, TimeFormat::kMilliseconds);

    EXPECT_EQ(parse("close all")->verb, Verb::kClose);
    EXPECT_EQ(parse("Pause sound")->verb, Verb::kPause);
    EXPECT_EQ(parse("stop v")->verb, Verb::kStop);
    EXPECT_EQ(parse("play video")->alias, "video");
}

TEST(ParseOthers, MalformedCommandsFail) {
    EXPECT_EQ(error_of(""), err::kEmptyCommand);
    EXPECT_EQ(error_of("   "), err::kEmptyCommand);
    EXPECT_EQ(error_of("rewind v"), err::kUnknownCommand);
    EXPECT_EQ(error_of("\"play\" v"), err::kUnknownCommand);
    EXPECT_EQ(error_of("play"), err::kMissingParameter);
    EXPECT_EQ(error_of("play v now"), err::kBadParameter);
    EXPECT_EQ(error_of("status v"), err::kMissingParameter);
    EXPECT_EQ(error_of("status v volume"), err::kBadParameter);
    EXPECT_EQ(error_of("status v time"), err::kBadParameter);
    EXPECT_EQ(error_of("status v mode now"), err::kBadParameter);
    EXPECT_EQ(error_of("set v time format seconds"), err::kBadParameter);
    EXPECT_EQ(error_of("set v speed format frames"), err::kBadParameter);
    EXPECT_EQ(error_of("set v time format"), err::kMissingParameter);
}

}  // namespace
}  // namespace strovia::mci
