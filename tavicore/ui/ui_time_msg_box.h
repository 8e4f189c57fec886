#pragma once
// CTimeMsgBox: a modeless notice that shows a text under a caption with the
// information icon and hides itself after a given time or when the user presses
// OK. One object is made once and shown again for each message.
//
// Threads: the user-interface thread only. Never fails: DisplayMessage always
// answers 1.

#include "platform/types.h"
#include "tavicore/ui/tavicore_ui_api.h"
#include "tavicore/ui/ui_window.h"

#include <QDialog>
#include <memory>

class QLabel;

class TAVICORE_UI_API CTimeMsgBox : public QDialog {
public:
    static constexpr UINT kDialogId = 499;
    static constexpr int kTextId = 1047;
    static constexpr int kIconId = 65535;
    static constexpr platform::UINT_PTR kTimerId = 0x12345;
    static constexpr UINT kDefaultCaptionId = 10000;

    // Builds the window at once, hidden until the first message.
    explicit CTimeMsgBox(QWidget* parent = nullptr);
    ~CTimeMsgBox() override;

    // Shows `text` under `caption` (string 10000 when empty) for `milliseconds`;
    // a message already shown is replaced and its timer restarted. `style` is
    // accepted and not used. Returns 1.
    int DisplayMessage(const QString& text, const QString& caption, UINT style, DWORD milliseconds);
    // Hides the window; a timer still running only hides it again later.
    void HideMessage();

    // The window's message handle (its timer and posted commands arrive there).
    platform::HWND messageHandle() const { return m_target->hwnd(); }
    DWORD displayTimeMs() const { return m_displayMs; }

protected:
    void OnOK();
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    LRESULT onMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    QLabel* m_icon = nullptr;
    QLabel* m_text = nullptr;
    QString m_message;
    QString m_caption;
    DWORD m_displayMs = 0;
    std::unique_ptr<UiMessageTarget> m_target;
};
