#pragma once
// The base library: the trace facility, typed settings in ini files and the
// registry, worker threads and the module version stamp.
