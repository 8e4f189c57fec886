#pragma once
// The few fields of an event file's header that the stations manager reports,
// read without the engine library: the file starts with an 86-byte header
// ("VHED", the start time at byte 6, a byte-sum checksum of bytes 0..81 at byte
// 82). Safe from any thread; a file that is short, unreadable or not an event
// file gives nothing, never an error.

#include "platform/types.h"

#include <optional>
#include <string>

namespace nordel {

// The event's start time as a UTC FILETIME, taken from the header's local start
// time, when the file holds a complete header with the event magic, a matching
// checksum and a start time that converts. Nothing otherwise.
std::optional<FILETIME> eventStartTime(const std::string& path);

}  // namespace nordel
