#pragma once
// A DDE client of the recorder's conversation over the local bus (see
// trennick/app/dde_server.h for the messages): starts a conversation with a
// service, sends execute strings and item requests, and ends it. For tests and
// for people who drive a running recorder from a shell (velmoor-dde).
//
// Threads: one thread, which must run a Qt loop (QCoreApplication exists); each
// call runs that loop until its answer arrives or its guard runs out. Failures
// are reported by result.

#include "platform/message_window.h"
#include "platform/types.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoor::dde {

class DdeClient : public platform::MessageWindow {
public:
    explicit DdeClient(std::chrono::milliseconds guard = std::chrono::seconds(20));
    ~DdeClient() override;

    // Asks the server windows for `application`; true when one acknowledged.
    bool Connect(std::string_view application);
    bool Connected() const { return m_server != 0; }
    platform::HWND Server() const { return m_server; }
    // The topic the server named in its acknowledgement.
    const std::string& Topic() const { return m_topic; }

    // Runs the commands; the acknowledgement's status (0x8000 when run, 0 when
    // refused), or -1 when none came.
    int Execute(std::string_view commands);
    // Sends a block as it stands (a test of blocks the server must refuse).
    int ExecuteBlock(const std::vector<BYTE>& block, DWORD blockNumber);
    // The item's value as the server answers it; none when no answer came.
    std::optional<std::string> Request(std::string_view item);
    // Ends the conversation.
    void Terminate();

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    bool waitFor(const bool& done) const;

    std::chrono::milliseconds m_guard;
    platform::HWND m_server = 0;
    std::string m_topic;
    DWORD m_nextBlock = 1;
    // Replies as they arrive.
    bool m_initiateAck = false;
    bool m_executeAck = false;
    DWORD m_ackBlock = 0;
    WORD m_ackStatus = 0;
    bool m_dataArrived = false;
    std::string m_data;
};

}  // namespace velmoor::dde
