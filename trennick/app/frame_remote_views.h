#pragma once
// CFrameRemoteViews: the main frame's windows on the connected site's views:
// the snapshot request (with and without its dialog, or the fast snapshot of
// the picture shown here), the window that shows a received snapshot and the
// storing of a snapshot as an event, the link profile and tuning window, and
// the camera sequence of the split view with its settings dialog.
//
// Thread: the user-interface thread. Failure: a part that is missing (no
// link up, no picture, no split view yet) skips the work with a trace; a
// snapshot that could not be stored or saved is reported to the user.

#include "platform/types.h"
#include "trennick/image/dib.h"
#include "trennick/panels/receive_snapshot.h"

#include <memory>
#include <string>

class CSnapshotWnd;

namespace trennick {

class CMainFrame;
class CProfile;
class CRemoteQuad;
class CRemoteQuadDlg;


class CFrameRemoteViews {
public:
    explicit CFrameRemoteViews(CMainFrame& frame);
    ~CFrameRemoteViews();
    CFrameRemoteViews(const CFrameRemoteViews&) = delete;
    CFrameRemoteViews& operator=(const CFrameRemoteViews&) = delete;

    // The commands above and the snapshot request, the profile start and end;
    // false for any other.
    bool OnCommand(WPARAM id);
    // The child-closed message of the profile window.
    void OnChildClosed(LPARAM lParam);

    // The snapshot dialog (modeless on screen, closing itself after 90 s).
    void OnRequestSnapshot();
    // A snapshot as the choice says: asked of the site, or the fast one.
    void TakeSnapshot(const SnapshotChoice& choice);
    // Shows a bitmap file in the snapshot window with the site, camera, date and time.
    BOOL ShowReceivedSnapshot(const std::string& bitmapFile);
    // Stores a picture as a new manual event of the current camera in the
    // connected station's event folder; false with the reason.
    bool SaveReceivedSnapshot(HDIB image, std::string& why);

    CReceiveSnapshot* SnapshotDialog() const { return m_snapshotDialog.get(); }
    CSnapshotWnd* SnapshotWindow() const { return m_snapshotWindow.get(); }
    CProfile* Profile() const { return m_profile.get(); }
    CRemoteQuadDlg* QuadDialog() const { return m_quadDialog.get(); }
    CRemoteQuad* SplitView() const;
    DWORD SnapshotsRequested() const { return m_snapshotsRequested; }

private:
    DWORD snapshotMode() const;
    void takeFastSnapshot();
    void report(const std::string& text);
    void onStartProfile();
    void onQuadSettings();
    void onSequence(WPARAM id);

    CMainFrame& m_frame;
    std::unique_ptr<CReceiveSnapshot> m_snapshotDialog;
    std::unique_ptr<CSnapshotWnd> m_snapshotWindow;
    std::unique_ptr<CProfile> m_profile;
    std::unique_ptr<CRemoteQuadDlg> m_quadDialog;
    DWORD m_snapshotsRequested = 0;
};

}  // namespace trennick
