#pragma once
// RemoteEventList: the events of a site's list file ("EventsRemote.hdr": a
// 576-byte head, then 86-byte event headers), in ascending start time with
// equal times in file order, each under a 32-bit handle that a client names it
// by. Handles of an earlier load are not found after a later one.
//
// The site decides how long the list is, so loading reads the file in large
// blocks and sorts once: its time grows with the number of events (linearly
// for a list already in time order), and a progress sink hears how far it got
// every kProgressStepEvents events. Lookups by handle and by time do not walk
// the list.
//
// Thread: one thread at a time (the user-interface thread in the program).
// Failure: LoadFile answers a code and leaves the list as it was.

#include "platform/types.h"
#include "tavicore/event_file.h"

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace trennick {

class RemoteEventList {
public:
    enum class Load { Loaded, NoFile, NoHead };
    // Events read so far and the events the file holds.
    using Progress = std::function<void(std::size_t loaded, std::size_t total)>;
    static constexpr std::size_t kProgressStepEvents = 10000;

    // Replaces the list by the file's events; a partial header at the end is
    // ignored. The sink (may be empty) hears 0 first and the total last.
    Load LoadFile(const std::string& path, const Progress& progress);
    void Clear();

    std::size_t Count() const { return m_events.size(); }
    // The handle at a position in time order.
    DWORD HandleAt(std::size_t position) const { return m_events[position].handle; }
    // The event of a handle; null when no event of this list has it.
    const tagEventHeader* Find(DWORD handle) const;
    // The first event (in time order) that starts at that time; null when none.
    const tagEventHeader* FindByStartTime(FILETIME start) const;

private:
    struct Event {
        tagEventHeader header;
        DWORD handle;
    };
    DWORD nextHandle();

    std::vector<Event> m_events;                          // ascending by start time
    std::unordered_map<DWORD, std::size_t> m_byHandle;    // handle: position in m_events
    DWORD m_nextHandle = 1;
};

}  // namespace trennick
