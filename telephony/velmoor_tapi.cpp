// libvelmoortapi: a small telephony library. It offers the line functions the
// station link binds at run time (line_api.h) over AT modems on serial ports.
//
// Lines: the environment variable VELMOOR_TAPI_LINES ("Name=PORT;Name=PORT",
// tests) or else the REG_SZ values of the key
// HKEY_CURRENT_USER\software\Quennel\Velmoor\Common\TelephonyLines (value
// name: the line name; data: the port, "COM<n>" or a device path). Each line
// is an AT modem with the common result words (OK, RING, CONNECT <rate>,
// BUSY, NO ANSWER, NO CARRIER, NO DIALTONE).
//
// One application at a time. lineInitialize starts an engine thread that reads
// the open lines' modems and sends the callbacks (LINE_CALLSTATE with the call
// handle as the device, LINE_LINEDEVSTATE with the ring count as the third
// parameter, LINE_REPLY for the asynchronous requests). The callbacks come on
// that thread; the application hands them to its own. lineGetID for
// "comm/datamodem" hands the connected port over: the record holds the open
// descriptor (now the application's, to adopt with SerialPort::adopt) and the
// device path. lineDrop takes the port back (once the application has closed
// it) to send the hang-up, and the call then goes idle (LINE_CALLSTATE).
//
// Each line has its modem configuration (modem_config.h), applied before every
// call and answer; lineConfigDialogEdit and lineTranslateDialog show the
// caller's dialogs, handed in with SetLineDialogs (the library has no windows
// of its own). A process that has a line open holds a lock file for its port,
// so another process can tell a line held by a telephony application (opened
// without the port: it can make no call) from a port held by some other
// program (LINEERR_ALLOCATED).

#include "common/product_registry.h"
#include "common/serial_port_map.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "telephony/line_api.h"
#include "telephony/modem_config.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define TAPI_EXPORT extern "C" __attribute__((visibility("default")))

using namespace telephony;
using Clock = std::chrono::steady_clock;

