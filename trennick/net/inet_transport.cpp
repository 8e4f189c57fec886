#include "trennick/net/inet_transport.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "dialvo/dialvo.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_trace.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace trennick {

namespace {

constexpr const char* kSourceName = "Inetconn";
// One read pass takes at most this many bytes from the transport, so a peer
// that sends without pause can never hold the main frame's thread.
constexpr DWORD kMaxBytesPerPass = kInetBufferBytes;

// A port text or setting: 1-65535, or 0 when it is none.
WORD validPort(long value) { return value > 0 && value <= 65535 ? static_cast<WORD>(value) : 0; }

WORD portFromText(const std::string& text) {
    if (text.empty()) return 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str()) return 0;
    return validPort(value);
}

bool equalNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

InetTransport::InetTransport(const LinkServices& services, const InetOptions& options)
    : m_ownerWindow(services.window), m_frame(options.frame) {
    if (m_frame == nullptr) m_frame = &m_noFrame;
    // resource strings: 61300-61309
    for (int i = 0; i < 10; ++i) m_statusTexts[i] = CCommon::loadString(kStrFirstStatusText + i);
    for (auto& buffer : m_buffers) buffer.assign(kInetBufferBytes, 0);
    readSettings(options);
    m_callPort = m_connectToPort;
    m_sockets = std::make_unique<Nimbranet>(m_listenPort, m_connectToPort, m_useTcp);
    // The transport reads on this (the owner's) thread, so the notice is
    // handed over at once rather than queued behind the loop's other events.
    m_sockets->SetReceiveNotice([this] {
        if (m_ownerWindow != nullptr && !m_dataNoticePending.exchange(true)) {
            m_ownerWindow->sendMessage(kMsgLinkDataReady, 0, 0);
        }
    });
    // A call that comes up or goes is read at once too; posted, as the
    // transport is in the middle of its own work when it tells.
    m_sockets->SetStateNotice([this] {
        if (m_ownerWindow != nullptr) m_ownerWindow->postMessage(kMsgLinkDataReady, 0, 0);
    });
}

InetTransport::~InetTransport() {
    m_sockets->Close();
    m_sockets.reset();
    if (DialvoHangUp() != ZO_RDAS_OK) logDialvoError();
    if (DialvoUnLink() != ZO_RDAS_OK) logDialvoError();
}

void InetTransport::readSettings(const InetOptions& options) {
    CKcReg reg = ProductKey("Comms");
    auto readValue = [&reg](const char* name, DWORD fallback) {
        reg.SetValueName(name);
        reg.SetDefault(fallback);
        const DWORD value = reg.ReadDword();
        reg.Write(value);
        return value;
    };
    const DWORD listen = readValue("NetListenPort", kDefaultInetPort);
    const DWORD connect = readValue("NetConnectToPort", kDefaultInetPort);
    m_useTcp = readValue("NetUseTcp", 1) != 0 ? TRUE : FALSE;
    // A stored port outside 1-65535 would be cut to a different port.
    m_listenPort = validPort(static_cast<long>(listen));
    if (m_listenPort == 0 && listen != 0) {
        linkTrace(1, "CInetConnection: NetListenPort %lu is no port, using %lu", static_cast<unsigned long>(listen),
                  static_cast<unsigned long>(kDefaultInetPort));
        m_listenPort = kDefaultInetPort;
    }
    m_connectToPort = validPort(static_cast<long>(connect));
    if (m_connectToPort == 0) {
        linkTrace(1, "CInetConnection: NetConnectToPort %lu is no port, using %lu",
                  static_cast<unsigned long>(connect), static_cast<unsigned long>(kDefaultInetPort));
        m_connectToPort = kDefaultInetPort;
    }
    if (!options.listenPortText.empty()) m_listenPort = portFromText(options.listenPortText);
    m_anyListenPort = options.anyListenPort;
    if (m_anyListenPort) m_listenPort = 0;
    if (!options.connectPortText.empty()) {
        const WORD port = portFromText(options.connectPortText);
        if (port != 0) m_connectToPort = port;
    }
}

// ---- transport operations ----

