#include "tavicore/event_file.h"

#include "tavicore/testing/event_test_support.h"
#include "platform/testing/child_process.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace eventtest;

namespace {

std::vector<Frame> sameSize(std::size_t count, std::size_t size) {
    return std::vector<Frame>(count, Frame{size, false});
}

std::vector<long long> range(long long from, long long to) {
    std::vector<long long> v;
    for (long long i = from; i <= to; ++i) {
        v.push_back(i);
    }
    return v;
}

}  // namespace

TEST(EventFile, WrittenFramesReadBackWithTheirChecksums) {
    useTestRoot();
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < 40; ++i) {
        frames.push_back(Frame{i == 7 ? 0 : 50 + i * 97, false, i < 5 ? "LPRE" : "XXXX"});
    }
    std::string path = writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 1, 3), frames);
    EXPECT_NE(path.find("/triggers/Adapter_0/Camera_1/Automatic_Trigger/Event_3.trg"),
              std::string::npos)
        << path;

    CEventFile file(9, nullptr, path.data(), "");
    tagEventHeader h{};
    file.GetEventHeader(&h);
    EXPECT_EQ(std::memcmp(h.chMagic, "VHED", 4), 0);
    EXPECT_EQ(+h.wState, 2);
    EXPECT_EQ(+h.dwSnapShotNum, 40u);
    EXPECT_EQ(+h.dwPreAlarmFrames, 5u);
    EXPECT_EQ(+h.dwWrapped, 0u);
    EXPECT_EQ(+h.dwEarliestOffset, 86u);
    EXPECT_LE(CEventFile::evCompareTime(h.ftStartTime, h.ftEndTime), 0);
    for (DWORD i = 0; i < 40; ++i) {
        tagEventSnapshot snap{};
        ASSERT_EQ(file.ReadSnapShotHeader(&snap), 1) << i;
        // The reader fills in the ordinal; the writer stored 0 there.
        tagEventSnapshot stored = snap;
        stored.dwOrdinal = 0;
        EXPECT_EQ(+snap.dwChkSum, file.CalculateChkSum(reinterpret_cast<BYTE*>(&stored), 28));
        EXPECT_EQ(+snap.dwIndex, i);
        EXPECT_EQ(+snap.dwOrdinal, std::min<DWORD>(i, h.dwSnapShotNum - 1));
        // Any magic but the two special ones is stored as an ordinary frame.
        EXPECT_EQ(std::string(snap.chMagic, 4), i < 5 ? "LPRE" : "LUMA");
        EXPECT_EQ(+snap.dwSize, frames[i].size);
        std::vector<BYTE> data(snap.dwSize + 1);
        ASSERT_EQ(file.ReadSnapShotData(data.data(), snap.dwSize, 1), 1);
        if (snap.dwSize >= 4) {
            EXPECT_EQ(serialOf(data.data(), snap.dwSize), i);
        }
    }
    // Past the newest, the newest comes again.
    for (int again = 0; again < 2; ++again) {
        tagEventSnapshot snap{};
        ASSERT_EQ(file.ReadSnapShotHeader(&snap), 1);
        EXPECT_EQ(+snap.dwIndex, 39u);
        std::vector<BYTE> data(snap.dwSize);
        ASSERT_EQ(file.ReadSnapShotData(data.data(), snap.dwSize, 1), 1);
    }
    // The file's last-write time carries the event's end.
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_GT(st.st_mtim.tv_sec, 0);
    DWORD latest = 0;
    tagEventHeader k = key(EVENT_TYPE_AUTOMATIC, 0, 1, 0);
    ASSERT_EQ(CEventFile::evGetLatestEventIndex("", &k, &latest), 1);
    EXPECT_EQ(latest, 3u);
}

