// The monkey: the real player window driven by seeded random keys, clicks,
// double-clicks, wheel turns, resizes, full-screen toggles and routine edits,
// with the media playing. After every step the window must still answer, the
// strip must agree with the control's state, and a routine must not stand
// still. A seed that finds something is kept in monkey_seeds/seeds.txt.
//
//   player_monkey_tests                     every seed of the file
//   player_monkey_tests --seed N [--events M]   one seed

#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "player_course.hpp"
#include "player_window.hpp"
#include "progress_strip.hpp"
#include "routine.hpp"

namespace fs = std::filesystem;

namespace {

using W = strovia::VideoCntlWidget;
using strovia::player::PlayerWindow;
using strovia::player::Routine;

struct Seed {
    unsigned value = 0;
    int events = 5000;
};

std::vector<Seed> g_seeds;

// What the monkey did last, for the watchdog to tell when a step never
// returns (a blocked call cannot fail an assertion).
std::mutex g_last_mutex;
std::string g_last;
std::atomic<int> g_steps{0};

void watch_for_a_stall(unsigned seed) {
    std::thread([seed] {
        int seen = -1;
        int still = 0;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const int now = g_steps.load();
            still = now == seen ? still + 1 : 0;
            seen = now;
            if (still >= 60) {
                const std::lock_guard<std::mutex> lock(g_last_mutex);
                std::fprintf(stderr, "seed %u: step %d has not returned for 60 s: %s\n", seed,
                             now + 1, g_last.c_str());
                std::abort();
            }
        }
    }).detach();
}

std::vector<Seed> read_seeds(const char* file) {
    std::vector<Seed> seeds;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        Seed s;
        if (words >> s.value) {
            words >> s.events;
            seeds.push_back(s);
        }
    }
    return seeds;
}

struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
};

// The player's own keys, the keys that move between and inside controls,
// and some that mean nothing here. Not Ctrl+O (a modal folder dialog) nor
// Ctrl+Q (the end of the window).
const std::vector<Key> kKeys = {
    {Qt::Key_Space, {}},
    {Qt::Key_Space, {}},
    {Qt::Key_Return, {}},
    {Qt::Key_Enter, Qt::KeypadModifier},
    {Qt::Key_Escape, {}},
    {Qt::Key_Up, {}},
    {Qt::Key_Down, {}},
    {Qt::Key_Up, {}},
    {Qt::Key_Down, {}},
    {Qt::Key_Left, {}},
    {Qt::Key_Right, {}},
    {Qt::Key_Tab, {}},
    {Qt::Key_Tab, Qt::ShiftModifier},
    {Qt::Key_Home, {}},
    {Qt::Key_End, {}},
    {Qt::Key_PageDown, {}},
    {Qt::Key_V, {}},
    {Qt::Key_S, {}},
    {Qt::Key_A, {}},
    {Qt::Key_R, {}},
    {Qt::Key_N, {}},
    {Qt::Key_N, {}},
    {Qt::Key_Insert, {}},
    {Qt::Key_Delete, {}},
    {Qt::Key_F1, {}},
    {Qt::Key_F11, {}},
    {Qt::Key_Question, Qt::ShiftModifier},
    {Qt::Key_Shift, {}},
    {Qt::Key_X, {}},
    {Qt::Key_Backspace, {}},
    {Qt::Key_Up, Qt::ControlModifier},
    {Qt::Key_Down, Qt::ControlModifier},
    {Qt::Key_S, Qt::ControlModifier},
    {Qt::Key_Space, Qt::ShiftModifier},
};

class Monkey {
public:
    Monkey(PlayerWindow& window, unsigned seed) : w_(window), rng_(seed) {}

