#pragma once
// CFramePanels: the main frame's collaboration windows: the file transfer
// window, the chat window, the link statistics dialog and the card exchange
// dialog. It creates each on demand, runs the transfer window's step on the
// frame's loop pass and answers what the windows ask of the frame. A window
// that cannot be created is left out alone; the program goes on without it.
//
// User-interface thread only; owned by the main frame and destroyed before
// its link.

#include "platform/types.h"
#include "trennick/panels/card_exchange_dlg.h"
#include "trennick/panels/chat_wnd.h"
#include "trennick/panels/file_transfer_wnd.h"
#include "trennick/panels/statistics_dlg.h"
#include "trennick/panels/transfer_host.h"

#include <QPointer>
#include <memory>
#include <string>

namespace trennick {

class CMainFrame;
class LinkChatWindow;

class CFramePanels : public FileTransferHost {
public:
    explicit CFramePanels(CMainFrame& frame);
    ~CFramePanels() override;
    CFramePanels(const CFramePanels&) = delete;
    CFramePanels& operator=(const CFramePanels&) = delete;

    // The transfer window, created (minimised when asked) or brought up.
    CFileTransfer* OpenFileTransfer(bool minimised = false);
    CFileTransfer* TransferWindow() const { return m_transfer; }
    // Queues a file in the transfer window. The site information (the card's
    // picture) goes at once when nothing else is sent, with the card exchange
    // dialog; during a transfer it waits in the window's queue. False when
    // neither can take it.
    bool SendFile(const std::string& path, const std::string& typeText);
    // The transfer step of a loop pass; false when no transfer window runs
    // it (the frame then keeps the link's transfer going itself).
    bool TransferStep(LONG readResult);
    void TransferWindowClosed();

    LinkChatWindow* OpenChat();
    CChat* Chat() const { return m_chat; }
    void CloseChat();

    // The link statistics dialog, shown over the frame.
    void ShowStatistics();
    CStatistics* Statistics() const { return m_statistics; }
    // The card exchange dialog while a card travels; null when none is up.
    CBCard* OpenCardExchange();
    CBCard* CardExchange() const { return m_card; }

    // FileTransferHost.
    TransferSettings transferSettings() override;
    void postCommand(WPARAM id) override;
    void windowClosing() override;
    bool remoteVersion(int& kind, std::string& text) override;
    void activateMain(bool on) override;
    void sendEnded(LONG state, const std::string& path) override;
    void fileArrived(const std::string& path, LONG kind) override;

private:
    void storeChatSettings();

    CMainFrame& m_frame;
    QPointer<CFileTransfer> m_transfer;
    QPointer<CChat> m_chat;
    QPointer<CBCard> m_card;
    QPointer<CStatistics> m_statistics;
    ChatSettings m_chatSettings;
};

}  // namespace trennick
