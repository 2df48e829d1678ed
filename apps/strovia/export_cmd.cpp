// `strovia export`: postures of a course rendered into files that browsers
// and phones play, with their chapters and a course page, by libstrovia's
// export job.

#include <unistd.h>

#include <QGuiApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <strovia/exporter.hpp>

#include "strovia/commands.hpp"

namespace strovia::cli {
namespace {

std::atomic<bool> g_interrupted{false};

struct ExportOptions {
    std::string content;
    std::vector<std::string> postures;
    bool all = false;
    std::string out;
    std::string format = "mp4";
    std::string size = "640x480";
    std::string library_folder;
    bool schedule_only = false;
    bool allow_outside = false;
    bool scorm = false;
};

class Progress {
public:
    Progress() : tty_(::isatty(STDOUT_FILENO) == 1) {}
    void start(int n, int total, const std::string& name) {
        head_ = "posture " + std::to_string(n) + " of " + std::to_string(total) + ": " + name;
        last_ = -1;
    }
    void percent(double share) {
        const int p = static_cast<int>(share * 100);
        // A terminal sees one line counting up; a log, every quarter.
        if (tty_) {
            if (p == last_) return;
            std::printf("\r%s %3d%%", head_.c_str(), p);
        } else {
            if (p / 25 == last_ / 25 && last_ >= 0) return;
            std::printf("%s %d%%\n", head_.c_str(), p);
        }
        last_ = p;
        std::fflush(stdout);
    }
    void finish(const std::string& text) {
        if (tty_ && last_ >= 0) std::printf("\r\033[K");  // the count, wiped
        std::printf("%s: %s\n", head_.c_str(), text.c_str());
        std::fflush(stdout);
    }

private:
    bool tty_;
    std::string head_;
    int last_ = -1;
};

// Options a job would refuse, said in the command's own words (exit 2).
bool read_options(const ExportOptions& opt, Exporter& job) {
    if (opt.all == !opt.postures.empty()) {
        std::cerr << "strovia export: give --posture NAME (one or more) or --all\n";
        return false;
    }
    if (opt.format == "webm") {
        job.setFormat(Exporter::Format::WebM);
    } else if (opt.format != "mp4") {
        std::cerr << "strovia export: --format is mp4 or webm, not '" << opt.format << "'\n";
        return false;
    }
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(opt.size.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 16 || h < 16 ||
        w > 3840 || h > 2160 || w % 2 || h % 2) {
        std::cerr << "strovia export: --size wants WIDTHxHEIGHT, even numbers from 16x16 to "
                     "3840x2160, not '"
                  << opt.size << "'\n";
        return false;
    }
    job.setFrameSize({w, h});
    // The job takes folders as text: a name that is not UTF-8 would reach it
    // changed, and the export would read or write another folder.
    for (const auto* folder : {&opt.content, &opt.out, &opt.library_folder}) {
        if (QString::fromStdString(*folder).toStdString() != *folder) {
            std::cerr << "strovia export: the folder name '"
                      << QString::fromStdString(*folder).toStdString()
                      << "' is not valid UTF-8; give it by another name (a link, for one)\n";
            return false;
        }
    }
    job.setContentFolder(QString::fromStdString(opt.content));
    QStringList names;
    for (const auto& p : opt.postures) names << QString::fromStdString(p);
    job.setPostures(names);
    job.setOutputFolder(QString::fromStdString(opt.out));
    if (!opt.library_folder.empty())
        job.setNarrationFolder(QString::fromStdString(opt.library_folder));
    job.setAllowOutside(opt.allow_outside);
    job.setScormPackage(opt.scorm);
    job.setScheduleOnly(opt.schedule_only);
    return true;
}

// The console's view of the job: progress on stdout, the maintainer's
// report on stderr.
void report_to_console(Exporter& job, Progress& progress) {
    QObject::connect(&job, &Exporter::postureStarted, [&](int n, int m, const QString& name) {
        progress.start(n, m, name.toStdString());
    });
    QObject::connect(&job, &Exporter::progressChanged,
                     [&](int, int, double share) { progress.percent(share); });
    QObject::connect(&job, &Exporter::outsideFile, [](const QString& posture, const QString& f) {
        std::cout << "posture " << posture.toStdString() << ": " << f.toStdString()
                  << " lies outside the course folder" << std::endl;
    });
    QObject::connect(&job, &Exporter::leftoverRemoved, [](const QString& f) {
        std::cerr << "strovia export: removed " << f.toStdString()
                  << ", left by an export that was killed\n";
    });
    QObject::connect(&job, &Exporter::scheduleReady, [](const QString&, const QByteArray& json) {
        std::cout << json.toStdString() << std::endl;
    });
    QObject::connect(&job, &Exporter::postureFinished, [&](const Exporter::PostureResult& r) {
        if (r.skipped) {
            progress.finish("skipped: " + r.errorString.toStdString());
        } else if (!r.file.isEmpty()) {
            char length[32];
            std::snprintf(length, sizeof length, ", %.2f s", r.seconds);
            progress.finish(r.file.toStdString() + length);
        }
    });
}

int exit_code_of(const Exporter& job, bool schedule_only) {
    if (job.wasCancelled()) {
        std::cerr << "strovia export: interrupted\n";
        // A call of the export that never returned still runs: the process
        // ends without waiting for it.
        if (job.errorString() != "interrupted") std::_Exit(130);
        return 130;
    }
    int skipped = 0;
    for (const auto& r : job.results()) skipped += r.skipped ? 1 : 0;
    if (skipped == 0 && job.errorNumber() != 0) {
        std::cerr << "strovia export: error " << job.errorNumber() << ": "
                  << job.errorString().toStdString() << "\n";
        return 1;
    }
    if (skipped > 0) {
        // The package may fail beside the postures skipped: both are said.
        if (job.errorNumber() != Exporter::SomePosturesSkipped && job.errorNumber() != 0)
            std::cerr << "strovia export: error " << job.errorNumber() << ": "
                      << job.errorString().toStdString() << "\n";
        const auto all = job.results().size();
        std::cerr << "strovia export: " << skipped << " of " << all << " posture"
                  << (all == 1 ? "" : "s") << " skipped:\n";
        for (const auto& r : job.results()) {
            if (!r.skipped) continue;
            std::cerr << "  " << r.name.toStdString() << ": " << r.errorString.toStdString();
            if (r.errorString.endsWith("outside the course folder") && !schedule_only)
                std::cerr << " (--allow-outside exports it)";
            std::cerr << "\n";
        }
        return 1;
    }
    return 0;
}

int run_export(const ExportOptions& opt) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "strovia";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    Exporter job;
    if (!read_options(opt, job)) return 2;

