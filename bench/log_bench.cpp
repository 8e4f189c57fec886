// Activity log appends: entries per second through Scrivane.zo_LogWrite's
// AddLogEntryEx (open, append under the writers' mutex, close: what the log
// client does for every entry), with one writing process and with four at
// once, on a log that grows (arg 0) and on one that cycles past 100 KB (arg 1).
// Reported as items_per_second (entries). Runs in a fresh temporary home,
// removed at exit; the server is registered there from beside the program.

#include "bench/bench_support.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/com/oleauto.h"
#include "scrivane/scrivane_lib.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
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

}  // namespace
