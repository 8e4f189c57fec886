#include "trennick/video/remote_wnd.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "resources/glossel_ids.h"
#include "tavicore/capture_base.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_toolbar.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/clients/zo_ptz_ui.h"
#include "trennick/image/animate_ctrl.h"
#include "trennick/image/bitmap_button.h"
#include "trennick/link/hw_profile_list.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/ui/window_text.h"
#include "trennick/video/video_mgr.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSlider>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace trennick {

namespace {

constexpr DWORD kStatisticsPeriodMs = 999;

QColor lightGrey() { return QColor(0xC0, 0xC0, 0xC0); }

// The window's commands that the main window serves, with the command it gets
// and when it is handed on.
enum class ForwardWhen { Always, LinkUp, Connected, QuadSettingsAllowed, Receiving, ReceivingSinglePicture };
struct ForwardedCommand {
    WPARAM id;
    WPARAM frameCommand;
    ForwardWhen when;
};
constexpr ForwardedCommand kForwardedCommands[] = {
    {ID_RW_TITLE, 57347, ForwardWhen::Always},
    {ID_RW_STOP, ID_RW_STOP, ForwardWhen::Always},
    {ID_RW_FRAME_32104, ID_RW_FRAME_32104, ForwardWhen::Connected},
    {ID_RW_HELP, ID_RW_HELP, ForwardWhen::Always},
    {ID_RW_SNAPSHOT, ID_RW_SNAPSHOT, ForwardWhen::Always},
    {ID_RW_SNAPSHOT_DIALOG, ID_RW_SNAPSHOT_DIALOG, ForwardWhen::LinkUp},
    {ID_RW_QUAD_SETTINGS, ID_RW_QUAD_SETTINGS, ForwardWhen::QuadSettingsAllowed},
    {ID_RW_FRAME_32826, ID_RW_FRAME_32826, ForwardWhen::Receiving},
    {ID_RW_FRAME_32822, ID_RW_FRAME_32822, ForwardWhen::ReceivingSinglePicture},
};

}  // namespace

CRemoteWnd::CRemoteWnd() : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint) {
    setWindowTitle("Remote Camera");
    setObjectName("RemoteCamera");
    setAutoFillBackground(true);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, lightGrey());
    setPalette(grey);
    setAcceptDrops(true);
    setMouseTracking(true);
    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return OnMessage(msg, wParam, lParam); });
    CKcReg quad = ProductKey("RemoteQuad");
    quad.GetDwordDefault(nullptr, "IsEnableQuadMode", &m_quadMode);
    CKcReg ptz = ProductKey("Ptz");
    ptz.GetDwordDefault(nullptr, "PtzEnabled", &m_ptzEnabled);
    CKcReg alarm = ProductKey("Alarm");
    alarm.GetDwordDefault(nullptr, "AutoTriggerTrack", &m_autoTrack);
    buildControls();
    layOut(kIdleWidth, kIdleHeight);
}

CRemoteWnd::~CRemoteWnd() {
    if (m_connection != nullptr) {
        m_connection->SetVideoTarget(nullptr);
        m_connection->SetVideoWindow(nullptr);
        m_connection->SetRemoteView(nullptr);
    }
    destroyLumoraBar();
    if (m_videoMgr != nullptr) {
        m_videoMgr->Pipeline().setView(nullptr);
        m_videoMgr->DestroyVideoWindow();
    }
    savePosition();
    CKcReg alarm = ProductKey("Alarm");
    alarm.SetDword(nullptr, "AutoTriggerTrack", &m_autoTrack);
    m_target.reset();
}

DWORD CRemoteWnd::now() const {
    if (m_clock) return m_clock();
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count());
}

platform::HWND CRemoteWnd::Handle() const { return m_target != nullptr ? m_target->hwnd() : 0; }

// ---- binding ----

