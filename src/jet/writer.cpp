#include "jet/writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "jet/fold.hpp"
#include "jet/format.hpp"
#include "platform/paths.hpp"

namespace strovia::jet {
namespace {

using namespace column_type;
constexpr std::size_t kPage = kJet3PageSize;
constexpr std::size_t kDataHeader = 10;  // type, 1, free space, table page, row count
constexpr std::size_t kMaxRow = kPage - kDataHeader - 2;  // one row alone on a page
constexpr std::uint32_t kSysObjectsPage = 2;
constexpr std::size_t kMaxTableColumns = 255;    // a row's column count is one byte
constexpr std::size_t kMaxLongValue = 0xFFFFFF;  // three bytes of length in every reader
constexpr double kCurrencyLimit = 9.2e14;        // ten-thousandths stay within 64 bits
constexpr std::int64_t kDayZero = -25569;        // 1899-12-30 in days from 1970-01-01

struct TypeName {
    const char* name;
    int type;
    int size;  // 0: given in the manifest (Text, Binary) or a long value
};
constexpr TypeName kTypes[] = {
    {"Text", kText, 0},       {"Memo", kMemo, 0},     {"Byte", kByte, 1},
    {"Integer", kInteger, 2}, {"Long", kLong, 4},     {"Currency", kCurrency, 8},
    {"Single", kSingle, 4},   {"Double", kDouble, 8}, {"DateTime", kDateTime, 8},
    {"Boolean", kBoolean, 1}, {"Binary", kBinary, 0}, {"OLE", kOle, 0},
    {"GUID", kGuid, 16}};

// Text, binary and long values live in the variable part of a row.
bool is_variable(int type) {
    return type == kText || type == kMemo || type == kBinary || type == kOle;
}
bool is_long_value(int type) { return type == kMemo || type == kOle; }
bool is_textual(int type) { return type == kText || type == kMemo; }

constexpr const char* kNoControls = "a name cannot hold control characters";

Error invalid(const std::string& where, const std::string& what) {
    return Error{writer_error::kInvalidManifest, where + ": " + what};
}

std::string at(const std::string& table, std::size_t row, const std::string& column) {
    return "table '" + table + "', row " + std::to_string(row + 1) + ", column '" + column + "'";
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string to_base64(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<std::uint8_t>(bytes[i + 2]);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kBase64[v & 63] : '=';
    }
    return out;
}

// Padded base64 only, so that each value has one spelling.
std::optional<std::string> from_base64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t v = 0;
        int pad = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            const char* pos = c ? std::strchr(kBase64, c) : nullptr;
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                ++pad;
            } else if (!pos || pad > 0) {
                return std::nullopt;
            }
            v = (v << 6) | static_cast<std::uint32_t>(pos ? pos - kBase64 : 0);
        }
        out += static_cast<char>(v >> 16);
        if (pad < 2) out += static_cast<char>((v >> 8) & 0xFF);
        if (pad < 1) out += static_cast<char>(v & 0xFF);
    }
    if (to_base64(out) != text) return std::nullopt;  // stray bits under the padding
    return out;
}

// GUIDs are stored as a 32-bit, two 16-bit numbers (little-endian) and eight bytes.
constexpr int kGuidOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

std::string guid_text(std::string_view raw) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        const auto b = static_cast<std::uint8_t>(raw[static_cast<std::size_t>(kGuidOrder[i])]);
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out + "}";
}

std::optional<std::string> guid_bytes(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    std::string raw(16, '\0');
    std::size_t pos = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            if (text[pos++] != '-') return std::nullopt;
        }
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[pos++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) return std::nullopt;
            v = v * 16 + d;
        }
        raw[static_cast<std::size_t>(kGuidOrder[i])] = static_cast<char>(v);
    }
    return raw;
}

// Proleptic Gregorian dates as days from 1970-01-01 and back.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}
void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

// "YYYY-MM-DD", optionally followed by " HH:MM:SS" or "THH:MM:SS", years
// 100 to 9999 as the desktop product takes them. Days before 1899-12-30
// count down and their time of day up, as the format stores them.
std::optional<double> date_value(std::string_view s) {
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    auto digits = [&](std::size_t pos, std::size_t n, unsigned& out) {
        if (pos + n > s.size()) return false;
        out = 0;
        for (std::size_t i = pos; i < pos + n; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            out = out * 10 + static_cast<unsigned>(s[i] - '0');
        }
        return true;
    };
    if (!digits(0, 4, y) || s.size() < 10 || s[4] != '-' || !digits(5, 2, mo) || s[7] != '-' ||
        !digits(8, 2, d))
        return std::nullopt;
    if (s.size() != 10 &&
        (s.size() != 19 || (s[10] != ' ' && s[10] != 'T') || !digits(11, 2, h) || s[13] != ':' ||
         !digits(14, 2, mi) || s[16] != ':' || !digits(17, 2, se)))
        return std::nullopt;
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59)
        return std::nullopt;
    const std::int64_t days = days_from_civil(y, mo, d);
    std::int64_t cy = 0;
    unsigned cm = 0, cd = 0;
    civil_from_days(days, cy, cm, cd);
    if (cm != mo || cd != d) return std::nullopt;  // no such day
    const double t = (h * 3600.0 + mi * 60.0 + se) / 86400.0;
    const auto n = static_cast<double>(days - kDayZero);
    return n >= 0 ? n + t : n - t;
}

