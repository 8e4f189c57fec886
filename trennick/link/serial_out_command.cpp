#include "trennick/link/serial_out_command.h"

#include "trennick/link/common_base.h"
#include "trennick/link/link_trace.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace trennick {

namespace {

constexpr const char* kTokens[kSerialOutTokenSlots] = {
    "<INIT>", "<INITACK>", "<GETCONFIG>", "<GETCONFIGACK>", "<DATAWRITE>", "<DATAWRITEACK>",
    "<DATAREADCMD>", "<DATAREADCMDACK>", "<DATAREADACK>", "<TERMINATE>", "<TERMINATEACK>",
    "<ERRORACK>", "<TX>", "<RX>", "<TXRX>", "<DEFAULT>", "<RS485>", "<RS232>", "<RS422>", "<RAW>",
    "<VIRT>", "<ACKYES>", "<ACKNO>", "<WAITBUFFULL>", "<DONTWAIT>", "<RECURRENCE_TRUE>",
    "<RECURRENCE_FALSE>", "<NONE>", "<ODD>", "<EVEN>", "<MARK>", "<SPACE>", "<1>", "<1.5>", "<2>",
    "<SERIALOUT_NOERROR>", "<SERIALOUT_ERROR_GENERAL>", "<SERIALOUT_ERROR_ILLEGAL_PORT>",
    "<SERIALOUT_ERROR_ILEGAL_VIRT_COMMAND>", "<SERIALOUT_ERROR_WRITE>", "<SERIALOUT_ERROR_CRC>",
    "<SERIALOUT_ERROR_READ>", "<SERIALOUT_ERROR_TERMINATE>", "<SERIALOUT_ERROR_PARSE>",
    "<SERIALOUT_ERROR_ILLEGAL_POPRTTYPE>", "<SERIALOUT_ERROR_ILLEGAL_CMD_TOKEN>",
    "<SERIALOUT_ERROR_ILLEGAL_DEVICE_TOKEN>", "<SERIALOUT_ERROR_ILLEGAL_PORTTYPE_TOKEN>",
    "<SERIALOUT_ERROR_ILLEGAL_WORKMODE_TOKEN>", "<SERIALOUT_ERROR_ILLEGAL_TOKEN>",
    "<SERIALOUT_ERROR_ILLEGAL_BAUDRATE_TOKEN>", "<SERIALOUT_ERROR_ILLEGAL_DATABIT_TOKEN>",
    "<SERIALOUT_ERROR_ILLEGAL_PARITYBIT_TOKEN>", "<SERIALOUT_ERROR_ILLEGAL_STOPBIT_TOKEN>",
    "<SERIALOUT_ERROR_ILLEGAL_DEVICE>", "<SERIALOUT_ERROR_ILLEGAL_WORKMODE>",
    "<SERIALOUT_ERROR_ILLEGAL_BAUDRATE>", "<SERIALOUT_ERROR_ILLEGAL_DATABIT>",
    "<SERIALOUT_ERROR_ILLEGAL_PARITY>", "<SERIALOUT_ERROR_ILLEGAL_STOPBIT>",
    "<SERIALOUT_ERROR_PORT_CONFIGURATION_FAILED>", "", "", "", "",
};

// The order in which the command type is searched: answers before the
// commands whose tokens they begin with.
constexpr WORD kTypeSearch[] = {SO_INITACK, SO_GETCONFIGACK, SO_DATAWRITEACK, SO_DATAREADACK,
                                SO_DATAREADCMDACK, SO_TERMINATEACK, SO_ERRORACK, SO_INIT,
                                SO_GETCONFIG, SO_DATAWRITE, SO_DATAREADCMD, SO_TERMINATE};

struct ResultEntry {
    const char* token;
    LONG code;
};
constexpr ResultEntry kResults[] = {
    {"<SERIALOUT_NOERROR>", 0}, {"<SERIALOUT_ERROR_GENERAL>", 1}, {"<SERIALOUT_ERROR_ILLEGAL_PORT>", 8},
    {"<SERIALOUT_ERROR_ILEGAL_VIRT_COMMAND>", 9}, {"<SERIALOUT_ERROR_WRITE>", 12}, {"<WAITBUFFULL>", 10},
    {"<SERIALOUT_ERROR_READ>", 13}, {"<SERIALOUT_ERROR_TERMINATE>", 14},
    {"<SERIALOUT_ERROR_ILLEGAL_CMD_TOKEN>", 15}, {"<SERIALOUT_ERROR_ILLEGAL_DEVICE_TOKEN>", 16},
    {"<SERIALOUT_ERROR_ILLEGAL_PORTTYPE_TOKEN>", 17}, {"<SERIALOUT_ERROR_ILLEGAL_WORKMODE_TOKEN>", 18},
    {"<SERIALOUT_ERROR_ILLEGAL_TOKEN>", 23}, {"<SERIALOUT_ERROR_PARSE>", 11},
    {"<SERIALOUT_ERROR_ILLEGAL_BAUDRATE_TOKEN>", 19}, {"<SERIALOUT_ERROR_ILLEGAL_DATABIT_TOKEN>", 20},
    {"<SERIALOUT_ERROR_ILLEGAL_PARITYBIT_TOKEN>", 21}, {"<SERIALOUT_ERROR_ILLEGAL_STOPBIT_TOKEN>", 22},
    {"<SERIALOUT_ERROR_ILLEGAL_DEVICE>", 24}, {"<SERIALOUT_ERROR_ILLEGAL_WORKMODE>", 25},
    {"<SERIALOUT_ERROR_ILLEGAL_BAUDRATE>", 26}, {"<SERIALOUT_ERROR_ILLEGAL_DATABIT>", 27},
    {"<SERIALOUT_ERROR_ILLEGAL_PARITY>", 28}, {"<SERIALOUT_ERROR_ILLEGAL_STOPBIT>", 29},
    {"<SERIALOUT_ERROR_ILLEGAL_POPRTTYPE>", 30}, {"<SERIALOUT_ERROR_PORT_CONFIGURATION_FAILED>", 33},
};

bool same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CCommon::FindStringNoCase(a, b) == 0;
}

