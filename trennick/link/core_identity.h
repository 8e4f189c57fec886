#pragma once
// The link's identity services over the engine library: the users manager's
// scrambling and this station's GUID, name and phone from the registry.

#include "trennick/link/link_host.h"

namespace trennick {

// Threads: any (each call builds its own registry object). Failure: thisSiteInfo
// returns false when no GUID can be read or created; the cause is traced.
class CoreLinkIdentity : public LinkIdentity {
public:
    std::string encrypt(std::string_view text) override;
    bool thisSiteInfo(SiteInfoBlock& site) override;
};

}  // namespace trennick
