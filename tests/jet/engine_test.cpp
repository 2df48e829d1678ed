// The engine on real files written by the desktop product, and on
// catalogues of our writer: rows, types, conversions, password, lock.

#include <gtest/gtest.h>
#include <filesystem>

#include "jet/engine.hpp"
#include "support.hpp"

namespace strovia::jet::test {
namespace {

const std::string kFixtures = STROVIA_FIXTURES;

#define REQUIRE_FIXTURE(name)                                                  \
    if (!std::filesystem::exists(kFixtures + "/" + (name)))                    \
    GTEST_SKIP() << "fixture " << (name) << " not present under " << kFixtures \
                 << " (the shared fixtures folder is not part of every checkout)"

using Rows = std::vector<std::vector<FieldValue>>;

Rows all_rows(Database& db, const std::string& query, const std::vector<std::string>& fields) {
    Rows out;
    auto rs = db.open_recordset(query);
    EXPECT_TRUE(rs.ok()) << (rs.ok() ? "" : rs.error().text);
    if (!rs) return out;
    for (; !(*rs)->eof();) {
        std::vector<FieldValue> row;
        for (const auto& f : fields) {
            auto v = (*rs)->field(f);
            EXPECT_TRUE(v.ok()) << f;
            row.push_back(v.ok() ? *v : FieldValue{Null{}});
        }
        out.push_back(row);
        if (Status s = (*rs)->move_next(); !s) ADD_FAILURE() << s.error().text;
    }
    return out;
}

TEST(Fixtures, Jet4OpensWithItsPasswordOnly) {
    REQUIRE_FIXTURE("access2000-password.mdb");
    const std::string path = kFixtures + "/access2000-password.mdb";
    for (const char* wrong : {";PWD=passwore;", ";PWD=;", ";PWD=PASSWORD;", ";PWD=password1;"}) {
        auto bad = open(path, wrong);
        ASSERT_FALSE(bad.ok()) << wrong;
        EXPECT_EQ(bad.error(), (Error{engine_error::kInvalidPassword, "Not a valid password."}));
    }
    auto db = open(path, ";PWD=password;");
    ASSERT_TRUE(db.ok()) << db.error().text;
    EXPECT_EQ(all_rows(**db, "select * from table1", {"ID", "data"}),
              (Rows{{std::int64_t{1}, std::string("One")},
                    {std::int64_t{2}, std::string("Two")},
                    {std::int64_t{3}, std::string("Three")}}));
    // The file is kept once checked; a later opening still needs the password.
    EXPECT_EQ(open(path, ";PWD=passwore;").error().number, engine_error::kInvalidPassword);
}

TEST(Catalogue, LookupIgnoresCaseForEveryLetterTakesQuotesLiterallyKeepsTableOrder) {
    TempDir dir;
    auto m = posture_manifest();
    for (auto row :
         {R"([21, "STRASSE", "Video", "a.mpg"])", R"([22, "Straße", "Video", "b.mpg"])",
          R"([23, "Strasse 2", "Video", "c.mpg"])", R"([24, "straSSe", "Video", "d.mpg"])"})
        m["tables"][0]["rows"].push_back(nlohmann::json::parse(row));
    build(m, dir.file("c.mdb"));
    auto db = open(dir.file("c.mdb"));
    ASSERT_TRUE(db.ok()) << db.error().text;
    auto id_of = [&](const std::string& q) { return all_rows(**db, q, {"AsanaID"}); };
    using Ids = Rows;
    EXPECT_EQ(id_of(R"(select * from Asanas where name = "TADASANA")"), (Ids{{std::int64_t{12}}}));
    EXPECT_EQ(id_of(R"(SELECT * FROM asanas WHERE NAME = "éka pada")"), (Ids{{std::int64_t{3}}}));
    EXPECT_EQ(id_of(R"(select * from Asanas where name = "Warrior ""II""")"),
              (Ids{{std::int64_t{-5}}}));
    EXPECT_TRUE(id_of(R"(select * from Asanas where name = "x"" or ""a""=""a")").empty());
    // ASCII and non-ASCII fold alike; the rows come in the table's order.
    for (const char* name : {"strasse", "STRAßE", "straße"})
        EXPECT_EQ(id_of(std::string("select * from Asanas where name = \"") + name + "\""),
                  (Ids{{std::int64_t{21}}, {std::int64_t{22}}, {std::int64_t{24}}}))
            << name;

    auto none = (*db)->open_recordset(R"(select * from Asanas where name = "Nobody")");
    ASSERT_TRUE(none.ok());
    EXPECT_EQ((*none)->move_first().error().number, engine_error::kNoCurrentRecord);
}

TEST(Catalogue, TablesByNumberRowsInTableOrderAndTheRecordsetsErrors) {
    TempDir dir;
    build(posture_manifest(), dir.file("c.mdb"));
    auto db = open(dir.file("c.mdb"));
    ASSERT_TRUE(db.ok()) << db.error().text;
    auto seg = all_rows(**db, "select * from Audio_Asana12", {"Filename", "StartPos"});
    // In the table's order, not sorted by name; the Double as stored.
    EXPECT_EQ(
        seg,
        (Rows{{std::string("s3"), 40000.0}, {std::string("s1"), 2.5}, {std::string("mt"), 3.5}}));
    auto photo = all_rows(**db, "select * from Photo_Asana-5", {"ImageName"});
    EXPECT_EQ(photo, (Rows{{std::string("one.jpg")}}));

    auto rs = (*db)->open_recordset("select * from Audio_Asana12");
    ASSERT_TRUE(rs.ok());
    ASSERT_TRUE((*rs)->move_next().ok());
    ASSERT_TRUE((*rs)->move_next().ok());
    EXPECT_EQ((*rs)->field("action").value(), FieldValue{Null{}});  // any case; null kept
    EXPECT_EQ((*rs)->field("Nope").error().number, engine_error::kItemNotFound);
    ASSERT_TRUE((*rs)->move_next().ok());
    EXPECT_TRUE((*rs)->eof());
    EXPECT_EQ((*rs)->field("Filename").error().number, engine_error::kNoCurrentRecord);
    EXPECT_EQ((*rs)->move_next().error().number, engine_error::kNoCurrentRecord);
    ASSERT_TRUE((*rs)->close().ok());
    EXPECT_EQ((*rs)->move_first().error().number, engine_error::kObjectClosed);

    EXPECT_EQ((*db)->open_recordset("select * from Audio_Asana99").error().number,
              engine_error::kTableNotFound);
    auto disp =
        all_rows(**db, R"(select * from Asanas where name = "Warrior ""II""")", {"Disp_Type"});
    EXPECT_EQ(disp[0][0], FieldValue{std::string("video")});  // case kept as stored
    ASSERT_TRUE((*db)->close().ok());
    EXPECT_EQ((*db)->open_recordset("select * from Asanas").error().number,
              engine_error::kObjectClosed);
}

TEST(Catalogue, PathsMapBackslashesAndCase) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("Course/Video"));
    build(posture_manifest(), dir.file("Course/Video/avpelmo.MDB"));
    EXPECT_TRUE(open(dir.path() + "/course\\video\\AVPelmo.mdb").ok());
    // A doubled separator from a trailing backslash still names the file.
    EXPECT_TRUE(open(dir.path() + "/course\\\\video\\AVPelmo.mdb").ok());
    auto missing = open(dir.path() + "/course\\video\\Other.mdb");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().number, engine_error::kFileNotFound);
}

