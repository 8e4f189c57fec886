#pragma once
// A stand-in for the PTZ box program's window in tests: published on the bus
// under the box's title, it keeps every record the PTZ panel sends it.

#include "platform/message_window.h"
#include "platform/types.h"

#include <vector>

namespace ptztest {

class FakeBox : public platform::MessageWindow {
public:
    struct Message {
        platform::ULONG_PTR kind;
        std::vector<BYTE> data;
    };
    std::vector<Message> messages;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == platform::WM_COPYDATA) {
            const auto* cds = reinterpret_cast<const platform::COPYDATASTRUCT*>(lParam);
            const auto* bytes = static_cast<const BYTE*>(cds->lpData);
            messages.push_back({cds->dwData, std::vector<BYTE>(bytes, bytes + cds->cbData)});
            return 1;
        }
        return MessageWindow::WindowProc(msg, wParam, lParam);
    }
};

}  // namespace ptztest
