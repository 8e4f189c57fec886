#pragma once
// CCommon: the small utility base of the station link, also used on its own by
// other parts of the program. It carries the wire-checksum step, text searches
// without regard to case (every token test of the link rests on them), path and
// clipboard-file-name helpers, a user-message facility that can be switched off
// and two tests on H.263 picture headers.
//
// Threads: the members are plain functions of their arguments except
// ShowMessage (uses the presenter, called on the caller's thread) and
// IsKeyFrameH263 (keeps the time of the previous key frame; one thread).
// Failures: searches return -1; nothing throws.

#include "platform/types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Shows a formatted user message (a string resource number, flags, the finished
// text) and returns the dialog's result (16 when its timer closed it). Set by
// the application; without one, messages are only traced.
using MessagePresenter = std::function<int(UINT stringId, UINT flags, const std::string& text)>;

// Looks up a string resource; empty when unknown. Set by the application.
using StringLoader = std::function<std::string(UINT stringId)>;

class CCommon {
public:
    CCommon();
    virtual ~CCommon();
    CCommon(const CCommon&) = delete;
    CCommon& operator=(const CCommon&) = delete;

    // One step of the wire checksum: T[(sum ^ byte) & 0xFF] ^ (sum >> 8), T the
    // reflected CRC-32 table. The caller adds the step to its running sum.
    static DWORD UpdateCrc32(DWORD sum, BYTE byte);

    // Index of pattern in text without regard to case; 0 when they are equal,
    // -1 when absent or when the pattern is longer than the text.
    static LONG FindStringNoCase(std::string_view pattern, std::string_view text);
    // The same over byte buffers; -1 when absent or the buffer is shorter.
    static LONG FindDataNoCase(const BYTE* pattern, const BYTE* buffer, DWORD patternLength,
                               DWORD bufferLength);
    // Overlap-safe copy; returns the length.
    static DWORD MoveBytes(void* destination, const void* source, DWORD length);

    enum PathPart : UINT { kDrive = 1, kFolder = 2, kBaseName = 4, kExtension = 8 };
    // Builds a text from the selected parts of a Windows-form path.
    static std::string GetFileNameFromPath(std::string_view path, UINT parts);
    // Splits text at the separator (0 means ';') into at most maxCount fields;
    // the last field takes the rest. Returns the count.
    static int SplitFields(std::string_view text, std::vector<std::string>& fields, int maxCount,
                           char separator);
    // Local date (short or long form of the locale), two blanks, local time.
    static std::string GetDateTimeStamp(bool longForm);
    // Opens the file with the desktop's associated program; false when it cannot start.
    static bool ShellOpen(const std::string& path);
    static std::string AppendClipboardFileName(UINT clipboardFormat);
    static UINT GetClipboardFormatOfFile(std::string_view fileName);

    // Formats string resource `stringId` (printf-style) with the arguments and
    // shows it through the presenter; returns the presenter's result, 0 when
    // messages are switched off or no presenter is set.
    int ShowMessage(UINT stringId, UINT flags, ...);
    // Shows a finished text (no string resource) the same way.
    int ShowText(const std::string& text, UINT flags);

    // The user-interface font: face from string 311, height from string 321 (8
    // when absent) unless `height` is non-zero, weight 700 when bold else 400, the
    // Japanese character set when the user's language is Japanese. The window
    // layer turns this description into its font.
    struct LanguageFont {
        std::string face;
        int height = 8;
        int weight = 400;
        bool japaneseCharset = false;
    };
    static LanguageFont CreateLanguageFont(int height, bool bold);

    // Shortens a Windows-form path for a window `widthPx` wide: leading folders
    // are replaced by "..." at backslashes until `measure` (the window's text
    // width) fits; the shortest form when none fits.
    static std::string CompactPathToWindow(std::string_view path, int widthPx,
                                           const std::function<int(std::string_view)>& measure);

    // H.263 picture header tests.
    bool IsKeyFrameH263(const BYTE* frame, DWORD length);
    static bool GetH263SourceFormat(const BYTE* frame, DWORD length, int& format);

    static void setMessagePresenter(MessagePresenter presenter);
    static void setStringLoader(StringLoader loader);
    static std::string loadString(UINT stringId);

    BOOL m_nEnableMessage = TRUE;

private:
    static int present(UINT stringId, UINT flags, const std::string& text);

    std::vector<BYTE> m_workBuffer;
    DWORD m_lastKeyFrameMs = 0;
};

// The fixed English text of a file-exception cause.
const char* GetFileExceptionText(int cause, std::string* buffer = nullptr);

// Zero-filled block management: no block allocates `size` zeroed bytes; a block
// and a size reallocates (the new tail zeroed is not promised); a block and size
// 0 frees it and returns nullptr.
void* GlobalMemReAlloc(void* block, std::size_t size);
void GlobalMemFree(void* block);

// The wire checksum over a byte range: starts at 0xFFFFFFFF and adds each step
// (not CRC-32: the step is added to the sum, not assigned); no final inversion.
LONG WireChecksum(std::span<const BYTE> bytes);

namespace wire_checksum_detail {
constexpr std::array<DWORD, 256> makeTable() {
    std::array<DWORD, 256> table{};
    for (DWORD i = 0; i < 256; ++i) {
        DWORD c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}
// The reflected CRC-32 table the checksum steps use.
inline constexpr std::array<DWORD, 256> kTable = makeTable();
}  // namespace wire_checksum_detail

// The wire checksum taken a byte at a time, for a loop that moves the bytes
// (escaping them, say) while it sums them: after add() of each byte of a range,
// value() equals WireChecksum of that range.
class WireChecksumSum {
public:
    void add(BYTE byte) {
        m_sum += wire_checksum_detail::kTable[(m_sum ^ byte) & 0xFF] ^ (m_sum >> 8);
    }
    LONG value() const { return static_cast<LONG>(m_sum); }

private:
    DWORD m_sum = 0xFFFFFFFFu;
};