void CRemoteWnd::SetConnection(CVideoMgr* videoManager, CPacketConnection* connection, RemoteVideoSettings* settings) {
    if (m_connection != nullptr && m_connection != connection) m_connection->SetRemoteView(nullptr);
    if (m_videoMgr != nullptr && m_videoMgr != videoManager) m_videoMgr->Pipeline().setView(nullptr);
    m_videoMgr = videoManager;
    // The pipeline's pictures are shown here.
    if (m_videoMgr != nullptr) m_videoMgr->Pipeline().setView(this);
    m_connection = connection;
    m_settings = settings;
    if (m_connection != nullptr) m_connection->SetRemoteView(this);
    if (m_settings != nullptr) {
        const QSignalBlocker quiet(m_slider);
        m_slider->setValue(int(std::min<DWORD>(m_settings->frameRate, 100)));
    }
    if (m_state == RemoteState::Receiving && m_settings != nullptr) {
        applyNewSettings(m_settings->params.imagewidth, m_settings->params.imageheight, m_settings->params.frameRate);
        sendVideoSettings();
    }
}

void CRemoteWnd::SetHost(RemoteWndHost* host, CLumora* capture, CDBLumoRemote* database) {
    m_host = host;
    m_capture = capture;
    m_database = database;
}

bool CRemoteWnd::receiving() const { return m_state == RemoteState::Receiving || m_state == RemoteState::Paused; }

bool CRemoteWnd::linkUp() const { return m_connection != nullptr && m_connection->IsLinkUp(); }

bool CRemoteWnd::connected() const { return linkUp() && m_connection->IsConnected(); }

