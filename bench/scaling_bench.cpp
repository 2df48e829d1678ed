// What scaling costs: the CPU of showing a 720x576 video in Picture1's
// view at full HD against showing it at the control's design size, and the
// plain label that showed every frame as a pixmap before.
//
//   scaling_bench [--runs N] [--seconds S] [--json] [FILE.mpg]
//
// Without a file, ffmpeg makes a 720x576 MPEG-1 clip of S seconds (10) in a
// temporary folder. Each run shows a window of the size under test, opens
// the clip through the media command interpreter with the window's frame
// target, plays it to its end while a 50 ms timer asks its mode, and reads
// getrusage: the whole process (decoding, the streaming thread's copy,
// painting, handing the picture to the display) and the user-interface
// thread alone. The X server's own work is another process and not
// counted. The sizes take turns run by run, so that a change in the shared
// machine's load reaches all of them. Prints one line per size with the
// medians of N runs (3), or with --json one object for bench/run.

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "mci/interpreter.hpp"
#include "qt/label_frame_target.hpp"
#include "qt/picture_view.hpp"

namespace {

double cpu_seconds(int who) {
    rusage u{};
    getrusage(who, &u);
    const auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

// Counts the frames that reach the target before passing them on.
class Counting final : public strovia::mci::FrameTarget {
public:
    explicit Counting(strovia::mci::FrameTarget& next) : next_(next) {}
    void present(const strovia::mci::Frame& frame) override {
        ++frames;
        next_.present(frame);
    }
    std::atomic<int> frames{0};

private:
    strovia::mci::FrameTarget& next_;
};

class PaintCounter final : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

struct Mode {
    const char* name;
    QSize size;
    bool view;
    std::vector<double> cpu, ui, frames, paints, wall;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool one_run(strovia::mci::Interpreter& mci, const std::string& file, Mode& mode,
             std::int64_t handle) {
    std::unique_ptr<QLabel> window;
    if (mode.view) {
        window = std::make_unique<strovia::qt::PictureView>();
    } else {
        window = std::make_unique<QLabel>();
        window->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    window->resize(mode.size);
    window->show();
    PaintCounter painted;
    window->installEventFilter(&painted);
    {
        // Let the window map and settle before counting.
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
    }
    strovia::qt::LabelFrameTarget target(window.get());
    Counting counting(target);
    mci.register_frame_target(handle, &counting);
    painted.paints = 0;

    const double cpu0 = cpu_seconds(RUSAGE_SELF);
    const double ui0 = cpu_seconds(RUSAGE_THREAD);
    QElapsedTimer clock;
    clock.start();
    bool ok = true;
    for (const std::string& c :
         {"open \"" + file + "\" alias video type mpegVideo style child parent " +
              std::to_string(handle),
          std::string("play video")}) {
        if (auto r = mci.run(c); !r) {
            std::cerr << "scaling_bench: " << c << ": error " << r.error().number << ": "
                      << r.error().text << "\n";
            ok = false;
            break;
        }
    }
    if (ok) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto m = mci.run("status video mode");
            if (!m || *m != "playing") loop.quit();
        });
        poll.start(50);
        loop.exec();
    }
    const double cpu = cpu_seconds(RUSAGE_SELF) - cpu0;
    const double ui = cpu_seconds(RUSAGE_THREAD) - ui0;
    mode.wall.push_back(clock.elapsed() / 1000.0);
    (void)mci.run("close video");
    mci.unregister_frame_target(handle);
    QCoreApplication::processEvents();  // the last queued frame, harmless now
    mode.cpu.push_back(cpu);
    mode.ui.push_back(ui);
    mode.frames.push_back(counting.frames);
    mode.paints.push_back(painted.paints);
    std::fprintf(stderr, "  %-28s %.2f s CPU, %.2f s on the UI thread, %d frames, %d paints\n",
                 mode.name, cpu, ui, counting.frames.load(), painted.paints);
    return ok;
}

int usage(int status) {
    (status == 0 ? std::cout : std::cerr)
        << "usage: scaling_bench [--runs N] [--seconds S] [--json] [FILE.mpg]\n"
           "CPU of showing a video scaled to 1920x1080 against at 352x288 (medians of N).\n";
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    int seconds = 10;
    std::string file;
    bool json = false;
    // Read before Qt starts, so that --help works without a display.
    const std::vector<std::string> args(argv, argv + argc);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool number = true;
        if (a == "--help" || a == "-h") return usage(0);
        if (a == "--json") {
            json = true;
            continue;
        }
        if ((a == "--runs" || a == "--seconds") && i + 1 < args.size()) {
            const std::string& value = args[++i];
            number = !value.empty() && value.size() < 6 &&
                     value.find_first_not_of("0123456789") == std::string::npos;
            (a == "--runs" ? runs : seconds) = number ? std::stoi(value) : 0;
            if (!number || runs < 1 || seconds < 1) {
                std::cerr << "scaling_bench: " << a << " takes a whole number of at least 1\n";
                return 2;
            }
        } else if (!a.starts_with("-") && file.empty()) {
            file = a;
        } else {
            std::cerr << "scaling_bench: unknown argument " << a << "\n";
            return usage(2);
        }
    }
    if (!file.empty() && !std::filesystem::is_regular_file(file)) {
        std::cerr << "scaling_bench: no such file: " << file << "\n";
        return 1;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM")) {
        std::cerr << "scaling_bench: no display: run it under xvfb-run, or with "
                     "QT_QPA_PLATFORM=offscreen\n";
        return 1;
    }
    QApplication app(argc, argv);
    std::filesystem::path made_dir;
    if (file.empty()) {
        made_dir = std::filesystem::temp_directory_path() /
                   ("strovia-scaling-bench-" + std::to_string(QCoreApplication::applicationPid()));
        std::filesystem::create_directories(made_dir);
        file = (made_dir / "pal.mpg").string();
        const std::string make =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
            "testsrc2=size=720x576:rate=25:duration=" +
            std::to_string(seconds) + " -c:v mpeg1video -q:v 3 -f mpeg \"" + file + "\"";
        if (std::system(make.c_str()) != 0) {
            std::cerr << "scaling_bench: ffmpeg could not make the clip\n";
            std::filesystem::remove_all(made_dir);
            return 1;
        }
    }
    strovia::mci::Options options;
    options.audio_sink = "fakesink sync=true";  // the clip is silent: no sound device needed
    auto interpreter = strovia::mci::Interpreter::create(options);
    if (!interpreter) {
        std::cerr << "scaling_bench: the media engine did not start: error "
                  << interpreter.error().number << ": " << interpreter.error().text << "\n";
        if (!made_dir.empty()) std::filesystem::remove_all(made_dir);
        return 1;
    }
    auto& mci = **interpreter;

