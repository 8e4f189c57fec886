#pragma once
// The engine library's process-wide globals, set by the main program at start-up
// before any other engine object is used.

#include "tavicore/tavicore_api.h"

#include <string>

// The instance id text appended to the product word of every registry path of the
// instance ("Velmoor" followed by it); empty for the first instance. Read at each
// access, so a change takes effect at the next registry access.
TAVICORE_API extern std::string gcsVlmInsID;
