#pragma once
// The recorder's DDE conversation: other programs of the same user drive the
// running recorder with bracketed execute commands ("[Listen]", "[Connect 12]",
// "[Send_File(/path)]", "[Close]", ...) and may request an item, which is
// echoed back.
//
// On the local bus the endpoint is a published window of class kDdeWindowClass
// titled with the service name. Every DDE message travels as WM_COPYDATA whose
// dwData is the DDE message number and whose wParam is the sender's window:
//  - WM_DDE_INITIATE (sent): data "application\0topic\0". When the application
//    equals the service (without regard to case) the server posts WM_DDE_ACK
//    with "service\0service\0" to the client and answers 1; otherwise 0 and
//    nothing is posted.
//  - WM_DDE_EXECUTE (posted): a DdeExecuteHeader naming the block, then the
//    command text. The server runs the commands and posts WM_DDE_ACK with a
//    DdeAckRecord: status 0x8000 when run, 0 when the block was unusable.
//  - WM_DDE_REQUEST (posted): the item name. The server posts WM_DDE_DATA: a
//    DdeDataHeader (response bit, text format), then the item name and "\r".
//  - WM_DDE_TERMINATE: marks the user interface hidden for the link; no reply.
//  - the others are ignored.
// The client's window must be published on the bus too, so the replies reach it.
//
// Threads: the server window belongs to the user-interface thread, as the
// frame it drives. Failures are answered as above; nothing throws.

#include "platform/message_window.h"
#include "platform/types.h"

#include <string>
#include <string_view>
#include <vector>

namespace trennick {

class CMainFrame;

inline constexpr UINT WM_DDE_INITIATE = 0x03E0;
inline constexpr UINT WM_DDE_TERMINATE = 0x03E1;
inline constexpr UINT WM_DDE_ADVISE = 0x03E2;
inline constexpr UINT WM_DDE_UNADVISE = 0x03E3;
inline constexpr UINT WM_DDE_ACK = 0x03E4;
inline constexpr UINT WM_DDE_DATA = 0x03E5;
inline constexpr UINT WM_DDE_REQUEST = 0x03E6;
inline constexpr UINT WM_DDE_POKE = 0x03E7;
inline constexpr UINT WM_DDE_EXECUTE = 0x03E8;

inline constexpr WORD kDdeAckAcknowledged = 0x8000;
inline constexpr WORD kDdeDataResponse = 0x1000;
inline constexpr SHORT kCfText = 1;

inline constexpr char kDdeWindowClass[] = "VelmoorDDE";
// The longest execute block the server takes.
inline constexpr std::size_t kDdeMaxExecuteBytes = 64 * 1024;
// The longest number of a connect command and path of a file command.
inline constexpr std::size_t kDdeMaxArgument = 239;

#pragma pack(push, 1)
struct DdeExecuteHeader {
    DWORD block;  // the client's number for this execute, returned in its ack
};
struct DdeAckRecord {
    WORD status;  // kDdeAckAcknowledged when run
    WORD reserved;
    DWORD block;  // the execute's block number, 0 for other acks
};
struct DdeDataHeader {
    WORD flags;      // kDdeDataResponse in an answer to a request
    SHORT cfFormat;  // kCfText
};
#pragma pack(pop)
static_assert(sizeof(DdeExecuteHeader) == 4);
static_assert(sizeof(DdeAckRecord) == 8);
static_assert(sizeof(DdeDataHeader) == 4);

enum class DdeCommandKind {
    Listen,
    ListenOn,
    ListenOff,
    Connect,
    Disconnect,
    SendBusinessCard,
    SendVideo,
    StopVideo,
    Close,
    QueueFile,
    SendFile,
};

struct DdeCommand {
    DdeCommandKind kind;
    std::string argument;  // the number of Connect, the path of the file commands
    bool operator==(const DdeCommand&) const = default;
};

// The commands of an execute string in order. A connect command without a
// number, a file command without a path in parentheses, and a number or path
// longer than kDdeMaxArgument run nothing; nothing after "[Close]" runs.
std::vector<DdeCommand> ParseDdeCommands(std::string_view text);

class CDdeServer : public platform::MessageWindow {
public:
    CDdeServer(CMainFrame& frame, std::string service);
    // Publishes the endpoint; false when it cannot be made.
    bool Create();
    const std::string& Service() const { return m_service; }
    // Runs the commands of an execute string on the frame.
    void DoDDECommands(std::string_view text);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    LRESULT onInitiate(platform::HWND client, std::string_view data);
    void onExecute(platform::HWND client, const BYTE* data, DWORD bytes);
    void onRequest(platform::HWND client, std::string_view item);
    void post(platform::HWND client, UINT ddeMessage, const void* data, DWORD bytes);

    CMainFrame& m_frame;
    std::string m_service;
};

}  // namespace trennick
