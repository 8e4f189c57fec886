#include "trennick/image/animate_ctrl.h"

#include <QPixmap>

CAnimateCtrl::CAnimateCtrl(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { step(); });
}

bool CAnimateCtrl::Open(const std::string& path, std::string* why) {
    Close();
    if (!m_clip.Open(path, why)) return false;
    m_notice = text();
    showFrame(0);
    return true;
}

void CAnimateCtrl::Close() {
    m_timer.stop();
    m_clip.Close();
    m_frame = -1;
    m_shown = 0;
    // The label's own text comes back in the clip's place.
    if (m_showsClip) {
        m_showsClip = false;
        setPixmap(QPixmap());
        setText(m_notice);
    }
}

bool CAnimateCtrl::Play(int from, int to, int repeat) {
    if (!m_clip.IsOpen()) return false;
    const int last = m_clip.FrameCount() - 1;
    if (to < 0) to = last;
    if (from < 0 || from > last || to > last || from > to || repeat == 0) return false;
    m_from = from;
    m_to = to;
    m_repeat = repeat;
    showFrame(from);
    m_timer.start(int(m_clip.FramePeriodMs()));
    return true;
}

void CAnimateCtrl::Stop() { m_timer.stop(); }

void CAnimateCtrl::step() {
    if (m_frame < m_to) {
        showFrame(m_frame + 1);
        return;
    }
    // The end of a pass: another one while passes are left.
    if (m_repeat > 0 && --m_repeat == 0) {
        m_timer.stop();
        return;
    }
    showFrame(m_from);
}

void CAnimateCtrl::showFrame(int index) {
    const QImage frame = m_clip.Frame(index);
    if (frame.isNull()) return;
    m_frame = index;
    ++m_shown;
    m_showsClip = true;
    setPixmap(QPixmap::fromImage(frame));
}
