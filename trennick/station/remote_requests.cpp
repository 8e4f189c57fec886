#include "trennick/station/remote_requests.h"

#include "common/fixed_text.h"
#include "common/lumo_deb.h"
#include "platform/message_window.h"
#include "tavicore/stills_devices.h"
#include "trennick/link/common_base.h"
#include "trennick/link/event_requests.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/station/site_token.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace trennick {

namespace {

constexpr WORD kMaxAdapters = 6;
constexpr WORD kMaxCameras = 16;

bool readAll(int fd, void* out, std::size_t bytes, off_t offset) {
    auto* at = static_cast<BYTE*>(out);
    while (bytes > 0) {
        const ssize_t n = ::pread(fd, at, bytes, offset);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return false;
        }
        at += n;
        bytes -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

DWORD byteSum(const void* bytes, std::size_t length) {
    DWORD sum = 0;
    const auto* b = static_cast<const BYTE*>(bytes);
    for (std::size_t i = 0; i < length; ++i) sum += b[i];
    return sum;
}

bool knownKind(DWORD type) {
    switch (type & 0xFFFF) {
    case 1: case 2: case 4: case 8: case 16: case 32: case 64: case 256: case 260: case 512: case 772:
        return true;
    default:
        return false;
    }
}

bool knownMark(const char (&mark)[4]) {
    return std::memcmp(mark, "LUMA", 4) == 0 || std::memcmp(mark, "LPRE", 4) == 0 ||
           std::memcmp(mark, "NVID", 4) == 0;
}

bool sameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool writeFile(const std::string& path, const std::vector<const void*>& parts, const std::vector<std::size_t>& sizes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = true;
    for (std::size_t i = 0; i < parts.size() && ok; ++i) {
        ok = std::fwrite(parts[i], 1, sizes[i], file) == sizes[i];
    }
    return std::fclose(file) == 0 && ok;
}

BITMAPFILEHEADER bitmapFileHeader(DWORD dataBytes, DWORD pixelOffset) {
    BITMAPFILEHEADER h{};
    h.bfType = 0x4D42;  // "BM"
    h.bfSize = dataBytes + sizeof(BITMAPFILEHEADER);
    h.bfOffBits = pixelOffset;
    return h;
}

}  // namespace

// ---- the whole-file check ----

EventFileCheck CheckReceivedEventFile(const std::string& path) {
    EventFileCheck result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.why = "cannot be opened";
        return result;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.why = "not a file";
        return result;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    tagEventHeader& h = result.header;
    if (size < sizeof h || !readAll(fd, &h, sizeof h, 0)) {
        result.why = "shorter than an event header";
        return result;
    }
    if (std::memcmp(h.chMagic, "VHED", 4) != 0 || byteSum(&h, 82) != h.dwChkSum) {
        result.why = "event header damaged";
        return result;
    }
    if (h.wState != 2) {
        result.why = "event file not closed";
        return result;
    }
    if (!knownKind(h.dwType) || h.wAdapter >= kMaxAdapters || h.wCamera >= kMaxCameras) {
        char text[96];
        std::snprintf(text, sizeof text, "kind %lx, adapter %u, camera %u out of range",
                      static_cast<unsigned long>(h.dwType), unsigned(h.wAdapter), unsigned(h.wCamera));
        result.why = text;
        return result;
    }
    if (h.dwSnapShotNum == 0 || h.dwSnapShotNum > (size - sizeof h) / sizeof(tagEventSnapshot)) {
        result.why = "snapshot count does not fit the file";
        return result;
    }
    // Walk the chain the way a reader will, checking every snapshot header.
    tagEventHeader readerHeader{};
    CEventFile reader(9, &readerHeader, const_cast<char*>(path.c_str()), nullptr);
    WORD code = 0;
    reader.GetLastError(&code);
    if (code != 0) {
        result.why = "cannot be read as an event";
        return result;
    }
    for (DWORD i = 0; i < h.dwSnapShotNum; ++i) {
        tagEventSnapshot snap{};
        if (!reader.ReadSnapShotHeader(&snap) || !knownMark(snap.chMagic) ||
            !reader.ReadSnapShotData(nullptr, 0, 1)) {
            char text[64];
            std::snprintf(text, sizeof text, "snapshot %lu of %lu damaged", static_cast<unsigned long>(i + 1),
                          static_cast<unsigned long>(h.dwSnapShotNum));
            result.why = text;
            return result;
        }
    }
    result.ok = true;
    return result;
}

// ---- message map ----

bool CRemoteRequests::Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    switch (message) {
    case kMsgTokenRefused:
        OnUserActionRej(wParam);
        return true;
    case kMsgEventReceived:
        OnEventRecived();
        return true;
    case kMsgEventListReceived:
        OnEventListReceived();
        return true;
    case kMsgCmdToDispatch:
        if (auto command = platform::TakePostedData<std::string>(lParam)) {
            OnCmdToDispatch(wParam, *command);
        } else {
            LUMO_TRACE(3, "CMainFrame: command to dispatch without its text: ignored");
        }
        return true;
    case kMsgRequestEventList:
        if (auto block = platform::TakePostedData<EventListRequestBlock>(lParam)) OnRequestEventList(*block);
        return true;
    case kMsgRequestEvent:
        if (auto request = platform::TakePostedData<EventFileRequest>(lParam)) OnRequestEvent(*request);
        return true;
    case kMsgSendEventToRemote:
        if (auto header = platform::TakePostedData<tagEventHeader>(lParam)) OnSendEventToRemote(*header);
        return true;
    case kMsgAlarmToTess:
        result = OnAlarmToTess(wParam, lParam);
        return true;
    case kMsgInputAlarm:
        result = OnInputAlarm(wParam, lParam);
        return true;
    case kMsgPeerEventListRequest:
        if (auto record = platform::TakePostedData<EventListRequestBlock>(lParam)) {
            OnPeerEventListRequest(*record);
        } else {
            LUMO_TRACE(3, "CMainFrame: the station's event list request came without its record: ignored");
        }
        return true;
    case kMsgSettingsErrorReport:
    case kMsgSettingsErrorReport2: {
        auto report = platform::TakePostedData<SettingsReport>(lParam);
        if (report == nullptr ||
            !m_host.settingsErrorReport(message, report->data(), static_cast<DWORD>(report->size()))) {
            LUMO_TRACE(3, "CMainFrame: settings error report 0x%X of %lu bytes not taken", message,
                       static_cast<unsigned long>(wParam));
        }
        return true;
    }
    default:
        return false;
    }
}

