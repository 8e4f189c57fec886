// The file transfer window over a real link: two stations in this process on
// loopback, each with its window, driven pass by pass.

#include "panels_test_support.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/link/file_transfer.h"
#include "trennick/panels/file_history_dlg.h"
#include "trennick/panels/file_transfer_wnd.h"
#include "trennick/panels/w95_list_view.h"
#include "trennick/panels/w95_status_bar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>

using namespace trennick;
using namespace panelstest;
using nettest::Station;

namespace {

struct Pair {
    WORD port = nettest::freePort();
    Station listener{true, port};
    Station caller{false, nettest::freePort()};
    TestHost listenerHost{"listener"};
    TestHost callerHost{"caller"};
    std::unique_ptr<CFileTransfer> listenerWindow;
    std::unique_ptr<CFileTransfer> callerWindow;

    void open() {
        ASSERT_TRUE(listener.open());
        ASSERT_TRUE(caller.open());
        listener.link.SetReceiveFolders(listenerHost.settings.receiveFolder.c_str(),
                                        listenerHost.settings.receiveFolder.c_str());
        caller.link.SetReceiveFolders(callerHost.settings.receiveFolder.c_str(),
                                      callerHost.settings.receiveFolder.c_str());
        const std::string address = "127.0.0.1:" + std::to_string(port);
        caller.link.ConnectToRemote(address.c_str(), "listener");
        ASSERT_TRUE(run([&] { return caller.link.IsConnected() && listener.link.IsConnected(); }));
        callerWindow = std::make_unique<CFileTransfer>(callerHost, caller.link);
        listenerWindow = std::make_unique<CFileTransfer>(listenerHost, listener.link);
        ASSERT_TRUE(callerWindow->CreateWnd(false));
        ASSERT_TRUE(listenerWindow->CreateWnd(false));
    }
    // One loop pass of each station: the link's read, then the window's step.
    template <typename F>
    bool run(F done, std::chrono::seconds guard = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + guard;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            for (auto* s : {&caller, &listener}) {
                const LONG read = s->pass();
                if (!s->link.IsConnected()) continue;
                s->link.ProcessSending();
                CFileTransfer* window = s == &caller ? callerWindow.get() : listenerWindow.get();
                if (window != nullptr) window->OnTransferStatus(read);
            }
        }
        return true;
    }
};

}  // namespace

TEST(SendType, FollowsTheTypeText) {
    struct Case {
        const char* text;
        LONG type;
    };
    constexpr Case kCases[] = {
        {"Clipboard File", kFileKindClipboard}, {"Event File", 1}, {"Event List", 2}, {"Set List", 3},
        {"Set Sys List", 4}, {"PNG image", 0}, {"", 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SendTypeOfText(c.text), c.type);
    }
    EXPECT_NE(announcementToken(kFileKindClipboard, true), announcementToken(1, true));
}

