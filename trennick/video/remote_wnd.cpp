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
constexpr DWORD kBlinkPeriodMs = 1000;
constexpr int kButtonSize = 22;
constexpr int kButtonStep = 23;
constexpr int kRowTop = 6;  // the row's distance below the picture (separator 4, gap 2)
constexpr size_t kToolTipChars = 79;

// Guards the trigger handling against re-entry through nested message loops
// (a sound, a dialog) in the whole process.
std::atomic<bool> g_triggerBusy{false};

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

// ---- controls and layout ----

CBitmapButton* CRemoteWnd::addButton(WPARAM id, const char* text, std::initializer_list<UINT> bitmaps) {
    auto* button = new CBitmapButton(id, text, this);
    const UINT* b = bitmaps.begin();
    const std::size_t n = bitmaps.size();
    button->LoadBitmaps({n > 0 ? b[0] : 0, n > 1 ? b[1] : 0, n > 2 ? b[2] : 0, n > 3 ? b[3] : 0});
    button->setFixedSize(kButtonSize, kButtonSize);
    button->setFocusPolicy(Qt::NoFocus);
    QObject::connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    m_controls[id] = button;
    return button;
}

QLabel* CRemoteWnd::addPicture(WPARAM id, UINT bitmap, const char* text) {
    auto* picture = new QLabel(this);
    UiSetControlId(picture, int(id));
    const QPixmap pixmap = UiBitmap(bitmap);
    if (pixmap.isNull()) {
        picture->setText(text);
    } else {
        picture->setPixmap(pixmap);
    }
    m_controls[id] = picture;
    return picture;
}

void CRemoteWnd::buildControls() {
    // resource bitmaps: 476 324 227-230 488-491 421 423 441 429 430 106-109 437-440 434 435 309-313
    m_videoArea = new QWidget(this);
    m_videoArea->setObjectName("VideoArea");
    m_videoArea->hide();
    m_idle = addPicture(ID_RW_IDLE_PICTURE, 476, "no picture");
    m_holdClip = new CAnimateCtrl(this);
    UiSetControlId(m_holdClip, int(ID_RW_HOLD_CLIP));
    m_holdClip->setAlignment(Qt::AlignCenter);
    m_holdClip->setAutoFillBackground(true);
    {
        QPalette dark = m_holdClip->palette();
        dark.setColor(QPalette::Window, QColor(0x20, 0x30, 0x50));
        dark.setColor(QPalette::WindowText, Qt::white);
        m_holdClip->setPalette(dark);
    }
    // Shown in the clip's place when the clip cannot be played.
    m_holdClip->setText(QString::fromStdString(UiString(32805, "Video is on hold")));
    m_holdClip->hide();
    const WPARAM separatorIds[] = {77643, 77, 777};
    for (std::size_t i = 0; i < m_separators.size(); ++i) {
        m_separators[i] = addPicture(separatorIds[i], 324, "");
        m_separators[i]->setScaledContents(true);
        m_separators[i]->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    }
    addButton(ID_RW_PANEL_CLOSE, "<<", {IDB_SMALL_LESS, IDB_SMALL_LESS_DOWN})->hide();
    addButton(ID_RW_PANEL_OPEN, ">>", {IDB_SMALL_MORE, IDB_SMALL_MORE_DOWN});
    addButton(ID_RW_MENU, "Menu", {227, 228, 229, 230});
    addButton(ID_RW_SNAPSHOT, "Snap", {491, 488, 489, 490});
    addButton(ID_RW_HOLD, "Hold", {IDB_SMALL_HOLDU, IDB_SMALL_HOLDD, IDB_SMALL_HOLDF, IDB_SMALL_HOLDX})->setEnabled(false);
    addButton(ID_RW_START, "Rec", {423, 421, 421, 441});
    addButton(ID_RW_STOP, "Stop", {430, 429})->hide();
    addButton(ID_RW_CIF, "CIF", {108, 106, 107, 109})->setEnabled(false);
    addButton(ID_RW_QCIF, "QCIF", {437, 440, 439, 438})->hide();
    addPicture(ID_RW_BLINK, 434, "REC")->hide();
    addPicture(ID_RW_STALLED, 312, "Stall")->hide();
    addPicture(ID_RW_SPARE, 311, "")->hide();
    addPicture(ID_RW_HOLDING, IDB_HOLD, "Hold")->hide();
    addPicture(ID_RW_PAUSED, 313, "Pause")->hide();
    addPicture(ID_RW_MARK_LEFT, 309, "-");
    addPicture(ID_RW_MARK_RIGHT, 310, "+");
    m_slider = new QSlider(Qt::Horizontal, this);
    UiSetControlId(m_slider, int(ID_RW_SLIDER));
    m_slider->setRange(0, 100);
    m_slider->setTickInterval(10);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setPageStep(10);
    m_slider->setSingleStep(5);
    m_controls[ID_RW_SLIDER] = m_slider;
    // The end of a drag (or a click or key on the slider) sets the rate.
    QObject::connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        if (m_slider->isSliderDown() || m_settings == nullptr || DWORD(value) == m_settings->frameRate) return;
        m_settings->frameRate = DWORD(value);
        if (connected()) sendVideoSettings();
    });
    QObject::connect(m_slider, &QSlider::sliderReleased, this, [this] {
        if (m_settings == nullptr || DWORD(m_slider->value()) == m_settings->frameRate) return;
        m_settings->frameRate = DWORD(m_slider->value());
        if (connected()) sendVideoSettings();
    });
    m_statistics = new QLabel(this);
    UiSetControlId(m_statistics, int(ID_RW_STATISTICS));
    m_statistics->setObjectName("VideoStatistics");
    m_statistics->setAlignment(Qt::AlignCenter);
    m_controls[ID_RW_STATISTICS] = m_statistics;
    for (const auto& [id, control] : m_controls) control->setToolTip(QString::fromStdString(ToolTipText(id)));
}

