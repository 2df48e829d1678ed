#pragma once
// Maps a path formed by the control (backslashes, as course content names
// it) to this file system. Shared by the catalogue engine and the media
// devices so both find the same files.

#include <string>
#include <string_view>

namespace strovia::platform {

// Each backslash becomes a directory separator. Where a component does not
// exist with that exact case, the single entry of its folder whose name
// matches without regard to case (all letters, not only ASCII) is taken;
// with none or several such entries the component stays as written.
// Nothing else is changed: no trimming, no collapsing of separators.
std::string map_path(std::string_view formed);

// Text equality without regard to case, for every letter (UTF-8 input).
bool equal_ignoring_case(std::string_view a, std::string_view b);

// The case-folded form those comparisons use; invalid UTF-8 stays as it is.
std::string fold_case(std::string_view s);

}  // namespace strovia::platform
