// Fuzzes the event list readers: a remote list file loaded into a camera's
// lists, a received list file taken over into the events tree, and the time
// conversion of an old list file. The first input byte chooses the layout and
// whether the headers of the list get valid checksums: bit 1 clear, the next 64
// input bytes are the start of the 576-byte list head (the rest of it zero) and
// what follows are the headers, so short inputs reach the header loop; bit 1
// set, the input is the whole file.

#include "fuzz_storage.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string& root = fuzzing::storage();
    std::vector<uint8_t> file;
    if (data[0] & 2) {
        file.assign(data + 1, data + size);
    } else {
        const size_t head = std::min<size_t>(size - 1, 64);
        file.assign(kEventDirListRecordSize, 0);
        std::memcpy(file.data(), data + 1, head);
        file.insert(file.end(), data + 1 + head, data + size);
    }
    if (data[0] & 1) {
        for (std::size_t at = kEventDirListRecordSize; at + kEventHeaderSize <= file.size();
             at += kEventHeaderSize) {
            DWORD sum = fuzzing::byteSum(file.data() + at, 82);
            std::memcpy(file.data() + at + 82, &sum, 4);
        }
    }

    // As the remote list of a fixed camera.
    tagEventDirListCamera list{};
    list.dwType = EVENT_TYPE_AUTOMATIC;
    tagEventHeader key{};
    key.dwType = EVENT_TYPE_AUTOMATIC;
    char folder[MAX_PATH] = {};
    if (CEventFile::evMakePathName("", &key, folder, sizeof folder)) {
        fuzzing::writeFile(std::string(folder) + "/EventsRemote.hdr", file.data(), file.size());
        auto* local = new tagEventHeaderNode{};
        CEventFile::evAddToTail(&list.localList, local);
        CEventFile loader;
        loader.evLoadEventsHeadersFromFile(&list);
        CEventFile::evFree(&list.remoteList);
        CEventFile::evFree(&list.localList);
    }

    // As a list received from a station.
    const std::string received = root + "/received.hdr";
    fuzzing::writeFile(received, file.data(), file.size());
    {
        tagEventDirListCamera mine{};
        std::strcpy(mine.szStation, "{FUZZ}");
        CEventFile().evCopyEventListHeaderFileToDataBase(received.c_str(), &mine);
    }

    // As an old list file whose times are brought forward.
    CEventFile().evEventFileHeaderListTimeConvert(received.c_str(), 1);

    // Received lists make a folder per station: start each input afresh.
    std::error_code ignored;
    std::filesystem::remove_all(root + "/TriggersMoviesDB", ignored);
    return 0;
}