void CRemoteRequests::RegisterRows(MessageRows& rows, std::function<bool()> live) {
    rows.add({kMsgTokenRefused, kMsgEventReceived, kMsgEventListReceived, kMsgCmdToDispatch, kMsgRequestEventList,
              kMsgRequestEvent, kMsgSendEventToRemote, kMsgAlarmToTess, kMsgInputAlarm, kMsgPeerEventListRequest,
              kMsgSettingsErrorReport, kMsgSettingsErrorReport2},
             [this, live](UINT msg, WPARAM wParam, LPARAM lParam) {
                 LRESULT result = 0;
                 if (!live()) {
                     LUMO_TRACE(3, "CRemoteRequests: message 0x%X after the window went: ignored", msg);
                 } else {
                     Handle(msg, wParam, lParam, result);
                 }
                 return result;
             });
}

// ---- refusals ----

void CRemoteRequests::OnUserActionRej(WPARAM token) {
    const char* prefix = "CMainFrame::OnUserActionRej() ";
    switch (token) {
    case kTokLockRefused:
        LUMO_TRACE(5, "%sThe locking of server was rejected by the Night Server\n", prefix);
        m_host.showMessage(kStrLockRefused, {});
        break;
    case kTokUnlockRefused:
        LUMO_TRACE(5, "%sThe UnLocking of server was rejected by the Night Server\n", prefix);
        m_host.showMessage(kStrLockRefused, {});
        break;
    case kTokAlarmRefused:
        LUMO_TRACE(5, "%sThe Enable Disable alarms was rejected buy night server\n", prefix);
        m_host.showMessage(kStrLockRefused, {});
        break;
    case kTokCantTransferFile:
        LUMO_TRACE(5, "%sThe file transfer rejected\n", prefix);
        m_host.showMessage(kStrTransferRefused, {});
        break;
    case kTokNoEvents:
        LUMO_TRACE(5, "%sNo events recorded\n", prefix);
        m_host.kitNoEvents();
        m_host.showMessage(kStrNoEvents, {});
        break;
    case kTokEventNotFound:
        LUMO_TRACE(5, "%sEvent Not Found\n", prefix);
        m_host.kitEventNotFound();
        m_host.showTimedMessage(kStrEventNotFound);
        break;
    case kTokMovieNotFound:
        LUMO_TRACE(5, "%sEvent Not Found", prefix);
        m_host.showTimedMessage(kStrMovieNotFound);
        break;
    default:
        LUMO_TRACE(5, "%sUknown rejectment", prefix);
        break;
    }
}

