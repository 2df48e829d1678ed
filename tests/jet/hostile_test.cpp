// Files that are missing, not catalogues, or damaged fail the opening
// cleanly with the engine's numbers, each guard tripped by a file built
// for it; rows the writer never writes read as they should.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "jet/format.hpp"
#include "support.hpp"

namespace strovia::jet::test {
namespace {

void put(std::string& b, std::size_t at, std::uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}
std::uint16_t u16(const std::string& b, std::size_t at) {
    return get16(reinterpret_cast<const std::uint8_t*>(b.data()) + at);
}
std::size_t row_count_at(std::size_t page_size) { return page_size == kJet3PageSize ? 8 : 12; }

// Moves row `r` of data page `pg` to a page added at the file's end and
// leaves its new address in its place, as an edit that outgrew its page
// does: the new slot is flagged deleted, the old one as moved.
std::string moved_row(std::string b, std::size_t page_size, std::size_t pg, std::size_t r) {
    const std::size_t rco = row_count_at(page_size);
    const std::size_t base = pg * page_size;
    const std::size_t slot = base + rco + 2 + 2 * r;
    const std::size_t start = u16(b, slot) & 0x1FFF;
    const std::size_t end = r == 0 ? page_size : (u16(b, slot - 2) & 0x1FFF);
    const std::string row = b.substr(base + start, end - start);
    std::string added(page_size, '\0');
    added[0] = 1;
    added[1] = 1;
    added.replace(4, 4, b.substr(base + 4, 4));  // the same table
    put(added, rco, 1, 2);
    put(added, rco + 2, static_cast<std::uint32_t>(page_size - row.size()) | 0x8000, 2);
    added.replace(page_size - row.size(), row.size(), row);
    const auto to = static_cast<std::uint32_t>(b.size() / page_size);
    b += added;
    put(b, base + start, to << 8);
    put(b, slot, u16(b, slot) | 0x4000u, 2);
    return b;
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        build(posture_manifest(), dir_.file("good.mdb"));
        bytes_ = read_bytes(dir_.file("good.mdb"));
    }
    Result<std::shared_ptr<Database>> opening(const std::string& bytes) {
        const std::string f = dir_.file("bad" + std::to_string(n_++) + ".mdb");
        write_bytes(f, bytes);
        return open(f);
    }
    // The rows of Asanas in the file `bytes`; the error when it does not open.
    Rows asanas_in(const std::string& bytes) {
        auto db = opening(bytes);
        if (!db.ok()) return {{db.error().text}};
        return all_rows(**db, "select * from Asanas", {"AsanaID", "name"});
    }
    // The definition page of the first user table (Asanas).
    std::size_t asanas() const {
        for (std::size_t p = 3; p * kJet3PageSize < bytes_.size(); ++p)
            if (bytes_[page(p)] == 0x02) return page(p);
        ADD_FAILURE() << "no table definition";
        return 0;
    }
    std::string patched(std::size_t at, std::uint32_t v, int bytes = 4) const {
        std::string b = bytes_;
        put(b, at, v, bytes);
        return b;
    }
    std::size_t page(std::size_t n) const { return n * kJet3PageSize; }

