#include "trennick/panels/w95_status_bar.h"

#include "tavicore/ui/ui_window.h"

#include <QFrame>
#include <QLabel>

namespace trennick {

std::array<int, kStatusPanes> StatusPaneEdges(int width) {
    const int a = (width / 10) * 3;
    std::array<int, kStatusPanes> edges{};
    edges[0] = a / 2;
    edges[1] = a + a / 2;
    edges[2] = edges[1] + width / 20;
    edges[3] = edges[2] + (width / 10) * 2;
    edges[4] = edges[3] + a;
    return edges;
}

CW95StatusBar::CW95StatusBar(QWidget* parent) : QWidget(parent), m_sendGauge(this), m_receiveGauge(this) {
    UiSetControlId(this, kStatusBarId);
    for (auto& pane : m_panes) {
        pane = new QLabel(" ", this);
        pane->setFrameStyle(QFrame::NoFrame);
    }
    m_sendGauge.Create(this, {}, kTipIdSendGauge);
    m_receiveGauge.Create(this, {}, kTipIdReceiveGauge);
}

void CW95StatusBar::Create(QWidget* parent) {
    if (parent != nullptr && parentWidget() != parent) setParent(parent);
    Reposition();
    setVisible(true);
}

void CW95StatusBar::SetupPanes() {
    for (int p = 0; p < kStatusPanes; ++p) SetPaneText(p, " ");
    Reposition();
}

void CW95StatusBar::Reposition() {
    const QWidget* parent = parentWidget();
    if (parent != nullptr) {
        setGeometry(0, parent->height() - kStatusBarHeight, std::max(0, parent->width() - kStatusBarHeight),
                    kStatusBarHeight);
    }
    m_edges = StatusPaneEdges(width());
    int left = 0;
    for (int p = 0; p < kStatusPanes; ++p) {
        m_panes[p]->setGeometry(left, 0, std::max(0, m_edges[p] - left), height());
        left = m_edges[p];
    }
    placeGauges();
}

void CW95StatusBar::placeGauges() {
    // Each gauge fills its pane less a fifth of the height above and below.
    auto place = [&](CGaugeControl& gauge, int pane) {
        const int left = m_edges[pane - 1];
        const int margin = height() / 5;
        gauge.setGeometry(left, margin, std::max(0, m_edges[pane] - left), std::max(0, height() - 2 * margin));
    };
    place(m_sendGauge, 1);
    place(m_receiveGauge, 4);
}

void CW95StatusBar::SetPaneText(int pane, const std::string& text) {
    if (pane < 0 || pane >= kStatusPanes) pane = kStatusPanes - 1;
    const QString next = QString::fromStdString(text);
    if (m_panes[pane]->text().compare(next, Qt::CaseInsensitive) != 0) m_panes[pane]->setText(next);
}

std::string CW95StatusBar::PaneText(int pane) const {
    if (pane < 0 || pane >= kStatusPanes) pane = kStatusPanes - 1;
    return m_panes[pane]->text().toStdString();
}

void CW95StatusBar::StartProgress(bool receive, const std::string& caption) {
    SetPaneText(receive ? 3 : 0, receive ? "Receiving:" : "Sending:");
    SetPaneText(receive ? 4 : 1, " ");
    CGaugeControl& gauge = Gauge(receive);
    gauge.ShowGauge();
    gauge.SetRange(0, 100);
    gauge.SetCaption(caption);
    gauge.SetPos(0);
    gauge.raise();
    gauge.repaint();
}

void CW95StatusBar::SetProgress(LONG position, bool receive) { Gauge(receive).SetPos(position); }

void CW95StatusBar::EndProgress(bool receive) {
    Gauge(receive).HideGauge();
    SetPaneText(receive ? 3 : 0, " ");
    SetPaneText(receive ? 4 : 1, " ");
    setEnabled(true);
}

}  // namespace trennick