// The text of a stored date when it names that exact value, else nothing.
std::optional<std::string> date_text(double v) {
    if (!std::isfinite(v) || std::fabs(v) > 3e6) return std::nullopt;
    const double whole = std::trunc(v);
    const auto secs = std::llround(std::fabs(v - whole) * 86400.0);
    if (secs >= 86400) return std::nullopt;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civil_from_days(static_cast<std::int64_t>(whole) + kDayZero, y, m, d);
    if (y < 100 || y > 9999) return std::nullopt;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(y), m, d,
                  static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60));
    auto back = date_value(buf);
    if (!back || *back != v) return std::nullopt;
    return std::string(buf);
}

// Currency is stored in ten-thousandths and read back divided by 10,000:
// the count is the one whose quotient is nearest the value.
std::int64_t currency_units(double d) {
    const std::int64_t n = std::llround(d * 10000.0);
    std::int64_t best = n;
    auto off = [d](std::int64_t k) { return std::fabs(static_cast<double>(k) / 10000.0 - d); };
    for (std::int64_t k = n - 2; k <= n + 2; ++k)
        if (off(k) < off(best)) best = k;
    return best;
}

Result<FieldValue> value_from_json(const nlohmann::json& v, const ColumnInfo& c,
                                   const std::string& where) {
    // A Boolean has no null: it reads back false.
    if (v.is_null()) return c.type == kBoolean ? FieldValue{false} : FieldValue{Null{}};
    auto number = [&]() -> std::optional<double> {
        if (!v.is_number()) return std::nullopt;
        const auto d = v.get<double>();
        if (!std::isfinite(d)) return std::nullopt;
        return d;
    };
    switch (c.type) {
        case kText:
        case kMemo: {
            if (!v.is_string()) return invalid(where, "text expected");
            auto s = v.get<std::string>();
            auto enc = utf8_to_cp1252(s);
            if (!enc) return invalid(where, "character outside Windows-1252");
            const std::size_t limit =
                c.type == kText ? static_cast<std::size_t>(c.size) : kMaxLongValue;
            if (enc->size() > limit)
                return invalid(where, "longer than " + std::to_string(limit) + " characters");
            return FieldValue{s};
        }
        case kBinary:
        case kOle: {
            auto raw = v.is_string() ? from_base64(v.get<std::string>()) : std::nullopt;
            if (!raw) return invalid(where, "base64 text expected");
            const std::size_t limit =
                c.type == kBinary ? static_cast<std::size_t>(c.size) : kMaxLongValue;
            if (raw->size() > limit)
                return invalid(where, "longer than " + std::to_string(limit) + " bytes");
            return FieldValue{std::move(*raw)};
        }
        case kGuid: {
            auto raw = v.is_string() ? guid_bytes(v.get<std::string>()) : std::nullopt;
            if (!raw) return invalid(where, "GUID {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} expected");
            return FieldValue{std::move(*raw)};
        }
        case kBoolean:
            if (!v.is_boolean()) return invalid(where, "true or false expected");
            return FieldValue{v.get<bool>()};
        case kDouble: {
            auto d = number();
            if (!d) return invalid(where, "number expected");
            return FieldValue{*d};
        }
        case kSingle: {
            auto d = number();
            if (!d) return invalid(where, "number expected");
            if (std::fabs(*d) > FLT_MAX) return invalid(where, "out of range");
            return FieldValue{static_cast<double>(static_cast<float>(*d))};
        }
        case kCurrency: {
            auto d = number();
            if (!d) return invalid(where, "number expected");
            if (std::fabs(*d) > kCurrencyLimit) return invalid(where, "out of range");
            return FieldValue{static_cast<double>(currency_units(*d)) / 10000.0};
        }
        case kDateTime: {
            if (auto d = number()) return FieldValue{*d};
            auto d = v.is_string() ? date_value(v.get<std::string>()) : std::nullopt;
            if (!d) return invalid(where, "date \"YYYY-MM-DD HH:MM:SS\" or a number expected");
            return FieldValue{*d};
        }
        default: {
            if (!v.is_number_integer()) return invalid(where, "whole number expected");
            std::int64_t lo = c.type == kByte ? 0 : c.type == kInteger ? -32768 : INT32_MIN;
            std::int64_t hi = c.type == kByte ? 255 : c.type == kInteger ? 32767 : INT32_MAX;
            if (v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(hi))
                return invalid(where, "out of range");
            auto n = v.get<std::int64_t>();
            if (n < lo || n > hi) return invalid(where, "out of range");
            return FieldValue{n};
        }
    }
}

