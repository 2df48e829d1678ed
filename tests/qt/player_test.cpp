// The course player as a learner meets it, on a real display (Xvfb in CI):
// keys whatever has focus, routines that go on past failures, the time of
// the programme, the window read from two metres, settings that outlive the
// process; and the monkey, which drives the window with seeded random input
// (--gtest_filter=Player.Monkey --seed N [EVENTS]). A seed that finds
// something is kept in monkey_seeds/seeds.txt.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>

#include <cstring>
#include <deque>
#include <random>

#include <gtest/gtest.h>

#include "player_course.hpp"
#include "player_window.hpp"
#include "progress_strip.hpp"
#include "routine.hpp"
#include "strovia/course.hpp"

namespace fs = std::filesystem;

namespace {

using W = strovia::VideoCntlWidget;
using player_test::pause_for;
using player_test::wait_for;
using strovia::player::PlayerWindow;
using strovia::player::Routine;
using Phase = Routine::Phase;

unsigned g_seed = 1;
int g_events = 5000;

class Player : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(player_test::make_course(root_ / "course")); }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        ini_ = QString::fromStdString((root_ / info->name()).string()) + ".ini";
        QFile::remove(ini_);
        settings_ = std::make_unique<QSettings>(ini_, QSettings::IniFormat);
    }

    // A window (on the course unless `open` is false), sound to a null sink,
    // its ends counted in ended_.
    std::unique_ptr<PlayerWindow> window(bool open = true, int rest = 0) {
        auto w = std::make_unique<PlayerWindow>(*settings_);
        EXPECT_TRUE(player_test::silent(*w->control()));
        QObject::connect(w.get(), &PlayerWindow::programme_ended, [this] { ++ended_; });
        w->set_rest_seconds(rest);
        w->resize(1000, 600);
        w->show();
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
        if (open) {
            EXPECT_TRUE(w->open_course(content()));
        }
        return w;
    }
    bool wait_end(double seconds = 20) {
        return wait_for([&] { return ended_ > 0; }, seconds);
    }
    static bool wait_state(const PlayerWindow& w, W::State s) {
        return wait_for([&] { return w.control()->state() == s; }, 10);
    }
    static void key(PlayerWindow& w, Qt::Key k, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(w.windowHandle(), k, mods);
    }
    static QString content() { return QString::fromStdString((root_ / "course").string()); }

    static inline const fs::path root_ =
        fs::temp_directory_path() / ("strovia-player-" + std::to_string(::getpid()));
    QString ini_;
    std::unique_ptr<QSettings> settings_;
    int ended_ = 0;
};

