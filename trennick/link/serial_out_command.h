#pragma once
// CSerialOutCommand: the messages that drive the serial ports of a serial-out
// device over the link (or locally): builders for the commands and a parser
// for the commands and the device's answers. A message is a run of
// angle-bracket tokens, followed for data by 16-bit fields and raw bytes.
//
// One thread at a time (the builders share one message buffer). A builder
// fails (FALSE, length 0) when the message would not fit its buffer; the
// parser fails on a missing field or an unknown command; nothing throws.

#include "platform/types.h"

#include <string>
#include <string_view>
#include <vector>

namespace trennick {

inline constexpr int kSerialOutTokenSlots = 65;
inline constexpr DWORD kSerialOutMessageBytes = 1000;

// Command types: the index of the command's token.
enum SerialOutCommandType : WORD {
    SO_INIT = 0, SO_INITACK = 1, SO_GETCONFIG = 2, SO_GETCONFIGACK = 3, SO_DATAWRITE = 4,
    SO_DATAWRITEACK = 5, SO_DATAREADCMD = 6, SO_DATAREADCMDACK = 7, SO_DATAREADACK = 8,
    SO_TERMINATE = 9, SO_TERMINATEACK = 10, SO_ERRORACK = 11,
};

// The token of a table index (0-64); empty for the unfilled slots.
std::string_view serialOutToken(int index);

// What the parser read from a message.
struct SerialOutMessage {
    WORD type = 0;
    WORD port = 0;
    WORD second = 0;          // "<ERRORACK>": the second number
    LONG resultCode = -1;     // from the result token; -1 when none was read
    // Configuration of "<GETCONFIGACK>" in the value table's terms.
    LONG portType = -1;       // 0 RS232, 1 RS422, 2 RS485
    LONG workMode = -1;       // 0 raw, 1 virtual
    LONG direction = -1;      // 0 RX, 1 TX, 2 TXRX, -1 default
    DWORD baudRate = 0;
    DWORD dataBits = 0;
    LONG parity = -1;
    LONG stopBits = -1;
    std::vector<BYTE> data;   // "<DATAREADACK>": the bytes read
};

class CSerialOutCommand {
public:
    CSerialOutCommand();
    virtual ~CSerialOutCommand();
    CSerialOutCommand(const CSerialOutCommand&) = delete;
    CSerialOutCommand& operator=(const CSerialOutCommand&) = delete;

    // Builders: the message is in Message() and its length in `length`.
    BOOL BuildSetSerialOutConfig(WORD port, WORD direction, DWORD baudRate, DWORD dataBits, WORD parity,
                                 WORD stopBits, WORD& length);
    BOOL BuildGetSerialOutConfig(WORD port, WORD& length);
    BOOL BuildSetSerialOutProtocol(const char* protocolName, WORD& length);
    BOOL BuildSerialOutDataWrite(WORD port, BOOL acknowledge, WORD workMode, WORD parameter,
                                 const BYTE* data, WORD dataLength, WORD& length);
    BOOL BuildSerialOutDataRead(WORD port, BOOL acknowledge, WORD workMode, BOOL wait, BOOL recurrence,
                                WORD parameter, WORD count, WORD& length);
    BOOL BuildTermSerialOut(WORD port, WORD& length);
    const BYTE* Message() const { return m_message.data(); }

    // Finds the command type of a message; FALSE when it holds no command token.
    BOOL DispatchSerialOutCommandType(const BYTE* message, DWORD length, WORD& type);
    // Finds the type and reads the parameters of an answer into `out`.
    BOOL DispatchSerialOutMessage(const BYTE* message, DWORD length, SerialOutMessage& out);

    // Parameter parsers; `cursor` starts behind the command token.
    BOOL DispatchInitAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out);
    BOOL DispatchGetConfigAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out);
    BOOL DispatchWriteAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out);
    BOOL DispatchDataReadCmdAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out);
    BOOL DispatchDataReadAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out);
    BOOL DispatchTerminateAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out);
    BOOL DispatchErrorAckParam(const BYTE* m, DWORD length, DWORD cursor, SerialOutMessage& out);

    // Result token to result code; FALSE (code unchanged) when none matches.
    static BOOL ResultCodeOfToken(std::string_view token, LONG& code);

private:
    bool begin();
    bool put(std::string_view text);
    bool putNumber(const char* format, unsigned value);
    bool putU16(WORD value);
    bool putBytes(const BYTE* data, DWORD length);
    BOOL finish(const char* builder, WORD& length);

    std::vector<BYTE> m_message;
    DWORD m_length = 0;
    bool m_overflow = false;
};

}  // namespace trennick
