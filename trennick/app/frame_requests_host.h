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
    void kitEventFiled(const std::string& newPath) override;
    void kitEventListReceived(const std::string&, const tagEventDirListCamera& list) override;
    void kitAlarm(WPARAM a, LPARAM b, int source, const std::string& time) override;

private:
    CMainFrame& m_frame;
};

}  // namespace trennick
