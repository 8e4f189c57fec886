#include "trennick/app/dde_server.h"

#include "common/lumo_deb.h"
#include "platform/local_bus.h"
#include "trennick/station/station_messages.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/packet_connection.h"

#include <cstring>
#include <strings.h>

namespace trennick {

namespace {

bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix) {
    return text.size() - at >= prefix.size() && ::strncasecmp(text.data() + at, prefix.data(), prefix.size()) == 0;
}

// The text of [from, to) when it is not empty and not too long.
bool takeArgument(std::string_view text, std::size_t from, std::size_t to, std::string& out) {
    if (to == std::string_view::npos || to <= from || to - from > kDdeMaxArgument) return false;
    out.assign(text.substr(from, to - from));
    return true;
}

struct Plain {
    std::string_view text;
    DdeCommandKind kind;
};
// One chain, in this order; one "[" runs at most one of them.
constexpr Plain kChain[] = {
    {"[DisConnect]", DdeCommandKind::Disconnect},
    {"[Send_Business_Card]", DdeCommandKind::SendBusinessCard},
    {"[Send_Video]", DdeCommandKind::SendVideo},
    {"[Stop_Video]", DdeCommandKind::StopVideo},
    {"[Close]", DdeCommandKind::Close},
};

}  // namespace

std::vector<DdeCommand> ParseDdeCommands(std::string_view text) {
    std::vector<DdeCommand> commands;
    // An execute block may carry its terminating zero: the text ends there.
    if (const std::size_t zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
    for (std::size_t at = text.find('['); at != std::string_view::npos; at = text.find('[', at + 1)) {
        if (startsWithNoCase(text, at, "[Listen]")) {
            commands.push_back({DdeCommandKind::Listen, {}});
        } else if (startsWithNoCase(text, at, "[Listen On]")) {
            commands.push_back({DdeCommandKind::ListenOn, {}});
        } else if (startsWithNoCase(text, at, "[Listen Off]")) {
            commands.push_back({DdeCommandKind::ListenOff, {}});
        }
        // "[Connect", one separator character, the number, "]". The number
        // starts after the separator, so "[Connect]" has none and runs nothing.
        // The closing bracket is the command's own first one: looked for from
        // the separator, "[Connect][Listen]" would dial "[Listen".
        constexpr std::string_view kConnect = "[Connect";
        if (startsWithNoCase(text, at, kConnect)) {
            const std::size_t from = at + kConnect.size() + 1;
            const std::size_t close = text.find(']', at);
            std::string number;
            if (close != std::string_view::npos && close >= from && takeArgument(text, from, close, number)) {
                commands.push_back({DdeCommandKind::Connect, std::move(number)});
            }
            continue;
        }
        bool matched = false;
        for (const Plain& plain : kChain) {
            if (startsWithNoCase(text, at, plain.text)) {
                commands.push_back({plain.kind, {}});
                matched = true;
                break;
            }
        }
        if (matched) {
            // The frame closes: nothing after this acts on it.
            if (commands.back().kind == DdeCommandKind::Close) break;
            continue;
        }
        for (const auto& [prefix, kind] : {std::pair{std::string_view("[Queue_File"), DdeCommandKind::QueueFile},
                                           std::pair{std::string_view("[Send_File"), DdeCommandKind::SendFile}}) {
            if (!startsWithNoCase(text, at, prefix)) continue;
            const std::size_t open = text.find('(', at);
            std::string path;
            if (open != std::string_view::npos && takeArgument(text, open + 1, text.find(')', open + 1), path)) {
                commands.push_back({kind, std::move(path)});
            }
            break;
        }
    }
    return commands;
}

CDdeServer::CDdeServer(CMainFrame& frame, std::string service) : m_frame(frame), m_service(std::move(service)) {}

bool CDdeServer::Create() { return create(kDdeWindowClass, m_service); }

void CDdeServer::DoDDECommands(std::string_view text) {
    for (const DdeCommand& command : ParseDdeCommands(text)) {
        LUMO_TRACE(3, "CMainFrame::DoDDECommands() command %d %s", static_cast<int>(command.kind),
                   command.argument.c_str());
        CPacketConnection* link = m_frame.Connection();
        switch (command.kind) {
        case DdeCommandKind::Listen:
            m_frame.SetListenOn(0);
            break;
        case DdeCommandKind::ListenOn:
            if (link != nullptr && !link->IsListeningFor(2)) m_frame.SetListenOn(0);
            break;
        case DdeCommandKind::ListenOff:
            if (link != nullptr && link->IsListeningFor(2)) m_frame.SetListenOn(0);
            break;
        case DdeCommandKind::Connect:
            m_frame.AutoConnect(command.argument);
            break;
        case DdeCommandKind::Disconnect:
            m_frame.OnCommand(ID_CONNECT_DISCONNECT);
            break;
        case DdeCommandKind::SendBusinessCard:
            m_frame.OnSendSiteInfo();
            break;
        case DdeCommandKind::SendVideo:
        case DdeCommandKind::StopVideo:
            break;
        case DdeCommandKind::Close:
            m_frame.OnClose();
            break;
        case DdeCommandKind::QueueFile:
        case DdeCommandKind::SendFile:
            if (!m_frame.SendFile(command.argument, "")) {
                LUMO_TRACE(3, "CMainFrame::DoDDECommands() %s was not queued", command.argument.c_str());
            }
            break;
        }
    }
}

void CDdeServer::post(platform::HWND client, UINT ddeMessage, const void* data, DWORD bytes) {
    platform::COPYDATASTRUCT copy{ddeMessage, bytes, const_cast<void*>(data)};
    if (!platform::PostMessage(client, platform::WM_COPYDATA, hwnd(), reinterpret_cast<LPARAM>(&copy))) {
        LUMO_TRACE(3, "CDdeServer: the client %lu is gone", static_cast<unsigned long>(client));
    }
}

LRESULT CDdeServer::onInitiate(platform::HWND client, std::string_view data) {
    const std::string_view application = data.substr(0, data.find('\0'));
    if (application.size() != m_service.size() ||
        ::strncasecmp(application.data(), m_service.data(), m_service.size()) != 0) {
        return 0;
    }
    std::string names = m_service + '\0' + m_service + '\0';
    post(client, WM_DDE_ACK, names.data(), static_cast<DWORD>(names.size()));
    return 1;
}

void CDdeServer::onExecute(platform::HWND client, const BYTE* data, DWORD bytes) {
    DdeAckRecord ack{};
    if (data == nullptr || bytes < sizeof(DdeExecuteHeader) || bytes > kDdeMaxExecuteBytes) {
        // A block that cannot be used is refused.
        LUMO_TRACE(1, "CMainFrame::OnDDEExecute() the command block of %lu bytes cannot be used",
                   static_cast<unsigned long>(bytes));
        if (data != nullptr && bytes >= sizeof(DdeExecuteHeader)) std::memcpy(&ack.block, data, sizeof ack.block);
        post(client, WM_DDE_ACK, &ack, sizeof ack);
        return;
    }
    std::memcpy(&ack.block, data, sizeof ack.block);
    const std::string text(reinterpret_cast<const char*>(data) + sizeof(DdeExecuteHeader),
                           bytes - sizeof(DdeExecuteHeader));
    // The acknowledgement goes first: a "[Close]" may end the program before
    // the commands return.
    ack.status = kDdeAckAcknowledged;
    post(client, WM_DDE_ACK, &ack, sizeof ack);
    DoDDECommands(text);
}

void CDdeServer::onRequest(platform::HWND client, std::string_view item) {
    item = item.substr(0, item.find('\0'));
    std::string reply(sizeof(DdeDataHeader), '\0');
    const DdeDataHeader header{kDdeDataResponse, kCfText};
    std::memcpy(reply.data(), &header, sizeof header);
    reply.append(item);
    reply += '\r';
    reply += '\0';
    post(client, WM_DDE_DATA, reply.data(), static_cast<DWORD>(reply.size()));
}

LRESULT CDdeServer::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != platform::WM_COPYDATA || lParam == 0) return MessageWindow::WindowProc(msg, wParam, lParam);
    const auto* copy = reinterpret_cast<const platform::COPYDATASTRUCT*>(lParam);
    const auto client = static_cast<platform::HWND>(wParam);
    const auto* bytes = static_cast<const BYTE*>(copy->lpData);
    const std::string_view text(reinterpret_cast<const char*>(bytes), bytes != nullptr ? copy->cbData : 0);
    switch (copy->dwData) {
    case WM_DDE_INITIATE:
        return onInitiate(client, text);
    case WM_DDE_EXECUTE:
        onExecute(client, bytes, copy->cbData);
        return 1;
    case WM_DDE_REQUEST:
        onRequest(client, text);
        return 1;
    case WM_DDE_TERMINATE:
        m_frame.MarkUiHidden();
        return 1;
    default:
        // Acks, advise, unadvise, poke and data: read and ignored.
        return 1;
    }
}

}  // namespace trennick
