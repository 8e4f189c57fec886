// The token dispatch of the link: one table from token to handler, checked at
// compile time to hold each token once, and the search that picks a token
// bucket's row.

#include "trennick/link/link_trace.h"
#include "trennick/link/packet_connection.h"

#include <algorithm>

namespace trennick {

namespace {

LONG findToken(WORD id, const BYTE* payload, DWORD length) {
    const std::string_view text = tokenText(id);
    return CCommon::FindDataNoCase(reinterpret_cast<const BYTE*>(text.data()), payload,
                                   static_cast<DWORD>(text.size()), length);
}

// True when no token has two rows: a second row would never be reached, and
// which of two handlers runs would depend on the order of the rows.
template <std::size_t N, typename Route>
constexpr bool eachTokenOnce(const Route (&table)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = i + 1; j < N; ++j) {
            if (table[i].id == table[j].id) return false;
        }
    }
    return true;
}

}  // namespace

bool CPacketConnection::partOfHelloExchange(WORD tokenId) {
    switch (tokenId) {
    case ID_DSVD_HELLO_V1_2:
    case ID_DSVD_OKHELLO:
    case ID_DSVD_SITEINFO:
    // The peer's answers to our hello, and its hanging up.
    case ID_DSVD_WRONGUSER:
    case ID_DSVD_WRONGPWD:
    case ID_DSVD_REMREJREM:
    case ID_DSVD_LOCREJLOC:
    case ID_DSVD_DISCONNECT:
        return true;
    default:
        return false;
    }
}

namespace {
using L = CPacketConnection;
}  // namespace