BOOL InetTransport::IsUnavailable() { return m_PermanentFault; }

BOOL InetTransport::IsReadyToSend() {
    return !m_PermanentFault && m_sockets->QueueSize(1, nullptr) == 0 ? TRUE : FALSE;
}

DWORD InetTransport::GetLastActivity() { return m_lastActivityMs; }

DWORD InetTransport::GetQueueSize(int queue) {
    if (m_PermanentFault) return 0;
    return GetQueueSizeUnchecked(queue);
}

DWORD InetTransport::GetQueueSizeUnchecked(int queue) {
    DWORD nodes = 0;
    return m_sockets->QueueSize(queue == 0 ? 0 : 1, &nodes);
}

LONG InetTransport::FlushQueues() {
    if (m_PermanentFault) return m_PermanentFault;
    m_sockets->FlushQueues();
    return 0;
}

std::string InetTransport::GetStatusText() {
    int index = 0;
    if (IsLinkDown()) {
        index = 0;
    } else if (IsConnecting()) {
        index = 8;
    } else if (IsLinkUp()) {
        index = 7;
    } else if (m_ConnectState == CS_LISTENING) {
        index = 3;
    }
    SendCommMessage(kCommStatusTextIndex, index);
    return m_statusTexts[index];
}

LONG InetTransport::GetStatusCode() {
    if (link().IsConnected()) return 3;
    switch (m_ConnectState) {
    case CS_NOT_CONNECTED: return 0;
    case CS_CONNECTING: return 2;
    case CS_CONNECTED: return 1;
    case CS_LISTENING: return 4;
    default: return 0;
    }
}

LONG InetTransport::ConnectToRemote(const char* address, const char* name) {
    m_peerAddress = address != nullptr ? address : "";
    m_peerName = name != nullptr ? name : "";
    m_outgoingCall = true;
    if (m_PermanentFault || IsLinkUp()) return 0;
    TouchActivity();
    const LONG previousState = m_ConnectState;
    m_ConnectState = CS_CONNECTING;
    std::string target = m_peerAddress;
    if (m_comms != nullptr && m_comms->UseDialUp != 0 && m_dialUpLinked) {
        char dialled[256] = {};
        if (DialAndGetAddress(m_comms->PhoneBookName, dialled, 255) == 0) {
            // Nothing will place this call: do not stay "connecting" for ever.
            m_ConnectState = previousState == CS_LISTENING ? CS_LISTENING : CS_NOT_CONNECTED;
            return 0;
        }
        if (m_comms->UseServerIp != 0) target = dialled;
    }
    linkTrace(3, "The InetTransport::ConnectToRemote() IP Number we Connect to is %s", target.c_str());
    const std::size_t colon = target.find(':');
    std::string host = target.substr(0, colon);
    if (colon == std::string::npos) {
        m_callPort = m_connectToPort;
    } else if (colon + 1 < target.size()) {
        const WORD port = portFromText(target.substr(colon + 1));
        if (port == 0) {
            linkTrace(1, "CInetConnection::ConnectToRemote() \"%s\" names no port", target.c_str());
            m_ConnectState = previousState == CS_LISTENING ? CS_LISTENING : CS_NOT_CONNECTED;
            return 0;
        }
        m_callPort = port;
    }
    m_callHost = host;
    m_connectPending = true;
    return 0;
}

DWORD InetTransport::TouchActivity() {
    m_lastActivityMs = now();
    return m_lastActivityMs;
}

LONG InetTransport::ConnectWrite(const BYTE* data, DWORD length, LONG, LONG queue) {
    if (m_PermanentFault) {
        linkTrace(1, "CInetConnection::ConnectWrite m_PermanentFault = TRUE");
        return 0;
    }
    TouchActivity();
    if (!m_sockets->IsConnected() || data == nullptr) return 0;
    const int priority = queue >= 1 && queue <= 4 ? static_cast<int>(queue) : 2;
    return m_sockets->Write(priority, data, length);
}

LONG InetTransport::PassThrough(LONG value) { return m_PermanentFault ? m_PermanentFault : value; }

DWORD InetTransport::GetConnectRate() { return 0; }

