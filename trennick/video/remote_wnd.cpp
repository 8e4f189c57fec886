#include "trennick/video/remote_wnd.h"

#include "common/lumo_deb.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/video/video_mgr.h"

#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace trennick {

namespace {

constexpr int kIdleWidth = 176;
constexpr int kIdleHeight = 144;
constexpr int kStatisticsHeight = 20;
constexpr DWORD kStatisticsPeriodMs = 999;

}  // namespace

CRemoteWnd::CRemoteWnd() : QWidget(nullptr, Qt::Window) {
    setWindowTitle("Remote Camera");
    setObjectName("RemoteCamera");
    setAutoFillBackground(true);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    setPalette(grey);
    m_videoArea = new QWidget(this);
    m_videoArea->setObjectName("VideoArea");
    m_statistics = new QLabel(this);
    m_statistics->setObjectName("VideoStatistics");
    layOut(kIdleWidth, kIdleHeight);
}

CRemoteWnd::~CRemoteWnd() {
    if (m_connection != nullptr) {
        m_connection->SetVideoTarget(nullptr);
        m_connection->SetVideoWindow(nullptr);
    }
    if (m_videoMgr != nullptr) m_videoMgr->DestroyVideoWindow();
}

DWORD CRemoteWnd::now() const {
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count());
}

void CRemoteWnd::layOut(int width, int height) {
    m_videoArea->setGeometry(0, 0, width, height);
    m_statistics->setGeometry(4, height, width - 4, kStatisticsHeight);
    setFixedSize(width, height + kStatisticsHeight);
}

void CRemoteWnd::SetConnection(CVideoMgr* videoManager, CPacketConnection* connection, RemoteVideoSettings* settings) {
    m_videoMgr = videoManager;
    m_connection = connection;
    m_settings = settings;
}

void CRemoteWnd::CreateVideoWnd() {
    m_sizeChangePending = true;
    if (m_state == RemoteState::NotCreated) m_state = RemoteState::Idle;
    if (m_videoMgr != nullptr && m_settings != nullptr) {
        m_videoMgr->CreateVideoWindow(0, 0, m_settings->params, m_videoArea);
        m_videoMgr->AllocateFrameBitmaps();
    }
}

void CRemoteWnd::StartVideoWnd() {
    if (m_holdFlags != 0 || m_videoMgr == nullptr || m_settings == nullptr) return;
    if (m_state == RemoteState::NotCreated) CreateVideoWnd();
    CPARAMS params = m_settings->params;
    params.imagewidth = std::clamp<DWORD>(params.imagewidth, 1, kMaxPictureWidth);
    params.imageheight = std::clamp<DWORD>(params.imageheight, 1, kMaxPictureHeight);
    if (m_settings->doubleSize != 0) {
        params.imagewidth *= 2;
        params.imageheight *= 2;
    }
    QWidget* child = m_videoMgr->CreateVideoWindow(0, 0, params, m_videoArea);
    m_settings->params.palette8 = m_videoMgr->SetDisplayParams(TRUE, FALSE);
    layOut(std::max(child->width(), kIdleWidth), std::max(child->height(), kIdleHeight));
    m_videoMgr->ResizeVideoWindow(TRUE, TRUE, TRUE);
    m_videoMgr->ShowVideoWindow(TRUE, TRUE);
    m_state = RemoteState::Receiving;
    show();
}

void CRemoteWnd::StopVideoWnd() {
    if (m_state == RemoteState::Receiving || m_state == RemoteState::Paused) {
        if (m_connection != nullptr) {
            VideoSettingsRecord record{};
            if (m_connection->GetVideoSettings(1, record) != 0) m_connection->SetVideoStatus(1, kVideoStateClosed);
        }
        if (m_videoMgr != nullptr) {
            m_videoMgr->StopVideo(TRUE);
            m_videoMgr->ShowVideoWindow(TRUE, FALSE);
        }
        m_state = RemoteState::Idle;
        m_holdFlags = 0;
        layOut(kIdleWidth, kIdleHeight);
    }
    m_statistics->clear();
    m_periodFrames = 0;
    m_periodBytes = 0;
}