TEST(EventFile, BitmapFramesCarryTheirHeaderAndSize) {
    useTestRoot();
    tagEventHeader h = key(EVENT_TYPE_MANUAL, 1, 2, 9);
    std::string path;
    {
        CEventFile file(1, &h, static_cast<char*>(nullptr), "");
        BITMAPINFOHEADER bmp{};
        bmp.biSize = 40;
        bmp.biWidth = 16;
        bmp.biHeight = 8;
        bmp.biSizeImage = 16 * 8 * 3;
        auto image = payload(77, bmp.biSizeImage);
        tagEventSnapshot snap{};
        snap.dwSize = 5;  // wrong on purpose: the size must say what follows
        ASSERT_EQ(file.AddSnapShot(&snap, &bmp, image.data(), 0), 1);
        EXPECT_EQ(+snap.dwSize, 40u + bmp.biSizeImage);
        char name[MAX_PATH] = {};
        file.evGetFileName(name, sizeof name);
        path = name;
    }
    CEventFile file(9, nullptr, path.data(), "");
    tagEventHeader read{};
    file.GetEventHeader(&read);
    EXPECT_EQ(+read.dwWidth, 16u);
    EXPECT_EQ(+read.dwHeight, 8u);
    tagEventSnapshot snap{};
    ASSERT_EQ(file.ReadSnapShotHeader(&snap), 1);
    std::vector<BYTE> data(snap.dwSize);
    ASSERT_EQ(file.ReadSnapShotData(data.data(), snap.dwSize, 1), 1);
    BITMAPINFOHEADER stored{};
    std::memcpy(&stored, data.data(), sizeof stored);
    EXPECT_EQ(+stored.biWidth, 16);
    EXPECT_EQ(serialOf(data.data() + 40, snap.dwSize - 40), 77);
}

struct CyclicCase {
    const char* name;
    std::vector<Frame> frames;
    std::vector<long long> expected;  // serials from the earliest to the newest
    bool wrapped;
};

TEST(EventFile, CyclicFilesReadInOrderFromTheEarliestSurvivor) {
    useTestRoot();
    std::vector<CyclicCase> cases;
    {
        // Three cycles of equal frames: the last ten frames survive.
        std::vector<Frame> f = sameSize(25, 100);
        f[9].wrapAfter = f[19].wrapAfter = true;
        cases.push_back({"equal cycles", f, range(15, 24), true});
    }
    {
        // The newer cycle has larger frames: it overwrote frames 0 to 5.
        std::vector<Frame> f = sameSize(10, 100);
        f[9].wrapAfter = true;
        for (int i = 0; i < 4; ++i) {
            f.push_back(Frame{150, false});
        }
        cases.push_back({"varying sizes", f, range(6, 13), true});
    }
    {
        // The last cycle ended on the last snapshot: the file reads straight
        // through that cycle, and no frame of the overwritten cycle shows.
        std::vector<Frame> f = sameSize(10, 100);
        f[6].wrapAfter = f[9].wrapAfter = true;
        cases.push_back({"wraps on its last snapshot", f, range(7, 9), false});
    }
    {
        // A long first cycle, a short second one, and a third with large frames
        // that reaches past the second cycle's end: behind it lie only frames of
        // the first cycle, which must not be taken for survivors.
        std::vector<Frame> f = sameSize(25, 100);
        f[19].wrapAfter = f[24].wrapAfter = true;
        for (int i = 0; i < 3; ++i) {
            f.push_back(Frame{400, false});
        }
        cases.push_back({"stale frames of an older cycle", f, range(25, 27), false});
    }
    {
        // One frame wraps at once, every time.
        std::vector<Frame> f(5, Frame{64, true});
        cases.push_back({"every frame wraps", f, range(4, 4), false});
    }
    DWORD number = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 0, number++), c.frames);
        tagEventHeader h{};
        auto serials = readSerials(path, DWORD(c.expected.size()) + 3, &h);
        EXPECT_EQ(+h.dwSnapShotNum, c.expected.size());
        EXPECT_EQ(+h.dwWrapped != 0, c.wrapped);
        // Every frame once, in order, then the newest again.
        std::vector<long long> want = c.expected;
        for (int i = 0; i < 3; ++i) {
            want.push_back(c.expected.back());
        }
        EXPECT_EQ(serials, want);
    }
}

