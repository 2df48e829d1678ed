#include "qt/qt_host.hpp"
#include "qt/tick_pacer.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace strovia::qt {
namespace {

class QtHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("strovia-qt-" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "Video");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // `tail` uses backslashes as the control forms paths.
    std::string formed(const std::string& tail) const { return dir_.string() + tail; }

    fs::path dir_;
    QLabel label1, label2;
    QtHost host{&label1, &label2, 11, 12,
                HostCallbacks{[](std::string_view) {}, [] {}, [](const std::string&) {}}};
};

// Found whatever the case of the path, read by content not by name; a
// failure keeps what is shown, and one that cannot be shown is drawn in
// its place, named in the tooltip until the next picture.
TEST_F(QtHostTest, PicturesLoadByContentAndFailuresAreNumberedAndDrawn) {
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(QString::fromStdString((dir_ / "Video" / "Pose.bmp").string()), "BMP"));
    ASSERT_TRUE(img.save(QString::fromStdString((dir_ / "Video" / "named.bmp").string()), "PNG"));
    ASSERT_TRUE(host.picture1().load_picture(formed("\\video\\pose.BMP")));
    EXPECT_EQ(label1.pixmap().width(), 20) << "shown at its own size";
    EXPECT_TRUE(host.picture1().load_picture(formed("\\Video\\named.bmp"))) << "PNG named .bmp";
    auto missing = host.picture1().load_picture(formed("\\Video\\none.bmp"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().number, 53);
    EXPECT_FALSE(label1.pixmap().isNull()) << "a failed load keeps the picture";
    host.picture1().clear();
    EXPECT_TRUE(label1.pixmap().isNull());

    host.picture1().show_unavailable("C:\\course\\video\\Tree.jpg", missing.error());
    ASSERT_FALSE(label1.pixmap().isNull()) << "not a blank box";
    EXPECT_TRUE(label1.toolTip().contains("53"));
    // Drawn: more than the one background colour.
    const QImage shown = label1.pixmap().toImage();
    bool drawn = false;
    for (int y = 0; y < shown.height() && !drawn; y += 2) {
        for (int x = 0; x < shown.width() && !drawn; x += 2)
            drawn = shown.pixel(x, y) != shown.pixel(0, 0);
    }
    EXPECT_TRUE(drawn);
    ASSERT_TRUE(host.picture1().load_picture(formed("\\Video\\Pose.bmp")));
    EXPECT_TRUE(label1.toolTip().isEmpty());
}

// What a course may hold in a picture's place. A FIFO blocked the reader
// for ever (the test's time limit catches that); a photograph beyond the
// reader's allocation limit was "not a picture".
TEST_F(QtHostTest, PicturesBeyondTheReadersLimitLoadAndWhatIsNoFileIsNeverOpened) {
    const int limit = QImageReader::allocationLimit();
    ASSERT_EQ(::mkfifo((dir_ / "Video" / "fifo.jpg").c_str(), 0600), 0);
    fs::create_directories(dir_ / "Video" / "folder.jpg");
    {
        QImage photo(6000, 6000, QImage::Format_RGB888);
        photo.fill(Qt::darkGreen);
        ASSERT_TRUE(photo.save(QString::fromStdString((dir_ / "Video" / "large.jpg").string()),
                               "JPEG", 50));
        // BMP cannot be decoded reduced.
        ASSERT_TRUE(photo.save(QString::fromStdString((dir_ / "Video" / "large.bmp").string())));
    }
    const struct {
        const char* file;
        std::int32_t number;     // 0: shown
        const char* text_holds;  // of the error
    } cases[] = {
        {"\\Video\\large.jpg", 0, ""},
        {"\\Video\\large.bmp", 481, "more than the picture reader's limit"},
        {"\\Video\\fifo.jpg", 53, "is a FIFO, not a file"},
        {"\\Video\\folder.jpg", 53, "is a folder, not a file"},
    };
    for (const auto& c : cases) {
        auto r = read_picture(formed(c.file));
        EXPECT_EQ(r ? 0 : r.error().number, c.number) << c.file;
        if (!r) {
            EXPECT_NE(r.error().text.find(c.text_holds), std::string::npos) << r.error().text;
        } else {
            EXPECT_LE(4.0 * r->width() * r->height(), limit * 1048576.0);
            EXPECT_EQ(r->width(), r->height());
        }
    }
    // The reader's limit stays what the application set.
    EXPECT_EQ(QImageReader::allocationLimit(), limit);
}

TEST_F(QtHostTest, APacedFastTimerTicksOnChangesOnEnablingAndAtASafetyInterval) {
    int ticks1 = 0, ticks2 = 0;
    host.bind_ticks([&] { ++ticks1; }, [&] { ++ticks2; });
    auto run_for = [](int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) QCoreApplication::processEvents();
    };
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
        EXPECT_GE(ticks1, 3);
        EXPECT_LE(ticks1, 5);
        // A 200 ms timer stays a clock that changes do not tick.
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

}  // namespace
}  // namespace strovia::qt

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
