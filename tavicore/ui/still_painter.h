#pragma once
// Shows a still image record in a window or a picture through a stills codec:
// the codec lays the picture centred on a transparent canvas of the device's
// size, and the canvas is painted over the device, so what lies outside the
// picture stays as it was.

#include "platform/types.h"
#include "tavicore/stills_devices.h"
#include "tavicore/ui/tavicore_ui_api.h"

class QPaintDevice;

// The codec's code (STILLS_ERROR_NOT_AVAILABLE while it is unbound, and then
// nothing is painted). A null or empty device, or one that cannot be painted
// on now, gets nothing.
TAVICORE_UI_API tagSTILLSERROR PaintStill(CStillsCodecInterface& codec, BITMAPINFOHEADER* image,
                                          QPaintDevice* device);
