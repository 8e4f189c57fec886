// fake-modem: a bank of AT modems on pseudo-terminals, joined by a pretend
// telephone exchange, for tests and demos of the modem and telephony links.
//
//   fake-modem --number 5550001 --number 5550002 [--busy 5550009]
//              [--ring-ms 1000] [--max-rings 5] [--guard-ms 500] [--ready-file PATH]
//              [--command-log PATH]
//
// Each --number makes one modem. Its device path is printed on stdout as
// "MODEM <index> <device> <number>" and, with --ready-file, written to that
// file (replaced whole once every modem exists). With --command-log, every
// command line a modem takes is appended to that file as "<number> <command>". A station opens the device as
// its COM port (VELMOOR_COM<n> pointing at it).
//
// Command mode answers the commands of the shipped modem scripts: "AT" and any
// setting command (Z, &F, E, V, Q, M, L, S, &C, &D, voice class commands...)
// with OK, and:
//   ATD[T|P]<number>  dial: BUSY when the number is busy or in use, NO CARRIER
//                     when nobody has it, else the called modem rings ("RING"
//                     every ring period) until it answers (CONNECT on both
//                     sides) or the ring limit passes (NO ANSWER);
//   ATA               answer a ringing call (NO CARRIER when nothing rings);
//   ATH               hang up (the other side gets NO CARRIER);
//   ATO               back to data mode after an escape.
// A command typed behind an escape ("+++ATH") is taken as the command.
// In data mode bytes pass unchanged to the other modem. "+++" with a guard time
// of silence before and after returns to command mode (OK). A station that
// drops DTR, or closes its port, hangs up the call.
//
// The status lines of each station's port follow the modem: CTS and DSR on
// while the modem runs, carrier (RLSD) during a call, RING while it rings.
// The program ends on SIGTERM or SIGINT.

#include "platform/serial_port.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <poll.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

struct Options {
    std::vector<std::string> numbers;
    std::set<std::string> busy;
    int ringMs = 1000;
    int maxRings = 5;
    int guardMs = 500;
    std::string readyFile;
    std::string commandLog;
};

enum class State { Command, Dialing, Ringing, Online, OnlineCommand };

struct Modem {
    int index = 0;
    std::string number;
    platform::PseudoTerminal pty;
    State state = State::Command;
    bool echo = true;
    std::string line;           // command being typed
    int peer = -1;              // the modem at the other end of a call or a ring
    bool caller = false;
    int rings = 0;
    Clock::time_point nextRing{};
    Clock::time_point lastData{};
    int plusCount = 0;          // '+' seen after a guard time of silence
    Clock::time_point plusTime{};
    bool dtrSeen = false;       // the station raised DTR at least once since the call began
    bool open = false;          // a station has the device open
};

class Exchange {
public:
    explicit Exchange(Options o) : m_opt(std::move(o)) {}

    bool start() {
        for (std::size_t i = 0; i < m_opt.numbers.size(); ++i) {
            auto pty = platform::openPseudoTerminal();
            if (!pty) {
                std::fprintf(stderr, "fake-modem: no pseudo-terminal\n");
                return false;
            }
            Modem m;
            m.index = static_cast<int>(i);
            m.number = m_opt.numbers[i];
            m.pty = *pty;
            m_modems.push_back(m);
            updateLines(m_modems.back());
        }
        std::string listing;
        for (const auto& m : m_modems) {
            listing += "MODEM " + std::to_string(m.index) + " " + m.pty.device.string() + " " + m.number + "\n";
        }
        std::fputs(listing.c_str(), stdout);
        std::fflush(stdout);
        if (!m_opt.readyFile.empty()) {
            const std::string tmp = m_opt.readyFile + ".tmp";
            {
                std::ofstream out(tmp, std::ios::trunc);
                out << listing;
            }
            std::rename(tmp.c_str(), m_opt.readyFile.c_str());
        }
        return true;
    }