void put16(std::uint8_t* b, std::uint32_t v) {
    b[0] = static_cast<std::uint8_t>(v);
    b[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b + 2, v >> 16);
}
void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put16(&b.at(at + 1) - 1, v);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put32(&b.at(at + 3) - 3, v);
}

// The bytes a value takes in its row: text in Windows-1252, the rest as given.
std::string stored_bytes(const FieldValue& v, int type) {
    const auto* s = std::get_if<std::string>(&v);
    if (!s) return {};
    return is_textual(type) ? utf8_to_cp1252(*s).value_or(std::string{}) : *s;
}

// A row in bytes, and where it holds the addresses of long-value rows
// that are numbered only when the pages are.
struct Encoded {
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<std::size_t, std::size_t>> refs;  // offset, long-value row
};

// The long-value rows of the whole file, in the order they are written.
class LongValues {
public:
    // `data` as one row, or as a chain of rows each starting with the next
    // one's address; returns the first row and the flag that says which.
    std::pair<std::size_t, std::uint32_t> add(const std::string& data) {
        const std::size_t first = rows_.size();
        if (data.size() <= kMaxRow) {
            rows_.push_back({{data.begin(), data.end()}, {}});
            return {first, kLongValueOneRow};
        }
        constexpr std::size_t kPiece = kMaxRow - 4;
        for (std::size_t at = 0; at < data.size(); at += kPiece) {
            Encoded r;
            r.bytes.assign(4, 0);
            const auto end =
                data.begin() + static_cast<std::ptrdiff_t>(std::min(at + kPiece, data.size()));
            r.bytes.insert(r.bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(at), end);
            if (at + kPiece < data.size()) r.refs.emplace_back(0, rows_.size() + 1);
            rows_.push_back(std::move(r));
        }
        return {first, 0};
    }
    std::vector<Encoded>& rows() { return rows_; }

private:
    std::vector<Encoded> rows_;
};

