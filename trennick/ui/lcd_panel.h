#pragma once
// CLcdPanel: the main window's small status display that looks like a
// liquid-crystal panel: lamps, connection-speed marks and two ten-step meters
// over one background picture. Callers switch elements on and off or give meter
// values; lamps and meters that are held for a while are put out by the panel's
// own timer (every 1000 ms), which runs only while something is held.
//
// Threads: the user-interface thread, except SetSendLamp and SetReceiveLamp,
// which any thread may call (they post to the panel). Never fails: a missing
// picture leaves its element empty.

#include "platform/types.h"
#include "tavicore/ui/ui_window.h"

#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

class QLabel;

enum class LcdElement {
    Background,
    LinkLamp,
    LineMeter,
    VideoLamp,
    FrameRateMeter,
    SendLamp,
    ReceiveLamp,
    ConnectedLamp,
    HeldLampA,
    DataLamp,
    HeldLampB,
    Speed9600,
    Speed28800,
    Speed57600,
    Speed115200,
    SpeedNetwork,
    MarkA,
    MarkB,
    MarkC,
    MarkD,
    MarkE,
    Count
};

class CLcdPanel : public QWidget {
public:
    static constexpr platform::UINT_PTR kTimerId = 9999;
    static constexpr UINT kTimerMs = 1000;
    static constexpr UINT kMsgReceiveLamp = 0x8001;
    static constexpr UINT kMsgSendLamp = 0x8002;
    static constexpr int kMeterSlots = 11;

    explicit CLcdPanel(QWidget* parent = nullptr);
    ~CLcdPanel() override;

    void ShowLinkLamp(int on);
    void ShowVideoLamp(int on);
    void ShowNetConnectedLamp(int on);
    void ShowMarkA(int on);
    void ShowMarkB(int on);
    void ShowMarkC(int on);
    void ShowMarkD(int on);
    void ShowMarkE(int on);
    void ShowModemConnectedImage(int on);
    void ShowRemoteImage(int on);
    // Any thread.
    void SetSendLamp(int on, DWORD holdMs);
    void SetReceiveLamp(int on, DWORD holdMs);
    void SetHeldLampA(int on, DWORD holdMs);
    void ShowDataLamp(int on, DWORD holdMs);
    void SetHeldLampB(int on, DWORD holdMs);
    void ShowLineSpeed(long rate);
    void SetLineRateMeter(long bitsPerSecond, DWORD holdMs);
    void SetFrameRateMeter(double framesPerSecond, DWORD holdMs);

    // The meter levels (0 to 10) a rate gives.
    static int LineRateLevel(long bitsPerSecond);
    static int FrameRateLevel(double framesPerSecond);

    bool IsElementShown(LcdElement element) const;
    // The level a meter shows (LineMeter or FrameRateMeter).
    int MeterLevel(LcdElement meter) const;
    // The hold a held element was last lit with (0 when none or put out).
    DWORD HoldMs(LcdElement element) const { return at(element).holdMs; }
    // The bitmap an element shows now (0 when none).
    UINT ElementBitmap(LcdElement element) const;
    // Whether the panel's timer runs (it runs only while something is held).
    bool TimerRunning() const { return m_timerRunning; }
    // Lamp messages the panel has posted to itself so far.
    int postedLampMessages() const { return m_posted; }
    platform::HWND messageHandle() const { return m_target->hwnd(); }
    // Replaces the millisecond clock (monotonic) the hold times are measured by.
    void SetClock(std::function<DWORD()> clock) { m_clock = std::move(clock); }

private:
    struct Element {
        QLabel* label = nullptr;
        UINT bitmap = 0;
        int level = 0;
        std::atomic<DWORD> holdMs{0};
        std::atomic<DWORD> startMs{0};
    };
    Element& at(LcdElement e) { return m_elements[static_cast<std::size_t>(e)]; }
    const Element& at(LcdElement e) const { return m_elements[static_cast<std::size_t>(e)]; }
    void showElement(LcdElement e, bool on);
    void setPicture(LcdElement e, UINT bitmap);
    void setMeter(LcdElement meter, int level);
    void hold(LcdElement e, DWORD holdMs);
    void armTimer();
    bool waitsForTimer(LcdElement e) const;
    bool anythingHeld() const;
    void requestLamp(LcdElement e, std::atomic<bool>& lit, UINT message, int on, DWORD holdMs);
    void OnTimer();
    LRESULT onMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    DWORD now() const;

    std::array<Element, static_cast<std::size_t>(LcdElement::Count)> m_elements;
    std::array<UINT, kMeterSlots> m_lineSlots{};
    std::array<UINT, kMeterSlots> m_frameSlots{};
    std::atomic<bool> m_sendLit{false};
    std::atomic<bool> m_receiveLit{false};
    std::atomic<int> m_posted{0};
    std::atomic<bool> m_timerRunning{false};
    std::function<DWORD()> m_clock;
    std::unique_ptr<UiMessageTarget> m_target;
};
