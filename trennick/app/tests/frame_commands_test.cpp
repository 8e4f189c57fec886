// The main frame's own commands: the help (its settings and the path it
// opens, from the menu's command), sending audio on and off, and the log
// viewer started in the program folder on the current log.

#include "trennick/app/testing/app_test_support.h"
#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "trennick/app/frame_buttons.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/mx_help.h"
#include "trennick/net/testing/net_test_util.h"
#include "resources/glossel_ids.h"
#include "tavicore/station_identity.h"
#include "tavicore/ui/ui_resources.h"
#include "trennick/link/packet_connection.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QHelpEvent>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace trennick;
using namespace apptest;
namespace fs = std::filesystem;

namespace {

// Runs the body with the current folder set to `folder`.
struct InFolder {
    fs::path previous = fs::current_path();
    explicit InFolder(const fs::path& folder) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(previous); }
};

struct HelpCase {
    const char* name;
    const char* folder;      // the Folder setting
    DWORD force;             // ForceWebHelp
    DWORD disable;           // Disable
    bool localFileExists;
    const char* opened;      // relative to the current folder, "web", or "" for nothing
};

constexpr HelpCase kHelpCases[] = {
    {"local file", "Help", 0, 0, true, "Help/Velmoor.htm"},
    {"empty folder", "", 0, 0, true, "Velmoor.htm"},
    {"forced web", "Help", 1, 0, true, "web"},
    {"no local file", "Help", 0, 0, false, "web"},
    {"disabled", "Help", 1, 1, true, ""},
};

TEST(MxHelp, OpensTheLocalFileOrTheWebPage) {
    const fs::path here = fs::path(std::getenv("VELMOOR_HOME")) / "cwd";
    for (const HelpCase& c : kHelpCases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(here);
        fs::create_directories(here / "Help");
        if (c.localFileExists) {
            std::ofstream(here / "Help" / "Velmoor.htm") << "<html/>";
            std::ofstream(here / "Velmoor.htm") << "<html/>";
        }
        CKcReg reg = ProductKey("Help");
        reg.SetString(nullptr, "Folder", c.folder);
        reg.SetDword(nullptr, "ForceWebHelp", &c.force);
        reg.SetDword(nullptr, "Disable", &c.disable);
        InFolder in(here);
        std::vector<std::string> opened;
        CMxHelp help([&](const std::string& path) {
            opened.push_back(path);
            return true;
        });
        EXPECT_TRUE(help.LoadHelpFile());
        if (std::string(c.opened).empty()) {
            EXPECT_TRUE(opened.empty());
        } else {
            ASSERT_EQ(opened.size(), 1u);
            const std::string expected =
                std::string(c.opened) == "web" ? std::string(kDefaultWebHelp) : (fs::current_path() / c.opened).string();
            EXPECT_EQ(opened[0], expected);
        }
    }
}

TEST(MxHelp, SettingsAreWrittenBackAndFailuresReported) {
    {
        CMxHelp help([](const std::string&) { return false; });
        // A document that cannot be opened is a failure, not a success.
        EXPECT_FALSE(help.LoadHelpFile());
        EXPECT_EQ(help.LastOpened(), kDefaultWebHelp);
    }
    CKcReg reg = ProductKey("Help");
    char text[300] = {};
    DWORD size = sizeof text;
    ASSERT_TRUE(reg.GetString(nullptr, "FileName", text, &size));
    EXPECT_STREQ(text, "Velmoor.htm");
    size = sizeof text;
    ASSERT_TRUE(reg.GetString(nullptr, "WebPath", text, &size));
    EXPECT_STREQ(text, kDefaultWebHelp);
    DWORD value = 9;
    ASSERT_TRUE(reg.GetDword(nullptr, "Disable", &value));
    EXPECT_EQ(value, 0u);

    // A folder that makes the path longer than the limit is not cut: the web page opens.
    const std::string longFolder(300, 'f');
    reg.SetString(nullptr, "Folder", longFolder.c_str());
    std::vector<std::string> opened;
    CMxHelp help([&](const std::string& path) {
        opened.push_back(path);
        return true;
    });
    EXPECT_TRUE(help.LoadHelpFile());
    EXPECT_EQ(opened, std::vector<std::string>{kDefaultWebHelp});
}

// The program with the desktop opener replaced.
struct Program {
    AnsweringUi ui;
    std::vector<std::string> opened;
    bool openerWorks = true;
    std::unique_ptr<CKivApp> app;
    CMainFrame* frame = nullptr;

