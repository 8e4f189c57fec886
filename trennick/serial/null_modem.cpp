#include "trennick/serial/null_modem.h"

#include "common/kc_reg.h"
#include "common/serial_port_map.h"
#include "platform/com/com.h"
#include "tavicore/product_key.h"
#include "trennick/link/common_base.h"
#include "trennick/link/link_trace.h"
#include "trennick/serial/comm.h"
#include "trennick/serial/serial_transport.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace trennick {

namespace {

constexpr DWORD kPollMs = 300;
constexpr std::size_t kBufferLimit = 2047;
constexpr int kDsrGraceMs = 2000;

}  // namespace

DWORD clampNullModemBaud(DWORD baud) {
    for (DWORD rate : {115200u, 56000u, 38400u, 19200u, 14400u}) {
        if (baud >= rate) return rate;
    }
    return 9600;
}

DWORD clampNullModemPort(DWORD port) { return std::clamp<DWORD>(port, 1, 4); }

NullModemSettings readNullModemSettings() {
    NullModemSettings s;
    CKcReg reg = ProductKey("Comms\\NULLModem");
    auto number = [&reg](const char* name, DWORD fallback) {
        reg.SetValueName(name);
        reg.SetDefault(fallback);
        const DWORD v = reg.ReadDword();
        reg.Write(v);
        return v;
    };
    auto text = [&reg](const char* name, const char* fallback) {
        reg.SetValueName(name);
        reg.SetDefault(fallback);
        std::string v = reg.ReadString();
        reg.Write(v);
        return v;
    };
    s.port = clampNullModemPort(number("COMPortNumber_1-4", 1));
    s.baud = clampNullModemBaud(number("BaudRate_BPS", 115200));
    // The caller's dial text is the listener's ring text, so that two stations
    // with the default texts find each other.
    s.ring = text("RING", "+++RING");
    s.dial = text("DIAL", "+++RING");
    s.answer = text("ANSWER", "+++ANSWER");
    s.connect = text("CONNECT", "+++CONNECT");
    s.init = text("INIT", "INIT");
    s.ok = text("OK", "OK");
    s.disconnect = text("DISCONNECT", "<+++ATH>");
    return s;
}

CNULLModem::CNULLModem(SerialTransport* owner) : m_owner(owner), m_settings(readNullModemSettings()) {
    m_port = m_settings.port;
    m_baud = m_settings.baud;
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
    const HRESULT hr =
        CoCreateInstance(CLSID_ZoSerial, nullptr, CLSCTX_INPROC_SERVER, IID_IZoSerial, m_serial.putVoid());
    if (FAILED(hr)) {
        m_serial.reset();
        linkTrace(5, "CNULLModem::CNULLModem Creation of the IZoSerial failed!!!");
    }
}

CNULLModem::~CNULLModem() {
    linkTrace(5, "ENTER %s", "CNULLModem::~CNULLModem()");
    {
        CKcReg reg = ProductKey("Comms\\NULLModem");
        reg.SetValueName("COMPortNumber_1-4");
        reg.Write(m_port);
        reg.SetValueName("BaudRate_BPS");
        reg.Write(m_baud);
    }
    Destroy();
    CloseCOMPort();
    closeServerPort();
    m_serial.reset();
    if (m_comInitialised) CoUninitialize();
    linkTrace(5, "LEAVE %s", "CNULLModem::~CNULLModem()");
}

DWORD CNULLModem::Run() {
    SignalEvent();
    while (!m_stop) {
        const bool idle = m_wState.load() == NULL_MODEM_STATE_NONE;
        if (WaitEvent(idle ? 0xFFFFFFFF : kPollMs)) {
            if (m_stop) break;
            std::lock_guard server(m_serverLock);
            int command;
            {
                std::lock_guard lock(m_commandLock);
                command = m_command;
                m_command = NULL_MODEM_CMD_NONE;
            }
            HandleCommand(command);
        } else {
            HandleState();
        }
    }
    return 0;
}

void CNULLModem::HandleCommand(int command) {
    switch (command) {
    case NULL_MODEM_CMD_CONNECT:
        linkTrace(3, "CNULLModem::HandleCommand(NULL_MODEM_CMD_CONNECT)");
        m_buffer.clear();
        m_wState = NULL_MODEM_STATE_CONNECTING;
        break;
    case NULL_MODEM_CMD_LISTEN:
        linkTrace(3, "CNULLModem::HandleCommand(NULL_MODEM_CMD_LISTEN)");
        m_wState = NULL_MODEM_STATE_LISTENING;
        break;
    case NULL_MODEM_CMD_DISCONNECT_FROM_RS:
        linkTrace(3, "CNULLModem::HandleCommand(NULL_MODEM_CMD_DISCONNECT_FROM_RS)");
        closeServerPort();
        CloseCOMPort();
        m_wState = NULL_MODEM_STATE_NONE;
        break;
    default:
        linkTrace(3, "CNULLModem::HandleCommand(NULL_MODEM_CMD_NONE)");
        break;
    }
}

