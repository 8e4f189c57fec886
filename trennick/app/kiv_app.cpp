#include "trennick/app/kiv_app.h"

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "platform/com/com.h"
#include "platform/folders.h"
#include "platform/named_lock.h"
#include "platform/registry.h"
#include "platform/shipped_defaults.h"
#include "platform/termination_signals.h"
#include "tavicore/db_lumo.h"
#include "tavicore/log_write.h"
#include "tavicore/product_key.h"
#include "trennick/station/station.h"
#include "tavicore/stations_mgr.h"
#include "tavicore/tavicore_globals.h"
#include "tavicore/ui_engine.h"
#include "tavicore/ui/ui_prog_manager.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_user_dialogs.h"
#include "tavicore/ui/ui_window.h"
#include "tavicore/users_manager.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/mx_help.h"
#include "trennick/app/night_tess_integration.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/link/common_base.h"
#include "trennick/link/packet_connection.h"
#include "trennick/ui/message.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace trennick {

namespace {

CKivApp* g_app = nullptr;

constexpr UINT kStrAppName = 10000;
constexpr UINT kStrMainTitle = 57347;
constexpr UINT kStrUsersFileBad = 61410;
constexpr UINT kStrVersion = 501;
constexpr UINT kLogoBitmap = 288;
constexpr short kLogUsersFileCreated = 18;  // a user was added
constexpr short kLogSettingsReset = 2;      // the settings changed

// Whether a person can see windows: the off-screen and minimal platforms
// have nobody to close a box.
bool hasDisplay() {
    if (QGuiApplication::instance() == nullptr) return false;
    const QString platform = QGuiApplication::platformName();
    return platform != "offscreen" && platform != "minimal";
}

// The text of the default-password warning.
std::string defaultPasswordText() {
    return UiDialogText(104, 1000,
                        "The administrator still has the default password. Change it in the users list.")
        .toStdString();
}

// The users manager's dialogs; without a display the default-password
// warning is printed instead of a box that would wait for nobody.
class ProgramUserDialogs : public CUserDialogs {
public:
    void RunDefaultPasswordWarning() override {
        if (hasDisplay()) {
            CUserDialogs::RunDefaultPasswordWarning();
            return;
        }
        if (!m_printed) {
            std::fprintf(stderr, "Velmoor: %s\n", defaultPasswordText().c_str());
            m_printed = true;
        }
    }

private:
    bool m_printed = false;
};

// The program's own message boxes and the users manager's dialogs.
class DefaultAppUi : public AppUi {
public:
    // The program's own self-closing message box: 512 for the positive
    // answer, 16 for "no" and when it closed itself.
    int ShowMessage(const std::string& text, const std::string& caption, int kind) override {
        if (UiUnattended()) {
            UiReportBox(text, caption);  // nobody to answer: it closes itself at once
            return kAnswerTimedOut;
        }
        return ShowKindMessage(nullptr, static_cast<UINT>(kind), text);
    }
    void ShowStopBox(const std::string& text, const std::string& caption) override {
        UiMessageBox(nullptr, text, caption, MB_OK | MB_ICONSTOP);
    }
    CUsersManagerUi* UsersUi() override { return &m_dialogs; }

private:
    ProgramUserDialogs m_dialogs;
};

DWORD systemMs() {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::unique_ptr<AppUi> makeDefaultAppUi() { return std::make_unique<DefaultAppUi>(); }

CKivApp* KivApp() { return g_app; }

std::string InstanceSemaphoreName(const std::string& instanceId) { return "VELMOOR" + instanceId; }

CKivApp::CKivApp(std::vector<std::string> args, std::string programPath, AppServices services)
    : m_services(std::move(services)), m_args(std::move(args)), m_programPath(std::move(programPath)) {
    g_app = this;
    RecordModuleVersion("trennick", reinterpret_cast<const void*>(&KivApp));
    LumoDebCreate(6);
    LUMO_TRACE(5, "VELMOOR started ....");
    // Each library keeps its own trace object, built from the same trace
    // configuration, so all of them write to the one chosen output. The
    // engine library's is made by its entry point, which also stamps its
    // version; the servers make theirs when their first object is created.
    TavicoreDllMain(DLL_PROCESS_ATTACH);
    stationsMgr = nullptr;
    m_logoShown = TRUE;
    m_idleStep = 0;
    m_title = "Velmoor";
    if (m_services.ui == nullptr) {
        m_ownUi = makeDefaultAppUi();
        m_ui = m_ownUi.get();
    } else {
        m_ui = m_services.ui;
    }
    m_windows = m_services.windows != nullptr ? m_services.windows : &m_noWindows;
    m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
}

CKivApp::~CKivApp() {
    if (!m_exited) ExitInstance();
    if (m_comInitialised) CoUninitialize();
    LUMO_TRACE(3, "ENTER CKivApp::~CKivApp()");
    TavicoreDllMain(DLL_PROCESS_DETACH);
    LumoDebDestroy();
    if (g_app == this) g_app = nullptr;
}

DWORD CKivApp::Now() const { return m_services.clock ? m_services.clock() : systemMs(); }

BOOL CKivApp::LoadLanguageResources() {
    UiFreeLanguageLibrary();
    if (UiInstallLanguageLibrary() == 0) return FALSE;
    // The link and the program's other parts take their texts from the same set.
    CCommon::setStringLoader([](UINT id) { return UiString(id); });
    CCommon::setMessagePresenter([](UINT, UINT flags, const std::string& text) {
        CKivApp* app = KivApp();
        if (app == nullptr) return kAnswerTimedOut;
        return app->Ui().ShowMessage(text, app->Title(), static_cast<int>(flags & 3));
    });
    return TRUE;
}

BOOL CKivApp::IsSecondInstance() {
    const std::string name = InstanceSemaphoreName(m_strInstanceId);
    auto lock = std::make_unique<platform::NamedSemaphore>(name, 1);
    if (!lock->isOpen()) {
        LUMO_TRACE(1, "CKivApp::IsSecondInstance error create Semaphore");
        return FALSE;
    }
    // A lock file held with flock: the kernel frees it when this process ends,
    // however it ends, so a crashed instance never blocks the next start.
    switch (lock->wait(0)) {
    case platform::LockResult::Acquired:
    case platform::LockResult::Abandoned:
        m_instanceLock = std::move(lock);
        return FALSE;
    case platform::LockResult::TimedOut:
        return TRUE;
    case platform::LockResult::Failed:
        break;
    }
    return FALSE;
}

bool CKivApp::LoadUsers() {
    std::string folder = m_programFolder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    m_pUsersManager = std::make_unique<CUsersManager>(
        folder.c_str(), InstanceKeyPath(product_registry::kFirstInstance, "").c_str());
    m_pUsersManager->SetUi(m_ui->UsersUi());
    int result = m_pUsersManager->Load();
    if (result == E_USER_NOFILE) {
        // A fresh home: create the users file with the administrator and an
        // empty password, as an installer would.
        _tag_user admin{};
        std::strcpy(admin.name, "admin");
        admin.rights = 1;
        if (m_pUsersManager->AddUser(&admin) == USER_OK && m_pUsersManager->Save() == USER_OK) {
            m_createdUsersFile = true;
            LUMO_TRACE(3, "CKivApp::InitInstance() users file created with the administrator");
            result = m_pUsersManager->Load();
        }
    }
    if (result == E_USER_NOFILE || result == E_USER_BADFILE) {
        std::string text = UiString(kStrUsersFileBad);
        char formatted[512];
        std::snprintf(formatted, sizeof formatted, text.empty() ? "%s.%s" : text.c_str(), "MXRTPC32", "DLL");
        m_ui->ShowStopBox(formatted, "Velmoor");
        m_pUsersManager.reset();
        return false;
    }
    return true;
}

// While nobody has a password (a fresh home's administrator), anyone can
// work and call as the administrator: say so at every start.
void CKivApp::WarnDefaultPassword() {
    _tag_user user{};
    for (int r = m_pUsersManager->ReadFirstUser(&user); r == USER_OK; r = m_pUsersManager->ReadNextUser(&user)) {
        if (user.password[0] != '\0') return;
    }
    LUMO_TRACE(3, "CKivApp::InitInstance() the administrator has the default (empty) password");
    m_defaultPasswordWarned = true;
    if (CUsersManagerUi* users = m_ui->UsersUi()) users->RunDefaultPasswordWarning();
}

void CKivApp::ShowLogoWindow() {
    m_logoStep.start(Now());
    if (!m_cmdInfo.m_bNoSplash) {
        m_logoShown = TRUE;
        if (m_services.showWindows) {
            m_logo = std::make_unique<QLabel>();
            m_logo->setObjectName("id33333");
            m_logo->setWindowFlags(Qt::SplashScreen | Qt::WindowStaysOnTopHint);
            m_logo->setFixedSize(505, 335);
            m_logo->setAlignment(Qt::AlignCenter);
            m_logo->setPixmap(UiBitmap(kLogoBitmap));
            UiCentreOnDesktop(m_logo.get());
            m_logo->show();
            m_logo->repaint();
        }
        m_logoStep.start(Now());
    }
    m_idleStep = 1;
}

void CKivApp::DestroyLogo() {
    if (m_logo != nullptr) {
        m_logo->hide();
        m_logo.reset();
    }
    m_logoShown = FALSE;
}

int CKivApp::CloseLogoWindow() {
    DestroyLogo();
    m_idleStep = 0;
    return 0;
}

void CKivApp::SetupLogWriter() {
    std::string storage = m_pMainFrame != nullptr ? m_pMainFrame->Settings().general.HomeDir : "";
    if (storage.empty()) storage = m_programFolder;
    CKcReg reg = CommonKey("Log");
    char path[260] = {};
    DWORD size = sizeof path;
    if (!reg.GetString(nullptr, "Path", path, &size) || path[0] == '\0') {
        std::snprintf(path, sizeof path, "%s", storage.c_str());
    }
    reg.SetString(nullptr, "Path", path);
    logWrite = new CLogWrite(path, "Velmoor.log", m_strInstanceId.c_str());
}

BOOL CKivApp::InitInstance() {
    if (!LoadLanguageResources()) return FALSE;

    m_cmdInfo.ParseCommandLine(m_args);
    m_strD = m_cmdInfo.m_strD;
    if (m_cmdInfo.m_bP) m_strP = m_cmdInfo.m_strP;
    if (m_cmdInfo.m_bT) m_strT = m_cmdInfo.m_strT;
    m_bC = m_cmdInfo.m_bC;
    if (m_cmdInfo.m_bS) m_strS = m_cmdInfo.m_strS;
    m_bG = m_cmdInfo.m_bG;
    m_strInstanceId = m_cmdInfo.m_strU;

    if (!m_strInstanceId.empty()) {
        gcsVlmInsID = "\\Velmoor" + m_strInstanceId;
        LUMO_TRACE(3, "CKivApp::InitInstance() Velmoor registry path was set to  %s", gcsVlmInsID.c_str());
    } else {
        gcsVlmInsID.clear();
    }
    gpLumoDeb->SetPrefix(("VELMOOR" + m_strInstanceId + " :").c_str());

    if (IsSecondInstance()) {
        m_secondInstance = true;
        return FALSE;
    }

    {
        CKcReg comms = ProductKey("Comms");
        DWORD netInUse = 0;
        if (!comms.GetDword(nullptr, "NetInUse", &netInUse)) netInUse = 0;
        comms.SetDword(nullptr, "NetInUse", &netInUse);
        m_linkChoice.NetInUse = netInUse;
    }

    std::error_code ec;
    LUMO_TRACE(3, "CKivApp::InitInstance() Current directory %s ", std::filesystem::current_path(ec).c_str());
    m_programFolder = platform::programFolder().string();
    // First start of a home: the shipped defaults and the COM servers.
    platform::installShippedDefaults();
    platform::com::ensureServersRegistered();

    {
        std::string folder = m_programFolder;
        if (folder.empty() || folder.back() != '/') folder += '/';
        m_pProgManager = std::make_unique<CProgManager>(folder.c_str(), m_strInstanceId.c_str());
    }
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::setApplicationName(QString::fromStdString(UiString(kStrAppName, "Velmoor")));
    }
    m_installedModes = m_pProgManager->GetInstalledModes();
    stationsMgr = new CStationsMgr();

    if (!LoadUsers()) return FALSE;
    WarnDefaultPassword();

    m_title = UiString(kStrMainTitle, "Velmoor");
    if (m_cmdInfo.m_bNoSplash) m_logoShown = FALSE;
    if (m_cmdInfo.m_bI) m_linkChoice.NetInUse = 1;
    if (m_cmdInfo.m_bM) m_linkChoice.NetInUse = 0;

    ShowLogoWindow();
    CMxHelp::Create(m_services.shellOpen);

    StationConfig config;
    config.netInUse = m_linkChoice.NetInUse;
    config.listenPortText = PValue();
    config.connectPortText = TValue();
    config.now = [this] { return Now(); };
    config.linkClock = m_services.clock;
    config.keepAlivePeriodMs = m_services.keepAlivePeriodMs;
    m_station = std::make_unique<Station>(std::move(config));
    m_pMainFrame = std::make_unique<CMainFrame>(*this, *m_station);
    if (!m_strInstanceId.empty()) m_title += m_strInstanceId;
    if (!m_pMainFrame->Create(m_title)) return FALSE;

    // The kit channel: the automation kit's clients find it by its title.
    m_pTessIntegration = std::make_unique<CNightTessIntegration>(m_strInstanceId);
    if (!m_pTessIntegration->Create()) {
        LUMO_TRACE(1, "CKivApp::InitInstance() the kit channel window could not be made");
        m_pTessIntegration.reset();
    }

    m_startTick = Now();
    SetupLogWriter();
    if (m_createdUsersFile && logWrite != nullptr) {
        logWrite->AddEntryEx(nullptr, kLogUsersFileCreated, 0, "admin", 0,
                             "Users file created");
    }
    TellDamagedSettings();
    return TRUE;
}

// Settings the registry could not read were kept aside when it was opened and
// the program runs on its defaults: the user is told (standard error, the
// activity log and a box), never left to find out.
void CKivApp::TellDamagedSettings() {
    const std::string kept = platform::TakeDamagedRegistryNotice();
    if (kept.empty()) return;
    const std::string text = "The settings were damaged and could not be read. They were kept as " + kept +
                             "; the program starts from its default settings.";
    UiReportBox(text, m_title);
    if (logWrite != nullptr) {
        logWrite->AddEntryEx(nullptr, kLogSettingsReset, 0, "", 0, text.c_str());
    }
    if (!UiUnattended()) m_ui->ShowMessage(text, m_title, kMsgKindInfo);
}

BOOL CKivApp::OnIdle(LONG) {
    if (m_idleStep <= 0) return FALSE;
    DWORD sleepMs = 0;
    const auto action = m_logoStep.step(Now(), m_cmdInfo.m_bNoSplash != FALSE, m_logoShown != FALSE, sleepMs);
    if (sleepMs != 0) {
        if (m_services.sleep) {
            m_services.sleep(sleepMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
        }
    }
    switch (action) {
    case LogoIdleStep::Action::Wait:
        return TRUE;
    case LogoIdleStep::Action::RunStep:
        if (!m_cmdInfo.m_bNoSplash) DestroyLogo();
        if (m_pMainFrame != nullptr) m_pMainFrame->DoIdleStep();
        return TRUE;
    case LogoIdleStep::Action::ClockFault:
        m_idleStep = -1;
        DestroyLogo();
        LUMO_TRACE(1, "CKivApp::OnIdle() the system clock ran backwards, the program ends");
        EndRun(0);
        return TRUE;
    }
    return TRUE;
}

int CKivApp::ExitInstance() {
    if (m_exited) return 0;
    m_exited = true;
    LUMO_TRACE(3, "ENTER %s", "CKivApp::ExitInstance()");
    m_idleTimer.stop();
    m_pMainFrame.reset();
    m_station.reset();
    CMxHelp::Destroy();
    DestroyLogo();
    m_pUsersManager.reset();
    m_pProgManager.reset();
    // The kit channel says goodbye to its clients as its window goes.
    if (m_pTessIntegration != nullptr) {
        // The clients hear first that the recorder's mode is gone.
        if (auto* kit = dynamic_cast<CNightTessIntegration*>(m_pTessIntegration.get())) kit->BroadcastReset();
        m_pTessIntegration.reset();
    }
    delete logWrite;
    logWrite = nullptr;
    delete stationsMgr;
    stationsMgr = nullptr;
    if (m_instanceLock != nullptr) {
        m_instanceLock->release();
        m_instanceLock.reset();
    }
    CCommon::setMessagePresenter(nullptr);
    UiFreeLanguageLibrary();
    LUMO_TRACE(3, "LEAVE %s", "CKivApp::ExitInstance()");
    return 0;
}

int CKivApp::Run() {
    // A request to end by signal closes the program as its own close does: the
    // peer is told, files and logs are closed, the instance lock is let go.
    platform::TerminationSignals endRequests([this](int signal) {
        LUMO_TRACE(3, "CKivApp::Run() signal %d: the program closes", signal);
        if (m_pMainFrame != nullptr && !m_pMainFrame->IsDestroyed()) {
            m_pMainFrame->CloseWithoutAsking();
        } else {
            EndRun(0);
        }
    });
    if (!InitInstance()) {
        ExitInstance();
        // A second copy ends quietly; any other failed start is an error.
        return m_secondInstance ? 0 : 1;
    }
    m_idleTimer.setInterval(10);
    QObject::connect(&m_idleTimer, &QTimer::timeout, [this] {
        if (!OnIdle(0)) m_idleTimer.stop();
    });
    m_idleTimer.start();
    m_inRun = true;
    const int code = QCoreApplication::exec();
    m_inRun = false;
    // The frame's last window closing asks the application to quit as well; a
    // request still queued when the loop has ended would end the next loop of
    // the process (a modal dialog's) the moment it starts.
    QCoreApplication::removePostedEvents(QCoreApplication::instance(), QEvent::Quit);
    ExitInstance();
    return code;
}

void CKivApp::EndRun(int code) {
    if (m_inRun) QCoreApplication::exit(code);
}

std::string CKivApp::FormatRemoteStationCaption() const {
    return "Remote Station " + UiString(kStrVersion);
}

}  // namespace trennick