// Reads the fields of a message behind a cursor.
class FieldReader {
public:
    FieldReader(const BYTE* m, DWORD length, DWORD cursor) : m_m(m), m_length(length), m_at(cursor) {}

    // The next "<...>" field with its brackets (at most 259 characters).
    std::optional<std::string> token() {
        const auto open = find('<', m_at);
        if (!open) return std::nullopt;
        const auto close = find('>', *open);
        if (!close) return std::nullopt;
        m_at = *close + 1;
        const DWORD n = std::min<DWORD>(*close + 1 - *open, 259);
        return std::string(reinterpret_cast<const char*>(m_m + *open), n);
    }
    std::optional<DWORD> number() {
        auto t = token();
        if (!t) return std::nullopt;
        return static_cast<DWORD>(std::strtoul(t->c_str() + 1, nullptr, 10));
    }
    std::optional<WORD> u16() {
        if (m_at > m_length || m_length - m_at < 2) return std::nullopt;
        const WORD v = static_cast<WORD>(m_m[m_at] | (m_m[m_at + 1] << 8));
        m_at += 2;
        return v;
    }
    bool bytes(DWORD n, std::vector<BYTE>& out) {
        if (m_at > m_length || m_length - m_at < n) return false;
        out.assign(m_m + m_at, m_m + m_at + n);
        m_at += n;
        return true;
    }

private:
    std::optional<DWORD> find(char c, DWORD from) const {
        for (DWORD i = from; i < m_length; ++i) {
            if (m_m[i] == static_cast<BYTE>(c)) return i;
        }
        return std::nullopt;
    }
    const BYTE* m_m;
    DWORD m_length;
    DWORD m_at;
};

struct TraceScope {
    explicit TraceScope(const char* name) : m_name(name) { linkTrace(5, "ENTER %s", m_name); }
    ~TraceScope() { linkTrace(5, "LEAVE %s", m_name); }
    const char* m_name;
};

bool readResult(FieldReader& reader, SerialOutMessage& out) {
    auto t = reader.token();
    if (!t) return false;
    return CSerialOutCommand::ResultCodeOfToken(*t, out.resultCode) != FALSE;
}

}  // namespace

