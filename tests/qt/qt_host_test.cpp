#include "qt/qt_host.hpp"
#include "qt/tick_pacer.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

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

    std::string formed(const std::string& tail) const {
        std::string d = dir_.string();
        return d + tail;  // tail uses backslashes as the control forms paths
    }

    fs::path dir_;
    QLabel label1, label2;
    std::vector<std::string> events;
    QtHost host{&label1, &label2, 11, 12,
                HostCallbacks{[this](std::string_view n) { events.emplace_back(n); },
                              [this] { events.emplace_back("VideoEnd"); },
                              [this](const std::string& t) { events.push_back("box " + t); }}};
};

TEST_F(QtHostTest, PicturesLoadByContentAndFailuresAreNumbered) {
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(QString::fromStdString((dir_ / "Video" / "Pose.bmp").string()), "BMP"));
    ASSERT_TRUE(img.save(QString::fromStdString((dir_ / "Video" / "named.bmp").string()), "PNG"));
    std::ofstream(dir_ / "Video" / "junk.jpg") << "not a picture at all";

    ASSERT_TRUE(host.picture1().load_picture(formed("\\video\\pose.BMP")));
    ASSERT_FALSE(label1.pixmap().isNull());
    EXPECT_EQ(label1.pixmap().width(), 20) << "shown at its own size";
    EXPECT_TRUE(host.picture1().load_picture(formed("\\Video\\named.bmp"))) << "PNG named .bmp";

    auto missing = host.picture1().load_picture(formed("\\Video\\none.bmp"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().number, 53);
    auto junk = host.picture1().load_picture(formed("\\Video\\junk.jpg"));
    ASSERT_FALSE(junk);
    EXPECT_EQ(junk.error().number, 481);
    EXPECT_FALSE(label1.pixmap().isNull()) << "a failed load keeps the picture";
    EXPECT_EQ(host.picture1().load_picture(formed("\\Video\\")).error().number, 53);

    host.picture1().clear();
    EXPECT_TRUE(label1.pixmap().isNull());
}

TEST_F(QtHostTest, TimersTickOnlyWhileEnabled) {
    int ticks = 0;
    host.bind_ticks([&] { ++ticks; }, [] {});
    host.timer1().set_interval(1);
    host.timer1().set_enabled(true);
    QElapsedTimer clock;
    clock.start();
    while (ticks < 5 && clock.elapsed() < 5000) QCoreApplication::processEvents();
    EXPECT_GE(ticks, 5);
    host.timer1().set_enabled(false);
    const int after = ticks;
    clock.restart();
    while (clock.elapsed() < 20) QCoreApplication::processEvents();
    EXPECT_EQ(ticks, after);
    EXPECT_FALSE(host.timer1().enabled());
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
        TickPacer pacer(host.timer1(), host.timer2(), 100);
        listener = pacer.change_listener();
        host.timer1().set_interval(1);
        host.timer2().set_interval(200);
        host.timer1().set_enabled(true);
        EXPECT_EQ(host.timer1().interval(), 1);  // the control reads what it set
        EXPECT_EQ(ticks1, 0);                    // never inside the call that enables
        run_for(20);
        EXPECT_EQ(ticks1, 1);  // the tick after enabling
        // Changes from another thread, many before the tick runs, tick once.
        std::thread([&] {
            for (int i = 0; i < 50; ++i) listener();
        }).join();
        run_for(20);
        EXPECT_EQ(ticks1, 2);
        // No change: the safety interval alone, not a tick a millisecond.
        run_for(350);
        EXPECT_GE(ticks1, 3);
        EXPECT_LE(ticks1, 7);
        // A 200 ms timer stays a clock that changes do not tick.
        host.timer2().set_enabled(true);
        listener();
        run_for(20);
        EXPECT_EQ(ticks2, 0);
        host.timer1().set_enabled(false);
        host.timer2().set_enabled(false);
        const int after = ticks1;
        listener();
        run_for(120);
        EXPECT_EQ(ticks1, after);
    }
    listener();                       // outliving the pacer is harmless
    host.timer1().set_enabled(true);  // and the timer is a plain 1 ms one again
    run_for(50);
    EXPECT_GE(ticks1, 10);
}

TEST_F(QtHostTest, RequestsReachTheApplication) {
    host.property_changed("AsanaNaME");
    host.message_box("Asana not found - x");
    host.raise_video_end();
    EXPECT_EQ(events,
              (std::vector<std::string>{"AsanaNaME", "box Asana not found - x", "VideoEnd"}));
    EXPECT_TRUE(fs::is_directory(host.library_folder()));
    EXPECT_NE(host.library_folder().back(), '/');
    EXPECT_EQ(host.picture1().window_handle(), 11);
}

}  // namespace
}  // namespace strovia::qt

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
