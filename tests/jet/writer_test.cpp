// Writer: manifest checks, round trips, and mdbtools' own tools as a
// second reader of every file we write.

#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>

#include "jet/jet_file.hpp"
#include "jet/writer.hpp"
#include "support.hpp"

namespace strovia::jet::test {
namespace {

using nlohmann::json;

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

bool have_mdbtools() { return *MDB_EXPORT_PATH && *MDB_SCHEMA_PATH; }
std::string mdb_export(const std::string& f, const std::string& table) {
    return run(std::string(MDB_EXPORT_PATH) + " -b hex '" + f + "' '" + table + "'");
}

// The file as our reader sees it, written back as a manifest.
json reread(const std::string& f, const std::string& password = "Mint3laneKK") {
    auto file = JetFile::open(f, f, password, false);
    if (!file) return file.error().text;
    auto j = manifest_to_json((*file)->tables());
    return j ? *j : json(j.error().text);
}

// mdb-export's CSV: rows of fields, quoted ones with their quotes doubled.
std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            rows.back().back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            rows.back().emplace_back();
        } else if (!quoted && c == '\n') {
            rows.emplace_back(1);
        } else {
            rows.back().back() += c;
        }
    }
    if (rows.back() == std::vector<std::string>(1)) rows.pop_back();
    return rows;
}

// The tables as mdb-export shows them in `f`: the column names, the rows in
// order, and each text, whole number and boolean.
void expect_as_mdbtools(const std::string& f, const json& tables) {
    for (const auto& t : tables) {
        const auto theirs = parse_csv(mdb_export(f, t["name"]));
        ASSERT_EQ(theirs.size(), t["rows"].size() + 1) << f << " " << t["name"];
        for (std::size_t c = 0; c < t["columns"].size(); ++c) {
            const json& col = t["columns"][c];
            EXPECT_EQ(theirs[0].at(c), col["name"]);
            const std::string type = col["type"];
            if (type != "Text" && type != "Memo" && type != "Byte" && type != "Integer" &&
                type != "Long" && type != "Boolean")
                continue;
            for (std::size_t r = 0; r < t["rows"].size(); ++r) {
                const json& v = t["rows"][r][c];
                const std::string ours = v.is_null()      ? ""
                                         : v.is_boolean() ? (v.get<bool>() ? "1" : "0")
                                         : v.is_string()  ? v.get<std::string>()
                                                          : v.dump();
                EXPECT_EQ(theirs[r + 1].at(c), ours) << f << " " << t["name"] << " " << r;
            }
        }
    }
}

