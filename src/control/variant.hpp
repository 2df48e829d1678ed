#pragma once
// The values that cross the dispatch entry: empty, or a string (the only
// argument and result type of the control's interface).

#include <string>
#include <variant>

namespace strovia {

struct Empty {
    friend bool operator==(Empty, Empty) = default;
};

using Variant = std::variant<Empty, std::string>;

inline bool is_empty(const Variant& v) { return std::holds_alternative<Empty>(v); }

}  // namespace strovia
