// `strovia export`: postures of a course rendered into files that browsers
// and phones play, with their chapters and a course page.

#include <unistd.h>

#include <QGuiApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include <strovia/course.hpp>

#include "jet/engine.hpp"
#include "platform/paths.hpp"
#include "strovia/commands.hpp"
#include "strovia/demo_course.hpp"
#include "strovia/export_page.hpp"
#include "strovia/export_programme.hpp"
#include "strovia/export_render.hpp"
#include "strovia/export_scorm.hpp"

namespace strovia::cli {
namespace {

namespace fs = std::filesystem;

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

std::string lower_ascii(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// A file name from a posture name: letters beyond ASCII kept, anything a
// file system or a URL could trip on replaced.
std::string file_stem(int number, const std::string& name) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d-", number);
    std::string stem = prefix;
    for (unsigned char c : name) {
        const bool keep = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                          (c >= 'A' && c <= 'Z') || c == '_' || c == '-' || c >= 0x80;
        if (keep) {
            stem += static_cast<char>(c);
        } else if (stem.back() != '-') {
            stem += '-';
        }
    }
    while (stem.size() > 3 && stem.back() == '-') stem.pop_back();
    return stem;
}

// Written whole or not at all.
Status write_file(const fs::path& path, const std::string& text) {
    const fs::path temp = temp_beside(path.string(), "part");
    std::ofstream out(temp, std::ios::binary);
    out << text;
    out.close();
    std::error_code ec;
    if (out) fs::rename(temp, path, ec);
    if (!out || ec) {
        fs::remove(temp, ec);
        return Error{9204, "cannot write " + path.string()};
    }
    return {};
}

bool inside(const fs::path& file, const fs::path& folder) {
    auto f = file.begin();
    for (auto d = folder.begin(); d != folder.end(); ++d, ++f) {
        if (d->empty()) continue;  // a trailing separator
        if (f == file.end() || *f != *d) return false;
    }
    return true;
}

// The files of a posture that lie outside the course folder once links are
// followed (the narration library beside the program counts as inside).
std::vector<std::string> outside_files(const ExportPosture& posture, const std::string& content,
                                       const std::string& library) {
    std::error_code ec;
    std::vector<fs::path> roots{fs::weakly_canonical(fs::absolute(content, ec), ec)};
    if (!library.empty()) roots.push_back(fs::weakly_canonical(fs::absolute(library, ec), ec));
    std::vector<std::string> formed;
    if (posture.video) formed.push_back(posture.video_path);
    for (const auto& row : posture.rows) {
        formed.push_back(row.narration);
        if (!row.picture.empty()) formed.push_back(row.picture);
    }
    std::vector<std::string> outside;
    for (const auto& f : formed) {
        const fs::path real = fs::weakly_canonical(fs::absolute(platform::map_path(f), ec), ec);
        const bool ok = std::any_of(roots.begin(), roots.end(),
                                    [&](const fs::path& r) { return inside(real, r); });
        const std::string said = f + " (" + real.string() + ")";
        if (!ok && std::find(outside.begin(), outside.end(), said) == outside.end()) {
            outside.push_back(said);
        }
    }
    return outside;
}

nlohmann::ordered_json schedule_json(const std::string& name, const Schedule& s) {
    auto sec = [](std::int64_t ns) { return static_cast<double>(ns) / 1e9; };
    nlohmann::ordered_json j;
    j["posture"] = name;
    j["end"] = sec(s.end_ns);
    j["narrations"] = nlohmann::json::array();
    for (const auto& n : s.narrations) {
        j["narrations"].push_back(
            {{"at", sec(n.at_ns)}, {"length", sec(n.length_ns)}, {"path", n.path}});
    }
    j["shots"] = nlohmann::json::array();
    for (const auto& shot : s.shots) {
        nlohmann::ordered_json o;
        o["from"] = sec(shot.from_ns);
        switch (shot.kind) {
            case Schedule::Shot::Kind::Play: o["play"] = shot.frame; break;
            case Schedule::Shot::Kind::Hold: o["hold"] = shot.frame; break;
            case Schedule::Shot::Kind::Picture: o["picture"] = shot.picture; break;
        }
        j["shots"].push_back(o);
    }
    return j;
}

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

int run_export(const ExportOptions& opt) {
    if (opt.all == !opt.postures.empty()) {
        std::cerr << "strovia export: give --posture NAME (one or more) or --all\n";
        return 2;
    }
    RenderOptions render_options;
    if (opt.format == "webm") {
        render_options.format = RenderOptions::Format::Webm;
    } else if (opt.format != "mp4") {
        std::cerr << "strovia export: --format is mp4 or webm, not '" << opt.format << "'\n";
        return 2;
    }
    {
        int w = 0, h = 0;
        char tail = 0;
        if (std::sscanf(opt.size.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 16 || h < 16 ||
            w > 3840 || h > 2160 || w % 2 || h % 2) {
            std::cerr << "strovia export: --size wants WIDTHxHEIGHT, even numbers from 16x16 to "
                         "3840x2160, not '"
                      << opt.size << "'\n";
            return 2;
        }
        render_options.width = w;
        render_options.height = h;
    }

    struct sigaction on_signal {};
    on_signal.sa_handler = [](int) { g_interrupted = true; };
    sigaction(SIGINT, &on_signal, nullptr);
    sigaction(SIGTERM, &on_signal, nullptr);

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "strovia";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    auto engine = jet::make_engine();
    auto catalogue = posture_names(*engine, opt.content);
    if (!catalogue) {
        std::cerr << "strovia export: error " << catalogue.error().number << ": "
                  << catalogue.error().text << "\n";
        return 1;
    }
    // In catalogue order. A name asked for that matches no entry letter for
    // letter (the lookup itself may still find it, ignoring case beyond
    // ASCII) comes after them, numbered on.
    struct Job {
        std::string name;
        int number = 0;  // place in the catalogue, 1 up
        std::string skipped;
    };
    std::vector<Job> jobs;
    auto place = [&](const std::string& n) {
        for (std::size_t i = 0; i < catalogue->size(); ++i) {
            if (lower_ascii((*catalogue)[i]) == lower_ascii(n)) return static_cast<int>(i) + 1;
        }
        return 0;
    };
    int unplaced = static_cast<int>(catalogue->size());
    for (const auto& n : opt.all ? *catalogue : opt.postures) {
        int number = place(n);
        if (number == 0) number = ++unplaced;
        if (std::any_of(jobs.begin(), jobs.end(),
                        [&](const Job& j) { return lower_ascii(j.name) == lower_ascii(n); })) {
            if (opt.all) {
                jobs.push_back({n, number, "its name finds an earlier posture of the same name"});
            }
            continue;
        }
        jobs.push_back({n, number, ""});
    }
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const Job& a, const Job& b) { return a.number < b.number; });

