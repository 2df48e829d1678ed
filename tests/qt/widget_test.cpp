// The widget and its Designer plugin on a real display
// (Xvfb in CI), with a course made here: ffmpeg media and a catalogue from
// the project's writer.

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPluginLoader>
#include <QThreadPool>
#include <QTimer>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <cstdio>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "../jet/tables.hpp"
#include "player_course.hpp"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using W = strovia::VideoCntlWidget;
using player_test::wait_for;

fs::path g_root;
QString content() { return QString::fromStdString(g_root.string()); }

void sh(const std::string& command) { ASSERT_TRUE(player_test::sh(command)) << command; }

// The control on `posture` of the course, sound to a null sink, with every
// change of its state, progress and error in order.
struct Control : W {
    explicit Control(const char* posture = nullptr) {
        EXPECT_TRUE(player_test::silent(*this));
        connect(this, &W::stateChanged, [this](State s) { states.push_back(s); });
        connect(this, &W::progressChanged, [this](int n, int of) { progress.emplace_back(n, of); });
        connect(this, &W::errorOccurred, [this](Error e, const QString& text) {
            errors.push_back(e);
            last_error = text;
        });
        connect(this, &W::VideoEnd, [this] { ++ends; });
        if (posture == nullptr) return;
        setResourcedir(content());
        setAsanaNaME(posture);
    }
    std::vector<State> states;
    std::vector<std::pair<int, int>> progress;
    std::vector<Error> errors;
    QString last_error;
    int ends = 0;
};

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
        g_root = fs::temp_directory_path() / ("strovia-widget-" + std::to_string(::getpid()));
        fs::create_directories(g_root / "sound" / "mp2");
        fs::create_directories(g_root / "video");
        auto at = [&](const std::string& file) { return (g_root / file).string(); };
        const std::string ff =
            std::string(FFMPEG_EXE) + " -nostdin -y -loglevel error -f lavfi -i ";
        const std::string mpeg = " -c:v mpeg1video -q:v 2 -f mpeg ";
        // Tadasana's video draws frame N in red 8*N mod 256, green 100, blue 50.
        sh(ff + "color=c=black:size=352x288:rate=25 -t 4 -vf \"geq=r='mod(8*N,256)':g=100:b=50\"" +
           mpeg + at("video/pose.mpg"));
        sh(ff + "color=c=0xDC2828:size=640x720:rate=25 -f lavfi -i " +
           "color=c=0x283CDC:size=640x720:rate=25 -filter_complex hstack -t 3" + mpeg +
           at("video/wide.mpg"));
        // The first narration outlasts its stretch: the video is held at
        // frame 30 for over a second.
        for (const auto& [name, seconds] :
             {std::pair{"s1", "2.5"}, {"s2", "0.3"}, {"s3", "0.3"}, {"p1", "0.4"}}) {
            sh(ff + "sine=frequency=440:duration=" + seconds + " -c:a mp2 -b:a 128k " +
               at("sound/mp2/" + std::string(name) + ".mp2"));
        }
        QImage picture(1024, 768, QImage::Format_RGB32);
        picture.fill(kLeft);
        QPainter(&picture).fillRect(512, 0, 512, 768, kRight);
        ASSERT_TRUE(picture.save(QString::fromStdString(at("video/four-three.bmp")), "BMP"));
        using namespace strovia::test::tables;
        const auto rows = [](const char* text) { return json::parse(text); };
        std::ofstream(g_root / "manifest.json") << json{
            {"tables",
             {asanas(rows(R"([[3, "Tadasana", "Video", "pose.mpg"], [4, "Vrksasana", "Photo", null],
                [5, "Garudasana", "Photo", null], [6, "Wide", "Video", "wide.mpg"],
                [7, "Trikonasana", "Photo", null]])")),
              segments(3, rows(R"([["s1", "a", 0, 29, 2.5], ["s2", "b", 30, 59, 0.3],
                ["s3", "c", 60, 99, 0.3]])")),
              photos(4, rows(R"([["p1", "four-three.bmp"]])")),
              photos(5, rows(R"([["nosuch", "four-three.bmp"]])")),
              photos(7, rows(R"([["p1", "four-three.bmp"], [null, "four-three.bmp"],
                ["p1", "four-three.bmp"]])"))}}};
        sh(std::string(STROVIA_EXE) + " catalogue build " + at("manifest.json") + " -o " +
           at("video/AVPelmo.mdb"));
    }
    static void TearDownTestSuite() { fs::remove_all(g_root); }
};

// The video's end, then a preview started from VideoEnd and one more from
// the preview's: VideoEnd comes queued, so the preview's ending tick has
// switched Timer1 off before the handler starts the next, which then ends
// with its own event.
TEST_F(Widget, VideoHeldAtABoundaryThenPreviewsFollowFromVideoEnd) {
    Control c("Tadasana");
    c.show();
    int position_at_end = 0;
    QObject::connect(&c, &W::VideoEnd, [&] {
        if (c.ends == 1) position_at_end = c.position();
        if (c.ends < 3) c.Preview();
    });
    ASSERT_TRUE(c.fileOpen()) << c.lastErrorText().toStdString();
    ASSERT_TRUE(wait_for([&] { return c.ends == 3; }, 30));
    // Held only at frame 30: s2 has ended before the video reaches 60.
    EXPECT_EQ(c.states, (std::vector<W::State>{W::Playing, W::Held, W::Playing, W::Ended,
                                               W::Previewing, W::Ended, W::Previewing, W::Ended}));
    EXPECT_EQ(c.progress, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}, {1, 1}}));
    EXPECT_GE(position_at_end, 60) << "the last segment began at frame 60";
    EXPECT_TRUE(c.errors.empty());
}

