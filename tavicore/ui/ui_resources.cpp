#include "tavicore/ui/ui_resources.h"

#include "platform/library.h"

#include <QBitmap>
#include <QImage>
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

namespace {

// The length of a text the library copied into `text`: what it reports, but
// never past the room it was given nor past the text's terminator. The library
// is a replaceable file, so its answer is checked before it is used.
std::size_t copiedLength(const char* text, std::size_t room, int reported) {
    if (reported <= 0) {
        return 0;
    }
    return std::min(static_cast<std::size_t>(reported), strnlen(text, room));
}

using SetResourceFn = int (*)();
using LoadStringFn = int (*)(UINT, char*, int);
using LoadDialogTextFn = int (*)(UINT, UINT, char*, int);
using LoadBitmapFn = int (*)(UINT, const BYTE**, DWORD*);

struct Installed {
    HMODULE module = nullptr;
    LoadStringFn loadString = nullptr;
    LoadDialogTextFn loadDialogText = nullptr;
    LoadBitmapFn loadBitmap = nullptr;
};

std::mutex g_lock;
Installed g_installed;

void freeLocked() {
    if (g_installed.module != nullptr) {
        platform::freeLibrary(g_installed.module);
    }
    g_installed = {};
}

}  // namespace

int UiInstallLanguageLibrary(const char* fileName) {
    std::lock_guard lock(g_lock);
    freeLocked();
    if (fileName == nullptr) {
        return 0;
    }
    HMODULE module = platform::loadLibrary(fileName);
    if (module == nullptr) {
        return 0;
    }
    auto install = reinterpret_cast<SetResourceFn>(platform::librarySymbol(module, "lngSetResourceDLL"));
    const int result = install != nullptr ? install() : 0;
    if (result == 0) {
        platform::freeLibrary(module);
        return 0;
    }
    g_installed.module = module;
    g_installed.loadString = reinterpret_cast<LoadStringFn>(platform::librarySymbol(module, "lngLoadString"));
    g_installed.loadDialogText =
        reinterpret_cast<LoadDialogTextFn>(platform::librarySymbol(module, "lngLoadDialogText"));
    g_installed.loadBitmap = reinterpret_cast<LoadBitmapFn>(platform::librarySymbol(module, "lngLoadBitmap"));
    return result;
}

void UiFreeLanguageLibrary() {
    std::lock_guard lock(g_lock);
    freeLocked();
}

bool UiIsLanguageInstalled() {
    std::lock_guard lock(g_lock);
    return g_installed.module != nullptr;
}

std::string UiString(UINT id) {
    std::lock_guard lock(g_lock);
    if (g_installed.loadString == nullptr) {
        return {};
    }
    char text[1024] = {};
    const int length = g_installed.loadString(id, text, sizeof text);
    return std::string(text, copiedLength(text, sizeof text, length));
}

std::string UiString(UINT id, const char* fallback) {
    std::string text = UiString(id);
    return text.empty() && fallback != nullptr ? std::string(fallback) : text;
}

QString UiDialogText(UINT dialog, UINT control, const char* fallback) {
    std::lock_guard lock(g_lock);
    if (g_installed.loadDialogText != nullptr) {
        char text[1024] = {};
        const int length = g_installed.loadDialogText(dialog, control, text, sizeof text);
        if (length > 0) {
            return QString::fromUtf8(text, static_cast<qsizetype>(copiedLength(text, sizeof text, length)));
        }
    }
    return QString::fromUtf8(fallback != nullptr ? fallback : "");
}

QPixmap UiBitmap(UINT id) {
    const BYTE* data = nullptr;
    DWORD bytes = 0;
    {
        std::lock_guard lock(g_lock);
        if (g_installed.loadBitmap == nullptr || g_installed.loadBitmap(id, &data, &bytes) == 0) {
            return {};
        }
    }
    QImage image;
    // A size no int holds is no picture the library really has.
    if (data == nullptr || bytes > static_cast<DWORD>(INT_MAX) ||
        !image.loadFromData(data, static_cast<int>(bytes), "BMP")) {
        return {};
    }
    return QPixmap::fromImage(image);
}

QPixmap UiMaskedBitmap(UINT id) {
    QPixmap pixmap = UiBitmap(id);
    if (!pixmap.isNull()) {
        pixmap.setMask(pixmap.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
    }
    return pixmap;
}
