// CRemoteWnd's controls: the button row, the status pictures, the lower panel
// with the frame-rate slider and the statistics, their tool tips and layout.
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

#include <QLabel>
#include <QSlider>

#include <algorithm>

namespace trennick {

namespace {

constexpr DWORD kBlinkPeriodMs = 1000;
constexpr int kButtonSize = 22;
constexpr int kButtonStep = 23;
constexpr int kRowTop = 6;  // the row's distance below the picture (separator 4, gap 2)
constexpr size_t kToolTipChars = 79;

}  // namespace

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

}  // namespace trennick
