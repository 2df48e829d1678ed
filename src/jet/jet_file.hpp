#pragma once
// One catalogue file, read whole and checked at opening: the bytes come
// from our own descriptor, libmdb parses them from memory, and every table
// the system table lists is decoded before the opening succeeds, so a
// damaged file fails as a whole instead of showing part of a catalogue.
// The last file so checked is kept for the process's life and reused while
// its identity, size and times stay the same; lock and password are taken
// again on every opening.
//
// Locking: the file is held with flock() on the descriptor the engine
// opened, exclusive for an exclusive opening and shared otherwise. flock
// binds cooperating programs on the same machine (it is advisory and not
// reliable over network file systems). A second opening of a file this
// process already holds shares the held lock and succeeds; another process
// gets 3045 until the last opening here and its row sets are closed.
//
// Guards against hostile files (libmdb 1.0 trusts its input): our own
// descriptor and read, then mdb_open_buffer on the bytes; size a whole
// number of pages under kMaxFileSize; signature and version byte; our own
// walk of the system table instead of mdb_read_catalog (its property
// column is never read); table definition chains inside the file, of
// definition pages, without loops; mdb_read_table's result checked (usage
// map, at most 256 columns); rows capped by what the file's pages can hold
// and required to match the count the table declares; no column is bound
// (values are decoded from the cracked row, memo chains from our own copy
// of the bytes with a hop limit), so no libmdb copy into a bind buffer
// happens; libmdb's output and environment are shut out around each call.
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

class JetFile {
public:
    // `fs_path` is a file-system path (already mapped); `shown` is the path
    // as the caller formed it, used in error texts.
    static Result<std::shared_ptr<const JetFile>> open(const std::string& fs_path,
                                                       const std::string& shown,
                                                       std::string_view password, bool exclusive);

    int jet_version() const { return version_; }  // 0: Jet 3, 1: Jet 4
    const std::vector<TableData>& tables() const { return *tables_; }
    // Case-insensitive lookup; nullptr when no such user table.
    const TableData* find_table(std::string_view name) const;

private:
    JetFile() = default;
    int version_ = 0;
    std::shared_ptr<const std::vector<TableData>> tables_;  // shared with later openings
    std::shared_ptr<LockHolder> lock_;
};

// The password from a connect string such as ";PWD=secret;" (empty when none).
std::string password_from_connect(std::string_view connect);

}  // namespace strovia::jet
