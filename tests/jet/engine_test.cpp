// The engine on catalogues of our writer and on a real file of the desktop
// product: queries, rows, lookups, errors, password, lock, a file rewritten
// in place.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "catalogue/rules.hpp"
#include "jet/engine.hpp"
#include "jet/query.hpp"
#include "support.hpp"

namespace strovia::jet::test {
namespace {

// The query forms the control sends, in any case, and the malformed ones
// it must refuse.
TEST(Engine, QueryFormsAndTheNumbersOfMalformedOnes) {
    const struct {
        const char* text;
        std::int32_t number;
        std::string parsed = "";  // the table, then the condition's field and text
    } cases[] = {
        {"SeLeCt  *  FrOm\tPhoto_Asana-7 ;", 0, "Photo_Asana-7"},
        {R"(select * from Asanas WHERE name = "Warrior ""II""")", 0, "Asanas name=Warrior \"II\""},
        {R"(select * from [My Table] where [the name]="")", 0, "My Table the name="},
        {"", engine_error::kInvalidStatement},
        {"delete * from Asanas", engine_error::kInvalidStatement},
        {"select name from Asanas", engine_error::kQuerySyntax},
        {"select * Asanas", engine_error::kQuerySyntax},
        {"select * from", engine_error::kFromSyntax},
        {R"(select * from Asanas where name = "open)", engine_error::kQuerySyntax},
        {R"(select * from Asanas where name = "Warrior "II"")", engine_error::kQuerySyntax},
        {R"(select * from Asanas where name = "x" or "a"="a")", engine_error::kQuerySyntax},
        {"select * from Asanas where name = Tadasana", engine_error::kQuerySyntax},
        {"select * from Asanas; select * from Asanas", engine_error::kTrailingCharacters},
        {"select * from Audio_Asana 12", engine_error::kFromSyntax},
    };
    for (const auto& c : cases) {
        auto q = parse_query(c.text);
        EXPECT_EQ(number(q), c.number) << c.text;
        if (!q.ok()) continue;
        EXPECT_EQ(q->table + (q->where ? " " + q->where->field + "=" + q->where->text : ""),
                  c.parsed);
    }
}

TEST(Engine, RowsLookupsAndErrorsOnAWrittenCatalogue) {
    TempDir dir;
    auto m = posture_manifest();
    for (const auto& row : nlohmann::json::parse(R"([[21, "STRASSE", "Video", "a.mpg"],
            [22, "Straße", "Video", "b.mpg"], [23, "Strasse 2", "Video", "c.mpg"],
            [24, "straSSe", "Video", "d.mpg"]])"))
        m["tables"][0]["rows"].push_back(row);
    std::filesystem::create_directories(dir.file("Course/Video"));
    build(m, dir.file("Course/Video/avpelmo.MDB"));
    // The path as the control forms it: backslashes, a doubled one, any case.
    EXPECT_EQ(number(open(dir.path() + "/course\\video\\Other.mdb")), engine_error::kFileNotFound);
    auto db = open(dir.path() + "/course\\\\video\\AVPelmo.mdb");
    ASSERT_TRUE(db.ok()) << db.error().text;

    // Rows in the table's order, not sorted; Doubles as stored, nulls kept;
    // table and field names in any case.
    EXPECT_EQ(all_rows(**db, "select * from audio_asana12", {"filename", "StartPos", "Action"}),
              (Rows{{S("s3"), 40000.0, S("c")}, {S("s1"), 2.5, S("a")}, {S("mt"), 3.5, Null{}}}));
    // Quotes are taken literally and text keeps its case as stored.
    EXPECT_EQ(all_rows(**db, catalogue::posture_lookup("Warrior \"II\""), {"Disp_Type"}),
              (Rows{{S("video")}}));
    // Names as a host may pass them: the case of every letter folds, ASCII or
    // not; nothing in a name is read as query text or cuts it short.
    const struct {
        std::string name;
        Rows ids;
    } lookups[] = {
        {"TADASANA", {{I{12}}}},
        {"éka pada", {{I{3}}}},
        {"strasse", {{I{21}}, {I{22}}, {I{24}}}},
        {"STRAßE", {{I{21}}, {I{22}}, {I{24}}}},
        {"x\" or \"a\"=\"a", {}},
        {"\"", {}},
        {"Tada\nsana", {}},
        {std::string("Tadasana\0x", 10), {}},
        {std::string(100 * 1024, 'x'), {}},
    };
    for (const auto& l : lookups)
        EXPECT_EQ(all_rows(**db, catalogue::posture_lookup(l.name), {"AsanaID"}), l.ids)
            << l.name.substr(0, 40);

    auto rs = (*db)->open_recordset(catalogue::posture_lookup("Nobody"));
    ASSERT_TRUE(rs.ok());
    EXPECT_EQ(number((*rs)->move_first()), engine_error::kNoCurrentRecord);
    rs = (*db)->open_recordset("select * from Photo_Asana-5");
    ASSERT_TRUE(rs.ok());
    EXPECT_EQ(number((*rs)->field("Nope")), engine_error::kItemNotFound);
    ASSERT_TRUE((*rs)->move_next().ok() && (*rs)->eof());
    EXPECT_EQ(number((*rs)->field("ImageName")), engine_error::kNoCurrentRecord);
    EXPECT_EQ(number((*rs)->move_next()), engine_error::kNoCurrentRecord);
    ASSERT_TRUE((*rs)->close().ok());
    EXPECT_EQ(number((*rs)->move_first()), engine_error::kObjectClosed);
    EXPECT_EQ(number((*db)->open_recordset("select * from Audio_Asana99")),
              engine_error::kTableNotFound);
    ASSERT_TRUE((*db)->close().ok());
    EXPECT_EQ(number((*db)->open_recordset("select * from Asanas")), engine_error::kObjectClosed);
}

// Passwords of 14 to 20 bytes, and a real Jet 4 file with the desktop
// product's own scheme through one engine, which keeps the file once
// checked and still asks for the password.
TEST(Engine, PasswordsCompareEveryByte) {
    TempDir dir;
    for (std::size_t len = 14; len <= 20; ++len) {
        const std::string pw = std::string("Abcdefghijklmnopqrst").substr(0, len);
        const std::string path = dir.file("p" + std::to_string(len) + ".mdb");
        build(posture_manifest(), path, pw);
        const std::string last_changed = pw.substr(0, len - 1) + "!";
        EXPECT_EQ(number(open(path, ";PWD=" + pw + ";")), 0) << len;
        for (const std::string& wrong : {last_changed, pw.substr(0, 14), pw + "x"})
            EXPECT_EQ(number(open(path, ";PWD=" + wrong + ";")),
                      wrong == pw ? 0 : engine_error::kInvalidPassword)
                << len << " " << wrong;
    }
    const std::string path = std::string(STROVIA_FIXTURES) + "/access2000-password.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no fixtures folder beside the project";
    auto engine = make_engine();
    auto opening = [&](const char* connect) {
        return engine->default_workspace().open_database(path, true, true, connect);
    };
    auto db = opening(";PWD=password;");
    ASSERT_TRUE(db.ok()) << db.error().text;
    EXPECT_EQ(all_rows(**db, "select * from table1", {"ID", "data"}),
              (Rows{{I{1}, S("One")}, {I{2}, S("Two")}, {I{3}, S("Three")}}));
    for (const char* wrong : {";PWD=passwore;", ";PWD=;", ";PWD=PASSWORD;", ";PWD=password1;"})
        EXPECT_EQ(number(opening(wrong)), engine_error::kInvalidPassword) << wrong;
}

// Exclusive against other processes while any database or row set holds
// the file, shared within this one; once released, a file rewritten in
// place is read again.
TEST(Lock, ExclusiveAgainstOtherProcessesReopenableHere) {
    TempDir dir;
    const std::string path = dir.file("c.mdb");
    auto m = posture_manifest();
    build(m, path);
    EXPECT_EQ(child_open_number(path), 0);
    auto db = open(path);
    ASSERT_TRUE(db.ok());
    EXPECT_EQ(child_open_number(path), 45);
    auto again = open(path);
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

    m["tables"][0]["rows"][0][1] = "Tadasanb";  // same size, other bytes
    build(m, dir.file("new.mdb"));
    write_bytes(path, read_bytes(dir.file("new.mdb")));
    db = open(path);
    ASSERT_TRUE(db.ok()) << db.error().text;
    EXPECT_EQ(all_rows(**db, R"(select * from Asanas where AsanaID = "12")", {"name"}),
              (Rows{{S("Tadasanb")}}));
    db = Error{};

    // Engines on two threads, as a widget and an export job, opening and
    // closing the same files at once.
    build(m, dir.file("other.mdb"));
    std::atomic<int> failed{0};
    auto churn = [&](const std::string& first, const std::string& second) {
        for (int i = 0; i < 400; ++i) {
            auto a = open(first);
            auto b = open(second);
            if (!a.ok() || !b.ok()) ++failed;
        }
    };
    std::thread one(churn, path, dir.file("other.mdb"));
    std::thread two(churn, dir.file("other.mdb"), path);
    one.join();
    two.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(child_open_number(path), 0);
}

}  // namespace
}  // namespace strovia::jet::test
