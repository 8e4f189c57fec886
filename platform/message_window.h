#pragma once
// Message windows: objects that receive numbered messages on the thread that
// created them, addressed by a window handle that any thread (and, for windows
// published on the local bus, any process) may use.
//
// A handle is a number from one handle space shared by the processes that use
// the same runtime folder: it fits in 32 bits, is never 0 or HWND_BROADCAST, and
// is not handed out again, so a stale handle is detected (IsWindow is false and
// messages to it fail) rather than reaching a newer window.
//
// Delivery:
//  - PostMessage queues the message as an event on the owner thread's Qt loop and
//    returns at once. Posted messages to one window arrive in the order posted.
//    A message posted to a window that is destroyed before it is delivered is
//    dropped (with any data or descriptor it carries).
//  - SendMessage on the owner thread calls WindowProc directly. From another
//    thread it hands the message to the owner thread and waits for the result;
//    while it waits it handles messages that other threads send to its own
//    windows, so two threads sending to each other do not deadlock. A window that
//    is destroyed (or whose thread ends) while a sender waits releases the sender
//    with result 0. SendMessageTimeout bounds the wait.
//  - A handle of a window of another process is served by the local bus
//    (platform/local_bus.h): WM_COPYDATA carries a copy of its data, other
//    messages carry wParam and lParam as plain numbers, and a *Fd variant passes
//    one file descriptor along.
//  - WM_COPYDATA sent or posted to another thread or process is copied, so the
//    receiver never reads the sender's memory after the sender has moved on.
//  - Descriptor passing (PostMessageFd, SendMessageFd, SendMessageTimeoutFd): the
//    caller keeps its own descriptor. The receiver's WindowProc gets lParam = a
//    descriptor of its own for the same open file, valid during that call only:
//    the layer closes it after WindowProc returns. A handler that needs the file
//    longer dup()s it.
//
// Threads: a thread that owns windows must run a Qt event loop (the application's
// loop, a QThread's loop, or MessageLoop below). Every free function may be called
// from any thread. A MessageWindow is created, used and destroyed on its owner
// thread. Failures are reported by result (false, 0), never by exception.

#include "platform/types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace platform {

using HWND = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_COPYDATA = 0x004A;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// Every published (top-level) window, here and in other processes.
inline constexpr HWND HWND_BROADCAST = 0xFFFF;

// SendMessageTimeout flags. SMTO_BLOCK: do not handle messages sent to the
// caller's own windows while waiting. SMTO_ABORTIFHUNG is accepted; the time-out
// already bounds every wait.
inline constexpr UINT SMTO_NORMAL = 0x0000;
inline constexpr UINT SMTO_BLOCK = 0x0001;
inline constexpr UINT SMTO_ABORTIFHUNG = 0x0002;

// A wait without limit (SendMessageTimeout's timeoutMs); the same value as INFINITE.
inline constexpr UINT kWaitForever = 0xFFFFFFFF;

// The record WM_COPYDATA points to with lParam (wParam: the sender's window).
struct COPYDATASTRUCT {
    ULONG_PTR dwData;  // the sender's number, passed as is
    DWORD cbData;      // bytes at lpData
    void* lpData;      // valid during the receiver's WindowProc only
};

namespace detail {
class WindowHost;
}

// A window that receives messages. Derive from it and override WindowProc.
// Thread: create(), destroy() and the destructor run on one thread, the owner;
// WindowProc is always called there. Failure: create() returns false and the
// window has no handle.
class MessageWindow {
public:
    MessageWindow();
    virtual ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // A private window: reachable by its handle only, in this process.
    bool create();
    // A top-level window, published on the local bus under a class name and a
    // title so FindWindow finds it from any process (platform/local_bus.h).
    bool create(std::string_view className, std::string_view title);

    // Calls WindowProc(WM_DESTROY), then frees the handle: its timers stop, its
    // pending posted messages are dropped, waiting senders are released, and it
    // leaves the bus. The destructor does the same without WM_DESTROY (a derived
    // class is gone by then).
    void destroy();

    HWND hwnd() const { return m_hwnd; }

protected:
    // Handles one message; the result goes back to a sender. The default
    // destroys the window on WM_CLOSE and returns 0 for everything.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    friend class detail::WindowHost;
    void teardown();

    HWND m_hwnd = 0;
    detail::WindowHost* m_host = nullptr;
    bool m_destroying = false;
};

// Queues a message for the window's owner thread. False when the handle is no
// window (or the bus could not reach it). To HWND_BROADCAST: to every published
// window; true.
bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The window's result, 0 when it is no window. A window of another process is
// given kRemoteSendTimeoutMs (platform/local_bus.h) to answer.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Non-zero when the window handled the message within timeoutMs (kWaitForever:
// no limit); *result (when given) gets its result, 0 on failure. To
// HWND_BROADCAST: sent to each published window in turn, each with the time-out;
// non-zero, *result 0.
LRESULT SendMessageTimeout(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                           UINT timeoutMs, DWORD_PTR* result);

