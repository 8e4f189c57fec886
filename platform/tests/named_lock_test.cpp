#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/named_lock.h"
#include "platform/testing/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::LockResult;
using platform::NamedMutex;
using platform::NamedSemaphore;

namespace {

std::filesystem::path marker(const std::string& name) { return platform::homeFolder() / name; }

void touch(const std::string& name) { std::ofstream(marker(name)) << "x"; }

// Polls for a marker file; false after 20 s so a lost child fails the test fast.
bool awaitMarker(const std::string& name) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!std::filesystem::exists(marker(name))) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Adds one to the number in a file, slowly enough that an unguarded
// read-modify-write by two writers would lose updates.
void incrementCounter(const std::filesystem::path& file) {
    long value = 0;
    if (FILE* in = std::fopen(file.c_str(), "r")) {
        if (std::fscanf(in, "%ld", &value) != 1) {
            value = -1000000;
        }
        std::fclose(in);
    }
    std::this_thread::yield();
    FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fprintf(out, "%ld\n", value + 1);
    std::fclose(out);
}

long readCounter(const std::filesystem::path& file) {
    long value = -1;
    if (FILE* in = std::fopen(file.c_str(), "r")) {
        if (std::fscanf(in, "%ld", &value) != 1) {
            value = -1;
        }
        std::fclose(in);
    }
    return value;
}

}  // namespace

// Holds the mutex named by args[0] and signals "held"; then releases it when
// the "go" marker appears (args[1] == "release") or stays until killed.
VELMOOR_TEST_CHILD(mutexHolder) {
    NamedMutex mutex(args.at(0));
    if (!mutex.tryLock()) {
        return 3;
    }
    touch("held");
    if (args.at(1) == "release") {
        if (!awaitMarker("go")) {
            return 4;
        }
        return mutex.release() ? 0 : 5;
    }
    for (;;) {
        ::pause();
    }
}

VELMOOR_TEST_CHILD(counterWriter) {
    NamedMutex mutex("CounterGuard");
    for (int i = 0; i < 200; ++i) {
        if (mutex.wait(platform::INFINITE) != LockResult::Acquired) {
            return 3;
        }
        incrementCounter(marker("counter"));
        mutex.release();
    }
    return 0;
}

VELMOOR_TEST_CHILD(semaphoreHolder) {
    NamedSemaphore semaphore(args.at(0), std::stoi(args.at(1)));
    if (!semaphore.tryAcquire()) {
        return 3;
    }
    touch("held");
    for (;;) {
        ::pause();
    }
}

TEST(NamedMutex, ExcludesAnotherProcessUntilItReleases) {
    auto child = velmoor::testing::ChildProcess::start("mutexHolder", {"VlmUsrMgrMutex", "release"});
    ASSERT_TRUE(awaitMarker("held"));
    NamedMutex mutex("VlmUsrMgrMutex");
    ASSERT_TRUE(mutex.isOpen());
    EXPECT_TRUE(mutex.alreadyExisted());
    EXPECT_FALSE(mutex.tryLock());
    EXPECT_EQ(mutex.wait(20), LockResult::TimedOut);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    touch("go");
    EXPECT_EQ(mutex.wait(20000), LockResult::Acquired);  // a clean release is not "abandoned"
    EXPECT_EQ(child.wait(20s), 0);
    EXPECT_TRUE(mutex.release());
}

TEST(NamedMutex, HolderThatDiesLeavesItAbandoned) {
    auto child = velmoor::testing::ChildProcess::start("mutexHolder", {"Global\\MxSecondInstance", "hold"});
    ASSERT_TRUE(awaitMarker("held"));
    NamedMutex mutex("MxSecondInstance");  // the same object: the namespace prefix is ignored
    EXPECT_FALSE(mutex.tryLock());
    child.kill();
    EXPECT_EQ(mutex.wait(20000), LockResult::Abandoned);
    EXPECT_TRUE(mutex.release());
    // Released cleanly this time, so the next holder finds nothing wrong.
    EXPECT_EQ(mutex.wait(0), LockResult::Acquired);
    EXPECT_TRUE(mutex.release());
}

// Hold numbers rise by one a hold, whoever holds: a holder that finds the
// number after its own last one knows that nobody held the mutex in between.
TEST(NamedMutex, HoldNumbersTellWhetherAnyoneHeldItSince) {
    NamedMutex mine("HoldCount");
    NamedMutex sameProcess("HoldCount");
    EXPECT_EQ(mine.holdNumber(), 0u);  // not held
    ASSERT_EQ(mine.wait(platform::INFINITE), LockResult::Acquired);
    const std::uint64_t first = mine.holdNumber();
    EXPECT_GT(first, 0u);
    ASSERT_EQ(mine.wait(0), LockResult::Acquired);  // again by its holder: the same hold
    EXPECT_EQ(mine.holdNumber(), first);
    EXPECT_TRUE(mine.release());
    EXPECT_TRUE(mine.release());
    EXPECT_EQ(mine.holdNumber(), 0u);

    ASSERT_EQ(mine.wait(platform::INFINITE), LockResult::Acquired);
    EXPECT_EQ(mine.holdNumber(), first + 1);  // nobody in between
    EXPECT_TRUE(mine.release());

    ASSERT_EQ(sameProcess.wait(platform::INFINITE), LockResult::Acquired);  // another holder in this process
    EXPECT_TRUE(sameProcess.release());
    auto child = velmoor::testing::ChildProcess::start("mutexHolder", {"HoldCount", "release"});
    ASSERT_TRUE(awaitMarker("held"));
    touch("go");
    EXPECT_EQ(child.wait(20s), 0);  // and one in another process
    ASSERT_EQ(mine.wait(platform::INFINITE), LockResult::Acquired);
    EXPECT_EQ(mine.holdNumber(), first + 4);
    EXPECT_TRUE(mine.release());
}

