#include "tavicore/ui/ui_toolbar.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "tavicore/capture_base.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"
#include "tavicore/ui/ui_resources.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolButton>
#include <QToolTip>
#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr int kImageWidth = 16;
constexpr int kImageHeight = 15;
constexpr int kLargeButtonWidth = 98;
// Offsets in an adapter block's uninterpreted tail.
constexpr std::size_t kQuadWordOffset = 2531 - offsetof(tagAdapterBlock, deviceData);
constexpr std::size_t kActiveQuadOffset = 2533 - offsetof(tagAdapterBlock, deviceData);

WORD readWord(const tagAdapterBlock& block, std::size_t offset) {
    WORD value = 0;
    std::memcpy(&value, block.deviceData + offset, sizeof value);
    return value;
}

std::string nameText(const char* name) {
    return fixed_text::Read(name, kSettingsNameBytes);
}

// The four tool-tip strings, loaded once for the process's life.
struct ToolTipStrings {
    std::string quad, split, autoSwitch, quad2, ptz;
};
const ToolTipStrings& toolTipStrings() {
    static const ToolTipStrings strings{UiString(65265), UiString(59418), UiString(59419), UiString(65264),
                                        UiString(324)};
    return strings;
}

}  // namespace

void CopyToolTipText(char (&field)[kToolTipTextBytes], std::string_view text) {
    const std::size_t count = std::min(text.size(), kToolTipTextBytes - 1);
    std::memcpy(field, text.data(), count);
    field[count] = '\0';
}

// ---------------------------------------------------------------------------
// CQbBar

CQbBar::CQbBar(CDBLumo* database, CLumora* capture, CLumoraToolBarControl* owner, WORD adapter)
    : QToolBar(owner), m_database(database), m_capture(capture), m_owner(owner), m_adapter(adapter) {
    setObjectName("CQbBar");
    setMovable(false);
    setFloatable(false);
    m_strip = UiBitmap(129);
    setIconSize(QSize(kImageWidth, kImageHeight));
}

CQbBar::~CQbBar() = default;

void CQbBar::SetButtonCount(int count) {
    clear();
    m_buttons.clear();
    m_buttons.resize(static_cast<std::size_t>(count));
    for (auto& button : m_buttons) {
        button.widget = new QToolButton(this);
        button.widget->installEventFilter(this);
        button.widget->setAutoRaise(true);
        button.widget->setCheckable(true);
        QToolButton* widget = button.widget;
        connect(widget, &QToolButton::clicked, this, [this, widget] {
            for (auto& b : m_buttons) {
                if (b.widget == widget) {
                    const UINT id = b.id;
                    refresh(b);  // the state is the handlers', not the click's
                    m_owner->OnCommand(id);
                    return;
                }
            }
        });
        addWidget(button.widget);
    }
}