// ---- received events and lists ----

BOOL CRemoteRequests::DispatchEventToFolder(const std::string& received, std::string& newPath,
                                            tagEventHeader& header) {
    LUMO_TRACE(3, "ENTER %s", "CMainFrame::DispatchEventToFolder");
    newPath.clear();
    BOOL result = FALSE;
    const std::string station = m_host.connectedStationName();
    // Only a whole, sound event is filed: a damaged one would sit among the
    // station's events and fail every reader later.
    const EventFileCheck check = CheckReceivedEventFile(received);
    if (!check.ok) {
        LUMO_TRACE(5, "DispatchEventToFolder(%s) Failed!!! %s\n", received.c_str(), check.why.c_str());
    } else if (station.empty()) {
        LUMO_TRACE(5, "DispatchEventToFolder(%s) Failed!!! no connected station\n", received.c_str());
    } else {
        auto event = std::make_unique<CEventFile>(7, const_cast<char*>(received.c_str()), nullptr, station.c_str(),
                                                  m_host.remoteSettings());
        WORD code = 0;
        event->GetLastError(&code);
        if (code != 0) {
            LUMO_TRACE(5, "DispatchEventToFolder(%s) Failed!!! Copy to data base failed\n", received.c_str());
        } else {
            event->evGetLastDestinationHeader(&header);
            char path[MAX_PATH] = {};
            event->evGetLastFileName(path, sizeof path);
            newPath = path;
            std::error_code ignored;
            std::filesystem::remove(received, ignored);
            m_host.kitEventFiled(newPath);
            result = TRUE;
        }
    }
    LUMO_TRACE(3, "LEAVE %s", "CMainFrame::DispatchEventToFolder");
    return result;
}

// The site answers a snapshot request with an event file named "DOAEvent.TRG"
// ("HDEvent.TRG" for the large picture): its picture is shown; the event is
// filed like any other.
void CRemoteRequests::showIfSnapshot(const std::string& received) {
    const std::string name = std::filesystem::path(received).filename().string();
    if (::strcasecmp(name.c_str(), "DOAEvent.TRG") != 0 && ::strcasecmp(name.c_str(), "HDEvent.TRG") != 0) return;
    if (!ExpandTheEventRecieved(received)) {
        LUMO_TRACE(3, "CMainFrame: the snapshot in %s could not be read", received.c_str());
        return;
    }
    std::filesystem::path picture(m_receivedPath);
    if (::strcasecmp(picture.extension().c_str(), ".jpg") == 0) {
        const std::filesystem::path bitmap = std::filesystem::path(picture).replace_extension(".BMP");
        if (!JpegFileToDIBFile(picture.string(), bitmap.string())) return;
        std::error_code ignored;
        std::filesystem::remove(picture, ignored);
        picture = bitmap;
    }
    m_host.showSnapshot(picture.string());
}

void CRemoteRequests::OnEventRecived() {
    LUMO_TRACE(5, "ENTER %s", "CMainFrame::OnEventRecived");
    m_host.beep();
    CPacketConnection* link = m_host.link();
    std::string received;
    if (link == nullptr || !link->GetReceivedFileName(received)) {
        LUMO_TRACE(1, "CMainFrame::OnEventRecived->GetRecivingFileName(szFileNameRecieved) Failed");
        return;
    }
    FileReceivedEvent(received);
    LUMO_TRACE(5, "LEAVE %s", "CMainFrame::OnEventRecived");
}