std::string_view serialOutToken(int index) {
    return (index >= 0 && index < kSerialOutTokenSlots) ? std::string_view(kTokens[index]) : std::string_view();
}

CSerialOutCommand::CSerialOutCommand() : m_message(kSerialOutMessageBytes, 0) {}
CSerialOutCommand::~CSerialOutCommand() = default;

bool CSerialOutCommand::begin() {
    std::fill(m_message.begin(), m_message.end(), BYTE{0});
    m_length = 0;
    m_overflow = false;
    return true;
}

bool CSerialOutCommand::putBytes(const BYTE* data, DWORD length) {
    // One byte stays zero so the message can be traced as text.
    if (m_overflow || length >= kSerialOutMessageBytes - m_length) {
        m_overflow = true;
        return false;
    }
    if (length != 0) std::memcpy(m_message.data() + m_length, data, length);
    m_length += length;
    return true;
}

bool CSerialOutCommand::put(std::string_view text) {
    return putBytes(reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()));
}

bool CSerialOutCommand::putNumber(const char* format, unsigned value) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, format, value);
    return put(std::string_view(text, static_cast<std::size_t>(n)));
}

bool CSerialOutCommand::putU16(WORD value) {
    const BYTE bytes[2] = {static_cast<BYTE>(value & 0xFF), static_cast<BYTE>(value >> 8)};
    return putBytes(bytes, 2);
}

BOOL CSerialOutCommand::finish(const char* builder, WORD& length) {
    if (m_overflow) {
        linkTrace(1, "CSerialOutCommand::%s message does not fit %lu bytes", builder,
                  static_cast<unsigned long>(kSerialOutMessageBytes));
        begin();
        length = 0;
        return FALSE;
    }
    length = static_cast<WORD>(m_length);
    linkTrace(5, "CSerialOutCommand::%s BucketBuff : %s ", builder, reinterpret_cast<const char*>(m_message.data()));
    return TRUE;
}

namespace {
std::string_view directionToken(WORD d) {
    switch (d) {
    case 0: return kTokens[13];
    case 1: return kTokens[12];
    case 2: return kTokens[14];
    default: return kTokens[15];
    }
}
std::string_view parityToken(WORD p) {
    switch (p) {
    case 0: return kTokens[27];
    case 1: return kTokens[28];
    case 2: return kTokens[29];
    case 3: return kTokens[30];
    case 4: return kTokens[31];
    default: return kTokens[15];
    }
}
std::string_view stopBitsToken(WORD s) {
    switch (s) {
    case 0: return kTokens[32];
    case 1: return kTokens[33];
    case 2: return kTokens[34];
    default: return kTokens[15];
    }
}
std::string_view workModeToken(WORD w) {
    return w == 0 ? kTokens[19] : w == 1 ? kTokens[20] : std::string_view();
}
}  // namespace

BOOL CSerialOutCommand::BuildSetSerialOutConfig(WORD port, WORD direction, DWORD baudRate, DWORD dataBits,
                                                WORD parity, WORD stopBits, WORD& length) {
    begin();
    put(kTokens[SO_INIT]);
    putNumber("<%2u>", port);
    put(kTokens[15]);
    put(kTokens[19]);
    put(directionToken(direction));
    putNumber("<%u>", baudRate);
    putNumber("<%u>", dataBits);
    put(parityToken(parity));
    put(stopBitsToken(stopBits));
    put(kTokens[15]);
    return finish("BuildSetSerialOutConfig", length);
}

BOOL CSerialOutCommand::BuildGetSerialOutConfig(WORD port, WORD& length) {
    begin();
    put(kTokens[SO_GETCONFIG]);
    putNumber("<%2u>", port);
    return finish("BuildGetSerialOutConfig", length);
}

BOOL CSerialOutCommand::BuildSetSerialOutProtocol(const char* protocolName, WORD& length) {
    begin();
    put(kTokens[SO_INIT]);
    put(kTokens[15]);
    put("<");
    put(protocolName != nullptr ? std::string_view(protocolName) : std::string_view());
    put(">");
    put(kTokens[20]);
    for (int i = 0; i < 6; ++i) put(kTokens[15]);
    return finish("BuildSetSerialOutProtocol", length);
}

