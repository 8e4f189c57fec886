#include "trennick/app/kiv_app.h"

#include "trennick/app/testing/app_test_support.h"
#include "common/kc_reg.h"
#include "platform/folders.h"
#include "platform/local_bus.h"
#include "platform/named_lock.h"
#include "platform/testing/child_process.h"
#include "tavicore/db_lumo.h"
#include "tavicore/tavicore_globals.h"
#include "trennick/station/station_messages.h"
#include "trennick/station/keep_alive.h"
#include "trennick/app/logo_idle_step.h"
#include "trennick/app/main_frame.h"
#include "trennick/station/modem_link.h"
#include "trennick/net/inet_connection.h"
#include "trennick/net/testing/net_test_util.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

using namespace trennick;
using namespace apptest;

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct FakeClock {
    std::shared_ptr<std::atomic<DWORD>> ms = std::make_shared<std::atomic<DWORD>>(100000);
    AppClock clock() const {
        auto t = ms;
        return [t] { return t->load(); };
    }
    void advance(DWORD by) { *ms += by; }
};

}  // namespace

// A fresh home: the program starts, creates the users file with the
// administrator, says so in the activity log, listens on its port, writes its
// settings back and closes in order.
TEST(KivApp, FirstStartListensAndClosesInOrder) {
    AnsweringUi ui;
    const WORD port = nettest::freePort();
    {
        CKivApp app({"/NOSPLASH", "/I", "/U7", "/P=" + std::to_string(port)}, "", quietServices(&ui));
        ASSERT_TRUE(app.InitInstance());
        EXPECT_TRUE(app.CreatedUsersFile());
        EXPECT_TRUE(app.HoldsInstanceLock());
        EXPECT_EQ(gcsVlmInsID, "\\Velmoor7");
        EXPECT_EQ(app.GetInstanceId(), "7");
        EXPECT_EQ(app.GetLinkChoice().NetInUse, 1u);
        CMainFrame* frame = app.MainFrame();
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
        EXPECT_EQ(app.IdleStepFlag(), 0);  // the second stage closed the logo step
        ASSERT_TRUE(frame->IsInetLink());
        auto* inet = static_cast<CInetConnection*>(frame->Connection());
        ASSERT_TRUE(pumpUntil([&] { return inet->IsListeningFor(2) != FALSE; }));
        EXPECT_EQ(inet->GetBoundListenPort(), port);
        ASSERT_TRUE(pumpUntil([&] { return frame->LoopPasses() > 5; }));
        EXPECT_TRUE(frame->KeepAlive()->IsRunning());
        // The kit channel is up and findable by its title with the instance id.
        ASSERT_NE(app.GetTessIntegration(), nullptr);
        EXPECT_NE(platform::FindWindow(nullptr, "TESS integration module7"), 0u);

        platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
        EXPECT_FALSE(frame->KeepAlive()->IsRunning());
        EXPECT_EQ(app.ExitInstance(), 0);
        EXPECT_EQ(app.GetTessIntegration(), nullptr);
        EXPECT_EQ(platform::FindWindow(nullptr, "TESS integration module7"), 0u);
        EXPECT_EQ(stationsMgr, nullptr);
        EXPECT_EQ(logWrite, nullptr);
        EXPECT_FALSE(app.HoldsInstanceLock());
    }
    EXPECT_TRUE(ui.stops.empty());
    EXPECT_TRUE(std::filesystem::exists(platform::programFolder() / "MXRTPC32.DLL"));

    // The settings groups were written back into the instance's branch.
    CKcReg comms("Quennel", "Velmoor\\Velmoor7", "1.000.0", "Comms");
    DWORD value = 0;
    EXPECT_TRUE(comms.GetDword(nullptr, "Hello Timeout", &value));
    EXPECT_TRUE(comms.GetDword(nullptr, "NetInUse", &value));
    EXPECT_EQ(value, 0u);  // /I is for this run only
    CKcReg video("Quennel", "Velmoor\\Velmoor7", "1.000.0", "Video");
    EXPECT_TRUE(video.GetDword(nullptr, "CompressPacketLength", &value));
    EXPECT_EQ(value, 512u);

    // The activity log tells of the created users file.
    bool found = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(platform::homeFolder())) {
        if (entry.path().filename() == "Velmoor.log" &&
            readFile(entry.path()).find("Users file created") != std::string::npos) {
            found = true;
        }
    }
    EXPECT_TRUE(found);

    // The program ran the engine library's entry point: both versions are stamped.
    const std::string stamps = readFile(platform::windowsFolder() / "Quennel.ini");
    EXPECT_NE(stamps.find("trennick"), std::string::npos);
    EXPECT_NE(stamps.find("Tavicore"), std::string::npos);

    // A second start finds the file and creates nothing.
    gcsVlmInsID.clear();
    CKivApp again({"/NOSPLASH", "/I", "/U7", "/P=" + std::to_string(port)}, "", quietServices(&ui));
    ASSERT_TRUE(again.InitInstance());
    EXPECT_FALSE(again.CreatedUsersFile());
    again.ExitInstance();
}

