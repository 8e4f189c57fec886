#include "tavicore/ui/still_painter.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>

tagSTILLSERROR PaintStill(CStillsCodecInterface& codec, BITMAPINFOHEADER* image,
                          QPaintDevice* device) {
    if (device == nullptr || device->width() <= 0 || device->height() <= 0) {
        return STILLS_NO_ERROR;
    }
    QImage canvas(device->width(), device->height(), QImage::Format_ARGB32);
    if (canvas.isNull()) {
        return STILLS_NO_ERROR;
    }
    canvas.fill(Qt::transparent);
    StillCanvas pixels{reinterpret_cast<DWORD*>(canvas.bits()), canvas.width(), canvas.height(),
                       static_cast<LONG>(canvas.bytesPerLine())};
    const tagSTILLSERROR code = codec.Draw(image, &pixels);
    if (code == STILLS_NO_ERROR) {
        QPainter painter(device);
        if (painter.isActive()) {
            painter.drawImage(0, 0, canvas);
        }
    }
    return code;
}
