// strovia: the command-line program of the Strovia control library.

#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "runtime_dir.hpp"
#include "strovia/commands.hpp"
#include "strovia/describe.hpp"

namespace strovia::cli {

void add_describe_command(CLI::App& app, int& /*exit_code*/) {
    auto* cmd = app.add_subcommand(
        "describe", "Print the control's identity and interface (type library, class, members)");
    auto as_json = std::make_shared<bool>(false);
    cmd->add_flag("--json", *as_json, "Print one JSON object instead of a table");
    cmd->callback([as_json] {
        if (*as_json) {
            std::cout << describe_json().dump(2) << "\n";
        } else {
            std::cout << describe_table();
        }
    });
}

}  // namespace strovia::cli

int main(int argc, char** argv) {
    strovia::app::supply_runtime_dir();
    CLI::App app{"strovia: the Strovia programme control on the command line"};
    app.require_subcommand(1);
    int exit_code = 0;

    strovia::cli::add_describe_command(app, exit_code);
#ifdef STROVIA_HAVE_JET
    strovia::cli::add_catalogue_command(app, exit_code);
#endif
#ifdef STROVIA_HAVE_MCI
    strovia::cli::add_mci_command(app, exit_code);
#endif
#ifdef STROVIA_HAVE_PLAY
    strovia::cli::add_play_command(app, exit_code);
    strovia::cli::add_demo_command(app, exit_code);
    strovia::cli::add_course_commands(app, exit_code);
    strovia::cli::add_soak_command(app, exit_code);
    strovia::cli::add_export_command(app, exit_code);
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return exit_code;
}
