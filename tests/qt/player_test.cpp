// The course player as a learner meets it, on a real display (Xvfb in CI):
// the keyboard whatever has focus, routines that go on past failures, the
// time of the programme, the full screen read from a distance, and settings
// that outlive the process.

#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "player_course.hpp"
#include "player_window.hpp"
#include "progress_strip.hpp"
#include "routine.hpp"
#include "strovia/course.hpp"
#include "strovia/video_cntl_widget.hpp"

namespace fs = std::filesystem;

namespace {

using W = strovia::VideoCntlWidget;
using player_test::pause_for;
using player_test::wait_for;
using strovia::player::PlayerWindow;
using strovia::player::Routine;

// With --shots DIR, the screen at the moments a reviewer looks at.
QString g_shots;
void shot(const char* name) {
    if (g_shots.isEmpty()) return;
    QGuiApplication::primaryScreen()->grabWindow(0).save(g_shots + "/" + name + ".png");
}

class Player : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("strovia-player-" + std::to_string(::getpid()));
        ASSERT_TRUE(player_test::make_course(root_ / "course"));
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        ini_ = QString::fromStdString((root_ / (std::string(info->name()) + ".ini")).string());
        QFile::remove(ini_);
        settings_ = std::make_unique<QSettings>(ini_, QSettings::IniFormat);
    }

    // A window on the course, shown and active, sound to a null sink.
    std::unique_ptr<PlayerWindow> open_window(int rest = 0) {
        auto window = std::make_unique<PlayerWindow>(*settings_);
        EXPECT_TRUE(player_test::silent(*window->control()));
        window->set_rest_seconds(rest);
        window->resize(1000, 600);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        EXPECT_TRUE(window->open_course(content()));
        return window;
    }

    static QString content() { return QString::fromStdString((root_ / "course").string()); }
    static fs::path root_;
    QString ini_;
    std::unique_ptr<QSettings> settings_;
};

fs::path Player::root_;