// Built and read back by both readers: rows past 256 and 512 bytes that
// need the row's jump table, 400 of them over several pages (Big); every kind
// of column among 255 with long names, whose definition runs over several
// pages (Wide); long values inline, in one long-value row and chained over
// many, the largest leaving a row that would not fit its page (Memos).
TEST(Writer, DumpOfABuildBuildsTheSameCatalogue) {
    auto m = posture_manifest();
    m["tables"].push_back(json::parse(R"({"name": "Big", "columns": [{"name": "n", "type": "Long"},
        {"name": "t", "type": "Text", "size": 255}, {"name": "u", "type": "Text", "size": 255},
        {"name": "b", "type": "Boolean"}, {"name": "y", "type": "Byte"},
        {"name": "i", "type": "Integer"}], "rows": []})"));
    for (int r = 0; r < 400; ++r)
        m["tables"][3]["rows"].push_back(
            {r, std::string(static_cast<std::size_t>(r % 256), 'a' + r % 26),
             r % 3 ? json(std::string(255, 'e')) : json(nullptr), r % 2 == 0, r % 256, r - 200});
    const json kinds = json::parse(R"([{"type": "Text", "size": 50, "value": "Ünïcode €"},
        {"type": "Memo", "value": "memo"}, {"type": "Byte", "value": 200},
        {"type": "Integer", "value": -32768}, {"type": "Long", "value": 2147483647},
        {"type": "Currency", "value": -92233720368.5477}, {"type": "Single", "value": 0.15625},
        {"type": "Double", "value": 444.555}, {"type": "DateTime", "value": "1974-09-21 13:45:59"},
        {"type": "Boolean", "value": true}, {"type": "Binary", "size": 8, "value": "AAH/"},
        {"type": "OLE", "value": "T0xFIGJ5dGVzAA=="},
        {"type": "GUID", "value": "{6F9619FF-8B86-D011-B42D-00C04FC964FF}"}])");
    json cols = json::array(), full = json::array(), empty = json::array();
    for (std::size_t i = 0; i < 255; ++i) {
        json col = kinds[i % kinds.size()];
        const json value = col["value"];
        col.erase("value");
        col["name"] = "column" + std::to_string(i + 1);
        col["name"].get_ref<std::string&>().resize(64, static_cast<char>('a' + i % 26));
        const json none = col["type"] == "Boolean" ? json(false) : json(nullptr);
        full.push_back(i % 2 ? none : value);  // every other value, so that the row fits its page
        empty.push_back(none);
        cols.push_back(col);
    }
    m["tables"].push_back({{"name", "Wide"}, {"columns", cols}, {"rows", {full, empty}}});
    std::string long_text(70000, 'x');
    for (std::size_t i = 0; i < long_text.size(); ++i)
        long_text[i] = static_cast<char>('a' + i * 7 % 26);
    m["tables"].push_back(
        json::parse(R"({"name": "Memos", "columns": [{"name": "id", "type": "Long"},
        {"name": "a", "type": "Memo"}, {"name": "b", "type": "Memo"}, {"name": "o", "type": "OLE"}],
        "rows": []})"));
    m["tables"][5]["rows"] = {{1, "", nullptr, std::string(2708, '/')},  // 2031 bytes 0xFF
                              {2, std::string(1500, 'p'), std::string(1500, 'q'), nullptr},
                              {3, long_text, "short", std::string(6668, '/')}};
    // 8,200 tables need more pages than one map of the whole file can mark.
    for (int t = 1; t <= 8200; ++t)
        m["tables"].push_back({{"name", "Many" + std::to_string(t)},
                               {"columns", {{{"name", "n"}, {"type", "Integer"}}}},
                               {"rows", {{t % 1000}}}});
    TempDir dir;
    const std::string f = dir.file("a.mdb");
    build(m, f);
    EXPECT_EQ(reread(f), m);
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools' tools not installed (scripts/install-deps.sh)";
    expect_as_mdbtools(f, json(m["tables"].begin(), m["tables"].begin() + 4));  // and Big
    // mdbtools shows an empty memo as it shows null.
    EXPECT_EQ(mdb_export(f, "Memos"), "id,a,b,o\n1,,,\"" + std::string(4062, 'F') + "\"\n2,\"" +
                                          std::string(1500, 'p') + "\",\"" +
                                          std::string(1500, 'q') + "\",\n3,\"" + long_text +
                                          "\",\"short\",\"" + std::string(10002, 'F') + "\"\n");
    // The first two rounds of kinds; mdbtools 1.0 shows no Binary values, and
    // GUIDs in hexadecimal as text.
    const std::string wide = mdb_export(f, "Wide");
    EXPECT_NE(
        wide.find("\n\"Ünïcode €\",,200,,2147483647,,0.15625,,\"09/21/74 13:45:59\",0,,,\"7B36"
                  "463936313946462D384238362D443031312D423432443030433034464339363446467D\",,"
                  "\"memo\",,-32768,,-92233720368.5477,,444.555,,1,,\"4F4C4520627974657300\","),
        std::string::npos)
        << wide.substr(wide.find('\n'), 600);
    EXPECT_EQ(mdb_export(f, "Many8200"), "n\n200\n");
}

// Every real file beside the project, edited ones among them, reads as
// mdbtools reads it; a Jet 3 one dumps to a manifest that builds back into
// the same tables, columns and rows for both readers (the sample has a
// definition over two pages and a GUID column).
TEST(Writer, EveryRealFileReadsAsMdbtoolsReadsItAndBuildsBack) {
    if (!std::filesystem::exists(STROVIA_FIXTURES))
        GTEST_SKIP() << "no fixtures folder beside the project";
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools' tools not installed";
    TempDir dir;
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(STROVIA_FIXTURES)) {
        if (e.path().extension() != ".mdb") continue;
        const std::string f = e.path().string(), back = dir.file(e.path().filename());
        ++files;
        json dumped = reread(f, "");
        const bool jet3 = dumped.is_object();
        if (!jet3) dumped = reread(f, "password");
        ASSERT_TRUE(dumped.is_object()) << f << ": " << dumped;
        expect_as_mdbtools(f, dumped["tables"]);
        if (!jet3) continue;  // the writer writes Jet 3
        build(dumped, back);
        EXPECT_EQ(reread(back), dumped) << f;
        const std::string schema = std::string(MDB_SCHEMA_PATH) + " '";
        EXPECT_EQ(run(schema + back + "'"), run(schema + f + "'")) << f;
        for (const auto& t : dumped["tables"])
            EXPECT_EQ(mdb_export(back, t["name"]), mdb_export(f, t["name"])) << f << t["name"];
        if (e.path().filename() == "access97-sample.mdb") {
            EXPECT_EQ(dumped["tables"][1]["columns"].size(), 89u);
        }
    }
    EXPECT_GE(files, 3u);
}

