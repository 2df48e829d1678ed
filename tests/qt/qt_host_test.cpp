// The Qt host: pictures as a picture box reads them, the fast timers' pacing
// and, with the media devices, video frames on their way to Picture1's view.

#include "qt/qt_host.hpp"
#include "qt/tick_pacer.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#ifdef STROVIA_QT_MEDIA
#include "qt/label_frame_target.hpp"
#include "qt/picture_view.hpp"
#endif

namespace fs = std::filesystem;

namespace strovia::qt {
namespace {

class QtHostTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_ / "Video"); }
    void TearDown() override { fs::remove_all(dir_); }

    // `tail` uses backslashes as the control forms paths.
    std::string formed(const std::string& tail) const { return dir_.string() + tail; }
    QString file(const char* name) const {
        return QString::fromStdString((dir_ / "Video" / name).string());
    }

    fs::path dir_ = fs::temp_directory_path() / ("strovia-qt-" + std::to_string(::getpid()));
    QLabel label1, label2;
    QtHost host{&label1, &label2, 11, 12,
                HostCallbacks{[](std::string_view) {}, [] {}, [](const std::string&) {}}};
};

// Found whatever the case of the path and read by content, not by name. A
// FIFO blocked the reader for ever (the test's time limit catches that); a
// photograph beyond the reader's allocation limit was "not a picture".
TEST_F(QtHostTest, PicturesAreReadByContentAndWhatIsNoFileIsNeverOpened) {
    const int limit = QImageReader::allocationLimit();
    QImage small(20, 10, QImage::Format_RGB32);
    small.fill(Qt::red);
    ASSERT_TRUE(small.save(file("Pose.bmp"), "BMP") && small.save(file("named.bmp"), "PNG"));
    ASSERT_EQ(::mkfifo((dir_ / "Video" / "fifo.jpg").c_str(), 0600), 0);
    fs::create_directories(dir_ / "Video" / "folder.jpg");
    QImage photo(6000, 6000, QImage::Format_RGB888);
    photo.fill(Qt::darkGreen);
    // BMP cannot be decoded reduced.
    ASSERT_TRUE(photo.save(file("large.jpg"), "JPEG", 50) && photo.save(file("large.bmp")));
    const struct {
        const char* file;
        std::int32_t number;     // 0: shown
        const char* text_holds;  // of the error
        int width;               // when shown; 0: reduced to a square within the limit
    } cases[] = {
        {"\\video\\pose.BMP", 0, "", 20},
        {"\\Video\\named.bmp", 0, "", 20},  // a PNG named .bmp
        {"\\Video\\none.bmp", 53, "", 0},
        {"\\Video\\large.jpg", 0, "", 0},
        {"\\Video\\large.bmp", 481, "more than the picture reader's limit", 0},
        {"\\Video\\fifo.jpg", 53, "is a FIFO, not a file", 0},
        {"\\Video\\folder.jpg", 53, "is a folder, not a file", 0},
    };
    for (const auto& c : cases) {
        auto r = read_picture(formed(c.file));
        EXPECT_EQ(r ? 0 : r.error().number, c.number) << c.file;
        if (!r) {
            EXPECT_NE(r.error().text.find(c.text_holds), std::string::npos) << r.error().text;
        } else if (c.width > 0) {
            EXPECT_EQ(r->width(), c.width) << c.file;
        } else {
            EXPECT_LE(4.0 * r->width() * r->height(), limit * 1048576.0);
            EXPECT_EQ(r->width(), r->height());
        }
    }
    // The reader's limit stays what the application set.
    EXPECT_EQ(QImageReader::allocationLimit(), limit);
}

