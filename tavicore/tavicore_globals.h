#pragma once
// The engine library's process-wide globals, set by the main program at start-up
// before any other engine object is used.

#include "tavicore/tavicore_api.h"

#include <string>

class CStationsMgr;
class CLogWrite;

// The instance id text appended to the product word of every registry path of the
// instance ("Velmoor" followed by it); empty for the first instance. Read at each
// access, so a change takes effect at the next registry access.
TAVICORE_API extern std::string gcsVlmInsID;

// The process's stations manager front end; null until the main program sets it.
TAVICORE_API extern CStationsMgr* stationsMgr;

// The process's activity-log client; null until the main program sets it.
TAVICORE_API extern CLogWrite* logWrite;
