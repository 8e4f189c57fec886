// The remote event list: opening checks the station and keeps the kind; a list
// file in the event folder loads in time order (equal times in file order,
// a partial header dropped, short heads refused); the cursor walks it; the
// requests reach the peer over a real link; handles are looked up, never
// trusted.

#include "trennick/app/debrief.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/testing/link_fakes.h"

#include "tavicore/testing/event_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace trennick;
using namespace linktest;
namespace fs = std::filesystem;

namespace {

constexpr const char* kSiteId = "{5A17E000-0000-4000-8000-000000000001}";
constexpr const char* kSiteName = "North gate";

tagEventHeader eventAt(DWORD number, DWORD timeLow, DWORD timeHigh = 0x01D00000) {
    tagEventHeader h = eventtest::key(1, 0, 2, number);
    std::memcpy(h.chMagic, "VHED", 4);
    h.ftStartTime.dwLowDateTime = timeLow;
    h.ftStartTime.dwHighDateTime = timeHigh;
    h.dwSnapShotNum = number * 10;
    return h;
}

class Debrief : public ::testing::Test {
protected:
    void SetUp() override {
        eventtest::useTestRoot();
        p.a->captureData = false;
        p.b->captureData = false;
        p.helloBothWays();
        ASSERT_TRUE(p.a->IsConnected());
        list.SetConnection(p.a.get());
    }
    // Writes the list file of camera 2, kind 1 at the site's folder: a head of
    // `headBytes`, the headers, then `tail` stray bytes.
    void writeList(std::size_t headBytes, const std::vector<tagEventHeader>& headers, std::size_t tail = 0) {
        char folder[MAX_PATH] = {};
        const tagEventHeader key = eventtest::key(1, 0, 2, 0);
        ASSERT_TRUE(CEventFile::evMakePathName(kSiteName, &key, folder, sizeof folder));
        fs::create_directories(folder);
        std::ofstream out(fs::path(folder) / "EventsRemote.hdr", std::ios::binary | std::ios::trunc);
        const std::string head(headBytes, '\0');
        out.write(head.data(), std::streamsize(head.size()));
        for (const tagEventHeader& h : headers) out.write(reinterpret_cast<const char*>(&h), sizeof h);
        const std::string stray(tail, 'x');
        out.write(stray.data(), std::streamsize(stray.size()));
    }
    int openCamera2(DWORD kind = 1) { return list.Open(kSiteId, kSiteId, kind, 2, 0, kSiteName); }
    // Event numbers in the order the cursor gives them.
    std::vector<DWORD> walk() {
        std::vector<DWORD> numbers;
        DWORD handle = 0;
        for (int r = list.FindFirstEvent(handle); r == kDebriefDone; r = list.FindNextEvent(handle)) {
            tagEventHeader h{};
            EXPECT_EQ(list.GetEventInfo(h, handle), kDebriefDone);
            const DWORD number = h.dwEventNumber;
            numbers.push_back(number);
        }
        return numbers;
    }

    LinkPair p;
    CDebrief list;
};

TEST_F(Debrief, OpenChecksTheStationAndKeepsOnlyKnownKinds) {
    struct Case {
        const char* requested;
        DWORD kind;
        int result;
        DWORD kept;
    };
    const Case cases[] = {
        {kSiteId, 1, kDebriefDone, 1},       {kSiteId, 2, kDebriefDone, 2},
        {kSiteId, 0x20, kDebriefDone, 0x20}, {kSiteId, 0x40, kDebriefDone, 0x40},
        {kSiteId, 4, kDebriefDone, 1},       {kSiteId, 0x22, kDebriefDone, 1},
        {"{00000000-0000-4000-8000-000000000009}", 2, kDebriefOtherStation, 1},
        {"", 2, kDebriefOtherStation, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.requested) + " kind " + std::to_string(c.kind));
        list.Close();
        EXPECT_EQ(list.Open(kSiteId, c.requested, c.kind, 2, 0, kSiteName), c.result);
        EXPECT_EQ(list.OpenedKind(), c.kept);
    }
    // Without a connected link nothing opens.
    CDebrief alone;
    EXPECT_EQ(alone.Open(kSiteId, kSiteId, 1, 2, 0, kSiteName), kDebriefNoLink);
    EXPECT_EQ(alone.DownloadEventList(), kDebriefNoLink);
    EXPECT_EQ(alone.GetEvent(1, 2), kDebriefNoLink);
}

