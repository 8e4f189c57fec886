#pragma once
// The block that travels on the kit channel in both directions: a request from
// a kit client to the recorder, or a notification from the recorder to a kit
// client. Each message carries a fresh shared-memory block of exactly this size;
// the receiver reads its arguments from the payload and may write answers back
// into it before the send returns.

#include "platform/types.h"

#include <cstddef>

namespace trennick {

#pragma pack(push, 1)
struct TessBlock {
    DWORD dwSenderId;   // client id (the client's window) in a request; the recorder's window in a notification
    WORD wCode;         // request or notification code
    WORD wReserved;     // 0
    BYTE payload[1024];
};
#pragma pack(pop)
static_assert(sizeof(TessBlock) == 1032);
static_assert(offsetof(TessBlock, payload) == 8);

inline constexpr std::size_t kTessBlockBytes = sizeof(TessBlock);
inline constexpr std::size_t kTessPayloadBytes = sizeof(TessBlock::payload);

// The recorder's information that a client gets on registration and with the
// announcement and the goodbye.
inline constexpr std::size_t kTessInfoBytes = 56;
inline constexpr std::size_t kTessInfoModeOffset = 50;  // u16: the recorder's current mode

// Window title of the recorder's channel window (the instance id follows it).
inline constexpr const char kTessWindowTitle[] = "TESS integration module";
// The registered message names.
inline constexpr const char kTessOutMessageName[] = "Corvasta TESS OUT";  // kit -> recorder
inline constexpr const char kTessInMessageName[] = "Corvasta TESS IN";    // recorder -> kit

// The kit's error numbers that the recorder's handlers answer with.
enum TESS_ERROR : LONG {
    TESS_ERROR_NONE = 0,
    TESS_ERROR_METHOD_UNSUPPORTED = 3,
    TESS_ERROR_LOCKED = 51,
};
// Answer of a request whose block could not be used.
inline constexpr LONG kTessBlockRefused = 1;

// Request codes (kit -> recorder) the base class handles itself.
inline constexpr WORD kTessRequestRegister = 0;
inline constexpr WORD kTessRequestUnregister = 1;
inline constexpr WORD kTessRequestOwnerLock = 8;
inline constexpr WORD kTessRequestSecondOwnerLock = 9;
inline constexpr WORD kTessRequestChangeMode = 11;
inline constexpr WORD kTessRequestReceiverId = 40;
inline constexpr WORD kTessLastRequest = 70;
// Payload offset of the receiver id text of request 40.
inline constexpr std::size_t kTessReceiverIdOffset = 555;

// Notification codes (recorder -> kit).
enum TessNotification : WORD {
    kTessAnnounce = 0,
    kTessGoodbye = 1,
    kTessBeforeModeChanged = 2,
    kTessAuthorizationError = 3,
    kTessAlarmDetected = 4,
    kTessAfterConnect = 5,
    kTessAfterDisconnect = 6,
    kTessBeforeDialOnAlarm = 7,
    kTessGroupsChanged = 8,
    kTessVideoIsStreaming = 9,
    kTessFileAccepted = 10,
    kTessFileStarted = 11,
    kTessRecordStart = 12,
    kTessRecordFinish = 13,
    kTessFullEvents = 14,
    kTessEventModeChanged = 15,
    kTessMemoryFree = 16,
    kTessSetSerialOutConfigAck = 17,
    kTessGetSerialOutConfigAck = 18,
    kTessSerialOutDataWriteAck = 19,
    kTessSerialOutDataRead = 20,
    kTessTermSerialOutAck = 21,
    kTessSerialOutError = 22,
    kTessSerialOutDataReadAck = 23,
    kTessSetActiveProtocol = 24,
    kTessListDownloadStarted = 25,
    kTessListDownloadFinished = 26,
    kTessEventDownloadStarted = 27,
    kTessEventDownloadFinished = 28,
    kTessLineConnected = 29,
    kTessLineDisconnected = 30,
    kTessLineRing = 31,
    kTessGetProfileDone = 32,
    kTessSetProfileDone = 33,
};

}  // namespace trennick
