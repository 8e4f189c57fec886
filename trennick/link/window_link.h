#pragma once
// The owner window of a link as a platform message window: posted notices are
// queued on the window's thread; sent ones wait for its answer.

#include "platform/message_window.h"
#include "trennick/link/link_host.h"

namespace trennick {

// Any thread. A handle that is no longer a window makes posts and sends fail
// silently (the link relies on no result).
class MessageWindowLink : public LinkWindow {
public:
    explicit MessageWindowLink(platform::HWND window) : m_window(window) {}
    void postMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        platform::PostMessage(m_window, message, wParam, lParam);
    }
    LRESULT sendMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        return platform::SendMessage(m_window, message, wParam, lParam);
    }
    void postData(UINT message, WPARAM wParam, std::unique_ptr<platform::PostedData> data) override {
        platform::PostMessageData(m_window, message, wParam, std::move(data));
    }

private:
    platform::HWND m_window;
};

}  // namespace trennick