void CQbBar::refresh(Button& button) {
    if (button.widget == nullptr) {
        return;
    }
    if (!m_strip.isNull() && button.image >= 0 && (button.image + 1) * kImageWidth <= m_strip.width()) {
        button.widget->setIcon(QIcon(m_strip.copy(button.image * kImageWidth, 0, kImageWidth, kImageHeight)));
    }
    button.widget->setObjectName(UiControlName(static_cast<int>(button.id)));
    button.widget->setChecked((button.state & (TBSTATE_CHECKED | TBSTATE_PRESSED)) != 0);
    button.widget->setEnabled((button.state & TBSTATE_ENABLED) != 0);
    button.widget->setText(button.text);
    button.widget->setToolButtonStyle(button.text.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
    if (m_owner->largeButtons()) {
        button.widget->setMinimumWidth(kLargeButtonWidth);
    }
    // Hidden buttons leave the bar's layout.
    for (QAction* action : actions()) {
        if (widgetForAction(action) == button.widget) {
            action->setVisible((button.state & TBSTATE_HIDDEN) == 0);
        }
    }
}

const CQbBar::Button* CQbBar::find(UINT id) const {
    for (const auto& b : m_buttons) {
        if (b.id == id) {
            return &b;
        }
    }
    return nullptr;
}

CQbBar::Button* CQbBar::find(UINT id) {
    return const_cast<Button*>(static_cast<const CQbBar*>(this)->find(id));
}

void CQbBar::SetButtonInfo(int index, UINT id, UINT style, int image) {
    if (index < 0 || index >= GetCount()) {
        return;
    }
    auto& b = m_buttons[static_cast<std::size_t>(index)];
    b.id = id;
    b.style = style;
    b.image = image;
    refresh(b);
}

void CQbBar::GetButtonInfo(int index, UINT& id, UINT& style, int& image) const {
    if (index < 0 || index >= GetCount()) {
        id = style = 0;
        image = -1;
        return;
    }
    const auto& b = m_buttons[static_cast<std::size_t>(index)];
    id = b.id;
    style = b.style;
    image = b.image;
}

void CQbBar::SetButtonText(int index, const QString& text) {
    if (index >= 0 && index < GetCount()) {
        m_buttons[static_cast<std::size_t>(index)].text = text;
        refresh(m_buttons[static_cast<std::size_t>(index)]);
    }
}

QString CQbBar::GetButtonText(int index) const {
    return index >= 0 && index < GetCount() ? m_buttons[static_cast<std::size_t>(index)].text : QString();
}

int CQbBar::CommandToIndex(UINT id) const {
    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

UINT CQbBar::GetState(UINT id) const {
    const Button* b = find(id);
    return b != nullptr ? b->state : 0;
}

void CQbBar::SetState(UINT id, UINT state) {
    if (Button* b = find(id)) {
        b->state = state;
        refresh(*b);
    }
}

void CQbBar::CheckButton(UINT id, bool check) {
    if (Button* b = find(id)) {
        b->state = check ? (b->state | TBSTATE_CHECKED) : (b->state & ~TBSTATE_CHECKED);
        refresh(*b);
    }
}

void CQbBar::PressButton(UINT id, bool press) {
    if (Button* b = find(id)) {
        b->state = press ? (b->state | TBSTATE_PRESSED) : (b->state & ~TBSTATE_PRESSED);
        refresh(*b);
    }
}

void CQbBar::HideButton(UINT id, bool hide) {
    if (Button* b = find(id)) {
        b->state = hide ? (b->state | TBSTATE_HIDDEN) : (b->state & ~TBSTATE_HIDDEN);
        refresh(*b);
    }
}

void CQbBar::EnableButton(UINT id, bool enable) {
    if (Button* b = find(id)) {
        b->state = enable ? (b->state | TBSTATE_ENABLED) : (b->state & ~TBSTATE_ENABLED);
        refresh(*b);
    }
}

bool CQbBar::IsButtonPressed(UINT id) const {
    const Button* b = find(id);
    return b != nullptr && (b->state & TBSTATE_PRESSED) != 0;
}

bool CQbBar::IsButtonChecked(UINT id) const {
    const Button* b = find(id);
    return b != nullptr && (b->state & TBSTATE_CHECKED) != 0;
}

QRect CQbBar::GetItemRect(int index) const {
    if (index < 0 || index >= GetCount()) {
        return {};
    }
    const auto& b = m_buttons[static_cast<std::size_t>(index)];
    if (b.widget == nullptr || (b.state & TBSTATE_HIDDEN) != 0 || !b.widget->isVisibleTo(this)) {
        return {};
    }
    return b.widget->geometry();
}

QToolButton* CQbBar::buttonWidget(UINT id) const {
    const Button* b = find(id);
    return b != nullptr ? b->widget : nullptr;
}

void CQbBar::SetCameraNormal(WORD camera) {
    const UINT id = kCmdFirstCamera + camera;
    if (Button* b = find(id)) {
        b->style = m_owner->m_baseStyle | TBBS_CHECKBOX;
        b->image = camera;
        refresh(*b);
    }
}

void CQbBar::SetCameraTriggered(WORD camera) {
    const UINT id = kCmdFirstCamera + camera;
    if (Button* b = find(id)) {
        b->style = m_owner->m_baseStyle | TBBS_CHECKBOX;
        b->image = kImageTriggered;
        refresh(*b);
    }
}

int CQbBar::SetAdapter(WORD adapter) {
    m_adapter = adapter;
    return 1;
}

void CQbBar::GetToolTipText(UINT id, char (&text)[kToolTipTextBytes]) {
    text[0] = '\0';
    if (m_database == nullptr) {
        return;
    }
    auto profile = std::make_unique<tagHWProfile>();
    m_database->GetHWProfiles(profile.get());
    if (m_adapter >= kMaxAdapters) {
        return;
    }
    const tagAdapterBlock& block = profile->adapters[m_adapter];
    const ToolTipStrings& strings = toolTipStrings();
    if (id >= kCmdFirstCamera && id < kCmdFirstCamera + kCamerasPerAdapter) {
        CopyToolTipText(text, nameText(block.cameras[id - kCmdFirstCamera].name));
    } else if (id >= kCmdFirstRelay && id < kCmdFirstRelay + kRelaysPerAdapter) {
        CopyToolTipText(text, nameText(block.relays[id - kCmdFirstRelay].name));
    } else if (id == kCmdQuad) {
        CopyToolTipText(text, readWord(block, kQuadWordOffset) != 0 ? strings.quad : strings.split);
    } else if (id == kCmdQuad2) {
        CopyToolTipText(text, strings.quad2);
    } else if (id == kCmdAutoSwitch) {
        CopyToolTipText(text, strings.autoSwitch);
    } else if (id == kCmdPtz) {
        CopyToolTipText(text, strings.ptz);
    }
}

void CQbBar::OnLButtonDown(const QPoint& point) {
    if (m_database == nullptr || m_adapter >= kMaxAdapters) {
        return;
    }
    auto profile = std::make_unique<tagHWProfile>();
    m_database->GetHWProfiles(profile.get());
    tagAdapterBlock& block = profile->adapters[m_adapter];
    const int relays = std::min<int>(block.relaysNumber, kRelaysPerAdapter);
    for (int r = 0; r < relays; ++r) {
        const int index = CommandToIndex(kCmdFirstRelay + static_cast<UINT>(r));
        if (!GetItemRect(index).contains(point) || block.relays[r].state != 1) {
            continue;
        }
        // A pulse relay fires on the press and falls back on the release.
        if (m_capture != nullptr && m_capture->SetDigitalOutput(m_adapter, static_cast<WORD>(r), 1) == 0) {
            LUMO_TRACE(1, "CQbBar::OnLButtonDown ERROR: Relays output command failed!");
        }
        block.relays[r].status = 1;
        m_database->UpdateHWProfiles(profile.get(), nullptr);
        auto& b = m_buttons[static_cast<std::size_t>(index)];
        b.image = m_owner->relayImage(block.relays[r]);
        refresh(b);
    }
}

bool CQbBar::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QToolButton*>(watched);
    if (widget != nullptr && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            OnLButtonDown(widget->mapTo(this, mouse->position().toPoint()));
        }
    } else if (widget != nullptr && event->type() == QEvent::ToolTip) {
        for (const auto& b : m_buttons) {
            if (b.widget == widget) {
                char text[kToolTipTextBytes];
                GetToolTipText(b.id, text);
                QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), QString::fromLatin1(text), widget);
                return true;
            }
        }
    }
    return QToolBar::eventFilter(watched, event);
}

void CQbBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        OnLButtonDown(event->position().toPoint());
    }
    QToolBar::mousePressEvent(event);
}

void CQbBar::showEvent(QShowEvent* event) {
    QToolBar::showEvent(event);
    m_owner->UpdateDisplayRelayBitmaps();
}

// ---------------------------------------------------------------------------
// CLumoraToolBarControl

CLumoraToolBarControl::CLumoraToolBarControl(platform::HWND owner, WORD adapter, CLumora* capture,
                                             CDBLumo* database, int ptz, WORD mode)
    : QWidget(nullptr, Qt::Tool),
      m_capture(capture),
      m_database(database),
      m_adapter(adapter),
      m_owner(owner),
      m_ptz(ptz),
      m_mode(mode),
      m_profile(std::make_unique<tagHWProfile>()) {
    setObjectName("CLumoraToolBarControl");
    readProfile();
    if (m_adapter < kMaxAdapters) {
        m_cameras = std::min<int>(m_profile->adapters[m_adapter].camerasNumber, kCamerasPerAdapter);
        m_relays = std::min<int>(m_profile->adapters[m_adapter].relaysNumber, kRelaysPerAdapter);
    }
    for (int c = 0; c < m_cameras; ++c) {
        m_ids.push_back(kCmdFirstCamera + static_cast<UINT>(c));
    }
    for (int r = 0; r < m_relays; ++r) {
        m_ids.push_back(kCmdFirstRelay + static_cast<UINT>(r));
    }
    m_ids.push_back(splitEnabled() ? kCmdQuad : kCmdAutoSwitch);
    if (m_mode == 2) {
        m_ids.push_back(kCmdQuad2);
    }
    if (m_ptz == 1) {
        m_ids.push_back(kCmdPtz);
    }
    DWORD large = 1;
    CKcReg reg = ProductKey("General");
    reg.GetDwordDefault(nullptr, "UseLargeToolbar", &large);
    m_large = large != 0;
    m_baseStyle = m_large ? 0x200000 : 0;
    m_baseState = m_large ? TBSTATE_WRAP : 0;
    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return onMessage(msg, wParam, lParam); });
}

CLumoraToolBarControl::~CLumoraToolBarControl() {
    delete m_bar;  // the bar goes first
    m_bar = nullptr;
}

void CLumoraToolBarControl::readProfile() {
    if (m_database != nullptr) {
        m_database->GetHWProfiles(m_profile.get());
    }
}

