#include "jet/engine.hpp"

#include <utility>
#include <vector>

#include "jet/fold.hpp"
#include "jet/jet_file.hpp"
#include "jet/query.hpp"
#include "platform/paths.hpp"

namespace strovia::jet {
namespace {

constexpr std::int32_t kTooFewParameters = 3061;

Error closed_error() {
    return Error{engine_error::kObjectClosed, "Object invalid or no longer set."};
}

class JetRecordset final : public Recordset {
public:
    JetRecordset(std::shared_ptr<const JetFile> file, const TableData* table,
                 std::vector<std::size_t> rows)
        : file_(std::move(file)), table_(table), rows_(std::move(rows)) {}

    Status move_first() override {
        if (closed_) return closed_error();
        if (rows_.empty()) return no_record();
        pos_ = 0;
        return {};
    }
    Status move_next() override {
        if (closed_) return closed_error();
        if (eof()) return no_record();
        ++pos_;
        return {};
    }
    bool eof() const override { return closed_ || pos_ >= rows_.size(); }
    Result<FieldValue> field(std::string_view name) const override {
        if (closed_) return closed_error();
        if (pos_ >= rows_.size()) return no_record();
        for (std::size_t i = 0; i < table_->columns.size(); ++i)
            if (platform::equal_ignoring_case(table_->columns[i].name, name))
                return table_->rows[rows_[pos_]][i];
        return Error{engine_error::kItemNotFound, "Item not found in this collection."};
    }
    Status close() override {
        if (closed_) return closed_error();
        closed_ = true;
        file_.reset();
        return {};
    }

private:
    static Error no_record() { return Error{engine_error::kNoCurrentRecord, "No current record."}; }
    // Keeps the decoded rows, and with them the lock, alive until close().
    std::shared_ptr<const JetFile> file_;
    const TableData* table_;
    std::vector<std::size_t> rows_;
    std::size_t pos_ = 0;
    bool closed_ = false;
};

// A row set shares the file object (decoded tables and lock) with its
// database, so the file stays held until both are closed, as after
// StopPlay closes Db and then Rs.
class JetDatabase final : public Database {
public:
    explicit JetDatabase(std::shared_ptr<const JetFile> file) : file_(std::move(file)) {}

    Result<std::shared_ptr<Recordset>> open_recordset(std::string_view text) override {
        if (!file_) return closed_error();
        auto q = parse_query(text);
        if (!q) return q.error();
        const TableData* table = file_->find_table(q->table);
        if (!table)
            return Error{engine_error::kTableNotFound,
                         "The engine cannot find the input table or query '" + q->table + "'."};
        std::vector<std::size_t> rows;
        if (!q->where) {
            for (std::size_t i = 0; i < table->rows.size(); ++i) rows.push_back(i);
        } else {
            std::size_t col = table->columns.size();
            for (std::size_t i = 0; i < table->columns.size(); ++i)
                if (platform::equal_ignoring_case(table->columns[i].name, q->where->field)) col = i;
            if (col == table->columns.size())
                return Error{kTooFewParameters, "Too few parameters. Expected 1."};
            const FoldedKey key(q->where->text);
            for (std::size_t i = 0; i < table->rows.size(); ++i) {
                const FieldValue& v = table->rows[i][col];
                if (const auto* s = std::get_if<std::string>(&v)) {
                    if (key.matches(*s)) rows.push_back(i);
                } else if (auto t = field_as_text(v); t && key.matches(*t)) {
                    rows.push_back(i);
                }
            }
        }
        return std::shared_ptr<Recordset>(
            std::make_shared<JetRecordset>(snapshot(), table, std::move(rows)));
    }

    Status close() override {
        if (!file_) return closed_error();
        file_.reset();
        return {};
    }

private:
    std::shared_ptr<const JetFile> snapshot() const { return file_; }
    std::shared_ptr<const JetFile> file_;
};

class JetWorkspace final : public Workspace {
public:
    explicit JetWorkspace(ReadCache& cache) : cache_(cache) {}
    Result<std::shared_ptr<Database>> open_database(const std::string& path, bool exclusive,
                                                    bool /*read_only: the engine never writes*/,
                                                    std::string_view connect) override {
        auto file = JetFile::open(platform::map_path(path), path, password_from_connect(connect),
                                  exclusive, &cache_);
        if (!file) return file.error();
        return std::shared_ptr<Database>(std::make_shared<JetDatabase>(std::move(*file)));
    }

private:
    ReadCache& cache_;
};

// The engine keeps the last catalogue it read and checked, for its own life.
class JetEngine final : public CatalogueEngine {
public:
    Workspace& default_workspace() override { return workspace_; }

private:
    ReadCache cache_;
    JetWorkspace workspace_{cache_};
};

}  // namespace

std::unique_ptr<CatalogueEngine> make_engine() { return std::make_unique<JetEngine>(); }

}  // namespace strovia::jet