void CNULLModem::sendText(const std::string& text) {
    if (!m_serial || text.empty()) return;
    ULONG sent = 0;
    m_serial->SendData(reinterpret_cast<BYTE*>(const_cast<char*>(text.data())), static_cast<ULONG>(text.size()),
                       &sent);
}

void CNULLModem::closeServerPort() {
    if (m_serial) m_serial->Disconnect();
}

int CNULLModem::GetBucket() {
    if (m_serial) {
        ULONG waiting = 0;
        if (m_serial->GetFIFOSize(kZoSerialReadFifo, &waiting) == S_OK && waiting > 0) {
            if (m_buffer.size() >= kBufferLimit) m_buffer.clear();  // a full buffer starts again
            const ULONG room = static_cast<ULONG>(kBufferLimit - m_buffer.size());
            std::string chunk(std::min(waiting, room), '\0');
            ULONG got = 0;
            m_serial->ReadData(reinterpret_cast<BYTE*>(chunk.data()), static_cast<ULONG>(chunk.size()), &got);
            chunk.resize(std::min<ULONG>(got, static_cast<ULONG>(chunk.size())));
            m_buffer += chunk;
            linkTrace(5, "CNULLModem::GetBucket() %s", m_buffer.c_str());
        }
    }
    struct Find {
        std::string text;
        int type;
    };
    const Find finds[] = {{ConnectText(), BUKTYPE_CONNECT},
                          {m_settings.answer, BUKTYPE_ANSWER},
                          {m_settings.ring, BUKTYPE_RING},
                          {m_settings.init, BUKTYPE_INIT}};
    for (const auto& f : finds) {
        if (f.text.empty()) continue;
        const auto at = m_buffer.find(f.text);
        if (at == std::string::npos) continue;
        if (f.type == BUKTYPE_INIT) linkTrace(5, "CNULLModem::GetBucket() INIT received\n");
        m_buffer.erase(0, at + f.text.size());
        return f.type;
    }
    return BUKTYPE_NONE;
}

void CNULLModem::handOver(bool callArrived) {
    closeServerPort();
    // The server gives the port up when it closes; a moment may pass before
    // the device can be opened again.
    bool opened = false;
    for (int attempt = 0; attempt < 10 && !(opened = OpenCOMPort()); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!opened) {
        linkTrace(1, "CNULLModem: the COM port could not be opened after the handshake");
        m_wState = NULL_MODEM_STATE_NONE;
        return;
    }
    m_wState = NULL_MODEM_STATE_CONNECTED;
    m_dsrOffSince.reset();
    m_watchPty = m_open->isPseudoTerminal();
    m_watchDevice = m_open->device();
    m_watchFd = ::dup(m_open->fd());
    if (m_owner) {
        m_owner->QueueCableEvent(SerialTransport::CableEvent::PortOpen, std::move(m_open), m_baud);
        if (callArrived) m_owner->QueueCableEvent(SerialTransport::CableEvent::CallArrived);
    }
    m_open.reset();
}

void CNULLModem::HandleState() {
    const int state = m_wState.load();
    if (state == NULL_MODEM_STATE_NONE) {
        linkTrace(5, "CNULLModem::HandleState() m_wState = NULL_MODEM_STATE_NONE");
        return;
    }
    if (state == NULL_MODEM_STATE_CONNECTED) {
        // The cable is the link's now: only its DSR is watched. A line that
        // dropped is reported once.
        DWORD status = 0;
        const DWORD code = platform::SerialPort::modemStatusOf(m_watchFd, m_watchDevice, m_watchPty, status);
        const bool off = code != ERROR_SUCCESS || !(status & platform::MS_DSR_ON);
        // The other station's DTR drops for a moment while its port changes
        // hands after the handshake: only a DSR that stays off is a dropped line.
        const auto now = std::chrono::steady_clock::now();
        if (!off) {
            m_dsrOffSince.reset();
        } else if (!m_dsrOffSince) {
            m_dsrOffSince = now;
        }
        if (off && now - *m_dsrOffSince >= std::chrono::milliseconds(kDsrGraceMs)) {
            m_dsrOffSince.reset();
            linkTrace(1, "CNULLModem::HandleState() DSR is off: the line dropped");
            CloseCOMPort();
            m_wState = NULL_MODEM_STATE_NONE;
            if (m_owner) m_owner->QueueCableEvent(SerialTransport::CableEvent::LineDropped);
        }
        return;
    }
    const int bucket = GetBucket();
    if (state == NULL_MODEM_STATE_CONNECTING) {
        linkTrace(5, "CNULLModem::HandleState() CNULLModem - m_wState = NULL_MODEM_STATE_CONNECTING");
        // The answer text, or the connect text that follows it.
        if (bucket == BUKTYPE_ANSWER || bucket == BUKTYPE_CONNECT) {
            linkTrace(3, "CNULLModem - BUKTYPE = ANSWER");
            sendText(ConnectText());
            handOver(false);
        } else {
            sendText(m_settings.dial);
        }
    } else if (state == NULL_MODEM_STATE_LISTENING) {
        if (bucket == BUKTYPE_RING) {
            linkTrace(3, "CNULLModem::HandleState() - BUKTYPE = RING");
            // The caller waits for the answer text; the connect text follows.
            sendText(m_settings.answer);
            sendText(ConnectText());
            // Let the server's writer put the texts on the line before the
            // port changes hands.
            if (m_serial) {
                for (int i = 0; i < 40; ++i) {
                    ULONG left = 0;
                    m_serial->GetFIFOSize(kZoSerialWriteFifo, &left);
                    if (left == 0) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(25));
                }
            }
            handOver(true);
        } else if (bucket == BUKTYPE_INIT) {
            linkTrace(3, "CNULLModem - BUKTYPE = INIT");
            linkTrace(3, "CNULLModem::HandleState() Send %s\n", m_settings.ok.c_str());
            sendText(m_settings.ok);
        }
    }
}

