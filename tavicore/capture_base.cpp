#include "tavicore/capture_base.h"

#include "common/lumo_deb.h"
#include "platform/message_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

CZoSync::CZoSync() : m_state(std::make_shared<State>()) {}

CZoSync::~CZoSync() = default;

CZoSync::CZoSync(const CZoSync& other) = default;

CZoSync& CZoSync::operator=(const CZoSync& other) = default;

int CZoSync::TryEnterCS() {
    std::lock_guard lock(m_state->guard);
    if (m_state->held) {
        return 0;
    }
    m_state->held = true;
    return 1;
}

void CZoSync::ExitCS() {
    std::lock_guard lock(m_state->guard);
    m_state->held = false;
}

namespace {
constexpr UINT kMsgYieldExit = 32154;  // the program's exit command
constexpr WORD kGrabSizeTable[12] = {
    480, 720, 240, 352, 120, 176,  // standards other than 1
    576, 720, 288, 352, 144, 176,  // standard 1
};
}  // namespace

CLumora::CLumora() {
    static_assert(sizeof m_grabSizes == sizeof kGrabSizeTable);
    for (int i = 0; i < 12; ++i) {
        m_grabSizes[i] = kGrabSizeTable[i];
    }
}

CLumora::~CLumora() = default;

void CLumora::DisableYield() { m_yieldEnabled = 0; }

void CLumora::EnableYield() { m_yieldEnabled = 1; }

int CLumora::IsCardDetected() { return static_cast<int>(m_cardDetected.load()); }

LONG CLumora::GetBufferLengthForGrab() { return static_cast<LONG>(m_grabBufferBytes); }

int CLumora::EnableCall(int enable) {
    m_callEnabled = static_cast<DWORD>(enable);
    return 1;
}

int CLumora::Clean() { return 1; }

int CLumora::Stop() { return 1; }

int CLumora::SetIQ_VideoInput(WORD, DWORD) { return 1; }

int CLumora::TryEnterCapCritical(WORD adapter, WORD input) {
    if (!validCapture(adapter, input)) {
        return 0;
    }
    return m_captureLocks[adapter * kCaptureInputsPerAdapter + input].TryEnterCS();
}

int CLumora::TryEnterCriticalWithTimeout(WORD adapter, DWORD, char*, WORD input) {
    return TryEnterCapCritical(adapter, input);
}

void CLumora::ExitCapCritical(WORD adapter, WORD input) {
    if (validCapture(adapter, input)) {
        m_captureLocks[adapter * kCaptureInputsPerAdapter + input].ExitCS();
    }
}

SIZE CLumora::GetGrabSize(WORD standard, WORD size) {
    const int base = standard == 1 ? 6 : 0;
    const int row = size == 0 ? 2 : size == 1 ? 1 : 0;  // small, medium, else full
    const WORD height = m_grabSizes[base + row * 2];
    const WORD width = m_grabSizes[base + row * 2 + 1];
    return SIZE{width, height};
}

platform::HWND CLumora::GetVFWHWND(WORD adapter) {
    return adapter < kCaptureAdapters ? m_captureWindows[adapter] : 0;
}

void CLumora::YieldProcess(WORD milliseconds) {
    QElapsedTimer started;
    started.start();
    if (!m_yieldEnabled) {
        return;
    }
    // The program's exit command is told in the trace as it passes through.
    platform::PostedMessageWatch watch([](platform::HWND, UINT msg, WPARAM, LPARAM) {
        if (msg == kMsgYieldExit) {
            LUMO_TRACE(5, "  CLumora::YieldProcess Message ID_EXIT Received");
        }
    });
    for (;;) {
        // Handle what is waiting now; a handler may disable yield meanwhile.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!m_yieldEnabled) {
            return;
        }
        QThread::yieldCurrentThread();
        if (static_cast<quint64>(started.elapsed()) >= milliseconds) {
            return;
        }
    }
}
