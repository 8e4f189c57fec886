#include "common/lumo_deb.h"
#include "platform/folders.h"
#include "platform/local_bus.h"
#include "platform/process.h"
#include "platform/last_error.h"
#include "platform/mailslot.h"
#include "platform/testing/child_process.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <future>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <typeinfo>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Writes section [LumoDeb] of a trace configuration file in the Windows folder.
void writeIni(const std::string& body, const std::string& name = "LUMODEBWIN.INI") {
    std::ofstream(platform::windowsFolder() / name) << "[LumoDeb]\n" << body;
}

// Runs `body` with standard error going to a file and returns what was written.
std::string captureStderr(const std::function<void()>& body) {
    auto file = platform::homeFolder() / "stderr.txt";
    std::fflush(stderr);
    int saved = ::dup(STDERR_FILENO);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    body();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Destroys whatever trace object a test built.
struct TraceReset {
    ~TraceReset() {
        LumoDebDestroy();
        LumoDebSetIniName(nullptr);
    }
};

std::string lineOfLength(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += static_cast<char>('a' + i % 26);
    }
    return text;
}

}  // namespace

TEST(LumoDeb, TracingBeforeCreateAndAfterDestroyIsHarmless) {
    ASSERT_NE(gpLumoDeb, nullptr);
    EXPECT_FALSE(LumoDebIsCreated());
    std::string written = captureStderr([] {
        LUMO_TRACE(0, "before %d", 1);
        LUMO_TRACE_SYSERR();
        gpLumoDeb->SetPrefix("X");
        writeIni("Output=1\nLevel=5\n");
        LumoDebCreate(kLumoDebFromFile);
        EXPECT_TRUE(LumoDebIsCreated());
        LUMO_TRACE(5, "during");
        LumoDebDestroy();
        LumoDebDestroy();  // twice is fine
        LUMO_TRACE(0, "after");
    });
    EXPECT_FALSE(LumoDebIsCreated());
    ASSERT_NE(gpLumoDeb, nullptr);
    EXPECT_EQ(written, "** LumoDeb: open **\nduring\n** LumoDeb: closed **\n");
}

TEST(LumoDeb, OutputKindComesFromTheFile) {
    TraceReset reset;
    struct Case {
        const char* ini;  // nullptr: no file at all
        const std::type_info& type;
    };
    const Case cases[] = {
        {nullptr, typeid(CLumoDebNULL)},
        {"Output=1\n", typeid(CLumoDebODS)},
        {"Output=2\n", typeid(CLumoDebWIN)},
        {"Output=3\n", typeid(CLumoDebNULL)},
        {"Output=4\n", typeid(CLumoDebNULL)},
        {"Output=5\n", typeid(CLumoDebMailslot)},
        {"Output=7\n", typeid(CLumoDebNULL)},
        {"Output=\n", typeid(CLumoDebNULL)},
        {"Output=abc\n", typeid(CLumoDebNULL)},
        {"output=1\n", typeid(CLumoDebODS)},  // keys are case-insensitive
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini ? c.ini : "(no file)");
        std::filesystem::remove(platform::windowsFolder() / "LUMODEBWIN.INI");
        if (c.ini) {
            writeIni(c.ini);
        }
        captureStderr([] { LumoDebCreate(kLumoDebFromFile); });
        EXPECT_EQ(typeid(*gpLumoDeb), c.type);
    }
    // An explicit kind ignores the file.
    writeIni("Output=1\n");
    LumoDebCreate(kLumoDebNone);
    EXPECT_EQ(typeid(*gpLumoDeb), typeid(CLumoDebNULL));
    LumoDebCreate(4);
    EXPECT_EQ(typeid(*gpLumoDeb), typeid(CLumoDebNULL));
}