std::string CRemoteWnd::ToolTipText(WPARAM id) const {
    // resource strings: 65041 65043-65046 65050-65052 65060 65070 65071 32802 32805 32822
    std::string text;
    switch (id) {
    case ID_RW_CIF: text = UiString(65070, "Large picture"); break;
    case ID_RW_QCIF: text = UiString(65071, "Small picture"); break;
    case ID_RW_START: text = UiString(65050, "Start recording"); break;
    case ID_RW_BLINK: text = UiString(65052, "Recording"); break;
    case ID_RW_MENU: text = "Remote Camera menu"; break;
    case ID_RW_PANEL_CLOSE: text = UiString(65041, "Close the control panel"); break;
    case ID_RW_PANEL_OPEN: text = UiString(65060, "Open the control panel"); break;
    case ID_RW_MARK_LEFT: text = UiString(65043, "Slower"); break;
    case ID_RW_MARK_RIGHT: text = UiString(65045, "Faster"); break;
    case ID_RW_STALLED: text = UiString(65046, "No picture"); break;
    case ID_RW_HOLD: text = m_holdFlags != 0 ? UiString(32805, "On hold") : UiString(32802, "Hold"); break;
    case ID_RW_FRAME_32822: text = UiString(32822, "Full screen"); break;
    case ID_RW_SNAPSHOT: text = UiString(65044, "Snapshot"); break;
    case ID_RW_STOP: text = UiString(65051, "Stop recording"); break;
    default: break;
    }
    if (text.size() > kToolTipChars) text.resize(kToolTipChars);
    return text;
}

int CRemoteWnd::panelGrowth() const {
    if (!m_panelOpen) return 0;
    return m_settings != nullptr && m_settings->largePanel != 0 ? kLargePanelHeight : kPanelHeight;
}

QSize CRemoteWnd::MaximumWindowSize() const {
    // The same growth the opened panel takes: a smaller limit would cut off
    // the bottom of the large panel.
    return QSize(m_pictureWidth, m_pictureHeight + kButtonRowHeight + panelGrowth());
}

