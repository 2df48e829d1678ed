#pragma once
// Builds Jet 3 catalogue files from a manifest, and reads a catalogue back
// into one. Manifest (JSON):
//   {"tables": [{"name": "...", "columns": [{"name": "...", "type": "Text",
//     "size": 50}, ...], "rows": [[...], ...]}]}
// Up to 255 columns a table. Types and their values:
//   Text (size 1..255), Memo         text (Windows-1252 characters)
//   Byte, Integer, Long              whole numbers in their range
//   Single, Double, Currency         numbers (Currency to 1/10,000)
//   DateTime                         "YYYY-MM-DD[ HH:MM:SS]", or the stored
//                                    number of days since 1899-12-30
//   Boolean                          true or false (null is false)
//   Binary (size 1..255), OLE        base64 text
//   GUID                             "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// null is a null value. The file has the system table readers need and no
// indexes.

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "catalogue/field.hpp"
#include "control/error.hpp"
#include "jet/jet_file.hpp"

namespace strovia::jet {

namespace writer_error {
inline constexpr std::int32_t kInvalidManifest = 9001;  // names table, row and column
inline constexpr std::int32_t kTooLarge = 9002;         // a row or the file outgrows the format
inline constexpr std::int32_t kWriteFailed = 9003;      // the file system refused
inline constexpr std::int32_t kNoManifestForm =
    9004;  // a column type or value a manifest cannot hold
}  // namespace writer_error

// A manifest after checking: names unique (without regard to case), every
// value of its column's type and range, text representable in Windows-1252.
struct Manifest {
    std::vector<TableData> tables;
};

Result<Manifest> manifest_from_json(const nlohmann::json& j);
// Every table, column and value, or an error naming what has no form in a
// manifest. Jet 4 text sizes are in bytes and are halved.
Result<nlohmann::json> manifest_to_json(const std::vector<TableData>& tables, int jet_version = 0);
// One value as a manifest writes it (dates as text where that is exact,
// binary as base64, GUIDs in braces); a number that is not finite has no form.
Result<nlohmann::json> value_to_json(const FieldValue& v, const ColumnInfo& c);

// The whole file in memory, then written to a new file beside `path` and
// renamed over it, so `path` is either the whole catalogue or untouched and
// nothing else is left behind on failure. Passwords are 0 to 20
// Windows-1252 characters.
Result<std::vector<std::uint8_t>> build_catalogue(const Manifest& m, std::string_view password);
Status write_catalogue(const Manifest& m, const std::string& path, std::string_view password);

}  // namespace strovia::jet
