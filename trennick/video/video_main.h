#pragma once
// CVideoMain: the video coordinator of the operator's station. The one
// instance (owned by the main frame) holds the video manager and the remote
// station window, binds them to the link and builds snapshot file names.
//
// Threads: the user-interface thread only. Failures: operations that need the
// remote station window do nothing while it does not exist.

#include "platform/types.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_mgr.h"

#include <QWindow>

#include <memory>
#include <string>

class CLumora;
class CDBLumoRemote;
class QWidget;

namespace trennick {

class CPacketConnection;

// Room of a snapshot folder or file name, with its terminating zero.
inline constexpr std::size_t kSnapshotPathBytes = 260;
// Snapshot flags.
inline constexpr DWORD kSnapshotOfSite = 1;       // an empty folder means the connected site's
inline constexpr DWORD kSnapshotNeedsWindow = 2;  // only while the video child window exists

class CVideoMain {
public:
    CVideoMain();
    ~CVideoMain();
    CVideoMain(const CVideoMain&) = delete;
    CVideoMain& operator=(const CVideoMain&) = delete;

    // Binds the coordinator to the main frame's window, the link, the video
    // settings, the remote capture object and the remote settings database.
    // The snapshot folders are those of the connected site and of this station.
    void Attach(QWidget* mainFrame, CPacketConnection* connection, RemoteVideoSettings* settings, CLumora* capture,
                CDBLumoRemote* database, DWORD value);
    void SetSnapshotFolders(const std::string& siteFolder, const std::string& localFolder);
    // The main window's services for the remote station window.
    void SetRemoteHost(RemoteWndHost* host);

    BOOL CreateRemoteWindow();
    void CloseRemoteWindow();
    BOOL ProcessRemoteVideo();
    void SetVideoState(BOOL local, BOOL remote);
    void ShowRemoteWindow(BOOL show);

    // Builds the name of a new snapshot file (both buffers of 260 characters):
    // "<folder>/<name>[n].bmp" or "<folder>/snapshot<n>.bmp", the first that
    // does not exist. FALSE when no name fits, or with kSnapshotNeedsWindow
    // while the video child window does not exist.
    BOOL MakeSnapshotFileName(DWORD flags, char* folder, char* name);

    // Kit hosting: the remote station window goes to hosted mode, its
    // toolbar goes and the video child is shown inside the client's window
    // `host` (a window of this process or of the window system). `child`
    // receives the video child's window id. FALSE when the host window is
    // unknown or the platform cannot embed into it.
    BOOL HostVideo(WId host, WId* child);
    // Ends hosting: the video child returns to the remote station window,
    // which is rebuilt with its toolbars while the link is up, and the video
    // is asked for again.
    void UnhostVideo();
    // The kit's window-and-rectangle record: a window hosts the video, none
    // ends hosting.
    void SetVideoWindowRecord(LONG window, const RECT& rect);

    BOOL SetStreamVersion(WORD version) { return m_videoMgr.SetStreamVersion(version); }
    BOOL SetStreamKind(WORD kind) { return m_videoMgr.SetStreamKind(kind); }
    BOOL SetDecoderAttribute(DWORD value) { return m_videoMgr.SetDecoderAttribute(value); }

    CVideoMgr& VideoMgr() { return m_videoMgr; }
    CRemoteWnd* RemoteWnd() const { return m_remoteWnd.get(); }

private:
    void reclaimVideoWindow();

    CLumora* m_capture = nullptr;
    CDBLumoRemote* m_database = nullptr;
    RemoteWndHost* m_host = nullptr;
    std::unique_ptr<CRemoteWnd> m_remoteWnd;
    QWidget* m_mainFrame = nullptr;
    CPacketConnection* m_connection = nullptr;
    RemoteVideoSettings* m_settings = nullptr;
    std::string m_siteSnapshots;
    std::string m_localSnapshots;
    CVideoMgr m_videoMgr;
    std::unique_ptr<QWindow> m_foreignHost;  // the kit client's window while it hosts the video
};

}  // namespace trennick
