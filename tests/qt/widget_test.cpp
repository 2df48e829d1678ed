// The widget and its Designer plugin on a real display
// (Xvfb in CI), with a course made here: ffmpeg media and a catalogue from
// the project's writer.

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
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

#include "strovia/course.hpp"
#include "strovia/video_cntl_widget.hpp"

namespace fs = std::filesystem;

namespace {

using W = strovia::VideoCntlWidget;

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

void sh(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

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

// Sound to a timed null sink, so that no machine's own output (or the
// notice that it has none) shows in a test.
void silent(W& w) {
    QString why;
    ASSERT_TRUE(w.setMediaOutputs({"fakesink sync=true", {}, {}}, &why)) << why.toStdString();
}

// The wide video and the 4:3 picture: left half one colour, right half another.
const QColor kLeft(220, 40, 40);
const QColor kRight(40, 60, 220);

// Within what MPEG-1 coding and smooth filtering change of a flat colour.
bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) <= 16 && std::abs(a.green() - b.green()) <= 16 &&
           std::abs(a.blue() - b.blue()) <= 16;
}

// What `w` shows `across` of the way along its middle line.
QColor shown_at(QWidget* w, double across) {
    const QImage shot = w->grab().toImage();
    return shot.pixelColor(static_cast<int>(shot.width() * across), shot.height() / 2);
}

class Widget : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("strovia-widget-" + std::to_string(::getpid()));
        fs::create_directories(root_ / "video");
        fs::create_directories(root_ / "sound" / "mp2");
        const std::string ff =
            std::string(FFMPEG_EXE) + " -nostdin -y -loglevel error -f lavfi -i ";
        const std::string mpeg = " -c:v mpeg1video -q:v 2 -f mpeg ";
        // Tadasana's video draws frame N in red 8*N mod 256, green 100, blue 50.
        sh(ff + "color=c=black:size=352x288:rate=25 -t 4 -vf \"geq=r='mod(8*N,256)':g=100:b=50\"" +
           mpeg + path("video/pose.mpg"));
        sh(ff +
           "color=c=0xDC2828:size=640x720:rate=25 -f lavfi -i "
           "color=c=0x283CDC:size=640x720:rate=25 -filter_complex hstack -t 3" +
           mpeg + path("video/wide.mpg"));
        // The first narration outlasts its stretch: the video is held at
        // frame 30 for over a second.
        for (const auto& [name, seconds] :
             {std::pair{"s1", "2.5"}, {"s2", "0.3"}, {"s3", "0.3"}, {"p1", "0.4"}}) {
            sh(ff + "sine=frequency=440:duration=" + seconds + " -c:a mp2 -b:a 128k " +
               path("sound/mp2/" + std::string(name) + ".mp2"));
        }
        QImage picture(1024, 768, QImage::Format_RGB32);
        picture.fill(kLeft);
        QPainter(&picture).fillRect(512, 0, 512, 768, kRight);
        ASSERT_TRUE(picture.save(QString::fromStdString(path("video/four-three.bmp")), "BMP"));
        std::ofstream(root_ / "manifest.json") << R"({"tables": [
  {"name": "Asanas", "columns": [{"name": "AsanaID", "type": "Long"},
   {"name": "name", "type": "Text", "size": 50}, {"name": "Disp_Type", "type": "Text", "size": 10},
   {"name": "VideoName", "type": "Text", "size": 50}],
   "rows": [[3, "Tadasana", "Video", "pose.mpg"], [4, "Vrksasana", "Photo", null],
            [5, "Garudasana", "Photo", null], [6, "Wide", "Video", "wide.mpg"],
            [7, "Trikonasana", "Photo", null]]},
  {"name": "Audio_Asana3", "columns": [{"name": "Filename", "type": "Text", "size": 50},
   {"name": "Action", "type": "Text", "size": 50}, {"name": "StartPos", "type": "Integer"},
   {"name": "EndPos", "type": "Integer"}, {"name": "Filelen", "type": "Double"}],
   "rows": [["s1", "a", 0, 29, 2.5], ["s2", "b", 30, 59, 0.3], ["s3", "c", 60, 99, 0.3]]},
  {"name": "Photo_Asana4", "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
   {"name": "ImageName", "type": "Text", "size": 50}], "rows": [["p1", "four-three.bmp"]]},
  {"name": "Photo_Asana5", "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
   {"name": "ImageName", "type": "Text", "size": 50}], "rows": [["nosuch", "four-three.bmp"]]},
  {"name": "Photo_Asana7", "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
   {"name": "ImageName", "type": "Text", "size": 50}],
   "rows": [["p1", "four-three.bmp"], [null, "four-three.bmp"], ["p1", "four-three.bmp"]]}]})";
        sh(std::string(STROVIA_EXE) + " catalogue build " + path("manifest.json") + " -o " +
           path("video/AVPelmo.mdb"));
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static std::string path(const std::string& file) { return (root_ / file).string(); }
    static QString content() { return QString::fromStdString(root_.string()); }

    static fs::path root_;
};

