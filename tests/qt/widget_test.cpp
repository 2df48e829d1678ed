// The widget, its Designer plugin and the course player on a real display
// (Xvfb in CI), with a course made here: ffmpeg media and a catalogue from
// the project's writer.

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPluginLoader>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "player_window.hpp"
#include "progress_strip.hpp"
#include "routine.hpp"
#include "strovia/course.hpp"
#include "strovia/video_cntl_widget.hpp"
#include "wait.hpp"

namespace fs = std::filesystem;

namespace {

using strovia::test::wait_for;

void sh(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

using W = strovia::VideoCntlWidget;

// Every change of the widget's state, kind and progress, in order.
struct Reports {
    explicit Reports(W& w) {
        QObject::connect(&w, &W::stateChanged, [this](W::State s) { states.push_back(s); });
        QObject::connect(&w, &W::progressChanged,
                         [this](int n, int of) { progress.emplace_back(n, of); });
        QObject::connect(&w, &W::errorOccurred, [this](W::Error e, const QString& text) {
            errors.push_back(e);
            last_error = text;
        });
        QObject::connect(&w, &W::VideoEnd, [this] { ++ends; });
    }
    std::vector<W::State> states;
    std::vector<std::pair<int, int>> progress;
    std::vector<W::Error> errors;
    QString last_error;
    int ends = 0;
};

QColor centre_of(QLabel* label) {
    const QImage shot = label->grab().toImage();
    return shot.pixelColor(shot.width() / 2, shot.height() / 2);
}

// The test video draws frame N in red 8*N mod 256, green 100, blue 50.
int frame_red(int frame) { return (8 * frame) % 256; }

class Widget : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("strovia-widget-" + std::to_string(::getpid()));
        fs::create_directories(root_ / "video");
        fs::create_directories(root_ / "sound" / "mp2");
        const std::string ff = std::string(FFMPEG_EXE) + " -nostdin -y -loglevel error ";
        sh(ff +
           "-f lavfi -i color=c=black:size=352x288:rate=25 -t 4 "
           "-vf \"geq=r='mod(8*N,256)':g=100:b=50\" -c:v mpeg1video -q:v 2 -f mpeg " +
           (root_ / "video" / "pose.mpg").string());
        // The first narration outlasts its stretch: the video is held at
        // frame 30 for over a second.
        for (const auto& [name, seconds] :
             {std::pair{"s1", "2.5"}, {"s2", "0.3"}, {"s3", "0.3"}, {"p1", "0.4"}}) {
            sh(ff + "-f lavfi -i sine=frequency=440:duration=" + seconds + " -c:a mp2 -b:a 128k " +
               (root_ / "sound" / "mp2" / (std::string(name) + ".mp2")).string());
        }
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(QColor(10, 200, 30));
        ASSERT_TRUE(
            picture.save(QString::fromStdString((root_ / "video" / "one.bmp").string()), "BMP"));
        std::ofstream(root_ / "manifest.json") << R"({"tables": [
  {"name": "Asanas",
   "columns": [{"name": "AsanaID", "type": "Long"}, {"name": "name", "type": "Text", "size": 50},
               {"name": "Disp_Type", "type": "Text", "size": 10},
               {"name": "VideoName", "type": "Text", "size": 50}],
   "rows": [[3, "Tadasana", "Video", "pose.mpg"], [4, "Vrksasana", "Photo", null],
            [5, "Garudasana", "Photo", null]]},
  {"name": "Audio_Asana3",
   "columns": [{"name": "Filename", "type": "Text", "size": 50},
               {"name": "Action", "type": "Text", "size": 50},
               {"name": "StartPos", "type": "Integer"}, {"name": "EndPos", "type": "Integer"},
               {"name": "Filelen", "type": "Double"}],
   "rows": [["s1", "a", 0, 29, 2.5], ["s2", "b", 30, 59, 0.3], ["s3", "c", 60, 99, 0.3]]},
  {"name": "Photo_Asana4",
   "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
               {"name": "ImageName", "type": "Text", "size": 50}],
   "rows": [["p1", "one.bmp"]]},
  {"name": "Photo_Asana5",
   "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
               {"name": "ImageName", "type": "Text", "size": 50}],
   "rows": [["nosuch", "one.bmp"]]}]})";
        sh(std::string(STROVIA_EXE) + " catalogue build " + (root_ / "manifest.json").string() +
           " -o " + (root_ / "video" / "AVPelmo.mdb").string());
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static QString content() { return QString::fromStdString(root_.string()); }

    static fs::path root_;
};