TEST_F(Debrief, ListLoadsInTimeOrderWithEqualTimesInFileOrder) {
    ASSERT_EQ(openCamera2(), kDebriefDone);
    // Times 300, 100, 200, 100 (a second event at 100 behind the first), and a
    // later high word that must sort last although its low word is smallest.
    writeList(kEventDirListRecordSize,
              {eventAt(1, 300), eventAt(2, 100), eventAt(3, 200), eventAt(4, 100), eventAt(5, 5, 0x01E00000)},
              40 /* a partial header */);
    ASSERT_EQ(list.LoadEventList(kSiteId, 1, 0, 2), kDebriefDone);
    EXPECT_EQ(list.Count(), 5u);
    EXPECT_EQ(walk(), (std::vector<DWORD>{2, 4, 3, 1, 5}));
    // After FindClose the walk starts at the head again; FindNext alone finds nothing.
    EXPECT_EQ(list.FindClose(), kDebriefDone);
    DWORD handle = 0;
    EXPECT_EQ(list.FindNextEvent(handle), kDebriefNoEvent);
    EXPECT_EQ(walk(), (std::vector<DWORD>{2, 4, 3, 1, 5}));
}

TEST_F(Debrief, LoadRefusesWhatDoesNotMatchOrCannotBeRead) {
    ASSERT_EQ(openCamera2(2), kDebriefDone);  // opened for manual events
    struct Case {
        const char* station;
        DWORD kind;
        WORD camera;
        int result;
    };
    const Case mismatches[] = {
        {kSiteId, 1, 2, kDebriefOtherKind},        // kind 1 lacks the manual bit
        {kSiteId, 2, 3, kDebriefOtherCamera},
        {"{00000000-0000-4000-8000-000000000009}", 2, 2, kDebriefOtherStation},
        {kSiteId, 3, 2, kDebriefNoListFile},       // bit 1 set; no list in the manual folder
    };
    for (const Case& c : mismatches) {
        SCOPED_TRACE(c.result);
        EXPECT_EQ(list.LoadEventList(c.station, c.kind, 0, c.camera), c.result);
    }
    // Opened for alarms: a head of exactly 576 bytes is an empty list; a
    // shorter head is refused and keeps what was loaded before.
    list.Close();
    ASSERT_EQ(openCamera2(1), kDebriefDone);
    writeList(kEventDirListRecordSize, {eventAt(7, 50)});
    ASSERT_EQ(list.LoadEventList(kSiteId, 1, 0, 2), kDebriefDone);
    EXPECT_EQ(list.Count(), 1u);
    writeList(kEventDirListRecordSize - 1, {});
    EXPECT_EQ(list.LoadEventList(kSiteId, 1, 0, 2), kDebriefNoListHead);
    EXPECT_EQ(list.Count(), 1u);
    writeList(kEventDirListRecordSize, {});
    EXPECT_EQ(list.LoadEventList(kSiteId, 1, 0, 2), kDebriefDone);
    EXPECT_EQ(list.Count(), 0u);
    DWORD handle = 0;
    EXPECT_EQ(list.FindFirstEvent(handle), kDebriefNoEvent);
    tagEventHeader out{};
    EXPECT_EQ(list.GetEventInfo(out, 1), kDebriefNoSuchEvent);
}

