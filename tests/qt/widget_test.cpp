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
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "player_window.hpp"
#include "strovia/course.hpp"
#include "strovia/video_cntl_widget.hpp"

namespace fs = std::filesystem;

namespace {

void sh(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// Runs the event loop until `done` holds or `seconds` pass.
bool wait_for(const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

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
   "rows": [[3, "Tadasana", "Video", "pose.mpg"], [4, "Vrksasana", "Photo", null]]},
  {"name": "Audio_Asana3",
   "columns": [{"name": "Filename", "type": "Text", "size": 50},
               {"name": "Action", "type": "Text", "size": 50},
               {"name": "StartPos", "type": "Integer"}, {"name": "EndPos", "type": "Integer"},
               {"name": "Filelen", "type": "Double"}],
   "rows": [["s1", "a", 0, 29, 2.5], ["s2", "b", 30, 59, 0.3], ["s3", "c", 60, 99, 0.3]]},
  {"name": "Photo_Asana4",
   "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
               {"name": "ImageName", "type": "Text", "size": 50}],
   "rows": [["p1", "one.bmp"]]}]})";
        sh(std::string(STROVIA_EXE) + " catalogue build " + (root_ / "manifest.json").string() +
           " -o " + (root_ / "video" / "AVPelmo.mdb").string());
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static QString content() { return QString::fromStdString(root_.string()); }

    static fs::path root_;
};

fs::path Widget::root_;

TEST_F(Widget, ChildControlsAsDesignedAndPicture2NeverChanges) {
    strovia::VideoCntlWidget control;
    EXPECT_EQ(control.sizeHint(), QSize(352, 288));
    EXPECT_EQ(control.picture1()->geometry(), QRect(0, 0, 352, 288));
    EXPECT_EQ(control.picture2()->geometry(), QRect(0, 287, 352, 1));
    EXPECT_EQ(control.Resourcedir(), "0");
    EXPECT_EQ(control.AsanaNaME(), "0");
    control.show();

    int ends = 0;
    QObject::connect(&control, &strovia::VideoCntlWidget::VideoEnd, [&] { ++ends; });
    control.setResourcedir(content());
    control.setAsanaNaME("Vrksasana");
    ASSERT_TRUE(control.fileOpen()) << control.lastErrorText().toStdString();
    ASSERT_TRUE(wait_for([&] { return ends > 0; }, 20));
    EXPECT_EQ(control.picture2()->geometry(), QRect(0, 287, 352, 1));
    EXPECT_TRUE(control.picture2()->pixmap().isNull());
}

TEST_F(Widget, VideoHeldAtABoundaryShowsThatFrameInPicture1) {
    strovia::VideoCntlWidget control;
    control.show();
    int ends = 0;
    QObject::connect(&control, &strovia::VideoCntlWidget::VideoEnd, [&] { ++ends; });
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
}

TEST_F(Widget, PhotoShowsThePicturesPixelsAtItsOwnSizeTopLeft) {
    strovia::VideoCntlWidget control;
    control.show();
    bool ended = false;
    QObject::connect(&control, &strovia::VideoCntlWidget::VideoEnd, [&] { ended = true; });
    control.setResourcedir(content());
    control.setAsanaNaME("vrksasana");
    ASSERT_TRUE(control.fileOpen());
    ASSERT_TRUE(wait_for([&] { return !control.picture1()->pixmap().isNull(); }, 10));
    const QImage shot = control.picture1()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(5, 5), QColor(10, 200, 30));
    EXPECT_EQ(shot.pixelColor(63, 47), QColor(10, 200, 30));
    EXPECT_NE(shot.pixelColor(100, 100), QColor(10, 200, 30)) << "the picture was stretched";
    EXPECT_TRUE(wait_for([&] { return ended; }, 10));
}

TEST_F(Widget, UnknownPostureShowsTheModalBoxWithItsText) {
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
    ASSERT_TRUE(control.fileOpen());  // returns once the box is closed
    EXPECT_EQ(text, "Asana not found - Nosuch");
    EXPECT_EQ(title, QApplication::applicationName());
    EXPECT_TRUE(modal);
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
        window.open_course("/nonexistent/course");
        EXPECT_TRUE(window.problem_text().contains("3024")) << window.problem_text().toStdString();

        window.open_course(content());
        EXPECT_TRUE(window.problem_text().isEmpty());
        ASSERT_EQ(window.postures()->topLevelItemCount(), 2);
        EXPECT_EQ(window.postures()->topLevelItem(0)->text(0), "Tadasana");
        EXPECT_EQ(window.postures()->topLevelItem(0)->text(1), "video");
        EXPECT_EQ(window.postures()->topLevelItem(1)->text(1), "photo");

        bool ended = false;
        QObject::connect(&window, &strovia::player::PlayerWindow::programme_ended,
                         [&] { ended = true; });
        ASSERT_TRUE(window.select_posture("Vrksasana"));
        ASSERT_TRUE(window.play());
        EXPECT_TRUE(window.status_text().startsWith("Playing Vrksasana"));
        // The control holds its catalogue exclusively; a course object of the
        // same process shares that lock and still reads it.
        strovia::Course course;
        EXPECT_TRUE(course.open(content())) << course.errorString().toStdString();
        ASSERT_TRUE(wait_for([&] { return ended; }, 20));
        EXPECT_EQ(window.status_text(), "Vrksasana: the programme has ended");
        window.close();
    }
    // The next start comes back to the same course and posture.
    QSettings settings(file, QSettings::IniFormat);
    strovia::player::PlayerWindow again(settings);
    EXPECT_EQ(again.control()->Resourcedir(), content());
    ASSERT_NE(again.postures()->currentItem(), nullptr);
    EXPECT_EQ(again.postures()->currentItem()->text(0), "Vrksasana");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Strovia widget tests");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
