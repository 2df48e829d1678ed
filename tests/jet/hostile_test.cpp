// Files that are missing, not catalogues, or damaged fail the opening
// cleanly with the engine's numbers, each guard tripped by a file built
// for it; rows the writer never writes read as they should.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "jet/format.hpp"
#include "support.hpp"

namespace strovia::jet::test {
namespace {

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
    static void put(std::string& b, std::size_t at, std::uint32_t v, int bytes = 4) {
        for (int i = 0; i < bytes; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
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
    std::vector<std::pair<std::string, const char*>> bad = {
        {on_header, "a table definition on the header page"},
        {"", " ("},
        {noise, " ("},
        {bytes_.substr(0, kJet3PageSize) + noise, " ("},  // no system table behind a valid header
        {patched(4, 'X', 1), " ("},                       // signature
        {patched(kVersionOffset, 5, 1), " ("},
        {patched(page(2) + 4, 2), " ("},       // the system table continued onto itself
        {patched(page(2) + 4, 100000), " ("},  // continued outside the file
        {patched(page(2) + 12, 50), " ("},     // more rows than its pages hold
        {patched(page(2), 0x01, 1), " ("},     // no table definition page
        {patched(page(3) + 11, row_offset | 0x40u, 1), " ("},  // a row flagged as overflow
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
TEST_F(Hostile, DeletedRowsAndEncodedPages) {
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
}

}  // namespace
}  // namespace strovia::jet::test