void CLumoraToolBarControl::writeProfile() {
    if (m_database != nullptr) {
        m_database->UpdateHWProfiles(m_profile.get(), nullptr);
    }
}

bool CLumoraToolBarControl::splitEnabled() const {
    if (m_database == nullptr || m_adapter >= kMaxAdapters) {
        return false;
    }
    tagSplitProfiles split{};
    m_database->GetSplitProfiles(&split);
    return split.splitEnable[m_adapter] != 0;
}

void CLumoraToolBarControl::setSplitActive() {
    if (m_database == nullptr || m_adapter >= kMaxAdapters) {
        return;
    }
    tagSplitProfiles split{};
    m_database->GetSplitProfiles(&split);
    split.quadOrSplitActive[m_adapter] = 1;
    m_database->UpdateSplitProfiles(&split);
}

int CLumoraToolBarControl::relayImage(const tagRelayBlock& relay) const {
    return kImageRelayOff + (relay.status != 0 ? 1 : 0) + (relay.type > 0 ? 2 : 0);
}

QString CLumoraToolBarControl::buttonText(const char* name) const {
    std::string text = nameText(name);
    if (text.size() > 13) {
        text = text.substr(0, 12) + "..";
    }
    return QString::fromLatin1(" ") + QString::fromLatin1(text.c_str());
}

void CLumoraToolBarControl::retitle() {
    if (m_adapter < kMaxAdapters) {
        setWindowTitle(QString::fromLatin1(nameText(m_profile->adapters[m_adapter].name).c_str()));
    }
}

int CLumoraToolBarControl::CreateToolBar(platform::HWND notify) {
    m_notify = notify;
    setWindowTitle(QString());
    setGeometry(0, 0, 30, 30);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The frame always fits the whole bar: no button is folded away.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_bar = new CQbBar(m_database, m_capture, this, m_adapter);
    layout->addWidget(m_bar);
    buildButtons();
    return 1;
}

void CLumoraToolBarControl::buildButtons() {
    if (m_bar == nullptr) {
        return;
    }
    readProfile();
    const bool split = splitEnabled();
    const int count = m_cameras + 1 + (m_mode == 2 ? 1 : 0) + m_relays + (m_ptz == 1 ? 1 : 0);
    m_bar->SetButtonCount(count);
    const tagAdapterBlock* block = m_adapter < kMaxAdapters ? &m_profile->adapters[m_adapter] : nullptr;
    for (int c = 0; c < m_cameras; ++c) {
        m_bar->SetButtonInfo(c, kCmdFirstCamera + static_cast<UINT>(c), m_baseStyle | TBBS_CHECKBOX, c);
        m_bar->SetState(kCmdFirstCamera + static_cast<UINT>(c), m_baseState | TBSTATE_ENABLED);
        if (m_large && block != nullptr) {
            m_bar->SetButtonText(c, buttonText(block->cameras[c].name));
        }
    }
    const QString quadText = QString::fromStdString(UiString(65266));
    if (split) {
        m_bar->SetButtonInfo(modeIndex(), kCmdQuad, m_baseStyle | TBBS_CHECKBOX, kImageQuad);
        m_bar->SetState(kCmdQuad, m_baseState | TBSTATE_ENABLED | TBSTATE_PRESSED);
        if (m_mode == 2) {
            m_bar->SetButtonInfo(modeIndex() + 1, kCmdQuad2, m_baseStyle | TBBS_CHECKBOX, kImageQuad);
            m_bar->SetState(kCmdQuad2, m_baseState | TBSTATE_ENABLED);
        }
        if (m_large) {
            m_bar->SetButtonText(modeIndex(), m_mode == 2 ? quadText + " 1" : quadText);
            if (m_mode == 2) {
                m_bar->SetButtonText(modeIndex() + 1, quadText + " 2");
            }
        }
    } else {
        m_bar->SetButtonInfo(modeIndex(), kCmdAutoSwitch, m_baseStyle | TBBS_CHECKBOX, kImageAutoSwitch);
        m_bar->SetState(kCmdAutoSwitch, m_baseState | TBSTATE_ENABLED | TBSTATE_PRESSED);
        if (m_mode == 2) {
            m_bar->SetButtonInfo(modeIndex() + 1, kCmdQuad2, m_baseStyle | TBBS_CHECKBOX, kImageQuad);
            m_bar->SetState(kCmdQuad2, m_baseState | TBSTATE_ENABLED);
        }
    }
    InitializeRelayButtons();
    if (m_ptz == 1) {
        const int index = count - 1;
        m_bar->SetButtonInfo(index, kCmdPtz, m_baseStyle, kImagePtz);
        m_bar->EnableButton(kCmdPtz, true);
        if (m_mode == 2) {
            m_bar->SetButtonText(index, "Ptz");
        }
    }
    m_bar->adjustSize();
    adjustSize();
}