void CRemoteRequests::FileReceivedEvent(std::string received) {
    showIfSnapshot(received);
    if (m_host.peerTimeKind() == 2) {
        const std::string converted = received + ".cvt";
        CEventFile convert;
        if (convert.evEventFileTimeConvert(received.c_str(), converted.c_str(), 1)) {
            std::error_code ignored;
            std::filesystem::remove(received, ignored);
            received = converted;
        }
    }
    std::string newPath;
    tagEventHeader header{};
    if (DispatchEventToFolder(received, newPath, header)) {
        if (m_host.eventToBeShown(newPath, header)) {
            m_host.kitEventReceived(header);
            m_host.announceEvent(header);
        }
    } else {
        m_host.postToFrame(kMsgEventFilingFailed, 0, 1);
        LUMO_TRACE(5, "CMainFrame::OnEventRecived->DispatchEventToFolder Failed");
    }
}

void CRemoteRequests::OnEventListReceived() {
    CPacketConnection* link = m_host.link();
    std::string path;
    if (link == nullptr || !link->GetReceivedFileName(path)) {
        LUMO_TRACE(5, "CMainFrame::OnEventListReceived() GetRecivingFileName(szFileName) Failed\n");
        return;
    }
    FileReceivedEventList(path);
}

bool CRemoteRequests::FileReceivedEventList(const std::string& path) {
    CEventFile events;
    if (m_host.peerTimeKind() == 2 && !events.evEventFileHeaderListTimeConvert(path.c_str(), 1)) {
        LUMO_TRACE(5, "CMainFrame::OnEventListReceived() cEventFile.evEventFileTimeConverte FAILED\n");
    }
    const std::string station = m_host.connectedStationName();
    if (station.empty() || station.size() >= sizeof(tagEventDirListCamera::szStation)) {
        LUMO_TRACE(5, "CMainFrame::OnEventListReceived() no connected station to file the list for\n");
        return false;
    }
    // The list's head may name a station; it must be the one connected, or
    // the peer could place a list among another station's events.
    BYTE head[kEventDirListRecordSize] = {};
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool read = fd >= 0 && readAll(fd, head, sizeof head, 0);
        if (fd >= 0) ::close(fd);
        if (!read) {
            LUMO_TRACE(5, "CMainFrame::OnEventListReceived() %s holds no list head\n", path.c_str());
            return false;
        }
    }
    tagEventDirListCamera named{};
    CEventFile::evListRecordFromBytes(head, &named);
    const std::string listStation = fixed_text::Read(named.szStation, sizeof named.szStation);
    if (!listStation.empty() && !sameNoCase(listStation, station)) {
        LUMO_TRACE(5, "CMainFrame::OnEventListReceived() the list names %s, the connected station is %s\n",
                   listStation.c_str(), station.c_str());
        return false;
    }
    tagEventDirListCamera list{};
    std::memcpy(list.szStation, station.c_str(), station.size());
    if (!events.evCopyEventListHeaderFileToDataBase(path.c_str(), &list)) {
        LUMO_TRACE(5, "CMainFrame::OnEventListReceived() the list was not filed\n");
        return false;
    }
    m_host.kitEventListReceived(station, list);
    m_host.announceEventList(list);
    return true;
}

// ---- requests to the connected station ----

bool CRemoteRequests::stationMatches(const std::string& requested, bool& connected) {
    CPacketConnection* link = m_host.link();
    connected = link != nullptr && link->IsConnected();
    if (!connected) {
        m_host.showMessage(kStrNotConnected, {});
        return false;
    }
    if (!sameNoCase(requested, m_host.connectedStationName()) || requested.empty()) {
        m_host.showMessage(kStrOtherStation, requested);
        return false;
    }
    return true;
}

void CRemoteRequests::OnCmdToDispatch(WPARAM kind, const std::string& text) {
    const std::string command = fixed_text::Read(text.c_str(), std::min<std::size_t>(text.size(), 1024));
    LUMO_TRACE(5, "CMainFrame::OnCmdToDispatch received %s\n", command.c_str());
    CPacketConnection* link = m_host.link();
    if (link != nullptr && link->IsLinkUp() && link->IsTargetConnected()) {
        m_host.dispatchCommand(kind, command);
    } else {
        LUMO_TRACE(5, "CMainFrame::OnCmdToDispatch Station not connected can't dispatch command\n");
    }
}