    std::vector<Mode> modes = {{"view at 352x288", {352, 288}, true, {}, {}, {}, {}, {}},
                               {"view at 1920x1080", {1920, 1080}, true, {}, {}, {}, {}, {}},
                               {"plain label at 352x288", {352, 288}, false, {}, {}, {}, {}, {}}};
    std::int64_t handle = 1;
    bool ok = true;
    for (int run = 0; run <= runs && ok; ++run) {  // run 0 warms caches, not counted
        std::fprintf(stderr, run == 0 ? "warm-up\n" : "run %d of %d\n", run, runs);
        for (Mode& m : modes) {
            ok = ok && one_run(mci, file, m, handle++);
            if (run == 0)
                m.cpu.clear(), m.ui.clear(), m.frames.clear(), m.paints.clear(), m.wall.clear();
        }
    }
    if (!made_dir.empty()) std::filesystem::remove_all(made_dir);
    if (!ok) return 1;
    if (json) {
        std::printf("{");
        for (const Mode& m : modes) {
            std::printf(
                "%s\"%s\": {\"cpu\": %.3f, \"ui\": %.3f, \"frames\": %.0f, "
                "\"paints\": %.0f, \"wall\": %.2f}",
                &m == &modes.front() ? "" : ", ", m.name, median(m.cpu), median(m.ui),
                median(m.frames), median(m.paints), median(m.wall));
        }
        std::printf(", \"runs\": %d}\n", runs);
        return 0;
    }
    std::printf("%-24s %10s %12s %8s %8s\n", "720x576 video shown in", "CPU s", "UI thread s",
                "frames", "paints");
    for (const Mode& m : modes) {
        std::printf("%-24s %10.2f %12.2f %8.0f %8.0f\n", m.name, median(m.cpu), median(m.ui),
                    median(m.frames), median(m.paints));
    }
    return 0;
}
