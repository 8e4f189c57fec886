#include "trennick/serial/tapi_connection.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_trace.h"
#include "trennick/serial/comm.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace trennick {

using namespace tapi;

namespace {

constexpr DWORD kApiLow = 0x00010004;
constexpr DWORD kApiHigh = 0x00020000;
constexpr DWORD kWaitLimitMs = 30000;

struct DialStop {
    char c;
    DWORD flag;
    LONG error;
    const char* prompt;
};
constexpr DialStop kDialStops[] = {
    {'$', LINEDEVCAPFLAGS_DIALBILLING, LINEERR_DIALBILLING, "Wait for the credit card bong tone"},
    {'W', LINEDEVCAPFLAGS_DIALDIALTONE, LINEERR_DIALDIALTONE, "Wait for the second dial tone"},
    {'w', LINEDEVCAPFLAGS_DIALDIALTONE, LINEERR_DIALDIALTONE, "Wait for the second dial tone"},
    {'@', LINEDEVCAPFLAGS_DIALQUIET, LINEERR_DIALQUIET, "Wait for the remote end to answer"},
    {'?', 0, LINEERR_DIALPROMPT, "Press OK when you are ready to continue dialing"},
};

struct ModeString {
    DWORD mode;
    WPARAM id;
};
// resource strings: 65010-65023
constexpr ModeString kDisconnectModes[] = {
    {LINEDISCONNECTMODE_NORMAL, 65010},      {LINEDISCONNECTMODE_UNKNOWN, 65011},
    {LINEDISCONNECTMODE_REJECTED, 65012},    {LINEDISCONNECTMODE_PICKUP, 65013},
    {LINEDISCONNECTMODE_FORWARDED, 65014},   {LINEDISCONNECTMODE_BUSY, 65015},
    {LINEDISCONNECTMODE_NOANSWER, 65016},    {LINEDISCONNECTMODE_BADADDRESS, 65017},
    {LINEDISCONNECTMODE_UNREACHABLE, 65018}, {LINEDISCONNECTMODE_CONGESTION, 65019},
    {LINEDISCONNECTMODE_INCOMPATIBLE, 65020}, {LINEDISCONNECTMODE_UNAVAIL, 65021},
    {LINEDISCONNECTMODE_NODIALTONE, 65022},
};

DWORD readCommsDword(const char* name, DWORD fallback) {
    CKcReg reg = ProductKey("Comms");
    reg.SetValueName(name);
    reg.SetDefault(fallback);
    const DWORD v = reg.ReadDword();
    reg.Write(v);
    return v;
}

}  // namespace

CTAPIConnection::CTAPIConnection(ModemTransport& owner) : m_owner(owner) {
    m_MinTimeBetweenConnect = readCommsDword("MinTimeBetweenConnect", 1000);
    m_lastDisconnectMs = m_owner.now();
}

CTAPIConnection::~CTAPIConnection() {
    m_nullModem.reset();
    ShutdownTAPI();
}

CNULLModem& CTAPIConnection::nullModem() {
    if (!m_nullModem) m_nullModem = std::make_unique<CNULLModem>(&m_owner);
    return *m_nullModem;
}

int CTAPIConnection::DirectLineNumber(const std::string& lineName) {
    static const char* kPrefix = "Direct to com";
    if (lineName.size() != std::strlen(kPrefix) + 1) return 0;
    if (CCommon::FindStringNoCase(kPrefix, lineName) != 0) return 0;
    const char d = lineName.back();
    return d >= '1' && d <= '4' ? d - '0' : 0;
}

LONG CTAPIConnection::StartTAPI() {
    m_TapiDelay = readCommsDword("TapiDelay", 0);
    if (m_started) return 1;
    for (;;) {
        DWORD lines = 0;
        const LONG r = lineInitialize(&m_app, this, &CTAPIConnection::LineCallbackFunc, "Velmoor", &lines);
        if (r == 0) {
            m_numLines = lines;
            m_started = true;
            linkTrace(3, "CTAPIConnection::StartTAPI TAPI initialized");
            return 1;
        }
        if (r == LINEERR_REINIT) {
            linkTrace(5, "A change to the system configuration requires that all Telephony applications relinquish "
                         "their use of Telephony before any can progress.  Some have not yet done so.");
            if (m_owner.link().ShowMessage(kStrTapiUnavailable, 0) == 128) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5000));
                continue;
            }
            return 0;
        }
        if (!HandleLineErr(r)) return 0;
    }
}

void CTAPIConnection::ShutdownTAPI() {
    if (m_call || m_line) HangupCall();
    if (m_started) lineShutdown(m_app);
    m_started = false;
    m_app = 0;
}

void CTAPIConnection::StopTAPI() { ShutdownTAPI(); }

