#include "jet/fold.hpp"

#include "platform/paths.hpp"

namespace strovia::jet {
namespace {

bool is_ascii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string fold_text(std::string_view s) {
    if (is_ascii(s)) {
        std::string out(s);
        for (char& c : out) c = lower(c);
        return out;
    }
    return platform::fold_case(s);
}

FoldedKey::FoldedKey(std::string_view key) : key_(key), folded_(fold_text(key)) {}

bool FoldedKey::matches(std::string_view s) const {
    if (s == key_) return true;
    // ASCII folds letter by letter into ASCII; anything else takes the
    // full folding (a Kelvin sign or a long s folds into ASCII, sharp s
    // into two letters).
    if (is_ascii(s)) {
        if (s.size() != folded_.size()) return false;
        for (std::size_t i = 0; i < s.size(); ++i)
            if (lower(s[i]) != folded_[i]) return false;
        return true;
    }
    return fold_text(s) == folded_;
}

}  // namespace strovia::jet
