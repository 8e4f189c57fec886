#pragma once
// A null-modem cable between two pseudo-terminals: each end is a device path a
// station opens as its COM port; a relay thread copies the bytes between the
// two masters and crosses the lines as the cable's wiring does (one end's DTR
// is the other's DSR and carrier, RTS the other's CTS). Cutting the cable
// closes both masters, so both ends hang up.

#include "platform/serial_port.h"

#include <atomic>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace serialtest {

class PtyCable {
public:
    PtyCable() {
        auto a = platform::openPseudoTerminal();
        auto b = platform::openPseudoTerminal();
        if (!a || !b) return;
        m_a = *a;
        m_b = *b;
        ::pipe(m_stop);
        m_relay = std::thread([this] { relay(); });
        m_ok = true;
    }
    ~PtyCable() { cut(); }
    bool ok() const { return m_ok; }
    std::string endA() const { return m_a.device.string(); }
    std::string endB() const { return m_b.device.string(); }
    // Maps COM<n> to an end for the layer's name look-up.
    void mapCom(int n, const std::string& device) const {
        ::setenv(("VELMOOR_COM" + std::to_string(n)).c_str(), device.c_str(), 1);
    }
    void cut() {
        if (m_relay.joinable()) {
            const char b = 1;
            [[maybe_unused]] ssize_t n = ::write(m_stop[1], &b, 1);
            m_relay.join();
        }
        for (int* fd : {&m_a.master, &m_b.master, &m_stop[0], &m_stop[1]}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

private:
    void relay() {
        char buffer[4096];
        for (;;) {
            pollfd fds[3] = {{m_a.master, POLLIN, 0}, {m_b.master, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 3, 20) < 0) continue;
            if (fds[2].revents) return;
            crossLines(m_a.device, m_b.device);
            crossLines(m_b.device, m_a.device);
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN)) {
                    // A master whose device side is not open yet reports a
                    // hang-up; wait for the station to open it.
                    if (fds[i].revents & (POLLHUP | POLLERR)) ::usleep(10000);
                    continue;
                }
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) continue;
                const int to = i == 0 ? m_b.master : m_a.master;
                ssize_t done = 0;
                while (done < n) {
                    const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
                    if (w <= 0) break;
                    done += w;
                }
            }
        }
    }

    static void crossLines(const std::filesystem::path& from, const std::filesystem::path& to) {
        const platform::TestPortOutputs out = platform::testPortOutputs(from);
        DWORD lines = 0;
        if (out.dtr) lines |= platform::MS_DSR_ON | platform::MS_RLSD_ON;
        if (out.rts) lines |= platform::MS_CTS_ON;
        platform::setTestPortLines(to, lines);
    }

    platform::PseudoTerminal m_a, m_b;
    int m_stop[2] = {-1, -1};
    std::thread m_relay;
    bool m_ok = false;
};

}  // namespace serialtest
