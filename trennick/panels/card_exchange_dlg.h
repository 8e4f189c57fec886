#pragma once
// CBCard: the dialog that shows the exchange of the station's business card
// with the connected station while the card's picture travels as a file: one
// bar for the outgoing and one for the incoming transfer, a stop button for
// the outgoing one. It follows the link on its own timer and ends itself when
// both sides have ended, when the link drops, or on Cancel.
// User-interface thread only.

#include "platform/types.h"

#include <QDialog>
#include <QTimer>
#include <functional>

class QProgressBar;
class QPushButton;
class QLabel;

namespace trennick {

class CPacketConnection;

inline constexpr int kCardStopButton = 1105;
inline constexpr int kCardIncomingBar = 1251;
inline constexpr int kCardOutgoingBar = 1250;
inline constexpr int kCardAnimation = 1252;
inline constexpr WPARAM kCardExchangeFinished = 0x8021;
inline constexpr int kCardUpdateMs = 100;

class CBCard : public QDialog {
public:
    // command: posts a command to the main window.
    CBCard(QWidget* parent, CPacketConnection& link, std::function<void(WPARAM)> command);

    // One update (as on each timer tick); returns false once the dialog ended.
    bool Update();
    void OnStop();
    void reject() override;
    int OutgoingPos() const;
    int IncomingPos() const;
    bool StopEnabled() const;

private:
    void finish();

    CPacketConnection& m_link;
    std::function<void(WPARAM)> m_command;
    QProgressBar* m_outgoing = nullptr;
    QProgressBar* m_incoming = nullptr;
    QPushButton* m_stop = nullptr;
    QLabel* m_animation = nullptr;
    QTimer m_timer;
    bool m_ended = false;
    int m_frame = 0;
};

}  // namespace trennick
