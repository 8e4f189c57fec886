#include "platform/ini_file.h"

#include "platform/fd.h"
#include "platform/folders.h"
#include "platform/replace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// ---- text helpers -------------------------------------------------------------

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char lowered(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowered(a[i]) != lowered(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// Copies at most out.size() - 1 characters and terminates; returns the count.
std::size_t copyTerminated(std::string_view text, std::span<char> out) {
    if (out.empty()) {
        return 0;
    }
    std::size_t count = std::min(text.size(), out.size() - 1);
    std::memmove(out.data(), text.data(), count);
    out[count] = '\0';
    return count;
}

// ---- the parsed file ----------------------------------------------------------

enum class LineKind { Other, Section, Entry };

struct Line {
    std::string text;  // as in the file, without its line end
    LineKind kind = LineKind::Other;
    std::string name;   // section name or key, trimmed
    std::string value;  // entry value, trimmed
};

struct Document {
    std::vector<Line> lines;
    std::string eol = "\r\n";  // the file's own line end once one is seen
    bool finalEol = true;
    bool byteOrderMark = false;  // a UTF-8 mark before the first line, kept on rewrite
};

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

Line classify(std::string text) {
    Line line;
    std::string_view body = trimmed(text);
    if (body.empty() || body.front() == ';') {
        // blank or comment
    } else if (body.front() == '[') {
        body.remove_prefix(1);
        if (auto close = body.find(']'); close != std::string_view::npos) {
            body = body.substr(0, close);
        }
        line.kind = LineKind::Section;
        line.name = trimmed(body);
    } else {
        line.kind = LineKind::Entry;
        auto equals = body.find('=');
        line.name = trimmed(body.substr(0, equals));
        if (equals != std::string_view::npos) {
            line.value = trimmed(body.substr(equals + 1));
        }
    }
    line.text = std::move(text);
    return line;
}

Document parse(std::string_view content) {
    Document doc;
    if (content.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        doc.byteOrderMark = true;
        content.remove_prefix(kUtf8Mark.size());
    }
    bool eolSeen = false;
    std::size_t start = 0;
    while (start < content.size()) {
        auto end = content.find('\n', start);
        std::string_view raw = content.substr(start, end == std::string_view::npos ? end : end - start);
        bool crlf = !raw.empty() && raw.back() == '\r';
        if (crlf) {
            raw.remove_suffix(1);
        }
        if (end != std::string_view::npos && !eolSeen) {
            doc.eol = crlf ? "\r\n" : "\n";
            eolSeen = true;
        }
        doc.lines.push_back(classify(std::string(raw)));
        if (end == std::string_view::npos) {
            doc.finalEol = false;
            break;
        }
        start = end + 1;
    }
    return doc;
}

std::string serialize(const Document& doc) {
    std::string out(doc.byteOrderMark ? kUtf8Mark : std::string_view());
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        out += doc.lines[i].text;
        if (i + 1 < doc.lines.size() || doc.finalEol) {
            out += doc.eol;
        }
    }
    return out;
}

// [first, last) line ranges of every section with the given name, header included.
struct Range {
    std::size_t header;
    std::size_t end;
};

std::vector<Range> sectionRanges(const Document& doc, std::string_view section) {
    std::vector<Range> ranges;
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        if (doc.lines[i].kind == LineKind::Section && sameName(doc.lines[i].name, section)) {
            std::size_t end = i + 1;
            while (end < doc.lines.size() && doc.lines[end].kind != LineKind::Section) {
                ++end;
            }
            ranges.push_back({i, end});
            i = end - 1;
        }
    }
    return ranges;
}

const Line* findEntry(const Document& doc, std::string_view section, std::string_view key) {
    for (const auto& range : sectionRanges(doc, section)) {
        for (std::size_t i = range.header + 1; i < range.end; ++i) {
            const Line& line = doc.lines[i];
            if (line.kind == LineKind::Entry && sameName(line.name, key)) {
                return &line;
            }
        }
    }
    return nullptr;
}

// ---- file access --------------------------------------------------------------

bool readAll(int fd, std::string& content) {
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

// The file's text; empty when it is missing or cannot be read.
std::string loadText(const std::filesystem::path& path) {
    std::string content;
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid() || !readAll(file.get(), content)) {
        content.clear();
    }
    return content;
}