// One row in the Jet 3 layout: column count, fixed columns, variable
// columns, then from the end: null mask, variable-column count, jump
// table and the variable offsets (reversed, end-of-data first). Long
// values stay in the row while it fits its page; the largest go to
// long-value rows until it does.
Result<Encoded> encode_row(const TableData& t, std::size_t r, LongValues& lv) {
    const auto& row = t.rows[r];
    const std::size_t n = t.columns.size();
    std::vector<std::string> data(n);
    for (std::size_t i = 0; i < n; ++i)
        if (is_variable(t.columns[i].type)) data[i] = stored_bytes(row[i], t.columns[i].type);
    std::vector<bool> moved(n, false);
    std::vector<std::size_t> address_at(n, 0);
    while (true) {
        Encoded e;
        auto& b = e.bytes;
        b.assign(1, static_cast<std::uint8_t>(n));
        std::vector<std::uint8_t> mask((n + 7) / 8, 0);
        std::size_t nvar = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const auto& c = t.columns[i];
            const auto& v = row[i];
            bool present = !std::holds_alternative<Null>(v);
            if (c.type == kBoolean) present = std::holds_alternative<bool>(v) && std::get<bool>(v);
            if (present) mask[i / 8] |= static_cast<std::uint8_t>(1U << (i % 8));
            if (is_variable(c.type)) {
                ++nvar;
                continue;
            }
            if (c.type == kBoolean) continue;
            std::uint8_t raw[16] = {};
            if (const auto* d = std::get_if<double>(&v)) {
                if (c.type == kCurrency) {
                    auto u = static_cast<std::uint64_t>(currency_units(*d));
                    for (int q = 0; q < 8; ++q) raw[q] = static_cast<std::uint8_t>(u >> (8 * q));
                } else if (c.type == kSingle) {
                    const auto f = static_cast<float>(*d);
                    std::memcpy(raw, &f, 4);
                } else {
                    std::memcpy(raw, d, 8);
                }
            }
            if (const auto* k = std::get_if<std::int64_t>(&v)) {
                auto u = static_cast<std::uint64_t>(*k);
                for (int q = 0; q < 8; ++q) raw[q] = static_cast<std::uint8_t>(u >> (8 * q));
            }
            if (const auto* s = std::get_if<std::string>(&v))
                std::memcpy(raw, s->data(), std::min<std::size_t>(s->size(), 16));
            b.insert(b.end(), raw, raw + c.size);
        }
        std::vector<std::size_t> offsets;
        for (std::size_t i = 0; i < n; ++i) {
            const int type = t.columns[i].type;
            if (!is_variable(type)) continue;
            offsets.push_back(b.size());
            if (std::holds_alternative<Null>(row[i])) continue;
            if (is_long_value(type)) {
                const std::size_t h = b.size();
                b.resize(h + kLongValueHeader, 0);
                put32(
                    b, h,
                    static_cast<std::uint32_t>(data[i].size()) | (moved[i] ? 0 : kLongValueInline));
                address_at[i] = h + 4;
                if (moved[i]) continue;
            }
            b.insert(b.end(), data[i].begin(), data[i].end());
        }
        bool fits = true;
        if (nvar > 0) {
            const std::size_t eod = b.size();
            offsets.push_back(eod);
            const std::size_t base = b.size() + offsets.size() + 1 + mask.size();
            std::size_t jumps = 0;
            while (jumps != (base + jumps - 1) / 256) ++jumps;
            const std::size_t needed = eod / 256;
            fits = needed <= jumps;
            for (std::size_t i = offsets.size(); i-- > 0;)
                b.push_back(static_cast<std::uint8_t>(offsets[i] & 0xFF));
            std::vector<std::uint8_t> jt(jumps, 0xFF);
            for (std::size_t j = 0; j < needed && j < jumps; ++j) {
                std::size_t first = 0;
                while (first < offsets.size() && offsets[first] < (j + 1) * 256) ++first;
                jt[j] = static_cast<std::uint8_t>(first);
            }
            for (std::size_t j = jumps; j-- > 0;) b.push_back(jt[j]);
            b.push_back(static_cast<std::uint8_t>(nvar));
        }
        b.insert(b.end(), mask.begin(), mask.end());
        if (fits && b.size() <= kMaxRow) {
            for (std::size_t i = 0; i < n; ++i) {
                if (!moved[i]) continue;
                auto [first, flag] = lv.add(data[i]);
                b[address_at[i] - 1] |= static_cast<std::uint8_t>(flag >> 24);
                e.refs.emplace_back(address_at[i], first);
            }
            return e;
        }
        // Move the largest long value still in the row out of it.
        std::size_t pick = n;
        for (std::size_t i = 0; i < n; ++i)
            if (is_long_value(t.columns[i].type) && !moved[i] && !data[i].empty() &&
                !std::holds_alternative<Null>(row[i]) &&
                (pick == n || data[i].size() > data[pick].size()))
                pick = i;
        if (pick == n)
            return Error{writer_error::kTooLarge, "table '" + t.name + "', row " +
                                                      std::to_string(r + 1) +
                                                      ": row longer than a page"};
        moved[pick] = true;
    }
}

struct PagePlan {
    std::vector<std::vector<Encoded>> pages;  // rows per data page
};

PagePlan pack(std::vector<Encoded> rows) {
    PagePlan plan;
    std::size_t used = kDataHeader;
    for (auto& r : rows) {
        if (plan.pages.empty() || used + 2 + r.bytes.size() > kPage ||
            plan.pages.back().size() >= 255) {
            plan.pages.emplace_back();
            used = kDataHeader;
        }
        used += 2 + r.bytes.size();
        plan.pages.back().push_back(std::move(r));
    }
    return plan;
}

void write_data_page(std::vector<std::uint8_t>& file, std::size_t page, std::uint32_t tdef,
                     const std::vector<Encoded>& rows) {
    const std::size_t base = page * kPage;
    file[base] = 0x01;
    file[base + 1] = 0x01;
    put32(file, base + 4, tdef);
    put16(file, base + 8, static_cast<std::uint32_t>(rows.size()));
    std::size_t end = kPage;
    std::size_t used = kDataHeader + 2 * rows.size();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& b = rows[i].bytes;
        end -= b.size();
        std::copy(b.begin(), b.end(), file.begin() + static_cast<std::ptrdiff_t>(base + end));
        put16(file, base + kDataHeader + 2 * i, static_cast<std::uint32_t>(end));
        used += b.size();
    }
    put16(file, base + 2, static_cast<std::uint32_t>(kPage - used));
}

