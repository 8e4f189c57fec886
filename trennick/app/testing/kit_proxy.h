#pragma once
// For the program's tests against the stand-in site: the site as a process
// of its own with its output in a log, and a kit client's proxy window that
// hears the recorder's notifications (each one's code and payload);
// kitRequest sends one request as the kit does.

#include "platform/local_bus.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "trennick/app/testing/app_test_support.h"
#include "trennick/kit/tess_block.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace apptest {

class KitProxy : public platform::MessageWindow {
public:
    struct Received {
        WORD code;
        std::vector<BYTE> payload;
    };
    std::vector<Received> received;

    // The first notification of the code heard; null while none came.
    const Received* heard(WORD code) const {
        for (const auto& n : received) {
            if (n.code == code) return &n;
        }
        return nullptr;
    }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg != platform::RegisterWindowMessage(trennick::kTessInMessageName)) {
            return MessageWindow::WindowProc(msg, wParam, lParam);
        }
        platform::SharedMemory memory = platform::SharedMemory::open(static_cast<int>(lParam), trennick::kTessBlockBytes);
        if (memory.valid()) {
            const auto* block = static_cast<const trennick::TessBlock*>(memory.data());
            received.push_back({block->wCode, std::vector<BYTE>(block->payload, block->payload + trennick::kTessPayloadBytes)});
        }
        return 1;
    }
};

// A 16-bit and a 32-bit value of a payload.
inline WORD at16(const std::vector<BYTE>& p, std::size_t at) {
    WORD v = 0;
    std::memcpy(&v, p.data() + at, 2);
    return v;
}
inline DWORD at32(const std::vector<BYTE>& p, std::size_t at) {
    DWORD v = 0;
    std::memcpy(&v, p.data() + at, 4);
    return v;
}

// Sends one request as the kit does; the answer, and the payload as the
// recorder left it in `payload`.
inline LRESULT kitRequest(platform::HWND recorder, platform::HWND proxy, WORD code, std::vector<BYTE>& payload) {
    using namespace trennick;
    platform::SharedMemory memory = platform::SharedMemory::create(kTessBlockBytes);
    if (!memory.valid()) return -100;
    TessBlock block{};
    block.dwSenderId = static_cast<DWORD>(proxy);
    block.wCode = code;
    payload.resize(kTessPayloadBytes);
    std::memcpy(block.payload, payload.data(), kTessPayloadBytes);
    std::memcpy(memory.data(), &block, sizeof block);
    const LRESULT answer = platform::SendMessageFd(
        recorder, platform::RegisterWindowMessage(kTessOutMessageName), static_cast<WPARAM>(::getpid()), memory.fd());
    std::memcpy(&block, memory.data(), sizeof block);
    std::memcpy(payload.data(), block.payload, kTessPayloadBytes);
    return answer;
}

// The stand-in site started with `options` on `port`, its output in
// <VELMOOR_HOME>/site.log; valid() once it listens.
class LoggedSite {
public:
    LoggedSite(const std::string& port, const std::string& options)
        : m_log(std::filesystem::path(std::getenv("VELMOOR_HOME")) / "site.log") {
        const auto program = platform::findProgram("velmoor-site");
        if (!program) return;
        m_process = platform::Process::start(
            "sh", {"-c", "exec \"" + program->string() + "\" --port " + port + " " + options + " > \"" +
                             m_log.string() + "\" 2>&1"});
        m_listening = m_process.valid() &&
                      pumpUntil([&] { return said("listening on port"); }, std::chrono::seconds(60));
    }
    bool valid() const { return m_listening; }
    bool said(const std::string& text) const { return log().find(text) != std::string::npos; }
    std::string log() const { return readAll(m_log); }
    platform::Process& process() { return m_process; }

private:
    std::filesystem::path m_log;
    platform::Process m_process;
    bool m_listening = false;
};

// The program's command line for a call to the site on loopback.
inline std::vector<std::string> callSiteArgs(const std::string& instance, const std::string& sitePort,
                                             unsigned short ownPort) {
    return {"/NOSPLASH", "/I", "/U" + instance, "/P=" + std::to_string(ownPort), "/D=127.0.0.1:" + sitePort, "/C"};
}

}  // namespace apptest
