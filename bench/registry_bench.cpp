// Registry settings at start-up: the settings store reads about 1,600 values
// through CKcReg, each with its default, and writes each one back at once.
// Reported as time per value (time_per_value). Runs in a fresh temporary home, removed at exit.
//
// BM_RegistryVsPlainSqlite/<0|1> runs, in the same iterations, the same pass
// through the registry and through plain SQLite on a database of the same
// schema and settings (prepared statements, each section's key looked up once):
// 0 reads every value, each on its own; 1 is the start-up pass, every value
// read and written back, the registry's pass in one RegistryBatch and the
// plain pass in one transaction. The counter "speed_vs_plain" is plain time /
// registry time (1.0 = as fast).

#include "bench/bench_support.h"
#include "common/kc_reg.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>

#include <cstdlib>
#include <cstring>
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
    // Absent before the first run: a missing key is what the run wants.
    if (const LONG rc = RegDeleteKey(HKEY_CURRENT_USER, "Software\\Quennel\\VelmoorBench");
        rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        std::fprintf(stderr, "registry_bench: the bench keys could not be deleted (%ld)\n", static_cast<long>(rc));
    }
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

// The same schema and settings as the registry's database, driven directly.
class PlainSqlite {
public:
    explicit PlainSqlite(const std::string& file) {
        sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        exec("PRAGMA foreign_keys=ON");
        exec("CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT,"
             " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE, name TEXT NOT NULL COLLATE NOCASE,"
             " UNIQUE(parent, name));"
             "INSERT OR IGNORE INTO keys(id, parent, name) VALUES (2, NULL, 'HKEY_CURRENT_USER');"
             "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
             " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, name));");
        m_find = prepare("SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
        m_insertKey = prepare("INSERT INTO keys(parent, name) VALUES(?1, ?2)");
        m_query = prepare("SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
        m_upsert = prepare(
            "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
            "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data "
            "WHERE type IS NOT excluded.type OR data IS NOT excluded.data");
    }
    ~PlainSqlite() {
        for (sqlite3_stmt* s : {m_find, m_insertKey, m_query, m_upsert}) sqlite3_finalize(s);
        sqlite3_close_v2(m_db);
    }
    void exec(const char* sql) { sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }

    // The key of a backslash path below HKEY_CURRENT_USER, created on the way.
    sqlite3_int64 key(const std::string& path) {
        sqlite3_int64 id = 2;
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t end = std::min(path.find('\\', start), path.size());
            const std::string part = path.substr(start, end - start);
            sqlite3_bind_int64(m_find, 1, id);
            sqlite3_bind_text(m_find, 2, part.c_str(), int(part.size()), SQLITE_STATIC);
            if (sqlite3_step(m_find) == SQLITE_ROW) {
                id = sqlite3_column_int64(m_find, 0);
            } else {
                sqlite3_bind_int64(m_insertKey, 1, id);
                sqlite3_bind_text(m_insertKey, 2, part.c_str(), int(part.size()), SQLITE_STATIC);
                sqlite3_step(m_insertKey);
                sqlite3_reset(m_insertKey);
                id = sqlite3_last_insert_rowid(m_db);
            }
            sqlite3_reset(m_find);
            start = end + 1;
        }
        return id;
    }
    DWORD readDword(sqlite3_int64 key, const std::string& name, DWORD otherwise) {
        DWORD value = otherwise;
        bind(m_query, key, name);
        if (sqlite3_step(m_query) == SQLITE_ROW && sqlite3_column_int64(m_query, 0) == REG_DWORD &&
            sqlite3_column_bytes(m_query, 1) == 4) {
            std::memcpy(&value, sqlite3_column_blob(m_query, 1), 4);
        }
        sqlite3_reset(m_query);
        return value;
    }
    std::string readText(sqlite3_int64 key, const std::string& name, const char* otherwise) {
        std::string value = otherwise;
        bind(m_query, key, name);
        if (sqlite3_step(m_query) == SQLITE_ROW && sqlite3_column_int64(m_query, 0) == REG_SZ) {
            value.assign(static_cast<const char*>(sqlite3_column_blob(m_query, 1)),
                         std::size_t(sqlite3_column_bytes(m_query, 1)));
        }
        sqlite3_reset(m_query);
        return value;
    }
    void write(sqlite3_int64 key, const std::string& name, DWORD type, const void* data, int size) {
        bind(m_upsert, key, name);
        sqlite3_bind_int64(m_upsert, 3, type);
        sqlite3_bind_blob(m_upsert, 4, data, size, SQLITE_STATIC);
        sqlite3_step(m_upsert);
        sqlite3_reset(m_upsert);
    }

private:
    sqlite3_stmt* prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
        return s;
    }
    static void bind(sqlite3_stmt* s, sqlite3_int64 key, const std::string& name) {
        sqlite3_bind_int64(s, 1, key);
        sqlite3_bind_text(s, 2, name.c_str(), int(name.size()), SQLITE_STATIC);
    }

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_find = nullptr;
    sqlite3_stmt* m_insertKey = nullptr;
    sqlite3_stmt* m_query = nullptr;
    sqlite3_stmt* m_upsert = nullptr;
};

