#pragma once
// The catalogue-engine seam: the data-access objects the control uses to
// read its catalogue. An engine over real catalogue files lives in src/jet;
// tests use an in-memory engine.
//
// Contract for every implementation:
// - All calls come from one thread. Nothing throws; failures are Errors
//   carrying the engine's numbers below.
// - Objects stay valid while referenced; after close() every further
//   operation on that object fails with kObjectClosed.
// - Table and field names match without regard to case.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "catalogue/field.hpp"
#include "control/error.hpp"

namespace strovia {

// The engine's error numbers that callers and tests tell apart.
namespace engine_error {
inline constexpr std::int32_t kNoCurrentRecord = 3021;  // "No current record."
inline constexpr std::int32_t kFileNotFound = 3024;     // "Could not find file '...'."
inline constexpr std::int32_t kInvalidPassword = 3031;  // "Not a valid password."
inline constexpr std::int32_t kFileInUse = 3045;  // "Could not use '...'; file already in use."
inline constexpr std::int32_t kPermissionDenied = 3051;  // the file cannot be opened for reading
inline constexpr std::int32_t kQuerySyntax = 3075;  // "Syntax error ... in query expression '...'."
inline constexpr std::int32_t kTableNotFound =
    3078;  // "... cannot find the input table or query '...'."
inline constexpr std::int32_t kInvalidStatement = 3129;  // not a statement the engine knows
inline constexpr std::int32_t kFromSyntax = 3131;        // "Syntax error in FROM clause."
inline constexpr std::int32_t kTrailingCharacters =
    3142;  // "Characters found after end of SQL statement."
inline constexpr std::int32_t kItemNotFound = 3265;        // "Item not found in this collection."
inline constexpr std::int32_t kUnrecognizedFormat = 3343;  // "Unrecognized database format '...'."
inline constexpr std::int32_t kObjectClosed = 3420;        // "Object invalid or no longer set."
}  // namespace engine_error

// A row set from a query, walked strictly forward.
class Recordset {
public:
    virtual ~Recordset() = default;
    // To the first row; kNoCurrentRecord when the row set is empty.
    virtual Status move_first() = 0;
    // To the next row; past the last row eof() becomes true. Moving on
    // while eof() is already true fails with kNoCurrentRecord.
    virtual Status move_next() = 0;
    // True when the position is past the last row (and for an empty set).
    virtual bool eof() const = 0;
    // The named field of the current row; kNoCurrentRecord at eof,
    // kItemNotFound for an unknown field.
    virtual Result<FieldValue> field(std::string_view name) const = 0;
    virtual Status close() = 0;
};

class Database {
public:
    virtual ~Database() = default;
    // Runs a query text; the engine's defaults for row-set type and locks.
    virtual Result<std::shared_ptr<Recordset>> open_recordset(std::string_view query) = 0;
    virtual Status close() = 0;
};

class Workspace {
public:
    virtual ~Workspace() = default;
    // Opens the database file at `path` (a path formed with backslashes).
    // `exclusive` keeps every other opening out while this one is held;
    // `connect` carries the password as ";PWD=...;".
    virtual Result<std::shared_ptr<Database>> open_database(const std::string& path, bool exclusive,
                                                            bool read_only,
                                                            std::string_view connect) = 0;
};

class CatalogueEngine {
public:
    virtual ~CatalogueEngine() = default;
    virtual Workspace& default_workspace() = 0;
};

}  // namespace strovia
