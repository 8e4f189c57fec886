#include "trennick/ui/lcd_panel.h"

#include "tavicore/ui/ui_resources.h"

#include <QLabel>
#include <QThread>
#include <chrono>
#include <cmath>

namespace {

struct ElementSpec {
    LcdElement element;
    int x, y, w, h;
    UINT bitmap;  // 0: the meter's slot 0
};

// In creation order.
constexpr ElementSpec kSpecs[] = {
    {LcdElement::Background, 0, 0, 0, 0, 366},
    {LcdElement::LinkLamp, 4, 5, 15, 10, 367},
    {LcdElement::LineMeter, 26, 5, 62, 10, 400},
    {LcdElement::VideoLamp, 98, 6, 18, 9, 368},
    {LcdElement::FrameRateMeter, 125, 5, 61, 10, 399},
    {LcdElement::SendLamp, 5, 23, 11, 11, 369},
    {LcdElement::ReceiveLamp, 19, 23, 12, 11, 370},
    {LcdElement::ConnectedLamp, 34, 23, 27, 11, 371},
    {LcdElement::HeldLampA, 64, 23, 18, 11, 372},
    {LcdElement::DataLamp, 64, 23, 18, 11, 463},
    {LcdElement::HeldLampB, 64, 23, 18, 11, 502},
    {LcdElement::Speed9600, 85, 23, 15, 11, 373},
    {LcdElement::Speed28800, 103, 23, 17, 11, 375},
    {LcdElement::Speed57600, 123, 23, 20, 11, 376},
    {LcdElement::Speed115200, 146, 23, 20, 11, 374},
    {LcdElement::SpeedNetwork, 169, 23, 17, 11, 377},
    {LcdElement::MarkA, 5, 37, 30, 11, 465},
    {LcdElement::MarkB, 5, 37, 30, 11, 464},
    {LcdElement::MarkC, 38, 37, 30, 11, 493},
    {LcdElement::MarkD, 71, 37, 30, 11, 496},
    {LcdElement::MarkE, 71, 37, 30, 11, 497},
};

constexpr LcdElement kSpeedMarks[] = {LcdElement::Speed9600, LcdElement::Speed28800, LcdElement::Speed57600,
                                      LcdElement::Speed115200, LcdElement::SpeedNetwork};

DWORD steadyMs() {
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
}

}  // namespace

CLcdPanel::CLcdPanel(QWidget* parent) : QWidget(parent) {
    setObjectName("CLcdPanel");
    setFixedSize(190, 52);
    // The line meter: slot 0 bitmap 400, levels 1 to 10 bitmaps 379 to 388. The
    // frame-rate meter: slot 0 bitmap 399, levels 1 to 9 bitmaps 389 to 397; its
    // level 10 has no bitmap of its own and shows the fullest one, 397.
    // resource bitmaps: 366-377 379-397 399 400 463-465 493 496 497 502
    m_lineSlots[0] = 400;
    m_frameSlots[0] = 399;
    for (int level = 1; level <= 10; ++level) {
        m_lineSlots[static_cast<std::size_t>(level)] = 378 + static_cast<UINT>(level);
        m_frameSlots[static_cast<std::size_t>(level)] = level <= 9 ? 388 + static_cast<UINT>(level) : 397;
    }
    for (const auto& spec : kSpecs) {
        Element& e = at(spec.element);
        e.label = new QLabel(this);
        e.label->setObjectName(QStringLiteral("lcd%1").arg(static_cast<int>(spec.element)));
        if (spec.element == LcdElement::Background) {
            e.label->setGeometry(rect());
            e.label->setScaledContents(true);
        } else {
            e.label->setGeometry(spec.x, spec.y, spec.w, spec.h);
            e.label->hide();
            e.label->setEnabled(false);
        }
        setPicture(spec.element, spec.bitmap);
    }
    m_target = std::make_unique<UiMessageTarget>(
        [this](UINT msg, WPARAM wParam, LPARAM lParam) { return onMessage(msg, wParam, lParam); });
}

CLcdPanel::~CLcdPanel() {
    platform::KillTimer(m_target->hwnd(), kTimerId);
}

DWORD CLcdPanel::now() const {
    return m_clock ? m_clock() : steadyMs();
}

void CLcdPanel::setPicture(LcdElement e, UINT bitmap) {
    Element& element = at(e);
    if (element.bitmap == bitmap) {
        return;
    }
    element.bitmap = bitmap;
    element.label->setPixmap(UiBitmap(bitmap));
}

