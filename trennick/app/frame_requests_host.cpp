#include "trennick/app/frame_requests_host.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "tavicore/db_lumo.h"
#include "tavicore/station_identity.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/app/frame_remote_settings.h"
#include "trennick/app/frame_remote_views.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/night_tess_integration.h"
#include "trennick/image/image_wnd.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/link/packet_connection.h"

#include <QApplication>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <memory>

namespace trennick {

CPacketConnection* FrameRequestsHost::link() {
    return m_frame.m_pConnection;
}

std::string FrameRequestsHost::connectedStationName() {
    return m_frame.m_station.ConnectedStationName();
}

CDBLumo* FrameRequestsHost::remoteSettings() {
    return m_frame.RemoteDB();
}

void FrameRequestsHost::showMessage(UINT stringId, const std::string& argument) {
    const std::string format = UiString(stringId);
    std::string text = argument;
    if (!format.empty()) {
        char buffer[1024];
        std::snprintf(buffer, sizeof buffer, format.c_str(), argument.c_str());
        text = buffer;
    }
    m_frame.m_app.Ui().ShowMessage(text, m_frame.m_app.Title(), kMsgKindInfo);
}

void FrameRequestsHost::showTimedMessage(UINT stringId) {
    m_frame.ShowTimedMessage(UiString(stringId), m_frame.m_app.Title(),
                             m_frame.m_settings.general.TimeOutForMesageBoxesMS);
}

void FrameRequestsHost::postToFrame(UINT message, WPARAM wParam, LPARAM lParam) {
    platform::PostMessage(m_frame.Hwnd(), message, wParam, lParam);
}

bool FrameRequestsHost::sendFile(const std::string& path, const std::string& title) {
    return m_frame.SendFile(path, title) != FALSE;
}

bool FrameRequestsHost::settingsErrorReport(UINT message, const BYTE* block, DWORD length) {
    CRemoteSetMgr* mgr = m_frame.m_pRemoteSetMgr.get();
    if (mgr == nullptr) return false;
    mgr->OnReceivedSettingsErr(block, length, message == kMsgSettingsErrorReport ? 8 : 12);
    return true;
}

bool FrameRequestsHost::thisStationGuid(std::string& guid) {
    CUUIDdb ids;
    char text[kGuidTextBytes] = {};
    if (!ids.dbGUIDThisReadKey(text, sizeof text)) return false;
    guid = text;
    return true;
}

int FrameRequestsHost::peerTimeKind() {
    CPacketConnection* l = m_frame.m_pConnection;
    return l != nullptr && l->IsLinkUp() && l->GetProtocolVersion() == 2 ? 2 : 0;
}

void FrameRequestsHost::beep() {
    QApplication::beep();
}

void FrameRequestsHost::showCardPicture(const std::string& picturePath) {
    if (m_frame.m_localImage == nullptr) return;
    char caption[64];
    const std::time_t t = std::time(nullptr);
    std::strftime(caption, sizeof caption, "%x, %X", std::localtime(&t));
    m_frame.m_localImage->ShowImageFile(picturePath.c_str(), caption, FALSE);
    m_frame.m_localImage->setVisible(true);
    m_frame.m_cardPicture = picturePath;
}

void FrameRequestsHost::showSnapshot(const std::string& bitmapPath) {
    if (m_frame.m_views != nullptr) m_frame.m_views->ShowReceivedSnapshot(bitmapPath);
}

void FrameRequestsHost::kitNoEvents() {
    if (CTessIntegration* kit = m_frame.m_pTessIntegration) kit->NotifyListDownloadFinished(1);
}

void FrameRequestsHost::kitEventNotFound() {
    if (CTessIntegration* kit = m_frame.m_pTessIntegration) kit->NotifyEventDownloadFinished("", 8, 0, 0);
}

void FrameRequestsHost::kitEventFiled(const std::string& newPath) { m_lastFiled = newPath; }

void FrameRequestsHost::kitEventListReceived(const std::string&, const tagEventDirListCamera& list) {
    auto* kit = dynamic_cast<CNightTessIntegration*>(m_frame.m_pTessIntegration);
    if (kit == nullptr) return;
    BYTE site[kSiteInfoBytes] = {};
    m_frame.GetSiteInfo(site);
    const std::string stationId = fixed_text::Read(site, 256);
    kit->OnEventListData(stationId.c_str(), list.dwType, list.wAdapter, list.wCamera);
}

void FrameRequestsHost::kitAlarm(WPARAM a, LPARAM b, int source, const std::string& time) {
    if (CTessIntegration* kit = m_frame.m_pTessIntegration) {
        kit->NotifyAlarmDetected(static_cast<WORD>(a), static_cast<WORD>(b), static_cast<WORD>(source), time.c_str());
    }
}

bool FrameRequestsHost::dispatchCommand(WPARAM kind, const std::string& text) {
    CPacketConnection* l = m_frame.m_pConnection;
    if (l == nullptr || text.empty() || text.size() > 0xFFFF) return false;
    LUMO_TRACE(5, "CMainFrame::OnCmdToDispatch kind %lu: %s", static_cast<unsigned long>(kind), text.c_str());
    return l->SendLumoraRPC(text.c_str(), static_cast<WORD>(text.size())) > 0;
}

bool FrameRequestsHost::eventToBeShown(const std::string&, const tagEventHeader&) { return true; }

// The two header values at 38 and 42, which the kit's event information
// passes on as well, go with the filed path.
void FrameRequestsHost::kitEventReceived(const tagEventHeader& header) {
    static_assert(offsetof(tagEventHeader, ftEndTime) == 38);
    if (CTessIntegration* kit = m_frame.m_pTessIntegration) {
        kit->NotifyEventDownloadFinished(m_lastFiled.c_str(), 0, header.ftEndTime.dwLowDateTime,
                                         header.ftEndTime.dwHighDateTime);
    }
}

void FrameRequestsHost::announceEvent(const tagEventHeader&) {
    ++m_frame.m_eventsAnnounced;
    m_frame.PlayEventSound(2);
}

bool FrameRequestsHost::inputAlarmEnabled(WPARAM adapter, LPARAM input) {
    CDBLumo* db = m_frame.RemoteDB();
    if (db == nullptr || adapter >= WPARAM(kMaxAdapters) || input < 0) return false;
    auto profile = std::make_unique<tagHWProfile>();
    if (db->GetHWProfiles(profile.get()) == 0) return false;
    return adapter < profile->adaptersNumber && input < LPARAM(profile->adapters[adapter].camerasNumber);
}

void FrameRequestsHost::kitInput(WPARAM adapter, LPARAM input) {
    if (CTessIntegration* kit = m_frame.m_pTessIntegration) {
        kit->NotifyBeforeDialOnAlarm(static_cast<WORD>(adapter), static_cast<WORD>(input));
    }
}

void FrameRequestsHost::kitDownloadStopped(LONG fileKind) {
    CTessIntegration* kit = m_frame.m_pTessIntegration;
    if (kit == nullptr) return;
    if (fileKind == kFileKindEventList) {
        kit->NotifyListDownloadFinished(8);
    } else {
        kit->NotifyEventDownloadFinished("", 8, 0, 0);
    }
}

}  // namespace trennick
