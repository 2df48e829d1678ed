// `strovia play`: hosts the control on the command line, in a window when
// there is a display, headless otherwise, and runs until VideoEnd.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalogue/engine.hpp"
#include "control/video_cntl.hpp"
#include "platform/paths.hpp"
#include "qt/qt_host.hpp"
#include "strovia/commands.hpp"
#include "strovia/media_factory.hpp"
#include "strovia/play.hpp"

namespace strovia::cli {
namespace {

constexpr int kExitTimeout = 3;
constexpr std::int64_t kPicture1Handle = 1;
constexpr std::int64_t kPicture2Handle = 2;

// One JSON object a line, `t` in milliseconds since the start.
class TraceOut {
public:
    explicit TraceOut(bool on) : on_(on) { clock_.start(); }
    bool on() const { return on_; }
    double t() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e6; }
    void put(nlohmann::json j) {
        if (!on_) return;
        nlohmann::ordered_json line;
        line["t"] = std::round(t() * 1000.0) / 1000.0;
        for (auto& [k, v] : j.items()) line[k] = v;
        std::fputs((line.dump() + "\n").c_str(), stdout);
    }

private:
    bool on_;
    QElapsedTimer clock_;
};

// Readable lines of what the programme does, for people watching a run.
class ProgressOut {
public:
    ProgressOut(bool on, const TraceOut& clock) : on_(on), clock_(clock) {}
    bool on() const { return on_; }
    void line(const std::string& text) const {
        if (on_) std::printf("%7.2f s  %s\n", clock_.t() / 1000.0, text.c_str());
        std::fflush(stdout);
    }
    // What a command means for the programme, in words.
    void command(std::string_view text, std::string_view position) {
        if (!on_) return;
        const auto alias = text.find(" alias ");
        if (text.starts_with("open ") && alias != std::string_view::npos) {
            std::string path(text.substr(5, alias - 5));
            while (!path.empty() && path.back() == ' ') path.pop_back();
            if (path.size() >= 2 && path.front() == '"') path = path.substr(1, path.size() - 2);
            path = platform::map_path(path);
            if (text.find(" alias video") != std::string_view::npos) {
                line("video " + path);
            } else {
                ++narrations;
                line("narration " + std::to_string(narrations) + ": " + path);
            }
        } else if (text == "pause video" && !position.empty() && !held_) {
            // Held again on every tick at the boundary: said once.
            held_ = true;
            ++holds;
            line("video held at frame " + std::string(position) + " until the narration ends");
        } else if (text == "play video") {
            held_ = false;
        } else if (text == "close sound") {
            line("narration " + std::to_string(narrations) + " ended");
        }
    }
    int narrations = 0;
    int holds = 0;
    int pictures = 0;

private:
    bool on_;
    bool held_ = false;
    const TraceOut& clock_;
};

// Passes everything to the real channel and records it in the trace.
class TracingChannel : public MediaChannel {
public:
    TracingChannel(MediaChannel& inner, TraceOut& out, ProgressOut& progress)
        : inner_(inner), out_(out), progress_(progress) {}
    bool execute(std::string_view command) override {
        const bool ok = inner_.execute(command);
        out_.put({{"kind", "command"}, {"text", std::string(command)}, {"ok", ok}});
        progress_.command(command, position_);
        return ok;
    }
    std::int32_t send_string(std::string_view command, char* reply, std::uint32_t length,
                             std::int64_t notify) override {
        const std::int32_t rc = inner_.send_string(command, reply, length, notify);
        if (command == "status video Position") {
            position_ = std::string(reply, ::strnlen(reply, length));
            while (!position_.empty() && position_.back() == ' ') position_.pop_back();
        }
        if (out_.on()) {
            const std::string text(reply, ::strnlen(reply, length));
            auto& last = last_reply_[std::string(command)];
            if (!last || *last != text) {
                last = text;
                out_.put({{"kind", "query"}, {"text", std::string(command)}, {"reply", text}});
            }
        }
        return rc;
    }

private:
    MediaChannel& inner_;
    TraceOut& out_;
    ProgressOut& progress_;
    std::string position_;  // the video's last reported position
    std::map<std::string, std::optional<std::string>> last_reply_;
};

bool has_display() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

using Method = Result<Variant> (VideoCntl::*)();

std::optional<std::pair<double, std::string>> parse_at(const std::string& entry) {
    const auto colon = entry.find(':');
    if (colon == std::string::npos) return std::nullopt;
    char* end = nullptr;
    const std::string when = entry.substr(0, colon);
    const double seconds = std::strtod(when.c_str(), &end);
    if (end == when.c_str() || *end != '\0' || seconds < 0) return std::nullopt;
    return std::make_pair(seconds, entry.substr(colon + 1));
}

Result<Variant> call_method(VideoCntl& control, const std::string& name) {
    if (name == "fileOpen") {
        auto s = control.fileOpen();
        if (!s) return s.error();
        return Variant{Empty{}};
    }
    if (name == "Pause") return control.Pause();
    if (name == "Start") return control.Start();
    if (name == "StopPlay") return control.StopPlay();
    if (name == "Preview") return control.Preview();
    if (name == "Ppreview") return control.Ppreview();
    return Error{-1, "unknown method " + name};
}

}  // namespace