// A frame that ends while the program is not in its own loop (a caller drives
// it without Run) asks no application exit, and a run of the program leaves
// no quit request queued: a modal loop run afterwards in the same process
// still runs until it is ended, with its own result.
TEST(KivApp, TheProgramsEndLeavesLaterModalLoopsWorking) {
    AnsweringUi ui;
    const WORD port = nettest::freePort();
    {
        CKivApp app({"/NOSPLASH", "/I", "/U17", "/P=" + std::to_string(port)}, "", quietServices(&ui));
        ASSERT_TRUE(app.InitInstance());
        CMainFrame* frame = app.MainFrame();
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
        platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
        EXPECT_EQ(app.ExitInstance(), 0);
    }
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] { loop.exit(7); });
    EXPECT_EQ(loop.exec(), 7);

    // A whole run of the program, closed by its window, leaves no request to
    // quit behind for the loops after it.
    {
        CKivApp app({"/NOSPLASH", "/I", "/U17", "/P=" + std::to_string(nettest::freePort())}, "",
                    quietServices(&ui));
        QTimer closer;
        closer.setInterval(20);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            CMainFrame* frame = app.MainFrame();
            if (frame != nullptr && frame->PostCreateDone() && !frame->IsDestroyed()) {
                platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
                closer.stop();
            }
        });
        closer.start();
        RunGuard hangGuard(60);
        EXPECT_EQ(app.Run(), 0);
    }
    pumpUntil([] { return false; }, std::chrono::milliseconds(200));  // what the run left queued is delivered
    QEventLoop after;
    QTimer::singleShot(0, &after, [&] { after.exit(8); });
    EXPECT_EQ(after.exec(), 8);
}

TEST(FrameSettings, StoredValuesOutOfRangeAreRepaired) {
    gcsVlmInsID = "\\Velmoor8";
    CKcReg video("Quennel", "Velmoor\\Velmoor8", "1.000.0", "Video");
    const DWORD big = 100000, zero = 0, wide = 400;
    video.SetDword(nullptr, "CompressPacketLength", &big);
    video.SetDword(nullptr, "rParam_imagewidth", &wide);
    video.SetDword(nullptr, "rParam_QQual", &zero);
    CKcReg comms("Quennel", "Velmoor\\Velmoor8", "1.000.0", "Comms");
    const DWORD ring = 3;
    comms.SetDword(nullptr, "RingsCount", &ring);

    CFrameSettings settings;
    settings.ReadGenSettings();
    settings.ReadCommsSettings(0);
    settings.ReadVideoSettings();
    EXPECT_EQ(settings.video.CompressPacketLength, 32768u);
    EXPECT_EQ(settings.video.rParam_imagewidth, 176u);
    EXPECT_EQ(settings.video.rParam_QQual, 40u);
    EXPECT_EQ(settings.comms.BaudRate, 56700u);  // the section exists, the value does not
    EXPECT_EQ(settings.comms.RingsCount, 3u);
    DWORD stored = 0;
    video.GetDword(nullptr, "CompressPacketLength", &stored);
    EXPECT_EQ(stored, 32768u);

    gcsVlmInsID = "\\Velmoor9";  // no Comms section at all
    CFrameSettings fresh;
    fresh.ReadCommsSettings(1);
    EXPECT_EQ(fresh.comms.BaudRate, 57600u);
    EXPECT_EQ(fresh.comms.RingsCount, 1u);
    EXPECT_EQ(fresh.comms.NetInUse, 1u);
    gcsVlmInsID.clear();
}