TEST(LumoDeb, LevelFromTheFile) {
    struct Case {
        const char* ini;
        DWORD level;
    };
    const Case cases[] = {
        {"", 0},           {"Level=\n", 0},  {"Level=0\n", 0}, {"Level=3\n", 3},
        {"Level=5\n", 5},  {"Level=9\n", 5}, {"Level=-1\n", 5}, {"Level=2x\n", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        writeIni(c.ini);
        TraceCapture capture;
        EXPECT_EQ(capture.SetLevel(-1), c.level);  // refused, returns the level in force
        EXPECT_EQ(capture.SetLevel(6), c.level);
        EXPECT_EQ(capture.IsLevelOn(static_cast<int>(c.level)), TRUE);
        EXPECT_EQ(capture.IsLevelOn(static_cast<int>(c.level) + 1), FALSE);
        EXPECT_EQ(capture.IsLevelOn(-1), FALSE);  // unsigned: never on
    }
}

TEST(LumoDeb, LevelZeroWithDebuggerOutputWritesOnlyLevelZeroLines) {
    TraceReset reset;
    writeIni("Output=1\nLevel=0\n");
    std::string written = captureStderr([] {
        LumoDebCreate(kLumoDebFromFile);
        for (int level = 0; level <= 5; ++level) {
            LUMO_TRACE(level, "level %d", level);
        }
        LumoDebDestroy();
    });
    EXPECT_EQ(written, "level 0\n");  // not even the level-3 banners
}

TEST(LumoDeb, NullOutputWritesNothingEvenAtLevelZero) {
    TraceReset reset;
    writeIni("Output=3\nLevel=5\n");
    std::string written = captureStderr([] {
        LumoDebCreate(kLumoDebFromFile);
        LUMO_TRACE(0, "level 0");
        LUMO_TRACE(5, "level 5");
    });
    EXPECT_EQ(written, "");
}

TEST(LumoDeb, PrefixIsCut) {
    const std::string forty = lineOfLength(40);
    writeIni("Level=5\nPrefix=" + forty + "\n");
    TraceCapture capture;
    capture.Trace(1, "ok");
    capture.SetPrefix(forty.c_str());
    capture.Trace(1, "ok");
    capture.SetPrefix("REC");
    capture.Trace(1, "ok");
    capture.SetPrefix(nullptr);
    capture.Trace(1, "ok");
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], forty.substr(0, 30) + "ok\n");  // the file gives at most 30
    EXPECT_EQ(lines[1], forty.substr(0, 31) + "ok\n");
    EXPECT_EQ(lines[2], "RECok\n");
    EXPECT_EQ(lines[3], "ok\n");
}

TEST(LumoDeb, ThreadIdLeadsEveryLine) {
    writeIni("Level=5\nTID=1\nPrefix=REC\n");
    TraceCapture capture;
    capture.Trace(5, "ok");
    DWORD otherId = 0;
    std::thread other([&] {
        otherId = static_cast<DWORD>(::gettid());
        capture.Trace(5, "%s", "there");
    });
    other.join();
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%08X.RECok\n", static_cast<unsigned>(::gettid()));
    EXPECT_EQ(lines[0], expected);
    std::snprintf(expected, sizeof expected, "%08X.RECthere\n", otherId);
    EXPECT_EQ(lines[1], expected);
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("[0-9A-F]{8}\\.RECthere\n")));
}

TEST(LumoDeb, LongTextIsCutToTheLine) {
    const std::string text = lineOfLength(3000);
    struct Case {
        const char* ini;
        const char* prefix;
        std::size_t textChars;
    };
    const Case cases[] = {
        {"Level=5\n", "", 2045},
        {"Level=5\n", "REC", 2042},
        {"Level=5\nTID=1\n", "REC", 2045 - 12},
        {"Level=5\nTID=1\n", "0123456789012345678901234567890", 2045 - 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ini) + c.prefix);
        writeIni(c.ini);
        TraceCapture capture;
        capture.SetPrefix(c.prefix);
        capture.Trace(1, "%s", text.c_str());
        auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].size(), 2046u);
        EXPECT_EQ(lines[0].back(), '\n');
        EXPECT_EQ(lines[0].substr(lines[0].size() - 1 - c.textChars, c.textChars), text.substr(0, c.textChars));
    }
}

TEST(LumoDeb, SystemErrorLines) {
    writeIni("Level=1\n");
    TraceCapture capture;
    platform::SetLastError(ERROR_FILE_NOT_FOUND);
    capture.TraceSysErr();
    platform::SetLastError(0xDEAD);
    capture.TraceSysErr();
    capture.SetLevel(0);
    capture.TraceSysErr();  // level 1: filtered out
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "SYSERR(2h) " + platform::systemMessage(ERROR_FILE_NOT_FOUND) + "\n");
    EXPECT_EQ(lines[1], "SYSERR(DEADh)\n");
}