void CRemoteWnd::CreateVideoWnd() {
    m_sizeChangePending = true;
    if (m_state == RemoteState::NotCreated) {
        m_state = RemoteState::Idle;
        // The lower panel opens and the saved place is restored once the
        // window's creation is over.
        platform::PostMessage(Handle(), WM_COMMAND, ID_RW_PANEL_OPEN, 0);
        platform::PostMessage(Handle(), kMsgRestorePosition, 0, 0);
    }
    if (m_videoMgr != nullptr && m_settings != nullptr) {
        m_videoMgr->CreateVideoWindow(0, 0, m_settings->params, m_videoArea);
        m_videoMgr->AllocateFrameBitmaps();
        if (m_settings->alwaysOnTop != 0) setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
}

void CRemoteWnd::StartVideoWnd() {
    if (m_holdFlags != 0 || m_videoMgr == nullptr || m_settings == nullptr) return;
    if (m_state == RemoteState::NotCreated) CreateVideoWnd();
    m_idle->hide();
    CPARAMS params = m_settings->params;
    if (m_hosted > 0) {
        params.imagewidth = kMaxPictureWidth;
        params.imageheight = kMaxPictureHeight;
    } else {
        params.imagewidth = std::clamp<DWORD>(params.imagewidth, 1, kMaxPictureWidth);
        params.imageheight = std::clamp<DWORD>(params.imageheight, 1, kMaxPictureHeight);
        if (m_settings->doubleSize != 0) {
            params.imagewidth *= 2;
            params.imageheight *= 2;
        }
    }
    QWidget* child = m_videoMgr->CreateVideoWindow(0, 0, params, m_videoArea);
    m_settings->params.palette8 = m_videoMgr->SetDisplayParams(TRUE, FALSE);
    m_videoArea->show();
    layOut(child->width(), child->height());
    m_videoMgr->ResizeVideoWindow(TRUE, TRUE, TRUE);
    m_videoMgr->ShowVideoWindow(TRUE, TRUE);
    m_state = RemoteState::Receiving;
    m_lastBlinkMs = 0;
    showSizeButtons();
    show();
}

void CRemoteWnd::StopVideoWnd() {
    destroyLumoraBar();
    if (m_state == RemoteState::Receiving || m_state == RemoteState::Paused) {
        if (m_connection != nullptr) {
            VideoSettingsRecord record{};
            if (m_connection->GetVideoSettings(1, record) != 0) m_connection->SetVideoStatus(1, kVideoStateClosed);
        }
        if (m_videoMgr != nullptr) {
            m_videoMgr->StopVideo(TRUE);
            m_videoMgr->ShowVideoWindow(TRUE, FALSE);
        }
        m_videoArea->hide();
        m_state = RemoteState::Idle;
        if (m_holdFlags != 0) {
            endHoldClip();
            m_holdFlags = 0;
        }
        m_idle->show();
        layOut(kIdleWidth, kIdleHeight);
        showStatusPicture();
    }
    m_statistics->setText("  ");
    m_periodFrames = 0;
    m_periodBytes = 0;
    SetWindowTextIfChanged(this, "Remote Camera");
    if (m_host != nullptr) {
        m_host->showVideoLamp(false);
        m_host->showRemoteImage(false);
    }
}

void CRemoteWnd::SetHoldState(int side, BOOL on) {
    if (m_state == RemoteState::NotCreated || m_connection == nullptr) return;
    VideoSettingsRecord record{};
    if (m_connection->GetVideoSettings(1, record) == 0) return;
    const BYTE before = m_holdFlags;
    const BYTE bit = side == 0 ? 1 : 2;
    m_holdFlags = on ? BYTE(m_holdFlags | bit) : BYTE(m_holdFlags & ~bit);
    const bool recording = m_host != nullptr && m_host->isRecording();
    m_controls[ID_RW_STOP]->setVisible(recording);
    m_controls[ID_RW_START]->setVisible(!recording);
    m_controls[ID_RW_BLINK]->setVisible(recording && !on);
    if (before == 0 && m_holdFlags != 0) {
        // The hold starts: the hold clip takes the picture's place.
        m_idle->hide();
        m_videoArea->hide();
        playHoldClip();
    } else if (before != 0 && m_holdFlags == 0) {
        endHoldClip();
        if (m_state == RemoteState::Receiving || m_state == RemoteState::Paused) {
            m_videoArea->show();
        } else {
            m_idle->show();
        }
    }
    showStatusPicture();
}

void CRemoteWnd::playHoldClip() {
    const std::string folder = m_host != nullptr ? m_host->holdClipFolder() : std::string();
    std::string why = "no folder for it";
    if (!folder.empty() && m_holdClip->Open((std::filesystem::path(folder) / kHoldClipFile).string(), &why)) {
        m_holdClip->Play(0, -1, -1);
    } else {
        LUMO_TRACE(3, "CRemoteWnd: the hold clip is not played (%s); the hold notice shows", why.c_str());
    }
    m_holdClip->show();
    m_holdClip->raise();
}

void CRemoteWnd::endHoldClip() {
    m_holdClip->Close();
    m_holdClip->hide();
}

void CRemoteWnd::SetHostedMode(BOOL on) {
    if (on) {
        ++m_hosted;
    } else if (m_hosted > 0) {
        --m_hosted;
    }
}

BOOL CRemoteWnd::IsCifSize() const {
    return m_settings != nullptr && m_settings->params.imagewidth > 180 ? TRUE : FALSE;
}

// ---- the link's remote view ----

void CRemoteWnd::holdChanged(int side, bool on) {
    platform::PostMessage(Handle(), kMsgRemoteHold, side == kHoldLocal ? 0 : 1, on ? 1 : 0);
}

void CRemoteWnd::postMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    platform::PostMessage(Handle(), message, wParam, lParam);
}

void CRemoteWnd::hwProfilesReceived(int adapters) {
    platform::PostMessage(Handle(), kMsgRemoteProfile, WPARAM(adapters), 0);
}

void CRemoteWnd::dropQueuedFrames() {
    if (m_videoMgr != nullptr) m_videoMgr->Pipeline().clear();
}

void CRemoteWnd::OnNewVideoSettings(WORD, DWORD width, DWORD height, DWORD frameRateWord) {
    std::lock_guard lock(m_settingsLock);
    m_newSettings = NewSettings{width, height, frameRateWord};
}

void CRemoteWnd::applyPendingSettings() {
    std::optional<NewSettings> settings;
    {
        std::lock_guard lock(m_settingsLock);
        settings.swap(m_newSettings);
    }
    if (settings) applyNewSettings(settings->width, settings->height, settings->frameRateWord);
}

