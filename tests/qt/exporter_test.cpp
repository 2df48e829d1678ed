// The export job as an integrator drives it: settings it refuses, a course
// it cannot read, a whole run's signals in order, and a cancel that ends
// the job within a second and leaves nothing behind.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSignalSpy>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <strovia/exporter.hpp>

#include "support.hpp"
#include "tables.hpp"

namespace strovia::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// One photo posture: a picture under a narration of `seconds`.
void make_course(const jet::test::TempDir& dir, double seconds) {
    fs::create_directories(dir.file("video"));
    fs::create_directories(dir.file("sound/mp2"));
    const std::string ff = std::string(FFMPEG_EXE) + " -nostdin -y -v error -f lavfi -i ";
    ASSERT_EQ(
        std::system(
            (ff + "color=c=red:size=64x48 -frames:v 1 '" + dir.file("video/p.png") + "'").c_str()),
        0);
    ASSERT_EQ(std::system((ff + "sine=frequency=500:duration=" + std::to_string(seconds) +
                           " -c:a mp2 -b:a 128k '" + dir.file("sound/mp2/n.mp2") + "'")
                              .c_str()),
              0);
    const json manifest{{"tables",
                         {tables::asanas({{1, "Pic", "Photo", nullptr}}),
                          tables::photos(1, json::parse(R"([["n", "p.png"]])"))}}};
    jet::test::build(manifest, dir.file("video/AVPelmo.mdb"));
}

bool wait_finished(QSignalSpy& finished, int ms) {
    return finished.count() > 0 || finished.wait(ms);
}

TEST(Exporter, RefusesSettingsItCannotRun) {
    const struct {
        QSize size;
        QString content, out;
        const char* says;
    } cases[] = {
        {{641, 480}, "c", "o", "frame size 641x480"},     {{8, 8}, "c", "o", "frame size 8x8"},
        {{3842, 2160}, "c", "o", "frame size 3842x2160"}, {{640, 480}, "", "o", "no course folder"},
        {{640, 480}, "c", "", "no output folder"},
    };
    for (const auto& c : cases) {
        Exporter job;
        QSignalSpy finished(&job, &Exporter::finished);
        job.setFrameSize(c.size);
        job.setContentFolder(c.content);
        job.setOutputFolder(c.out);
        EXPECT_FALSE(job.start()) << c.says;
        EXPECT_TRUE(job.errorString().contains(c.says)) << job.errorString().toStdString();
        EXPECT_NE(job.errorNumber(), 0);
        EXPECT_EQ(job.state(), Exporter::State::Idle);
        QCoreApplication::processEvents();
        EXPECT_EQ(finished.count(), 0);
    }
}

TEST(Exporter, ACourseItCannotReadEndsWithTheCatalogueError) {
    jet::test::TempDir dir;
    Exporter job;
    QSignalSpy finished(&job, &Exporter::finished);
    job.setContentFolder(QString::fromStdString(dir.file("none")));
    job.setOutputFolder(QString::fromStdString(dir.file("out")));
    ASSERT_TRUE(job.start());
    EXPECT_EQ(finished.count(), 0) << "finished from inside start()";
    EXPECT_FALSE(job.start()) << "a second start while running";
    ASSERT_TRUE(wait_finished(finished, 10000));
    EXPECT_EQ(job.errorNumber(), 3024) << job.errorString().toStdString();
    EXPECT_TRUE(job.results().isEmpty());
    EXPECT_FALSE(job.wasCancelled());
    EXPECT_EQ(job.state(), Exporter::State::Finished);
}

// The level of each tenth of a second of a file's sound, read by ffmpeg.
std::vector<double> loudness(const std::string& file) {
    const std::string cmd =
        std::string(FFMPEG_EXE) + " -nostdin -v error -i '" + file + "' -f s16le -ac 1 -ar 8000 -";
    std::vector<double> levels;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) return levels;
    std::vector<std::int16_t> window(800);
    while (std::fread(window.data(), sizeof(std::int16_t), window.size(), pipe) == window.size()) {
        double sum = 0;
        for (const auto v : window) sum += double(v) * v;
        levels.push_back(std::sqrt(sum / double(window.size())));
    }
    ::pclose(pipe);
    return levels;
}