TEST(NamedMutex, ExistsWhileSomeProcessHasItOpen) {
    {
        NamedMutex first("Presence");
        EXPECT_FALSE(first.alreadyExisted());
        NamedMutex second("Presence");
        EXPECT_TRUE(second.alreadyExisted());
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    }
    NamedMutex again("Presence");  // every handle closed: the name is gone
    EXPECT_FALSE(again.alreadyExisted());
    NamedMutex other("presence");  // names are case-sensitive
    EXPECT_FALSE(other.alreadyExisted());
}

TEST(NamedMutex, TwoProcessesLoseNoUpdate) {
    auto a = velmoor::testing::ChildProcess::start("counterWriter");
    auto b = velmoor::testing::ChildProcess::start("counterWriter");
    EXPECT_EQ(a.wait(60s), 0);
    EXPECT_EQ(b.wait(60s), 0);
    EXPECT_EQ(readCounter(marker("counter")), 400);
}

TEST(NamedMutex, ThreadsOfOneProcessExcludeEachOther) {
    NamedMutex mine("Shared");
    NamedMutex theirs("Shared");
    ASSERT_EQ(mine.wait(0), LockResult::Acquired);
    ASSERT_EQ(mine.wait(0), LockResult::Acquired);  // the owner may nest
    std::atomic<int> stage{0};
    std::thread other([&] {
        EXPECT_EQ(theirs.wait(0), LockResult::TimedOut);
        EXPECT_FALSE(theirs.release());  // not the owner
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(platform::ERROR_NOT_OWNER));
        stage = 1;
        EXPECT_EQ(theirs.wait(20000), LockResult::Acquired);
        stage = 2;
        EXPECT_TRUE(theirs.release());
    });
    while (stage.load() == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(mine.release());
    EXPECT_EQ(stage.load(), 1);  // one release of two: still held
    EXPECT_TRUE(mine.release());
    other.join();
    EXPECT_EQ(stage.load(), 2);
}

TEST(NamedMutex, ThreadsCountWithoutLoss) {
    auto counter = marker("threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            NamedMutex mutex("ThreadCounter");
            for (int i = 0; i < 50; ++i) {
                ASSERT_EQ(mutex.wait(platform::INFINITE), LockResult::Acquired);
                incrementCounter(counter);
                mutex.release();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(readCounter(counter), 200);
}

TEST(NamedMutex, EmptyNameIsRefused) {
    NamedMutex mutex("");
    EXPECT_FALSE(mutex.isOpen());
    EXPECT_EQ(mutex.wait(0), LockResult::Failed);
    EXPECT_FALSE(mutex.release());
}

TEST(NamedSemaphore, SingleInstanceGuardAcrossProcesses) {
    auto child = velmoor::testing::ChildProcess::start("semaphoreHolder", {"VELMOOR3", "1"});
    ASSERT_TRUE(awaitMarker("held"));
    NamedSemaphore guard("VELMOOR3", 1);
    ASSERT_TRUE(guard.isOpen());
    EXPECT_EQ(guard.wait(0), LockResult::TimedOut);  // a second instance
    NamedSemaphore otherInstance("VELMOOR4", 1);
    EXPECT_EQ(otherInstance.wait(0), LockResult::Acquired);  // another id is free
    child.kill();
    EXPECT_EQ(guard.wait(20000), LockResult::Acquired);  // the dead holder's count came back
    EXPECT_TRUE(guard.release());
    EXPECT_FALSE(guard.release());  // nothing more to give back
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(platform::ERROR_TOO_MANY_POSTS));
}

TEST(NamedSemaphore, CountsAreSharedAndTheFirstCountStays) {
    auto child = velmoor::testing::ChildProcess::start("semaphoreHolder", {"Clients", "2"});
    ASSERT_TRUE(awaitMarker("held"));
    NamedSemaphore semaphore("Clients", 5);
    EXPECT_TRUE(semaphore.alreadyExisted());
    EXPECT_EQ(semaphore.maxCount(), 2);
    EXPECT_EQ(semaphore.wait(0), LockResult::Acquired);
    EXPECT_EQ(semaphore.wait(10), LockResult::TimedOut);
    // A count released by another thread of this process wakes a waiter.
    std::thread waiter([&] { EXPECT_EQ(semaphore.wait(20000), LockResult::Acquired); });
    std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(semaphore.release());
    waiter.join();
    EXPECT_TRUE(semaphore.release());
    EXPECT_FALSE(semaphore.release());
}

TEST(NamedSemaphore, BadCountIsRefused) {
    for (LONG count : {0, -1, 1025}) {
        NamedSemaphore semaphore("Bad", count);
        EXPECT_FALSE(semaphore.isOpen()) << count;
        EXPECT_EQ(semaphore.wait(0), LockResult::Failed);
    }
}

TEST(LockFileName, MapsEveryNameToOneSafeFileName) {
    struct Case {
        std::string name;
        std::string file;
    };
    const Case cases[] = {
        {"VlmUsrMgrMutex", "VlmUsrMgrMutex"},
        {"Global\\VELMOOR3", "VELMOOR3"},
        {"Local\\x", "x"},
        {"a/b\\c", "a%2Fb%5Cc"},
        {"..", "%2E."},
        {"sp ace", "sp%20ace"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::lockFileName(c.name), c.file);
    }
    std::string longA(400, 'a');
    std::string longB = longA + "b";
    EXPECT_LE(platform::lockFileName(longA).size(), 200u);
    EXPECT_NE(platform::lockFileName(longA), platform::lockFileName(longB));
}
