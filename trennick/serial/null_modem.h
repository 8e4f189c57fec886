#pragma once
// CNULLModem: two stations joined by a serial cable set up their link with a
// short text handshake before the packet protocol takes the line over. While
// listening it waits for the caller's ring text and answers; while calling it
// repeats its dial text until the answer comes; then it opens the COM port
// itself and hands the open port to its owning link. During the handshake the
// bytes go through the serial-port server (ZoSerial).
//
// Threads: commands (listen, call, hang up) come from the application's thread;
// the worker thread (CKcThread) runs the handshake and watches DSR while the
// cable is connected. The owning link hears of the open port, a dropped line
// and an arrived call through SerialTransport::QueueCableEvent, which it handles on
// its own thread. A port that cannot be opened leaves the state as it was
// (the caller keeps dialling); nothing throws. A DSR that stays off for two
// seconds while connected is reported once as a dropped line.

#include "common/kc_thread.h"
#include "platform/com/com_ptr.h"
#include "platform/serial_port.h"
#include "pelmo/zo_serial.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace trennick {

class SerialTransport;

enum NullModemCommand : int {
    NULL_MODEM_CMD_NONE = 0, NULL_MODEM_CMD_LISTEN = 1, NULL_MODEM_CMD_CONNECT = 2,
    NULL_MODEM_CMD_DISCONNECT_FROM_RS = 4,
};
enum NullModemState : int {
    NULL_MODEM_STATE_NONE = 0, NULL_MODEM_STATE_CONNECTING = 1, NULL_MODEM_STATE_CONNECTED = 2,
    NULL_MODEM_STATE_LISTEN_FAILED = 6, NULL_MODEM_STATE_LISTENING = 8,
};
// What GetBucket found.
enum : int { BUKTYPE_NONE = 0, BUKTYPE_CONNECT = 1, BUKTYPE_ANSWER = 2, BUKTYPE_RING = 3, BUKTYPE_INIT = 4 };

// The null-modem settings ("Comms\NULLModem").
struct NullModemSettings {
    DWORD port = 1;
    DWORD baud = 115200;
    std::string ring, dial, answer, connect, init, ok, disconnect;
};
NullModemSettings readNullModemSettings();
// The baud rate brought down to a supported one; the port clamped to 1..4.
DWORD clampNullModemBaud(DWORD baud);
DWORD clampNullModemPort(DWORD port);

class CNULLModem : public CKcThread {
public:
    explicit CNULLModem(SerialTransport* owner);
    ~CNULLModem() override;

    DWORD Run() override;  // the thread body (Main)
    virtual BOOL OpenCOMPort();
    virtual void CloseCOMPort();

    // Starts listening on the cable; 1 on success, 0 when the server could not
    // be configured or the port not opened (state 6).
    LONG SetListenOn();
    void Connect();     // posts CONNECT
    void HangUp();      // posts DISCONNECT_FROM_RS

    int State() const { return m_wState.load(); }
    DWORD Port() const { return m_port; }
    // The COM port number (clamped to 1..4), for the direct lines.
    void SetPort(DWORD port) { m_port = clampNullModemPort(port); }
    DWORD Baud() const { return m_baud; }
    const NullModemSettings& Texts() const { return m_settings; }
    bool HasServer() const { return static_cast<bool>(m_serial); }
    // The connect text: the CONNECT text, a blank, the OK text.
    std::string ConnectText() const { return m_settings.connect + " " + m_settings.ok; }

    // Reads what the server holds into the text buffer and looks for a
    // handshake text (exposed for tests).
    int GetBucket();
    const std::string& Buffer() const { return m_buffer; }
    void HandleState();

private:
    void HandleCommand(int command);
    void sendText(const std::string& text);
    void closeServerPort();
    void handOver(bool callArrived);

    SerialTransport* m_owner;
    platform::com::ComPtr<IZoSerial> m_serial;
    bool m_comInitialised = false;
    std::mutex m_commandLock;
    // Held while a command is taken and carried out, and while SetListenOn
    // reopens the server's port: a hang-up queued before a new listen can
    // never close the port that the listen has just opened.
    std::mutex m_serverLock;
    int m_command = NULL_MODEM_CMD_NONE;
    std::atomic<int> m_wState{NULL_MODEM_STATE_NONE};
    DWORD m_port = 1;
    DWORD m_baud = 115200;
    NullModemSettings m_settings;
    std::string m_buffer;  // at most 2,047 bytes
    std::unique_ptr<platform::SerialPort> m_open;  // opened, not yet handed over
    // A duplicate of the handed-over port's descriptor, to watch DSR.
    int m_watchFd = -1;
    bool m_watchPty = false;
    std::filesystem::path m_watchDevice;
    std::optional<std::chrono::steady_clock::time_point> m_dsrOffSince;
};

}  // namespace trennick
