#pragma once
// The telephony library's interface (libvelmoortapi.so, bound at run time by
// its callers): result codes, callback messages, states and capabilities, the
// records its line functions fill, a modem line's device configuration and the
// caller's dialogs it shows.
//
// Each record starts with its total size (set by the caller) and the size the
// library needed and used. The device configuration is stored and travels
// between the caller and the library as its 80 bytes.

#include "platform/types.h"

#include <cstdint>
#include <string>

namespace telephony {

using HLINEAPP = DWORD;
using HLINE = DWORD;
using HCALL = DWORD;
// Line callback: device, message, the instance given to lineOpen, three parameters.
using LINECALLBACK = void (*)(DWORD device, DWORD message, std::uintptr_t instance, std::uintptr_t param1,
                              std::uintptr_t param2, std::uintptr_t param3);

// Result codes.
inline constexpr LONG LINEERR_ALLOCATED = static_cast<LONG>(0x80000001);
inline constexpr LONG LINEERR_CALLUNAVAIL = static_cast<LONG>(0x80000007);
inline constexpr LONG LINEERR_INIFILECORRUPT = static_cast<LONG>(0x8000000E);
inline constexpr LONG LINEERR_INVALCARD = static_cast<LONG>(0x8000001E);
inline constexpr LONG LINEERR_INVALLOCATION = static_cast<LONG>(0x8000002D);
inline constexpr LONG LINEERR_NODEVICE = static_cast<LONG>(0x80000042);
inline constexpr LONG LINEERR_NODRIVER = static_cast<LONG>(0x80000043);
inline constexpr LONG LINEERR_NOMEM = static_cast<LONG>(0x80000044);
inline constexpr LONG LINEERR_OPERATIONFAILED = static_cast<LONG>(0x80000048);
inline constexpr LONG LINEERR_OPERATIONUNAVAIL = static_cast<LONG>(0x80000049);
inline constexpr LONG LINEERR_RESOURCEUNAVAIL = static_cast<LONG>(0x8000004B);
inline constexpr LONG LINEERR_REINIT = static_cast<LONG>(0x80000052);
inline constexpr LONG LINEERR_NOMULTIPLEINSTANCE = static_cast<LONG>(0x80000056);
inline constexpr LONG LINEERR_DIALBILLING = static_cast<LONG>(0x80000061);
inline constexpr LONG LINEERR_DIALDIALTONE = static_cast<LONG>(0x80000062);
inline constexpr LONG LINEERR_DIALPROMPT = static_cast<LONG>(0x80000063);
inline constexpr LONG LINEERR_DIALQUIET = static_cast<LONG>(0x80000064);
inline constexpr LONG LINEERR_INVALPARAM = static_cast<LONG>(0x80000050);
inline constexpr LONG LINEERR_INVALPOINTER = static_cast<LONG>(0x80000065);
inline constexpr LONG LINEERR_STRUCTURETOOSMALL = static_cast<LONG>(0x80000066);
inline constexpr LONG LINEERR_INVALLINEHANDLE = static_cast<LONG>(0x80000067);
inline constexpr LONG LINEERR_INVALCALLHANDLE = static_cast<LONG>(0x80000068);
inline constexpr LONG LINEERR_BADDEVICEID = static_cast<LONG>(0x80000069);
inline constexpr LONG LINEERR_INCOMPATIBLEAPIVERSION = static_cast<LONG>(0x8000006A);
inline constexpr LONG LINEERR_INVALCALLSTATE = static_cast<LONG>(0x8000006B);

// Callback messages.
inline constexpr DWORD LINE_CALLSTATE = 2;
inline constexpr DWORD LINE_CLOSE = 3;
inline constexpr DWORD LINE_LINEDEVSTATE = 8;
inline constexpr DWORD LINE_REPLY = 12;
inline constexpr DWORD LINE_CREATE = 19;

// Call states.
inline constexpr DWORD LINECALLSTATE_IDLE = 0x00000001;
inline constexpr DWORD LINECALLSTATE_OFFERING = 0x00000002;
inline constexpr DWORD LINECALLSTATE_DIALTONE = 0x00000008;
inline constexpr DWORD LINECALLSTATE_DIALING = 0x00000010;
inline constexpr DWORD LINECALLSTATE_RINGBACK = 0x00000020;
inline constexpr DWORD LINECALLSTATE_BUSY = 0x00000040;
inline constexpr DWORD LINECALLSTATE_SPECIALINFO = 0x00000080;
inline constexpr DWORD LINECALLSTATE_CONNECTED = 0x00000100;
inline constexpr DWORD LINECALLSTATE_PROCEEDING = 0x00000200;
inline constexpr DWORD LINECALLSTATE_DISCONNECTED = 0x00004000;

// Disconnect modes (the second parameter of a DISCONNECTED call state).
inline constexpr DWORD LINEDISCONNECTMODE_NORMAL = 0x0001;
inline constexpr DWORD LINEDISCONNECTMODE_UNKNOWN = 0x0002;
inline constexpr DWORD LINEDISCONNECTMODE_REJECTED = 0x0004;
inline constexpr DWORD LINEDISCONNECTMODE_PICKUP = 0x0008;
inline constexpr DWORD LINEDISCONNECTMODE_FORWARDED = 0x0010;
inline constexpr DWORD LINEDISCONNECTMODE_BUSY = 0x0020;
inline constexpr DWORD LINEDISCONNECTMODE_NOANSWER = 0x0040;
inline constexpr DWORD LINEDISCONNECTMODE_BADADDRESS = 0x0080;
inline constexpr DWORD LINEDISCONNECTMODE_UNREACHABLE = 0x0100;
inline constexpr DWORD LINEDISCONNECTMODE_CONGESTION = 0x0200;
inline constexpr DWORD LINEDISCONNECTMODE_INCOMPATIBLE = 0x0400;
inline constexpr DWORD LINEDISCONNECTMODE_UNAVAIL = 0x0800;
inline constexpr DWORD LINEDISCONNECTMODE_NODIALTONE = 0x1000;

// Line device states.
inline constexpr DWORD LINEDEVSTATE_RINGING = 0x00000004;
inline constexpr DWORD LINEDEVSTATE_DISCONNECTED = 0x00000040;
inline constexpr DWORD LINEDEVSTATE_MAINTENANCE = 0x00000100;
inline constexpr DWORD LINEDEVSTATE_OUTOFSERVICE = 0x00000080;
inline constexpr DWORD LINEDEVSTATE_REINIT = 0x00040000;
inline constexpr DWORD LINEDEVSTATE_REMOVED = 0x01000000;

// Capabilities.
inline constexpr DWORD LINEBEARERMODE_VOICE = 0x0001;
inline constexpr DWORD LINEMEDIAMODE_DATAMODEM = 0x0010;
inline constexpr DWORD LINEFEATURE_MAKECALL = 0x0008;
inline constexpr DWORD LINEADDRFEATURE_MAKECALL = 0x0004;
inline constexpr DWORD LINEADDRCAPFLAGS_PARTIALDIAL = 0x0800;
inline constexpr DWORD LINEDEVCAPFLAGS_DIALBILLING = 0x0040;
inline constexpr DWORD LINEDEVCAPFLAGS_DIALQUIET = 0x0080;
inline constexpr DWORD LINEDEVCAPFLAGS_DIALDIALTONE = 0x0100;
inline constexpr DWORD LINECALLPRIVILEGE_NONE = 0x0001;
inline constexpr DWORD LINECALLPRIVILEGE_MONITOR = 0x0002;
inline constexpr DWORD LINECALLPRIVILEGE_OWNER = 0x0004;
inline constexpr DWORD LINECALLFEATURE_DIAL = 0x0008;

struct LineDevCaps {
    DWORD totalSize = sizeof(LineDevCaps);
    DWORD neededSize = 0;
    DWORD usedSize = 0;
    DWORD bearerModes = 0;
    DWORD mediaModes = 0;
    DWORD devCapFlags = 0;
    DWORD lineFeatures = 0;
    DWORD maxRate = 0;
    char lineName[128] = {};
};
struct LineAddressCaps {
    DWORD totalSize = sizeof(LineAddressCaps);
    DWORD neededSize = 0;
    DWORD usedSize = 0;
    DWORD addrCapFlags = 0;
};
struct LineAddressStatus {
    DWORD totalSize = sizeof(LineAddressStatus);
    DWORD neededSize = 0;
    DWORD usedSize = 0;
    DWORD addressFeatures = 0;
};
struct LineCallStatus {
    DWORD totalSize = sizeof(LineCallStatus);
    DWORD neededSize = 0;
    DWORD usedSize = 0;
    DWORD callState = 0;
    DWORD callFeatures = 0;
};
struct LineCallInfo {
    DWORD totalSize = sizeof(LineCallInfo);
    DWORD neededSize = 0;
    DWORD usedSize = 0;
    DWORD rate = 0;
    DWORD privilege = 0;
};
// A variable-size answer: the header, then `stringSize` bytes at `stringOffset`
// from the record's start. For "comm/datamodem" the bytes are the open port's
// descriptor (a 32-bit number, from then on the caller's) and its device path.
struct VarString {
    DWORD totalSize = 0;
    DWORD neededSize = 0;
    DWORD usedSize = 0;
    DWORD stringSize = 0;
    DWORD stringOffset = 0;
};

// The device configuration of a modem line ("comm/datamodem"), the bytes that
// lineGetDevConfig hands out at the answer's string offset and that
// lineSetDevConfig and lineConfigDialogEdit take. The library keeps one per
// line across runs and applies it to the modem before each call.
#pragma pack(push, 1)
struct ModemDevConfig {
    char magic[4] = {'V', 'T', 'D', 'C'};
    DWORD size = 0;                 // sizeof(ModemDevConfig)
    DWORD baudRate = 57600;         // the port's speed towards the modem
    DWORD pulseDialing = 0;         // 0 tone ("ATDT"), 1 pulse ("ATDP")
    DWORD speakerMode = 1;          // ATM: 0 off, 1 on until the carrier, 2 always on
    DWORD speakerVolume = 1;        // ATL: 0 to 3
    DWORD waitForDialTone = 1;      // 1 wait for the dial tone (ATX4), 0 dial blind (ATX3)
    DWORD callSetupSeconds = 50;    // S7: how long the modem waits for the carrier, 1 to 255
    char extraInit[48] = {};        // further AT settings sent after those, without "AT"
};
#pragma pack(pop)
static_assert(sizeof(ModemDevConfig) == 80, "the stored device configuration is 80 bytes");

// The dialing location: what every line dials before a number.
struct DialingLocation {
    std::string outsideLine;          // dialled first, before a pause (",")
    std::string disableCallWaiting;   // dialled next when not empty
};

// How one of the caller's dialogs ended.
enum class LineDialogResult : LONG { Accepted, Cancelled, NobodyToAsk };

// The dialogs of lineConfigDialogEdit and lineTranslateDialog. The library has
// no windows: the caller hands it its own with SetLineDialogs(const
// LineDialogs*), and they run on the thread that called the line function,
// over the window the caller named there (`owner`). Each edits its record in
// place; the library checks what an accepted dialog leaves there before it
// keeps it, and nothing a dialog throws leaves the library.
struct LineDialogs {
    // The configuration of the line `lineName`, valid on entry.
    LineDialogResult (*editModemConfig)(void* owner, const std::string& lineName, ModemDevConfig& config);
    // The location; the sample number is to be shown as a line would dial it.
    LineDialogResult (*editDialingLocation)(void* owner, const std::string& sampleNumber, DialingLocation& location);
};

}  // namespace telephony
