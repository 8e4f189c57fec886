// One recorder program for the end-to-end transfer and idle benchmarks: it
// runs the whole program (application, main frame, TCP link) on its own loop.
//
//   velmoor_transfer_peer listener <own port> <result file>
//   velmoor_transfer_peer caller <own port> <listener port> <file> <result file>
//     The caller connects to the listener, sends one file and hangs up; each
//     writes one result line and closes as the program does. The caller
//     writes "sent <seconds from SendFile to its confirmed end>", the listener
//     "received <path of the file it received>".
//   velmoor_transfer_peer idle <own port> none|wait|<peer port> <window ms> <result file>
//     The program listens alone (none), waits for a call (wait) or calls the
//     peer (a port); once settled (listening, or connected), it measures its
//     own processor time over the window and writes "cpu <share of a core>".
//     The caller then hangs up; the one that waited closes when the line goes.
//     The one that waits writes "<result file>.listening" once it listens.
//   velmoor_transfer_peer startup <own port> <result file>
//     The program starts with its window shown (off-screen); once it is, it
//     writes "shown <steady clock in ns>" and closes.
//   velmoor_transfer_peer baseline <window ms> <result file>
//     The least a Qt program with a listening socket costs: a core
//     application, the socket watched by a notifier, the same measurement
//     after the same settling time.
// During the window the script itself never wakes (one single-shot timer ends
// it), so only the program's own work is measured.
//
// "failed <why>" otherwise. Exit code 0 when the script ran to its end.

#include "tavicore/users_manager.h"
#include "trennick/app/app_services.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/packet_connection.h"
#include "platform/folders.h"

#include <QApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace trennick;

namespace {

class QuietUsersUi : public CUsersManagerUi {
public:
    int RunLoginDialog(_tag_user* typed, const char*) override {
        std::strcpy(typed->name, "admin");
        typed->password[0] = '\0';
        return 1;
    }
    void RunDefaultPasswordWarning() override {}
    void ShowStopMessage(UINT) override {}
    int RunUsersDialog(CUsersManager&) override { return 0; }
};

// Answers every question "yes" and shows nothing.
class QuietUi : public AppUi {
public:
    int ShowMessage(const std::string&, const std::string&, int) override { return 512; }
    void ShowStopBox(const std::string&, const std::string&) override {}
    CUsersManagerUi* UsersUi() override { return &m_users; }

private:
    QuietUsersUi m_users;
};

using Clock = std::chrono::steady_clock;

// Processor seconds this process has used: the scheduler's run time of all
// its threads, those that ended included, to the nanosecond (not sampled at
// clock ticks).
double processorSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Measures the share of a core used over a window: start() begins it and
// calls `ended` once, from a single-shot timer, when the window is over, so
// nothing of the measurement wakes the program in between.
class CpuWindow {
public:
    explicit CpuWindow(int windowMs) : m_windowMs(windowMs) {}
    template <typename Ended>
    void start(Ended ended) {
        m_wall = Clock::now();
        m_cpu = processorSeconds();
        QTimer::singleShot(m_windowMs, Qt::PreciseTimer, [this, ended] {
            m_result = "cpu " + std::to_string((processorSeconds() - m_cpu) /
                                               std::chrono::duration<double>(Clock::now() - m_wall).count());
            ended();
        });
    }
    const std::string& result() const { return m_result; }

private:
    int m_windowMs;
    Clock::time_point m_wall;
    double m_cpu = 0;
    std::string m_result;
};

// The pause after the program settles (listening, or connected) before its
// window starts: start-up work and the hello exchange are over and the main
// loop, quiet for a while, has come to its deep rest, the state an idle
// program spends its time in. The baseline waits as long.
constexpr int kSettleMs = 3000;

AppServices quietServices(QuietUi& ui) {
    AppServices services;
    services.ui = &ui;
    services.sleep = [](DWORD) {};
    services.showWindows = false;
    return services;
}

// The program measured while it rests. The script looks at it rarely (each
// 50 ms) while it settles and winds down, and not at all during the window.
int runIdle(const std::vector<std::string>& args) {
    const std::string& peer = args.at(2);
    const bool alone = peer == "none";
    const bool waits = peer == "wait";
    const bool calls = !alone && !waits;
    QuietUi ui;
    std::vector<std::string> line = {"/NOSPLASH", "/I", calls ? "/U2" : "/U1", "/P=" + args.at(1)};
    if (calls) {
        line.push_back("/D=127.0.0.1:" + peer);
        line.push_back("/C");
    }
    CKivApp app(line, "", quietServices(ui));
    CpuWindow window(std::stoi(args.at(3)));
    std::string result = "failed unfinished";
    int step = 0;
    bool listening = false;
    QTimer script;
    script.setInterval(50);
    QObject::connect(&script, &QTimer::timeout, [&] {
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || !frame->PostCreateDone() || frame->IsDestroyed()) return;
        CPacketConnection& link = *frame->Connection();
        switch (step) {
        case 0:  // settled: listening alone, or the call is up
            if (waits && !listening && link.IsListeningFor(2)) {
                // The bench starts the caller once this program listens.
                listening = true;
                std::ofstream(args.at(4) + ".listening") << "listening\n";
            }
            if (!alone && !link.IsConnected()) return;
            step = 1;
            script.stop();
            QTimer::singleShot(kSettleMs, [&] {
                window.start([&] {
                    result = window.result();
                    CMainFrame* measured = app.MainFrame();
                    if (calls && measured != nullptr && !measured->IsDestroyed()) {
                        measured->MakeDisconnect(kReasonAskDisconnect, 0);
                    }
                    step = 2;
                    script.start();
                });
            });
            break;
        case 2:
            if (!alone && link.IsConnected()) return;
            platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
            step = 3;
            break;
        default:
            break;
        }
    });
    script.start();
    const int code = app.Run();
    std::ofstream(args.at(4)) << result << "\n";
    return code == 0 && step == 3 ? 0 : 1;
}