void CLumoraToolBarControl::InitializeRelayButtons() {
    if (m_bar == nullptr || m_adapter >= kMaxAdapters) {
        return;
    }
    const tagAdapterBlock& block = m_profile->adapters[m_adapter];
    const bool card = m_capture != nullptr && m_capture->IsCardDetected() != 0;
    for (int r = 0; r < m_relays; ++r) {
        const UINT id = kCmdFirstRelay + static_cast<UINT>(r);
        const tagRelayBlock& relay = block.relays[r];
        if (relay.state != 0) {
            m_bar->SetButtonInfo(relayIndex(r), id, m_baseStyle, relayImage(relay));
            m_bar->SetState(id, m_baseState | TBSTATE_ENABLED);
            if (card) {
                m_capture->SetDigitalOutput(m_adapter, static_cast<WORD>(r), 0);
            }
        } else {
            m_bar->SetButtonInfo(relayIndex(r), id, m_baseStyle | TBBS_CHECKBOX, relayImage(relay));
            m_bar->SetState(id, m_baseState | (relay.status != 0 ? 7u : 4u));
            if (card) {
                m_capture->SetDigitalOutput(m_adapter, static_cast<WORD>(r), static_cast<int>(relay.status));
            }
        }
        if (m_large) {
            m_bar->SetButtonText(relayIndex(r), buttonText(relay.name));
        }
    }
}

void CLumoraToolBarControl::UpdateDisplayRelayBitmaps() {
    if (m_bar == nullptr || m_adapter >= kMaxAdapters) {
        return;
    }
    readProfile();
    for (int r = 0; r < m_relays; ++r) {
        UpdateDisplayRelayBitmaps(m_profile.get(), r);
    }
}

void CLumoraToolBarControl::UpdateDisplayRelayBitmaps(const tagHWProfile* profile, int r) {
    if (m_bar == nullptr || profile == nullptr || m_adapter >= kMaxAdapters || r < 0 || r >= m_relays) {
        return;
    }
    const tagRelayBlock& relay = profile->adapters[m_adapter].relays[r];
    const UINT id = kCmdFirstRelay + static_cast<UINT>(r);
    if (relay.state != 0) {
        m_bar->SetButtonInfo(relayIndex(r), id, m_baseStyle, relayImage(relay));
        m_bar->SetState(id, m_baseState | TBSTATE_ENABLED);
    } else {
        m_bar->SetButtonInfo(relayIndex(r), id, m_baseStyle | TBBS_CHECKBOX, relayImage(relay));
        m_bar->SetState(id, m_baseState | (relay.status != 0 ? 7u : 4u));
    }
}

void CLumoraToolBarControl::UpdateDisplayVideoInput() {
    UpdateWindowProperties();
}

void CLumoraToolBarControl::UpdateWindowProperties() {
    LUMO_TRACE(5, "CLumoraToolBarControl::UpdateWindowProperties()");
    readProfile();
    retitle();
    UpdateDisplayRelayBitmaps();
    if (m_adapter < kMaxAdapters && m_bar != nullptr) {
        for (int c = 0; c < m_cameras; ++c) {
            const tagCameraBlock& camera = m_profile->adapters[m_adapter].cameras[c];
            if (camera.popupAlarm == 0 && camera.captureSnapshots == 0) {
                m_bar->SetCameraNormal(static_cast<WORD>(c));
            }
        }
        tagSplitProfiles split{};
        if (m_database != nullptr) {
            m_database->GetSplitProfiles(&split);
            if (split.quadOrSplitActive[m_adapter] != 0) {
                SetQuadButton(splitEnabled() ? 1 : 0);
            }
        }
    }
}

void CLumoraToolBarControl::OnCommand(UINT id) {
    if (id >= kCmdFirstCamera && id < kCmdFirstCamera + kCamerasPerAdapter) {
        OnButton(id);
    } else if (id >= kCmdFirstRelay && id < kCmdFirstRelay + kRelaysPerAdapter) {
        OnRelay(id);
    } else if (id == kCmdQuad) {
        OnButtonQuad();
    } else if (id == kCmdQuad2) {
        OnButtonQuad2();
    } else if (id == kCmdAutoSwitch) {
        OnButtonAutoSwitch();
    } else if (id == kCmdPtz) {
        OnButtonPtz();
    }
}

void CLumoraToolBarControl::postCommand(UINT id) {
    if (m_notify != 0) {
        platform::PostMessage(m_notify, WM_COMMAND, id, 0);
    }
}

