#pragma once
// An in-memory catalogue engine: files of named tables with rows, the
// three query forms the control uses, and the engine's error numbers.
// Names and text equality ignore ASCII case here; the real engine's
// Unicode rules are tested with the real engine.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "catalogue/engine.hpp"
#include "doubles/trace.hpp"

namespace strovia::test {

struct MemoryTable {
    std::vector<std::string> columns;
    std::vector<std::vector<FieldValue>> rows;
};

struct MemoryFile {
    std::string password;                       // empty: none
    std::map<std::string, MemoryTable> tables;  // keyed by upper-case name
};

class MemoryEngine;

std::string ascii_upper(std::string_view s);

class MemoryRecordset : public Recordset {
public:
    MemoryRecordset(Trace& trace, const MemoryTable& table, std::vector<std::size_t> rows)
        : trace_(trace), table_(table), rows_(std::move(rows)) {}
    Status move_first() override;
    Status move_next() override;
    bool eof() const override { return closed_ || pos_ >= rows_.size(); }
    Result<FieldValue> field(std::string_view name) const override;
    Status close() override;

private:
    Trace& trace_;
    MemoryTable table_;  // a snapshot: later changes to the file do not show
    std::vector<std::size_t> rows_;
    std::size_t pos_ = 0;
    bool closed_ = false;
};

class MemoryDatabase : public Database {
public:
    MemoryDatabase(MemoryEngine& engine, std::string path)
        : engine_(engine), path_(std::move(path)) {}
    ~MemoryDatabase() override;
    Result<std::shared_ptr<Recordset>> open_recordset(std::string_view query) override;
    Status close() override;

private:
    MemoryEngine& engine_;
    std::string path_;
    bool closed_ = false;
};

class MemoryEngine : public CatalogueEngine, public Workspace {
public:
    explicit MemoryEngine(Trace& trace) : trace_(trace) {}
    Workspace& default_workspace() override { return *this; }
    Result<std::shared_ptr<Database>> open_database(const std::string& path, bool exclusive,
                                                    bool read_only,
                                                    std::string_view connect) override;

    // Adds table `name` to the file at `path` (creating the file).
    MemoryTable& table(const std::string& path, const std::string& name,
                       std::vector<std::string> columns);

    std::map<std::string, MemoryFile> files;
    bool second_exclusive_fails = false;  // a held file refuses another exclusive opening

    Trace& trace() { return trace_; }
    void released(const std::string& path) { held_.erase(held_.find(path)); }

private:
    Trace& trace_;
    std::multiset<std::string> held_;
};

}  // namespace strovia::test