LONG CTAPIConnection::HandleLineErr(LONG result) {
    switch (result) {
    case 0:
    case LINEERR_NODEVICE:
        return 1;
    case LINEERR_INIFILECORRUPT:
    case LINEERR_INVALCARD:
    case LINEERR_INVALLOCATION:
        linkTrace(1, "TAPI ERROR: Configuration information appears to be corrupt.");
        return 0;
    case LINEERR_NODRIVER:
        linkTrace(1, "TAPI ERROR: One of the components of the Telephony device driver is missing\n");
        return 0;
    case LINEERR_NOMEM:
        linkTrace(1, "TAPI ERROR: Out of Memory error, canceling action.");
        return 0;
    case LINEERR_OPERATIONFAILED:
        linkTrace(1, "TAPI ERROR: Operation Failed for unknown reasons.");
        return 0;
    case LINEERR_RESOURCEUNAVAIL:
        linkTrace(1, "TAPI ERROR: A Telephony resource is temporarily unavailable.");
        ShutdownTAPI();
        StartTAPI();
        return 0;
    case LINEERR_REINIT:
        ShutdownTAPI();
        return 0;
    case LINEERR_NOMULTIPLEINSTANCE:
        linkTrace(1, "TAPI ERROR: Two copies of the same Telephony driver installed.");
        return 0;
    default:
        linkTrace(3, "Unknown TAPI line error code: 0x%lx", static_cast<unsigned long>(static_cast<DWORD>(result)));
        return 0;
    }
}

bool CTAPIConnection::checkCaps(LineDevCaps& caps) {
    if (lineNegotiateAPIVersion(m_app, m_deviceId, kApiLow, kApiHigh, &m_apiVersion, nullptr) != 0) m_apiVersion = 0;
    linkTrace(3, "CTAPIConnection::ConnectToRemote m_APIVersion = %ld", static_cast<long>(m_apiVersion));
    if (m_apiVersion == 0) {
        linkTrace(1, "TAPI ERROR: Line Version unsupported by this Application");
        return false;
    }
    if (lineGetDevCaps(m_app, m_deviceId, m_apiVersion, 0, &caps) != 0) {
        linkTrace(1, "CTAPIConnection::ConnectToRemote TAPI ERROR: Error on Requested line");
        return false;
    }
    if (!(caps.bearerModes & LINEBEARERMODE_VOICE)) {
        linkTrace(1, "TAPI ERROR: The selected line doesn't support VOICE capabilities\n");
        return false;
    }
    if (!(caps.mediaModes & LINEMEDIAMODE_DATAMODEM)) {
        linkTrace(1, "TAPI ERROR: The selected line doesn't support DATAMODEM capabilities\n");
        return false;
    }
    if (!(caps.lineFeatures & LINEFEATURE_MAKECALL)) {
        linkTrace(1, "CTAPIConnection::ConnectToRemote TAPI ERROR: The selected line doesn't support MAKECALL "
                     "capabilities");
        return false;
    }
    return true;
}

LONG CTAPIConnection::findLine(const std::string& name) {
    for (DWORD id = 0; id < m_numLines; ++id) {
        LineDevCaps caps;
        DWORD version = 0;
        if (lineNegotiateAPIVersion(m_app, id, kApiLow, kApiHigh, &version, nullptr) != 0) continue;
        if (lineGetDevCaps(m_app, id, version, 0, &caps) != 0) continue;
        caps.lineName[sizeof caps.lineName - 1] = '\0';
        if (name == caps.lineName) return static_cast<LONG>(id);
    }
    return -1;
}

