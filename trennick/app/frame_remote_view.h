#pragma once
// FrameRemoteView: what the remote station window asks of the
// main window (RemoteWndHost). User-interface thread only.

#include "trennick/app/main_frame.h"
#include "trennick/video/remote_wnd.h"

namespace trennick {

class FrameRemoteView : public RemoteWndHost {
public:
    explicit FrameRemoteView(CMainFrame& frame);
    void frameCommand(WPARAM id) override;
    void toggleHold() override;
    bool isRecording() override;
    void playEventSound(int kind) override;
    void videoOpened() override;
    void pointerActivity() override;
    void filesDropped(const std::vector<std::string>& paths) override;
    bool remoteVersion(int& kind, std::string& text) override;
    std::string instanceId() override;
    std::string holdClipFolder() override;
    QToolBar* adaptersToolBar() override;
    void showVideoLamp(bool on) override;
    void setFrameRateMeter(double framesPerSecond) override;
    void showRemoteImage(bool on) override;
    void frameDecoded(DWORD length, DWORD decodeMs) override;
    void videoStreamChanged(bool open) override;
    void inputSwitchDone() override;
    bool splitMode() override;
    void setSplitMode(bool on) override;

private:
    CMainFrame& m_frame;
};

}  // namespace trennick