// A failure keeps what is shown; one that cannot be shown is drawn in its
// place, named in the tooltip until the next picture.
TEST_F(QtHostTest, APictureBoxKeepsItsPictureAndDrawsOneThatCannotBeShown) {
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(file("Pose.bmp"), "BMP"));
    ASSERT_TRUE(host.picture1().load_picture(formed("\\Video\\Pose.bmp")));
    EXPECT_EQ(label1.pixmap().width(), 20) << "shown at its own size";
    auto missing = host.picture1().load_picture(formed("\\Video\\none.bmp"));
    ASSERT_FALSE(missing);
    EXPECT_FALSE(label1.pixmap().isNull()) << "a failed load keeps the picture";
    host.picture1().clear();
    EXPECT_TRUE(label1.pixmap().isNull());

    host.picture1().show_unavailable("C:\\course\\video\\Tree.jpg", missing.error());
    EXPECT_TRUE(label1.toolTip().contains("53"));
    const QImage shown = label1.pixmap().toImage();
    QImage blank(shown.size(), shown.format());
    blank.fill(shown.pixel(0, 0));
    EXPECT_FALSE(shown.isNull() || shown == blank) << "a blank box";
    ASSERT_TRUE(host.picture1().load_picture(formed("\\Video\\Pose.bmp")));
    EXPECT_TRUE(label1.toolTip().isEmpty());
}

void run_for(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents();
}

TEST_F(QtHostTest, APacedFastTimerTicksOnChangesOnEnablingAndAtASafetyInterval) {
    int ticks1 = 0, ticks2 = 0;
    host.bind_ticks([&] { ++ticks1; }, [&] { ++ticks2; });
    std::function<void()> listener;
    {
        TickPacer pacer(host.timer1(), host.timer2(), 500);
        listener = pacer.change_listener();
        host.timer1().set_interval(1);
        host.timer2().set_interval(200);
        host.timer1().set_enabled(true);
        EXPECT_EQ(ticks1, 0);  // never inside the call that enables
        run_for(20);
        EXPECT_EQ(ticks1, 1);  // the tick after enabling
        // Changes from another thread, many before the tick runs, tick once.
        std::thread([&] {
            for (int i = 0; i < 50; ++i) listener();
        }).join();
        run_for(20);
        EXPECT_EQ(ticks1, 2);
        // No change: the safety interval alone, not a tick a millisecond.
        run_for(1200);
        EXPECT_TRUE(ticks1 >= 3 && ticks1 <= 5) << ticks1;
        // A 200 ms timer stays a clock that changes do not tick, and a
        // disabled timer is not ticked at all.
        host.timer2().set_enabled(true);
        listener();
        run_for(20);
        EXPECT_EQ(ticks2, 0);
        host.timer1().set_enabled(false);
        host.timer2().set_enabled(false);
        const int after = ticks1;
        listener();
        run_for(600);
        EXPECT_EQ(ticks1, after);
    }
    listener();                       // outliving the pacer is harmless
    host.timer1().set_enabled(true);  // and the timer is a plain 1 ms one again
    run_for(50);
    EXPECT_GE(ticks1, 10);
}

#ifdef STROVIA_QT_MEDIA
// A device delivers a flat RGBx frame from its own thread, the pixels valid
// only during the call; the view shows only the newest, and never one that
// arrives after a later clear or picture (it belongs to a closed video).
TEST(FrameTarget, NewestFrameShownButNeverOverALaterClearOrPicture) {
    PictureView view;
    LabelFrameTarget target(&view);
    auto deliver = [&](QColor colour) {
        std::thread([&] {
            QImage pixels(64, 48, QImage::Format_RGBX8888);
            pixels.fill(colour);
            target.present({pixels.constBits(), pixels.width(), pixels.height(),
                            static_cast<int>(pixels.bytesPerLine())});
            pixels.fill(Qt::black);  // the device reuses its buffer
        }).join();
    };
    auto shown = [&] {
        QCoreApplication::processEvents();
        return view.image().isNull() ? QColor() : view.image().pixelColor(10, 10);
    };
    const QColor red(200, 30, 10), blue(10, 30, 200), green(0, 250, 0);
    deliver(red);
    deliver(blue);
    EXPECT_EQ(shown(), blue) << "the newest, colours kept";
    deliver(red);
    show_image(&view, {});
    EXPECT_FALSE(shown().isValid());
    QImage picture(32, 32, QImage::Format_RGB32);
    picture.fill(green);
    deliver(red);
    show_image(&view, picture);
    EXPECT_EQ(shown(), green);
    deliver(blue);
    EXPECT_EQ(shown(), blue) << "a frame after them shows";
}
#endif

}  // namespace
}  // namespace strovia::qt

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