int runBaseline(const std::vector<std::string>& args) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        std::ofstream(args.at(2)) << "failed listening socket\n";
        return 1;
    }
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    CpuWindow window(std::stoi(args.at(1)));
    std::string result;
    QTimer::singleShot(kSettleMs, [&] {
        window.start([&] {
            result = window.result();
            QCoreApplication::exit(0);
        });
    });
    const int code = QCoreApplication::exec();
    ::close(fd);
    std::ofstream(args.at(2)) << result << "\n";
    return code;
}

int run(const std::vector<std::string>& args) {
    const bool caller = args.at(0) == "caller";
    const std::string resultPath = caller ? args.at(4) : args.at(2);
    QuietUi ui;
    std::vector<std::string> line = {"/NOSPLASH", "/I", caller ? "/U2" : "/U1", "/P=" + args.at(1)};
    if (caller) {
        line.push_back("/D=127.0.0.1:" + args.at(2));
        line.push_back("/C");
    }
    CKivApp app(line, "", quietServices(ui));

    int step = 0;
    bool listening = false;
    std::string result = "failed unfinished";
    Clock::time_point started;
    QTimer script;
    script.setInterval(1);  // the end of a transfer is seen within a millisecond
    QObject::connect(&script, &QTimer::timeout, [&] {
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || !frame->PostCreateDone() || frame->IsDestroyed()) return;
        CPacketConnection& link = *frame->Connection();
        switch (step) {
        case 0:
            if (!caller && !listening && link.IsListeningFor(2)) {
                // The bench starts the caller once the listener is there.
                listening = true;
                std::ofstream(resultPath + ".listening") << "listening\n";
            }
            if (!link.IsConnected()) return;
            if (caller) {
                started = Clock::now();
                if (!frame->SendFile(args.at(3), "")) {
                    result = "failed file refused";
                    step = 2;
                    return;
                }
            }
            step = 1;
            break;
        case 1:
            if (caller) {
                if (frame->LastSendResult() == 0) return;
                const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
                result = frame->LastSendResult() == 6 ? "sent " + std::to_string(seconds)
                                                      : "failed send ended with " +
                                                            std::to_string(frame->LastSendResult());
                frame->MakeDisconnect(kReasonAskDisconnect, 0);
            } else if (!frame->LastReceivedFile().empty()) {
                result = "received " + frame->LastReceivedFile();
            } else if (!link.IsConnected()) {
                // The caller hung up before a pass saw the receive complete:
                // the file is in the receive folder all the same.
                result = "failed no file received";
                std::error_code error;
                for (const auto& entry : std::filesystem::directory_iterator(platform::programFolder() / "Receive", error)) {
                    if (entry.is_regular_file(error)) result = "received " + entry.path().string();
                }
            } else {
                return;
            }
            step = 2;
            break;
        case 2:
            if (link.IsConnected()) return;
            platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
            step = 3;
            break;
        default:
            break;
        }
    });
    script.start();
    const int code = app.Run();
    std::ofstream(resultPath) << result << "\n";
    return code == 0 && step == 3 && result.rfind("failed", 0) != 0 ? 0 : 1;
}

// The program started as the operator starts it, its window shown: once it
// is, "shown <steady clock in ns>" goes to the result file and the program
// closes as its own close does.
int runStartUp(const std::vector<std::string>& args) {
    QuietUi ui;
    AppServices services = quietServices(ui);
    services.showWindows = true;
    CKivApp app({"/NOSPLASH", "/I", "/U1", "/P=" + args.at(1)}, "", std::move(services));
    std::string result = "failed never shown";
    class ShownWatch : public QObject {
    public:
        explicit ShownWatch(std::function<void(QObject*)> shown) : m_shown(std::move(shown)) {}
        bool eventFilter(QObject* object, QEvent* event) override {
            if (event->type() == QEvent::Show) m_shown(object);
            return false;
        }

    private:
        std::function<void(QObject*)> m_shown;
    } shownWatch([&](QObject* object) {
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || object != frame || result.rfind("shown", 0) == 0) return;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        result = "shown " + std::to_string(std::chrono::nanoseconds(now).count());
        QTimer::singleShot(0, [&app] {
            if (CMainFrame* shown = app.MainFrame()) platform::PostMessage(shown->Hwnd(), platform::WM_CLOSE, 0, 0);
        });
    });
    qApp->installEventFilter(&shownWatch);
    const int code = app.Run();
    qApp->removeEventFilter(&shownWatch);
    std::ofstream(args.at(2)) << result << "\n";
    return code == 0 && result.rfind("shown", 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string role = args.empty() ? "" : args[0];
    if (role == "baseline" && args.size() == 3) {
        QCoreApplication application(argc, argv);
        return runBaseline(args);
    }
    QApplication application(argc, argv);
    if (role == "idle" && args.size() == 5) return runIdle(args);
    if (role == "startup" && args.size() == 3) return runStartUp(args);
    if ((role == "caller" && args.size() == 5) || (role == "listener" && args.size() == 3)) return run(args);
    std::fprintf(stderr,
                 "usage: velmoor_transfer_peer listener <port> <result> | caller <port> <peer port> <file> <result>"
                 " | idle <port> none|wait|<peer port> <window ms> <result> | baseline <window ms> <result>"
                 " | startup <port> <result>\n");
    return 2;
}
