// Writer: manifest checks, round trips, and mdbtools' own tools as a
// second reader of every file we write.

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>

#include "jet/jet_file.hpp"
#include "jet/writer.hpp"
#include "support.hpp"

namespace strovia::jet::test {
namespace {

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return "popen failed";
    char buf[4096];
    std::size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

nlohmann::json wide_manifest() {
    auto m = posture_manifest();
    nlohmann::json big = {{"name", "Big"},
                          {"columns",
                           {{{"name", "n"}, {"type", "Long"}},
                            {{"name", "t"}, {"type", "Text"}, {"size", 255}},
                            {{"name", "u"}, {"type", "Text"}, {"size", 255}},
                            {{"name", "b"}, {"type", "Boolean"}},
                            {{"name", "y"}, {"type", "Byte"}},
                            {{"name", "i"}, {"type", "Integer"}}}},
                          {"rows", nlohmann::json::array()}};
    // Rows past 256 and 512 bytes need the row's jump table; 400 rows span pages.
    for (int r = 0; r < 400; ++r)
        big["rows"].push_back(
            {r, std::string(static_cast<std::size_t>(r % 256), 'a' + r % 26),
             r % 3 ? nlohmann::json(std::string(255, 'e')) : nlohmann::json(nullptr), r % 2 == 0,
             r % 256, r - 200});
    m["tables"].push_back(big);
    return m;
}

TEST(Writer, DumpOfABuildBuildsTheSameCatalogue) {
    TempDir dir;
    build(wide_manifest(), dir.file("a.mdb"));
    auto a = JetFile::open(dir.file("a.mdb"), "a", "Mint3laneKK", false);
    ASSERT_TRUE(a.ok()) << a.error().text;
    auto dumped = manifest_to_json((*a)->tables());
    EXPECT_EQ(dumped["tables"].size(), 4u);
    build(dumped, dir.file("b.mdb"));
    auto b = JetFile::open(dir.file("b.mdb"), "b", "Mint3laneKK", false);
    ASSERT_TRUE(b.ok()) << b.error().text;
    EXPECT_EQ(manifest_to_json((*b)->tables()), dumped);
    EXPECT_EQ(dumped["tables"][3]["rows"][399][1], std::string(399 % 256, 'a' + 399 % 26));
    EXPECT_EQ(dumped["tables"][0]["rows"][3][1], "ÉKA PADA");
}

TEST(Writer, MdbtoolsReadsWhatWeWrite) {
    if (std::string(MDB_VER_PATH).empty() || std::string(MDB_EXPORT_PATH).empty() ||
        std::string(MDB_TABLES_PATH).empty())
        GTEST_SKIP() << "mdbtools' command-line tools not installed (scripts/install-deps.sh)";
    TempDir dir;
    const std::string f = dir.file("c.mdb");
    build(wide_manifest(), f);
    EXPECT_EQ(run(std::string(MDB_VER_PATH) + " " + f), "JET3\n");
    EXPECT_EQ(run(std::string(MDB_TABLES_PATH) + " -1 " + f),
              "Asanas\nAudio_Asana12\nPhoto_Asana-5\nBig\n");
    EXPECT_EQ(run(std::string(MDB_EXPORT_PATH) + " " + f + " Asanas"),
              "AsanaID,name,Disp_Type,VideoName\n12,\"Tadasana\",\"Video\",\"tada.mpg\"\n"
              "7,\"Vrksasana\",\"Photo\",\n-5,\"Warrior \"\"II\"\"\",\"video\",\"w2.mpg\"\n"
              "3,\"ÉKA PADA\",\"PHOTO\",\n");
    // Every row of the wide table, compared with what the manifest holds.
    std::string want = "n,t,u,b,y,i\n";
    for (int r = 0; r < 400; ++r) {
        std::string t =
            std::string(static_cast<std::size_t>(r % 256), static_cast<char>('a' + r % 26));
        want += std::to_string(r) + "," + (t.empty() ? "" : "\"" + t + "\"") + "," +
                (r % 3 ? "\"" + std::string(255, 'e') + "\"" : "") + "," +
                (r % 2 == 0 ? "1" : "0") + "," + std::to_string(r % 256) + "," +
                std::to_string(r - 200) + "\n";
    }
    const std::string got = run(std::string(MDB_EXPORT_PATH) + " " + f + " Big");
    EXPECT_TRUE(got == want)
        << "mdb-export of Big differs; first difference at byte "
        << std::distance(got.begin(),
                         std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first);
}

TEST(Writer, ManyTablesOutgrowNoUsageMap) {
    // 8,200 tables need more pages than one map of the whole file can mark.
    nlohmann::json m{{"tables", nlohmann::json::array()}};
    for (int t = 1; t <= 8200; ++t)
        m["tables"].push_back({{"name", "Audio_Asana" + std::to_string(t)},
                               {"columns", {{{"name", "StartPos"}, {"type", "Integer"}}}},
                               {"rows", {{t % 1000}}}});
    TempDir dir;
    const std::string f = dir.file("many.mdb");
    build(m, f);
    auto db = open(f);
    ASSERT_TRUE(db.ok()) << db.error().text;
    for (int t : {1, 4096, 8200}) {
        auto rs = (*db)->open_recordset("select * from Audio_Asana" + std::to_string(t));
        ASSERT_TRUE(rs.ok()) << t;
        EXPECT_EQ(*(*rs)->field("StartPos"), FieldValue{std::int64_t{t % 1000}}) << t;
        EXPECT_TRUE((*rs)->move_next().ok() && (*rs)->eof()) << t;
    }
    if (!std::string(MDB_EXPORT_PATH).empty()) {
        EXPECT_EQ(run(std::string(MDB_EXPORT_PATH) + " " + f + " Audio_Asana8200"),
                  "StartPos\n200\n");
    }
}

TEST(Writer, RefusesBadManifestsNamingWhereAndWritesNothing) {
    struct Case {
        const char* json;
        const char* names;
    };
    const Case cases[] = {
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Text","size":5}],"rows":[["€ok"],["日本"]]}]})",
         "table 'T', row 2, column 'a'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Byte"}],"rows":[[256]]}]})",
         "table 'T', row 1, column 'a'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Integer"}],"rows":[[1],[-32769]]}]})",
         "table 'T', row 2, column 'a'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Long"}],"rows":[[2147483648]]}]})",
         "column 'a'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Long"}],"rows":[[1,2]]}]})",
         "table 'T', row 1"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Text","size":2}],"rows":[["abc"]]}]})",
         "column 'a'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Long"}]},{"name":"t","columns":[{"name":"a","type":"Long"}]}]})",
         "table 't'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Long"},{"name":"A","type":"Byte"}]}]})",
         "column 'A'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Text","size":256}]}]})",
         "column 'a'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Memo"}]}]})", "column 'a'"},
        {R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Boolean"}],"rows":[[1]]}]})",
         "row 1"},
    };
    for (const auto& c : cases) {
        auto m = manifest_from_json(nlohmann::json::parse(c.json));
        ASSERT_FALSE(m.ok()) << c.json;
        EXPECT_EQ(m.error().number, writer_error::kInvalidManifest);
        EXPECT_NE(m.error().text.find(c.names), std::string::npos) << m.error().text;
    }
    auto m = manifest_from_json(posture_manifest());
    ASSERT_TRUE(m.ok());
    TempDir dir;
    EXPECT_FALSE(write_catalogue(*m, dir.file("x.mdb"), std::string(21, 'p')).ok());
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.mdb")));
}

}  // namespace
}  // namespace strovia::jet::test
