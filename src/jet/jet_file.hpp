#pragma once
// One catalogue file, read whole and checked at opening: the bytes come
// from our own descriptor and our own reader parses them in memory, and
// every table the system table lists is decoded before the opening
// succeeds, so a damaged file fails as a whole instead of showing part of
// a catalogue. An engine may keep the last file so checked (ReadCache) and
// reuse it while the file's identity, size and times stay the same; lock
// and password are taken again on every opening.
//
// Locking: the file is held with flock() on the descriptor the engine
// opened, exclusive for an exclusive opening and shared otherwise. flock
// binds cooperating programs on the same machine (it is advisory and not
// reliable over network file systems). A second opening of a file this
// process already holds shares the held lock and succeeds; another process
// gets 3045 until the last opening here and its row sets are closed.
//
// Why our own reader and not libmdb: libmdb prints to stderr on damaged
// input, reads MDBOPTS, MDBICONV and MDB_JET3_CHARSET from the environment
// and trusts its input; keeping it quiet took the whole process's streams
// and environment. The reader takes nothing from the process and checks,
// against the file: size a whole number of pages under kMaxFileSize;
// signature and version byte; table definition chains inside the file, of
// definition pages, without loops, one table per definition; every count,
// name and offset of a definition within the pages that hold it; usage
// maps and data pages inside the file; every row, its null mask, its
// variable-length offsets and each value inside the row; a row moved by an
// edit to another data page, one step, to a row flagged as moved there,
// each such row reached once; memo chains with a hop limit; rows matching
// the count the table declares. Files of the later ACE format are refused
// by name.
//
// The database password only guards the opening: Jet pages are not
// encrypted, so anyone can read the bytes without it.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/field.hpp"
#include "control/error.hpp"

namespace strovia::jet {

// Jet column type codes (the file's own numbers).
namespace column_type {
inline constexpr int kBoolean = 0x01;
inline constexpr int kByte = 0x02;
inline constexpr int kInteger = 0x03;
inline constexpr int kLong = 0x04;
inline constexpr int kCurrency = 0x05;
inline constexpr int kSingle = 0x06;
inline constexpr int kDouble = 0x07;
inline constexpr int kDateTime = 0x08;
inline constexpr int kBinary = 0x09;
inline constexpr int kText = 0x0A;
inline constexpr int kOle = 0x0B;
inline constexpr int kMemo = 0x0C;
}  // namespace column_type

// Largest file the engine reads; catalogues are a few hundred kilobytes.
inline constexpr std::uint64_t kMaxFileSize = 256ULL * 1024 * 1024;
inline constexpr std::size_t kMaxColumns = 256;

struct ColumnInfo {
    std::string name;  // UTF-8
    int type = 0;
    int size = 0;  // bytes in the row (text: characters in Jet 3)
};

// Binary, OLE and GUID values read as their stored bytes.
struct TableData {
    std::string name;
    std::vector<ColumnInfo> columns;
    std::vector<std::vector<FieldValue>> rows;  // in the table's own order
};

class LockHolder;
class Reader;

// The last file an engine read and checked, kept for that engine's life:
// the control opens the same catalogue for every posture.
class ReadCache {
public:
    ReadCache();
    ~ReadCache();
    ReadCache(const ReadCache&) = delete;
    ReadCache& operator=(const ReadCache&) = delete;

private:
    friend class JetFile;
    struct Entry;
    std::unique_ptr<Entry> last_;
};

class JetFile {
public:
    // `fs_path` is a file-system path (already mapped); `shown` is the path
    // as the caller formed it, used in error texts. With a cache, an
    // unchanged file read before through it is not read again.
    static Result<std::shared_ptr<const JetFile>> open(const std::string& fs_path,
                                                       const std::string& shown,
                                                       std::string_view password, bool exclusive,
                                                       ReadCache* cache = nullptr);

    int jet_version() const { return version_; }  // 0: Jet 3, 1: Jet 4
    // Every row was checked at opening; a table's values are decoded when
    // it is first asked for (on the engine's one thread).
    const std::vector<TableData>& tables() const;
    // Case-insensitive lookup; nullptr when no such user table.
    const TableData* find_table(std::string_view name) const;

private:
    JetFile() = default;
    int version_ = 0;
    std::shared_ptr<Reader> reader_;  // shared with later openings of the unchanged file
    std::shared_ptr<LockHolder> lock_;
};

// The password from a connect string such as ";PWD=secret;" (empty when none).
std::string password_from_connect(std::string_view connect);

}  // namespace strovia::jet