fs::path Widget::root_;

TEST_F(Widget, VideoHeldAtABoundaryShowsThatFrameInPicture1) {
    strovia::VideoCntlWidget control;
    control.show();
    Reports seen(control);
    int& ends = seen.ends;
    control.setResourcedir(content());
    control.setAsanaNaME("Tadasana");
    ASSERT_TRUE(control.fileOpen()) << control.lastErrorText().toStdString();

    // The frame shown stands still for 300 ms or more only while held: the
    // playing video changes its red every 40 ms. Frame 0 (red 0) is the
    // one the start pauses on.
    QColor held;
    QColor last;
    QElapsedTimer still;
    still.start();
    const bool found = wait_for(
        [&] {
            const QColor now = centre_of(control.picture1());
            if (now != last) {
                last = now;
                still.restart();
            } else if (now.red() > 16 && still.elapsed() > 300) {
                held = now;
                return true;
            }
            return false;
        },
        15);
    ASSERT_TRUE(found) << "the video never stood still";
    std::printf("held frame: rgb(%d, %d, %d), frame 30 draws rgb(%d, 100, 50)\n", held.red(),
                held.green(), held.blue(), frame_red(30));
    // The position is the frame last drawn: held on frame 30 exactly.
    EXPECT_NEAR(held.red(), frame_red(30), 3) << "not frame 30 (neighbours differ by 8)";
    EXPECT_NEAR(held.green(), 100, 6);
    EXPECT_NEAR(held.blue(), 50, 6);
    ASSERT_TRUE(wait_for([&] { return ends > 0; }, 20));
    EXPECT_EQ(ends, 1);
    // Held only at frame 30: s2 has ended before the video reaches 60.
    EXPECT_EQ(seen.states, (std::vector<W::State>{W::Playing, W::Held, W::Playing, W::Ended}));
    EXPECT_EQ(seen.progress, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(control.programmeKind(), W::Video);
    EXPECT_GE(control.position(), 60) << "the last segment began at frame 60";
    EXPECT_TRUE(seen.errors.empty());
}

TEST_F(Widget, PhotoShowsThePictureAndPicture2StaysAsDesigned) {
    strovia::VideoCntlWidget control;
    EXPECT_EQ(control.sizeHint(), QSize(352, 288));
    EXPECT_EQ(control.picture1()->geometry(), QRect(0, 0, 352, 288));
    EXPECT_EQ(control.picture2()->geometry(), QRect(0, 287, 352, 1));
    EXPECT_EQ(control.Resourcedir(), "0");
    EXPECT_EQ(control.AsanaNaME(), "0");
    control.show();
    bool ended = false;
    QObject::connect(&control, &strovia::VideoCntlWidget::VideoEnd, [&] { ended = true; });
    control.setResourcedir(content());
    control.setAsanaNaME("vrksasana");
    ASSERT_TRUE(control.fileOpen());
    // Scaled to fit, so its colour fills the middle; the scaling tests
    // check where it lands.
    ASSERT_TRUE(wait_for([&] { return centre_of(control.picture1()) == QColor(10, 200, 30); }, 10));
    EXPECT_TRUE(wait_for([&] { return ended; }, 10));
    // Picture2 stays as designed whatever plays.
    EXPECT_EQ(control.picture2()->geometry(), QRect(0, 287, 352, 1));
    EXPECT_TRUE(control.picture2()->pixmap().isNull());
}

TEST_F(Widget, PhotoPreviewPauseAndStopReportTheirStates) {
    strovia::VideoCntlWidget control;
    Reports seen(control);
    control.setResourcedir(content());
    control.setAsanaNaME("Vrksasana");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(control.state(), W::Playing);
    EXPECT_EQ(control.programmeKind(), W::Photo);
    ASSERT_TRUE(control.Pause());
    ASSERT_TRUE(control.Start());
    ASSERT_TRUE(wait_for([&] { return seen.ends > 0; }, 10));
    EXPECT_EQ(seen.states, (std::vector<W::State>{W::Playing, W::Paused, W::Playing, W::Ended}));
    EXPECT_EQ(seen.progress, (std::vector<std::pair<int, int>>{{1, 1}}));

    // Pause and Start after the end change nothing that is reported.
    ASSERT_TRUE(control.Pause());
    ASSERT_TRUE(control.Start());
    EXPECT_EQ(control.state(), W::Ended);

    seen.states.clear();
    ASSERT_TRUE(control.Ppreview());
    EXPECT_EQ(control.programmeKind(), W::PhotoPreview);
    ASSERT_TRUE(wait_for([&] { return seen.ends > 1; }, 10));
    ASSERT_TRUE(control.StopPlay());
    EXPECT_EQ(seen.states, (std::vector<W::State>{W::Previewing, W::Ended, W::Idle}));
    EXPECT_EQ(control.programmeKind(), W::None);
    EXPECT_EQ(control.partCount(), 0);
}

// VideoEnd comes queued, so the ending tick has switched Timer1 off before
// the handler starts the next preview, which then ends with its own event.
TEST_F(Widget, APreviewStartedFromVideoEndRaisesItsOwn) {
    strovia::VideoCntlWidget control;
    Reports seen(control);
    control.setResourcedir(content());
    control.setAsanaNaME("Tadasana");
    QObject::connect(&control, &W::VideoEnd, [&] {
        if (seen.ends == 1) control.Preview();
    });
    ASSERT_TRUE(control.Preview());
    ASSERT_TRUE(wait_for([&] { return seen.ends == 2; }, 20));
    EXPECT_EQ(seen.states,
              (std::vector<W::State>{W::Previewing, W::Ended, W::Previewing, W::Ended}));
    EXPECT_EQ(control.programmeKind(), W::VideoPreview);
}

// fileOpen returns normally and nothing plays, as the control defines it;
// the widget says why.
TEST_F(Widget, FailuresTheControlPassesOverAreSignalled) {
    strovia::VideoCntlWidget control;
    Reports seen(control);
    control.setResourcedir(content() + "/nowhere");
    control.setAsanaNaME("Tadasana");
    control.invoke(0x60030002, 0);  // fileOpen by its number, reported the same
    ASSERT_EQ(control.lastErrorNumber(), 0);
    EXPECT_EQ(seen.errors, std::vector<W::Error>{W::CatalogueError});
    EXPECT_EQ(control.errorNumber(), 3024);
    EXPECT_TRUE(seen.last_error.startsWith("the catalogue cannot be opened: "))
        << seen.last_error.toStdString();
    EXPECT_EQ(control.state(), W::Idle);
    EXPECT_TRUE(seen.states.empty());

    // A narration that cannot be opened counts as finished: the programme
    // moves on and ends instead of waiting on it.
    control.setResourcedir(content());
    control.setAsanaNaME("Garudasana");
    QObject::connect(&control, &W::notice, [] {});  // no overlay
    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(seen.errors, (std::vector<W::Error>{W::CatalogueError, W::NarrationError}));
    EXPECT_EQ(control.errorNumber(), 301) << control.errorString().toStdString();
    ASSERT_TRUE(wait_for([&] { return seen.ends == 1; }, 5));
    EXPECT_EQ(control.state(), W::Ended);

    // The next start clears the error.
    control.setAsanaNaME("Vrksasana");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(control.error(), W::NoError);
    ASSERT_TRUE(control.StopPlay());
}

// The message goes to a connected messageRequested, else to the modal box.
TEST_F(Widget, UnknownPostureIsSaidByTheSignalOrTheModalBox) {
    strovia::VideoCntlWidget control;
    control.show();
    control.setResourcedir(content());
    control.setAsanaNaME("Nosuch");
    QString text, title;
    bool modal = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            title = box->windowTitle();
            modal = box->isModal();
            box->accept();
        }
    });
    poll.start(20);

    QStringList said;
    auto taken =
        QObject::connect(&control, &W::messageRequested, [&](const QString& t) { said << t; });
    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(said, QStringList{"Asana not found - Nosuch"});
    EXPECT_TRUE(text.isEmpty()) << "no box while the signal is connected";
    EXPECT_EQ(control.error(), W::NoError) << "the message says it";

    QObject::disconnect(taken);
    ASSERT_TRUE(control.fileOpen());  // returns once the box is closed
    EXPECT_EQ(text, "Asana not found - Nosuch");
    EXPECT_EQ(title, QApplication::applicationName());
    EXPECT_TRUE(modal);
    EXPECT_EQ(said.size(), 1);
}

