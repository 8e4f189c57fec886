#pragma once
// CINet: the socket back end of the TCP link. One connection object owns one
// listening socket and one stream socket; it learns of an accepted call, a
// finished connect and a closed stream through notices posted to a hidden
// message window, and hands them to its owner as callback events on the
// window's thread.
//
// Threads: create the object (NET_Init), change its state (NET_SetListen,
// NET_Connect, NET_Disconnect, NET_Close) and receive the callback on one
// thread, the owner's, which runs a Qt event loop. NET_SendData, NET_CheckRead
// and NET_WaitStream may run on other threads while the stream is up; the
// owner closes the stream only after those threads have stopped.
// Failures: results (0, -1) with the last error kept in the object; nothing
// throws.

#include "platform/types.h"

#include <string>

namespace trennick {

// Callback events.
inline constexpr int kNetListenFailed = 0;
inline constexpr int kNetConnectFailed = 1;
inline constexpr int kNetStreamError = 2;
inline constexpr int kNetConnected = 3;
inline constexpr int kNetClosed = 4;

// Connection object states.
inline constexpr int kNetStateIdle = 1;
inline constexpr int kNetStateListening = 2;
inline constexpr int kNetStateConnecting = 3;
inline constexpr int kNetStateConnected = 4;

// The layer's own error numbers.
inline constexpr int kNetErrStartup = 202;
inline constexpr int kNetErrNotInitialised = 205;
inline constexpr int kNetErrWrongState = 206;

// NET_CheckRead: the stream has ended (the peer closed it or it failed); the
// close notice is on its way to the owner.
inline constexpr LONG kNetStreamEnded = -2;

// How long a connect may stay pending before it counts as failed (ms).
inline constexpr DWORD kDefaultConnectTimeoutMs = 21000;

using NetCallback = void (*)(int event, void* user);

struct CINet;

// A new connection object with its hidden window on the calling thread; null
// when the window cannot be made.
CINet* NET_Init(NetCallback callback, void* user);
// on: drops any stream, remembers the port and starts listening (1 on success).
// off: stops listening; an established or pending call stays as it is.
BOOL NET_SetListen(CINet* net, BOOL on, WORD port);
// Starts a connect to host ("" or null: this host) and port; 1 when it is
// under way (the outcome arrives as event 3, or 1 on failure).
BOOL NET_Connect(CINet* net, const char* host, WORD port);
// Closes the sockets; state 1.
void NET_Disconnect(CINet* net);
// Sends what the socket takes now. Bytes sent (0 when it would block), or -1
// when the stream is not up or failed.
LONG NET_SendData(CINet* net, const BYTE* data, DWORD length);
// As NET_SendData, gathering several blocks into one system call (at most
// kMaxGatheredBlocks of them: the bytes sent then come from those first blocks).
struct NetBlock {
    const BYTE* data;
    DWORD length;
};
inline constexpr DWORD kMaxGatheredBlocks = 256;
LONG NET_SendBlocks(CINet* net, const NetBlock* blocks, DWORD count);
// Reads what is there (0 when nothing), -1 when not connected, or
// kNetStreamEnded.
LONG NET_CheckRead(CINet* net, BYTE* buffer, DWORD size);
// The stream socket's descriptor (-1 without one), for the owner's read
// notifier; it stays valid until the owner changes the state.
int NET_StreamFd(CINet* net);
// Waits up to timeoutMs (-1: no limit) until the stream is readable (wantWrite
// false) or writable (true), or wakeFd becomes readable. Returns 1 when the
// stream is ready, 0 on time-out or wake, -1 when there is no stream.
int NET_WaitStream(CINet* net, bool wantWrite, int wakeFd, int timeoutMs);
// Frees the object (closing its sockets and window); null is allowed.
void NET_Close(CINet* net);

int NET_GetState(const CINet* net);
// The port a listening socket is bound to (0 when not listening).
WORD NET_GetListenPort(const CINet* net);
void NET_SetConnectTimeout(CINet* net, DWORD timeoutMs);
// The last error: its number, and the operation's name in *text when given.
int NET_GetLastError(const CINet* net, std::string* text);
// This host's name as read at NET_Init.
std::string NET_GetHostName(const CINet* net);
// The dotted address of the station whose call was last accepted; empty when unknown.
std::string NET_GetPeerAddress(const CINet* net);

// The IPv4 address of a host text in network order: "" gives 0, dotted form
// is taken as it is, a name is looked up (0 when unknown).
DWORD NET_HostToAddress(const char* host);

}  // namespace trennick
