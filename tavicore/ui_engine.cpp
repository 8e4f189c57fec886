#include "tavicore/ui_engine.h"

#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "platform/local_bus.h"
#include "platform/message_window.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr const char* kThreadErrorTexts[] = {
    "ERR: Ok",
    "ERR: Failed to create ThreadFunc",
    "ERR: Failed to create 'Message Queue' of the thread",
    "ERR: Fatal error Getmessage returned (-1)",
    "ERR: Failed to init the thread",
    "ERR: SendMessageTimeout() failed",
    "ERR: System error could be retrieved by GetLastError()",
    "ERR: Timeout on termination event",
    "ERR: Main window is not exist",
    "ERR: WM_CLOSE was send but the thread was not terminated",
    "ERR: Brutal termination by calling TerminateThread()",
    "ERR: Array Range Exceeded",
    "ERR: WM_QUIT message was posted but the thread was not terminated",
    "ERR: WM_QUIT message was received",
};
static_assert(std::size(kThreadErrorTexts) == CMxException::kLastCode - CMxException::kFirstCode + 1);

using StartupHook = void (*)(DWORD reason);
constexpr std::size_t kMaxStartupHooks = 4;
StartupHook gStartupHooks[kMaxStartupHooks] = {};
std::size_t gStartupHookCount = 0;

}  // namespace

extern "C" void TavicoreJoinStartup(void (*hook)(DWORD reason)) {
    if (hook != nullptr && gStartupHookCount < kMaxStartupHooks) {
        gStartupHooks[gStartupHookCount++] = hook;
    }
}

extern "C" BOOL TavicoreDllMain(DWORD reason) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        RecordModuleVersion("Tavicore", reinterpret_cast<const void*>(&TavicoreDllMain));
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("Tavicore: ");
        LUMO_TRACE(5, "Tavicore started ....");
        for (std::size_t i = 0; i < gStartupHookCount; ++i) {
            gStartupHooks[i](reason);
        }
        break;
    case DLL_PROCESS_DETACH:
        for (std::size_t i = gStartupHookCount; i > 0; --i) {
            gStartupHooks[i - 1](reason);
        }
        LumoDebDestroy();
        break;
    default:
        break;
    }
    return 1;
}

CMxException::CMxException() {
    std::copy(std::begin(kThreadErrorTexts), std::end(kThreadErrorTexts), m_texts);
}

CMxException::~CMxException() = default;

std::string CMxException::ReportText(int code) const {
    std::string text = "MxException ";
    if (code >= kFirstCode && code <= kLastCode) {
        text += m_texts[code - kFirstCode];
    }
    return text;
}

int CMxException::Report(int code) {
    const std::string text = ReportText(code);
    m_code = static_cast<DWORD>(code);
    const platform::HWND viewer = platform::FindWindow("LUMODEBWIN-CLASS", nullptr);
    if (viewer != 0) {
        platform::COPYDATASTRUCT data{0, static_cast<DWORD>(text.size() + 1),
                                      const_cast<char*>(text.c_str())};
        platform::SendMessage(viewer, platform::WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    }
    return 1;
}
