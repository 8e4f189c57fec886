#pragma once
// The stand-in site: a small program that speaks the station link as a site's
// recorder does, for tests and demonstrations (it is not part of the product).
// It listens for the operator's call on TCP, checks the login of the hello,
// sends its site information and hardware profile, opens live video from a
// synthetic camera (block-transform stream for first-protocol peers, standard
// H.263 through the video encoder component otherwise), obeys the operator's
// pause, resume, close, size and key-frame requests, answers event-list and
// event-file requests from its event folder, answers a snapshot request with
// a still of its current camera, takes input and relay requests,
// keeps the settings list the operator uploads and returns it on download,
// and raises an alarm (a trigger notification and an event file) on command;
// asked to, it sends a coded test tone as its audio.
//
// A caller is served only once its login was accepted: until then, and for
// good once refused, what it asks is discarded (a file it sent is deleted);
// a refused caller gets the refusal and "<Disconnect>", and the line is
// dropped soon after. Logins from an address that was refused are held
// before they are checked (LoginGate). While connected the site sends its
// line sync and drops a call whose operator's syncs stopped.
//
// Threads: everything runs on the thread that owns the station and runs its
// Qt event loop (the link's socket notices arrive there); Alarm() may be
// called from that thread only (main.cpp turns a signal or a line on stdin
// into a call on it).

#include "platform/types.h"
#include "tavicore/settings_records.h"
#include "trennick/link/station_info.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace site {

// Video streams the site can send.
enum class Stream { Block = 1, H263 = 2 };

struct SiteOptions {
    WORD port = 4599;                    // 0: any free port (see ListenPort)
    std::string siteName = "Stand-in site";
    std::string sitePhone = "555 0100";
    std::string siteId = "{5A17E000-0000-4000-8000-000000000001}";
    std::string user;                    // empty: any login is accepted
    std::string password;
    Stream stream = Stream::H263;        // H263: second protocol; Block: first protocol
    int cameras = 4;                     // 1 to 16
    int frameRate = 10;                  // frames per second, 1 to 30
    std::string eventsFolder;            // the event storage root; empty: <home>/site-events
    bool video = true;                   // open live video after the login
    bool quadInput = true;               // offer a quad input (cameras 1 to 4 at once) when 4 or more cameras
    bool cameraless = false;             // pictures other than key frames as type 11 (no camera)
    bool audio = false;                  // send a coded test tone while connected
    // The site's settings list: what an upload leaves and a download returns;
    // empty: <home>/site-settings/SetList.Bin. Before any upload the site
    // serves the file as it is (none: a list of its name and shape).
    std::string settingsList;
    // The link's clock (milliseconds); empty: the system timer. Tests give a
    // faster one to live through minutes of a call in seconds.
    std::function<DWORD()> clock;
};

// What the site did, for its log lines and for tests.
struct SiteCounters {
    int calls = 0;
    int loginsRefused = 0;
    int loginsHeld = 0;                  // logins checked only after a hold
    int requestsDiscarded = 0;           // requests of callers not logged in
    int framesSent = 0;
    int keyFramesSent = 0;
    int keyFrameRequests = 0;
    int videoOpens = 0;
    int eventListsSent = 0;
    int eventFilesSent = 0;
    int snapshotsSent = 0;
    int alarms = 0;
    int inputRequests = 0;
    int relayRequests = 0;
    int settingsTaken = 0;               // uploaded lists kept
    int settingsRefused = 0;             // uploaded lists refused as damaged
    int settingsSent = 0;                // lists sent on "<GETSETTINGS>"
    int audioFramesSent = 0;
};

// The largest video frame the link sends (bytes).
inline constexpr std::size_t kMaxVideoFrameBytes = 15353;

class SiteStation {
public:
    // Lines of the site's log (one event each) go to `log` when given.
    explicit SiteStation(SiteOptions options, std::function<void(const std::string&)> log = {});
    ~SiteStation();
    SiteStation(const SiteStation&) = delete;
    SiteStation& operator=(const SiteStation&) = delete;

    // Opens the link and listens; false when the port cannot be taken.
    bool Open();
    WORD ListenPort() const;
    // One step of the site's loop; run it every few milliseconds. The site
    // also runs it as soon as the operator's bytes arrive.
    void Pass();
    // Ends a call as the site closes: "<Disconnect>" goes to the operator
    // (waiting up to `waitMs` for it to leave), then the line is dropped.
    void HangUp(DWORD waitMs = 2000);
    // Raises an alarm on a camera (0-based; any value is taken modulo the
    // camera count): a trigger notification, then the event file it recorded.
    // False when no operator is connected.
    bool Alarm(int camera);

    const SiteCounters& Counters() const { return m_counters; }
    // The video state as the site sees it: 0 none, 2 opening, 3 running,
    // 5 closed, 10 paused.
    WORD VideoState() const;
    int FrameWidth() const;
    int FrameHeight() const;
    // The input selected and the output bits set by the operator's requests.
    const tagHWProfile& Profile() const;
    bool Connected() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
    SiteCounters& m_counters;
};

}  // namespace site
