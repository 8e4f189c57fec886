#pragma once
// The program's resource set: texts, dialog texts and bitmaps by number, served
// by the resource-language library once it is installed. The engine's dialogs
// and controls take every text and picture from here, as the main program's do.
//
// Threads: install and free on the user-interface thread before and after any
// window exists; the look-ups may be made from any thread. Failures: a missing
// library, export or resource gives 0, an empty text or a null picture.

#include "platform/types.h"
#include "tavicore/ui/tavicore_ui_api.h"

#include <QPixmap>
#include <string>

// The library's file name as the program names it.
inline constexpr const char* kLanguageLibraryName = "GLOSSEL.DLL";

// Loads the library (replacing one installed before), looks up its export
// "lngSetResourceDLL" and calls it; returns that call's result, 0 when the
// library or the export is missing or the call refuses (then nothing stays
// installed).
TAVICORE_UI_API int UiInstallLanguageLibrary(const char* fileName = kLanguageLibraryName);
// Drops the installed library.
TAVICORE_UI_API void UiFreeLanguageLibrary();
TAVICORE_UI_API bool UiIsLanguageInstalled();

// String resource `id`; empty when there is none.
TAVICORE_UI_API std::string UiString(UINT id);
// String resource `id`, or `fallback` when there is none.
TAVICORE_UI_API std::string UiString(UINT id, const char* fallback);
// Text of control `control` of dialog `dialog` (0: the caption); `fallback` when none.
TAVICORE_UI_API QString UiDialogText(UINT dialog, UINT control, const char* fallback = "");
// Bitmap resource `id`; null when there is none.
TAVICORE_UI_API QPixmap UiBitmap(UINT id);
// The same with the magenta (255, 0, 255) pixels made transparent.
TAVICORE_UI_API QPixmap UiMaskedBitmap(UINT id);
