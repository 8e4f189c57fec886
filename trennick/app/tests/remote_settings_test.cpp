// The remote settings road through the real program: the main frame's remote
// settings manager, with the profile store, uploads a site's settings to the
// stand-in site (in its own process, over TCP on loopback) and downloads them
// back; the kit's profile requests fetch the site's list into a file; a
// damaged list from the site is refused and the stored settings stay.

#include "trennick/app/testing/app_test_support.h"
#include "morvel/morvel_lib.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "tavicore/db_lumo.h"
#include "tools/site/site_station.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/remset/remote_set_mgr.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace trennick;
using namespace apptest;

namespace {

std::filesystem::path home() { return platform::homeFolder(); }

std::vector<BYTE> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The stand-in site without video: <port>.
VELMOOR_TEST_CHILD(settings_site) {
    if (args.empty()) return 90;
    site::SiteOptions options;
    options.port = WORD(std::stoi(args[0]));
    options.video = false;
    std::ofstream log(home() / "site.log", std::ios::app);
    site::SiteStation station(options, [&](const std::string& line) { log << line << std::endl; });
    if (!station.Open()) return 91;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < guard) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        station.Pass();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

std::string siteLog() {
    std::ifstream in(home() / "site.log");
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

bool siteListening() {
    std::ifstream in(home() / "site.log");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    return text.find("listening on port") != std::string::npos;
}

std::unique_ptr<tagRemSettings> storeRecord(IRemSetDB* store) {
    auto r = std::make_unique<tagRemSettings>();
    EXPECT_EQ(store->Get(r.get()), RSDB_OK);
    return r;
}

TEST(RemoteSettings, UploadDownloadAndKitFetchThroughTheStandInSite) {
    const WORD port = nettest::freePort();
    auto child = velmoor::testing::ChildProcess::start("settings_site", {std::to_string(port)});
    ASSERT_TRUE(pumpUntil([] { return siteListening(); }));

    AnsweringUi ui;
    CKivApp app({"/NOSPLASH", "/I", "/U41", "/P=" + std::to_string(nettest::freePort()),
                 "/D=127.0.0.1:" + std::to_string(port), "/C"},
                "", quietServices(&ui));
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = nullptr;
    ASSERT_TRUE(pumpUntil([&] {
        frame = app.MainFrame();
        return frame != nullptr && frame->PostCreateDone() && frame->Connection()->IsConnected();
    })) << siteLog() << (frame ? frame->StatusText() : std::string("no frame"));
    auto profile = std::make_unique<tagHWProfile>();
    ASSERT_TRUE(pumpUntil([&] {
        frame->RemoteDB()->GetHWProfiles(profile.get(), 0);
        return profile->adaptersNumber == 1;
    }));
    CRemoteSetMgr* mgr = frame->GetRemoteSetMgr();
    ASSERT_NE(mgr, nullptr);
    IRemSetDB* store = mgr->Store();
    ASSERT_NE(store, nullptr);

    // The settings editor itself is not installed: the command says so.
    frame->OnCommand(ID_REMOTE_SETTINGS);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.messages.back().find("remote settings editor"), std::string::npos);

    // A first download brings the site's own list into the store.
    ASSERT_EQ(mgr->DownloadSettings(), 1);
    ASSERT_TRUE(pumpUntil([&] { return mgr->ListsStored() == 1; }));
    EXPECT_STREQ(storeRecord(store)->SiteInfo.szSiteName, "Stand-in site");

    // Edited settings go up; the site confirms.
    BSTR none = SysAllocString("");
    ASSERT_EQ(store->LoadProfile(none), RSDB_OK);
    SysFreeString(none);
    auto edited = storeRecord(store);
    std::strcpy(edited->Adapter[0].szName, "Front yard");
    std::strcpy(edited->Adapter[0].Camera[2].szName, "Loading bay");
    edited->Adapter[0].Relay[3].dwTimeOut = 4500;
    edited->Adapter[0].RecCameras.dwRecordingCameras = 0x5;
    std::strcpy(edited->SiteInfo.szSiteName, "Depot");
    edited->SiteInfo.eTimeSyncOption = TIME_SYNC_OPTION_MANUAL;
    edited->Scheduler.SchedTask[9] = {3, 2, 22, 15, 0, CONFIG_STATUS_ACTIVE};
    ASSERT_EQ(store->Set(edited.get()), RSDB_OK);
    ASSERT_EQ(mgr->UploadSettings(), 1);
    ASSERT_TRUE(pumpUntil([&] { return mgr->UploadsFinished() == 1; }));

    // Cleared here, the settings come back from the site.
    auto blank = std::make_unique<tagRemSettings>();
    ASSERT_EQ(store->Set(blank.get()), RSDB_OK);
    ASSERT_EQ(mgr->DownloadSettings(), 1);
    ASSERT_TRUE(pumpUntil([&] { return mgr->ListsStored() == 2; }));
    auto back = storeRecord(store);
    EXPECT_STREQ(back->Adapter[0].szName, "Front yard");
    EXPECT_STREQ(back->Adapter[0].Camera[2].szName, "Loading bay");
    EXPECT_EQ(+back->Adapter[0].Relay[3].dwTimeOut, 4500u);
    EXPECT_EQ(+back->Adapter[0].RecCameras.dwRecordingCameras, 0x5u);
    EXPECT_STREQ(back->SiteInfo.szSiteName, "Depot");
    EXPECT_EQ(+back->Scheduler.SchedTask[9].bHour, 22);
    EXPECT_EQ(+back->Scheduler.SchedTask[9].eConfigStatus, CONFIG_STATUS_ACTIVE);

    // The kit's fetch: the site's list lands in the kit's file.
    const std::filesystem::path kitFile = home() / "kit-profile.bin";
    ASSERT_EQ(frame->RemoteGetProfile(kitFile.c_str()), 1);
    ASSERT_TRUE(pumpUntil([&] { return mgr->ListsStored() == 3 && mgr->KitPath().empty(); }));
    EXPECT_EQ(fileBytes(kitFile), fileBytes(home() / "site-settings" / "SetList.Bin"));
    DWORD percent = 0;
    EXPECT_EQ(frame->RemoteGetProfileState(1, &percent), 1);
    EXPECT_EQ(percent, 0xFFFFu);  // nothing is under way
    // A file that is no settings list is not sent.
    const std::filesystem::path junk = home() / "junk.bin";
    std::ofstream(junk, std::ios::binary) << std::string(64, '\x5A');
    EXPECT_EQ(frame->RemoteSetProfile(junk.c_str()), 0);
    EXPECT_TRUE(mgr->KitPath().empty());

    // A damaged list from the site is refused and the store keeps its settings.
    std::vector<BYTE> damaged = fileBytes(home() / "site-settings" / "SetList.Bin");
    ASSERT_GT(damaged.size(), 40u);
    damaged[38] = 0x7F;  // the second record's length
    std::ofstream(home() / "site-settings" / "SetList.Bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(damaged.data()), std::streamsize(damaged.size()));
    const int notices = frame->LinkNoticesShown();
    auto beforeDamage = storeRecord(store);
    ASSERT_EQ(mgr->DownloadSettings(), 1);
    ASSERT_TRUE(pumpUntil([&] { return mgr->ListsRefused() == 1; })) << siteLog();
    auto kept = storeRecord(store);
    EXPECT_EQ(std::memcmp(kept.get(), beforeDamage.get(), sizeof(tagRemSettings)), 0);
    EXPECT_GT(frame->LinkNoticesShown(), notices);

    QDir().mkpath(VELMOOR_SCREENSHOT_DIR);
    frame->grab().save(QString(VELMOOR_SCREENSHOT_DIR) + "/remote_settings_connected.png");

    // Without the site, an upload is refused and the user is told.
    child.kill();
    ASSERT_TRUE(pumpUntil([&] { return !frame->Connection()->IsLinkUp(); }));
    const int before = frame->LinkNoticesShown();
    EXPECT_EQ(mgr->UploadSettings(), 0);
    EXPECT_GT(frame->LinkNoticesShown(), before);
    app.ExitInstance();
}

}  // namespace
