#include "trennick/panels/clipboard_files.h"

#include "common/lumo_deb.h"
#include "trennick/image/dib.h"
#include "trennick/link/common_base.h"

#include <QImage>
#include <QMimeData>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace trennick {

namespace {

constexpr const char* kMimePrefix = "application/x-velmoor-clipboard-";
constexpr std::uintmax_t kMaxClipboardFileBytes = 256u * 1024 * 1024;

// The format a MIME type of `data` stands for; 0 for none we send.
UINT formatOfMime(const QString& mime) {
    if (mime == "text/plain") return kClipText;
    if (mime == "application/x-qt-image" || mime.startsWith("image/")) return kClipBitmapFormat;
    if (mime.startsWith(kMimePrefix)) return mime.mid(static_cast<int>(std::strlen(kMimePrefix))).toUInt();
    return 0;
}

bool readAll(const std::string& path, std::vector<char>& bytes) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > kMaxClipboardFileBytes) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

QString ClipboardFormatMime(UINT format) { return QString(kMimePrefix) + QString::number(format); }

ClipboardWrite WriteClipboardFiles(const QMimeData& data, const std::string& folder) {
    ClipboardWrite result;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::vector<UINT> done;
    for (const QString& mime : data.formats()) {
        const UINT format = formatOfMime(mime);
        if (format == 0 || format == kClipPalette) continue;
        const std::string name = CCommon::AppendClipboardFileName(format);
        if (name == "private.clp") continue;
        if (std::find(done.begin(), done.end(), format) != done.end()) continue;
        done.push_back(format);
        const std::string path = (std::filesystem::path(folder) / name).string();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            result.failedMessage = (errno == EMFILE || errno == ENFILE) ? 4110 : 4080;
            result.failedPath = path;
            return result;
        }
        bool ok = true;
        if (format == kClipBitmapFormat) {
            std::fclose(file);
            const QImage image = qvariant_cast<QImage>(data.imageData());
            HDIB dib = image.isNull() ? nullptr : BitmapToDIB(image);
            ok = dib != nullptr && SaveDIB(path.c_str(), dib);
            DestroyDIB(dib);
        } else {
            QByteArray bytes = data.data(mime);
            if (format == kClipText || format == kClipOemText) bytes.append('\0');
            ok = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), file) ==
                 static_cast<std::size_t>(bytes.size());
            ok = std::fclose(file) == 0 && ok;
        }
        if (!ok) {
            std::remove(path.c_str());
            result.failedMessage = 4080;
            result.failedPath = path;
            return result;
        }
        result.paths.push_back(path);
    }
    return result;
}

QMimeData* ReadClipboardFile(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    const UINT format = CCommon::GetClipboardFormatOfFile(name);
    if (format == 0) return nullptr;
    auto data = std::make_unique<QMimeData>();
    if (format == kClipBitmapFormat) {
        HDIB dib = ReadDIBFile(path.c_str());
        if (dib == nullptr) return nullptr;
        const QImage image = DIBToBitmap(nullptr, dib);
        DestroyDIB(dib);
        if (image.isNull()) return nullptr;
        data->setImageData(image);
        return data.release();
    }
    std::vector<char> bytes;
    if (!readAll(path, bytes)) {
        LUMO_TRACE(1, "clipboard file %s cannot be read", path.c_str());
        return nullptr;
    }
    if (format == kClipText || format == kClipOemText) {
        // Text ends at its first zero.
        const auto end = std::find(bytes.begin(), bytes.end(), '\0');
        data->setText(QString::fromUtf8(bytes.data(), static_cast<int>(end - bytes.begin())));
    } else if (format == kClipDib) {
        // A packed bitmap without its file header.
        HDIB dib = AllocDIB(bytes.size());
        if (dib != nullptr && !bytes.empty()) std::memcpy(dib, bytes.data(), bytes.size());
        const QImage image = dib != nullptr ? DIBToBitmap(nullptr, dib) : QImage();
        DestroyDIB(dib);
        if (image.isNull()) return nullptr;
        data->setImageData(image);
    } else {
        data->setData(ClipboardFormatMime(format), QByteArray(bytes.data(), static_cast<int>(bytes.size())));
    }
    return data.release();
}

}  // namespace trennick