void CRemoteWnd::SetHoldState(int side, BOOL on) {
    const BYTE bit = side == 0 ? 1 : 2;
    m_holdFlags = on ? BYTE(m_holdFlags | bit) : BYTE(m_holdFlags & ~bit);
}

void CRemoteWnd::clear() {
    std::lock_guard lock(m_queueLock);
    m_frames.clear();
}

void CRemoteWnd::push(WORD bucketType, const BYTE* frame, DWORD length, bool) {
    if (frame == nullptr || length == 0) return;
    auto record = std::make_unique<VideoFrame>();
    record->data.assign(frame, frame + length);
    record->camera = (bucketType >> 8) & 0xFF;
    record->kind = bucketType & 0xFF;
    std::lock_guard lock(m_queueLock);
    m_frames.push_back(std::move(record));
}

void CRemoteWnd::OnNewVideoSettings(WORD, DWORD width, DWORD height, DWORD frameRateWord) {
    std::lock_guard lock(m_queueLock);
    m_newSettings = NewSettings{width, height, frameRateWord};
}

void CRemoteWnd::SetFrameRate(int rate) {
    if (m_settings == nullptr) return;
    DWORD value = DWORD(rate) & 0xFFFF;
    if (value > 100) {
        LUMO_TRACE(5, "CRemoteWnd::SetFrameRate Framerate %d out of range setting to default %d ", int(value), 50);
        value = 50;
    }
    m_settings->frameRate = value;
}

void CRemoteWnd::applyNewSettings(DWORD width, DWORD height, DWORD frameRateWord) {
    if (m_state != RemoteState::Receiving || m_videoMgr == nullptr || m_settings == nullptr) return;
    // The site's size is bounded to the largest picture the view holds.
    width = std::clamp<DWORD>(width, 1, kMaxPictureWidth);
    height = std::clamp<DWORD>(height, 1, kMaxPictureHeight);
    m_settings->params.imagewidth = width;
    m_settings->params.imageheight = height;
    m_settings->params.frameRate = frameRateWord;
    CPARAMS shown = m_settings->params;
    if (m_settings->doubleSize != 0) {
        shown.imagewidth *= 2;
        shown.imageheight *= 2;
    }
    m_videoMgr->SetFrameSize(shown, FALSE);
    if (CVideoWnd* child = m_videoMgr->VideoWindow()) {
        layOut(std::max(child->width(), kIdleWidth), std::max(child->height(), kIdleHeight));
        m_videoMgr->ResizeVideoWindow(TRUE, TRUE, TRUE);
    }
    m_sizeChangePending = false;
}

void CRemoteWnd::sendVideoSettings() {
    if (m_connection == nullptr || m_settings == nullptr) return;
    const bool qcifOnly = m_connection->Settings().useOnlyQcif;
    const DWORD width = qcifOnly ? 176 : m_settings->params.imagewidth;
    const DWORD height = qcifOnly ? 144 : m_settings->params.imageheight;
    VideoSettingsRecord record{};
    std::memcpy(record.data(), &m_settings->params, record.size());
    std::memcpy(record.data() + 12, &width, 4);
    std::memcpy(record.data() + 16, &height, 4);
    std::memcpy(record.data() + 36, &m_settings->frameRate, 4);
    const DWORD shortForm[4] = {width, height, m_settings->frameRate, 0};
    m_connection->SendVideoSettings(1, reinterpret_cast<const BYTE*>(shortForm), record);
}

void CRemoteWnd::restartStatistics() {
    m_periodStartMs = now();
    m_lastFrameMs = m_periodStartMs;
    m_periodFrames = 0;
    m_periodBytes = 0;
    m_stalled = false;
}

std::string CRemoteWnd::StatisticsText() const { return m_statistics->text().toStdString(); }

