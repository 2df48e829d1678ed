#pragma once
// Case-insensitive name and text matching for the engine's hot paths: the
// same equality as platform::equal_ignoring_case (full Unicode case
// folding), without building folded strings for ASCII text.

#include <string>
#include <string_view>

namespace strovia::jet {

// The case-folded form of UTF-8 text (invalid UTF-8 stays as it is).
std::string fold_text(std::string_view s);

// One side of a comparison, folded once; matches() takes the other side.
class FoldedKey {
public:
    explicit FoldedKey(std::string_view key);
    bool matches(std::string_view s) const;
    const std::string& folded() const { return folded_; }

private:
    std::string key_;
    std::string folded_;
};

}  // namespace strovia::jet