// The player from a first start to the next. The first: a wrong folder, a
// posture played through, a routine saved (not without a name), full screen
// once for that start alone, then by the learner's choice. Each setting is
// written as it changes; the next start comes back to all of it and plays
// the routine, whose rest holds while paused. Routines belong to their course.
TEST_F(Player, FromAFirstStartToTheNext) {
    {
        auto w = window(false);
        EXPECT_FALSE(w->button("play")->isEnabled());
        // A failed folder does not become the course; the number stands apart.
        EXPECT_FALSE(w->open_course(content() + "/video"));
        EXPECT_TRUE(w->problem_details().startsWith("error "));
        EXPECT_EQ(w->control()->Resourcedir(), "0");
        ASSERT_TRUE(w->button("suggest")->isVisible());
        w->button("suggest")->click();
        EXPECT_EQ(w->control()->Resourcedir(), content());
        ASSERT_EQ(w->postures()->topLevelItemCount(), 6);

        ASSERT_TRUE(w->select_posture("Tadasana"));
        ASSERT_TRUE(w->play());
        // The control holds its catalogue exclusively; a course object of the
        // same process shares that lock and still reads it.
        strovia::Course course;
        EXPECT_TRUE(course.open(content())) << course.errorString().toStdString();
        ASSERT_TRUE(wait_state(*w, W::Held));
        ASSERT_TRUE(wait_end());
        EXPECT_EQ(w->exit_status(), 0);
        // After the end nothing pauses or resumes.
        EXPECT_FALSE(w->button("pause")->isEnabled() || w->button("resume")->isEnabled());
        EXPECT_FALSE(w->pause() || w->resume());

        // Ctrl+S without a name takes the keys to the name box and says so,
        // Enter too; Esc gives them back to the player, as a saved name does.
        w->set_composed_routine({"Vrksasana", "Tadasana"});
        auto* name = w->findChild<QComboBox*>();
        auto* list = w->postures();
        for (bool by_enter : {false, true}) {
            list->setFocus();
            if (by_enter) name->setFocus();
            by_enter ? key(*w, Qt::Key_Return) : key(*w, Qt::Key_S, Qt::ControlModifier);
            EXPECT_TRUE(w->said().startsWith("Give the routine a name first"))
                << w->said().toStdString();
            EXPECT_EQ(QApplication::focusWidget(), name);
            QTest::keyClicks(QApplication::focusWidget(), "ev ");
            key(*w, Qt::Key_Escape);
            EXPECT_EQ(QApplication::focusWidget(), list);
            EXPECT_EQ(name->currentText(), "");
            const int row = list->indexOfTopLevelItem(list->currentItem());
            key(*w, Qt::Key_Down);
            EXPECT_EQ(list->indexOfTopLevelItem(list->currentItem()), row + 1);
        }
        // So does a click on the picture.
        name->setFocus();
        QTest::mouseClick(w->control()->picture1(), Qt::LeftButton);
        EXPECT_FALSE(name->hasFocus());
        list->setFocus();
        name->setFocus();
        QTest::keyClicks(QApplication::focusWidget(), "morning");
        key(*w, Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(w->saved_routines(), QStringList{"morning"});
        EXPECT_EQ(QApplication::focusWidget(), list);
        ASSERT_TRUE(w->select_posture("Vrksasana"));
        w->set_full_screen(true, false);
        {
            // What a second process would read if this one were killed now.
            QSettings read(ini_, QSettings::IniFormat);
            EXPECT_EQ(read.value("control/Resourcedir").toString(), content());
            EXPECT_EQ(read.value("control/AsanaNaME").toString(), "Tadasana");
            EXPECT_FALSE(read.value("player/fullScreen", false).toBool()) << "a one-off";
        }
        w->set_full_screen(false, false);
        // F11 leaves only the picture; a key brings the controls back, Esc
        // leaves, with the keys where they were; a double-click on the
        // picture goes back in.
        list->setFocus();
        key(*w, Qt::Key_F11);
        ASSERT_TRUE(wait_for([&] { return w->isFullScreen(); }, 5));
        pause_for(0.3);
        EXPECT_FALSE(w->postures()->isVisible() || w->button("play")->isVisible());
        EXPECT_EQ(w->control()->width(), w->screen()->geometry().width());
        key(*w, Qt::Key_Shift);
        EXPECT_TRUE(w->button("play")->isVisible());
        key(*w, Qt::Key_Escape);
        EXPECT_FALSE(w->full_screen());
        EXPECT_EQ(QApplication::focusWidget(), list);
        w->play();
        QTest::mouseDClick(w->control()->picture1(), Qt::LeftButton);
        EXPECT_TRUE(w->full_screen());
    }
    auto w = window(false, 2);
    EXPECT_TRUE(w->remembered_full_screen() &&
                QSettings(ini_, QSettings::IniFormat).value("player/fullScreen").toBool());
    EXPECT_EQ(w->control()->Resourcedir(), content());
    ASSERT_NE(w->postures()->currentItem(), nullptr);
    EXPECT_EQ(w->postures()->currentItem()->text(0), "Vrksasana");
    EXPECT_EQ(w->composed_routine(), (QStringList{"Vrksasana", "Tadasana"}));

    QStringList played;
    QObject::connect(w->routine(), &Routine::posture_due, [&](const QString& n) { played << n; });
    ended_ = 0;
    ASSERT_TRUE(w->play_routine());
    ASSERT_TRUE(wait_for([&] { return w->routine()->phase() == Phase::Resting; }, 10));
    EXPECT_EQ(ended_, 0);
    ASSERT_TRUE(w->pause());
    pause_for(1.3);
    EXPECT_EQ(w->routine()->seconds_left(), 2) << "the rest went on while paused";
    ASSERT_TRUE(w->resume());
    ASSERT_TRUE(wait_end());
    pause_for(0.3);
    EXPECT_EQ(ended_, 1);
    EXPECT_EQ(played, (QStringList{"Vrksasana", "Tadasana"}));

    // Another course (a copy of this one) has none of this course's routines.
    const fs::path other = root_ / "other";
    fs::remove_all(other);
    fs::copy(root_ / "course", other, fs::copy_options::recursive);
    ASSERT_TRUE(w->open_course(QString::fromStdString(other.string())));
    EXPECT_TRUE(w->saved_routines().isEmpty() && w->composed_routine().isEmpty());
    EXPECT_FALSE(w->load_routine("morning"));
    ASSERT_TRUE(w->open_course(content()));
    EXPECT_EQ(w->saved_routines(), QStringList{"morning"});
    EXPECT_EQ(w->composed_routine(), (QStringList{"Vrksasana", "Tadasana"}));
}

// Space pauses and resumes, and the arrows choose the posture, whatever has
// focus; a focused button never takes Space; Up on the first posture and Down
// on the last do nothing (they used to recurse until the stack ran out).
TEST_F(Player, KeysActWhateverHasFocus) {
    auto w = window();
    QTreeWidget* list = w->postures();
    const int last = list->topLevelItemCount() - 1;
    auto row = [&] { return list->indexOfTopLevelItem(list->currentItem()); };
    auto* routine = w->findChild<QListWidget*>();
    for (QWidget* focus : QList<QWidget*>{list, w->button("play"), w->button("preview"),
                                          w->button("full_screen"), routine}) {
        SCOPED_TRACE(focus->accessibleName().toStdString());
        w->select_posture("Tadasana");
        ASSERT_TRUE(w->play());
        ASSERT_TRUE(wait_state(*w, W::Held));
        focus->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), focus);
        key(*w, Qt::Key_Space);
        EXPECT_EQ(w->control()->state(), W::Paused);
        key(*w, Qt::Key_Space);
        EXPECT_TRUE(w->control()->state() != W::Paused && w->control()->state() != W::Idle);
        w->stop();
        if (focus == routine) continue;  // the arrows move in it
        for (auto [from, k, to] :
             {std::tuple{0, Qt::Key_Up, 0}, {0, Qt::Key_Down, 1}, {last, Qt::Key_Down, last}}) {
            list->setCurrentItem(list->topLevelItem(from));
            focus->setFocus();
            key(*w, k);
            EXPECT_EQ(row(), to) << from;
        }
    }
    // Letter keys act from a button too; in the name box they are letters.
    w->button("preview")->setFocus();
    w->select_posture("Vrksasana");
    key(*w, Qt::Key_Insert);
    EXPECT_EQ(w->composed_routine(), QStringList{"Vrksasana"});
    auto* name = w->findChild<QComboBox*>()->lineEdit();
    name->setFocus();
    for (Qt::Key k : {Qt::Key_A, Qt::Key_Space, Qt::Key_S}) key(*w, k);
    EXPECT_EQ(name->text(), "a s");
    EXPECT_EQ(w->control()->state(), W::Idle);
    // A preview is not paused: the control would stop watching it while its
    // video ran on, and speak to the devices of the posture played before.
    w->postures()->setFocus();
    w->select_posture("Tadasana");
    ASSERT_TRUE(w->preview());
    ASSERT_TRUE(wait_state(*w, W::Previewing));
    EXPECT_FALSE(w->button("pause")->isEnabled());
    key(*w, Qt::Key_Space);
    EXPECT_EQ(w->control()->state(), W::Previewing);
    EXPECT_TRUE(w->said().startsWith("A preview cannot be paused")) << w->said().toStdString();
    pause_for(0.2);
    EXPECT_EQ(w->problem_text().toStdString(), "");
    w->stop();
    // The window starts with the postures, not a button, in focus.
    auto fresh = window(false);
    EXPECT_EQ(QApplication::focusWidget(), fresh->postures());
}

