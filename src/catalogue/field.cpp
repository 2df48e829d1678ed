#include "catalogue/field.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

namespace strovia {
namespace {

Error null_error() { return {runtime_error::kInvalidUseOfNull, "Invalid use of Null"}; }
Error mismatch_error() { return {runtime_error::kTypeMismatch, "Type mismatch"}; }
Error overflow_error() { return {runtime_error::kOverflow, "Overflow"}; }

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Whole text as a number (surrounding blanks allowed), as a numeric
// conversion of text does.
Result<double> parse_number(std::string_view text) {
    std::string_view t = trim_blanks(text);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    double d = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), d);
    if (t.empty() || ec != std::errc{} || end != t.data() + t.size() || !std::isfinite(d)) {
        return mismatch_error();
    }
    return d;
}

}  // namespace

Result<std::string> field_as_text(const FieldValue& v) {
    if (std::holds_alternative<Null>(v)) return null_error();
    if (const auto* b = std::get_if<bool>(&v)) return std::string(*b ? "True" : "False");
    if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) {
        // Fifteen significant digits, as a numeric-to-text conversion shows.
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return std::string(buf);
    }
    return std::get<std::string>(v);
}

Result<std::int16_t> field_as_int16(const FieldValue& v) {
    double d = 0;
    if (std::holds_alternative<Null>(v)) return null_error();
    if (const auto* b = std::get_if<bool>(&v)) {
        d = *b ? -1.0 : 0.0;  // true is all bits set
    } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
        if (*i < std::numeric_limits<std::int16_t>::min() ||
            *i > std::numeric_limits<std::int16_t>::max()) {
            return overflow_error();
        }
        return static_cast<std::int16_t>(*i);
    } else if (const auto* x = std::get_if<double>(&v)) {
        d = *x;
    } else {
        auto parsed = parse_number(std::get<std::string>(v));
        if (!parsed) return parsed.error();
        d = *parsed;
    }
    if (!std::isfinite(d)) return overflow_error();
    const double r = std::nearbyint(d);  // default rounding: half to even
    if (r < -32768.0 || r > 32767.0) return overflow_error();
    return static_cast<std::int16_t>(r);
}

Result<double> field_as_double(const FieldValue& v) {
    if (std::holds_alternative<Null>(v)) return null_error();
    if (const auto* b = std::get_if<bool>(&v)) return *b ? -1.0 : 0.0;
    if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(&v)) return *d;
    return parse_number(std::get<std::string>(v));
}

}  // namespace strovia
