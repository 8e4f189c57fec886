#pragma once
// Internal: what message_window.cpp and local_bus.cpp share. Not for callers.

#include "platform/fd.h"
#include "platform/message_window.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace platform::detail {

// A duplicate of fd (close-on-exec); invalid on failure.
Fd duplicateFd(int fd);

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // nullopt: no limit

Deadline deadlineAfter(UINT timeoutMs);
// Milliseconds left for poll(): -1 without limit, 0 when passed.
int pollTimeout(const Deadline& deadline);

struct ThreadState;

// A message sent to a window of another thread, waiting for its result. The
// message's own data (a WM_COPYDATA copy, a descriptor) lives here until the
// last holder lets go, so a sender that timed out cannot leave the receiver with
// freed memory.
struct SentMessage {
    HWND hwnd = 0;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool copyData = false;  // lParam is replaced by &cds at delivery
    COPYDATASTRUCT cds{};
    std::vector<char> data;
    Fd fd;  // when valid, lParam is replaced by its number at delivery

    // Completion: once, from whichever thread finishes (handler, destroy, time-out).
    std::shared_ptr<ThreadState> waiter;                 // woken when done
    std::function<void(bool handled, LRESULT)> onDone;   // called when done

    LPARAM deliveredLParam();
    void complete(bool handled, LRESULT result);
    bool done() const;
    LRESULT result() const;
    bool handled() const;

private:
    mutable std::mutex m_mutex;
    bool m_done = false;
    bool m_handled = false;
    LRESULT m_result = 0;
};

// Queues a sent message for the owner thread of msg->hwnd (a window of this
// process). On failure (no such window) it is completed as not handled and
// false is returned.
bool deliverSent(std::shared_ptr<SentMessage> message);

// Posts a message that owns its data to a window of this process.
bool postOwned(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool copyData, ULONG_PTR dwData,
               std::vector<char> data, Fd fd);

bool isLocalWindow(HWND hwnd);

// Waits until fd is readable or the deadline passes, handling messages sent to
// the calling thread's windows meanwhile when handleSent is true. True when
// readable.
bool waitReadable(int fd, const Deadline& deadline, bool handleSent);

// How many sent messages wait in the calling thread's queue (for tests).
std::size_t queuedSentMessages();

// From local_bus.cpp.
HWND allocateWindowHandle();
bool remoteIsWindow(HWND hwnd);
bool remotePost(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int fd);
bool remoteSend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int fd, UINT flags,
                const Deadline& deadline, LRESULT& result);
std::vector<HWND> broadcastTargets();
void unpublishOnDestroy(HWND hwnd);

}  // namespace platform::detail
