#pragma once
// CMessage: the main program's own message box. It looks like a message box,
// lays out its text and buttons by a type word, uses the language's font and
// closes by itself after the program's message time-out (the "General" setting
// "TimeOutForMesageBoxesMS", 30000 ms by default). Also the program's message
// function for the station link: a message kind turned into a type word.
//
// Threads: the user-interface thread only. Never fails: every way out of the
// box has a result.

#include "platform/types.h"
#include "tavicore/ui/ui_window.h"

#include <QDialog>
#include <QPixmap>
#include <memory>
#include <string>

class QLabel;
class CDidovMessageControl;
class QPushButton;

// Flags of the type word: the buttons, and the icon in the low four bits.
inline constexpr UINT kMsgIconQuestion = 1;     // bitmap 114
inline constexpr UINT kMsgIconInformation = 2;  // bitmap 115
inline constexpr UINT kMsgIconError = 4;        // bitmap 116
inline constexpr UINT kMsgIconCaller = 8;       // the caller's bitmap
inline constexpr UINT kMsgCancel = 16;
inline constexpr UINT kMsgButton1042 = 32;
inline constexpr UINT kMsgButton1048 = 64;
inline constexpr UINT kMsgButton1046 = 128;
inline constexpr UINT kMsgHelp = 256;
inline constexpr UINT kMsgOk = 512;
inline constexpr UINT kMsgYes = 1024;
inline constexpr UINT kMsgNo = 2048;

// Results: 512 the positive answer (OK, Yes), 16 the negative one (Cancel, No,
// the close box, the time-out), 32, 64 and 128 the three other buttons.
inline constexpr int kMsgResultPositive = 512;
inline constexpr int kMsgResultNegative = 16;

// Message kinds of the program's message function.
inline constexpr UINT kMessageKindError = 0;
inline constexpr UINT kMessageKindInformation = 1;
inline constexpr UINT kMessageKindQuestion = 2;
inline constexpr UINT kMessageKindQuestion2 = 3;

// The type word of a message kind: an error shows OK and the error icon (516),
// information OK and the information icon (514), a question Yes and No with the
// question icon (3073) so that its two answers can be told apart.
UINT MessageTypeForKind(UINT kind);
// The caption string of a message kind: 306 error, 308 information, 307 question.
UINT MessageCaptionForKind(UINT kind);

class CMessage : public QDialog {
public:
    static constexpr UINT kDialogId = 131;
    static constexpr platform::UINT_PTR kTimerId = 888;
    static constexpr DWORD kDefaultTimeoutMs = 30000;

    explicit CMessage(QWidget* parent = nullptr);
    ~CMessage() override;

    // Shows the box modally and returns its result. `callerBitmap` is the icon
    // for icon kind 8.
    int SetMessage(DWORD helpContextId, const QString& text, const QString& caption, UINT type,
                   const QPixmap* callerBitmap = nullptr);

    int result() const { return m_result; }
    DWORD helpContextId() const { return m_helpId; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void layOut();
    void end(int result);
    LRESULT onMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    QString m_text;
    QString m_caption;
    DWORD m_helpId = 0;
    UINT m_type = 0;
    QPixmap m_icon;
    int m_result = kMsgResultNegative;
    QLabel* m_iconLabel = nullptr;
    CDidovMessageControl* m_textLabel = nullptr;
    QWidget* m_separator = nullptr;
    std::unique_ptr<UiMessageTarget> m_target;
};

// Shows a message of a kind (caption and buttons by the kind) over `parent`;
// returns the box's result.
int ShowKindMessage(QWidget* parent, UINT kind, const std::string& text);
// The program's message function for the station link's messages (its
// presenter): `flags` is the message kind.
int PresentMessage(UINT stringId, UINT flags, const std::string& text);