    // One random step; false with `why` when the window no longer behaves.
    bool step(std::string& why) {
        act();
        settle();
        return check(why);
    }
    std::string recent() const {
        std::string out;
        for (const auto& e : log_) out += "  " + e + "\n";
        return out;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    QPoint anywhere() { return {pick(std::max(1, w_.width())), pick(std::max(1, w_.height()))}; }
    void note(std::string what) {
        log_.push_back(std::move(what));
        if (log_.size() > 25) log_.pop_front();
        const std::lock_guard<std::mutex> lock(g_last_mutex);
        g_last = log_.back();
    }
    // A click on the folder button would open a modal dialog.
    bool harmless(QPoint at) const { return w_.childAt(at) != w_.button("course"); }

    void act() {
        QWindow* win = w_.windowHandle();
        const int roll = pick(100);
        if (roll < 50) {
            const Key k = kKeys[pick(static_cast<int>(kKeys.size()))];
            note("key " + QKeySequence(k.key | k.mods).toString().toStdString());
            QTest::keyClick(win, k.key, k.mods);
        } else if (roll < 68) {
            const QPoint at = anywhere();
            if (!harmless(at)) return;
            note("click " + std::to_string(at.x()) + "," + std::to_string(at.y()));
            QTest::mouseClick(win, Qt::LeftButton, {}, at);
        } else if (roll < 71) {
            const QPoint at = anywhere();
            if (!harmless(at)) return;
            note("double-click " + std::to_string(at.x()) + "," + std::to_string(at.y()));
            QTest::mouseDClick(win, Qt::LeftButton, {}, at);
        } else if (roll < 78) {
            const QPoint at = anywhere();
            QWidget* target = w_.childAt(at) != nullptr ? w_.childAt(at) : &w_;
            const QPoint local = target->mapFrom(&w_, at);
            const int delta = pick(2) == 0 ? 120 : -120;
            note("wheel " + std::to_string(delta));
            QWheelEvent wheel(local, target->mapToGlobal(local), {}, {0, delta}, Qt::NoButton, {},
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &wheel);
        } else if (roll < 82) {
            if (w_.full_screen()) return;
            const QSize size(320 + pick(1500), 240 + pick(800));
            note("resize " + std::to_string(size.width()) + "x" + std::to_string(size.height()));
            w_.resize(size);
        } else if (roll < 85) {
            note("full screen toggle");
            w_.set_full_screen(!w_.full_screen(), pick(2) == 0);
        } else if (roll < 99) {
            edit_routine();
        } else {
            const int ms = 50 + pick(200);
            note("wait " + std::to_string(ms) + " ms");
            player_test::pause_for(ms / 1000.0);
        }
    }

    void edit_routine() {
        static const QStringList names = {"Tadasana", "Vrksasana", "Garudasana", "Broken",
                                          "Lost",     "Smudged",   "Nosuch"};
        switch (pick(6)) {
            case 0: {
                QStringList routine;
                for (int i = pick(5); i > 0; --i) routine << names[pick(names.size())];
                note("compose " + routine.join(",").toStdString());
                w_.set_composed_routine(routine);
                break;
            }
            case 1: {
                const QString name = QStringList{"", "a", "b c", "x/y"}[pick(4)];
                note("save routine '" + name.toStdString() + "'");
                w_.save_routine(name);
                break;
            }
            case 2: {
                const QString name = QStringList{"a", "b c", "x/y", "none"}[pick(4)];
                note("load routine '" + name.toStdString() + "'");
                w_.load_routine(name);
                break;
            }
            case 3:
                note("play routine");
                w_.play_routine();
                break;
            case 4:
                note("play all");
                w_.play_all();
                break;
            default: {
                const QString name = names[pick(names.size() - 1)];
                note("play " + name.toStdString());
                w_.select_posture(name);
                w_.play();
                break;
            }
        }
    }

    void settle() {
        // Whatever runs must have a moment to run.
        const int ms = pick(3);
        player_test::pause_for(ms / 1000.0);
    }

    bool check(std::string& why) {
        bool answered = false;
        QTimer::singleShot(0, &w_, [&] { answered = true; });
        if (!player_test::wait_for([&] { return answered; }, 10)) {
            why = "the window no longer answers";
            return false;
        }
        const W* c = w_.control();
        const QString strip = w_.progress()->text();
        if (c->state() == W::Idle && !strip.isEmpty()) {
            why = "nothing plays but the strip says " + strip.toStdString();
            return false;
        }
        if (c->state() != W::Idle && c->partCount() > 0) {
            const QString part = QString(" %1 of %2 ").arg(c->currentPart()).arg(c->partCount());
            if (!strip.contains(part)) {
                why = "the control is at" + part.toStdString() + "but the strip says " +
                      strip.toStdString();
                return false;
            }
        }
        if (w_.status_text().isEmpty()) {
            why = "the status line is empty";
            return false;
        }
        // A routine at a posture that plays nothing, or has ended, moves
        // on; one that stands there has stalled.
        const bool standing = w_.routine()->phase() == Routine::Phase::Playing &&
                              (c->state() == W::Idle || c->state() == W::Ended);
        if (!standing) {
            standing_.invalidate();
        } else if (!standing_.isValid()) {
            standing_.start();
        } else if (standing_.elapsed() > 3000) {
            why = "the routine stands at posture " + std::to_string(w_.routine()->index() + 1) +
                  ": " + w_.status_text().toStdString();
            return false;
        }
        return true;
    }

    PlayerWindow& w_;
    std::mt19937 rng_;
    std::deque<std::string> log_;
    QElapsedTimer standing_;
};

class PlayerMonkey : public ::testing::TestWithParam<Seed> {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("strovia-monkey-" + std::to_string(::getpid()));
        ASSERT_TRUE(player_test::make_course(root_ / "course"));
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }
    static fs::path root_;
};