void CRemoteWnd::SetFrameRate(int rate) {
    if (m_settings == nullptr) return;
    DWORD value = DWORD(rate) & 0xFFFF;
    if (value > 100) {
        LUMO_TRACE(5, "CRemoteWnd::SetFrameRate Framerate %d out of range setting to default %d ", int(value), 50);
        value = 50;
    }
    if (int(value) != m_slider->value()) {
        m_settings->frameRate = value;
        const QSignalBlocker quiet(m_slider);
        m_slider->setValue(int(value));
    }
}

// Hands the video manager the picture as the window shows it (doubled when
// asked) and lays the window out around the video child.
void CRemoteWnd::applyShownSize() {
    CPARAMS shown = m_settings->params;
    if (m_settings->doubleSize != 0) {
        shown.imagewidth *= 2;
        shown.imageheight *= 2;
    }
    m_videoMgr->SetFrameSize(shown, FALSE);
    if (CVideoWnd* child = m_videoMgr->VideoWindow()) {
        layOut(child->width(), child->height());
        m_videoMgr->ResizeVideoWindow(TRUE, TRUE, TRUE);
    }
}

void CRemoteWnd::applyNewSettings(DWORD width, DWORD height, DWORD frameRateWord) {
    if (m_state != RemoteState::Receiving || m_videoMgr == nullptr || m_settings == nullptr) return;
    // The site's size is bounded to the largest picture the view holds.
    width = std::clamp<DWORD>(width, 1, kMaxPictureWidth);
    height = std::clamp<DWORD>(height, 1, kMaxPictureHeight);
    m_settings->params.imagewidth = width;
    m_settings->params.imageheight = height;
    m_settings->params.frameRate = frameRateWord;
    applyShownSize();
    showSizeButtons();
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
    if (m_connection->SendVideoSettings(1, reinterpret_cast<const BYTE*>(shortForm), record) == 0) {
        LUMO_TRACE(3, "CRemoteWnd: the video settings were not written; the next change sends them again");
    }
}

// ---- the video road ----

void CRemoteWnd::restartStatistics() {
    m_periodStartMs = now();
    m_lastFrameMs = m_periodStartMs;
    m_periodFrames = 0;
    m_periodBytes = 0;
    setStalled(false);
}

void CRemoteWnd::GetStatistics(DWORD& elapsedMs, DWORD& frames, DWORD& bytes) const {
    elapsedMs = frames = bytes = 0;
    if (m_state != RemoteState::Receiving) return;
    elapsedMs = now() - m_periodStartMs;
    frames = m_periodFrames;
    bytes = m_periodBytes;
}

void CRemoteWnd::GetVideoSettings(RemoteVideoSettings& out) const {
    if (m_settings != nullptr) out = *m_settings;
}

std::string CRemoteWnd::StatisticsText() const { return m_statistics->text().toStdString(); }

void CRemoteWnd::refreshStatistics(DWORD elapsedMs) {
    if (elapsedMs == 0 || m_periodFrames == 0) {
        if (elapsedMs != 0 && m_host != nullptr) m_host->showVideoLamp(false);
        if (elapsedMs != 0) m_lastRate = 0;
        return;
    }
    const double rate = double(m_periodFrames) / (double(elapsedMs) * 0.001);
    const unsigned hundredths = unsigned(rate * 100.0 + 0.5);
    const unsigned bytesPerFrame = unsigned(m_periodBytes / m_periodFrames);
    if (m_host != nullptr) {
        m_host->showVideoLamp(true);
        m_host->setFrameRateMeter(rate);
    }
    if (m_panelOpen) {
        char text[64];
        std::snprintf(text, sizeof text, "Fp/s: %u.%02u   Bp/f: %u", hundredths / 100, hundredths % 100,
                      bytesPerFrame);
        m_statistics->setText(text);
    }
    m_lastRate = rate;
}

bool CRemoteWnd::admitFrame(DWORD frameBytes) {
    // The peer's new picture size comes before the frames that follow it.
    if (m_hosted == 0) applyPendingSettings();
    m_framesSincePass = true;
    setStalled(false);
    m_periodBytes += frameBytes;
    return m_state == RemoteState::Receiving && !m_sizeChangePending && m_videoMgr != nullptr && m_hosted == 0;
}