TEST(EventFile, DamagedHeaderOrSnapshotBytesGiveTheirCodes) {
    useTestRoot();
    std::string path = writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 0, 1), sameSize(4, 60));
    const auto good = readBytes(path);
    ASSERT_EQ(good.size(), 86u + 4 * (32 + 60));

    for (std::size_t at = 0; at < 86; ++at) {
        SCOPED_TRACE(at);
        auto bad = good;
        bad[at] ^= 0x10;
        writeBytes(path, bad);
        CEventFile file(9, nullptr, path.data(), "");
        WORD code = 0;
        file.GetLastError(&code);
        EXPECT_EQ(code, EVERR_HEADER_CHKSUM);
    }
    const std::size_t second = 86 + 32 + 60;
    for (std::size_t at = 0; at < 32; ++at) {
        SCOPED_TRACE(at);
        auto bad = good;
        bad[second + at] ^= 0x01;
        writeBytes(path, bad);
        CEventFile file(9, nullptr, path.data(), "");
        tagEventSnapshot snap{};
        std::vector<BYTE> data(60);
        ASSERT_EQ(file.ReadSnapShotHeader(&snap), 1);
        ASSERT_EQ(file.ReadSnapShotData(data.data(), snap.dwSize, 1), 1);
        EXPECT_EQ(file.ReadSnapShotHeader(&snap), 0);
        WORD code = 0;
        file.GetLastError(&code);
        EXPECT_EQ(code, EVERR_SNAPSHOT_HEADER);
    }
    {
        // A size that passes the end of the file is refused before any read.
        auto bad = good;
        tagEventSnapshot snap{};
        std::memcpy(&snap, &bad[second], sizeof snap);
        snap.dwSize = 0x7FFFFFF0;
        snap.dwChkSum = CEventFile().CalculateChkSum(reinterpret_cast<BYTE*>(&snap), 28);
        std::memcpy(&bad[second], &snap, sizeof snap);
        writeBytes(path, bad);
        CEventFile file(9, nullptr, path.data(), "");
        std::vector<BYTE> data(60);
        ASSERT_EQ(file.ReadSnapShotHeader(&snap), 1);
        ASSERT_EQ(file.ReadSnapShotData(data.data(), snap.dwSize, 1), 1);
        EXPECT_EQ(file.ReadSnapShotHeader(&snap), 0);
        WORD code = 0;
        file.GetLastError(&code);
        EXPECT_EQ(code, EVERR_SNAPSHOT_HEADER);
    }
    {
        // Asking for more data than the snapshot holds fails with the data code.
        writeBytes(path, good);
        CEventFile file(9, nullptr, path.data(), "");
        tagEventSnapshot snap{};
        std::vector<BYTE> data(1000);
        ASSERT_EQ(file.ReadSnapShotHeader(&snap), 1);
        EXPECT_EQ(file.ReadSnapShotData(data.data(), 1000, 1), 0);
        WORD code = 0;
        file.GetLastError(&code);
        EXPECT_EQ(code, EVERR_SNAPSHOT_DATA);
    }
    struct OpenCase {
        const char* name;
        std::vector<BYTE> bytes;
        WORD code;
    };
    std::vector<OpenCase> opens = {
        {"shorter than a header", std::vector<BYTE>(good.begin(), good.begin() + 40),
         EVERR_READ_HEADER},
        {"empty", {}, EVERR_READ_HEADER},
    };
    for (const auto& c : opens) {
        SCOPED_TRACE(c.name);
        writeBytes(path, c.bytes);
        CEventFile file(9, nullptr, path.data(), "");
        WORD code = 0;
        file.GetLastError(&code);
        EXPECT_EQ(code, c.code);
    }
    std::string missing = path + ".gone";
    CEventFile file(9, nullptr, missing.data(), "");
    WORD code = 0;
    file.GetLastError(&code);
    EXPECT_EQ(code, EVERR_OPEN_READ);
}

