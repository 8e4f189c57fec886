#pragma once
// Shipped defaults: the files the system ships (modem scripts and the like),
// kept in a "data" folder, and copied into the program folder of the home at
// first start so that the user's copies can be edited and survive updates.
//
// Where the shipped folder is: $VELMOOR_DATA when set, else "data" beside the
// running executable (the build puts the repository's data/ there), else
// "../share/velmoor/data" from the executable's folder.
//
// Safe from any thread; failures are reported by the result, nothing throws.

#include <filesystem>

namespace platform {

// The shipped folder; empty when none exists.
std::filesystem::path shippedDataFolder();

// Copies every shipped file that the program folder does not hold yet (the
// same relative path), creating folders as needed; files already there are
// left as the user has them. Returns the number of files copied, or -1 when
// there is no shipped folder or a copy failed.
int installShippedDefaults();

}  // namespace platform
