#include "trennick/app/frame_buttons.h"

#include "common/lumo_deb.h"
#include "resources/glossel_ids.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/station/station_messages.h"

#include <QEvent>
#include <QPainter>
#include <QStyleOptionButton>

namespace trennick {

// Asks the row's source for a button's tip text just before the tip shows.
class CFrameButtonRow::ToolTipFilter : public QObject {
public:
    explicit ToolTipFilter(CFrameButtonRow& row) : m_row(row) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            for (const auto& [id, button] : m_row.m_buttons) {
                if (button == watched) m_row.RefreshToolTip(id);
            }
        }
        return false;
    }

private:
    CFrameButtonRow& m_row;
};

CFrameButtonRow::CFrameButtonRow(QWidget* parent, CommandSink sink)
    : m_parent(parent), m_sink(std::move(sink)), m_toolTipFilter(std::make_unique<ToolTipFilter>(*this)) {}

// The buttons keep only a guarded pointer to the filter: deleting it ends the filtering.
CFrameButtonRow::~CFrameButtonRow() = default;

void CFrameButtonRow::RefreshToolTip(WPARAM id) {
    CBitmapButton* button = Button(id);
    if (button == nullptr || !m_toolTips) return;
    button->setToolTip(QString::fromStdString(m_toolTips(id)));
}

CBitmapButton* CFrameButtonRow::add(WPARAM id, const char* text, const ButtonBitmaps& bitmaps) {
    auto* button = new CBitmapButton(id, text, m_parent);
    button->LoadBitmaps(bitmaps);
    QObject::connect(button, &QPushButton::clicked, button, [this, id] { m_sink(id); });
    button->installEventFilter(m_toolTipFilter.get());
    m_buttons[id] = button;
    return button;
}

void CFrameButtonRow::Build(bool speakerphone, bool expanded) {
    // resource bitmaps: 173 175-177 344 341-343 283 280-282 180 178 179 181 182-189 306 301 302 304 204-207 231-234
    add(ID_CONNECT_CONNECT, "Connect", {173, 175, 176, 177});
    add(ID_PHONE, "Phone", {344, 341, 342, 343});
    add(ID_CONNECT_DISCONNECT, "Disconnect", {283, 280, 281, 282});
    add(ID_RESTART_VIDEO, "Video", {180, 178, 179, 181});
    add(ID_FILE_TRANSFER, "Files", {182, 183, 184, 185});
    add(ID_OPEN_CHAT, "Chat", {186, 189, 187, 188});
    add(ID_OPTIONS, "Options", {306, 301, 302, 304});
    add(ID_COLLAPSE, "Less", {206, 207, 0, 0});
    add(ID_EXPAND, "More", {205, 204, 0, 0});
    add(ID_HOLD_CALL, "Hold", {IDB_SMYIMAGEU, IDB_SMYIMAGED, IDB_SMYIMAGEF, IDB_SMYIMAGEX});
    add(ID_TOGGLE_ARM, "Arm", {IDB_BTN_ARMU, IDB_BTN_ARMD, 0, IDB_BTN_ARM_DISABLED});
    add(ID_DEBRIEF_BUTTON, "Events", {IDI_DEBRIEF, 0, 0, 0});
    add(ID_TALK, "Talk", {IDB_BTN_AUDU, IDB_BTN_AUDD, 0, IDB_BTN_AUDX});
    if (UiBitmap(IDB_BTN_AUDU).isNull()) LUMO_TRACE(5, "CMainFrame::OnCreate() Failed load Bitmaps");
    add(ID_ADDRESS_BOOK, "Cards", {231, 233, 232, 234});

    ShowEnabled(ID_CONNECT_CONNECT, !speakerphone);
    ShowEnabled(ID_PHONE, speakerphone);
    Enable(ID_CONNECT_DISCONNECT, false);
    ShowEnabled(ID_RESTART_VIDEO, false);
    ShowEnabled(ID_FILE_TRANSFER, false);
    ShowEnabled(ID_OPEN_CHAT, false);
    ShowEnabled(ID_COLLAPSE, expanded);
    ShowEnabled(ID_EXPAND, !expanded);
    Enable(ID_HOLD_CALL, false);
}

CBitmapButton* CFrameButtonRow::Button(WPARAM id) const {
    auto it = m_buttons.find(id);
    return it != m_buttons.end() ? it->second : nullptr;
}

void CFrameButtonRow::ShowEnabled(WPARAM id, bool on) {
    if (CBitmapButton* b = Button(id)) {
        b->setVisible(on);
        b->setEnabled(on);
    }
}

void CFrameButtonRow::Enable(WPARAM id, bool on) {
    if (CBitmapButton* b = Button(id)) b->setEnabled(on);
}

bool CFrameButtonRow::IsEnabled(WPARAM id) const {
    CBitmapButton* b = Button(id);
    return b != nullptr && b->isEnabled();
}

bool CFrameButtonRow::IsShown(WPARAM id) const {
    CBitmapButton* b = Button(id);
    return b != nullptr && !b->isHidden();
}

void CFrameButtonRow::SetArmFaces(bool armed) {
    if (CBitmapButton* b = Button(ID_TOGGLE_ARM)) {
        b->LoadBitmaps({armed ? IDB_BTN_ARMU : IDB_BTN_DISARMU, IDB_BTN_ARMD, 0, IDB_BTN_ARM_DISABLED});
    }
}

}  // namespace trennick