    void run() {
        while (!g_stop) {
            std::vector<pollfd> fds;
            for (auto& m : m_modems) fds.push_back({m.pty.master, POLLIN, 0});
            ::poll(fds.data(), fds.size(), 20);
            // A device side nobody has open reports a hang-up at every poll:
            // without a pause the loop would spin.
            if (std::none_of(fds.begin(), fds.end(), [](const pollfd& p) { return (p.revents & POLLIN) != 0; })) {
                ::usleep(10000);
            }
            for (std::size_t i = 0; i < m_modems.size(); ++i) {
                Modem& m = m_modems[i];
                const bool hup = (fds[i].revents & (POLLHUP | POLLERR)) != 0;
                if (fds[i].revents & POLLIN) {
                    char buffer[4096];
                    const ssize_t n = ::read(m.pty.master, buffer, sizeof buffer);
                    if (n > 0) {
                        m.open = true;
                        input(m, buffer, static_cast<std::size_t>(n));
                    }
                } else if (hup) {
                    if (m.open) stationGone(m);
                    m.open = false;
                } else {
                    m.open = true;
                }
            }
            tick();
        }
        for (auto& m : m_modems) {
            platform::clearTestPortLines(m.pty.device);
            ::close(m.pty.master);
        }
    }

private:
    void send(Modem& m, std::string_view text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t w = ::write(m.pty.master, text.data() + done, text.size() - done);
            if (w <= 0) return;
            done += static_cast<std::size_t>(w);
        }
    }
    void result(Modem& m, std::string_view word) { send(m, "\r\n" + std::string(word) + "\r\n"); }

    void updateLines(Modem& m) {
        DWORD lines = platform::MS_CTS_ON | platform::MS_DSR_ON;
        if (m.state == State::Online || m.state == State::OnlineCommand) lines |= platform::MS_RLSD_ON;
        if (m.state == State::Ringing && !m.caller) lines |= platform::MS_RING_ON;
        platform::setTestPortLines(m.pty.device, lines);
    }

    Modem* byNumber(const std::string& number) {
        for (auto& m : m_modems) {
            if (m.number == number) return &m;
        }
        return nullptr;
    }

    void toCommand(Modem& m) {
        m.state = State::Command;
        m.peer = -1;
        m.caller = false;
        m.rings = 0;
        m.plusCount = 0;
        m.line.clear();
        updateLines(m);
    }

    // Ends the call (or the ring) of `m`; the other side hears NO CARRIER.
    void hangUp(Modem& m) {
        if (m.peer >= 0) {
            Modem& other = m_modems[static_cast<std::size_t>(m.peer)];
            const bool wasRinging = other.state == State::Ringing;
            toCommand(other);
            if (!wasRinging || other.caller) result(other, "NO CARRIER");
        }
        toCommand(m);
    }

    void stationGone(Modem& m) {
        if (m.state != State::Command) hangUp(m);
        m.echo = true;
    }

    void input(Modem& m, const char* data, std::size_t n) {
        const auto now = Clock::now();
        if (m.state == State::Online) {
            // "+++" alone, with silence before: the escape, once silence follows.
            std::string_view bytes(data, n);
            const bool quietBefore = now - m.lastData >= std::chrono::milliseconds(m_opt.guardMs);
            if ((m.plusCount > 0 || quietBefore) && bytes.find_first_not_of('+') == std::string_view::npos &&
                m.plusCount + n <= 3) {
                m.plusCount += static_cast<int>(n);
                m.plusTime = now;
                return;
            }
            if (m.plusCount > 0) {
                forward(m, std::string(static_cast<std::size_t>(m.plusCount), '+'));
                m.plusCount = 0;
            }
            m.lastData = now;
            forward(m, bytes);
            return;
        }
        if (m.state == State::Ringing && m.caller) return;  // a caller waits for the answer
        for (std::size_t i = 0; i < n; ++i) {
            const char c = data[i];
            if (m.echo) send(m, std::string_view(&c, 1));
            if (c == '\r' || c == '\n') {
                if (!m.line.empty()) command(m, m.line);
                m.line.clear();
            } else if (c == 8 || c == 127) {
                if (!m.line.empty()) m.line.pop_back();
            } else if (m.line.size() < 256) {
                m.line.push_back(c);
            }
        }
    }

    void forward(Modem& m, std::string_view bytes) {
        if (m.peer < 0) return;
        Modem& other = m_modems[static_cast<std::size_t>(m.peer)];
        if (other.state == State::Online) send(other, bytes);
    }

    void command(Modem& m, std::string text) {
        // "+++ATH": an escape typed in front of a command is no part of it.
        text.erase(0, text.find_first_not_of('+') == std::string::npos ? text.size() : text.find_first_not_of('+'));
        if (text.empty()) return;
        if (!m_opt.commandLog.empty()) {
            std::ofstream(m_opt.commandLog, std::ios::app) << m.number << ' ' << text << '\n';
        }
        std::string upper;
        for (char c : text) {
            if (c != ' ') upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
        if (upper.rfind("AT", 0) != 0) {
            if (upper == "A/") return;
            result(m, "ERROR");
            return;
        }
        const std::string body = upper.substr(2);
        if (body.rfind("D", 0) == 0 && (m.state == State::Command)) {
            dial(m, body.substr(1));
            return;
        }
        if (body == "A") {
            answer(m);
            return;
        }
        if (body == "H" || body == "H0") {
            if (m.state != State::Command) hangUp(m);
            result(m, "OK");
            return;
        }
        if (body == "O" || body == "O0") {
            if (m.state == State::OnlineCommand) {
                m.state = State::Online;
                m.lastData = Clock::now();
                result(m, "CONNECT 28800");
            } else {
                result(m, "NO CARRIER");
            }
            return;
        }
        if (body == "Z" || body.rfind("Z", 0) == 0 || body.rfind("&F", 0) == 0) {
            if (m.state == State::OnlineCommand) hangUp(m);
            m.echo = true;
        }
        // Settings: the last E0/E1 decides the echo.
        for (std::size_t at = body.find('E'); at != std::string::npos; at = body.find('E', at + 1)) {
            if (at + 1 < body.size() && (body[at + 1] == '0' || body[at + 1] == '1') && (at == 0 || body[at - 1] != '&')) {
                m.echo = body[at + 1] == '1';
            }
        }
        result(m, "OK");
    }

    void dial(Modem& m, std::string target) {
        if (!target.empty() && (target[0] == 'T' || target[0] == 'P')) target.erase(0, 1);
        std::string digits;
        for (char c : target) {
            if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#') digits.push_back(c);
        }
        if (digits.empty()) {
            result(m, "NO DIALTONE");
            return;
        }
        if (m_opt.busy.count(digits)) {
            result(m, "BUSY");
            return;
        }
        // The exchange matches the end of the dialled digits, so a dialling
        // prefix in front of the number still reaches it.
        Modem* other = nullptr;
        for (auto& c : m_modems) {
            if (c.index != m.index && digits.size() >= c.number.size() &&
                digits.compare(digits.size() - c.number.size(), c.number.size(), c.number) == 0) {
                other = &c;
            }
        }
        if (other == nullptr || !other->open) {
            result(m, "NO CARRIER");
            return;
        }
        if (other->state != State::Command) {
            result(m, "BUSY");
            return;
        }
        m.state = State::Ringing;
        m.caller = true;
        m.peer = other->index;
        other->state = State::Ringing;
        other->caller = false;
        other->peer = m.index;
        other->rings = 0;
        other->nextRing = Clock::now();
        updateLines(m);
        updateLines(*other);
    }

    void answer(Modem& m) {
        if (m.state != State::Ringing || m.caller || m.peer < 0) {
            result(m, "NO CARRIER");
            return;
        }
        Modem& other = m_modems[static_cast<std::size_t>(m.peer)];
        for (Modem* side : {&m, &other}) {
            side->state = State::Online;
            side->lastData = Clock::now();
            side->plusCount = 0;
            side->dtrSeen = platform::testPortOutputs(side->pty.device).dtr;
            updateLines(*side);
            result(*side, "CONNECT 28800");
        }
    }

    void tick() {
        const auto now = Clock::now();
        for (auto& m : m_modems) {
            if (m.state == State::Ringing && !m.caller && now >= m.nextRing) {
                if (m.rings >= m_opt.maxRings) {
                    Modem& caller = m_modems[static_cast<std::size_t>(m.peer)];
                    toCommand(m);
                    toCommand(caller);
                    result(caller, "NO ANSWER");
                    continue;
                }
                ++m.rings;
                result(m, "RING");
                m.nextRing = now + std::chrono::milliseconds(m_opt.ringMs);
            }
            if (m.state == State::Online && m.plusCount == 3 &&
                now - m.plusTime >= std::chrono::milliseconds(m_opt.guardMs)) {
                m.plusCount = 0;
                m.state = State::OnlineCommand;
                result(m, "OK");
            }
            if (m.state == State::Online || m.state == State::OnlineCommand) {
                // DTR dropped by the station hangs up (once it had been raised).
                const bool dtr = platform::testPortOutputs(m.pty.device).dtr;
                if (dtr) {
                    m.dtrSeen = true;
                } else if (m.dtrSeen) {
                    hangUp(m);
                    result(m, "OK");
                }
            }
        }
    }

    Options m_opt;
    std::vector<Modem> m_modems;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (a == "--number") o.numbers.push_back(next());
        else if (a == "--busy") o.busy.insert(next());
        else if (a == "--ring-ms") o.ringMs = std::max(1, std::atoi(next().c_str()));
        else if (a == "--max-rings") o.maxRings = std::max(1, std::atoi(next().c_str()));
        else if (a == "--guard-ms") o.guardMs = std::max(1, std::atoi(next().c_str()));
        else if (a == "--ready-file") o.readyFile = next();
        else if (a == "--command-log") o.commandLog = next();
        else {
            std::fprintf(stderr, "usage: fake-modem --number N [--number N...] [--busy N] [--ring-ms MS] "
                                 "[--max-rings N] [--guard-ms MS] [--ready-file PATH] [--command-log PATH]\n");
            return 2;
        }
    }
    if (o.numbers.empty()) o.numbers = {"5550001", "5550002"};
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    Exchange exchange(o);
    if (!exchange.start()) return 1;
    exchange.run();
    return 0;
}
