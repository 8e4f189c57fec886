#pragma once
// The modem link of the station: making one, handing it the Comms group's
// line settings and telling it from the TCP link.
// Thread: the user-interface thread. Failure: null / false, never thrown.

#include "trennick/station/frame_settings.h"
#include "trennick/link/comms_settings_record.h"
#include "trennick/link/packet_connection.h"

#include <memory>

namespace trennick {

// A modem link owned by the station (its telephony line is bound on first use).
std::unique_ptr<CPacketConnection> MakeModemLink(const LinkServices& services);
// Copies what the transports read of the station's Comms group into the record
// handed to the link (texts cut to their fields).
void FillLinkComms(const CommsRecord& comms, CommsSettingsRecord& record);
// Hands the modem line of `record` to a modem link; false when `link` is not one.
bool ApplyModemSettings(CPacketConnection& link, const CommsSettingsRecord& record);
// The telephony lines of a modem link (the setup pages list them); null for
// any other link.
class CTAPIConnection;
CTAPIConnection* ModemTapi(CPacketConnection& link);
// True when the link's line has a speakerphone (never for TCP).
bool IsModemLink(CPacketConnection& link);
// Hands the read-queue limit ("MaxReadQ_Bytes") to a serial link's port; false
// when `link` is not one.
bool SetModemReadQueueLimit(CPacketConnection& link, DWORD bytes);

}  // namespace trennick
