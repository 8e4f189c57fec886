// The main frame's small services: the tool tips of its buttons, the texts of
// call results and status codes, and this station's identity for its card.

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "tavicore/station_identity.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/frame_remote_views.h"
#include "trennick/record/remote_quad.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/packet_connection.h"

#include <cstring>

namespace trennick {

namespace {

// A tool tip shows at most this many characters.
constexpr std::size_t kToolTipChars = 80;

}  // namespace

// resource strings: 1186 29122 29123 32801 32802 32805 32811 32827 32909 65261 65262
std::string CMainFrame::OnToolTipText(WPARAM id) const {
    UINT stringId = 0;
    switch (id) {
    case ID_DEBRIEF_BUTTON:
    case ID_COLLAPSE:
    case ID_EXPAND:
    case ID_CONNECT_DISCONNECT:
    case ID_OPTIONS:
    case ID_CONNECT_CONNECT:
    case ID_TOGGLE_ARM:
        stringId = static_cast<UINT>(id);
        break;
    case ID_HOLD_CALL:
        stringId = m_pConnection != nullptr && (m_pConnection->GetHoldStatus() & kHoldLocal) != 0 ? kStrCallHeld
                                                                                                  : kStrHoldCall;
        break;
    case ID_TALK:
        stringId = m_audioOutMuted ? kStrAudioOutOff : kStrAudioOutOn;
        break;
    default:
        return {};
    }
    std::string text = UiString(stringId);
    if (text.size() > kToolTipChars) text.resize(kToolTipChars);
    return text;
}

void CMainFrame::GetCallResultText(UINT stringId, std::string* text, int* code) {
    struct CallResult {
        UINT stringId;
        const char* text;
        int code;
    };
    static constexpr CallResult kResults[] = {
        {65010, "Normal", 3}, {65015, "Line is Busy", 0}, {65022, "No dial tone", 1}, {65016, "No answer", 2}};
    for (const CallResult& r : kResults) {
        if (r.stringId != stringId) continue;
        if (text != nullptr) *text = r.text;
        if (code != nullptr) *code = r.code;
        return;
    }
}

// resource strings: 65251-65258
int CMainFrame::FormatStatusText(int code, std::string* text) {
    const UINT stringId = code >= 1 && code <= 6 ? static_cast<UINT>(65251 + code) : 65251u;
    if (text != nullptr) *text = UiString(65258) + ":" + UiString(stringId);
    return 1;
}

int CMainFrame::ReadGenSettings() {
    CUUIDdb ids;
    char guid[256] = {};
    tagSiteInfo info{};
    const bool keyExisted = ids.dbGUIDThisReadKey(guid, sizeof guid) != 0;
    if (!keyExisted) {
        // The first start of this station: it gets its own key.
        if (ids.dbGUIDCreateKey(guid, sizeof guid)) ids.dbGUIDThisWriteKey(guid);
    }
    if (ids.dbGUIDThisReadInfo(&info) == 0) {
        if (keyExisted) LUMO_TRACE(5, "CMainFrame::ReadGenSettings() uuidb.dbGUIDThisReadInfo() failed..\n");
        m_myCard = {};
        return 0;
    }
    m_myCard.name = fixed_text::Read(info.name, kMyCardNameChars);
    m_myCard.phone = fixed_text::Read(info.phone, kMyCardPhoneChars);
    if (keyExisted && m_myCard.name.empty()) {
        LUMO_TRACE(5, "CMainFrame::ReadGenSettings() uuidb.dbGUIDThisReadInfo() success.. but strlen Mycard.Name=0\n");
    }
    if (keyExisted && m_myCard.phone.empty()) {
        LUMO_TRACE(5, "CMainFrame::ReadGenSettings() uuidb.dbGUIDThisReadInfo() success.. but strlen Mycard.Phone=0\n");
    }
    return 0;
}

std::string CMainFrame::RecordingStation() const {
    BYTE site[kSiteInfoBytes] = {};
    if (!GetSiteInfo(site)) return {};
    return fixed_text::Read(reinterpret_cast<const char*>(site) + 256, 256);
}

CRemoteQuad* CMainFrame::SplitView() const { return m_views != nullptr ? m_views->SplitView() : nullptr; }

bool CMainFrame::SetSequenceDelay(DWORD seconds) {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::SetSequenceDelay");
    CRemoteQuad* quad = SplitView();
    if (quad != nullptr) quad->SetSequenceDelay(seconds);
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::SetSequenceDelay");
    return quad != nullptr;
}

}  // namespace trennick
