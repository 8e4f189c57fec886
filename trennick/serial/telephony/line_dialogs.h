#pragma once
// The telephony library's two dialogs: a line's modem configuration and the
// dialing location. They are the library's answer to lineConfigDialogEdit and
// lineTranslateDialog, shown modal over the caller's window on the caller's
// (user-interface) thread. Without a widget application, or when the program
// runs unattended, nobody can answer: they show nothing and say so.

#include "trennick/serial/telephony/modem_config.h"

#include <string>

class QWidget;

namespace velmoortapi {

enum class DialogResult { Accepted, Cancelled, NobodyToAsk };

// Edits `config` (valid on entry) for the line `lineName`; on Accepted it holds
// the user's valid choice, otherwise it is unchanged.
DialogResult EditModemConfig(QWidget* owner, const std::string& lineName, ModemDevConfig& config);
// Edits the location; the sample number is shown as the line would dial it.
DialogResult EditDialingLocation(QWidget* owner, const std::string& sampleNumber, DialingLocation& location);

// The dialogs' object names, for those that look for them.
inline constexpr const char* kModemConfigDialogName = "ModemConfigDialog";
inline constexpr const char* kDialingLocationDialogName = "DialingLocationDialog";

}  // namespace velmoortapi