void CRemoteRequests::OnRequestEventList(const EventListRequestBlock& block) {
    tagEventDirListCamera request{};
    CEventFile::evListRecordFromBytes(block.data(), &request);
    const std::string station = fixed_text::Read(request.szStation, sizeof request.szStation);
    bool connected = false;
    if (!stationMatches(station, connected)) return;
    EventListRequest wire;
    wire.eventType = request.dwType;
    wire.adapter = request.wAdapter;
    wire.selectedInput = request.wCamera;
    if (m_host.link()->SendEventDirListCameraRequest(wire) == 0) {
        LUMO_TRACE(3, "CRemoteRequests: the event list request was not written to the line");
    }
}

void CRemoteRequests::OnRequestEvent(const EventFileRequest& request) {
    bool connected = false;
    if (!stationMatches(fixed_text::Read(request.station.c_str(), std::min<std::size_t>(request.station.size(), 256)),
                        connected)) {
        return;
    }
    // The whole header travels: the serving station finds the file by kind,
    // adapter, camera, number and start time, which the link puts on the wire.
    if (m_host.link()->SendEventRequest(&request.header) == 0) {
        LUMO_TRACE(3, "CRemoteRequests: the event request was not written to the line");
    }
}

void CRemoteRequests::OnSendEventToRemote(const tagEventHeader& header) {
    tagEventHeader request = header;
    std::string guid;
    if (!m_host.thisStationGuid(guid)) {
        LUMO_TRACE(5, "CMainFrame::OnSendEventToRemote() Failed!!! Read this GUID failed\n");
        return;
    }
    CEventFile event;
    char path[MAX_PATH] = {};
    if (!event.evMakeFileForDispatch(&request, guid.c_str(), path)) {
        LUMO_TRACE(5, "CMainFrame::OnSendEventToRemote() Failed!!! eventfile.evMakeFileForDispatch failed \n");
        if (CPacketConnection* link = m_host.link()) SendTokenToSite(*link, kTokCantTransferFile);
        return;
    }
    m_host.sendFile(path, "Event File");
}

void CRemoteRequests::OnPeerEventListRequest(const EventListRequestBlock& record) {
    CPacketConnection* link = m_host.link();
    if (link == nullptr || !link->IsConnected()) {
        LUMO_TRACE(5, "CMainFrame: an event list request without a connection: ignored");
        return;
    }
    const ServedEventList list = PrepareServedEventList(record.data());
    LUMO_TRACE(5, "CMainFrame: event list asked for kind %lu, adapter %u, camera %u: %lu events",
               static_cast<unsigned long>(list.kind), unsigned(list.adapter), unsigned(list.camera),
               static_cast<unsigned long>(list.count));
    if (list.count == 0 || list.path.empty()) {
        (void)SendTokenToSite(*link, ID_DSVD_NOEVENTSREC);  // traced when not written
    } else if (!m_host.sendFile(list.path, "Event List")) {
        // Another file is going: the peer may ask again.
        (void)SendTokenToSite(*link, kTokCantTransferFile);  // traced when not written
    }
}

void CRemoteRequests::OnReceiveStopped(LONG fileKind) {
    if (fileKind == kFileKindEventList || fileKind == kFileKindEvent) m_host.kitDownloadStopped(fileKind);
}

// ---- alarm time stamps ----

std::string CRemoteRequests::AlarmTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%d %2d:%2d:%2d", local.tm_mon + 1, local.tm_mday, local.tm_year + 1900,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

LRESULT CRemoteRequests::OnAlarmToTess(WPARAM wParam, LPARAM lParam) {
    m_host.kitAlarm(wParam, lParam, 1, AlarmTimeStamp());
    return 0;
}

LRESULT CRemoteRequests::OnInputAlarm(WPARAM adapter, LPARAM input) {
    const std::string stamp = AlarmTimeStamp();
    if (m_host.inputAlarmEnabled(adapter, input)) {
        m_host.kitInput(adapter, input);
        m_host.kitAlarm(adapter, input, 0, stamp);
    }
    return 1;
}

// ---- snapshots and cards ----