void CRemoteWnd::layOut(int width, int height) {
    m_pictureWidth = std::max(width, kIdleWidth);
    m_pictureHeight = std::max(height, kIdleHeight);
    placeControls();
    setFixedSize(MaximumWindowSize());
    movePtzPanel();
    if (m_lumoraBar != nullptr && m_lumoraBar->isVisible()) m_lumoraBar->AlignBottom(this);
}

void CRemoteWnd::placeControls() {
    const int w = m_pictureWidth;
    const int h = m_pictureHeight;
    // The picture and the idle picture stay centred on the picture area.
    if (QWidget* child = m_videoMgr != nullptr ? m_videoMgr->VideoWindow() : nullptr) {
        m_videoArea->setGeometry(0, 0, w, h);
        child->move((w - child->width()) / 2, (h - child->height()) / 2);
    } else {
        m_videoArea->setGeometry(0, 0, w, h);
    }
    m_idle->setGeometry((w - kIdleWidth) / 2, (h - kIdleHeight) / 2, kIdleWidth, kIdleHeight);
    m_holdClip->setGeometry(0, 0, w, h);
    m_separators[0]->setGeometry(0, h, w, 4);
    const int row = h + kRowTop;
    m_controls[ID_RW_PANEL_CLOSE]->move(w - 27, row);
    m_controls[ID_RW_PANEL_OPEN]->move(w - 27, row);
    int x = w - 27;
    for (WPARAM id : {ID_RW_MENU, ID_RW_SNAPSHOT, ID_RW_HOLD, ID_RW_START, ID_RW_CIF}) {
        x -= kButtonStep;
        m_controls[id]->move(x, row);
        if (id == ID_RW_START) m_controls[ID_RW_STOP]->move(x, row);
        if (id == ID_RW_CIF) {
            m_controls[ID_RW_QCIF]->move(x, row);
            m_controls[ID_RW_BLINK]->setGeometry(x, row, kButtonSize, kButtonSize);
        }
    }
    for (WPARAM id : {ID_RW_STALLED, ID_RW_SPARE, ID_RW_HOLDING, ID_RW_PAUSED}) {
        m_controls[id]->setGeometry(0, row - 3, kButtonSize, 27);
    }
    // The lower panel: the slider between its two marks, the statistics below.
    const int panel = h + kButtonRowHeight;
    const int sliderX = w <= kIdleWidth ? 23 : w / 10;
    const int sliderW = w <= kIdleWidth ? 109 : w * 8 / 10;
    m_controls[ID_RW_MARK_LEFT]->setGeometry(sliderX - 23, panel + 4, kButtonSize, kButtonSize);
    m_slider->setGeometry(sliderX, panel, sliderW, 30);
    m_controls[ID_RW_MARK_RIGHT]->setGeometry(sliderX + sliderW + 1, panel + 4, kButtonSize, kButtonSize);
    m_separators[1]->setGeometry(0, panel + 34, w, 4);
    m_statistics->setGeometry(10, panel + 44, w - 20, 13);
    m_separators[2]->setGeometry(0, panel + 62, w, 4);
    for (QWidget* control : {m_controls[ID_RW_MARK_LEFT], static_cast<QWidget*>(m_slider),
                             m_controls[ID_RW_MARK_RIGHT], static_cast<QWidget*>(m_separators[1]),
                             static_cast<QWidget*>(m_statistics), static_cast<QWidget*>(m_separators[2])}) {
        control->setVisible(m_panelOpen);
    }
}

void CRemoteWnd::openPanel(bool controlHeld) {
    if (controlHeld && m_settings != nullptr) m_settings->largePanel = 0;
    m_panelOpen = true;
    m_controls[ID_RW_PANEL_OPEN]->hide();
    m_controls[ID_RW_PANEL_CLOSE]->show();
    layOut(m_pictureWidth, m_pictureHeight);
    refreshStatistics(0);
    m_slider->setFocus();
}

