#pragma once
// Helpers of the event file tests: an event tree under the test's home, frames
// whose bytes say which frame they are, writing and reading whole files.

#include "platform/folders.h"
#include "tavicore/event_file.h"
#include "tavicore/frame_rtv.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace eventtest {

namespace fs = std::filesystem;

// The events storage of this test, set as the storage root.
inline std::string useTestRoot() {
    fs::path root = platform::homeFolder() / "storage";
    fs::create_directories(root);
    evSetEventsStorageRoot(root.c_str());
    return root.string();
}

inline tagEventHeader key(DWORD type, WORD adapter, WORD camera, DWORD number) {
    tagEventHeader h{};
    h.dwType = type;
    h.wAdapter = adapter;
    h.wCamera = camera;
    h.dwEventNumber = number;
    return h;
}

// Frame `serial` of `size` bytes: the serial in its first 4 bytes (when there is
// room), then a pattern that depends on it and on the size (so that the start
// of a longer frame never passes for a whole shorter one).
inline std::vector<BYTE> payload(DWORD serial, std::size_t size) {
    std::vector<BYTE> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = BYTE(serial * 31 + i * 7 + size * 13);
    }
    if (size >= 4) {
        std::memcpy(bytes.data(), &serial, 4);
    }
    return bytes;
}

// The serial of a frame's bytes, or -1 when the bytes are not such a frame.
inline long long serialOf(const BYTE* data, std::size_t size) {
    if (size < 4) {
        return -1;
    }
    DWORD serial = 0;
    std::memcpy(&serial, data, 4);
    return payload(serial, size) == std::vector<BYTE>(data, data + size) ? static_cast<long long>(serial) : -1;
}

struct Frame {
    std::size_t size;
    bool wrapAfter;
    const char* magic = "LUMA";
};

// Writes the frames in order into a new event file (mode 1) and closes it;
// frame i carries serial i. Returns the file's path.
inline std::string writeEvent(tagEventHeader header, const std::vector<Frame>& frames,
                              const char* station = "") {
    CEventFile file(1, &header, static_cast<char*>(nullptr), station);
    WORD code = 0;
    file.GetLastError(&code);
    EXPECT_EQ(code, 0);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        auto bytes = payload(DWORD(i), frames[i].size);
        tagEventSnapshot snap{};
        std::memcpy(snap.chMagic, frames[i].magic, 4);
        snap.dwSize = DWORD(bytes.size());
        EXPECT_EQ(file.AddSnapShot(&snap, nullptr, bytes.data(), frames[i].wrapAfter ? 1 : 0), 1);
    }
    char path[MAX_PATH] = {};
    file.evGetFileName(path, sizeof path);
    file.CloseEvent(1);
    return path;
}

// Opens the file (mode 9) and reads `count` frames forward; each frame's serial
// (-1 for a frame whose bytes are wrong). Stops at the first failed read.
inline std::vector<long long> readSerials(const std::string& path, DWORD count,
                                          tagEventHeader* header = nullptr) {
    std::vector<long long> serials;
    CEventFile file(9, nullptr, const_cast<char*>(path.c_str()), "");
    WORD code = 0;
    file.GetLastError(&code);
    EXPECT_EQ(code, 0) << path;
    if (code != 0) {
        return serials;
    }
    tagEventHeader h{};
    file.GetEventHeader(&h);
    if (header != nullptr) {
        *header = h;
    }
    for (DWORD i = 0; i < count; ++i) {
        tagEventSnapshot snap{};
        if (!file.ReadSnapShotHeader(&snap)) {
            break;
        }
        EXPECT_EQ(+snap.dwOrdinal, std::min<DWORD>(i, h.dwSnapShotNum - 1));
        std::vector<BYTE> data(snap.dwSize);
        if (!file.ReadSnapShotData(data.data(), snap.dwSize, 1)) {
            break;
        }
        serials.push_back(serialOf(data.data(), data.size()));
    }
    return serials;
}

// Every snapshot of an event file, played back frame by frame through the
// frame reader.
inline std::vector<std::vector<BYTE>> playBack(const std::string& path) {
    std::vector<std::vector<BYTE>> frames;
    CFrmRtvZO rtv(path.c_str());
    if (rtv.rtvOpenEvent() != 1) {
        return frames;
    }
    for (BYTE* f = rtv.rtvGetFirstFrame(); f != nullptr && frames.size() < rtv.rtvGetSnapshotNumber();
         f = rtv.rtvGetNextFrame()) {
        frames.emplace_back(f, f + rtv.rtvGetImageSize());
    }
    return frames;
}

// The header of an event file (zero when it cannot be read).
inline tagEventHeader headerOf(const std::string& path) {
    tagEventHeader h{};
    CEventFile file(9, nullptr, const_cast<char*>(path.c_str()), nullptr);
    file.GetEventHeader(&h);
    return h;
}

inline std::vector<BYTE> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace eventtest
