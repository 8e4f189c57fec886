#pragma once
// The telephony library's own settings: each line's modem configuration
// (ModemDevConfig, kept per line name) and the dialing location (an outside-line
// prefix and the code that turns call waiting off, for every line). Both live
// in the shared registry branch, so they hold across runs and instances.
//
// Plain functions of their arguments and the registry; any thread.

#include "telephony/line_api.h"

#include <string>

namespace telephony {

inline constexpr DWORD kModemBauds[] = {9600, 19200, 38400, 57600, 115200};

// A configuration with the defaults and its size set.
ModemDevConfig DefaultModemConfig();
// True when every field is in its range and the extra settings are a
// terminated text of the characters an AT command may carry (no line end, no
// control character that could end the command or start another).
bool ModemConfigValid(const ModemDevConfig& config);
// The AT command that puts a modem into this configuration: "ATM1L1X4S7=50"
// and the extra settings.
std::string ModemConfigCommand(const ModemDevConfig& config);
// The stored configuration of a line; the defaults when none or a damaged one is stored.
ModemDevConfig LoadModemConfig(const std::string& lineName);
// Stores a valid configuration; false (nothing stored) otherwise.
bool SaveModemConfig(const std::string& lineName, const ModemDevConfig& config);

// The dialing location (line_api.h).
// True when both texts are at most 16 characters a modem dials (digits, '*', '#', ',').
bool DialingLocationValid(const DialingLocation& location);
DialingLocation LoadDialingLocation();
bool SaveDialingLocation(const DialingLocation& location);
// The number as the line dials it from this location.
std::string TranslateNumber(const DialingLocation& location, const std::string& number);

}  // namespace telephony