BOOL CRemoteRequests::ExpandTheEventRecieved(const std::string& path, BOOL* isVideo) {
    LUMO_TRACE(3, "CMainFrame::ExpandTheEventRecieved->File recived is %s\n", path.c_str());
    m_receivedPath = path;
    tagEventHeader header{};
    CEventFile event(9, &header, const_cast<char*>(path.c_str()), nullptr);
    WORD code = 0;
    event.GetLastError(&code);
    if (code != 0) {
        LUMO_TRACE(3, "CMainFrame::ExpandTheEventRecieved() Cant open %s for reading", path.c_str());
        return FALSE;
    }
    tagEventSnapshot snap{};
    if (!event.ReadSnapShotHeader(&snap)) {
        LUMO_TRACE(5, "CMainFrame::ExpandTheEventRecieved() Cant read header of %s", path.c_str());
        return FALSE;
    }
    if (isVideo != nullptr) {
        *isVideo = std::memcmp(snap.chMagic, "NVID", 4) == 0;
    }
    // The snapshot's size comes from the file: bounded by the buffer and by
    // the file (the reader checked that the data lies inside it).
    if (snap.dwSize > kMaxSnapshotBytes || snap.dwSize < 24) {
        LUMO_TRACE(3, "CMainFrame::ExpandTheEventRecieved() Cant read snapshot data of %s", path.c_str());
        return FALSE;
    }
    std::vector<BYTE> data(snap.dwSize);
    if (!event.ReadSnapShotData(data.data(), snap.dwSize, 1)) {
        LUMO_TRACE(3, "CMainFrame::ExpandTheEventRecieved() Cant read snapshot data of %s", path.c_str());
        return FALSE;
    }
    const bool jpeg = std::memcmp(data.data() + 16, "JPEG", 4) == 0;
    const std::filesystem::path source(path);
    const bool hd = ::strcasecmp(source.stem().c_str(), "HDEvent") == 0;
    std::filesystem::path target = source.parent_path() / (std::string(hd ? "HDSnap" : "QbSnap") + (jpeg ? ".JPG" : ".BMP"));
    LUMO_TRACE(3, "CMainFrame::ExpandTheEventRecieved()\n\tThe new file is %s", target.c_str());
    m_receivedPath = target.string();
    bool written;
    if (jpeg) {
        DWORD streamBytes = 0;
        std::memcpy(&streamBytes, data.data() + 20, sizeof streamBytes);
        if (data.size() < 40 || streamBytes > data.size() - 40) {
            LUMO_TRACE(5, "CMainFrame::ExpandTheEventRecieved() JPEG stream of %lu bytes passes the snapshot",
                       static_cast<unsigned long>(streamBytes));
            return FALSE;
        }
        written = writeFile(m_receivedPath, {data.data() + 40}, {streamBytes});
    } else {
        const BITMAPFILEHEADER file = bitmapFileHeader(static_cast<DWORD>(data.size()),
                                                       sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER));
        written = writeFile(m_receivedPath, {&file, data.data()}, {sizeof file, data.size()});
    }
    if (!written) {
        LUMO_TRACE(5, "CMainFrame::ExpandTheEventRecieved() Cant open file for writing %s", m_receivedPath.c_str());
        return FALSE;
    }
    return TRUE;
}

