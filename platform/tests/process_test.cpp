#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/local_bus.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "platform/testing/child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <chrono>
#include <unistd.h>

using platform::Process;
using platform::ProcessExit;

namespace {

bool holds(const std::vector<pid_t>& pids, pid_t pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

void writeScript(const std::filesystem::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
}

// Starts this test program again in a child role, through Process::start.
Process startRole(const std::string& role) {
    return Process::start("/proc/self/exe", {"--velmoor-child=" + role});
}

}  // namespace

VELMOOR_TEST_CHILD(publishReady) {
    platform::MessageWindow window;
    if (!window.create("READY-CLASS", "ready")) {
        return 3;
    }
    for (;;) {
        ::pause();
    }
}

VELMOOR_TEST_CHILD(endWithoutWindow) { return 4; }

TEST(Process, ExitCodesAndSignalsAreTold) {
    struct Case {
        const char* script;
        ProcessExit::Kind kind;
        int code;
    };
    const Case cases[] = {
        {"exit 0", ProcessExit::Kind::Exited, 0},
        {"exit 3", ProcessExit::Kind::Exited, 3},
        {"kill -SEGV $$", ProcessExit::Kind::Signaled, SIGSEGV},
        {"kill -KILL $$", ProcessExit::Kind::Signaled, SIGKILL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        Process process = Process::start("sh", {"-c", c.script});
        ASSERT_TRUE(process.valid());
        ProcessExit exit = process.wait(20000);
        EXPECT_EQ(exit.kind, c.kind);
        EXPECT_EQ(exit.code, c.code);
        ProcessExit again = process.wait(0);  // the same answer once ended
        EXPECT_EQ(again.kind, c.kind);
        EXPECT_EQ(again.code, c.code);
    }
}

TEST(Process, RunningProcessIsFoundByNameUntilItEnds) {
    Process process = Process::start("sleep", {"60"});
    ASSERT_TRUE(process.valid());
    EXPECT_EQ(process.wait(0).kind, ProcessExit::Kind::Running);
    EXPECT_TRUE(holds(platform::findProcesses("sleep"), process.pid()));
    EXPECT_TRUE(holds(platform::findProcesses("SLEEP.EXE"), process.pid()));
    EXPECT_FALSE(holds(platform::findProcesses("slee"), process.pid()));
    EXPECT_TRUE(process.kill(SIGTERM));
    ProcessExit exit = process.wait(20000);
    EXPECT_EQ(exit.kind, ProcessExit::Kind::Signaled);
    EXPECT_EQ(exit.code, SIGTERM);
    EXPECT_FALSE(holds(platform::findProcesses("sleep"), process.pid()));
    EXPECT_FALSE(process.kill(SIGTERM));
    EXPECT_TRUE(platform::findProcesses("").empty());
}

TEST(Process, BareNamesLookBesideTheProgramThenOnPath) {
    auto folder = platform::homeFolder() / "bin";
    std::filesystem::create_directories(folder);
    writeScript(folder / "velmoor-viewer", "exit 7");
    auto self = platform::executableFolder() / "platform_tests";
    ASSERT_TRUE(std::filesystem::exists(self));
    writeScript(folder / "platform_tests", "exit 8");  // loses to the program's own folder
    ::setenv("PATH", (folder.string() + ":/usr/bin:/bin").c_str(), 1);

    EXPECT_EQ(platform::findProgram("velmoor-viewer"), folder / "velmoor-viewer");
    EXPECT_EQ(platform::findProgram("velmoor-viewer.exe"), folder / "velmoor-viewer");
    EXPECT_EQ(platform::findProgram("platform_tests"), self);
    EXPECT_FALSE(platform::findProgram("no-such-program").has_value());
    EXPECT_FALSE(platform::findProgram("").has_value());

    Process viewer = Process::start("velmoor-viewer.exe");
    ASSERT_TRUE(viewer.valid());
    EXPECT_EQ(viewer.wait(20000).code, 7);

    Process missing = Process::start("no-such-program");
    EXPECT_FALSE(missing.valid());
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(missing.wait(0).kind, ProcessExit::Kind::Failed);
}

TEST(Process, ReadyWhenItsWindowAppears) {
    Process ready = startRole("publishReady");
    ASSERT_TRUE(ready.valid());
    EXPECT_EQ(platform::waitUntilReady(ready, "READY-CLASS", 20000), platform::ReadyResult::Ready);
    EXPECT_NE(platform::FindWindow("READY-CLASS", nullptr), 0u);
    // Not the class it publishes: the wait runs out.
    EXPECT_EQ(platform::waitUntilReady(ready, "OTHER-CLASS", 30), platform::ReadyResult::TimedOut);
    ready.kill(SIGKILL);
    EXPECT_EQ(ready.wait(20000).kind, ProcessExit::Kind::Signaled);

    Process quitter = startRole("endWithoutWindow");
    ASSERT_TRUE(quitter.valid());
    EXPECT_EQ(platform::waitUntilReady(quitter, "NEVER-CLASS", 20000), platform::ReadyResult::Ended);
    EXPECT_EQ(quitter.wait(0).code, 4);
}

TEST(Process, ReleasedProcessRunsOnAndLeavesNoZombie) {
    pid_t pid = -1;
    {
        Process process = Process::start("sh", {"-c", "exit 0"});
        ASSERT_TRUE(process.valid());
        pid = process.pid();
    }  // released unwaited
    // The layer reaps it: soon it is no process of ours at all.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::kill(pid, 0) == 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "left a zombie";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
