#include "trennick/video/video_main.h"

#include "common/lumo_deb.h"
#include "trennick/link/packet_connection.h"

#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace trennick {

namespace {

// Candidates tried before giving up: a folder full of snapshots must not
// keep the program counting for ever.
constexpr int kMaxSnapshotCandidates = 100000;

bool exists(const char* path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

CVideoMain::CVideoMain() = default;

CVideoMain::~CVideoMain() { CloseRemoteWindow(); }

void CVideoMain::Attach(QWidget* mainFrame, CPacketConnection* connection, RemoteVideoSettings* settings,
                        CLumora* capture, CDBLumoRemote* database, DWORD value) {
    m_mainFrame = mainFrame;
    m_connection = connection;
    m_settings = settings;
    m_capture = capture;
    m_database = database;
    m_videoMgr.Attach(connection, capture, database, value);
    if (m_remoteWnd != nullptr) {
        m_remoteWnd->SetConnection(&m_videoMgr, connection, settings);
        m_remoteWnd->SetHost(m_host, capture, database);
    }
}

void CVideoMain::SetSnapshotFolders(const std::string& siteFolder, const std::string& localFolder) {
    m_siteSnapshots = siteFolder;
    m_localSnapshots = localFolder;
}

void CVideoMain::SetRemoteHost(RemoteWndHost* host) {
    m_host = host;
    if (m_remoteWnd != nullptr) m_remoteWnd->SetHost(host, m_capture, m_database);
}

BOOL CVideoMain::CreateRemoteWindow() {
    if (m_remoteWnd == nullptr) {
        m_remoteWnd = std::make_unique<CRemoteWnd>();
        m_remoteWnd->SetHost(m_host, m_capture, m_database);
        m_remoteWnd->SetConnection(&m_videoMgr, m_connection, m_settings);
        m_remoteWnd->CreateVideoWnd();
    }
    return TRUE;
}

void CVideoMain::CloseRemoteWindow() {
    if (m_remoteWnd == nullptr) return;
    m_remoteWnd->StopVideoWnd();
    m_videoMgr.DestroyVideoWindow();
    m_remoteWnd.reset();
    m_foreignHost.reset();
}

BOOL CVideoMain::ProcessRemoteVideo() {
    if (m_remoteWnd != nullptr) m_remoteWnd->ProcessRemoteVideo();
    return TRUE;
}

void CVideoMain::SetVideoState(BOOL local, BOOL remote) {
    if (m_remoteWnd == nullptr) return;
    m_remoteWnd->SetHoldState(0, local);
    m_remoteWnd->SetHoldState(1, remote);
}

void CVideoMain::ShowRemoteWindow(BOOL show) {
    if (m_remoteWnd != nullptr) m_remoteWnd->setVisible(show != FALSE);
}

BOOL CVideoMain::HostVideo(WId host, WId* child) {
    if (child != nullptr) *child = 0;
    CreateRemoteWindow();
    QWidget* ownHost = QWidget::find(host);
    QWindow* foreignHost = nullptr;
    if (ownHost == nullptr) {
        foreignHost = QWindow::fromWinId(host);  // null where the platform cannot embed
        if (foreignHost == nullptr) {
            LUMO_TRACE(1, "CVideoMain::HostVideo no window 0x%llX to show the video in",
                       static_cast<unsigned long long>(host));
            return FALSE;
        }
    } else if (m_videoMgr.HoldsWindow(ownHost)) {
        // A client that names the video child (or a window inside it) as its host.
        LUMO_TRACE(1, "CVideoMain::HostVideo the video cannot be shown inside itself (0x%llX)",
                   static_cast<unsigned long long>(host));
        return FALSE;
    }
    m_remoteWnd->SetHostedMode(TRUE);
    m_remoteWnd->ShowLumoraBar(FALSE);
    // A window of another program that hosts the video now gives it back
    // before its wrapper goes: the child's own window hangs under it.
    if (m_foreignHost != nullptr) reclaimVideoWindow();
    if (m_videoMgr.VideoWindow() == nullptr) m_remoteWnd->CreateVideoWnd();
    const BOOL attached =
        ownHost != nullptr ? m_videoMgr.AttachVideoWindow(ownHost) : m_videoMgr.AttachVideoWindow(foreignHost);
    if (!attached) {
        m_remoteWnd->SetHostedMode(FALSE);
        delete foreignHost;
        return FALSE;
    }
    m_foreignHost.reset(foreignHost);
    if (child != nullptr) *child = m_videoMgr.VideoWindow()->winId();
    return TRUE;
}

void CVideoMain::UnhostVideo() {
    if (m_remoteWnd == nullptr || m_remoteWnd->HostedCount() == 0) return;
    const bool linkUp = m_connection != nullptr && m_connection->IsLinkUp();
    if (linkUp) {
        VideoSettingsRecord record{};
        m_connection->GetVideoSettings(1, record);
    }
    m_remoteWnd->SetHostedMode(FALSE);
    if (m_remoteWnd->HostedCount() == 0) {
        reclaimVideoWindow();
        if (m_remoteWnd->State() == RemoteState::Receiving) m_remoteWnd->StartVideoWnd();
        if (linkUp) {
            m_remoteWnd->ShowLumoraBar(TRUE);
            m_remoteWnd->UpdateAdaptersToolBar();
            m_connection->SetVideoStatus(1, 7);
        }
    }
}

void CVideoMain::reclaimVideoWindow() {
    // Takes the child back into the remote window before the host window goes.
    CPARAMS params{};
    m_videoMgr.GetDisplayParams(0, params);
    if (m_videoMgr.VideoWindow() != nullptr) m_videoMgr.CreateVideoWindow(0, 0, params, m_remoteWnd->VideoArea());
    m_foreignHost.reset();
}

void CVideoMain::SetVideoWindowRecord(LONG window, const RECT& rect) {
    LUMO_TRACE(5, "CVideoMain::SetVideoWindowRecord window=%ld left=%ld top=%ld right=%ld bottom=%ld", long(window),
               long(rect.left), long(rect.top), long(rect.right), long(rect.bottom));
    if (window == 0) {
        UnhostVideo();
        return;
    }
    HostVideo(static_cast<WId>(static_cast<unsigned long>(window)), nullptr);
}

BOOL CVideoMain::MakeSnapshotFileName(DWORD flags, char* folder, char* name) {
    if (folder == nullptr || name == nullptr) return FALSE;
    if (folder[0] == '\0') {
        const std::string& chosen = (flags & kSnapshotOfSite) != 0 ? m_siteSnapshots : m_localSnapshots;
        if (chosen.size() >= kSnapshotPathBytes) return FALSE;
        std::memcpy(folder, chosen.c_str(), chosen.size() + 1);
    }
    // A name is a file name in the folder, never a path of its own (the kit's
    // clients pass names too).
    if (std::strpbrk(name, "/\\") != nullptr || std::strcmp(name, "..") == 0) return FALSE;
    const std::string base = std::string(folder) + "/" + (name[0] != '\0' ? std::string(name) : "snapshot");
    const bool named = name[0] != '\0';
    char candidate[kSnapshotPathBytes];
    bool found = false;
    for (int n = 0; n < kMaxSnapshotCandidates && !found; ++n) {
        // A given name is tried first without a number, then with 1, 2, ...
        const int length = named && n == 0 ? std::snprintf(candidate, sizeof candidate, "%s.bmp", base.c_str())
                                           : std::snprintf(candidate, sizeof candidate, "%s%d.bmp", base.c_str(), n);
        if (length < 0 || std::size_t(length) >= sizeof candidate) {
            LUMO_TRACE(1, "CVideoMain::MakeSnapshotFileName name too long for %zu characters: %s", sizeof candidate,
                       base.c_str());
            return FALSE;
        }
        found = !exists(candidate);
    }
    if (!found) return FALSE;
    std::memcpy(name, candidate, std::strlen(candidate) + 1);
    if ((flags & kSnapshotNeedsWindow) != 0) return m_videoMgr.VideoWindow() != nullptr ? TRUE : FALSE;
    return TRUE;
}

}  // namespace trennick