void CLcdPanel::showElement(LcdElement e, bool on) {
    Element& element = at(e);
    if (element.label->isVisibleTo(this) == on) {
        return;  // no change, nothing to do
    }
    element.label->setEnabled(on);
    element.label->setVisible(on);
}

bool CLcdPanel::IsElementShown(LcdElement e) const {
    return at(e).label->isVisibleTo(this);
}

UINT CLcdPanel::ElementBitmap(LcdElement e) const {
    return at(e).bitmap;
}

int CLcdPanel::MeterLevel(LcdElement meter) const {
    return at(meter).level;
}

void CLcdPanel::ShowLinkLamp(int on) { showElement(LcdElement::LinkLamp, on != 0); }
void CLcdPanel::ShowVideoLamp(int on) { showElement(LcdElement::VideoLamp, on != 0); }
void CLcdPanel::ShowNetConnectedLamp(int on) { showElement(LcdElement::ConnectedLamp, on != 0); }
void CLcdPanel::ShowMarkA(int on) { showElement(LcdElement::MarkA, on != 0); }
void CLcdPanel::ShowMarkB(int on) { showElement(LcdElement::MarkB, on != 0); }
void CLcdPanel::ShowMarkC(int on) { showElement(LcdElement::MarkC, on != 0); }
void CLcdPanel::ShowMarkD(int on) { showElement(LcdElement::MarkD, on != 0); }
void CLcdPanel::ShowMarkE(int on) { showElement(LcdElement::MarkE, on != 0); }

void CLcdPanel::setMeter(LcdElement meter, int level) {
    Element& element = at(meter);
    element.level = level;
    const auto& meterSlots = meter == LcdElement::LineMeter ? m_lineSlots : m_frameSlots;
    setPicture(meter, meterSlots[static_cast<std::size_t>(level)]);
}

void CLcdPanel::ShowModemConnectedImage(int on) {
    if (on != 0) {
        setMeter(LcdElement::LineMeter, 0);
    }
    showElement(LcdElement::LineMeter, on != 0);
}

void CLcdPanel::ShowRemoteImage(int on) {
    if (on != 0) {
        setMeter(LcdElement::FrameRateMeter, 0);
    }
    showElement(LcdElement::FrameRateMeter, on != 0);
}

void CLcdPanel::hold(LcdElement e, DWORD holdMs) {
    Element& element = at(e);
    element.startMs = now();
    element.holdMs = holdMs;
    if (waitsForTimer(e)) armTimer();
}

void CLcdPanel::armTimer() {
    // Set once per run: setting it again would restart its period, and lamps lit
    // more often than that would never be put out. From another thread the
    // layer posts the start to the panel's thread.
    if (!m_timerRunning.exchange(true)) platform::SetTimer(m_target->hwnd(), kTimerId, kTimerMs);
}

bool CLcdPanel::waitsForTimer(LcdElement e) const {
    // Putting a meter out shows its slot 0: a meter held at slot 0 has nothing
    // left to put out (the frame holds its line meter at every status update).
    const Element& element = at(e);
    const bool meter = e == LcdElement::LineMeter || e == LcdElement::FrameRateMeter;
    return element.holdMs != 0 && (!meter || element.level != 0);
}

bool CLcdPanel::anythingHeld() const {
    for (std::size_t i = 0; i < m_elements.size(); ++i) {
        if (waitsForTimer(static_cast<LcdElement>(i))) return true;
    }
    return false;
}

void CLcdPanel::requestLamp(LcdElement e, std::atomic<bool>& lit, UINT message, int on, DWORD holdMs) {
    if (on == 0) {
        at(e).holdMs = 0;
        lit = false;
        if (QThread::currentThread() == thread()) {
            showElement(e, false);  // at once
        } else {
            platform::PostMessage(m_target->hwnd(), message, 0, 0);  // widgets are the GUI thread's
        }
        return;
    }
    hold(e, holdMs);
    // One request per lighting: a second call before the lamp is put out again
    // posts nothing.
    if (!lit.exchange(true)) {
        ++m_posted;
        platform::PostMessage(m_target->hwnd(), message, 1, 0);
    }
}

void CLcdPanel::SetSendLamp(int on, DWORD holdMs) {
    requestLamp(LcdElement::SendLamp, m_sendLit, kMsgSendLamp, on, holdMs);
}

void CLcdPanel::SetReceiveLamp(int on, DWORD holdMs) {
    requestLamp(LcdElement::ReceiveLamp, m_receiveLit, kMsgReceiveLamp, on, holdMs);
}

void CLcdPanel::SetHeldLampA(int on, DWORD holdMs) {
    if (on != 0) {
        hold(LcdElement::HeldLampA, holdMs);
    } else {
        at(LcdElement::HeldLampA).holdMs = 0;
    }
    showElement(LcdElement::HeldLampA, on != 0);
}

