#pragma once
// Named mutexes and named semaphores shared by the processes of one user.
//
// Each name maps to lock files under runtimeFolder()/locks, locked with flock, so
// the kernel releases a lock when the process holding it dies. Inside one process
// every object of the same name shares one state: a NamedMutex belongs to the
// thread that acquired it and may be acquired again by that thread (each wait is
// matched by a release); other threads of the process wait in the process first
// and then on the file, so threads and processes exclude each other alike.
//
// A NamedSemaphore of count N is N slot files; acquiring takes one free slot, so
// at most N holders exist across all processes. Counts are not owned by a thread:
// any thread of the process that acquired a count may release it; a process can
// release only counts it acquired itself (ERROR_TOO_MANY_POSTS otherwise).
//
// Names are case-sensitive; a leading "Global\" or "Local\" is ignored (there is
// one namespace per user). Objects may be used from any thread. Failures set the
// calling thread's last error (platform/last_error.h) and are reported by result.

#include "platform/types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Wait without limit.
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

enum class LockResult {
    Acquired,   // the caller holds the lock (or one count of the semaphore)
    Abandoned,  // acquired, but the last holder died holding it: guarded data may be half-written
    TimedOut,   // not acquired within the time-out
    Failed,     // the object is not open or a system call failed
};

class NamedMutex {
public:
    // Opens the mutex of that name, creating it when no process has it open.
    explicit NamedMutex(std::string_view name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    bool isOpen() const { return m_state != nullptr; }
    // True when the name was already open in this or another process when this
    // object opened it (ERROR_ALREADY_EXISTS of a create).
    bool alreadyExisted() const { return m_alreadyExisted; }

    // Waits up to timeoutMs (INFINITE: no limit; 0: a single try).
    LockResult wait(DWORD timeoutMs);
    // wait(0) == Acquired or Abandoned.
    bool tryLock();
    // Releases one acquisition by the calling thread; false (ERROR_NOT_OWNER)
    // when the calling thread does not hold it.
    bool release();
    // The number of the calling thread's hold among the holds of this name by
    // every process (counted from 1 in the lock file); 0 when the calling
    // thread does not hold it. A holder that finds the number one above that
    // of its own last hold knows that nobody held the mutex in between.
    std::uint64_t holdNumber() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
    bool m_alreadyExisted = false;
};

class NamedSemaphore {
public:
    // Opens the semaphore of that name with maxCount counts, all free at first,
    // creating it when no process has it open. An existing semaphore keeps the
    // count it was created with. maxCount must be 1 to 1024.
    NamedSemaphore(std::string_view name, LONG maxCount);
    ~NamedSemaphore();
    NamedSemaphore(const NamedSemaphore&) = delete;
    NamedSemaphore& operator=(const NamedSemaphore&) = delete;

    bool isOpen() const { return m_state != nullptr; }
    bool alreadyExisted() const { return m_alreadyExisted; }
    LONG maxCount() const;

    // Takes one count, waiting up to timeoutMs (INFINITE: no limit; 0: one try).
    LockResult wait(DWORD timeoutMs);
    bool tryAcquire();
    // Gives back one count that this process acquired.
    bool release();

    struct State;

private:
    std::shared_ptr<State> m_state;
    bool m_alreadyExisted = false;
};

// The lock file name used for a name: printable, no separators, at most 200 bytes.
std::string lockFileName(std::string_view name);

}  // namespace platform
