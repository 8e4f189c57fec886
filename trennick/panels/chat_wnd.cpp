#include "trennick/panels/chat_wnd.h"

#include "common/lumo_deb.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/link/packet_connection.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>
#include <cerrno>

namespace trennick {

namespace {

const QColor kOwnColour(128, 128, 128);
const QColor kRemoteColour(255, 0, 0);
constexpr int kMinWidth = 325, kMinHeight = 160;

}  // namespace

CChat::CChat(CPacketConnection& link, ChatSettings& settings, std::function<void()> closing)
    : QWidget(nullptr, Qt::Window), m_link(link), m_settings(settings), m_closing(std::move(closing)) {
    setObjectName("CChat");
    setWindowTitle("Chat");
    const CCommon::LanguageFont language = CCommon::CreateLanguageFont(0, false);
    QFont font(QString::fromStdString(language.face));
    font.setPointSize(std::max(6, language.height));
    setFont(font);
    setMinimumSize(kMinWidth, kMinHeight);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(grey);

    m_view = UiSetControlId(new QTextEdit(this), kChatViewId);
    m_view->setReadOnly(true);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_view->viewport()->installEventFilter(this);
    m_input = UiSetControlId(new QLineEdit(this), kChatInputId);
    m_input->setMaxLength(kChatInputChars);
    connect(m_input, &QLineEdit::returnPressed, this, [this] { SendInput(); });
    m_menuButton = UiSetControlId(new QToolButton(this), static_cast<int>(ID_CHAT_MENU_BUTTON));
    m_menuButton->setIcon(QApplication::style()->standardIcon(QStyle::SP_TitleBarMenuButton));
    m_menuButton->setToolTip(QString::fromStdString(UiString(65058, "Chat menu")));
    connect(m_menuButton, &QToolButton::clicked, this, [this] {
        showMenu(m_menuButton->mapToGlobal(QPoint(m_menuButton->width(), m_menuButton->height())));
        m_input->setFocus();
    });

    // A capture never goes on into a new window.
    m_settings.capture = false;
    setGeometry(m_settings.rect);
    layoutControls();
    show();
    m_input->setFocus();
}

CChat::~CChat() {
    if (!isMinimized()) m_settings.rect = geometry();
    StopCapture();
}

void CChat::layoutControls() {
    const int w = width();
    const int h = height();
    m_input->setGeometry(5, h - 33, std::max(10, w - 5 - 37), 28);
    m_menuButton->setGeometry(w - 32, h - 30, 22, 22);
    m_view->setGeometry(5, 5, std::max(10, w - 10), std::max(10, h - 43 - 5));
}

void CChat::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

void CChat::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    m_input->setFocus();
}

void CChat::UpdateTitle(std::string_view name) {
    m_remoteName = std::string(name);
    std::string title;
    if (!m_remoteName.empty()) {
        title = UiString(318, "Chat with ") + m_remoteName;
    } else if (m_link.IsLinkUp()) {
        title = UiString(316, "Chat - connected");
    } else {
        title = UiString(317, "Chat - not connected");
    }
    setWindowTitle(QString::fromStdString(title));
}

void CChat::appendLine(const std::string& line, const QColor& colour) {
    QTextCursor cursor(m_view->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(colour);
    // The view keeps lines by paragraphs: the line's own end becomes one.
    std::string shown = line;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    if (!m_view->document()->isEmpty()) cursor.insertBlock();
    cursor.insertText(QString::fromUtf8(shown.data(), static_cast<int>(shown.size())), format);
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
    m_conversation += line;
    if (m_capture.is_open()) {
        m_capture << line;
        m_capture.flush();
    }
}

void CChat::SendInput() {
    const std::string typed = m_input->text().toStdString();
    const std::string text = typed + "\r\n";
    if (m_link.IsLinkUp() && m_link.SendChatString(text) != 1) {
        LUMO_TRACE(3, "CChat::SendInput() the line did not take the text");
    }
    m_input->clear();
    appendLine(">> " + text, kOwnColour);
}

void CChat::OnReceiveText(std::string_view text) {
    if (text.empty()) return;
    appendLine("<< " + std::string(text), kRemoteColour);
}

bool CChat::IsCommandEnabled(WPARAM id) const {
    switch (id) {
    case ID_CHAT_COPY: return m_view->textCursor().hasSelection();
    case ID_CHAT_CLEAR: return !m_view->document()->isEmpty();
    default: return true;
    }
}

void CChat::OnCommand(WPARAM id) {
    switch (id) {
    case ID_CHAT_COPY:
        m_view->copy();
        break;
    case ID_CHAT_CLEAR:
        m_view->clear();
        m_conversation.clear();
        break;
    case ID_CHAT_CAPTURE:
        if (Capturing()) StopCapture();
        else chooseCapture();
        break;
    case ID_CHAT_CLOSE:
        close();
        break;
    case ID_CHAT_HELP:
        LUMO_TRACE(3, "CChat: help");
        break;
    default:
        break;
    }
}

void CChat::chooseCapture() {
    // Nobody can answer the dialog without a display: as a cancel.
    if (UiUnattended()) return;
    const QString chosen = QFileDialog::getSaveFileName(
        this, "Select file to capture chattings to", QString::fromStdString(m_settings.capturePath),
        "Text Documents (*.txt);;All Files (*)");
    if (chosen.isEmpty()) return;
    std::string path = chosen.toStdString();
    if (path == "*.*") return;
    if (path.find('.', path.find_last_of('/') + 1) == std::string::npos) path += ".txt";
    StartCapture(path);
}

bool CChat::StartCapture(const std::string& path) {
    m_settings.capturePath = path;
    StopCapture();
    m_capture.open(path, std::ios::binary | std::ios::trunc);
    if (!m_capture.is_open()) {
        const int error = errno;
        m_common.ShowMessage(error == EMFILE || error == ENFILE ? 4110 : 4080, 0, path.c_str());
        return false;
    }
    m_capture << UiString(318, "Chat with ") << (m_remoteName.empty() ? std::string("???") : m_remoteName) << " on "
              << CCommon::GetDateTimeStamp(true) << "\r\n"
              << m_conversation;
    m_capture.flush();
    m_settings.capture = true;
    return true;
}

void CChat::StopCapture() {
    if (m_capture.is_open()) m_capture.close();
    m_settings.capture = false;
}

void CChat::showMenu(const QPoint& globalAt) {
    QMenu menu(this);
    auto add = [&](const char* text, WPARAM id) {
        QAction* action = menu.addAction(text, this, [this, id] { OnCommand(id); });
        action->setEnabled(IsCommandEnabled(id));
        return action;
    };
    add("&Copy", ID_CHAT_COPY);
    add("C&lear", ID_CHAT_CLEAR);
    QAction* capture = add("C&apture", ID_CHAT_CAPTURE);
    capture->setCheckable(true);
    capture->setChecked(Capturing());
    menu.addSeparator();
    add("&Help", ID_CHAT_HELP);
    add("&Close", ID_CHAT_CLOSE);
    menu.exec(globalAt);
}

void CChat::contextMenuEvent(QContextMenuEvent* event) { showMenu(event->globalPos()); }

bool CChat::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view->viewport() && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        showMenu(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CChat::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!m_closed) {
        m_closed = true;
        if (m_closing) m_closing();
    }
}

}  // namespace trennick