Document load(std::string_view file) { return parse(loadText(resolveIniPath(file))); }

// Holds an exclusive flock on the hidden lock file beside an ini file. When the
// lock file cannot be made (read-only folder) the write goes on unlocked and
// fails at its own step if the folder really is not writable.
class WriteLock {
public:
    explicit WriteLock(const std::filesystem::path& path)
        : m_file(::open((path.parent_path() / ("." + path.filename().string() + ".lock")).c_str(),
                        O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (m_file.valid()) {
            while (::flock(m_file.get(), LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    // Closing the descriptor releases the lock.

private:
    Fd m_file;
};

bool validSection(std::string_view section) {
    return !trimmed(section).empty() && section.find_first_of("]\r\n") == std::string_view::npos &&
           trimmed(section).front() != '[';
}

bool validKey(std::string_view key) {
    std::string_view name = trimmed(key);
    return !name.empty() && key.find_first_of("=\r\n") == std::string_view::npos &&
           name.front() != '[' && name.front() != ';';
}

bool validValue(std::string_view value) { return value.find_first_of("\r\n") == std::string_view::npos; }

// Applies one change to the document; returns whether it changed anything.
bool applyWrite(Document& doc, std::string_view section, const char* key, const char* value) {
    auto ranges = sectionRanges(doc, section);
    if (key == nullptr) {
        // Drop every copy of the section: its header and entries, and the comments
        // between them. Comments and blank lines after its last entry stay, as they
        // usually introduce the next section.
        for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
            std::size_t last = it->header;
            for (std::size_t i = it->header + 1; i < it->end; ++i) {
                if (doc.lines[i].kind == LineKind::Entry) {
                    last = i;
                }
            }
            doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(it->header),
                            doc.lines.begin() + static_cast<std::ptrdiff_t>(last + 1));
        }
        return !ranges.empty();
    }

    std::string_view keyName = trimmed(key);
    if (value == nullptr) {
        bool removed = false;
        for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
            for (std::size_t i = it->end; i-- > it->header + 1;) {
                if (doc.lines[i].kind == LineKind::Entry && sameName(doc.lines[i].name, keyName)) {
                    doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(i));
                    removed = true;
                }
            }
        }
        return removed;
    }

    std::string_view valueText = trimmed(value);
    for (const auto& range : ranges) {
        for (std::size_t i = range.header + 1; i < range.end; ++i) {
            Line& line = doc.lines[i];
            if (line.kind == LineKind::Entry && sameName(line.name, keyName)) {
                if (line.value == valueText && line.text.find('=') != std::string::npos) {
                    return false;
                }
                line = classify(line.name + "=" + std::string(valueText));
                return true;
            }
        }
    }

    Line entry = classify(std::string(keyName) + "=" + std::string(valueText));
    if (!ranges.empty()) {
        // After the last entry of the first copy of the section.
        std::size_t at = ranges.front().header + 1;
        for (std::size_t i = at; i < ranges.front().end; ++i) {
            if (doc.lines[i].kind == LineKind::Entry) {
                at = i + 1;
            }
        }
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
        return true;
    }
    if (!doc.lines.empty() && !trimmed(doc.lines.back().text).empty()) {
        doc.lines.push_back(classify(std::string()));
    }
    doc.lines.push_back(classify("[" + std::string(trimmed(section)) + "]"));
    doc.lines.push_back(std::move(entry));
    doc.finalEol = true;
    return true;
}

}  // namespace

std::filesystem::path resolveIniPath(std::string_view file) {
    std::string name(file);
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.find('/') == std::string::npos) {
        return windowsFolder() / name;
    }
    return std::filesystem::path(name);
}

std::optional<std::string> iniReadValue(std::string_view file, std::string_view section,
                                        std::string_view key) {
    Document doc = load(file);
    if (const Line* line = findEntry(doc, trimmed(section), trimmed(key))) {
        return std::string(unquoted(line->value));
    }
    return std::nullopt;
}

