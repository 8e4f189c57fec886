#pragma once
// CVideoMgr: the video manager of the remote station view. It owns the video
// pipeline, through which every received frame passes once (the key-frame
// wait, the recorder's tap, decoding into the video window). It also makes, sizes and re-parents
// the video child window and keeps the display parameters.
//
// Threads: the user-interface thread only. Failures: a frame that cannot be
// decoded is dropped after it was handed on; nothing throws.

#include "platform/types.h"
#include "trennick/video/pipeline/video_frame.h"
#include "trennick/video/pipeline/video_pipeline.h"
#include "trennick/video/video_wnd.h"

#include <memory>

class CLumora;
class CDBLumo;
class CDBLumoRemote;
class CTMNExpand;
class QWidget;
class QWindow;

namespace trennick {

class CPacketConnection;
class CRemoteQuad;

inline constexpr UINT kFirstVideoWindowId = 4300;

class CVideoMgr : private VideoFrameDecoder {
public:
    CVideoMgr();
    ~CVideoMgr() override;
    CVideoMgr(const CVideoMgr&) = delete;
    CVideoMgr& operator=(const CVideoMgr&) = delete;

    void Attach(CPacketConnection* connection, CLumora* capture, CDBLumoRemote* database, DWORD value);
    // One whole frame posted to the view, through the pipeline without the
    // view's admission; TRUE when it was decoded (or decoding is off).
    BOOL StoreNewFrame(std::unique_ptr<VideoFrame> frame);
    void SetFrameSink(VideoFrameSink* sink) { m_pipeline.setFrameSink(sink); }
    // The road of received video, which decodes into the video window.
    VideoPipeline& Pipeline() { return m_pipeline; }

    // Window members.
    QWidget* CreateVideoWindow(int x, int y, const CPARAMS& params, QWidget* parent);
    void DestroyVideoWindow();
    // Kit hosting: re-parents the video child into a client's window (one of
    // this process, else a foreign window of the window system), sized to the
    // host's client area plus 3 pixels of height, and shows it there. FALSE
    // when the child window does not exist. A later CreateVideoWindow takes
    // the child back. A host that is the child itself or lies inside it is
    // refused (FALSE): the window cannot become its own parent.
    BOOL AttachVideoWindow(QWidget* host);
    BOOL AttachVideoWindow(QWindow* foreignHost);
    bool IsHostedWindow() const { return m_hostedWindow; }
    // Whether `window` is the video child or one of its own windows.
    bool HoldsWindow(const QWidget* window) const;
    void ResizeVideoWindow(BOOL enable, BOOL widthChange, BOOL heightChange);
    // Starts decoding with the current parameters (halved when asked);
    // returns the palette-display word of the record.
    DWORD SetDisplayParams(BOOL enable, BOOL halfSize);
    void StopVideo(BOOL enable);
    void SetFrameSize(const CPARAMS& params, BOOL halfSize);
    // 0 the current record, else the previous one.
    void GetDisplayParams(int which, CPARAMS& out) const;
    void ShowVideoWindow(BOOL enable, BOOL show);
    void ReapplyParams();
    void AllocateFrameBitmaps();
    void FreeFrameBitmaps();
    HDIB GetPicture() const;
    BOOL IsNoVideo() const;
    BOOL SetStreamVersion(WORD version);
    BOOL SetStreamKind(WORD kind);
    BOOL SetDecoderAttribute(DWORD value);
    // The split-view object and the database that names the cameras, handed
    // to the video window; in split or auto-switch mode the window takes the
    // size of the split picture.
    void SetSplitView(CRemoteQuad* quad, CDBLumo* database);

    // The video child window; null while it does not exist.
    CVideoWnd* VideoWindow() const { return m_window.get(); }
    bool WaitingForKeyFrame() const { return m_pipeline.waitingForKeyFrame(); }
    WORD StreamVersion() const { return m_streamVersion; }
    CPacketConnection* Connection() const { return m_connection; }
    CLumora* Capture() const { return m_capture; }
    CDBLumoRemote* Database() const { return m_database; }

private:
    void showInHost(int width, int height);
    // VideoFrameDecoder: the pipeline's frames decode into the video window.
    bool decodeFrame(const VideoFrame& frame) override;

    CPacketConnection* m_connection = nullptr;
    CLumora* m_capture = nullptr;
    CDBLumoRemote* m_database = nullptr;
    DWORD m_attachValue = 0;
    std::unique_ptr<CTMNExpand> m_pTMNExpand;
    std::unique_ptr<CVideoWnd> m_window;
    UINT m_nextWindowId = kFirstVideoWindowId;
    WORD m_streamVersion = 1;
    WORD m_streamKind = 4;
    CPARAMS m_current{};
    CPARAMS m_previous{};
    DWORD m_isDecodeVideo = 1;
    VideoPipeline m_pipeline;
    CRemoteQuad* m_quad = nullptr;
    CDBLumo* m_splitDatabase = nullptr;
    bool m_hostedWindow = false;
};

}  // namespace trennick
