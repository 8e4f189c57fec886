#pragma once
// The main frame's side of the remote settings manager: the frame's services
// the manager uses (sending a file, the kit's notifications, the connected
// site's hardware profile, identity and lock, the user's notices, the string
// table) through the frame's public operations.
//
// Threads: the user-interface thread.

#include "trennick/remset/remote_set_mgr.h"

namespace trennick {

class CMainFrame;

class FrameRemoteSetHost : public RemoteSetMgrHost {
public:
    explicit FrameRemoteSetHost(CMainFrame& frame);
    bool sendFile(const std::string& path, const std::string& typeText) override;
    bool queuedFilesGo() override;
    void notifyGetProfileDone(const std::string& path, WORD result) override;
    void notifySetProfileDone(const std::string& path, WORD result) override;
    void closeFileTransferWindow() override;
    bool remoteHWProfile(tagHWProfile& profile) override;
    bool siteLocked() override;
    std::string instanceId() override;
    std::string text(UINT stringId) override;
    void showNotice(const std::string& text) override;

private:
    CMainFrame& m_frame;
};

}  // namespace trennick
