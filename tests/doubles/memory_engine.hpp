#pragma once
// An in-memory catalogue engine: files of named tables with rows, the
// three query forms the control uses, and the engine's error numbers.
// Names and text equality ignore ASCII case here; the real engine's
// Unicode rules are tested with the real engine.

#include <functional>
#include <map>
#include <memory>
#include <optional>
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
    // Asked before each opening, query, move and field read: an error fails
    // that call. Asked for each field read: a value replaces the field's.
    std::function<std::optional<Error>()> fault;
    std::function<std::optional<FieldValue>()> garbage;

    Trace& trace() { return trace_; }
    std::optional<Error> injected() const { return fault ? fault() : std::nullopt; }
    void released(const std::string& path) { held_.erase(held_.find(path)); }
    std::size_t held() const { return held_.size(); }  // databases neither closed nor gone

private:
    Trace& trace_;
    std::multiset<std::string> held_;
};

}  // namespace strovia::test
