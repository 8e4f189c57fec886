#include "trennick/audio/aud_files.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "platform/time_convert.h"
#include "tavicore/event_file.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <strings.h>
#include <system_error>
#include <unistd.h>

namespace {

// The local time now, as a FILETIME.
bool localNow(FILETIME& out) {
    if (!platform::fileTimeToLocalFileTime(platform::currentFileTime(), out)) {
        LUMO_TRACE(1, "CAudFileWriter::GetCurrentFileTime SystemTimeToFileTime() failed");
        return false;
    }
    return true;
}

// The station id names a folder: it comes from the peer, so it must be one
// plain name that stays inside the storage folder.
bool usableFolderName(const std::string& id) {
    return !id.empty() && id != "." && id != ".." && id.find_first_of("/\\") == std::string::npos;
}

// Recordings are numbered from 1 to this; a larger number is not one of ours.
constexpr unsigned long kLastRecordingNumber = 999999999;

std::string recordingName(unsigned long number) { return "Event_" + std::to_string(number) + ".tra"; }

// The number of a recording's file name "Event_<n>.tra" (any letter case of
// the extension), when it is one within the numbering.
std::optional<unsigned long> recordingNumber(const std::string& name) {
    constexpr std::string_view kPrefix = "Event_";
    constexpr std::size_t kExtension = 4;
    if (name.size() <= kPrefix.size() + kExtension || name.compare(0, kPrefix.size(), kPrefix) != 0 ||
        strcasecmp(name.c_str() + name.size() - kExtension, ".tra") != 0) {
        return std::nullopt;
    }
    const char* first = name.data() + kPrefix.size();
    const char* last = name.data() + name.size() - kExtension;
    unsigned long n = 0;
    const auto [end, error] = std::from_chars(first, last, n);
    if (error != std::errc() || end != last || n > kLastRecordingNumber) return std::nullopt;
    return n;
}

}  // namespace

DWORD AudHeaderChecksum(const AudFileHeader& header) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&header);
    DWORD sum = 0;
    for (size_t i = 0; i < offsetof(AudFileHeader, checksum); ++i) sum += bytes[i];
    return sum;
}

int CAudFilesMgr::Open(const char* stationId, WORD adapter, WORD camera) {
    m_stationId = fixed_text::Read(stationId, 259);
    m_adapter = adapter;
    m_camera = camera;
    m_folder.clear();
    m_name.clear();
    if (!usableFolderName(m_stationId)) {
        LUMO_TRACE(1, "CAudFilesMgr::Open unusable station id \"%s\"", m_stationId.c_str());
        return 0;
    }
    char storage[MAX_PATH + 1] = {};
    if (!CEventFile::getWorkDirForEvents(storage, m_stationId.c_str())) {
        return 0;
    }
    const std::filesystem::path folder = std::filesystem::path(storage) / "TriggersMoviesDB" / m_stationId / "Movies" /
                                         ("Adapter_" + std::to_string(adapter)) /
                                         ("Camera_" + std::to_string(camera)) / "Manual_Trigger";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) {
        return 0;
    }
    // The next number follows the largest in use, so a new recording never
    // replaces an older one after some were deleted. A number too large to
    // follow (a file put there by hand) is not counted: its successor would
    // wrap to 0 and every recording would take the same name.
    unsigned long highest = 0;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) {
        return 0;
    }
    for (const auto& entry : it) {
        if (const auto n = recordingNumber(entry.path().filename().string())) highest = std::max(highest, *n);
    }
    unsigned long next = highest + 1;
    if (next > kLastRecordingNumber) {
        // The numbers are used up to the last: the first free one is taken.
        next = 1;
        while (next <= kLastRecordingNumber && std::filesystem::exists(folder / recordingName(next), ec)) ++next;
        if (next > kLastRecordingNumber) return 0;
    }
    m_folder = folder.string();
    m_name = recordingName(next);
    return 1;
}

int CAudFilesMgr::GetFileName(std::string& path) const {
    if (m_folder.empty() || m_name.empty()) {
        return 0;
    }
    path = (std::filesystem::path(m_folder) / m_name).string();
    LUMO_TRACE(3, "CAudFilesMgr::GetFileName %s", path.c_str());
    return 1;
}

bool CAudFileWriter::writeAt(long offset, const void* data, size_t bytes) {
    if (std::fseek(m_file, offset, SEEK_SET) != 0) {
        LUMO_TRACE(1, "CAudFileWriter::Seek SetFilePointer Failed Sys Error %d ", errno);
        return false;
    }
    const size_t written = std::fwrite(data, 1, bytes, m_file);
    if (written != bytes || std::fflush(m_file) != 0) {
        LUMO_TRACE(1, "CAudFileWriter::Write WriteFile Failed %d written", int(written));
        return false;
    }
    return true;
}

int CAudFileWriter::Open(const std::string& path, WORD adapter, WORD camera) {
    Close();
    m_header = AudFileHeader{};
    if (!localNow(m_header.startTime)) {
        return 0;
    }
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr) {
        LUMO_TRACE(1, "CAudFileWriter::Open cannot create %s", path.c_str());
        return 0;
    }
    m_path = path;
    m_header.adapter = adapter;
    m_header.camera = camera;
    m_chunks = 0;
    // While open, the header holds only the start time, adapter and camera.
    if (!writeAt(0, &m_header, sizeof m_header)) {
        LUMO_TRACE(1, "CAudFileWriter::WriteFileHeader Write() Failed");
        std::fclose(m_file);
        m_file = nullptr;
        m_path.clear();
        return 0;
    }
    m_end = long(sizeof m_header);
    return 1;
}

int CAudFileWriter::AddChunk(const BYTE* data, DWORD length) {
    if (m_file == nullptr || (data == nullptr && length > 0)) {
        return 0;
    }
    AudChunkHeader chunk{};
    std::memcpy(chunk.tag, "G723", 4);
    chunk.length = length;
    if (!localNow(chunk.time)) {
        return 0;
    }
    if (!writeAt(m_end, &chunk, sizeof chunk)) {
        LUMO_TRACE(1, "CAudFileWriter::WriteChunkHeader Write() failed");
    } else if (length == 0 || writeAt(m_end + long(sizeof chunk), data, length)) {
        m_end += long(sizeof chunk + length);
        ++m_chunks;
        return 1;
    }
    // Take the whole chunk back: the file ends where the last good chunk ended.
    std::fflush(m_file);
    if (::ftruncate(fileno(m_file), m_end) != 0) {
        LUMO_TRACE(1, "CAudFileWriter::AddChunk cannot take back a failed chunk, Sys Error %d", errno);
    }
    return 0;
}

int CAudFileWriter::Close() {
    if (m_file == nullptr) {
        return 1;
    }
    localNow(m_header.endTime);
    std::memcpy(m_header.magic, "ZOAF", 4);
    m_header.version = kAudFileVersion;
    m_header.headerSize = sizeof(AudFileHeader);
    m_header.chunkCount = m_chunks;
    m_header.checksum = AudHeaderChecksum(m_header);
    if (!writeAt(0, &m_header, sizeof m_header)) {
        LUMO_TRACE(1, "CAudFileWriter::Close() WriteFileHeader Failed ");
    }
    std::fclose(m_file);
    m_file = nullptr;
    m_path.clear();
    m_chunks = 0;
    return 1;
}
