#pragma once
// Random (version 4) UUIDs and their registry text form,
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": 36 upper-case characters, with or
// without the braces. Safe from any thread.

#include "platform/types.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class UuidBraces { With, Without };

// A fresh random UUID from the kernel's random source. Returns false (and
// leaves `out` alone) when no random bytes can be had.
bool newUuid(GUID& out);

// The registry text of the UUID: 38 characters with braces, 36 without.
std::string uuidToString(const GUID& id, UuidBraces braces = UuidBraces::With);

// Parses the registry text, with or without braces (both or neither); hex
// digits in either case. Anything else - wrong length, a misplaced dash, a
// stray character, one brace - gives nothing.
std::optional<GUID> uuidFromString(std::string_view text);

}  // namespace platform
