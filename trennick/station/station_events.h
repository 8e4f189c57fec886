#pragma once
// The news a Station gives its observers, as typed events. Every event is
// delivered on the station's owner thread, from inside the station's own
// message handling or loop pass, in the order it happened.

#include "platform/types.h"
#include "trennick/link/cards.h"
#include "trennick/link/file_transfer.h"

#include <string>

namespace trennick {

// Where the call stands, as the loop pass sees it.
enum class CallState {
    Connected,     // the peer answered our hello: the call is up
    Disconnected,  // a call that was up has ended
    Listening,     // the station went back to waiting for calls
};

struct CallStateChanged {
    CallState state;
    std::string peer;          // who, as the status shows it
    bool localHangUp = false;  // Disconnected: this station hung up itself
};

// A file transfer ended, as the link told it once (whichever drove it: the
// station's pass or a transfer window).
struct TransferEnded {
    TransferDirection direction = TransferDirection::Send;
    int fileKind = 0;  // kFileKind*
    std::string path;  // the file sent, or where the received file lies
    LONG result = 0;   // the state it ended in: SEND_* or REC_*
};

// What changed about arming, so a view knows what to redraw.
enum class ArmCause {
    Requested,      // an arm or disarm request went out; its answer is awaited
    Acknowledged,   // the site armed or disarmed as asked
    Ignored,        // the site kept its state; another request may go
    AckTimedOut,    // no answer came in time; another request may go
    SiteArmChanged, // the site's own alarm inputs changed
};

struct ArmChanged {
    ArmCause cause;
    bool systemArmed = false;     // the connected site's triggers are armed
    bool siteArmed = false;       // its alarm panel is enabled and armed as well
    bool toggleAllowed = false;   // a new arm or disarm request may be sent
};

// A card (or its picture) the peer sent.
struct PeerCard {
    tagBusinessCard card{};
    std::string picturePath;  // where the card's picture lies here; empty: none
    WORD status = 0;          // the link's card status bits (kCardReceived, ...)
};

class StationObserver {
public:
    virtual ~StationObserver() = default;
    virtual void onCallStateChanged(const CallStateChanged&) {}
    virtual void onTransferEnded(const TransferEnded&) {}
    virtual void onNotice(const std::string& /*text*/) {}
    virtual void onArmChanged(const ArmChanged&) {}
    virtual void onPeerCard(const PeerCard&) {}
};

}  // namespace trennick