// A routine goes on past every posture that cannot start or fails, first or
// after one that played, and ends; when nothing of it played, it ends too,
// and the player can tell (the exit status of --quit-at-end). So does a
// single posture, whose failure is said in a learner's words, with the
// number on the details line and no media command anywhere in sight.
TEST_F(Player, RoutineGoesOnPastPosturesThatFail) {
    auto w = window();
    QStringList due;
    QObject::connect(w->routine(), &Routine::posture_due, [&](const QString& n) { due << n; });
    const std::vector<std::tuple<QStringList, int, const char*>> cases = {
        {{"Vrksasana", "Broken", "Lost", "Smudged", "Nosuch", "Vrksasana", "Broken"}, 0, ""},
        {{"Broken", "Vrksasana"}, 0, ""},
        {{"Broken", "Nosuch", "Broken"}, 1, ""},
        {{"Broken"}, 1, "Broken: The steps of this posture are missing"},
        {{"Smudged"}, 1, "Smudged: A picture of this posture cannot be shown"},
        {{"Lost"}, -1, "Lost: The video of this posture cannot be played"},
        {{"Garudasana"}, -1, "Garudasana: A spoken instruction cannot be played"},
    };
    // Started again while it plays, a routine begins again at its first
    // posture (a check left from the stop once took it for one that failed).
    ASSERT_TRUE(w->play_all());
    ASSERT_TRUE(wait_state(*w, W::Held));
    ASSERT_TRUE(w->play_all());
    EXPECT_TRUE(w->routine()->phase() == Phase::Playing && w->problem_text().isEmpty())
        << w->status_text().toStdString() << w->problem_text().toStdString();
    w->stop();
    for (const auto& [postures, exit_status, headline] : cases) {
        SCOPED_TRACE(postures.join(",").toStdString());
        ended_ = 0;
        due.clear();
        if (postures.size() > 1) {
            ASSERT_TRUE(w->play_routine(postures));
        } else {
            w->select_posture(postures[0]);
            w->play();
        }
        ASSERT_TRUE(wait_end(30)) << w->status_text().toStdString();
        pause_for(0.2);
        EXPECT_EQ(ended_, 1);
        EXPECT_FALSE(w->routine()->active());
        if (postures.size() > 1) {
            EXPECT_EQ(due, postures);
        }
        if (exit_status >= 0) {
            EXPECT_EQ(w->exit_status(), exit_status);
        }
        if (*headline == 0) continue;
        EXPECT_TRUE(w->problem_text().startsWith(headline)) << w->problem_text().toStdString();
        EXPECT_TRUE(w->problem_details().startsWith("error "));
        // Paths as this file system writes them, not as the control formed them.
        EXPECT_FALSE(w->problem_details().contains('\\')) << w->problem_details().toStdString();
        for (const QString& shown : {w->problem_text(), w->status_text(), w->said()})
            EXPECT_FALSE(shown.contains("alias") || shown.contains("open ")) << shown.toStdString();
        // Where nothing played, the picture's place names the posture and
        // what failed, not the course.
        if (exit_status == 1) {
            const QString what = QString(headline).section(": ", 1);
            EXPECT_TRUE(w->idle_text().contains(postures[0]) && w->idle_text().contains(what))
                << w->idle_text().toStdString();
        }
    }
    // A failed command the control does not report itself: the device's
    // words with their number, not the command and its formed path.
    w->select_posture("Vrksasana");
    ASSERT_TRUE(w->play());
    ASSERT_TRUE(wait_state(*w, W::Ended));
    emit w->control()->notice(
        "The media command \"open /c/course\\video\\x.mpg alias video\" failed: error 301: "
        "cannot open the file: /c/course/video/x.mpg does not exist");
    EXPECT_TRUE(w->problem_text().startsWith("Vrksasana: ")) << w->problem_text().toStdString();
    EXPECT_EQ(w->problem_details().toStdString(),
              "error 301: cannot open the file: /c/course/video/x.mpg does not exist");
}

