#include "doubles/memory_engine.hpp"

#include <cctype>

namespace strovia::test {
namespace {

using namespace engine_error;

Error closed_error() { return {kObjectClosed, "Object invalid or no longer set."}; }

bool starts_with_ci(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           ascii_upper(s.substr(0, prefix.size())) == ascii_upper(prefix);
}

}  // namespace

std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

Status MemoryRecordset::move_first() {
    if (closed_) return closed_error();
    pos_ = 0;
    if (rows_.empty()) return Error{kNoCurrentRecord, "No current record."};
    return {};
}

Status MemoryRecordset::move_next() {
    if (closed_) return closed_error();
    if (pos_ >= rows_.size()) return Error{kNoCurrentRecord, "No current record."};
    ++pos_;
    return {};
}

Result<FieldValue> MemoryRecordset::field(std::string_view name) const {
    if (closed_) return closed_error();
    for (std::size_t c = 0; c < table_.columns.size(); ++c) {
        if (ascii_upper(table_.columns[c]) == ascii_upper(name)) {
            if (pos_ >= rows_.size()) return Error{kNoCurrentRecord, "No current record."};
            const auto& row = table_.rows[rows_[pos_]];
            return c < row.size() ? row[c] : FieldValue{Null{}};
        }
    }
    return Error{kItemNotFound, "Item not found in this collection."};
}

Status MemoryRecordset::close() {
    if (closed_) return closed_error();
    closed_ = true;
    trace_.add("rs close");
    return {};
}

MemoryDatabase::~MemoryDatabase() {
    if (!closed_) engine_.released(path_);
}

Status MemoryDatabase::close() {
    if (closed_) return closed_error();
    closed_ = true;
    engine_.released(path_);
    engine_.trace().add("db close");
    return {};
}

Result<std::shared_ptr<Recordset>> MemoryDatabase::open_recordset(std::string_view query) {
    if (closed_) return closed_error();
    engine_.trace().add("query " + std::string(query));
    constexpr std::string_view kSelect = "select * from ";
    if (!starts_with_ci(query, kSelect)) return Error{kInvalidStatement, "Invalid SQL statement."};
    std::string_view rest = query.substr(kSelect.size());
    const std::size_t blank = rest.find(' ');
    const std::string table_name(rest.substr(0, blank));
    rest = blank == std::string_view::npos ? std::string_view{} : rest.substr(blank);

    // Optional: where <field> = "<text>", a doubled quote standing for one.
    std::string where_field, where_text;
    bool has_where = false;
    if (!rest.empty()) {
        constexpr std::string_view kWhere = " where ";
        if (!starts_with_ci(rest, kWhere))
            return Error{kFromSyntax, "Syntax error in FROM clause."};
        rest.remove_prefix(kWhere.size());
        const std::size_t eq = rest.find(" = \"");
        if (eq == std::string_view::npos)
            return Error{kQuerySyntax, "Syntax error in query expression."};
        where_field = std::string(rest.substr(0, eq));
        std::string_view lit = rest.substr(eq + 4);
        std::size_t i = 0;
        bool closed_quote = false;
        for (; i < lit.size(); ++i) {
            if (lit[i] == '"') {
                if (i + 1 < lit.size() && lit[i + 1] == '"') {
                    where_text += '"';
                    ++i;
                    continue;
                }
                closed_quote = true;
                ++i;
                break;
            }
            where_text += lit[i];
        }
        if (!closed_quote || i != lit.size()) {
            return Error{kQuerySyntax, "Syntax error in query expression."};
        }
        has_where = true;
    }

    auto& file = engine_.files.at(path_);
    auto it = file.tables.find(ascii_upper(table_name));
    if (it == file.tables.end()) {
        return Error{kTableNotFound, "Cannot find the input table or query '" + table_name + "'."};
    }
    const MemoryTable& table = it->second;
    std::vector<std::size_t> rows;
    std::size_t where_col = table.columns.size();
    if (has_where) {
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            if (ascii_upper(table.columns[c]) == ascii_upper(where_field)) where_col = c;
        }
        if (where_col == table.columns.size()) {
            return Error{3061, "Too few parameters. Expected 1."};
        }
    }
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        if (has_where) {
            const auto* text = std::get_if<std::string>(&table.rows[r][where_col]);
            if (!text || ascii_upper(*text) != ascii_upper(where_text)) continue;
        }
        rows.push_back(r);
    }
    return std::shared_ptr<Recordset>(
        std::make_shared<MemoryRecordset>(engine_.trace(), table, std::move(rows)));
}

Result<std::shared_ptr<Database>> MemoryEngine::open_database(const std::string& path,
                                                              bool exclusive, bool read_only,
                                                              std::string_view connect) {
    trace_.add("db open " + path + (exclusive ? " exclusive" : "") +
               (read_only ? " read-only" : ""));
    auto it = files.find(path);
    if (it == files.end()) return Error{kFileNotFound, "Could not find file '" + path + "'."};
    if (!it->second.password.empty() && connect != ";PWD=" + it->second.password + ";") {
        return Error{kInvalidPassword, "Not a valid password."};
    }
    if (second_exclusive_fails && held_.contains(path)) {
        return Error{kFileInUse, "Could not use '" + path + "'; file already in use."};
    }
    held_.insert(path);
    return std::shared_ptr<Database>(std::make_shared<MemoryDatabase>(*this, path));
}

MemoryTable& MemoryEngine::table(const std::string& path, const std::string& name,
                                 std::vector<std::string> columns) {
    MemoryTable& t = files[path].tables[ascii_upper(name)];
    t.columns = std::move(columns);
    return t;
}

}  // namespace strovia::test