TEST(EventFile, ModesAndCloseRules) {
    std::string root = useTestRoot();
    struct ModeCase {
        WORD mode;
        WORD code;
    };
    for (auto c : {ModeCase{3, EVERR_MODE}, ModeCase{12, EVERR_MODE}, ModeCase{99, EVERR_MODE}}) {
        SCOPED_TRACE(c.mode);
        tagEventHeader h = key(EVENT_TYPE_AUTOMATIC, 0, 0, 1);
        CEventFile file(c.mode, &h, static_cast<char*>(nullptr), "");
        WORD code = 0;
        file.GetLastError(&code);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(file.HandleMode(c.mode, &h, nullptr), 0);
    }
    {
        CEventFile file(0, static_cast<tagEventHeader*>(nullptr), static_cast<char*>(nullptr), "");
        WORD code = 0;
        file.GetLastError(&code);
        EXPECT_EQ(code, EVERR_NO_HEADER);
        file.GetLastError(&code);
        EXPECT_EQ(code, 0);  // reading the code resets it
    }
    // A file closed without a snapshot is erased.
    tagEventHeader h = key(EVENT_TYPE_MANUAL, 0, 0, 5);
    std::string emptyPath;
    {
        CEventFile file(1, &h, static_cast<char*>(nullptr), "");
        char name[MAX_PATH] = {};
        ASSERT_EQ(file.evGetFileName(name, sizeof name), 1);
        emptyPath = name;
        EXPECT_TRUE(fs::exists(emptyPath));
    }
    EXPECT_FALSE(fs::exists(emptyPath));
    // The folder got its index at creation all the same.
    DWORD index = 0;
    EXPECT_EQ(CEventFile::evGetLstIdx(fs::path(emptyPath).parent_path().c_str(), &index), 1);
    EXPECT_EQ(index, 5u);

    // A clock that went back while recording: the frames stay, the end is
    // clamped to the start.
    std::string path;
    {
        CEventFile file(1, &h, static_cast<char*>(nullptr), "");
        auto bytes = payload(0, 10);
        tagEventSnapshot snap{};
        snap.dwSize = 10;
        FILETIME future{};
        CEventFile::ZoGetTime(&future);
        future.dwHighDateTime += 1000;  // about 5 days ahead
        snap.ftTime = future;
        ASSERT_EQ(file.AddSnapShot(&snap, nullptr, bytes.data(), 0), 1);
        char name[MAX_PATH] = {};
        file.evGetFileName(name, sizeof name);
        path = name;
    }
    ASSERT_TRUE(fs::exists(path));
    tagEventHeader read{};
    readSerials(path, 1, &read);
    EXPECT_EQ(CEventFile::evCompareTime(read.ftStartTime, read.ftEndTime), 0);

    // Mode 8 reads the header only and closes; mode 11 gives the name; mode 2 erases.
    {
        CEventFile reader(8, path.data(), nullptr, "", nullptr);
        WORD code = 0;
        reader.GetLastError(&code);
        EXPECT_EQ(code, 0);
        tagEventHeader got{};
        reader.GetEventHeader(&got);
        EXPECT_EQ(+got.dwEventNumber, 5u);
        EXPECT_EQ(reader.evGetFileName(nullptr, 0), 0);  // closed again
    }
    char name[MAX_PATH] = {};
    { CEventFile names(11, &h, name, ""); }
    EXPECT_EQ(std::string(name), path);
    {
        CEventFile eraser(2, &h, static_cast<char*>(nullptr), "");
        WORD code = 0;
        eraser.GetLastError(&code);
        EXPECT_EQ(code, 0);
    }
    EXPECT_FALSE(fs::exists(path));
    CEventFile eraser(2, &h, static_cast<char*>(nullptr), "");
    WORD code = 0;
    eraser.GetLastError(&code);
    EXPECT_EQ(code, EVERR_ERASE);
}

TEST(EventFile, UnknownTypeNeverReachesAnyFolder) {
    std::string root = useTestRoot();
    // A file beside the tree that an erase on an empty folder would reach.
    std::string bystander = root + "/keep.me";
    writeBytes(bystander, {1, 2, 3});
    fs::path cwdFile = fs::current_path() / "Event_0.trg";
    for (DWORD type : {DWORD(0), DWORD(128), DWORD(0x1000), DWORD(0x20000)}) {
        SCOPED_TRACE(type);
        tagEventHeader h = key(type, 0, 0, 0);
        char folder[MAX_PATH] = "untouched";
        EXPECT_EQ(CEventFile::evMakePathName("", &h, folder, sizeof folder), 0);
        for (WORD mode : {WORD(0), WORD(1), WORD(2), WORD(4), WORD(6)}) {
            char dest[MAX_PATH] = {};
            std::snprintf(dest, sizeof dest, "%s/copy", root.c_str());
            CEventFile file(mode, &h, dest, "");
            WORD code = 0;
            file.GetLastError(&code);
            EXPECT_NE(code, 0) << mode;
        }
    }
    EXPECT_TRUE(fs::exists(bystander));
    EXPECT_FALSE(fs::exists(cwdFile));
}

TEST(EventFile, EraseAllRemovesFilesButNeverFollowsLinks) {
    std::string root = useTestRoot();
    fs::path outside = fs::path(root).parent_path() / "outside";
    fs::create_directories(outside / "sub");
    writeBytes((outside / "precious.trg").string(), {9});
    writeBytes((outside / "sub" / "deep.trg").string(), {9});

    tagEventHeader h = key(EVENT_TYPE_AUTOMATIC, 0, 3, 1);
    std::string path = writeEvent(h, sameSize(2, 10));
    fs::path folder = fs::path(path).parent_path();
    fs::create_symlink(outside / "precious.trg", folder / "Event_9.trg");
    fs::create_directory_symlink(outside, folder / "linked");
    {
        CEventFile all(4, &h, static_cast<char*>(nullptr), "");
        WORD code = 0;
        all.GetLastError(&code);
        EXPECT_EQ(code, 0);
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::is_symlink(folder / "Event_9.trg"));
    EXPECT_TRUE(fs::exists(outside / "precious.trg"));

    // Erasing the whole tree takes the link, never what it points to.
    fs::path tree = fs::path(root) / "triggers";
    EXPECT_EQ(CEventFile::EraseDir(tree.c_str()), 1);
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_TRUE(fs::exists(outside / "sub" / "deep.trg"));
    EXPECT_TRUE(fs::exists(outside / "precious.trg"));

    for (const char* refused : {"", "/", ".", "a/../..", "../x"}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(CEventFile::EraseDir(refused), 0);
    }
    // A link given as the folder itself is not followed either.
    fs::create_directory_symlink(outside, fs::path(root) / "alias");
    EXPECT_EQ(CEventFile::EraseDir((fs::path(root) / "alias").c_str()), 0);
    EXPECT_TRUE(fs::exists(outside / "sub" / "deep.trg"));
}