void CRemoteWnd::pictureReady(DWORD frameBytes, DWORD decodeMs) {
    ++m_periodFrames;
    ++m_totalDecoded;
    m_lastFrameMs = now();
    if (m_host != nullptr) m_host->frameDecoded(frameBytes, decodeMs);
    if (CVideoWnd* child = m_videoMgr != nullptr ? m_videoMgr->VideoWindow() : nullptr) child->DrawExpandedFrames();
}

int CRemoteWnd::ProcessRemoteVideo() {
    if (m_connection == nullptr) return 1;
    VideoSettingsRecord record{};
    const WORD status = m_connection->GetVideoSettings(1, record);
    if (m_hosted > 0) dropQueuedFrames();
    if (m_state != RemoteState::NotCreated && !m_connection->IsLinkUp()) {
        if (m_hosted == 0) StopVideoWnd();
        UpdateVideoButtons(FALSE);
        m_controls[ID_RW_SNAPSHOT]->setEnabled(false);
        m_controls[ID_RW_HOLD]->setEnabled(false);
        setStalled(false);
        dropQueuedFrames();
        return 1;
    }
    if (m_state != RemoteState::NotCreated) {
        UpdateVideoButtons(m_host != nullptr && m_host->isRecording() ? TRUE : FALSE);
        m_controls[ID_RW_HOLD]->setEnabled(true);
        m_controls[ID_RW_SNAPSHOT]->setEnabled(m_host == nullptr || !m_host->splitMode());
    }
    if (m_hosted > 0) return 1;
    applyPendingSettings();

    switch (status) {
    case kVideoStateOpen: {
        if (m_settings != nullptr && m_settings->askBeforeVideo != 0) {
            m_connection->SetVideoStatus(1, 4);
            if (m_askVideo && m_askVideo() == 16) {
                if (m_connection->SendAcknowledgment(ID_DSVD_NOVIDEOOPEN, 1) == 0) {
                    LUMO_TRACE(3, "CRemoteWnd: the refusal of the video was not written");
                }
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
        if (m_connection->SendAcknowledgment(ID_DSVD_OKVIDEOOPEN, 1) == 0) {
            LUMO_TRACE(3, "CRemoteWnd: the acceptance of the video was not written");
        }
        m_connection->SetVideoStatus(1, kVideoStateInProcess);
        if (m_connection->GetRemoteAdapterCount() > 0) {
            CreateLumoraBar();
            UpdateLumoraBar();
            UpdateAdaptersToolBar();
        }
        LUMO_TRACE(5, "CPacketConnection::CheckAcknowledgment() call pMainFrame->PostMessage( WM_USER_VIDEO_OPEN ");
        if (m_host != nullptr) {
            m_host->videoOpened();
            if (!m_connection->IsOutgoingCall()) m_host->setSplitMode(false);
        }
        sendVideoSettings();
        m_connection->SetVideoTarget(m_videoMgr != nullptr ? &m_videoMgr->Pipeline() : nullptr);
        m_connection->SetVideoWindow(this);
        restartStatistics();
        if (m_host != nullptr) m_host->videoStreamChanged(true);
        break;
    }
    case kVideoStateInProcess: {
        // Frames decode as they arrive; those that came from another thread
        // are delivered now. The stall mark shows when none came for a while.
        if (m_videoMgr != nullptr) m_videoMgr->Pipeline().drain();
        if (!m_framesSincePass) setStalled(now() - m_lastFrameMs > kStallAfterMs);
        m_framesSincePass = false;
        const DWORD elapsed = now() - m_periodStartMs;
        if (elapsed > kStatisticsPeriodMs) {
            refreshStatistics(elapsed);
            m_periodStartMs = now();
            m_periodFrames = 0;
            m_periodBytes = 0;
        }
        break;
    }
    case kVideoStateClosed:
        StopVideoWnd();
        if (m_state != RemoteState::NotCreated) {
            OnCommand(ID_RW_STOP);
            UpdateVideoButtons(FALSE);
            m_controls[ID_RW_BLINK]->hide();
            m_controls[ID_RW_QCIF]->hide();
            m_controls[ID_RW_QCIF]->setEnabled(false);
            m_controls[ID_RW_CIF]->show();
            m_controls[ID_RW_CIF]->setEnabled(false);
        }
        m_connection->SetVideoStatus(1, 0);
        setStalled(false);
        if (m_host != nullptr) m_host->videoStreamChanged(false);
        dropQueuedFrames();
        break;
    default:
        break;
    }
    return 1;
}

// ---- commands ----

bool CRemoteWnd::forwardToFrame(WPARAM id) {
    const auto* entry = std::find_if(std::begin(kForwardedCommands), std::end(kForwardedCommands),
                                     [id](const ForwardedCommand& c) { return c.id == id; });
    if (entry == std::end(kForwardedCommands)) return false;
    bool allowed = true;
    switch (entry->when) {
    case ForwardWhen::Always: break;
    case ForwardWhen::LinkUp: allowed = linkUp(); break;
    case ForwardWhen::Connected: allowed = connected(); break;
    case ForwardWhen::QuadSettingsAllowed: allowed = quadSettingsAllowed(); break;
    case ForwardWhen::Receiving: allowed = receiving(); break;
    case ForwardWhen::ReceivingSinglePicture:
        allowed = receiving() && !(connected() && m_host != nullptr && m_host->splitMode());
        break;
    }
    if (allowed && m_host != nullptr) m_host->frameCommand(entry->frameCommand);
    return true;
}

void CRemoteWnd::OnCommand(WPARAM id) {
    if (forwardToFrame(id)) return;
    if (id >= ID_RW_ADAPTER_FIRST && id < ID_RW_ADAPTER_FIRST + kRwAdapterButtons) {
        selectAdapter(WORD(id - ID_RW_ADAPTER_FIRST));
        return;
    }
    if (id >= ID_RW_CAMERA_FIRST && id < ID_RW_CAMERA_FIRST + kCamerasPerAdapter) {
        selectCamera(WORD(id - ID_RW_CAMERA_FIRST));
        return;
    }
    switch (id) {
    case ID_RW_PANEL_CLOSE:
        closePanel();
        break;
    case ID_RW_PANEL_OPEN:
        openPanel((QApplication::keyboardModifiers() & Qt::ControlModifier) != 0);
        break;
    case ID_RW_MENU: {
        QWidget* button = m_controls[ID_RW_MENU];
        std::unique_ptr<QMenu> menu = BuildContextMenu();
        QMenu* shown = menu.release();
        shown->setAttribute(Qt::WA_DeleteOnClose);
        shown->popup(button->mapToGlobal(QPoint(button->width(), button->height())));
        break;
    }
    case ID_RW_PAUSE:
        togglePause();
        break;
    case ID_RW_HOLD:
        if (m_host != nullptr && linkUp()) m_host->toggleHold();
        break;
    case ID_RW_ON_TOP:
        toggleOnTop();
        break;
    case ID_RW_DOUBLE:
        toggleDoubleSize();
        break;
    case ID_RW_CIF:
    case ID_RW_QCIF:
        askPictureSize(id);
        break;
    case ID_RW_START:
        OnCommand(ID_RW_RECORD);
        break;
    case ID_RW_RECORD:
        if (connected()) {
            sendVideoSettings();
            if (m_host != nullptr) m_host->frameCommand(ID_RW_RECORD);
        }
        break;
    case ID_RW_QUAD:
    case ID_RW_QUAD2:
        quadView(id);
        break;
    case ID_RW_PTZ:
        togglePtzPanel();
        break;
    case ID_RW_TRACKING:
        m_autoTrack = m_autoTrack != 0 ? 0 : 1;
        break;
    case ID_RW_AUTO_SWITCH:
        break;
    default:
        LUMO_TRACE(5, "CRemoteWnd::OnCommand %u not handled", unsigned(id));
        break;
    }
}

std::unique_ptr<QMenu> CRemoteWnd::BuildContextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName("RemoteCameraMenu");
    const bool receiving = this->receiving();
    const bool held = m_holdFlags != 0;
    const bool up = linkUp();
    auto add = [&](WPARAM id, const char* text, bool enabled, std::optional<bool> ticked) {
        QAction* action = menu->addAction(QString::fromLatin1(text));
        action->setData(QVariant::fromValue<qulonglong>(id));
        action->setEnabled(enabled);
        if (ticked) {
            action->setCheckable(true);
            action->setChecked(*ticked);
        }
        QObject::connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    };
    tagHWProfile hw{};
    const bool quadInputsHere = profile(hw) && quadInputs(hw, currentAdapter()) > 0;
    add(ID_RW_QUAD_SETTINGS, "&Quad Settings...", m_quadMode != 0 && !quadInputsHere && quadSettingsAllowed(),
        std::nullopt);
    menu->addSeparator();
    add(ID_RW_PAUSE, "&Pause", receiving && !held, m_state == RemoteState::Paused);
    add(ID_RW_ON_TOP, "Always on &Top", true, m_settings != nullptr && m_settings->alwaysOnTop != 0);
    add(ID_RW_DOUBLE, "&Double Size", !held, m_settings != nullptr && m_settings->doubleSize != 0);
    add(ID_RW_FRAME_32826, "P&icture", receiving, std::nullopt);
    add(ID_RW_FRAME_32822, "&Full Screen", receiving && !(connected() && m_host != nullptr && m_host->splitMode()),
        std::nullopt);
    add(ID_RW_HOLD, "&Hold", up, held);
    add(ID_RW_SNAPSHOT_DIALOG, "&Snapshot Request...", up, std::nullopt);
    menu->addSeparator();
    add(ID_RW_TRACKING, "&Auto Trigger Tracking", true, m_autoTrack != 0);
    return menu;
}

bool CRemoteWnd::quadSettingsAllowed() {
    int kind = 0;
    std::string version;
    if (m_host == nullptr || !m_host->remoteVersion(kind, version)) return false;
    if (kind == 2) {
        for (const char* old : {"2.1", "1.12", "1.07"}) {
            if (version.find(old) != std::string::npos) return false;
        }
    } else if (kind == 1 && version.find("4.1.9") != std::string::npos) {
        return false;
    }
    return true;
}

WORD PictureSizeToken(WPARAM command, bool qcifOnly, std::string_view peerVersion) {
    const bool reversed = peerVersion.find("3.0.9") != std::string_view::npos;
    if (command == ID_RW_CIF) {
        const bool cif = qcifOnly ? reversed : !reversed;
        return cif ? kTokCiff : kTokQcif;
    }
    return reversed ? kTokCiff : kTokQcif;
}

void CRemoteWnd::askPictureSize(WPARAM command) {
    if (m_connection == nullptr || !linkUp()) return;
    const StationInfoBlock info = m_connection->GetRemoteStationInfo();
    const std::string version = fixed_text::Read(info.versionText, sizeof info.versionText);
    const WORD token = PictureSizeToken(command, m_connection->Settings().useOnlyQcif, version);
    if (command == ID_RW_CIF && token == kTokQcif) {
        LUMO_TRACE(5, "CRemoteWnd::OnCiff() tInfo.RemoteVerName=%s sending IDS_DSVD_QCIF", version.c_str());
    } else if (command == ID_RW_QCIF && token == kTokCiff) {
        LUMO_TRACE(5, "CRemoteWnd::OnCiff() tInfo.RemoteVerName=%s sending IDS_DSVD_CIFF", version.c_str());
    }
    if (m_connection->SendAcknowledgment(token, 1) == 0) {
        LUMO_TRACE(3, "CRemoteWnd: the picture size request was not written");
        return;
    }
    m_sizeChangePending = true;
}

void CRemoteWnd::togglePause() {
    if (m_connection == nullptr) return;
    if (m_state == RemoteState::Paused) {
        m_state = RemoteState::Receiving;
        m_connection->SetVideoStatus(1, 7);
    } else if (m_state == RemoteState::Receiving) {
        m_state = RemoteState::Paused;
        m_connection->SetVideoStatus(1, 6);
    }
    showStatusPicture();
}

void CRemoteWnd::toggleDoubleSize() {
    if (m_settings == nullptr || m_holdFlags != 0) return;
    m_settings->doubleSize = m_settings->doubleSize != 0 ? 0 : 1;
    if (m_state != RemoteState::Receiving && m_state != RemoteState::Paused) return;
    applyShownSize();
}

void CRemoteWnd::toggleOnTop() {
    if (m_settings == nullptr) return;
    m_settings->alwaysOnTop = m_settings->alwaysOnTop != 0 ? 0 : 1;
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, m_settings->alwaysOnTop != 0);
    if (visible) show();
    if (m_lumoraBar != nullptr) m_lumoraBar->SetAlwaysOnTop(int(m_settings->alwaysOnTop));
}

