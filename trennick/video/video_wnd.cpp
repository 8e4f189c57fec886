#include "trennick/video/video_wnd.h"

#include "common/lumo_deb.h"
#include "tavicore/db_lumo.h"
#include "trennick/record/remote_quad.h"
#include "trennick/record/video_recorder.h"
#include "trennick/video/pipeline/tmn_expand.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

CVideoWnd::CVideoWnd(CTMNExpand* tmnExpand, QWidget* parent) : QWidget(parent), m_pTMNExpand(tmnExpand) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_Dib.SetTarget(this);
}

CVideoWnd::~CVideoWnd() {
    CloseVideo();
    FreeTiles();
}

void CVideoWnd::setDecoderAttributes() {
    if (m_Dib.Picture() == nullptr) return;
    m_blocks.describeOutput(m_Dib.Picture(), m_params.palette8 != 0 && m_framesSinceParams >= 10);
}

void CVideoWnd::OpenVideo(DWORD flags, const CPARAMS& params) {
    m_displayFlags = flags;
    m_params = params;
    m_framesDecoded = 0;
    m_framesSinceParams = 0;
    if ((flags & kDisplayDecode) != 0) {
        m_Dib.SetTarget(this);
        if (m_Dib.Picture() == nullptr) {
            m_Dib.CreatePicture(int(params.imagewidth), int(params.imageheight), 24, this);
        } else {
            m_Dib.ResizePicture(int(params.imagewidth), int(params.imageheight), 24);
        }
        m_Dib.BeginDraw();
        m_blocks.open();
        setDecoderAttributes();
        if (UsesH263() && m_pTMNExpand != nullptr) {
            m_pTMNExpand->Open();
            m_pTMNExpand->SetAttribute(int(params.imagewidth), int(params.imageheight));
        }
    }
}

void CVideoWnd::CloseVideo() {
    LUMO_TRACE(5, "ENTER %s", "CVideoWnd::CloseVideo()");
    if ((m_displayFlags & kDisplayDecode) != 0) m_blocks.close();
    if (m_pTMNExpand != nullptr) m_pTMNExpand->Close();
    m_Dib.ClearPicture();
    LUMO_TRACE(5, "LEAVE %s", "CVideoWnd::CloseVideo()");
}

DWORD CVideoWnd::SetParams(const CPARAMS& params) {
    const bool sameRecord = params.imagewidth == m_params.imagewidth && params.imageheight == m_params.imageheight &&
                            params.word7 == m_params.word7 && params.palette8 == m_params.palette8 &&
                            params.word13 == m_params.word13;
    const bool sameHeader =
        m_Dib.Width() == int(params.imagewidth) && m_Dib.Height() == int(params.imageheight);
    if (sameRecord && sameHeader && ((m_displayFlags & kDisplayDecode) == 0 || m_Dib.Target() == this)) {
        return m_displayFlags;
    }
    m_params = params;
    LUMO_TRACE(5, "CVideoWnd::SetParams(CPARAMS* params) params->imagewidth=%ld params->imageheight=%ld",
               long(params.imagewidth), long(params.imageheight));
    if ((m_displayFlags & kDisplayDecode) == 0) return m_displayFlags;
    // A size from the site beyond the largest picture is refused: the picture
    // keeps its size, and every write stays inside its block.
    if (m_Dib.Picture() != nullptr) {
        std::memset(m_Dib.Picture(), 0, kPictureBlockBytes);
        if (!m_Dib.ResizePicture(int(params.imagewidth), int(params.imageheight), 24)) {
            LUMO_TRACE(1, "CVideoWnd::SetParams() picture size %ldx%ld refused, at most %dx%d",
                       long(params.imagewidth), long(params.imageheight), kMaxPictureWidth, kMaxPictureHeight);
            m_Dib.ResizePicture(kMaxPictureWidth / 2, kMaxPictureHeight / 2, 24);
        }
    }
    m_Dib.BeginDraw();
    m_framesDecoded = 0;
    m_framesSinceParams = 0;
    if (UsesH263()) {
        LUMO_TRACE(5, "CVideoWnd::SetParams() m_pTMNExpand->SetAttribute() Width=%d height=%d\n",
                   int(params.imagewidth), int(params.imageheight));
        if (m_pTMNExpand != nullptr) m_pTMNExpand->SetAttribute(int(params.imagewidth), int(params.imageheight));
    } else if (m_blocks.isOpen()) {
        setDecoderAttributes();
        m_blocks.redrawAll(m_Dib.Bits());
    }
    update();
    return m_displayFlags;
}

BOOL CVideoWnd::DecodeFrame(const VideoFrame& frame) {
    const DWORD length = DWORD(frame.data.size());
    if (length == 0 || (m_displayFlags & kDisplayDecode) == 0 || m_Dib.Picture() == nullptr) return FALSE;
    // In split view the pane that shows the frame's camera; a camera outside
    // the cycle is decoded (the decoder follows the stream) but kept nowhere.
    int pane = 0;
    if (IsSplitView()) {
        pane = -1;
        const std::vector<SplitPane> panes = SplitPanes();
        for (std::size_t i = 0; i < panes.size(); ++i) {
            if (panes[i].camera == WORD(frame.camera & 0xFFFF)) pane = int(i);
        }
    }
    if (pane >= 0) m_noVideo[pane] = frame.kind == kFrameKindNoVideo;
    BOOL result = FALSE;
    if (UsesH263()) {
        result = m_pTMNExpand != nullptr
                     ? m_pTMNExpand->ExpandBuffer(frame.data.data(), length, m_Dib.Picture(), kPictureBlockBytes)
                     : 0;
    } else if (m_blocks.isOpen()) {
        if (m_params.palette8 != 0 && m_framesSinceParams == 10) setDecoderAttributes();
        result = m_blocks.decodeFrame(frame.data.data(), length, m_Dib.Bits(), [this] { adoptStreamSize(); })
                     ? TRUE
                     : FALSE;
    }
    if (result) {
        ++m_framesDecoded;
        ++m_framesSinceParams;
        if (pane >= 0 && IsSplitView()) keepTile(pane);
    }
    return result;
}

