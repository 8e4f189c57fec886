#include "trennick/app/remote_event_list.h"

#include "common/lumo_deb.h"
#include "platform/fd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trennick {

namespace {

// The head of a list file: the camera record of the list, as it lies on disk.
constexpr std::size_t kListHeadBytes = kEventDirListRecordSize;
constexpr std::size_t kHeaderBytes = sizeof(tagEventHeader);
// Headers read at a time.
constexpr std::size_t kBlockEvents = 4096;

// Reads up to `size` bytes; the count read (short only at the end of the file).
std::size_t readSome(int fd, BYTE* into, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, into + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += std::size_t(n);
    }
    return done;
}

bool earlier(const tagEventHeader& a, const tagEventHeader& b) {
    return CEventFile::evCompareTime(a.ftStartTime, b.ftStartTime) < 0;
}

}  // namespace

DWORD RemoteEventList::nextHandle() {
    const DWORD handle = m_nextHandle++;
    if (m_nextHandle == 0) m_nextHandle = 1;  // 0 is never a handle
    return handle;
}

void RemoteEventList::Clear() {
    m_events.clear();
    m_byHandle.clear();
}

RemoteEventList::Load RemoteEventList::LoadFile(const std::string& path, const Progress& progress) {
    platform::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        LUMO_TRACE(5, "RemoteEventList %s cannot be opened: %s", path.c_str(), std::strerror(errno));
        return Load::NoFile;
    }
    BYTE head[kListHeadBytes];
    if (readSome(fd.get(), head, sizeof head) != sizeof head) return Load::NoHead;
    Clear();

    // The size on disk tells the count to expect; what is read decides.
    struct stat st {};
    std::size_t expected = 0;
    if (::fstat(fd.get(), &st) == 0 && std::size_t(st.st_size) > kListHeadBytes) {
        expected = (std::size_t(st.st_size) - kListHeadBytes) / kHeaderBytes;
    }
    m_events.reserve(expected);
    if (progress) progress(0, expected);
    std::vector<BYTE> block(kBlockEvents * kHeaderBytes);
    std::size_t nextReport = kProgressStepEvents;
    for (;;) {
        const std::size_t got = readSome(fd.get(), block.data(), block.size());
        for (std::size_t at = 0; at + kHeaderBytes <= got; at += kHeaderBytes) {
            Event event{};
            std::memcpy(&event.header, block.data() + at, kHeaderBytes);
            event.handle = nextHandle();
            m_events.push_back(event);
        }
        while (progress && m_events.size() >= nextReport) {
            progress(nextReport, std::max(expected, m_events.size()));
            nextReport += kProgressStepEvents;
        }
        if (got < block.size()) break;  // the end of the file; a partial header there is dropped
    }
    // A site lists its events in time order as a rule: then nothing moves.
    const auto before = [](const Event& a, const Event& b) { return earlier(a.header, b.header); };
    if (!std::is_sorted(m_events.begin(), m_events.end(), before)) {
        std::stable_sort(m_events.begin(), m_events.end(), before);
    }
    m_byHandle.reserve(m_events.size());
    for (std::size_t i = 0; i < m_events.size(); ++i) m_byHandle.emplace(m_events[i].handle, i);
    if (progress) progress(m_events.size(), m_events.size());
    return Load::Loaded;
}

const tagEventHeader* RemoteEventList::Find(DWORD handle) const {
    const auto found = m_byHandle.find(handle);
    return found != m_byHandle.end() ? &m_events[found->second].header : nullptr;
}

const tagEventHeader* RemoteEventList::FindByStartTime(FILETIME start) const {
    tagEventHeader key{};
    key.ftStartTime = start;
    const auto at = std::lower_bound(m_events.begin(), m_events.end(), key,
                                     [](const Event& e, const tagEventHeader& k) { return earlier(e.header, k); });
    if (at == m_events.end() || CEventFile::evCompareTime(at->header.ftStartTime, start) != 0) return nullptr;
    return &at->header;
}

}  // namespace trennick
