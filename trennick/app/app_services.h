#pragma once
// What the application object and the main frame ask of the world around them,
// so that the program runs the same with its real windows and under tests:
//  - AppUi: the user-facing messages and the login dialog;
//  - LaterWindows: the windows that other parts of the program provide (the
//    remote station window, file transfer, chat, event explorer, options and
//    settings editor, site book, setup wizard). A part that is not there
//    answers false or null, and the frame tells the user it is not available;
//  - the clock and the sleep of the start-up's idle step.
// All of them are called on the user-interface thread.

#include "platform/types.h"
#include "trennick/link/link_host.h"
#include "trennick/station/station_messages.h"

#include <functional>
#include <memory>
#include <string>

class CUsersManagerUi;

namespace trennick {

class CMainFrame;


class AppUi {
public:
    virtual ~AppUi() = default;
    // Shows a text; kind 0 error, 1 information, 2 question. Returns 512 for the
    // positive answer, 16 when the box closed itself or the answer was "no".
    virtual int ShowMessage(const std::string& text, const std::string& caption, int kind) = 0;
    // A message box with the stop icon; returns when it is closed.
    virtual void ShowStopBox(const std::string& text, const std::string& caption) = 0;
    // The users manager's dialogs (login, users list); not owned.
    virtual CUsersManagerUi* UsersUi() = 0;
};

// The windows of other parts of the program.
class LaterWindows {
public:
    virtual ~LaterWindows() = default;
    // Opens (or focuses) the file transfer window.
    virtual bool OpenFileTransfer(CMainFrame&) { return false; }
    virtual void CloseFileTransfer(CMainFrame&) {}
    // Queues a file for sending with its type text ("Set List", ...).
    virtual bool SendFile(CMainFrame&, const std::string& /*path*/, const std::string& /*type*/) { return false; }
    // Opens the chat window; the frame hands it to the link. Null: none.
    virtual LinkChatWindow* OpenChat(CMainFrame&) { return nullptr; }
    // The chat window was closed: forget it.
    virtual void CloseChat(CMainFrame&) {}
    virtual bool OpenEventExplorer(CMainFrame&) { return false; }
    virtual bool ShowOptions(CMainFrame&, int /*page*/) { return false; }
    virtual bool RunSetupWizard(CMainFrame&) { return false; }
    // The site book: the operator picks a station to connect to.
    virtual bool OpenSiteBook(CMainFrame&) { return false; }
    // The remote station window's loop step, when that window exists.
    virtual void RemoteWindowStep(CMainFrame&) {}
};

// Milliseconds of a monotonic clock that wraps at 2^32, like the system timer.
using AppClock = std::function<DWORD()>;
using AppSleep = std::function<void(DWORD ms)>;

struct AppServices {
    AppUi* ui = nullptr;               // null: the program's own dialogs
    LaterWindows* windows = nullptr;   // null: no later windows
    AppClock clock;                    // empty: the system timer
    AppSleep sleep;                    // empty: the thread sleeps
    // The keep-alive thread's period; 0: 20000 ms.
    DWORD keepAlivePeriodMs = 0;
    // Shows the frame on screen (tests run it hidden).
    bool showWindows = true;
    // Opens a document or an address the desktop's way (the help); empty:
    // the desktop's opener.
    std::function<bool(const std::string&)> shellOpen;
};

// The program's own message boxes and login dialog.
std::unique_ptr<AppUi> makeDefaultAppUi();

}  // namespace trennick
