#pragma once
// The product's keys in the registry, all under HKEY_CURRENT_USER:
//   software\Quennel\Velmoor<instance id>\1.000.0\<section>   one instance's settings
//   software\Quennel\Velmoor\Common\<section>                 shared by every instance
// The instance id text follows the product word at once: empty for the first
// instance, "\Velmoor<n>" for the instance started with /U<n>. Company, product
// word and version are spelled here and nowhere else; every module of the product
// forms its keys through these functions. The instance id itself belongs to the
// engine library (tavicore/product_key.h binds it). Key names are case-insensitive;
// the paths keep the lower-case "software" the key texts handed to callers have.

#include "common/kc_reg.h"

#include <string>
#include <string_view>

namespace product_registry {

inline constexpr char kCompany[] = "Quennel";
inline constexpr char kProduct[] = "Velmoor";
inline constexpr char kVersion[] = "1.000.0";
// The level of the branch every instance shares, in place of the version.
inline constexpr char kCommon[] = "Common";
// The instance id of the first instance.
inline constexpr std::string_view kFirstInstance{};

}  // namespace product_registry

// "Velmoor" followed by the instance id.
std::string InstanceProductWord(std::string_view instanceId);

// "software\Quennel\Velmoor<id>\1.000.0", then "\<section>" unless the section is empty.
std::string InstanceKeyPath(std::string_view instanceId, std::string_view section);

// InstanceKeyPath(id, "") + "\" + section into a caller's buffer (a null id or
// section reads as empty); false, and nothing copied, when it does not fit.
bool CopyInstanceKeyPath(const char* instanceId, const char* section, char* out, std::size_t outBytes);

// The settings class bound to an instance's key, `section` its current section
// (null or empty: the version key itself). Inline, so modules that only form
// paths do not take in the settings class.
inline CKcReg InstanceKey(std::string_view instanceId, const char* section) {
    return CKcReg(product_registry::kCompany, InstanceProductWord(instanceId).c_str(), product_registry::kVersion,
                  section != nullptr ? section : "");
}

// "software\Quennel\Velmoor\Common\<section>".
std::string CommonKeyPath(std::string_view section);

// The settings class bound to the shared branch, `section` its current section.
inline CKcReg CommonKey(const char* section) {
    return CKcReg(product_registry::kCompany, product_registry::kProduct, product_registry::kCommon,
                  section != nullptr ? section : "");
}