constexpr CPacketConnection::TokenRoute CPacketConnection::kTokenTable[] = {
    {ID_DSVD_LINE_SYNC, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) {
         l.m_lastSyncReceivedMs = l.now();
         if (l.peerVersionHoldsAny({"4.8.4", "4.6.2", "4.1.9"})) l.SendLineSync();
     }},
    {ID_DSVD_STOP_SENDING, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.m_files.OnStopSending(); }},
    {ID_DSVD_DO_NOT_SEND, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.m_files.OnDoNotSend(); }},
    {ID_DSVD_OK_FOR_SEND, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.m_files.OnOkForSend(); }},
    {ID_DSVD_CRCOK, false, Served::ByLink, [](L& l, WORD id, const BYTE* body, DWORD length) {
         if (l.m_files.WaitsForAnswer()) {
             l.OnServiceToken(id);
             l.m_files.OnBlockConfirmed(body, length);  // the next file block
         } else {
             linkTrace(3, "CPacketConnection::CheckAcknowledgment() FileSendStatus = %ld",
                       static_cast<long>(l.m_files.SendStatus()));
         }
     }},
    {ID_DSVD_CRCNOTOK, false, Served::ByLink, [](L& l, WORD id, const BYTE* body, DWORD length) {
         if (l.m_files.WaitsForAnswer()) {
             l.m_files.OnCrcNotOkRewind();
             l.OnServiceToken(id);
             l.m_files.OnBlockRefused(body, length);  // resend from the last confirmed block
         }
     }},
    {ID_DSVD_FCRC, false, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) { l.m_files.ConfirmOnCRC(body, length); }},
    {ID_DSVD_SEND_NF, true, Served::ByService, [](L& l, WORD id, const BYTE* body, DWORD length) { l.m_files.ConfirmOnSending(id, body, length); }},
    {ID_DSVD_SEND_CF, true, Served::ByService, [](L& l, WORD id, const BYTE* body, DWORD length) { l.m_files.ConfirmOnSending(id, body, length); }},
    {ID_DSVD_SEND_CB, true, Served::ByService, [](L& l, WORD id, const BYTE* body, DWORD length) { l.m_files.ConfirmOnSending(id, body, length); }},
    {ID_DSVD_SNDEVNT, true, Served::ByService, [](L& l, WORD id, const BYTE* body, DWORD length) { l.m_files.ConfirmOnSending(id, body, length); }},
    {ID_DSVD_SEND_EV, true, Served::ByService, [](L& l, WORD id, const BYTE* body, DWORD length) { l.m_files.ConfirmOnSending(id, body, length); }},
    {ID_DSVD_SNDEVLT, true, Served::ByService, [](L& l, WORD id, const BYTE* body, DWORD length) { l.m_files.ConfirmOnSending(id, body, length); }},
    {ID_DSVD_SEND_RS, true, Served::ByService, [](L& l, WORD id, const BYTE* body, DWORD length) { l.m_files.ConfirmOnSending(id, body, length); }},
    {ID_DSVD_SENDRSS, true, Served::ByService, [](L& l, WORD id, const BYTE* body, DWORD length) { l.m_files.ConfirmOnSending(id, body, length); }},
    {ID_DSVD_FINISHUPGRADE, true, Served::ByService, [](L& l, WORD, const BYTE*, DWORD) { l.OnFinishUpgrade(); }},
    {ID_DSVD_GETEVNTFILE, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) { l.DispatchEventRequest(body, length); }},
    {ID_DSVD_MY_CARD, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) { l.ReceiveMyCard(body, length); }},
    {ID_DSVD_NOTIFYRPC, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) { l.ReceiveNotificationRPC(body, length); }},
    {ID_DSVD_LUMORARPC, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) { l.ReceiveLumoraRPC(body, length); }},
    {ID_DSVD_REFRESHDEBRIEF, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) {
         l.DispatchEventDirListCameraRequest(body, length);
     }},
    {ID_DSVD_CANTTRANSFERFILEACK, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenRefused, id, 0); }},
    {ID_DSVD_NOEVENTSREC, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenRefused, id, 0); }},
    {ID_DSVD_EVTNOTFOUND, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenRefused, id, 0); }},
    {ID_DSVD_UPGRADEVER, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgFileRequest, id, 0); }},
    {ID_DSVD_GETLOGFILES, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgFileRequest, id, 0); }},
    {ID_DSVD_DISCONNECT, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) {
         l.m_disconnectTimeMs = l.now();
         l.closeVideoStates();
         l.m_files.OnPeerDisconnect();
         l.post(kMsgTokenDone, ID_DSVD_DISCONNECT, 0);
     }},
    {ID_DSVD_VIDEOOPEN, false, Served::ByService, [](L& l, WORD, const BYTE*, DWORD) {
         VideoSettingsRecord record{};
         int frameRate = 0;
         WORD quality = 0;
         l.m_host->mainVideoSettings(record, frameRate, quality);
         BeforeVideoOpen(l.m_av, l.m_videoSettings, l.IsOutgoingCall() != FALSE, l.m_videoTarget, l.videoWindow(),
                         frameRate, record, quality);
         l.m_videoStates.OnVideoOpen(l.m_av);
     }},
    {ID_DSVD_NOVIDEOOPEN, false, Served::ByService, [](L& l, WORD, const BYTE*, DWORD) { l.m_videoStates.OnNoVideoOpen(); }},
    {ID_DSVD_CLOSEYOURVIDEO, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) {
         l.m_videoStates.OnPeerClosesOurVideo();
         l.post(kMsgPeerVideoRequest, id, 0);
     }},
    {ID_DSVD_CLOSEMYVIDEO, false, Served::ByService, [](L& l, WORD, const BYTE*, DWORD) { l.m_videoStates.OnCloseMyVideo(); }},
    {ID_DSVD_MYVIDEOSETTINGS, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) {
         l.m_videoSettings.NewVideoSettings(l.m_av, 0, body, length, l.m_videoStates, l.videoWindow());
     }},
    {ID_DSVD_YOURVIDEOSETTINGS, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) {
         l.m_videoSettings.NewVideoSettings(l.m_av, 1, body, length, l.m_videoStates, l.videoWindow());
     }},
    {ID_DSVD_VIDEOPALETTE, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgPeerVideoRequest, id, 0); }},
    {ID_DSVD_VIDEORPAUSE, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) {
         l.m_videoStates.OnPeerPausesOurVideo();
         l.post(kMsgPeerVideoRequest, id, 0);
     }},
    {ID_DSVD_VIDEORRESUME, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) {
         l.m_videoStates.OnPeerResumesOurVideo();
         l.post(kMsgPeerVideoRequest, id, 0);
     }},
    {ID_DSVD_HOLDCALL, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.SetHoldCall(kHoldRemote, true); }},
    {ID_DSVD_CANCELHOLDCALL, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.SetHoldCall(kHoldRemote, false); }},
    {ID_DSVD_HELLO_V1_2, true, Served::ByLink, [](L& l, WORD, const BYTE* body, DWORD length) { l.GetHello(body, length); }},
    {ID_DSVD_YOURBCRECEIVED, false, Served::ByService, [](L& l, WORD, const BYTE*, DWORD) {
         l.m_myCardStatus = static_cast<WORD>((l.m_myCardStatus & ~(kCardConfirmed | kCardSent)) | kCardConfirmed);
     }},
    {ID_DSVD_GETMONKEY, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCommand, kCmdGetMonkey, 0); }},
    {ID_DSVD_OKHELLO, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) {
         l.m_lastSyncReceivedMs = l.now();
         l.m_helloAccepted = 1;
     }},
    {ID_DSVD_HWPROFILE_V1_2, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) {
         l.ReceiveLumoraHWProfile(body, length);
     }},
    {ID_DSVD_WRONGUSER, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) {
         ++l.m_failedLogins;
         l.post(kMsgLoginRefused, 0, 0);
     }},
    {ID_DSVD_WRONGPWD, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) {
         ++l.m_failedLogins;
         l.post(kMsgLoginRefused, 0, kWrongPasswordStringId);
     }},
    {ID_DSVD_ATTEND_TIMEOUT, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) {
         // The window asks its user (for up to 30 s) on its own time; its
         // answer to the peer goes out from there, with no lock of ours held.
         l.post(kMsgAttendTimeout, 0, 0);
         l.sendToken(ID_DSVD_ATTENDTIMEOUTACK);
         l.m_host->logAttendTimeout();
     }},
    {ID_DSVD_ATTEND_TIMEOUT_REJECT, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) {
         l.post(kMsgAttendTimeoutReject, 0, 0);
         if (l.m_remoteView != nullptr) l.m_remoteView->postMessage(kMsgAttendTimeoutReject, 0, 0);
     }},
    {ID_DSVD_SITEINFO, true, Served::ByLink, [](L& l, WORD, const BYTE* body, DWORD length) {
         // A refused site info ends the call itself (traced there).
         (void)l.ReceiveSiteInfo(body, length);
     }},
    {ID_DSVD_UNLOCKSERVERREJECT, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenRefused, id, 0); }},
    {ID_DSVD_LOCKSERVERREJECT, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenRefused, id, 0); }},
    {ID_DSVD_LOCKSERVERACK, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_UNLOCKSERVERACK, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_RECORDEVENT, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCommand, kCmdRecordEvent, 0); }},
    {ID_DSVD_RECORDEVENTACK, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_RECORDFINISH, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCommand, kCmdRecordFinish, 0); }},
    {ID_DSVD_RECORDFINISHACK, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_AUDIOOUTMUTEACK, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_AUDIOOUTUNMUTEACK, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_ENABLEPOLLTRIGGERS, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_DISABLEPOLLTRIGGERS, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_ENABLEDISABLEALARMREJECT, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenRefused, id, 0); }},
    {ID_DSVD_GETSETTINGS, false, Served::ByLink, [](L&, WORD, const BYTE*, DWORD) {}},  // traced only
    {ID_DSVD_SETTINGS_ERROR, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) {
         l.ReceiveSettingsError(body, length);
     }},
    {ID_DSVD_SETTINGSERROR2, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) {
         l.ReceiveSettingsError2(body, length);
     }},
    {ID_DSVD_CPISENABLED, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCpEnabled, 0, 0); }},
    {ID_DSVD_CPISDISABLED, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCpDisabled, 0, 0); }},
    {ID_DSVD_CPISARMED, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCpArmed, 0, 0); }},
    {ID_DSVD_CPISDISARMED, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCpDisarmed, 0, 0); }},
    // The site's answers to a disarm request: ignored or accepted.
    {ID_DSVD_RPCDISARMISIGNORED, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_RPCDISARMISACCEPT, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgTokenDone, id, 0); }},
    {ID_DSVD_SETRECMODECYC, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgRecModeCyclic, id, 0); }},
    {ID_DSVD_SETRECMODEFIX, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgRecordModeFixed, id, 0); }},
    {ID_DSVD_MEMORYFULL, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgMemoryFull, id, 0); }},
    {ID_DSVD_MEMORYFREE, false, Served::ByLink, [](L& l, WORD id, const BYTE*, DWORD) { l.post(kMsgMemoryFree, id, 0); }},
    {ID_DSVD_REMREJREM, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCommand, kCmdCallRefused, 0); }},
    {ID_DSVD_LOCREJLOC, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.post(kMsgCommand, kCmdCallRefused, 0); }},
    {ID_DSVD_TRIGGERNOTIFICATION, true, Served::ByService, [](L& l, WORD, const BYTE* body, DWORD length) {
         l.ReceiveTriggerNotification(body, length);
     }},
    {ID_DSVD_FINISHSENDING, false, Served::ByLink, [](L& l, WORD, const BYTE*, DWORD) { l.m_files.OnFinishSending(); }},
};

