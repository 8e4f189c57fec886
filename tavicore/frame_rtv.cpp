// Frame-by-frame reading of one event file for a player window.

#include "tavicore/frame_rtv.h"

#include "tavicore/event_file_internal.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using namespace eventfile;

namespace {

const char* messageText(UINT id) {
    switch (id) {
    case IDS_RTV_READ_FAILED: return "The frame could not be read from the event file.";
    case IDS_RTV_OPEN_FAILED: return "The event file could not be opened.";
    case IDS_RTV_EMPTY_EVENT: return "The event holds no frames.";
    case IDS_RTV_NO_MEMORY: return "There is not enough memory to show the frame.";
    default: return "";
    }
}

// Whether two event files carry the same frames: equal length and equal bytes
// behind their headers (the copy's header is rewritten with its new number).
bool sameFrames(const char* a, const char* b) {
    int fa = ::open(a, O_RDONLY | O_CLOEXEC);
    int fb = ::open(b, O_RDONLY | O_CLOEXEC);
    bool same = fa >= 0 && fb >= 0;
    struct stat sa {}, sb {};
    if (same) {
        same = ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 && sa.st_size == sb.st_size &&
               sa.st_size >= off_t(kEventHeaderSize);
    }
    std::uint64_t offset = kEventHeaderSize;
    static constexpr std::size_t kChunk = 1 << 16;
    std::vector<BYTE> x(kChunk), y(kChunk);
    while (same && offset < std::uint64_t(sa.st_size)) {
        std::size_t n = std::size_t(std::min<std::uint64_t>(kChunk, std::uint64_t(sa.st_size) - offset));
        same = preadAll(fa, x.data(), n, offset) && preadAll(fb, y.data(), n, offset) &&
               std::memcmp(x.data(), y.data(), n) == 0;
        offset += n;
    }
    if (fa >= 0) {
        ::close(fa);
    }
    if (fb >= 0) {
        ::close(fb);
    }
    return same;
}

}  // namespace

CFrameRtv::~CFrameRtv() = default;

CFrmRtvZO::CFrmRtvZO(const char* fileName) : m_mode(9) {
    if (fileName != nullptr) {
        std::snprintf(m_fileName, sizeof m_fileName, "%s", fileName);
    }
}

CFrmRtvZO::CFrmRtvZO(WORD adapter, WORD camera, DWORD eventNumber, DWORD type, const char* station)
    : m_mode(0) {
    m_header.wAdapter = adapter;
    m_header.wCamera = camera;
    m_header.dwEventNumber = eventNumber;
    m_header.dwType = type;
    if (station != nullptr) {
        std::snprintf(m_station, sizeof m_station, "%s", station);
    }
}

CFrmRtvZO::~CFrmRtvZO() = default;

namespace {
std::atomic<RtvNoticePresenter> g_rtvPresenter{nullptr};
}  // namespace

void SetRtvNoticePresenter(RtvNoticePresenter presenter) { g_rtvPresenter = presenter; }

RtvNoticePresenter GetRtvNoticePresenter() { return g_rtvPresenter; }

void CFrmRtvZO::report(UINT textId) {
    trace(1, "CFrmRtvZO: %s", messageText(textId));
    if (RtvNoticePresenter show = g_rtvPresenter.load()) {
        show(textId, messageText(textId));
    }
}

int CFrmRtvZO::rtvOpenEvent(const char*) { return 1; }

int CFrmRtvZO::rtvOpenEvent() {
    m_event.reset();
    m_open = 0;
    m_haveFrame = false;
    m_event = std::make_unique<CEventFile>(m_mode, &m_header, m_fileName, m_station);
    WORD code = 0;
    m_event->GetLastError(&code);
    if (code != 0) {
        m_event.reset();
        report(IDS_RTV_OPEN_FAILED);
        return 0;
    }
    if (m_header.dwSnapShotNum == 0) {
        m_open = 0;
        report(IDS_RTV_EMPTY_EVENT);
        return 0;
    }
    m_camera = m_header.wCamera;
    m_adapter = m_header.wAdapter;
    m_eventNumber = m_header.dwEventNumber;
    m_type = m_header.dwType;
    m_info.wAdapter = m_adapter;
    m_info.wCamera = m_camera;
    m_info.wEventNumber = WORD(m_eventNumber);
    m_info.dwType = m_type;
    m_info.pStation = m_station;
    m_event->evGetFileName(m_info.szFilePath, sizeof m_info.szFilePath);
    m_open = 1;
    return 1;
}

bool CFrmRtvZO::ensureBuffer(DWORD bytes) {
    std::size_t want = std::max<std::size_t>(kFrameBufferBytes, bytes);
    if (m_frame.size() >= want) {
        return true;
    }
    try {
        m_frame.resize(want);
    } catch (const std::bad_alloc&) {
        report(IDS_RTV_NO_MEMORY);
        return false;
    }
    return true;
}

bool CFrmRtvZO::readOneForward(bool keep) {
    tagEventSnapshot snap{};
    if (!m_event->ReadSnapShotHeader(&snap)) {
        report(IDS_RTV_READ_FAILED);
        return false;
    }
    // The header read has checked the size against the file, so the buffer is
    // only ever made as large as a frame that is really there.
    if (!ensureBuffer(snap.dwSize)) {
        return false;
    }
    if (!m_event->ReadSnapShotData(m_frame.data(), snap.dwSize, 1)) {
        report(IDS_RTV_READ_FAILED);
        return false;
    }
    if (keep) {
        m_frameInfo = snap;
        m_haveFrame = true;
    }
    return true;
}

