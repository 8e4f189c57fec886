#pragma once
// The main window's side of the station (see FrameStationHost). Thread: the
// user-interface thread, inside the station's message handling and passes.

#include "trennick/app/main_frame.h"
#include "trennick/station/station.h"

namespace trennick {

// The frame's side of the station: its parts of a loop pass, its questions to
// the user, and what it shows of the station's events.
class FrameStationHost : public StationHost, public StationObserver {
public:
    explicit FrameStationHost(CMainFrame& frame) : m_frame(frame) {}
    int ask(UINT stringId, int kind, const std::string& fallback) override;
    void beforeRead() override;
    void afterRead() override;
    bool driveTransfer(LONG lastRead) override;
    void afterTransfer() override;
    void refresh(bool forceCaption) override;
    void autoConnect() override;
    bool queueFileInWindow(const std::string& path, const std::string& typeText) override;
    void siteForgotten() override;
    void stopTalk() override;

    void onCallStateChanged(const CallStateChanged& event) override;
    void onNotice(const std::string& text) override;
    void onArmChanged(const ArmChanged& event) override;
    void onPeerCard(const PeerCard& event) override;

private:
    CMainFrame& m_frame;
};

}  // namespace trennick
