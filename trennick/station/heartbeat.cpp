#include "trennick/station/heartbeat.h"

#include "common/lumo_deb.h"
#include "platform/local_bus.h"

#include <string>

namespace trennick {

bool NotifyShell(const char* text, platform::HWND sender) {
    const platform::HWND watchdog = platform::FindWindow(kWatchdogClass, nullptr);
    if (watchdog == 0) return false;
    std::string buffer = text != nullptr ? text : "";
    platform::COPYDATASTRUCT data{0, static_cast<DWORD>(buffer.size() + 1), buffer.data()};
    platform::DWORD_PTR answer = 0;
    if (platform::SendMessageTimeout(watchdog, platform::WM_COPYDATA, sender, reinterpret_cast<LPARAM>(&data),
                                     platform::SMTO_BLOCK | platform::SMTO_ABORTIFHUNG, kHeartbeatSendTimeoutMs,
                                     &answer) == 0) {
        LUMO_TRACE(3, "NotifyShell() the watchdog did not take \"%s\" in time", buffer.c_str());
        return false;
    }
    return true;
}

}  // namespace trennick
