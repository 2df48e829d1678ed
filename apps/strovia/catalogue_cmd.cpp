// strovia catalogue build|dump|query: catalogue files without the desktop
// product, read through the same engine the control uses.

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "catalogue/field.hpp"
#include "catalogue/rules.hpp"
#include "jet/engine.hpp"
#include "jet/format.hpp"
#include "jet/jet_file.hpp"
#include "jet/query.hpp"
#include "jet/writer.hpp"
#include "platform/paths.hpp"
#include "strovia/commands.hpp"

namespace strovia::cli {
namespace {

constexpr std::string_view kControlPassword = catalogue::kPassword;

void print_error(const Error& e) { std::cerr << "error " << e.number << ": " << e.text << "\n"; }

std::string csv_cell(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

int run_build(const std::string& manifest_path, const std::string& out, const std::string& pw) {
    std::ifstream in(manifest_path);
    if (!in) {
        std::cerr << "error: cannot read '" << manifest_path << "'\n";
        return 1;
    }
    auto j = nlohmann::json::parse(in, nullptr, false);
    if (j.is_discarded()) {
        std::cerr << "error: '" << manifest_path << "' is not valid JSON\n";
        return 1;
    }
    auto m = jet::manifest_from_json(j);
    if (!m) {
        print_error(m.error());
        return 1;
    }
    if (Status s = jet::write_catalogue(*m, out, pw); !s) {
        print_error(s.error());
        return 1;
    }
    return 0;
}

int run_dump(const std::string& file, const std::string& pw) {
    auto f = jet::JetFile::open(platform::map_path(file), file, pw, true);
    if (!f) {
        print_error(f.error());
        return 1;
    }
    auto manifest = jet::manifest_to_json((*f)->tables(), (*f)->jet_version());
    if (!manifest) {
        print_error(manifest.error());
        return 1;
    }
    std::cout << manifest->dump(2) << "\n";
    return 0;
}

int run_query(const std::string& file, const std::string& text, const std::string& pw) {
    auto engine = jet::make_engine();
    auto db = engine->default_workspace().open_database(file, true, true, ";PWD=" + pw + ";");
    if (!db) {
        print_error(db.error());
        return 1;
    }
    auto rs = (*db)->open_recordset(text);
    if (!rs) {
        print_error(rs.error());
        return 1;
    }
    // The row set carries no column list, so the header comes from the
    // table the query names; this second opening shares the held lock.
    auto q = jet::parse_query(text);
    auto f = jet::JetFile::open(platform::map_path(file), file, pw, true);
    if (!q || !f) {
        print_error(!q ? q.error() : f.error());
        return 1;
    }
    const jet::TableData* table = (*f)->find_table(q->table);
    if (!table) return 1;
    std::string line;
    for (const auto& c : table->columns) line += (line.empty() ? "" : ",") + csv_cell(c.name);
    std::cout << line << "\n";
    for (; !(*rs)->eof(); (void)(*rs)->move_next()) {
        line.clear();
        for (std::size_t i = 0; i < table->columns.size(); ++i) {
            auto v = (*rs)->field(table->columns[i].name);
            if (!v) {
                print_error(v.error());
                return 1;
            }
            // Null prints as an empty cell; binary values and GUIDs as a manifest writes them.
            const int type = table->columns[i].type;
            auto t = field_as_text(*v);
            if (type == jet::column_type::kBinary || type == jet::column_type::kOle ||
                type == jet::column_type::kGuid) {
                auto j = jet::value_to_json(*v, table->columns[i]);
                if (j && j->is_string()) t = j->get<std::string>();
            }
            line += (i ? "," : "") + (t ? csv_cell(*t) : std::string());
        }
        std::cout << line << "\n";
    }
    return 0;
}

}  // namespace

void add_catalogue_command(CLI::App& app, int& exit_code) {
    auto* cmd = app.add_subcommand("catalogue", "Build, dump and query catalogue files (Jet 3)");
    cmd->require_subcommand(1);
    auto password = std::make_shared<std::string>(kControlPassword);

    auto* build = cmd->add_subcommand("build", "Write a Jet 3 catalogue from a JSON manifest");
    auto manifest = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    build->add_option("MANIFEST", *manifest, "Manifest file (JSON)")->required();
    build->add_option("-o,--output", *output, "Catalogue file to write")->required();
    build->add_option("--password", *password, "Database password (default: the control's)");
    build->callback([&exit_code, manifest, output, password] {
        exit_code = run_build(*manifest, *output, *password);
    });

    auto* dump = cmd->add_subcommand("dump", "Print a catalogue as a manifest (JSON)");
    auto file = std::make_shared<std::string>();
    dump->add_option("FILE", *file, "Catalogue file")->required();
    dump->add_option("--password", *password, "Database password (default: the control's)");
    dump->callback([&exit_code, file, password] { exit_code = run_dump(*file, *password); });

    auto* query = cmd->add_subcommand("query", "Run a query text through the engine, print CSV");
    auto text = std::make_shared<std::string>();
    query->add_option("FILE", *file, "Catalogue file")->required();
    query->add_option("TEXT", *text, "Query text, e.g. select * from Table1")->required();
    query->add_option("--password", *password, "Database password (default: the control's)");
    query->callback(
        [&exit_code, file, text, password] { exit_code = run_query(*file, *text, *password); });
}

}  // namespace strovia::cli
