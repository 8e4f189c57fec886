#include "tavicore/tavicore_globals.h"

TAVICORE_API std::string gcsVlmInsID;
