#pragma once
// The local bus: top-level windows that other processes of the same user find by
// class name or title and send messages to.
//
// A published window listens on a Unix socket under runtimeFolder()/bus, named by
// its handle, beside a small advertisement file that names its process, class and
// title. FindWindow reads the advertisements and tries each socket: a window
// whose process died cannot be connected to, so it is not found, and its files
// are removed on the way. Handles of remote windows are the same numbers in every
// process (see platform/message_window.h), so a handle handed over in a message
// can be used by the receiver directly.
//
// Across processes: WM_COPYDATA carries a copy of its data (at most
// kMaxCopyDataBytes); any other message carries wParam and lParam as numbers,
// plus, with the *Fd calls, one descriptor passed by the kernel. A send waits for
// the receiver's result up to its time-out (kRemoteSendTimeoutMs for a plain
// SendMessage), and fails at once when the receiving process dies. Every request
// that arrives is checked (sizes, kinds, descriptors) before it is used; a peer
// that sends garbage or stops mid-message is disconnected, and what it costs is
// bounded (kMaxBusConnections requests at a time, each at most one header and
// kMaxCopyDataBytes, a request must arrive whole within kBusReceiveTimeoutMs).
//
// Requests are received by one bus thread per process, which hands them to the
// window's owner thread as sent or posted messages. All functions may be called
// from any thread; failures are reported by result.

#include "platform/message_window.h"

#include <string_view>

namespace platform {

inline constexpr UINT kRemoteSendTimeoutMs = 30000;
inline constexpr DWORD kMaxCopyDataBytes = 1u << 20;
inline constexpr UINT kMaxBusConnections = 64;
inline constexpr UINT kBusReceiveTimeoutMs = 10000;
inline constexpr std::size_t kMaxClassNameBytes = 255;
inline constexpr std::size_t kMaxWindowTitleBytes = 1023;

// Makes a window of this process findable by class name and title (UTF-8).
// Publishing again replaces class and title. False when hwnd is no window of
// this process, a name is too long, or the bus folder cannot be used.
bool publishWindow(HWND hwnd, std::string_view className, std::string_view title);

// Takes the window off the bus (destroying it does that too).
void unpublishWindow(HWND hwnd);

// A published window whose class name and title match (both without regard to
// case; nullptr matches any), this process's first, then the newest of other
// processes; 0 when there is none.
HWND FindWindow(const char* className, const char* title);

// The process id of a published window (here or in another process), 0 when
// it is not one.
DWORD windowProcessId(HWND hwnd);

// The message number of a name, the same in every process that shares the
// runtime folder: 0xC000 to 0xFFFF, 0 for an empty name, a name longer than 255
// bytes or one holding a line break. Names compare without regard to ASCII case.
// The number starts at a hash of the name; processes share a table of names under
// the bus folder, so two names whose hashes meet get different numbers, each the
// same everywhere. Without a usable bus folder the plain hash is returned.
UINT RegisterWindowMessage(const char* name);

}  // namespace platform
