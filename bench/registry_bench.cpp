// Registry settings at start-up: the settings store reads about 1,600 values
// through CKcReg, each with its default, and writes each one back at once.
// Reported as time per value (time_per_value). Runs in a fresh temporary home, removed at exit.

#include "bench/bench_support.h"
#include "common/kc_reg.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

constexpr int kSections = 40;
constexpr int kNumbersPerSection = 20;
constexpr int kTextsPerSection = 20;
constexpr int kValues = kSections * (kNumbersPerSection + kTextsPerSection);  // 1,600

struct Names {
    std::vector<std::string> sections;
    std::vector<std::string> numbers;
    std::vector<std::string> texts;
};

const Names& names() {
    static const Names all = [] {
        Names n;
        for (int s = 0; s < kSections; ++s) {
            n.sections.push_back("Section" + std::to_string(s));
        }
        for (int v = 0; v < kNumbersPerSection; ++v) {
            n.numbers.push_back("Number" + std::to_string(v));
        }
        for (int v = 0; v < kTextsPerSection; ++v) {
            n.texts.push_back("Text value " + std::to_string(v));
        }
        return n;
    }();
    return all;
}

enum class Pass { ReadOnly, WriteOnly, ReadAndWriteBack, ChangedWrite };

// One start-up pass over every value, as the settings store does it: a CKcReg per
// section, each value read with its default and (unless only reading) written back.
void settingsPass(Pass pass, DWORD salt) {
    const Names& n = names();
    for (const auto& section : n.sections) {
        CKcReg reg("Quennel", "VelmoorBench", "1.000.0", section.c_str());
        for (const auto& name : n.numbers) {
            reg.SetValueName(name.c_str());
            reg.SetDefault(DWORD{42});
            DWORD value = pass == Pass::WriteOnly ? 42 : reg.ReadDword();
            benchmark::DoNotOptimize(value);
            if (pass == Pass::ChangedWrite) {
                value = salt;
            }
            if (pass != Pass::ReadOnly) {
                reg.Write(value);
            }
        }
        for (const auto& name : n.texts) {
            reg.SetValueName(name.c_str());
            reg.SetDefault("C:\\Velmoor\\Events");
            const char* text = pass == Pass::WriteOnly ? "C:\\Velmoor\\Events" : reg.ReadString();
            benchmark::DoNotOptimize(text);
            std::string changed;
            if (pass == Pass::ChangedWrite) {
                changed = "C:\\Velmoor\\Events\\" + std::to_string(salt);
                text = changed.c_str();
            }
            if (pass != Pass::ReadOnly) {
                reg.Write(text);
            }
        }
    }
}

void deleteBenchKeys() {
    RegDeleteKey(HKEY_CURRENT_USER, "Software\\Quennel\\VelmoorBench");
}

void report(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kValues);
    // Seconds per value, printed with its SI prefix ("7.8u" is 7.8 microseconds).
    state.counters["time_per_value"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kValues,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void prepared(Pass first) {
    bench::temporaryHome();
    deleteBenchKeys();
    settingsPass(first, 0);
}

void BM_RegistryReadValues(benchmark::State& state) {
    prepared(Pass::ReadAndWriteBack);
    for (auto _ : state) {
        settingsPass(Pass::ReadOnly, 0);
    }
    report(state);
}
BENCHMARK(BM_RegistryReadValues)->Unit(benchmark::kMillisecond);

// The write-back of values that did not change (the usual start-up).
void BM_RegistryWriteBackUnchanged(benchmark::State& state) {
    prepared(Pass::ReadAndWriteBack);
    for (auto _ : state) {
        settingsPass(Pass::WriteOnly, 0);
    }
    report(state);
}
BENCHMARK(BM_RegistryWriteBackUnchanged)->Unit(benchmark::kMillisecond);

// Writes that change every value, so each commits new bytes to the log.
void BM_RegistryWriteChanged(benchmark::State& state) {
    prepared(Pass::ReadAndWriteBack);
    DWORD salt = 0;
    for (auto _ : state) {
        settingsPass(Pass::ChangedWrite, ++salt);
    }
    report(state);
}
BENCHMARK(BM_RegistryWriteChanged)->Unit(benchmark::kMillisecond);

// The start-up: read each value and write it back.
void BM_RegistryReadThenWriteBack(benchmark::State& state) {
    prepared(Pass::ReadAndWriteBack);
    for (auto _ : state) {
        settingsPass(Pass::ReadAndWriteBack, 0);
    }
    report(state);
}
BENCHMARK(BM_RegistryReadThenWriteBack)->Unit(benchmark::kMillisecond);

// The first start: every value missing, so every key and value is created.
void BM_RegistryFirstStart(benchmark::State& state) {
    bench::temporaryHome();
    for (auto _ : state) {
        state.PauseTiming();
        deleteBenchKeys();
        state.ResumeTiming();
        settingsPass(Pass::ReadAndWriteBack, 0);
    }
    report(state);
}
BENCHMARK(BM_RegistryFirstStart)->Unit(benchmark::kMillisecond);

}  // namespace
