#include "tavicore/tavicore_globals.h"

TAVICORE_API std::string gcsVlmInsID;
TAVICORE_API CStationsMgr* stationsMgr = nullptr;
TAVICORE_API CLogWrite* logWrite = nullptr;
