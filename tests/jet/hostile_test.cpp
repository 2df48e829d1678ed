// Files that are missing, not catalogues, or damaged fail the opening
// cleanly with the engine's numbers, each guard tripped by a file built
// for it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "jet/format.hpp"
#include "support.hpp"

namespace strovia::jet::test {
namespace {

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        build(posture_manifest(), good_);
        bytes_ = read_bytes(good_);
        ASSERT_EQ(bytes_.size() % kJet3PageSize, 0u);
    }
    // Writes `bytes` as a file and returns its opening's error number (0 when it opens).
    int number_of(const std::string& bytes) {
        auto db = opening(bytes);
        return db.ok() ? 0 : db.error().number;
    }
    Result<std::shared_ptr<Database>> opening(const std::string& bytes) {
        const std::string f = dir_.file("bad" + std::to_string(n_++) + ".mdb");
        write_bytes(f, bytes);
        auto db = open(f);
        if (!db.ok() && db.error().number == engine_error::kUnrecognizedFormat) {
            EXPECT_NE(db.error().text.find(" ("), std::string::npos) << "no reason given";
        }
        return db;
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
    std::string good_ = dir_.file("good.mdb");
    std::string bytes_;
    int n_ = 0;
};

TEST_F(Hostile, MissingFolderEmptyRandomAndForeignFiles) {
    EXPECT_TRUE(opening(bytes_).ok());
    EXPECT_EQ(open(dir_.file("absent.mdb")).error().number, engine_error::kFileNotFound);
    std::filesystem::create_directory(dir_.file("folder.mdb"));
    EXPECT_EQ(open(dir_.file("folder.mdb")).error().number, engine_error::kFileNotFound);
    EXPECT_EQ(number_of(""), engine_error::kUnrecognizedFormat);
    std::mt19937 rng(7);
    std::string noise(8 * kJet3PageSize, '\0');
    for (auto& c : noise) c = static_cast<char>(rng());
    EXPECT_EQ(number_of(noise), engine_error::kUnrecognizedFormat);
    // Random pages behind a valid header: the system table is not there.
    std::string headed = bytes_.substr(0, kJet3PageSize) + noise;
    EXPECT_EQ(number_of(headed), engine_error::kUnrecognizedFormat);
    EXPECT_EQ(number_of(patched(4, 'X', 1)), engine_error::kUnrecognizedFormat);  // signature
    EXPECT_EQ(number_of(patched(kVersionOffset, 5, 1)), engine_error::kUnrecognizedFormat);
}

TEST_F(Hostile, TruncatedAnywhereFailsWholly) {
    for (std::size_t cut : {std::size_t{100}, kJet3PageSize, kJet3PageSize + 1, page(3), page(4),
                            bytes_.size() - kJet3PageSize, bytes_.size() - 1}) {
        EXPECT_EQ(number_of(bytes_.substr(0, cut)), engine_error::kUnrecognizedFormat) << cut;
    }
}

// Each guard on the file's structure, and every count, name and offset of
// a table definition checked against the page that holds it (Asanas: a
// Long, then three Text columns). Each patch fails the opening with its reason.
TEST_F(Hostile, EachStructuralGuardFailsWithItsReason) {
    const std::size_t def = asanas();
    const std::size_t col = def + 43;        // 18 bytes per column, no indexes
    const std::size_t names = col + 4 * 18;  // a length byte, then the name
    const auto row_offset = static_cast<std::uint8_t>(bytes_[page(3) + 11]);
    struct Patch {
        std::size_t at;
        std::uint32_t value;
        int bytes;
        const char* reason;
    };
    for (const Patch& p : {
             Patch{page(2) + 4, 2, 4, ""},       // the system table continued onto itself
             Patch{page(2) + 4, 100000, 4, ""},  // continued outside the file
             Patch{page(2) + 12, 50, 4, ""},     // more rows than its pages hold
             Patch{page(2), 0x01, 1, ""},        // no table definition page
             Patch{page(3) + 11, row_offset | 0x40u, 1, ""},  // a row flagged as overflow
             Patch{def + 31, 0xFFFFFFFF, 4, "indexes and 4 columns do not fit"},
             Patch{def + 27, 0x00FFFFFF, 4, "logical indexes do not fit"},
             Patch{def + 25, 300, 2, "300 columns, more than"},
             Patch{def + 25, 200, 2, "do not fit"},
             Patch{def + 23, 5, 2, "more variable-length columns"},
             Patch{col + 14, 0xFFFF, 2, "fixed column lies outside"},
             Patch{col + 18 + 3, 0x4000, 2, "column number out of range"},
             Patch{names, 0, 1, "column name out of bounds"},
             Patch{names + 1, 0x07, 1, "control characters"},
             Patch{names + 1, 0x81, 1, "control characters"},
         }) {
        SCOPED_TRACE(std::to_string(p.at) + " = " + std::to_string(p.value));
        auto db = opening(patched(p.at, p.value, p.bytes));
        ASSERT_FALSE(db.ok()) << p.reason;
        EXPECT_EQ(db.error().number, engine_error::kUnrecognizedFormat) << p.reason;
        EXPECT_NE(db.error().text.find(p.reason), std::string::npos) << db.error().text;
    }
}

// A definition over several pages (each after the first continues at its
// byte 8) reads as the one-page one: 250 empty real-index entries push
// Asanas' columns, names and index data across six pages.
TEST_F(Hostile, DefinitionOverSeveralPages) {
    const std::size_t def = asanas();
    const std::size_t len = get32(reinterpret_cast<const std::uint8_t*>(bytes_.data() + def + 8));
    std::string d = bytes_.substr(def, 43) + std::string(250 * 8, '\0') +
                    bytes_.substr(def + 43, len - 43) + std::string(250 * 39, '\0');
    put(d, 31, 250);
    std::string b = bytes_;
    std::size_t at = def;
    for (std::size_t from = 0; from < d.size();) {
        const std::size_t take = std::min(d.size() - from, kJet3PageSize - (from ? 8 : 0));
        b.replace(at + (from ? 8 : 0), take, d, from, take);
        from += take;
        if (from < d.size()) {
            put(b, at + 4, static_cast<std::uint32_t>(b.size() / kJet3PageSize));
            at = b.size();
            b += std::string("\x02\x01VC", 4) + std::string(kJet3PageSize - 4, '\0');
        }
    }
    ASSERT_EQ(b.size(), bytes_.size() + 5 * kJet3PageSize);
    auto db = opening(b);
    ASSERT_TRUE(db.ok()) << db.error().text;
    auto rs = (*db)->open_recordset(R"(select * from Asanas where VideoName = "w2.mpg")");
    ASSERT_TRUE(rs.ok() && (*rs)->move_first().ok());
    EXPECT_EQ((*rs)->field("name").value(), FieldValue{std::string("Warrior \"II\"")});
}

// Deleted rows are passed over; a file encoded with a page key reads as
// the plain one (each page after the first in RC4 keyed by key ^ page).
TEST_F(Hostile, DeletedRowsAndEncodedPages) {
    auto id_of = [&](const std::string& bytes, const char* name) -> std::int64_t {
        auto db = opening(bytes);
        if (!db.ok()) return -1000;
        auto rs = (*db)->open_recordset(std::string("select * from Asanas where name = \"") + name +
                                        "\"");
        if (!rs.ok() || !(*rs)->move_first().ok()) return -1;
        auto id = (*rs)->field("AsanaID");
        return id.ok() ? std::get<std::int64_t>(*id) : -2;
    };
    std::string deleted = bytes_;
    std::size_t asanas_data = 0;  // the data page that names Asanas' definition
    for (std::size_t p = 3; p * kJet3PageSize < bytes_.size(); ++p)
        if (bytes_[page(p)] == 0x01 &&
            get32(reinterpret_cast<const std::uint8_t*>(bytes_.data() + page(p) + 4)) ==
                asanas() / kJet3PageSize)
            asanas_data = page(p);
    ASSERT_NE(asanas_data, 0u);
    // The first row's offset, flagged deleted; the table declares one row less.
    deleted[asanas_data + 11] = static_cast<char>(deleted[asanas_data + 11] | 0x80);
    put(deleted, asanas() + 12, 3);
    EXPECT_EQ(id_of(deleted, "Tadasana"), -1);
    EXPECT_EQ(id_of(deleted, "Vrksasana"), 7);

    std::string encoded = bytes_;
    auto* raw = reinterpret_cast<std::uint8_t*>(encoded.data());
    code_definition_page({raw, kJet3PageSize}, 0);
    const std::uint32_t key = 0x12345678;
    put(encoded, kPageKeyOffset, key);
    code_definition_page({raw, kJet3PageSize}, 0);
    for (std::uint32_t p = 1; p < encoded.size() / kJet3PageSize; ++p) {
        const std::uint32_t k = key ^ p;
        const std::uint8_t ks[4] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                                    static_cast<std::uint8_t>(k >> 16),
                                    static_cast<std::uint8_t>(k >> 24)};
        rc4(ks, {raw + page(p), kJet3PageSize});
    }
    EXPECT_EQ(id_of(encoded, "Tadasana"), 12);
    EXPECT_EQ(id_of(encoded, "ÉKA PADA"), 3);
}

// The engine prints nothing, whatever the file.
TEST_F(Hostile, NothingReachesTheProcessStreams) {
    const std::string log = dir_.file("streams.log");
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_out = ::dup(1);
    const int saved_err = ::dup(2);
    std::FILE* f = std::fopen(log.c_str(), "w");
    ::dup2(::fileno(f), 1);
    ::dup2(::fileno(f), 2);
    std::vector<int> numbers;
    for (const std::string& b : {bytes_, bytes_.substr(0, bytes_.size() - kJet3PageSize),
                                 patched(asanas() + 31, 0xFFFFFFFF), patched(page(2) + 4, 2)})
        numbers.push_back(number_of(b));
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(saved_out, 1);
    ::dup2(saved_err, 2);
    ::close(saved_out);
    ::close(saved_err);
    std::fclose(f);
    EXPECT_EQ(numbers, (std::vector<int>{0, 3343, 3343, 3343}));
    EXPECT_EQ(read_bytes(log), "");
}

}  // namespace
}  // namespace strovia::jet::test
