// velmoor-site: the stand-in site. See --help.

#include "tools/site/site_station.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kHelp =
    "velmoor-site: a stand-in site for the operator's program (tests and demonstrations).\n"
    "It listens for the operator's call, checks the login, sends its site information,\n"
    "hardware profile and live video from a synthetic camera (a moving test pattern with\n"
    "a clock), answers event-list, event-file and snapshot requests from its event folder, takes\n"
    "input and relay requests, and raises alarms on command.\n"
    "\n"
    "Options:\n"
    "  --port N          TCP port to listen on (default 4599; 0 picks a free one)\n"
    "  --stream h263|block\n"
    "                    h263 (default): standard H.263 (CIF or QCIF) through the video\n"
    "                    encoder component, second protocol; block: the block-transform\n"
    "                    stream (320x240), first protocol\n"
    "  --cameras N       cameras of its one adapter (1-16, default 4)\n"
    "  --rate N          frames per second (1-30, default 10)\n"
    "  --user NAME --password TEXT\n"
    "                    the only login accepted (default: any login); after a refused\n"
    "                    login, the next one from that address is checked only after a\n"
    "                    hold that doubles with each further refusal\n"
    "  --name TEXT --phone TEXT\n"
    "                    the site's name and phone\n"
    "  --events FOLDER   the event storage root (default $VELMOOR_HOME/site-events)\n"
    "  --settings FILE   the settings list it keeps and returns on download\n"
    "                    (default $VELMOOR_HOME/site-settings/SetList.Bin)\n"
    "  --alarm-camera N  the camera (1-16, default 1) whose alarm SIGUSR1 raises\n"
    "  --no-video        do not offer live video\n"
    "  --no-quad         offer no quad input (by default, with 4 or more cameras, a quad\n"
    "                    input shows cameras 1 to 4 in one picture)\n"
    "  --cameraless      send pictures that are not key frames as type-11 buckets,\n"
    "                    which carry no camera (the operator's selection names it)\n"
    "  --audio           send a G.723.1-coded test tone (440 Hz) as the site's audio\n"
    "  --once            end when the first call ends\n"
    "  --help            this text\n"
    "\n"
    "Commands, one per line on standard input:\n"
    "  alarm [CAMERA]    raise an alarm on a camera (1-based, default 1): a trigger\n"
    "                    notification and the event file it recorded go to the operator\n"
    "  status            print what the site has done\n"
    "  quit              end\n"
    "Signals: SIGUSR1 raises an alarm (on camera 1 unless --alarm-camera says); SIGINT and SIGTERM end the site\n"
    "(a connected operator is sent \"<Disconnect>\" first).\n"
    "Each event prints one line on standard output.\n";

std::atomic<bool> g_alarmSignal{false};
std::atomic<bool> g_quitSignal{false};

void onSignal(int number) {
    if (number == SIGUSR1) g_alarmSignal = true;
    else g_quitSignal = true;
}

void say(const std::string& line) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::printf("site %02d:%02d:%02d %s\n", local.tm_hour, local.tm_min, local.tm_sec, line.c_str());
    std::fflush(stdout);
}

