// `strovia play`: hosts the control's widget on the command line, in a
// window when there is a display, headless otherwise, and runs until
// VideoEnd or until it is clear that nothing plays.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.hpp"
#include "strovia/commands.hpp"
#include "strovia/control_observer.hpp"
#include "strovia/media_outputs.hpp"
#include "strovia/play.hpp"
#include "strovia/video_cntl_widget.hpp"

namespace strovia::cli {
namespace {

using Widget = strovia::VideoCntlWidget;

std::string s(const QString& q) { return q.toStdString(); }

// One JSON object a line, `t` in milliseconds since the start.
class TraceOut final : public ControlObserver {
public:
    explicit TraceOut(const QElapsedTimer& clock) : clock_(clock) {}
    void put(nlohmann::ordered_json j) {
        nlohmann::ordered_json line;
        line["t"] = std::round(static_cast<double>(clock_.nsecsElapsed()) / 1e3) / 1e3;
        for (auto& [k, v] : j.items()) line[k] = v;
        std::fputs((line.dump() + "\n").c_str(), stdout);
    }
    void methodCalled(const QString& method) override {
        put({{"kind", "call"}, {"name", s(method)}});
    }
    void commandSent(const QString& command, bool ok) override {
        put({{"kind", "command"}, {"text", s(command)}, {"ok", ok}});
    }
    // A reply is traced when it differs from the last one to that query.
    void queryAnswered(const QString& command, const QString& reply) override {
        auto& last = last_reply_[s(command)];
        if (last && *last == reply) return;
        last = reply;
        put({{"kind", "query"}, {"text", s(command)}, {"reply", s(reply)}});
    }
    void timerChanged(int timer, bool enabled, int interval) override {
        put({{"kind", "timer"},
             {"name", timer == 1 ? "Timer1" : "Timer2"},
             {"enabled", enabled},
             {"interval", interval}});
    }
    void pictureChanged(const QString& path) override {
        put({{"kind", "picture"}, {"path", s(path)}});
    }
    void messageShown(const QString& text) override {
        put({{"kind", "message"}, {"text", s(text)}});
    }
    void eventRaised(const QString& name) override { put({{"kind", "event"}, {"name", s(name)}}); }

private:
    const QElapsedTimer& clock_;
    std::map<std::string, std::optional<QString>> last_reply_;
};

// Readable lines of what the programme does, for people watching a run:
// from the widget's state and progress, and the pictures it shows.
class ProgressOut final : public ControlObserver {
public:
    ProgressOut(const QElapsedTimer& clock, Widget& control) : clock_(clock), control_(control) {
        QObject::connect(&control, &Widget::progressChanged, [this](int current, int count) {
            if (control_.programmeKind() == Widget::Video && current > 0) {
                line("segment " + std::to_string(current) + " of " + std::to_string(count));
            }
        });
        QObject::connect(&control, &Widget::stateChanged, [this](Widget::State state) {
            switch (state) {
                case Widget::Held:
                    line("video held at frame " + std::to_string(control_.position()) +
                         " until the narration ends");
                    break;
                case Widget::Paused: line("paused"); break;
                case Widget::Playing:
                case Widget::Previewing:
                    if (paused_) line("playing again");
                    break;
                default: break;
            }
            paused_ = state == Widget::Paused;
        });
    }
    void line(const std::string& text) const {
        std::printf("%7.2f s  %s\n", static_cast<double>(clock_.elapsed()) / 1000.0, text.c_str());
        std::fflush(stdout);
    }
    void methodCalled(const QString& method) override {
        line(s(method) + " (" + s(control_.AsanaNaME()) + ")");
    }
    void pictureChanged(const QString& path) override {
        if (path.isEmpty()) return;
        line("picture " + std::to_string(++pictures_) + ": " + platform::map_path(s(path)));
    }
    void messageShown(const QString& text) override { line(s(text)); }
    void eventRaised(const QString& name) override { line(s(name)); }

private:
    const QElapsedTimer& clock_;
    Widget& control_;
    bool paused_ = false;
    int pictures_ = 0;
};

bool has_display() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

std::optional<std::pair<double, std::string>> parse_at(const std::string& entry) {
    const auto colon = entry.find(':');
    if (colon == std::string::npos) return std::nullopt;
    char* end = nullptr;
    const std::string when = entry.substr(0, colon);
    const double seconds = std::strtod(when.c_str(), &end);
    if (end == when.c_str() || *end != '\0' || seconds < 0) return std::nullopt;
    return std::make_pair(seconds, entry.substr(colon + 1));
}

// --timeout holds whatever the user-interface thread is stuck in: when the
// event loop has not ended the run a little after the time, this thread
// says so and ends the process (the kernel then frees the catalogue's
// lock). Destroying it before then ends the watch.
class Watchdog {
public:
    explicit Watchdog(double seconds) {
        if (seconds <= 0) return;
        const auto limit = std::chrono::duration<double>(seconds) + kGrace;
        thread_ = std::thread([this, seconds, limit] {
            std::unique_lock lock(mutex_);
            if (done_cv_.wait_for(lock, limit, [this] { return done_; })) return;
            const std::string text = "strovia play: no VideoEnd within " + format(seconds) +
                                     " s; the program was blocked, so it ends here\n";
            (void)!::write(2, text.data(), text.size());
            std::_Exit(kPlayTimeout);
        });
    }
    ~Watchdog() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static constexpr std::chrono::seconds kGrace{2};
    static std::string format(double seconds) {
        std::ostringstream out;
        out << seconds;
        return out.str();
    }
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

bool call_method(Widget& control, const std::string& name) {
    if (name == "fileOpen") return control.fileOpen();
    if (name == "Pause") return control.Pause();
    if (name == "Start") return control.Start();
    if (name == "StopPlay") return control.StopPlay();
    if (name == "Preview") return control.Preview();
    return control.Ppreview();
}

}  // namespace

int run_play(const PlayOptions& opt) {
    if (!(opt.rate >= 0.5 && opt.rate <= 1.5)) {
        std::cerr << "strovia play: --rate must be from 0.5 to 1.5, got " << opt.rate << "\n";
        return kPlayBadOptions;
    }
    if (opt.repeat_part.has_value() != opt.times.has_value()) {
        std::cerr << "strovia play: --repeat-part N and --times K go together\n";
        return kPlayBadOptions;
    }
    for (const auto& [name, value] : {std::pair{"--from-part", opt.from_part},
                                      {"--repeat-part", opt.repeat_part},
                                      {"--times", opt.times}}) {
        if (value && *value < 1) {
            std::cerr << "strovia play: " << name << " counts from 1, got " << *value << "\n";
            return kPlayBadOptions;
        }
    }
    if (opt.from_part && opt.repeat_part) {
        std::cerr << "strovia play: --from-part and --repeat-part cannot be used together\n";
        return kPlayBadOptions;
    }
    if ((opt.from_part || opt.repeat_part) && (opt.preview || opt.photo_preview)) {
        std::cerr << "strovia play: a preview has no segments to start from or repeat\n";
        return kPlayBadOptions;
    }
    std::vector<std::pair<double, std::string>> scheduled;
    for (const auto& entry : opt.at) {
        auto parsed = parse_at(entry);
        if (!parsed) {
            std::cerr << "strovia play: --at wants SECONDS:METHOD, got '" << entry << "'\n";
            return kPlayBadOptions;
        }
        static const std::set<std::string> kMethods{"Pause",    "Start",   "StopPlay",
                                                    "fileOpen", "Preview", "Ppreview"};
        if (!kMethods.contains(parsed->second)) {
            std::cerr << "strovia play: --at: unknown method '" << parsed->second << "'\n";
            return kPlayBadOptions;
        }
        scheduled.push_back(*parsed);
    }

    const Watchdog watchdog(opt.timeout);
    const bool headless = opt.headless || !has_display();
    if (headless) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "strovia";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationName("Strovia");

    QElapsedTimer clock;
    clock.start();
    Widget control;
    if (QString why; !control.setMediaOutputs(widget_outputs(), &why)) {
        std::cerr << "strovia play: " << s(why) << "\n";
        return kPlayBadOptions;
    }
    control.setWindowTitle(QString::fromStdString("Strovia - " + opt.posture));
    std::unique_ptr<ControlObserver> observer;
    if (opt.output == PlayOptions::Output::Trace) {
        observer = std::make_unique<TraceOut>(clock);
    } else if (opt.output == PlayOptions::Output::Progress) {
        observer = std::make_unique<ProgressOut>(clock, control);
    }
    control.setObserver(observer.get());
    control.setPlaybackRate(opt.rate);
    const bool quiet = opt.output == PlayOptions::Output::Quiet;

    int ends = 0;
    QObject::connect(&control, &Widget::VideoEnd, &app, [&] {
        ++ends;
        if (quiet) {
            std::cout << "VideoEnd after " << static_cast<double>(clock.elapsed()) / 1000.0
                      << " s\n";
        }
        app.exit(kPlayEnded);
    });
    // The unknown posture: said, and the run is over.
    bool not_found = false;
    QObject::connect(&control, &Widget::messageRequested, &app, [&](const QString& text) {
        if (quiet) std::cout << s(text) << "\n";
        not_found = true;
        QTimer::singleShot(0, &app, [&] { app.exit(kPlayNotFound); });
    });
    // Media failures under this program's name, as the user meets them.
    QObject::connect(&control, &Widget::notice, &app,
                     [](const QString& text) { std::cerr << "strovia play: " << s(text) << "\n"; });
    // Failures the control passes over, each once, with their number.
    QObject::connect(&control, &Widget::errorOccurred, &app,
                     [&control](Widget::Error, const QString& text) {
                         std::cerr << "strovia play: " << s(text) << " (error "
                                   << control.errorNumber() << ")\n";
                     });

    control.setResourcedir(QString::fromStdString(opt.content));
    control.setAsanaNaME(QString::fromStdString(opt.posture));
    if (!headless) control.show();

    auto call = [&](const std::string& method) {
        bool ok = false;
        if (method == "fileOpen" && opt.from_part) {
            ok = control.playFromPart(*opt.from_part);
        } else if (method == "fileOpen" && opt.repeat_part) {
            ok = control.repeatPart(*opt.repeat_part, *opt.times);
        } else {
            ok = call_method(control, method);
        }
        if (!ok) {
            std::cerr << "strovia play: " << method << " failed: error "
                      << control.lastErrorNumber() << ": " << s(control.lastErrorText()) << "\n";
        }
        return ok;
    };
    bool timed_out = false;
    if (opt.timeout > 0) {
        QTimer::singleShot(static_cast<int>(opt.timeout * 1000), &app, [&] {
            timed_out = true;
            app.exit(kPlayTimeout);
        });
    }

    const std::string first = opt.preview ? "Preview" : opt.photo_preview ? "Ppreview" : "fileOpen";
    QTimer::singleShot(0, &app, [&] {
        if (!call(first)) {
            app.exit(kPlayCallFailed);
            return;
        }
        // Counted from here, so that a slow start (a loaded machine, the
        // sanitizers) does not move a call into it.
        for (const auto& [seconds, method] : scheduled) {
            QTimer::singleShot(static_cast<int>(seconds * 1000), &app,
                               [&call, m = method] { call(m); });
        }
        // The call returned normally and nothing plays: say why and end.
        if (control.state() == Widget::Idle && !not_found) {
            std::cerr << "strovia play: " << first << " started nothing";
            if (control.error() != Widget::NoError) {
                std::cerr << ": " << s(control.errorString()) << " (error " << control.errorNumber()
                          << ")";
            }
            std::cerr << "\n";
            app.exit(kPlayNothingStarted);
        }
    });
    const int rc = app.exec();
    if (opt.output == PlayOptions::Output::Progress) {
        const bool pictures = control.programmeKind() == Widget::Photo ||
                              control.programmeKind() == Widget::PhotoPreview;
        const int parts = control.partCount();
        std::printf("%s: %d %s, %s after %.2f s\n", opt.posture.c_str(), parts,
                    pictures ? (parts == 1 ? "picture" : "pictures")
                             : (parts == 1 ? "segment" : "segments"),
                    ends > 0 ? "VideoEnd" : "no VideoEnd",
                    static_cast<double>(clock.elapsed()) / 1000.0);
    }
    control.setObserver(nullptr);
    if (timed_out) {
        std::cerr << "strovia play: no VideoEnd within " << opt.timeout << " s\n";
        return kPlayTimeout;
    }
    return rc;
}

void add_play_command(CLI::App& app, int& exit_code) {
    auto opt = std::make_shared<PlayOptions>();
    auto* cmd = app.add_subcommand("play", "Play one posture of a course until VideoEnd");
    cmd->footer(
        "Exit codes: 0 VideoEnd came; 1 the first call failed; 2 bad options; 3 no VideoEnd "
        "within --timeout; 4 the posture is not in the catalogue (\"Asana not found\"); 5 the "
        "first call returned but started nothing (the reason is printed).");
    cmd->add_option("--content", opt->content, "Content folder of the course (Resourcedir)")
        ->required();
    cmd->add_option("--posture", opt->posture, "Name of the posture (AsanaNaME)")->required();
    cmd->add_flag("--headless", opt->headless, "No window, even when there is a display");
    auto* trace = cmd->add_flag_callback(
        "--trace", [opt] { opt->output = PlayOptions::Output::Trace; },
        "Print every call, command, query, picture, timer change, message and event as JSON "
        "lines");
    cmd->add_flag_callback(
           "--progress", [opt] { opt->output = PlayOptions::Output::Progress; },
           "Print one readable line per event and a summary at the end")
        ->excludes(trace);
    cmd->add_flag("--preview", opt->preview, "Call Preview instead of fileOpen");
    cmd->add_flag("--photo-preview", opt->photo_preview, "Call Ppreview instead of fileOpen");
    cmd->add_option("--timeout", opt->timeout, "Give up after SECONDS without VideoEnd (exit 3)")
        ->take_last();
    cmd->add_option("--at", opt->at,
                    "SECONDS:METHOD, call Pause, Start, StopPlay, fileOpen, Preview or Ppreview "
                    "SECONDS after the first call has returned (repeatable)");
    cmd->add_option("--rate", opt->rate,
                    "Play video and narrations at R times their speed, from 0.5 to 1.5; the "
                    "narrations keep their pitch and every hold its frame (default 1)");
    cmd->add_option("--from-part", opt->from_part,
                    "Start the video programme at segment N (from 1): its first frame, with its "
                    "narration");
    cmd->add_option("--repeat-part", opt->repeat_part,
                    "Start at segment N and play it --times K times before the programme goes on");
    cmd->add_option("--times", opt->times, "How often --repeat-part plays its segment (K >= 1)");
    cmd->callback([opt, &exit_code] { exit_code = run_play(*opt); });
}

}  // namespace strovia::cli