fs::path PlayerMonkey::root_;

TEST_P(PlayerMonkey, SurvivesSeededInput) {
    const Seed seed = GetParam();
    const QString ini = QString::fromStdString(
        (root_ / ("monkey-" + std::to_string(seed.value) + ".ini")).string());
    QFile::remove(ini);
    QSettings settings(ini, QSettings::IniFormat);
    PlayerWindow window(settings);
    ASSERT_TRUE(player_test::silent(*window.control()));
    window.set_rest_seconds(1);
    window.resize(1000, 600);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(window.open_course(QString::fromStdString((root_ / "course").string())));

    // The folder dialog (Enter on the focused folder button) is a modal
    // loop of its own: the monkey leaves it as a learner would.
    QTimer closer;
    closer.setInterval(200);
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    closer.start();
    Monkey monkey(window, seed.value);
    watch_for_a_stall(seed.value);
    for (int i = 0; i < seed.events; ++i) {
        std::string why;
        // Keys go to the window the learner sees.
        if (!window.isActiveWindow()) window.activateWindow();
        g_steps = i + 1;
        if ((i + 1) % 1000 == 0) std::fprintf(stderr, "seed %u: %d steps\n", seed.value, i + 1);
        ASSERT_TRUE(monkey.step(why))
            << "seed " << seed.value << ", step " << i + 1 << ": " << why << "\nlast steps:\n"
            << monkey.recent();
    }
    window.stop();
}

INSTANTIATE_TEST_SUITE_P(Seeds, PlayerMonkey, ::testing::ValuesIn(g_seeds),
                         [](const ::testing::TestParamInfo<Seed>& param) {
                             return "seed_" + std::to_string(param.param.value);
                         });

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Strovia player monkey");
    // The seeds are known before the suite is made.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seed" && i + 1 < argc) {
            g_seeds = {Seed{static_cast<unsigned>(std::stoul(argv[++i])), 5000}};
        } else if (arg == "--events" && i + 1 < argc && !g_seeds.empty()) {
            g_seeds.back().events = std::stoi(argv[++i]);
        }
    }
    if (g_seeds.empty()) g_seeds = read_seeds(MONKEY_SEEDS);
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    QThreadPool::globalInstance()->waitForDone();
    return failed;
}