void CRemoteWnd::drainQueue(bool decode) {
    for (;;) {
        std::unique_ptr<VideoFrame> frame;
        {
            std::lock_guard lock(m_queueLock);
            if (m_frames.empty()) break;
            frame = std::move(m_frames.front());
            m_frames.pop_front();
        }
        m_stalled = false;
        m_periodBytes += DWORD(frame->data.size());
        if (!decode || m_state != RemoteState::Receiving || m_sizeChangePending || m_videoMgr == nullptr) continue;
        if (m_videoMgr->StoreNewFrame(std::move(frame))) {
            ++m_periodFrames;
            ++m_totalDecoded;
            m_lastFrameMs = now();
            if (CVideoWnd* child = m_videoMgr->VideoWindow()) child->DrawExpandedFrames();
        }
    }
}

int CRemoteWnd::ProcessRemoteVideo() {
    if (m_connection == nullptr) return 1;
    VideoSettingsRecord record{};
    const WORD status = m_connection->GetVideoSettings(1, record);
    if (m_state != RemoteState::NotCreated && !m_connection->IsLinkUp()) {
        StopVideoWnd();
        clear();
        return 1;
    }
    std::optional<NewSettings> settings;
    {
        std::lock_guard lock(m_queueLock);
        settings.swap(m_newSettings);
    }
    if (settings) applyNewSettings(settings->width, settings->height, settings->frameRateWord);

    switch (status) {
    case kVideoStateOpen: {
        if (m_settings != nullptr && m_settings->askBeforeVideo != 0) {
            m_connection->SetVideoStatus(1, 4);
            if (m_askVideo && m_askVideo() == 16) {
                m_connection->SendAcknowledgment(ID_DSVD_NOVIDEOOPEN, 1);
                m_connection->SetVideoStatus(1, 0);
                return 0;
            }
        }
        LUMO_TRACE(5,
                   "CRemoteWnd::ProcessRemoteVideo() 1.Status VIDEO_OPEN 2. SendAcknowledgment(IDS_DSVD_OKVOPEN) "
                   "3.Call StartVideoWnd(), %s, LINE %d",
                   "Remwnd", __LINE__);
        if (m_videoMgr != nullptr) m_videoMgr->SetStreamVersion(WORD(m_connection->GetProtocolVersion()));
        StartVideoWnd();
        m_sizeChangePending = false;
        m_connection->SendAcknowledgment(ID_DSVD_OKVIDEOOPEN, 1);
        m_connection->SetVideoStatus(1, kVideoStateInProcess);
        sendVideoSettings();
        m_connection->SetVideoTarget(this);
        m_connection->SetVideoWindow(this);
        restartStatistics();
        break;
    }
    case kVideoStateInProcess: {
        bool queued = false;
        {
            std::lock_guard lock(m_queueLock);
            queued = !m_frames.empty();
        }
        if (queued) {
            drainQueue(true);
        } else {
            m_stalled = now() - m_lastFrameMs > kStallAfterMs;
        }
        const DWORD elapsed = now() - m_periodStartMs;
        if (elapsed > kStatisticsPeriodMs) {
            const double rate = double(m_periodFrames) / (double(elapsed) * 0.001);
            const unsigned hundredths = unsigned(rate * 100.0 + 0.5);
            const unsigned bytesPerFrame = m_periodFrames != 0 ? unsigned(m_periodBytes / m_periodFrames) : 0;
            char text[64];
            std::snprintf(text, sizeof text, "Fp/s: %u.%02u   Bp/f: %u", hundredths / 100, hundredths % 100,
                          bytesPerFrame);
            m_statistics->setText(text);
            m_lastRate = rate;
            m_periodStartMs = now();
            m_periodFrames = 0;
            m_periodBytes = 0;
        }
        break;
    }
    case kVideoStateClosed:
        StopVideoWnd();
        m_connection->SetVideoStatus(1, 0);
        m_stalled = false;
        clear();
        break;
    default:
        break;
    }
    return 1;
}

}  // namespace trennick
