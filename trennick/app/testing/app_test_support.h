#pragma once
// Test doubles for the recorder program: a user interface that answers every
// message with "yes" and logs in as the administrator, and helpers that run
// the Qt loop until a condition holds (with a guard, so a hang fails fast).

#include "common/kc_reg.h"
#include "common/product_registry.h"
#include "platform/com/com.h"
#include "platform/folders.h"
#include "tavicore/users_manager.h"
#include "trennick/app/app_services.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace apptest {

class AnsweringUsersUi : public CUsersManagerUi {
public:
    int RunLoginDialog(_tag_user* typed, const char*) override {
        ++logins;
        std::strcpy(typed->name, "admin");
        typed->password[0] = '\0';
        return 1;
    }
    void RunDefaultPasswordWarning() override { ++warnings; }
    void ShowStopMessage(UINT) override {}
    int RunUsersDialog(CUsersManager&) override { return 0; }
    int logins = 0;
    int warnings = 0;
};

class AnsweringUi : public trennick::AppUi {
public:
    int ShowMessage(const std::string& text, const std::string&, int) override {
        messages.push_back(text);
        return answer;
    }
    void ShowStopBox(const std::string& text, const std::string&) override { stops.push_back(text); }
    CUsersManagerUi* UsersUi() override { return &users; }

    int answer = 512;
    std::vector<std::string> messages;
    std::vector<std::string> stops;
    AnsweringUsersUi users;
};

// Loads the language library for good before a program starts. FIXME: the
// program unloads it at exit; unloading a library that has thread-local data
// leaves the leak checker a stale thread-local block that it sometimes
// crashes on at exit. A pinned library is never unloaded. (The server
// libraries need no pin: registration keeps each one it loads.)
inline void pinLoadedLibraries() {
    const std::string path = (platform::executableFolder() / "libglossel.so").string();
    ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

// The whole content of a file; empty when it cannot be read.
inline std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename F>
bool pumpUntil(F done, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Ends the application loop of a program run (CKivApp::Run) with code 9 when
// the run is still going after `seconds`. It goes with its scope, so it never
// ends a loop of whatever runs after the run in the same process.
class RunGuard {
public:
    explicit RunGuard(int seconds) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [] { QCoreApplication::exit(kRunGuardExitCode); });
        m_timer.start(std::chrono::seconds(seconds));
    }
    static constexpr int kRunGuardExitCode = 9;

private:
    QTimer m_timer;
};

// Stores this station's card (name and phone) in the instance's settings,
// so the program starts as a station that is set up.
inline void storeCard(const std::string& instance, const std::string& name, const std::string& phone) {
    BYTE card[877] = {};
    std::memcpy(card + 8, name.data(), std::min<std::size_t>(name.size(), 63));
    std::memcpy(card + 72, phone.data(), std::min<std::size_t>(phone.size(), 31));
    BYTE flags[100] = {};
    flags[0] = 1;
    CKcReg reg = InstanceKey("\\Velmoor" + instance, "General");
    reg.SetBinary(nullptr, "Business Card", card, sizeof card);
    reg.SetBinary(nullptr, "Flags", flags, sizeof flags);
}

inline trennick::AppServices quietServices(trennick::AppUi* ui) {
    static const bool pinned = (pinLoadedLibraries(), true);
    (void)pinned;
    trennick::AppServices s;
    s.ui = ui;
    s.sleep = [](DWORD) {};
    s.showWindows = false;
    // Tests open no documents on the desktop.
    s.shellOpen = [](const std::string&) { return true; };
    return s;
}

}  // namespace apptest