void CTAPIConnection::closeLine() {
    if (m_line == 0) return;
    while (HandleLineErr(lineClose(m_line)) == 0) {
        break;  // a refused close is not retried for ever: the line handle is given up
    }
    m_line = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_TapiDelay);
    while (std::chrono::steady_clock::now() < until) {
        if (!Pump()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    linkTrace(3, "lineClose()");
}

LONG CTAPIConnection::ConnectToRemote(const char* number, const char* name) {
    if (m_owner.m_Target != CS_LISTENING) {
        linkTrace(1, "CTAPIConnection::ConnectToRemote Trying to connect while not connected");
        return 0;
    }
    const DWORD since = m_owner.now() - m_lastDisconnectMs;
    if (since <= m_MinTimeBetweenConnect) {
        linkTrace(1, "CTAPIConnection::ConnectToRemote Trying to connect while Time between connect = %d",
                  static_cast<int>(since));
        return 0;
    }
    m_peerName = name ? name : "";
    m_owner.m_Target = CS_CONNECTING;
    if (const int port = DirectLineNumber(m_settings.TapiLine); port != 0) {
        nullModem().Connect();
        m_owner.m_Target = CS_CONNECTED;
        m_owner.m_outgoing = true;
        return 1;
    }
    if (!m_started) StartTAPI();
    const LONG id = m_started ? findLine(m_settings.TapiLine) : -1;
    if (id < 0) {
        if (m_started) m_owner.link().ShowMessage(kStrTapiUnknownLine, 0, "Velmoor");
    } else {
        m_deviceId = static_cast<DWORD>(id);
        LineDevCaps caps;
        if (checkCaps(caps)) {
            closeLine();
            const LONG r = lineOpen(m_app, m_deviceId, &m_line, m_apiVersion, 0, reinterpret_cast<std::uintptr_t>(this),
                                    LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_DATAMODEM, nullptr);
            if (r == LINEERR_ALLOCATED) {
                linkTrace(1, "CTAPIConnection::ConnectToRemote TAPI ERROR: Line is already in use by a non-TAPI "
                             "application or by another TAPI Service Provider");
                HangupCall();
            } else if (r != 0) {
                linkTrace(1, "CTAPIConnection::ConnectToRemote  TAPI ERROR: Error on Requested line");
                HandleLineErr(r);
                HangupCall();
            } else {
                lineSetStatusMessages(m_line, 0xBFFFFF, 511);
                LineAddressStatus status;
                if (lineGetAddressStatus(m_line, 0, &status) == 0 &&
                    (status.addressFeatures & LINEADDRFEATURE_MAKECALL)) {
                    linkTrace(3, "CTAPIConnection::ConnectToRemote THIS station established a connection");
                    m_owner.m_Target = CS_CONNECTED;
                    m_owner.m_outgoing = true;
                    if (!m_devConfig.empty() && m_devConfigDevice == m_deviceId &&
                        lineSetDevConfig(m_deviceId, m_devConfig.data(), static_cast<DWORD>(m_devConfig.size()),
                                         "comm/datamodem") != 0) {
                        linkTrace(1, "CTAPIConnection::ConnectToRemote the line refused the kept configuration");
                    }
                    std::string dial = number ? number : "";
                    std::vector<BYTE> translated(1024);
                    auto* out = reinterpret_cast<VarString*>(translated.data());
                    out->totalSize = static_cast<DWORD>(translated.size());
                    if (lineTranslateAddress(m_app, m_deviceId, m_apiVersion, dial.c_str(), 0, 0, out) == 0 &&
                        out->stringOffset >= sizeof(VarString) &&
                        static_cast<std::size_t>(out->stringOffset) + out->stringSize <= translated.size()) {
                        const char* text = reinterpret_cast<const char*>(translated.data() + out->stringOffset);
                        dial = fixed_text::Read(text, out->stringSize);
                        linkTrace(3, "CTAPIConnection::ConnectToRemote Translated address is [%s]", dial.c_str());
                    } else {
                        linkTrace(3, "CTAPIConnection::ConnectToRemote TAPI: LineTranslateAddress failed, restoring [%s]",
                                  dial.c_str());
                    }
                    m_TAPIInUse = true;
                    if (DialCallInParts(caps, dial) != 0) {
                        m_TAPIInUse = false;
                        HangupCall();
                    }
                } else {
                    linkTrace(1, "This line is not available to place a call");
                    linkTrace(1, "CTAPIConnection::ConnectToRemote TAPI ERROR: Requested line is already in use");
                    HangupCall();
                }
            }
        }
    }
    if (!m_TAPIInUse) {
        linkTrace(1, "CTAPIConnection::ConnectToRemote m_TAPIInUse ==NULL");
        m_owner.link().ShowMessage(kStrTapiUnavailable, 0);
        if (m_owner.m_Target == CS_CONNECTING) m_owner.m_Target = CS_LISTENING;
        return 0;
    }
    return 1;
}

std::string CTAPIConnection::StopCharacters(DWORD devCapFlags) {
    std::string stops;
    for (const auto& s : kDialStops) {
        if (s.flag == 0 || !(devCapFlags & s.flag)) stops.push_back(s.c);
    }
    return stops;
}

std::vector<std::string> CTAPIConnection::DialPieces(const std::string& number, const std::string& stops) {
    std::vector<std::string> pieces;
    std::string current;
    for (char c : number) {
        if (stops.find(c) != std::string::npos) {
            pieces.push_back(current + ";");
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    pieces.push_back(current);
    return pieces;
}

LONG CTAPIConnection::DialCallInParts(const LineDevCaps& caps, const std::string& number) {
    std::string stops = StopCharacters(caps.devCapFlags);
    LineAddressCaps addressCaps;
    const bool partial = lineGetAddressCaps(m_app, m_deviceId, 0, m_apiVersion, 0, &addressCaps) == 0 &&
                         (addressCaps.addrCapFlags & LINEADDRCAPFLAGS_PARTIALDIAL);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const auto pieces = DialPieces(number, stops);
        if (pieces.size() > 1 && !partial) {
            linkTrace(1, "DialCallInParts TAPI WARNING: This line doesn't support partial dialing");
            return -1;
        }
        bool retry = false;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const LONG request = i == 0 ? lineMakeCall(m_line, &m_call, pieces[i].c_str(), 0, nullptr)
                                        : lineDial(m_call, pieces[i].c_str(), 0);
            const LONG reply = WaitForReply(request);
            if (reply == 1) {
                linkTrace(1, "CTAPIConnection::DialCallInParts While Dialing, WaitForReply aborted.");
                return -1;
            }
            if (reply != 0) {
                bool dialError = false;
                for (const auto& s : kDialStops) {
                    if (reply == s.error && stops.find(s.c) == std::string::npos) {
                        linkTrace(1, "Service Provider incorrectly sets dwDevCapFlags");
                        stops.push_back(s.c);
                        dialError = true;
                    }
                }
                if (dialError) {
                    if (i == 0) m_call = 0;
                    retry = true;
                    break;
                }
                linkTrace(1, "%s unhandled error: 0x%lx", i == 0 ? "lineMakeCall" : "lineDial",
                          static_cast<unsigned long>(static_cast<DWORD>(reply)));
                return -1;
            }
            if (i + 1 < pieces.size()) {
                linkTrace(3, "CTAPIConnection::DialCallInParts Waiting for dialing to be enabled");
                WaitForCallState(0);
                linkTrace(3, "CTAPIConnection::DialCallInParts Ok to continue dialing");
                linkTrace(3, "CTAPIConnection::DialCallInParts TAPI WARNING: Dialing Paused");
            }
        }
        if (!retry) return 0;
    }
    return -1;
}

LONG CTAPIConnection::WaitForReply(LONG requestId) {
    if (requestId <= 0) return LINEERR_OPERATIONFAILED;
    if (m_waitDepth > 0) {
        // A callback handled inside a wait started another: the outer one can
        // no longer trust what it waits for, and this one cannot pump for it.
        m_waitAborted = true;
        linkTrace(1, "CTAPIConnection::WaitForReply() WAITERR_WAITABORTED or dwEntered = %ld",
                  static_cast<long>(m_waitDepth + 1));
        return 1;
    }
    ++m_waitDepth;
    m_waitAborted = false;
    const bool callPlaced = m_TAPIInUse;
    const bool lineHeld = m_line != 0 || m_call != 0;
    m_RequestedID = requestId;
    m_replied = false;
    m_AsyncReply = LINEERR_OPERATIONFAILED;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitLimitMs);
    LONG result = 2;
    while (std::chrono::steady_clock::now() < until) {
        if (!Pump()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (m_replied) {
            result = m_AsyncReply;
            break;
        }
        // Aborted: a nested wait, the placed call given up, or the line closed
        // under the wait (no answer can come any more).
        if (m_waitAborted || (callPlaced && !m_TAPIInUse) || (lineHeld && m_call == 0 && m_line == 0)) {
            linkTrace(1, "CTAPIConnection::WaitForReply() WAITERR_WAITABORTED or dwEntered = %ld",
                      static_cast<long>(m_waitDepth));
            result = 1;
            break;
        }
    }
    if (result == 2) linkTrace(1, "CTAPIConnection::WaitForReply() TimeOut");
    m_waitAborted = false;
    m_RequestedID = 0;
    --m_waitDepth;
    return result;
}

LONG CTAPIConnection::WaitForCallState(DWORD state) {
    const DWORD start = m_callState;
    if (state != 0 && m_callState == state) return 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitLimitMs);
    while (std::chrono::steady_clock::now() < until) {
        if (!Pump()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if ((state == 0 && m_callState != start) || (state != 0 && m_callState == state)) return 0;
        if (m_call == 0) {
            linkTrace(1, "CTAPIConnection::WaitForCallState WAITABORTED");
            return 1;
        }
    }
    linkTrace(1, "CTAPIConnection::WaitForCallState WAITTIMEDOUT");
    return 2;
}

void CTAPIConnection::LineCallbackFunc(DWORD device, DWORD message, std::uintptr_t instance, std::uintptr_t param1,
                                       std::uintptr_t param2, std::uintptr_t param3) {
    auto* self = reinterpret_cast<CTAPIConnection*>(instance);
    if (self == nullptr) return;
    std::lock_guard lock(self->m_queueLock);
    self->m_queue.push_back({device, message, param1, param2, param3});
}

bool CTAPIConnection::Pump() {
    Callback c;
    {
        std::lock_guard lock(m_queueLock);
        if (m_queue.empty()) return false;
        c = m_queue.front();
        m_queue.pop_front();
    }
    dispatch(c);
    return true;
}

void CTAPIConnection::dispatch(const Callback& c) {
    linkTrace(5, "lineCallback: %lu; dwDevice: '0x%lx'; ", static_cast<unsigned long>(c.message),
              static_cast<unsigned long>(c.device));
    switch (c.message) {
    case LINE_CALLSTATE: DoLineCallState(c); break;
    case LINE_CLOSE: DoLineClose(c); break;
    case LINE_LINEDEVSTATE: DoLineDevState(c); break;
    case LINE_REPLY:
        if (static_cast<LONG>(c.p1) == m_RequestedID) {
            m_AsyncReply = static_cast<LONG>(c.p2);
            m_replied = true;
        }
        break;
    case LINE_CREATE:
        if (c.p1 + 1 > m_numLines) m_numLines = static_cast<DWORD>(c.p1 + 1);
        m_owner.post(kMsgCommand, kCmdLineAdded, 0);
        break;
    default: linkTrace(5, "LineCallbackFunc message ignored"); break;
    }
}

void CTAPIConnection::DoLineCallState(const Callback& c) {
    const DWORD state = static_cast<DWORD>(c.p1);
    if (m_call == 0 && state == LINECALLSTATE_OFFERING) m_call = c.device;
    // A late state of a call given up already (a drop that finished after we
    // let go of the call) must not end the next one.
    if (c.device != m_call) {
        linkTrace(5, "CTAPIConnection::DoLineCallState state 0x%lx of call 0x%lx ignored", static_cast<unsigned long>(state),
                  static_cast<unsigned long>(c.device));
        return;
    }
    m_callState = state;
    switch (state) {
    case LINECALLSTATE_IDLE:
        m_status = "Line is idle";
        // The idle state that ends our own drop is what HangupCall waits for.
        if (!m_StoppingCall) HangupCall();
        break;
    case LINECALLSTATE_OFFERING: linkTrace(3, "CTAPIConnection::DoLineCallState LINECALLSTATE_OFFERING"); break;
    case LINECALLSTATE_DIALTONE: m_status = "Dial Tone"; break;
    case LINECALLSTATE_DIALING: m_status = "Dialing Call"; break;
    case LINECALLSTATE_RINGBACK: m_status = "RingBack"; break;
    case LINECALLSTATE_PROCEEDING: m_status = "Call is Proceeding"; break;
    case LINECALLSTATE_BUSY:
        m_status = "Line is busy";
        m_owner.m_lastCallResult = kStrCallBusy;
        m_owner.post(kMsgLinkFailed, kStrCallBusy, 0);
        HangupCall();
        break;
    case LINECALLSTATE_SPECIALINFO:
        m_status = "Special Info, probably couldn't dial number";
        HangupCall();
        break;
    case LINECALLSTATE_CONNECTED: {
        // The link's connected handling posts the link-up notice (32895).
        if (m_connectedOnce) break;
        m_connectedOnce = true;
        std::vector<BYTE> buffer(1048);
        auto* id = reinterpret_cast<VarString*>(buffer.data());
        id->totalSize = static_cast<DWORD>(buffer.size());
        LONG r = lineGetID(m_line, 0, m_call, 2, id, "comm/datamodem");
        if (r == 0 && id->neededSize > id->totalSize && id->neededSize < (1u << 20)) {
            buffer.assign(id->neededSize, 0);
            id = reinterpret_cast<VarString*>(buffer.data());
            id->totalSize = static_cast<DWORD>(buffer.size());
            r = lineGetID(m_line, 0, m_call, 2, id, "comm/datamodem");
        }
        // The answer is checked against the record's own size before use.
        bool ok = false;
        if (r == 0 && id->stringSize >= 4 && id->stringOffset >= sizeof(VarString) &&
            static_cast<std::size_t>(id->stringOffset) + id->stringSize <= buffer.size()) {
            DWORD fd = 0;
            std::memcpy(&fd, buffer.data() + id->stringOffset, 4);
            const std::string device(reinterpret_cast<const char*>(buffer.data() + id->stringOffset + 4),
                                     strnlen(reinterpret_cast<const char*>(buffer.data() + id->stringOffset + 4),
                                             id->stringSize - 4));
            linkTrace(3, "CTAPIConnection::DoLineCallState Connected Starting communications");
            auto port = std::make_unique<platform::SerialPort>();
            if (port->adopt(static_cast<int>(fd), device) == ERROR_SUCCESS) {
                if (StartComm(std::move(port)) == 0) ok = true;
            } else if (static_cast<int>(fd) >= 0) {
                ::close(static_cast<int>(fd));
            }
        }
        LineCallInfo info;
        const DWORD rate = lineGetCallInfo(m_call, &info) == 0 && info.rate != 0 ? info.rate : 28800;
        m_owner.m_line.Rate = rate;
        if (ok) {
            m_status = "Connected to '" + m_peerName + "'";
            m_owner.connectedNow();
        } else {
            m_status = "Failed to Connect to '" + m_peerName + "'";
            HangupCall();
        }
        break;
    }
    case LINECALLSTATE_DISCONNECTED: {
        WPARAM id = 65023;
        for (const auto& m : kDisconnectModes) {
            if (m.mode == static_cast<DWORD>(c.p2)) id = m.id;
        }
        if (id == 65023) linkTrace(1, "CTAPIConnection::DoLineCallState UKNOWN COMUNICATION_PROBLEM");
        m_owner.m_lastCallResult = id;
        m_owner.post(kMsgLinkFailed, id, 0);
        HangupCall();
        break;
    }
    default: break;
    }
}

void CTAPIConnection::DoLineDevState(const Callback& c) {
    const DWORD state = static_cast<DWORD>(c.p1);
    if (state & LINEDEVSTATE_RINGING) {
        m_status = "Line Ringing";
        OnLDSRinging(static_cast<DWORD>(c.p3));
    } else if (state & LINEDEVSTATE_DISCONNECTED) {
        linkTrace(1, " CTAPIConnection::DoLineDevState TAPI WARNING: Line selected is now disconnected");
    } else if (state & LINEDEVSTATE_OUTOFSERVICE) {
        linkTrace(1, " CTAPIConnection::DoLineDevState TAPI WARNING: Line selected is now Out of Service");
    } else if (state & LINEDEVSTATE_MAINTENANCE) {
        linkTrace(1, " CTAPIConnection::DoLineDevState TAPI WARNING: Line selected is now under Maintenance");
    } else if (state & LINEDEVSTATE_REINIT) {
        linkTrace(1, "  CTAPIConnection::DoLineDevState TAPI WARNING: Tapi line configuration has changed");
        m_owner.post(kMsgCommand, kCmdLineConfigChanged, 0);
    }
}

void CTAPIConnection::DoLineClose(const Callback& c) {
    linkTrace(3, "CTAPIConnection::DoLineClose LINE_CLOSE dwDevice=%ld, m_Line = %ld", static_cast<long>(c.device),
              static_cast<long>(m_line));
    m_line = 0;
    m_call = 0;
    m_owner.m_Target = CS_NOTCONNECTED;
    m_owner.m_ModemConnected = CS_NOTCONNECTED;
    m_owner.m_WasListening = false;
    m_owner.m_Ringing = false;
    HangupCall();
}

void CTAPIConnection::OnLDSRinging(DWORD ring) {
    linkTrace(3, "CTAPIConnection::OnLDSRinging ring %lu", static_cast<unsigned long>(ring));
    m_owner.post(kMsgRing, 2, 0);
    m_owner.m_Ringing = true;
    if (!m_settings.AutoAnswer && ring == m_settings.RingsCount) m_owner.post(kMsgAskAnswer, 0, 0);
    if (m_settings.AutoAnswer && ring >= m_settings.RingsCount) OnAnswer();
}

LONG CTAPIConnection::OnAnswer() {
    m_owner.m_Ringing = false;
    m_owner.m_Target = CS_CONNECTED;
    for (;;) {
        const LONG r = WaitForReply(lineAnswer(m_call, nullptr, 0));
        if (r == 0) return 1;
        if (!HandleLineErr(r)) return 0;
    }
}

LONG CTAPIConnection::SetListenOn() {
    if (const int port = DirectLineNumber(m_settings.TapiLine); port != 0) {
        CNULLModem& nm = nullModem();
        nm.SetPort(static_cast<DWORD>(port));
        const LONG r = nm.SetListenOn();
        if (r) {
            m_owner.m_Target = CS_LISTENING;
            m_owner.m_WasListening = true;
            m_owner.m_initialising = false;
        }
        return r;
    }
    if (!m_started && !StartTAPI()) return 0;
    const LONG id = findLine(m_settings.TapiLine);
    if (id < 0) return 0;
    m_deviceId = static_cast<DWORD>(id);
    LineDevCaps caps;
    if (!checkCaps(caps)) return 0;
    closeLine();
    const LONG r = lineOpen(m_app, m_deviceId, &m_line, m_apiVersion, 0, reinterpret_cast<std::uintptr_t>(this),
                            LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, nullptr);
    if (r != 0) {
        linkTrace(1, "lineOpen unhandled error: 0x%lx", static_cast<unsigned long>(static_cast<DWORD>(r)));
        HandleLineErr(r);
        return 0;
    }
    lineSetStatusMessages(m_line, 0xBFFFFF, 511);
    m_owner.m_Target = CS_LISTENING;
    m_owner.m_WasListening = true;
    m_owner.m_initialising = false;
    return 1;
}

LONG CTAPIConnection::HangupCall() {
    if (m_StoppingCall) {
        linkTrace(3, "CTAPIConnection::HangupCall() m_StoppingCall = TRUE");
        m_owner.post(kMsgCommand, kCmdHangUpRefused, 0);
        return 0;
    }
    m_StoppingCall = true;
    // The port goes back first: the line needs it to hang the modem up.
    StopComm();
    if (m_call != 0) {
        const LONG r = WaitForReply(lineDrop(m_call, nullptr, 0));
        if (r == 2) linkTrace(1, "CTAPIConnection::HangupCall() lineDrop time out");
        if (r == 1) linkTrace(1, "CTAPIConnection::HangupCall() lineDrop aborted");
        // The call handle is freed only once the call is idle: the line is
        // free for the next call then, and no late state of this one remains.
        if (r == 0 && WaitForCallState(LINECALLSTATE_IDLE) != 0) {
            linkTrace(1, "CTAPIConnection::HangupCall() the call did not become idle");
        }
        lineDeallocateCall(m_call);
        m_call = 0;
        m_callState = 0;
    }
    closeLine();
    if (m_nullModem && DirectLineNumber(m_settings.TapiLine) != 0) m_nullModem->HangUp();
    if (m_owner.m_ModemConnected == CS_CONNECTED) LogConnection(false);
    m_owner.m_Target = CS_NOTCONNECTED;
    m_owner.m_ModemConnected = CS_NOTCONNECTED;
    m_owner.m_Ringing = false;
    m_owner.m_outgoing = false;
    m_TAPIInUse = false;
    m_connectedOnce = false;
    m_owner.post(kMsgLinkFailed, 0, 0);
    m_status = "Ready to make a call.";
    m_lastDisconnectMs = m_owner.now();
    m_StoppingCall = false;
    return 1;
}

LONG CTAPIConnection::StopListening() { return HangupCall(); }

LONG CTAPIConnection::SetNotConnected(BOOL keepListening, BOOL quiet) {
    m_owner.m_Target = CS_NOTCONNECTED;
    m_owner.m_Ringing = false;
    if (!keepListening) {
        m_owner.m_WasListening = m_settings.ListenAfterDisconnect;
    }
    HangupCall();
    if (m_owner.m_WasListening && !quiet) SetListenOn();
    return 0;
}

LONG CTAPIConnection::SetCommsSettings(const ModemLineSettings& settings) {
    StopTAPI();
    m_settings = settings;
    if (!m_settings.TapiLine.empty() && DirectLineNumber(m_settings.TapiLine) == 0) StartTAPI();
    return 1;
}

LONG CTAPIConnection::SendModemText(const char* digits) {
    if (m_call == 0 || digits == nullptr) return 0;
    return WaitForReply(lineDial(m_call, digits, 0)) == 0 ? 1 : 0;
}

void CTAPIConnection::LogConnection(bool connect) {
    const std::string text = std::string(connect ? "*** TAPI Connect    on: " : "*** TAPI Disconnect on: ") +
                             CCommon::GetDateTimeStamp(false) + " ***";
    linkTrace(3, "CTAPIConnection::LogConnection %s ", text.c_str());
}

LONG CTAPIConnection::StartComm(std::unique_ptr<platform::SerialPort> port) {
    if (m_owner.IsPortOpen() && !m_owner.LoopBack()) {
        linkTrace(1, "CTAPIConnection::StartComm Already have a comm file open");
        return -1;
    }
    if (!port || !port->isOpen()) {
        linkTrace(1, "CTAPIConnection::StartCommFile handle is not a comm handle");
        return -1;
    }
    linkTrace(3, "CTAPIConnection::StartComm Now Pass to m_ActComm");
    return m_owner.WinAttach(std::move(port), m_owner.m_lineKind == LINE_MODEM);
}

LONG CTAPIConnection::StartComm_NULLModem(std::unique_ptr<platform::SerialPort> port, DWORD baudRate) {
    return m_owner.ModemTransport::StartComm_NULLModem(std::move(port), baudRate);
}

void CTAPIConnection::StopComm() {
    linkTrace(3, "CTAPIConnection::StopComm() m_Comms->WinUnSetupComm()");
    m_owner.WinUnSetupComm();
}

std::vector<TapiLineEntry> CTAPIConnection::FillTAPILine() {
    std::vector<TapiLineEntry> lines;
    if (!m_started) StartTAPI();
    for (DWORD id = 0; m_started && id < m_numLines; ++id) {
        DWORD version = 0;
        if (lineNegotiateAPIVersion(m_app, id, kApiLow, kApiHigh, &version, nullptr) != 0) continue;
        LineDevCaps caps;
        if (lineGetDevCaps(m_app, id, version, 0, &caps) != 0) {
            linkTrace(3, "Line Unavailable");
            continue;
        }
        caps.lineName[sizeof caps.lineName - 1] = '\0';
        if (caps.lineName[0] == '\0') {
            linkTrace(3, "Line Name is Empty");
            lines.push_back({"Line Unnamed", id});
        } else {
            lines.push_back({caps.lineName, id});
        }
    }
    for (int i = 1; i <= 4; ++i) lines.push_back({"Direct to com" + std::to_string(i), kDirectLineDevice});
    return lines;
}

std::string CTAPIConnection::LineWarning(const std::string& lineName) {
    static const char* kNoDataModemClass = "TAPI WARNING: The selected line doesn't support the COMM/DATAMODEM device class";
    if (DirectLineNumber(lineName) != 0) return {};
    if (m_nullModem) {
        linkTrace(3, "VerifyAndWarn() Disconnecting NULL Modem from RS");
        m_nullModem->HangUp();
    }
    if (!m_started && !StartTAPI()) return kNoDataModemClass;
    const LONG found = findLine(lineName);
    if (found < 0) return kNoDataModemClass;
    const DWORD id = static_cast<DWORD>(found);
    DWORD version = 0;
    LineDevCaps caps;
    if (lineNegotiateAPIVersion(m_app, id, kApiLow, kApiHigh, &version, nullptr) != 0 ||
        lineGetDevCaps(m_app, id, version, 0, &caps) != 0) {
        return kNoDataModemClass;
    }
    if (!(caps.bearerModes & LINEBEARERMODE_VOICE)) return "TAPI WARNING: The selected line doesn't support VOICE capabilities";
    if (!(caps.mediaModes & LINEMEDIAMODE_DATAMODEM))
        return "TAPI WARNING: The selected line doesn't support DATAMODEM capabilities";
    if (!(caps.lineFeatures & LINEFEATURE_MAKECALL))
        return "TAPI WARNING: The selected line doesn't support MAKECALL capabilities";
    // The line this link has open (listening on it) is ours to use.
    if (m_line != 0 && id == m_deviceId) return {};
    // Whether someone else holds it: a program on the port refuses the open;
    // another telephony application leaves the line unable to place a call.
    HLINE probe = 0;
    const LONG opened = lineOpen(m_app, id, &probe, version, 0, reinterpret_cast<std::uintptr_t>(this),
                                 LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_DATAMODEM, nullptr);
    if (opened == LINEERR_ALLOCATED) return "TAPI WARNING: The selected line is already in use by a non-TAPI application";
    if (opened != 0) return kNoDataModemClass;
    LineAddressStatus status;
    const bool canCall = lineGetAddressStatus(probe, 0, &status) == 0 && (status.addressFeatures & LINEADDRFEATURE_MAKECALL);
    lineClose(probe);
    if (!canCall) return "TAPI WARNING: The selected line is already in use by a TAPI application";
    return {};
}

BOOL CTAPIConnection::VerifyAndWarn(const std::string& lineName) {
    const std::string warning = LineWarning(lineName);
    if (warning.empty()) return TRUE;
    linkTrace(1, "CTAPIConnection::VerifyAndWarn %s", warning.c_str());
    m_owner.link().ShowText(warning, 0);
    return FALSE;
}

LONG CTAPIConnection::queryVar(const std::function<LONG(VarString*)>& query, std::vector<BYTE>& bytes) {
    constexpr DWORD kMostBytes = 1u << 16;
    std::vector<BYTE> buffer(256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        auto* answer = reinterpret_cast<VarString*>(buffer.data());
        *answer = VarString{};
        answer->totalSize = static_cast<DWORD>(buffer.size());
        const LONG r = query(answer);
        if (r != 0) return r;
        if (answer->neededSize > answer->totalSize) {
            if (answer->neededSize > kMostBytes) return LINEERR_STRUCTURETOOSMALL;
            buffer.assign(answer->neededSize, 0);
            continue;
        }
        // The answer's own offsets are checked against what it was given.
        if (answer->stringSize == 0 || answer->stringOffset < sizeof(VarString) ||
            static_cast<std::size_t>(answer->stringOffset) + answer->stringSize > buffer.size()) {
            return LINEERR_STRUCTURETOOSMALL;
        }
        bytes.assign(buffer.begin() + answer->stringOffset, buffer.begin() + answer->stringOffset + answer->stringSize);
        return 0;
    }
    return LINEERR_STRUCTURETOOSMALL;
}

BOOL CTAPIConnection::PreConfigureDevice(void* ownerWindow, DWORD deviceId) {
    if (deviceId == kDirectLineDevice) return FALSE;
    if (!m_started && !StartTAPI()) return FALSE;
    for (;;) {
        std::vector<BYTE> current;
        LONG r = queryVar([&](VarString* v) { return lineGetDevConfig(deviceId, v, "comm/datamodem"); }, current);
        if (r != 0) {
            linkTrace(1, "CTAPIConnection::PreConfigureDevice lineGetDevConfig failed: 0x%lx",
                      static_cast<unsigned long>(static_cast<DWORD>(r)));
            return FALSE;
        }
        std::vector<BYTE> edited;
        r = queryVar([&](VarString* v) {
            return lineConfigDialogEdit(deviceId, ownerWindow, "comm/datamodem", current.data(),
                                        static_cast<DWORD>(current.size()), v);
        }, edited);
        if (r != 0) {
            linkTrace(1, "CTAPIConnection::PreConfigureDevice lineConfigDialogEdit failed: 0x%lx",
                      static_cast<unsigned long>(static_cast<DWORD>(r)));
            return FALSE;
        }
        // Unchanged (or cancelled): the line keeps what it has.
        if (edited != current &&
            lineSetDevConfig(deviceId, edited.data(), static_cast<DWORD>(edited.size()), "comm/datamodem") != 0) {
            linkTrace(1, "TAPI ERROR: Unable to set line configuration, retrying.\n");
            continue;
        }
        m_devConfig = std::move(edited);
        m_devConfigDevice = deviceId;
        return TRUE;
    }
}

BOOL CTAPIConnection::TranslateDialog(void* ownerWindow, DWORD deviceId) {
    if (deviceId == kDirectLineDevice) return FALSE;
    if (!m_started && !StartTAPI()) return FALSE;
    DWORD version = 0;
    if (lineNegotiateAPIVersion(m_app, deviceId, kApiLow, kApiHigh, &version, nullptr) != 0) return FALSE;
    const LONG r = lineTranslateDialog(m_app, deviceId, version, ownerWindow, "");
    if (r != 0) {
        linkTrace(1, "CTAPIConnection::TranslateDialog lineTranslateDialog failed: 0x%lx",
                  static_cast<unsigned long>(static_cast<DWORD>(r)));
        return FALSE;
    }
    return TRUE;
}

void CTAPIConnection::FreeDevConfig() {
    m_devConfig.clear();
    m_devConfigDevice = kDirectLineDevice;
}

}  // namespace trennick
