#include "trennick/ui/message.h"

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "tavicore/product_key.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/ui/didov_controls.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <cstdlib>

namespace {

struct ButtonSpec {
    int id;
    UINT flag;
    int result;
    const char* text;
};

// In the order they are placed from the right edge to the left, so that Yes is
// leftmost.
constexpr ButtonSpec kButtons[] = {
    {57670, kMsgHelp, 0, "Help"},
    {IDCANCEL, kMsgCancel, kMsgResultNegative, "Cancel"},
    {1048, kMsgButton1048, 64, "Ignore"},
    {1042, kMsgButton1042, 32, "Retry"},
    {1046, kMsgButton1046, 128, "Abort"},
    {IDOK, kMsgOk, kMsgResultPositive, "OK"},
    {IDNO, kMsgNo, kMsgResultNegative, "No"},
    {IDYES, kMsgYes, kMsgResultPositive, "Yes"},
};

constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kGap = 10;

DWORD messageTimeoutMs() {
    DWORD timeout = CMessage::kDefaultTimeoutMs;
    CKcReg reg = ProductKey("General");
    if (!reg.GetDword(nullptr, "TimeOutForMesageBoxesMS", &timeout)) {
        timeout = CMessage::kDefaultTimeoutMs;
    }
    return timeout;
}

QFont languageFont() {
    QFont font(QString::fromStdString(UiString(311, "DejaVu Sans")));
    const std::string height = UiString(321);
    int points = height.empty() ? 8 : std::atoi(height.c_str());
    if (points <= 0) {
        points = 8;
    }
    font.setPointSize(points + 1);
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

UINT MessageTypeForKind(UINT kind) {
    switch (kind) {
    case kMessageKindError: return kMsgOk | kMsgIconError;
    case kMessageKindInformation: return kMsgOk | kMsgIconInformation;
    default: return kMsgYes | kMsgNo | kMsgIconQuestion;
    }
}

// The captions by kind; resource strings: 306-308
UINT MessageCaptionForKind(UINT kind) {
    switch (kind) {
    case kMessageKindError: return 306;
    case kMessageKindInformation: return 308;
    default: return 307;
    }
}

CMessage::CMessage(QWidget* parent) : QDialog(parent) {
    setObjectName("CMessage");
    setFont(languageFont());
    m_iconLabel = UiSetControlId(new QLabel(this), 1038);
    m_textLabel = UiSetControlId(new CDidovMessageControl(this), 1039);
    m_textLabel->SetMultiLine(true);
    for (int rowId : {1041, 1043, 1047}) {
        auto* row = UiSetControlId(new CDidovMessageControl(this), rowId);
        row->SetMultiLine(true);
        row->hide();  // extra rows: none are filled
    }
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    m_separator = UiSetControlId(line, 230);
    for (const auto& spec : kButtons) {
        auto* button = UiSetControlId(new QPushButton(UiDialogText(kDialogId, spec.id, spec.text), this), spec.id);
        button->setAutoDefault(false);
        button->hide();
        if (spec.flag == kMsgHelp) {
            connect(button, &QPushButton::clicked, this,
                    [] { LUMO_TRACE(5, "CMessage::OnHelp no help for this message"); });
        } else {
            connect(button, &QPushButton::clicked, this, [this, result = spec.result] { end(result); });
        }
    }
    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return onMessage(msg, wParam, lParam); });
}

CMessage::~CMessage() {
    platform::KillTimer(m_target->hwnd(), kTimerId);
}

int CMessage::SetMessage(DWORD helpContextId, const QString& text, const QString& caption, UINT type,
                         const QPixmap* callerBitmap) {
    m_helpId = helpContextId;
    m_text = text.left(512);
    m_caption = caption;
    m_type = type;
    switch (type & 0x0F) {
    case kMsgIconQuestion: m_icon = UiBitmap(114); break;
    case kMsgIconInformation: m_icon = UiBitmap(115); break;
    case kMsgIconError: m_icon = UiBitmap(116); break;
    case kMsgIconCaller: m_icon = callerBitmap != nullptr ? *callerBitmap : QPixmap(); break;
    default: m_icon = QPixmap(); break;
    }
    // Whatever ends the box without a button (its close box, its timer) is the
    // negative answer.
    m_result = kMsgResultNegative;
    layOut();
    platform::SetTimer(m_target->hwnd(), kTimerId, messageTimeoutMs());
    exec();
    platform::KillTimer(m_target->hwnd(), kTimerId);
    m_icon = QPixmap();
    return m_result;
}

void CMessage::layOut() {
    setWindowTitle(m_caption);
    const int iconSize = 32;
    m_iconLabel->setGeometry(15, 15, iconSize, iconSize);
    m_iconLabel->setPixmap(m_icon);
    m_iconLabel->setVisible(!m_icon.isNull());

    // The text sits 5 right of the icon and 5 down, sized to itself.
    const int textLeft = 15 + iconSize + 5;
    const int textWidth = 340;
    m_textLabel->SetText(m_text);
    m_textLabel->setGeometry(textLeft, 20, textWidth, iconSize);
    m_textLabel->FitToContent(textWidth);
    if (m_textLabel->height() < iconSize) m_textLabel->resize(m_textLabel->width(), iconSize);
    int next = std::max(m_textLabel->geometry().bottom(), 15 + iconSize) + 10;

    const int right = textLeft + textWidth;
    m_separator->setGeometry(15, next, right - 15, 2);
    m_separator->show();
    next += 15;

    int x = right;
    for (const auto& spec : kButtons) {
        auto* button = UiControl<QPushButton>(this, spec.id);
        const bool shown = (m_type & spec.flag) != 0;
        button->setVisible(shown);
        button->setEnabled(shown);
        if (shown) {
            x -= kButtonWidth;
            button->setGeometry(x, next, kButtonWidth, kButtonHeight);
            x -= kGap;
        }
    }
    setFixedSize(right + 15, next + kButtonHeight + 25);
    UiCentreOnDesktop(this);
}

void CMessage::end(int result) {
    platform::KillTimer(m_target->hwnd(), kTimerId);
    m_result = result;
    done(IDOK);
}

void CMessage::closeEvent(QCloseEvent* event) {
    event->ignore();
    end(kMsgResultNegative);
}

void CMessage::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        end(kMsgResultNegative);
        return;
    }
    QDialog::keyPressEvent(event);
}

LRESULT CMessage::onMessage(UINT msg, WPARAM, LPARAM) {
    if (msg == platform::WM_TIMER) {
        // The time-out answers as Cancel does.
        end(kMsgResultNegative);
    }
    return 0;
}

int ShowKindMessage(QWidget* parent, UINT kind, const std::string& text) {
    CMessage box(parent);
    return box.SetMessage(0, QString::fromStdString(text),
                          QString::fromStdString(UiString(MessageCaptionForKind(kind), "Velmoor")),
                          MessageTypeForKind(kind));
}

int PresentMessage(UINT, UINT flags, const std::string& text) {
    return ShowKindMessage(nullptr, flags, text);
}
