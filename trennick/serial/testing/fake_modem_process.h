#pragma once
// Runs the fake-modem tool (beside the test program) as a real process and
// reads the devices of its modems from its ready file.

#include "platform/folders.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace serialtest {

class FakeModemProcess {
public:
    explicit FakeModemProcess(std::vector<std::string> args) {
        const std::filesystem::path ready = platform::homeFolder() / "fake-modem.ready";
        std::filesystem::remove(ready);
        args.insert(args.begin(), {"fake-modem", "--ready-file", ready.string()});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string program = (platform::executableFolder() / "fake-modem").string();
        if (posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ifstream in(ready);
        std::string word, index, device, number;
        while (in >> word >> index >> device >> number) m_devices[number] = device;
    }
    ~FakeModemProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    bool ok() const { return m_pid > 0 && !m_devices.empty(); }
    // The device of the modem with this number.
    std::string device(const std::string& number) const {
        auto it = m_devices.find(number);
        return it == m_devices.end() ? std::string() : it->second;
    }

private:
    pid_t m_pid = -1;
    std::map<std::string, std::string> m_devices;
};

}  // namespace serialtest