// Two equal clock readings are no clock fault; a clock that runs backwards is.
TEST(LogoIdleStep, EqualReadingsWaitBackwardsQuits) {
    DWORD sleep = 0;
    LogoIdleStep step;
    step.start(5000);
    EXPECT_EQ(step.step(5000, false, true, sleep), LogoIdleStep::Action::Wait);
    EXPECT_EQ(step.step(9999, false, true, sleep), LogoIdleStep::Action::Wait);
    EXPECT_EQ(step.step(10000, false, true, sleep), LogoIdleStep::Action::RunStep);
    EXPECT_EQ(sleep, 0u);
    EXPECT_EQ(step.step(4000, false, true, sleep), LogoIdleStep::Action::ClockFault);

    LogoIdleStep noSplash;
    noSplash.start(7000);
    EXPECT_EQ(noSplash.step(7000, true, false, sleep), LogoIdleStep::Action::RunStep);
    EXPECT_EQ(sleep, kNoSplashPauseMs);  // once
    EXPECT_EQ(noSplash.step(7001, true, false, sleep), LogoIdleStep::Action::RunStep);
    EXPECT_EQ(sleep, 0u);

    LogoIdleStep wrap;  // across the 32-bit wrap the clock still runs forwards
    wrap.start(0xFFFFFF00u);
    EXPECT_EQ(wrap.step(0x00001400u, false, true, sleep), LogoIdleStep::Action::RunStep);
}

TEST(Transfer, PercentAndRateUse64Bits) {
    const ULONGLONG total = 100ull << 20;  // 100 MB: done * 100 overflows 32 bits
    EXPECT_EQ(TransferPercent(total / 2, total), 50u);
    EXPECT_EQ(TransferPercent(total, total), 100u);
    EXPECT_EQ(TransferPercent(5, 0), 0u);
    EXPECT_EQ(TransferPercent(3ull << 32, 4ull << 32), 75u);
    EXPECT_EQ(TransferRate(50ull << 20, 10000), (50u << 20) / 10);
    EXPECT_EQ(TransferRate(1, 0), 0u);
}

// The frame's services on a started program: the arm command comes back when
// the site never answers, the site name is read within its field, and the
// armed state answers only into a given place.
TEST(MainFrame, ArmTimesOutSiteNameBoundedAndArmedStateQuery) {
    AnsweringUi ui;
    FakeClock clock;
    AppServices services = quietServices(&ui);
    services.clock = clock.clock();
    CKivApp app({"/NOSPLASH", "/I", "/U11", "/P=" + std::to_string(nettest::freePort())}, "", services);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));

    platform::PostMessage(frame->Hwnd(), kMsgTessArm, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->WaitingForArmAck(); }));
    platform::PostMessage(frame->Hwnd(), kMsgTessArm, 0, 0);  // a second request before an answer
    const DWORD passes = frame->LoopPasses();
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPasses() > passes + 2; }));
    EXPECT_TRUE(frame->WaitingForArmAck());
    clock.advance(kArmAckTimeoutMs);
    ASSERT_TRUE(pumpUntil([&] { return !frame->WaitingForArmAck(); }));
    // An acknowledgement arms; a disarm request then waits again.
    platform::PostMessage(frame->Hwnd(), kMsgUserActionAck, kTokEnablePollTriggers, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->Station().IsSystemArmed(); }));
    platform::PostMessage(frame->Hwnd(), kMsgTessArm, 0, 0);  // already armed: nothing
    DWORD armed = 7;
    EXPECT_EQ(platform::SendMessage(frame->Hwnd(), kMsgIsSysArm, 0, reinterpret_cast<LPARAM>(&armed)), 0);
    EXPECT_EQ(armed, 1u);
    EXPECT_EQ(platform::SendMessage(frame->Hwnd(), kMsgIsSysArm, 0, 0), 1);
    EXPECT_FALSE(frame->WaitingForArmAck());

    // The site name of a profile is a 30-byte field without a terminator.
    tagHWProfile profile{};
    BYTE* bytes = reinterpret_cast<BYTE*>(&profile);
    std::memset(bytes + 4, 'N', 30);
    bytes[34] = 'X';  // the next field must not leak into the name
    ASSERT_TRUE(frame->RemoteDB()->UpdateHWProfiles(&profile, nullptr));
    platform::SendMessage(frame->Hwnd(), kMsgRemoteProfiles, 0, 0);
    EXPECT_EQ(frame->windowTitle().toStdString(), app.Title() + "-" + std::string(30, 'N'));

    // Nothing arriving: the receive state is "ready" and the percent stays.
    DWORD percent = 77;
    LONG status = -9;
    frame->GetFileStatus(nullptr, &status, &percent, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(status, REC_READY);
    EXPECT_EQ(percent, 77u);
    int kind = 0;
    char version[64] = "x";
    EXPECT_EQ(frame->GetRemoteVersion(&kind, version, sizeof version), 0);  // no link up

    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app.ExitInstance();
}