    struct sigaction on_signal {};
    on_signal.sa_handler = [](int) { g_interrupted = true; };
    sigaction(SIGINT, &on_signal, nullptr);
    sigaction(SIGTERM, &on_signal, nullptr);

    Progress progress;
    report_to_console(job, progress);
    QObject::connect(&job, &Exporter::finished, &app, &QCoreApplication::quit);
    // The job hears a signal through cancel, which ends it within a second.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (g_interrupted) job.cancel();
    });
    watch.start(20);
    if (!job.start()) {
        std::cerr << "strovia export: " << job.errorString().toStdString() << "\n";
        return 2;
    }
    app.exec();
    return exit_code_of(job, opt.schedule_only);
}

}  // namespace

void add_export_command(CLI::App& app, int& exit_code) {
    auto opt = std::make_shared<ExportOptions>();
    auto* cmd = app.add_subcommand(
        "export",
        "Render postures into video files that browsers and phones play, with chapters and a "
        "course page (index.html)");
    cmd->add_option("--content", opt->content, "Content folder of the course (Resourcedir)")
        ->required();
    cmd->add_option("--posture", opt->postures, "Posture to export (repeatable)");
    cmd->add_flag("--all", opt->all, "Export every posture of the catalogue");
    cmd->add_option("-o,--output", opt->out, "Folder the files and index.html go to");
    cmd->add_option("--format", opt->format, "mp4 (H.264 and AAC) or webm (VP9 and Opus)")
        ->capture_default_str();
    cmd->add_option("--size", opt->size, "Frame size WIDTHxHEIGHT; pictures are letterboxed")
        ->capture_default_str();
    cmd->add_option("--library-folder", opt->library_folder,
                    "Where the \"mt\" narration is taken from (default: beside this program)");
    cmd->add_flag("--allow-outside", opt->allow_outside,
                  "Export postures whose files lie outside the content folder");
    cmd->add_flag("--scorm", opt->scorm,
                  "Also make OUTDIR a SCORM 1.2 package for learning platforms, zipped beside "
                  "it as OUTDIR.zip");
    cmd->add_flag("--schedule", opt->schedule_only,
                  "Print each posture's schedule as one JSON line and render nothing");
    cmd->callback([opt, &exit_code] {
        if (opt->out.empty() && !opt->schedule_only) {
            std::cerr << "strovia export: -o FOLDER is needed\n";
            exit_code = 2;
            return;
        }
        exit_code = run_export(*opt);
    });
}

}  // namespace strovia::cli
