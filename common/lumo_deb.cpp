#include "common/lumo_deb.h"

#include "common/kc_ini.h"
#include "platform/last_error.h"
#include "platform/local_bus.h"
#include "platform/mailslot.h"
#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kDefaultIniName = "LUMODEBWIN.INI";
constexpr const char* kSection = "LumoDeb";
// Room for the text: the line keeps one byte for "\n" and one for the terminator.
constexpr std::size_t kLastTextIndex = CLumoDeb::kLineBytes - 3;  // 2045
constexpr std::size_t kSysErrTextChars = 2015;

char gIniName[MAX_PATH] = "LUMODEBWIN.INI";

std::atomic<DWORD> gSendTimeoutMs{2000};
std::atomic<DWORD> gStartTimeoutMs{2000};

// Keeps the caller's errno and last error across a trace, so a trace placed
// between a failing call and the look at its error does not change the error.
class ErrorKeeper {
public:
    ErrorKeeper() : m_errno(errno), m_lastError(platform::GetLastError()) {}
    ~ErrorKeeper() {
        errno = m_errno;
        platform::SetLastError(m_lastError);
    }

private:
    int m_errno;
    DWORD m_lastError;
};

DWORD currentThreadId() { return static_cast<DWORD>(::gettid()); }

}  // namespace

// The silent object lives in a union so it is built at compile time (before any
// static constructor could trace) and never destroyed (after the last static
// destructor has traced).
union LumoDebSilentHolder {
    constexpr LumoDebSilentHolder() : sink(CLumoDeb::Silent{}) {}
    ~LumoDebSilentHolder() {}
    CLumoDebNULL sink;
};

namespace {
constinit LumoDebSilentHolder gSilent;
}

CLumoDeb* gpLumoDeb = &gSilent.sink;

// ---------------------------------------------------------------------------
// CLumoDeb

CLumoDeb::CLumoDeb() {
    CKcIni ini(gIniName, kSection);
    int level = 0;
    int threadIdFlag = 0;
    char prefix[31] = {};
    ini.GetInt("Level", &level, 0);
    ini.GetString("Prefix", prefix, sizeof prefix, "");
    ini.GetInt("TID", &threadIdFlag, 0);
    m_threadIdFlag = static_cast<DWORD>(threadIdFlag);
    CLumoDeb::SetPrefix(prefix);
    CLumoDeb::SetLevel(level);
}

CLumoDeb::~CLumoDeb() = default;

void CLumoDeb::SetPrefix(const char* text) {
    std::size_t length = text ? ::strnlen(text, kPrefixBytes - 1) : 0;
    std::memset(m_prefix, 0, sizeof m_prefix);
    if (length > 0) {
        std::memcpy(m_prefix, text, length);
    }
    m_prefixLength = static_cast<DWORD>(length);
}

DWORD CLumoDeb::SetLevel(int level) {
    DWORD previous = m_level.load(std::memory_order_relaxed);
    if (static_cast<DWORD>(level) <= 5) {
        m_level.store(static_cast<DWORD>(level), std::memory_order_relaxed);
    }
    return previous;
}

void CLumoDeb::Output(const char*) {}

BOOL CLumoDeb::IsLevelOn(int level) {
    return m_level.load(std::memory_order_relaxed) >= static_cast<DWORD>(level);
}