fs::path Widget::root_;

// The video's end, then a preview started from VideoEnd and one more from
// the preview's: VideoEnd comes queued, so the preview's ending tick has
// switched Timer1 off before the handler starts the next, which then ends
// with its own event.
TEST_F(Widget, VideoHeldAtABoundaryShowsThatFrameAndPreviewsFollowFromVideoEnd) {
    W control;
    silent(control);
    control.show();
    Reports seen(control);
    control.setResourcedir(content());
    control.setAsanaNaME("Tadasana");
    int position_at_end = 0;
    QObject::connect(&control, &W::VideoEnd, [&] {
        if (seen.ends == 1) position_at_end = control.position();
        if (seen.ends < 3) control.Preview();
    });
    ASSERT_TRUE(control.fileOpen()) << control.lastErrorText().toStdString();

    // Held while the first narration runs on: the video stands on frame
    // 30 exactly (its neighbours differ by 8 in red).
    ASSERT_TRUE(wait_for([&] { return control.state() == W::Held; }, 10));
    wait_for([] { return false; }, 0.3);
    const QColor held = shown_at(control.picture1(), 0.5);
    EXPECT_NEAR(held.red(), 8 * 30 % 256, 3);
    EXPECT_NEAR(held.green(), 100, 6);
    EXPECT_NEAR(held.blue(), 50, 6);
    ASSERT_TRUE(wait_for([&] { return seen.ends == 3; }, 30));
    // Held only at frame 30: s2 has ended before the video reaches 60.
    EXPECT_EQ(seen.states,
              (std::vector<W::State>{W::Playing, W::Held, W::Playing, W::Ended, W::Previewing,
                                     W::Ended, W::Previewing, W::Ended}));
    EXPECT_EQ(seen.progress, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}, {1, 1}}));
    EXPECT_GE(position_at_end, 60) << "the last segment began at frame 60";
    EXPECT_EQ(control.programmeKind(), W::VideoPreview);
    EXPECT_TRUE(seen.errors.empty());
}

TEST_F(Widget, PhotoProgrammeAndPreviewReportTheirStatesAndLeavePicture2AsDesigned) {
    W control;
    silent(control);
    control.show();
    Reports seen(control);
    control.setResourcedir(content());
    control.setAsanaNaME("vrksasana");
    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(control.programmeKind(), W::Photo);
    ASSERT_TRUE(control.Pause());
    ASSERT_TRUE(control.Start());
    // Where the picture lands the scaling test checks.
    ASSERT_TRUE(wait_for([&] { return near(shown_at(&control, 0.25), kLeft); }, 10));
    ASSERT_TRUE(wait_for([&] { return seen.ends > 0; }, 10));
    EXPECT_EQ(seen.states, (std::vector<W::State>{W::Playing, W::Paused, W::Playing, W::Ended}));
    EXPECT_EQ(seen.progress, (std::vector<std::pair<int, int>>{{1, 1}}));
    EXPECT_EQ(control.picture2()->geometry(), QRect(0, 287, 352, 1));
    EXPECT_TRUE(control.picture2()->pixmap().isNull());

    seen.states.clear();
    ASSERT_TRUE(control.Ppreview());
    EXPECT_EQ(control.programmeKind(), W::PhotoPreview);
    ASSERT_TRUE(wait_for([&] { return seen.ends > 1; }, 10));
    ASSERT_TRUE(control.StopPlay());
    EXPECT_EQ(seen.states, (std::vector<W::State>{W::Previewing, W::Ended, W::Idle}));
}

