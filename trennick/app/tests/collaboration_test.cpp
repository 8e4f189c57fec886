// Two recorder programs in separate processes on loopback, each in a home of
// its own: the caller queues files in its transfer window and sends its
// clipboard; both chat through their chat windows, the listener capturing.
// The files arrive whole and listed in the histories, the clipboard's text
// and picture land on the listener's clipboard, and the capture file holds
// the conversation.

#include "trennick/app/testing/app_test_support.h"
#include "platform/testing/child_process.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/frame_panels.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/panels/chat_wnd.h"
#include "trennick/panels/file_transfer_wnd.h"
#include "trennick/panels/w95_list_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace trennick;
using namespace apptest;

namespace {

constexpr const char* kClipText = "Gate 4 opened at 02:10";
constexpr const char* kCallerLine = "is the gate closed?";
constexpr const char* kListenerLine = "closed and locked";

int lineCount(const std::string& path) {
    const std::string text = readAll(path);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

QImage picture() {
    QImage image(40, 24, QImage::Format_RGB32);
    image.fill(QColor(20, 60, 200));
    image.setPixelColor(5, 6, QColor(255, 255, 0));
    return image;
}

std::filesystem::path sharedFolder() { return std::filesystem::path(std::getenv("VELMOOR_HOME")); }

// args: role, own port, peer port, result file.
int runStation(const std::vector<std::string>& args) {
    const bool caller = args.at(0) == "caller";
    const std::filesystem::path shared = sharedFolder();
    const std::filesystem::path home = shared / args.at(0);
    std::filesystem::create_directories(home);
    ::setenv("VELMOOR_HOME", home.c_str(), 1);
    AnsweringUi ui;
    AppServices services = quietServices(&ui);
    std::vector<std::string> line = {"/NOSPLASH", "/I", caller ? "/U2" : "/U1", "/P=" + args.at(1)};
    if (caller) {
        line.push_back("/D=127.0.0.1:" + args.at(2));
        line.push_back("/C");
    }
    CKivApp app(line, "", services);
    int step = 0;
    std::string failure;
    QTimer script;
    script.setInterval(10);
    QObject::connect(&script, &QTimer::timeout, [&] {
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || !frame->PostCreateDone() || frame->IsDestroyed()) return;
        CPacketConnection& link = *frame->Connection();
        if (!caller && step == 0 && link.IsListeningFor(2)) std::ofstream(args.at(3) + ".ready") << "listening\n";
        CFramePanels& panels = *frame->Panels();
        const auto& caldrin = frame->Settings().caldrin;
        switch (step) {
        case 0:
            if (!link.IsConnected()) return;
            if (caller) {
                for (int i = 0; i < 3; ++i) {
                    const auto path = home / "outgoing" / ("report" + std::to_string(i) + ".bin");
                    std::filesystem::create_directories(path.parent_path());
                    std::ofstream(path, std::ios::binary) << std::string(300000 + i, static_cast<char>('a' + i));
                    if (!frame->SendFile(path.string(), "")) failure = "not queued";
                }
                auto* data = new QMimeData;
                data->setText(kClipText);
                data->setImageData(picture());
                QApplication::clipboard()->setMimeData(data);
                panels.TransferWindow()->OnCommand(ID_FT_SEND_CLIPBOARD);
                frame->OnOpenChat(CMainFrame::ChatOpener::User);
                panels.Chat()->Input().setText(kCallerLine);
                panels.Chat()->SendInput();
            }
            step = 1;
            break;
        case 1:
            if (caller) {
                // Everything went out: the queue is empty and the peer answered.
                CFileTransfer* window = panels.TransferWindow();
                if (window == nullptr || window->Queue().GetItemCount() != 0 || lineCount(caldrin.sentFile) < 3) return;
                if (panels.Chat()->Conversation().find(std::string("<< ") + kListenerLine) == std::string::npos) return;
                window->showNormal();
                uitest::saveScreenshot(window, "collaboration_transfer_window");
                uitest::saveScreenshot(panels.Chat(), "collaboration_chat_caller");
                if (!std::filesystem::is_empty(std::filesystem::path(caldrin.HomeDir) / "Temp")) {
                    failure = "clipboard files left in Temp";
                }
                frame->MakeDisconnect(kReasonAskDisconnect, 0);
            } else {
                if (lineCount(caldrin.receivedFile) < 3) return;
                const QMimeData* data = QApplication::clipboard()->mimeData();
                if (data == nullptr || data->text() != kClipText || !data->hasImage()) return;
                CChat* chat = panels.Chat();
                if (chat == nullptr || chat->Conversation().find(kCallerLine) == std::string::npos) return;
                const QImage image = qvariant_cast<QImage>(data->imageData());
                if (image.size() != picture().size() || image.pixelColor(5, 6) != QColor(255, 255, 0)) {
                    failure = "the picture differs";
                }
                for (int i = 0; i < 3; ++i) {
                    const auto path = std::filesystem::path(caldrin.RecDir) / ("report" + std::to_string(i) + ".bin");
                    if (readAll(path) != std::string(300000 + i, static_cast<char>('a' + i))) failure = "file differs";
                }
                if (!chat->StartCapture((home / "chat.txt").string())) failure = "no capture";
                chat->Input().setText(kListenerLine);
                chat->SendInput();
                uitest::saveScreenshot(chat, "collaboration_chat_listener");
                uitest::saveScreenshot(panels.TransferWindow(), "collaboration_transfer_received");
                const std::string captured = readAll(home / "chat.txt");
                if (captured.find(std::string("<< ") + kCallerLine) == std::string::npos ||
                    captured.find(std::string(">> ") + kListenerLine) == std::string::npos) {
                    failure = "capture: " + captured;
                }
            }
            step = 2;
            break;
        case 2:
            if (link.IsConnected()) return;
            platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
            step = 3;
            break;
        default:
            break;
        }
    });
    script.start();
    RunGuard hangGuard(90);
    const int code = app.Run();
    std::ofstream(args.at(3)) << "code=" << code << " step=" << step << " " << failure << "\n";
    if (code != 0 || step != 3 || !failure.empty()) return 10 + step;
    return 0;
}

}  // namespace

VELMOOR_TEST_CHILD(collaborating_station) {
    return runStation(args);
}

TEST(Collaboration, QueuedFilesClipboardAndChatTravelBetweenTwoPrograms) {
    const std::string listenerPort = std::to_string(nettest::freePort());
    const std::string callerPort = std::to_string(nettest::freePort());
    const auto dir = sharedFolder();
    const std::string listenerOut = (dir / "listener.result").string();
    const std::string callerOut = (dir / "caller.result").string();
    auto listener = velmoor::testing::ChildProcess::start("collaborating_station",
                                                          {"listener", listenerPort, "", listenerOut});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(listenerOut + ".ready") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(std::filesystem::exists(listenerOut + ".ready")) << "the listener never listened";
    auto caller = velmoor::testing::ChildProcess::start("collaborating_station",
                                                        {"caller", callerPort, listenerPort, callerOut});
    const int callerCode = caller.wait(std::chrono::seconds(120));
    const int listenerCode = listener.wait(std::chrono::seconds(60));
    EXPECT_EQ(callerCode, 0) << readAll(callerOut);
    EXPECT_EQ(listenerCode, 0) << readAll(listenerOut);
}
