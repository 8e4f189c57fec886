#pragma once
// CDebrief: the operator station's side of an automation client browsing the
// events recorded at the connected site. It remembers which station, adapter,
// camera and trigger kind the client opened, asks the site for that camera's
// event list, loads the list file the transfer left in the local event folder
// into a list sorted by event time, lets the client walk it with a cursor and
// asks the site for one event file.
//
// A client names an event by a 32-bit handle that the list gave it; a handle
// is looked up, never taken for an address, and handles of an earlier list are
// not found in a later one.
//
// Thread: the user-interface thread (the kit's requests are dispatched there).
// Failure: every operation answers one of the result codes below; nothing
// throws.

#include "platform/types.h"
#include "tavicore/event_file.h"
#include "trennick/app/remote_event_list.h"

#include <string>
#include <vector>

namespace trennick {

class CPacketConnection;

enum DebriefResult : int {
    kDebriefDone = 0,
    kDebriefNoLink = 1,        // no connection or link not up; a handle not in the list
    kDebriefNoFolder = 2,      // the event folder path could not be made
    kDebriefNoListFile = 3,    // the list file could not be opened
    kDebriefNoListHead = 4,    // the list file's 576-byte head could not be read
    kDebriefNoEvent = 6,       // no (further) event
    kDebriefOtherStation = 7,  // not the connected station, or not the opened one
    kDebriefNoSuchEvent = 8,   // no event of that time; an empty list
    kDebriefOtherKind = 10,
    kDebriefOtherCamera = 11,
};

class CDebrief {
public:
    CDebrief() = default;
    virtual ~CDebrief() = default;
    CDebrief(const CDebrief&) = delete;
    CDebrief& operator=(const CDebrief&) = delete;

    // The link of the connection (not owned; null: none).
    void SetConnection(CPacketConnection* link) { m_link = link; }

    // Opens a browsing of one camera's events of the connected station. The
    // kind keeps 2, 0x20 and 0x40 and makes anything else 1. `folderStation`
    // is the name the program files that station's events under.
    int Open(const char* connectedStationId, const char* stationId, DWORD kind, WORD camera, WORD adapter,
             const char* folderStation);
    int Close();
    // Asks the site for the opened camera's event list.
    int DownloadEventList();
    // Loads "EventsRemote.hdr" of the event folder of the opened station for
    // this kind, adapter and camera, in ascending event time. The progress
    // sink set last hears how far a load got (see RemoteEventList).
    int LoadEventList(const char* stationId, DWORD kind, WORD adapter, WORD camera);
    void SetLoadProgress(RemoteEventList::Progress progress) { m_progress = std::move(progress); }
    int FindFirstEvent(DWORD& handle);
    int FindNextEvent(DWORD& handle);
    int FindClose();
    int GetEventInfo(tagEventHeader& out, DWORD handle) const;
    // Asks the site for the listed event whose start time is (low, high).
    int GetEvent(DWORD timeLow, DWORD timeHigh);

    // For the kit and tests.
    std::size_t Count() const { return m_events.Count(); }
    DWORD OpenedKind() const { return m_kind; }
    const std::string& OpenedStation() const { return m_station; }

private:
    bool connected() const;

    CPacketConnection* m_link = nullptr;
    RemoteEventList m_events;
    RemoteEventList::Progress m_progress;
    std::size_t m_cursor = 0;  // position of the next event FindNextEvent gives
    bool m_cursorSet = false;
    WORD m_camera = 0;
    WORD m_adapter = 0;
    DWORD m_kind = 1;
    std::string m_station;
    std::string m_folderStation;
};

}  // namespace trennick
