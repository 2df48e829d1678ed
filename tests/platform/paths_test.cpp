#include "platform/paths.hpp"
#include "platform/regular_file.hpp"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using strovia::platform::equal_ignoring_case;
using strovia::platform::map_path;

class MapPath : public ::testing::Test {
protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() /
            ("strovia-paths-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "Course" / "Video");
        std::ofstream(root_ / "Course" / "Video" / "AVPelmo.mdb") << "x";
        std::ofstream(root_ / "Course" / "Video" / "Éka.mpg") << "x";
    }
    void TearDown() override { fs::remove_all(root_); }
    // A path as the control forms it, with backslashes, mapped.
    std::string mapped(const std::string& tail) {
        std::string r = root_.string();
        for (char& c : r) c = c == '/' ? '\\' : c;
        return map_path(r + tail);
    }
    fs::path root_;
};

TEST_F(MapPath, ComponentsAreMatchedWithoutRegardToCaseOrKeptAsWritten) {
    const struct {
        const char *formed, *file;
    } rows[] = {
        {"\\Course\\Video\\AVPelmo.mdb", "Course/Video/AVPelmo.mdb"},
        {"\\course\\video\\avpelmo.MDB", "Course/Video/AVPelmo.mdb"},
        {"\\Course\\Video\\éKA.mpg", "Course/Video/Éka.mpg"},
        {"\\course\\sound\\x.mp2", "Course/sound/x.mp2"},  // missing: the rest as written
        // A content root with a trailing backslash doubles one; it is kept.
        {"\\Course\\\\video\\AVPelmo.mdb", "Course//Video/AVPelmo.mdb"},
    };
    for (const auto& row : rows) EXPECT_EQ(mapped(row.formed), (root_ / row.file).string());

    fs::create_directories(root_ / "course");  // now two folders match "COURSE"
    EXPECT_EQ(mapped("\\COURSE\\x"), (root_ / "COURSE/x").string());
    EXPECT_TRUE(equal_ignoring_case("ÉKA", "éka"));
    EXPECT_FALSE(equal_ignoring_case("eka", "éka"));
}

// Only regular files (or links to them) open; anything else is refused
// without being opened, so a FIFO never blocks (the test's time limit
// catches one that does).
TEST_F(MapPath, OnlyARegularFileIsOpened) {
    using strovia::platform::RegularFile;
    using Problem = RegularFile::Problem;
    const fs::path video = root_ / "Course" / "Video";
    ASSERT_EQ(::mkfifo((video / "fifo.mpg").c_str(), 0600), 0);
    fs::create_symlink(video / "AVPelmo.mdb", video / "link.mdb");
    std::ofstream(video / "empty.png").close();
    const struct {
        fs::path path;
        Problem problem;
        long long size;
        const char* why;
    } rows[] = {
        {video / "AVPelmo.mdb", Problem::kNone, 1, ""},
        {video / "link.mdb", Problem::kNone, 1, ""},
        {video / "empty.png", Problem::kNone, 0, ""},
        {video / "none.mpg", Problem::kMissing, 0, " does not exist"},
        {video, Problem::kFolder, 0, " is a folder, not a file"},
        {video / "fifo.mpg", Problem::kNotRegular, 0, " is a FIFO, not a file"},
        {"/dev/zero", Problem::kNotRegular, 0, " is a character device, not a file"},
    };
    for (const auto& r : rows) {
        const auto f = RegularFile::open(r.path.string());
        EXPECT_EQ(f.problem(), r.problem) << r.path;
        EXPECT_EQ(f.ok(), r.problem == Problem::kNone) << r.path;
        EXPECT_EQ(f.why(), r.problem == Problem::kNone ? "" : r.path.string() + r.why);
        if (f.ok()) {
            EXPECT_EQ(f.size(), r.size) << r.path;
        }
    }
}
