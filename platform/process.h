#pragma once
// Starting programs, waiting for them, and finding running processes by name.
//
// A program given by bare name is looked for beside the running executable
// first, then on PATH; a name ending in ".exe" that is not found as such is
// looked for without that ending ("LumoDebWin.exe" starts LumoDebWin).
// "Ready" means that a window of a given class has appeared on the local bus
// (platform/local_bus.h). A death by a signal is reported apart from an exit.
//
// A Process object belongs to one thread at a time. Letting it go (release() or
// its destructor) leaves the program running; the layer reaps it when it ends,
// so no zombie stays behind. Failures set the calling thread's last error and
// are reported by result; nothing throws.

#include "platform/types.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

struct ProcessExit {
    enum class Kind {
        Exited,    // ended by itself; code is its exit code
        Signaled,  // killed by a signal (a crash among them); code is the signal
        Running,   // still running when the wait ran out
        Failed,    // no process, or it cannot be waited for
    };
    Kind kind = Kind::Failed;
    int code = 0;
};

class Process {
public:
    Process() = default;
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts the program with these arguments (argv[0] is added), inheriting the
    // environment and standard streams but no other descriptor of ours (they are
    // opened close-on-exec). An invalid Process when it cannot be found or started.
    static Process start(std::string_view program, const std::vector<std::string>& args = {});
    // The same, the program running in `workingFolder` (empty: ours).
    static Process start(std::string_view program, const std::vector<std::string>& args,
                         const std::string& workingFolder);

    bool valid() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

    // Waits up to timeoutMs (0xFFFFFFFF: no limit) for the end; Running when it
    // runs on. Once ended, every later wait returns the same result.
    ProcessExit wait(DWORD timeoutMs);
    // Sends a signal; false when the process is gone.
    bool kill(int signal);
    // Forgets the process and leaves it running.
    void release();

private:
    explicit Process(pid_t pid) : m_pid(pid) {}
    pid_t m_pid = -1;
    std::optional<ProcessExit> m_exit;
};

// The full path of a program as start() would run it; nullopt when not found.
std::optional<std::filesystem::path> findProgram(std::string_view program);

enum class ReadyResult { Ready, Ended, TimedOut };

// Waits until a window of className is on the local bus (Ready), the process
// ended first (Ended; see process.wait(0)), or timeoutMs passed.
ReadyResult waitUntilReady(Process& process, const char* className, DWORD timeoutMs);

// The ids of this user's running processes whose executable has this name
// (without regard to case; a ".exe" ending on either side is ignored).
std::vector<pid_t> findProcesses(std::string_view name);

}  // namespace platform
