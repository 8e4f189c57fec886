#pragma once
// SetWindowTextIfChanged: sets a window's text only when it differs from the
// one shown, and then redraws the window at once. Captions and status lines
// are refreshed on every loop pass; setting an unchanged text would repaint
// (and flicker) for nothing.
//
// A window's text is its label's text for a label and its title for any other
// window. Thread: the user-interface thread.

#include <string>
#include <string_view>

class QWidget;

namespace trennick {

// The window's text now (empty for a null window).
std::string WindowText(const QWidget* window);
// True when the text was changed (and the window redrawn); a null window does nothing.
bool SetWindowTextIfChanged(QWidget* window, std::string_view text);

}  // namespace trennick