TEST_F(Widget, PhotoProgrammeAndPreviewReportTheirStates) {
    Control c("vrksasana");
    c.show();
    ASSERT_TRUE(c.fileOpen());
    EXPECT_EQ(c.programmeKind(), W::Photo);
    ASSERT_TRUE(c.Pause());
    ASSERT_TRUE(c.Start());
    ASSERT_TRUE(wait_for([&] { return c.ends > 0; }, 10));
    EXPECT_EQ(c.states, (std::vector<W::State>{W::Playing, W::Paused, W::Playing, W::Ended}));
    EXPECT_EQ(c.progress, (std::vector<std::pair<int, int>>{{1, 1}}));
    c.states.clear();
    ASSERT_TRUE(c.Ppreview());
    EXPECT_EQ(c.programmeKind(), W::PhotoPreview);
    ASSERT_TRUE(wait_for([&] { return c.ends > 1; }, 10));
    ASSERT_TRUE(c.StopPlay());
    EXPECT_EQ(c.states, (std::vector<W::State>{W::Previewing, W::Ended, W::Idle}));
}

// Picture1 on a real display: the wide video and the 4:3 picture fill it
// scaled and centred on black at the design size and at full HD, or sit at
// their own size top left when the integrator asks for that. Both halves
// whole and centred, in device pixels, with black beyond them.
void expect_fitted(W& control, QSize media) {
    const QColor left = control.mirrored() ? kRight : kLeft;
    const QColor right = control.mirrored() ? kLeft : kRight;
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
    for (QPoint at : {in.topLeft(), in.bottomLeft()}) expect(at, left);
    for (QPoint at : {in.topRight(), in.bottomRight()}) expect(at, right);
    for (QPoint at : {QPoint(out.left(), c.y()), QPoint(out.right(), c.y()),
                      QPoint(c.x(), out.top()), QPoint(c.x(), out.bottom())})
        expect(at, Qt::black);
}

// Run once more on a screen of twice the density (widget_scaling_hidpi).
// Mirrored, the video and the picture land in the same place, flipped.
TEST_F(Widget, ScalingKeepsTheAspectAtDesignSizeAndFullHdOrTheOwnSize) {
    for (const auto& [posture, media, mirrored] : {std::tuple{"Wide", QSize(1280, 720), false},
                                                   {"Vrksasana", QSize(1024, 768), false},
                                                   {"Wide", QSize(1280, 720), true},
                                                   {"Vrksasana", QSize(1024, 768), true}}) {
        SCOPED_TRACE(std::string(posture) + (mirrored ? " mirrored" : ""));
        Control c(posture);
        EXPECT_EQ(c.sizeHint(), QSize(352, 288));
        int flips = 0;
        QObject::connect(&c, &W::mirroredChanged, [&] { ++flips; });
        c.setMirrored(mirrored);
        c.setMirrored(mirrored);
        EXPECT_EQ(flips, mirrored ? 1 : 0) << "signalled on a change only";
        c.show();
        ASSERT_TRUE(c.Preview()) << c.lastErrorText().toStdString();
        const QColor first = mirrored ? kRight : kLeft;
        ASSERT_TRUE(wait_for([&] { return near(shown_at(&c, 0.25), first); }, 10))
            << "nothing shown";
        expect_fitted(c, media);
        c.resize(1920, 1080);
        expect_fitted(c, media);
        if (posture != std::string("Vrksasana") || mirrored) continue;
        int changes = 0;
        QObject::connect(&c, &W::placementChanged, [&] { ++changes; });
        c.setPlacement(W::Placement::OriginalSize);
        c.setPlacement(W::Placement::OriginalSize);
        EXPECT_EQ(changes, 1) << "signalled on a change only";
        QCoreApplication::processEvents();
        const QImage shot = c.grab().toImage();
        const qreal dpr = shot.devicePixelRatio();
        const auto at = [&](int x, int y) {
            return shot.pixelColor((QPointF(x, y) * dpr).toPoint());
        };
        EXPECT_EQ(at(2, 2), kLeft);
        EXPECT_EQ(at(1021, 765), kRight);
        EXPECT_NE(at(1030, 2), kRight) << "stretched";
        EXPECT_NE(at(2, 775), kLeft) << "stretched";
    }
}

