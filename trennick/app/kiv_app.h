#pragma once
// CKivApp: the recorder program's application object. It reads the command
// line, derives the instance id (the registry branch of this instance),
// refuses a second copy of the same instance, installs the resource-language
// library, creates the program's managers (stations, users, activity log),
// shows the logo, creates the main frame, and shuts everything down in order.
//
// One object per process, built and used on the user-interface thread (a Qt
// application must exist). InitInstance returns FALSE to end the program
// quietly or after telling the user why; nothing throws.

#include "platform/types.h"
#include "trennick/app/app_services.h"
#include "trennick/app/command_line.h"
#include "trennick/app/logo_idle_step.h"

#include <QTimer>
#include <memory>
#include <string>
#include <vector>

class CUsersManager;
class CProgManager;
class CDBLumoRemote;
class QLabel;

namespace platform {
class NamedSemaphore;
}

namespace trennick {

class CMainFrame;
class Station;
class CTessIntegration;

// The link choice handed to the main frame: a word for the frame and NetInUse
// (1 the TCP link, 0 the modem link).
struct LinkChoice {
    DWORD first = 0;
    DWORD NetInUse = 0;
};

// Name of the single-instance semaphore: "VELMOOR" + instance id.
std::string InstanceSemaphoreName(const std::string& instanceId);

class CKivApp {
public:
    // args: the program's arguments after its name.
    explicit CKivApp(std::vector<std::string> args, std::string programPath = {}, AppServices services = {});
    ~CKivApp();
    CKivApp(const CKivApp&) = delete;
    CKivApp& operator=(const CKivApp&) = delete;

    BOOL InitApplication() { return TRUE; }
    BOOL InitInstance();
    BOOL OnIdle(LONG count);
    int ExitInstance();
    // The whole life: InitInstance, the message loop, ExitInstance. The exit code.
    int Run();
    // Ends the message loop of Run with `code`. Nothing outside that loop (before
    // it, or while a caller drives the windows without it): an exit asked while
    // no application loop runs would end every later modal loop of the process
    // at once.
    void EndRun(int code = 0);

    // The kit channel; null before the main frame exists or when its window could not be made.
    CTessIntegration* GetTessIntegration() const { return m_pTessIntegration.get(); }
    std::string GetInstanceId() const { return m_strInstanceId; }
    std::string FormatRemoteStationCaption() const;
    int CloseLogoWindow();

    // What the frame and the other parts read.
    const CKivCommandLineInfo& CommandLine() const { return m_cmdInfo; }
    const std::string& Title() const { return m_title; }
    const std::string& DValue() const { return m_strD; }
    const std::string& SValue() const { return m_strS; }
    const std::string& PValue() const { return m_strP; }
    const std::string& TValue() const { return m_strT; }
    BOOL CFlag() const { return m_bC; }
    BOOL GFlag() const { return m_bG; }
    const LinkChoice& GetLinkChoice() const { return m_linkChoice; }
    CUsersManager* UsersManager() const { return m_pUsersManager.get(); }
    CProgManager* ProgManager() const { return m_pProgManager.get(); }
    WORD InstalledModes() const { return m_installedModes; }
    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }
    const std::string& ProgramFolder() const { return m_programFolder; }
    int IdleStepFlag() const { return m_idleStep; }
    BOOL LogoShown() const { return m_logoShown; }
    bool HoldsInstanceLock() const { return m_instanceLock != nullptr; }
    // True when this start created the users file.
    bool CreatedUsersFile() const { return m_createdUsersFile; }
    bool DefaultPasswordWarned() const { return m_defaultPasswordWarned; }

    AppUi& Ui() { return *m_ui; }
    LaterWindows& Windows() { return *m_windows; }
    const AppServices& Services() const { return m_services; }
    DWORD Now() const;

    CDBLumoRemote* m_pRemoteDB = nullptr;  // set by the frame's creation

private:
    bool m_secondInstance = false;
    void TellDamagedSettings();
    BOOL LoadLanguageResources();
    BOOL IsSecondInstance();
    bool LoadUsers();
    // Shows the default-password warning while no user has a password.
    void WarnDefaultPassword();
    void ShowLogoWindow();
    void SetupLogWriter();
    void DestroyLogo();

    AppServices m_services;
    std::unique_ptr<AppUi> m_ownUi;
    LaterWindows m_noWindows;
    AppUi* m_ui = nullptr;
    LaterWindows* m_windows = nullptr;

    std::vector<std::string> m_args;
    std::string m_programPath;
    std::string m_title = "Velmoor";
    std::string m_strD, m_strP, m_strT, m_strS, m_strInstanceId;
    BOOL m_bC = FALSE;
    BOOL m_bG = FALSE;
    std::string m_programFolder;
    std::unique_ptr<CProgManager> m_pProgManager;
    std::unique_ptr<CUsersManager> m_pUsersManager;
    WORD m_installedModes = 0;
    CKivCommandLineInfo m_cmdInfo;
    DWORD m_startTick = 0;
    LogoIdleStep m_logoStep;
    std::unique_ptr<QLabel> m_logo;
    BOOL m_logoShown = TRUE;
    int m_idleStep = 0;
    LinkChoice m_linkChoice;
    std::unique_ptr<platform::NamedSemaphore> m_instanceLock;
    // The station outlives the window that shows it.
    std::unique_ptr<Station> m_station;
    std::unique_ptr<CMainFrame> m_pMainFrame;
    std::unique_ptr<CTessIntegration> m_pTessIntegration;
    QTimer m_idleTimer;
    bool m_createdUsersFile = false;
    bool m_defaultPasswordWarned = false;
    bool m_comInitialised = false;
    bool m_exited = false;
    bool m_inRun = false;
};

// The process's application object; null before one is built.
CKivApp* KivApp();

}  // namespace trennick