// Picture1 on a real display: the wide video and the 4:3 picture fill it
// scaled and centred on black at the design size and at full HD, or sit at
// their own size top left when the integrator asks for that. Both halves
// whole and centred, in device pixels, with black beyond them.
void expect_fitted(W& control, QSize media) {
    QCoreApplication::processEvents();
    EXPECT_EQ(control.picture1()->geometry(), control.rect());
    const QImage shot = control.grab().toImage();
    const QSize fit = media.scaled(shot.size(), Qt::KeepAspectRatio);
    const QRect r(QPoint((shot.width() - fit.width()) / 2, (shot.height() - fit.height()) / 2),
                  fit);
    const QRect in = r.adjusted(4, 4, -4, -4);
    const QRect out = r.adjusted(-2, -2, 2, 2);
    const QPoint c = r.center();
    const auto expect = [&](QPoint at, QColor want) {
        if (!shot.rect().contains(at)) return;  // no black bar on that side
        const QColor got = shot.pixelColor(at);
        EXPECT_TRUE(near(got, want))
            << "at " << at.x() << "," << at.y() << " of " << shot.width() << "x" << shot.height()
            << ": " << got.name().toStdString() << ", expected " << want.name().toStdString();
    };
    for (QPoint at : {in.topLeft(), in.bottomLeft()}) expect(at, kLeft);
    for (QPoint at : {in.topRight(), in.bottomRight()}) expect(at, kRight);
    for (QPoint at : {QPoint(out.left(), c.y()), QPoint(out.right(), c.y()),
                      QPoint(c.x(), out.top()), QPoint(c.x(), out.bottom())})
        expect(at, Qt::black);
}

// Run once more on a screen of twice the density (widget_scaling_hidpi).
TEST_F(Widget, ScalingKeepsTheAspectAtDesignSizeAndFullHdOrTheOwnSize) {
    const auto preview = [](W& control, const char* posture) {
        control.show();
        control.setResourcedir(content());
        control.setAsanaNaME(posture);
        ASSERT_TRUE(control.Preview()) << control.lastErrorText().toStdString();
        ASSERT_TRUE(wait_for([&] { return near(shown_at(&control, 0.25), kLeft); }, 10))
            << "nothing shown";
    };
    for (const auto& [posture, media] :
         {std::pair{"Wide", QSize(1280, 720)}, std::pair{"Vrksasana", QSize(1024, 768)}}) {
        SCOPED_TRACE(posture);
        W control;
        silent(control);
        EXPECT_EQ(control.sizeHint(), QSize(352, 288));
        EXPECT_EQ(control.placement(), W::Placement::ScaledToFit);
        preview(control, posture);
        expect_fitted(control, media);
        control.resize(1920, 1080);
        expect_fitted(control, media);
    }

    W control;
    silent(control);
    control.resize(1920, 1080);
    int changes = 0;
    QObject::connect(&control, &W::placementChanged, [&] { ++changes; });
    control.setPlacement(W::Placement::OriginalSize);
    control.setPlacement(W::Placement::OriginalSize);
    EXPECT_EQ(changes, 1) << "signalled on a change only";
    preview(control, "Vrksasana");
    const QImage shot = control.grab().toImage();
    const qreal dpr = shot.devicePixelRatio();
    const auto at = [&](int x, int y) { return shot.pixelColor((QPointF(x, y) * dpr).toPoint()); };
    EXPECT_EQ(at(2, 2), kLeft);
    EXPECT_EQ(at(1021, 765), kRight);
    EXPECT_NE(at(1030, 2), kRight) << "stretched";
    EXPECT_NE(at(2, 775), kLeft) << "stretched";
}

// fileOpen returns normally and nothing plays, as the control defines it;
// the widget says why.
TEST_F(Widget, FailuresTheControlPassesOverAreSignalled) {
    W control;
    silent(control);
    // Outputs that cannot be built change nothing (Vrksasana's narration
    // below still opens) and say why.
    QString why;
    EXPECT_FALSE(control.setMediaOutputs({"nosuchsink", {}, {}}, &why));
    EXPECT_TRUE(why.contains("error 305")) << why.toStdString();
    // The no-sound notice: taken back by outputs set at once, told once by
    // outputs set later with no sound sink, as a plain widget tells it here.
    int told = 0, notices = 0;
    {
        W plain;
        QObject::connect(&plain, &W::notice, [&] { ++told; });
        QCoreApplication::processEvents();
    }
    auto counting = QObject::connect(&control, &W::notice, [&] { ++notices; });
    QCoreApplication::processEvents();
    EXPECT_EQ(notices, 0);
    ASSERT_TRUE(control.setMediaOutputs({}, &why)) << why.toStdString();
    ASSERT_TRUE(control.setMediaOutputs({}, &why)) << why.toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(notices, told);
    QObject::disconnect(counting);
    silent(control);
    Reports seen(control);
    int named = 0;
    QObject::connect(&control, &W::AsanaNaMEChanged, [&](const QString&) { ++named; });
    control.setResourcedir(content() + "/nowhere");
    control.setAsanaNaME("Tadasana");
    EXPECT_EQ(control.invoke(0x68030000, 1).toString(), "Tadasana");
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
    EXPECT_EQ(named, 3) << "each write signals";
}