TEST(EventFile, EditNeverDeletesAFileItCannotOpen) {
    useTestRoot();
    tagEventHeader h = key(EVENT_TYPE_AUTOMATIC, 0, 0, 2);
    std::string path = writeEvent(h, sameSize(2, 10));
    // Something in the file's place that cannot be opened for writing.
    fs::remove(path);
    fs::create_directory(path);
    writeBytes(path + "/inside", {1});
    CEventFile file(11, &h, static_cast<char*>(nullptr), "");
    EXPECT_EQ(file.EditEventFile(), 0);
    WORD code = 0;
    file.GetLastError(&code);
    EXPECT_EQ(code, EVERR_CREATE);
    EXPECT_TRUE(fs::exists(path + "/inside"));
}

// --- a recording that dies mid-write ---------------------------------------------

namespace {

// Frame sizes repeat every 7 frames, so within a cycle every 7th snapshot lands
// exactly where the cycle before had one (as the first of a cycle always does):
// the places where an older cycle's header could vouch for new bytes.
std::size_t recordedFrameSize(DWORD serial) { return 500 + (serial % 7) * 60; }

// The size of the recorder's mark that a frame is done: no other write has it.
constexpr std::size_t kFrameMarkBytes = 13;

// Writes `frames` frames into event 1 of camera 0 under the parent's trace,
// wrapping after every `cycle` frames when cycle > 0. After each frame it writes
// a mark of its own size to the progress file: the parent's sign that the frame
// is whole. Then it waits to be killed.
int recordUnderTrace(const std::vector<std::string>& args) {
    useTestRoot();
    const int cycle = std::stoi(args.at(0));
    const DWORD frames = DWORD(std::stoul(args.at(1)));
    std::string progress = (platform::homeFolder() / "progress").string();
    int fd = ::open(progress.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
        return 5;
    }
    ::raise(SIGSTOP);
    tagEventHeader h = key(EVENT_TYPE_AUTOMATIC, 0, 0, 1);
    CEventFile file(1, &h, static_cast<char*>(nullptr), "");
    for (DWORD i = 0; i < frames; ++i) {
        auto bytes = payload(i, recordedFrameSize(i));
        tagEventSnapshot snap{};
        snap.dwSize = DWORD(bytes.size());
        bool wrap = cycle > 0 && (i + 1) % DWORD(cycle) == 0;
        if (!file.AddSnapShot(&snap, nullptr, bytes.data(), wrap ? 1 : 0)) {
            return 3;
        }
        char mark[kFrameMarkBytes] = {};
        if (std::snprintf(mark, sizeof mark, "frame %u", unsigned(i)) < 0) {  // cut to the mark's size
            return 6;
        }
        if (::pwrite(fd, mark, sizeof mark, 0) != ssize_t(sizeof mark)) {
            return 4;
        }
    }
    for (;;) {
        ::pause();
    }
}

// What a reader makes of the file as a writer killed right now leaves it, with
// `done` frames finished: whole frames only, in order, without a gap, ending
// with the newest finished one; a wrapping file keeps at least half a cycle.
::testing::AssertionResult readsWholeFrames(const std::string& path, DWORD done, int cycle) {
    if (done == 0) {
        return ::testing::AssertionSuccess();
    }
    tagEventHeader read{};
    {
        CEventFile header(8, const_cast<char*>(path.c_str()), nullptr, "", nullptr);
        header.GetEventHeader(&read);
    }
    auto serials = readSerials(path, read.dwSnapShotNum);
    std::string seen;
    for (long long v : serials) {
        seen += " " + std::to_string(v);
    }
    auto failure = [&](const char* what) {
        return ::testing::AssertionFailure()
               << what << " after " << done << " frames; read:" << seen;
    };
    if (serials.empty() || serials.size() != read.dwSnapShotNum) {
        return failure("not every counted frame reads");
    }
    for (std::size_t i = 0; i < serials.size(); ++i) {
        if (serials[i] < 0) {
            return failure("a frame that was never whole");
        }
        if (i > 0 && serials[i] != serials[i - 1] + 1) {
            return failure("frames out of order");
        }
    }
    if (serials.back() != (long long)done - 1) {
        return failure("the newest whole frame is missing");
    }
    if (cycle == 0 ? serials.front() != 0
                   : serials.size() < std::min<std::size_t>(done, std::size_t(cycle) / 2)) {
        return failure("whole frames were lost");
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

VELMOOR_TEST_CHILD(event_recorder) { return recordUnderTrace(args); }

// The recorder is stopped before each of its writes to the event file, and the
// file is read as a kill at that moment would leave it; at the end it is killed
// for real in the middle of a frame.
TEST(EventFile, RecordingKilledAtAnyWriteYieldsEveryCompleteFrame) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "the write stops read x86-64 registers";
#else
    useTestRoot();
    for (int cycle : {0, 11}) {
        SCOPED_TRACE(cycle);
        const DWORD frames = cycle == 0 ? 12 : 4 * DWORD(cycle) + 9;
        tagEventHeader h = key(EVENT_TYPE_AUTOMATIC, 0, 0, 1);
        char name[MAX_PATH] = {};
        { CEventFile names(11, &h, name, ""); }
        fs::remove(name);
        auto child = velmoor::testing::ChildProcess::start(
            "event_recorder", {std::to_string(cycle), std::to_string(frames)});
        int status = 0;
        ASSERT_EQ(::waitpid(child.pid(), &status, 0), child.pid());
        if (WIFEXITED(status) && WEXITSTATUS(status) == 5) {
            GTEST_SKIP() << "tracing a child process is not permitted here";
        }
        ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == SIGSTOP);
        ASSERT_EQ(::ptrace(PTRACE_SETOPTIONS, child.pid(), nullptr,
                           PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL),
                  0);
        DWORD done = 0;
        int points = 0;
        int inFrame = 0;
        bool entering = false;
        bool killed = false;
        int deliver = 0;
        while (!killed) {
            ASSERT_EQ(::ptrace(PTRACE_SYSCALL, child.pid(), nullptr, deliver), 0);
            deliver = 0;
            ASSERT_EQ(::waitpid(child.pid(), &status, 0), child.pid());
            ASSERT_TRUE(WIFSTOPPED(status)) << "the recorder ended after " << done << " frames";
            if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
                deliver = WSTOPSIG(status);
                continue;
            }
            entering = !entering;
            user_regs_struct regs{};
            ASSERT_EQ(::ptrace(PTRACE_GETREGS, child.pid(), nullptr, &regs), 0);
            if (!entering || (regs.orig_rax != SYS_pwrite64 && regs.orig_rax != SYS_pwritev)) {
                continue;
            }
            if (regs.orig_rax == SYS_pwrite64 && regs.rdx == kFrameMarkBytes) {
                done += 1;  // the mark that the frame before it is whole
                inFrame = 0;
                if (done == frames) {
                    ASSERT_EQ(::kill(child.pid(), SIGKILL), 0);
                    killed = true;
                }
                continue;
            }
            ++points;
            ++inFrame;
            ASSERT_TRUE(readsWholeFrames(name, done, cycle)) << "stopped before write " << points;
            if (done + 1 == frames && inFrame == 2) {
                // The last frame is killed for real between two of its writes.
                ASSERT_EQ(::kill(child.pid(), SIGKILL), 0);
                killed = true;
            }
        }
        EXPECT_EQ(child.wait(std::chrono::seconds(10)), 128 + SIGKILL);
        EXPECT_GE(points, int(frames) * 2);
        EXPECT_TRUE(readsWholeFrames(name, done, cycle)) << "after the kill";
        fs::remove(name);
    }
#endif
}