void CLumoraToolBarControl::PushCamerabutton(WORD camera) {
    for (int c = 0; c < m_cameras && m_bar != nullptr; ++c) {
        const UINT id = kCmdFirstCamera + static_cast<UINT>(c);
        m_bar->CheckButton(id, c == camera);
        m_bar->PressButton(id, c == camera);
    }
}

void CLumoraToolBarControl::PushCameraButton() {
    PopUpModeButton();
    readProfile();
    if (m_adapter < kMaxAdapters) {
        PushCamerabutton(m_profile->adapters[m_adapter].selectedInput);
    }
}

int CLumoraToolBarControl::GetPressedCamera(WORD* camera) const {
    for (int c = 0; c < m_cameras && m_bar != nullptr; ++c) {
        if (m_bar->IsButtonChecked(kCmdFirstCamera + static_cast<UINT>(c))) {
            if (camera != nullptr) {
                *camera = static_cast<WORD>(c);
            }
            return 1;
        }
    }
    return 0;
}

void CLumoraToolBarControl::OnButton(UINT id) {
    const WORD camera = static_cast<WORD>(id - kCmdFirstCamera);
    PushCamerabutton(camera);
    if (m_notify == 0) {
        SetVideoInput(camera);
    } else {
        postCommand(id);
    }
    PopUpModeButton();
    if (m_database != nullptr && m_adapter < kMaxAdapters) {
        tagSplitProfiles split{};
        m_database->GetSplitProfiles(&split);
        split.quadOrSplitActive[m_adapter] = 0;
        m_database->UpdateSplitProfiles(&split);
    }
}

int CLumoraToolBarControl::SetVideoInput(WORD input) {
    readProfile();
    if (m_adapter < kMaxAdapters) {
        m_profile->adapters[m_adapter].selectedInput = input;
        writeProfile();
    }
    if (m_capture != nullptr) {
        m_capture->SetVideoInput(m_adapter, input, 0);
    }
    return 1;
}

void CLumoraToolBarControl::UnpressButtons(int also, DWORD id) {
    for (int c = 0; c < m_cameras && m_bar != nullptr; ++c) {
        m_bar->CheckButton(kCmdFirstCamera + static_cast<UINT>(c), false);
        m_bar->PressButton(kCmdFirstCamera + static_cast<UINT>(c), false);
    }
    if (also != 0 && m_bar != nullptr) {
        m_bar->CheckButton(id, false);
        m_bar->PressButton(id, false);
    }
}

void CLumoraToolBarControl::PopUpModeButton() {
    if (m_bar == nullptr) {
        return;
    }
    const auto release = [this](UINT id) {
        m_bar->CheckButton(id, false);
        m_bar->PressButton(id, false);
    };
    if (splitEnabled()) {
        release(kCmdQuad);
        if (m_mode == 2) {
            release(kCmdQuad2);
        }
    } else {
        release(kCmdAutoSwitch);
    }
}

int CLumoraToolBarControl::IsVideoModeActive() const {
    return m_bar != nullptr && m_bar->IsButtonPressed(splitEnabled() ? kCmdQuad : kCmdAutoSwitch) ? 1 : 0;
}

void CLumoraToolBarControl::HideQuadSwitchButton() {
    if (m_bar != nullptr) {
        m_bar->HideButton(kCmdQuad, true);
        m_bar->HideButton(kCmdAutoSwitch, true);
    }
}

void CLumoraToolBarControl::SetQuadButton(int quad) {
    setSplitActive();
    if (m_bar == nullptr) {
        return;
    }
    const UINT id = quad != 0 ? kCmdQuad : kCmdAutoSwitch;
    m_bar->SetButtonInfo(modeIndex(), id, m_baseStyle | TBBS_CHECKBOX, quad != 0 ? kImageQuad : kImageAutoSwitch);
    // The same handling as a user's press.
    platform::SendMessage(m_target->hwnd(), WM_COMMAND, id, 0);
}

void CLumoraToolBarControl::PushModeButton() {
    if (m_bar == nullptr) {
        return;
    }
    UnpressButtons(0, 0);
    readProfile();
    if (!splitEnabled()) {
        m_bar->SetButtonInfo(modeIndex(), kCmdAutoSwitch, m_baseStyle | TBBS_CHECKBOX, kImageAutoSwitch);
        m_bar->SetState(kCmdAutoSwitch, m_baseState | 7u);
    } else if (m_adapter < kMaxAdapters && readWord(m_profile->adapters[m_adapter], kActiveQuadOffset) == 1) {
        m_bar->SetButtonInfo(modeIndex() + 1, kCmdQuad2, m_baseStyle | TBBS_CHECKBOX, kImageQuad2Active);
        m_bar->SetState(kCmdQuad2, m_baseState | 7u);
    } else {
        m_bar->SetButtonInfo(modeIndex(), kCmdQuad, m_baseStyle | TBBS_CHECKBOX, kImageQuad);
        m_bar->SetState(kCmdQuad, m_baseState | 7u);
    }
}