TEST(Writer, RefusesBadManifestsNamingWhereAndWritesNothing) {
    // One table T with one column a of `column`, holding `rows`.
    auto t = [](const std::string& column, const std::string& rows) {
        return json::parse(R"({"tables":[{"name":"T","columns":[{"name":"a",)" + column +
                           R"(}],"rows":)" + rows + "}]}");
    };
    // One table T of `n` Text columns, its one row full.
    auto texts = [](int n) {
        json cols = json::array(), row = json::array();
        for (int i = 0; i < n; ++i) {
            cols.push_back({{"name", "c" + std::to_string(i)}, {"type", "Text"}, {"size", 255}});
            row.push_back(std::string(255, 'f'));
        }
        return json{{"tables", {{{"name", "T"}, {"columns", cols}, {"rows", {row}}}}}};
    };
    const struct {
        json manifest;
        const char* names;
    } cases[] = {
        {t(R"("type":"Text","size":5)", R"([["€ok"],["日本"]])"), "table 'T', row 2, column 'a'"},
        {t(R"("type":"Byte")", "[[256]]"), "table 'T', row 1, column 'a'"},
        {t(R"("type":"Integer")", "[[1],[-32769]]"), "table 'T', row 2, column 'a'"},
        {t(R"("type":"Long")", "[[2147483648]]"), "column 'a'"},
        {t(R"("type":"Long")", "[[1,2]]"), "table 'T', row 1"},
        {t(R"("type":"Text","size":2)", R"([["abc"]])"), "column 'a'"},
        {t(R"("type":"Text","size":256)", "[]"), "column 'a'"},
        {t(R"("type":"Hyperlink")", "[]"), "column 'a'"},
        {t(R"("type":"Boolean")", "[[1]]"), "row 1"},
        {t(R"("type":"OLE")", R"([["no base64!"]])"), "row 1, column 'a'"},
        {t(R"("type":"Binary","size":2)", R"([["AAAA"]])"), "row 1, column 'a'"},
        {t(R"("type":"GUID")", R"([["{6F9619FF-8B86-D011-B42D}"]])"), "row 1, column 'a'"},
        {t(R"("type":"DateTime")", R"([["2023-02-29"]])"), "row 1, column 'a'"},
        {t(R"("type":"Currency")", "[[1e15]]"), "row 1, column 'a'"},
        {t(R"("type":"Single")", "[[1e39]]"), "row 1, column 'a'"},
        {json::parse(R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Long"}]},)"
                     R"({"name":"t","columns":[{"name":"a","type":"Long"}]}]})"),
         "table 't'"},
        {json::parse(R"({"tables":[{"name":"T","columns":[{"name":"a","type":"Long"},)"
                     R"({"name":"A","type":"Byte"}]}]})"),
         "column 'A'"},
        {texts(256), "more than 255 columns"},  // a row's column count is one byte
        // Our reader, as Jet, refuses such a file: the writer must not make one.
        {json::parse(R"({"tables":[{"name":"T","columns":[{"name":"a\fb","type":"Long"}]}]})"),
         "table 'T', column 1: a name cannot hold control characters"},
        {json::parse(R"({"tables":[{"name":"T\u0081","columns":[{"name":"a","type":"Long"}]}]})"),
         "table 1: a name cannot"},
    };
    for (const auto& c : cases) {
        auto m = manifest_from_json(c.manifest);
        ASSERT_FALSE(m.ok()) << c.manifest.dump().substr(0, 200);
        EXPECT_EQ(m.error().number, writer_error::kInvalidManifest);
        EXPECT_NE(m.error().text.find(c.names), std::string::npos) << m.error().text;
    }

    // Refused while building or writing: no file and no temporary file.
    TempDir dir;
    auto posture = manifest_from_json(posture_manifest());
    auto too_long = manifest_from_json(texts(9));
    ASSERT_TRUE(posture.ok() && too_long.ok());
    std::filesystem::create_directory(dir.file("taken"));
    const struct {
        const Manifest& m;
        std::string path;
        std::string password;
        std::int32_t number;
    } writes[] = {
        {*posture, dir.file("x.mdb"), std::string(21, 'p'), writer_error::kInvalidManifest},
        {*too_long, dir.file("x.mdb"), "", writer_error::kTooLarge},
        {*posture, dir.file("taken"), "", writer_error::kWriteFailed},
        {*posture, dir.file("none/x.mdb"), "", writer_error::kWriteFailed}};
    for (const auto& w : writes)
        EXPECT_EQ(number(write_catalogue(w.m, w.path, w.password)), w.number) << w.path;
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"taken"});
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("taken")));
}

}  // namespace
}  // namespace strovia::jet::test