// A long list in reverse time order loads whole, in time order, with its
// progress told in steps and ending at the total; every handle and time is
// found.
TEST_F(Debrief, LongListLoadsInTimeOrderAndTellsItsProgress) {
    ASSERT_EQ(openCamera2(), kDebriefDone);
    constexpr DWORD kEvents = 25000;
    std::vector<tagEventHeader> headers;
    for (DWORD i = 0; i < kEvents; ++i) headers.push_back(eventAt(i, (kEvents - i) * 16));
    writeList(kEventDirListRecordSize, headers, 50);
    std::vector<std::pair<std::size_t, std::size_t>> reports;
    list.SetLoadProgress([&](std::size_t loaded, std::size_t total) { reports.emplace_back(loaded, total); });
    ASSERT_EQ(list.LoadEventList(kSiteId, 1, 0, 2), kDebriefDone);
    EXPECT_EQ(reports, (std::vector<std::pair<std::size_t, std::size_t>>{
                           {0, kEvents}, {10000, kEvents}, {20000, kEvents}, {kEvents, kEvents}}));
    const std::vector<DWORD> numbers = walk();
    ASSERT_EQ(numbers.size(), kEvents);
    for (DWORD i = 0; i < kEvents; ++i) ASSERT_EQ(numbers[i], kEvents - 1 - i) << i;
    p.a->linkUp = true;
    p.a->wire.clear();
    EXPECT_EQ(list.GetEvent(16, 0x01D00000), kDebriefDone);            // the last in the file
    EXPECT_EQ(list.GetEvent(kEvents * 16, 0x01D00000), kDebriefDone);  // the first
    EXPECT_EQ(list.GetEvent(17, 0x01D00000), kDebriefNoSuchEvent);
    EXPECT_EQ(tokenTexts(p.a->wire), (std::vector<std::string>{"<GETEVNTFILE>", "<GETEVNTFILE>"}));
}

TEST_F(Debrief, HandlesOfAnEarlierListAreNotFound) {
    ASSERT_EQ(openCamera2(), kDebriefDone);
    writeList(kEventDirListRecordSize, {eventAt(1, 10), eventAt(2, 20)});
    ASSERT_EQ(list.LoadEventList(kSiteId, 1, 0, 2), kDebriefDone);
    DWORD old = 0;
    ASSERT_EQ(list.FindFirstEvent(old), kDebriefDone);
    ASSERT_EQ(list.LoadEventList(kSiteId, 1, 0, 2), kDebriefDone);
    tagEventHeader out{};
    for (DWORD handle : {old, DWORD(0), DWORD(0xFFFFFFFF)}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(list.GetEventInfo(out, handle), kDebriefNoLink);  // not in the list
    }
}

TEST_F(Debrief, RequestsReachThePeer) {
    ASSERT_EQ(openCamera2(), kDebriefDone);
    writeList(kEventDirListRecordSize, {eventAt(1, 10), eventAt(2, 20)});
    ASSERT_EQ(list.LoadEventList(kSiteId, 1, 0, 2), kDebriefDone);
    p.a->wire.clear();
    EXPECT_EQ(list.GetEvent(20, 0x01D00000), kDebriefNoLink);  // connected, but the link is not up
    p.a->linkUp = true;
    EXPECT_EQ(list.DownloadEventList(), kDebriefDone);
    EXPECT_EQ(list.GetEvent(20, 0x01D00000), kDebriefDone);
    EXPECT_EQ(list.GetEvent(21, 0x01D00000), kDebriefNoSuchEvent);
    EXPECT_EQ(tokenTexts(p.a->wire), (std::vector<std::string>{"<REFRESHDEBRIEF>", "<GETEVNTFILE>"}));
    // Close forgets the station and the list.
    EXPECT_EQ(list.Close(), kDebriefDone);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_TRUE(list.OpenedStation().empty());
    EXPECT_EQ(list.LoadEventList(kSiteId, 1, 0, 0), kDebriefOtherStation);
}

}  // namespace