std::string InetTransport::GetConnectInfoText() { return {}; }

BOOL InetTransport::HasStateChanged(LONG* callerCopy) {
    if (callerCopy == nullptr) return FALSE;
    if (*callerCopy == m_ConnectState) return FALSE;
    *callerCopy = m_ConnectState;
    return TRUE;
}

LONG InetTransport::DoMiddleRead() {
    const LONG result = CheckReads();
    if (result >= 0) return 1;
    linkTrace(3, "CInetConnection::DoMiddleRead() Because Check Reads returned < 0 (DMR),");
    m_frame->linkDropped();
    if (result == -1) {
        link().ShowMessage(kStrReadFailedBox, 0);
    } else if (result == -2) {
        const std::string title = CCommon::loadString(kStrProgramTitle);
        link().ShowMessage(kStrLinkLostBox, 0, title.c_str());
    }
    return 0;
}

DWORD InetTransport::GetBytesPerSecond() { return m_comms != nullptr ? m_comms->ConnectRate / 8 : 0; }

BOOL InetTransport::IsLinkUp() { return m_ConnectState == CS_CONNECTED; }
BOOL InetTransport::IsListeningFor(LONG mode) { return m_ConnectState == CS_LISTENING && mode == 2; }
BOOL InetTransport::IsLinkDown() { return m_ConnectState == CS_NOT_CONNECTED; }
BOOL InetTransport::HasSpeakerphone() { return FALSE; }
BOOL InetTransport::IsTargetConnected() { return m_ConnectState == CS_CONNECTED; }
BOOL InetTransport::IsTargetListeningFor(LONG mode) {
    return (mode == 0 || mode == 2) && m_ConnectState == CS_LISTENING;
}
BOOL InetTransport::IsTargetNotConnected() { return m_ConnectState == CS_NOT_CONNECTED; }
BOOL InetTransport::IsOutgoingCall() { return m_outgoingCall ? TRUE : FALSE; }
BOOL InetTransport::IsRinging() { return FALSE; }
BOOL InetTransport::IsConnecting() { return m_ConnectState == CS_CONNECTING; }

LONG InetTransport::SetListenOn(LONG) {
    for (int i = 0; i < 2; ++i) {
        std::fill(m_buffers[i].begin(), m_buffers[i].end(), BYTE{0});
        m_fills[i] = 0;
    }
    if (m_ConnectState == CS_CONNECTED) {
        linkTrace(3, "CInetConnection::SetListenOn()m_ConnectState == CS_CONNECTED");
        if (m_ownerWindow != nullptr) m_ownerWindow->sendMessage(kMsgLinkNotice, 0, 0);
    }
    if (m_PermanentFault) return 0;
    if (m_listenPort == 0 && !m_anyListenPort) {
        linkTrace(5, "CInetConnection::SetListenOn() Error: m_CommsSettings->InetPort = 0");
        return 0;
    }
    m_sockets->Disconnect();
    if (!m_sockets->SetListenOn(TRUE, m_listenPort)) return 0;
    // The port the system picked stays this line's for the calls to come.
    if (m_listenPort == 0) m_listenPort = m_sockets->BoundListenPort();
    linkTrace(5, "CInetConnection::SetListenOn() NIMINT->SetListenOn Success!!");
    m_ConnectState = CS_LISTENING;
    link().InitializePakconnState();
    return 1;
}

LONG InetTransport::SetCommsSettings(CommsSettingsRecord* settings) {
    m_comms = settings;
    if (settings != nullptr) {
        const DWORD rate = GetConnectRate();
        std::snprintf(settings->ConnectRateText, sizeof settings->ConnectRateText, "%ld", static_cast<long>(rate));
        settings->ConnectRate = rate;
    }
    return 1;
}

LONG InetTransport::SetNotConnected() { return SetNotConnected(FALSE); }