// The player from a first start to the next. The first: a wrong folder,
// the postures, one played through with its progress strip, a failure, a
// routine saved, the keyboard and full screen. The next comes back to the
// course, the posture, full screen and the routine, which plays through with
// a rest between its postures that holds while paused.
TEST_F(Player, FromAFirstStartToTheNext) {
    {
        PlayerWindow window(*settings_);
        ASSERT_TRUE(player_test::silent(*window.control()));
        window.resize(900, 480);
        window.show();
        EXPECT_TRUE(window.idle_text().contains("Choose the course folder"));
        EXPECT_FALSE(window.button("play")->isEnabled());

        // Plain words in the headline, the number apart; a failed folder
        // does not become the course.
        EXPECT_FALSE(window.open_course("/nonexistent/course"));
        EXPECT_EQ(window.problem_text(), "The folder /nonexistent/course does not exist.");
        EXPECT_TRUE(window.problem_details().startsWith("error "));
        EXPECT_FALSE(window.open_course(content() + "/video"));
        EXPECT_TRUE(window.problem_text().startsWith(
            "This folder holds no course: video/AVPelmo.mdb is missing"))
            << window.problem_text().toStdString();
        EXPECT_EQ(window.suggested_folder(), content());
        EXPECT_EQ(window.control()->Resourcedir(), "0");
        ASSERT_TRUE(window.button("suggest")->isVisible());
        window.button("suggest")->click();
        EXPECT_TRUE(window.problem_text().isEmpty());
        EXPECT_EQ(window.control()->Resourcedir(), content());

        ASSERT_EQ(window.postures()->topLevelItemCount(), 6);
        EXPECT_EQ(window.postures()->topLevelItem(0)->text(0), "Tadasana");
        EXPECT_EQ(window.postures()->topLevelItem(0)->text(1), "video");
        EXPECT_EQ(window.postures()->topLevelItem(1)->text(1), "photo");
        EXPECT_TRUE(window.idle_text().contains("course"));

        bool ended = false;
        QObject::connect(&window, &PlayerWindow::programme_ended, [&] { ended = true; });
        ASSERT_TRUE(window.select_posture("Tadasana"));
        ASSERT_TRUE(window.play());
        EXPECT_TRUE(window.idle_text().isEmpty());
        EXPECT_TRUE(window.button("pause")->isEnabled());
        // The control holds its catalogue exclusively; a course object of the
        // same process shares that lock and still reads it.
        strovia::Course course;
        EXPECT_TRUE(course.open(content())) << course.errorString().toStdString();

        // The strip: the hold, then the segment done, the one playing and
        // the one to come. The lengths are not known before a first play.
        auto* strip = window.progress();
        ASSERT_TRUE(wait_for([&] { return window.control()->state() == W::Held; }, 10));
        EXPECT_TRUE(strip->text().startsWith(QString::fromUtf8("segment 1 of 3 · 0:0")))
            << strip->text().toStdString();
        EXPECT_TRUE(strip->text().contains(QString::fromUtf8("of — · — left")));
        EXPECT_TRUE(strip->text().endsWith("waiting for the narration"));
        EXPECT_EQ(window.status_text(), "Playing Tadasana: waiting for the narration");
        ASSERT_TRUE(wait_for([&] { return window.control()->currentPart() == 2; }, 10));
        EXPECT_EQ(strip->accessibleDescription(), "segment 2 of 3");
        EXPECT_EQ(window.control()->accessibleDescription(),
                  "Playing Tadasana (video); segment 2 of 3");
        const QImage shot = strip->grab().toImage();
        auto at = [&](int part) { return shot.pixelColor(strip->part_rect(part).center()); };
        EXPECT_EQ(at(0), strovia::player::ProgressStrip::done_colour());
        EXPECT_EQ(at(1), strovia::player::ProgressStrip::current_colour());
        EXPECT_EQ(at(2), strovia::player::ProgressStrip::to_come_colour());

        ASSERT_TRUE(wait_for([&] { return ended; }, 20));
        EXPECT_EQ(window.exit_status(), 0);
        // After the end nothing pauses or resumes, and the status says so.
        EXPECT_FALSE(window.button("pause")->isEnabled());
        EXPECT_FALSE(window.button("resume")->isEnabled());
        EXPECT_FALSE(window.pause());
        EXPECT_FALSE(window.resume());
        EXPECT_EQ(window.status_text(), "Tadasana: the programme has ended");

        window.set_composed_routine({"Vrksasana", "Tadasana"});
        ASSERT_TRUE(window.save_routine("morning"));

        // F11 and double-click toggle full screen, which leaves only the
        // picture; a key brings the controls back, Esc leaves it.
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        const int windowed = window.control()->width();
        QTest::keyClick(window.windowHandle(), Qt::Key_F11);
        ASSERT_TRUE(window.full_screen());
        ASSERT_TRUE(wait_for([&] { return window.isFullScreen(); }, 5));
        pause_for(0.3);
        EXPECT_FALSE(window.postures()->isVisible());
        EXPECT_FALSE(window.button("play")->isVisible());
        EXPECT_GT(window.control()->width(), windowed);
        EXPECT_EQ(window.control()->width(), window.screen()->geometry().width());
        QTest::keyClick(window.windowHandle(), Qt::Key_Shift);
        EXPECT_TRUE(window.button("play")->isVisible());
        QTest::keyClick(window.windowHandle(), Qt::Key_Escape);
        EXPECT_FALSE(window.full_screen());
        EXPECT_TRUE(window.postures()->isVisible());
        ASSERT_TRUE(window.select_posture("Vrksasana"));
        window.play();
        QTest::mouseDClick(window.control()->picture1(), Qt::LeftButton);
        EXPECT_TRUE(window.full_screen());
        window.close();
    }
    PlayerWindow window(*settings_);
    ASSERT_TRUE(player_test::silent(*window.control()));
    EXPECT_TRUE(window.remembered_full_screen());
    EXPECT_EQ(window.control()->Resourcedir(), content());
    ASSERT_NE(window.postures()->currentItem(), nullptr);
    EXPECT_EQ(window.postures()->currentItem()->text(0), "Vrksasana");
    EXPECT_EQ(window.composed_routine(), (QStringList{"Vrksasana", "Tadasana"}));

    window.show();
    auto* routine = window.routine();
    window.set_rest_seconds(2);
    QStringList played;
    std::vector<int> countdown;
    int ended = 0;
    QObject::connect(routine, &Routine::posture_due, [&](const QString& name) { played << name; });
    QObject::connect(routine, &Routine::resting, [&](int left) { countdown.push_back(left); });
    QObject::connect(&window, &PlayerWindow::programme_ended, [&] { ++ended; });
    ASSERT_TRUE(window.play_routine());
    EXPECT_TRUE(window.status_text().startsWith("Routine 1 of 2: Playing Vrksasana"));
    ASSERT_TRUE(wait_for([&] { return routine->phase() == Routine::Phase::Resting; }, 10));
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(window.status_text(), "Rest: Tadasana in 2 s");
    EXPECT_TRUE(window.idle_text().contains("Next: Tadasana"));
    ASSERT_TRUE(window.pause());
    pause_for(1.3);
    EXPECT_EQ(routine->seconds_left(), 2) << "the rest went on while paused";
    EXPECT_TRUE(window.button("resume")->isEnabled());
    ASSERT_TRUE(window.resume());

    ASSERT_TRUE(wait_for([&] { return ended > 0; }, 20));
    pause_for(0.3);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(played, (QStringList{"Vrksasana", "Tadasana"}));
    EXPECT_EQ(countdown.front(), 2);
    EXPECT_EQ(countdown.back(), 1);
    EXPECT_EQ(window.status_text(), "The routine has ended: 2 postures");
    EXPECT_FALSE(window.button("stop")->isEnabled());
}

