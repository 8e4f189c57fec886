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

// A number of the instance's section, read with its default and written back
// at once, so that after a first run every value exists.
inline DWORD ProductDwordBack(const char* section, const char* name, DWORD fallback) {
    CKcReg reg = ProductKey(section);
    reg.SetSection(section);
    reg.SetValueName(name);
    reg.SetDefault(fallback);
    const DWORD value = reg.ReadDword();
    reg.Write(value);
    return value;
}
