// Audio recording files: the folder and the next name, the header completed on
// close, and a chunk that cannot be written whole taken back.

#include "trennick/audio/aud_files.h"

#include "platform/folders.h"
#include "tavicore/event_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
namespace fs = std::filesystem;

Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

AudFileHeader headerOf(const Bytes& file) {
    AudFileHeader h{};
    if (file.size() >= sizeof h) std::memcpy(&h, file.data(), sizeof h);
    return h;
}

class AudFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_storage = (platform::homeFolder() / "storage").string();
        fs::create_directories(m_storage);
        evSetEventsStorageRoot(m_storage.c_str());
    }
    void TearDown() override { evSetEventsStorageRoot(""); }
    std::string nextName(const char* station = "SITE-7") {
        CAudFilesMgr files;
        std::string path;
        if (!files.Open(station, 1, 2) || !files.GetFileName(path)) return "";
        return fs::path(path).lexically_relative(m_storage).string();
    }
    std::string m_storage;
};

TEST_F(AudFiles, NamesFollowTheHighestNumberSoNothingIsReplaced) {
    const std::string folder = "TriggersMoviesDB/SITE-7/Movies/Adapter_1/Camera_2/Manual_Trigger/";
    EXPECT_EQ(nextName(), folder + "Event_1.tra");
    const fs::path dir = fs::path(m_storage) / folder;
    for (const char* name : {"Event_1.tra", "Event_2.tra", "Event_3.tra", "notes.txt"}) std::ofstream(dir / name) << "x";
    EXPECT_EQ(nextName(), folder + "Event_4.tra");
    // With Event_2 deleted, a count would choose Event_3 and replace it.
    fs::remove(dir / "Event_2.tra");
    EXPECT_EQ(nextName(), folder + "Event_4.tra");
    // The station id comes from the peer: it must name one folder inside the storage.
    for (const char* bad : {"", ".", "..", "../x", "a/b", "a\\b"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(nextName(bad), "");
    }
}

// A file whose number is too large to follow never makes every new
// recording take one name, each replacing the last.
TEST_F(AudFiles, NamesTooLargeToFollowAreNotCounted) {
    const std::string folder = "TriggersMoviesDB/SITE-7/Movies/Adapter_1/Camera_2/Manual_Trigger/";
    const fs::path dir = fs::path(m_storage) / folder;
    fs::create_directories(dir);
    for (const char* name : {"Event_18446744073709551615.tra", "Event_99999999999999999999999.tra",
                             "Event_1000000000.tra", "Event_5.TRA"}) {
        std::ofstream(dir / name) << "x";
    }
    for (const char* expected : {"Event_6.tra", "Event_7.tra", "Event_8.tra"}) {
        const std::string name = nextName();
        EXPECT_EQ(name, folder + expected);
        std::ofstream(fs::path(m_storage) / name) << "recording";
    }
    // Numbered up to the last: the first free number is taken, never a used one.
    std::ofstream(dir / "Event_999999999.tra") << "x";
    EXPECT_EQ(nextName(), folder + "Event_1.tra");
}

TEST_F(AudFiles, HeaderIsCompletedOnCloseWithItsChecksum) {
    const std::string empty = (fs::path(m_storage) / "empty.tra").string();
    CAudFileWriter writer;
    ASSERT_EQ(writer.Open(empty, 3, 5), 1);
    // While open, only the start time, adapter and camera are there.
    AudFileHeader open = headerOf(readAll(empty));
    EXPECT_EQ(std::memcmp(open.magic, "\0\0\0\0", 4), 0);
    EXPECT_EQ(+open.adapter, 3);
    EXPECT_EQ(+open.camera, 5);
    EXPECT_NE(+open.startTime.dwLowDateTime | +open.startTime.dwHighDateTime, 0u);
    EXPECT_EQ(writer.Close(), 1);
    Bytes file = readAll(empty);
    ASSERT_EQ(file.size(), 38u);
    AudFileHeader h = headerOf(file);
    EXPECT_EQ(std::memcmp(h.magic, "ZOAF", 4), 0);
    EXPECT_EQ(+h.version, 1);
    EXPECT_EQ(+h.headerSize, 38u);
    EXPECT_EQ(+h.chunkCount, 0u);
    EXPECT_EQ(+h.checksum, AudHeaderChecksum(h));

    const std::string two = (fs::path(m_storage) / "two.tra").string();
    ASSERT_EQ(writer.Open(two, 0, 1), 1);
    EXPECT_EQ(writer.AddChunk(Bytes(24, 0x10).data(), 24), 1);
    EXPECT_EQ(writer.AddChunk(Bytes(48, 0x20).data(), 48), 1);
    writer.Close();
    file = readAll(two);
    ASSERT_EQ(file.size(), 38u + 40u + 64u);
    h = headerOf(file);
    EXPECT_EQ(+h.chunkCount, 2u);
    EXPECT_EQ(+h.checksum, AudHeaderChecksum(h));
    AudFileHeader other = h;
    other.chunkCount = 3;  // the count lies inside the summed bytes
    EXPECT_NE(AudHeaderChecksum(other), +h.checksum);
    EXPECT_EQ(std::memcmp(&file[38], "G723", 4), 0);
    EXPECT_EQ(file[38 + 4], 24);
    EXPECT_EQ(std::memcmp(&file[38 + 40], "G723", 4), 0);
    EXPECT_EQ(file[38 + 40 + 4], 48);
    EXPECT_EQ(file.back(), 0x20);
}

TEST_F(AudFiles, AChunkThatCannotBeWrittenWholeIsTakenBack) {
    const std::string path = (fs::path(m_storage) / "cut.tra").string();
    CAudFileWriter writer;
    ASSERT_EQ(writer.Open(path, 0, 0), 1);
    ASSERT_EQ(writer.AddChunk(Bytes(24, 1).data(), 24), 1);
    // The file may grow by the chunk header and a few bytes only.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 38 + 40 + 16 + 5;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int cut = writer.AddChunk(Bytes(48, 2).data(), 48);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(cut, 0);
    ASSERT_EQ(writer.AddChunk(Bytes(20, 3).data(), 20), 1);
    writer.Close();
    const Bytes file = readAll(path);
    ASSERT_EQ(file.size(), 38u + 40u + 36u);
    EXPECT_EQ(+headerOf(file).chunkCount, 2u);
    // The chunk after the failed one starts right after the first.
    EXPECT_EQ(std::memcmp(&file[38 + 40], "G723", 4), 0);
    EXPECT_EQ(file[38 + 40 + 4], 20);
    EXPECT_EQ(file.back(), 3);
}

}  // namespace
