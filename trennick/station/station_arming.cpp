#include "trennick/station/station_arming.h"

#include "common/lumo_deb.h"
#include "tavicore/log_write.h"
#include "trennick/link/packet_connection.h"
#include "trennick/station/site_token.h"
#include "trennick/station/station_messages.h"

namespace trennick {

void StationArming::tell(ArmCause cause) {
    ArmChanged event;
    event.cause = cause;
    event.systemArmed = m_systemArmed;
    event.siteArmed = m_siteArmed;
    switch (cause) {
    case ArmCause::Requested: event.toggleAllowed = false; break;
    case ArmCause::Acknowledged:
    case ArmCause::Ignored: event.toggleAllowed = true; break;
    case ArmCause::AckTimedOut: event.toggleAllowed = m_link.IsLinkUp() != FALSE; break;
    case ArmCause::SiteArmChanged: event.toggleAllowed = !m_siteArmed && m_link.IsLinkUp(); break;
    }
    m_tell(event);
}

void StationArming::Toggle() {
    if (m_waitForAck) return;
    LUMO_TRACE(5, "StationArming::Toggle() armed = %d", static_cast<int>(m_systemArmed));
    if (m_systemArmed) {
        SendTokenToSite(m_link, kTokDisablePollTriggers);
        if (logWrite != nullptr) logWrite->AddEntryEx(nullptr, 9, 0, "", 0, "");
    } else {
        SendTokenToSite(m_link, kTokEnablePollTriggers);
        if (logWrite != nullptr) logWrite->AddEntryEx(nullptr, 8, 0, "", 0, "");
    }
    m_requestMs = m_now();
    m_waitForAck = true;
    tell(ArmCause::Requested);
}

bool StationArming::OnAck(WPARAM token) {
    switch (token) {
    case kTokEnablePollTriggers:
    case kTokDisablePollTriggers:
    case kTokDisarmAccepted:
        m_systemArmed = token == kTokEnablePollTriggers;
        m_waitForAck = false;
        tell(ArmCause::Acknowledged);
        return true;
    case kTokDisarmIgnored:
        // The site kept its triggers armed: the request is answered, the
        // command is given back for another try.
        LUMO_TRACE(3, "StationArming::OnAck() the site ignored the disarm request");
        m_waitForAck = false;
        tell(ArmCause::Ignored);
        return true;
    case kTokLockAck:
        m_siteLock = true;
        return true;
    case kTokUnlockAck:
        m_siteLock = false;
        return true;
    default:
        return false;
    }
}

void StationArming::OnPanel(UINT msg) {
    if (msg == kMsgCpEnabled || msg == kMsgCpDisabled) {
        m_panelEnabled = msg == kMsgCpEnabled;
    } else {
        m_panelArmed = msg == kMsgCpArmed;
    }
    m_siteArmed = m_panelEnabled && m_panelArmed && m_systemArmed;
    tell(ArmCause::SiteArmChanged);
}

void StationArming::CheckAckTimeout() {
    if (!m_waitForAck) return;
    // The site may never answer (an old site, a lost token): give the command
    // back after the time-out instead of blocking it for the connection.
    if (static_cast<DWORD>(m_now() - m_requestMs) >= kArmAckTimeoutMs) {
        LUMO_TRACE(3, "StationArming: no acknowledgement from the site, arm/disarm enabled again");
        m_waitForAck = false;
        tell(ArmCause::AckTimedOut);
    }
}

}  // namespace trennick
