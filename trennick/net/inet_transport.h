#pragma once
// InetTransport: the line of a station link over one TCP connection. It either
// calls out to "host[:port]" or listens for a call, moves the bucket stream
// through its Nimbranet sockets into its link's read pass, and is driven by the
// main frame's periodic read pass (TimeToRead), which also reports accepted
// calls (-3) and lost links (-4, -5). Before a call it may dial a named dial-up
// entry to obtain the address.
//
// Threads: every operation runs on the main frame's thread, which must run a
// Qt event loop (the transport's socket notices arrive there). The transport's
// threads reach it only through the transport's locked queues.
// Failures: results as the link's operations define them, notices to the owner
// window and trace lines; nothing throws.

#include "platform/types.h"
#include "trennick/link/comms_settings_record.h"
#include "trennick/link/link_states.h"
#include "trennick/link/link_transport.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/inet_frame.h"
#include "trennick/net/nimbranet.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace trennick {

// Link states (the others are shared by every transport: link_states.h).
inline constexpr LONG CS_NOT_CONNECTED = 0;

// Owner-window notices of the TCP link.
inline constexpr UINT kMsgLinkNotice = 22896;       // (string id or 0, std::string text or none)
inline constexpr UINT kMsgIncomingAccepted = 23091; // (2, 0)
inline constexpr UINT kStrLinkReadFailed = 65010;
inline constexpr UINT kStrLinkTimedOut = 65018;
inline constexpr UINT kStrLinkFault = 65023;
inline constexpr UINT kStrConnectFailed = 65024;
inline constexpr UINT kStrFirstStatusText = 61300;
inline constexpr UINT kStrReadFailedBox = 5080;
inline constexpr UINT kStrLinkLostBox = 5210;
inline constexpr WPARAM kCommStatusTextIndex = 42;

inline constexpr DWORD kDefaultInetPort = 4599;
inline constexpr DWORD kInetBufferBytes = 1024000;
inline constexpr DWORD kDefaultMaxReadQueueBytes = 100000;

// What the program hands the TCP link besides the link's own services.
struct InetOptions {
    std::string listenPortText;    // from the command line; empty: the setting
    std::string connectPortText;   // likewise
    InetFrameHooks* frame = nullptr;
    // Listens on a port the system picks (GetBoundListenPort tells which),
    // kept for the calls after the first; for tools and tests, so no port
    // found free is lost to a neighbour before it is bound.
    bool anyListenPort = false;
};

class InetTransport : public LinkTransport {
public:
    InetTransport(const LinkServices& services, const InetOptions& options);
    ~InetTransport() override;

    // ---- the transport operations ----
    BOOL IsUnavailable() override;
    BOOL IsReadyToSend() override;
    DWORD GetLastActivity() override;
    DWORD GetQueueSize(int queue) override;
    LONG FlushQueues() override;
    std::string GetStatusText() override;
    LONG GetStatusCode() override;
    LONG ConnectToRemote(const char* address, const char* name) override;
    DWORD TouchActivity() override;
    // Queues the block; `queue` 1-4 picks the send priority, any other value
    // the normal one (2), which is what the link's own senders use.
    LONG ConnectWrite(const BYTE* data, DWORD length, LONG mode, LONG queue) override;
    LONG PassThrough(LONG value) override;
    DWORD GetConnectRate() override;
    std::string GetConnectInfoText() override;
    BOOL HasStateChanged(LONG* callerCopy) override;
    LONG DoMiddleRead() override;
    DWORD GetBytesPerSecond() override;
    BOOL IsLinkUp() override;
    BOOL IsListeningFor(LONG mode) override;
    BOOL IsLinkDown() override;
    BOOL HasSpeakerphone() override;
    BOOL IsTargetConnected() override;
    BOOL IsTargetListeningFor(LONG mode) override;
    BOOL IsTargetNotConnected() override;
    BOOL IsOutgoingCall() override;
    BOOL IsRinging() override;
    BOOL IsConnecting() override;
    DWORD GetQueueSizeUnchecked(int queue) override;
    LONG SetListenOn(LONG mode) override;
    LONG SetCommsSettings(CommsSettingsRecord* settings) override;
    LONG SetNotConnected() override;
    LONG SetNotConnected(BOOL stayOff);
    LONG StopListening() override;
    LONG TimeToRead() override;
    LONG EnableReadQueue(BOOL enable) override;
    BOOL IsReadQueueEnabled() override;
    DWORD GetMaxChunk() override;