// fileOpen returns normally and nothing plays, as the control defines it;
// the widget says why.
TEST_F(Widget, FailuresTheControlPassesOverAreSignalled) {
    Control c;
    // Outputs that cannot be built change nothing (Garudasana's picture
    // below still shows) and say why.
    QString why;
    EXPECT_FALSE(c.setMediaOutputs({"nosuchsink", {}, {}}, &why));
    EXPECT_TRUE(why.contains("error 305")) << why.toStdString();
    // The no-sound notice: taken back by outputs set at once (none so far),
    // told once by outputs set twice later with no sound sink, as a plain
    // widget tells it.
    int told = 0, notices = 0;
    for (W* w : {static_cast<W*>(new W), static_cast<W*>(&c)}) {
        auto counting = QObject::connect(w, &W::notice, [&, w] { ++(w == &c ? notices : told); });
        QCoreApplication::processEvents();
        if (w == &c) {
            EXPECT_EQ(notices, 0);
            for (int i = 0; i < 2; ++i) ASSERT_TRUE(c.setMediaOutputs({}, &why));
            QCoreApplication::processEvents();
            QObject::disconnect(counting);
        } else {
            delete w;
        }
    }
    EXPECT_EQ(notices, told);
    ASSERT_TRUE(player_test::silent(c));
    c.errors.clear();
    c.setResourcedir(content() + "/nowhere");
    c.setAsanaNaME("Tadasana");
    c.invoke(0x60030002, 0);  // fileOpen by its number, reported the same
    ASSERT_EQ(c.lastErrorNumber(), 0);
    EXPECT_EQ(c.errors, std::vector<W::Error>{W::CatalogueError});
    EXPECT_EQ(c.errorNumber(), 3024);
    EXPECT_TRUE(c.last_error.startsWith("the catalogue cannot be opened: "))
        << c.last_error.toStdString();
    EXPECT_EQ(c.state(), W::Idle);
    EXPECT_TRUE(c.states.empty());

    // A narration that cannot be opened counts as finished: the programme
    // moves on and ends instead of waiting on it.
    c.setResourcedir(content());
    c.setAsanaNaME("Garudasana");
    QObject::connect(&c, &W::notice, [] {});  // no overlay
    ASSERT_TRUE(c.fileOpen());
    EXPECT_EQ(c.errors, (std::vector<W::Error>{W::CatalogueError, W::NarrationError}));
    EXPECT_EQ(c.errorNumber(), 301) << c.errorString().toStdString();
    ASSERT_TRUE(wait_for([&] { return c.ends == 1; }, 5));
    EXPECT_EQ(c.state(), W::Ended);
    // The next start clears the error.
    c.setAsanaNaME("Vrksasana");
    ASSERT_TRUE(c.fileOpen());
    EXPECT_EQ(c.error(), W::NoError);
    ASSERT_TRUE(c.StopPlay());
}

// The message goes to a connected messageRequested, else to the modal box;
// either way it is an error the host sees, and nothing plays.
TEST_F(Widget, UnknownPostureIsSaidByTheSignalOrTheModalBox) {
    Control c("Nosuch");
    c.show();
    QString boxed;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxed = box->text();
            box->accept();
        }
    });
    poll.start(20);
    QStringList said;
    auto taken = QObject::connect(&c, &W::messageRequested, [&](const QString& t) { said << t; });
    ASSERT_TRUE(c.fileOpen());
    EXPECT_EQ(said, QStringList{"Asana not found - Nosuch"});
    EXPECT_TRUE(boxed.isEmpty()) << "no box while the signal is connected";
    EXPECT_EQ(c.errors, std::vector<W::Error>{W::PostureError});
    EXPECT_EQ(c.errorNumber(), 3021);
    EXPECT_EQ(c.state(), W::Idle);
    // A preview fails with the same error.
    EXPECT_FALSE(c.Preview());
    EXPECT_EQ(c.errors, (std::vector<W::Error>{W::PostureError, W::PostureError}));
    QObject::disconnect(taken);
    ASSERT_TRUE(c.fileOpen());  // returns once the box is closed
    EXPECT_EQ(boxed, "Asana not found - Nosuch");
    EXPECT_EQ(said.size(), 1);
}