// A table definition as one stream: header, columns, names, the end of
// the (empty) list of column usage maps. The usage-map references at 35
// and 39 and the next-page numbers are filled in when the pages are known.
std::vector<std::uint8_t> tdef_stream(const TableData& t, bool system) {
    std::vector<std::uint8_t> b(43, 0);
    b[0] = 0x02;
    b[1] = 0x01;
    b[2] = 'V';
    b[3] = 'C';
    const auto n = static_cast<std::uint32_t>(t.columns.size());
    std::uint32_t nvar = 0;
    for (const auto& c : t.columns) nvar += is_variable(c.type) ? 1 : 0;
    put32(b, 12, static_cast<std::uint32_t>(t.rows.size()));
    b[20] = system ? 0x53 : 0x4E;
    put16(b, 21, n);
    put16(b, 23, nvar);
    put16(b, 25, n);
    std::uint32_t var_index = 0;
    std::uint32_t fixed = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const auto& c = t.columns[i];
        const std::size_t p = b.size();
        b.resize(p + 18, 0);
        b[p] = static_cast<std::uint8_t>(c.type);
        put16(b, p + 1, i);
        put16(b, p + 5, i);
        if (is_textual(c.type)) {
            put16(b, p + 7, 0x409);  // general sort order
            put16(b, p + 9, kCodePage1252);
        }
        if (is_variable(c.type)) {
            put16(b, p + 3, var_index++);
            b[p + 13] = 0x02;  // nullable, variable length
        } else {
            b[p + 13] = 0x03;  // nullable, fixed length
            put16(b, p + 14, fixed);
            if (c.type != kBoolean) fixed += static_cast<std::uint32_t>(c.size);
        }
        put16(b, p + 16, static_cast<std::uint32_t>(c.size));
    }
    for (const auto& c : t.columns) {
        auto e = utf8_to_cp1252(c.name).value_or(std::string{});
        b.push_back(static_cast<std::uint8_t>(e.size()));
        b.insert(b.end(), e.begin(), e.end());
    }
    b.push_back(0xFF);
    b.push_back(0xFF);
    put32(b, kTdefLengthOffset, static_cast<std::uint32_t>(b.size()));
    return b;
}

std::size_t tdef_pages(std::size_t stream) {
    if (stream <= kPage) return 1;
    return 1 + (stream - kPage + (kPage - kTdefPageHeader) - 1) / (kPage - kTdefPageHeader);
}

// The first page holds the stream's first bytes; each further page its
// own header and the next bytes.
void write_tdef(std::vector<std::uint8_t>& file, const std::vector<std::uint32_t>& pages,
                const std::vector<std::uint8_t>& stream) {
    std::size_t from = 0;
    for (std::size_t k = 0; k < pages.size(); ++k) {
        std::uint8_t* pg = file.data() + static_cast<std::size_t>(pages[k]) * kPage;
        std::size_t at = 0;
        if (k > 0) {
            std::copy(stream.begin(), stream.begin() + kTdefNextOffset, pg);
            at = kTdefPageHeader;
        }
        const std::size_t n = std::min(kPage - at, stream.size() - from);
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(from),
                  stream.begin() + static_cast<std::ptrdiff_t>(from + n), pg + at);
        from += n;
        put32(pg + kTdefNextOffset, k + 1 < pages.size() ? pages[k + 1] : 0);
    }
}

}  // namespace

