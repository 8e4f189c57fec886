#include "trennick/link/common_base.h"

#include "platform/file_exception.h"
#include "trennick/link/link_trace.h"

#include <QDateTime>
#include <QLocale>
#include <QProcess>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr const std::array<DWORD, 256>& kCrcTable = wire_checksum_detail::kTable;
static_assert(kCrcTable[1] == 0x77073096u);

std::mutex g_hooksLock;
MessagePresenter g_presenter;
StringLoader g_loader;

DWORD tickMs() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

CCommon::CCommon() = default;
CCommon::~CCommon() = default;

DWORD CCommon::UpdateCrc32(DWORD sum, BYTE byte) {
    return kCrcTable[(sum ^ byte) & 0xFF] ^ (sum >> 8);
}

LONG WireChecksum(std::span<const BYTE> bytes) {
    WireChecksumSum sum;
    for (BYTE b : bytes) sum.add(b);
    return sum.value();
}

LONG CCommon::FindStringNoCase(std::string_view pattern, std::string_view text) {
    if (pattern.size() > text.size()) {
        return -1;
    }
    return FindDataNoCase(reinterpret_cast<const BYTE*>(pattern.data()),
                          reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(pattern.size()), static_cast<DWORD>(text.size()));
}

LONG CCommon::FindDataNoCase(const BYTE* pattern, const BYTE* buffer, DWORD patternLength,
                             DWORD bufferLength) {
    if (pattern == nullptr || buffer == nullptr || bufferLength < patternLength) {
        return -1;
    }
    if (patternLength == 0) {
        return 0;
    }
    const int first = std::toupper(pattern[0]);
    for (DWORD i = 0; i + patternLength <= bufferLength; ++i) {
        if (std::toupper(buffer[i]) != first) {
            continue;
        }
        DWORD k = 1;
        while (k < patternLength && std::toupper(buffer[i + k]) == std::toupper(pattern[k])) {
            ++k;
        }
        if (k == patternLength) {
            return static_cast<LONG>(i);
        }
    }
    return -1;
}

DWORD CCommon::MoveBytes(void* destination, const void* source, DWORD length) {
    if (length != 0) {
        std::memmove(destination, source, length);
    }
    return length;
}

std::string CCommon::GetFileNameFromPath(std::string_view path, UINT parts) {
    std::string_view drive;
    if (path.size() >= 2 && path[1] == ':') {
        drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    std::string_view folder;
    const auto slash = path.find_last_of("\\/");
    if (slash != std::string_view::npos) {
        folder = path.substr(0, slash + 1);
        path.remove_prefix(slash + 1);
    }
    std::string_view base = path;
    std::string_view extension;
    const auto dot = path.find('.');
    if (dot != std::string_view::npos) {
        base = path.substr(0, dot);
        extension = path.substr(dot, 4);  // the dot and at most 3 characters
    }
    std::string out;
    if (parts & kDrive) out += drive;
    if (parts & kFolder) out += folder;
    if (parts & kBaseName) out += base;
    if (parts & kExtension) out += extension;
    return out;
}

int CCommon::SplitFields(std::string_view text, std::vector<std::string>& fields, int maxCount,
                         char separator) {
    fields.clear();
    if (maxCount <= 0) {
        return 0;
    }
    if (separator == 0) {
        separator = ';';
    }
    while (static_cast<int>(fields.size()) < maxCount - 1) {
        const auto at = text.find(separator);
        if (at == std::string_view::npos) {
            break;
        }
        fields.emplace_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
    fields.emplace_back(text);
    return static_cast<int>(fields.size());
}

std::string CCommon::GetDateTimeStamp(bool longForm) {
    const QLocale locale;
    const QDateTime now = QDateTime::currentDateTime();
    const QString text = locale.toString(now.date(), longForm ? QLocale::LongFormat : QLocale::ShortFormat) +
                         QStringLiteral("  ") + locale.toString(now.time(), QLocale::ShortFormat);
    std::string out = text.toStdString();
    if (out.size() > 255) {
        out.resize(255);
    }
    return out;
}

bool CCommon::ShellOpen(const std::string& path) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(path)});
}

namespace {
struct ClipboardName {
    UINT format;
    const char* name;
};
constexpr ClipboardName kClipboardNames[] = {
    {1, "Text.clp"},     {2, "bitmap.clp"},   {3, "MFPict.clp"},  {4, "Sylk.clp"},
    {5, "DIF.clp"},      {6, "Tiff.clp"},     {7, "OemText.clp"}, {8, "DIB.clp"},
    {9, "palette.clp"},  {10, "pendata.clp"}, {11, "riff.clp"},   {12, "wave.clp"},
    {129, "DSPTEXT.clp"}, {130, "DSPBIT.clp"}, {131, "DMETPICT.clp"},
};
constexpr const char* kPrivateClipboardName = "private.clp";
}  // namespace

std::string CCommon::AppendClipboardFileName(UINT clipboardFormat) {
    for (const auto& entry : kClipboardNames) {
        if (entry.format == clipboardFormat) {
            return entry.name;
        }
    }
    return kPrivateClipboardName;
}

