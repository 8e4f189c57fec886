// Whole recorder programs (velmoor_transfer_peer, beside this program, runs
// each one whole): two of them over loopback, one at rest, one starting.
//
// BM_TransferBetweenPrograms/<MB>: one program sends a file of 1, 10 or 100 MB
// to the other (1 KB blocks, each answered before the next goes). Timed from
// the send to its confirmed end, as the sending program sees it; the received
// file is compared with the sent one. In the same run the baseline moves the
// same file from file to file over a raw TCP socket pair between two processes.
// Counters: program_MBps, raw_MBps and speed_vs_raw (raw time / program time).
//
// BM_ProgramIdle/<0|1>: the processor share of a core the program uses while
// it rests, listening alone (0) or connected to another program and silent
// (1), from its own processor time (the scheduler's run time of all its
// threads) over a fixed window in which the script does not wake it. Baseline
// in the same run, measured the same way: a minimal Qt program with a
// listening socket. Counters: program_pct and baseline_pct (per cent of one
// core).

#include "bench/bench_support.h"
#include "platform/folders.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

unsigned short freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Starts a program that lies beside this one.
pid_t spawnProgram(const char* name, const std::vector<std::string>& args) {
    const std::string program = (platform::executableFolder() / name).string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

pid_t spawnPeer(const std::vector<std::string>& args) { return spawnProgram("velmoor_transfer_peer", args); }

bool waitPeer(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool sameContent(const std::string& a, const std::string& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> bx(1 << 16), by(1 << 16);
    for (;;) {
        x.read(bx.data(), std::streamsize(bx.size()));
        y.read(by.data(), std::streamsize(by.size()));
        if (x.gcount() != y.gcount() || std::memcmp(bx.data(), by.data(), std::size_t(x.gcount())) != 0) return false;
        if (x.gcount() == 0) return x.eof() && y.eof();
    }
}

std::string sampleFile(const std::string& folder, std::size_t bytes) {
    const std::string path = folder + "/sample-" + std::to_string(bytes) + ".bin";
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 16);
    std::uint32_t x = 12345;
    for (std::size_t done = 0; done < bytes; done += block.size()) {
        for (auto& c : block) {
            x = x * 1664525u + 1013904223u;
            c = char(x >> 24);
        }
        out.write(block.data(), std::streamsize(std::min(block.size(), bytes - done)));
    }
    return path;
}

// Moves the file over a raw loopback TCP connection from a child process that
// reads it to this process, which writes it; the seconds from the connect to
// the last byte written.
double rawSocketCopy(const std::string& source, const std::string& target) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return -1;
    }
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ::_exit(1);
        std::FILE* in = std::fopen(source.c_str(), "rb");
        std::vector<char> block(1 << 16);
        std::size_t got;
        while (in != nullptr && (got = std::fread(block.data(), 1, block.size(), in)) > 0) {
            for (std::size_t done = 0; done < got;) {
                const ssize_t n = ::send(fd, block.data() + done, got - done, 0);
                if (n <= 0) ::_exit(1);
                done += std::size_t(n);
            }
        }
        ::close(fd);
        ::_exit(0);
    }
    const int fd = ::accept(listener, nullptr, nullptr);
    std::FILE* out = std::fopen(target.c_str(), "wb");
    std::vector<char> block(1 << 16);
    ssize_t n;
    while (fd >= 0 && out != nullptr && (n = ::recv(fd, block.data(), block.size(), 0)) > 0) {
        std::fwrite(block.data(), 1, std::size_t(n), out);
    }
    if (out != nullptr) std::fclose(out);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    ::close(listener);
    return waitPeer(child) ? seconds : -1;
}

