#pragma once
// The pieces of file transfer over the link that do not need a link: the
// transfer states, the announcement and its parser, the escaping of file
// blocks, the check of a file name that came from the wire, and the transfer
// rate. The transfer itself is FileTransfer (link_file_transfer.h).

#include "platform/types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trennick {

// File kinds of a transfer; any other value is a clipboard dump of that format.
inline constexpr int kFileKindAny = 0;
inline constexpr int kFileKindEvent = 1;
inline constexpr int kFileKindEventList = 2;
inline constexpr int kFileKindRemoteSettings = 3;
inline constexpr int kFileKindSystemSettings = 4;
inline constexpr int kFileKindCardPicture = -1;
// A clipboard file: announced by the clipboard token and known by its name
// alone ("Text.clp", ...). The clipboard's own format numbers would clash with
// the kinds 1 to 4 above, so the format never travels as the kind.
inline constexpr int kFileKindClipboard = 0x10000;

// The kind a file is sent as by the type text it is queued with ("Event
// File", "Event List", "Set List", "Set Sys List"; anything else an ordinary file).
int FileKindOfTypeText(std::string_view typeText);

// File transfer states. The numbers are those the status getters return.
enum FileSendState : LONG {
    SEND_IDLE = 0, SEND_ANNOUNCED = 2, SEND_SENDING = 3, SEND_REFUSED = 4, WAIT_CRC_CONFIRM = 5,
    // 6: the send ended without a fault (the file went whole, or was empty).
    // A cancelled send ends stopped (SEND_STOPPED), never in this state.
    SEND_COMPLETE = 6, SEND_USER_DISCONNECTING = 9,
};
enum FileReceiveState : LONG {
    REC_IDLE = 0, REC_READY = 1, REC_RECEIVING = 2, REC_COMPLETE = 3, REC_STOPPED = 4,
    REC_WAIT_USER = 5, REC_TIMED_OUT = 7, REC_CANCEL = 8, REC_USER_DISCONNECTING = 9,
};
// Send states beyond those above.
inline constexpr LONG SEND_CLOSED = -1;
inline constexpr LONG SEND_START = 1;
inline constexpr LONG SEND_FAILED = 7;
inline constexpr LONG SEND_STOPPED = 8;
// Receive state of a transfer that failed (bad whole-file check, write error).
inline constexpr LONG REC_FAILED = 7;

// How a transfer ended, told once to the link's owner window
// (kMsgTransferEnded): which way it went, the file's kind, the path it was
// sent from or stored at (the name as announced for a receive that did not
// complete), and the state it ended in (SEND_*, REC_*).
enum class TransferDirection { Send, Receive };
struct LinkTransferResult {
    TransferDirection direction = TransferDirection::Send;
    int fileKind = 0;
    std::string path;
    LONG result = 0;
};

// The announcement token of a kind; the event kind depends on the peer's
// capability bit 0x20.
WORD announcementToken(int kind, bool peerNewLayout);

// The announcement payload: the token, "<Name>", "<name>", "<Size>",
// "<%8lu>", "<Date>", "<%16ld,%16ld>" (high and low halves of the file time).
std::vector<BYTE> buildAnnouncement(WORD tokenId, std::string_view name, ULONGLONG length,
                                    ULONGLONG lastWriteFileTime);

struct Announcement {
    std::string name;   // as received: check it with isSafeWireFileName
    ULONGLONG size = 0;
};
// Reads the fields behind an announcement token; nullopt when a field is missing.
std::optional<Announcement> parseAnnouncement(const BYTE* body, DWORD length);

// A file name from the wire is a plain name: not empty, at most 200 bytes, no
// path separators, drive colons or control characters, no "..", not "." and
// not a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension).
bool isSafeWireFileName(std::string_view name);

// Escapes file bytes into `out` (every 0x01 doubled) until all `available`
// bytes are used or `out` holds `limit` bytes or more; returns the escaped
// length, sets `used` to the file bytes taken and `checksum` to their wire
// checksum (WireChecksum of in[0, used)). `out` needs limit + 1 bytes.
DWORD escapeBlock(const BYTE* in, DWORD available, DWORD limit, BYTE* out, DWORD& used, LONG& checksum);
// Undoes the escaping: 0x01 0x01 becomes one 0x01; other bytes are kept. The
// bytes go to `out` (room for `length` bytes); returns how many, and sets
// `checksum` to their wire checksum.
DWORD unescapeBlock(const BYTE* in, DWORD length, BYTE* out, LONG& checksum);
void unescapeBlock(const BYTE* in, DWORD length, std::vector<BYTE>& out);

// The decimal text of a whole-file checksum as it travels behind "<FCRC>"
// (16 places) and its reading; nullopt when the text holds no number.
std::string fileChecksumText(DWORD checksum);
std::optional<DWORD> readFileChecksum(const BYTE* body, DWORD length);

// Bytes per second over one rate interval.
struct RateInterval {
    DWORD startMs = 0;
    ULONGLONG bytes = 0;
};
inline constexpr DWORD kRateIntervalMs = 5000;
// Sending: -1 before 5000 ms or without bytes; else bytes x 1000 / elapsed
// ms, and the interval restarts.
LONG sendRate(RateInterval& interval, DWORD nowMs);
// Receiving: before 5000 ms `rate` is left alone; without bytes -1; else
// bytes / whole seconds, and the interval restarts.
void receiveRate(RateInterval& interval, DWORD nowMs, LONG& rate);

}  // namespace trennick
