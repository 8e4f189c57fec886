#pragma once
// A peer that takes a line and then says nothing: it reads and discards
// whatever comes until it is stopped. On a modem it dials first; on a cable
// it sends the dial text of the cable handshake. Used on the test's thread;
// its reader is its own.

#include "platform/serial_port.h"

#include <atomic>
#include <string>
#include <thread>

namespace serialtest {

class SilentPeer {
public:
    // Opens `device` (a modem's or a cable end's) with DTR raised.
    explicit SilentPeer(const std::string& device) {
        m_ok = m_port.open(device) == ERROR_SUCCESS;
        if (m_ok) m_port.setDtr(true);
    }
    ~SilentPeer() { stop(); }
    bool ok() const { return m_ok; }
    // Sends `text` (a dial command or handshake text), then reads on.
    void start(const std::string& text) {
        DWORD written = 0;
        m_port.write(text.data(), static_cast<DWORD>(text.size()), written);
        m_reader = std::thread([this] {
            char buffer[512];
            while (!m_stop) {
                if (!m_port.waitReadable(50)) continue;
                DWORD got = 0;
                if (m_port.readAvailable(buffer, sizeof buffer, got) != ERROR_SUCCESS && got == 0) break;
                if (got > 0) m_received += got;
            }
        });
    }
    void stop() {
        m_stop = true;
        if (m_reader.joinable()) m_reader.join();
        m_port.close();
    }
    std::size_t received() const { return m_received.load(); }

private:
    platform::SerialPort m_port;
    bool m_ok = false;
    std::thread m_reader;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_received{0};
};

}  // namespace serialtest