TEST_F(Widget, PropertiesRoundTripThroughSettingsAndSignalEachWrite) {
    const QString file = QString::fromStdString((root_ / "saved.ini").string());
    {
        strovia::VideoCntlWidget control;
        int changes = 0;
        QObject::connect(&control, &strovia::VideoCntlWidget::AsanaNaMEChanged,
                         [&](const QString&) { ++changes; });
        control.setAsanaNaME("Tadasana");
        control.setAsanaNaME("Tadasana");
        EXPECT_EQ(changes, 2) << "a write of the same value still signals";
        QSettings settings(file, QSettings::IniFormat);
        ASSERT_TRUE(control.writeProperties(settings));
    }
    QSettings settings(file, QSettings::IniFormat);
    strovia::VideoCntlWidget restored(settings);
    EXPECT_EQ(restored.AsanaNaME(), "Tadasana");
    EXPECT_EQ(restored.Resourcedir(), "0");
    // The dispatch entry reaches the same members.
    EXPECT_EQ(restored.invoke(0x68030000, 1).toString(), "Tadasana");
    EXPECT_FALSE(restored.invoke(0x12345, 0).isValid());
    EXPECT_EQ(static_cast<unsigned>(restored.lastErrorNumber()), 0x80020003u);
}

TEST_F(Widget, DesignerPluginDescribesTheControl) {
    QPluginLoader loader(DESIGNER_PLUGIN);
    ASSERT_TRUE(loader.load()) << loader.errorString().toStdString();
    auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->name(), "strovia::VideoCntlWidget");
    EXPECT_EQ(plugin->group(), "Strovia");
    EXPECT_EQ(plugin->icon().availableSizes(), QList<QSize>{QSize(16, 15)});
    EXPECT_TRUE(
        plugin->domXml().contains("<property name=\"AsanaNaME\"><string>0</string></property>"));
    std::unique_ptr<QWidget> made(plugin->createWidget(nullptr));
    EXPECT_EQ(made->property("Resourcedir").toString(), "0");
}

