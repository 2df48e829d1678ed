// A status query through the whole channel (command string, parse, look-up,
// bus poll, position query, formatting, the control's reading of the reply)
// against the bare GStreamer position query on
// the same prerolled pipeline, and on its video sink (the element the
// device asks). The control asks twice a tick, so this must cost
// microseconds.
//
//   mci_bench            media made with ffmpeg in a temporary folder
//   mci_bench FILE.mpg   an MPEG program stream of your own

#include <benchmark/benchmark.h>
#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "mci/interpreter.hpp"
#include "mci/media_scan.hpp"
#include "playback/reply.hpp"

namespace {

std::string g_file;
std::unique_ptr<strovia::mci::Interpreter> g_mci;

void BM_StatusPositionThroughInterpreter(benchmark::State& state) {
    std::string buffer(50, ' ');
    buffer.push_back('\0');
    for (auto _ : state) {
        const auto rc = g_mci->send_string("status video Position", buffer.data(), 49, 0);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(strovia::read_position({buffer.data(), 50}));
    }
}
BENCHMARK(BM_StatusPositionThroughInterpreter);

void BM_StatusModeThroughInterpreter(benchmark::State& state) {
    std::string buffer(50, ' ');
    buffer.push_back('\0');
    for (auto _ : state) {
        const auto rc = g_mci->send_string("status video mode", buffer.data(), 49, 0);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(strovia::clean_mode_reply({buffer.data(), 50}));
    }
}
BENCHMARK(BM_StatusModeThroughInterpreter);

void BM_RawGstPositionQuery(benchmark::State& state) {
    GstElement* pipeline = g_mci->pipeline_of("video");
    for (auto _ : state) {
        gint64 pos = 0;
        const gboolean ok = gst_element_query_position(pipeline, GST_FORMAT_TIME, &pos);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(pos);
    }
}
BENCHMARK(BM_RawGstPositionQuery);

// The sink that renders, inside bins built from sink descriptions.
GstElement* first_sink(GstElement* e) {
    if (!GST_IS_BIN(e)) return e;
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_sinks(GST_BIN(e));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        found = first_sink(GST_ELEMENT(g_value_get_object(&item)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

void BM_RawGstSinkPositionQuery(benchmark::State& state) {
    GstElement* sink = first_sink(g_mci->pipeline_of("video"));
    if (sink == nullptr) {
        state.SkipWithError("no sink in the pipeline");
        return;
    }
    for (auto _ : state) {
        gint64 pos = 0;
        const gboolean ok = gst_element_query_position(sink, GST_FORMAT_TIME, &pos);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(pos);
    }
}
BENCHMARK(BM_RawGstSinkPositionQuery);

// The exact length: a count of the clip's pictures, made once per opened
// device on its first "status ... length".
void BM_CountPictures(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(strovia::mci::scan::video_pictures(g_file));
}
BENCHMARK(BM_CountPictures)->Unit(benchmark::kMicrosecond);

// Opening and closing the video (pipeline, preroll), the first part of
// the start latency.
void BM_OpenVideo(benchmark::State& state) {
    const std::string open = "open \"" + g_file + "\" alias clip type mpegVideo";
    for (auto _ : state) {
        if (auto r = g_mci->run(open); !r) {
            state.SkipWithError(r.error().text.c_str());
            break;
        }
        (void)g_mci->run("close clip");
    }
}
BENCHMARK(BM_OpenVideo)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) {
        g_file = argv[1];
    } else {
        const auto dir = std::filesystem::temp_directory_path() / "strovia-mci-bench";
        std::filesystem::create_directories(dir);
        g_file = (dir / "clip.mpg").string();
        const std::string make =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=352x288:rate=25:duration=3"
            " -c:v mpeg1video -f mpeg \"" +
            g_file + "\"";
        if (std::system(make.c_str()) != 0) {
            std::cerr << "mci_bench: ffmpeg could not make the clip\n";
            return 1;
        }
    }
    auto made = strovia::mci::Interpreter::create({});
    if (!made) {
        std::cerr << "mci_bench: " << made.error().text << "\n";
        return 1;
    }
    g_mci = std::move(made).value();
    for (const char* c : {"open", "set", "play"}) {
        std::string command = c == std::string("open")
                                  ? "open \"" + g_file + "\" alias video type mpegVideo"
                              : c == std::string("set") ? "set video time format frames"
                                                        : "play video";
        auto r = g_mci->run(command);
        if (!r) {
            std::cerr << "mci_bench: " << command << ": error " << r.error().number << ": "
                      << r.error().text << "\n";
            return 1;
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_mci.reset();
    return 0;
}
