#pragma once
// How the engine's windows are made: a frame, dialog or control is a Qt widget
// class under the system's class name; its private messages and timers arrive
// through a platform message window that it owns (UiMessageTarget), so other
// threads may post to it by handle; each child control carries its resource
// number as its object name ("id1003"), so code and tests find it by number.
// Message boxes answer with the system's numbers.
//
// Threads: widgets and their message targets live on the user-interface thread;
// PostMessage to a target's handle is allowed from any thread.

#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/ui/tavicore_ui_api.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

inline constexpr UINT WM_COMMAND = 0x0111;

// Dialog results and message-box answers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Message-box styles: buttons in the low four bits, the icon in the next four.
inline constexpr UINT MB_OK = 0x00;
inline constexpr UINT MB_OKCANCEL = 0x01;
inline constexpr UINT MB_YESNO = 0x04;
inline constexpr UINT MB_ICONSTOP = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;

// The message window a widget owns for its private messages and timers: every
// message is handed to the handler given at construction. Created at once; the
// handler runs on the creating thread only.
class TAVICORE_UI_API UiMessageTarget : public platform::MessageWindow {
public:
    using Handler = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;
    explicit UiMessageTarget(Handler handler);
    ~UiMessageTarget() override;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    Handler m_handler;
};

// The object name that marks a control with its resource number.
TAVICORE_UI_API QString UiControlName(int controlId);
// Names `widget` by its resource number; returns it.
template <typename T>
T* UiSetControlId(T* widget, int controlId) {
    widget->setObjectName(UiControlName(controlId));
    return widget;
}
// The child of `parent` with that resource number, or null.
template <typename T = QWidget>
T* UiControl(const QWidget* parent, int controlId) {
    return parent != nullptr ? parent->findChild<T*>(UiControlName(controlId)) : nullptr;
}

// A modal message box over `parent` (the desktop when null): the caption, the
// text, the buttons and the icon of `type`; answers IDOK, IDCANCEL, IDYES or
// IDNO. Closing it by its close box answers IDCANCEL (IDNO for Yes/No).
TAVICORE_UI_API int UiMessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                              UINT type);
// Without a display nobody can answer a box. A program that finds none sets
// itself unattended: every box then goes to standard error and the trace and
// answers at once (OK, Cancel or No) instead of waiting. Stop boxes go to
// standard error and the trace in any case.
TAVICORE_UI_API void UiSetUnattended(bool unattended);
TAVICORE_UI_API bool UiUnattended();
// True when the Qt platform in use shows nothing (offscreen, minimal).
TAVICORE_UI_API bool UiPlatformHasNoDisplay();
// Writes a box's caption and text to standard error and the trace.
TAVICORE_UI_API void UiReportBox(const std::string& text, const std::string& caption);
// The object name of every such box, for those that look for it.
inline constexpr const char* kUiMessageBoxName = "UiMessageBox";

// Centres a top-level widget on the desktop (the primary screen).
TAVICORE_UI_API void UiCentreOnDesktop(QWidget* widget);
