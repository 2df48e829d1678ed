#include "jet/writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
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
constexpr std::uint32_t kSysObjectsPage = 2;

struct TypeName {
    const char* name;
    int type;
    int size;
};
constexpr TypeName kTypes[] = {{"Text", kText, 0},       {"Byte", kByte, 1},
                               {"Integer", kInteger, 2}, {"Long", kLong, 4},
                               {"Double", kDouble, 8},   {"Boolean", kBoolean, 1}};

// Text and the system table's (always null) property column live in the
// variable part of a row.
bool is_variable(int type) { return type == kText || type == kOle; }

Error invalid(const std::string& where, const std::string& what) {
    return Error{writer_error::kInvalidManifest, where + ": " + what};
}

std::string at(const std::string& table, std::size_t row, const std::string& column) {
    return "table '" + table + "', row " + std::to_string(row + 1) + ", column '" + column + "'";
}

Result<FieldValue> value_from_json(const nlohmann::json& v, const ColumnInfo& c,
                                   const std::string& where) {
    if (v.is_null()) return FieldValue{Null{}};
    switch (c.type) {
        case kText: {
            if (!v.is_string()) return invalid(where, "text expected");
            auto s = v.get<std::string>();
            auto enc = utf8_to_cp1252(s);
            if (!enc) return invalid(where, "character outside Windows-1252");
            if (enc->size() > static_cast<std::size_t>(c.size))
                return invalid(where, "longer than " + std::to_string(c.size) + " characters");
            return FieldValue{s};
        }
        case kBoolean:
            if (!v.is_boolean()) return invalid(where, "true or false expected");
            return FieldValue{v.get<bool>()};
        case kDouble:
            if (!v.is_number()) return invalid(where, "number expected");
            return FieldValue{v.get<double>()};
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

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::string encode(const std::string& utf8) { return utf8_to_cp1252(utf8).value_or(std::string{}); }

// One row in the Jet 3 layout: column count, fixed columns, variable
// columns, then from the end: null mask, variable-column count, jump
// table and the variable offsets (reversed, end-of-data first).
Result<std::vector<std::uint8_t>> encode_row(const TableData& t, std::size_t r) {
    const auto& row = t.rows[r];
    const std::size_t n = t.columns.size();
    std::vector<std::uint8_t> b(1, static_cast<std::uint8_t>(n));
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
        std::uint8_t raw[8] = {};
        if (const auto* d = std::get_if<double>(&v)) std::memcpy(raw, d, 8);
        if (const auto* k = std::get_if<std::int64_t>(&v)) {
            auto u = static_cast<std::uint64_t>(*k);
            for (int q = 0; q < 8; ++q) raw[q] = static_cast<std::uint8_t>(u >> (8 * q));
        }
        b.insert(b.end(), raw, raw + c.size);
    }
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_variable(t.columns[i].type)) continue;
        offsets.push_back(b.size());
        if (const auto* s = std::get_if<std::string>(&row[i])) {
            auto e = encode(*s);
            b.insert(b.end(), e.begin(), e.end());
        }
    }
    if (nvar > 0) {
        const std::size_t eod = b.size();
        offsets.push_back(eod);
        const std::size_t base = b.size() + offsets.size() + 1 + mask.size();
        std::size_t jumps = 0;
        while (jumps != (base + jumps - 1) / 256) ++jumps;
        const std::size_t needed = eod / 256;
        if (needed > jumps) return Error{writer_error::kTooLarge, "row too long"};
        for (std::size_t i = offsets.size(); i-- > 0;)
            b.push_back(static_cast<std::uint8_t>(offsets[i] & 0xFF));
        std::vector<std::uint8_t> jt(jumps, 0xFF);
        for (std::size_t j = 0; j < needed; ++j) {
            std::size_t first = 0;
            while (first < offsets.size() && offsets[first] < (j + 1) * 256) ++first;
            jt[j] = static_cast<std::uint8_t>(first);
        }
        for (std::size_t j = jumps; j-- > 0;) b.push_back(jt[j]);
        b.push_back(static_cast<std::uint8_t>(nvar));
    }
    b.insert(b.end(), mask.begin(), mask.end());
    if (b.size() > kPage - kDataHeader - 2)
        return Error{writer_error::kTooLarge,
                     at(t.name, r, t.columns.back().name) + ": row longer than a page"};
    return b;
}

