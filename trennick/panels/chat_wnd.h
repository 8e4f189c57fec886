#pragma once
// CChat: the text conversation with the connected station: a one-line input,
// a read-only conversation in which the operator's lines show grey and the
// remote station's red, a menu button, and an optional capture of the
// conversation into a text file. The link hands it every received chat text;
// the operator's lines go out as chat buckets while the link is up.
//
// User-interface thread only (the link calls chatText from the main window's
// read pass, on that thread). Nothing here opens a box from a received text.
// A capture file that cannot be created is told and capture stays off.

#include "platform/types.h"
#include "trennick/link/common_base.h"
#include "trennick/link/link_host.h"

#include <QRect>
#include <QWidget>
#include <fstream>
#include <functional>
#include <string>

class QLineEdit;
class QTextEdit;
class QToolButton;
class QMenu;

namespace trennick {

class CPacketConnection;

inline constexpr int kChatInputId = 139;
inline constexpr int kChatViewId = 138;
inline constexpr WPARAM ID_CHAT_MENU_BUTTON = 29126;
inline constexpr WPARAM ID_CHAT_COPY = 32844;
inline constexpr WPARAM ID_CHAT_CLEAR = 32845;
inline constexpr WPARAM ID_CHAT_CAPTURE = 32846;
inline constexpr WPARAM ID_CHAT_CLOSE = 32849;
inline constexpr WPARAM ID_CHAT_HELP = 57670;
inline constexpr int kChatInputChars = 512;

// The main window's chat settings that the window reads and keeps.
struct ChatSettings {
    QRect rect{10, 370, 450, 484};
    bool capture = false;
    std::string capturePath;
};

class CChat : public QWidget, public LinkChatWindow {
public:
    // closing: called when the window closes, before it goes.
    CChat(CPacketConnection& link, ChatSettings& settings, std::function<void()> closing);
    ~CChat() override;

    // LinkChatWindow: a received text; an empty one is ignored.
    void chatText(std::string_view text) override { OnReceiveText(text); }
    void UpdateTitle(std::string_view name) override;

    void OnReceiveText(std::string_view text);
    // Sends the input field's text (as Enter does).
    void SendInput();
    void OnCommand(WPARAM id);
    bool IsCommandEnabled(WPARAM id) const;
    // Starts capturing into `path` (emptied first): the header, then the
    // conversation so far. False when the file cannot be created.
    bool StartCapture(const std::string& path);
    void StopCapture();
    bool Capturing() const { return m_capture.is_open(); }

    QLineEdit& Input() { return *m_input; }
    QTextEdit& View() { return *m_view; }
    // The conversation as shown: each line with its ">> " or "<< ".
    const std::string& Conversation() const { return m_conversation; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void appendLine(const std::string& line, const QColor& colour);
    void layoutControls();
    void showMenu(const QPoint& globalAt);
    void chooseCapture();

    CPacketConnection& m_link;
    ChatSettings& m_settings;
    std::function<void()> m_closing;
    QLineEdit* m_input = nullptr;
    QTextEdit* m_view = nullptr;
    QToolButton* m_menuButton = nullptr;
    std::string m_remoteName;
    std::string m_conversation;
    std::ofstream m_capture;
    CCommon m_common;
    bool m_closed = false;
};

}  // namespace trennick