TEST(Password, LengthsFourteenToTwentyCompareEveryByte) {
    TempDir dir;
    const std::string full = "Abcdefghijklmnopqrst";
    for (std::size_t len = 14; len <= 20; ++len) {
        const std::string pw = full.substr(0, len);
        const std::string path = dir.file("p" + std::to_string(len) + ".mdb");
        build(posture_manifest(), path, pw);
        EXPECT_TRUE(open(path, ";PWD=" + pw + ";").ok()) << len;
        std::string last_changed = pw;
        last_changed.back() = '!';
        EXPECT_EQ(open(path, ";PWD=" + last_changed + ";").error().number,
                  engine_error::kInvalidPassword)
            << len;
        EXPECT_EQ(open(path, ";PWD=" + pw.substr(0, 14) + ";").ok(), len == 14) << len;
        EXPECT_EQ(open(path, ";PWD=" + pw + "x;").error().number, engine_error::kInvalidPassword)
            << len;
    }
    const std::string open_file = dir.file("none.mdb");
    build(posture_manifest(), open_file, "");
    EXPECT_TRUE(open(open_file, ";PWD=whatever;").ok());
}

TEST(Lock, ExclusiveAgainstOtherProcessesReopenableHere) {
    TempDir dir;
    const std::string path = dir.file("c.mdb");
    build(posture_manifest(), path);
    EXPECT_EQ(child_open_number(path), 0);
    auto db = open(path);
    ASSERT_TRUE(db.ok());
    EXPECT_EQ(child_open_number(path), 45);
    auto again = open(path);  // same process: shares the held lock
    ASSERT_TRUE(again.ok());
    auto rs = (*db)->open_recordset("select * from Asanas");
    ASSERT_TRUE(rs.ok());
    ASSERT_TRUE((*db)->close().ok());
    EXPECT_EQ(child_open_number(path), 45);
    again = Error{};
    db = Error{};
    EXPECT_EQ(child_open_number(path), 45);  // the open row set still holds the file
    ASSERT_TRUE((*rs)->close().ok());
    EXPECT_EQ(child_open_number(path), 0);
}

TEST(Reopening, AFileRewrittenInPlaceIsReadAgain) {
    TempDir dir;
    auto m = posture_manifest();
    build(m, dir.file("a.mdb"));
    m["tables"][0]["rows"][0][1] = "Tadasanb";  // same size, other bytes
    build(m, dir.file("b.mdb"));
    const std::string path = dir.file("c.mdb");
    const auto name_of_12 = [&]() {
        auto db = open(path);
        EXPECT_TRUE(db.ok());
        return db.ok() ? all_rows(**db, R"(select * from Asanas where AsanaID = "12")", {"name"})
                       : Rows{};
    };
    write_bytes(path, read_bytes(dir.file("a.mdb")));
    EXPECT_EQ(name_of_12(), (Rows{{std::string("Tadasana")}}));
    write_bytes(path, read_bytes(dir.file("b.mdb")));
    EXPECT_EQ(name_of_12(), (Rows{{std::string("Tadasanb")}}));
}

}  // namespace
}  // namespace strovia::jet::test