// As above, passing the descriptor fd with the message (see the header comment);
// the receiver's lParam is its own descriptor. fd stays the caller's.
bool PostMessageFd(HWND hwnd, UINT msg, WPARAM wParam, int fd);
LRESULT SendMessageFd(HWND hwnd, UINT msg, WPARAM wParam, int fd);
LRESULT SendMessageTimeoutFd(HWND hwnd, UINT msg, WPARAM wParam, int fd, UINT flags,
                             UINT timeoutMs, DWORD_PTR* result);

// A block of data a posted message owns (see PostMessageOwned).
class PostedData {
public:
    virtual ~PostedData() = default;
};

template <class T>
class PostedBlock final : public PostedData {
public:
    explicit PostedBlock(std::unique_ptr<T> value) : value(std::move(value)) {}
    std::unique_ptr<T> value;
};

// Posts a message that owns `data` to a window of this process. The receiver's
// WindowProc gets lParam naming the block and takes the data with
// TakePostedData<T>(lParam); whatever nobody takes (the message is not
// handled, the window is destroyed first, the post fails) is freed with the
// message. False when hwnd is no window of this process (the data is freed).
bool PostMessageData(HWND hwnd, UINT msg, WPARAM wParam, std::unique_ptr<PostedData> data);

template <class T>
bool PostMessageOwned(HWND hwnd, UINT msg, WPARAM wParam, std::unique_ptr<T> value) {
    return PostMessageData(hwnd, msg, wParam, std::make_unique<PostedBlock<T>>(std::move(value)));
}

// Marks `data` as the block of the message being handled on this thread, for
// as long as the scope lives (scopes nest: a modal loop inside WindowProc
// delivers further messages). The layer opens one around each delivery of a
// message posted with data; a test that calls a handler directly may too.
class PostedDataScope {
public:
    explicit PostedDataScope(PostedData* data);
    ~PostedDataScope();
    PostedDataScope(const PostedDataScope&) = delete;
    PostedDataScope& operator=(const PostedDataScope&) = delete;
    LPARAM lParam() const { return reinterpret_cast<LPARAM>(m_data); }

private:
    PostedData* m_data;
    PostedData* m_previous;
};

// The block of the message being handled on this thread when lParam names it;
// null otherwise (lParam is a plain number, the message carried no data, the
// data was already taken). Never dereferences lParam.
PostedData* CurrentPostedData(LPARAM lParam);

// Takes the data of the message being handled: null when lParam names no
// block of this delivery, the block holds another type, or it was taken.
template <class T>
std::unique_ptr<T> TakePostedData(LPARAM lParam) {
    auto* block = dynamic_cast<PostedBlock<T>*>(CurrentPostedData(lParam));
    return block != nullptr ? std::move(block->value) : nullptr;
}

// True while hwnd is a live window of this process or of a reachable process.
bool IsWindow(HWND hwnd);

// Starts (or restarts with the new period) timer id of a window of this
// process: WM_TIMER with wParam = id, lParam = 0 every elapseMs (10 to 0x7FFFFFFF).
// Callable from any thread; from another thread the timer starts when the owner
// thread next runs its loop. Returns id, or 1 for id 0; 0 when hwnd is no window
// of this process.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs);
// Stops it. False when hwnd is no window of this process (or, on the owner
// thread, when it had no such timer).
bool KillTimer(HWND hwnd, UINT_PTR id);

// Inside WindowProc: true when the message was sent by another thread or process
// (the sender is waiting for the result).
bool InSendMessage();
// Inside WindowProc of a message sent by another thread or process: releases the
// sender now with this result; WindowProc's own result is then ignored. False
// when there is no waiting sender.
bool ReplyMessage(LRESULT result);

// Ends the calling thread's innermost running MessageLoop with exitCode (on the
// application's main thread with no MessageLoop running: the application's loop).
// A quit that arrives while no loop runs ends the next one at once.
void PostQuitMessage(int exitCode);

// Sees every posted message the calling thread takes from its queue, before
// its window handles it, while the object lives (one per thread; the newest
// wins). For a pump that must notice particular messages as they pass.
class PostedMessageWatch {
public:
    using Watcher = std::function<void(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)>;
    explicit PostedMessageWatch(Watcher watcher);
    ~PostedMessageWatch();
    PostedMessageWatch(const PostedMessageWatch&) = delete;
    PostedMessageWatch& operator=(const PostedMessageWatch&) = delete;

private:
    Watcher m_watcher;
    Watcher* m_previous;
};

// The message loop of a thread that owns windows but runs no Qt loop of its own
// (a std::thread worker). Create it on that thread before its windows (that also
// makes timers available there); run() handles messages until PostQuitMessage on
// this thread, quit() from any thread, or a WM_QUIT posted to one of its windows
// (exit code: its wParam). Thread: run() on the creating thread; quit() anywhere.
class MessageLoop {
public:
    MessageLoop();
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    int run();
    void quit(int exitCode);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace platform
