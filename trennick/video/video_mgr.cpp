#include "trennick/video/video_mgr.h"

#include "common/lumo_deb.h"
#include "tavicore/product_key.h"
#include "trennick/link/packet_connection.h"
#include "trennick/record/remote_quad.h"
#include "trennick/video/pipeline/tmn_expand.h"

#include <QWindow>

#include <algorithm>

namespace trennick {

namespace {

// Sizes between the two picture formats snap to the nearer standard one.
int snapWidth(int width) {
    if (width < 176) return 176;
    if (width > 180 && width < 352) return 352;
    return width;
}
int snapHeight(int height) {
    if (height < 144) return 144;
    if (height > 180 && height < 288) return 288;
    return height;
}

}  // namespace

CVideoMgr::CVideoMgr() : m_pTMNExpand(std::make_unique<CTMNExpand>()) {
    CKcReg reg = ProductKey("Video");
    reg.GetDwordDefault(nullptr, "IsDecodeVideo", &m_isDecodeVideo);
    m_pipeline.setDecoding(m_isDecodeVideo != 0);
    m_pipeline.setDecoder(this);
}

CVideoMgr::~CVideoMgr() {
    DestroyVideoWindow();
    m_pTMNExpand.reset();
}

void CVideoMgr::Attach(CPacketConnection* connection, CLumora* capture, CDBLumoRemote* database, DWORD value) {
    m_connection = connection;
    m_capture = capture;
    m_database = database;
    m_attachValue = value;
}

BOOL CVideoMgr::StoreNewFrame(std::unique_ptr<VideoFrame> frame) {
    return m_pipeline.deliver(std::move(frame), FrameEntry::Posted) ? TRUE : FALSE;
}

bool CVideoMgr::decodeFrame(const VideoFrame& frame) { return m_window != nullptr && m_window->DecodeFrame(frame); }

QWidget* CVideoMgr::CreateVideoWindow(int x, int y, const CPARAMS& params, QWidget* parent) {
    m_current = params;
    if (m_window != nullptr) {
        if (m_hostedWindow && m_window->windowHandle() != nullptr) m_window->windowHandle()->setParent(nullptr);
        m_window->setParent(parent);
        m_hostedWindow = false;
    } else {
        m_window = std::make_unique<CVideoWnd>(m_pTMNExpand.get(), parent);
        // A host window of the kit that goes first takes the child with it.
        QObject::connect(m_window.get(), &QObject::destroyed, m_window.get(), [this](QObject* gone) {
            if (static_cast<QObject*>(m_window.get()) == gone) (void)m_window.release();
        });
        m_window->setObjectName(QString("VideoWindow%1").arg(m_nextWindowId++));
        m_window->SetStreamVersion(m_streamVersion);
        m_window->SetStreamKind(m_streamKind);
        m_window->SetSplitView(m_quad, m_splitDatabase);
    }
    m_window->move(x, y);
    m_window->resize(int(m_current.imagewidth), int(m_current.imageheight));
    m_current.palette8 = 0;  // the display is never a palette display here
    ResizeVideoWindow(TRUE, TRUE, TRUE);
    return m_window.get();
}

void CVideoMgr::DestroyVideoWindow() {
    if (m_window == nullptr) return;
    m_window->CloseVideo();
    m_window.reset();
}

bool CVideoMgr::HoldsWindow(const QWidget* window) const {
    return m_window != nullptr && window != nullptr && (window == m_window.get() || m_window->isAncestorOf(window));
}

BOOL CVideoMgr::AttachVideoWindow(QWidget* host) {
    if (m_window == nullptr || host == nullptr || HoldsWindow(host)) return FALSE;
    m_window->setParent(host);
    showInHost(host->width(), host->height());
    return TRUE;
}

BOOL CVideoMgr::AttachVideoWindow(QWindow* foreignHost) {
    if (m_window == nullptr || foreignHost == nullptr) return FALSE;
    m_window->setParent(nullptr);
    m_window->winId();  // the child needs a window of its own to be re-parented
    m_window->windowHandle()->setParent(foreignHost);
    showInHost(foreignHost->width(), foreignHost->height());
    return TRUE;
}

void CVideoMgr::showInHost(int width, int height) {
    m_hostedWindow = true;
    m_window->move(0, 0);
    m_window->resize(width, height + 3);
    m_window->show();
    CPARAMS record = m_current;
    record.imagewidth = DWORD(std::max(width, 0));
    record.imageheight = DWORD(std::max(height + 3, 0));
    m_window->Dib().SetTarget(m_window.get());
    m_window->SetParams(record);
    m_window->Dib().SetDrawRect(RECT{0, 0, width, height}, nullptr);
    LUMO_TRACE(5, "CVideoMgr::AttachVideoWindow hosted in %dx%d", width, height);
}

void CVideoMgr::ResizeVideoWindow(BOOL enable, BOOL, BOOL) {
    if (!enable || m_window == nullptr) return;
    int width = snapWidth(int(m_current.imagewidth));
    int height = snapHeight(int(m_current.imageheight));
    if (m_window->IsSplitView()) {
        // The panes are laid out for pictures of that size; the window takes
        // the whole split picture and paints each pane itself.
        m_quad->rqCalcLayout(width, height);
        int quadWidth = 0, quadHeight = 0;
        m_quad->rqGetQuadSize(quadWidth, quadHeight);
        if (quadWidth > 0 && quadHeight > 0) {
            width = quadWidth;
            height = quadHeight;
        }
    }
    m_window->resize(width, height);
    m_window->Dib().SetDrawRect(RECT{0, 0, width, height}, nullptr);
    if (QWidget* area = m_window->parentWidget()) {
        m_window->move(std::max(0, (area->width() - width) / 2), std::max(0, (area->height() - height) / 2));
    }
    const bool localHold = m_connection != nullptr && (m_connection->GetHoldStatus() & 1) != 0;
    if (!localHold) m_window->show();
    m_window->update();
}

DWORD CVideoMgr::SetDisplayParams(BOOL enable, BOOL halfSize) {
    CPARAMS params = m_current;
    if (halfSize) {
        params.imagewidth /= 2;
        params.imageheight /= 2;
    }
    if (enable && m_window != nullptr) m_window->OpenVideo(kDisplayDecode, params);
    return m_current.palette8;
}

void CVideoMgr::StopVideo(BOOL) {
    if (m_window != nullptr) m_window->CloseVideo();
}

void CVideoMgr::SetFrameSize(const CPARAMS& params, BOOL halfSize) {
    const bool changed = params.imagewidth != m_current.imagewidth || params.imageheight != m_current.imageheight;
    m_previous = m_current;
    m_current.imagewidth = params.imagewidth;
    m_current.imageheight = params.imageheight;
    m_current.frameRate = params.frameRate;
    m_current.word13 = params.word13;
    if (m_window == nullptr) return;
    CPARAMS applied = m_current;
    if (halfSize) {
        applied.imagewidth /= 2;
        applied.imageheight /= 2;
    }
    m_window->SetParams(applied);
    if (changed) ResizeVideoWindow(TRUE, TRUE, TRUE);
}

void CVideoMgr::GetDisplayParams(int which, CPARAMS& out) const { out = which == 0 ? m_current : m_previous; }

void CVideoMgr::ShowVideoWindow(BOOL enable, BOOL show) {
    if (enable && m_window != nullptr) m_window->setVisible(show != FALSE);
}

void CVideoMgr::ReapplyParams() {
    if (m_window == nullptr) return;
    m_window->Dib().SetTarget(m_window.get());
    m_window->SetParams(m_current);
}

void CVideoMgr::AllocateFrameBitmaps() {
    if (m_window != nullptr) m_window->AllocateTiles();
}

void CVideoMgr::FreeFrameBitmaps() {
    if (m_window != nullptr) m_window->FreeTiles();
}

HDIB CVideoMgr::GetPicture() const { return m_window != nullptr ? m_window->Dib().Picture() : nullptr; }

BOOL CVideoMgr::IsNoVideo() const { return m_window != nullptr ? m_window->IsNoVideo(0) : FALSE; }

BOOL CVideoMgr::SetStreamVersion(WORD version) {
    m_streamVersion = version;
    m_pipeline.setStreamVersion(version);
    if (m_window != nullptr) m_window->SetStreamVersion(version);
    return TRUE;
}

BOOL CVideoMgr::SetStreamKind(WORD kind) {
    m_streamKind = kind;
    if (m_window != nullptr) m_window->SetStreamKind(kind);
    return TRUE;
}

void CVideoMgr::SetSplitView(CRemoteQuad* quad, CDBLumo* database) {
    m_quad = quad;
    m_splitDatabase = database;
    if (m_window != nullptr) {
        m_window->SetSplitView(quad, database);
        ResizeVideoWindow(TRUE, TRUE, TRUE);
    }
}

BOOL CVideoMgr::SetDecoderAttribute(DWORD value) {
    if (m_pTMNExpand != nullptr) m_pTMNExpand->SetAttribute(int(value));
    return TRUE;
}

}  // namespace trennick