LONG InetTransport::SetNotConnected(BOOL stayOff) {
    if (m_PermanentFault) return 16;
    if (m_ConnectState != CS_CONNECTED && m_ConnectState != CS_CONNECTING) {
        if (stayOff) {
            if (m_ConnectState == CS_LISTENING) m_sockets->SetListenOn(FALSE, m_listenPort);
            m_ConnectState = CS_NOT_CONNECTED;
        } else if (m_ConnectState != CS_LISTENING) {
            SetListenOn(0);
        }
        return 0;
    }
    banner(false);
    m_sockets->Disconnect();
    Disconnect();
    m_connectPending = false;
    if (!stayOff && m_comms != nullptr && m_comms->ListenAfterDisconnect != 0) SetListenOn(0);
    return 0;
}

LONG InetTransport::StopListening() {
    if (m_ConnectState != CS_LISTENING) return 16;
    m_sockets->SetListenOn(FALSE, m_listenPort);
    m_ConnectState = CS_NOT_CONNECTED;
    return 0;
}

LONG InetTransport::TimeToRead() {
    const LONG result = CheckReads();
    if (result == -1) return -4;
    if (result == -2) return -5;
    return result;
}

LONG InetTransport::EnableReadQueue(BOOL enable) {
    m_sockets->EnableRead(enable);
    return 1;
}

BOOL InetTransport::IsReadQueueEnabled() { return m_sockets->IsReadEnabled(); }

DWORD InetTransport::GetMaxChunk() { return 1024; }

// ---- the read pass ----

void InetTransport::Disconnect() {
    m_sockets->FlushQueues();
    m_ConnectState = CS_NOT_CONNECTED;
}

void InetTransport::postNotice(UINT stringId) {
    if (m_ownerWindow == nullptr) return;
    if (stringId == 0) {
        m_ownerWindow->postMessage(kMsgLinkNotice, 0, 0);
        return;
    }
    // The text travels with the notice (the window takes it or it is freed).
    m_ownerWindow->postOwned(kMsgLinkNotice, stringId, std::make_unique<std::string>(CCommon::loadString(stringId)));
}

void InetTransport::banner(bool connect) {
    const std::string stars(66, '*');
    linkTrace(3, "%s", stars.c_str());
    linkTrace(3, "%s%s ***", connect ? "*** Connect    on: " : "*** Disconnect on: ",
              CCommon::GetDateTimeStamp(false).c_str());
    linkTrace(3, "%s", stars.c_str());
}

LONG InetTransport::callEstablished() {
    const bool incoming = m_ConnectState == CS_LISTENING;
    if (incoming) {
        if (m_ownerWindow != nullptr) m_ownerWindow->postMessage(kMsgIncomingAccepted, 2, 0);
        m_outgoingCall = false;
        m_peerAddress = m_sockets->CallerAddress();
    }
    m_ConnectState = CS_CONNECTED;
    if (m_comms != nullptr && m_comms->InetStartSpeed != 0) m_comms->ConnectRate = m_comms->InetStartSpeed;
    m_fills[0] = 0;
    m_fills[1] = 0;
    banner(true);
    link().ResetLinkState();
    TouchActivity();
    if (m_ownerWindow != nullptr) m_ownerWindow->postMessage(kMsgLinkUp, 0, 0);
    if (incoming) m_frame->showConnectionWindow();
    return -3;
}

