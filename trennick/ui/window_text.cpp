#include "trennick/ui/window_text.h"

#include <QLabel>
#include <QWidget>

namespace trennick {

std::string WindowText(const QWidget* window) {
    if (window == nullptr) return {};
    if (const auto* label = qobject_cast<const QLabel*>(window)) return label->text().toStdString();
    return window->windowTitle().toStdString();
}

bool SetWindowTextIfChanged(QWidget* window, std::string_view text) {
    if (window == nullptr || WindowText(window) == text) return false;
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (auto* label = qobject_cast<QLabel*>(window)) {
        label->setText(shown);
    } else {
        window->setWindowTitle(shown);
    }
    // Erase and paint now, not at the next idle pass.
    window->repaint();
    return true;
}

}  // namespace trennick
