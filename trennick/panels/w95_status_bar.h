#pragma once
// CW95StatusBar: the status bar of the file transfer window: five panes, in
// which a "Sending:" and a "Receiving:" label stand beside the send and the
// receive gauge, each gauge with its tool tip. User-interface thread only.

#include "trennick/panels/gauge_control.h"

#include <QWidget>
#include <array>
#include <string>

class QLabel;

namespace trennick {

inline constexpr int kStatusBarId = 4356;
inline constexpr int kStatusBarHeight = 25;
inline constexpr int kStatusPanes = 5;
inline constexpr int kTipIdReceiveGauge = 850314;
inline constexpr int kTipIdSendGauge = 850315;

// Right edges of the five panes for a bar `width` pixels wide.
std::array<int, kStatusPanes> StatusPaneEdges(int width);

class CW95StatusBar : public QWidget {
public:
    explicit CW95StatusBar(QWidget* parent);

    // Along the parent's bottom 25 pixels, 25 pixels short of its width.
    void Create(QWidget* parent);
    void SetupPanes();
    void Reposition();
    // Pane -1: the last. Set only when it differs without regard to case.
    void SetPaneText(int pane, const std::string& text);
    std::string PaneText(int pane) const;
    void StartProgress(bool receive, const std::string& caption);
    void SetProgress(LONG position, bool receive);
    void EndProgress(bool receive);
    CGaugeControl& Gauge(bool receive) { return receive ? m_receiveGauge : m_sendGauge; }

private:
    void placeGauges();

    CGaugeControl m_sendGauge;
    CGaugeControl m_receiveGauge;
    std::array<QLabel*, kStatusPanes> m_panes{};
    std::array<int, kStatusPanes> m_edges{};
};

}  // namespace trennick