BOOL CRemoteRequests::JpegFileToDIBFile(const std::string& jpegPath, const std::string& bmpPath) {
    CStillsDevices stills;
    const tagSTILLCODEC kind = STILLCODEC_JPEG;
    if (stills.InitDevices(&kind, 1) != STILLS_NO_ERROR || stills[STILLCODEC_JPEG] == nullptr) {
        LUMO_TRACE(3, "CDrawer::CDrawer()->Error Loading Stills Devices %s \n", stills.GetLastError());
        LUMO_TRACE(5, "CDrawer::CDrawer()->Error Loading Stills Devices");
        return FALSE;
    }
    CStillsCodecInterface* codec = stills[STILLCODEC_JPEG];
    BITMAPINFOHEADER info{};
    if (codec->GetInfo(jpegPath.c_str(), &info) != STILLS_NO_ERROR || info.biWidth <= 0 || info.biHeight == 0) {
        LUMO_TRACE(3, " CMainFrame::JpegFileToDIBFile->Cant Open File %s\n", jpegPath.c_str());
        return FALSE;
    }
    std::error_code error;
    const auto streamBytes = std::filesystem::file_size(jpegPath, error);
    const std::uint64_t width = static_cast<std::uint64_t>(info.biWidth);
    const std::uint64_t height = static_cast<std::uint64_t>(std::llabs(info.biHeight));
    if (error || streamBytes > 0x7FFFFFFF || width * height * 3 > 0x7FFFFFFF) {
        LUMO_TRACE(5, "CMainFrame::JpegFileToDIBFile->Memeory Allocation Failed\n");
        return FALSE;
    }
    std::vector<BYTE> source(sizeof info + streamBytes);
    {
        std::FILE* file = std::fopen(jpegPath.c_str(), "rb");
        const bool read = file != nullptr && std::fread(source.data() + sizeof info, 1, streamBytes, file) == streamBytes;
        if (file != nullptr) std::fclose(file);
        if (!read) {
            LUMO_TRACE(3, " CMainFrame::JpegFileToDIBFile->Cant Open File %s\n", jpegPath.c_str());
            return FALSE;
        }
    }
    info.biSizeImage = static_cast<DWORD>(streamBytes);
    std::memcpy(source.data(), &info, sizeof info);
    std::vector<BYTE> target(sizeof info + width * height * 3);
    if (codec->Decompress(reinterpret_cast<BITMAPINFOHEADER*>(source.data()),
                          reinterpret_cast<BITMAPINFOHEADER*>(target.data())) != STILLS_NO_ERROR) {
        LUMO_TRACE(5, "CMainFrame::JpegFileToDIBFile->Error Writing BMP Frame to Disk\n");
        return FALSE;
    }
    // Rows of a bitmap file are padded to four bytes.
    const std::uint64_t rowBytes = width * 3;
    const std::uint64_t stride = (rowBytes + 3) & ~std::uint64_t{3};
    std::vector<BYTE> pixels(stride * height, 0);
    for (std::uint64_t row = 0; row < height; ++row) {
        std::memcpy(pixels.data() + row * stride, target.data() + sizeof info + row * rowBytes, rowBytes);
    }
    BITMAPINFOHEADER out{};
    std::memcpy(&out, target.data(), sizeof out);
    out.biSize = sizeof out;
    out.biPlanes = 1;
    out.biBitCount = 24;
    out.biCompression = 0;
    out.biSizeImage = static_cast<DWORD>(pixels.size());
    const BITMAPFILEHEADER file = bitmapFileHeader(static_cast<DWORD>(sizeof out + pixels.size()),
                                                   sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER));
    if (!writeFile(bmpPath, {&file, &out, pixels.data()}, {sizeof file, sizeof out, pixels.size()})) {
        LUMO_TRACE(5, "CMainFrame::JpegFileToDIBFile->Error Writing BMP Frame to Disk\n");
        return FALSE;
    }
    return TRUE;
}

void CRemoteRequests::DisplayHisCard(DWORD flags) {
    if ((flags & 0x04) == 0 || m_receivedPath.empty()) {
        return;
    }
    for (int i = 0; i < 3; ++i) m_host.beep();
    const std::string received = m_receivedPath.substr(0, MAX_PATH);
    if (!ExpandTheEventRecieved(received)) {
        LUMO_TRACE(5, "CMainFrame::DisplayHisCard() ExpandTheEventRecieved() failed");
        return;
    }
    const std::string expanded = m_receivedPath;
    std::string filed;
    tagEventHeader header{};
    if (!DispatchEventToFolder(received, filed, header)) {
        LUMO_TRACE(5, "CMainFrame::DisplayHisCard() DispatchEventToFolder failed");
    }
    std::filesystem::path picture(expanded);
    const std::string extension = picture.extension().string();
    picture.replace_extension(".BMP");
    if (::strcasecmp(extension.c_str(), ".jpg") == 0 && !JpegFileToDIBFile(expanded, picture.string())) {
        LUMO_TRACE(5, "CMainFrame::DisplayHisCard->Can't Decompress and Write %s\n", expanded.c_str());
        return;
    }
    if (m_host.cardDisplayOn()) {
        m_host.showCardPicture(picture.string());
    }
    // The pictures beside the received file go once shown.
    std::error_code ignored;
    const auto folder = picture.parent_path();
    for (const char* name : {"HDSnap.JPG", "HDSnap.BMP", "QbSnap.JPG", "QbSnap.BMP"}) {
        std::filesystem::remove(folder / name, ignored);
    }
}

}  // namespace trennick
