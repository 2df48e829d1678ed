// `strovia list` and `strovia check`: a course's postures, and what would go
// wrong when the control plays them.

#include <QApplication>
#include <QLabel>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "jet/engine.hpp"
#include "mci/interpreter.hpp"
#include "platform/paths.hpp"
#include "playback/commands.hpp"
#include "qt/qt_host.hpp"
#include "strovia/commands.hpp"
#include "strovia/course_check.hpp"
#include "strovia/demo_course.hpp"

namespace strovia::cli {
namespace {

namespace fs = std::filesystem;

class Silent final : public mci::Reporter {
public:
    void report(std::string_view, const Error&) override {}
};

// Decodes files with the devices and the picture loader the control uses.
class RealProbe final : public MediaProbe {
public:
    static Result<std::unique_ptr<RealProbe>> create() {
        auto mci = mci::Interpreter::create({"fakesink", "fakesink"});
        if (!mci) return mci.error();
        return std::unique_ptr<RealProbe>(new RealProbe(std::move(mci).value()));
    }

    Result<int> video_frames(const std::string& path) override {
        if (auto s = open(path); !s) return s.error();
        Result<std::string> length = mci_->run("set chk time format frames");
        if (length) length = mci_->run("status chk length");
        (void)mci_->run("close chk");
        if (!length) return Error{length.error().number, "no length: " + length.error().text};
        try {
            return std::stoi(*length);
        } catch (const std::exception&) {
            return Error{0, "length \"" + *length + "\" is no number"};
        }
    }

    Status narration(const std::string& path) override {
        if (auto s = open(path); !s) return s;
        (void)mci_->run("close chk");
        return {};
    }

    Status picture(const std::string& path) override {
        if (auto s = exists(path); !s) return s;
        return box_.load_picture(path);
    }

private:
    explicit RealProbe(std::unique_ptr<mci::Interpreter> mci)
        : mci_(std::move(mci)), box_(&label_, 0) {
        mci_->set_reporter(&silent_);
    }

    static Status exists(const std::string& path) {
        std::error_code ec;
        const fs::path file = platform::map_path(path);
        if (!fs::exists(file, ec)) return Error{0, "missing"};
        if (fs::is_directory(file, ec)) return Error{0, "is a folder"};
        return {};
    }

    Status open(const std::string& path) {
        if (auto s = exists(path); !s) return s;
        auto r = mci_->run("open " + commands::path_token(path) + " alias chk type mpegVideo");
        if (!r) return Error{r.error().number, "cannot be decoded: " + r.error().text};
        return {};
    }

    std::unique_ptr<mci::Interpreter> mci_;
    Silent silent_;
    QLabel label_;
    qt::QtPictureBox box_;
};

struct CourseOptions {
    std::string content;
    std::string library_folder;
    bool json = false;
};

std::string library_folder(const CourseOptions& opt) {
    return opt.library_folder.empty() ? mt_folders().back() : opt.library_folder;
}

int run_list(const CourseOptions& opt) {
    auto engine = jet::make_engine();
    const auto report = check_course(*engine, nullptr, opt.content, library_folder(opt));
    if (opt.json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const auto& p : report.postures) {
            out.push_back({{"name", p.name},
                           {"AsanaID", p.asana_id},
                           {"Disp_Type", p.disp_type},
                           {"fileOpen", p.plays_video ? "video" : "photo"},
                           {"Preview", p.previews_photo ? "photo" : "video"},
                           {"parts", p.parts}});
        }
        std::cout << out.dump(2) << "\n";
    } else {
        // Padded by letters, not bytes, so names beyond ASCII line up.
        auto pad = [](const std::string& text, std::size_t width) {
            std::size_t letters = 0;
            for (unsigned char c : text) letters += (c & 0xC0) != 0x80;
            return text + std::string(letters < width ? width - letters : 0, ' ');
        };
        std::printf("%s %8s  %-8s %-8s %s\n", pad("name", 24).c_str(), "AsanaID", "fileOpen",
                    "Preview", "segments/pictures");
        for (const auto& p : report.postures) {
            std::printf("%s %8s  %-8s %-8s %s\n", pad(p.name, 24).c_str(), p.asana_id.c_str(),
                        p.plays_video ? "video" : "photo", p.previews_photo ? "photo" : "video",
                        p.parts < 0 ? "-" : std::to_string(p.parts).c_str());
        }
    }
    // A catalogue that cannot be read is no list.
    for (const auto& f : report.findings) {
        if (f.posture.empty() && !f.warning) {
            std::cerr << "strovia list: " << finding_line(f) << "\n";
            return 1;
        }
    }
    return 0;
}

int run_check(const CourseOptions& opt) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "strovia";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    auto probe = RealProbe::create();
    if (!probe) {
        std::cerr << "strovia check: no media engine: " << probe.error().text << "\n";
        return 2;
    }
    auto engine = jet::make_engine();
    const auto report = check_course(*engine, probe->get(), opt.content, library_folder(opt));
    for (const auto& f : report.findings) std::cout << finding_line(f) << "\n";
    const int errors = report.errors();
    const int warnings = report.warnings();
    std::cout << report.postures.size() << " posture" << (report.postures.size() == 1 ? "" : "s")
              << " checked: " << errors << " error" << (errors == 1 ? "" : "s") << ", " << warnings
              << " warning" << (warnings == 1 ? "" : "s") << "\n";
    return errors == 0 ? 0 : 1;
}

void add_course_options(CLI::App* cmd, CourseOptions& opt) {
    cmd->add_option("--content", opt.content, "Content folder of the course (Resourcedir)")
        ->required();
    cmd->add_option("--library-folder", opt.library_folder,
                    "Where the \"mt\" narration is taken from (default: beside libstrovia)");
}

}  // namespace

void add_course_commands(CLI::App& app, int& exit_code) {
    auto list_opt = std::make_shared<CourseOptions>();
    auto* list = app.add_subcommand(
        "list",
        "The postures of a course: name, AsanaID, how fileOpen and Preview treat it, "
        "segments or pictures");
    add_course_options(list, *list_opt);
    list->add_flag("--json", list_opt->json, "Print a JSON array");
    list->callback([list_opt, &exit_code] { exit_code = run_list(*list_opt); });

    auto check_opt = std::make_shared<CourseOptions>();
    auto* check = app.add_subcommand(
        "check", "Find what would go wrong when the control plays a course (exit 0: nothing)");
    add_course_options(check, *check_opt);
    check->callback([check_opt, &exit_code] { exit_code = run_check(*check_opt); });
}

}  // namespace strovia::cli