void CLcdPanel::ShowDataLamp(int on, DWORD holdMs) {
    if (on != 0) {
        hold(LcdElement::DataLamp, holdMs);
    } else {
        at(LcdElement::DataLamp).holdMs = 0;
    }
    showElement(LcdElement::DataLamp, on != 0);
}

void CLcdPanel::SetHeldLampB(int on, DWORD holdMs) {
    if (on != 0) {
        hold(LcdElement::HeldLampB, holdMs);
    } else {
        at(LcdElement::HeldLampB).holdMs = 0;
    }
    showElement(LcdElement::HeldLampB, on != 0);
}

void CLcdPanel::ShowLineSpeed(long rate) {
    for (LcdElement mark : kSpeedMarks) {
        showElement(mark, false);
    }
    if (rate == -1) {
        showElement(LcdElement::SpeedNetwork, true);
    } else if (rate == 115200) {
        showElement(LcdElement::Speed115200, true);
    } else if (rate <= 0) {
        // 0 shows nothing; no other negative rate exists.
    } else if (rate <= 9600) {
        showElement(LcdElement::Speed9600, true);
    } else if (rate <= 28800 || rate == 38400) {
        showElement(LcdElement::Speed28800, true);
    } else {
        showElement(LcdElement::Speed57600, true);
    }
}

int CLcdPanel::LineRateLevel(long bitsPerSecond) {
    if (bitsPerSecond <= 0) {
        return 0;
    }
    const long long level = static_cast<long long>(bitsPerSecond) * 10 / 33600;
    return level > 9 ? 10 : static_cast<int>(level);
}

int CLcdPanel::FrameRateLevel(double framesPerSecond) {
    if (!(framesPerSecond > 0)) {
        return 0;  // zero, negative or not a number
    }
    const double level = std::floor(framesPerSecond * 10 / 15);
    return level > 9 ? 10 : static_cast<int>(level);
}

void CLcdPanel::SetLineRateMeter(long bitsPerSecond, DWORD holdMs) {
    setMeter(LcdElement::LineMeter, LineRateLevel(bitsPerSecond));
    hold(LcdElement::LineMeter, holdMs);
    showElement(LcdElement::LineMeter, true);
}

void CLcdPanel::SetFrameRateMeter(double framesPerSecond, DWORD holdMs) {
    setMeter(LcdElement::FrameRateMeter, FrameRateLevel(framesPerSecond));
    hold(LcdElement::FrameRateMeter, holdMs);
    showElement(LcdElement::FrameRateMeter, true);
}

void CLcdPanel::OnTimer() {
    const DWORD current = now();
    auto expired = [&](LcdElement e) {
        const Element& element = at(e);
        const DWORD held = element.holdMs;
        return held != 0 && held < current - element.startMs;
    };
    for (LcdElement lamp : {LcdElement::SendLamp, LcdElement::ReceiveLamp}) {
        if (expired(lamp)) {
            at(lamp).holdMs = 0;
            (lamp == LcdElement::SendLamp ? m_sendLit : m_receiveLit) = false;
            showElement(lamp, false);
        }
    }
    if (expired(LcdElement::HeldLampA)) {
        SetHeldLampA(0, 0);
    }
    if (expired(LcdElement::DataLamp)) {
        ShowDataLamp(0, 0);
    }
    if (expired(LcdElement::HeldLampB)) {
        SetHeldLampB(0, 0);
    }
    for (LcdElement meter : {LcdElement::LineMeter, LcdElement::FrameRateMeter}) {
        if (expired(meter)) {
            setMeter(meter, 0);
            at(meter).holdMs = 0;
        }
    }
    // Nothing left to put out: the timer stops until the next hold. A hold
    // taken by another thread meanwhile either is seen here or finds the timer
    // stopped and starts it itself.
    if (!anythingHeld()) {
        m_timerRunning = false;
        platform::KillTimer(m_target->hwnd(), kTimerId);
        if (anythingHeld()) armTimer();
    }
}

LRESULT CLcdPanel::onMessage(UINT msg, WPARAM wParam, LPARAM) {
    if (msg == platform::WM_TIMER && wParam == kTimerId) {
        OnTimer();
    } else if (msg == kMsgSendLamp) {
        showElement(LcdElement::SendLamp, wParam != 0 && m_sendLit);
    } else if (msg == kMsgReceiveLamp) {
        showElement(LcdElement::ReceiveLamp, wParam != 0 && m_receiveLit);
    }
    return 0;
}
