// `strovia soak`: plays programmes back to back, headless, with host calls
// at random moments, for a set time, and fails when the process does not
// come back to what it held after warm-up: descriptors, threads, memory,
// media objects, or when the control breaks one of its promises.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <gst/gst.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "strovia/commands.hpp"
#include "strovia/control_observer.hpp"
#include "strovia/course.hpp"
#include "strovia/demo_course.hpp"
#include "strovia/media_factory.hpp"
#include "strovia/media_outputs.hpp"
#include "strovia/video_cntl_widget.hpp"

namespace strovia::cli {
namespace {

namespace fs = std::filesystem;

struct SoakOptions {
    std::string content;
    double seconds = 600;
    unsigned seed = 0;
    int every = 50;
    int warm_up = 50;
    double max_growth_kb = 20;
};

struct Usage {
    int fds = 0;
    int threads = 0;
    long rss_kb = 0;
};

int entries(const char* dir) {
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        ++n;
    }
    return n;
}

Usage usage_now() {
    Usage u;
    u.fds = entries("/proc/self/fd") - 1;  // the iterator's own descriptor
    u.threads = entries("/proc/self/task");
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) u.rss_kb = std::atol(line.c_str() + 6);
    }
    return u;
}

// With GStreamer's leaks tracer on (GST_TRACERS=leaks), shuts GStreamer
// down and counts the objects the tracer then reports alive; -1 when the
// tracer is off. Nothing may use GStreamer afterwards.
int media_objects_left() {
    const char* tracers = std::getenv("GST_TRACERS");
    if (tracers == nullptr || std::string(tracers).find("leaks") == std::string::npos) return -1;
    static std::map<std::string, int> alive;
    gst_debug_set_threshold_for_name("GST_TRACER", GST_LEVEL_TRACE);
    gst_debug_remove_log_function(gst_debug_log_default);
    GstLogFunction count = [](GstDebugCategory*, GstDebugLevel, const gchar*, const gchar*, gint,
                              GObject*, GstDebugMessage* message, gpointer) {
        const std::string text = gst_debug_message_get(message);
        const std::string key = "type-name=(string)";
        if (text.find("object-alive") == std::string::npos) return;
        const auto at = text.find(key);
        const auto from = at == std::string::npos ? at : at + key.size();
        ++alive[at == std::string::npos ? "?" : text.substr(from, text.find(',', from) - from)];
    };
    gst_debug_add_log_function(count, nullptr, nullptr);
    gst_deinit();
    int total = 0;
    for (const auto& [type, n] : alive) {
        total += n;
        std::cerr << "  alive: " << n << " " << type << "\n";
    }
    return total;
}

// Whether each timer runs, as the control last set it.
class TimerWatch final : public ControlObserver {
public:
    void timerChanged(int timer, bool enabled, int) override { on_[timer == 1 ? 0 : 1] = enabled; }
    bool any_on() const { return on_[0] || on_[1]; }

private:
    bool on_[2] = {false, false};
};

class Soak {
public:
    Soak(const SoakOptions& opt, std::vector<CoursePosture> postures, QApplication& app)
        : opt_(opt), postures_(std::move(postures)), app_(app), rng_(opt.seed) {}

