#include "trennick/serial/comm.h"

#include "common/kc_reg.h"
#include "common/serial_port_map.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_states.h"
#include "trennick/link/link_trace.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>
#include <utility>

namespace trennick {

namespace {

struct NameValue {
    const char* name;
    DWORD value;
};

const NameValue kBaudNames[] = {{"CBR_110", 110},       {"CBR_300", 300},       {"CBR_600", 600},
                                {"CBR_1200", 1200},     {"CBR_2400", 2400},     {"CBR_4800", 4800},
                                {"CBR_9600", 9600},     {"CBR_14400", 14400},   {"CBR_19200", 19200},
                                {"CBR_38400", 38400},   {"CBR_56000", 56000},   {"CBR_57600", 57600},
                                {"CBR_115200", 115200}, {"CBR_128000", 128000}, {"CBR_256000", 256000}};
const NameValue kParityNames[] = {
    {"NOPARITY", 0}, {"ODDPARITY", 1}, {"EVENPARITY", 2}, {"MARKPARITY", 3}, {"SPACEPARITY", 4}};
const NameValue kStopNames[] = {{"ONESTOPBIT", 0}, {"ONE5STOPBITS", 1}, {"TWOSTOPBITS", 2}};
const NameValue kEventNames[] = {{"EV_RXCHAR", 1},  {"EV_RXFLAG", 2}, {"EV_TXEMPTY", 4},
                                 {"EV_CTS", 8},     {"EV_DSR", 16},   {"EV_RLSD", 32},
                                 {"EV_BREAK", 64},  {"EV_ERR", 128},  {"EV_RING", 256}};
const NameValue kDtrNames[] = {
    {"DTR_CONTROL_DISABLE", 0}, {"DTR_CONTROL_ENABLE", 1}, {"DTR_CONTROL_HANDSHAKE", 2}};
const NameValue kRtsNames[] = {{"RTS_CONTROL_DISABLE", 0},
                               {"RTS_CONTROL_ENABLE", 1},
                               {"RTS_CONTROL_HANDSHAKE", 2},
                               {"RTS_CONTROL_TOGGLE", 3}};

constexpr DWORD EV_RXFLAG = 2;

}  // namespace

TTYInfo readTTYInfo() {
    TTYInfo t;
    CKcReg reg = ProductKey("Comms\\TTYInfo");
    auto rw = [&reg](const char* section, const char* name, DWORD& value) {
        reg.SetSection(section);
        reg.SetValueName(name);
        reg.SetDefault(value);
        value = reg.ReadDword();
        reg.Write(value);
    };
    const char* s = "Comms\\TTYInfo";
    rw(s, "PORT", t.PORT);
    rw(s, "BAUDRATE", t.BAUDRATE);
    rw(s, "BYTESIZE", t.BYTESIZE);
    rw(s, "PARITY", t.PARITY);
    rw(s, "STOPBITS", t.STOPBITS);
    rw(s, "DISPLAYERRORS", t.DISPLAYERRORS);
    rw(s, "EVENTFLAGS", t.EVENTFLAGS);
    rw(s, "FLAGCHAR", t.FLAGCHAR);
    rw(s, "DTRCONTROL", t.DTRCONTROL);
    rw(s, "RTSCONTROL", t.RTSCONTROL);
    rw(s, "XONCHAR", t.XONCHAR);
    rw(s, "XOFFCHAR", t.XOFFCHAR);
    rw(s, "XONLIMIT", t.XONLIMIT);
    rw(s, "XOFFLIMIT", t.XOFFLIMIT);
    rw(s, "CTSOUTFLOW", t.CTSOUTFLOW);
    rw(s, "DSROUTFLOW", t.DSROUTFLOW);
    rw(s, "DSRINFLOW", t.DSRINFLOW);
    rw(s, "XONXOFFOUTFLOW", t.XONXOFFOUTFLOW);
    rw(s, "XONXOFFINFLOW", t.XONXOFFINFLOW);
    rw(s, "TXAFTERXOFFSENT", t.TXAFTERXOFFSENT);
    rw(s, "NOREADING", t.NOREADING);
    rw(s, "NOWRITING", t.NOWRITING);
    rw(s, "NOEVENTS", t.NOEVENTS);
    rw(s, "NOSTATUS", t.NOSTATUS);
    const char* ts = "Comms\\TTYInfo\\Timeouts";
    rw(ts, "ReadIntervalTimeout", t.ReadIntervalTimeout);
    rw(ts, "ReadTotalTimeoutConstant", t.ReadTotalTimeoutConstant);
    rw(ts, "ReadTotalTimeoutMultiplier", t.ReadTotalTimeoutMultiplier);
    rw(ts, "WriteTotalTimeoutConstant", t.WriteTotalTimeoutConstant);
    rw(ts, "WriteTotalTimeoutMultiplier", t.WriteTotalTimeoutMultiplier);
    rw("Comms", "IsUseCtlPanelSettings", t.IsUseCtlPanelSettings);
    rw("Comms", "UseDefaultQueues", t.UseDefaultQueues);
    rw("Comms", "CommPacketWriteSize", t.CommPacketWriteSize);
    rw("Comms", "PurgeWrite", t.PurgeWrite);
    if (t.CommPacketWriteSize == 0) t.CommPacketWriteSize = 512;  // a zero piece size would never finish a block

    auto table = [&reg](const char* name, std::span<const NameValue> entries) {
        const std::string section = std::string("Comms\\TTYInfo\\MACROS\\") + name;
        for (const auto& e : entries) {
            reg.SetSection(section.c_str());
            reg.SetValueName(e.name);
            reg.Write(e.value);
        }
    };
    table("BAUDRATE", kBaudNames);
    table("PARITY", kParityNames);
    table("STOPBITS", kStopNames);
    table("EVENTFLAGS", kEventNames);
    table("DTRCONTROL", kDtrNames);
    table("RTSCONTROL", kRtsNames);
    return t;
}

CCComm::CCComm() : m_tty(readTTYInfo()) {}

CCComm::~CCComm() { Close(); }

LONG CCComm::Open(const char* portName, DWORD baudRate, BYTE byteSize, BYTE parity, BYTE stopBits,
                  BOOL dtrHandling) {
    Close();
    if (portName == nullptr) return -1;
    auto port = std::make_unique<platform::SerialPort>();
    const DWORD code = port->open(portName, ReadSerialPortMap());
    if (code != ERROR_SUCCESS) {
        linkTrace(1, "CCComm::Open() open %s failed, error %u", portName, code);
        return -1;
    }
    m_port = std::move(port);
    if (m_tty.UseDefaultQueues == 0) m_port->setQueueSizes(kOwnInQueue, kOwnOutQueue);
    m_tty.BAUDRATE = baudRate;
    m_tty.BYTESIZE = byteSize;
    m_tty.PARITY = parity;
    m_tty.STOPBITS = stopBits;
    if (!dtrHandling) m_tty.DTRCONTROL = 0;
    m_tty.ReadIntervalTimeout = 1;
    m_tty.ReadTotalTimeoutMultiplier = 0;
    m_tty.ReadTotalTimeoutConstant = 0;
    m_tty.WriteTotalTimeoutMultiplier = 0;
    m_tty.WriteTotalTimeoutConstant = 0;
    if (!UpdateConnection()) {
        Close();
        return -1;
    }
    return 0;
}

LONG CCComm::OpenByNumber(int number) {
    const std::string name = "COM" + std::to_string(number);
    return Open(name.c_str(), 9600, 8, 0, 0, TRUE);
}

LONG CCComm::Attach(std::unique_ptr<platform::SerialPort> port) {
    Close();
    if (!port || !port->isOpen()) return -1;
    m_port = std::move(port);
    platform::SerialSettings s;
    platform::SerialTimeouts to;
    if (m_port->getSettings(s) == ERROR_SUCCESS) {
        m_tty.BAUDRATE = s.baudRate;
        m_tty.BYTESIZE = s.byteSize;
        m_tty.PARITY = s.parity;
        m_tty.STOPBITS = s.stopBits;
    }
    if (m_port->getTimeouts(to) == ERROR_SUCCESS) {
        m_tty.ReadIntervalTimeout = to.readIntervalMs;
        m_tty.ReadTotalTimeoutMultiplier = to.readTotalMultiplierMs;
        m_tty.ReadTotalTimeoutConstant = to.readTotalConstantMs;
        m_tty.WriteTotalTimeoutMultiplier = to.writeTotalMultiplierMs;
        m_tty.WriteTotalTimeoutConstant = to.writeTotalConstantMs;
    }
    if (!UpdateConnection()) {
        Close();
        return -1;
    }
    return 0;
}

std::unique_ptr<platform::SerialPort> CCComm::Detach() { return std::move(m_port); }

LONG CCComm::Reset(BOOL dtrHandling) {
    if (!IsOpen()) return -1;
    if (dtrHandling) {
        m_port->setDtr(false);
        m_port->setRts(false);
    }
    m_port->purge(platform::PURGE_TXCLEAR | platform::PURGE_RXCLEAR);
    if (m_tty.UseDefaultQueues == 0) m_port->setQueueSizes(kOwnInQueue, kOwnOutQueue);
    return UpdateConnection() ? 0 : -1;
}

void CCComm::Close() {
    if (m_port) {
        m_port->close();
        m_port.reset();
    }
}

BOOL CCComm::PurgeRead() {
    if (!IsOpen() || m_port->purge(platform::PURGE_RXABORT | platform::PURGE_RXCLEAR) != ERROR_SUCCESS) {
        linkTrace(1, "CCComm::PurgeRead() Failed");
        return FALSE;
    }
    return TRUE;
}

BOOL CCComm::PurgeWrite() {
    if (!IsOpen() || m_port->purge(platform::PURGE_TXABORT | platform::PURGE_TXCLEAR) != ERROR_SUCCESS) {
        linkTrace(1, "CCComm::PurgeWrite() Failed");
        return FALSE;
    }
    return TRUE;
}

BOOL CCComm::SetDtr(bool on) { return IsOpen() && m_port->setDtr(on) == ERROR_SUCCESS; }
BOOL CCComm::SetRts(bool on) { return IsOpen() && m_port->setRts(on) == ERROR_SUCCESS; }

BOOL CCComm::UpdateConnection() {
    if (!IsOpen()) return FALSE;
    platform::SerialSettings current;
    if (m_port->getSettings(current) != ERROR_SUCCESS) {
        linkTrace(1, "UpdateConnection() Failed!!!! GetCommState Failed!!!\n");
        return FALSE;
    }
    platform::SerialSettings s = current;
    if (m_tty.IsUseCtlPanelSettings == 0) {
        s.baudRate = m_tty.BAUDRATE;
        s.byteSize = static_cast<BYTE>(m_tty.BYTESIZE);
        s.parity = static_cast<BYTE>(m_tty.PARITY);
        s.stopBits = static_cast<BYTE>(m_tty.STOPBITS);
        s.xonChar = static_cast<BYTE>(m_tty.XONCHAR);
        s.xoffChar = static_cast<BYTE>(m_tty.XOFFCHAR);
        s.xonLimit = static_cast<WORD>(m_tty.XONLIMIT);
        s.xoffLimit = static_cast<WORD>(m_tty.XOFFLIMIT);
        s.ctsOutFlow = m_tty.CTSOUTFLOW != 0;
        s.dsrOutFlow = m_tty.DSROUTFLOW != 0;
        s.xonXoffOut = m_tty.XONXOFFOUTFLOW != 0;
        s.xonXoffIn = m_tty.XONXOFFINFLOW != 0;
        s.dtrControl = static_cast<platform::DtrControl>(std::min<DWORD>(m_tty.DTRCONTROL, 2));
        s.rtsControl = static_cast<platform::RtsControl>(std::min<DWORD>(m_tty.RTSCONTROL, 3));
        s.parityCheck = true;
    }
    // The event character (FLAGCHAR when EV_RXFLAG is asked) has no use on a
    // termios line: reads are not woken by a character.
    (void)EV_RXFLAG;
    if (!(s == current) && m_port->setSettings(s) != ERROR_SUCCESS) {
        linkTrace(1, "UpdateConnection() Failed!!!! SetCommState Failed!!!");
        return FALSE;
    }
    const platform::SerialTimeouts to{m_tty.ReadIntervalTimeout, m_tty.ReadTotalTimeoutMultiplier,
                                      m_tty.ReadTotalTimeoutConstant, m_tty.WriteTotalTimeoutMultiplier,
                                      m_tty.WriteTotalTimeoutConstant};
    platform::SerialTimeouts currentTo;
    m_port->getTimeouts(currentTo);
    if (!(to == currentTo) && m_port->setTimeouts(to) != ERROR_SUCCESS) {
        linkTrace(1, "UpdateConnection() Failed!!!! SetCommTimeouts Failed!!!");
        return FALSE;
    }
    return TRUE;
}

LONG CCComm::QueueSend(int priority, const BYTE* data, DWORD length) {
    if (priority < 1 || priority > 4 || data == nullptr || length == 0) return static_cast<LONG>(length);
    std::lock_guard lock(m_sendLock);
    m_send[priority - 1].emplace_back(data, data + length);
    m_sendBytes += length;
    return static_cast<LONG>(length);
}

bool CCComm::TakeSend(std::vector<BYTE>& node) {
    std::lock_guard lock(m_sendLock);
    for (int index : {0, 2, 3, 1}) {
        auto& q = m_send[index];
        if (!q.empty()) {
            node = std::move(q.front());
            q.pop_front();
            m_sendBytes -= static_cast<DWORD>(node.size());
            return true;
        }
    }
    return false;
}

void CCComm::QueueReceived(const BYTE* data, DWORD length) {
    if (length == 0) return;
    {
        std::lock_guard lock(m_receiveLock);
        m_receive.emplace_back(data, data + length);
        m_receiveBytes += length;
    }
    // The link reads at once instead of at its next pass; one notice at a time.
    if (m_noticeWindow != nullptr && !m_dataNoticePending.exchange(true)) {
        m_noticeWindow->postMessage(kMsgLinkDataReady, 0, 0);
    }
}

DWORD CCComm::TakeReceived(BYTE* buffer, DWORD size) {
    // What arrives from here on is read by a later take: it posts a new notice.
    m_dataNoticePending = false;
    std::lock_guard lock(m_receiveLock);
    DWORD taken = 0;
    while (!m_receive.empty() && taken < size) {
        auto& node = m_receive.front();
        const DWORD n = std::min<DWORD>(static_cast<DWORD>(node.size()), size - taken);
        std::memcpy(buffer + taken, node.data(), n);
        taken += n;
        if (n == node.size()) {
            m_receive.pop_front();
        } else {
            node.erase(node.begin(), node.begin() + n);
        }
    }
    m_receiveBytes -= taken;
    if (taken > 0) m_receiveRoom.notify_all();
    return taken;
}

DWORD CCComm::QueueSizes(int which, DWORD* nodes) {
    if (which == 1) {
        std::lock_guard lock(m_sendLock);
        if (nodes) *nodes = static_cast<DWORD>(m_send[0].size() + m_send[1].size() + m_send[2].size());
        return m_sendBytes;
    }
    std::lock_guard lock(m_receiveLock);
    if (nodes) *nodes = static_cast<DWORD>(m_receive.size());
    return m_receiveBytes;
}

DWORD CCComm::CleanReceived() {
    std::lock_guard lock(m_receiveLock);
    const DWORD count = static_cast<DWORD>(m_receive.size());
    m_receive.clear();
    m_receiveBytes = 0;
    m_receiveRoom.notify_all();
    return count;
}

void CCComm::SetMaxReceiveQueueBytes(DWORD bytes) {
    std::lock_guard lock(m_receiveLock);
    m_maxReceiveBytes = bytes;
    m_receiveRoom.notify_all();
}

bool CCComm::WaitReceiveRoom(DWORD timeoutMs) {
    std::unique_lock lock(m_receiveLock);
    return m_receiveRoom.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return m_receiveBytes < m_maxReceiveBytes.load(); });
}

void CCComm::CleanSend() {
    std::lock_guard lock(m_sendLock);
    for (auto& q : m_send) q.clear();
    m_sendBytes = 0;
}

}  // namespace trennick
