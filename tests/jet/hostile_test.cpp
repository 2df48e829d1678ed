// Files that are missing, not catalogues, or damaged fail the opening
// cleanly with the engine's numbers, each guard tripped by a file built
// for it.

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
        build(posture_manifest(), good_);
        bytes_ = read_bytes(good_);
        ASSERT_EQ(bytes_.size() % kJet3PageSize, 0u);
    }
    // Writes `bytes` as a file and returns its opening's error number (0 when it opens).
    int number_of(const std::string& bytes) {
        const std::string f = dir_.file("bad" + std::to_string(n_++) + ".mdb");
        write_bytes(f, bytes);
        auto db = open(f);
        return db.ok() ? 0 : db.error().number;
    }
    void put32(std::string& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    }
    std::size_t page(std::size_t n) const { return n * kJet3PageSize; }

    TempDir dir_;
    std::string good_ = dir_.file("good.mdb");
    std::string bytes_;
    int n_ = 0;
};

TEST_F(Hostile, MissingFolderEmptyRandomAndForeignFiles) {
    EXPECT_EQ(number_of(bytes_), 0);
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
    std::string no_sig = bytes_;
    no_sig[4] = 'X';
    EXPECT_EQ(number_of(no_sig), engine_error::kUnrecognizedFormat);
    std::string version = bytes_;
    version[kVersionOffset] = 5;
    EXPECT_EQ(number_of(version), engine_error::kUnrecognizedFormat);
}

TEST_F(Hostile, TruncatedAnywhereFailsWholly) {
    for (std::size_t cut : {std::size_t{100}, kJet3PageSize, kJet3PageSize + 1, page(3), page(4),
                            bytes_.size() - kJet3PageSize, bytes_.size() - 1}) {
        EXPECT_EQ(number_of(bytes_.substr(0, cut)), engine_error::kUnrecognizedFormat) << cut;
    }
}

TEST_F(Hostile, EachStructuralGuard) {
    // The system table's definition continued onto itself.
    std::string loop = bytes_;
    put32(loop, page(2) + 4, 2);
    EXPECT_EQ(number_of(loop), engine_error::kUnrecognizedFormat);
    // The definition continued outside the file.
    std::string outside = bytes_;
    put32(outside, page(2) + 4, 100000);
    EXPECT_EQ(number_of(outside), engine_error::kUnrecognizedFormat);
    // A table that declares more rows than its pages hold (a partial catalogue).
    std::string more = bytes_;
    put32(more, page(2) + 12, 50);
    EXPECT_EQ(number_of(more), engine_error::kUnrecognizedFormat);
    // The system table is no table definition page.
    std::string not_tdef = bytes_;
    not_tdef[page(2)] = 0x01;
    EXPECT_EQ(number_of(not_tdef), engine_error::kUnrecognizedFormat);
    // A data row offset flagged as an overflow pointer.
    std::string overflow = bytes_;
    overflow[page(3) + 11] = static_cast<char>(overflow[page(3) + 11] | 0x40);
    EXPECT_EQ(number_of(overflow), engine_error::kUnrecognizedFormat);
}

}  // namespace
}  // namespace strovia::jet::test
