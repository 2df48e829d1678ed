// `strovia demo`: makes the built-in demo course when it is not there yet,
// then plays one of its postures, in the player when there is a display.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "strovia/commands.hpp"
#include "strovia/demo_course.hpp"
#include "strovia/play.hpp"

extern char** environ;

namespace strovia::cli {
namespace {

namespace fs = std::filesystem;

struct DemoOptions {
    std::string dir;
    int segments = 4;
    std::string posture = "Tadasana";
    bool no_play = false;
    bool headless = false;
    bool remake = false;
    double timeout = 300;
};

bool has_display() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

fs::path this_program() {
    std::error_code ec;
    auto exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe;
}

int run_player(const fs::path& player, const DemoOptions& opt) {
    std::vector<std::string> args{player.string(), "--content", opt.dir,
                                  "--posture",     opt.posture, "--quit-at-end"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::cerr << "strovia demo: cannot start " << player << "\n";
        return 1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int run_demo(DemoOptions opt) {
    if (opt.dir.empty()) opt.dir = default_demo_dir();
    DemoSpec spec{opt.dir, opt.segments, demo_mt_folder(opt.dir)};

    if (auto made = ensure_demo_course(spec, opt.remake); !made) {
        std::cerr << "strovia demo: error " << made.error().number << ": " << made.error().text
                  << "\n";
        return 1;
    }
    std::cout << "Postures:";
    for (const auto& p : demo_postures(spec)) {
        std::cout << "  " << p.name << " (" << (p.video ? "video, " : "photo, ") << p.parts
                  << (p.video        ? " segments)"
                      : p.parts == 1 ? " picture)"
                                     : " pictures)");
    }
    std::cout << "\n";
    if (opt.no_play) return 0;

    std::error_code ec;
    const fs::path player = this_program().parent_path() / "strovia-player";
    if (!opt.headless && has_display() && fs::exists(player, ec)) {
        std::cout << "Playing " << opt.posture << " in strovia-player\n" << std::flush;
        return run_player(player, opt);
    }
    std::cout << "Playing " << opt.posture << " headless\n" << std::flush;
    PlayOptions play;
    play.content = opt.dir;
    play.posture = opt.posture;
    play.headless = true;
    play.output = PlayOptions::Output::Progress;
    play.timeout = opt.timeout;
    return run_play(play);
}

}  // namespace

void add_demo_command(CLI::App& app, int& exit_code) {
    auto opt = std::make_shared<DemoOptions>();
    auto* cmd = app.add_subcommand(
        "demo", "Make the built-in demo course (once) and play one of its postures");
    cmd->add_option("dir", opt->dir,
                    "Folder of the demo course (default: " + default_demo_dir() + ")");
    cmd->add_option("--segments", opt->segments, "Segments of the long video posture")
        ->check(CLI::Range(3, 200));
    cmd->add_option("--posture", opt->posture, "Posture to play")->capture_default_str();
    cmd->add_flag("--no-play", opt->no_play, "Only make the course");
    cmd->add_flag("--headless", opt->headless, "Play without a window, even with a display");
    cmd->add_flag("--remake", opt->remake, "Make the course again even when it is complete");
    cmd->add_option("--timeout", opt->timeout, "Give up after SECONDS without VideoEnd (exit 3)")
        ->capture_default_str();
    cmd->callback([opt, &exit_code] { exit_code = run_demo(*opt); });
}

}  // namespace strovia::cli
