#pragma once
// CRemoteSetCtl: the wrapper of the remote settings editor control, the
// control that edits a site's settings page by page. It creates the control by
// its class, turns the control's six methods into dispatch calls and hands the
// control's events (Created, Destructed, Upload, DownLoad, Cancel) to the
// owner's callbacks.
//
// While the control cannot be created (it is not installed), Exists() is
// false and every method does nothing and returns false, so the owner can say
// that the editor is missing and go on without it.
//
// Threads: the thread that created it (the control is apartment-threaded).

#include "platform/com/com.h"
#include "platform/com/hosted_control.h"
#include "platform/com/oleauto.h"

#include <functional>
#include <string>

namespace trennick {

// The editor control's class and its event interface.
// {6F3B2C1D-9E84-4A57-B0C2-5D7E8F9A1B3C}
inline constexpr CLSID CLSID_RemoteSetCtl = {0x6F3B2C1D, 0x9E84, 0x4A57, {0xB0, 0xC2, 0x5D, 0x7E, 0x8F, 0x9A, 0x1B, 0x3C}};
// {A1C5E7F9-2B4D-4E6F-8A0C-1E3F5A7B9C2D}
inline constexpr IID DIID__DRemoteSetCtlEvents = {0xA1C5E7F9, 0x2B4D, 0x4E6F, {0x8A, 0x0C, 0x1E, 0x3F, 0x5A, 0x7B, 0x9C, 0x2D}};

// The control's events, by dispatch id.
struct RemoteSetCtlEvents {
    std::function<void()> created;     // 1
    std::function<void()> destructed;  // 2
    std::function<void()> upload;      // 3
    std::function<void()> download;    // 4
    std::function<void()> cancel;      // 5
};

class CRemoteSetCtl : public platform::com::HostedControl {
public:
    CRemoteSetCtl();

    // Creates the control and connects its events; false when it cannot be created.
    bool Create(const RemoteSetCtlEvents& events);
    // Uses a control the caller made (its events connected the same way).
    bool Attach(IDispatch* control, const RemoteSetCtlEvents& events);

    bool SetRSDB(IUnknown* store);                                                 // dispid 1
    bool Refresh();                                                                // 2
    bool UpdateData(LONG type, LONG value);                                        // 3
    bool UserMessage(LONG code, const std::string& text, LONG first, LONG second); // 4
    bool CreateUI();                                                               // 5
    bool DestroyUI();                                                              // 6

private:
    class Sink;
    bool call(DISPID id, std::initializer_list<platform::com::Variant> args);
};

}  // namespace trennick
