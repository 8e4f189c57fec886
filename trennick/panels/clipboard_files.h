#pragma once
// The clipboard as files: each format the peer can take becomes one file
// named after its format ("Text.clp", "bitmap.clp", ...), and a received
// clipboard file goes back onto the clipboard under the format its name
// tells. Text travels as its bytes with a terminating zero, a picture as a
// bitmap file; formats that only a peer's clipboard holds come and go as their
// raw bytes. User-interface thread (the clipboard's).

#include "platform/types.h"

#include <QString>
#include <string>
#include <vector>

class QMimeData;

namespace trennick {

// Standard clipboard format numbers that the files carry.
inline constexpr UINT kClipText = 1;
inline constexpr UINT kClipBitmapFormat = 2;
inline constexpr UINT kClipOemText = 7;
inline constexpr UINT kClipDib = 8;
inline constexpr UINT kClipPalette = 9;

// The MIME type under which a format without a native form is kept.
QString ClipboardFormatMime(UINT format);

struct ClipboardWrite {
    std::vector<std::string> paths;  // the files written, in the clipboard's order
    UINT failedMessage = 0;          // 4110 too many open files, 4080 disk full
    std::string failedPath;
};
// Writes the formats of `data` into `folder` (created when missing). A file
// that cannot be created ends the walk; the files written so far are kept.
ClipboardWrite WriteClipboardFiles(const QMimeData& data, const std::string& folder);
// The clipboard contents of a received clipboard file; null when its name is
// not a clipboard file name or it cannot be read.
QMimeData* ReadClipboardFile(const std::string& path);

}  // namespace trennick