    explicit Program(const char* instance) {
        AppServices services = quietServices(&ui);
        services.shellOpen = [this](const std::string& path) {
            opened.push_back(path);
            return openerWorks;
        };
        app = std::make_unique<CKivApp>(std::vector<std::string>{"/NOSPLASH", "/I", instance, "/P=" + std::to_string(nettest::freePort())}, "", services);
        EXPECT_TRUE(app->InitInstance());
        frame = app->MainFrame();
        EXPECT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
    }
    ~Program() {
        platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
        EXPECT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
        app->ExitInstance();
    }
};

TEST(FrameCommands, HelpFromTheMenuAndTheHelpKey) {
    Program program("/U81");
    QAction* item = program.frame->Menu()->Action(ID_HELP);
    ASSERT_NE(item, nullptr);
    item->trigger();
    ASSERT_EQ(program.opened.size(), 1u);
    EXPECT_EQ(program.opened[0], kDefaultWebHelp);
    // The help key's message; an opener that fails is told to the user.
    program.openerWorks = false;
    platform::PostMessage(program.frame->Hwnd(), kMsgHelpKey, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return program.opened.size() == 2; }));
    ASSERT_FALSE(program.ui.messages.empty());
    EXPECT_NE(program.ui.messages.back().find("could not be opened"), std::string::npos) << program.ui.messages.back();
}

TEST(FrameCommands, AudioOutToggleWithoutCodecSwitchesButtonAndFlag) {
    Program program("/U82");
    CMainFrame& frame = *program.frame;
    CBitmapButton* talk = frame.ButtonRow()->Button(ID_TALK);
    ASSERT_NE(talk, nullptr);
    ASSERT_FALSE(frame.AudioOutMuted());
    frame.OnCommand(ID_TALK);
    EXPECT_TRUE(frame.AudioOutMuted());
    EXPECT_EQ(talk->Bitmaps().up, IDB_BTN_AUDD);
    EXPECT_EQ(talk->Bitmaps().down, IDB_BTN_AUDU);
    EXPECT_EQ(talk->Bitmaps().disabled, IDB_BTN_AUDX);
    // While sending is off, the tool tip is string 65262.
    EXPECT_EQ(talk->toolTip().toStdString(), UiString(65262, "Sending audio is off"));
    frame.SetAudioOutMute(1);  // already off: nothing changes
    EXPECT_TRUE(frame.AudioOutMuted());
    frame.SetAudioOutMute(0);
    EXPECT_FALSE(frame.AudioOutMuted());
    EXPECT_EQ(talk->Bitmaps().up, IDB_BTN_AUDU);
}

TEST(FrameCommands, LogViewerStartsInTheProgramFolderOnTheCurrentLog) {
    Program program("/U83");
    const fs::path folder = program.app->ProgramFolder();
    const fs::path record = fs::path(std::getenv("VELMOOR_HOME")) / "viewer.txt";
    // Without the viewer the user is told.
    program.frame->OnCommand(ID_CHRONVIEW);
    ASSERT_FALSE(program.ui.messages.empty());
    EXPECT_EQ(program.ui.messages.back(), "Error Failed to launch log Viewer");
    // A stand-in viewer writes where it ran and what it was given.
    const fs::path viewer = folder / "chronview";
    std::ofstream(viewer) << "#!/bin/sh\necho \"$(pwd) $*\" > '" << record.string() << "'\n";
    ::chmod(viewer.c_str(), 0755);
    const std::size_t told = program.ui.messages.size();
    program.frame->OnCommand(ID_CHRONVIEW);
    ASSERT_TRUE(pumpUntil([&] { return readAll(record).find('\n') != std::string::npos; })) << readAll(record);
    EXPECT_EQ(program.ui.messages.size(), told);
    std::string line = readAll(record);
    EXPECT_EQ(line.rfind(fs::canonical(folder).string() + " ", 0), 0u) << line;
}

}  // namespace

namespace {

struct ToolTipCase {
    WPARAM button;
    UINT stringId;  // 0: no tool tip
};

constexpr ToolTipCase kToolTips[] = {
    {ID_DEBRIEF_BUTTON, 1186}, {ID_COLLAPSE, 29122}, {ID_EXPAND, 29123},       {ID_CONNECT_DISCONNECT, 32801},
    {ID_OPTIONS, 32811},       {ID_CONNECT_CONNECT, 32827}, {ID_TOGGLE_ARM, 32909}, {ID_HOLD_CALL, 32802},
    {ID_TALK, 65261},          {ID_ADDRESS_BOOK, 0},   {ID_OPEN_CHAT, 0},
};

}  // namespace