// Space pauses and resumes, and the arrows choose the posture, whatever has
// focus; a focused button never takes Space; Up on the first posture and Down
// on the last do nothing (they used to recurse until the stack ran out).
TEST_F(Player, KeysActWhateverHasFocus) {
    auto window = open_window();
    QTreeWidget* list = window->postures();
    const int last = list->topLevelItemCount() - 1;
    struct Case {
        const char* focus;
        QWidget* widget;
    };
    const std::vector<Case> cases = {
        {"postures", list},
        {"play button", window->button("play")},
        {"preview button", window->button("preview")},
        {"full-screen button", window->button("full_screen")},
        {"routine", window->findChild<QListWidget*>()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.focus);
        window->select_posture("Tadasana");
        ASSERT_TRUE(window->play());
        ASSERT_TRUE(wait_for([&] { return window->control()->state() == W::Held; }, 10));
        c.widget->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), c.widget);
        QTest::keyClick(window->windowHandle(), Qt::Key_Space);
        EXPECT_EQ(window->control()->state(), W::Paused);
        QTest::keyClick(window->windowHandle(), Qt::Key_Space);
        EXPECT_NE(window->control()->state(), W::Paused);
        EXPECT_NE(window->control()->state(), W::Idle);
        window->stop();

        if (c.widget == window->findChild<QListWidget*>()) continue;  // it moves in itself
        list->setCurrentItem(list->topLevelItem(0));
        c.widget->setFocus();
        QTest::keyClick(window->windowHandle(), Qt::Key_Up);
        EXPECT_EQ(list->indexOfTopLevelItem(list->currentItem()), 0);
        QTest::keyClick(window->windowHandle(), Qt::Key_Down);
        EXPECT_EQ(list->indexOfTopLevelItem(list->currentItem()), 1);
        list->setCurrentItem(list->topLevelItem(last));
        QTest::keyClick(window->windowHandle(), Qt::Key_Down);
        EXPECT_EQ(list->indexOfTopLevelItem(list->currentItem()), last);
    }
    // The documented letter keys act from a button too; in the name box
    // they are letters of the name.
    window->button("preview")->setFocus();
    window->select_posture("Vrksasana");
    QTest::keyClick(window->windowHandle(), Qt::Key_Insert);
    EXPECT_EQ(window->composed_routine(), QStringList{"Vrksasana"});
    auto* name = window->findChild<QComboBox*>()->lineEdit();
    name->setFocus();
    for (Qt::Key k : {Qt::Key_A, Qt::Key_Space, Qt::Key_S})
        QTest::keyClick(window->windowHandle(), k);
    EXPECT_EQ(name->text(), "a s");
    EXPECT_EQ(window->control()->state(), W::Idle);
    // The window starts with the postures, not a button, in focus.
    PlayerWindow fresh(*settings_);
    fresh.show();
    fresh.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&fresh));
    EXPECT_EQ(QApplication::focusWidget(), fresh.postures());
}

