// The known-station check (is this GUID among the known stations?) at 100 and
// at 1,000 known stations, in the same iterations: each count lives in a home
// of its own, made once. Every iteration asks for a known station that sorts
// last, one that sorts first and an unknown one. Counters: "us_per_check_100"
// and "us_per_check_1000", the time per check; "growth_per_check", their ratio
// (1.0 = flat: a check costs the same whatever the count).

#include "bench/bench_support.h"
#include "platform/registry.h"
#include "tavicore/station_identity.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace platform;

namespace {

std::string stationGuid(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "0A1B2C3D-0000-4000-8000-%012d", n);
    return text;
}

// A home holding `count` known stations; empty when it could not be made.
std::string homeWithStations(int count) {
    const std::string home = bench::temporaryFolder("vlm-known-stations");
    ::setenv("VELMOOR_HOME", home.c_str(), 1);
    RegistryBatch batch;
    RegistryKey servers;
    if (RegistryKey::create(HKEY_CURRENT_USER, "Stations\\Local Servers", KEY_ALL_ACCESS, servers) != ERROR_SUCCESS) {
        return {};
    }
    for (int n = 0; n < count; ++n) {
        RegistryKey station;
        if (RegistryKey::create(servers.handle(), stationGuid(n), KEY_ALL_ACCESS, station) != ERROR_SUCCESS) return {};
    }
    return batch.commit() == ERROR_SUCCESS ? home : std::string();
}

constexpr int kChecksPerRound = 30;

// Seconds for kChecksPerRound rounds of three checks in `home`.
double timeChecks(const std::string& home, int count, benchmark::State& state) {
    ::setenv("VELMOOR_HOME", home.c_str(), 1);
    CUUIDdb db;
    const std::string last = stationGuid(count - 1);
    const std::string first = stationGuid(0);
    const std::string unknown = stationGuid(count);
    db.dbGUIDRemoteExistKey(first.c_str());  // the registry opens this home's database
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kChecksPerRound; ++i) {
        if (db.dbGUIDRemoteExistKey(last.c_str()) != 1 || db.dbGUIDRemoteExistKey(first.c_str()) != 1 ||
            db.dbGUIDRemoteExistKey(unknown.c_str()) != 0) {
            state.SkipWithError("a check gave the wrong answer");
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_KnownStationCheck(benchmark::State& state) {
    const std::string runHome = bench::temporaryHome();
    static const std::string small = homeWithStations(100);
    static const std::string large = homeWithStations(1000);
    if (small.empty() || large.empty()) {
        ::setenv("VELMOOR_HOME", runHome.c_str(), 1);
        state.SkipWithError("the known stations could not be made");
        return;
    }
    double smallSeconds = 0;
    double largeSeconds = 0;
    for (auto _ : state) {
        smallSeconds += timeChecks(small, 100, state);
        largeSeconds += timeChecks(large, 1000, state);
    }
    ::setenv("VELMOOR_HOME", runHome.c_str(), 1);
    const double checks = double(state.iterations()) * kChecksPerRound * 3;
    state.counters["us_per_check_100"] = 1e6 * smallSeconds / checks;
    state.counters["us_per_check_1000"] = 1e6 * largeSeconds / checks;
    state.counters["growth_per_check"] = smallSeconds > 0 ? largeSeconds / smallSeconds : 0;
}
BENCHMARK(BM_KnownStationCheck)->Unit(benchmark::kMillisecond);

}  // namespace
