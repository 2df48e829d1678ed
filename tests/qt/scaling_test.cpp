// Picture1 on a real display: a video frame and a picture larger than the
// control, each left half one colour and right half another, fill it scaled
// and centred on black at the design size and at full HD, or sit at their
// own size top left when the integrator asks for that.

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPainter>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "strovia/video_cntl_widget.hpp"
#include "wait.hpp"

namespace fs = std::filesystem;
using Placement = strovia::VideoCntlWidget::Placement;

namespace {

using strovia::test::wait_for;

const QColor kLeft(220, 40, 40);
const QColor kRight(40, 60, 220);

// Within what MPEG-1 coding and smooth filtering change of a flat colour.
bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) <= 16 && std::abs(a.green() - b.green()) <= 16 &&
           std::abs(a.blue() - b.blue()) <= 16;
}

class Scaling : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("strovia-scaling-" + std::to_string(::getpid()));
        fs::create_directories(root_ / "video");
        fs::create_directories(root_ / "sound" / "mp2");
        const std::string ff = std::string(FFMPEG_EXE) + " -nostdin -y -loglevel error ";
        run(ff + "-f lavfi -i color=c=0xDC2828:size=640x720:rate=25 " +
            "-f lavfi -i color=c=0x283CDC:size=640x720:rate=25 -filter_complex hstack -t 3 " +
            "-c:v mpeg1video -q:v 2 -f mpeg " + (root_ / "video" / "wide.mpg").string());
        run(ff + "-f lavfi -i sine=frequency=440:duration=0.3 -c:a mp2 -b:a 128k " +
            (root_ / "sound" / "mp2" / "p1.mp2").string());
        QImage picture(1024, 768, QImage::Format_RGB32);
        picture.fill(kLeft);
        QPainter(&picture).fillRect(512, 0, 512, 768, kRight);
        ASSERT_TRUE(picture.save(
            QString::fromStdString((root_ / "video" / "four-three.bmp").string()), "BMP"));
        std::ofstream(root_ / "manifest.json") << R"({"tables": [
  {"name": "Asanas",
   "columns": [{"name": "AsanaID", "type": "Long"}, {"name": "name", "type": "Text", "size": 50},
               {"name": "Disp_Type", "type": "Text", "size": 10},
               {"name": "VideoName", "type": "Text", "size": 50}],
   "rows": [[1, "Wide", "Video", "wide.mpg"], [2, "Square", "Photo", null]]},
  {"name": "Photo_Asana2",
   "columns": [{"name": "Mp2name", "type": "Text", "size": 50},
               {"name": "ImageName", "type": "Text", "size": 50}],
   "rows": [["p1", "four-three.bmp"]]}]})";
        run(std::string(STROVIA_EXE) + " catalogue build " + (root_ / "manifest.json").string() +
            " -o " + (root_ / "video" / "AVPelmo.mdb").string());
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static void run(const std::string& command) {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    }

    // Shows the posture's picture or first video frame in `control`.
    static void show(strovia::VideoCntlWidget& control, const char* posture) {
        control.show();
        control.setResourcedir(QString::fromStdString(root_.string()));
        control.setAsanaNaME(posture);
        ASSERT_TRUE(control.Preview()) << control.lastErrorText().toStdString();
        ASSERT_TRUE(wait_for(
            [&] {
                const QImage shot = control.grab().toImage();
                return near(shot.pixelColor(shot.width() / 4, shot.height() / 2), kLeft);
            },
            10))
            << "nothing shown";
    }

    static fs::path root_;
};

fs::path Scaling::root_;

// Both halves whole and centred, in device pixels, with black beyond them.
void expect_fitted(strovia::VideoCntlWidget& control, QSize media) {
    QCoreApplication::processEvents();
    EXPECT_EQ(control.picture1()->geometry(), control.rect());
    const QImage shot = control.grab().toImage();
    const QSize fit = media.scaled(shot.size(), Qt::KeepAspectRatio);
    const QRect r(QPoint((shot.width() - fit.width()) / 2, (shot.height() - fit.height()) / 2),
                  fit);
    SCOPED_TRACE("picture at " + std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
                 std::to_string(r.width()) + "x" + std::to_string(r.height()) + " in " +
                 std::to_string(shot.width()) + "x" + std::to_string(shot.height()));
    const int in = 4;
    const int cx = r.center().x();
    const int cy = r.center().y();
    std::vector<std::pair<QPoint, QColor>> points = {
        {r.topLeft() + QPoint(in, in), kLeft},        {r.bottomLeft() + QPoint(in, -in), kLeft},
        {{r.left() + r.width() / 4, cy}, kLeft},      {r.topRight() + QPoint(-in, in), kRight},
        {r.bottomRight() + QPoint(-in, -in), kRight}, {{r.right() - r.width() / 4, cy}, kRight},
    };
    if (r.left() > 1) {
        points.insert(points.end(), {{{r.left() / 2, cy}, Qt::black},
                                     {{r.left() - 2, cy}, Qt::black},
                                     {{r.right() + 2, cy}, Qt::black}});
    }
    if (r.top() > 1) {
        points.insert(points.end(), {{{cx, r.top() / 2}, Qt::black},
                                     {{cx, r.top() - 2}, Qt::black},
                                     {{cx, r.bottom() + 2}, Qt::black}});
    }
    for (const auto& [at, want] : points) {
        const QColor got = shot.pixelColor(at);
        EXPECT_TRUE(near(got, want))
            << "at " << at.x() << "," << at.y() << ": " << got.name().toStdString() << ", expected "
            << want.name().toStdString();
    }
}

TEST_F(Scaling, WideVideoAndFourThreePictureFitAtDesignSizeAndFullHd) {
    for (const auto& [posture, media] :
         {std::pair{"Wide", QSize(1280, 720)}, std::pair{"Square", QSize(1024, 768)}}) {
        SCOPED_TRACE(posture);
        strovia::VideoCntlWidget control;
        EXPECT_EQ(control.sizeHint(), QSize(352, 288));
        EXPECT_EQ(control.placement(), Placement::ScaledToFit);
        show(control, posture);
        expect_fitted(control, media);
        control.resize(1920, 1080);
        expect_fitted(control, media);
    }
}

TEST_F(Scaling, OriginalPlacementShowsThePictureAtItsOwnSizeTopLeft) {
    strovia::VideoCntlWidget control;
    control.resize(1920, 1080);
    int changes = 0;
    QObject::connect(&control, &strovia::VideoCntlWidget::placementChanged, [&] { ++changes; });
    control.setPlacement(Placement::OriginalSize);
    control.setPlacement(Placement::OriginalSize);
    EXPECT_EQ(changes, 1) << "signalled on a change only";
    show(control, "Square");
    const QImage shot = control.grab().toImage();
    const qreal dpr = shot.devicePixelRatio();
    const auto at = [&](int x, int y) { return shot.pixelColor((QPointF(x, y) * dpr).toPoint()); };
    EXPECT_EQ(at(2, 2), kLeft);
    EXPECT_EQ(at(509, 765), kLeft);
    EXPECT_EQ(at(514, 2), kRight);
    EXPECT_EQ(at(1021, 765), kRight);
    EXPECT_NE(at(1030, 2), kRight) << "stretched";
    EXPECT_NE(at(2, 775), kLeft) << "stretched";
}

}  // namespace