// The window opens at two thirds of the screen, a 1920 x 1080 one or a
// 1280 x 720 one, with the picture taking most of it and nothing cut (the
// course column's buttons once held it at 958 x 480 on the smaller).
TEST_F(Player, OpensAtTwoThirdsOfTheScreen) {
    auto w = window();
    const QRect free = w->screen()->availableGeometry();
    w->place_on_screen();
    pause_for(0.3);
    EXPECT_EQ(w->size(), free.size() * 2 / 3);
    for (QSize size : {QSize(1280, 720), QSize(853, 480)}) {
        SCOPED_TRACE(size.width());
        w->resize(size);
        pause_for(0.2);
        ASSERT_EQ(w->size(), size) << "the least it needs: " << w->minimumSizeHint().width() << "x"
                                   << w->minimumSizeHint().height();
        EXPECT_GT(w->control()->width(), size.width() * 2 / 3);
        EXPECT_GT(w->control()->height(), size.height() * 2 / 3);
        for (QPushButton* b : w->all_buttons())
            EXPECT_GE(b->width(), b->isVisible() ? b->minimumSizeHint().width() : 0)
                << b->text().toStdString();
    }
}

// Two metres from the screen, in full screen: the controls and the status
// in type of a thirtieth of its height, a focus ring that stands out, the
// end of a posture said with what comes next, and controls out of sight
// that do not take Enter.
TEST_F(Player, ReadableFromTwoMetres) {
    auto w = window();
    auto ring = [](QWidget* b) { return b->grab().toImage().pixelColor(1, b->height() / 2); };
    w->button("play")->setFocus();
    EXPECT_EQ(ring(w->button("play")), QColor(0x0a, 0x3c, 0x96));
    const QRect normal = w->geometry();
    w->set_full_screen(true);
    ASSERT_TRUE(wait_for([&] { return w->isFullScreen(); }, 5));
    const int least = (w->screen()->geometry().height() + 29) / 30;
    w->select_posture("Vrksasana");
    w->play();
    key(*w, Qt::Key_Shift);  // the controls come back
    w->button("play_all")->setFocus();
    pause_for(0.2);
    EXPECT_EQ(ring(w->button("play_all")), QColor(0xff, 0xc8, 0x00));
    QLabel* status = nullptr;
    for (QLabel* l : w->findChildren<QLabel*>()) {
        if (l->isVisible() && l->accessibleName() == "Status") status = l;
    }
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->text().contains("Vrksasana")) << status->text().toStdString();
    for (QWidget* shown : QList<QWidget*>{w->button("play"), w->button("pause"), w->button("stop"),
                                          w->button("full_screen"), w->progress(), status})
        EXPECT_GE(QFontInfo(shown->font()).pixelSize(), least)
            << shown->accessibleName().toStdString();
    ASSERT_TRUE(wait_end(10));
    pause_for(3.5);  // the controls hide
    EXPECT_TRUE(w->idle_text().contains("Next: Garudasana"));
    EXPECT_TRUE(w->idle_text().contains(QString("font-size:%1px").arg(least)))
        << w->idle_text().toStdString();
    // The list is out of sight: the picture's place says which posture Enter plays.
    w->select_posture("Garudasana");
    EXPECT_TRUE(w->idle_text().contains("Enter plays Garudasana")) << w->idle_text().toStdString();
    key(*w, Qt::Key_Return);
    EXPECT_FALSE(w->routine()->active()) << "Enter pressed Play all, which the learner cannot see";
    EXPECT_NE(w->control()->state(), W::Ended);
    // Leaving gives back the window as it was, though the controls were
    // last laid out in full-screen type.
    key(*w, Qt::Key_Shift);
    key(*w, Qt::Key_Escape);
    pause_for(0.3);
    EXPECT_EQ(w->geometry(), normal);
}

