// The display-type rules as every user of them sees one catalogue: what the
// course object lists, what its check reports, and what the control's
// fileOpen and Preview really do with each posture.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <strovia/course.hpp>

#include "support.hpp"
#include "tables.hpp"

namespace strovia::test {
namespace {

using nlohmann::json;
using P = Presentation;

struct Case {
    json disp_type;
    P file_open;
    P preview;
};

// As the control defines them: fileOpen plays a video for "Video" exactly,
// Preview shows pictures for "PHOTO" in any case and fails on a null.
const std::vector<Case> kCases{
    {"Video", P::Video, P::Video},  {"video", P::Photo, P::Video}, {"VIDEO", P::Photo, P::Video},
    {"Video ", P::Photo, P::Video}, {"PHOTO", P::Photo, P::Photo}, {"photo", P::Photo, P::Photo},
    {"", P::Photo, P::Video},       {nullptr, P::Photo, P::Fails}, {"Slides", P::Photo, P::Video},
};

std::string posture_name(std::size_t i) { return "Posture " + std::to_string(i + 1); }

// One posture a case, each with two video segments and one picture.
json catalogue() {
    json all = json::array({tables::asanas(json::array())});
    for (std::size_t i = 0; i < kCases.size(); ++i) {
        const int id = static_cast<int>(i) + 1;
        all[0]["rows"].push_back({id, posture_name(i), kCases[i].disp_type, "v.mpg"});
        all.push_back(tables::segments(id, {{"s1", "a", 0, 9, 1.0}, {"s2", "b", 10, 19, 1.0}}));
        all.push_back(tables::photos(id, json::parse(R"([["n1", "p.bmp"]])")));
    }
    return {{"tables", all}};
}

TEST(DisplayType, TheControlTheListingAndTheCheckAgreeOnEveryKind) {
    jet::test::TempDir dir;
    std::filesystem::create_directories(dir.file("video"));
    jet::test::build(catalogue(), dir.file("video/AVPelmo.mdb"));

    Course course;
    ASSERT_TRUE(course.open(QString::fromStdString(dir.path())))
        << course.errorString().toStdString();
    const auto listed = course.postures();
    const auto report = course.check(Course::CheckDepth::Catalogue);
    ASSERT_EQ(listed.size(), static_cast<qsizetype>(kCases.size()));
    ASSERT_EQ(report.postures.size(), listed.size());
    EXPECT_EQ(jet::test::child_open_number(dir.file("video/AVPelmo.mdb")), 0)
        << "the course let its catalogue go";

    jet::test::RealControl real{dir.path()};
    auto& [trace, host, channel, engines, control] = real;

    for (std::size_t i = 0; i < kCases.size(); ++i) {
        const Case& c = kCases[i];
        SCOPED_TRACE(c.disp_type.dump());
        const auto& p = listed[static_cast<qsizetype>(i)];
        EXPECT_EQ(p.dispTypeNull, c.disp_type.is_null());
        // The listing, and the check's own walk, as the control defines it.
        EXPECT_EQ(p.fileOpen, c.file_open);
        EXPECT_EQ(p.preview, c.preview);
        EXPECT_EQ(p.previewErrorNumber,
                  c.preview == P::Fails ? runtime_error::kInvalidUseOfNull : 0);
        EXPECT_EQ(p.parts, c.file_open == P::Video ? 2 : 1);
        const auto& checked = report.postures[static_cast<qsizetype>(i)];
        EXPECT_EQ(checked.fileOpen, p.fileOpen);
        EXPECT_EQ(checked.preview, p.preview);

        // The check names exactly the postures whose methods disagree or fail.
        auto said = [&](const char* words) {
            return std::any_of(report.findings.begin(), report.findings.end(), [&](const auto& f) {
                return f.posture == p.name && f.text.contains(words);
            });
        };
        EXPECT_EQ(said("Preview fails"), c.preview == P::Fails);
        EXPECT_EQ(said("but Preview plays the video"),
                  c.file_open == P::Photo && c.preview == P::Video);

        // What the control does.
        control.AsanaNaME(posture_name(i));
        channel.commands.clear();
        host.picture1().clear();
        ASSERT_TRUE(control.fileOpen());
        const bool opened_video =
            std::any_of(channel.commands.begin(), channel.commands.end(),
                        [](const std::string& s) { return s.find("v.mpg") != std::string::npos; });
        EXPECT_EQ(opened_video ? P::Video : P::Photo, c.file_open);
        EXPECT_EQ(host.picture1().shown.ends_with("p.bmp"), c.file_open == P::Photo);
        EXPECT_EQ(control.VideoMode, c.file_open == P::Video);

        ASSERT_TRUE(control.StopPlay());
        control.PhotoPreview = false;
        channel.commands.clear();
        auto previewed = control.Preview();
        if (c.preview == P::Fails) {
            ASSERT_FALSE(previewed);
            EXPECT_EQ(previewed.error().number, runtime_error::kInvalidUseOfNull);
        } else {
            ASSERT_TRUE(previewed) << previewed.error().text;
            EXPECT_EQ(control.PhotoPreview, c.preview == P::Photo);
            // A video preview sends three commands; pictures only close all, twice.
            EXPECT_EQ(channel.commands.size(), c.preview == P::Video ? 3u : 2u);
        }
        ASSERT_TRUE(control.StopPlay());
    }
}

}  // namespace
}  // namespace strovia::test
