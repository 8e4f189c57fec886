// A station's settings in the registry: the local settings database loads every
// value at construction and stores every value at destruction. Shown: a full
// load, a full store, and both, with the time per value. Runs in a fresh
// temporary home.

#include "bench/bench_support.h"
#include "tavicore/db_lumo.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// Values read by a full load and written by a full store: the hardware profile
// (4 profile values, then per adapter 10 values, 16 cameras of 11 and 16 relays
// of 4), the split profile (6 + 6 x 2), the pre-alarm settings (1 + 6 x 3), the
// relay-trigger matrix (1,536 cells of 3), history (6), trigger polling (1), and
// the base records (debrief 1, sound 6); a load also reads the video switch and
// the report-counts switch.
constexpr int kHardwareValues = 4 + 6 * (10 + 16 * 11 + 16 * 4);
constexpr int kStoredValues = kHardwareValues + 18 + 19 + 1536 * 3 + 6 + 1 + 1 + 6;
constexpr int kLoadedValues = kStoredValues + 2;

void useSettingsHome() {
    static const bool done = [] {
        bench::temporaryHome();
        // A first run writes every value, so the measured runs find them all.
        CDBLumoLocal first(nullptr, 0);
        return true;
    }();
    (void)done;
}

void perValue(benchmark::State& state, int values) {
    state.SetItemsProcessed(state.iterations() * values);
    state.counters["per_value"] = benchmark::Counter(static_cast<double>(values),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void BM_SettingsLoad(benchmark::State& state) {
    useSettingsHome();
    for (auto _ : state) {
        // Read-only, and destroyed outside the timing: only the load is measured.
        auto db = std::make_unique<CDBLumoLocal>(nullptr, 1);
        benchmark::DoNotOptimize(db->IsHWProfilesUpdated());
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
    perValue(state, kLoadedValues);
}
BENCHMARK(BM_SettingsLoad)->Unit(benchmark::kMillisecond);

void BM_SettingsStore(benchmark::State& state) {
    useSettingsHome();
    CDBLumoLocal db(nullptr, 1);
    for (auto _ : state) {
        db.WriteSplitProfiles();
        db.WriteHWProfiles();
        db.WritePreAlarmSettings();
        db.WriteRelayTriggerMtx();
        db.WriteHistoryProfiles();
        db.WriteTriggerProfiles();
        db.WriteDebriefProfiles();
        db.WriteSBProfiles();
    }
    perValue(state, kStoredValues);
}
BENCHMARK(BM_SettingsStore)->Unit(benchmark::kMillisecond);

void BM_SettingsLoadAndStore(benchmark::State& state) {
    useSettingsHome();
    for (auto _ : state) {
        auto db = std::make_unique<CDBLumoLocal>(nullptr, 0);
        db.reset();
    }
    perValue(state, kLoadedValues + kStoredValues);
}
BENCHMARK(BM_SettingsLoadAndStore)->Unit(benchmark::kMillisecond);

}  // namespace