struct PagePlan {
    std::vector<std::vector<std::vector<std::uint8_t>>> pages;  // rows per data page
};

PagePlan pack(std::vector<std::vector<std::uint8_t>> rows) {
    PagePlan plan;
    std::size_t used = kDataHeader;
    for (auto& r : rows) {
        if (plan.pages.empty() || used + 2 + r.size() > kPage || plan.pages.back().size() >= 255) {
            plan.pages.emplace_back();
            used = kDataHeader;
        }
        used += 2 + r.size();
        plan.pages.back().push_back(std::move(r));
    }
    return plan;
}

void write_data_page(std::vector<std::uint8_t>& file, std::size_t page, std::uint32_t tdef,
                     const std::vector<std::vector<std::uint8_t>>& rows) {
    const std::size_t base = page * kPage;
    file[base] = 0x01;
    file[base + 1] = 0x01;
    put32(file, base + 4, tdef);
    put16(file, base + 8, static_cast<std::uint32_t>(rows.size()));
    std::size_t end = kPage;
    std::size_t used = kDataHeader + 2 * rows.size();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        end -= rows[i].size();
        std::copy(rows[i].begin(), rows[i].end(),
                  file.begin() + static_cast<std::ptrdiff_t>(base + end));
        put16(file, base + kDataHeader + 2 * i, static_cast<std::uint32_t>(end));
        used += rows[i].size();
    }
    put16(file, base + 2, static_cast<std::uint32_t>(kPage - used));
}

