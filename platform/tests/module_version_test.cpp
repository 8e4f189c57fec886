#include "platform/module_version.h"

#include "platform/folders.h"
#include "platform/library.h"

#include <cstring>
#include <elf.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::readModuleVersion;

namespace {

fs::path fixture(const char* kind) { return platform::executableFolder() / ("libvlmfixture_" + std::string(kind) + ".so"); }

std::vector<char> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path writeBytes(const std::string& name, const std::vector<char>& bytes) {
    fs::path path = platform::homeFolder() / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Where the pieces of the fixture lie, found with the system's own ELF header.
struct Layout {
    std::size_t sectionTable = 0;
    std::size_t sectionTableSize = 0;
    std::size_t noteHeader = 0;  // the note section's entry in the table
    std::size_t noteData = 0;
    std::size_t noteSize = 0;
};

Layout layoutOf(const std::vector<char>& file) {
    Layout layout;
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    layout.sectionTable = header.e_shoff;
    layout.sectionTableSize = std::size_t{header.e_shnum} * header.e_shentsize;
    Elf64_Shdr names;
    std::memcpy(&names, file.data() + header.e_shoff + header.e_shstrndx * header.e_shentsize, sizeof names);
    for (int i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section;
        std::size_t at = header.e_shoff + static_cast<std::size_t>(i) * header.e_shentsize;
        std::memcpy(&section, file.data() + at, sizeof section);
        if (std::strcmp(file.data() + names.sh_offset + section.sh_name, ".note.velmoor.version") == 0) {
            layout.noteHeader = at;
            layout.noteData = section.sh_offset;
            layout.noteSize = section.sh_size;
        }
    }
    return layout;
}

void expectFixtureVersionOrNothing(const fs::path& path) {
    auto version = readModuleVersion(path);
    if (version) {
        EXPECT_EQ(version->description, "Velmoor test library");
        EXPECT_EQ(version->version, "2.3.4.5");
    }
}

}  // namespace

TEST(ModuleVersion, ReadsTheNoteOfAModuleFile) {
    auto version = readModuleVersion(fixture("noted"));
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->description, "Velmoor test library");
    EXPECT_EQ(version->version, "2.3.4.5");

    EXPECT_FALSE(readModuleVersion(fixture("plain")).has_value());
    EXPECT_FALSE(readModuleVersion(platform::homeFolder() / "missing.so").has_value());
    EXPECT_FALSE(readModuleVersion(platform::homeFolder()).has_value());  // a folder
}

TEST(ModuleVersion, FindsTheModuleOfAnAddress) {
    fs::path program = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(platform::moduleFileOf(nullptr), program);
    static int inProgram = 0;
    EXPECT_EQ(platform::moduleFileOf(&inProgram), program);
    auto version = readModuleVersion(program);
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->description, "Velmoor platform tests");
    EXPECT_EQ(version->version, "1.0.0.9");

    HMODULE library = platform::loadLibrary(fixture("noted").string());
    ASSERT_NE(library, nullptr);
    void* function = platform::librarySymbol(library, "vlmFixtureValue");
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(fs::canonical(platform::moduleFileOf(function)), fs::canonical(fixture("noted")));
    EXPECT_TRUE(platform::freeLibrary(library));

    // A system library has no note of ours.
    fs::path libc = platform::moduleFileOf(reinterpret_cast<void*>(&std::strlen));
    EXPECT_FALSE(libc.empty());
    EXPECT_FALSE(readModuleVersion(libc).has_value());

    EXPECT_TRUE(platform::moduleFileOf(reinterpret_cast<void*>(std::uintptr_t{16})).empty());
}

TEST(ModuleVersion, TruncatedFilesReadAsAbsent) {
    std::vector<char> file = bytesOf(fixture("noted"));
    ASSERT_GT(file.size(), 1000u);
    for (std::size_t length : {std::size_t{0}, std::size_t{4}, std::size_t{63}, std::size_t{64}, file.size() / 2,
                               file.size() - 1}) {
        SCOPED_TRACE(length);
        std::vector<char> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(readModuleVersion(writeBytes("cut.so", cut)).has_value());
    }
}

TEST(ModuleVersion, DamagedFieldsAreCaught) {
    const std::vector<char> file = bytesOf(fixture("noted"));
    Layout layout = layoutOf(file);
    ASSERT_NE(layout.noteHeader, 0u);
    ASSERT_GE(layout.noteSize, 12u);

    struct Damage {
        const char* what;
        std::size_t offset;
        std::uint64_t value;
        int width;
    };
    const Damage damages[] = {
        {"section table offset", offsetof(Elf64_Ehdr, e_shoff), 0xFFFFFFFFFFFFFF00ULL, 8},
        {"section count", offsetof(Elf64_Ehdr, e_shnum), 0xFFFF, 2},
        {"entry size", offsetof(Elf64_Ehdr, e_shentsize), 8, 2},
        {"name table index", offsetof(Elf64_Ehdr, e_shstrndx), 0xFFF0, 2},
        {"class", EI_CLASS, ELFCLASS32, 1},
        {"note offset", layout.noteHeader + offsetof(Elf64_Shdr, sh_offset), 0x7FFFFFFFFFFFFFFFULL, 8},
        {"note size", layout.noteHeader + offsetof(Elf64_Shdr, sh_size), 0xFFFFFFFFFFFFFFF0ULL, 8},
        {"note name offset", layout.noteHeader + offsetof(Elf64_Shdr, sh_name), 0xFFFFFFF0, 4},
        {"note name size", layout.noteData, 0xFFFFFFF0, 4},
        {"note text size", layout.noteData + 4, 0xFFFFFFF0, 4},
        {"note text size, no terminator", layout.noteData + 4, 5, 4},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.what);
        std::vector<char> copy = file;
        std::memcpy(copy.data() + damage.offset, &damage.value, static_cast<std::size_t>(damage.width));
        EXPECT_FALSE(readModuleVersion(writeBytes("damaged.so", copy)).has_value());
    }
}

// Every byte of the headers the reader walks, flipped one at a time: the reader
// must never read outside the file and either finds the right texts or none.
TEST(ModuleVersion, SurvivesEveryFlippedHeaderByte) {
    const std::vector<char> file = bytesOf(fixture("noted"));
    Layout layout = layoutOf(file);
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < sizeof(Elf64_Ehdr); ++i) {
        offsets.push_back(i);
    }
    for (std::size_t i = 0; i < layout.sectionTableSize; ++i) {
        offsets.push_back(layout.sectionTable + i);
    }
    for (std::size_t i = 0; i < layout.noteSize; ++i) {
        offsets.push_back(layout.noteData + i);
    }
    fs::path path = platform::homeFolder() / "flipped.so";
    std::vector<char> copy = file;
    for (std::size_t offset : offsets) {
        SCOPED_TRACE(offset);
        copy[offset] = static_cast<char>(~copy[offset]);
        std::ofstream(path, std::ios::binary).write(copy.data(), static_cast<std::streamsize>(copy.size()));
        copy[offset] = file[offset];
        auto version = readModuleVersion(path);
        if (version) {
            // A flip in the texts themselves shows up in them; anywhere else the texts stay right.
            bool inTexts = offset >= layout.noteData + 20 && offset < layout.noteData + layout.noteSize;
            if (!inTexts) {
                expectFixtureVersionOrNothing(path);
            }
        }
    }
}
