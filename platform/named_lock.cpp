#include "platform/named_lock.h"

#include "platform/fd.h"
#include "platform/folders.h"
#include "platform/last_error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr LONG kMaxSemaphoreCount = 1024;

std::string_view withoutNamespace(std::string_view name) {
    for (std::string_view prefix : {"Global\\", "Local\\"}) {
        if (name.substr(0, prefix.size()) == prefix) {
            return name.substr(prefix.size());
        }
    }
    return name;
}

Fd openLockFile(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        setLastErrorFromErrno(errno);
    }
    return Fd(fd);
}

bool flockRetrying(int fd, int operation) {
    for (;;) {
        if (::flock(fd, operation) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

// Takes an exclusive flock, polling until the deadline (none: block).
// Another process's release is not signalled to us, so a bounded wait polls
// with a short, growing pause.
LockResult flockUntil(int fd, std::optional<Clock::time_point> deadline) {
    if (!deadline) {
        if (flockRetrying(fd, LOCK_EX)) {
            return LockResult::Acquired;
        }
        setLastErrorFromErrno(errno);
        return LockResult::Failed;
    }
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (flockRetrying(fd, LOCK_EX | LOCK_NB)) {
            return LockResult::Acquired;
        }
        if (errno != EWOULDBLOCK) {
            setLastErrorFromErrno(errno);
            return LockResult::Failed;
        }
        auto now = Clock::now();
        if (now >= *deadline) {
            SetLastError(ERROR_TIMEOUT);
            return LockResult::TimedOut;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, *deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(10));
    }
}

std::optional<Clock::time_point> deadlineFor(DWORD timeoutMs) {
    if (timeoutMs == INFINITE) {
        return std::nullopt;
    }
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

std::filesystem::path locksFolder() {
    auto folder = runtimeFolder() / "locks";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

// Opens the name's reference file and holds a shared lock on it for as long as
// the process keeps the object open. The name "exists" while any process holds
// that shared lock. A guard lock makes check-and-join atomic between processes.
bool joinName(const std::filesystem::path& base, Fd& refFd, bool& existed) {
    Fd guard = openLockFile(base.string() + ".guard");
    refFd = openLockFile(base.string() + ".ref");
    if (!guard.valid() || !refFd.valid() || !flockRetrying(guard.get(), LOCK_EX)) {
        setLastErrorFromErrno(errno);
        return false;
    }
    existed = !flockRetrying(refFd.get(), LOCK_EX | LOCK_NB);
    bool joined = flockRetrying(refFd.get(), LOCK_SH);
    if (!joined) {
        setLastErrorFromErrno(errno);
    }
    return joined;  // the guard is released when it closes
}

// Process-wide table of open names, so objects of the same name share one state.
template <typename State>
class StateTable {
public:
    std::shared_ptr<State> find(const std::string& key) {
        auto found = m_states.find(key);
        if (found == m_states.end()) {
            return nullptr;
        }
        auto state = found->second.lock();
        if (!state) {
            m_states.erase(found);
        }
        return state;
    }
    // Hands out this process's state of an object already open under `key`,
    // reporting ERROR_ALREADY_EXISTS as every later opener sees it.
    bool reuse(const std::string& key, std::shared_ptr<State>& out) {
        auto state = find(key);
        if (!state) {
            return false;
        }
        out = std::move(state);
        SetLastError(ERROR_ALREADY_EXISTS);
        return true;
    }
    void add(const std::string& key, const std::shared_ptr<State>& state) { m_states[key] = state; }
    std::mutex& mutex() { return m_mutex; }

private:
    std::mutex m_mutex;
    std::map<std::string, std::weak_ptr<State>> m_states;
};

}  // namespace

std::string lockFileName(std::string_view name) {
    name = withoutNamespace(name);
    std::string out;
    for (unsigned char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || (c == '.' && !out.empty());
        if (plain) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    constexpr std::size_t kMaxBytes = 200;
    if (out.size() > kMaxBytes) {
        // Keep long names apart by a hash of the whole name.
        char hash[20];
        std::snprintf(hash, sizeof hash, "~%016zx", std::hash<std::string_view>{}(name));
        out = out.substr(0, kMaxBytes - std::char_traits<char>::length(hash)) + hash;
    }
    return out;
}

// ---------------------------------------------------------------------------
// NamedMutex

namespace {

// A holder writes its process id into the head of the lock file and clears it
// on release: an id found there by the next holder means the last one died
// holding the lock. Behind the id the head counts the holds of every process,
// so a holder can tell whether anyone held the lock since its own last hold.
// The head is mapped shared, so the record costs no system call; what is
// written stays in the file when the writer dies.
class HolderRecord {
public:
    static constexpr std::size_t kBytes = 32;
    static constexpr std::size_t kIdBytes = 24;  // the id text, zero-padded; the count follows

    HolderRecord() = default;
    ~HolderRecord() {
        if (m_head != nullptr) {
            ::munmap(m_head, kBytes);
        }
    }
    HolderRecord(const HolderRecord&) = delete;
    HolderRecord& operator=(const HolderRecord&) = delete;

    // Maps the head of the lock file, growing the file to hold it (never
    // shrinking it: a record left by a dead holder stays readable).
    bool map(int fd) {
        struct stat info {};
        if (::fstat(fd, &info) != 0 ||
            (info.st_size < off_t(kBytes) && ::ftruncate(fd, off_t(kBytes)) != 0)) {
            setLastErrorFromErrno(errno);
            return false;
        }
        void* head = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (head == MAP_FAILED) {
            setLastErrorFromErrno(errno);
            return false;
        }
        m_head = static_cast<char*>(head);
        std::snprintf(m_mine, sizeof m_mine, "%d\n", static_cast<int>(::getpid()));
        return true;
    }
    // Called holding the file lock: true when a dead holder's record was
    // there. `hold` becomes the number of this hold.
    bool take(std::uint64_t& hold) {
        const bool abandoned = m_head[0] != '\0';
        std::memcpy(m_head, m_mine, kIdBytes);
        std::memcpy(&hold, m_head + kIdBytes, sizeof hold);
        ++hold;
        std::memcpy(m_head + kIdBytes, &hold, sizeof hold);
        return abandoned;
    }
    // Called holding the file lock, just before it goes.
    void clear() { std::memset(m_head, 0, kIdBytes); }

private:
    char* m_head = nullptr;
    char m_mine[kIdBytes] = {};  // this process's record, zero-padded
};

}  // namespace

struct NamedMutex::State {
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner;  // the thread of this process that holds it
    unsigned depth = 0;     // its acquisitions not yet released
    Fd lockFd;              // flock'ed while a thread of this process holds it
    HolderRecord holder;    // the head of lockFd
    std::uint64_t hold = 0; // the number of the hold in force
    Fd refFd;               // shared lock: this process has the name open
};

namespace {
StateTable<NamedMutex::State>& mutexTable() {
    static StateTable<NamedMutex::State> table;
    return table;
}
}  // namespace

NamedMutex::NamedMutex(std::string_view name) {
    if (withoutNamespace(name).empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return;
    }
    auto base = locksFolder() / ("mutex." + lockFileName(name));
    auto& table = mutexTable();
    std::lock_guard lock(table.mutex());
    if (table.reuse(base.string(), m_state)) {
        m_alreadyExisted = true;
        return;
    }
    auto state = std::make_shared<State>();
    state->lockFd = openLockFile(base);
    if (!state->lockFd.valid() || !state->holder.map(state->lockFd.get()) ||
        !joinName(base, state->refFd, m_alreadyExisted)) {
        return;
    }
    SetLastError(m_alreadyExisted ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    table.add(base.string(), state);
    m_state = std::move(state);
}

NamedMutex::~NamedMutex() {
    if (m_state) {
        // Hold the table while the last reference goes, so a new object of the
        // same name never joins a state that is closing.
        std::lock_guard lock(mutexTable().mutex());
        m_state.reset();
    }
}

LockResult NamedMutex::wait(DWORD timeoutMs) {
    if (!m_state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return LockResult::Failed;
    }
    State& s = *m_state;
    const auto me = std::this_thread::get_id();
    const auto deadline = deadlineFor(timeoutMs);
    std::unique_lock lock(s.mutex);
    if (s.owner == me) {
        ++s.depth;
        return LockResult::Acquired;
    }
    // First win the lock among the threads of this process...
    while (s.owner != std::thread::id()) {
        if (!deadline) {
            s.released.wait(lock);
        } else if (s.released.wait_until(lock, *deadline) == std::cv_status::timeout &&
                   s.owner != std::thread::id()) {
            SetLastError(ERROR_TIMEOUT);
            return LockResult::TimedOut;
        }
    }
    s.owner = me;
    lock.unlock();
    // ...then among processes, without holding the in-process mutex.
    LockResult result = flockUntil(s.lockFd.get(), deadline);
    std::uint64_t hold = 0;
    if (result == LockResult::Acquired && s.holder.take(hold)) {
        result = LockResult::Abandoned;
    }
    lock.lock();
    if (result == LockResult::Acquired || result == LockResult::Abandoned) {
        s.depth = 1;
        s.hold = hold;
    } else {
        s.owner = std::thread::id();
        s.released.notify_one();
    }
    return result;
}

bool NamedMutex::tryLock() {
    LockResult result = wait(0);
    return result == LockResult::Acquired || result == LockResult::Abandoned;
}

std::uint64_t NamedMutex::holdNumber() const {
    if (!m_state) {
        return 0;
    }
    std::lock_guard lock(m_state->mutex);
    return m_state->owner == std::this_thread::get_id() && m_state->depth > 0 ? m_state->hold : 0;
}

bool NamedMutex::release() {
    if (!m_state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    if (s.owner != std::this_thread::get_id() || s.depth == 0) {
        SetLastError(ERROR_NOT_OWNER);
        return false;
    }
    if (--s.depth > 0) {
        return true;
    }
    s.holder.clear();
    flockRetrying(s.lockFd.get(), LOCK_UN);
    s.owner = std::thread::id();
    s.released.notify_one();
    return true;
}

// ---------------------------------------------------------------------------
// NamedSemaphore

struct NamedSemaphore::State {
    std::mutex mutex;
    std::condition_variable released;
    std::filesystem::path base;
    LONG count = 0;
    std::vector<Fd> slots;      // opened on first use
    std::vector<int> heldSlots; // slots this process holds, most recent last
    Fd refFd;
};

namespace {
StateTable<NamedSemaphore::State>& semaphoreTable() {
    static StateTable<NamedSemaphore::State> table;
    return table;
}

// The first process to open a semaphore records its count for later openers.
LONG agreedCount(const std::filesystem::path& base, LONG wanted, bool existed) {
    auto countFile = base.string() + ".count";
    if (existed) {
        if (FILE* file = std::fopen(countFile.c_str(), "r")) {
            long stored = 0;
            bool ok = std::fscanf(file, "%ld", &stored) == 1;
            std::fclose(file);
            if (ok && stored >= 1 && stored <= kMaxSemaphoreCount) {
                return static_cast<LONG>(stored);
            }
        }
        return wanted;
    }
    auto temporary = countFile + ".tmp." + std::to_string(::getpid());
    if (FILE* file = std::fopen(temporary.c_str(), "w")) {
        std::fprintf(file, "%ld\n", static_cast<long>(wanted));
        bool written = std::fclose(file) == 0;
        if (!written || std::rename(temporary.c_str(), countFile.c_str()) != 0) {
            std::remove(temporary.c_str());
        }
    }
    return wanted;
}
}  // namespace

NamedSemaphore::NamedSemaphore(std::string_view name, LONG maxCount) {
    if (withoutNamespace(name).empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return;
    }
    if (maxCount < 1 || maxCount > kMaxSemaphoreCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    auto base = locksFolder() / ("sem." + lockFileName(name));
    auto& table = semaphoreTable();
    std::lock_guard lock(table.mutex());
    if (table.reuse(base.string(), m_state)) {
        m_alreadyExisted = true;
        return;
    }
    auto state = std::make_shared<State>();
    state->base = base;
    // The count is agreed while this process holds the name's guard, so two
    // first openers cannot both write it.
    Fd guard = openLockFile(base.string() + ".guard");
    if (!guard.valid() || !flockRetrying(guard.get(), LOCK_EX)) {
        return;
    }
    state->refFd = openLockFile(base.string() + ".ref");
    if (!state->refFd.valid()) {
        return;
    }
    m_alreadyExisted = !flockRetrying(state->refFd.get(), LOCK_EX | LOCK_NB);
    state->count = agreedCount(base, maxCount, m_alreadyExisted);
    if (!flockRetrying(state->refFd.get(), LOCK_SH)) {
        setLastErrorFromErrno(errno);
        return;
    }
    state->slots.resize(static_cast<std::size_t>(state->count));
    SetLastError(m_alreadyExisted ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    table.add(base.string(), state);
    m_state = std::move(state);
}

NamedSemaphore::~NamedSemaphore() {
    if (m_state) {
        std::lock_guard lock(semaphoreTable().mutex());
        m_state.reset();
    }
}

LONG NamedSemaphore::maxCount() const { return m_state ? m_state->count : 0; }

LockResult NamedSemaphore::wait(DWORD timeoutMs) {
    if (!m_state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return LockResult::Failed;
    }
    State& s = *m_state;
    const auto deadline = deadlineFor(timeoutMs);
    auto pause = std::chrono::milliseconds(1);
    std::unique_lock lock(s.mutex);
    for (;;) {
        for (int slot = 0; slot < s.count; ++slot) {
            if (std::find(s.heldSlots.begin(), s.heldSlots.end(), slot) != s.heldSlots.end()) {
                continue;
            }
            Fd& fd = s.slots[static_cast<std::size_t>(slot)];
            if (!fd.valid()) {
                fd = openLockFile(s.base.string() + "." + std::to_string(slot));
                if (!fd.valid()) {
                    return LockResult::Failed;
                }
            }
            if (flockRetrying(fd.get(), LOCK_EX | LOCK_NB)) {
                s.heldSlots.push_back(slot);
                return LockResult::Acquired;
            }
        }
        // Every slot is held. A release in this process wakes us at once; one in
        // another process is seen at the next poll.
        auto now = Clock::now();
        if (deadline && now >= *deadline) {
            SetLastError(ERROR_TIMEOUT);
            return LockResult::TimedOut;
        }
        auto until = now + pause;
        if (deadline) {
            until = std::min(until, *deadline);
        }
        s.released.wait_until(lock, until);
        pause = std::min(pause * 2, std::chrono::milliseconds(10));
    }
}

bool NamedSemaphore::tryAcquire() { return wait(0) == LockResult::Acquired; }

bool NamedSemaphore::release() {
    if (!m_state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    if (s.heldSlots.empty()) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return false;
    }
    int slot = s.heldSlots.back();
    s.heldSlots.pop_back();
    flockRetrying(s.slots[static_cast<std::size_t>(slot)].get(), LOCK_UN);
    s.released.notify_all();
    return true;
}

}  // namespace platform