void CLumoraToolBarControl::OnButtonQuad() {
    UnpressButtons(m_mode == 2 ? 1 : 0, kCmdQuad2);
    m_bar->SetState(kCmdQuad, m_baseState | 7u);
    postCommand(kCmdQuad);
    setSplitActive();
}

void CLumoraToolBarControl::OnButtonQuad2() {
    UnpressButtons(m_mode == 2 ? 1 : 0, kCmdQuad);
    m_bar->SetState(kCmdQuad2, m_baseState | 7u);
    postCommand(kCmdQuad2);
    setSplitActive();
}

void CLumoraToolBarControl::OnButtonAutoSwitch() {
    UnpressButtons(m_mode == 2 ? 1 : 0, kCmdQuad2);
    m_bar->SetState(kCmdAutoSwitch, m_baseState | 7u);
    postCommand(kCmdAutoSwitch);
    setSplitActive();
}

void CLumoraToolBarControl::OnButtonPtz() {
    postCommand(kCmdPtz);
}

void CLumoraToolBarControl::fireRelay(WORD relay, int state) {
    if (m_capture != nullptr && m_capture->SetDigitalOutput(m_adapter, relay, state) == 0) {
        LUMO_TRACE(1, "CLumoraToolBarControl::OnRelay ERROR: Relays output command failed!");
    }
}

void CLumoraToolBarControl::SetRelay(UINT id) {
    OnRelay(id);
}

void CLumoraToolBarControl::OnRelay(UINT id) {
    const int r = static_cast<int>(id - kCmdFirstRelay);
    if (m_bar == nullptr || m_adapter >= kMaxAdapters || r < 0 || r >= m_relays) {
        return;
    }
    readProfile();
    tagRelayBlock& relay = m_profile->adapters[m_adapter].relays[r];
    if (relay.state == 1) {
        // A pulse relay: fired by the bar on the press, released here.
        fireRelay(static_cast<WORD>(r), 0);
        relay.status = 0;
        writeProfile();
        m_bar->SetButtonInfo(relayIndex(r), id, m_baseStyle, relayImage(relay));
    } else if (relay.state == 0) {
        relay.status = relay.status != 0 ? 0 : 1;
        m_bar->SetButtonInfo(relayIndex(r), id, m_baseStyle | TBBS_CHECKBOX, relayImage(relay));
        m_bar->SetState(id, m_baseState | (relay.status != 0 ? 7u : 4u));
        fireRelay(static_cast<WORD>(r), static_cast<int>(relay.status));
        writeProfile();
    }
}

void CLumoraToolBarControl::OnTimer(platform::UINT_PTR id) {
    if (id >= kCmdFirstRelay && id < kCmdFirstRelay + static_cast<UINT>(m_relays) && m_adapter < kMaxAdapters) {
        const int r = static_cast<int>(id - kCmdFirstRelay);
        fireRelay(static_cast<WORD>(r), 0);
        readProfile();
        m_profile->adapters[m_adapter].relays[r].status = 0;
        writeProfile();
        UpdateDisplayRelayBitmaps(m_profile.get(), r);
        platform::KillTimer(m_target->hwnd(), id);
    }
}

LRESULT CLumoraToolBarControl::onMessage(UINT msg, WPARAM wParam, LPARAM) {
    if (msg == platform::WM_TIMER) {
        OnTimer(static_cast<platform::UINT_PTR>(wParam));
    } else if (msg == WM_COMMAND) {
        OnCommand(static_cast<UINT>(wParam & 0xFFFF));
    } else if (msg == kMsgPushCameraButton) {
        PushCamerabutton(static_cast<WORD>(wParam));
    }
    return 0;
}

int CLumoraToolBarControl::SetAdapter(WORD adapter) {
    LUMO_TRACE(5, "CLumoraToolBarControl::SetAdapter(WORD wAdapter)");
    if (adapter == m_adapter) {
        LUMO_TRACE(5, "wAdapter = m_wAdapter");
        return 1;
    }
    UpdateAdapter(adapter);
    readProfile();
    if (m_capture != nullptr && m_adapter < kMaxAdapters) {
        const WORD input = m_profile->adapters[m_adapter].selectedInput;
        m_capture->SetVideoInput(m_adapter, input, 0);
        LUMO_TRACE(5, "\tm_pLumora->SetVideoInput(%ld)", static_cast<long>(input));
    }
    return 1;
}

