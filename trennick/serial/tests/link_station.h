#pragma once
// A station of the serial tests: the modem link with the owner window the
// main loop serves, and a loop that runs passes of several stations until a
// condition holds or a guard time runs out. Used on the test's thread.

#include "trennick/link/testing/link_fakes.h"
#include "trennick/serial/modem_connection.h"

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

namespace serialtest {

struct LinkStation {
    // `line` names the telephony or direct line; without one the link drives
    // its modem script (the test sets the line settings itself).
    explicit LinkStation(int seed, const char* line = nullptr) {
        host.seed = seed;
        identity.guid = "{0B000000-0000-4000-8000-00000000000" + std::to_string(seed) + "}";
        link = std::make_unique<trennick::CModemConnection>(
            trennick::LinkServices{&window, &host, &identity, {}, trennick::LinkSettings{}, 200000, {}}, line != nullptr);
        if (line != nullptr) {
            trennick::ModemLineSettings s;
            s.TapiLine = line;
            link->SetModemLineSettings(s);
        }
    }
    // One pass of the main loop: the link reads, and a link that came up gets
    // this station's hello.
    void pass() {
        link->TimeToRead();
        const int ups = window.count(trennick::kMsgLinkUp);
        if (ups > upsSeen) {
            upsSeen = ups;
            EXPECT_NE(link->SendHello(), 0);
            EXPECT_NE(link->SendSiteInfo(), 0);
        }
    }
    bool posted(UINT message, WPARAM w) const {
        for (const auto& p : window.messages) {
            if (p.message == message && p.wParam == w) return true;
        }
        return false;
    }
    linktest::FakeWindow window;
    linktest::FakeHost host;
    linktest::FakeIdentity identity;
    std::unique_ptr<trennick::CModemConnection> link;
    int upsSeen = 0;
};

// Runs passes of every station until `done` or the guard time.
inline bool runUntil(std::initializer_list<LinkStation*> stations, const std::function<bool()>& done,
                     int seconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        for (LinkStation* s : stations) s->pass();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace serialtest