// A queue of three files goes out one after the other with progress; each
// lands whole, both histories get their lines, and the window hides once the
// queue is empty.
TEST(FileTransferWindow, QueueOfFilesIsSentWithProgressAndHistory) {
    uitest::installLanguage();
    Pair p;
    ASSERT_NO_FATAL_FAILURE(p.open());
    const auto outgoing = platform::homeFolder() / "outgoing";
    std::vector<std::string> contents;
    std::string list;
    for (int i = 0; i < 3; ++i) {
        std::string bytes(400000 + i * 1000, '\0');
        for (std::size_t b = 0; b < bytes.size(); ++b) bytes[b] = static_cast<char>((b * 7 + i) & 0xFF);
        contents.push_back(bytes);
        const auto path = outgoing / ("report" + std::to_string(i) + ".bin");
        writeFile(path, bytes);
        list += (i ? "," : "") + path.string();
    }
    p.callerWindow->AddFilesToQueue(list, "");
    ASSERT_EQ(p.callerWindow->Queue().GetItemCount(), 3);

    bool sawProgress = false, shot = false;
    ASSERT_TRUE(p.run([&] {
        if (p.callerWindow->StatusBar().Gauge(false).isVisible() && p.callerWindow->TransferActive()) {
            sawProgress = true;
            if (!shot && p.callerWindow->StatusBar().Gauge(false).GetPos() > 0) {
                uitest::saveScreenshot(p.callerWindow.get(), "file_transfer_sending");
                shot = true;
            }
        }
        return p.callerHost.ended.size() == 3 && p.listenerHost.arrived.size() == 3;
    }, std::chrono::seconds(60))) << "ended " << p.callerHost.ended.size() << ", arrived "
                                   << p.listenerHost.arrived.size() << ", queued "
                                   << p.callerWindow->Queue().GetItemCount();
    EXPECT_TRUE(sawProgress);
    for (LONG state : p.callerHost.ended) EXPECT_EQ(state, 6);
    for (int i = 0; i < 3; ++i) {
        const auto received = std::filesystem::path(p.listenerHost.settings.receiveFolder) /
                              ("report" + std::to_string(i) + ".bin");
        EXPECT_EQ(readAll(received), contents[static_cast<std::size_t>(i)]) << received;
    }
    EXPECT_EQ(p.callerWindow->Queue().GetItemCount(), 0);
    EXPECT_FALSE(p.callerWindow->isVisible()) << "the window hides once its queue went out";
    EXPECT_FALSE(p.callerWindow->StatusBar().Gauge(false).isVisible());

    // Three lines in each history, with the path and the type name.
    auto lines = [](const std::string& file) {
        std::vector<HistoryLine> out;
        std::istringstream in(readAll(file));
        std::string text;
        while (std::getline(in, text)) {
            HistoryLine line;
            if (ParseHistoryLine(text, line)) out.push_back(line);
        }
        return out;
    };
    const auto sent = lines(p.callerHost.settings.sentFile);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].path, (outgoing / "report0.bin").string());
    EXPECT_FALSE(sent[0].type.empty());
    EXPECT_FALSE(sent[0].stamp.empty());
    EXPECT_EQ(lines(p.listenerHost.settings.receivedFile).size(), 3u);

    // The history dialog lists them; removing all leaves an empty history and
    // greys the history command.
    p.callerWindow->showNormal();
    p.callerWindow->OnCommand(ID_FT_SENT_HISTORY);
    CFileHistory* history = p.callerWindow->History();
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(history->List().GetItemCount(), 3);
    uitest::saveScreenshot(history, "file_history_sent");
    history->List().selectAll();
    history->OnCommand(ID_HIST_REMOVE);
    EXPECT_EQ(history->List().GetItemCount(), 0);
    history->OnCommand(ID_HIST_CLOSE);
    EXPECT_EQ(readAll(p.callerHost.settings.sentFile), "");
    EXPECT_FALSE(p.callerWindow->IsCommandEnabled(ID_FT_SENT_HISTORY));
    EXPECT_TRUE(p.listenerWindow->IsCommandEnabled(ID_FT_RECEIVED_HISTORY));
}

// A file that arrives while the history dialog is open keeps its line when
// the dialog closes; the line the operator removed goes.
TEST(FileTransferWindow, HistoryDialogKeepsLinesThatArriveWhileItIsOpen) {
    Pair p;
    ASSERT_NO_FATAL_FAILURE(p.open());
    const std::string history = p.listenerHost.settings.receivedFile;
    writeFile(history, "/in/old.txt;Text;caller;1.2.2026  10:00\r\n/in/kept.txt;Text;caller;1.2.2026  10:01\r\n");
    p.listenerWindow->showNormal();
    p.listenerWindow->OnCommand(ID_FT_RECEIVED_HISTORY);
    CFileHistory* dialog = p.listenerWindow->History();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->List().GetItemCount(), 2);
    dialog->List().SelectItem(0);
    dialog->OnCommand(ID_HIST_REMOVE);

    const auto path = platform::homeFolder() / "outgoing" / "arrives.bin";
    writeFile(path, std::string(3000, 'a'));
    p.callerWindow->AddFilesToQueue(path.string(), "");
    ASSERT_TRUE(p.run([&] { return p.listenerHost.arrived.size() == 1; }));
    dialog->OnCommand(ID_HIST_CLOSE);

    std::vector<std::string> paths;
    std::istringstream in(readAll(history));
    for (std::string text; std::getline(in, text);) {
        HistoryLine line;
        if (ParseHistoryLine(text, line)) paths.push_back(line.path);
    }
    const auto received = std::filesystem::path(p.listenerHost.settings.receiveFolder) / "arrives.bin";
    EXPECT_EQ(paths, (std::vector<std::string>{"/in/kept.txt", received.string()}));
}