    TempDir dir_;
    std::string bytes_;
    int n_ = 0;
    const Rows posture_rows_{{I{12}, S("Tadasana")},
                             {I{7}, S("Vrksasana")},
                             {I{-5}, S("Warrior \"II\"")},
                             {I{3}, S("ÉKA PADA")}};
};

// Files that are missing or not catalogues, cut anywhere, or that break
// one guard on the file's structure or one count, name or offset of a table
// definition (Asanas: a Long, then three Text columns): each fails the
// opening whole, with its reason (at least one in brackets).
TEST_F(Hostile, ForeignTruncatedAndDamagedFilesFailWithTheirReason) {
    EXPECT_EQ(asanas_in(bytes_), posture_rows_);
    EXPECT_EQ(number(open(dir_.file("absent.mdb"))), engine_error::kFileNotFound);
    std::filesystem::create_directory(dir_.file("folder.mdb"));
    EXPECT_EQ(number(open(dir_.file("folder.mdb"))), engine_error::kFileNotFound);
    // Nothing writes to it: an opening that waited for a writer would hang.
    ASSERT_EQ(::mkfifo(dir_.file("fifo.mdb").c_str(), 0600), 0);
    auto fifo = open(dir_.file("fifo.mdb"));
    ASSERT_FALSE(fifo.ok());
    EXPECT_EQ(fifo.error().text,
              "Unrecognized database format '" + dir_.file("fifo.mdb") + "' (not a regular file).");
    std::mt19937 rng(7);
    std::string noise(8 * kJet3PageSize, '\0');
    for (auto& c : noise) c = static_cast<char>(rng());
    const std::size_t def = asanas();
    const std::size_t col = def + 43;        // 18 bytes per column, no indexes
    const std::size_t names = col + 4 * 18;  // a length byte, then the name
    const auto row_offset = static_cast<std::uint8_t>(bytes_[page(3) + 11]);
    // The system table's row for Asanas gives its definition page as Id.
    std::string on_header = bytes_;
    {
        std::string id(4, '\0');
        put(id, 0, static_cast<std::uint32_t>(def / kJet3PageSize));
        const std::size_t at = on_header.find(id, page(3));
        ASSERT_LT(at, page(4)) << "no Id of Asanas in the system table's rows";
        put(on_header, at, 0);
    }
    std::string ace = bytes_;
    ace.replace(kSignatureOffset, 16, std::string("Standard ACE DB\0", 16));
    put(ace, kVersionOffset, 2, 1);
    std::vector<std::pair<std::string, const char*>> bad = {
        {on_header, "a table definition on the header page"},
        {"", " ("},
        {noise, " ("},
        {bytes_.substr(0, kJet3PageSize) + noise, " ("},  // no system table behind a valid header
        {patched(4, 'X', 1), " ("},                       // signature
        {patched(kVersionOffset, 5, 1),
         "(a Jet database of an unknown version (5); Jet 3 and Jet 4 files are read)"},
        {ace,
         "(it is an ACE database, the format of 2007 and later versions; Jet 3 and Jet 4 files are "
         "read)"},
        {patched(page(2) + 4, 2), " ("},       // the system table continued onto itself
        {patched(page(2) + 4, 100000), " ("},  // continued outside the file
        {patched(page(2) + 12, 50), " ("},     // more rows than its pages hold
        {patched(page(2), 0x01, 1), " ("},     // no table definition page
        {patched(page(3) + 11, row_offset | 0x40u, 1), "has a moved row"},  // its bytes no address
        {patched(def + 31, 0xFFFFFFFF), "indexes and 4 columns do not fit"},
        {patched(def + 27, 0x00FFFFFF), "logical indexes do not fit"},
        {patched(def + 25, 300, 2), "300 columns, more than"},
        {patched(def + 25, 200, 2), "do not fit"},
        {patched(def + 23, 5, 2), "more variable-length columns"},
        {patched(col + 14, 0xFFFF, 2), "fixed column lies outside"},
        {patched(col + 18 + 3, 0x4000, 2), "column number out of range"},
        {patched(names, 0, 1), "column name out of bounds"},
        {patched(names + 1, 0x07, 1), "control characters"},
        {patched(names + 1, 0x81, 1), "control characters"},
    };
    for (std::size_t cut : {std::size_t{100}, kJet3PageSize, kJet3PageSize + 1, page(3), page(4),
                            bytes_.size() - kJet3PageSize, bytes_.size() - 1})
        bad.emplace_back(bytes_.substr(0, cut), " (");
    for (std::size_t i = 0; i < bad.size(); ++i) {
        auto db = opening(bad[i].first);
        ASSERT_FALSE(db.ok()) << i;
        EXPECT_EQ(db.error().number, engine_error::kUnrecognizedFormat) << i;
        // The text names the file it refused.
        EXPECT_NE(db.error().text.find(bad[i].second), std::string::npos) << db.error().text;
    }
}

// Deleted rows are passed over; a file encoded with a page key reads as
// the plain one (each page after the first in RC4 keyed by key ^ page).
TEST_F(Hostile, DeletedMovedAndEncodedRowsReadAsWritten) {
    std::string deleted = bytes_;
    const std::size_t data = bytes_.find("Tadasana") / kJet3PageSize * kJet3PageSize;
    // The first row's offset, flagged deleted; the table declares one row less.
    deleted[data + 11] = static_cast<char>(deleted[data + 11] | 0x80);
    put(deleted, asanas() + 12, 3);
    EXPECT_EQ(asanas_in(deleted), Rows(posture_rows_.begin() + 1, posture_rows_.end()));

    std::string encoded = bytes_;
    auto* raw = reinterpret_cast<std::uint8_t*>(encoded.data());
    code_definition_page({raw, kJet3PageSize}, 0);
    const std::uint32_t key = 0x12345678;
    put(encoded, kPageKeyOffset, key);
    code_definition_page({raw, kJet3PageSize}, 0);
    for (std::uint32_t p = 1; p < encoded.size() / kJet3PageSize; ++p) {
        std::uint8_t k[4];
        for (int i = 0; i < 4; ++i) k[i] = static_cast<std::uint8_t>((key ^ p) >> (8 * i));
        rc4(k, {raw + page(p), kJet3PageSize});
    }
    EXPECT_EQ(asanas_in(encoded), posture_rows_);

    // Rows moved by edits are read from where they went, in both versions;
    // each keeps its place in the table.
    const std::size_t pg = data / kJet3PageSize;
    EXPECT_EQ(asanas_in(moved_row(moved_row(bytes_, kJet3PageSize, pg, 0), kJet3PageSize, pg, 2)),
              posture_rows_);

    const std::string jet4 = std::string(STROVIA_FIXTURES) + "/access2000-password.mdb";
    if (!std::filesystem::exists(jet4)) GTEST_SKIP() << "no fixtures folder beside the project";
    const std::string real = read_bytes(jet4);
    const std::size_t page4 = real.find("\xFF\xFEThree") / kJet4PageSize;
    write_bytes(dir_.file("jet4.mdb"), moved_row(real, kJet4PageSize, page4, 1));
    auto db = open(dir_.file("jet4.mdb"), ";PWD=password;");
    ASSERT_TRUE(db.ok()) << db.error().text;
    EXPECT_EQ(all_rows(**db, "select * from Table1", {"ID", "Data"}),
              (Rows{{I{1}, S("One")}, {I{2}, S("Two")}, {I{3}, S("Three")}}));
}

// A file the desktop product edited, its system table holding a moved row:
// it opens; each impossible address put in that row's place fails the
// opening whole with its reason.
TEST_F(Hostile, ImpossibleMovedRowsFailWithTheirReason) {
    const std::string path = std::string(STROVIA_FIXTURES) + "/access97-edited.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no fixtures folder beside the project";
    const std::string real = read_bytes(path);
    auto db = opening(real);
    ASSERT_TRUE(db.ok()) << db.error().text;
    EXPECT_EQ(all_rows(**db, "select * from Table3", {"col1"}), Rows{});

    constexpr std::size_t ps = kJet3PageSize;
    const std::size_t rco = row_count_at(ps);
    auto slot = [&](std::size_t pg, std::size_t r) { return pg * ps + rco + 2 + 2 * r; };
    auto start = [&](std::size_t pg, std::size_t r) {
        return pg * ps + (u16(real, slot(pg, r)) & 0x1FFFu);
    };
    // The first moved row, where it went, and a page of long values.
    std::size_t pg = 0, r = 0, lval = 0;
    for (std::size_t p = 1; p < real.size() / ps; ++p) {
        if (real[p * ps] != 1) continue;
        if (real.compare(p * ps + 4, 4, "LVAL") == 0) lval = p;
        for (std::size_t i = 0; i < u16(real, p * ps + rco) && pg == 0; ++i)
            if ((u16(real, slot(p, i)) & 0xC000) == 0x4000) pg = p, r = i;
    }
    ASSERT_TRUE(pg != 0 && lval != 0) << "no moved row in " << path;
    const std::uint32_t to = static_cast<std::uint32_t>(u16(real, start(pg, r))) |
                             static_cast<std::uint32_t>(u16(real, start(pg, r) + 2)) << 16;
    const std::size_t to_pg = to >> 8;
    ASSERT_EQ(u16(real, slot(to_pg, to & 0xFF)) & 0x8000, 0x8000)
        << "moved rows are flagged deleted";
    std::size_t live = 0;
    while ((u16(real, slot(to_pg, live)) & 0xC000) != 0) ++live;
    const auto here = static_cast<std::uint32_t>(pg << 8 | r);
    auto address = [&](std::uint32_t a) {
        std::string b = real;
        put(b, start(pg, r), a);
        return b;
    };
    std::string back = real;  // where it went sends it back
    put(back, slot(to_pg, to & 0xFF), u16(real, slot(to_pg, to & 0xFF)) | 0x4000u, 2);
    std::string deleted = back;  // as the desktop product flags a deleted row
    put(back, start(to_pg, to & 0xFF), here);
    std::string twice = real;  // the row before it sent to the same place
    put(twice, slot(pg, r - 1), u16(real, slot(pg, r - 1)) | 0x4000u, 2);
    put(twice, start(pg, r - 1), to);
    const std::pair<std::string, const char*> cases[] = {
        {address(0xFFFFFFu << 8), "a moved row that points outside the file"},
        {address(2u << 8), "points to page 2, which holds no rows"},
        {address(static_cast<std::uint32_t>(lval << 8)), "which holds no rows"},
        {address(static_cast<std::uint32_t>(to_pg << 8 | 200)), "which the page does not hold"},
        {address(static_cast<std::uint32_t>(to_pg << 8 | live)),
         "points to a row the table also holds in its own place"},
        {address(here), "that points to a row deleted or moved again"},
        {back, "that points to a row deleted or moved again"},
        {deleted, "that points to a row deleted or moved again"},
        {twice, "two rows moved to the same place"},
    };
    for (const auto& [bytes, why] : cases) {
        auto bad = opening(bytes);
        ASSERT_FALSE(bad.ok()) << why;
        EXPECT_EQ(bad.error().number, engine_error::kUnrecognizedFormat);
        EXPECT_NE(bad.error().text.find("table 'MSysObjects'"), std::string::npos)
            << bad.error().text;
        EXPECT_NE(bad.error().text.find(why), std::string::npos) << bad.error().text;
    }
}

// Rows keep the columns they were written with: one written before its
// table gained columns reads them as null, one written before a column was
// deleted keeps the others. The file holds the rows of Photo_Asana-5 under
// a definition of the same table with other columns.
TEST_F(Hostile, RowsWrittenBeforeColumnsWereAddedOrDeleted) {
    auto last_definition = [](const std::string& b) {
        std::size_t last = 0;
        for (std::size_t p = 3; p * kJet3PageSize < b.size(); ++p)
            if (b[p * kJet3PageSize] == 0x02) last = p;
        return last;
    };
    const std::size_t def = last_definition(bytes_);
    auto under = [&](const nlohmann::json& columns, const nlohmann::json& row) {
        auto m = posture_manifest();
        m["tables"][2]["columns"] = columns;
        m["tables"][2]["rows"] = nlohmann::json::array({row});
        build(m, dir_.file("other.mdb"));
        const std::string other = read_bytes(dir_.file("other.mdb"));
        EXPECT_EQ(last_definition(other), def);
        std::string b = bytes_;
        b.replace(def * kJet3PageSize, kJet3PageSize, other, def * kJet3PageSize, kJet3PageSize);
        auto db = opening(b);
        if (!db.ok()) return Rows{{db.error().text}};
        std::vector<std::string> names;
        for (const auto& c : columns) names.push_back(c["name"]);
        return all_rows(**db, "select * from Photo_Asana-5", names);
    };
    const auto text = [](const char* name) {
        return nlohmann::json{{"name", name}, {"type", "Text"}, {"size", 50}};
    };
    const nlohmann::json added = nlohmann::json::array(
        {text("Mp2name"), text("ImageName"), {{"name", "Extra"}, {"type", "Long"}}, text("Note")});
    EXPECT_EQ(under(added, nlohmann::json::array({"x", "y", 1, "z"})),
              (Rows{{S("p1"), S("one.jpg"), Null{}, Null{}}}));
    EXPECT_EQ(under(nlohmann::json::array({text("Mp2name")}), nlohmann::json::array({"x"})),
              (Rows{{S("p1")}}));
}

}  // namespace
}  // namespace strovia::jet::test