// What a host sees is so: progress reaches the last part that plays, and a
// start without a catalogue does not go on with the rows of the programme
// before it.
TEST_F(Widget, SaysOnlyWhatIsSo) {
    {
        SCOPED_TRACE("a photo row without a narration is passed over");
        Control c("Trikonasana");
        ASSERT_TRUE(c.fileOpen());
        ASSERT_TRUE(wait_for([&] { return c.ends == 1; }, 10));
        EXPECT_EQ(c.progress, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
    }
    {
        SCOPED_TRACE("a folder without a catalogue after a preview, whose catalogue is held");
        Control c("Tadasana");
        int notices = 0;
        QObject::connect(&c, &W::notice, [&] { ++notices; });
        ASSERT_TRUE(c.Preview());
        ASSERT_TRUE(wait_for([&] { return c.ends == 1; }, 10));
        c.setResourcedir(content() + "/nowhere");
        ASSERT_TRUE(c.fileOpen());
        player_test::pause_for(1.0);
        EXPECT_EQ(c.errors, std::vector<W::Error>{W::CatalogueError});
        EXPECT_EQ(c.state(), W::Idle);
        EXPECT_EQ(c.partCount(), 0);
        EXPECT_EQ(notices, 0) << "nothing was opened under the new folder";
        EXPECT_EQ(c.ends, 1) << "the preview's own only";
    }
}

// Beside the interface: the rate, and starts at a segment that is not
// there, on Tadasana (frame N drawn in red 8*N; boundaries at 30 and 60;
// the first narration holds the video at 30). What each start sends and
// where it holds is PracticeCli's, through the same widget.
TEST_F(Widget, PracticeRatesHoldAtTheirFramesAndPartsOutOfRangeStartNothing) {
    Control c("Tadasana");
    c.show();
    std::vector<qreal> rates;
    QObject::connect(&c, &W::playbackRateChanged, [&](qreal r) { rates.push_back(r); });
    std::vector<qint64> holds;
    QObject::connect(&c, &W::stateChanged, [&](W::State s) {
        if (s == W::Held) holds.push_back(c.position());
    });
    for (const qreal bad : {1.6, 0.49, qQNaN()}) {
        c.setPlaybackRate(bad);
        EXPECT_EQ(c.lastErrorNumber(), 5) << bad;
    }
    EXPECT_EQ(c.playbackRate(), 1.0);
    // Held at frame 30 at every rate, and showing it; the programme takes
    // about 4 s at rate 1 and 1/rate as long at the others.
    for (const qreal rate : {0.5, 1.5, 1.0}) {
        SCOPED_TRACE(rate);
        c.setPlaybackRate(rate);
        holds.clear();
        QElapsedTimer clock;
        clock.start();
        const int ends = c.ends;
        ASSERT_TRUE(c.fileOpen());
        ASSERT_TRUE(wait_for([&] { return c.state() == W::Held; }, 20));
        // Frame 30 is shown while it holds (its neighbours differ by 8 in red).
        EXPECT_TRUE(wait_for(
            [&] {
                return c.state() == W::Held &&
                       std::abs(shown_at(c.picture1(), 0.5).red() - 240) <= 3;
            },
            1));
        ASSERT_TRUE(wait_for([&] { return c.ends > ends; }, 30));
        EXPECT_EQ(holds, std::vector<qint64>{30});
        const double seconds = clock.elapsed() / 1000.0;
        if (rate < 1) {
            EXPECT_GT(seconds, 0.9 * 4.0 / rate);
        }
        std::printf("rate %.2f: held at %lld, VideoEnd after %.2f s\n", rate,
                    static_cast<long long>(holds.empty() ? -1 : holds[0]), seconds);
    }
    EXPECT_EQ(rates, (std::vector<qreal>{0.5, 1.5, 1.0}));
    EXPECT_FALSE(c.playFromPart(0));
    EXPECT_EQ(c.lastErrorNumber(), 5);
    c.errors.clear();
    ASSERT_TRUE(c.playFromPart(4));
    EXPECT_EQ(c.errors, std::vector<W::Error>{W::CallError});
    EXPECT_EQ(c.state(), W::Idle);
}

TEST_F(Widget, DesignerPluginMakesTheControl) {
    QPluginLoader loader(DESIGNER_PLUGIN);
    ASSERT_TRUE(loader.load()) << loader.errorString().toStdString();
    auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
    ASSERT_NE(plugin, nullptr);
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