BOOL CSerialOutCommand::BuildSerialOutDataWrite(WORD port, BOOL acknowledge, WORD workMode, WORD parameter,
                                                const BYTE* data, WORD dataLength, WORD& length) {
    begin();
    put(kTokens[SO_DATAWRITE]);
    putNumber("<%2u>", port);
    put(acknowledge ? kTokens[21] : kTokens[22]);
    put(workModeToken(workMode));
    putU16(parameter);
    putU16(dataLength);
    if (data == nullptr && dataLength != 0) {
        m_overflow = true;
    } else {
        putBytes(data, dataLength);
    }
    return finish("BuildSerialOutDataWrite", length);
}

BOOL CSerialOutCommand::BuildSerialOutDataRead(WORD port, BOOL acknowledge, WORD workMode, BOOL wait,
                                               BOOL recurrence, WORD parameter, WORD count, WORD& length) {
    begin();
    put(kTokens[SO_DATAREADCMD]);
    putNumber("<%2u>", port);
    put(acknowledge ? kTokens[21] : kTokens[22]);
    put(workModeToken(workMode));
    put(wait ? kTokens[23] : kTokens[24]);
    put(recurrence ? kTokens[25] : kTokens[26]);
    putU16(parameter);
    putU16(count);
    return finish("BuildSerialOutDataRead", length);
}

BOOL CSerialOutCommand::BuildTermSerialOut(WORD port, WORD& length) {
    begin();
    put(kTokens[SO_TERMINATE]);
    putNumber("<%2u>", port);
    return finish("BuildTermSerialOut", length);
}