TEST_F(Widget, PlayerListsThePosturesAndPlaysOneToItsEnd) {
    const QString file = QString::fromStdString((root_ / "player.ini").string());
    {
        QSettings settings(file, QSettings::IniFormat);
        strovia::player::PlayerWindow window(settings);
        window.show();
        EXPECT_TRUE(window.idle_text().contains("Choose the course folder"));
        EXPECT_FALSE(window.button("play")->isEnabled());

        // Plain words in the headline, the number apart; a failed folder
        // does not become the course.
        EXPECT_FALSE(window.open_course("/nonexistent/course"));
        EXPECT_EQ(window.problem_text(), "The folder /nonexistent/course does not exist.");
        EXPECT_TRUE(window.problem_details().startsWith("error "));
        const QString video = content() + "/video";
        EXPECT_FALSE(window.open_course(video));
        EXPECT_TRUE(window.problem_text().startsWith(
            "This folder holds no course: video/AVPelmo.mdb is missing"))
            << window.problem_text().toStdString();
        EXPECT_EQ(window.suggested_folder(), content());
        EXPECT_EQ(window.control()->Resourcedir(), "0");
        ASSERT_TRUE(window.button("suggest")->isVisible());
        window.button("suggest")->click();
        EXPECT_TRUE(window.problem_text().isEmpty());
        EXPECT_EQ(window.control()->Resourcedir(), content());

        ASSERT_EQ(window.postures()->topLevelItemCount(), 3);
        EXPECT_EQ(window.postures()->topLevelItem(0)->text(0), "Tadasana");
        EXPECT_EQ(window.postures()->topLevelItem(0)->text(1), "video");
        EXPECT_EQ(window.postures()->topLevelItem(1)->text(1), "photo");
        // The idle screen names the course instead of a grey box.
        EXPECT_TRUE(window.idle_text().contains(QDir(content()).dirName()));

        bool ended = false;
        QObject::connect(&window, &strovia::player::PlayerWindow::programme_ended,
                         [&] { ended = true; });
        ASSERT_TRUE(window.select_posture("Vrksasana"));
        ASSERT_TRUE(window.play());
        EXPECT_TRUE(window.status_text().startsWith("Playing Vrksasana"));
        EXPECT_TRUE(window.idle_text().isEmpty());
        EXPECT_TRUE(window.button("pause")->isEnabled());
        // The control holds its catalogue exclusively; a course object of the
        // same process shares that lock and still reads it.
        strovia::Course course;
        EXPECT_TRUE(course.open(content())) << course.errorString().toStdString();
        ASSERT_TRUE(wait_for([&] { return ended; }, 20));
        // After the end nothing pauses or resumes, and the status says so.
        EXPECT_FALSE(window.button("pause")->isEnabled());
        EXPECT_FALSE(window.button("resume")->isEnabled());
        EXPECT_FALSE(window.pause());
        EXPECT_FALSE(window.resume());
        EXPECT_EQ(window.status_text(), "Vrksasana: the programme has ended");

        // A failure while playing: the headline in words, the number apart.
        ASSERT_TRUE(window.select_posture("Garudasana"));
        window.play();
        ASSERT_TRUE(wait_for([&] { return !window.problem_text().isEmpty(); }, 10));
        EXPECT_EQ(window.problem_text(), "Garudasana: A narration cannot be opened");
        EXPECT_TRUE(window.problem_details().startsWith("error "))
            << window.problem_details().toStdString();
        window.stop();
        window.close();
    }
    // The next start comes back to the same course and posture.
    QSettings settings(file, QSettings::IniFormat);
    strovia::player::PlayerWindow again(settings);
    EXPECT_EQ(again.control()->Resourcedir(), content());
    ASSERT_NE(again.postures()->currentItem(), nullptr);
    EXPECT_EQ(again.postures()->currentItem()->text(0), "Garudasana");
}

