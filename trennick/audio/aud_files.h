#pragma once
// Audio recordings (".tra"): the received talk of a manual recording, kept
// beside that camera's manual-trigger events.
//
// CAudFilesMgr finds the folder <storage>/TriggersMoviesDB/<station id>/
// Movies/Adapter_<a>/Camera_<c>/Manual_Trigger, makes it, and names the next
// file "Event_<n>.tra". CAudFileWriter writes the file: a 38-byte header
// (completed on close), then one chunk per received audio frame.
//
// Both run on the user-interface thread. Failures are traced and answered 0;
// a chunk that cannot be written whole is taken back.

#include "platform/types.h"

#include <cstdio>
#include <string>

#pragma pack(push, 1)
struct AudFileHeader {
    char magic[4];  // "ZOAF"
    WORD version;   // 1
    DWORD headerSize;  // 38
    FILETIME startTime;  // local time of opening
    FILETIME endTime;    // local time of closing
    WORD adapter;
    WORD camera;
    DWORD chunkCount;
    DWORD checksum;  // the sum of bytes 0-33 as unsigned bytes
};
struct AudChunkHeader {
    char tag[4];  // "G723"
    DWORD length;  // data bytes that follow
    FILETIME time;  // local time of writing
};
#pragma pack(pop)
static_assert(sizeof(AudFileHeader) == 38);
static_assert(sizeof(AudChunkHeader) == 16);

inline constexpr WORD kAudFileVersion = 1;

// The checksum of a header: its first 34 bytes summed as unsigned bytes.
DWORD AudHeaderChecksum(const AudFileHeader& header);

class CAudFilesMgr {
public:
    // Builds and makes the folder and chooses the name; 1, or 0 when the
    // station id is unusable, its storage folder cannot be had, or the folder
    // cannot be made or listed.
    int Open(const char* stationId, WORD adapter, WORD camera);
    // The full path; 0 when folder or name is empty.
    int GetFileName(std::string& path) const;
    int Close() { return 1; }

private:
    WORD m_adapter = 0;
    WORD m_camera = 0;
    std::string m_stationId;
    std::string m_folder;
    std::string m_name;
};

class CAudFileWriter {
public:
    CAudFileWriter() = default;
    ~CAudFileWriter() { Close(); }
    CAudFileWriter(const CAudFileWriter&) = delete;
    CAudFileWriter& operator=(const CAudFileWriter&) = delete;

    // Creates the file anew and writes the open header; 1 or 0.
    int Open(const std::string& path, WORD adapter, WORD camera);
    // Appends one chunk; 1, or 0 when it could not be written whole (the file
    // then ends where it ended before the chunk).
    int AddChunk(const BYTE* data, DWORD length);
    // Completes the header and closes; always 1.
    int Close();
    const std::string& GetFileName() const { return m_path; }
    DWORD ChunkCount() const { return m_chunks; }

private:
    bool writeAt(long offset, const void* data, size_t bytes);

    std::FILE* m_file = nullptr;
    AudFileHeader m_header{};
    DWORD m_chunks = 0;
    long m_end = 0;  // where the next chunk goes
    std::string m_path;
};
