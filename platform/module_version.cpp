#include "platform/module_version.h"

#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

constexpr const char* kSectionName = ".note.velmoor.version";
constexpr const char kNoteOwner[] = "Velmoor";
constexpr std::uint32_t kNoteType = 1;
// A version note is a few hundred bytes; refuse to read more than this of a
// section, a section table or the section name table.
constexpr std::uint64_t kMaxNoteSection = 64 * 1024;
constexpr std::uint64_t kMaxSectionTable = 16 * 1024 * 1024;

class File {
public:
    explicit File(const std::filesystem::path& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (m_fd >= 0 && ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode)) {
            m_size = static_cast<std::uint64_t>(info.st_size);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    std::uint64_t size() const { return m_size; }

    // Reads exactly `length` bytes at `offset`, after checking that they lie
    // inside the file.
    bool read(std::uint64_t offset, std::uint64_t length, void* out) const {
        if (offset > m_size || length > m_size - offset) {
            return false;
        }
        auto* bytes = static_cast<char*>(out);
        while (length > 0) {
            ssize_t got = ::pread(m_fd, bytes, length, static_cast<off_t>(offset));
            if (got <= 0) {
                return false;
            }
            bytes += got;
            offset += static_cast<std::uint64_t>(got);
            length -= static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

bool readSection(const File& file, const Elf64_Shdr& section, std::uint64_t limit, std::vector<char>& out) {
    if (section.sh_type == SHT_NOBITS || section.sh_size > limit) {
        return false;
    }
    out.resize(section.sh_size);
    return file.read(section.sh_offset, section.sh_size, out.data());
}

std::uint64_t padded(std::uint64_t size, std::uint64_t align) { return (size + align - 1) / align * align; }

// Walks the notes of the section and takes the first version note.
std::optional<ModuleVersion> parseNotes(const std::vector<char>& data, std::uint64_t align) {
    std::uint64_t pos = 0;
    while (data.size() - pos >= 12) {
        std::uint32_t header[3];
        std::memcpy(header, data.data() + pos, sizeof header);
        std::uint64_t nameSize = header[0];
        std::uint64_t descSize = header[1];
        pos += 12;
        std::uint64_t nameSpan = padded(nameSize, align);
        if (nameSpan > data.size() - pos) {
            return std::nullopt;
        }
        const char* name = data.data() + pos;
        pos += nameSpan;
        std::uint64_t descSpan = padded(descSize, align);
        if (descSpan > data.size() - pos) {
            // The last note need not be padded to the end.
            if (descSize > data.size() - pos) {
                return std::nullopt;
            }
            descSpan = data.size() - pos;
        }
        const char* desc = data.data() + pos;
        pos += descSpan;
        if (header[2] != kNoteType || nameSize != sizeof kNoteOwner ||
            std::memcmp(name, kNoteOwner, sizeof kNoteOwner) != 0) {
            continue;
        }
        // Two terminated texts inside the descriptor.
        const char* end = desc + descSize;
        const char* first = static_cast<const char*>(std::memchr(desc, '\0', descSize));
        if (first == nullptr) {
            return std::nullopt;
        }
        const char* second = static_cast<const char*>(std::memchr(first + 1, '\0', static_cast<std::size_t>(end - first - 1)));
        if (second == nullptr) {
            return std::nullopt;
        }
        return ModuleVersion{std::string(desc, first), std::string(first + 1, second)};
    }
    return std::nullopt;
}

struct FindModule {
    std::uintptr_t address;
    std::string name;
    bool found = false;
};

int matchModule(dl_phdr_info* info, size_t, void* data) {
    auto* find = static_cast<FindModule*>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) {
            continue;
        }
        std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (find->address >= start && find->address - start < segment.p_memsz) {
            find->found = true;
            find->name = info->dlpi_name ? info->dlpi_name : "";
            return 1;
        }
    }
    return 0;
}

std::filesystem::path programFile() {
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self;
}

}  // namespace

std::optional<ModuleVersion> readModuleVersion(const std::filesystem::path& path) {
    File file(path);
    Elf64_Ehdr header{};
    if (!file.read(0, sizeof header, &header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_shentsize < sizeof(Elf64_Shdr) || header.e_shoff == 0) {
        return std::nullopt;
    }
    // Section 0 carries the real count and name-table index when they do not
    // fit the header's 16-bit fields.
    Elf64_Shdr first{};
    if (!file.read(header.e_shoff, sizeof first, &first)) {
        return std::nullopt;
    }
    std::uint64_t count = header.e_shnum != 0 ? header.e_shnum : first.sh_size;
    std::uint64_t namesIndex = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : first.sh_link;
    if (count == 0 || namesIndex >= count || count > kMaxSectionTable / header.e_shentsize) {
        return std::nullopt;
    }
    std::vector<char> table(count * header.e_shentsize);
    if (!file.read(header.e_shoff, table.size(), table.data())) {
        return std::nullopt;
    }
    auto sectionAt = [&](std::uint64_t index) {
        Elf64_Shdr section{};
        std::memcpy(&section, table.data() + index * header.e_shentsize, sizeof section);
        return section;
    };
    std::vector<char> names;
    if (!readSection(file, sectionAt(namesIndex), kMaxSectionTable, names)) {
        return std::nullopt;
    }
    const std::size_t wanted = std::strlen(kSectionName) + 1;
    for (std::uint64_t i = 1; i < count; ++i) {
        Elf64_Shdr section = sectionAt(i);
        if (section.sh_name >= names.size() || names.size() - section.sh_name < wanted ||
            std::memcmp(names.data() + section.sh_name, kSectionName, wanted) != 0) {
            continue;
        }
        std::vector<char> notes;
        if (!readSection(file, section, kMaxNoteSection, notes)) {
            return std::nullopt;
        }
        return parseNotes(notes, section.sh_addralign == 8 ? 8 : 4);
    }
    return std::nullopt;
}

std::filesystem::path moduleFileOf(const void* addressInModule) {
    if (addressInModule == nullptr) {
        return programFile();
    }
    FindModule find{reinterpret_cast<std::uintptr_t>(addressInModule), {}};
    ::dl_iterate_phdr(matchModule, &find);
    if (!find.found) {
        return {};
    }
    // The program itself is listed without a name.
    return find.name.empty() ? programFile() : std::filesystem::path(find.name);
}

}  // namespace platform
