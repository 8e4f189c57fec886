#pragma once
// CRemoteSetMgr: the operator station's side of a site's remote settings. It
// creates the settings-profile store, hands it to the settings editor control
// (through CRemoteSetCtl) and carries the site's settings both ways as the
// remote settings list, sent and received as files over the link: an upload
// reads the store's record, builds the list and queues it as a settings list;
// a download asks the site with "<GETSETTINGS>" and stores the list that comes
// back. It reports progress, errors and outcomes to the control (to the user's
// notice while the control is missing) and serves the automation kit's
// requests to fetch a site's list into a file or send a file to the site.
//
// A list that arrives damaged or empty is refused: neither the store nor a
// kit's file is changed. The kit's pending path is kept only once its request
// was really sent.
//
// Threads: the user-interface thread (control events, the frame's posted
// messages and its loop pass). Failures: result 0 and traces; nothing throws.

#include "morvel/morvel_lib.h"
#include "platform/com/com_ptr.h"
#include "platform/types.h"
#include "tavicore/settings_records.h"
#include "trennick/remset/remote_set_ctl.h"
#include "trennick/remset/remote_set_list.h"

#include <memory>
#include <string>

namespace trennick {

class CPacketConnection;

// Activity-log event ids of the manager.
inline constexpr short kLogSettingsUiOpened = 38;
inline constexpr short kLogUploadFinished = 40;
inline constexpr short kLogSettingsReceived = 41;

// The first string id of the manager's messages, and the one of an unknown code.
inline constexpr UINT kStrRemoteSettingsFirst = 65142;
inline constexpr UINT kStrRemoteSettingsUnknown = 65152;

// What the manager needs of the main window. Defaults do nothing.
class RemoteSetMgrHost : public LinkSetListHost {
public:
    using LinkSetListHost::LinkSetListHost;
    // Queues a file for the site with its type text ("Set List", "Set Sys List").
    virtual bool sendFile(const std::string& /*path*/, const std::string& /*typeText*/) { return false; }
    // Whether a queued file goes without the user sending it (auto-send).
    virtual bool queuedFilesGo() { return true; }
    virtual void notifyGetProfileDone(const std::string& /*path*/, WORD /*result*/) {}
    virtual void notifySetProfileDone(const std::string& /*path*/, WORD /*result*/) {}
    virtual void closeFileTransferWindow() {}
    // The connected site's hardware profile; false when there is none.
    virtual bool remoteHWProfile(tagHWProfile& /*profile*/) { return false; }
    // Whether this station holds the site's lock.
    virtual bool siteLocked() { return false; }
    // PtzEnabled of the program's "Ptz" settings.
    virtual bool ptzEnabled();
    // The instance id of this program (part of the list file's folder).
    virtual std::string instanceId() { return {}; }
    // A string resource; empty when there is none.
    virtual std::string text(UINT /*stringId*/) { return {}; }
    // A message for the user that waits for nobody (used while the editor
    // control is missing).
    virtual void showNotice(const std::string& /*text*/) {}
};

class CRemoteSetMgr {
public:
    explicit CRemoteSetMgr(RemoteSetMgrHost& host);
    virtual ~CRemoteSetMgr();
    CRemoteSetMgr(const CRemoteSetMgr&) = delete;
    CRemoteSetMgr& operator=(const CRemoteSetMgr&) = delete;

    // Binds the link, creates the store and the control; 0 when the store
    // cannot be created. A missing control leaves the manager working without
    // it (ControlMissing()).
    virtual BOOL CreateManager(CPacketConnection* link);
    // Prepares the control for the connected site and shows it; false when
    // the control is missing.
    bool InitSettingsControl();
    void DestroySettingsUI();
    // One progress step (each pass of the main loop).
    void UpdateTransferProgress();

    virtual BOOL UploadSettings();
    virtual BOOL DownloadSettings();
    virtual BOOL UploadSysSettings();
    virtual BOOL DownloadSysSettings();
    // Sends one 8-byte error entry to the site.
    virtual BOOL ReportSettingsError(const BYTE (&entry)[8]);
    virtual void SetTransferDirection(int direction) { m_direction = direction; }
    virtual void StopProgressTimer() {}
    virtual void ShowMessage(LONG code, const std::string& text, LONG first, LONG second);
    virtual void OnSettingsEvent(LONG code, LONG first, LONG second);
    virtual void TraceMessage(LONG code, const std::string& text);
    virtual void AbortTransfer();
    virtual void ResetTransferDisplay();
    // The automation kit's requests.
    virtual int GetProfileFromSite(const std::string& path);
    virtual int SendProfileToSite(const std::string& path);
    virtual int GetProfileTransferProgress(bool upload, DWORD& percent);
    virtual int CancelProfileTransfer(bool upload);

    // The frame's messages and the control's events.
    int OnReceivedSettings();
    int OnReceivedSysSettings();
    // An error list of 8-byte (0x8048) or 12-byte (0x8083) entries.
    void OnReceivedSettingsErr(const BYTE* buffer, DWORD length, int entryBytes);
    void OnFinishUpgrade();
    void OnDownLoadRemoteSetCtl();
    void OnCancelRemoteSetCtl();

    // Where an upload's list is written.
    std::string ListPath() const;
    // The message string id of an event code.
    static UINT MessageId(LONG code);

    IRemSetDB* Store() const { return m_store.get(); }
    CRemoteSetCtl& Control() { return m_control; }
    bool ControlMissing() const { return !m_control.Exists(); }
    int TransferDirection() const { return m_direction; }
    const std::string& KitPath() const { return m_kitPath; }
    // Outcomes so far: lists stored from the site, lists refused as damaged,
    // uploads the site confirmed.
    int ListsStored() const { return m_listsStored; }
    int ListsRefused() const { return m_listsRefused; }
    int UploadsFinished() const { return m_uploadsFinished; }

private:
    bool linkUp() const;
    // Makes the kit's queued upload the pending path once the link sends it.
    void takeKitUploadWhenItGoes();
    void endWithEvent(LONG code);
    std::string messageText(UINT stringId, LONG code);

    RemoteSetMgrHost& m_host;
    CRemoteSetCtl m_control;
    platform::com::ComPtr<IUnknown> m_unknown;
    platform::com::ComPtr<IRemSetDB> m_store;
    CPacketConnection* m_link = nullptr;
    int m_direction = 0;
    std::string m_kitPath;
    // The kit's upload while it waits in the queue; it becomes the pending
    // path (m_kitPath) once the link takes it.
    std::string m_kitUpload;
    bool m_comInitialised = false;
    int m_listsStored = 0;
    int m_listsRefused = 0;
    int m_uploadsFinished = 0;
};

// Shown when a list from the site was refused.
inline constexpr const char* kDamagedListText =
    "The settings list from the site is damaged; the stored settings are unchanged.";

}  // namespace trennick