VELMOOR_TEST_CHILD(holdInstanceAndHang) {
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/U5", "/P=" + args.at(0)}, "", quietServices(&ui));
    if (!app.InitInstance()) return 2;
    std::ofstream(args.at(1)) << "held";
    for (;;) pause();
}

VELMOOR_TEST_CHILD(secondStart) {
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/U6", "/P=" + args.at(0)}, "", quietServices(&ui));
    const int code = app.Run();
    // Quietly: no message of any kind.
    return code == 0 && ui.messages.empty() && ui.stops.empty() && !app.HoldsInstanceLock() ? 0 : 3;
}

// The instance lock belongs to the kernel: a program that dies holding it
// does not block the next start.
TEST(KivApp, InstanceLockIsReleasedWhenTheHolderDies) {
    const auto marker = platform::homeFolder() / "held.txt";
    auto child = velmoor::testing::ChildProcess::start(
        "holdInstanceAndHang", {std::to_string(nettest::freePort()), marker.string()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(std::filesystem::exists(marker));
    {
        platform::NamedSemaphore probe(InstanceSemaphoreName("5"), 1);
        EXPECT_FALSE(probe.tryAcquire());
    }
    child.kill();
    child.wait(std::chrono::seconds(10));
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/U5", "/P=" + std::to_string(nettest::freePort())}, "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    EXPECT_TRUE(app.HoldsInstanceLock());
    app.ExitInstance();
}

TEST(KivApp, SecondStartOfTheSameInstanceEndsQuietly) {
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/U6", "/P=" + std::to_string(nettest::freePort())}, "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    auto second = velmoor::testing::ChildProcess::start("secondStart", {std::to_string(nettest::freePort())});
    EXPECT_EQ(second.wait(std::chrono::seconds(30)), 0);
    // Another instance id runs beside the first.
    platform::NamedSemaphore other(InstanceSemaphoreName("60"), 1);
    EXPECT_TRUE(other.tryAcquire());
    EXPECT_TRUE(app.HoldsInstanceLock());
    app.ExitInstance();
}

// The login before a call asks only when some user has a password.
TEST(MainFrame, CallLoginAsksOnlyWhenPasswordsExist) {
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/U12", "/P=" + std::to_string(nettest::freePort())}, "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    EXPECT_TRUE(frame->LoginForCall());
    EXPECT_EQ(ui.users.logins, 0);
    EXPECT_STREQ(frame->LoginRecord().name, "admin");

    _tag_user admin{};
    ASSERT_EQ(app.UsersManager()->GetUser("admin", &admin), USER_OK);
    std::strcpy(admin.password, "secret");
    ASSERT_EQ(app.UsersManager()->PutUser("admin", &admin), USER_OK);
    EXPECT_TRUE(frame->LoginForCall());
    EXPECT_EQ(ui.users.logins, 1);
    // The fresh home's administrator without a password was warned of at the start.
    EXPECT_TRUE(app.DefaultPasswordWarned());
    EXPECT_GE(ui.users.warnings, 1);
    app.UsersManager()->Save();
    app.ExitInstance();

    // Once someone has a password there is no warning, and a call asks who calls.
    gcsVlmInsID.clear();
    AnsweringUi again;
    CKivApp second({"/NOSPLASH", "/I", "/U12", "/P=" + std::to_string(nettest::freePort())}, "",
                   quietServices(&again));
    ASSERT_TRUE(second.InitInstance());
    EXPECT_FALSE(second.DefaultPasswordWarned());
    EXPECT_EQ(again.users.warnings, 0);
    EXPECT_TRUE(second.MainFrame()->LoginForCall());
    EXPECT_EQ(again.users.logins, 1);
    second.ExitInstance();
}

// Without /I the stored choice (the modem link on a fresh home) is taken; the
// program still starts and closes in order without a modem present.
TEST(KivApp, ModemChoiceStartsAndClosesInOrder) {
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/M", "/U13"}, "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.GetLinkChoice().NetInUse, 0u);  // M wins over I
    CMainFrame* frame = app.MainFrame();
    EXPECT_FALSE(frame->IsInetLink());
    EXPECT_TRUE(IsModemLink(*frame->Connection()));
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone() && frame->LoopPasses() > 5; }));
    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_FALSE(app.HoldsInstanceLock());
}

