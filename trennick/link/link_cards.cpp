// The link's business cards, snapshot requests and notification requests,
// and its serial-out commands. Each runs under the bucket lock; the
// receiving ones inside the token dispatch.

#include "trennick/link/packet_connection.h"

#include "common/fixed_text.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/link_trace.h"

#include <cstring>

namespace trennick {

// ---- cards, snapshot and notification requests ----

WORD CPacketConnection::GetCardStatus(int which) {
    std::lock_guard lock(m_bucketLock);
    return which != 0 ? m_peerCardStatus : m_myCardStatus;
}

LONG CPacketConnection::GetRemoteCard(tagBusinessCard& card) {
    std::lock_guard lock(m_bucketLock);
    std::memcpy(card.name, m_peerCard.name, sizeof card.name);
    std::memcpy(card.text2, m_peerCard.text2, sizeof card.text2);
    std::memcpy(card.text3, m_peerCard.text3, sizeof card.text3);
    if (m_peerCard.picture[0] != 0 && (m_peerCardStatus & kCardPictureReceived)) {
        std::memcpy(card.picture, m_peerCard.picture, sizeof card.picture);
        m_peerCardStatus &= static_cast<WORD>(~kCardPictureReceived);
    } else {
        std::memset(card.picture, 0, sizeof card.picture);
    }
    m_peerCardStatus &= static_cast<WORD>(~kCardReceived);
    return 1;
}

LONG CPacketConnection::SendMyCard(const tagBusinessCard* card) {
    std::lock_guard lock(m_bucketLock);
    if (card != nullptr) {
        m_myCard = *card;
    }
    const std::vector<BYTE> payload = buildTokenPayload(ID_DSVD_MY_CARD, buildCardBody(m_myCard));
    // A card the line did not take goes again with the next send step, as
    // every card does until the peer confirms it.
    if (SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size())) == 0) {
        linkTrace(3, "CPacketConnection::SendMyCard() not written; sent again later");
    }
    m_myCardStatus |= kCardSent;
    m_myCardSentMs = now();
    return 1;
}

LONG CPacketConnection::ReceiveMyCard(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    const auto texts = parseCardBody(body, length);
    if (!texts) {
        linkTrace(1, "CPacketConnection::ReceiveMyCard() malformed card dropped");
        return 0;
    }
    fixed_text::Write(m_peerCard.name, sizeof m_peerCard.name, texts->name);
    fixed_text::Write(m_peerCard.text2, sizeof m_peerCard.text2, texts->text2);
    fixed_text::Write(m_peerCard.text3, sizeof m_peerCard.text3, texts->text3);
    // The picture field is handed out only as the path of a received picture
    // file; while one is waiting to be fetched, a card's wire name (which
    // could name any path) never replaces it.
    if ((m_peerCardStatus & kCardPictureReceived) == 0) {
        fixed_text::Write(m_peerCard.picture, sizeof m_peerCard.picture, texts->picture);
    }
    m_peerCardStatus |= kCardReceived;
    sendToken(ID_DSVD_YOURBCRECEIVED);
    return 1;
}

LONG CPacketConnection::SendGetSnapshot(WORD first, DWORD second, WORD third) {
    std::lock_guard lock(m_bucketLock);
    const std::vector<BYTE> payload = buildTokenPayload(ID_DSVD_GETSNAP, buildSnapshotRequest(first, second, third));
    if (SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size())) == 0) {
        linkTrace(3, "CPacketConnection::SendGetSnapshot() not written to the line");
    }
    return 1;
}

LONG CPacketConnection::ReceiveNotificationRPC(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    if (!DispatchNotificationRPC(body, length)) {
        linkTrace(1, "CPacketConnection::ReceiveNotificationRPC()");
    }
    return 1;
}

bool CPacketConnection::DispatchNotificationRPC(const BYTE* body, DWORD length) {
    NotificationRequest request;
    DWORD at = 0;
    switch (parseNotificationRequest(body, length, request, at)) {
    case NotificationParse::Ok:
        return HandleNotificationRPC(request.type, request.code, request.value);
    case NotificationParse::NoCode:
        linkTrace(5, "RCPacketConnection::DispatchNotificationRPC: Error !! pos = %ld <= wCmdLen = %ld", static_cast<long>(at),
                  static_cast<long>(length));
        return false;
    case NotificationParse::NoValue:
        linkTrace(5, "RCPacketConnection::DispatchNotificationRPC: Error !! Index pos = %ld <= wCmdLen = %ld",
                  static_cast<long>(at), static_cast<long>(length));
        return false;
    default:
        linkTrace(5, "RCPacketConnection::DispatchNotificationRPC: malformed request");
        return false;
    }
}

bool CPacketConnection::HandleNotificationRPC(long type, long code, long) {
    if (type != 1) {
        linkTrace(1, "CPacketConnection::HandleNotificationRPC Unknown RPC type");
        return false;
    }
    static constexpr UINT kNotices[] = {kStrNotice1, kStrNotice2, kStrNotice3};
    if (code < 1 || code > 3) {
        return false;
    }
    if (m_window == nullptr) {
        return true;  // nothing to show it in
    }
    notice(kNotices[code - 1], {});
    post(kMsgNotificationShown, 0, 0);
    return true;
}

// ---- serial-out commands ----

LONG CPacketConnection::SendSerialOutCommand(const BYTE* message, WORD length) {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "ENTER %s", "CPacketConnection::SendSerialOutCommand");
    const LONG written = SendBucket(kSerialOutBucket, message, length, 0);
    linkTrace(5, "LEAVE %s", "CPacketConnection::SendSerialOutCommand");
    return written;
}

void CPacketConnection::SetSerialOutSink(LinkSerialOutSink* sink) {
    std::lock_guard lock(m_bucketLock);
    m_serialOutSink = sink;
}

}  // namespace trennick
