// The programme run on the virtual clock, held against schedules worked
// out by hand from the rows and the media lengths: when each part begins,
// where the video stands held and for how long, when each narration
// starts, which picture shows when, and when VideoEnd comes. The postures
// are those of the test courses (the end-to-end course, the demo course)
// and the corners of the hold rule.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulation/virtual_run.hpp"

namespace strovia::sim {
namespace {

constexpr const char* kRoot = "C:\\c";

struct Seg {
    std::string narration;
    int start_pos;
};
struct Pic {
    FieldValue narration;
    std::string picture;
};

std::string sound(const std::string& name) {
    return name == "mt" ? std::string("C:\\lib\\mt.mp2")
                        : std::string(kRoot) + "\\sound\\mp2\\" + name + ".mp2";
}

Posture video(const std::vector<Seg>& segs) {
    Posture p{"P", kRoot, "C:\\lib", {}, {}};
    p.found = {FieldValue{std::int64_t{7}}, FieldValue{std::string("Video")},
               FieldValue{std::string("v.mpg")}};
    p.rows.video = true;
    for (const auto& s : segs) {
        p.rows.segments.push_back({FieldValue{s.narration}, FieldValue{std::string("act")},
                                   FieldValue{std::int64_t{s.start_pos}},
                                   FieldValue{std::int64_t{s.start_pos + 9}}, FieldValue{1.0}});
    }
    return p;
}

Posture photo(const std::vector<Pic>& pics) {
    Posture p{"P", kRoot, "C:\\lib", {}, {}};
    p.found = {FieldValue{std::int64_t{4}}, FieldValue{std::string("Photo")}, FieldValue{Null{}}};
    for (const auto& s : pics) p.rows.photos.push_back({s.narration, FieldValue{s.picture}});
    return p;
}

// Narrations by name, in ms; the video of `frames` at 25 a second.
Media media(std::vector<std::pair<std::string, int>> narrations, int frames = 0) {
    Media m;
    if (frames > 0) m["C:\\c\\video\\v.mpg"] = {frames * 40000000LL, frames, 25, 1};
    for (const auto& [name, ms] : narrations) m[sound(name)] = {ms * 1000000LL};
    return m;
}

struct Hold {
    int frame, from_ms, to_ms;
    friend bool operator==(const Hold&, const Hold&) = default;
};
struct Start {
    std::string what;  // a narration's name, or a picture's file
    int at_ms;
    friend bool operator==(const Start&, const Start&) = default;
};
struct Span {
    int from_ms, length_ms;
    friend bool operator==(const Span&, const Span&) = default;
};

struct Expected {
    std::vector<Span> parts;
    std::vector<Hold> holds;  // only holds that last
    std::vector<Start> narrations;
    std::vector<Start> pictures;
    int end_ms;
};

struct Case {
    const char* name;
    Posture posture;
    Media media;
    Expected want;
};

std::string base(const std::string& path) {
    const auto slash = path.rfind('\\');
    std::string b = slash == std::string::npos ? path : path.substr(slash + 1);
    if (b.ends_with(".mp2")) b.resize(b.size() - 4);
    return b;
}

Expected observed(const Record& r) {
    Expected got{{}, {}, {}, {}, static_cast<int>(r.end_ns / 1000000)};
    auto ms = [](std::int64_t ns) { return static_cast<int>(ns / 1000000); };
    for (const auto& s : r.parts()) got.parts.push_back({ms(s.from_ns), ms(s.length_ns)});
    const auto& h = r.happenings;
    for (std::size_t i = 0; i < h.size(); ++i) {
        using K = Happening::Kind;
        if (h[i].kind == K::NarrationStart)
            got.narrations.push_back({base(h[i].path), ms(h[i].at_ns)});
        if (h[i].kind == K::Picture && !h[i].path.empty()) {
            got.pictures.push_back({base(h[i].path), ms(h[i].at_ns)});
        }
        if (h[i].kind != K::VideoHeld) continue;
        // Held until the video runs again, or to the end.
        std::int64_t to = r.end_ns;
        for (std::size_t j = i + 1; j < h.size(); ++j) {
            if (h[j].kind == K::VideoPlays) {
                to = h[j].at_ns;
                break;
            }
        }
        if (to > h[i].at_ns) got.holds.push_back({h[i].value, ms(h[i].at_ns), ms(to)});
    }
    return got;
}

TEST(VirtualRun, SchedulesOfTheTestCoursesAndTheCornersOfTheHoldRule) {
    const std::vector<Case> cases = {
        // The end-to-end course's "Count": a narration shorter than its
        // stretch waits for the video, a longer one holds it.
        {"short then long narration",
         video({{"n1", 0}, {"n2", 25}, {"n3", 50}}),
         media({{"n1", 400}, {"n2", 2000}, {"n3", 500}}, 75),
         {{{0, 1000}, {1000, 2000}, {3000, 500}},
          {{50, 2000, 3000}},
          {{"n1", 0}, {"n2", 1000}, {"n3", 3000}},
          {},
          3500}},
        // The demo's Tadasana: every narration outlasts its 2 s segment.
        {"every narration longer",
         video({{"t1", 0}, {"t2", 50}, {"t3", 100}, {"t4", 150}}),
         media({{"t1", 2200}, {"t2", 2100}, {"t3", 2500}, {"t4", 1800}}, 200),
         {{{0, 2200}, {2200, 2100}, {4300, 2500}, {6800, 1800}},
          {{50, 2000, 2200}, {100, 4200, 4300}, {150, 6300, 6800}},
          {{"t1", 0}, {"t2", 2200}, {"t3", 4300}, {"t4", 6800}},
          {},
          8600}},
        // The demo's Utkatasana: a 1 s stretch under a 5 s narration, then
        // the "mt" narration from beside the library.
        {"long hold and mt",
         video({{"u1", 0}, {"mt", 25}}),
         media({{"u1", 5000}, {"mt", 1000}}, 50),
         {{{0, 5000}, {5000, 1000}}, {{25, 1000, 5000}}, {{"u1", 0}, {"mt", 5000}}, {}, 6000}},
        // A second row at StartPos 0 holds the video at its first frame.
        {"hold at StartPos 0",
         video({{"a", 0}, {"b", 0}}),
         media({{"a", 1000}, {"b", 500}}, 50),
         {{{0, 1000}, {1000, 500}}, {{0, 0, 1000}}, {{"a", 0}, {"b", 1000}}, {}, 1500}},
        // The last frame is a boundary the video reaches.
        {"hold at the last frame",
         video({{"a", 0}, {"b", 49}}),
         media({{"a", 2500}, {"b", 1000}}, 50),
         {{{0, 2500}, {2500, 1000}}, {{49, 1960, 2500}}, {{"a", 0}, {"b", 2500}}, {}, 3500}},
        // Past the last frame: the video plays out, which counts as every
        // boundary left reached, and the narrations go on in order.
        {"boundaries past the video's end",
         video({{"a", 0}, {"b", 80}, {"c", 90}}),
         media({{"a", 300}, {"b", 400}, {"c", 200}}, 50),
         {{{0, 2000}, {2000, 400}, {2400, 200}},
          {},
          {{"a", 0}, {"b", 2000}, {"c", 2400}},
          {},
          2600}},
        // One row: a last segment from the start.
        {"one-row segment table",
         video({{"a", 0}}),
         media({{"a", 1500}}, 25),
         {{{0, 1500}}, {}, {{"a", 0}}, {}, 1500}},
        // The end-to-end course's "Pics".
        {"photos",
         photo({{FieldValue{std::string("p1")}, "wide.png"},
                {FieldValue{std::string("p2")}, "tall.bmp"}}),
         media({{"p1", 600}, {"p2", 500}}),
         {{{0, 600}, {600, 500}},
          {},
          {{"p1", 0}, {"p2", 600}},
          {{"wide.png", 0}, {"tall.bmp", 600}},
          1100}},
        // Rows without a narration name are passed over.
        {"photo rows without narrations",
         photo({{FieldValue{std::string("p1")}, "a.png"},
                {FieldValue{std::string("")}, "b.png"},
                {FieldValue{Null{}}, "c.png"},
                {FieldValue{std::string("p2")}, "d.png"}}),
         media({{"p1", 600}, {"p2", 500}}),
         {{{0, 600}, {600, 500}},
          {},
          {{"p1", 0}, {"p2", 600}},
          {{"a.png", 0}, {"d.png", 600}},
          1100}},
        // The demo's Árbol: one picture.
        {"one photo",
         photo({{FieldValue{std::string("a1")}, "arbol.jpg"}}),
         media({{"a1", 700}}),
         {{{0, 700}}, {}, {{"a1", 0}}, {{"arbol.jpg", 0}}, 700}},
        // A narration that does not open: its picture stays three seconds.
        {"photo narration that does not open",
         photo({{FieldValue{std::string("p1")}, "a.png"},
                {FieldValue{std::string("gone")}, "b.png"}}),
         media({{"p1", 600}}),
         {{{0, 600}, {600, 3000}}, {}, {{"p1", 0}}, {{"a.png", 0}, {"b.png", 600}}, 3600}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto run = run_programme(c.posture, c.media);
        ASSERT_TRUE(run) << run.error().text;
        const Expected got = observed(*run);
        EXPECT_EQ(got.parts, c.want.parts);
        EXPECT_EQ(got.holds, c.want.holds);
        EXPECT_EQ(got.narrations, c.want.narrations);
        EXPECT_EQ(got.pictures, c.want.pictures);
        EXPECT_EQ(got.end_ms, c.want.end_ms);
        EXPECT_EQ(run->happenings.back().kind, Happening::Kind::End);
    }

    // Programmes that never end or never start say so, with their numbers.
    struct Failing {
        const char* name;
        Posture posture;
        Media media;
        std::int32_t number;
    };
    const std::vector<Failing> failing = {
        {"negative StartPos is never reached", video({{"a", 0}, {"b", -5}}),
         media({{"a", 300}, {"b", 300}}, 50), kNeverEnds},
        {"empty segment table", video({}), media({}, 50), kNothingPlays},
    };
    for (const auto& f : failing) {
        SCOPED_TRACE(f.name);
        auto run = run_programme(f.posture, f.media);
        ASSERT_FALSE(run);
        EXPECT_EQ(run.error().number, f.number) << run.error().text;
    }
}

}  // namespace
}  // namespace strovia::sim
