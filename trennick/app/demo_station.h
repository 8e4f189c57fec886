#pragma once
// PrepareDemoStation: makes an instance a demonstration station that is
// already set up, as the run command starts it, so that its first start shows
// the site's video at once: the station's card has a name (the setup wizard's
// proposal, as the wizard's card page would fill it), so the wizard does not
// open; the default-password warning is answered with "do not show again";
// the remote station window opens beside the main window instead of over it.
// What the instance already holds is left as it is, so a normal start of any
// other instance keeps its first-start steps.
//
// Thread: any, one call at a time (it sets the process's instance id).
// Failure: nothing throws; the settings calls report nothing.

#include <string>

namespace trennick {

// Prepares instance `instanceId` (the number of "/U<id>").
void PrepareDemoStation(const std::string& instanceId);

// The card name of a demonstration station when the installation proposes none.
inline constexpr const char* kDemoStationName = "Velmoor operator";

}  // namespace trennick