    // ---- dial-up services ----
    LONG LinkDialUp();
    BOOL IsDialUpLinked() const { return m_dialUpLinked ? TRUE : FALSE; }
    LONG CreateDialUpEntry();
    LONG EditDialUpEntry(const char* entry);
    LONG DialAndGetAddress(const char* entry, char* address, DWORD size);
    LONG GetDialUpEntryParams(const char* entry, std::string& user, std::string& password);
    LONG SetDialUpEntryParams(const char* entry, const char* user, const char* password);
    // Adds every dial-up entry not yet in `names` (compared without regard to case).
    LONG FillDialUpEntries(std::vector<std::string>& names);
    LONG HangUpDialUp();
    // Opens the transport; 0 when it cannot be opened.
    LONG ConnectToLan();

    // ---- state and settings ----
    LONG GetConnectState() const { return m_ConnectState; }
    BOOL HasPermanentFault() const { return m_PermanentFault; }
    const std::string& GetPeerAddress() const { return m_peerAddress; }
    WORD GetListenPortSetting() const { return m_listenPort; }
    WORD GetConnectToPortSetting() const { return m_connectToPort; }
    WORD GetCallPort() const { return m_callPort; }
    const std::string& GetCallHost() const { return m_callHost; }
    BOOL GetUseTcp() const { return m_useTcp; }
    // The port the listening socket is bound to (0 when not listening).
    WORD GetBoundListenPort() const { return m_sockets->BoundListenPort(); }
    // The main frame's read-queue limit ("MaxReadQ_Bytes").
    void SetMaxReadQueueBytes(DWORD bytes) { m_maxReadQueueBytes = bytes; }
    void SetConnectTimeout(DWORD timeoutMs) { m_sockets->SetConnectTimeout(timeoutMs); }
    Nimbranet& Sockets() { return *m_sockets; }

private:
    LONG CheckReads();
    // A listening or calling line found its call connected: the link starts
    // afresh and the windows are told; -3, the pass's code for it.
    LONG callEstablished();
    LONG readLoop();
    void Disconnect();
    void postNotice(UINT stringId);
    void banner(bool connect);
    void logDialvoError();
    void readSettings(const InetOptions& options);

    LinkWindow* m_ownerWindow;
    InetFrameHooks* m_frame;
    InetFrameHooks m_noFrame;
    std::string m_statusTexts[10];
    std::string m_peerAddress;
    std::string m_peerName;
    std::vector<BYTE> m_buffers[2];
    DWORD m_fills[2] = {0, 0};
    std::unique_ptr<Nimbranet> m_sockets;
    // A data notice is posted and no read pass has begun since (read thread
    // and owner thread).
    std::atomic<bool> m_dataNoticePending{false};
    LONG m_ConnectState = CS_NOT_CONNECTED;
    BOOL m_PermanentFault = FALSE;
    bool m_connectPending = false;
    bool m_outgoingCall = false;
    bool m_dialUpLinked = false;
    WORD m_listenPort = kDefaultInetPort;
    bool m_anyListenPort = false;  // port 0 asks the system for one
    WORD m_connectToPort = kDefaultInetPort;
    BOOL m_useTcp = TRUE;
    WORD m_callPort = kDefaultInetPort;
    std::string m_callHost;
    DWORD m_maxReadQueueBytes = kDefaultMaxReadQueueBytes;
    CommsSettingsRecord* m_comms = nullptr;
};

}  // namespace trennick