// Tab goes the way the eye reads the window, and the keys' overlay sits in
// the middle of the window, whole, at every size.
TEST_F(Player, TabOrderAndTheKeysOverlay) {
    auto w = window();
    w->set_composed_routine({"Tadasana", "Vrksasana"});
    w->findChild<QComboBox*>()->setCurrentText("x");
    w->findChild<QListWidget*>()->setCurrentRow(0);
    w->postures()->setFocus();
    QStringList order;
    for (int i = 0; i < 30; ++i) {
        key(*w, Qt::Key_Tab);
        const QString name = QApplication::focusWidget()->accessibleName();
        if (name == "Postures") break;
        order << name;
    }
    EXPECT_EQ(order, (QStringList{"Routine name", "Routine", "Add", "Remove", "Down", "Save",
                                  "Play routine", "Play", "Preview", "Play all", "Full screen",
                                  "Keys", "Slower", "Faster", "Mirror", "Course folder..."}));
    for (QSize size : {QSize(700, 420), QSize(1280, 720), QSize(1900, 1000)}) {
        SCOPED_TRACE(size.width());
        w->resize(size);
        w->show_help(true);
        pause_for(0.1);
        const QRect area = w->centralWidget()->rect();
        const QRect help = w->help()->geometry();
        EXPECT_TRUE(area.contains(help));
        EXPECT_LE(std::abs(help.left() - (area.width() - help.right() - 1)), 1);
        EXPECT_LE(std::abs(help.top() - (area.height() - help.bottom() - 1)), 1);
        if (area.width() > 900) {
            EXPECT_EQ(help.size(), w->help()->sizeHint()) << "cut, though it fits";
        }
    }
    key(*w, Qt::Key_Escape);
    EXPECT_TRUE(w->help()->isHidden());
}

// The monkey's last step, for the alarm to name when a step never returns
// (a blocked call cannot fail an assertion).
char g_last[256];
extern "C" void on_stall(int) {
    constexpr char head[] = "a monkey step has not returned for 60 s: ";
    if (::write(2, head, sizeof head - 1) >= 0 && ::write(2, g_last, std::strlen(g_last)) >= 0) {
    }
    std::abort();
}

// Random keys, clicks, double-clicks, wheel turns, resizes, full-screen
// toggles and routine edits, with the media playing. After every step the
// window must still answer, the strip must agree with the control's state,
// and a routine must not stand still.
struct Monkey {
    PlayerWindow& w_;
    std::mt19937 rng_;
    std::deque<std::string> log_ = {};
    QElapsedTimer standing_ = {};

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    QPoint anywhere() { return {pick(std::max(1, w_.width())), pick(std::max(1, w_.height()))}; }
    void note(const std::string& what) {
        log_.push_back(what);
        if (log_.size() > 25) log_.pop_front();
        std::snprintf(g_last, sizeof g_last, "%s\n", what.c_str());
    }

