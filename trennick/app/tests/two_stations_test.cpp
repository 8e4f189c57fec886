// Two recorder programs in separate processes on loopback: one listens, the
// other connects by /D and /C, logs in, chats, sends a file and disconnects; both close in
// order. Each child drives its program with a small script on its own loop.

#include "trennick/app/testing/app_test_support.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "common/kc_reg.h"
#include "common/product_registry.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/station/station_messages.h"
#include "trennick/ui/lcd_panel.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/book/addr_book_file.h"
#include "trennick/book/bc_wnd.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTimer>
#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

using namespace trennick;
using namespace apptest;

namespace {

class ChatRecorder : public LinkChatWindow {
public:
    void chatText(std::string_view text) override {
        std::lock_guard l(m_lock);
        m_texts.emplace_back(text);
    }
    void UpdateTitle(std::string_view) override {}
    bool has(const std::string& text) {
        std::lock_guard l(m_lock);
        for (const auto& t : m_texts) {
            if (t == text) return true;
        }
        return false;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_texts;
};

class ChatWindows : public LaterWindows {
public:
    LinkChatWindow* OpenChat(CMainFrame&) override {
        ++opened;
        return &chat;
    }
    ChatRecorder chat;
    int opened = 0;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// This station's business card and the switch that sends it on every call,
// as the settings editor stores them.
// A picture of the main window for the test's artefacts.
void screenshot(CMainFrame& frame, const char* name) {
    QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
    frame.grab().save(QString(VELMOOR_SCREENSHOT_DIR) + "/" + name + ".png");
}

constexpr const char* kFromCaller = "hello from the caller";
constexpr const char* kFromListener = "hello from the listener";

// args: role, own port, peer port, result file, the file the caller sends.
int runStation(const std::vector<std::string>& args) {
    const bool caller = args.at(0) == "caller";
    storeCard(caller ? "2" : "1", caller ? "Control Room" : "North Gate", caller ? "555-0102" : "555-0101");
    AnsweringUi ui;
    ChatWindows windows;
    AppServices services = quietServices(&ui);
    services.windows = &windows;
    std::vector<std::string> line = {"/NOSPLASH", "/I", caller ? "/U2" : "/U1", "/P=" + args.at(1)};
    if (caller) {
        line.push_back("/D=127.0.0.1:" + args.at(2));
        line.push_back("/C");
    }
    CKivApp app(line, "", services);

    int step = 0;
    std::string failure;
    std::string loginName;
    std::set<std::string> statusTexts;
    int maxLineMeter = 0;
    bool idleShot = false, callingShot = false, connectedShot = false;
    bool peerCardShown = false;  // the card window showed the peer's card during the call
    std::string listening;  // the language library's text, read while it is installed
    bool readySaid = false;
    QTimer script;
    script.setInterval(10);
    QObject::connect(&script, &QTimer::timeout, [&] {
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || !frame->PostCreateDone() || frame->IsDestroyed()) return;
        CPacketConnection& link = *frame->Connection();
        if (listening.empty()) listening = UiString(61303);
        statusTexts.insert(frame->StatusText());
        // The caller is started once this station listens.
        if (!caller && !readySaid && frame->StatusText() == listening) {
            std::ofstream(args.at(3) + ".ready") << "listening\n";
            readySaid = true;
        }
        maxLineMeter = std::max(maxLineMeter, frame->LcdPanel()->MeterLevel(LcdElement::LineMeter));
        if (link.IsConnected() && frame->HisCardShown() &&
            frame->HisCardWindow()->CaptionText().rfind(caller ? "North Gate" : "Control Room", 0) == 0) {
            peerCardShown = true;
        }
        if (!link.IsLinkUp() && !frame->StatusText().empty()) {
            if (!caller && !idleShot) {
                screenshot(*frame, "main_window_idle");
                idleShot = true;
            } else if (caller && !callingShot && link.IsConnecting()) {
                screenshot(*frame, "main_window_calling");
                callingShot = true;
            }
        }
        switch (step) {
        case 0:  // connected: the caller speaks first
            if (!link.IsConnected()) return;
            loginName = frame->LoginRecord().name;
            if (caller && link.SendChatString(kFromCaller) != 1) failure = "the caller's text was not written";
            step = 1;
            break;
        case 1:  // the peer's text arrived in the chat window the link asked for
            if (!windows.chat.has(caller ? kFromListener : kFromCaller)) return;
            if (!caller && link.SendChatString(kFromListener) != 1) failure = "the listener's text was not written";
            step = 2;
            break;
        case 2:  // the caller sends a file; the listener receives it whole
            if (caller) {
                if (!frame->SendFile(args.at(4), "")) failure = "file refused";
            }
            step = 3;
            break;
        case 3:
            if (caller) {
                if (frame->LastSendResult() == 0) return;
                if (frame->LastSendResult() != 6) failure = "send ended with " + std::to_string(frame->LastSendResult());
            } else {
                if (frame->LastReceivedFile().empty()) return;
                if (readAll(frame->LastReceivedFile()) != readAll(args.at(4))) failure = "received file differs";
            }
            step = 4;
            break;
        case 4:  // the caller hangs up; the listener sees the line go
            // Each station's card went once and the peer's arrived.
            if (frame->PeerCardName() != (caller ? "North Gate" : "Control Room")) return;
            if (!frame->CardSentThisConnection()) failure = "own card not sent";
            // The main window's card window showed the peer's card.
            if (!peerCardShown) {
                if (link.IsConnected()) return;
                failure = "the peer's card never showed in the card window";
            }
            {
                // The peer's card was filed in the address book (offscreen
                // nobody answers its dialog: it goes into the first group).
                CAddrBookFile book;
                book.SetFileName(frame->AddressBookPath(), 0);
                book.Load();
                const AddrBookEntry* filed = book.FindEntry(caller ? "North Gate" : "Control Room");
                if (filed == nullptr) return;
                if (filed->Phone() != (caller ? "555-0101" : "555-0102")) failure = "card filed with a wrong phone";
            }
            if (caller && !connectedShot) {
                frame->UpdateStatus();
                screenshot(*frame, "main_window_connected");
                connectedShot = true;
            }
            if (caller) {
                if (!frame->MakeDisconnect(kReasonAskDisconnect, 0)) failure = "disconnect refused";
                step = 5;
            } else if (!link.IsConnected()) {
                step = 5;
            }
            break;
        case 5:
            if (link.IsConnected()) return;
            // The card was the call's: it goes when the frame sees the call end
            // (a station whose card stays ends at the hang guard, step 5).
            if (frame->HisCardShown() || !frame->HisCardWindow()->CaptionText().empty()) return;
            platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
            step = 6;
            break;
        default:
            break;
        }
    });
    script.start();
    RunGuard hangGuard(60);
    const int code = app.Run();

