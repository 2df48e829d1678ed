// `strovia list` and `strovia check`: a course's postures, and what would go
// wrong when the control plays them.

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include <strovia/course.hpp>

#include "strovia/commands.hpp"

namespace strovia::cli {
namespace {

struct CourseOptions {
    std::string content;
    std::string library_folder;
    bool json = false;
};

const char* shown(Presentation p) {
    switch (p) {
        case Presentation::Video: return "video";
        case Presentation::Photo: return "photo";
        case Presentation::Fails: return "fails";
    }
    return "";
}

// The course as the options name it; the narration "mt" beside libstrovia
// unless told otherwise.
void prepare(Course& course, const CourseOptions& opt) {
    if (!opt.library_folder.empty()) {
        course.setNarrationFolder(QString::fromStdString(opt.library_folder));
    }
}

int run_list(const CourseOptions& opt) {
    Course course;
    prepare(course, opt);
    if (!course.open(QString::fromStdString(opt.content))) {
        std::cerr << "strovia list: error " << course.errorNumber() << ": "
                  << course.errorString().toStdString() << "\n";
        return 1;
    }
    const auto postures = course.postures();
    if (opt.json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const auto& p : postures) {
            out.push_back(
                {{"name", p.name.toStdString()},
                 {"AsanaID", p.asanaId.toStdString()},
                 {"Disp_Type", p.dispTypeNull ? nlohmann::ordered_json(nullptr)
                                              : nlohmann::ordered_json(p.dispType.toStdString())},
                 {"fileOpen", shown(p.fileOpen)},
                 {"Preview", shown(p.preview)},
                 {"parts", p.parts}});
            if (p.preview == Presentation::Fails) out.back()["PreviewError"] = p.previewErrorNumber;
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
        for (const auto& p : postures) {
            std::printf("%s %8s  %-8s %-8s %s\n", pad(p.name.toStdString(), 24).c_str(),
                        p.asanaId.toStdString().c_str(), shown(p.fileOpen), shown(p.preview),
                        p.parts < 0 ? "-" : std::to_string(p.parts).c_str());
        }
    }
    if (postures.isEmpty()) {
        std::cerr << "strovia list: the course holds no posture\n";
        return 1;
    }
    return 0;
}

int run_check(const CourseOptions& opt) {
    int argc = 1;
    char name[] = "strovia";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);  // for the picture decoders' plug-ins
    Course course;
    prepare(course, opt);
    (void)course.open(QString::fromStdString(opt.content));  // check() says why not
    const auto report = course.check(Course::CheckDepth::Media);
    for (const auto& f : report.findings) std::cout << f.line().toStdString() << "\n";
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