// A packed-bitmap clipboard file from the peer that is shorter than a bitmap
// header arrives and is not put on the clipboard; it is never read past its
// end.
TEST(FileTransferWindow, AShortPackedBitmapFromThePeerIsNotPutOnTheClipboard) {
    Pair p;
    ASSERT_NO_FATAL_FAILURE(p.open());
    QApplication::clipboard()->setText("held");
    for (const std::size_t size : {std::size_t(4), std::size_t(39)}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        bytes[0] = 40;  // a bitmap-info header's size, then too little of it
        const auto path = platform::homeFolder() / ("short" + std::to_string(size)) / "DIB.clp";
        writeFile(path, bytes);
        const std::size_t before = p.listenerHost.arrived.size();
        p.callerWindow->AddFileToQueue(path.string(), kTypeClipboardFile, true);
        ASSERT_TRUE(p.run([&] { return p.listenerHost.arrived.size() == before + 1; }));
        EXPECT_EQ(readAll(p.listenerHost.arrived.back()), bytes);
        EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "held");
    }
}

// A file the window takes from its queue is opened and announced in that
// same step, not one loop pass later.
TEST(FileTransferWindow, AFileTakenFromTheQueueIsAnnouncedInTheSameStep) {
    uitest::installLanguage();
    Pair p;
    ASSERT_NO_FATAL_FAILURE(p.open());
    const auto path = platform::homeFolder() / "outgoing" / "now.bin";
    writeFile(path, std::string(5000, 'x'));
    p.callerWindow->AddFilesToQueue(path.string(), "");
    p.callerWindow->OnTransferStatus(0);
    EXPECT_EQ(p.caller.link.GetFileSendStatus(), SEND_ANNOUNCED);
    ASSERT_TRUE(p.run([&] { return p.listenerHost.arrived.size() == 1; }));
}

// Stopping a send removes the file from the queue; the peer is told and drops
// what arrived.
TEST(FileTransferWindow, StoppedSendLeavesTheQueue) {
    Pair p;
    ASSERT_NO_FATAL_FAILURE(p.open());
    const auto path = platform::homeFolder() / "outgoing" / "big.bin";
    writeFile(path, std::string(8u << 20, 'x'));
    p.callerHost.settings.flags[0] = 0;  // no automatic send: the test starts it
    p.callerWindow->AddFileToQueue(path.string(), "", false);
    p.callerWindow->AddFileToQueue("/NOSPLASH", "", false);
    ASSERT_EQ(p.callerWindow->Queue().GetItemCount(), 1) << "only existing files are queued";
    p.callerHost.settings.flags[0] = 1;
    ASSERT_TRUE(p.run([&] { return p.listener.link.GetFileReceiveStatus() == REC_RECEIVING; }));
    p.callerWindow->OnCommand(ID_FT_STOP_SENDING);
    ASSERT_TRUE(p.run([&] { return !p.callerHost.ended.empty(); }));
    EXPECT_EQ(p.callerHost.ended[0], SEND_STOPPED);
    EXPECT_EQ(p.callerWindow->Queue().GetItemCount(), 0);
    ASSERT_TRUE(p.run([&] { return p.listener.link.GetFileReceiveStatus() == REC_READY; }));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(p.listenerHost.settings.receiveFolder) / "big.bin"));
}

// The queue outlives the window in its file; the placement keeps its value of
// its own, apart from the main window's.
TEST(FileTransferWindow, QueueAndPlacementAreKept) {
    Pair p;
    ASSERT_NO_FATAL_FAILURE(p.open());
    p.callerHost.settings.flags[0] = 0;
    p.callerHost.settings.flags[1] = 0;
    const auto a = platform::homeFolder() / "keep" / "a.txt";
    const auto b = platform::homeFolder() / "keep" / "b.txt";
    writeFile(a, "a");
    writeFile(b, "b");
    p.callerWindow->AddFilesToQueue(a.string() + "," + b.string() + ",", "");
    ASSERT_EQ(p.callerWindow->Queue().GetItemCount(), 2);
    p.callerWindow->OnCommand(ID_FT_EXPAND);
    EXPECT_TRUE(p.callerWindow->Expanded());
    uitest::saveScreenshot(p.callerWindow.get(), "file_transfer_expanded");
    p.callerWindow.reset();
    EXPECT_NE(readAll(p.callerHost.settings.queueFile).find(a.string() + ";"), std::string::npos);
    {
        CFileTransfer again(p.callerHost, p.caller.link);
        ASSERT_TRUE(again.CreateWnd(false));
        ASSERT_EQ(again.Queue().GetItemCount(), 2);
        EXPECT_EQ(again.Queue().GetItemText(1, 0), b.string());
        EXPECT_TRUE(again.Expanded());
        // With the forget option the queue file is emptied at close.
        p.callerHost.settings.flags[4] = 1;
    }
    EXPECT_EQ(readAll(p.callerHost.settings.queueFile), "");
}
