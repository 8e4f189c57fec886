#pragma once
// StationArming: the connected site's arming as this station knows it: the
// site's triggers (armed or not, as its last answer said), a request sent and
// not yet answered (given back after kArmAckTimeoutMs), the site's alarm panel
// and its lock. Each change is told as an ArmChanged event.
//
// Thread: the station's owner thread. Failure: a request the site never
// answers is given back after the time-out; nothing throws.

#include "platform/types.h"
#include "trennick/station/station_events.h"

#include <functional>

namespace trennick {

class CPacketConnection;

// An arm or disarm request that the site never acknowledges stops blocking
// the commands after this long.
inline constexpr DWORD kArmAckTimeoutMs = 30000;

class StationArming {
public:
    StationArming(CPacketConnection& link, std::function<DWORD()> now, std::function<void(const ArmChanged&)> tell)
        : m_link(link), m_now(std::move(now)), m_tell(std::move(tell)) {}

    bool IsSystemArmed() const { return m_systemArmed; }
    bool WaitingForAck() const { return m_waitForAck; }
    bool SiteArmed() const { return m_siteArmed; }
    bool SiteLocked() const { return m_siteLock; }

    // Asks the site to arm when it is disarmed, else to disarm; nothing while
    // a request waits for its answer.
    void Toggle();
    // The site's acknowledgement of a token; false when the token is not one
    // of the arming's.
    bool OnAck(WPARAM token);
    // The site's alarm panel: one of kMsgCpEnabled, kMsgCpDisabled,
    // kMsgCpArmed, kMsgCpDisarmed.
    void OnPanel(UINT msg);
    // Gives the command back when the request waited too long (each pass).
    void CheckAckTimeout();
    // The call ended: the site's triggers are no longer known armed, and no
    // answer is awaited.
    void ForgetTriggers() { m_systemArmed = false; }
    void ForgetRequest() { m_waitForAck = false; }

private:
    void tell(ArmCause cause);

    CPacketConnection& m_link;
    std::function<DWORD()> m_now;
    std::function<void(const ArmChanged&)> m_tell;
    bool m_systemArmed = false;
    bool m_waitForAck = false;
    DWORD m_requestMs = 0;
    bool m_panelEnabled = false;
    bool m_panelArmed = false;
    bool m_siteArmed = false;
    bool m_siteLock = false;
};

}  // namespace trennick
