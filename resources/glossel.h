#pragma once
// The plain C interface of the resource-language library (libglossel.so). The
// program loads the library, calls lngSetResourceDLL and then asks it for texts,
// dialog texts and bitmaps by their numbers. Every export may be called from any
// thread; unknown numbers are answered with 0 and an empty result.

#include "platform/types.h"

#define GLOSSEL_API extern "C" __attribute__((visibility("default")))

// Makes this library the program's resource set; 1 on success.
GLOSSEL_API int lngSetResourceDLL();
// Copies string resource `id` into buffer (at most size - 1 characters and a
// terminator); the characters copied, 0 when there is no such string.
GLOSSEL_API int lngLoadString(UINT id, char* buffer, int size);
// The text of control `control` of dialog `dialog` (control 0: the dialog's
// caption), copied as lngLoadString copies.
GLOSSEL_API int lngLoadDialogText(UINT dialog, UINT control, char* buffer, int size);
// Bitmap resource `id` as the bytes of a bitmap file ("BM" header, 24-bit
// pixels), owned by the library for its lifetime; 1 when found, else 0.
GLOSSEL_API int lngLoadBitmap(UINT id, const BYTE** data, DWORD* bytes);

// Function types of the exports, for callers that bind them at run time.
using LngSetResourceDllFn = int (*)();
using LngLoadStringFn = int (*)(UINT, char*, int);
using LngLoadDialogTextFn = int (*)(UINT, UINT, char*, int);
using LngLoadBitmapFn = int (*)(UINT, const BYTE**, DWORD*);
