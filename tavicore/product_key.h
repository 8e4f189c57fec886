#pragma once
// This instance's settings key: the product key with the instance id
// (gcsVlmInsID) behind the product word, as the id reads at each call.

#include "common/product_registry.h"
#include "tavicore/tavicore_globals.h"

#include <string>
#include <string_view>

// The settings class bound to Software\Quennel\Velmoor<id>\1.000.0\<section>.
inline CKcReg ProductKey(const char* section) { return InstanceKey(gcsVlmInsID, section); }

// The same key as a path for the registry calls: software\Quennel\Velmoor<id>\1.000.0
// and "\<section>" unless the section is empty.
inline std::string ProductKeyPath(std::string_view section) { return InstanceKeyPath(gcsVlmInsID, section); }
