// What fileOpen does with a catalogue: open it exclusively with the
// password, look the posture up by name, and walk its segment table.
//
//   catalogue_bench FILE.mdb POSTURE [benchmark options]
//
// An engine keeps the last file it read and checked, so a repeated opening
// of FILE by the same engine costs only the lock and the password (once the
// file's times are two seconds old). BM_FirstOpening takes a new engine for
// every opening, so it reads and checks the whole file every time, as the
// first opening of a widget's engine does.

#include <benchmark/benchmark.h>

#include <iostream>
#include <string>

#include "catalogue/rules.hpp"
#include "jet/engine.hpp"

namespace {

std::string g_file;
std::string g_posture;

// One whole lookup; the number of segment rows walked, or -1 on failure.
int lookup_and_walk(strovia::CatalogueEngine& engine, const std::string& file) {
    auto db =
        engine.default_workspace().open_database(file, true, true, strovia::catalogue::kConnect);
    if (!db) return -1;
    int rows = -1;
    auto posture = (*db)->open_recordset(strovia::catalogue::posture_lookup(g_posture));
    if (posture && (*posture)->move_first()) {
        auto id = (*posture)->field("AsanaID");
        auto video = (*posture)->field("VideoName");
        benchmark::DoNotOptimize(video);
        if (id) {
            auto seg = (*db)->open_recordset(strovia::catalogue::segment_rows(*id));
            if (seg && (*seg)->move_first()) {
                rows = 0;
                for (; !(*seg)->eof(); (void)(*seg)->move_next()) {
                    for (const char* f : {"Filename", "StartPos", "EndPos", "Filelen"}) {
                        auto v = (*seg)->field(f);
                        benchmark::DoNotOptimize(v);
                    }
                    ++rows;
                }
                (void)(*seg)->close();
            }
        }
        (void)(*posture)->close();
    }
    (void)(*db)->close();
    return rows;
}

void BM_OpenLookupWalk(benchmark::State& state) {
    auto engine = strovia::jet::make_engine();
    int rows = 0;
    for (auto _ : state) {
        rows = lookup_and_walk(*engine, g_file);
        if (rows < 0) {
            state.SkipWithError("the posture or its segment table was not found");
            break;
        }
    }
    state.counters["segments"] = rows;
}
BENCHMARK(BM_OpenLookupWalk)->Unit(benchmark::kMillisecond);

void BM_FirstOpening(benchmark::State& state) {
    for (auto _ : state) {
        auto engine = strovia::jet::make_engine();
        if (lookup_and_walk(*engine, g_file) < 0) {
            state.SkipWithError("the posture or its segment table was not found");
            break;
        }
        // Freeing what the engine kept is no part of an opening.
        state.PauseTiming();
        engine.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstOpening)->Unit(benchmark::kMillisecond);

// The opening alone, to tell its share from the look-up's.
void BM_OpenOnly(benchmark::State& state) {
    auto engine = strovia::jet::make_engine();
    for (auto _ : state) {
        auto db = engine->default_workspace().open_database(g_file, true, true,
                                                            strovia::catalogue::kConnect);
        if (!db) {
            state.SkipWithError(db.error().text.c_str());
            break;
        }
        (void)(*db)->close();
    }
}
BENCHMARK(BM_OpenOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc != 3) {
        std::cerr << "usage: catalogue_bench FILE.mdb POSTURE [benchmark options]\n";
        return 2;
    }
    g_file = argv[1];
    g_posture = argv[2];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