bool takeNumber(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

// What the command line asks for.
struct Arguments {
    site::SiteOptions options;
    int alarmCamera = 0;  // SIGUSR1 raises the alarm of this camera (0-based)
    bool once = false;
};

// Reads the command line into `out`: -1 to run, else the exit code (0 after
// the help, 2 for a wrong option).
int readArguments(int argc, char** argv, Arguments& out) {
    site::SiteOptions& options = out.options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velmoor-site: %s needs a value (see --help)\n", what);
                std::exit(2);
            }
            return argv[++i];
        };
        long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--port") {
            if (!takeNumber(value("--port"), 0, 65535, n)) {
                std::fprintf(stderr, "velmoor-site: --port takes 0 to 65535\n");
                return 2;
            }
            options.port = WORD(n);
        } else if (a == "--stream") {
            const std::string s = value("--stream");
            if (s == "h263") options.stream = site::Stream::H263;
            else if (s == "block") options.stream = site::Stream::Block;
            else {
                std::fprintf(stderr, "velmoor-site: --stream takes h263 or block\n");
                return 2;
            }
        } else if (a == "--cameras") {
            if (!takeNumber(value("--cameras"), 1, 16, n)) {
                std::fprintf(stderr, "velmoor-site: --cameras takes 1 to 16\n");
                return 2;
            }
            options.cameras = int(n);
        } else if (a == "--alarm-camera") {
            if (!takeNumber(value("--alarm-camera"), 1, 16, n)) {
                std::fprintf(stderr, "velmoor-site: --alarm-camera takes 1 to 16\n");
                return 2;
            }
            out.alarmCamera = int(n) - 1;
        } else if (a == "--rate") {
            if (!takeNumber(value("--rate"), 1, 30, n)) {
                std::fprintf(stderr, "velmoor-site: --rate takes 1 to 30\n");
                return 2;
            }
            options.frameRate = int(n);
        } else if (a == "--user") {
            options.user = value("--user");
        } else if (a == "--password") {
            options.password = value("--password");
        } else if (a == "--name") {
            options.siteName = value("--name");
        } else if (a == "--phone") {
            options.sitePhone = value("--phone");
        } else if (a == "--events") {
            options.eventsFolder = value("--events");
        } else if (a == "--settings") {
            options.settingsList = value("--settings");
        } else if (a == "--no-video") {
            options.video = false;
        } else if (a == "--no-quad") {
            options.quadInput = false;
        } else if (a == "--cameraless") {
            options.cameraless = true;
        } else if (a == "--audio") {
            options.audio = true;
        } else if (a == "--once") {
            out.once = true;
        } else {
            std::fprintf(stderr, "velmoor-site: unknown option %s (see --help)\n", a.c_str());
            return 2;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    // The encoder's per-frame notices (clipped coefficients) would bury the
    // site's own lines: only its errors are shown.
    av_log_set_level(AV_LOG_ERROR);
    Arguments arguments;
    if (const int code = readArguments(argc, argv, arguments); code >= 0) {
        return code;
    }
    const site::SiteOptions& options = arguments.options;
    const int alarmCamera = arguments.alarmCamera;
    const bool once = arguments.once;

    QCoreApplication app(argc, argv);
    std::signal(SIGUSR1, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    site::SiteStation station(options, say);
    if (!station.Open()) {
        std::fprintf(stderr, "velmoor-site: cannot listen on port %u\n", unsigned(options.port));
        return 1;
    }
    bool hadCall = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        station.Pass();
        if (g_alarmSignal.exchange(false) && !station.Alarm(alarmCamera)) say("alarm: no operator connected");
        hadCall = hadCall || station.Connected();
        if (g_quitSignal) {
            station.HangUp();  // the operator is told the call ends
            app.quit();
        } else if (once && hadCall && !station.Connected()) {
            app.quit();
        }
    });
    timer.start(5);

    // Commands on standard input.
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);  // no more commands; signals still work
            return;
        }
        pending.append(buffer, std::size_t(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            long camera = 1;
            if (line.rfind("alarm", 0) == 0) {
                const std::string rest = line.size() > 6 ? line.substr(6) : "";
                if (!rest.empty() && !takeNumber(rest.c_str(), 1, 16, camera)) {
                    say("alarm takes a camera from 1 to 16");
                } else if (!station.Alarm(int(camera) - 1)) {
                    say("alarm: no operator connected");
                }
            } else if (line == "status") {
                const site::SiteCounters& c = station.Counters();
                say("calls " + std::to_string(c.calls) + ", frames sent " + std::to_string(c.framesSent) +
                    ", key frames " + std::to_string(c.keyFramesSent) + ", video state " +
                    std::to_string(station.VideoState()) + ", alarms " + std::to_string(c.alarms));
            } else if (line == "quit") {
                station.HangUp();
                app.quit();
            } else if (!line.empty()) {
                say("unknown command: " + line + " (alarm [camera], status, quit)");
            }
        }
    });
    const int code = app.exec();
    say("ended");
    return code;
}
