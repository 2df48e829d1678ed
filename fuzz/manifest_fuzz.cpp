// The writer's manifest reader on arbitrary text; a manifest it accepts
// must build (or be refused as too large), the built file must read back
// to the same rows, and its dump must build back to the same manifest. The
// same holds for the manifest widened to some 100 columns a table, so that
// every input also reaches table definitions over several pages.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "jet/engine.hpp"
#include "jet/jet_file.hpp"
#include "jet/writer.hpp"
#include "scratch.hpp"

namespace {

using strovia::jet::Manifest;

// `walk`: also read every field through the engine, as the control does.
void check(const Manifest& m, bool walk) {
    auto canonical = strovia::jet::manifest_to_json(m.tables);
    if (!canonical) std::abort();  // a manifest's own values always have a form
    auto bytes = strovia::jet::build_catalogue(m, "");
    if (!bytes) {
        if (bytes.error().number != strovia::jet::writer_error::kTooLarge) std::abort();
        return;
    }
    static ScratchFile scratch;
    scratch.replace(bytes->data(), bytes->size());
    const std::string& path = scratch.path();
    auto engine = strovia::jet::make_engine();
    auto db = engine->default_workspace().open_database(path, true, true, "");
    auto file = strovia::jet::JetFile::open(path, path, "", true);  // shares the engine's lock
    if (!db || !file) std::abort();  // the writer made a file its own engine refuses
    auto dumped = strovia::jet::manifest_to_json((*file)->tables());
    if (!dumped || *dumped != *canonical) std::abort();
    auto rebuilt = strovia::jet::manifest_from_json(*dumped);
    if (!rebuilt) std::abort();
    auto again = strovia::jet::manifest_to_json(rebuilt->tables);
    if (!again || *again != *canonical) std::abort();
    for (const auto& t : walk ? m.tables : std::vector<strovia::jet::TableData>{}) {
        // A bracketed name cannot hold ']'; such a table is not queryable by name.
        if (t.name.find(']') != std::string::npos) continue;
        auto rs = (*db)->open_recordset("select * from [" + t.name + "]");
        if (!rs) std::abort();
        std::size_t n = 0;
        if (!t.rows.empty() && !(*rs)->move_first()) std::abort();
        for (; !(*rs)->eof(); (void)(*rs)->move_next(), ++n) {
            if (n >= t.rows.size()) std::abort();
            for (std::size_t c = 0; c < t.columns.size(); ++c) {
                auto v = (*rs)->field(t.columns[c].name);
                if (!v || *v != t.rows[n][c]) std::abort();
            }
        }
        if (n != t.rows.size()) std::abort();
        (void)(*rs)->close();
    }
    (void)(*db)->close();
}

// Each table's columns repeated to about 100 (three definition pages),
// under long names of their own.
Manifest widened(const Manifest& m) {
    Manifest w = m;
    for (std::size_t ti = 0; ti < w.tables.size(); ++ti) {
        auto& t = w.tables[ti];
        const auto& original = m.tables[ti].columns;
        const std::size_t copies = std::min(255 / original.size(), 1 + 100 / original.size());
        t.columns.clear();
        for (std::size_t k = 0; k < copies; ++k)
            for (auto c : original) {
                c.name = "column" + std::to_string(t.columns.size() + 1);
                c.name.resize(40, 'w');
                t.columns.push_back(c);
            }
        for (auto& row : t.rows) {
            const auto one = row;
            for (std::size_t k = 1; k < copies; ++k) row.insert(row.end(), one.begin(), one.end());
        }
    }
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto j = nlohmann::json::parse(data, data + size, nullptr, false);
    if (j.is_discarded()) return 0;
    auto m = strovia::jet::manifest_from_json(j);
    if (!m) return 0;
    check(*m, true);
    check(widened(*m), false);
    return 0;
}