void write_tdef(std::vector<std::uint8_t>& file, std::size_t page, const TableData& t, bool system,
                std::uint32_t used_map, std::uint32_t free_map) {
    const std::size_t base = page * kPage;
    file[base] = 0x02;
    file[base + 1] = 0x01;
    file[base + 2] = 'V';
    file[base + 3] = 'C';
    const auto n = static_cast<std::uint32_t>(t.columns.size());
    std::uint32_t nvar = 0;
    for (const auto& c : t.columns) nvar += is_variable(c.type) ? 1 : 0;
    put32(file, base + 12, static_cast<std::uint32_t>(t.rows.size()));
    file[base + 20] = system ? 0x53 : 0x4E;
    put16(file, base + 21, n);
    put16(file, base + 23, nvar);
    put16(file, base + 25, n);
    put32(file, base + 35, used_map);
    put32(file, base + 39, free_map);
    std::size_t p = base + 43;
    std::uint32_t var_index = 0;
    std::uint32_t fixed = 0;
    for (std::uint32_t i = 0; i < n; ++i, p += 18) {
        const auto& c = t.columns[i];
        file[p] = static_cast<std::uint8_t>(c.type);
        put16(file, p + 1, i);
        put16(file, p + 5, i);
        if (is_variable(c.type)) {
            put16(file, p + 3, var_index++);
            put16(file, p + 7, 0x409);  // general sort order
            put16(file, p + 9, kCodePage1252);
            file[p + 13] = 0x02;  // nullable, variable length
        } else {
            file[p + 13] = 0x03;  // nullable, fixed length
            put16(file, p + 14, fixed);
            if (c.type != kBoolean) fixed += static_cast<std::uint32_t>(c.size);
        }
        put16(file, p + 16, static_cast<std::uint32_t>(c.size));
    }
    for (const auto& c : t.columns) {
        auto e = encode(c.name);
        file[p++] = static_cast<std::uint8_t>(e.size());
        std::copy(e.begin(), e.end(), file.begin() + static_cast<std::ptrdiff_t>(p));
        p += e.size();
    }
    file[p++] = 0xFF;
    file[p++] = 0xFF;
    put32(file, base + 8, static_cast<std::uint32_t>(p - base));
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
        if (platform::equal_ignoring_case(t.name, "MSysObjects"))
            return invalid(tw, "name is reserved");
        if (!table_names.insert(fold_text(t.name)).second)
            return invalid(tw, "duplicate table name");
        if (!jt.contains("columns") || !jt["columns"].is_array() || jt["columns"].empty())
            return invalid(tw, "a \"columns\" array is needed");
        if (jt["columns"].size() > kMaxColumns) return invalid(tw, "more than 256 columns");
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
            if (c.type == kText) {
                if (!jc.contains("size") || !jc["size"].is_number_integer() ||
                    jc["size"].get<std::int64_t>() < 1 || jc["size"].get<std::int64_t>() > 255)
                    return invalid(cw, "Text needs a \"size\" of 1 to 255");
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

nlohmann::json manifest_to_json(const std::vector<TableData>& tables) {
    nlohmann::json out{{"tables", nlohmann::json::array()}};
    for (const auto& t : tables) {
        nlohmann::json jt{{"name", t.name},
                          {"columns", nlohmann::json::array()},
                          {"rows", nlohmann::json::array()}};
        for (const auto& c : t.columns) {
            nlohmann::json jc{{"name", c.name}};
            switch (c.type) {
                case kText:
                    jc["type"] = "Text";
                    jc["size"] = c.size;
                    break;
                case kMemo:
                    jc["type"] = "Text";
                    jc["size"] = 255;
                    break;
                case kByte: jc["type"] = "Byte"; break;
                case kInteger: jc["type"] = "Integer"; break;
                case kLong: jc["type"] = "Long"; break;
                case kBoolean: jc["type"] = "Boolean"; break;
                default: jc["type"] = "Double"; break;  // single, currency, date: as numbers
            }
            jt["columns"].push_back(jc);
        }
        for (const auto& r : t.rows) {
            nlohmann::json jr = nlohmann::json::array();
            for (const auto& v : r) {
                std::visit(
                    [&](const auto& x) {
                        using T = std::decay_t<decltype(x)>;
                        if constexpr (std::is_same_v<T, Null>)
                            jr.push_back(nullptr);
                        else
                            jr.push_back(x);
                    },
                    v);
            }
            jt["rows"].push_back(jr);
        }
        out["tables"].push_back(jt);
    }
    return out;
}

Result<std::vector<std::uint8_t>> build_catalogue(const Manifest& m, std::string_view password) {
    auto pw = utf8_to_cp1252(password);
    if (!pw || pw->size() > 20)
        return Error{writer_error::kInvalidManifest, "password: 0 to 20 Windows-1252 characters"};

    // The system table lists itself and every user table by its definition page.
    TableData sys;
    sys.name = "MSysObjects";
    sys.columns = {{"Id", kLong, 4},      {"ParentId", kLong, 4}, {"Name", kText, 64},
                   {"Type", kInteger, 2}, {"Flags", kLong, 4},    {"LvProp", kOle, 0}};

    std::vector<PagePlan> plans(m.tables.size() + 1);
    for (std::size_t t = 0; t < m.tables.size(); ++t) {
        std::vector<std::vector<std::uint8_t>> rows;
        for (std::size_t r = 0; r < m.tables[t].rows.size(); ++r) {
            auto row = encode_row(m.tables[t], r);
            if (!row) return row.error();
            rows.push_back(std::move(*row));
        }
        plans[t + 1] = pack(std::move(rows));
    }
    // Page numbers: 0 definition, 1 first usage-map page, 2 system table,
    // its data pages, then each table's definition and data, then the
    // remaining usage-map pages. A table's data pages are consecutive, so
    // each of its two usage maps is an inline map that starts at its first
    // data page and covers only its own pages; no map grows with the file.
    // The system table row of a table holds its definition page as a fixed
    // four-byte number, so the rows' sizes, and with them the system
    // table's pages, are known before the pages are numbered.
    auto sys_row = [](std::uint32_t page, const std::string& name, std::int64_t flags) {
        return std::vector<FieldValue>{
            std::int64_t{page}, std::int64_t{0x0F000001}, name, std::int64_t{1}, flags, Null{}};
    };
    auto encode_sys = [&]() -> Result<PagePlan> {
        std::vector<std::vector<std::uint8_t>> encoded;
        for (std::size_t r = 0; r < sys.rows.size(); ++r) {
            auto row = encode_row(sys, r);
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
    std::vector<std::vector<std::uint8_t>> map_rows;  // sizes only, for the packing
    for (std::size_t t = 0; t < plans.size(); ++t) {
        const std::size_t pages = t == 0 ? sys_pages : plans[t].pages.size();
        if (map_row_size(pages) + 2 > kPage - kDataHeader)
            return Error{writer_error::kTooLarge,
                         "table '" + (t == 0 ? std::string("MSysObjects") : m.tables[t - 1].name) +
                             "' too large for one usage map"};
        map_rows.emplace_back(map_row_size(pages), 0);
        map_rows.emplace_back(map_row_size(pages), 0);
    }
    PagePlan maps = pack(map_rows);
    const std::size_t map_pages = maps.pages.size();

    std::vector<std::uint32_t> tdef(plans.size());
    std::vector<std::vector<std::uint32_t>> data(plans.size());
    std::size_t next = 3;
    tdef[0] = kSysObjectsPage;
    for (std::size_t k = 0; k < sys_pages; ++k)
        data[0].push_back(static_cast<std::uint32_t>(next++));
    for (std::size_t t = 1; t < plans.size(); ++t) {
        tdef[t] = static_cast<std::uint32_t>(next++);
        for (std::size_t k = 0; k < plans[t].pages.size(); ++k)
            data[t].push_back(static_cast<std::uint32_t>(next++));
    }
    std::vector<std::uint32_t> map_page_numbers{1};
    while (map_page_numbers.size() < map_pages)
        map_page_numbers.push_back(static_cast<std::uint32_t>(next++));
    const std::size_t total = next;
    if (total * kPage > kMaxFileSize) return Error{writer_error::kTooLarge, "catalogue too large"};

    for (std::size_t t = 1; t < plans.size(); ++t) sys.rows[t][0] = std::int64_t{tdef[t]};
    sys_plan = encode_sys();
    if (!sys_plan) return sys_plan.error();
    plans[0] = std::move(*sys_plan);

    std::vector<std::uint8_t> file(total * kPage, 0);
    // Type 0 maps: the start page, then one bit per page from it; the used
    // map marks the data pages, the free-space map stays empty.
    std::vector<std::uint32_t> used_ref(plans.size());
    std::vector<std::uint32_t> free_ref(plans.size());
    std::size_t mp = 0;
    std::size_t in_page = 0;
    for (std::size_t t = 0; t < plans.size(); ++t) {
        const std::uint32_t first = data[t].empty() ? 0 : data[t].front();
        for (int which = 0; which < 2; ++which) {
            if (in_page == maps.pages[mp].size()) {
                ++mp;
                in_page = 0;
            }
            auto& row = maps.pages[mp][in_page];
            std::fill(row.begin(), row.end(), 0);
            if (which == 0) {
                row[1] = static_cast<std::uint8_t>(first);
                row[2] = static_cast<std::uint8_t>(first >> 8);
                row[3] = static_cast<std::uint8_t>(first >> 16);
                row[4] = static_cast<std::uint8_t>(first >> 24);
                for (auto p : data[t])
                    row[5 + (p - first) / 8] |= static_cast<std::uint8_t>(1U << ((p - first) % 8));
            }
            (which == 0 ? used_ref : free_ref)[t] =
                (map_page_numbers[mp] << 8) | static_cast<std::uint32_t>(in_page);
            ++in_page;
        }
    }
    for (std::size_t k = 0; k < map_pages; ++k)
        write_data_page(file, map_page_numbers[k], 0, maps.pages[k]);

    write_tdef(file, kSysObjectsPage, sys, true, used_ref[0], free_ref[0]);
    for (std::size_t t = 0; t < plans.size(); ++t) {
        if (t > 0) write_tdef(file, tdef[t], m.tables[t - 1], false, used_ref[t], free_ref[t]);
        for (std::size_t k = 0; k < data[t].size(); ++k)
            write_data_page(file, data[t][k], tdef[t], plans[t].pages[k]);
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
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes->data()),
                  static_cast<std::streamsize>(bytes->size()));
        out.close();
        if (!out) {
            std::remove(tmp.c_str());
            return Error{writer_error::kWriteFailed, "cannot write '" + tmp + "'"};
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return Error{writer_error::kWriteFailed, "cannot write '" + path + "'"};
    }
    return {};
}

}  // namespace strovia::jet
