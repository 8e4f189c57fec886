#pragma once
// The engine library's start-up and shut-down and the error report of the event
// explorer's user-interface thread (CMxException). The plain button class
// (CMxNfsBtn) is in the window library (tavicore/ui/ui_button.h).

#include "platform/types.h"
#include "tavicore/tavicore_api.h"

#include <string>

inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;

// The library's entry point. The program calls it with DLL_PROCESS_ATTACH once
// its home folder is settled (before any other engine call) and with
// DLL_PROCESS_DETACH at its end: attach records the library's version under
// "Tavicore", builds the library's trace object from the trace configuration
// and sets its prefix "Tavicore: "; detach destroys the trace object. Always 1.
// (A load-time constructor cannot do this: the library is loaded before the
// program has chosen its home folder.)
extern "C" TAVICORE_API BOOL TavicoreDllMain(DWORD reason);

// A library built on the engine (its window library) joins the engine's start-up
// while it is loaded: `hook` runs with DLL_PROCESS_ATTACH after the engine's own
// attach and with DLL_PROCESS_DETACH before the engine's own detach, so the
// joined library builds and destroys its trace object with the engine's. Called
// from load-time constructors, before any TavicoreDllMain; at most 4 hooks.
extern "C" TAVICORE_API void TavicoreJoinStartup(void (*hook)(DWORD reason));

// The error report of a user-interface thread: keeps the last error code and
// sends "MxException <text>" to the trace viewer's window when one runs. One
// object per thread; Report never fails.
class TAVICORE_API CMxException {
public:
    static constexpr int kFirstCode = 200;
    static constexpr int kLastCode = 213;

    CMxException();
    virtual ~CMxException();

    // Builds the report text of `code` (an empty text for a code outside 200 to
    // 213), stores the code and sends the text with its terminator to the window
    // of class "LUMODEBWIN-CLASS" when it exists; returns 1.
    int Report(int code);
    int LastCode() const { return static_cast<int>(m_code); }
    // The report text of `code` ("MxException " followed by the code's text).
    std::string ReportText(int code) const;

private:
    DWORD m_code = 0;
    const char* m_texts[kLastCode - kFirstCode + 1];
};
