#pragma once
// Builds Jet 3 catalogue files from a manifest, and reads a catalogue back
// into one. Manifest (JSON):
//   {"tables": [{"name": "...", "columns": [{"name": "...", "type": "Text",
//     "size": 50}, ...], "rows": [[...], ...]}]}
// Types: Text (size 1..255), Byte, Integer, Long, Double, Boolean; null is
// a null value. The file has the system table readers need and no indexes.

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
}  // namespace writer_error

// A manifest after checking: names unique (without regard to case), every
// value of its column's type and range, text representable in Windows-1252.
struct Manifest {
    std::vector<TableData> tables;
};

Result<Manifest> manifest_from_json(const nlohmann::json& j);
nlohmann::json manifest_to_json(const std::vector<TableData>& tables);

// The whole file in memory, then written to `path` (nothing is written on
// failure). Passwords are 0 to 20 Windows-1252 characters.
Result<std::vector<std::uint8_t>> build_catalogue(const Manifest& m, std::string_view password);
Status write_catalogue(const Manifest& m, const std::string& path, std::string_view password);

}  // namespace strovia::jet