namespace {

constexpr DWORD kApiVersion = 0x00020000;
constexpr DWORD kCallBase = 0x100;

enum class Job { None, Dialing, Answering, Connected, HandedOver };

struct Line {
    std::string name;
    std::string portName;
    std::unique_ptr<platform::SerialPort> port;
    std::string device;
    bool open = false;
    DWORD privileges = 0;
    std::uintptr_t instance = 0;
    HCALL call = 0;
    DWORD callState = 0;
    DWORD rate = 0;
    DWORD rings = 0;
    Clock::time_point lastRing{};
    std::string answers;
    Job job = Job::None;
    ModemDevConfig config = DefaultModemConfig();
    int holdFd = -1;        // the lock file that tells other processes this line is open here
    bool shared = false;    // open while another process holds it: no port, no calls
};

struct Request {
    enum Kind { MakeCall, Dial, Answer, Drop } kind;
    DWORD line;
    LONG id;
    std::string address;
};

struct App {
    LINECALLBACK callback = nullptr;
    std::vector<Line> lines;
    std::thread engine;
    std::atomic<bool> stop{false};
    int wakeFd = -1;  // written when there is news for the engine: a request, a line opened or closed, the stop
    std::deque<Request> requests;
    LONG nextRequest = 1;
    DWORD nextCall = kCallBase;
};

std::mutex g_lock;
std::unique_ptr<App> g_app;

std::vector<std::pair<std::string, std::string>> configuredLines() {
    std::vector<std::pair<std::string, std::string>> out;
    if (const char* env = std::getenv("VELMOOR_TAPI_LINES"); env && *env) {
        std::string all = env;
        std::size_t at = 0;
        while (at <= all.size()) {
            const std::size_t end = std::min(all.find(';', at), all.size());
            const std::string item = all.substr(at, end - at);
            const auto eq = item.find('=');
            if (eq != std::string::npos && eq > 0) out.emplace_back(item.substr(0, eq), item.substr(eq + 1));
            at = end + 1;
        }
        return out;
    }
    platform::RegistryKey key;
    if (platform::RegistryKey::open(platform::HKEY_CURRENT_USER, CommonKeyPath("TelephonyLines"), platform::KEY_READ,
                                    key) != ERROR_SUCCESS) {
        return out;
    }
    for (DWORD i = 0;; ++i) {
        std::string name;
        platform::RegistryValue value;
        if (key.enumValue(i, name, &value) != ERROR_SUCCESS) break;
        if (value.type != platform::REG_SZ || name.empty()) continue;
        std::string port(value.data.begin(), value.data.end());
        port.erase(std::find(port.begin(), port.end(), '\0'), port.end());
        if (!port.empty()) out.emplace_back(name, port);
    }
    return out;
}

void send(Line& l, const std::string& text) {
    if (!l.port) return;
    DWORD written = 0;
    l.port->write(text.data(), static_cast<DWORD>(text.size()), written);
}

// Reads the modem's words until one of `words` (or the time) comes; the word
// found, or empty.
std::string waitWord(Line& l, std::initializer_list<const char*> words, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    std::string seen;
    while (Clock::now() < until && l.port) {
        char buffer[256];
        DWORD got = 0;
        if (l.port->waitReadable(50)) l.port->readAvailable(buffer, sizeof buffer, got);
        seen.append(buffer, got);
        for (const char* w : words) {
            if (seen.find(w) != std::string::npos) return w;
        }
    }
    return {};
}

// The lock file that marks the line's port as held by a telephony application.
std::filesystem::path holdFile(const Line& l) {
    std::error_code ec;
    const auto device = platform::serialDevicePath(l.portName, ReadSerialPortMap());
    std::string flat = std::filesystem::weakly_canonical(device, ec).string();
    if (ec) flat = device.string();
    for (char& c : flat) {
        if (c == '/') c = '_';
    }
    const auto folder = platform::runtimeFolder() / "telephony";
    std::filesystem::create_directories(folder, ec);
    return folder / (flat + ".line");
}

// Takes the line's hold lock: true when this process holds it now.
bool takeHold(Line& l) {
    if (l.holdFd >= 0) return true;
    const int fd = ::open(holdFile(l).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    l.holdFd = fd;
    return true;
}

void dropHold(Line& l) {
    if (l.holdFd < 0) return;
    ::flock(l.holdFd, LOCK_UN);
    ::close(l.holdFd);
    l.holdFd = -1;
}

bool openPort(Line& l) {
    auto port = std::make_unique<platform::SerialPort>();
    if (port->open(l.portName, ReadSerialPortMap()) != ERROR_SUCCESS) return false;
    platform::SerialSettings s;
    port->getSettings(s);
    s.baudRate = l.config.baudRate;
    port->setSettings(s);
    port->setTimeouts({0, 0, 0, 0, 2000});
    l.device = port->device().string();
    l.port = std::move(port);
    return true;
}

void notify(DWORD device, DWORD message, std::uintptr_t instance, std::uintptr_t p1, std::uintptr_t p2,
            std::uintptr_t p3) {
    LINECALLBACK cb = g_app ? g_app->callback : nullptr;
    if (cb) cb(device, message, instance, p1, p2, p3);
}

void callState(Line& l, DWORD state, DWORD mode = 0) {
    l.callState = state;
    notify(l.call, LINE_CALLSTATE, l.instance, state, mode, 0);
}

void endCall(Line& l, DWORD mode) {
    callState(l, LINECALLSTATE_DISCONNECTED, mode);
    l.job = Job::None;
    l.rings = 0;
}

// One word of a modem on a line that is not handed over.
void word(Line& l, const std::string& w) {
    if (w == "RING") {
        if (!(l.privileges & LINECALLPRIVILEGE_OWNER)) return;
        if (l.call == 0) {
            l.call = g_app->nextCall++;
            l.rings = 0;
            callState(l, LINECALLSTATE_OFFERING);
        }
        l.lastRing = Clock::now();
        ++l.rings;
        notify(0, LINE_LINEDEVSTATE, l.instance, LINEDEVSTATE_RINGING, 0, l.rings);
        return;
    }
    if (w.rfind("CONNECT", 0) == 0 && (l.job == Job::Dialing || l.job == Job::Answering)) {
        l.rate = static_cast<DWORD>(std::strtoul(w.c_str() + 7, nullptr, 10));
        l.job = Job::Connected;
        callState(l, LINECALLSTATE_CONNECTED);
        return;
    }
    if (l.job == Job::None && l.call == 0) return;
    if (w == "BUSY") {
        callState(l, LINECALLSTATE_BUSY);
        l.job = Job::None;
    } else if (w == "NO ANSWER") {
        endCall(l, LINEDISCONNECTMODE_NOANSWER);
    } else if (w == "NO DIALTONE" || w == "NO DIAL TONE") {
        endCall(l, LINEDISCONNECTMODE_NODIALTONE);
    } else if (w == "NO CARRIER") {
        endCall(l, l.job == Job::Dialing ? LINEDISCONNECTMODE_UNAVAIL : LINEDISCONNECTMODE_NORMAL);
    } else if (w == "ERROR" && l.job != Job::None) {
        endCall(l, LINEDISCONNECTMODE_UNKNOWN);
    }
}

// Puts the modem into the line's configuration; a modem that refuses a setting
// still gets the call.
void configure(Line& l) {
    send(l, ModemConfigCommand(l.config) + "\r");
    waitWord(l, {"OK", "ERROR"}, 3000);
}

void runRequest(const Request& r) {
    Line& l = g_app->lines[r.line];
    switch (r.kind) {
    case Request::MakeCall:
    case Request::Dial:
        if (r.kind == Request::MakeCall) configure(l);
        l.job = Job::Dialing;
        send(l, std::string("ATD") + (l.config.pulseDialing ? "P" : "T") + r.address + "\r");
        notify(0, LINE_REPLY, l.instance, static_cast<std::uintptr_t>(r.id), 0, 0);
        callState(l, LINECALLSTATE_DIALING);
        break;
    case Request::Answer:
        configure(l);
        l.job = Job::Answering;
        send(l, "ATA\r");
        notify(0, LINE_REPLY, l.instance, static_cast<std::uintptr_t>(r.id), 0, 0);
        break;
    case Request::Drop: {
        if (!l.port && l.open) {
            // The application had the port: it may still be closing it.
            for (int i = 0; i < 40 && !openPort(l); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (l.port) {
            // A modem still on line needs the escape first; one in command mode ignores it.
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            send(l, "+++");
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            send(l, "ATH\r");
            waitWord(l, {"OK", "ERROR"}, 3000);
        }
        l.job = Job::None;
        l.rings = 0;
        l.answers.clear();
        notify(0, LINE_REPLY, l.instance, static_cast<std::uintptr_t>(r.id), 0, 0);
        // The dropped call ends idle; its handle is free from then on.
        callState(l, LINECALLSTATE_IDLE);
        l.call = 0;
        break;
    }
    }
}

void wakeEngine() {
    const std::uint64_t one = 1;
    if (g_app && g_app->wakeFd >= 0) {
        [[maybe_unused]] auto n = ::write(g_app->wakeFd, &one, sizeof one);
    }
}

// Sleeps until a watched modem says something or the engine is woken. The
// ports are looked at once a second all the same, for the rings that stopped.
// A port that hung up or failed stays ready for poll: while one does, the
// engine looks every 20 ms instead of turning without rest.
void awaitNews() {
    std::vector<pollfd> watched;
    {
        std::lock_guard lock(g_lock);
        watched.push_back({g_app->wakeFd, POLLIN, 0});
        for (const auto& l : g_app->lines) {
            if (l.open && l.port && l.job != Job::Connected && l.job != Job::HandedOver) {
                watched.push_back({l.port->fd(), POLLIN, 0});
            }
        }
    }
    if (::poll(watched.data(), watched.size(), 1000) <= 0) return;
    if (watched[0].revents & POLLIN) {
        std::uint64_t drained = 0;
        [[maybe_unused]] auto n = ::read(g_app->wakeFd, &drained, sizeof drained);
    }
    const bool failed = std::any_of(watched.begin() + 1, watched.end(), [](const pollfd& port) {
        return (port.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    });
    if (failed) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void engineLoop() {
    while (!g_app->stop) {
        bool busy = false;
        {
            std::unique_lock lock(g_lock);
            while (!g_app->requests.empty()) {
                const Request r = g_app->requests.front();
                g_app->requests.pop_front();
                runRequest(r);
                busy = true;
            }
            for (auto& l : g_app->lines) {
                // A connected call's bytes belong to the application.
                if (!l.open || !l.port || l.job == Job::Connected || l.job == Job::HandedOver) continue;
                char buffer[512];
                DWORD got = 0;
                l.port->readAvailable(buffer, sizeof buffer, got);
                l.answers.append(buffer, got);
                std::size_t end;
                while ((end = l.answers.find_first_of("\r\n")) != std::string::npos) {
                    const std::string w = l.answers.substr(0, end);
                    l.answers.erase(0, end + 1);
                    if (!w.empty()) word(l, w);
                }
                if (l.answers.size() > 4096) l.answers.clear();
                // An offered call whose rings stopped was answered elsewhere or given up.
                if (l.call != 0 && l.job == Job::None && l.callState == LINECALLSTATE_OFFERING &&
                    Clock::now() - l.lastRing > std::chrono::seconds(8)) {
                    callState(l, LINECALLSTATE_IDLE);
                    l.call = 0;
                }
            }
        }
        if (!busy) awaitNews();
    }
}

Line* lineOf(HLINE handle) {
    if (!g_app || handle == 0 || handle > g_app->lines.size()) return nullptr;
    Line& l = g_app->lines[handle - 1];
    return l.open ? &l : nullptr;
}

Line* lineOfCall(HCALL call) {
    if (!g_app || call == 0) return nullptr;
    for (auto& l : g_app->lines) {
        if (l.open && l.call == call) return &l;
    }
    return nullptr;
}

LONG queue(Request::Kind kind, DWORD line, const std::string& address = {}) {
    const LONG id = g_app->nextRequest++;
    if (g_app->nextRequest <= 0) g_app->nextRequest = 1;
    g_app->requests.push_back({kind, line, id, address});
    wakeEngine();
    return id;
}

template <class T>
bool fits(const T* record) {
    return record != nullptr && record->totalSize >= sizeof(T);
}

}  // namespace

TAPI_EXPORT LONG lineInitialize(HLINEAPP* app, void*, LINECALLBACK callback, const char*, DWORD* numDevs) {
    if (!app || !numDevs || !callback) return LINEERR_INVALPOINTER;
    std::lock_guard lock(g_lock);
    if (g_app) return LINEERR_NOMULTIPLEINSTANCE;
    g_app = std::make_unique<App>();
    g_app->callback = callback;
    for (auto& [name, port] : configuredLines()) {
        Line l;
        l.name = name;
        l.portName = port;
        l.config = LoadModemConfig(name);
        g_app->lines.push_back(std::move(l));
    }
    g_app->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    g_app->engine = std::thread(engineLoop);
    *app = 1;
    *numDevs = static_cast<DWORD>(g_app->lines.size());
    return 0;
}

TAPI_EXPORT LONG lineShutdown(HLINEAPP) {
    std::unique_ptr<App> app;
    {
        std::lock_guard lock(g_lock);
        if (!g_app) return LINEERR_OPERATIONFAILED;
        g_app->stop = true;
        wakeEngine();
    }
    g_app->engine.join();
    if (g_app->wakeFd >= 0) ::close(g_app->wakeFd);
    std::lock_guard lock(g_lock);
    for (auto& l : g_app->lines) {
        if (l.port) l.port->close();
        dropHold(l);
    }
    g_app.reset();
    return 0;
}

TAPI_EXPORT LONG lineNegotiateAPIVersion(HLINEAPP, DWORD deviceId, DWORD low, DWORD high, DWORD* version, void*) {
    std::lock_guard lock(g_lock);
    if (!g_app || !version) return LINEERR_INVALPOINTER;
    if (deviceId >= g_app->lines.size()) return LINEERR_BADDEVICEID;
    if (low > kApiVersion || high < 0x00010004) return LINEERR_INCOMPATIBLEAPIVERSION;
    *version = std::min(high, kApiVersion);
    return 0;
}

TAPI_EXPORT LONG lineGetDevCaps(HLINEAPP, DWORD deviceId, DWORD, DWORD, LineDevCaps* caps) {
    std::lock_guard lock(g_lock);
    if (!g_app || !fits(caps)) return LINEERR_STRUCTURETOOSMALL;
    if (deviceId >= g_app->lines.size()) return LINEERR_BADDEVICEID;
    const Line& l = g_app->lines[deviceId];
    caps->neededSize = caps->usedSize = sizeof(LineDevCaps);
    caps->bearerModes = LINEBEARERMODE_VOICE;
    caps->mediaModes = LINEMEDIAMODE_DATAMODEM;
    // An AT modem waits for a dial tone ("W") and for quiet ("@") itself.
    caps->devCapFlags = LINEDEVCAPFLAGS_DIALDIALTONE | LINEDEVCAPFLAGS_DIALQUIET;
    caps->lineFeatures = LINEFEATURE_MAKECALL;
    caps->maxRate = 57600;
    std::snprintf(caps->lineName, sizeof caps->lineName, "%s", l.name.c_str());
    return 0;
}

TAPI_EXPORT LONG lineGetAddressCaps(HLINEAPP, DWORD deviceId, DWORD, DWORD, DWORD, LineAddressCaps* caps) {
    std::lock_guard lock(g_lock);
    if (!g_app || !fits(caps)) return LINEERR_STRUCTURETOOSMALL;
    if (deviceId >= g_app->lines.size()) return LINEERR_BADDEVICEID;
    caps->neededSize = caps->usedSize = sizeof(LineAddressCaps);
    caps->addrCapFlags = LINEADDRCAPFLAGS_PARTIALDIAL;
    return 0;
}

TAPI_EXPORT LONG lineOpen(HLINEAPP, DWORD deviceId, HLINE* line, DWORD, DWORD, std::uintptr_t instance,
                          DWORD privileges, DWORD /*mediaModes*/, const void*) {
    std::lock_guard lock(g_lock);
    if (!g_app || !line) return LINEERR_INVALPOINTER;
    if (deviceId >= g_app->lines.size()) return LINEERR_BADDEVICEID;
    Line& l = g_app->lines[deviceId];
    if (l.open) return LINEERR_ALLOCATED;
    if (!takeHold(l)) {
        // Another telephony application has the line: it may be watched, not used.
        if (privileges & LINECALLPRIVILEGE_OWNER) return LINEERR_ALLOCATED;
        l.open = true;
        l.shared = true;
        l.privileges = privileges;
        l.instance = instance;
        l.call = 0;
        l.job = Job::None;
        *line = deviceId + 1;
        return 0;
    }
    if (!openPort(l)) {
        dropHold(l);
        return LINEERR_ALLOCATED;
    }
    send(l, "ATZ\r");
    if (waitWord(l, {"OK"}, 5000).empty()) {
        l.port.reset();
        dropHold(l);
        return LINEERR_OPERATIONFAILED;
    }
    send(l, "ATE0V1\r");
    waitWord(l, {"OK"}, 5000);
    l.open = true;
    l.privileges = privileges;
    l.instance = instance;
    l.job = Job::None;
    l.call = 0;
    l.answers.clear();
    *line = deviceId + 1;
    wakeEngine();
    return 0;
}

TAPI_EXPORT LONG lineClose(HLINE handle) {
    std::lock_guard lock(g_lock);
    Line* l = lineOf(handle);
    if (!l) return LINEERR_INVALLINEHANDLE;
    if (l->port) l->port->close();
    l->port.reset();
    if (!l->shared) dropHold(*l);
    l->open = false;
    l->shared = false;
    l->call = 0;
    l->job = Job::None;
    wakeEngine();
    return 0;
}

TAPI_EXPORT LONG lineSetStatusMessages(HLINE handle, DWORD, DWORD) {
    std::lock_guard lock(g_lock);
    return lineOf(handle) ? 0 : LINEERR_INVALLINEHANDLE;
}

TAPI_EXPORT LONG lineGetAddressStatus(HLINE handle, DWORD, LineAddressStatus* status) {
    std::lock_guard lock(g_lock);
    Line* l = lineOf(handle);
    if (!l) return LINEERR_INVALLINEHANDLE;
    if (!fits(status)) return LINEERR_STRUCTURETOOSMALL;
    status->neededSize = status->usedSize = sizeof(LineAddressStatus);
    status->addressFeatures = l->call == 0 && !l->shared ? LINEADDRFEATURE_MAKECALL : 0;
    return 0;
}

TAPI_EXPORT LONG lineMakeCall(HLINE handle, HCALL* call, const char* address, DWORD, const void*) {
    std::lock_guard lock(g_lock);
    Line* l = lineOf(handle);
    if (!l) return LINEERR_INVALLINEHANDLE;
    if (!call || !address) return LINEERR_INVALPOINTER;
    if (l->shared) return LINEERR_CALLUNAVAIL;
    if (l->call != 0) return LINEERR_INVALCALLSTATE;
    // Only what a modem dials goes into the command.
    std::string digits;
    for (const char* p = address; *p && digits.size() < 64; ++p) {
        if (std::strchr("0123456789*#,WwPpTt@!$;", *p)) digits.push_back(*p);
    }
    l->call = g_app->nextCall++;
    *call = l->call;
    return queue(Request::MakeCall, handle - 1, digits);
}

TAPI_EXPORT LONG lineDial(HCALL call, const char* address, DWORD) {
    std::lock_guard lock(g_lock);
    Line* l = lineOfCall(call);
    if (!l) return LINEERR_INVALCALLHANDLE;
    std::string digits;
    for (const char* p = address ? address : ""; *p && digits.size() < 64; ++p) {
        if (std::strchr("0123456789*#,WwPpTt@!$;", *p)) digits.push_back(*p);
    }
    return queue(Request::Dial, static_cast<DWORD>(l - g_app->lines.data()), digits);
}

TAPI_EXPORT LONG lineAnswer(HCALL call, const char*, DWORD) {
    std::lock_guard lock(g_lock);
    Line* l = lineOfCall(call);
    if (!l) return LINEERR_INVALCALLHANDLE;
    return queue(Request::Answer, static_cast<DWORD>(l - g_app->lines.data()));
}

TAPI_EXPORT LONG lineDrop(HCALL call, const char*, DWORD) {
    std::lock_guard lock(g_lock);
    Line* l = lineOfCall(call);
    if (!l) return LINEERR_INVALCALLHANDLE;
    return queue(Request::Drop, static_cast<DWORD>(l - g_app->lines.data()));
}

TAPI_EXPORT LONG lineDeallocateCall(HCALL) { return 0; }

TAPI_EXPORT LONG lineGetCallStatus(HCALL call, LineCallStatus* status) {
    std::lock_guard lock(g_lock);
    Line* l = lineOfCall(call);
    if (!l) return LINEERR_INVALCALLHANDLE;
    if (!fits(status)) return LINEERR_STRUCTURETOOSMALL;
    status->neededSize = status->usedSize = sizeof(LineCallStatus);
    status->callState = l->callState;
    status->callFeatures = l->callState == LINECALLSTATE_DIALING ? LINECALLFEATURE_DIAL : 0;
    return 0;
}

TAPI_EXPORT LONG lineGetCallInfo(HCALL call, LineCallInfo* info) {
    std::lock_guard lock(g_lock);
    Line* l = lineOfCall(call);
    if (!l) return LINEERR_INVALCALLHANDLE;
    if (!fits(info)) return LINEERR_STRUCTURETOOSMALL;
    info->neededSize = info->usedSize = sizeof(LineCallInfo);
    info->rate = l->rate;
    info->privilege = l->privileges;
    return 0;
}

TAPI_EXPORT LONG lineGetID(HLINE handle, DWORD, HCALL call, DWORD, VarString* id, const char* deviceClass) {
    std::lock_guard lock(g_lock);
    Line* l = call ? lineOfCall(call) : lineOf(handle);
    if (!l) return LINEERR_INVALCALLHANDLE;
    if (!id || id->totalSize < sizeof(VarString)) return LINEERR_STRUCTURETOOSMALL;
    if (!deviceClass || std::strcmp(deviceClass, "comm/datamodem") != 0) return LINEERR_OPERATIONUNAVAIL;
    const DWORD needed = static_cast<DWORD>(sizeof(VarString) + 4 + l->device.size() + 1);
    id->neededSize = needed;
    if (id->totalSize < needed) {
        id->usedSize = sizeof(VarString);
        id->stringSize = 0;
        return 0;
    }
    // The port changes hands with the call still up: the descriptor goes to
    // the application as it is (its DTR kept), and the library lets go of it.
    const DWORD fd = l->port ? static_cast<DWORD>(l->port->releaseDescriptor()) : 0xFFFFFFFF;
    l->port.reset();
    l->job = Job::HandedOver;
    auto* bytes = reinterpret_cast<BYTE*>(id);
    std::memcpy(bytes + sizeof(VarString), &fd, 4);
    std::memcpy(bytes + sizeof(VarString) + 4, l->device.c_str(), l->device.size() + 1);
    id->stringOffset = sizeof(VarString);
    id->stringSize = static_cast<DWORD>(4 + l->device.size() + 1);
    id->usedSize = needed;
    return 0;
}

TAPI_EXPORT LONG lineTranslateAddress(HLINEAPP, DWORD /*deviceId*/, DWORD, const char* address, DWORD, DWORD,
                                      VarString* out) {
    if (!address || !out || out->totalSize < sizeof(VarString)) return LINEERR_STRUCTURETOOSMALL;
    const std::string text = TranslateNumber(LoadDialingLocation(), address);
    const DWORD needed = static_cast<DWORD>(sizeof(VarString) + text.size() + 1);
    out->neededSize = needed;
    if (out->totalSize < needed) return LINEERR_STRUCTURETOOSMALL;
    std::memcpy(reinterpret_cast<BYTE*>(out) + sizeof(VarString), text.c_str(), text.size() + 1);
    out->stringOffset = sizeof(VarString);
    out->stringSize = static_cast<DWORD>(text.size() + 1);
    out->usedSize = needed;
    return 0;
}

namespace {

// The name and configuration of a line, or false when the device is unknown.
bool lineConfig(DWORD deviceId, std::string& name, ModemDevConfig& config) {
    std::lock_guard lock(g_lock);
    if (!g_app || deviceId >= g_app->lines.size()) return false;
    name = g_app->lines[deviceId].name;
    config = g_app->lines[deviceId].config;
    return true;
}

bool modemClass(const char* deviceClass) { return deviceClass && std::strcmp(deviceClass, "comm/datamodem") == 0; }

// Puts a configuration into a variable-size answer; false (the needed size
// set) when it has no room.
bool putConfig(const ModemDevConfig& config, VarString* out) {
    const DWORD needed = static_cast<DWORD>(sizeof(VarString) + sizeof(ModemDevConfig));
    out->neededSize = needed;
    if (out->totalSize < needed) {
        out->usedSize = sizeof(VarString);
        out->stringOffset = sizeof(VarString);
        out->stringSize = 0;
        return false;
    }
    std::memcpy(reinterpret_cast<BYTE*>(out) + sizeof(VarString), &config, sizeof config);
    out->stringOffset = sizeof(VarString);
    out->stringSize = sizeof config;
    out->usedSize = needed;
    return true;
}

// A configuration handed in by the caller, checked before it is trusted.
bool takeConfig(const void* data, DWORD size, ModemDevConfig& config) {
    if (data == nullptr || size != sizeof(ModemDevConfig)) return false;
    std::memcpy(&config, data, sizeof config);
    return ModemConfigValid(config);
}

}  // namespace

TAPI_EXPORT LONG lineGetDevConfig(DWORD deviceId, VarString* config, const char* deviceClass) {
    if (!config || config->totalSize < sizeof(VarString)) return LINEERR_STRUCTURETOOSMALL;
    if (!modemClass(deviceClass)) return LINEERR_OPERATIONUNAVAIL;
    std::string name;
    ModemDevConfig current;
    if (!lineConfig(deviceId, name, current)) return LINEERR_BADDEVICEID;
    putConfig(current, config);
    return 0;
}

TAPI_EXPORT LONG lineSetDevConfig(DWORD deviceId, const void* config, DWORD size, const char* deviceClass) {
    if (!modemClass(deviceClass)) return LINEERR_OPERATIONUNAVAIL;
    ModemDevConfig wanted;
    if (!takeConfig(config, size, wanted)) return LINEERR_INVALPARAM;
    std::lock_guard lock(g_lock);
    if (!g_app || deviceId >= g_app->lines.size()) return LINEERR_BADDEVICEID;
    Line& l = g_app->lines[deviceId];
    if (!SaveModemConfig(l.name, wanted)) return LINEERR_OPERATIONFAILED;
    l.config = wanted;
    // The port's speed changes at once; the modem's settings go before the next call.
    if (l.port && l.job != Job::HandedOver) {
        platform::SerialSettings s;
        l.port->getSettings(s);
        s.baudRate = wanted.baudRate;
        l.port->setSettings(s);
    }
    return 0;
}

namespace {

// The caller's dialogs, while it has handed them in.
std::mutex g_dialogsLock;
LineDialogs g_dialogs{};

LineDialogs handedDialogs() {
    std::lock_guard lock(g_dialogsLock);
    return g_dialogs;
}

// Runs one of the caller's dialogs and answers as a line function does: 0 when
// it was shown (`accepted`: the user chose), LINEERR_OPERATIONUNAVAIL when it
// says nobody can be asked, LINEERR_OPERATIONFAILED when it failed (an answer
// it does not have, or it threw).
template <class Show>
LONG runDialog(Show&& show, bool& accepted) noexcept {
    accepted = false;
    try {
        switch (show()) {
        case LineDialogResult::Accepted: accepted = true; return 0;
        case LineDialogResult::Cancelled: return 0;
        case LineDialogResult::NobodyToAsk: return LINEERR_OPERATIONUNAVAIL;
        }
    } catch (...) {
    }
    return LINEERR_OPERATIONFAILED;
}

}  // namespace

TAPI_EXPORT LONG SetLineDialogs(const LineDialogs* dialogs) {
    std::lock_guard lock(g_dialogsLock);
    g_dialogs = dialogs != nullptr ? *dialogs : LineDialogs{};
    return 0;
}

// The configuration dialog: starts from the configuration handed in (or the
// line's own) and answers the user's choice; a cancelled dialog, and one that
// chose a configuration that is not valid, answer what it was given. Shown
// without the library's lock, so the line keeps running.
TAPI_EXPORT LONG lineConfigDialogEdit(DWORD deviceId, void* owner, const char* deviceClass, const void* configIn,
                                      DWORD sizeIn, VarString* configOut) {
    if (!configOut || configOut->totalSize < sizeof(VarString)) return LINEERR_STRUCTURETOOSMALL;
    if (!modemClass(deviceClass)) return LINEERR_OPERATIONUNAVAIL;
    std::string name;
    ModemDevConfig config;
    if (!lineConfig(deviceId, name, config)) return LINEERR_BADDEVICEID;
    if (configIn != nullptr && !takeConfig(configIn, sizeIn, config)) return LINEERR_INVALPARAM;
    if (!putConfig(config, configOut)) return 0;  // the caller grows its answer and asks again
    const auto edit = handedDialogs().editModemConfig;
    if (edit == nullptr) return LINEERR_OPERATIONUNAVAIL;
    ModemDevConfig edited = config;
    bool accepted = false;
    const LONG r = runDialog([&] { return edit(owner, name, edited); }, accepted);
    if (accepted && ModemConfigValid(edited)) putConfig(edited, configOut);
    return r;
}

// The dialing location's dialog; a location it chose is kept when it is valid.
TAPI_EXPORT LONG lineTranslateDialog(HLINEAPP, DWORD deviceId, DWORD, void* owner, const char* addressIn) {
    {
        std::lock_guard lock(g_lock);
        if (!g_app || deviceId >= g_app->lines.size()) return LINEERR_BADDEVICEID;
    }
    const auto edit = handedDialogs().editDialingLocation;
    if (edit == nullptr) return LINEERR_OPERATIONUNAVAIL;
    DialingLocation location = LoadDialingLocation();
    const std::string sample = addressIn ? addressIn : "";
    bool accepted = false;
    const LONG r = runDialog([&] { return edit(owner, sample, location); }, accepted);
    if (accepted && DialingLocationValid(location) && !SaveDialingLocation(location)) return LINEERR_OPERATIONFAILED;
    return r;
}
