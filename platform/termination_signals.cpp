#include "platform/termination_signals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// The write end of the watch's pipe: the only thing the signal handler touches.
std::atomic<int> g_writeFd{-1};

constexpr int kSignals[] = {SIGTERM, SIGINT};

void onSignal(int signal) {
    const int saved = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

struct TerminationSignals::State {
    int readFd = -1;
    int writeFd = -1;
    struct sigaction previous[2] = {};
    bool installed = false;
    std::unique_ptr<QSocketNotifier> notifier;
};

TerminationSignals::TerminationSignals(std::function<void(int signal)> handler)
    : m_state(std::make_unique<State>()) {
    int fds[2];
    if (g_writeFd.load() >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    m_state->readFd = fds[0];
    m_state->writeFd = fds[1];
    g_writeFd = fds[1];
    m_state->notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    State* state = m_state.get();
    QObject::connect(m_state->notifier.get(), &QSocketNotifier::activated,
                     [state, handler = std::move(handler)] {
                         unsigned char bytes[16];
                         ssize_t n;
                         while ((n = ::read(state->readFd, bytes, sizeof bytes)) > 0) {
                             for (ssize_t i = 0; i < n; ++i) {
                                 if (handler) {
                                     handler(bytes[i]);
                                 }
                             }
                         }
                     });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i) {
        ::sigaction(kSignals[i], &action, &m_state->previous[i]);
    }
    m_state->installed = true;
}

TerminationSignals::~TerminationSignals() {
    if (m_state->installed) {
        for (int i = 0; i < 2; ++i) {
            ::sigaction(kSignals[i], &m_state->previous[i], nullptr);
        }
    }
    m_state->notifier.reset();
    if (m_state->writeFd >= 0) {
        g_writeFd = -1;
        ::close(m_state->writeFd);
    }
    if (m_state->readFd >= 0) {
        ::close(m_state->readFd);
    }
}

bool TerminationSignals::active() const { return m_state->installed; }

}  // namespace platform