LONG InetTransport::CheckReads() {
    // From here on, bytes that arrive post a new notice: what is queued now is
    // read by this pass.
    m_dataNoticePending = false;
    if (m_PermanentFault) return 0;

    if (m_sockets->QueueSize(0, nullptr) > m_maxReadQueueBytes) {
        linkTrace(2, "CInetConnection::CheckReads() Overflow in ReadQ!!! Flushing Ques");
        m_sockets->FlushQueues();
        m_fills[0] = 0;
        m_fills[1] = 0;
    }

    if (m_connectPending) {
        m_connectPending = false;
        linkTrace(5, "CInetConnection::CheckReads() INET Connect");
        if (!m_sockets->Connect(m_callHost.c_str(), m_callPort)) {
            Disconnect();
            link().SetDisconnectStatus();
            linkTrace(3,
                      "CInetConnection::CheckReads() return -4 because FilterPollBuff returns -1 FileSendStatus = "
                      "SEND_USER_DISCONNECTING or FileRecStatus = REC_USER_DISCONNECTING %s %d",
                      kSourceName, __LINE__);
            postNotice(kStrConnectFailed);
            return 0;
        }
    }

    switch (m_sockets->GetStatus()) {
    case NIMINT_CS_NOT_CONNECTED:
        if (m_ConnectState == CS_CONNECTED) {
            // What the peer sent before it closed is still queued: read it
            // first, so its last words are not lost.
            LONG last = 1;
            DWORD queued = m_sockets->QueueSize(0, nullptr);
            while (last >= 0 && queued > 0) {
                last = readLoop();
                const DWORD left = m_sockets->QueueSize(0, nullptr);
                if (left >= queued) break;  // nothing more could be taken
                queued = left;
            }
            if (last < 0) {
                Disconnect();
                return last;
            }
        }
        if (m_ConnectState == CS_LISTENING || m_ConnectState == CS_CONNECTED) {
            Disconnect();
            link().SetDisconnectStatus();
            linkTrace(3,
                      "CInetConnection::CheckReads() return -2 NIMINT_CS_NOT_CONNECTED, "
                      "m_ConnectState=CS_CONNECTED %s %d",
                      kSourceName, __LINE__);
            postNotice(0);
            return -2;
        }
        return 0;
    case NIMINT_CS_LISTENING:
        if (!m_outgoingCall) m_frame->hideConnectionWindow();
        return 0;
    case NIMINT_CS_CONNECTED:
        if (m_ConnectState == CS_CONNECTED) {
            if (m_comms != nullptr) m_comms->ConnectRate = GetConnectRate();
            break;
        }
        if (m_ConnectState != CS_LISTENING && m_ConnectState != CS_CONNECTING) break;
        return callEstablished();
    case NIMINT_CS_FAULT:
        if (m_ConnectState == CS_LISTENING || m_ConnectState == CS_CONNECTING || m_ConnectState == CS_CONNECTED) {
            const bool established = m_ConnectState == CS_CONNECTED;
            Disconnect();
            link().SetDisconnectStatus();
            if (established) {
                linkTrace(3,
                          "CInetConnection::CheckReads() return -2 NIMINT_CS_FAULT, m_ConnectState=CS_CONNECTED %s %d",
                          kSourceName, __LINE__);
            } else {
                linkTrace(3,
                          "CInetConnection::CheckReads() return -2 NIMINT_CS_FAULT, m_ConnectState=CS_LISTENING or "
                          "CS_CONNECTING %s %d",
                          kSourceName, __LINE__);
            }
            postNotice(kStrLinkFault);
            return -2;
        }
        return 0;
    case NIMINT_CS_CLOSE:
    default:
        break;
    }

    // A peer that connects but never completes the hello (silent, slow, or
    // sending noise) is dropped by the link's set-up limit like any time-out.
    if (link().CheckTimeOuts() == -2) {
        postNotice(kStrLinkTimedOut);
        linkTrace(1, "CInetConnection::CheckRead() failed!!!!! CheckTimeout failed");
        return -2;
    }

    if (link().IsConnected()) {
        link().ProcessSending();
        link().CheckReceiveCompletion();
    }
    return readLoop();
}

LONG InetTransport::readLoop() {
    const int which = m_useTcp ? 0 : 1;
    std::vector<BYTE>& buffer = m_buffers[which];
    DWORD& fill = m_fills[which];
    const std::span<BYTE> whole(buffer.data(), buffer.size());
    LONG parsed = 1;
    if (!m_useTcp) {
        while (fill != 0) {
            const DWORD before = fill;
            parsed = link().FilterPollBuff(whole, fill);
            if (parsed < 0) break;
            if (fill == before) return 1;  // a partial bucket waits for more
        }
        if (parsed == -1) {
            postNotice(kStrLinkReadFailed);
            return -1;
        }
        return parsed < 0 ? parsed : 1;
    }
    DWORD takenThisPass = 0;
    for (;;) {
        if (fill > kInetBufferBytes - 1) return 1;
        parsed = link().FilterPollBuff(whole, fill);
        if (parsed < 0) break;
        if (takenThisPass >= kMaxBytesPerPass) return 1;
        // One byte stays free for the terminating 0 behind the data.
        const DWORD room = kInetBufferBytes - 1 - fill;
        const LONG got = m_sockets->Read(buffer.data() + fill, room);
        if (got < 0) {
            linkTrace(5, "CInetConnection::CheckReads() NIMINT->ReadDataNode() Failed!!!! ");
            return -1;
        }
        if (got == 0) return 1;
        fill += static_cast<DWORD>(got);
        takenThisPass += static_cast<DWORD>(got);
        TouchActivity();
        buffer[fill] = 0;
        parsed = link().FilterPollBuff(whole, fill);
        if (parsed < 0) return parsed;
        if (parsed == 0) return 1;
    }
    linkTrace(5, "CInetConnection::CheckReads() FilterPollBuffFailed() ");
    if (parsed != -1) return parsed;
    postNotice(kStrLinkReadFailed);
    return -1;
}