std::span<const CPacketConnection::TokenRoute> CPacketConnection::tokenTable() {
    static_assert(eachTokenOnce(kTokenTable), "a token has more than one row in the token table");
    return kTokenTable;
}

const CPacketConnection::TokenRoute* CPacketConnection::findRoute(const BYTE* payload, DWORD length, DWORD& skip) {
    const std::span<const TokenRoute> table = tokenTable();
    const TokenRoute* route = nullptr;
    skip = 0;
    // A token followed by the peer's data decides when the payload starts
    // with it, so that text inside the data can never pass for a token.
    for (const TokenRoute& r : table) {
        const DWORD size = static_cast<DWORD>(tokenText(r.id).size());
        if (r.body && findToken(r.id, payload, std::min(length, size)) == 0) {
            route = &r;
            skip = size;
            break;
        }
    }
    for (std::size_t i = 0; route == nullptr && i < table.size(); ++i) {
        const LONG at = findToken(table[i].id, payload, length);
        if (at >= 0) {
            route = &table[i];
            skip = static_cast<DWORD>(at) + static_cast<DWORD>(tokenText(route->id).size());
        }
    }
    return route;
}

void CPacketConnection::CheckAcknowledgment(const BYTE* payload, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    OnTokenBucket(payload, length);
    DWORD skip = 0;
    const TokenRoute* route = findRoute(payload, length, skip);
    if (route == nullptr) {
        return;  // no token of the table: ignored
    }
    linkTrace(3, "CPacketConnection::CheckAcknowledgment() %s received", tokenName(route->id));
    if (route->served == Served::ByService) OnServiceToken(route->id);
    route->handle(*this, route->id, payload + skip, length - skip);
}

}  // namespace trennick