std::size_t iniReadString(std::string_view file, std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::span<char> out) {
    if (out.empty()) {
        return 0;
    }
    if (auto value = iniReadValue(file, section, key)) {
        return copyTerminated(*value, out);
    }
    // The default may live in `out` itself: copyTerminated moves, so overlap is fine.
    while (!defaultValue.empty() && (defaultValue.back() == ' ' || defaultValue.back() == '\t')) {
        defaultValue.remove_suffix(1);
    }
    return copyTerminated(defaultValue, out);
}

bool iniWriteString(std::string_view file, std::string_view section, const char* key,
                    const char* value) {
    if (!validSection(section) || (key != nullptr && !validKey(key)) ||
        (value != nullptr && !validValue(value))) {
        return false;
    }
    std::filesystem::path path = resolveIniPath(file);
    WriteLock lock(path);
    std::string text = loadText(path);
    Document doc = parse(text);
    if (!applyWrite(doc, trimmed(section), key, value)) {
        // Nothing to change; a removal from a missing file does not create it,
        // and a write whose value is already there does not touch it.
        return true;
    }
    return ReplaceFileContent(path, serialize(doc)) == 0;
}

std::vector<IniEntry> iniReadSection(std::string_view file, std::string_view section) {
    Document doc = load(file);
    std::vector<IniEntry> entries;
    for (const auto& range : sectionRanges(doc, trimmed(section))) {
        for (std::size_t i = range.header + 1; i < range.end; ++i) {
            const Line& line = doc.lines[i];
            if (line.kind == LineKind::Entry) {
                entries.push_back({line.name, line.value});
            }
        }
    }
    return entries;
}

std::size_t iniReadSectionText(std::string_view file, std::string_view section, std::span<char> out) {
    if (out.size() < 2) {
        return 0;
    }
    std::size_t used = 0;
    bool cut = false;
    for (const auto& entry : iniReadSection(file, section)) {
        std::string text = entry.key + "=" + entry.value;
        // Room for the text, its terminator and the list's final terminator.
        if (used + text.size() + 2 > out.size()) {
            // An entry that ended right at the limit leaves no room at all.
            std::size_t room = used < out.size() - 2 ? out.size() - 2 - used : 0;
            std::memcpy(out.data() + used, text.data(), room);
            cut = true;
            break;
        }
        std::memcpy(out.data() + used, text.data(), text.size());
        used += text.size();
        out[used++] = '\0';
    }
    if (cut) {
        out[out.size() - 2] = '\0';
        out[out.size() - 1] = '\0';
        return out.size() - 2;
    }
    out[used] = '\0';
    if (used == 0) {
        out[1] = '\0';
    }
    return used;
}

std::vector<std::string> iniSectionNames(std::string_view file) {
    Document doc = load(file);
    std::vector<std::string> names;
    for (const auto& line : doc.lines) {
        if (line.kind == LineKind::Section &&
            std::none_of(names.begin(), names.end(), [&](const std::string& n) { return sameName(n, line.name); })) {
            names.push_back(line.name);
        }
    }
    return names;
}

std::vector<IniSection> iniReadFile(std::string_view file) {
    Document doc = load(file);
    std::vector<IniSection> sections;
    for (const auto& line : doc.lines) {
        if (line.kind == LineKind::Section) {
            sections.push_back({line.name, {}});
        } else if (line.kind == LineKind::Entry && !sections.empty()) {
            sections.back().entries.push_back({line.name, std::string(unquoted(line.value))});
        }
    }
    return sections;
}

bool iniWriteFile(std::string_view file, const std::vector<IniSection>& sections) {
    std::string text;
    for (const auto& section : sections) {
        if (!validSection(section.name)) {
            return false;
        }
        if (!text.empty()) {
            text += "\r\n";
        }
        text += "[" + std::string(trimmed(section.name)) + "]\r\n";
        for (const auto& entry : section.entries) {
            if (!validKey(entry.key) || !validValue(entry.value)) {
                return false;
            }
            text += std::string(trimmed(entry.key)) + "=" + std::string(trimmed(entry.value)) + "\r\n";
        }
    }
    std::filesystem::path path = resolveIniPath(file);
    WriteLock lock(path);
    return ReplaceFileContent(path, text) == 0;
}

bool iniFlush(std::string_view) { return true; }

}  // namespace platform