    void act() {
        // The player's own keys, keys that move between and inside controls,
        // and some that mean nothing here. Not Ctrl+O (a modal folder dialog)
        // nor Ctrl+Q (the end of the window).
        // clang-format off
        static const std::vector<QKeyCombination> keys = {
            Qt::Key_Space, Qt::Key_Space, Qt::Key_Return, Qt::KeypadModifier | Qt::Key_Enter,
            Qt::Key_Escape, Qt::Key_Up, Qt::Key_Down, Qt::Key_Up, Qt::Key_Down, Qt::Key_Left,
            Qt::Key_Right, Qt::Key_Tab, Qt::ShiftModifier | Qt::Key_Tab, Qt::Key_Home, Qt::Key_End,
            Qt::Key_PageDown, Qt::Key_V, Qt::Key_S, Qt::Key_A, Qt::Key_R, Qt::Key_N, Qt::Key_N,
            Qt::Key_Insert, Qt::Key_Delete, Qt::Key_F1, Qt::Key_F11,
            Qt::ShiftModifier | Qt::Key_Question, Qt::Key_Shift, Qt::Key_X, Qt::Key_Backspace,
            Qt::ControlModifier | Qt::Key_Up, Qt::ControlModifier | Qt::Key_Down,
            Qt::ControlModifier | Qt::Key_S, Qt::ShiftModifier | Qt::Key_Space};
        // clang-format on
        static const QStringList names = {"Tadasana", "Vrksasana", "Garudasana", "Broken",
                                          "Lost",     "Smudged",   "Nosuch"};
        QWindow* win = w_.windowHandle();
        const int roll = pick(100);
        if (roll < 50) {
            const QKeyCombination k = keys[pick(static_cast<int>(keys.size()))];
            note("key " + QKeySequence(k).toString().toStdString());
            QTest::keyClick(win, k.key(), k.keyboardModifiers());
        } else if (roll < 71) {
            // A click on the folder button would open a modal dialog.
            const QPoint p = anywhere();
            if (w_.childAt(p) == w_.button("course")) return;
            note((roll < 68 ? "click " : "double-click ") + std::to_string(p.x()) + "," +
                 std::to_string(p.y()));
            roll < 68 ? QTest::mouseClick(win, Qt::LeftButton, {}, p)
                      : QTest::mouseDClick(win, Qt::LeftButton, {}, p);
        } else if (roll < 78) {
            const QPoint p = anywhere();
            QWidget* target = w_.childAt(p) != nullptr ? w_.childAt(p) : &w_;
            const QPoint local = target->mapFrom(&w_, p);
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
            const int what = pick(6);
            if (what == 0) {
                QStringList routine;
                for (int i = pick(5); i > 0; --i) routine << names[pick(names.size())];
                note("compose " + routine.join(",").toStdString());
                w_.set_composed_routine(routine);
            } else if (what <= 2) {  // saved under names a routine may not have
                const QString name = QStringList{"", "a", "b c", "x/y", "none"}[pick(4) + what - 1];
                note((what == 1 ? "save" : "load") + (" routine '" + name.toStdString() + "'"));
                what == 1 ? w_.save_routine(name) : w_.load_routine(name);
            } else if (what == 3) {
                note("play routine");
                w_.play_routine();
            } else if (what == 4) {
                note("play all");
                w_.play_all();
            } else {
                const QString posture = names[pick(names.size() - 1)];
                note("play " + posture.toStdString());
                w_.select_posture(posture);
                w_.play();
            }
        } else {
            const int ms = 50 + pick(200);
            note("wait " + std::to_string(ms) + " ms");
            pause_for(ms / 1000.0);
        }
    }

    std::string check() {
        bool answered = false;
        QTimer::singleShot(0, &w_, [&] { answered = true; });
        if (!wait_for([&] { return answered; }, 10)) return "the window no longer answers";
        const W* c = w_.control();
        const QString strip = w_.progress()->text();
        if (c->state() == W::Idle && !strip.isEmpty() && !w_.progress()->shows_planned())
            return "nothing plays but the strip says " + strip.toStdString();
        const QString part = QString(" %1 of %2 ").arg(c->currentPart()).arg(c->partCount());
        const bool planned = c->state() == W::Ended && w_.progress()->shows_planned();
        if (c->state() != W::Idle && c->partCount() > 0 && !strip.contains(part) && !planned)
            return "the control is at" + part.toStdString() + "but the strip says " +
                   strip.toStdString();
        if (w_.status_text().isEmpty()) return "the status line is empty";
        if (w_.routine()->phase() == Phase::Resting &&
            (c->state() == W::Playing || c->state() == W::Held))
            return "the routine rests while a posture plays";
        // A routine at a posture that plays nothing, or has ended, moves
        // on; one that stands there has stalled.
        if (w_.routine()->phase() != Phase::Playing ||
            (c->state() != W::Idle && c->state() != W::Ended)) {
            standing_.invalidate();
        } else if (!standing_.isValid()) {
            standing_.start();
        } else if (standing_.elapsed() > 3000) {
            return "the routine stands at posture " + std::to_string(w_.routine()->index() + 1) +
                   ": " + w_.status_text().toStdString();
        }
        return {};
    }
};

TEST_F(Player, Monkey) {
    auto w = window(true, 1);
    // The folder dialog (Enter on the focused folder button) is a modal
    // loop of its own: the monkey leaves it as a learner would.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    closer.start(200);
    ::signal(SIGALRM, on_stall);
    Monkey monkey{*w, std::mt19937(g_seed)};
    for (int i = 0; i < g_events; ++i) {
        ::alarm(60);
        // Keys go to the window the learner sees.
        if (!w->isActiveWindow()) w->activateWindow();
        if ((i + 1) % 1000 == 0) std::fprintf(stderr, "seed %u: %d steps\n", g_seed, i + 1);
        monkey.act();
        pause_for(monkey.pick(3) / 1000.0);  // whatever runs must have a moment to run
        const std::string why = monkey.check();
        std::string recent;
        for (const auto& e : monkey.log_) recent += "  " + e + "\n";
        ASSERT_TRUE(why.empty()) << "seed " << g_seed << ", step " << i + 1 << ": " << why
                                 << "\nlast steps:\n"
                                 << recent;
    }
    ::alarm(0);
    w->stop();
}