int CLumoraToolBarControl::UpdateAdapter(WORD adapter) {
    LUMO_TRACE(5, "CLumoraToolBarControl::UpdateAdapter(%ld)", static_cast<long>(adapter));
    if (adapter == m_adapter) {
        LUMO_TRACE(5, "wAdapter = m_wAdapter");
        return 1;
    }
    m_adapter = adapter;
    readProfile();
    m_cameras = adapter < kMaxAdapters ? std::min<int>(m_profile->adapters[adapter].camerasNumber, kCamerasPerAdapter) : 0;
    m_relays = adapter < kMaxAdapters ? std::min<int>(m_profile->adapters[adapter].relaysNumber, kRelaysPerAdapter) : 0;
    if (m_bar != nullptr) {
        m_bar->SetAdapter(adapter);
    }
    buildButtons();
    retitle();
    return 1;
}

void CLumoraToolBarControl::UpdateNamesOfCamerasAndRelays() {
    if (m_bar == nullptr || !m_large || m_adapter >= kMaxAdapters) {
        return;
    }
    readProfile();
    const tagAdapterBlock& block = m_profile->adapters[m_adapter];
    for (int c = 0; c < m_cameras; ++c) {
        m_bar->SetButtonText(c, buttonText(block.cameras[c].name));
    }
    for (int r = 0; r < m_relays; ++r) {
        m_bar->SetButtonText(relayIndex(r), buttonText(block.relays[r].name));
    }
}

void CLumoraToolBarControl::SetTriggerIdentification(const tagTriggerEntry* triggers, WORD adapter) {
    if (triggers == nullptr || m_bar == nullptr || adapter >= kMaxAdapters) {
        return;
    }
    for (int c = 0; c < m_cameras; ++c) {
        const WORD state = triggers[adapter * kCamerasPerAdapter + c].state;
        if (state == 0) {
            m_bar->SetCameraNormal(static_cast<WORD>(c));
        } else if (state == 1) {
            m_bar->SetCameraTriggered(static_cast<WORD>(c));
        }
    }
    m_bar->update();
}

void CLumoraToolBarControl::SetRemoteStationIsConnected(int connected) {
    m_remoteConnected = connected;
    if (m_bar != nullptr) {
        m_bar->setVisible(connected == 0);
    }
}

int CLumoraToolBarControl::IsToolBarVisible() const {
    return m_bar != nullptr && m_bar->isVisible() ? 1 : 0;
}

// The bar's place is kept per instance and adapter: two instances side by side
// each find their own bar where they left it.
CKcReg CLumoraToolBarControl::barStateKey() const {
    const std::string section = "Adapters\\" + std::to_string(m_adapter);
    return ProductKey(section.c_str());
}

void CLumoraToolBarControl::saveBarState() {
    CKcReg reg = barStateKey();
    const DWORD visible = isVisible() ? 1 : 0;
    const DWORD x = static_cast<DWORD>(pos().x());
    const DWORD y = static_cast<DWORD>(pos().y());
    reg.SetDword(nullptr, "BarVisible", &visible);
    reg.SetDword(nullptr, "BarX", &x);
    reg.SetDword(nullptr, "BarY", &y);
}

void CLumoraToolBarControl::HideControlBar() {
    if (isVisible()) {
        saveBarState();
    }
    hide();
}

void CLumoraToolBarControl::closeEvent(QCloseEvent* event) {
    saveBarState();
    QWidget::closeEvent(event);
}

void CLumoraToolBarControl::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    UpdateDisplayRelayBitmaps();
}

void CLumoraToolBarControl::RestoreToolBar(QWidget* near, int load) {
    if (load != 0) {
        CKcReg reg = barStateKey();
        DWORD visible = 1, x = 0, y = 0;
        if (reg.GetDword(nullptr, "BarX", &x) && reg.GetDword(nullptr, "BarY", &y)) {
            move(static_cast<int>(x), static_cast<int>(y));
        }
        reg.GetDword(nullptr, "BarVisible", &visible);
        setVisible(visible != 0);
        return;
    }
    show();
    AlignBottom(near);
}

void CLumoraToolBarControl::AlignBottom(QWidget* near) {
    if (near == nullptr) {
        return;
    }
    const QRect frame = near->frameGeometry();
    move(frame.left(), m_large ? frame.bottom() : frame.top());
}

void CLumoraToolBarControl::SetAlwaysOnTop(int onTop) {
    // Changing a window flag hides the window; it keeps its place and visibility.
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop != 0);
    if (visible) {
        show();
    }
}