void CVideoWnd::SetSplitView(trennick::CRemoteQuad* quad, CDBLumo* database) {
    m_quad = quad;
    m_database = database;
}

bool CVideoWnd::IsSplitView() const { return m_quad != nullptr && m_quad->rqIsSplitOrAutoSwitchMode(); }

std::vector<CVideoWnd::SplitPane> CVideoWnd::SplitPanes() const {
    std::vector<SplitPane> panes;
    if (!IsSplitView()) return panes;
    WORD adapter = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
    for (WORD camera = 0; camera < trennick::kQuadCameras && panes.size() < std::size_t(kVideoPanes); ++camera) {
        RECT rect{};
        if (m_quad->rqFindPaneOfCamera(adapter, camera, rect)) panes.push_back({rect, camera});
    }
    return panes;
}

std::vector<RECT> CVideoWnd::FillerPanes() const {
    std::vector<RECT> fillers;
    if (!IsSplitView()) return fillers;
    for (int n = 0; n < m_quad->rqGetPaneCount(); ++n) {
        WORD camera = 0;
        WORD paneOfCamera = 0;
        const bool showsCamera = !m_quad->rqGetPaneData(n) && m_quad->rqGetPaneCamera(n, camera) &&
                                 m_quad->rqGetPaneIndexOfCamera(camera, paneOfCamera) && paneOfCamera == n;
        RECT rect{};
        if (!showsCamera && m_quad->rqGetPane(n, rect)) fillers.push_back(rect);
    }
    return fillers;
}

bool CVideoWnd::PaneHasPicture(int pane) const { return pane >= 0 && pane < kVideoPanes && m_tileFilled[pane]; }

// The pane keeps a copy of the picture (header, colour table and bits), so
// that every camera of the cycle stays on screen while the others are sent.
void CVideoWnd::keepTile(int pane) {
    if (m_tiles.empty()) AllocateTiles();
    HDIB tile = m_tiles[std::size_t(pane)];
    if (tile == nullptr) return;
    const DWORD bytes = kPictureHeadBytes + DWORD(m_Dib.Width()) * DWORD(m_Dib.Height()) * 3;
    std::memcpy(tile, m_Dib.Picture(), std::min(bytes, kPictureBlockBytes));
    m_tileFilled[pane] = true;
}

void CVideoWnd::adoptStreamSize() {
    // The block-transform stream says its own size: the picture takes it when
    // the view can hold it, so the whole picture is painted.
    const int width = m_blocks.streamWidth();
    const int height = m_blocks.streamHeight();
    if (width == m_Dib.Width() && height == m_Dib.Height()) return;
    if (!m_Dib.ResizePicture(width, height, 24)) {
        LUMO_TRACE(1, "CVideoWnd: stream size %dx%d refused, at most %dx%d", width, height, kMaxPictureWidth,
                   kMaxPictureHeight);
        return;
    }
    setDecoderAttributes();
    m_blocks.markAllChanged();
}

void CVideoWnd::DrawExpandedFrames() { update(); }

void CVideoWnd::AllocateTiles() {
    if (m_Dib.Picture() == nullptr) {
        m_Dib.CreatePicture(int(m_params.imagewidth), int(m_params.imageheight), 24, this);
    }
    if (m_tiles.empty()) {
        for (int i = 0; i < kVideoPanes; ++i) m_tiles.push_back(AllocDIB(kPictureBlockBytes));
    }
}

void CVideoWnd::FreeTiles() {
    for (HDIB tile : m_tiles) DestroyDIB(tile);
    m_tiles.clear();
    std::fill(std::begin(m_tileFilled), std::end(m_tileFilled), false);
    m_Dib.FreePicture();
}

void CVideoWnd::paintEvent(QPaintEvent*) {
    QPainter dc(this);
    // A piece that completes no picture leaves the last picture shown: the
    // window never falls back to its background in the middle of a stream.
    if ((m_displayFlags & (kDisplayDecode | kDisplayPrepared)) == 0 || m_Dib.Picture() == nullptr) {
        dc.fillRect(rect(), palette().window());
        return;
    }
    if (IsSplitView()) {
        paintSplitView(dc);
        return;
    }
    m_Dib.DrawVideoBitmap(m_Dib.Picture(), dc, m_noVideo[0]);
}

// Every pane of the current adapter: its camera's last picture with the
// camera's name and its own no-video mark, or the logo while it has none;
// a filler pane that no camera fills shows the logo too.
void CVideoWnd::paintSplitView(QPainter& dc) {
    dc.fillRect(rect(), palette().window());
    for (const RECT& filler : FillerPanes()) m_Dib.DrawLogo(dc, filler);
    WORD adapter = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
    const std::vector<SplitPane> panes = SplitPanes();
    for (std::size_t i = 0; i < panes.size(); ++i) {
        if (!m_tileFilled[i]) {
            m_Dib.DrawLogo(dc, panes[i].rect);
            continue;
        }
        const std::string label = trennick::CameraName(m_database, adapter, panes[i].camera);
        m_Dib.DrawVideoBitmapIn(m_tiles[i], dc, panes[i].rect, label, m_noVideo[i]);
    }
}