// A routine goes on past every posture that cannot start or fails, first or
// after one that played, and ends; when nothing of it played, it ends too,
// and the player can tell (the exit status of --quit-at-end).
TEST_F(Player, RoutineGoesOnPastPosturesThatFail) {
    auto window = open_window();
    int ended = 0;
    QObject::connect(window.get(), &PlayerWindow::programme_ended, [&] { ++ended; });
    QStringList due;
    QObject::connect(window->routine(), &Routine::posture_due,
                     [&](const QString& name) { due << name; });
    struct Case {
        QStringList postures;
        int exit_status;
    };
    const std::vector<Case> cases = {
        {{"Vrksasana", "Broken", "Lost", "Smudged", "Nosuch", "Vrksasana", "Broken"}, 0},
        {{"Broken", "Vrksasana"}, 0},
        {{"Broken", "Nosuch", "Broken"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.postures.join(",").toStdString());
        ended = 0;
        due.clear();
        ASSERT_TRUE(window->play_routine(c.postures));
        ASSERT_TRUE(wait_for([&] { return ended > 0; }, 30)) << window->status_text().toStdString();
        pause_for(0.2);
        EXPECT_EQ(ended, 1);
        EXPECT_EQ(due, c.postures);
        EXPECT_EQ(window->exit_status(), c.exit_status);
        EXPECT_FALSE(window->routine()->active());
    }
    // A single posture that plays nothing ends as well, with its reason.
    ended = 0;
    window->select_posture("Broken");
    window->play();
    ASSERT_TRUE(wait_for([&] { return ended > 0; }, 10));
    EXPECT_EQ(window->exit_status(), 1);
    EXPECT_FALSE(window->problem_text().isEmpty());
}

// The time of the programme starts at zero at every start; once a posture
// has played through, its total and what is left are known, and its boxes
// are as wide as its parts are long.
TEST_F(Player, TimeOfTheProgrammeAndItsParts) {
    auto window = open_window();
    auto* strip = window->progress();
    bool ended = false;
    QObject::connect(window.get(), &PlayerWindow::programme_ended, [&] { ended = true; });
    window->select_posture("Tadasana");
    ASSERT_TRUE(window->play());
    EXPECT_NEAR(strip->part_rect(0).width(), strip->part_rect(2).width(), 1);
    ASSERT_TRUE(wait_for([&] { return ended; }, 20));
    ended = false;
    ASSERT_TRUE(window->play());
    EXPECT_LT(strip->elapsed_ms(), 500) << "the time carried over";
    ASSERT_EQ(strip->part_lengths().size(), 3);
    // Segment 1 waits 2.5 s for its narration, 2 is 30 frames; the end
    // comes with the last narration, 0.3 s into segment 3.
    const auto ms = strip->part_lengths();
    EXPECT_NEAR(ms[0], 2500, 500);
    EXPECT_NEAR(ms[1], 1200, 400);
    EXPECT_NEAR(ms[2], 300, 250);
    EXPECT_GT(strip->part_rect(0).width(), 1.5 * strip->part_rect(1).width());
    EXPECT_GT(strip->part_rect(1).width(), 2 * strip->part_rect(2).width());
    const qint64 total = ms[0] + ms[1] + ms[2];
    const QString expected_total =
        QString("of %1:%2").arg(total / 60000).arg(total / 1000 % 60, 2, 10, QChar('0'));
    EXPECT_TRUE(strip->text().contains(expected_total)) << strip->text().toStdString();
    EXPECT_TRUE(strip->text().contains("left")) << strip->text().toStdString();
    EXPECT_FALSE(strip->text().contains(QString::fromUtf8("—")));
    pause_for(0.3);
    shot("windowed-playing");
    ASSERT_TRUE(wait_for([&] { return ended; }, 20));
    EXPECT_TRUE(strip->text().contains("0:00 left")) << strip->text().toStdString();
}

// Two metres from the screen: the window opens at two thirds of it, the
// full-screen controls and status are a thirtieth of its height, the end of
// a posture is said on the screen with what comes next, and the focus ring
// stands out.
TEST_F(Player, ReadableFromTwoMetres) {
    auto window = open_window();
    const QRect free = window->screen()->availableGeometry();
    window->place_on_screen();
    pause_for(0.3);
    shot("windowed");
    // Not below what the window needs (on a small screen that is more).
    const QSize least_size = window->minimumSizeHint();
    EXPECT_NEAR(window->width(), std::max(free.width() * 2 / 3, least_size.width()), 2);
    EXPECT_NEAR(window->height(), std::max(free.height() * 2 / 3, least_size.height()), 2);

    window->button("play")->setFocus();
    pause_for(0.1);
    const QImage ring = window->button("play")->grab().toImage();
    EXPECT_EQ(ring.pixelColor(1, ring.height() / 2), QColor(0x0a, 0x3c, 0x96));

    bool ended = false;
    QObject::connect(window.get(), &PlayerWindow::programme_ended, [&] { ended = true; });
    window->set_full_screen(true);
    ASSERT_TRUE(wait_for([&] { return window->isFullScreen(); }, 5));
    const int least = static_cast<int>(std::ceil(window->screen()->geometry().height() / 30.0));
    window->select_posture("Vrksasana");
    window->play();
    QTest::keyClick(window->windowHandle(), Qt::Key_Shift);  // the controls come back
    for (const char* name : {"play", "pause", "stop", "full_screen"})
        EXPECT_GE(QFontInfo(window->button(name)->font()).pixelSize(), least) << name;
    EXPECT_GE(QFontInfo(window->progress()->font()).pixelSize(), least);
    EXPECT_TRUE(window->full_screen_status().contains("Playing Vrksasana"))
        << window->full_screen_status().toStdString();
    shot("full-screen-playing");
    ASSERT_TRUE(wait_for([&] { return ended; }, 10));
    pause_for(3.5);  // the controls hide
    shot("full-screen-ended");
    EXPECT_TRUE(window->idle_text().contains("Vrksasana has ended"));
    EXPECT_TRUE(window->idle_text().contains("Next: Garudasana"));
    EXPECT_TRUE(window->idle_text().contains(QString("font-size:%1px").arg(least)))
        << window->idle_text().toStdString();
}

// Failures in a learner's words, the number on the details line and no
// media command anywhere in sight.
TEST_F(Player, FailuresInALearnersWords) {
    auto window = open_window();
    struct Case {
        const char* posture;
        const char* headline;
    };
    for (const Case& c : {Case{"Garudasana", "Garudasana: A spoken instruction cannot be played"},
                          Case{"Broken", "Broken: The steps of this posture are missing"},
                          Case{"Lost", "Lost: The video of this posture cannot be played"}}) {
        SCOPED_TRACE(c.posture);
        window->select_posture(c.posture);
        window->play();
        ASSERT_TRUE(wait_for([&] { return !window->problem_text().isEmpty(); }, 10));
        pause_for(0.3);
        EXPECT_TRUE(window->problem_text().startsWith(c.headline))
            << window->problem_text().toStdString();
        EXPECT_TRUE(window->problem_details().startsWith("error "))
            << window->problem_details().toStdString();
        for (const QString& shown :
             {window->problem_text(), window->status_text(), window->said()}) {
            EXPECT_FALSE(shown.contains("alias")) << shown.toStdString();
            EXPECT_FALSE(shown.contains("open ")) << shown.toStdString();
        }
        window->stop();
    }
}

// Settings are written as they change (a killed player keeps them), a
// one-off full screen is not the learner's choice, routines belong to their
// course, and saving without a name says so.
TEST_F(Player, SettingsAndRoutinesKeptAsTheyChange) {
    auto window = open_window();
    window->select_posture("Vrksasana");
    window->play();
    window->set_full_screen(true, false);
    window->set_composed_routine({"Tadasana"});
    EXPECT_FALSE(window->save_routine(""));
    EXPECT_TRUE(window->said().startsWith("Give the routine a name first"))
        << window->said().toStdString();
    window->set_full_screen(false, false);
    QTest::keyClick(window->windowHandle(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(window->said().startsWith("Give the routine a name first"));
    ASSERT_TRUE(window->save_routine("evening"));
    {
        // What a second process would read if this one were killed now.
        QSettings read(ini_, QSettings::IniFormat);
        EXPECT_EQ(read.value("control/Resourcedir").toString(), content());
        EXPECT_EQ(read.value("control/AsanaNaME").toString(), "Vrksasana");
        EXPECT_FALSE(read.value("player/fullScreen", false).toBool());
    }
    window->set_full_screen(true);
    EXPECT_TRUE(QSettings(ini_, QSettings::IniFormat).value("player/fullScreen").toBool());
    window->set_full_screen(false);

    // Another course (a copy of this one) has none of this course's routines.
    const fs::path other = root_ / "other";
    fs::remove_all(other);
    fs::copy(root_ / "course", other, fs::copy_options::recursive);
    ASSERT_TRUE(window->open_course(QString::fromStdString(other.string())));
    EXPECT_TRUE(window->saved_routines().isEmpty());
    EXPECT_TRUE(window->composed_routine().isEmpty());
    EXPECT_FALSE(window->load_routine("evening"));
    ASSERT_TRUE(window->open_course(content()));
    EXPECT_EQ(window->saved_routines(), QStringList{"evening"});
    EXPECT_EQ(window->composed_routine(), QStringList{"Tadasana"});
}

// Tab goes the way the eye reads the window, and the keys' overlay sits in
// the middle of the window, whole, at every size.
TEST_F(Player, TabOrderAndTheKeysOverlay) {
    auto window = open_window();
    window->set_composed_routine({"Tadasana", "Vrksasana"});
    window->findChild<QComboBox*>()->setCurrentText("x");
    window->findChild<QListWidget*>()->setCurrentRow(0);
    window->postures()->setFocus();
    QStringList order;
    for (int i = 0; i < 30; ++i) {
        QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
        const QWidget* w = QApplication::focusWidget();
        const QString name = w->accessibleName();
        if (name == "Postures") break;
        order << name;
    }
    EXPECT_EQ(order, (QStringList{"Routine name", "Routine", "Add", "Remove", "Down", "Save",
                                  "Play routine", "Play", "Preview", "Play all", "Full screen",
                                  "Keys", "Course folder..."}));
    for (QSize size : {QSize(700, 420), QSize(1280, 720), QSize(1900, 1000)}) {
        SCOPED_TRACE(size.width());
        window->resize(size);
        window->show_help(true);
        pause_for(0.1);
        const QRect area = window->centralWidget()->rect();
        const QRect help = window->help()->geometry();
        EXPECT_TRUE(area.contains(help));
        EXPECT_LE(std::abs(help.left() - (area.width() - help.right() - 1)), 1);
        EXPECT_LE(std::abs(help.top() - (area.height() - help.bottom() - 1)), 1);
        if (area.width() > 900) {
            EXPECT_EQ(help.size(), window->help()->sizeHint()) << "cut although it fits";
        }
        shot(QString("keys-%1").arg(size.width()).toUtf8().constData());
    }
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(window->help()->isHidden());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Strovia player tests");
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--shots") g_shots = argv[i + 1];
    }
    const int failed = RUN_ALL_TESTS();
    QThreadPool::globalInstance()->waitForDone();
    return failed;
}
