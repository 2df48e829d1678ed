#pragma once
// A field value as the catalogue engine delivers it, and the conversions
// the control applies when it reads one as text, a 16-bit integer or a
// double.

#include <cstdint>
#include <string>
#include <variant>

#include "control/error.hpp"

namespace strovia {

struct Null {
    friend bool operator==(Null, Null) = default;
};

// Null, a boolean, a whole number (byte, integer, long), a floating-point
// number (single, double, currency, date serial) or text (UTF-8).
using FieldValue = std::variant<Null, bool, std::int64_t, double, std::string>;

// Text form of a value: numbers become their decimal text, booleans
// "True"/"False". Null fails with runtime_error::kInvalidUseOfNull.
Result<std::string> field_as_text(const FieldValue& v);

// 16-bit signed integer: a fraction rounds to the nearest whole number, a
// half to the even neighbour; outside -32768..32767 fails with
// runtime_error::kOverflow; text that is no number with kTypeMismatch.
Result<std::int16_t> field_as_int16(const FieldValue& v);

// Double: numbers as they are; numeric text parsed; other text fails with
// runtime_error::kTypeMismatch.
Result<double> field_as_double(const FieldValue& v);

}  // namespace strovia
