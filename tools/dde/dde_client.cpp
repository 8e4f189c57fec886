#include "tools/dde/dde_client.h"

#include "platform/local_bus.h"
#include "trennick/app/dde_server.h"

#include <QCoreApplication>
#include <atomic>
#include <unistd.h>
#include <QEventLoop>
#include <cstring>
#include <thread>

namespace velmoor::dde {

using namespace trennick;

namespace {
std::atomic<unsigned> g_clients{0};
}

DdeClient::DdeClient(std::chrono::milliseconds guard) : m_guard(guard) {
    // Published, so the server's replies reach it from another process.
    create("VelmoorDDEClient", "DDE client " + std::to_string(::getpid()) + "." + std::to_string(++g_clients));
}

DdeClient::~DdeClient() { Terminate(); }

bool DdeClient::waitFor(const bool& done) const {
    const auto deadline = std::chrono::steady_clock::now() + m_guard;
    while (!done) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool DdeClient::Connect(std::string_view application) {
    Terminate();
    const platform::HWND server = platform::FindWindow(kDdeWindowClass, nullptr);
    if (server == 0) return false;
    std::string names(application);
    names += '\0';
    names += application;
    names += '\0';
    platform::COPYDATASTRUCT copy{WM_DDE_INITIATE, static_cast<DWORD>(names.size()), names.data()};
    m_initiateAck = false;
    if (platform::SendMessage(server, platform::WM_COPYDATA, hwnd(), reinterpret_cast<LPARAM>(&copy)) == 0) {
        return false;
    }
    if (!waitFor(m_initiateAck)) return false;
    m_server = server;
    return true;
}

int DdeClient::ExecuteBlock(const std::vector<BYTE>& block, DWORD blockNumber) {
    if (m_server == 0) return -1;
    m_executeAck = false;
    m_ackBlock = blockNumber;
    platform::COPYDATASTRUCT copy{WM_DDE_EXECUTE, static_cast<DWORD>(block.size()),
                                  const_cast<BYTE*>(block.data())};
    if (!platform::PostMessage(m_server, platform::WM_COPYDATA, hwnd(), reinterpret_cast<LPARAM>(&copy))) return -1;
    if (!waitFor(m_executeAck)) return -1;
    return m_ackStatus;
}

int DdeClient::Execute(std::string_view commands) {
    const DdeExecuteHeader header{m_nextBlock++};
    std::vector<BYTE> block(sizeof header);
    std::memcpy(block.data(), &header, sizeof header);
    block.insert(block.end(), commands.begin(), commands.end());
    block.push_back(0);
    return ExecuteBlock(block, header.block);
}

std::optional<std::string> DdeClient::Request(std::string_view item) {
    if (m_server == 0) return std::nullopt;
    std::string text(item);
    text += '\0';
    m_dataArrived = false;
    platform::COPYDATASTRUCT copy{WM_DDE_REQUEST, static_cast<DWORD>(text.size()), text.data()};
    if (!platform::PostMessage(m_server, platform::WM_COPYDATA, hwnd(), reinterpret_cast<LPARAM>(&copy))) {
        return std::nullopt;
    }
    if (!waitFor(m_dataArrived)) return std::nullopt;
    return m_data;
}

void DdeClient::Terminate() {
    if (m_server == 0) return;
    platform::COPYDATASTRUCT copy{WM_DDE_TERMINATE, 0, nullptr};
    platform::PostMessage(m_server, platform::WM_COPYDATA, hwnd(), reinterpret_cast<LPARAM>(&copy));
    m_server = 0;
}

LRESULT DdeClient::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != platform::WM_COPYDATA || lParam == 0) return MessageWindow::WindowProc(msg, wParam, lParam);
    const auto* copy = reinterpret_cast<const platform::COPYDATASTRUCT*>(lParam);
    const auto* bytes = static_cast<const char*>(copy->lpData);
    const DWORD size = bytes != nullptr ? copy->cbData : 0;
    if (copy->dwData == WM_DDE_ACK) {
        if (!m_initiateAck && m_server == 0) {
            // The answer to an initiate: "application\0topic\0".
            const std::string_view names(bytes, size);
            const std::size_t first = names.find('\0');
            if (first != std::string_view::npos) {
                const std::string_view topic = names.substr(first + 1);
                m_topic.assign(topic.substr(0, topic.find('\0')));
            }
            m_initiateAck = true;
        } else if (size >= sizeof(DdeAckRecord)) {
            DdeAckRecord ack{};
            std::memcpy(&ack, bytes, sizeof ack);
            if (ack.block == m_ackBlock) {
                m_ackStatus = ack.status;
                m_executeAck = true;
            }
        }
    } else if (copy->dwData == WM_DDE_DATA && size >= sizeof(DdeDataHeader)) {
        DdeDataHeader header{};
        std::memcpy(&header, bytes, sizeof header);
        if ((header.flags & kDdeDataResponse) != 0 && header.cfFormat == kCfText) {
            const std::string_view value(bytes + sizeof header, size - sizeof header);
            m_data.assign(value.substr(0, value.find('\0')));
            m_dataArrived = true;
        }
    }
    return 1;
}

}  // namespace velmoor::dde
