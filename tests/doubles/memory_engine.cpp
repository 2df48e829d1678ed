#include "doubles/memory_engine.hpp"

#include <cctype>

namespace strovia::test {
namespace {

using namespace engine_error;

Error closed_error() { return {kObjectClosed, "Object invalid or no longer set."}; }
Error no_record() { return {kNoCurrentRecord, "No current record."}; }
Error query_syntax() { return {kQuerySyntax, "Syntax error in query expression."}; }

std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool starts_with_ci(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           ascii_upper(s.substr(0, prefix.size())) == ascii_upper(prefix);
}

std::optional<std::size_t> column(const MemoryTable& table, std::string_view name) {
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        if (ascii_upper(table.columns[c]) == ascii_upper(name)) return c;
    }
    return std::nullopt;
}

class MemoryRecordset : public Recordset {
public:
    // `table` holds the rows selected: later changes to the file do not show.
    MemoryRecordset(MemoryEngine& engine, MemoryTable table)
        : engine_(engine), table_(std::move(table)) {}
    Status move_first() override {
        if (auto e = refused()) return *e;
        pos_ = 0;
        return table_.rows.empty() ? Status(no_record()) : Status();
    }
    Status move_next() override {
        if (auto e = refused()) return *e;
        if (pos_ >= table_.rows.size()) return no_record();
        ++pos_;
        return {};
    }
    bool eof() const override { return closed_ || pos_ >= table_.rows.size(); }
    Result<FieldValue> field(std::string_view name) const override {
        if (auto e = refused()) return *e;
        const auto c = column(table_, name);
        if (!c) return Error{kItemNotFound, "Item not found in this collection."};
        if (pos_ >= table_.rows.size()) return no_record();
        if (auto g = engine_.garbage ? engine_.garbage() : std::nullopt) return *g;
        const auto& row = table_.rows[pos_];
        return *c < row.size() ? row[*c] : FieldValue{Null{}};
    }
    Status close() override {
        if (closed_) return closed_error();
        closed_ = true;
        engine_.trace().add("rs close");
        return {};
    }

private:
    std::optional<Error> refused() const {
        return closed_ ? std::optional(closed_error()) : engine_.injected();
    }
    MemoryEngine& engine_;
    MemoryTable table_;
    std::size_t pos_ = 0;
    bool closed_ = false;
};

class MemoryDatabase : public Database {
public:
    MemoryDatabase(MemoryEngine& engine, std::string path)
        : engine_(engine), path_(std::move(path)) {}
    ~MemoryDatabase() override {
        if (!closed_) engine_.released(path_);
    }
    Result<std::shared_ptr<Recordset>> open_recordset(std::string_view query) override;
    Status close() override {
        if (closed_) return closed_error();
        closed_ = true;
        engine_.released(path_);
        engine_.trace().add("db close");
        return {};
    }

private:
    MemoryEngine& engine_;
    std::string path_;
    bool closed_ = false;
};

// select * from <table> [where name = "<text>"], a doubled quote in the
// text standing for one.
Result<std::shared_ptr<Recordset>> MemoryDatabase::open_recordset(std::string_view query) {
    if (closed_) return closed_error();
    if (auto e = engine_.injected()) return *e;
    engine_.trace().add("query " + std::string(query));
    constexpr std::string_view kSelect = "select * from ", kWhere = " where name = \"";
    if (!starts_with_ci(query, kSelect)) return Error{kInvalidStatement, "Invalid SQL statement."};
    std::string_view rest = query.substr(kSelect.size());
    const std::string table_name(rest.substr(0, rest.find(' ')));
    rest.remove_prefix(table_name.size());
    auto& tables = engine_.files.at(path_).tables;
    auto it = tables.find(ascii_upper(table_name));
    if (it == tables.end()) {
        return Error{kTableNotFound, "Cannot find the input table or query '" + table_name + "'."};
    }
    std::optional<std::string> name;
    if (!rest.empty()) {
        if (!starts_with_ci(rest, kWhere) || rest.size() <= kWhere.size() || rest.back() != '"')
            return query_syntax();
        name.emplace();
        for (std::size_t i = kWhere.size(); i + 1 < rest.size(); ++i) {
            if (rest[i] == '"' && (i + 2 >= rest.size() || rest[++i] != '"')) return query_syntax();
            *name += rest[i];
        }
    }
    const auto c = column(it->second, "name");
    if (name && !c) return Error{3061, "Too few parameters. Expected 1."};
    MemoryTable selected{it->second.columns, {}};
    for (const auto& row : it->second.rows) {
        const auto* text = name ? std::get_if<std::string>(&row[*c]) : nullptr;
        if (!name || (text && ascii_upper(*text) == ascii_upper(*name)))
            selected.rows.push_back(row);
    }
    return std::shared_ptr<Recordset>(std::make_shared<MemoryRecordset>(engine_, selected));
}

}  // namespace

Result<std::shared_ptr<Database>> MemoryEngine::open_database(const std::string& path,
                                                              bool exclusive, bool read_only,
                                                              std::string_view connect) {
    if (auto e = injected()) return *e;
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
