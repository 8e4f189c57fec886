#pragma once
// CZoSerial: the main program's client of the serial-port server, used for
// the serial output of received video (whole H.263 pictures).
//
// Thread: the thread that created it (the server is apartment-threaded).
// Failure: without a server (creation failed) every operation does nothing;
// AddBuffer then answers 1 so the video path does not count it as refused.

#include "platform/com/com_ptr.h"
#include "platform/types.h"
#include "pelmo/zo_serial.h"
#include "trennick/link/av_ports.h"

namespace trennick {

enum ZoSerialState : int { kZoSerialClosed = 2, kZoSerialSending = 3, kZoSerialOpen = 4 };

class CZoSerial : public SerialVideoPort {
public:
    // Creates the ZoSerial server for IZoSerial.
    CZoSerial();
    // Uses the given server (adds a reference); null: no server.
    explicit CZoSerial(IZoSerial* server);
    ~CZoSerial() override;
    CZoSerial(const CZoSerial&) = delete;
    CZoSerial& operator=(const CZoSerial&) = delete;

    // Configures the port from the "Video\Rs232" settings and connects.
    void Open();
    void Finish();
    int AddBuffer(const BYTE* data, DWORD length) override;

    int State() const { return m_state; }
    bool HasServer() const { return static_cast<bool>(m_serial); }

private:
    platform::com::ComPtr<IZoSerial> m_serial;
    bool m_comInitialised = false;
    int m_state = kZoSerialClosed;
};

// The process's serial-port client for the serial video output: made by the
// main frame when the video settings' "Rs232Out" is on, null otherwise. The
// video receiver of the link takes it as its serial port.
extern CZoSerial* gZoSerial;

}  // namespace trennick