// The strip drawn from the widget's state and progress, on screen: the
// segment done, the one playing and the one to come, and the hold.
TEST_F(Widget, PlayerProgressStripMarksTheCurrentSegment) {
    QSettings settings(QString::fromStdString((root_ / "strip.ini").string()),
                       QSettings::IniFormat);
    strovia::player::PlayerWindow window(settings);
    window.show();
    ASSERT_TRUE(window.open_course(content()));
    ASSERT_TRUE(window.select_posture("Tadasana"));
    ASSERT_TRUE(window.play());
    auto* strip = window.progress();
    ASSERT_TRUE(wait_for([&] { return window.control()->state() == W::Held; }, 10));
    EXPECT_TRUE(strip->text().startsWith("segment 1 of 3 · 0:0")) << strip->text().toStdString();
    EXPECT_TRUE(strip->text().endsWith("waiting for the narration"));
    EXPECT_EQ(window.status_text(), "Playing Tadasana: waiting for the narration");

    ASSERT_TRUE(wait_for([&] { return window.control()->currentPart() == 2; }, 10));
    EXPECT_TRUE(strip->text().startsWith("segment 2 of 3")) << strip->text().toStdString();
    EXPECT_EQ(strip->accessibleDescription(), "segment 2 of 3");
    EXPECT_EQ(window.control()->accessibleDescription(),
              "Playing Tadasana (video); segment 2 of 3");
    const QImage shot = strip->grab().toImage();
    auto at = [&](int part) { return shot.pixelColor(strip->part_rect(part).center()); };
    EXPECT_EQ(at(0), strovia::player::ProgressStrip::done_colour());
    EXPECT_EQ(at(1), strovia::player::ProgressStrip::current_colour());
    EXPECT_EQ(at(2), strovia::player::ProgressStrip::to_come_colour());
    EXPECT_TRUE(window.stop());
    EXPECT_EQ(window.status_text(), "Tadasana: stopped");
    EXPECT_TRUE(strip->text().isEmpty());
}