// Kinds 8 and 16 export one file under a fixed name: the newest event by its
// time, whatever the order of the names ("Event_9" sorts after "Event_10").
TEST(EventFile, ExportOfASingleNameKeepsTheNewestEvent) {
    std::string root = useTestRoot();
    struct Case {
        DWORD type;
        const char* fixedName;
        DWORD newest;
    };
    const Case cases[] = {{EVENT_TYPE_DOA, "DOAEvent.trg", 10},
                          {EVENT_TYPE_DOA, "DOAEvent.trg", 9},
                          {EVENT_TYPE_REMOTE_MANUAL, "HDEvent.trg", 10},
                          {EVENT_TYPE_REMOTE_MANUAL, "HDEvent.trg", 9}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " newest " + std::to_string(c.newest));
        const WORD camera = WORD(4 + n);
        std::string target = root + "/single/" + std::to_string(n++);
        for (DWORD number : {9u, 10u}) {
            // The event's frame count tells which one was copied.
            std::string path =
                writeEvent(key(c.type, 0, camera, number), sameSize(number == c.newest ? 3 : 1, 10));
            auto bytes = readBytes(path);
            tagEventHeader h{};
            std::memcpy(&h, bytes.data(), sizeof h);
            h.ftEndTime.dwHighDateTime = number == c.newest ? 0x01E00000 : 0x01D00000;
            h.dwChkSum = CEventFile().CalculateChkSum(reinterpret_cast<BYTE*>(&h), 82);
            std::memcpy(bytes.data(), &h, sizeof h);
            writeBytes(path, bytes);
        }
        tagEventHeader k = key(c.type, 0, camera, 1);
        {
            CEventFile exporter(6, &k, target.data(), "");
            WORD code = 0;
            exporter.GetLastError(&code);
            EXPECT_EQ(code, 0);
        }
        tagEventHeader copied{};
        readSerials(target + "/" + c.fixedName, 0, &copied);
        EXPECT_EQ(+copied.dwSnapShotNum, 3u);
        EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator{}), 1);
    }
}