BOOL CSerialOutCommand::ResultCodeOfToken(std::string_view token, LONG& code) {
    for (const auto& entry : kResults) {
        if (CCommon::FindStringNoCase(entry.token, token) >= 0) {
            code = entry.code;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CSerialOutCommand::DispatchSerialOutCommandType(const BYTE* message, DWORD length, WORD& type) {
    linkTrace(5, "CSerialOutCommand::DispatchSerialOutCommandType BucketLen = %d ", static_cast<int>(length));
    if (message == nullptr) return FALSE;
    for (WORD candidate : kTypeSearch) {
        const std::string_view token = kTokens[candidate];
        if (CCommon::FindDataNoCase(reinterpret_cast<const BYTE*>(token.data()), message,
                                    static_cast<DWORD>(token.size()), length) >= 0) {
            type = candidate;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CSerialOutCommand::DispatchSerialOutMessage(const BYTE* message, DWORD length, SerialOutMessage& out) {
    WORD type = 0;
    if (!DispatchSerialOutCommandType(message, length, type)) {
        return FALSE;
    }
    out.type = type;
    const std::string_view token = kTokens[type];
    const LONG at = CCommon::FindDataNoCase(reinterpret_cast<const BYTE*>(token.data()), message,
                                            static_cast<DWORD>(token.size()), length);
    const DWORD cursor = static_cast<DWORD>(at) + static_cast<DWORD>(token.size());
    switch (type) {
    case SO_INITACK: return DispatchInitAckParam(message, length, cursor, out);
    case SO_GETCONFIGACK: return DispatchGetConfigAckParam(message, length, cursor, out);
    case SO_DATAWRITEACK: return DispatchWriteAckParam(message, length, cursor, out);
    case SO_DATAREADCMDACK: return DispatchDataReadCmdAckParam(message, length, cursor, out);
    case SO_DATAREADACK: return DispatchDataReadAckParam(message, length, cursor, out);
    case SO_TERMINATEACK: return DispatchTerminateAckParam(message, length, cursor, out);
    case SO_ERRORACK: return DispatchErrorAckParam(message, length, cursor, out);
    default: return TRUE;  // a command: its type is all the answering side needs here
    }
}

namespace {
BOOL portAndResult(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out) {
    FieldReader reader(m, length, cursor);
    auto port = reader.number();
    if (!port) return FALSE;
    out.port = static_cast<WORD>(*port);
    return readResult(reader, out) ? TRUE : FALSE;
}
}  // namespace

BOOL CSerialOutCommand::DispatchInitAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out) {
    TraceScope scope("CSerialOutCommand::DispatchInitAckParam");
    return portAndResult(m, length, cursor, out);
}

BOOL CSerialOutCommand::DispatchWriteAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out) {
    TraceScope scope("CSerialOutCommand::DispatchWriteAckParam");
    return portAndResult(m, length, cursor, out);
}

BOOL CSerialOutCommand::DispatchDataReadCmdAckParam(const BYTE* m, DWORD length, DWORD cursor,
                                                    SerialOutMessage& out) {
    TraceScope scope("CSerialOutCommand::DispatchDataReadCmdAckParam");
    return portAndResult(m, length, cursor, out);
}

BOOL CSerialOutCommand::DispatchTerminateAckParam(const BYTE* m, DWORD length, DWORD cursor,
                                                  SerialOutMessage& out) {
    TraceScope scope("CSerialOutCommand::DispatchTerminateAckParam");
    return portAndResult(m, length, cursor, out);
}

BOOL CSerialOutCommand::DispatchGetConfigAckParam(const BYTE* m, DWORD length, DWORD cursor,
                                                  SerialOutMessage& out) {
    TraceScope scope("CSerialOutCommand::DispatchGetConfigAckParam");
    FieldReader reader(m, length, cursor);
    auto port = reader.number();
    auto portType = reader.token();
    auto workMode = reader.token();
    auto direction = reader.token();
    auto baud = reader.token();
    auto dataBits = reader.token();
    auto parity = reader.token();
    auto stopBits = reader.token();
    if (!port || !portType || !workMode || !direction || !baud || !dataBits || !parity || !stopBits) {
        return FALSE;
    }
    out.port = static_cast<WORD>(*port);
    out.portType = same(*portType, "<RS232>") ? 0 : same(*portType, "<RS422>") ? 1 : same(*portType, "<RS485>") ? 2 : -1;
    out.workMode = same(*workMode, "<RAW>") ? 0 : same(*workMode, "<VIRT>") ? 1 : -1;
    out.direction = same(*direction, "<RX>") ? 0 : same(*direction, "<TX>") ? 1 : same(*direction, "<TXRX>") ? 2 : -1;
    out.baudRate = same(*baud, "<DEFAULT>") ? 9600u : static_cast<DWORD>(std::strtoul(baud->c_str() + 1, nullptr, 10));
    out.dataBits = same(*dataBits, "<DEFAULT>") ? 8u : static_cast<DWORD>(std::strtoul(dataBits->c_str() + 1, nullptr, 10));
    if (same(*parity, "<DEFAULT>") || same(*parity, "<NONE>")) out.parity = 0;
    else if (same(*parity, "<ODD>")) out.parity = 1;
    else if (same(*parity, "<EVEN>")) out.parity = 2;
    else if (same(*parity, "<MARK>")) out.parity = 3;
    else if (same(*parity, "<SPACE>")) out.parity = 4;
    if (same(*stopBits, "<DEFAULT>") || same(*stopBits, "<1>")) out.stopBits = 0;
    else if (same(*stopBits, "<1.5>")) out.stopBits = 1;
    else if (same(*stopBits, "<2>")) out.stopBits = 2;
    return readResult(reader, out) ? TRUE : FALSE;
}

BOOL CSerialOutCommand::DispatchDataReadAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out) {
    TraceScope scope("CSerialOutCommand::DispatchDataReadAckParam");
    FieldReader reader(m, length, cursor);
    auto port = reader.number();
    if (!port) return FALSE;
    out.port = static_cast<WORD>(*port);
    auto count = reader.u16();
    if (!count || !reader.bytes(*count, out.data)) {
        return FALSE;
    }
    return readResult(reader, out) ? TRUE : FALSE;
}

BOOL CSerialOutCommand::DispatchErrorAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out) {
    TraceScope scope("CSerialOutCommand::DispatchTerminateAckParam");
    FieldReader reader(m, length, cursor);
    auto port = reader.number();
    auto second = reader.number();
    if (!port || !second) return FALSE;
    out.port = static_cast<WORD>(*port);
    out.second = static_cast<WORD>(*second);
    return readResult(reader, out) ? TRUE : FALSE;
}

}  // namespace trennick