void plainPass(PlainSqlite& db, bool writeBack) {
    const Names& n = names();
    if (writeBack) db.exec("BEGIN IMMEDIATE");
    for (const auto& section : n.sections) {
        const sqlite3_int64 key = db.key("Software\\Quennel\\VelmoorBench\\1.000.0\\" + section);
        for (const auto& name : n.numbers) {
            DWORD value = db.readDword(key, name, 42);
            benchmark::DoNotOptimize(value);
            if (writeBack) db.write(key, name, REG_DWORD, &value, 4);
        }
        for (const auto& name : n.texts) {
            std::string text = db.readText(key, name, "C:\\Velmoor\\Events");
            benchmark::DoNotOptimize(text);
            if (writeBack) db.write(key, name, REG_SZ, text.data(), int(text.size()));
        }
    }
    if (writeBack) db.exec("COMMIT");
}

void BM_RegistryVsPlainSqlite(benchmark::State& state) {
    const bool startUp = state.range(0) != 0;
    prepared(Pass::ReadAndWriteBack);
    PlainSqlite plain(bench::temporaryFolder("vlm-plain-sqlite") + "/plain.db");
    plainPass(plain, true);
    double registrySeconds = 0;
    double plainSeconds = 0;
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        if (startUp) {
            RegistryBatch batch;
            settingsPass(Pass::ReadAndWriteBack, 0);
        } else {
            settingsPass(Pass::ReadOnly, 0);
        }
        const auto b = std::chrono::steady_clock::now();
        plainPass(plain, startUp);
        const auto c = std::chrono::steady_clock::now();
        registrySeconds += std::chrono::duration<double>(b - a).count();
        plainSeconds += std::chrono::duration<double>(c - b).count();
    }
    state.counters["speed_vs_plain"] = registrySeconds > 0 ? plainSeconds / registrySeconds : 0;
    state.counters["registry_us_per_value"] = 1e6 * registrySeconds / double(state.iterations() * kValues);
    state.counters["plain_us_per_value"] = 1e6 * plainSeconds / double(state.iterations() * kValues);
}
BENCHMARK(BM_RegistryVsPlainSqlite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// A key with `count` values (or subkeys) below the bench's own key, made once;
// empty when it could not be made.
std::string filledKey(bool values, int count) {
    const std::string path = "Software\\Quennel\\VelmoorBench\\Walk" + std::string(values ? "Values" : "Keys") +
                             std::to_string(count);
    RegistryBatch batch;
    RegistryKey key;
    if (RegistryKey::create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) return {};
    const DWORD one = 1;
    for (int i = 0; i < count; ++i) {
        const std::string name = "Item " + std::to_string(i);
        RegistryKey child;
        const LONG rc = values ? key.setValue(name, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4)
                               : RegistryKey::create(key.handle(), name, KEY_ALL_ACCESS, child);
        if (rc != ERROR_SUCCESS) return {};
    }
    return batch.commit() == ERROR_SUCCESS ? path : std::string();
}

// Walks through every value (or subkey) by index, as RegEnumValue's callers do;
// returns the items found.
int walkByIndex(const std::string& path, bool values) {
    HKEY key = 0;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    char name[64];
    BYTE data[16];
    int found = 0;
    for (DWORD i = 0;; ++i) {
        DWORD room = sizeof name;
        DWORD size = sizeof data;
        const LONG rc = values ? RegEnumValue(key, i, name, &room, nullptr, nullptr, data, &size)
                               : RegEnumKeyEx(key, i, name, &room, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) break;
        ++found;
    }
    RegCloseKey(key);
    return found;
}

}  // namespace

// BM_RegistryWalkByIndex/<0|1>: 0 walks a key's values, 1 its subkeys, by index
// from the first to the last, at 1,000 and at 10,000 items in the same
// iterations. "us_per_item_1k" and "us_per_item_10k" are the time per item
// found; "growth_per_item" is their ratio (1.0 = flat: the time per item does
// not grow with the count).
void BM_RegistryWalkByIndex(benchmark::State& state) {
    const bool values = state.range(0) == 0;
    bench::temporaryHome();
    const std::string small = filledKey(values, 1000);
    const std::string large = filledKey(values, 10000);
    if (small.empty() || large.empty()) {
        state.SkipWithError("the keys to walk could not be made");
        return;
    }
    double smallSeconds = 0;
    double largeSeconds = 0;
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        if (walkByIndex(small, values) != 1000) state.SkipWithError("the small key lost items");
        const auto b = std::chrono::steady_clock::now();
        if (walkByIndex(large, values) != 10000) state.SkipWithError("the large key lost items");
        const auto c = std::chrono::steady_clock::now();
        smallSeconds += std::chrono::duration<double>(b - a).count();
        largeSeconds += std::chrono::duration<double>(c - b).count();
    }
    const double runs = double(state.iterations());
    state.counters["us_per_item_1k"] = 1e6 * smallSeconds / (runs * 1000);
    state.counters["us_per_item_10k"] = 1e6 * largeSeconds / (runs * 10000);
    state.counters["growth_per_item"] = smallSeconds > 0 ? (largeSeconds / 10000) / (smallSeconds / 1000) : 0;
}
BENCHMARK(BM_RegistryWalkByIndex)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