// ---- private messages ----

LRESULT CRemoteWnd::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        OnCommand(wParam & 0xFFFF'FFFF);
        return 0;
    case kMsgRemoteProfile:
        onReceivedProfile();
        return 0;
    case kMsgRemoteFrame: {
        auto bytes = platform::TakePostedData<std::vector<BYTE>>(lParam);
        if (bytes == nullptr || bytes->empty() || m_videoMgr == nullptr) return 0;
        auto frame = std::make_unique<VideoFrame>();
        frame->data = std::move(*bytes);
        m_periodBytes += DWORD(frame->data.size());
        m_state = RemoteState::Receiving;
        m_videoMgr->StoreNewFrame(std::move(frame));
        return 0;
    }
    case kMsgRemoteVideoState:
    case kMsgRemoteVideoState2:
        LUMO_TRACE(5, "CRemoteWnd: video state 0x%X (%u)", msg, unsigned(wParam));
        return 0;
    case kMsgTriggerNotified:
        onReceivedTrigger();
        return 0;
    case kMsgRpcDone:
        onRpcDone(wParam);
        return 0;
    case kMsgRemoteFrameRate:
        SetFrameRate(int(wParam));
        if (connected()) sendVideoSettings();
        return 0;
    case kMsgRestorePosition: {
        CKcReg reg = ProductKey("VideoWindow");
        DWORD x = 0, y = 0;
        reg.GetDwordDefault(nullptr, "XPos", &x);
        reg.GetDwordDefault(nullptr, "YPos", &y);
        move(int(LONG(x)), int(LONG(y)));
        show();
        return 0;
    }
    case kMsgRemoteQuery:
        return 1;
    case kMsgRemoteHold:
        SetHoldState(int(wParam), lParam != 0 ? TRUE : FALSE);
        return 0;
    default:
        return 0;
    }
}