UINT CCommon::GetClipboardFormatOfFile(std::string_view fileName) {
    const std::string name = GetFileNameFromPath(fileName, kBaseName | kExtension);
    for (const auto& entry : kClipboardNames) {
        if (FindStringNoCase(entry.name, name) == 0 && name.size() == std::strlen(entry.name)) {
            return entry.format;
        }
    }
    return 0;
}

void CCommon::setMessagePresenter(MessagePresenter presenter) {
    std::lock_guard lock(g_hooksLock);
    g_presenter = std::move(presenter);
}

void CCommon::setStringLoader(StringLoader loader) {
    std::lock_guard lock(g_hooksLock);
    g_loader = std::move(loader);
}

std::string CCommon::loadString(UINT stringId) {
    StringLoader loader;
    {
        std::lock_guard lock(g_hooksLock);
        loader = g_loader;
    }
    return loader ? loader(stringId) : std::string();
}

int CCommon::ShowMessage(UINT stringId, UINT flags, ...) {
    if (!m_nEnableMessage) {
        trennick::linkTrace(5, "CCommon::ShowMessage() m_nEnableMessage = FALSE");
        return 0;
    }
    const std::string format = loadString(stringId);
    char text[1024] = {};
    if (!format.empty()) {
        va_list args;
        va_start(args, flags);
        std::vsnprintf(text, sizeof text, format.c_str(), args);
        va_end(args);
    }
    return present(stringId, flags, text);
}

int CCommon::ShowText(const std::string& text, UINT flags) {
    if (!m_nEnableMessage) {
        trennick::linkTrace(5, "CCommon::ShowText() m_nEnableMessage = FALSE");
        return 0;
    }
    return present(0, flags, text);
}

int CCommon::present(UINT stringId, UINT flags, const std::string& text) {
    MessagePresenter presenter;
    {
        std::lock_guard lock(g_hooksLock);
        presenter = g_presenter;
    }
    return presenter ? presenter(stringId, flags, text) : 0;
}

CCommon::LanguageFont CCommon::CreateLanguageFont(int height, bool bold) {
    LanguageFont font;
    font.face = loadString(311);
    if (height != 0) {
        font.height = height;
    } else {
        const std::string text = loadString(321);
        const int fromResource = text.empty() ? 0 : std::atoi(text.c_str());
        font.height = fromResource > 0 ? fromResource : 8;
    }
    font.weight = bold ? 700 : 400;
    font.japaneseCharset = QLocale::system().language() == QLocale::Japanese;
    return font;
}

std::string CCommon::CompactPathToWindow(std::string_view path, int widthPx,
                                         const std::function<int(std::string_view)>& measure) {
    std::string shown(path);
    if (!measure || measure(shown) <= widthPx) {
        return shown;
    }
    // Keep the drive, then drop one folder after another behind "...".
    std::string_view rest = path;
    std::string head;
    if (rest.size() >= 2 && rest[1] == ':') {
        head = std::string(rest.substr(0, 2));
        rest.remove_prefix(2);
    }
    if (!rest.empty() && rest.front() == '\\') {
        rest.remove_prefix(1);
    }
    for (auto slash = rest.find('\\'); slash != std::string_view::npos; slash = rest.find('\\')) {
        rest.remove_prefix(slash + 1);
        shown = head + "\\...\\" + std::string(rest);
        if (measure(shown) <= widthPx) {
            return shown;
        }
    }
    return shown;
}

bool CCommon::IsKeyFrameH263(const BYTE* frame, DWORD length) {
    if (frame == nullptr || length < 5 || frame[0] != 0 || frame[1] != 0 || frame[2] < 0x80 ||
        frame[2] > 0x83 || (frame[4] & 0x02) != 0) {
        return false;
    }
    const DWORD now = tickMs();
    trennick::linkTrace(5, "CCommon::IsKeyFrameH263() Keyframe Header -> length=%ld time=%ld pByte[4]=%x \n",
                        static_cast<long>(length), static_cast<long>(now - m_lastKeyFrameMs), frame[4]);
    m_lastKeyFrameMs = now;
    return true;
}

bool CCommon::GetH263SourceFormat(const BYTE* frame, DWORD length, int& format) {
    if (frame == nullptr || length < 5 || frame[0] != 0 || frame[1] != 0 || frame[2] < 0x80 ||
        frame[2] > 0x83) {
        return false;
    }
    format = (frame[4] >> 2) & 7;
    return true;
}

const char* GetFileExceptionText(int cause, std::string* buffer) {
    const char* text = platform::fileCauseText(cause);
    if (buffer != nullptr) {
        *buffer = text;
    }
    return text;
}

void* GlobalMemReAlloc(void* block, std::size_t size) {
    if (block == nullptr) {
        return size == 0 ? nullptr : std::calloc(1, size);
    }
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, size);
}

void GlobalMemFree(void* block) {
    std::free(block);
}