int CFrmRtvZO::NextSnapshotReadAndPaint() {
    if (m_event == nullptr) {
        return 0;
    }
    if (m_event->evGetLastAction() == 2) {
        // After a backward step the file stands two snapshots behind the one
        // that follows the shown frame.
        if (!readOneForward(false) || !readOneForward(false)) {
            return 0;
        }
    }
    return readOneForward(true) ? 1 : 0;
}

int CFrmRtvZO::PrevSnapshotReadAndPaint() {
    if (m_event == nullptr) {
        return 0;
    }
    tagEventSnapshot snap{};
    if (!m_event->evSeekToPreviousFrame(&snap)) {
        report(IDS_RTV_READ_FAILED);
        return 0;
    }
    if (!ensureBuffer(snap.dwSize)) {
        return 0;
    }
    if (!m_event->ReadSnapShotData(m_frame.data(), snap.dwSize, 0)) {
        report(IDS_RTV_READ_FAILED);
        return 0;
    }
    m_frameInfo = snap;
    m_haveFrame = true;
    return 1;
}

BYTE* CFrmRtvZO::rtvGetNextFrame() { return NextSnapshotReadAndPaint() ? m_frame.data() : nullptr; }

BYTE* CFrmRtvZO::rtvGetPrevFrame() { return PrevSnapshotReadAndPaint() ? m_frame.data() : nullptr; }

BYTE* CFrmRtvZO::rtvGetCurrFrame() { return nullptr; }

BYTE* CFrmRtvZO::rtvGetFirstFrame() {
    if (m_event == nullptr) {
        return nullptr;
    }
    // Going to the first frame starts a fresh forward walk, whatever the last
    // step was.
    if (!m_event->evReadEventHeaderAndSeekToEarliestFrame(nullptr)) {
        report(IDS_RTV_READ_FAILED);
        return nullptr;
    }
    return NextSnapshotReadAndPaint() ? m_frame.data() : nullptr;
}

int CFrmRtvZO::rtvGetFrameSize(SIZE* size) {
    if (m_event == nullptr || size == nullptr) {
        return 0;
    }
    size->cx = LONG(m_header.dwWidth);
    size->cy = LONG(m_header.dwHeight);
    return 1;
}

tagEventSnapshot* CFrmRtvZO::rtvGetFrameInfo() { return m_haveFrame ? &m_frameInfo : nullptr; }

tagRtvEventInfo* CFrmRtvZO::rtvGetEventInfo() { return &m_info; }

DWORD CFrmRtvZO::rtvGetImageSize() { return m_frameInfo.dwSize; }

DWORD CFrmRtvZO::rtvGetFrameIndex() {
    if (m_event == nullptr || !m_haveFrame) {
        return 0;
    }
    return m_event->evGetCurrentSnapshotIndexFromEarliest();
}

FILETIME CFrmRtvZO::rtvGetFrameTime() { return m_frameInfo.ftTime; }

DWORD CFrmRtvZO::rtvGetSnapshotNumber() { return m_header.dwSnapShotNum; }

int CFrmRtvZO::rtvGetFileName(char* out, DWORD size) {
    if (m_event == nullptr) {
        return 0;
    }
    return m_event->evGetFileName(out, size);
}

DWORD CFrmRtvZO::rtvGetEventType() { return m_event != nullptr ? m_header.dwType : 0x80; }

int CFrmRtvZO::rtvIsLastPreFrame() {
    return m_haveFrame && magicIs(m_frameInfo.chMagic, "LPRE") ? 1 : 0;
}

int CFrmRtvZO::rtvGetEventHeader(tagEventHeader* out) {
    if (m_event == nullptr || out == nullptr) {
        return 0;
    }
    return m_event->GetEventHeader(out);
}

WORD CFrmRtvZO::rtvGetEventSize() { return m_event != nullptr ? m_event->GetEventSize() : 0; }

int CFrmRtvZO::MoveEvent() {
    m_event.reset();
    m_open = 0;
    m_haveFrame = false;
    char source[MAX_PATH] = {};
    {
        CEventFile names(11, &m_header, source, m_station);
    }
    char copy[MAX_PATH] = {};
    {
        CEventFile mover(7, &m_header, static_cast<char*>(nullptr), m_station);
        WORD code = 0;
        mover.GetLastError(&code);
        if (code != 0 || !mover.evGetLastFileName(copy, sizeof copy) || copy[0] == '\0') {
            trace(1, "CFrmRtvZO::MoveEvent() the copy failed (error %u); the event stays",
                  unsigned(code));
            return 0;
        }
    }
    // The original goes only once its copy is known to hold the same frames.
    if (source[0] == '\0' || !sameFrames(source, copy)) {
        trace(1, "CFrmRtvZO::MoveEvent() the copy %s does not match %s; the event stays", copy,
              source);
        return 0;
    }
    CEventFile eraser(2, &m_header, static_cast<char*>(nullptr), m_station);
    WORD code = 0;
    eraser.GetLastError(&code);
    return code == 0 ? 1 : 0;
}

int CFrmRtvZO::EraseTheEventFromDisk() {
    m_event.reset();
    m_open = 0;
    m_haveFrame = false;
    CEventFile eraser(2, &m_header, static_cast<char*>(nullptr), m_station);
    WORD code = 0;
    eraser.GetLastError(&code);
    return code == 0 ? 1 : 0;
}
