#pragma once
// CInetConnection: the station link over one TCP connection: a link that owns
// an InetTransport. It calls out to "host[:port]" or listens for a call, and
// is driven by the main frame's periodic read pass (TimeToRead). What is
// particular to TCP (the connect state, the ports, the dial-up entries) is the
// transport's; the link hands it on.
//
// Threads: every operation runs on the main frame's thread, which must run a
// Qt event loop (the transport's socket notices arrive there).
// Failures: results as the link's operations define them; nothing throws.

#include "trennick/net/inet_transport.h"

namespace trennick {

class CInetConnection : public CPacketConnection {
public:
    explicit CInetConnection(const LinkServices& services, const InetOptions& options = {});
    ~CInetConnection() override;

    InetTransport& Tcp() { return *m_tcp; }
    using CPacketConnection::SetNotConnected;
    LONG SetNotConnected(BOOL stayOff) { return m_tcp->SetNotConnected(stayOff); }

    // ---- dial-up services ----
    LONG LinkDialUp() { return m_tcp->LinkDialUp(); }
    BOOL IsDialUpLinked() const { return m_tcp->IsDialUpLinked(); }
    LONG CreateDialUpEntry() { return m_tcp->CreateDialUpEntry(); }
    LONG EditDialUpEntry(const char* entry) { return m_tcp->EditDialUpEntry(entry); }
    LONG DialAndGetAddress(const char* entry, char* address, DWORD size) {
        return m_tcp->DialAndGetAddress(entry, address, size);
    }
    LONG GetDialUpEntryParams(const char* entry, std::string& user, std::string& password) {
        return m_tcp->GetDialUpEntryParams(entry, user, password);
    }
    LONG SetDialUpEntryParams(const char* entry, const char* user, const char* password) {
        return m_tcp->SetDialUpEntryParams(entry, user, password);
    }
    LONG FillDialUpEntries(std::vector<std::string>& names) { return m_tcp->FillDialUpEntries(names); }
    LONG HangUpDialUp() { return m_tcp->HangUpDialUp(); }
    LONG ConnectToLan() { return m_tcp->ConnectToLan(); }

    // ---- state and settings ----
    LONG GetConnectState() const { return m_tcp->GetConnectState(); }
    BOOL HasPermanentFault() const { return m_tcp->HasPermanentFault(); }
    const std::string& GetPeerAddress() const { return m_tcp->GetPeerAddress(); }
    WORD GetListenPortSetting() const { return m_tcp->GetListenPortSetting(); }
    WORD GetConnectToPortSetting() const { return m_tcp->GetConnectToPortSetting(); }
    WORD GetCallPort() const { return m_tcp->GetCallPort(); }
    const std::string& GetCallHost() const { return m_tcp->GetCallHost(); }
    BOOL GetUseTcp() const { return m_tcp->GetUseTcp(); }
    WORD GetBoundListenPort() const { return m_tcp->GetBoundListenPort(); }
    void SetMaxReadQueueBytes(DWORD bytes) { m_tcp->SetMaxReadQueueBytes(bytes); }
    void SetConnectTimeout(DWORD timeoutMs) { m_tcp->SetConnectTimeout(timeoutMs); }
    Nimbranet& Sockets() { return m_tcp->Sockets(); }

private:
    InetTransport* m_tcp;  // the link's own transport
};

// The TCP link of the process, for the parts that reach it without a pointer
// of their own; null when none exists.
extern CInetConnection* g_pInetConnection;

}  // namespace trennick