// ---- window events ----

void CRemoteWnd::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = BuildContextMenu().release();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CRemoteWnd::mouseDoubleClickEvent(QMouseEvent*) { OnCommand(ID_RW_DOUBLE); }

void CRemoteWnd::mousePressEvent(QMouseEvent* event) {
    if (m_host != nullptr && connected()) m_host->pointerActivity();
    QWidget::mousePressEvent(event);
}

void CRemoteWnd::mouseMoveEvent(QMouseEvent* event) {
    if (m_host != nullptr && connected()) m_host->pointerActivity();
    QWidget::mouseMoveEvent(event);
}

void CRemoteWnd::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    movePtzPanel();
}

void CRemoteWnd::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CRemoteWnd::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    }
    if (!paths.empty() && m_host != nullptr) m_host->filesDropped(paths);
    event->acceptProposedAction();
}

void CRemoteWnd::closeEvent(QCloseEvent* event) {
    // The window has no close box of its own; the main window hides it.
    savePosition();
    QWidget::closeEvent(event);
}

bool CRemoteWnd::event(QEvent* event) {
    if (event->type() == QEvent::Hide || event->type() == QEvent::Close) savePosition();
    return QWidget::event(event);
}

void CRemoteWnd::savePosition() {
    if (m_state == RemoteState::NotCreated || isMinimized()) return;
    const QPoint at = pos();
    CKcReg reg = ProductKey("VideoWindow");
    const DWORD x = DWORD(at.x()), y = DWORD(at.y());
    reg.SetDword(nullptr, "XPos", &x);
    reg.SetDword(nullptr, "YPos", &y);
}

}  // namespace trennick