int run_play(const PlayOptions& opt) {
    std::vector<std::pair<double, std::string>> scheduled;
    for (const auto& entry : opt.at) {
        auto parsed = parse_at(entry);
        if (!parsed) {
            std::cerr << "strovia play: --at wants SECONDS:METHOD, got '" << entry << "'\n";
            return 2;
        }
        static const std::set<std::string> kMethods{"Pause",    "Start",   "StopPlay",
                                                    "fileOpen", "Preview", "Ppreview"};
        if (!kMethods.contains(parsed->second)) {
            std::cerr << "strovia play: --at: unknown method '" << parsed->second << "'\n";
            return 2;
        }
        scheduled.push_back(*parsed);
    }

    const bool headless = opt.headless || !has_display();
    if (headless) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "strovia";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationName("Strovia");

    TraceOut out(opt.output == PlayOptions::Output::Trace);
    ProgressOut progress(opt.output == PlayOptions::Output::Progress, out);
    int ends = 0;

    QWidget window;
    window.setFixedSize(352, 288);
    window.setWindowTitle(QString::fromStdString("Strovia - " + opt.posture));
    auto* picture1 = new QLabel(&window);
    picture1->setGeometry(0, 0, 352, 288);
    auto* picture2 = new QLabel(&window);
    picture2->setGeometry(0, 287, 352, 1);

    qt::QtHost host(picture1, picture2, kPicture1Handle, kPicture2Handle,
                    qt::HostCallbacks{[](std::string_view) {},
                                      [&] {
                                          ++ends;
                                          out.put({{"kind", "event"}, {"name", "VideoEnd"}});
                                          progress.line("VideoEnd");
                                          if (!out.on() && !progress.on())
                                              std::cout << "VideoEnd after " << out.t() / 1000.0
                                                        << " s\n";
                                          QTimer::singleShot(0, &app, [&] { app.exit(0); });
                                      },
                                      [&](const std::string& text) {
                                          out.put({{"kind", "message"}, {"text", text}});
                                          if (!out.on()) std::cout << text << "\n";
                                      }});
    auto timer_trace = [&](const char* timer_name, qt::QtTimer& t) {
        t.on_change = [&out, timer_name, &t] {
            out.put({{"kind", "timer"},
                     {"name", timer_name},
                     {"enabled", t.enabled()},
                     {"interval", t.interval()}});
        };
    };
    timer_trace("Timer1", host.timer1());
    timer_trace("Timer2", host.timer2());
    host.picture1().on_picture = [&](const std::string& path) {
        out.put({{"kind", "picture"}, {"path", path}});
        if (!path.empty()) {
            ++progress.pictures;
            progress.line("picture " + std::to_string(progress.pictures) + ": " +
                          platform::map_path(path));
        }
    };

    auto made = make_media(picture1, kPicture1Handle, headless);
    if (!made) {
        std::cerr << "strovia play: " << made.error().text << "\n";
        return 1;
    }
    const std::shared_ptr<Media> media = *made;
    TracingChannel channel(*media->channel, out, progress);
    EngineHolder engines(make_catalogue_engine);
    VideoCntl control(host, channel, engines);
    host.bind_ticks([&] { control.Timer1_Timer(); }, [&] { control.Timer2_Timer(); });
    (void)control.UserControl_InitProperties();
    control.Resourcedir(opt.content);
    control.AsanaNaME(opt.posture);
    if (!headless) window.show();

    auto call = [&](const std::string& method) {
        out.put({{"kind", "call"}, {"name", method}});
        progress.line(method + " (" + opt.posture + ")");
        auto r = call_method(control, method);
        if (!r) {
            std::cerr << "strovia play: " << method << " failed: error " << r.error().number << ": "
                      << r.error().text << "\n";
        }
        return r.ok();
    };
    for (const auto& [seconds, method] : scheduled) {
        QTimer::singleShot(static_cast<int>(seconds * 1000), &app,
                           [&call, m = method] { call(m); });
    }
    bool timed_out = false;
    if (opt.timeout > 0) {
        QTimer::singleShot(static_cast<int>(opt.timeout * 1000), &app, [&] {
            timed_out = true;
            app.exit(kExitTimeout);
        });
    }

    const std::string first = opt.preview ? "Preview" : opt.photo_preview ? "Ppreview" : "fileOpen";
    bool started = false;
    QTimer::singleShot(0, &app, [&] {
        started = call(first);
        if (!started) app.exit(1);
    });
    const int rc = app.exec();
    if (progress.on()) {
        std::printf("%s: %s, %d narration%s, %s after %.2f s\n", opt.posture.c_str(),
                    progress.pictures > 0
                        ? (std::to_string(progress.pictures) +
                           (progress.pictures == 1 ? " picture" : " pictures"))
                              .c_str()
                        : (std::to_string(progress.narrations) + " segments").c_str(),
                    progress.narrations, progress.narrations == 1 ? "" : "s",
                    ends > 0 ? "VideoEnd" : "no VideoEnd", out.t() / 1000.0);
    }
    if (timed_out) {
        std::cerr << "strovia play: no VideoEnd within " << opt.timeout << " s\n";
        return kExitTimeout;
    }
    return rc;
}

void add_play_command(CLI::App& app, int& exit_code) {
    auto opt = std::make_shared<PlayOptions>();
    auto* cmd = app.add_subcommand("play", "Play one posture of a course until VideoEnd");
    cmd->add_option("--content", opt->content, "Content folder of the course (Resourcedir)")
        ->required();
    cmd->add_option("--posture", opt->posture, "Name of the posture (AsanaNaME)")->required();
    cmd->add_flag("--headless", opt->headless, "No window, even when there is a display");
    auto* trace = cmd->add_flag_callback(
        "--trace", [opt] { opt->output = PlayOptions::Output::Trace; },
        "Print every command, query, picture, timer and event as JSON lines");
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
                    "at that time (repeatable)");
    cmd->callback([opt, &exit_code] { exit_code = run_play(*opt); });
}

}  // namespace strovia::cli
