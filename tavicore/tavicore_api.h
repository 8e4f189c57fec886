#pragma once
// Marks the classes, functions and globals the engine library exports.
#if defined(TAVICORE_BUILD)
#define TAVICORE_API __attribute__((visibility("default")))
#else
#define TAVICORE_API
#endif
