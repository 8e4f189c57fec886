#pragma once
// The telephony line's two dialogs: a line's modem configuration and the
// dialing location. The telephony library has no windows: the program hands it
// these (kLineDialogs) for lineConfigDialogEdit and lineTranslateDialog, which
// show them modal over the caller's window on the caller's (user-interface)
// thread. Without a widget application, or when the program runs unattended,
// nobody can answer: they show nothing and say so.

#include "telephony/line_api.h"

#include <string>

namespace trennick {

// Edits `config` (valid on entry) for the line `lineName`; on Accepted it holds
// the user's valid choice, otherwise it is unchanged. `owner` is the QWidget
// the dialog shows over.
telephony::LineDialogResult EditModemConfig(void* owner, const std::string& lineName,
                                            telephony::ModemDevConfig& config);
// Edits the location; the sample number is shown as the line would dial it.
telephony::LineDialogResult EditDialingLocation(void* owner, const std::string& sampleNumber,
                                                telephony::DialingLocation& location);

// Both, as the telephony library takes them.
inline constexpr telephony::LineDialogs kLineDialogs{EditModemConfig, EditDialingLocation};

// The dialogs' object names, for those that look for them.
inline constexpr const char* kModemConfigDialogName = "ModemConfigDialog";
inline constexpr const char* kDialingLocationDialogName = "DialingLocationDialog";

}  // namespace trennick
