#pragma once
// Marks the classes and functions the engine's window library exports. Every
// header of the window library includes this one, so a target that declares
// itself headless (VELMOOR_HEADLESS: the station link, its transports, the kit
// and their tests) fails to build as soon as one of them reaches it.
#if defined(VELMOOR_HEADLESS)
#error "a window header of the engine reached a headless target (it must link no Qt Widgets)"
#endif

#if defined(TAVICORE_UI_BUILD)
#define TAVICORE_UI_API __attribute__((visibility("default")))
#else
#define TAVICORE_UI_API
#endif
