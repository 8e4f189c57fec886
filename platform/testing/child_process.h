#pragma once
// Two-process tests: a test program re-runs itself as a child in a named role.
//
//   VELMOOR_TEST_CHILD(writer) { ...; return 0; }      // the child's body
//   auto child = velmoor::testing::ChildProcess::start("writer", {"arg"});
//   EXPECT_EQ(child.wait(std::chrono::seconds(10)), 0);
//
// The child inherits the environment, so it shares the parent's VELMOOR_HOME.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmoor::testing {

using ChildBody = int (*)(const std::vector<std::string>& args);

// Registers a child role; used through VELMOOR_TEST_CHILD.
bool registerChild(const char* name, ChildBody body);

// Runs the role named by --velmoor-child=<name> when present; returns true and
// sets exitCode when it ran one.
bool runChildRole(int argc, char** argv, int& exitCode);

// A child test process. Killed and reaped when the object goes away unwaited.
class ChildProcess {
public:
    static ChildProcess start(const std::string& role, const std::vector<std::string>& args = {});
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return m_pid; }
    // The exit code; -1 when it did not end in time (it is then killed),
    // 128 + signal when a signal ended it.
    int wait(std::chrono::milliseconds timeout);
    void kill();

private:
    explicit ChildProcess(pid_t pid) : m_pid(pid) {}
    pid_t m_pid = -1;
};

}  // namespace velmoor::testing

#define VELMOOR_TEST_CHILD(name)                                                          \
    static int velmoorChild_##name(const std::vector<std::string>& args);                 \
    [[maybe_unused]] static const bool velmoorChildRegistered_##name =                    \
        ::velmoor::testing::registerChild(#name, &velmoorChild_##name);                   \
    static int velmoorChild_##name([[maybe_unused]] const std::vector<std::string>& args)