// Time before the first play and across a routine: the course works out a
// posture's timeline from its rows and media, holds included (a missing
// file counts as the control counts it, a FIFO is refused at once); the
// strip shows the total and boxes as long as their parts before anything
// plays, and from zero at every start; a routine's total and what is left
// count its rests.
TEST_F(Player, TimeBeforeThePlayAndOfTheRoutine) {
    strovia::Course course;
    ASSERT_TRUE(course.open(content()));
    // Segment 1 is held until its 2.5 s narration ends, segment 2 is its 30
    // frames, segment 3 ends with its 0.3 s narration.
    const auto t = course.timeline("Tadasana");
    ASSERT_TRUE(t.isKnown()) << t.errorString.toStdString();
    ASSERT_EQ(t.parts.size(), 3);
    EXPECT_NEAR(t.parts[0].lengthMs, 2500, 80);
    EXPECT_EQ(t.parts[1].lengthMs, 1200);
    EXPECT_NEAR(t.parts[2].lengthMs, 300, 80);
    EXPECT_EQ(t.parts[1].startMs, t.parts[0].lengthMs);
    EXPECT_EQ(t.totalMs, t.parts[2].startMs + t.parts[2].lengthMs);
    // A narration that cannot be opened: its picture stands 3 s. A missing
    // video: its one narration alone. No photo table: nothing plays.
    EXPECT_EQ(course.timeline("Garudasana").totalMs, 3000);
    EXPECT_NEAR(course.timeline("Lost").totalMs, 300, 80);
    const auto broken = course.timeline("Broken");
    EXPECT_FALSE(broken.isKnown());
    EXPECT_NE(broken.errorNumber, 0);
    EXPECT_FALSE(course.timeline("Nosuch").isKnown());
    {
        const fs::path fifo = root_ / "fifo-course";
        fs::copy(root_ / "course", fifo, fs::copy_options::recursive);
        fs::remove(fifo / "sound" / "mp2" / "s1.mp2");
        ASSERT_EQ(::mkfifo((fifo / "sound" / "mp2" / "s1.mp2").c_str(), 0600), 0);
        strovia::Course c;
        ASSERT_TRUE(c.open(QString::fromStdString(fifo.string())));
        const auto f = c.timeline("Tadasana");
        ASSERT_TRUE(f.isKnown()) << f.errorString.toStdString();
        EXPECT_EQ(f.parts[0].lengthMs, 1200) << "the FIFO's narration counts as finished";
    }

    auto w = window();
    auto* strip = w->progress();
    ASSERT_TRUE(w->select_posture("Tadasana"));
    ASSERT_TRUE(wait_for([&] { return strip->total_ms() >= 0; }, 20));
    EXPECT_TRUE(strip->shows_planned());
    EXPECT_EQ(strip->total_ms(), t.totalMs);
    EXPECT_TRUE(
        strip->text().startsWith(QString::fromUtf8("3 segments · 0:00 of 0:04 · 0:04 left")))
        << strip->text().toStdString();
    EXPECT_GT(strip->part_rect(0).width(), 1.5 * strip->part_rect(1).width());
    EXPECT_GT(strip->part_rect(1).width(), 2 * strip->part_rect(2).width());
    ASSERT_TRUE(w->play());
    EXPECT_FALSE(strip->shows_planned());
    EXPECT_EQ(strip->part_lengths(), t.partLengths()) << "a first play knows its parts";
    EXPECT_LE(strip->left_ms(), t.totalMs);
    ASSERT_TRUE(wait_end());
    EXPECT_EQ(strip->left_ms(), 0);
    EXPECT_TRUE(strip->text().contains("0:00 left")) << strip->text().toStdString();
    // Played again, its time starts from zero.
    ended_ = 0;
    ASSERT_TRUE(w->play());
    EXPECT_LT(strip->elapsed_ms(), 500) << "the time carried over";
    EXPECT_TRUE(strip->text().contains("of 0:04")) << strip->text().toStdString();
    ASSERT_TRUE(wait_end());

    // The routine's time: postures and rests.
    const qint64 photo = course.timeline("Vrksasana").totalMs;
    const QStringList postures{"Tadasana", "Vrksasana", "Tadasana"};
    auto total_of = [&](const QString& p) { return p == "Tadasana" ? t.totalMs : photo; };
    Routine r;
    r.set_rest_seconds(5);
    EXPECT_EQ(r.time(total_of, 0).total_ms, -1) << "no routine, no time";
    r.start(postures);
    const qint64 whole = 2 * t.totalMs + photo + 10000;
    EXPECT_EQ(r.time(total_of, 1000).total_ms, whole);
    EXPECT_EQ(r.time(total_of, 1000).left_ms, 1000 + 5000 + photo + 5000 + t.totalMs);
    EXPECT_EQ(r.time(total_of, -1).left_ms, -1);
    r.posture_ended();  // resting before Vrksasana
    ASSERT_EQ(r.phase(), Routine::Phase::Resting);
    EXPECT_EQ(r.time(total_of, -1).left_ms, 5000 + photo + 5000 + t.totalMs);
    EXPECT_EQ(r.time([](const QString&) { return qint64{-1}; }, 0).total_ms, -1);
    r.stop();
    ended_ = 0;
    ASSERT_TRUE(w->play_routine(postures));
    ASSERT_TRUE(wait_for([&] { return w->status_text().contains(" left): "); }, 20))
        << w->status_text().toStdString();
    EXPECT_TRUE(w->status_text().startsWith("Routine 1 of 3 (routine 0:"))
        << w->status_text().toStdString();
    w->stop();
}

