#include "platform/paths.hpp"

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
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string formed(const std::string& tail) {
        std::string r = root_.string();
        for (char& c : r) c = c == '/' ? '\\' : c;
        return r + tail;
    }
    fs::path root_;
};

TEST_F(MapPath, BackslashesBecomeSeparatorsAndExactNamesStay) {
    EXPECT_EQ(map_path(formed("\\Course\\Video\\AVPelmo.mdb")),
              (root_ / "Course/Video/AVPelmo.mdb").string());
}

TEST_F(MapPath, ComponentsDifferingOnlyInCaseAreFound) {
    EXPECT_EQ(map_path(formed("\\course\\video\\avpelmo.MDB")),
              (root_ / "Course/Video/AVPelmo.mdb").string());
}

TEST_F(MapPath, MissingOrAmbiguousComponentsStayAsWritten) {
    EXPECT_EQ(map_path(formed("\\course\\sound\\x.mp2")), (root_ / "Course/sound/x.mp2").string());
    fs::create_directories(root_ / "course");  // now two folders match "COURSE"
    EXPECT_EQ(map_path(formed("\\COURSE\\x")), (root_ / "COURSE/x").string());
}

TEST_F(MapPath, DoubledSeparatorsAreKept) {
    // A content root with a trailing backslash gives a doubled one; it is used unchanged.
    EXPECT_EQ(map_path(formed("\\Course\\\\video\\AVPelmo.mdb")),
              (root_ / "Course//Video/AVPelmo.mdb").string());
}

TEST_F(MapPath, NonAsciiNamesMatchWithoutRegardToCase) {
    std::ofstream(root_ / "Course" / "Video" / "Éka.mpg") << "x";
    EXPECT_EQ(map_path(formed("\\Course\\Video\\éKA.mpg")),
              (root_ / "Course/Video/Éka.mpg").string());
    EXPECT_TRUE(equal_ignoring_case("ÉKA", "éka"));
    EXPECT_FALSE(equal_ignoring_case("eka", "éka"));
}
