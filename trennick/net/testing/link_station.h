#pragma once
// A TCP link station for tests: the link with a recording owner window and
// chat window, driven as the main frame drives it (a read pass, a hello when a
// call comes up, a disconnect when the pass reports a lost line, listening
// again when the link is down and the station is a listener).

#include "trennick/net/inet_connection.h"

#include "trennick/net/testing/net_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace nettest {

using namespace trennick;

struct Notice {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class RecordingWindow : public LinkWindow {
public:
    void postMessage(UINT m, WPARAM w, LPARAM l) override {
        std::lock_guard lock(m_lock);
        m_notices.push_back({m, w, l});
    }
    LRESULT sendMessage(UINT m, WPARAM w, LPARAM l) override {
        postMessage(m, w, l);
        return 0;
    }
    void postData(UINT m, WPARAM w, std::unique_ptr<platform::PostedData>) override { postMessage(m, w, 0); }
    int count(UINT message, WPARAM wParam) {
        std::lock_guard lock(m_lock);
        int n = 0;
        for (const auto& x : m_notices) n += x.message == message && x.wParam == wParam;
        return n;
    }

private:
    std::mutex m_lock;
    std::vector<Notice> m_notices;
};

class RecordingChat : public LinkChatWindow {
public:
    void chatText(std::string_view text) override { texts.emplace_back(text); }
    void UpdateTitle(std::string_view) override {}
    std::vector<std::string> texts;
};

inline LinkServices servicesFor(LinkWindow* window, LinkClock clock = {}) {
    LinkServices services;
    services.window = window;
    services.clock = std::move(clock);
    services.settings = LinkSettings{};
    return services;
}

struct Station {
    RecordingWindow window;
    RecordingChat chat;
    CommsSettingsRecord comms{};
    bool listener;
    CInetConnection link;
    int callsUp = 0;
    int drops = 0;
    LONG lastDrop = 0;  // -4: the peer said "<Disconnect>" or the read failed; -5: line lost

    Station(bool isListener, WORD listenPort, LinkClock clock = {})
        : listener(isListener),
          link(servicesFor(&window, std::move(clock)), InetOptions{std::to_string(listenPort), "", nullptr}) {
        comms.ListenAfterDisconnect = isListener ? 1 : 0;
        link.SetCommsSettings(&comms);
        link.SetChatWindow(&chat);
    }

    bool open() {
        if (!link.ConnectToLan()) return false;
        return !listener || link.SetListenOn(0) == 1;
    }

    // One pass of the main frame's loop; returns TimeToRead's result.
    LONG pass() {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        const LONG r = link.TimeToRead();
        if (r == -3) {
            ++callsUp;
            EXPECT_NE(link.SendHello(), 0) << "the hello was not written";
        } else if (r == -4 || r == -5) {
            // As the main frame's clean-up does: drop and stay off; a
            // listener listens again below.
            ++drops;
            lastDrop = r;
            link.SetNotConnected(TRUE);
        }
        if (listener && link.IsLinkDown()) link.SetListenOn(0);
        return r;
    }

    // Runs passes until `done`; false when the guard ran out.
    template <typename F>
    bool runUntil(F done, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + guard;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            pass();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};

}  // namespace nettest
