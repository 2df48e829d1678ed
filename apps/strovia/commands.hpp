#pragma once
// Command groups of the `strovia` program. Each adds its subcommands to the
// application; a subcommand's callback sets `exit_code` on failure.

#include <CLI/CLI.hpp>

namespace strovia::cli {

void add_describe_command(CLI::App& app, int& exit_code);
void add_catalogue_command(CLI::App& app, int& exit_code);  // strovia catalogue build|dump|query
void add_mci_command(CLI::App& app, int& exit_code);        // strovia mci
void add_play_command(CLI::App& app, int& exit_code);       // strovia play
void add_demo_command(CLI::App& app, int& exit_code);       // strovia demo
void add_course_commands(CLI::App& app, int& exit_code);    // strovia list|check
void add_soak_command(CLI::App& app, int& exit_code);       // strovia soak
void add_export_command(CLI::App& app, int& exit_code);     // strovia export

}  // namespace strovia::cli