TEST(EventFile, CopiesIntoTheDatabaseToAFolderAndForDispatch) {
    std::string root = useTestRoot();
    // A received file (kind 16) goes into the database as a manual event under
    // the next number of its station's folder.
    std::string received = writeEvent(key(EVENT_TYPE_REMOTE_MANUAL, 1, 1, 40), sameSize(3, 70));
    std::string incoming = root + "/incoming.trg";
    fs::rename(received, incoming);
    writeEvent(key(EVENT_TYPE_MANUAL, 1, 1, 6), sameSize(1, 10), "{ST-9}");
    tagEventHeader dest{};
    char copy[MAX_PATH] = {};
    {
        CEventFile mover(7, incoming.data(), nullptr, "{ST-9}", nullptr);
        WORD code = 0;
        mover.GetLastError(&code);
        ASSERT_EQ(code, 0);
        mover.evGetLastDestinationHeader(&dest);
        mover.evGetLastFileName(copy, sizeof copy);
    }
    EXPECT_EQ(+dest.dwType, EVENT_TYPE_MANUAL);
    EXPECT_EQ(+dest.dwEventNumber, 7u);
    EXPECT_EQ(std::string(copy),
              root + "/TriggersMoviesDB/{ST-9}/triggers/Adapter_1/Camera_1/Manual_Trigger/Event_7.trg");
    tagEventHeader h{};
    EXPECT_EQ(readSerials(copy, 3, &h), (std::vector<long long>{0, 1, 2}));
    EXPECT_EQ(+h.dwEventNumber, 7u);
    EXPECT_TRUE(fs::exists(incoming));
    {
        CEventFile bad(7, (root + "/none.trg").data(), nullptr, "", nullptr);
        WORD code = 0;
        bad.GetLastError(&code);
        EXPECT_EQ(code, EVERR_MODE);
    }

    // Dispatch checks that the file on disk is the event the caller means.
    CEventFile dispatch;
    char out[MAX_PATH] = {};
    EXPECT_EQ(dispatch.evMakeFileForDispatch(&h, "{ST-9}", out), 1);
    EXPECT_EQ(std::string(out), copy);
    tagEventHeader other = h;
    other.ftStartTime.dwLowDateTime ^= 1;
    EXPECT_EQ(dispatch.evMakeFileForDispatch(&other, "{ST-9}", out), 0);

    // Mode 6 copies a folder's events elsewhere; a remote manual event takes the
    // fixed name.
    tagEventHeader k = key(EVENT_TYPE_REMOTE_MANUAL, 2, 2, 1);
    writeEvent(k, sameSize(1, 10));
    std::string target = root + "/export/deep";
    {
        CEventFile exporter(6, &k, target.data(), "");
        WORD code = 0;
        exporter.GetLastError(&code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(exporter.HandleMode(6, &k, target.data()), 1);
    }
    EXPECT_TRUE(fs::exists(target + "/HDEvent.trg"));
    tagEventHeader none = key(EVENT_TYPE_LAPSE_MANUAL, 2, 2, 1);
    CEventFile nothing(6, &none, target.data(), "");
    EXPECT_EQ(nothing.HandleMode(6, &none, target.data()), 0);  // nothing to copy

    // Old files with times in seconds are brought forward frame by frame.
    tagEventHeader old = key(EVENT_TYPE_AUTOMATIC, 3, 3, 1);
    std::string oldPath = writeEvent(old, sameSize(2, 30));
    // Its header claims far more snapshots than it holds.
    auto bytes = readBytes(oldPath);
    tagEventHeader claimed{};
    std::memcpy(&claimed, bytes.data(), sizeof claimed);
    claimed.dwSnapShotNum = 1000000;
    claimed.dwChkSum = CEventFile().CalculateChkSum(reinterpret_cast<BYTE*>(&claimed), 82);
    std::memcpy(bytes.data(), &claimed, sizeof claimed);
    writeBytes(oldPath, bytes);
    CEventFile converter;
    std::string newPath = root + "/converted.trg";
    ASSERT_EQ(converter.evEventFileTimeConvert(oldPath.c_str(), newPath.c_str(), 1), 1);
    tagEventHeader converted{};
    EXPECT_EQ(readSerials(newPath, 3, &converted), (std::vector<long long>{0, 1, 1}));
    EXPECT_EQ(+converted.dwSnapShotNum, 2u);
}

TEST(EventFile, CameraListOperationErasesThatCameraOnly) {
    useTestRoot();
    std::string mine = writeEvent(key(EVENT_TYPE_MANUAL, 0, 4, 1), sameSize(1, 10), "{S-1}");
    std::string other = writeEvent(key(EVENT_TYPE_MANUAL, 0, 5, 1), sameSize(1, 10), "{S-1}");
    tagEventDirListCamera list{};
    list.dwType = EVENT_TYPE_MANUAL;
    list.wCamera = 4;
    std::strcpy(list.szStation, "{S-1}");
    {
        CEventFile eraser(4, &list, static_cast<char*>(nullptr), nullptr);
        WORD code = 0;
        eraser.GetLastError(&code);
        EXPECT_EQ(code, 0);
    }
    EXPECT_FALSE(fs::exists(mine));
    EXPECT_TRUE(fs::exists(other));
    // A list of a kind the tree does not know erases nothing.
    list.dwType = 0x300;
    list.wCamera = 5;
    CEventFile eraser(4, &list, static_cast<char*>(nullptr), nullptr);
    WORD code = 0;
    eraser.GetLastError(&code);
    EXPECT_NE(code, 0);
    EXPECT_TRUE(fs::exists(other));
}

TEST(EventFile, AWalkThatMissesItsMarksStillEndsOnTheNewest) {
    useTestRoot();
    std::vector<Frame> frames = sameSize(12, 100);
    frames[7].wrapAfter = true;  // frames 2..7 survive behind 8..11
    std::string path = writeEvent(key(EVENT_TYPE_AUTOMATIC, 0, 0, 1), frames);
    auto good = readBytes(path);
    tagEventHeader h{};
    std::memcpy(&h, good.data(), sizeof h);
    ASSERT_EQ(+h.dwWrapped, 1u);
    struct Lie {
        const char* name;
        DWORD wrapDelta;  // added to the wrap offset
        DWORD lastDelta;  // added to the last offset
    };
    for (const Lie& lie : {Lie{"wrap between snapshots", DWORD(-50), 0}, Lie{"last between snapshots", 0, DWORD(-50)}}) {
        SCOPED_TRACE(lie.name);
        tagEventHeader bad = h;
        bad.dwWrapOffset += lie.wrapDelta;
        bad.dwLastOffset += lie.lastDelta;
        bad.dwChkSum = CEventFile().CalculateChkSum(reinterpret_cast<BYTE*>(&bad), 82);
        auto bytes = good;
        std::memcpy(bytes.data(), &bad, sizeof bad);
        writeBytes(path, bytes);
        CEventFile file(9, nullptr, path.data(), "");
        long long previous = -1;
        int repeats = 0;
        for (int step = 0; step < 60 && repeats < 5; ++step) {
            tagEventSnapshot snap{};
            if (!file.ReadSnapShotHeader(&snap)) {
                break;  // a header that is not there ends the walk too
            }
            std::vector<BYTE> data(snap.dwSize);
            ASSERT_EQ(file.ReadSnapShotData(data.data(), snap.dwSize, 1), 1);
            long long serial = serialOf(data.data(), data.size());
            ASSERT_GE(serial, previous) << "the walk went round";
            repeats += serial == previous ? 1 : 0;
            previous = serial;
        }
        EXPECT_EQ(repeats, 5) << "the walk never settled on one frame";
    }
}