TEST(LumoDeb, TracingKeepsTheCallersErrors) {
    writeIni("Level=5\n");
    TraceCapture capture;
    errno = ENOENT;
    platform::SetLastError(ERROR_ACCESS_DENIED);
    capture.Trace(1, "%s", "x");
    capture.TraceSysErr();
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(LumoDeb, MailslotMessagesKeepOrCutTheTerminator) {
    TraceReset reset;
    platform::MailslotServer server("\\\\.\\mailslot\\LumoDebWin", 0);
    ASSERT_TRUE(server.isOpen());
    struct Case {
        const char* ini;
        std::size_t textChars;
        std::string message;  // expected bytes
    };
    const std::string t14 = lineOfLength(14), t15 = lineOfLength(15), t200 = lineOfLength(200);
    const Case cases[] = {
        {"MailslotMsgSize=16\n", 14, t14 + "\n" + std::string(1, '\0')},  // 15 characters go with the terminator
        {"MailslotMsgSize=16\n", 15, t15 + "\n"},                         // 16 characters: no room for it
        {"MailslotMsgSize=16\n", 200, t200.substr(0, 16)},
        {"", 200, t200.substr(0, 128)},  // the default size
        {"MailslotTarget=OTHERHOST\n", 14, t14 + "\n" + std::string(1, '\0')},  // every target is local
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        writeIni(std::string("Output=5\nLevel=5\n") + c.ini);
        LumoDebCreate(kLumoDebFromFile);
        LUMO_TRACE(3, "%s", lineOfLength(c.textChars).c_str());
        std::vector<char> message;
        ASSERT_EQ(server.read(message, 5000), platform::MailslotServer::ReadResult::Message);
        EXPECT_EQ(std::string(message.begin(), message.end()), c.message);
    }
}

TEST(LumoDeb, MailslotWithoutReaderDropsLines) {
    TraceReset reset;
    writeIni("Output=5\nLevel=5\n");
    LumoDebCreate(kLumoDebFromFile);
    LUMO_TRACE(0, "nobody reads this");
    // A reader that appears later is not found: the open is not retried.
    platform::MailslotServer server("LumoDebWin", 0);
    LUMO_TRACE(0, "nor this");
    std::vector<char> message;
    EXPECT_EQ(server.read(message, 0), platform::MailslotServer::ReadResult::TimedOut);
}

TEST(LumoDeb, ConfigurationFileNameCanBeReplaced) {
    TraceReset reset;
    writeIni("Output=1\nLevel=0\n");
    writeIni("Output=3\nLevel=4\nPrefix=Gantrel: \n", "GANTREL.INI");
    EXPECT_STREQ(LumoDebIniName(), "LUMODEBWIN.INI");
    LumoDebSetIniName("GANTREL.INI");
    EXPECT_STREQ(LumoDebIniName(), "GANTREL.INI");
    LumoDebCreate(kLumoDebFromFile);
    EXPECT_EQ(typeid(*gpLumoDeb), typeid(CLumoDebNULL));
    EXPECT_EQ(gpLumoDeb->IsLevelOn(4), TRUE);
    EXPECT_EQ(gpLumoDeb->IsLevelOn(5), FALSE);
}

// Traces numbered lines from four threads to the mailslot.
VELMOOR_TEST_CHILD(mailslotTracer) {
    LumoDebCreate(kLumoDebFromFile);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 250; ++i) {
                LUMO_TRACE(3, "thread %d line %d %s", t, i, lineOfLength(static_cast<std::size_t>(i % 90)).c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    LumoDebDestroy();
    return 0;
}

TEST(LumoDeb, LinesThroughTheMailslotArriveWholeAndInOrder) {
    writeIni("Output=5\nLevel=5\nPrefix=CHILD|\nMailslotMsgSize=400\n");
    platform::MailslotServer server("\\\\.\\mailslot\\LumoDebWin", 0);
    ASSERT_TRUE(server.isOpen());
    auto child = velmoor::testing::ChildProcess::start("mailslotTracer");
    int next[4] = {0, 0, 0, 0};
    std::vector<char> message;
    for (int n = 0; n < 1000; ++n) {
        ASSERT_EQ(server.read(message, 20000), platform::MailslotServer::ReadResult::Message) << n;
        ASSERT_FALSE(message.empty());
        ASSERT_EQ(message.back(), '\0');
        std::string line(message.data());
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "CHILD|thread %d line %d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < 4);
        EXPECT_EQ(i, next[t]++) << "out of order";
        char expected[200];
        std::snprintf(expected, sizeof expected, "CHILD|thread %d line %d %s\n", t, i,
                      lineOfLength(static_cast<std::size_t>(i % 90)).c_str());
        EXPECT_EQ(line, expected);
    }
    EXPECT_EQ(child.wait(20s), 0);
}

namespace {

// A window of the viewer's class in this process; keeps what WM_COPYDATA brings.
class FakeViewer : public platform::MessageWindow {
public:
    std::vector<std::string> lines;
    int badRecords = 0;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg != platform::WM_COPYDATA) {
            return MessageWindow::WindowProc(msg, wParam, lParam);
        }
        const auto* data = reinterpret_cast<const platform::COPYDATASTRUCT*>(lParam);
        const char* text = static_cast<const char*>(data->lpData);
        // One record per line: dwData 0, the line and its terminator.
        if (data->dwData != 0 || data->cbData == 0 || text[data->cbData - 1] != '\0' ||
            std::strlen(text) + 1 != data->cbData) {
            ++badRecords;
        }
        lines.emplace_back(text, ::strnlen(text, data->cbData));
        return 1;
    }
};

// Runs the event loop until `done` holds or 20 s pass.
bool runUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace

VELMOOR_TEST_CHILD(windowTracer) {
    LumoDebCreate(kLumoDebFromFile);
    for (int i = 0; i < 300; ++i) {
        LUMO_TRACE(3, "line %d %s", i, lineOfLength(static_cast<std::size_t>(i * 7 % 1500)).c_str());
    }
    LumoDebDestroy();
    return 0;
}

TEST(LumoDeb, LinesToTheViewerWindowOfAnotherProcessArriveWholeAndInOrder) {
    writeIni("Output=2\nLevel=5\nPrefix=WIN|\n");
    FakeViewer viewer;
    ASSERT_TRUE(viewer.create(CLumoDebWIN::kWindowClass, "LumoDebWin"));
    auto child = velmoor::testing::ChildProcess::start("windowTracer");
    ASSERT_TRUE(runUntil([&] { return viewer.lines.size() >= 300; }));
    EXPECT_EQ(child.wait(20s), 0);
    EXPECT_EQ(viewer.badRecords, 0);
    ASSERT_EQ(viewer.lines.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        char expected[1600];
        std::snprintf(expected, sizeof expected, "WIN|line %d %s\n", i,
                      lineOfLength(static_cast<std::size_t>(i * 7 % 1500)).c_str());
        ASSERT_EQ(viewer.lines[static_cast<std::size_t>(i)], expected);
    }
}

TEST(LumoDeb, WindowOutputFindsAViewerThatAppearsLater) {
    TraceReset reset;
    writeIni("Output=2\nLevel=5\n");
    LumoDebCreate(kLumoDebFromFile);  // no viewer and no auto-load: nothing is started
    EXPECT_EQ(platform::FindWindow(CLumoDebWIN::kWindowClass, nullptr), 0u);
    LUMO_TRACE(3, "lost");
    FakeViewer viewer;
    ASSERT_TRUE(viewer.create(CLumoDebWIN::kWindowClass, "LumoDebWin"));
    LUMO_TRACE(3, "finds the window, is dropped");
    LUMO_TRACE(3, "shown");
    viewer.destroy();
    LUMO_TRACE(3, "lost again");
    EXPECT_EQ(viewer.lines, std::vector<std::string>{"shown\n"});
}

// Publishes the viewer's class but never handles a message.
VELMOOR_TEST_CHILD(hungViewer) {
    FakeViewer viewer;
    if (!viewer.create(CLumoDebWIN::kWindowClass, "LumoDebWin")) {
        return 3;
    }
    for (;;) {
        ::pause();
    }
}

TEST(LumoDeb, HungViewerCannotHangTheTracer) {
    TraceReset reset;
    writeIni("Output=2\nLevel=5\n");
    auto child = velmoor::testing::ChildProcess::start("hungViewer");
    ASSERT_TRUE(runUntil([] { return platform::FindWindow(CLumoDebWIN::kWindowClass, nullptr) != 0; }));
    CLumoDebWIN::SetSendTimeoutMs(50);
    LumoDebCreate(kLumoDebFromFile);
    auto traced = std::async(std::launch::async, [] {
        for (int i = 0; i < 3; ++i) {
            LUMO_TRACE(3, "nobody takes line %d", i);
        }
    });
    EXPECT_EQ(traced.wait_for(20s), std::future_status::ready);
    CLumoDebWIN::SetSendTimeoutMs(2000);
}

TEST(LumoDeb, WindowOutputStartsTheViewerWhenAutoLoadIsSet) {
    TraceReset reset;
    ASSERT_TRUE(platform::findProgram(CLumoDebWIN::kProgramName).has_value());
    writeIni("Output=2\nLevel=5\nLumoDebWinAutoLoad=1\n");
    CLumoDebWIN::SetStartTimeoutMs(20000);
    LumoDebCreate(kLumoDebFromFile);
    platform::HWND window = platform::FindWindow(CLumoDebWIN::kWindowClass, nullptr);
    ASSERT_NE(window, 0u);
    pid_t viewer = static_cast<pid_t>(platform::windowProcessId(window));
    EXPECT_NE(viewer, ::getpid());
    LUMO_TRACE(3, "to the started viewer");
    LumoDebDestroy();
    // Only this test's viewer: it lives in this test's own home.
    ASSERT_GT(viewer, 0);
    ::kill(viewer, SIGTERM);
}
