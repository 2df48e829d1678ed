#include "mci/parser.hpp"

#include <gtest/gtest.h>

namespace strovia::mci {
namespace {

// What each command is read as (an open: its path and alias as written, and
// the handle); the interpreter's tests show what the commands then do.
TEST(Parse, EveryCommandIsReadOrFailsWithItsOwnNumber) {
    const struct {
        const char* command;
        std::int32_t number;
        std::string open = "";  // path|alias|handle
    } cases[] = {
        {"  open  \"/a/My Course/v.mpg\"  alias video type mpegVideo style child parent  -1234 ", 0,
         "/a/My Course/v.mpg|video|-1234"},
        {"OPEN C:\\Course\\Intro.MP2 ALIAS Sound TyPe MPEGVIDEO", 0,
         "C:\\Course\\Intro.MP2|Sound|"},
        {"open \"\" alias x", 0, "|x|"},
        {"open /Data/V.mpg", 0, "/Data/V.mpg|/Data/V.mpg|"},  // no alias: the path
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
    for (const auto& k : cases) {
        auto c = parse(k.command);
        EXPECT_EQ(c.ok() ? 0 : c.error().number, k.number) << k.command;
        if (c.ok() && c->verb == Verb::kOpen) {
            const auto& o = c->open;
            EXPECT_EQ(o.path + "|" + o.alias + "|" + (o.parent ? std::to_string(*o.parent) : ""),
                      k.open);
        }
    }
    EXPECT_EQ(parse("Status v Ready")->item, StatusItem::kReady);
    EXPECT_EQ(parse("seek Video to 1234")->seek_to, 1234);
    EXPECT_EQ(parse("Set v Time Format Milliseconds")->format, TimeFormat::kMilliseconds);
}

}  // namespace
}  // namespace strovia::mci
