// Activity log appends: entries per second through Scrivane.zo_LogWrite's
// AddLogEntryEx (open, append under the writers' mutex, close: what the log
// client does for every entry), with one writing process and with four at
// once, on a log that grows (arg 0) and on one that cycles past 100 KB (arg 1).
// Reported as items_per_second (entries). Runs in a fresh temporary home,
// removed at exit; the server is registered there from beside the program.
//
// BM_LogCyclePlace appends to a full cycling log of about 10 MB whose newest
// entry sits at the start, middle or end of its cycle, each append timed
// against its baseline in the same run: open, lock, append and close of a
// plain file, the least an append under a writers' lock can cost. The counter
// "speed_vs_plain" is plain time / log time (1.0 = as fast).

#include "bench/bench_support.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/com/oleauto.h"
#include "scrivane/scrivane_lib.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using platform::com::Bstr;
using platform::com::ComPtr;

namespace {

constexpr int kWriters = 4;
constexpr int kEntriesPerWriter = 250;

// Points VELMOOR_HOME at a fresh temporary folder and registers the servers.
const std::string& benchHome() {
    static const std::string* home = [] {
        const std::string* kept = &bench::temporaryHome();
        CoInitialize(nullptr);
        platform::com::ensureServersRegistered();
        return kept;
    }();
    return *home;
}

ComPtr<Izo_LogWrite> makeWriter() {
    ComPtr<Izo_LogWrite> writer;
    platform::com::createInstance(CLSID_zo_LogWrite, writer);
    return writer;
}

// A new log; cycling at 100 KB or (practically) never.
std::string freshLog(bool cycling) {
    static int serial = 0;
    const std::string path = benchHome() + "/bench" + std::to_string(++serial) + ".log";
    ComPtr<Izo_LogWrite> writer = makeWriter();
    if (!writer || FAILED(writer->CreateLogFile(Bstr("VLM").get(), Bstr("1.0.0").get(), Bstr("Bench").get(), 0, 1,
                                                cycling ? 100 : 1000000, Bstr(path).get()))) {
        return {};
    }
    writer->CloseLogFile();
    return path;
}

bool appendEntries(Izo_LogWrite* writer, const Bstr& path, int count) {
    const Bstr user("\\host\\Recorder\\operator");
    const Bstr info("Connected to site 4711");
    for (int i = 0; i < count; ++i) {
        if (FAILED(writer->AddLogEntryEx(path.get(), LOGEVENTID_CONNECT, 0, user.get(), 0, info.get()))) {
            return false;
        }
    }
    return true;
}

void BM_LogAppendOneWriter(benchmark::State& state) {
    const std::string path = freshLog(state.range(0) != 0);
    ComPtr<Izo_LogWrite> writer = makeWriter();
    if (path.empty() || !writer) {
        state.SkipWithError("the log engine cannot be created");
        return;
    }
    const Bstr where(path);
    for (auto _ : state) {
        if (!appendEntries(writer.get(), where, 1)) {
            state.SkipWithError("append failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogAppendOneWriter)->Arg(0)->Arg(1);

// One iteration: four processes append kEntriesPerWriter entries each at once.
void BM_LogAppendFourWriters(benchmark::State& state) {
    const std::string path = freshLog(state.range(0) != 0);
    if (path.empty()) {
        state.SkipWithError("the log engine cannot be created");
        return;
    }
    for (auto _ : state) {
        std::vector<pid_t> children;
        for (int w = 0; w < kWriters; ++w) {
            pid_t pid = ::fork();
            if (pid == 0) {
                // The child makes its own writer, as another program would.
                ComPtr<Izo_LogWrite> writer = makeWriter();
                bool ok = writer && appendEntries(writer.get(), Bstr(path), kEntriesPerWriter);
                writer.reset();
                ::_exit(ok ? 0 : 1);
            }
            children.push_back(pid);
        }
        bool ok = true;
        for (pid_t pid : children) {
            int status = 0;
            ok &= pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (!ok) {
            state.SkipWithError("a writing process failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kWriters * kEntriesPerWriter);
}
BENCHMARK(BM_LogAppendFourWriters)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

constexpr int kCycleKilobytes = 10 * 1024;
constexpr int kCycleAppends = 2000;

// A cycling log filled to its limit with entries whose newest is `newest`
// lines from the first: written once through the engine for its header and
// one line, then the line repeated with rising ids to the limit.
std::string fullCyclingLog(std::int64_t newest, std::int64_t& lineCount) {
    static int serial = 0;
    const std::string path = benchHome() + "/cycle" + std::to_string(++serial) + ".log";
    ComPtr<Izo_LogWrite> writer = makeWriter();
    if (!writer || FAILED(writer->CreateLogFile(Bstr("VLM").get(), Bstr("1.0.0").get(), Bstr("Bench").get(), 0, 1,
                                                kCycleKilobytes, Bstr(path).get())) ||
        !appendEntries(writer.get(), Bstr(path), 1)) {
        return {};
    }
    writer->CloseLogFile();
    std::stringstream read;
    read << std::ifstream(path, std::ios::binary).rdbuf();
    std::string text = read.str();
    const std::size_t lineBytes = 123;
    const std::size_t entryStart = text.size() - lineBytes;
    const std::string header = text.substr(0, entryStart);
    const std::string rest = text.substr(entryStart + text.find(',', entryStart) - entryStart, lineBytes - 2);
    lineCount = std::int64_t(kCycleKilobytes) * 1024 / std::int64_t(lineBytes) + 10;
    std::string body;
    body.reserve(std::size_t(lineCount) * lineBytes);
    for (std::int64_t i = 0; i < lineCount; ++i) {
        // After a wrap, the lines up to the newest carry ids from 0, the rest
        // their ids of the cycle before.
        const std::int64_t id = i <= newest ? i : i + 1;
        std::string line = std::to_string(id) + rest;
        line.resize(lineBytes - 2, ' ');
        body += line + "\r\n";
    }
    // The eight header lines with the newest id in the fifth, then blanks and
    // a line end up to the first entry, as the engine keeps its header.
    std::string head;
    std::size_t at = 0;
    for (int i = 0; i < 8; ++i) {
        const std::size_t end = header.find('\n', at) + 1;
        head += i == 4 ? std::to_string(newest) + "\r\n" : header.substr(at, end - at);
        at = end;
    }
    // Room for the longest id, as the engine leaves once an id outgrows it.
    const std::size_t room = std::max(header.size(), head.size() + 2 + 10);
    head.append(room - head.size() - 2, ' ');
    head += "\r\n";
    // Written a line at a time, as the engine grows a log. One large write
    // would leave the file cached in large folios, in which every later small
    // write costs about three times as much (the kernel walks the whole folio's
    // blocks): a state a log written entry by entry is not in, and one the
    // plain baseline's file, grown by appends, is not in either.
    const int out = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    bool written = out >= 0 && ::write(out, head.data(), head.size()) == ssize_t(head.size());
    for (std::size_t at = 0; written && at < body.size(); at += lineBytes) {
        written = ::write(out, body.data() + at, lineBytes) == ssize_t(lineBytes);
    }
    if (out >= 0) ::close(out);
    return written ? path : std::string();
}

void BM_LogCyclePlace(benchmark::State& state) {
    std::int64_t lines = 0;
    const std::int64_t approx = std::int64_t(kCycleKilobytes) * 1024 / 123;
    const std::int64_t newest = state.range(0) == 0 ? 0 : state.range(0) == 1 ? approx / 2 : approx - kCycleAppends / 2;
    const std::string path = fullCyclingLog(newest, lines);
    ComPtr<Izo_LogWrite> writer = makeWriter();
    if (path.empty() || !writer) {
        state.SkipWithError("the log engine cannot be created");
        return;
    }
    const std::string plainPath = benchHome() + "/plain.log";
    const std::string lockPath = benchHome() + "/plain.lock";
    std::string line(121, 'x');
    line += "\r\n";
    const Bstr where(path);
    double logSeconds = 0;
    double plainSeconds = 0;
    for (auto _ : state) {
        auto a = std::chrono::steady_clock::now();
        if (!appendEntries(writer.get(), where, 1)) {
            state.SkipWithError("append failed");
            return;
        }
        auto b = std::chrono::steady_clock::now();
        int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ::flock(lock, LOCK_EX);
        int fd = ::open(plainPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        bool wrote = fd >= 0 && ::write(fd, line.data(), line.size()) == ssize_t(line.size());
        ::close(fd);
        ::flock(lock, LOCK_UN);
        ::close(lock);
        auto c = std::chrono::steady_clock::now();
        if (!wrote) {
            state.SkipWithError("plain append failed");
            return;
        }
        logSeconds += std::chrono::duration<double>(b - a).count();
        plainSeconds += std::chrono::duration<double>(c - b).count();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["speed_vs_plain"] = logSeconds > 0 ? plainSeconds / logSeconds : 0;
    state.counters["log_us"] = 1e6 * logSeconds / double(state.iterations());
    state.counters["plain_us"] = 1e6 * plainSeconds / double(state.iterations());
}
// Arg 0: the newest entry is the first line; 1: the middle; 2: near the end,
// so the run wraps to the first line half-way.
BENCHMARK(BM_LogCyclePlace)->Arg(0)->Arg(1)->Arg(2)->Iterations(kCycleAppends);

}  // namespace
