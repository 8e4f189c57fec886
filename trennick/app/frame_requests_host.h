#pragma once
// The main window's side of the connected station's requests and replies
// (see FrameRequestsHost). Thread: the user-interface thread.

#include "trennick/app/main_frame.h"
#include "trennick/station/remote_requests.h"

namespace trennick {

// What the handlers of the connected station's requests and replies need of
// the frame.
class FrameRequestsHost : public RemoteRequestsHost {
public:
    explicit FrameRequestsHost(CMainFrame& frame) : m_frame(frame) {}
    CPacketConnection* link() override;
    std::string connectedStationName() override;
    CDBLumo* remoteSettings() override;
    void showMessage(UINT stringId, const std::string& argument) override;
    void showTimedMessage(UINT stringId) override;
    void postToFrame(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool sendFile(const std::string& path, const std::string& title) override;
    bool settingsErrorReport(UINT message, const BYTE* block, DWORD length) override;
    bool thisStationGuid(std::string& guid) override;
    // A peer of the second protocol keeps the times of its events in the
    // second kind; those are converted when they arrive.
    int peerTimeKind() override;
    void beep() override;
    // The card's picture in the local picture window, with the date and time.
    void showCardPicture(const std::string& picturePath) override;
    void showSnapshot(const std::string& bitmapPath) override;
    void kitNoEvents() override;
    void kitEventNotFound() override;
    // The filed event's path goes with the kit's notification of it.
    void kitEventFiled(const std::string& newPath) override;
    void kitEventListReceived(const std::string&, const tagEventDirListCamera& list) override;
    void kitAlarm(WPARAM a, LPARAM b, int source, const std::string& time) override;
    // A command to forward goes to the site as a text request.
    bool dispatchCommand(WPARAM kind, const std::string& text) override;
    // Every event filed for the connected station is shown: the kit hears of
    // it (its path and the two values the
    // kit's event information gives) and the frame announces it with the event
    // sound.
    bool eventToBeShown(const std::string& path, const tagEventHeader& header) override;
    void kitEventReceived(const tagEventHeader& header) override;
    void announceEvent(const tagEventHeader& header) override;
    // An input of the site's profile (its adapter and camera exist there).
    bool inputAlarmEnabled(WPARAM adapter, LPARAM input) override;
    void kitInput(WPARAM adapter, LPARAM input) override;
    void kitDownloadStopped(LONG fileKind) override;

private:
    CMainFrame& m_frame;
    std::string m_lastFiled;  // the path of the event filed last
};

}  // namespace trennick