void CRemoteWnd::closePanel() {
    m_panelOpen = false;
    if (m_settings != nullptr) m_settings->largePanel = 0;
    m_controls[ID_RW_PANEL_CLOSE]->hide();
    m_controls[ID_RW_PANEL_OPEN]->show();
    layOut(m_pictureWidth, m_pictureHeight);
}

void CRemoteWnd::showSizeButtons() {
    try {
        const bool qcif = !IsCifSize();
        m_controls[ID_RW_CIF]->setVisible(qcif);
        m_controls[ID_RW_QCIF]->setVisible(!qcif);
        if (qcif) m_controls[ID_RW_CIF]->setEnabled(true);
    } catch (...) {
        LUMO_TRACE(1, "%s, %s, LINE %d", "ERROR!!!!! Exception", "Remwnd", __LINE__);
    }
}

void CRemoteWnd::showStatusPicture() {
    const bool holding = (m_holdFlags & 1) != 0;
    m_controls[ID_RW_HOLDING]->setVisible(holding);
    m_controls[ID_RW_PAUSED]->setVisible(!holding && m_state == RemoteState::Paused);
    m_controls[ID_RW_HOLD]->setToolTip(QString::fromStdString(ToolTipText(ID_RW_HOLD)));
}

void CRemoteWnd::setStalled(bool stalled) {
    m_stalled = stalled;
    m_controls[ID_RW_STALLED]->setVisible(stalled);
}

void CRemoteWnd::UpdateVideoButtons(BOOL recording) {
    const bool up = linkUp();
    QWidget* start = m_controls[ID_RW_START];
    QWidget* stop = m_controls[ID_RW_STOP];
    if (up && m_holdFlags != 0 && !recording) {
        start->setEnabled(false);
        stop->setEnabled(false);
        m_controls[ID_RW_CIF]->hide();
        m_controls[ID_RW_QCIF]->hide();
        return;
    }
    if (recording) {
        start->hide();
        start->setEnabled(false);
        stop->show();
        stop->setEnabled(true);
        m_controls[ID_RW_BLINK]->show();
        m_controls[ID_RW_CIF]->setEnabled(false);
        m_controls[ID_RW_QCIF]->setEnabled(false);
    } else if (up) {
        start->show();
        start->setEnabled(true);
        stop->hide();
        stop->setEnabled(false);
        m_controls[ID_RW_BLINK]->hide();
        m_controls[ID_RW_CIF]->setEnabled(true);
        m_controls[ID_RW_QCIF]->setEnabled(true);
        // A hold that ended hid the size buttons: the picture's own comes back.
        if (m_state == RemoteState::Receiving || m_state == RemoteState::Paused) showSizeButtons();
    } else {
        start->setEnabled(false);
        m_controls[ID_RW_CIF]->setEnabled(false);
        m_controls[ID_RW_QCIF]->setEnabled(false);
    }
}

void CRemoteWnd::BlinkIndicator() {
    QWidget* blink = m_controls[ID_RW_BLINK];
    if ((m_holdFlags & 1) != 0) {
        blink->hide();
        return;
    }
    const DWORD t = now();
    if (m_lastBlinkMs != 0 && t - m_lastBlinkMs < kBlinkPeriodMs) return;
    m_lastBlinkMs = t;
    m_blinkOn = !m_blinkOn;
    if (auto* picture = qobject_cast<QLabel*>(blink)) picture->setPixmap(UiBitmap(m_blinkOn ? 434 : 435));
}

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

WORD CRemoteWnd::currentAdapter() const {
    WORD adapter = 0;
    if (m_database != nullptr) m_database->GetCurrentAdapter(&adapter);
    return std::min<WORD>(adapter, kMaxAdapters - 1);
}

bool CRemoteWnd::profile(tagHWProfile& out) const {
    return m_database != nullptr && m_database->GetHWProfiles(&out) != 0;
}