// A short narration and one too long to be kept in memory between
// measuring and rendering, which is decoded a second time: each sounds
// from start to end.
TEST(Exporter, ReportsEachStepOfARunInOrder) {
    for (const double seconds : {0.5, 200.0}) {
        SCOPED_TRACE(seconds);
        jet::test::TempDir dir;
        make_course(dir, seconds);
        Exporter job;
        std::vector<std::string> said;
        QObject::connect(&job, &Exporter::postureStarted, [&](int n, int m, const QString& name) {
            said.push_back("start " + std::to_string(n) + "/" + std::to_string(m) + " " +
                           name.toStdString());
        });
        double last = -1;
        bool monotonic = true;
        QObject::connect(&job, &Exporter::progressChanged, [&](int, int, double f) {
            monotonic = monotonic && f >= last && f <= 1.0;
            last = f;
        });
        QObject::connect(&job, &Exporter::postureFinished, [&](const Exporter::PostureResult& r) {
            said.push_back("done " + r.file.toStdString() + (r.skipped ? " skipped" : ""));
        });
        QObject::connect(&job, &Exporter::finished, [&] { said.push_back("finished"); });
        QSignalSpy finished(&job, &Exporter::finished);
        job.setContentFolder(QString::fromStdString(dir.path()));
        job.setOutputFolder(QString::fromStdString(dir.file("out")));
        job.setFrameSize({64, 48});
        ASSERT_TRUE(job.start());
        ASSERT_TRUE(wait_finished(finished, 120000));
        EXPECT_EQ(said, (std::vector<std::string>{"start 1/1 Pic", "done 01-Pic.mp4", "finished"}));
        EXPECT_TRUE(monotonic);
        EXPECT_EQ(last, 1.0);
        EXPECT_EQ(job.errorNumber(), 0) << job.errorString().toStdString();
        EXPECT_EQ(job.progress(), 1.0);
        ASSERT_EQ(job.results().size(), 1);
        EXPECT_NEAR(job.results()[0].seconds, seconds, 0.1);
        for (const char* f : {"01-Pic.mp4", "01-Pic.vtt", "index.html"})
            EXPECT_TRUE(fs::is_regular_file(dir.file("out/") + f)) << f;
        // The encoder's priming and the last frame aside.
        const auto levels = loudness(dir.file("out/01-Pic.mp4"));
        ASSERT_NEAR(double(levels.size()), seconds * 10, 2);
        for (std::size_t i = 1; i + 1 < levels.size(); ++i)
            ASSERT_GT(levels[i], 1000) << "silent at " << double(i) / 10 << " s";
    }
}

TEST(Exporter, ACancelEndsTheJobWithinASecondAndLeavesNoPart) {
    jet::test::TempDir dir;
    make_course(dir, 60);
    Exporter job;
    QSignalSpy finished(&job, &Exporter::finished);
    bool rendering = false;
    QObject::connect(&job, &Exporter::progressChanged, [&](int, int, double f) {
        if (f > 0 && !rendering) {
            rendering = true;
            job.cancel();
        }
    });
    job.setContentFolder(QString::fromStdString(dir.path()));
    job.setOutputFolder(QString::fromStdString(dir.file("out")));
    ASSERT_TRUE(job.start());
    QElapsedTimer took;
    while (!rendering && finished.count() == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    took.start();
    // Far more than the second it takes: this only catches a hang.
    ASSERT_TRUE(wait_finished(finished, 5000));
    std::printf("finished %lld ms after the cancel\n", static_cast<long long>(took.elapsed()));
    EXPECT_TRUE(job.wasCancelled());
    // Heard by the render itself, not ended by the job's backstop.
    EXPECT_EQ(job.errorString(), "interrupted");
    EXPECT_EQ(finished.count(), 1);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.file("out")))
        left.push_back(e.path().filename());
    EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
}  // namespace strovia::test

int main(int argc, char** argv) {
    // No display is needed, nor used when listing the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
