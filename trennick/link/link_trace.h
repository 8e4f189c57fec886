#pragma once
// Trace output of the station link. Every line goes through one hook so that
// the program can route it to its trace object and tests can read it.

#include "platform/types.h"

#include <string>

namespace trennick {

// Receives each finished trace line with its level (1 errors, 3 information,
// 5 details). Called on whatever thread traced; must be thread-safe.
using LinkTraceSink = void (*)(unsigned level, const char* line);

// Installs the sink (nullptr: lines go to the module's trace object). Returns
// the previous one.
LinkTraceSink setLinkTraceSink(LinkTraceSink sink);

// printf-style trace line; never fails, never throws.
void linkTrace(unsigned level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// At most the first 128 characters of a payload, printable, for traces.
std::string linkTraceText(const BYTE* bytes, DWORD length);

}  // namespace trennick
