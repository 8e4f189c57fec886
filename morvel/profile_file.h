#pragma once
// The profile file of the settings-profile store: a remote settings record
// written key by key as an ini file and read back with the defaults of the
// missing keys.

#include "morvel/morvel_lib.h"

#include <string>

namespace morvel {

// Fills `record` from the profile file at `path` (a missing file reads as all
// defaults). The record starts as zero bytes; the clock of the site info
// becomes the local time now and every relay-matrix entry its own number.
void readProfile(const std::string& path, tagRemSettings& record);

// Writes `record` as the whole profile file at `path`, in one replacement, so
// a failed write leaves the old file whole. False when it could not be written.
bool writeProfile(const std::string& path, const tagRemSettings& record);

// The text with ASCII capitals made small: names in profile files and profile
// names compare without regard to case.
std::string lowered(std::string text);

// A bit set as its list form ("1,3,8,"; bits 0 to 30 only) and back.
std::string listText(DWORD bits);
DWORD parseList(const std::string& text);

}  // namespace morvel