BOOL CNULLModem::OpenCOMPort() {
    CloseCOMPort();
    DWORD port = m_port;
    if (m_serial) {
        ZoSerialConfig config{};
        if (m_serial->GetConfig(reinterpret_cast<LONG*>(&config)) == S_OK && config.port != 0) port = config.port;
    }
    const std::string name = "COM" + std::to_string(port);
    auto serial = std::make_unique<platform::SerialPort>();
    if (serial->open(name, ReadSerialPortMap()) != ERROR_SUCCESS) return FALSE;
    if (serial->setQueueSizes(1024, 10240) != ERROR_SUCCESS) {
        linkTrace(1, "CNULLModem::SetupComm() EscapeCommFunction() Failed SETDTR failed");
    }
    if (serial->setDtr(true) != ERROR_SUCCESS) {
        linkTrace(1, "CNULLModem::OpenCOMPort() EscapeCommFunction() Failed SETDTR failed");
    }
    platform::SerialSettings s;
    if (serial->getSettings(s) != ERROR_SUCCESS) {
        linkTrace(1, "CNULLModem::OpenCOMPort() GetCommState() Failed ");
    } else {
        s.baudRate = m_baud;
        s.parityCheck = true;
        s.ctsOutFlow = true;
        s.dtrControl = platform::DtrControl::Enable;
        s.rtsControl = platform::RtsControl::Handshake;
        s.xonLimit = 10;
        s.xoffLimit = 10;
        if (serial->setSettings(s) != ERROR_SUCCESS) linkTrace(1, "CNULLModem::OpenCOMPort() SetCommState() Failed ");
    }
    m_open = std::move(serial);
    return TRUE;
}

void CNULLModem::CloseCOMPort() {
    if (m_open) {
        m_open->close();
        m_open.reset();
    }
    if (m_watchFd >= 0) {
        ::close(m_watchFd);
        m_watchFd = -1;
    }
}

LONG CNULLModem::SetListenOn() {
    linkTrace(5, "ENTER %s", "CNULLModem::SetListenOn()");
    Create();
    ZoSerialConfig config{};
    if (m_serial) m_serial->GetConfig(reinterpret_cast<LONG*>(&config));
    config.port = static_cast<BYTE>(m_port);
    config.baudRate = m_baud;
    if (config.dataBits == 0) config.dataBits = 8;
    if (config.parity == 0) config.parity = 'N';
    if (config.stopBits == 0) config.stopBits = 1;
    if (!m_serial || FAILED(m_serial->SetConfig(reinterpret_cast<LONG*>(&config)))) {
        linkTrace(1, "CNULLModem::SetListenOn() SetConfig() Failed!!!!");
        linkTrace(5, "LEAVE %s", "CNULLModem::SetListenOn()");
        return 0;
    }
    std::lock_guard server(m_serverLock);
    {
        // A hang-up still queued is done here: the port is closed and
        // opened again below.
        std::lock_guard lock(m_commandLock);
        if (m_command == NULL_MODEM_CMD_DISCONNECT_FROM_RS) m_command = NULL_MODEM_CMD_NONE;
    }
    CloseCOMPort();
    if (m_owner) m_owner->StopCommunication();
    m_serial->Connect();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    LONG connected = 0;
    m_serial->IsConnected(&connected);
    if (!connected) {
        m_wState = NULL_MODEM_STATE_LISTEN_FAILED;
        linkTrace(5, "LEAVE %s", "CNULLModem::SetListenOn()");
        return 0;
    }
    m_wState = NULL_MODEM_STATE_LISTENING;
    {
        std::lock_guard lock(m_commandLock);
        m_command = NULL_MODEM_CMD_LISTEN;
    }
    SignalEvent();
    linkTrace(5, "LEAVE %s", "CNULLModem::SetListenOn()");
    return 1;
}

void CNULLModem::Connect() {
    Create();
    {
        std::lock_guard lock(m_commandLock);
        m_command = NULL_MODEM_CMD_CONNECT;
    }
    SignalEvent();
}

void CNULLModem::HangUp() {
    {
        std::lock_guard lock(m_commandLock);
        m_command = NULL_MODEM_CMD_DISCONNECT_FROM_RS;
    }
    SignalEvent();
}

}  // namespace trennick
