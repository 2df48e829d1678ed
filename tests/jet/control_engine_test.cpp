// The control on the real catalogue engine. The lock as a second program
// meets it: while a control plays from a catalogue, another process cannot
// open it; once the programme has ended or been stopped, it can. And
// posture names a host may pass that the query language was not made for.

#include <gtest/gtest.h>

#include <filesystem>

#include "support.hpp"

namespace strovia::jet::test {
namespace {

TEST(Lock, AnotherProcessWaitsForTheEndOrStopPlay) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("video"));
    const std::string path = dir.file("video/AVPelmo.mdb");
    auto manifest = posture_manifest();
    // Two good segment rows, so the programme runs to its end.
    manifest["tables"][1]["rows"] =
        nlohmann::json::parse(R"([["s1", "a", 0, 1, 1.0], ["s2", "b", 30, 2, 1.0]])");
    build(manifest, path);

    RealControl real{dir.path()};
    auto& [trace, host, channel, engines, control] = real;
    control.AsanaNaME("Tadasana");
    channel.answer("status sound mode", std::string("stopped") + '\0');
    channel.answer("status video Position", std::string("100") + '\0');

    ASSERT_TRUE(control.fileOpen());
    ASSERT_TRUE(host.timer1().enabled()) << "the programme started";
    EXPECT_EQ(child_open_number(path), 45);
    for (int i = 0; i < 10 && host.timer1().enabled(); ++i) control.Timer1_Timer();
    ASSERT_EQ(host.video_ends, 1);
    EXPECT_EQ(child_open_number(path), 0) << "the ended programme let the catalogue go";

    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(child_open_number(path), 45);
    ASSERT_TRUE(control.StopPlay());
    EXPECT_EQ(child_open_number(path), 0) << "StopPlay let the catalogue go";
}

TEST(HostileNames, EachEndsInTheNotFoundBoxOrQuietly) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("video"));
    build(posture_manifest(), dir.file("video/AVPelmo.mdb"));
    enum Outcome { NotFoundBox, Quiet, Plays };
    struct Case {
        std::string name;
        Outcome outcome;
    };
    const Case cases[] = {
        {std::string(100 * 1024, 'x'), NotFoundBox},
        {"Tada\nsana", NotFoundBox},
        {std::string("Tada\0sana", 9), NotFoundBox},
        {"\"", NotFoundBox},
        // Quotes inside the name are taken as part of it.
        {"Warrior \"II\"", Plays},
        {"éka pada", Quiet},  // found in any case: a photo posture without its table
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40));
        RealControl real{dir.path()};
        auto& [trace, host, channel, engines, control] = real;
        host.timer1().set_enabled(false);
        host.timer2().set_enabled(false);
        control.AsanaNaME(c.name);
        ASSERT_TRUE(control.fileOpen());
        if (c.outcome == NotFoundBox) {
            ASSERT_EQ(host.messages.size(), 1u);
            EXPECT_EQ(host.messages[0], "Asana not found - " + c.name);
        } else {
            EXPECT_TRUE(host.messages.empty());
        }
        if (c.outcome == Plays) {
            EXPECT_EQ(channel.commands.back(), "play sound");
            EXPECT_TRUE(host.timer2().enabled());
        } else {
            EXPECT_EQ(channel.commands, std::vector<std::string>{"close all"}) << "nothing plays";
            EXPECT_FALSE(host.timer2().enabled());
        }
        EXPECT_FALSE(host.timer1().enabled());
        EXPECT_TRUE(control.StopPlay());
    }
}

}  // namespace
}  // namespace strovia::jet::test
