#include "trennick/app/frame_panels.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/packet_connection.h"
#include "trennick/panels/card_exchange_dlg.h"
#include "trennick/panels/file_transfer_wnd.h"
#include "trennick/panels/statistics_dlg.h"
#include "trennick/panels/w95_list_view.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"

#include <cstring>

namespace trennick {

CFramePanels::CFramePanels(CMainFrame& frame) : m_frame(frame) {}

CFramePanels::~CFramePanels() {
    delete m_card.data();
    delete m_statistics.data();
    if (m_chat != nullptr) {
        storeChatSettings();
        delete m_chat.data();
    }
    delete m_transfer.data();
}

// ---- file transfer ----

CFileTransfer* CFramePanels::OpenFileTransfer(bool minimised) {
    if (m_transfer != nullptr) {
        if (m_transfer->isMinimized()) m_transfer->showNormal();
        m_transfer->show();
        m_transfer->activateWindow();
        return m_transfer;
    }
    auto window = std::make_unique<CFileTransfer>(*this, *m_frame.Connection());
    if (!window->CreateWnd(minimised)) {
        LUMO_TRACE(1, "CMainFrame: the file transfer window could not be created");
        return nullptr;
    }
    window->SetSettings(m_frame.m_settings.general.BusinessCard, kBusinessCardBytes);
    m_transfer = window.release();
    return m_transfer;
}

bool CFramePanels::SendFile(const std::string& path, const std::string& typeText) {
    if (typeText == kTypeSiteInformation) {
        CPacketConnection& link = *m_frame.Connection();
        if (link.GetFileSendStatus() <= SEND_IDLE && link.SetSendStatus(1, kFileKindCardPicture, path.c_str()) == 1) {
            OpenCardExchange();
            return true;
        }
        if (m_transfer == nullptr) return false;
    }
    CFileTransfer* window = OpenFileTransfer();
    if (window == nullptr) return false;
    const int before = window->Queue().GetItemCount();
    window->AddFileToQueue(path, typeText, true);
    return window->Queue().GetItemCount() > before;
}

bool CFramePanels::TransferStep(LONG readResult) {
    CPacketConnection& link = *m_frame.Connection();
    LONG kind = -2;
    if (link.GetFileReceiveStatus() == REC_RECEIVING &&
        link.GetReceiveStatus(nullptr, nullptr, &kind, nullptr, nullptr) != REC_RECEIVING) {
        kind = -2;
    }
    // The peer's card picture arriving shows the card exchange.
    if (kind == kFileKindCardPicture) OpenCardExchange();
    if (m_transfer == nullptr) {
        // A file of the kinds the window shows arrives: the window comes up for it.
        // A clipboard file as well: its contents are put on the clipboard by the window.
        if (kind == kFileKindAny || kind == kFileKindEvent || kind == kFileKindEventList ||
            kind == kFileKindClipboard) {
            OpenFileTransfer();
        }
        if (m_transfer == nullptr) return false;
    }
    m_transfer->OnTransferStatus(readResult);
    return true;
}

void CFramePanels::TransferWindowClosed() {
    // Reached by the posted child-closed message, after the window's own close
    // ended: it goes at once, while its host is sure to be there.
    delete m_transfer.data();
}

// ---- chat ----

LinkChatWindow* CFramePanels::OpenChat() {
    if (m_chat == nullptr) {
        // The record is packed: its fields are read by value.
        const ChatSettingsRecord& record = m_frame.m_settings.general.Chat;
        const LONG left = record.left, top = record.top, width = record.width, height = record.height;
        m_chatSettings.rect = QRect(left, top, std::max<LONG>(width, 325), std::max<LONG>(height, 160));
        m_chatSettings.capturePath = m_frame.ChatCapturePath();
        const platform::HWND frame = m_frame.Hwnd();
        m_chat = new CChat(*m_frame.Connection(), m_chatSettings, [frame] {
            platform::PostMessage(frame, kMsgChildClosed, 2, static_cast<LPARAM>(kChildChat) << 16);
        });
        m_frame.m_settings.general.Chat.capture = 0;
    }
    m_chat->UpdateTitle(m_frame.PeerCardName());
    m_chat->show();
    m_chat->raise();
    return m_chat;
}

void CFramePanels::storeChatSettings() {
    ChatSettingsRecord& record = m_frame.m_settings.general.Chat;
    if (m_chat != nullptr && !m_chat->isMinimized()) m_chatSettings.rect = m_chat->geometry();
    record.left = m_chatSettings.rect.x();
    record.top = m_chatSettings.rect.y();
    record.width = m_chatSettings.rect.width();
    record.height = m_chatSettings.rect.height();
    record.capture = 0;
    const std::string& path = m_chatSettings.capturePath;
    std::memset(record.capturePath, 0, sizeof record.capturePath);
    std::memcpy(record.capturePath, path.data(), std::min(path.size(), sizeof record.capturePath - 1));
}

void CFramePanels::CloseChat() {
    if (m_chat == nullptr) return;
    storeChatSettings();
    // Never called from inside the chat window's own handlers (its close
    // posts the child-closed message), so it goes at once.
    delete m_chat.data();
}

// ---- dialogs ----

void CFramePanels::ShowStatistics() {
    if (m_statistics != nullptr) {
        m_statistics->raise();
        return;
    }
    auto* dialog = new CStatistics(&m_frame, *m_frame.Connection());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->SetLineSpeed(m_frame.m_settings.comms.BaudRate);
    BYTE site[kSiteInfoBytes] = {};
    if (m_frame.GetSiteInfo(site)) {
        dialog->SetSite(fixed_text::Read(reinterpret_cast<const char*>(site) + 256, 256),
                        fixed_text::Read(reinterpret_cast<const char*>(site) + 512, 256));
    }
    // The received video's figures come from the remote station window.
    CVideoMain* video = m_frame.VideoMain();
    if (const CRemoteWnd* remote = video != nullptr ? video->RemoteWnd() : nullptr) {
        DWORD elapsedMs = 0, frames = 0, bytes = 0;
        remote->GetStatistics(elapsedMs, frames, bytes);
        dialog->SetVideoStatistics(elapsedMs, frames, bytes);
    }
    dialog->Fill();
    // Window-modal without a loop of its own: nothing waits on it.
    dialog->open();
    m_statistics = dialog;
}

CBCard* CFramePanels::OpenCardExchange() {
    if (m_card != nullptr) return m_card;
    m_card = new CBCard(&m_frame, *m_frame.Connection(), [this](WPARAM id) { postCommand(id); });
    return m_card;
}

// ---- what the windows ask of the frame ----

TransferSettings CFramePanels::transferSettings() {
    const CaldrinRecord& caldrin = m_frame.m_settings.caldrin;
    TransferSettings settings;
    settings.programFolder = fixed_text::Read(caldrin.HomeDir, sizeof caldrin.HomeDir);
    while (settings.programFolder.size() > 1 && settings.programFolder.back() == '/') settings.programFolder.pop_back();
    settings.receiveFolder = fixed_text::Read(caldrin.RecDir, sizeof caldrin.RecDir);
    std::memcpy(settings.flags.data(), caldrin.Flags, settings.flags.size());
    settings.queueFile = caldrin.queueFile;
    settings.sentFile = caldrin.sentFile;
    settings.receivedFile = caldrin.receivedFile;
    return settings;
}

void CFramePanels::postCommand(WPARAM id) { platform::PostMessage(m_frame.Hwnd(), WM_COMMAND, id, 0); }

void CFramePanels::windowClosing() {
    platform::PostMessage(m_frame.Hwnd(), kMsgChildClosed, 2, static_cast<LPARAM>(kChildFileTransfer) << 16);
}

bool CFramePanels::remoteVersion(int& kind, std::string& text) {
    char version[49] = {};
    kind = m_frame.GetRemoteVersion(&kind, version, sizeof version);
    text = version;
    return true;
}

void CFramePanels::activateMain(bool on) { m_frame.DoActivate(on ? TRUE : FALSE); }

void CFramePanels::sendEnded(LONG state, const std::string& path) {
    LUMO_TRACE(3, "CMainFrame: %s ended with %ld", path.c_str(), static_cast<long>(state));
}

void CFramePanels::fileArrived(const std::string& path, LONG kind) {
    LUMO_TRACE(3, "CMainFrame: received %s (kind %ld)", path.c_str(), static_cast<long>(kind));
}

}  // namespace trennick