Result<Manifest> manifest_from_json(const nlohmann::json& j) {
    if (!j.is_object() || !j.contains("tables") || !j["tables"].is_array())
        return invalid("manifest", "an object with a \"tables\" array expected");
    Manifest m;
    std::unordered_set<std::string> table_names;  // folded
    for (std::size_t ti = 0; ti < j["tables"].size(); ++ti) {
        const auto& jt = j["tables"][ti];
        std::string tw = "table " + std::to_string(ti + 1);
        if (!jt.is_object() || !jt.contains("name") || !jt["name"].is_string())
            return invalid(tw, "a table needs a \"name\"");
        TableData t;
        t.name = jt["name"].get<std::string>();
        tw = "table '" + t.name + "'";
        auto enc = utf8_to_cp1252(t.name);
        if (t.name.empty() || !enc || enc->size() > 64)
            return invalid(tw, "name must be 1 to 64 Windows-1252 characters");
        // Named by position: the name itself would put its controls on the terminal.
        if (has_control_character(t.name))
            return invalid("table " + std::to_string(ti + 1), kNoControls);
        if (platform::equal_ignoring_case(t.name, "MSysObjects"))
            return invalid(tw, "name is reserved");
        if (!table_names.insert(fold_text(t.name)).second)
            return invalid(tw, "duplicate table name");
        if (!jt.contains("columns") || !jt["columns"].is_array() || jt["columns"].empty())
            return invalid(tw, "a \"columns\" array is needed");
        if (jt["columns"].size() > kMaxTableColumns)
            return invalid(tw, "more than " + std::to_string(kMaxTableColumns) + " columns");
        for (const auto& jc : jt["columns"]) {
            if (!jc.is_object() || !jc.contains("name") || !jc["name"].is_string() ||
                !jc.contains("type") || !jc["type"].is_string())
                return invalid(tw, "a column needs \"name\" and \"type\"");
            ColumnInfo c;
            c.name = jc["name"].get<std::string>();
            std::string cw = tw + ", column '" + c.name + "'";
            auto cenc = utf8_to_cp1252(c.name);
            if (c.name.empty() || !cenc || cenc->size() > 64)
                return invalid(cw, "name must be 1 to 64 Windows-1252 characters");
            if (has_control_character(c.name))
                return invalid(tw + ", column " + std::to_string(t.columns.size() + 1),
                               kNoControls);
            for (const auto& other : t.columns)
                if (platform::equal_ignoring_case(other.name, c.name))
                    return invalid(cw, "duplicate column name");
            auto type = jc["type"].get<std::string>();
            const TypeName* found = nullptr;
            for (const auto& tn : kTypes)
                if (type == tn.name) found = &tn;
            if (!found) return invalid(cw, "unknown type '" + type + "'");
            c.type = found->type;
            c.size = found->size;
            if (c.type == kText || c.type == kBinary) {
                if (!jc.contains("size") || !jc["size"].is_number_integer() ||
                    jc["size"].get<std::int64_t>() < 1 || jc["size"].get<std::int64_t>() > 255)
                    return invalid(cw, type + " needs a \"size\" of 1 to 255");
                c.size = jc["size"].get<int>();
            }
            t.columns.push_back(c);
        }
        if (jt.contains("rows")) {
            if (!jt["rows"].is_array()) return invalid(tw, "\"rows\" must be an array");
            for (std::size_t r = 0; r < jt["rows"].size(); ++r) {
                const auto& jr = jt["rows"][r];
                if (!jr.is_array() || jr.size() != t.columns.size())
                    return invalid(tw + ", row " + std::to_string(r + 1),
                                   "needs " + std::to_string(t.columns.size()) + " values");
                std::vector<FieldValue> row;
                for (std::size_t c = 0; c < t.columns.size(); ++c) {
                    auto v = value_from_json(jr[c], t.columns[c], at(t.name, r, t.columns[c].name));
                    if (!v) return v.error();
                    row.push_back(std::move(*v));
                }
                t.rows.push_back(std::move(row));
            }
        }
        m.tables.push_back(std::move(t));
    }
    return m;
}

Result<nlohmann::json> value_to_json(const FieldValue& v, const ColumnInfo& c) {
    if (const auto* d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d))
            return Error{writer_error::kNoManifestForm, "a number that is not finite"};
        if (c.type == kDateTime)
            if (auto text = date_text(*d)) return nlohmann::json(*text);
        return nlohmann::json(*d);
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (c.type == kGuid && s->size() == 16) return nlohmann::json(guid_text(*s));
        if (c.type == kBinary || c.type == kOle || c.type == kGuid)
            return nlohmann::json(to_base64(*s));
        return nlohmann::json(*s);
    }
    if (const auto* b = std::get_if<bool>(&v)) return nlohmann::json(*b);
    if (const auto* k = std::get_if<std::int64_t>(&v)) return nlohmann::json(*k);
    return nlohmann::json(nullptr);
}

Result<nlohmann::json> manifest_to_json(const std::vector<TableData>& tables, int jet_version) {
    nlohmann::json out{{"tables", nlohmann::json::array()}};
    for (const auto& t : tables) {
        nlohmann::json jt{{"name", t.name},
                          {"columns", nlohmann::json::array()},
                          {"rows", nlohmann::json::array()}};
        for (const auto& c : t.columns) {
            const TypeName* found = nullptr;
            for (const auto& tn : kTypes)
                if (tn.type == c.type) found = &tn;
            if (!found)
                return Error{writer_error::kNoManifestForm,
                             "table '" + t.name + "', column '" + c.name + "': column type " +
                                 std::to_string(c.type) + " has no manifest form"};
            nlohmann::json jc{{"name", c.name}, {"type", found->name}};
            // Jet 4 keeps two bytes a character.
            if (c.type == kText) jc["size"] = jet_version == 1 ? c.size / 2 : c.size;
            if (c.type == kBinary) jc["size"] = c.size;
            jt["columns"].push_back(jc);
        }
        for (std::size_t r = 0; r < t.rows.size(); ++r) {
            nlohmann::json jr = nlohmann::json::array();
            for (std::size_t i = 0; i < t.columns.size(); ++i) {
                auto v = value_to_json(t.rows[r][i], t.columns[i]);
                if (!v)
                    return Error{v.error().number,
                                 at(t.name, r, t.columns[i].name) + ": " + v.error().text};
                jr.push_back(std::move(*v));
            }
            jt["rows"].push_back(std::move(jr));
        }
        out["tables"].push_back(std::move(jt));
    }
    return out;
}

