#pragma once
// The requests to end the program that arrive as signals (SIGTERM, SIGINT),
// turned into a call on the Qt loop of the thread that watches them: the
// program then closes as it does when its user closes it, instead of being cut
// off by the signal's default action.
//
// One watch at a time per process; while it lives the two signals no longer end
// the process by themselves. Thread: built, used and destroyed on one thread,
// whose Qt event loop delivers the handler.

#include <functional>
#include <memory>

namespace platform {

class TerminationSignals {
public:
    // handler(signal) runs on the watching thread's loop, once per signal.
    explicit TerminationSignals(std::function<void(int signal)> handler);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the signals could not be taken over (the defaults stay).
    bool active() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace platform
