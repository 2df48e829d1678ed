// strovia mci: a console for the media command language, on the same
// interpreter and devices the control plays through.

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mci/interpreter.hpp"
#include "strovia/commands.hpp"
#include "strovia/media_outputs.hpp"

namespace strovia::cli {
namespace {

struct MciOptions {
    std::vector<std::string> commands;
    std::string wait_alias;
};

// Prints one line per command; returns false when any command failed.
bool run_line(mci::Interpreter& mci, const std::string& line) {
    auto r = mci.run(line);
    if (!r) {
        std::cout << "error " << r.error().number << ": " << r.error().text << "\n";
        return false;
    }
    std::cout << (r->empty() ? std::string("ok") : *r) << "\n";
    return true;
}

int run_console(const MciOptions& o) {
    const auto outputs = media_outputs_from_environment();
    auto made =
        mci::Interpreter::create({outputs.video_sink, outputs.audio_sink, outputs.sink_log});
    if (!made) {
        std::cerr << "error " << made.error().number << ": " << made.error().text << "\n";
        return 1;
    }
    mci::Interpreter& mci = **made;
    bool ok = true;
    if (!o.commands.empty()) {
        for (const auto& c : o.commands) ok = run_line(mci, c) && ok;
    } else {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            ok = run_line(mci, line) && ok;
        }
    }
    std::cout.flush();
    if (!o.wait_alias.empty()) {
        const std::string query = "status \"" + o.wait_alias + "\" mode";
        while (true) {
            auto mode = mci.run(query);
            if (!mode) {
                std::cout << "error " << mode.error().number << ": " << mode.error().text << "\n";
                return 1;
            }
            if (*mode == "stopped") break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::cout << "stopped\n";
    }
    return ok ? 0 : 1;
}

}  // namespace

void add_mci_command(CLI::App& app, int& exit_code) {
    auto* cmd = app.add_subcommand(
        "mci", "Send media commands (one per line on standard input, or -c) and print the replies");
    auto o = std::make_shared<MciOptions>();
    cmd->add_option("-c,--command", o->commands,
                    "A command to send instead of reading standard input (repeatable)");
    cmd->add_option("--wait-stopped", o->wait_alias,
                    "After the commands, wait until the device under this alias is stopped");
    cmd->callback([o, &exit_code] { exit_code = run_console(*o); });
}

}  // namespace strovia::cli