    const fs::path out(opt.out);
    if (!opt.schedule_only) {
        std::error_code ec;
        fs::create_directories(out, ec);
        if (ec || !fs::is_directory(out, ec)) {
            std::cerr << "strovia export: cannot make the folder " << out << "\n";
            return 1;
        }
        for (const auto& gone : remove_leftovers(out.string())) {
            std::cerr << "strovia export: removed " << gone
                      << ", left by an export that was killed\n";
        }
    }
    const std::string library =
        // "mt" comes from where the control takes it: beside libstrovia.
        opt.library_folder.empty() ? strovia::Course().narrationFolder().toStdString()
                                   : opt.library_folder;

    // Every wait of the export looks at the flag; should one not (a call
    // into a library that does not return), the export still ends soon
    // after a signal, removing its own parts first.
    std::atomic<bool> finished{false};
    std::thread backstop([&] {
        while (!finished && !g_interrupted)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int i = 0; i < 40 && !finished; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (finished) return;
        if (!opt.schedule_only) remove_own_parts(out.string());
        static const char said[] = "strovia export: interrupted\n";
        (void)!::write(STDERR_FILENO, said, sizeof said - 1);
        std::_Exit(130);
    });
    struct Join {
        std::atomic<bool>& finished;
        std::thread& thread;
        ~Join() {
            finished = true;
            thread.join();
        }
    } join{finished, backstop};

