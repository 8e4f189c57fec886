// Fuzzes the event file reader: opening (with the recovery of files that were
// never closed), stepping forward and backward, and frame retrieval. The first
// input byte chooses repairs that let inputs past the checksums: bit 0 seals the
// header, bit 1 seals the snapshot headers along the chain, bit 2 marks the file
// closed.

#include "fuzz_storage.h"
#include "tavicore/frame_rtv.h"

#include <cstring>
#include <vector>

namespace {

void seal(std::vector<uint8_t>& file, uint8_t control) {
    if (file.size() >= kEventHeaderSize) {
        if (control & 4) {
            file[4] = 2;
            file[5] = 0;
        }
        if (control & 1) {
            std::memcpy(file.data(), "VHED", 4);
            DWORD sum = fuzzing::byteSum(file.data(), 82);
            std::memcpy(file.data() + 82, &sum, 4);
        }
    }
    if (control & 2) {
        std::uint64_t at = kEventHeaderSize;
        for (int i = 0; i < 1000 && at + kEventSnapshotHeaderSize <= file.size(); ++i) {
            DWORD sum = fuzzing::byteSum(file.data() + at, 28);
            std::memcpy(file.data() + at + 28, &sum, 4);
            DWORD size = 0;
            std::memcpy(&size, file.data() + at + 12, 4);
            at += kEventSnapshotHeaderSize + std::uint64_t(size);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string path = fuzzing::storage() + "/fuzz.trg";
    std::vector<uint8_t> file(data + 1, data + size);
    seal(file, data[0]);
    fuzzing::writeFile(path, file.data(), file.size());

    {
        CEventFile reader(9, nullptr, const_cast<char*>(path.c_str()), "");
        WORD code = 0;
        reader.GetLastError(&code);
        if (code == 0) {
            tagEventHeader h{};
            reader.GetEventHeader(&h);
            const DWORD count = h.dwSnapShotNum;
            DWORD steps = std::min<DWORD>(count, 2000) + 3;
            std::vector<BYTE> buffer;
            for (DWORD i = 0; i < steps; ++i) {
                tagEventSnapshot snap{};
                if (!reader.ReadSnapShotHeader(&snap)) {
                    break;
                }
                buffer.resize(snap.dwSize);
                if (!reader.ReadSnapShotData(buffer.data(), snap.dwSize, (i % 5) != 4)) {
                    break;
                }
            }
            for (DWORD i = 0; i < 8; ++i) {
                tagEventSnapshot snap{};
                if (!reader.evSeekToPreviousFrame(&snap)) {
                    break;
                }
                buffer.resize(snap.dwSize);
                if (!reader.ReadSnapShotData(buffer.data(), snap.dwSize, 0)) {
                    break;
                }
            }
        }
    }
    {
        CFrmRtvZO rtv(path.c_str());
        if (rtv.rtvOpenEvent()) {
            DWORD steps = std::min<DWORD>(rtv.rtvGetSnapshotNumber(), 500) + 2;
            rtv.rtvGetFirstFrame();
            for (DWORD i = 0; i < steps; ++i) {
                if (i % 3 == 2 ? rtv.rtvGetPrevFrame() == nullptr : rtv.rtvGetNextFrame() == nullptr) {
                    break;
                }
                rtv.rtvGetFrameIndex();
            }
        }
    }
    return 0;
}