TEST(FrameCommands, EachButtonsToolTipIsItsStringAskedWhenTheTipShows) {
    Program program("/U84");
    CMainFrame& frame = *program.frame;
    for (const ToolTipCase& c : kToolTips) {
        SCOPED_TRACE(c.button);
        const std::string expected = c.stringId != 0 ? UiString(c.stringId) : std::string();
        if (c.stringId != 0) {
            ASSERT_FALSE(expected.empty());
        }
        EXPECT_EQ(frame.OnToolTipText(c.button), expected);
        EXPECT_LE(frame.OnToolTipText(c.button).size(), 80u);
        // The button's tip is asked for when it is about to show.
        CBitmapButton* button = frame.ButtonRow()->Button(c.button);
        ASSERT_NE(button, nullptr);
        button->setToolTip("stale");
        QHelpEvent tip(QEvent::ToolTip, QPoint(1, 1), button->mapToGlobal(QPoint(1, 1)));
        QCoreApplication::sendEvent(button, &tip);
        EXPECT_EQ(button->toolTip().toStdString(), expected);
    }
    // Sending audio off: the talk button's tip says so.
    frame.OnCommand(ID_TALK);
    EXPECT_EQ(frame.OnToolTipText(ID_TALK), UiString(65262));
    // Without a call the hold has nothing to hold.
    frame.OnCommand(ID_HOLD_CALL);
    EXPECT_EQ(frame.Connection()->GetHoldStatus() & kHoldLocal, 0);
    EXPECT_EQ(frame.OnToolTipText(ID_HOLD_CALL), UiString(32802));
}

TEST(FrameCommands, CallResultsGiveTheirTextAndTheKitsDisconnectReason) {
    struct Case {
        UINT stringId;
        const char* text;
        int code;
    } cases[] = {{65010, "Normal", 3}, {65015, "Line is Busy", 0}, {65022, "No dial tone", 1}, {65016, "No answer", 2},
                 {65011, "unchanged", -7}, {0, "unchanged", -7}, {65023, "unchanged", -7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stringId);
        std::string text = "unchanged";
        int code = -7;
        CMainFrame::GetCallResultText(c.stringId, &text, &code);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(code, c.code);
    }
}

TEST(FrameCommands, StatusTextJoinsTheStatusWordAndTheCodesText) {
    Program program("/U85");  // the program's language library is loaded
    struct Case {
        int code;
        const char* text;
    } cases[] = {{1, "Status:Disconnected"}, {2, "Status:Connecting"}, {3, "Status:Connected"},
                 {4, "Status:Online"},       {5, "Status:Waiting for a call"}, {6, "Status:Initializing"},
                 {0, "Status:Unknown"},      {7, "Status:Unknown"},       {-1, "Status:Unknown"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        std::string text;
        EXPECT_EQ(CMainFrame::FormatStatusText(c.code, &text), 1);
        EXPECT_EQ(text, c.text);
    }
}

TEST(FrameCommands, TheStationsIdentityFillsItsCardCutToTheCardsRoom) {
    Program program("/U86");
    CMainFrame& frame = *program.frame;
    // The first start made this station's key; nothing is stored with it yet.
    CUUIDdb ids;
    char guid[256] = {};
    ASSERT_NE(ids.dbGUIDThisReadKey(guid, sizeof guid), 0);

    struct Case {
        std::string name, phone, shownName, shownPhone;
    } cases[] = {
        {"North gate", "555 0101", "North gate", "555 0101"},
        {std::string(100, 'n'), std::string(50, '7'), std::string(64, 'n'), std::string(32, '7')},
        {"", "555 0199", "", "555 0199"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tagSiteInfo info{};
        std::memcpy(info.name, c.name.data(), c.name.size());
        std::memcpy(info.phone, c.phone.data(), c.phone.size());
        ASSERT_NE(ids.dbGUIDThisWriteInfo(&info), 0);
        EXPECT_EQ(frame.ReadGenSettings(), 0);
        EXPECT_EQ(frame.MyCard().name, c.shownName);
        EXPECT_EQ(frame.MyCard().phone, c.shownPhone);
    }
    // The key is kept: reading again does not make a new one.
    char again[256] = {};
    ASSERT_NE(ids.dbGUIDThisReadKey(again, sizeof again), 0);
    EXPECT_STREQ(again, guid);
}