// Practice: the speed keys, again, a segment's box in the strip, the mirror,
// and going on where the learner stopped, kept with the course.
TEST_F(Player, PracticeKeysTheStripAndWhereTheLearnerStopped) {
    auto w = window();
    W* c = w->control();
    auto key = [&](Qt::Key k) { QTest::keyClick(w->windowHandle(), k); };
    for (const auto& [k, shown] : {std::pair{Qt::Key_Minus, "0.75x"},
                                   {Qt::Key_Minus, "0.5x"},
                                   {Qt::Key_Minus, "0.5x"},
                                   {Qt::Key_Plus, "0.75x"},
                                   {Qt::Key_Plus, "1x"},
                                   {Qt::Key_Equal, "1.25x"},
                                   {Qt::Key_Plus, "1.5x"},
                                   {Qt::Key_Plus, "1.5x"},
                                   {Qt::Key_Minus, "1.25x"}}) {
        key(k);
        EXPECT_EQ(w->rate_text(), shown);
        EXPECT_DOUBLE_EQ(c->playbackRate(), QString(shown).chopped(1).toDouble());
    }
    for (auto* label : w->findChildren<QLabel*>()) {
        if (label->accessibleName() == "Speed") {
            EXPECT_EQ(label->text(), "1.25x");
        }
    }
    key(Qt::Key_Minus);
    EXPECT_EQ(w->rate_text(), "1x");
    key(Qt::Key_M);
    EXPECT_TRUE(c->mirrored());
    EXPECT_TRUE(w->button("mirror")->isChecked());
    EXPECT_FALSE(w->button("again")->isEnabled()) << "nothing plays";

    // A segment's box starts the posture there; G plays the segment again.
    w->select_posture("Tadasana");
    ASSERT_TRUE(w->play());
    ASSERT_TRUE(wait_for([&] { return c->state() == W::Held; }, 10));
    EXPECT_TRUE(w->button("again")->isEnabled());
    key(Qt::Key_G);
    EXPECT_EQ(c->currentPart(), 1);
    EXPECT_EQ(c->repeatsLeft(), 1);
    QTest::mouseClick(w->progress(), Qt::LeftButton, {}, w->progress()->part_rect(1).center());
    EXPECT_EQ(c->currentPart(), 2);
    EXPECT_EQ(c->repeatsLeft(), 0);
    EXPECT_EQ(w->resume_point(), qMakePair(QString("Tadasana"), 2));
    w->stop();

    // Kept with the course for the next start: the mirror, and C goes on
    // at the segment where the learner stopped, until it plays to its end.
    w.reset();
    auto next = window();
    EXPECT_TRUE(next->control()->mirrored());
    EXPECT_EQ(next->resume_point(), qMakePair(QString("Tadasana"), 2));
    next->select_posture("Vrksasana");
    ended_ = 0;
    QList<int> parts;  // as the control said them: a busy machine may be past 2 already
    const auto seen = QObject::connect(next->control(), &W::progressChanged,
                                       [&](int current, int) { parts << current; });
    QTest::keyClick(next->windowHandle(), Qt::Key_C);
    EXPECT_EQ(next->control()->AsanaNaME(), "Tadasana");
    ASSERT_TRUE(wait_end());
    QObject::disconnect(seen);
    EXPECT_EQ(parts.value(0), 2);
    EXPECT_EQ(next->resume_point(), qMakePair(QString(), 0));
    EXPECT_FALSE(next->button("continue")->isEnabled());
    // Once another posture is chosen, the strip's boxes are its own: a
    // click starts that posture, not the one that ended.
    ASSERT_TRUE(next->select_posture("Lost"));
    ASSERT_TRUE(wait_for([&] { return next->progress()->shows_planned(); }, 20));
    QTest::mouseClick(next->progress(), Qt::LeftButton, {},
                      next->progress()->part_rect(0).center());
    EXPECT_EQ(next->control()->AsanaNaME().toStdString(), "Lost");
    next->stop();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Strovia player tests");
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) != "--seed") continue;
        g_seed = static_cast<unsigned>(std::stoul(argv[i + 1]));
        if (i + 2 < argc) g_events = std::stoi(argv[i + 2]);
    }
    const int failed = RUN_ALL_TESTS();
    QThreadPool::globalInstance()->waitForDone();
    return failed;
}