// /C connects once after start-up to the /D station; a refused call is told
// to the user once, and the program listens again.
TEST(KivApp, AutomaticCallRefusedIsToldOnce) {
    AnsweringUi ui;
    const std::string closed = std::to_string(nettest::freePort());
    CKivApp app({"/NOSPLASH", "/I", "/U14", "/P=" + std::to_string(nettest::freePort()), "/D=127.0.0.1:" + closed, "/C"},
                "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    EXPECT_TRUE(app.CFlag());
    EXPECT_EQ(app.DValue(), "127.0.0.1:" + closed);
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return !ui.messages.empty(); }));
    ASSERT_TRUE(pumpUntil([&] { return frame->Connection()->IsListeningFor(2) != FALSE; }));
    const DWORD passes = frame->LoopPasses();
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPasses() > passes + 20; }));
    EXPECT_EQ(ui.messages.size(), 1u);  // once: the automatic call is not repeated
    EXPECT_FALSE(frame->Connection()->IsConnected());
    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app.ExitInstance();
}

// With nothing to do the loop rests at its longer period, then at its deep
// rest period; a message to the frame brings the 10 ms pass back at once, and
// so does a caller on the listening socket, for as long as the call is being
// set up.
TEST(MainFrame, AQuietLoopRestsAndWakesAtOnce) {
    AnsweringUi ui;
    const WORD port = nettest::freePort();
    CKivApp app({"/NOSPLASH", "/I", "/U16", "/P=" + std::to_string(port)}, "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone() && frame->Connection()->IsListeningFor(2); }));
    EXPECT_EQ(frame->LoopPeriodMs(), kMainTimerPeriodMs);
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPeriodMs() == kRestTimerPeriodMs; }));
    const DWORD passes = frame->LoopPasses();
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPasses() > passes; }));  // resting still runs passes
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPeriodMs() == kDeepRestTimerPeriodMs; }));
    const DWORD deepPasses = frame->LoopPasses();
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPasses() > deepPasses; }));  // and so does the deep rest

    platform::SendMessage(frame->Hwnd(), platform::WM_NULL, 0, 0);
    EXPECT_EQ(frame->LoopPeriodMs(), kMainTimerPeriodMs);
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPeriodMs() == kRestTimerPeriodMs; }));

    // A caller that never says hello: the call is up but not yet a session.
    const int caller = nettest::connectRaw(port);
    ASSERT_GE(caller, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->Connection()->IsLinkUp() != FALSE; }));
    EXPECT_EQ(frame->LoopPeriodMs(), kMainTimerPeriodMs);
    ::close(caller);
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPeriodMs() == kRestTimerPeriodMs; }));

    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app.ExitInstance();
}

// Commands whose windows other parts provide tell the user that the part is
// not there; the program's own dialogs wait for nobody while it runs hidden;
// queued loop ticks run one pass.
TEST(MainFrame, MissingPartsAreReportedAndQueuedTicksRunOnce) {
    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/U15", "/P=" + std::to_string(nettest::freePort())}, "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
    {
        const std::size_t before = ui.messages.size();
        platform::SendMessage(frame->Hwnd(), WM_COMMAND, ID_OPEN_DEBRIEF, 0);
        ASSERT_EQ(ui.messages.size(), before + 1);
        EXPECT_NE(ui.messages.back().find("not available"), std::string::npos);
    }
    // The program's own dialogs are not put to anybody while it runs hidden:
    // no box, and nothing waits.
    for (WPARAM id : {ID_OPTIONS, ID_SETUP_WIZARD, ID_OPTIONS_PAGE4, ID_SITE_BOOK}) {
        SCOPED_TRACE(id);
        const std::size_t before = ui.messages.size();
        platform::SendMessage(frame->Hwnd(), WM_COMMAND, id, 0);
        EXPECT_EQ(ui.messages.size(), before);
    }
    EXPECT_EQ(frame->ChatWindow(), nullptr);

    frame->DoActivate(FALSE);  // the timer stops; only posted ticks run passes
    pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    const DWORD passes = frame->LoopPasses();
    platform::PostMessage(frame->Hwnd(), kMsgMainTimerTick, kMainTimerId, 0);
    platform::PostMessage(frame->Hwnd(), kMsgMainTimerTick, kMainTimerId, 0);
    platform::PostMessage(frame->Hwnd(), kMsgMainTimerTick, kMainTimerId, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPasses() >= passes + 1; }));
    // A later tick runs again. The queue keeps its order, so it runs after
    // the three above were handled: any of them that ran too shows here.
    platform::PostMessage(frame->Hwnd(), kMsgMainTimerTick, kMainTimerId, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->LoopPasses() >= passes + 2; }));
    EXPECT_EQ(frame->LoopPasses(), passes + 2);

    frame->DoActivate(TRUE);
    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
    app.ExitInstance();
}
