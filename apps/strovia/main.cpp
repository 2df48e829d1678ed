// strovia: the command-line program of the Strovia control library.

#include <iostream>

#include <CLI/CLI.hpp>

#include "strovia/describe.hpp"

int main(int argc, char** argv) {
    CLI::App app{"strovia: the Strovia programme control on the command line"};
    app.require_subcommand(1);

    bool describe_as_json = false;
    auto* describe = app.add_subcommand(
        "describe", "Print the control's identity and interface (type library, class, members)");
    describe->add_flag("--json", describe_as_json, "Print one JSON object instead of a table");
    describe->callback([&] {
        if (describe_as_json) {
            std::cout << strovia::cli::describe_json().dump(2) << "\n";
        } else {
            std::cout << strovia::cli::describe_table();
        }
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return 0;
}
