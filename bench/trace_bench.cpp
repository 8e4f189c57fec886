// The trace facility on a hot path: a trace call whose level is above the
// configured level must cost next to nothing, since every traced method writes
// "ENTER %s" / "LEAVE %s" lines at level 5. Also shown: a line that is formatted
// in full and handed to an output that drops it. Runs in a fresh temporary home.

#include "bench/bench_support.h"
#include "common/lumo_deb.h"
#include "platform/folders.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// Builds the trace object from a configuration with this body.
void createTrace(const char* section) {
    bench::temporaryHome();
    std::ofstream(platform::windowsFolder() / "LUMODEBWIN.INI") << "[LumoDeb]\n" << section;
    LumoDebCreate(kLumoDebFromFile);
}

void BM_TraceFilteredOut(benchmark::State& state) {
    createTrace("Output=5\nLevel=3\nPrefix=VELMOOR :\n");  // level 5 lines are off
    for (auto _ : state) {
        LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnTimer()");
    }
    LumoDebDestroy();
}
BENCHMARK(BM_TraceFilteredOut);

void BM_TraceBeforeCreate(benchmark::State& state) {
    LumoDebDestroy();
    for (auto _ : state) {
        LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnTimer()");
    }
}
BENCHMARK(BM_TraceBeforeCreate);

void BM_TraceFormattedToNoOutput(benchmark::State& state) {
    createTrace("Output=3\nLevel=5\nPrefix=VELMOOR :\nTID=1\n");
    for (auto _ : state) {
        LUMO_TRACE(5, "ENTER %s %d", "CMainFrame::OnTimer()", 42);
    }
    LumoDebDestroy();
}
BENCHMARK(BM_TraceFormattedToNoOutput);

}  // namespace
