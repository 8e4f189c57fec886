#pragma once
// The capture object base shared by every capture card class, and the small
// non-waiting lock that guards one capture at a time.

#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/tavicore_api.h"

#include <atomic>
#include <memory>
#include <mutex>

// A lock that never waits: TryEnterCS takes it when it is free and says so,
// ExitCS frees it from any thread (a grab is often finished by another thread
// than the one that started it). Copies share one lock, as copies of the
// original handles did. Safe from every thread; it cannot fail.
class TAVICORE_API CZoSync {
public:
    CZoSync();
    ~CZoSync();
    CZoSync(const CZoSync& other);
    CZoSync& operator=(const CZoSync& other);

    // 1 when the lock was free and is now held, 0 when it was held already.
    int TryEnterCS();
    // Frees the lock, whoever holds it.
    void ExitCS();

private:
    struct State {
        std::mutex guard;  // makes test-and-set one step, as the critical section did
        bool held = false; // the "held" flag: set while the capture is held
    };
    std::shared_ptr<State> m_state;
};

inline constexpr int kCaptureAdapters = 6;
inline constexpr int kCaptureInputsPerAdapter = 10;

// The abstract capture object: the one object through which the recorder and the
// engine library talk to the capture cards (adapters) and their video inputs. The
// concrete card classes fill the pure operations. The capture locks may be taken
// and freed from any thread; YieldProcess runs on the user-interface thread. An
// operation that fails returns 0.
class TAVICORE_API CLumora {
public:
    CLumora();
    CLumora(const CLumora&) = delete;
    CLumora& operator=(const CLumora&) = delete;

    virtual void DisableYield();
    virtual void EnableYield();
    virtual ~CLumora();
    virtual int IsCardDetected();
    virtual int GetAdaptersCount(WORD* count) = 0;
    virtual int GetCamerasCount(WORD adapter, WORD* count) = 0;
    virtual int GetRelaysCount(WORD adapter, WORD* count) = 0;
    virtual int SetVideoInput(WORD adapter, WORD camera, int flag) = 0;
    // The card's other operations. Each concrete card class gives them their
    // meaning; the base fixes only their number, position and shape.
    virtual int CardQuery8(WORD value, WORD* out) = 0;
    virtual int SetDigitalOutput(WORD adapter, WORD relay, int state) = 0;
    virtual int CardQuery10(WORD value, WORD* out) = 0;
    virtual int CardQuery11(WORD value, WORD* out1, WORD* out2, WORD* out3, WORD* out4) = 0;
    virtual int SendRpc3(WORD n1, WORD n2, WORD n3, WORD n4, WORD n5) = 0;
    virtual int SendRpc4(WORD n1, WORD n2) = 0;
    virtual int CardQuery14(WORD value, WORD* out) = 0;
    virtual int CardQuery15(WORD value, WORD* out) = 0;
    virtual int CardQuery16(WORD* out) = 0;
    virtual int CardQuery17(WORD* out) = 0;
    virtual int CardSet18(WORD value1, DWORD value2) = 0;
    virtual int CardSet19(WORD value) = 0;
    virtual int CardSet20(WORD value) = 0;
    virtual int CardSet21(WORD v1, WORD v2, WORD v3, WORD v4, WORD v5) = 0;
    virtual int CardSet22(WORD value1, DWORD value2) = 0;
    virtual int CardSet23(WORD value1, DWORD value2) = 0;
    virtual int CardSet24(WORD v1, WORD v2, WORD v3, WORD v4) = 0;
    virtual int CardAction25() = 0;
    virtual int CardSet26(WORD value1, DWORD value2) = 0;
    virtual int CardSet27(WORD value1, DWORD value2) = 0;
    virtual int CardSet28(WORD value1, DWORD value2) = 0;
    virtual int CardAction29() = 0;
    virtual int CardSet30(WORD value) = 0;
    virtual int CardSet31(WORD v1, WORD v2, WORD v3, WORD v4) = 0;
    virtual int CardSet32(WORD value) = 0;
    virtual int CardSet33(WORD v1, WORD v2, DWORD v3) = 0;
    virtual int CardSet34(WORD v1, WORD v2, DWORD v3) = 0;
    virtual int CardSet35(WORD value) = 0;
    virtual int CardSet36(WORD value) = 0;
    virtual LONG GetBufferLengthForGrab();
    virtual int EnableCall(int enable);
    virtual int Clean();
    virtual int Stop();
    virtual int SetIQ_VideoInput(WORD adapter, DWORD value);

    // Takes the lock of one capture without waiting: 1 when taken, 0 when busy or
    // when adapter or input lie outside the card's range (an input of 10 or more
    // would otherwise reach the next adapter's locks).
    int TryEnterCapCritical(WORD adapter, WORD input);
    // As TryEnterCapCritical; the time-out and the caller's text are not used.
    int TryEnterCriticalWithTimeout(WORD adapter, DWORD timeoutMs, char* caller, WORD input);
    // Frees the lock of one capture; out-of-range indexes are ignored.
    void ExitCapCritical(WORD adapter, WORD input);
    // Size 0 the small, 1 the medium, any other the full grab size of a video
    // standard (1, or any other value).
    SIZE GetGrabSize(WORD standard, WORD size);
    // The capture window of an adapter; 0 for an adapter out of range.
    platform::HWND GetVFWHWND(WORD adapter);
    // Handles the thread's waiting events for the given time, staying busy all the
    // while; returns at once when yield is disabled, or as soon as it becomes so.
    void YieldProcess(WORD milliseconds);

protected:
    static bool validCapture(WORD adapter, WORD input) {
        return adapter < kCaptureAdapters && input < kCaptureInputsPerAdapter;
    }

    std::atomic<DWORD> m_cardDetected{0};
    platform::HWND m_captureWindows[kCaptureAdapters] = {};  // set by the card classes
    DWORD m_derivedValue = 0;
    CZoSync m_captureLocks[kCaptureAdapters * kCaptureInputsPerAdapter];
    WORD m_derivedWord = 0;
    DWORD m_grabBufferBytes = 0;
    // Height then width of the full, medium and small size of a standard other
    // than 1, then of standard 1.
    WORD m_grabSizes[12];
    std::atomic<DWORD> m_yieldEnabled{1};
    std::recursive_mutex m_derivedLock;  // for the derived class's use
    DWORD m_callEnabled = 1;
};