int CRemoteWnd::quadInputs(const tagHWProfile& hw, WORD adapter) const {
    // Camera records of type 1 or 2 are the adapter's quad inputs.
    if (adapter >= kMaxAdapters) return 0;
    return std::min<int>(readDeviceData(hw.adapters[adapter]).quadInputCount, kQuadInputsPerAdapter);
}

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
    m_connection->SendVideoSettings(1, reinterpret_cast<const BYTE*>(shortForm), record);
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
    m_connection->SendAcknowledgment(token, 1);
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

void CRemoteWnd::quadView(WPARAM command) {
    tagHWProfile hw{};
    const WORD adapter = currentAdapter();
    const bool quadHere = profile(hw) && quadInputs(hw, adapter) > 0;
    if (quadHere) {
        if (m_capture != nullptr) m_capture->SetVideoInput(hw.currentAdapter, command == ID_RW_QUAD ? 1 : 2, 1);
        return;
    }
    if (command != ID_RW_QUAD || m_host == nullptr || m_host->splitMode()) return;
    m_host->setSplitMode(true);
    m_controls[ID_RW_SNAPSHOT]->setEnabled(false);
    if (m_videoMgr != nullptr) m_videoMgr->ResizeVideoWindow(TRUE, TRUE, TRUE);
}

void CRemoteWnd::selectCamera(WORD camera) {
    if (m_capture != nullptr) m_capture->SetVideoInput(currentAdapter(), camera, 0);
    if (m_host != nullptr) m_host->setSplitMode(false);
    m_controls[ID_RW_SNAPSHOT]->setEnabled(true);
}

void CRemoteWnd::selectAdapter(WORD adapter) {
    if (m_lumoraBar == nullptr) return;
    if ((m_holdFlags & 1) != 0) OnCommand(ID_RW_HOLD);
    m_lumoraBar->SetAdapter(adapter);
    if (m_database != nullptr) m_database->UpdateCurrentAdapter(adapter);
    if (m_host != nullptr) m_host->setSplitMode(false);
    m_controls[ID_RW_SNAPSHOT]->setEnabled(true);
    UpdateAdaptersToolBar();
}

// ---- the toolbars and the PTZ panel ----

void CRemoteWnd::ShowLumoraBar(BOOL show) {
    if (!connected()) return;
    if (show) {
        CreateLumoraBar();
        UpdateLumoraBar();
    } else {
        destroyLumoraBar();
    }
}

void CRemoteWnd::CreateLumoraBar() {
    if (m_lumoraBar != nullptr || m_database == nullptr || m_hosted > 0) return;
    tagHWProfile hw{};
    profile(hw);
    const WORD adapter = currentAdapter();
    bool ptz = false;
    if (m_ptzEnabled != 0) {
        const std::string program = m_host != nullptr ? m_host->ptzProgram() : std::string("tiltcab");
        m_ptz = std::make_unique<CZoPtzUI>(m_host != nullptr ? m_host->instanceId() : std::string(), program);
        ptz = m_ptz->Started();
        movePtzPanel();
    }
    m_lumoraBar = std::make_unique<CLumoraToolBarControl>(Handle(), adapter, m_capture, m_database, ptz ? 1 : 0,
                                                          WORD(quadInputs(hw, adapter)));
    if (m_lumoraBar->CreateToolBar(Handle()) == 0) {
        LUMO_TRACE(1, "Failed to create Lumora control");
        m_lumoraBar.reset();
        return;
    }
    if (m_settings != nullptr) m_lumoraBar->SetAlwaysOnTop(int(m_settings->alwaysOnTop));
    m_lumoraBar->show();
    m_lumoraBar->AlignBottom(this);
    raise();
}