Result<std::vector<std::uint8_t>> build_catalogue(const Manifest& m, std::string_view password) {
    auto pw = utf8_to_cp1252(password);
    if (!pw || pw->size() > 20)
        return Error{writer_error::kInvalidManifest, "password: 0 to 20 Windows-1252 characters"};
    for (const auto& t : m.tables)
        if (t.columns.empty() || t.columns.size() > kMaxTableColumns)
            return Error{writer_error::kTooLarge, "table '" + t.name + "': 1 to 255 columns"};

    // The system table lists itself and every user table by its definition page.
    TableData sys;
    sys.name = "MSysObjects";
    sys.columns = {{"Id", kLong, 4},      {"ParentId", kLong, 4}, {"Name", kText, 64},
                   {"Type", kInteger, 2}, {"Flags", kLong, 4},    {"LvProp", kOle, 0}};

    LongValues long_values;
    std::vector<PagePlan> plans(m.tables.size() + 1);
    for (std::size_t t = 0; t < m.tables.size(); ++t) {
        std::vector<Encoded> rows;
        for (std::size_t r = 0; r < m.tables[t].rows.size(); ++r) {
            auto row = encode_row(m.tables[t], r, long_values);
            if (!row) return row.error();
            rows.push_back(std::move(*row));
        }
        plans[t + 1] = pack(std::move(rows));
    }
    // Page numbers: 0 definition, 1 first usage-map page, 2 system table,
    // its data pages, then each table's definition pages and data, then the
    // remaining usage-map pages and the long-value pages. A table's data
    // pages are consecutive, so each of its two usage maps is an inline map
    // that starts at its first data page and covers only its own pages; no
    // map grows with the file. The system table row of a table holds its
    // definition page as a fixed four-byte number, so the rows' sizes, and
    // with them the system table's pages, are known before the pages are
    // numbered; so are the addresses' places in rows that refer to long values.
    auto sys_row = [](std::uint32_t page, const std::string& name, std::int64_t flags) {
        return std::vector<FieldValue>{
            std::int64_t{page}, std::int64_t{0x0F000001}, name, std::int64_t{1}, flags, Null{}};
    };
    auto encode_sys = [&]() -> Result<PagePlan> {
        std::vector<Encoded> encoded;
        LongValues none;
        for (std::size_t r = 0; r < sys.rows.size(); ++r) {
            auto row = encode_row(sys, r, none);
            if (!row) return row.error();
            encoded.push_back(std::move(*row));
        }
        return pack(std::move(encoded));
    };
    sys.rows.push_back(sys_row(kSysObjectsPage, "MSysObjects", 0x80000002LL));
    for (const auto& t : m.tables) sys.rows.push_back(sys_row(0, t.name, 0));
    auto sys_plan = encode_sys();
    if (!sys_plan) return sys_plan.error();
    const std::size_t sys_pages = sys_plan->pages.size();
    auto map_row_size = [](std::size_t pages) {
        return 5 + std::max<std::size_t>(1, (pages + 7) / 8);
    };
    std::vector<Encoded> map_rows;  // sizes only, for the packing
    for (std::size_t t = 0; t < plans.size(); ++t) {
        const std::size_t pages = t == 0 ? sys_pages : plans[t].pages.size();
        if (map_row_size(pages) + 2 > kPage - kDataHeader)
            return Error{writer_error::kTooLarge,
                         "table '" + (t == 0 ? std::string("MSysObjects") : m.tables[t - 1].name) +
                             "' too large for one usage map"};
        for (int k = 0; k < 2; ++k)
            map_rows.push_back({std::vector<std::uint8_t>(map_row_size(pages), 0), {}});
    }
    PagePlan maps = pack(std::move(map_rows));
    const std::size_t map_pages = maps.pages.size();
    PagePlan lval = pack(std::move(long_values.rows()));

    std::vector<std::vector<std::uint8_t>> defs(plans.size());
    std::vector<std::vector<std::uint32_t>> tdef(plans.size());
    std::vector<std::vector<std::uint32_t>> data(plans.size());
    std::size_t next = 3;
    defs[0] = tdef_stream(sys, true);
    tdef[0] = {kSysObjectsPage};
    for (std::size_t k = 0; k < sys_pages; ++k)
        data[0].push_back(static_cast<std::uint32_t>(next++));
    for (std::size_t t = 1; t < plans.size(); ++t) {
        defs[t] = tdef_stream(m.tables[t - 1], false);
        for (std::size_t k = tdef_pages(defs[t].size()); k > 0; --k)
            tdef[t].push_back(static_cast<std::uint32_t>(next++));
        for (std::size_t k = 0; k < plans[t].pages.size(); ++k)
            data[t].push_back(static_cast<std::uint32_t>(next++));
    }
    std::vector<std::uint32_t> map_page_numbers{1};
    while (map_page_numbers.size() < map_pages)
        map_page_numbers.push_back(static_cast<std::uint32_t>(next++));
    const std::size_t first_lval_page = next;
    next += lval.pages.size();
    const std::size_t total = next;
    if (total * kPage > kMaxFileSize) return Error{writer_error::kTooLarge, "catalogue too large"};

    for (std::size_t t = 1; t < plans.size(); ++t) sys.rows[t][0] = std::int64_t{tdef[t][0]};
    sys_plan = encode_sys();
    if (!sys_plan) return sys_plan.error();
    plans[0] = std::move(*sys_plan);

    // Long-value rows get their addresses in the order they were added.
    std::vector<std::uint32_t> lval_address;
    for (std::size_t k = 0; k < lval.pages.size(); ++k)
        for (std::size_t r = 0; r < lval.pages[k].size(); ++r)
            lval_address.push_back(static_cast<std::uint32_t>((first_lval_page + k) << 8 | r));
    auto resolve = [&](std::vector<Encoded>& rows) {
        for (auto& row : rows)
            for (auto [offset, id] : row.refs) put32(row.bytes, offset, lval_address[id]);
    };

    std::vector<std::uint8_t> file(total * kPage, 0);
    // Type 0 maps: the start page, then one bit per page from it; the used
    // map marks the data pages, the free-space map stays empty.
    std::size_t mp = 0;
    std::size_t in_page = 0;
    for (std::size_t t = 0; t < plans.size(); ++t) {
        const std::uint32_t first = data[t].empty() ? 0 : data[t].front();
        for (std::size_t which = 0; which < 2; ++which) {
            if (in_page == maps.pages[mp].size()) {
                ++mp;
                in_page = 0;
            }
            auto& row = maps.pages[mp][in_page].bytes;
            if (which == 0) {
                put32(row, 1, first);
                for (auto p : data[t])
                    row[5 + (p - first) / 8] |= static_cast<std::uint8_t>(1U << ((p - first) % 8));
            }
            put32(defs[t], 35 + 4 * which,
                  (map_page_numbers[mp] << 8) | static_cast<std::uint32_t>(in_page));
            ++in_page;
        }
    }
    for (std::size_t k = 0; k < map_pages; ++k)
        write_data_page(file, map_page_numbers[k], 0, maps.pages[k]);
    for (std::size_t k = 0; k < lval.pages.size(); ++k) {
        resolve(lval.pages[k]);
        write_data_page(file, first_lval_page + k, kLongValuePageTag, lval.pages[k]);
    }
    for (std::size_t t = 0; t < plans.size(); ++t) {
        write_tdef(file, tdef[t], defs[t]);
        for (std::size_t k = 0; k < data[t].size(); ++k) {
            resolve(plans[t].pages[k]);
            write_data_page(file, data[t][k], tdef[t][0], plans[t].pages[k]);
        }
    }

    // Definition page: signature, version 0 (Jet 3), then the coded stretch
    // with sort order, code page, database key 0 (pages not encrypted) and password.
    file[1] = 0x01;
    std::copy(kSignature.begin(), kSignature.end(), file.begin() + kSignatureOffset);
    file[kVersionOffset] = 0;
    std::vector<std::uint8_t> def(file.begin(), file.begin() + kPage);
    put16(def, 0x3A, 0x409);
    put16(def, kCodePageOffset, kCodePage1252);
    std::copy(pw->begin(), pw->end(), def.begin() + kPasswordOffset);
    code_definition_page(def, 0);
    std::copy(def.begin(), def.end(), file.begin());
    return file;
}

Status write_catalogue(const Manifest& m, const std::string& path, std::string_view password) {
    auto bytes = build_catalogue(m, password);
    if (!bytes) return bytes.error();
    // Only a file is replaced: a device or folder of that name stays as it is.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return Error{writer_error::kWriteFailed, "cannot write '" + path + "': not a file"};
    // A fresh name beside the target (never someone else's file), renamed
    // over it once complete; removed on every failure.
    static std::atomic<unsigned> serial{0};
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tmp = path + "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0)
        return Error{writer_error::kWriteFailed,
                     "cannot write beside '" + path + "': " + std::strerror(errno)};
    const auto fail = [&](const char* what) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        return Error{writer_error::kWriteFailed,
                     std::string("cannot ") + what + " '" + path + "': " + std::strerror(err)};
    };
    for (std::size_t done = 0; done < bytes->size();) {
        const ssize_t n = ::write(fd, bytes->data() + done, bytes->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("write");
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail("write");
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail("write");
    if (std::rename(tmp.c_str(), path.c_str()) != 0) return fail("replace");
    return {};
}

}  // namespace strovia::jet