    int run() {
        control_ = std::make_unique<VideoCntlWidget>();
        if (QString why; !control_->setMediaOutputs(widget_outputs(), &why)) {
            std::cerr << "strovia soak: " << why.toStdString() << "\n";
            return 2;
        }
        control_->setObserver(&timers_);
        QObject::connect(control_.get(), &VideoCntlWidget::VideoEnd, [this] { on_end(); });
        QObject::connect(control_.get(), &VideoCntlWidget::messageRequested,
                         [this](const QString& text) {
                             std::cerr << "message: " << text.toStdString() << "\n";
                             ++messages_;
                         });
        // Media failures are counted by the failures of the calls instead.
        QObject::connect(control_.get(), &VideoCntlWidget::notice, [](const QString&) {});
        control_->setResourcedir(QString::fromStdString(opt_.content));

        clock_.start();
        std::printf("soak: %zu postures, %.0f s, seed %u, report every %d programmes\n",
                    postures_.size(), opt_.seconds, opt_.seed, opt_.every);
        std::fflush(stdout);
        QTimer::singleShot(0, &app_, [this] { act(); });
        // A programme left to play to its end does not hold the run past its time.
        QTimer::singleShot(static_cast<int>(opt_.seconds * 1000), &app_, [this] {
            if (awaiting_end_) app_.exit(0);
        });
        app_.exec();
        return finish();
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    void fail(const std::string& what) {
        if (failures_++ < 10) std::cerr << "strovia soak: " << what << "\n";
    }

    // A programme: the start methods each begin one.
    // True when a programme now runs.
    bool begin(const char* method) {
        const auto& p =
            postures_[static_cast<std::size_t>(pick(static_cast<int>(postures_.size())))];
        control_->setAsanaNaME(p.name);
        ends_ = 0;
        ++programmes_;
        const std::string m = method;
        const bool ok = m == "fileOpen"  ? control_->fileOpen()
                        : m == "Preview" ? control_->Preview()
                                         : control_->Ppreview();
        // A photo preview of a video posture fails by design; anything else
        // failing on a sound course is a fault, and so is a start that
        // plays nothing.
        const bool expected_failure = m == "Ppreview" && p.fileOpen == Presentation::Video;
        const std::string name = p.name.toStdString();
        if (!ok && !expected_failure) {
            fail(m + " of " + name + " failed: error " +
                 std::to_string(control_->lastErrorNumber()) + ": " +
                 control_->lastErrorText().toStdString());
        }
        if (ok && control_->error() != VideoCntlWidget::NoError) {
            fail(m + " of " + name + ": " + control_->errorString().toStdString());
        }
        if (programmes_ % opt_.every == 0) report("");
        return ok;
    }

    void stop_and_check() {
        (void)control_->StopPlay();
        if (timers_.any_on()) fail("a timer still runs after StopPlay");
        if (control_->state() != VideoCntlWidget::Idle) fail("StopPlay left a programme playing");
    }

    // One random host call, then the next one after a random pause.
    void act() {
        if (clock_.elapsed() >= static_cast<qint64>(opt_.seconds * 1000)) {
            app_.exit(0);
            return;
        }
        const int r = pick(100);
        bool started = false;
        if (r < 30 || programmes_ == 0) {
            started = begin("fileOpen");
        } else if (r < 40) {
            started = begin("Preview");
        } else if (r < 48) {
            started = begin("Ppreview");
        } else if (r < 62) {
            (void)control_->Pause();
        } else if (r < 80) {
            (void)control_->Start();
        } else if (r < 90) {
            stop_and_check();
        }  // else: let it play on
        if (started && pick(100) < 3) {
            // Now and then a programme plays to its end undisturbed.
            awaiting_end_ = true;
            const int programme = programmes_;
            QTimer::singleShot(30000, &app_, [this, programme] {
                if (awaiting_end_ && programmes_ == programme) {
                    fail("no VideoEnd within 30 s of an undisturbed programme");
                    awaiting_end_ = false;
                    act();
                }
            });
            return;
        }
        schedule(pick(100) < 30 ? 5 + pick(45) : 50 + pick(450));
    }

    void schedule(int ms) {
        QTimer::singleShot(ms, &app_, [this] {
            if (programmes_ >= opt_.warm_up && !warm_) {
                warm_up();
                return;
            }
            act();
        });
    }

    void on_end() {
        if (++ends_ > 1) fail("a second VideoEnd for one programme");
        ++total_ends_;
        if (awaiting_end_) {
            awaiting_end_ = false;
            schedule(pick(50));
        }
    }

    // Quiet the process the same way at warm-up and at the end, so the two
    // samples compare.
    Usage settle() {
        stop_and_check();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        // Streaming threads end a little after their pipelines; give them
        // time before counting them as kept.
        // Free memory the allocator still holds is no growth of ours.
        ::malloc_trim(0);
        Usage u = usage_now();
        while (warm_ && u.threads > baseline_.threads && t.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            u = usage_now();
        }
        return u;
    }

    void warm_up() {
        warm_ = true;
        baseline_ = settle();
        warm_programmes_ = programmes_;
        report("after warm-up");
        act();
    }

    void report(const char* label) {
        const Usage u = usage_now();
        std::printf("%7.1f s  programmes %5d  ends %5d  fds %3d  threads %3d  rss %7ld kB %s\n",
                    static_cast<double>(clock_.elapsed()) / 1000.0, programmes_, total_ends_, u.fds,
                    u.threads, u.rss_kb, label);
        std::fflush(stdout);
    }

    int finish() {
        const Usage end = settle();
        report("at the end");
        if (!warm_) {
            fail("fewer programmes (" + std::to_string(programmes_) + ") than the warm-up (" +
                 std::to_string(opt_.warm_up) + "): nothing to compare");
        } else {
            const int after = programmes_ - warm_programmes_;
            const double growth =
                after > 0 ? static_cast<double>(end.rss_kb - baseline_.rss_kb) / after : 0.0;
            std::printf(
                "after warm-up: %d programmes, fds %d -> %d, threads %d -> %d, "
                "rss %ld -> %ld kB (%.2f kB per programme, limit %.0f)\n",
                after, baseline_.fds, end.fds, baseline_.threads, end.threads, baseline_.rss_kb,
                end.rss_kb, growth, opt_.max_growth_kb);
            if (end.fds > baseline_.fds) fail("descriptors grew");
            if (end.threads > baseline_.threads) fail("threads grew");
            if (opt_.max_growth_kb > 0 && growth >= opt_.max_growth_kb) fail("memory grew");
        }
        if (messages_ > 0) fail(std::to_string(messages_) + " message boxes shown");

        // Everything of ours goes; then the media framework must hold nothing.
        control_.reset();
        const int live = media_objects_left();
        if (live > 0) fail(std::to_string(live) + " media objects still alive");
        std::printf("media objects alive at the end: %s\n",
                    live < 0 ? "not traced (set GST_TRACERS=leaks)" : std::to_string(live).c_str());
        std::printf("soak %s: %d programmes, %d VideoEnd, %d failures\n",
                    failures_ == 0 ? "passed" : "FAILED", programmes_, total_ends_, failures_);
        return failures_ == 0 ? 0 : 1;
    }

    const SoakOptions& opt_;
    std::vector<CoursePosture> postures_;
    QApplication& app_;
    std::mt19937 rng_;
    TimerWatch timers_;
    std::unique_ptr<VideoCntlWidget> control_;
    QElapsedTimer clock_;
    int programmes_ = 0;
    int ends_ = 0;
    int total_ends_ = 0;
    int messages_ = 0;
    int failures_ = 0;
    bool warm_ = false;
    bool awaiting_end_ = false;
    int warm_programmes_ = 0;
    Usage baseline_;
};

int run_soak(SoakOptions opt) {
    if (opt.content.empty()) {
        DemoSpec spec{default_demo_dir(), 4, demo_mt_folder(default_demo_dir())};
        if (auto made = ensure_demo_course(spec, false); !made) {
            std::cerr << "strovia soak: error " << made.error().number << ": " << made.error().text
                      << "\n";
            return 1;
        }
        opt.content = spec.dir;
    }
    if (opt.seed == 0) {
        opt.seed = static_cast<unsigned>(
            std::chrono::steady_clock::now().time_since_epoch().count() % 1000000 + 1);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "strovia";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    std::vector<CoursePosture> postures;
    if (Course course; course.open(QString::fromStdString(opt.content))) {
        for (const auto& p : course.postures()) {
            if (p.parts > 0) postures.push_back(p);
        }
    }
    if (postures.empty()) {
        std::cerr << "strovia soak: no playable posture in " << opt.content << "\n";
        return 1;
    }
    Soak soak(opt, std::move(postures), app);
    return soak.run();
}

}  // namespace

void add_soak_command(CLI::App& app, int& exit_code) {
    auto opt = std::make_shared<SoakOptions>();
    auto* cmd = app.add_subcommand(
        "soak", "Play programmes back to back headless with random host calls, watching for leaks");
    cmd->add_option("--content", opt->content, "Course folder (default: the demo course)");
    cmd->add_option("--seconds", opt->seconds, "How long to run")
        ->capture_default_str()
        ->take_last();
    cmd->add_option("--seed", opt->seed, "Seed of the random calls (default: from the clock)");
    cmd->add_option("--every", opt->every, "Print usage every N programmes")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    cmd->add_option("--warm-up", opt->warm_up, "Programmes before the baseline is taken")
        ->capture_default_str()
        ->check(CLI::PositiveNumber)
        ->take_last();
    cmd->add_option("--max-growth-kb", opt->max_growth_kb,
                    "Resident memory growth per programme that fails (0: report only)")
        ->capture_default_str()
        ->take_last();
    cmd->callback([opt, &exit_code] { exit_code = run_soak(*opt); });
}

}  // namespace strovia::cli