    Progress progress;
    std::vector<PageEntry> page;
    std::vector<std::string> report;  // for the maintainer: the page names no paths or errors
    int skipped = 0;
    for (std::size_t i = 0; i < jobs.size() && !g_interrupted; ++i) {
        const Job& job = jobs[i];
        progress.start(static_cast<int>(i) + 1, static_cast<int>(jobs.size()), job.name);
        PageEntry entry;
        entry.name = job.name;
        auto fail = [&](const std::string& why) {
            entry.skipped = true;
            ++skipped;
            report.push_back(job.name + ": " + why);
            progress.finish("skipped: " + why);
        };
        if (!job.skipped.empty()) {
            fail(job.skipped);
            page.push_back(entry);
            continue;
        }
        auto posture = read_posture(*engine, opt.content, library, job.name);
        if (posture) {
            // Said before anything is read: the outside file's content may
            // be anything the course's author should not reach.
            const auto outside = outside_files(*posture, opt.content, library);
            for (const auto& f : outside) {
                std::cout << "posture " << job.name << ": " << f
                          << " lies outside the course folder\n";
            }
            if (!outside.empty() && !opt.allow_outside) {
                fail("it reads " + std::to_string(outside.size()) + " file" +
                     (outside.size() == 1 ? "" : "s") +
                     " outside the course folder (--allow-outside exports it)");
                page.push_back(entry);
                continue;
            }
        }
        Result<MediaLengths> lengths = posture ? measure_media(*posture, g_interrupted)
                                               : Result<MediaLengths>(posture.error());
        Result<Schedule> schedule =
            lengths ? derive_schedule(*posture, *lengths) : Result<Schedule>(lengths.error());
        if (!schedule) {
            fail(schedule.error().text);
            page.push_back(entry);
            continue;
        }
        if (opt.schedule_only) {
            std::cout << schedule_json(job.name, *schedule).dump() << "\n";
            continue;
        }
        const std::string stem = file_stem(job.number, job.name);
        entry.file = stem + "." + extension(render_options.format);
        entry.chapters = stem + ".vtt";
        entry.chapter_list = schedule->chapters;
        entry.seconds = static_cast<double>(schedule->end_ns) / 1e9;
        progress.percent(0);
        Status done = render(
            *posture, *schedule, *lengths, render_options, (out / entry.file).string(),
            [&](double share) { progress.percent(share); }, g_interrupted);
        if (done) done = write_file(out / entry.chapters, chapters_vtt(*schedule));
        if (!done) {
            // A file an earlier export wrote stays: only a complete new one
            // replaces it.
            entry.file.clear();
            fail(done.error().text);
        } else {
            char length[32];
            std::snprintf(length, sizeof length, ", %.2f s", entry.seconds);
            progress.finish(entry.file + length);
        }
        page.push_back(entry);
    }
    if (g_interrupted) {
        std::cerr << "strovia export: interrupted\n";
        return 130;
    }
    if (!opt.schedule_only) {
        // The course folder's own name, also for "." and "course/".
        std::error_code ec;
        fs::path folder = fs::absolute(opt.content, ec).lexically_normal();
        if (folder.filename().empty()) folder = folder.parent_path();
        std::string title = folder.filename().string();
        if (title.empty()) title = "Course";
        std::vector<std::string> scripts;
        if (opt.scorm) scripts.push_back(kScormScript);
        Status s = write_file(out / "index.html", course_page(title, page, scripts));
        if (s && opt.scorm) s = write_scorm_package(out.string(), title, page, g_interrupted);
        if (!s) {
            std::cerr << "strovia export: " << s.error().text << "\n";
            if (g_interrupted) return 130;
            if (skipped == 0) return 1;  // else said with the postures skipped, below
        }
    }
    if (skipped > 0) {
        std::cerr << "strovia export: " << skipped << " of " << jobs.size() << " posture"
                  << (jobs.size() == 1 ? "" : "s") << " skipped:\n";
        for (const auto& line : report) std::cerr << "  " << line << "\n";
        return 1;
    }
    return 0;
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
