#pragma once
// The trace facility: one trace object per module (program or shared library),
// reached through the global pointer gpLumoDeb.
//
// Which subclass is built decides where lines go: nowhere (CLumoDebNULL), to the
// debugger output, which is standard error here (CLumoDebODS), to the window of
// the trace viewer program over the local bus (CLumoDebWIN), or to the mailslot
// "LumoDebWin" (CLumoDebMailslot). Output, level, prefix and thread-id flag come
// from section "LumoDeb" of the trace configuration file (default
// "LUMODEBWIN.INI" in the Windows folder), read once when the object is built.
//
// Use from every component:
//
//     LUMO_TRACE(3, "[I] opened %s", name);      // or gpLumoDeb->Trace(3, ...)
//     LUMO_TRACE_SYSERR();                        // the thread's last error, level 1
//
// gpLumoDeb is never null: before LumoDebCreate and after LumoDebDestroy it
// points to a silent object, so tracing at those times is harmless. Trace,
// TraceSysErr and IsLevelOn may be called from any thread at once; each line is
// built in the caller's own buffer and handed to the output in one system call.
// SetLevel and SetPrefix may be called at any time; a line traced at the moment
// the prefix changes may carry part of the old one, never more than 31 characters.
// LumoDebCreate, LumoDebDestroy and LumoDebSetIniName belong to start-up and
// shut-down, while no other thread traces. A trace never fails towards its
// caller and keeps the caller's errno and last error; the viewer window output
// waits at most CLumoDebWIN's send time-out for a viewer that does not answer.

#include "platform/message_window.h"
#include "platform/types.h"

#include <atomic>
#include <cstdarg>
#include <memory>
#include <mutex>

namespace platform {
class MailslotClient;
}

class CLumoDeb {
public:
    // Reads level, prefix and thread-id flag from the trace configuration file.
    CLumoDeb();
    virtual ~CLumoDeb();
    CLumoDeb(const CLumoDeb&) = delete;
    CLumoDeb& operator=(const CLumoDeb&) = delete;

    // Keeps the first 31 characters of the text (a null text clears the prefix).
    virtual void SetPrefix(const char* text);
    // Stores a level of 0 to 5 (a negative one is refused); returns the previous level.
    virtual DWORD SetLevel(int level);
    // Hands one finished line (with its line end) to the output.
    virtual void Output(const char* line);
    // Writes "<thread id>.<prefix><text>\n" when the level is on; the line is at
    // most 2046 characters, longer text is cut.
    virtual void Trace(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Traces the calling thread's last error with its message text at level 1.
    virtual void TraceSysErr();
    // Whether a line of that level is written.
    virtual BOOL IsLevelOn(int level);

    static constexpr std::size_t kLineBytes = 2048;
    static constexpr std::size_t kPrefixBytes = 32;

    // Tag of the silent object's constructor.
    struct Silent {};

protected:
    // The silent object behind gpLumoDeb while no trace object exists: level 0,
    // no prefix, reads no file.
    explicit constexpr CLumoDeb(Silent) : m_level(0) {}

    std::atomic<DWORD> m_level{5};
    char m_prefix[kPrefixBytes] = {};
    DWORD m_prefixLength = 0;
    DWORD m_threadIdFlag = 0;

private:
    void traceArgs(const char* format, va_list args);
};

// Writes nothing.
class CLumoDebNULL : public CLumoDeb {
public:
    CLumoDebNULL() = default;
    ~CLumoDebNULL() override;
    void Output(const char* line) override;

protected:
    explicit constexpr CLumoDebNULL(Silent silent) : CLumoDeb(silent) {}
    friend union LumoDebSilentHolder;
};

// Writes each line to standard error (the debugger output), with the banners
// "** LumoDeb: open **" and "** LumoDeb: closed **" at level 3.
class CLumoDebODS : public CLumoDeb {
public:
    CLumoDebODS();
    ~CLumoDebODS() override;
    void Output(const char* line) override;
};

// Writes each line as one message of the mailslot `\\<MailslotTarget>\mailslot\LumoDebWin`:
// the line with its terminator when that fits in the message size, else the
// line cut to the message size. An open that fails is not retried.
class CLumoDebMailslot : public CLumoDeb {
public:
    CLumoDebMailslot();
    ~CLumoDebMailslot() override;
    void Output(const char* line) override;

private:
    std::unique_ptr<platform::MailslotClient> m_mailslot;  // null when not open
    DWORD m_messageSize = 128;
};

// Sends each line (with its terminator) by WM_COPYDATA to the window of class
// "LUMODEBWIN-CLASS" on the local bus. When the window is missing at
// construction and "LumoDebWinAutoLoad" is set, starts the viewer program
// "LumoDebWin" (found beside the running program, then on PATH) and waits for its
// window. A line finding no window is dropped and the window is looked up again;
// a viewer that does not take a line within the send time-out loses that line.
class CLumoDebWIN : public CLumoDeb {
public:
    CLumoDebWIN();
    ~CLumoDebWIN() override;
    void Output(const char* line) override;

    static constexpr const char* kWindowClass = "LUMODEBWIN-CLASS";
    static constexpr const char* kProgramName = "LumoDebWin";
    // How long one line waits for the viewer to take it (default 2000 ms), and
    // how long the constructor waits for a started viewer's window (2000 ms).
    static void SetSendTimeoutMs(DWORD timeoutMs);
    static void SetStartTimeoutMs(DWORD timeoutMs);

private:
    std::atomic<platform::HWND> m_window{0};  // the viewer's window, 0 when none
    DWORD m_autoLoad = 0;
};

// The module's trace object; never null (see above).
extern CLumoDeb* gpLumoDeb;

// Output kinds of LumoDebCreate.
enum : int {
    kLumoDebNone = 0,
    kLumoDebDebugger = 1,
    kLumoDebWindow = 2,
    kLumoDebMailslot = 5,
    kLumoDebFromFile = 6,  // the "Output" value of the configuration file
};

// Destroys the present trace object, then builds the one of that kind (6: the
// kind the configuration file names; 1, 2, 5 as above; any other: no output).
void LumoDebCreate(int kind);
// Deletes the trace object; gpLumoDeb points to the silent object again.
void LumoDebDestroy();
// Replaces the configuration file name used by the next LumoDebCreate (at most
// 259 characters; a bare name lies in the Windows folder; null restores
// "LUMODEBWIN.INI").
void LumoDebSetIniName(const char* fileName);
const char* LumoDebIniName();
// True while a trace object built by LumoDebCreate is in place.
bool LumoDebIsCreated();

#define LUMO_TRACE(level, ...) (gpLumoDeb->Trace((level), __VA_ARGS__))
#define LUMO_TRACE_SYSERR() (gpLumoDeb->TraceSysErr())
