#include "trennick/panels/card_exchange_dlg.h"

#include "tavicore/ui/ui_window.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/packet_connection.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace trennick {

CBCard::CBCard(QWidget* parent, CPacketConnection& link, std::function<void(WPARAM)> command)
    : QDialog(parent), m_link(link), m_command(std::move(command)) {
    setWindowTitle("Business card");
    setAttribute(Qt::WA_DeleteOnClose);
    m_animation = UiSetControlId(new QLabel(" ", this), kCardAnimation);
    m_animation->setAlignment(Qt::AlignCenter);
    m_outgoing = UiSetControlId(new QProgressBar(this), kCardOutgoingBar);
    m_incoming = UiSetControlId(new QProgressBar(this), kCardIncomingBar);
    for (QProgressBar* bar : {m_outgoing, m_incoming}) {
        bar->setRange(0, 100);
        bar->setValue(0);
    }
    m_stop = UiSetControlId(new QPushButton(this), kCardStopButton);
    m_stop->setIcon(QApplication::style()->standardIcon(QStyle::SP_BrowserStop));
    m_stop->setToolTip("Stop sending");
    m_stop->setEnabled(false);
    connect(m_stop, &QPushButton::clicked, this, [this] { OnStop(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_animation);
    layout->addWidget(new QLabel("Sending the card:", this));
    layout->addWidget(m_outgoing);
    layout->addWidget(new QLabel("Receiving the card:", this));
    layout->addWidget(m_incoming);
    layout->addWidget(m_stop);
    if (parent != nullptr) move(parent->x(), parent->y() + parent->height() / 2);
    m_timer.setInterval(kCardUpdateMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Update(); });
    m_timer.start();
    show();
}

// Stopping a side and making it ready again always succeed: their results
// (always 1) are not read here.
void CBCard::OnStop() {
    (void)m_link.SetSendStatus(0, 0, nullptr);
    (void)m_link.SetSendStatus(-1, 0, nullptr);
    setFocus();
    m_stop->setEnabled(false);
}

void CBCard::reject() {
    (void)m_link.SetSendStatus(0, 0, nullptr);
    (void)m_link.SetReceiveStatus(0, nullptr);
    (void)m_link.SetSendStatus(-1, 0, nullptr);
    m_animation->setText(" ");
    finish();
    QDialog::reject();
}

void CBCard::finish() {
    m_ended = true;
    m_timer.stop();
}

bool CBCard::Update() {
    if (m_ended) return false;
    if (!m_link.IsLinkUp()) {
        reject();
        return false;
    }
    static const char* kFrames[] = {"\u25A1 \u2192 \u25A0", "\u25A0 \u2192 \u25A1"};
    m_animation->setText(kFrames[m_frame++ % 2]);

    bool outgoingRuns = false;
    ULONGLONG total = 0, done = 0;
    LONG kind = 0;
    const LONG sent = m_link.GetSendStatus(&total, &done, &kind, nullptr, nullptr);
    if (kind == kFileKindCardPicture) {
        switch (sent) {
        case 1:
            m_outgoing->setValue(0);
            outgoingRuns = true;
            break;
        case 3:
            m_outgoing->setValue(static_cast<int>(total == 0 ? 0 : std::min<ULONGLONG>(done * 100 / total, 100)));
            m_stop->setEnabled(true);
            outgoingRuns = true;
            break;
        case 4: case 6: case 7: case 8:
            (void)m_link.SetSendStatus(-1, 0, nullptr);
            m_outgoing->setValue(0);
            m_stop->setEnabled(false);
            break;
        case 9:
            m_command(kCardExchangeFinished);
            (void)m_link.SetSendStatus(-1, 0, nullptr);
            m_stop->setEnabled(false);
            break;
        default:
            break;
        }
    }

    bool incomingRuns = false;
    total = 0;
    done = 0;
    kind = 0;
    // Only a card's own transfer is read here: reading an ended transfer of
    // another kind would take its end away from the transfer window.
    const LONG state = m_link.GetFileReceiveStatus();
    if (state == REC_RECEIVING || state == REC_USER_DISCONNECTING) {
        const LONG received = m_link.GetReceiveStatus(&total, &done, &kind, nullptr, nullptr);
        if (kind < 0 || kind == 1 || kind == 2) {
            if (received == REC_RECEIVING) {
                m_incoming->setValue(static_cast<int>(total == 0 ? 0 : std::min<ULONGLONG>(done * 100 / total, 100)));
                incomingRuns = true;
            } else if (received == REC_USER_DISCONNECTING) {
                m_command(kCardExchangeFinished);
            }
        }
    } else {
        m_incoming->setValue(0);
    }

    if (!outgoingRuns && !incomingRuns) {
        finish();
        close();
        return false;
    }
    return true;
}

int CBCard::OutgoingPos() const { return m_outgoing->value(); }
int CBCard::IncomingPos() const { return m_incoming->value(); }
bool CBCard::StopEnabled() const { return m_stop->isEnabled(); }

}  // namespace trennick