void CLumoDeb::Trace(int level, const char* format, ...) {
    if (!IsLevelOn(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    traceArgs(format, args);
    va_end(args);
}

void CLumoDeb::traceArgs(const char* format, va_list args) {
    ErrorKeeper keeper;
    char line[kLineBytes];
    // The prefix is copied with the length it really has now, so a prefix that
    // another thread changes at this moment cannot push the text out of bounds.
    std::size_t start = ::strnlen(m_prefix, kPrefixBytes - 1);
    if (m_threadIdFlag != 0) {
        int written = std::snprintf(line, sizeof line, "%08X.%.*s", currentThreadId(),
                                    static_cast<int>(start), m_prefix);
        start = written > 0 ? static_cast<std::size_t>(written) : 0;
    } else {
        std::memcpy(line, m_prefix, start);
    }
    std::size_t room = kLastTextIndex - start;  // characters of text that fit
    int formatted = std::vsnprintf(line + start, room + 1, format ? format : "", args);
    std::size_t text = formatted > 0 ? std::min<std::size_t>(static_cast<std::size_t>(formatted), room) : 0;
    line[start + text] = '\n';
    line[start + text + 1] = '\0';
    Output(line);
}

void CLumoDeb::TraceSysErr() {
    DWORD code = platform::GetLastError();
    std::string text = platform::systemMessage(code);
    if (!text.empty()) {
        text.resize(std::min(text.size(), kSysErrTextChars));
        Trace(1, "SYSERR(%Xh) %s", code, text.c_str());
    } else {
        Trace(1, "SYSERR(%Xh)", code);
    }
}

// ---------------------------------------------------------------------------
// CLumoDebNULL

CLumoDebNULL::~CLumoDebNULL() = default;

void CLumoDebNULL::Output(const char*) {}

// ---------------------------------------------------------------------------
// CLumoDebODS

CLumoDebODS::CLumoDebODS() { Trace(3, "** LumoDeb: open **"); }

CLumoDebODS::~CLumoDebODS() { Trace(3, "** LumoDeb: closed **"); }

void CLumoDebODS::Output(const char* line) {
    std::size_t length = std::strlen(line);
    while (::write(STDERR_FILENO, line, length) < 0 && errno == EINTR) {
    }
}

// ---------------------------------------------------------------------------
// CLumoDebMailslot

CLumoDebMailslot::CLumoDebMailslot() {
    CKcIni ini(gIniName, kSection);
    char target[80] = {};
    int messageSize = 128;
    ini.GetString("MailslotTarget", target, sizeof target, "*");
    ini.GetInt("MailslotMsgSize", &messageSize, 128);
    m_messageSize = static_cast<DWORD>(messageSize);
    std::string name = std::string("\\\\") + target + "\\mailslot\\LumoDebWin";
    auto mailslot = std::make_unique<platform::MailslotClient>(name);
    if (mailslot->isOpen()) {
        m_mailslot = std::move(mailslot);
    }
}

CLumoDebMailslot::~CLumoDebMailslot() = default;

void CLumoDebMailslot::Output(const char* line) {
    if (!m_mailslot) {
        return;
    }
    DWORD withTerminator = static_cast<DWORD>(std::strlen(line) + 1);
    m_mailslot->write(line, std::min(withTerminator, m_messageSize));
}

// ---------------------------------------------------------------------------
// CLumoDebWIN

namespace {

platform::HWND findViewerWindow() { return platform::FindWindow(CLumoDebWIN::kWindowClass, nullptr); }

bool isViewerWindow(platform::HWND window) { return platform::IsWindow(window); }

// One WM_COPYDATA with the line and its terminator. SMTO_BLOCK: a trace call
// never runs other messages sent to this thread's windows while it waits.
void sendToViewer(platform::HWND window, const char* line, DWORD bytes, DWORD timeoutMs) {
    platform::COPYDATASTRUCT data{0, bytes, const_cast<char*>(line)};
    platform::DWORD_PTR result = 0;
    platform::SendMessageTimeout(window, platform::WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                 platform::SMTO_BLOCK, timeoutMs, &result);
}

// Starts the viewer program and waits for its window; the process is left to run.
void startViewer(DWORD timeoutMs) {
    platform::Process viewer = platform::Process::start(CLumoDebWIN::kProgramName);
    if (viewer.valid()) {
        platform::waitUntilReady(viewer, CLumoDebWIN::kWindowClass, timeoutMs);
        viewer.release();
    }
}

}  // namespace

void CLumoDebWIN::SetSendTimeoutMs(DWORD timeoutMs) { gSendTimeoutMs = timeoutMs; }
void CLumoDebWIN::SetStartTimeoutMs(DWORD timeoutMs) { gStartTimeoutMs = timeoutMs; }

CLumoDebWIN::CLumoDebWIN() {
    m_window = findViewerWindow();
    if (m_window != 0) {
        return;
    }
    CKcIni ini(gIniName, kSection);
    int autoLoad = 0;
    ini.GetInt("LumoDebWinAutoLoad", &autoLoad, 0);
    m_autoLoad = static_cast<DWORD>(autoLoad);
    if (m_autoLoad != 0) {
        startViewer(gStartTimeoutMs);
        m_window = findViewerWindow();
    }
}

CLumoDebWIN::~CLumoDebWIN() { m_window = 0; }

void CLumoDebWIN::Output(const char* line) {
    platform::HWND window = m_window.load();
    if (window == 0 || !isViewerWindow(window)) {
        m_window = findViewerWindow();
        return;
    }
    sendToViewer(window, line, static_cast<DWORD>(std::strlen(line) + 1), gSendTimeoutMs);
}

// ---------------------------------------------------------------------------
// Creation

void LumoDebCreate(int kind) {
    LumoDebDestroy();
    if (kind == kLumoDebFromFile) {
        CKcIni ini(gIniName, kSection);
        int output = 0;
        ini.GetInt("Output", &output, 0);
        kind = output;
    }
    CLumoDeb* created = nullptr;
    try {
        switch (kind) {
        case kLumoDebDebugger:
            created = new CLumoDebODS;
            break;
        case kLumoDebWindow:
            created = new CLumoDebWIN;
            break;
        case kLumoDebMailslot:
            created = new CLumoDebMailslot;
            break;
        default:
            created = new CLumoDebNULL;
            break;
        }
    } catch (...) {
        created = nullptr;  // out of memory: the silent object stays
    }
    if (created != nullptr) {
        gpLumoDeb = created;
    }
}

void LumoDebDestroy() {
    CLumoDeb* present = gpLumoDeb;
    gpLumoDeb = &gSilent.sink;
    if (present != &gSilent.sink) {
        delete present;
    }
}

void LumoDebSetIniName(const char* fileName) {
    const char* name = fileName ? fileName : kDefaultIniName;
    std::snprintf(gIniName, sizeof gIniName, "%s", name);
}

const char* LumoDebIniName() { return gIniName; }

bool LumoDebIsCreated() { return gpLumoDeb != &gSilent.sink; }