// The message goes to a connected messageRequested, else to the modal box.
TEST_F(Widget, UnknownPostureIsSaidByTheSignalOrTheModalBox) {
    W control;
    silent(control);
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
    Reports seen(control);
    ASSERT_TRUE(control.fileOpen());
    EXPECT_EQ(said, QStringList{"Asana not found - Nosuch"});
    EXPECT_TRUE(text.isEmpty()) << "no box while the signal is connected";
    // An error the host sees as well, in the control's words; nothing plays.
    EXPECT_EQ(seen.errors, std::vector<W::Error>{W::PostureError});
    EXPECT_EQ(control.error(), W::PostureError);
    EXPECT_EQ(control.errorNumber(), 3021);
    EXPECT_TRUE(control.errorString().endsWith("Asana not found - Nosuch"))
        << control.errorString().toStdString();
    EXPECT_EQ(control.state(), W::Idle);
    // A preview fails with the same error.
    EXPECT_FALSE(control.Preview());
    EXPECT_EQ(seen.errors, (std::vector<W::Error>{W::PostureError, W::PostureError}));
    EXPECT_EQ(control.lastErrorNumber(), 3021);

    QObject::disconnect(taken);
    ASSERT_TRUE(control.fileOpen());  // returns once the box is closed
    EXPECT_EQ(text, "Asana not found - Nosuch");
    EXPECT_EQ(title, QApplication::applicationName());
    EXPECT_TRUE(modal);
    EXPECT_EQ(said.size(), 1);
}

// What a host sees is so: progress reaches the last part that plays, Pause
// that holds nothing is not Paused, and a start without a catalogue does
// not go on with the rows of the programme before it.
TEST_F(Widget, SaysOnlyWhatIsSo) {
    {
        SCOPED_TRACE("a photo row without a narration is passed over");
        W control;
        silent(control);
        Reports seen(control);
        control.setResourcedir(content());
        control.setAsanaNaME("Trikonasana");
        ASSERT_TRUE(control.fileOpen());
        ASSERT_TRUE(wait_for([&] { return seen.ends == 1; }, 10));
        EXPECT_EQ(seen.progress, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
        EXPECT_EQ(control.state(), W::Ended);
    }
    {
        SCOPED_TRACE("Pause in a video preview that no programme left playing");
        W control;
        silent(control);
        Reports seen(control);
        control.setResourcedir(content());
        control.setAsanaNaME("Wide");
        ASSERT_TRUE(control.Preview());
        ASSERT_TRUE(control.Pause());
        EXPECT_EQ(control.state(), W::Previewing) << "the preview plays on";
        ASSERT_TRUE(control.Start());
        EXPECT_TRUE(wait_for([&] { return seen.ends == 1; }, 10)) << "and ends";
        EXPECT_EQ(seen.states, (std::vector<W::State>{W::Previewing, W::Ended}));
    }
    {
        SCOPED_TRACE("a folder without a catalogue after a preview, whose catalogue is held");
        W control;
        silent(control);
        Reports seen(control);
        int notices = 0;
        QObject::connect(&control, &W::notice, [&] { ++notices; });
        control.setResourcedir(content());
        control.setAsanaNaME("Tadasana");
        ASSERT_TRUE(control.Preview());
        ASSERT_TRUE(wait_for([&] { return seen.ends == 1; }, 10));
        control.setResourcedir(content() + "/nowhere");
        ASSERT_TRUE(control.fileOpen());
        wait_for([] { return false; }, 1.0);
        EXPECT_EQ(seen.errors, std::vector<W::Error>{W::CatalogueError});
        EXPECT_EQ(control.errorNumber(), 3024);
        EXPECT_EQ(control.state(), W::Idle);
        EXPECT_EQ(control.programmeKind(), W::None);
        EXPECT_EQ(control.partCount(), 0);
        EXPECT_EQ(notices, 0) << "nothing was opened under the new folder";
        EXPECT_EQ(seen.ends, 1) << "the preview's own only";
    }
}

TEST_F(Widget, DesignerPluginDescribesTheControl) {
    QPluginLoader loader(DESIGNER_PLUGIN);
    ASSERT_TRUE(loader.load()) << loader.errorString().toStdString();
    auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->name(), "strovia::VideoCntlWidget");
    EXPECT_TRUE(
        plugin->domXml().contains("<property name=\"AsanaNaME\"><string>0</string></property>"));
    std::unique_ptr<QWidget> made(plugin->createWidget(nullptr));
    EXPECT_EQ(made->property("Resourcedir").toString(), "0");
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