// A saved routine of two postures, played through: the rest between them
// counts down and holds while paused, and the end comes once.
TEST_F(Widget, PlayerRoutinePlaysThroughWithARestBetween) {
    QSettings settings(QString::fromStdString((root_ / "routine.ini").string()),
                       QSettings::IniFormat);
    QStringList played;
    std::vector<int> countdown;
    int ended = 0;
    {
        strovia::player::PlayerWindow window(settings);
        window.show();
        ASSERT_TRUE(window.open_course(content()));
        window.set_composed_routine({"Vrksasana", "Tadasana"});
        ASSERT_TRUE(window.save_routine("morning"));
    }
    strovia::player::PlayerWindow window(settings);
    window.show();
    ASSERT_TRUE(window.open_course(content()));
    EXPECT_EQ(window.composed_routine(), (QStringList{"Vrksasana", "Tadasana"}));
    auto* routine = window.routine();
    window.set_rest_seconds(2);
    QObject::connect(routine, &strovia::player::Routine::posture_due,
                     [&](const QString& name) { played << name; });
    QObject::connect(routine, &strovia::player::Routine::resting,
                     [&](int left) { countdown.push_back(left); });
    QObject::connect(&window, &strovia::player::PlayerWindow::programme_ended, [&] { ++ended; });
    ASSERT_TRUE(window.play_routine());
    EXPECT_TRUE(window.status_text().startsWith("Routine 1 of 2: Playing Vrksasana"));

    ASSERT_TRUE(
        wait_for([&] { return routine->phase() == strovia::player::Routine::Phase::Resting; }, 10));
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(window.status_text(), "Rest: Tadasana in 2 s");
    EXPECT_TRUE(window.idle_text().contains("Next: Tadasana"));
    ASSERT_TRUE(window.pause());
    wait_for([] { return false; }, 1.3);
    EXPECT_EQ(routine->seconds_left(), 2) << "the rest went on while paused";
    EXPECT_TRUE(window.button("resume")->isEnabled());
    ASSERT_TRUE(window.resume());

    ASSERT_TRUE(wait_for([&] { return ended > 0; }, 20));
    wait_for([] { return false; }, 0.3);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(played, (QStringList{"Vrksasana", "Tadasana"}));
    EXPECT_EQ(countdown.front(), 2);
    EXPECT_EQ(countdown.back(), 1);
    EXPECT_EQ(window.status_text(), "The routine has ended: 2 postures");
    EXPECT_FALSE(window.button("stop")->isEnabled());
}

// Tab reaches every button the learner can use; F11 and double-click
// toggle full screen, which leaves only the picture; Esc leaves it.
TEST_F(Widget, PlayerKeyboardReachesEveryButtonAndTogglesFullScreen) {
    QSettings settings(QString::fromStdString((root_ / "keys.ini").string()), QSettings::IniFormat);
    strovia::player::PlayerWindow window(settings);
    window.resize(900, 480);
    window.show();
    ASSERT_TRUE(window.open_course(content()));
    window.set_composed_routine({"Tadasana", "Vrksasana"});
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.postures()->setFocus();
    QSet<QWidget*> reached;
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
        reached.insert(QApplication::focusWidget());
    }
    for (QPushButton* b : window.all_buttons()) {
        if (!b->isVisible() || !b->isEnabled()) continue;
        EXPECT_TRUE(reached.contains(b)) << b->text().toStdString();
        EXPECT_FALSE(b->accessibleName().isEmpty());
    }
    EXPECT_TRUE(window.button("stop")->toolTip().endsWith("(S)"));

    const int windowed = window.control()->width();
    QTest::keyClick(window.windowHandle(), Qt::Key_F11);
    ASSERT_TRUE(window.full_screen());
    ASSERT_TRUE(wait_for([&] { return window.isFullScreen(); }, 5));
    wait_for([] { return false; }, 0.3);
    EXPECT_FALSE(window.postures()->isVisible());
    EXPECT_FALSE(window.button("play")->isVisible());
    EXPECT_GT(window.control()->width(), windowed);
    EXPECT_EQ(window.control()->width(), window.screen()->geometry().width());
    // A key brings the controls back.
    QTest::keyClick(window.windowHandle(), Qt::Key_Shift);
    EXPECT_TRUE(window.button("play")->isVisible());
    QTest::keyClick(window.windowHandle(), Qt::Key_Escape);
    EXPECT_FALSE(window.full_screen());
    EXPECT_TRUE(window.postures()->isVisible());
    QTest::mouseDClick(window.control()->picture1(), Qt::LeftButton);
    EXPECT_TRUE(window.full_screen());
    // The next start comes back to full screen.
    window.close();
    strovia::player::PlayerWindow again(settings);
    EXPECT_TRUE(again.remembered_full_screen());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Strovia widget tests");
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    // Qt spreads large scaled draws over its thread pool: let those threads
    // finish before the process (and the leak checker's stop of every
    // thread) ends.
    QThreadPool::globalInstance()->waitForDone();
    return failed;
}
