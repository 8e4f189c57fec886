#include "platform/testing/child_process.h"

#include <csignal>
#include <cstring>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmoor::testing {
namespace {

std::map<std::string, ChildBody>& roles() {
    static std::map<std::string, ChildBody> table;
    return table;
}

constexpr const char* kRoleFlag = "--velmoor-child=";

}  // namespace

bool registerChild(const char* name, ChildBody body) {
    roles()[name] = body;
    return true;
}

bool runChildRole(int argc, char** argv, int& exitCode) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kRoleFlag, std::strlen(kRoleFlag)) == 0) {
            auto found = roles().find(argv[i] + std::strlen(kRoleFlag));
            if (found == roles().end()) {
                exitCode = 99;
                return true;
            }
            std::vector<std::string> args(argv + i + 1, argv + argc);
            exitCode = found->second(args);
            return true;
        }
    }
    return false;
}

ChildProcess ChildProcess::start(const std::string& role, const std::vector<std::string>& args) {
    std::string self = "/proc/self/exe";
    std::string flag = std::string(kRoleFlag) + role;
    std::vector<char*> argv;
    argv.push_back(self.data());
    argv.push_back(flag.data());
    std::vector<std::string> copies(args);
    for (auto& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start child role " + role);
    }
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : m_pid(other.m_pid) { other.m_pid = -1; }

ChildProcess::~ChildProcess() { kill(); }

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (m_pid <= 0) {
        return -1;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            if (WIFEXITED(status)) {
                return WEXITSTATUS(status);
            }
            return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill();
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::kill() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
}

}  // namespace velmoor::testing