// ---- dial-up services ----

void InetTransport::logDialvoError() {
    char text[256] = {};
    if (DialvoGetErrorString(text, 255) != ZO_RDAS_OK) {
        linkTrace(5, "CInetConnection::DIALVO get Error string failed %s ", text);
    }
    linkTrace(5, "CInetConnection::DIALVO Error: %s", text);
}

LONG InetTransport::LinkDialUp() {
    if (DialvoLink() != ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    m_dialUpLinked = true;
    return 1;
}

LONG InetTransport::CreateDialUpEntry() {
    if (DialvoWizardCreateEntry() != ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    return 1;
}

LONG InetTransport::EditDialUpEntry(const char* entry) {
    if (DialvoEditEntry(entry) != ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    return 1;
}

LONG InetTransport::DialAndGetAddress(const char* entry, char* address, DWORD size) {
    const Zo_Rds_Dial_Type prompt = m_comms != nullptr ? static_cast<Zo_Rds_Dial_Type>(m_comms->DialUpPrompt) : 0;
    if (DialvoConnectAndGetAddress(entry, address, size, prompt) != ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    return 1;
}

LONG InetTransport::GetDialUpEntryParams(const char* entry, std::string& user, std::string& password) {
    _Dialvo_Dial_Params params{};
    if (DialvoGetEntryDialParam(entry, &params) != ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    user = fixed_text::Read(params.szUserName, sizeof params.szUserName);
    password = fixed_text::Read(params.szPassword, sizeof params.szPassword);
    return 1;
}

LONG InetTransport::SetDialUpEntryParams(const char* entry, const char* user, const char* password) {
    _Dialvo_Dial_Params params{};
    std::snprintf(params.szUserName, 256, "%.255s", user != nullptr ? user : "");
    std::snprintf(params.szPassword, 256, "%.255s", password != nullptr ? password : "");
    if (DialvoSetEntryDialParam(entry, &params) != ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    return 1;
}

LONG InetTransport::FillDialUpEntries(std::vector<std::string>& names) {
    uint32_t count = 0;
    if (DialvoEnumEntries(nullptr, 0, &count) != ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    if (count == 0) return 1;
    std::vector<_ZoRsd_Entry_Name> entries(count);
    uint32_t listed = 0;
    if (DialvoEnumEntries(entries.data(), static_cast<uint32_t>(count * sizeof(_ZoRsd_Entry_Name)), &listed) !=
        ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    for (uint32_t i = 0; i < listed && i < count; ++i) {
        const std::string name = fixed_text::Read(entries[i].szEntryName, 256);
        const bool present = std::any_of(names.begin(), names.end(),
                                         [&](const std::string& n) { return equalNoCase(n, name); });
        if (!present) names.push_back(name);
    }
    return 1;
}

LONG InetTransport::HangUpDialUp() {
    if (DialvoHangUp() != ZO_RDAS_OK) {
        logDialvoError();
        return 0;
    }
    return 1;
}

LONG InetTransport::ConnectToLan() {
    if (!m_sockets->Open()) {
        linkTrace(5, "CInetConnection::ConnectToLan() cant open LAN");
        return 0;
    }
    return 1;
}

}  // namespace trennick