void BM_TransferBetweenPrograms(benchmark::State& state) {
    const std::size_t bytes = std::size_t(state.range(0)) << 20;
    const std::string folder = bench::temporaryHome();
    const std::string source = sampleFile(bench::temporaryFolder("vlm-transfer"), bytes);
    double programSeconds = 0;
    double rawSeconds = 0;
    for (auto _ : state) {
        const std::string listenerPort = std::to_string(freePort());
        const std::string callerPort = std::to_string(freePort());
        const std::string listenerOut = folder + "/listener-" + listenerPort;
        const std::string callerOut = folder + "/caller-" + callerPort;
        const pid_t listener = spawnPeer({"listener", listenerPort, listenerOut});
        // The caller calls once: it starts when the listener listens.
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (!std::ifstream(listenerOut + ".listening") && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const pid_t caller = spawnPeer({"caller", callerPort, listenerPort, source, callerOut});
        const bool callerOk = waitPeer(caller);
        const bool listenerOk = waitPeer(listener);
        const std::string sent = firstLine(callerOut);
        const std::string received = firstLine(listenerOut);
        if (!callerOk || !listenerOk || sent.rfind("sent ", 0) != 0 || received.rfind("received ", 0) != 0) {
            state.SkipWithError(("the transfer failed: caller '" + sent + "', listener '" + received + "'").c_str());
            return;
        }
        if (!sameContent(source, received.substr(9))) {
            state.SkipWithError("the received file differs from the sent one");
            return;
        }
        std::remove(received.substr(9).c_str());
        const double seconds = std::stod(sent.substr(5));
        const double raw = rawSocketCopy(source, folder + "/raw-copy.bin");
        if (raw <= 0) {
            state.SkipWithError("the raw socket copy failed");
            return;
        }
        state.SetIterationTime(seconds);
        programSeconds += seconds;
        rawSeconds += raw;
    }
    const double megabytes = double(bytes) / 1e6 * double(state.iterations());
    state.SetBytesProcessed(std::int64_t(bytes) * state.iterations());
    state.counters["program_MBps"] = megabytes / programSeconds;
    state.counters["raw_MBps"] = megabytes / rawSeconds;
    state.counters["speed_vs_raw"] = rawSeconds / programSeconds;
}
BENCHMARK(BM_TransferBetweenPrograms)->Arg(1)->Arg(10)->Arg(100)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

constexpr int kIdleWindowMs = 5000;

double cpuShare(const std::string& line) { return line.rfind("cpu ", 0) == 0 ? std::stod(line.substr(4)) : -1; }

void BM_ProgramIdle(benchmark::State& state) {
    const bool connected = state.range(0) != 0;
    const std::string folder = bench::temporaryHome();
    const std::string window = std::to_string(kIdleWindowMs);
    double program = 0;
    double baseline = 0;
    for (auto _ : state) {
        const std::string port = std::to_string(freePort());
        const std::string out = folder + "/idle-" + port;
        const std::string baseOut = folder + "/idle-base-" + port;
        // The baseline runs at the same time, so both see the same machine.
        const pid_t base = spawnPeer({"baseline", window, baseOut});
        pid_t other = -1;
        std::string otherOut;
        pid_t measured;
        if (connected) {
            const std::string callerPort = std::to_string(freePort());
            otherOut = folder + "/idle-caller-" + callerPort;
            measured = spawnPeer({"idle", port, "wait", window, out});
            // The caller calls once: it starts when the measured program listens.
            const auto deadline = Clock::now() + std::chrono::seconds(60);
            while (!std::ifstream(out + ".listening") && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            // The caller measures longer, so its hang-up falls after the
            // measured program's window.
            other = spawnPeer({"idle", callerPort, port, std::to_string(kIdleWindowMs + 1500), otherOut});
        } else {
            measured = spawnPeer({"idle", port, "none", window, out});
        }
        const bool ok = waitPeer(measured) && (other < 0 || waitPeer(other)) && waitPeer(base);
        const double share = cpuShare(firstLine(out));
        const double baseShare = cpuShare(firstLine(baseOut));
        if (!ok || share < 0 || baseShare < 0) {
            state.SkipWithError(("the idle run failed: '" + firstLine(out) + "'").c_str());
            return;
        }
        program += share;
        baseline += baseShare;
        state.SetIterationTime(kIdleWindowMs / 1000.0);
    }
    state.counters["program_pct"] = 100 * program / double(state.iterations());
    state.counters["baseline_pct"] = 100 * baseline / double(state.iterations());
}
BENCHMARK(BM_ProgramIdle)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Seconds from `spawned` to the moment a program's result line "shown <ns>"
// says its window was shown; -1 when it was not.
double shownAfter(Clock::time_point spawned, const std::string& line) {
    if (line.rfind("shown ", 0) != 0) return -1;
    const Clock::time_point shown{std::chrono::nanoseconds(std::stoll(line.substr(6)))};
    return std::chrono::duration<double>(shown - spawned).count();
}

// Seconds from starting `program` (beside this one) to its window shown.
double startUpSeconds(const char* program, std::vector<std::string> args, const std::string& out) {
    args.push_back(out);
    const Clock::time_point spawned = Clock::now();
    const pid_t pid = spawnProgram(program, args);
    return waitPeer(pid) ? shownAfter(spawned, firstLine(out)) : -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

constexpr int kStartUps = 9;

// BM_ProgramStartUp: the recorder program (the whole program, as
// velmoor_transfer_peer runs it) from its start to its main window shown
// (off-screen), in a home that has been started before. Baseline in the same
// run, taking turns with it: velmoor_minimal_window, a Qt Widgets program that
// shows one window. Counters: program_ms and baseline_ms (medians of the
// starts) and vs_baseline, their ratio.
void BM_ProgramStartUp(benchmark::State& state) {
    const std::string folder = bench::temporaryHome();
    std::vector<double> program;
    std::vector<double> baseline;
    int run = 0;
    auto start = [&](std::vector<double>* into) {
        const std::string out = folder + "/start-up-" + std::to_string(++run);
        const double seconds = into == &baseline
                                   ? startUpSeconds("velmoor_minimal_window", {}, out)
                                   : startUpSeconds("velmoor_transfer_peer", {"startup", std::to_string(freePort())}, out);
        if (seconds < 0) {
            state.SkipWithError(("a start failed: '" + firstLine(out) + "'").c_str());
            return false;
        }
        if (into != nullptr) into->push_back(seconds);
        return true;
    };
    // The first start of a home writes its defaults and registers the servers.
    if (!start(nullptr) || !start(&baseline)) return;
    baseline.clear();
    for (auto _ : state) {
        for (int i = 0; i < kStartUps; ++i) {
            if (!start(&program) || !start(&baseline)) return;
        }
        state.SetIterationTime(median(program));
    }
    state.counters["program_ms"] = 1e3 * median(program);
    state.counters["baseline_ms"] = 1e3 * median(baseline);
    state.counters["vs_baseline"] = median(baseline) > 0 ? median(program) / median(baseline) : 0;
}
BENCHMARK(BM_ProgramStartUp)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