    std::ofstream out(args.at(3));
    // The status line went through the link's states: listening, then the
    // peer's address while connected.
    bool sawPeer = false;
    for (const auto& t : statusTexts) sawPeer = sawPeer || t.find("TCP/IP") != std::string::npos;
    if (failure.empty() && !caller && (listening.empty() || statusTexts.count(listening) == 0)) {
        failure = "never showed \"" + listening + "\"";
    }
    if (failure.empty() && !sawPeer) failure = "never showed the peer's address";
    // The line meter moved while the file went over.
    if (failure.empty() && maxLineMeter == 0) failure = "the line meter never moved";
    out << "code=" << code << " step=" << step << " opened=" << windows.opened << " logins=" << ui.users.logins
        << " meter=" << maxLineMeter << " " << failure << "\n";
    if (code != 0 || step != 6 || windows.opened != 1 || !failure.empty()) return 10 + step;
    // A fresh home's administrator has no password: the call goes out as the
    // administrator without a dialog.
    if (caller && (ui.users.logins != 0 || loginName != "admin")) return 20;
    return 0;
}

}  // namespace

// Each station ends like the program does, with the leak checker's exit pass.
VELMOOR_TEST_CHILD(station) {
    return runStation(args);
}

TEST(TwoStations, ListenConnectLoginChatSendFileDisconnectAndClose) {
    const std::string listenerPort = std::to_string(nettest::freePort());
    const std::string callerPort = std::to_string(nettest::freePort());
    const auto dir = platform::homeFolder();
    const std::string listenerOut = (dir / ("listener-" + listenerPort)).string();
    const std::string callerOut = (dir / ("caller-" + callerPort)).string();
    // A file of many blocks with every byte value in it, large enough that
    // its transfer spans several of the window's status periods, when the
    // line meter is read, even as fast as the line takes it.
    const std::string sent = (dir / "outgoing.bin").string();
    {
        std::ofstream out(sent, std::ios::binary);
        for (int i = 0; i < 6000000; ++i) out.put(static_cast<char>((i * 7 + i / 251) & 0xFF));
    }
    auto listener = velmoor::testing::ChildProcess::start("station", {"listener", listenerPort, "", listenerOut, sent});
    // A call placed before the listener listens would be refused, and the
    // caller calls only once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(listenerOut + ".ready") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(std::filesystem::exists(listenerOut + ".ready")) << "the listener never listened";
    auto caller = velmoor::testing::ChildProcess::start("station", {"caller", callerPort, listenerPort, callerOut, sent});
    const int callerCode = caller.wait(std::chrono::seconds(90));
    const int listenerCode = listener.wait(std::chrono::seconds(30));
    auto report = [](const std::string& path) {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        return line;
    };
    EXPECT_EQ(callerCode, 0) << report(callerOut);
    EXPECT_EQ(listenerCode, 0) << report(listenerOut);
}