void CRemoteWnd::UpdateLumoraBar() {
    if (m_lumoraBar == nullptr) return;
    tagHWProfile hw{};
    profile(hw);
    const WORD adapter = currentAdapter();
    m_lumoraBar->UpdateAdapter(adapter);
    if (m_host != nullptr && m_host->splitMode()) {
        m_lumoraBar->PushModeButton();
    } else {
        m_lumoraBar->PushCamerabutton(hw.adapters[adapter].selectedInput);
        m_lumoraBar->PopUpModeButton();
    }
    if (quadInputs(hw, adapter) > 0) m_lumoraBar->PushModeButton();
    m_lumoraBar->UpdateDisplayRelayBitmaps();
    m_lumoraBar->UpdateNamesOfCamerasAndRelays();
}

void CRemoteWnd::destroyLumoraBar() {
    m_ptz.reset();
    m_ptzShown = false;
    if (m_lumoraBar == nullptr) return;
    m_lumoraBar.reset();
    if (QToolBar* adapters = m_host != nullptr ? m_host->adaptersToolBar() : nullptr) adapters->hide();
    LUMO_TRACE(5, "CRemoteWnd::DestroyLumoraBar()::LumoraBar destroyed");
}

void CRemoteWnd::UpdateAdaptersToolBar() {
    const WORD adapter = currentAdapter();
    LUMO_TRACE(5, "CRemoteWnd::UpdateAdaptersToolBar() m_wAdapter=%ld", long(adapter));
    QToolBar* bar = m_host != nullptr ? m_host->adaptersToolBar() : nullptr;
    if (bar == nullptr) {
        LUMO_TRACE(1, "!::IsWindow(m_pAdaptersToolBar->m_hWnd)");
        return;
    }
    tagHWProfile hw{};
    if (!profile(hw) || hw.adaptersNumber <= 1) {
        bar->hide();
        return;
    }
    const int adapters = std::min<int>(hw.adaptersNumber, kRwAdapterButtons);
    const WORD current = std::min<WORD>(hw.currentAdapter, kMaxAdapters - 1);
    if (m_lumoraBar != nullptr) m_lumoraBar->SetAdapter(current);
    for (QAction* action : bar->actions()) {
        const WPARAM id = WPARAM(action->data().toULongLong());
        if (id < ID_RW_ADAPTER_FIRST || id >= ID_RW_ADAPTER_FIRST + kRwAdapterButtons) continue;
        const int index = int(id - ID_RW_ADAPTER_FIRST);
        action->setVisible(index < adapters);
        action->setChecked(index == current);
    }
    bar->show();
}

void CRemoteWnd::togglePtzPanel() {
    if (m_ptz == nullptr) return;
    if (m_ptzShown) {
        m_ptz->SetCamera(0);
        m_ptzShown = false;
        return;
    }
    tagHWProfile hw{};
    profile(hw);
    const WORD adapter = currentAdapter();
    const WORD camera = std::min<WORD>(hw.adapters[adapter].selectedInput, kCamerasPerAdapter - 1);
    const tagCameraBlock& block = hw.adapters[adapter].cameras[camera];
    m_ptz->SendCommandText(camera, fixed_text::Read(block.name, sizeof block.name));
    movePtzPanel();
    m_ptz->SetCamera(1);
    m_ptzShown = true;
}

