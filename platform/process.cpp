#include "platform/process.h"

#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/local_bus.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kInfinite = 0xFFFFFFFF;

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool endsWithExe(std::string_view name) {
    return name.size() > 4 && lowered(name.substr(name.size() - 4)) == ".exe";
}

std::string withoutExe(std::string_view name) {
    return std::string(endsWithExe(name) ? name.substr(0, name.size() - 4) : name);
}

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> lookUp(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        std::filesystem::path path(name);
        return isExecutableFile(path) ? std::optional(path) : std::nullopt;
    }
    if (auto beside = executableFolder() / name; isExecutableFile(beside)) {
        return beside;
    }
    const char* pathVariable = std::getenv("PATH");
    std::string_view rest = pathVariable ? pathVariable : "";
    while (!rest.empty()) {
        auto colon = rest.find(':');
        std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.empty()) {
            continue;
        }
        if (auto candidate = std::filesystem::path(folder) / name; isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

ProcessExit fromStatus(int status) {
    if (WIFEXITED(status)) {
        return {ProcessExit::Kind::Exited, WEXITSTATUS(status)};
    }
    if (WIFSIGNALED(status)) {
        return {ProcessExit::Kind::Signaled, WTERMSIG(status)};
    }
    return {ProcessExit::Kind::Failed, 0};
}

// Reaps a process nobody waits for any more.
void reapLater(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // No thread to spare: the process stays a zombie until we end.
    }
}

}  // namespace

Process::~Process() { release(); }

Process::Process(Process&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)), m_exit(std::exchange(other.m_exit, std::nullopt)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        release();
        m_pid = std::exchange(other.m_pid, -1);
        m_exit = std::exchange(other.m_exit, std::nullopt);
    }
    return *this;
}

Process Process::start(std::string_view program, const std::vector<std::string>& args) {
    return start(program, args, std::string());
}

Process Process::start(std::string_view program, const std::vector<std::string>& args,
                       const std::string& workingFolder) {
    auto path = findProgram(program);
    if (!path) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return Process();
    }
    std::string file = path->string();
    std::vector<std::string> strings;
    strings.push_back(file);
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    int error = workingFolder.empty() ? 0 : ::posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    if (error == 0) error = ::posix_spawn(&pid, file.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        setLastErrorFromErrno(error);
        return Process();
    }
    return Process(pid);
}

ProcessExit Process::wait(DWORD timeoutMs) {
    if (m_exit) {
        return *m_exit;
    }
    if (m_pid <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return {ProcessExit::Kind::Failed, 0};
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == kInfinite ? 0 : timeoutMs);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(m_pid, &status, timeoutMs == kInfinite ? 0 : WNOHANG);
        if (done == m_pid) {
            m_exit = fromStatus(status);
            return *m_exit;
        }
        if (done < 0 && errno != EINTR) {
            setLastErrorFromErrno(errno);
            return {ProcessExit::Kind::Failed, 0};
        }
        if (done == 0) {
            auto now = Clock::now();
            if (now >= deadline) {
                SetLastError(ERROR_TIMEOUT);
                return {ProcessExit::Kind::Running, 0};
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, std::chrono::milliseconds(10));
        }
    }
}

bool Process::kill(int signal) {
    if (m_pid <= 0 || m_exit) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (::kill(m_pid, signal) != 0) {
        setLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

void Process::release() {
    if (m_pid > 0 && !m_exit) {
        reapLater(m_pid);
    }
    m_pid = -1;
    m_exit.reset();
}

std::optional<std::filesystem::path> findProgram(std::string_view program) {
    if (program.empty()) {
        return std::nullopt;
    }
    if (auto found = lookUp(std::string(program))) {
        return found;
    }
    if (endsWithExe(program)) {
        return lookUp(withoutExe(program));
    }
    return std::nullopt;
}

ReadyResult waitUntilReady(Process& process, const char* className, DWORD timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == kInfinite ? 0 : timeoutMs);
    for (;;) {
        if (FindWindow(className, nullptr) != 0) {
            return ReadyResult::Ready;
        }
        ProcessExit exit = process.wait(0);
        if (exit.kind != ProcessExit::Kind::Running) {
            return ReadyResult::Ended;
        }
        if (timeoutMs != kInfinite && Clock::now() >= deadline) {
            SetLastError(ERROR_TIMEOUT);
            return ReadyResult::TimedOut;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<pid_t> findProcesses(std::string_view name) {
    std::vector<pid_t> found;
    const std::string wanted = lowered(withoutExe(name));
    if (wanted.empty()) {
        return found;
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string id = entry.path().filename().string();
        if (id.empty() || !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        // The executable's own name; a process we may not inspect is skipped.
        std::error_code linkError;
        auto exe = std::filesystem::read_symlink(entry.path() / "exe", linkError);
        if (linkError) {
            continue;
        }
        std::string base = exe.filename().string();
        constexpr std::string_view kDeleted = " (deleted)";
        if (base.size() > kDeleted.size() && base.ends_with(kDeleted)) {
            base.resize(base.size() - kDeleted.size());
        }
        if (lowered(withoutExe(base)) != wanted) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string statLine;
        std::getline(stat, statLine);
        auto close = statLine.rfind(')');
        if (close != std::string::npos && close + 2 < statLine.size() && statLine[close + 2] == 'Z') {
            continue;  // ended, not yet reaped
        }
        found.push_back(static_cast<pid_t>(std::stol(id)));
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace platform