void CRemoteWnd::movePtzPanel() {
    if (m_ptz == nullptr) return;
    const QRect frame = frameGeometry();
    m_ptz->SendMove(DWORD(frame.left() - kPtzPanelOffset), DWORD(frame.top()));
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

void CRemoteWnd::onReceivedTrigger() {
    LUMO_TRACE(5, "CRemoteWnd::OnReceivedTrigger");
    if (m_database == nullptr || m_connection == nullptr) return;
    if (g_triggerBusy.exchange(true)) {
        LUMO_TRACE(5, "CRemoteWnd::OnReceivedTrigger - reentrance");
        return;
    }
    const tagTrigger note = m_connection->GetTriggerNotification();
    tagHWProfile hw{};
    profile(hw);
    const WORD current = currentAdapter();
    const int adapters = std::min<int>(hw.adaptersNumber, kMaxAdapters);
    bool any = false;
    int lastAdapter = 0;
    m_lastTriggered.clear();
    for (int a = 0; a < adapters; ++a) {
        // The notification holds 16 cameras per adapter whatever the profile claims.
        const int cameras = std::min<int>(hw.adapters[a].camerasNumber, kCamerasPerAdapter);
        for (int c = 0; c < cameras; ++c) {
            if (note.entries[a][c][0] != 1) continue;
            any = true;
            lastAdapter = a;
            m_lastTriggered.emplace_back(a, c);
            if (m_autoTrack != 0 && c != hw.adapters[current].selectedInput) {
                if (m_host != nullptr && m_host->splitMode()) m_host->setSplitMode(false);
                if (m_capture != nullptr) m_capture->SetVideoInput(WORD(a), WORD(c), 0);
            }
        }
    }
    ++m_triggersHandled;
    if (any) {
        if (m_lumoraBar != nullptr && (lastAdapter == current || m_autoTrack != 0)) {
            static_assert(sizeof(tagTrigger) == sizeof(tagTriggerEntry) * kMaxAdapters * kCamerasPerAdapter);
            m_lumoraBar->SetTriggerIdentification(reinterpret_cast<const tagTriggerEntry*>(&note), WORD(lastAdapter));
        }
        if (m_host != nullptr) m_host->playEventSound(1);
    }
    g_triggerBusy = false;
}

std::string CRemoteWnd::cameraTitle(WPARAM kind) {
    tagHWProfile hw{};
    if (!profile(hw)) return {};
    const WORD adapter = currentAdapter();
    const tagAdapterBlock& block = hw.adapters[adapter];
    const std::string adapterName = fixed_text::Read(block.name, sizeof block.name);
    std::string cameraName;
    if (kind == 5) {
        // The selected entry among the adapter's quad inputs.
        const tagAdapterDeviceData data = readDeviceData(block);
        if (block.selectedInput < std::min<int>(data.quadInputCount, kQuadInputsPerAdapter)) {
            const char* name = data.quadInputs[block.selectedInput];
            cameraName = fixed_text::Read(name, kSettingsNameBytes);
        }
    } else {
        const WORD camera = std::min<WORD>(block.selectedInput, kCamerasPerAdapter - 1);
        cameraName = fixed_text::Read(block.cameras[camera].name, sizeof block.cameras[camera].name);
    }
    return adapterName + " - " + cameraName;
}

void CRemoteWnd::setTitle(const std::string& text) {
    const std::string instance = m_host != nullptr ? m_host->instanceId() : std::string();
    const std::string title = instance.empty() ? text : UiString(10000, "Velmoor") + instance + "-" + text;
    SetWindowTextIfChanged(this, title);
}

void CRemoteWnd::onReceivedProfile() {
    ++m_profilesSeen;
    setTitle(cameraTitle(0));
    LUMO_TRACE(5, "CRemoteWnd::OnReceivedHWProfiles() m_Comms->m_HWProfileReceived=%ld", long(m_profilesSeen));
    tagHWProfile hw{};
    if (profile(hw) && hw.adaptersNumber > 0 && m_hosted == 0 && connected()) {
        CreateLumoraBar();
        UpdateLumoraBar();
    }
}

void CRemoteWnd::onRpcDone(WPARAM kind) {
    if (m_hosted > 0) return;
    CreateLumoraBar();
    UpdateLumoraBar();
    setTitle(cameraTitle(kind));
    if (kind == 2 && m_lumoraBar != nullptr) m_lumoraBar->UpdateDisplayVideoInput();
    if ((kind == 1 || kind == 5) && m_host != nullptr) m_host->inputSwitchDone();
    if (kind == 1 && m_ptz != nullptr) {
        tagHWProfile hw{};
        profile(hw);
        const tagAdapterBlock& block = hw.adapters[currentAdapter()];
        const WORD camera = std::min<WORD>(block.selectedInput, kCamerasPerAdapter - 1);
        m_ptz->SendCommandText(camera, std::string(block.cameras[camera].name,
                                                   strnlen(block.cameras[camera].name, sizeof block.cameras[camera].name)));
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
