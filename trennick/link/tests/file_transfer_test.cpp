// File transfer between two links joined back to back: files of every
// awkward size, blocks lost, repeated and corrupted on the way, a failing
// whole-file check, block numbers that wrap, names from the wire that try to
// leave the receive folder, and a disk that fills up.

#include "trennick/link/testing/link_fakes.h"

#include "common/fixed_text.h"
#include "platform/folders.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/link_payloads.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>

namespace {

using namespace linktest;
namespace fs = std::filesystem;

std::vector<BYTE> randomBytes(std::size_t size, unsigned seed, bool withOnes = true) {
    std::mt19937 generator(seed);
    std::vector<BYTE> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<BYTE>(generator());
        if (!withOnes && b == 0x01) b = 0x02;
    }
    return bytes;
}

void writeFile(const fs::path& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<BYTE> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

BYTE bucketKind(const BYTE* data) { return data[1]; }

// Two connected links, A sending to B, with real receive folders.
class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        source = platform::homeFolder() / "outgoing";
        receive = platform::homeFolder() / "incoming";
        special = platform::homeFolder() / "special";
        fs::create_directories(source);
        fs::create_directories(receive);
        fs::create_directories(special);
        p.a->captureData = false;
        p.b->captureData = false;
        p.helloBothWays();
        ASSERT_TRUE(p.a->IsConnected());
        p.a->SetReceiveFolders(receive.c_str(), special.c_str());
        p.b->SetReceiveFolders(receive.c_str(), special.c_str());
    }
    // The notices both sides posted for their users.
    std::vector<UINT> shown() const {
        std::vector<UINT> all = p.windowA.userNotices();
        const std::vector<UINT> b = p.windowB.userNotices();
        all.insert(all.end(), b.begin(), b.end());
        return all;
    }

    // Moves bytes both ways until neither link has anything left to say.
    void drain() {
        for (long guard = 0; guard < 10'000'000 && (!p.a->wire.empty() || !p.b->wire.empty()); ++guard) {
            deliver(*p.a, *p.b, p.pendingB);
            deliver(*p.b, *p.a, p.pendingA);
        }
    }
    // Runs the sending side until its transfer ended; a silent line lets
    // the clock jump past the confirmation period.
    LONG run(int kind, const fs::path& file) {
        EXPECT_EQ(p.a->SetSendStatus(1, kind, file.c_str()), 1);
        for (int step = 0; step < 2000; ++step) {
            p.a->ProcessSending();
            const bool moved = !p.a->wire.empty() || !p.b->wire.empty();
            drain();
            const LONG state = p.a->GetFileSendStatus();
            if (state == SEND_REFUSED || state == SEND_COMPLETE || state == SEND_FAILED || state == SEND_STOPPED) {
                return state;
            }
            if (!moved) p.clock.ms += 7000;
        }
        ADD_FAILURE() << "the transfer never ended";
        return -100;
    }

    LinkPair p;
    fs::path source, receive, special;
};

TEST_F(Transfer, FilesOfEveryAwkwardSizeArriveWhole) {
    struct Case {
        const char* name;
        std::size_t size;
        bool withOnes;
    };
    const Case cases[] = {{"one.bin", 1, true}, {"edge22.bin", 1022, false}, {"edge23.bin", 1023, true},
                          {"ones.bin", 3000, true}, {"plain.bin", 3000, false}};
    unsigned seed = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = randomBytes(c.size, seed++, c.withOnes);
        writeFile(source / c.name, bytes);
        const std::size_t receiveEndsBefore = p.windowB.transfersEnded().size();
        const std::size_t sendEndsBefore = p.windowA.transfersEnded().size();
        std::vector<DWORD> blocks;
        p.a->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
            if (bucketKind(data) == kFileBlockBucket) blocks.push_back(readLe16(data + 3));
            wire.insert(wire.end(), data, data + length);
        };
        EXPECT_EQ(run(kFileKindAny, source / c.name), SEND_COMPLETE);  // 6: ended, confirmed
        EXPECT_EQ(readFile(receive / c.name), bytes);
        std::string path;
        ASSERT_TRUE(p.b->GetReceivedFileName(path));
        EXPECT_EQ(path, (receive / c.name).string());
        // Reading the final state changes nothing; the end of each side is
        // posted once, and the receiver is ready again when it is told so.
        ULONGLONG total = 0, received = 0;
        EXPECT_EQ(p.b->GetReceiveStatus(&total, &received, nullptr, nullptr, nullptr), REC_COMPLETE);
        EXPECT_EQ(received, c.size);
        EXPECT_EQ(p.b->GetReceiveStatus(nullptr, nullptr, nullptr, nullptr, nullptr), REC_COMPLETE);
        const auto receiveEnds = p.windowB.transfersEnded();
        ASSERT_EQ(receiveEnds.size(), receiveEndsBefore + 1);
        EXPECT_EQ(receiveEnds.back().direction, TransferDirection::Receive);
        EXPECT_EQ(receiveEnds.back().path, path);
        EXPECT_EQ(receiveEnds.back().result, REC_COMPLETE);
        EXPECT_EQ(p.b->SetReceiveStatus(1, nullptr), 1);
        EXPECT_EQ(p.b->GetReceiveStatus(nullptr, nullptr, nullptr, nullptr, nullptr), REC_READY);
        EXPECT_EQ(p.a->SetSendStatus(-1, 0, nullptr), 1);
        const auto sendEnds = p.windowA.transfersEnded();
        ASSERT_EQ(sendEnds.size(), sendEndsBefore + 1);  // making the side ready again tells nothing more
        EXPECT_EQ(sendEnds.back().direction, TransferDirection::Send);
        EXPECT_EQ(sendEnds.back().path, (source / c.name).string());
        EXPECT_EQ(sendEnds.back().result, SEND_COMPLETE);
        if (std::string(c.name) == "plain.bin") {
            EXPECT_EQ(blocks, (std::vector<DWORD>{1022, 1022, 956}));
        }
        if (std::string(c.name) == "edge22.bin") {
            EXPECT_EQ(blocks, (std::vector<DWORD>{1022}));
        }
    }
    EXPECT_TRUE(shown().empty());
    // No temporary file is left behind.
    for (const auto& name : filesIn(receive)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST_F(Transfer, EmptyFileIsNeverAnnounced) {
    writeFile(source / "empty.bin", {});
    ASSERT_EQ(p.a->SetSendStatus(1, kFileKindAny, (source / "empty.bin").c_str()), 1);
    p.a->ProcessSending();
    EXPECT_EQ(p.a->GetFileSendStatus(), SEND_COMPLETE);
    EXPECT_TRUE(p.a->wire.empty());
}

// Once announced, a file travels on the peer's answers alone: its consent
// brings the first block, each block's answer the next and the last answer
// the whole-file check, with no further pass of the sender's loop.
TEST_F(Transfer, AnnouncedFileTravelsOnThePeersAnswersAlone) {
    const auto bytes = randomBytes(5000, 11);
    writeFile(source / "answers.bin", bytes);
    ASSERT_EQ(p.a->SetSendStatus(1, kFileKindAny, (source / "answers.bin").c_str()), 1);
    p.a->ProcessSending();  // opens and announces the file
    drain();
    EXPECT_EQ(p.a->GetFileSendStatus(), SEND_COMPLETE);  // what a file confirmed whole ends as
    EXPECT_EQ(readFile(receive / "answers.bin"), bytes);
}

TEST_F(Transfer, EscapedBlockTravelsDoubledAndIsStoredOnce) {
    writeFile(source / "esc.bin", {0x01, 0x02});
    std::vector<std::vector<BYTE>> payloads;
    p.a->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        if (bucketKind(data) == kFileBlockBucket) payloads.emplace_back(data + 23, data + length - 2);
        wire.insert(wire.end(), data, data + length);
    };
    EXPECT_EQ(run(kFileKindAny, source / "esc.bin"), SEND_COMPLETE);
    ASSERT_EQ(payloads.size(), 1u);
    EXPECT_EQ(payloads[0], (std::vector<BYTE>{0x01, 0x01, 0x02}));
    EXPECT_EQ(readFile(receive / "esc.bin"), (std::vector<BYTE>{0x01, 0x02}));
}

TEST_F(Transfer, LostRepeatedAndCorruptedBlocksStillGiveTheWholeFile) {
    const auto bytes = randomBytes(40 * 1024, 7);
    writeFile(source / "faults.bin", bytes);
    int block = 0;
    p.a->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        if (bucketKind(data) != kFileBlockBucket) {
            wire.insert(wire.end(), data, data + length);
            return;
        }
        ++block;
        if (block == 3) return;  // lost: the sender times out and resends
        if (block == 5 || block == 12) {
            wire.insert(wire.end(), data, data + length);  // arrives twice
        }
        std::vector<BYTE> copy(data, data + length);
        if (block == 8) copy[30] ^= 0x5A;  // corrupted on the line
        wire.insert(wire.end(), copy.begin(), copy.end());
    };
    int confirmations = 0;
    p.b->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        const std::string_view text(reinterpret_cast<const char*>(data + 5), std::min<DWORD>(length - 5, 7));
        if (text == "<CRCOK>" && ++confirmations == 20) return;  // a lost confirmation
        wire.insert(wire.end(), data, data + length);
    };
    EXPECT_EQ(run(kFileKindAny, source / "faults.bin"), SEND_COMPLETE);
    EXPECT_EQ(readFile(receive / "faults.bin"), bytes);
    DWORD retries = 0, errors = 0;
    p.a->GetErrorCounts(retries, errors);
    EXPECT_GE(retries, 3u);  // the lost block, the corrupted one, the lost confirmation
    p.b->GetErrorCounts(retries, errors);
    EXPECT_EQ(errors, 1u);
}

TEST_F(Transfer, FailedWholeFileCheckNeverReportsSuccessAndLeavesNoFile) {
    writeFile(source / "check.bin", randomBytes(5000, 3));
    p.a->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        std::vector<BYTE> copy(data, data + length);
        const std::string_view fcrc = tokenText(ID_DSVD_FCRC);
        if (bucketKind(data) == kTokenBucket && std::string_view(reinterpret_cast<const char*>(data + 5), fcrc.size()) == fcrc) {
            copy[5 + fcrc.size() + 15] ^= 0x01;  // the last digit of the checksum
        }
        wire.insert(wire.end(), copy.begin(), copy.end());
    };
    EXPECT_EQ(run(kFileKindAny, source / "check.bin"), SEND_FAILED);
    EXPECT_EQ(p.b->GetFileReceiveStatus(), REC_FAILED);
    EXPECT_EQ(shown(), std::vector<UINT>{kStrFileCheckFailed});
    EXPECT_TRUE(filesIn(receive).empty());
    std::string path;
    EXPECT_FALSE(p.b->GetReceivedFileName(path));
    EXPECT_EQ(p.b->GetReceiveStatus(nullptr, nullptr, nullptr, nullptr, nullptr), REC_FAILED);
}

TEST_F(Transfer, BlockNumbersWrapOnBothSides) {
    // Blocks of 14 bytes: the 16-bit block number wraps after 917,504 bytes.
    p.a->maxChunk = 16;
    const auto bytes = randomBytes(65536 * 14 + 5000, 11, false);
    writeFile(source / "wrap.bin", bytes);
    DWORD lost = 0;
    int block = 0;
    p.a->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        // One block lost just after the wrap: the resend must carry the same number.
        if (bucketKind(data) == kFileBlockBucket && ++block == 65540 && lost++ == 0) return;
        wire.insert(wire.end(), data, data + length);
    };
    EXPECT_EQ(run(kFileKindAny, source / "wrap.bin"), SEND_COMPLETE);
    EXPECT_EQ(lost, 1u);
    EXPECT_EQ(readFile(receive / "wrap.bin"), bytes);
}

TEST_F(Transfer, LargeFileArrivesWhole) {
    const auto bytes = randomBytes(100u * 1024 * 1024, 5);
    writeFile(source / "large.bin", bytes);
    EXPECT_EQ(run(kFileKindEventList, source / "large.bin"), SEND_COMPLETE);
    EXPECT_TRUE(readFile(receive / "large.bin") == bytes);
    EXPECT_EQ(p.windowB.count(kMsgFileReceivedKind2), 1);
}

TEST_F(Transfer, NamesFromTheWireStayPlainNamesInTheReceiveFolder) {
    struct Case {
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {"report.txt", true},   {"../escape.txt", false}, {"..", false},       {"a/b.txt", false},
        {"a\\b.txt", false},    {"/etc/passwd", false},   {"C:x.txt", false},  {"", false},
        {"CON", false},         {"com1.txt", false},      {"nul.bin", false},  {"tab\tname", false},
        {"LPT10.txt", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isSafeWireFileName(c.name), c.accepted);
        const auto announcement = buildAnnouncement(ID_DSVD_SEND_NF, c.name, 10, 0);
        p.b->wire.clear();
        p.b->feedToken(std::string_view(reinterpret_cast<const char*>(announcement.data()), announcement.size()));
        const auto replies = tokenTexts(p.b->wire);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0], c.accepted ? "<OK for Send>" : "<Do Not Send>");
        EXPECT_EQ(p.b->SetReceiveStatus(0, nullptr), 1);  // ends an accepted one
    }
    // Nothing was created outside the receive folder, and nothing stayed in it.
    EXPECT_FALSE(fs::exists(platform::homeFolder() / "escape.txt"));
    EXPECT_TRUE(filesIn(receive).empty());
}

TEST_F(Transfer, AnnouncementWithoutASizeIsRefusedAtOnce) {
    // A sender left without an answer would wait a minute for one.
    const char* const announcements[] = {
        "<Send NF><Name><x.txt><Size><-5>",        "<Send NF><Name><x.txt><Size><abc>",
        "<Send NF><Name><x.txt><Size><>",          "<Send NF><Name><x.txt><Size><12abc>",
        "<Send NF><Name><x.txt><Size><99999999999999999999999>",
        "<Send NF><Name>x.txt<Size>3",             "<Send EV><Name><x.trg>",
    };
    for (const char* text : announcements) {
        SCOPED_TRACE(text);
        p.b->wire.clear();
        p.b->feedToken(text);
        EXPECT_EQ(tokenTexts(p.b->wire), std::vector<std::string>{"<Do Not Send>"});
        EXPECT_NE(p.b->GetFileReceiveStatus(), REC_RECEIVING);
    }
    EXPECT_TRUE(filesIn(receive).empty());
    // Spaces around the digits are the sender's right alignment.
    p.b->wire.clear();
    p.b->feedToken("<Send NF><Name><x.txt><Size><       3 >");
    EXPECT_EQ(tokenTexts(p.b->wire), std::vector<std::string>{"<OK for Send>"});
}

TEST_F(Transfer, RemoteSettingsGoUnderTheStationsFolderOnlyWithAPlainStationName) {
    const auto announce = [&] {
        const auto a = buildAnnouncement(ID_DSVD_SEND_RS, "whatever.bin", 4, 0);
        p.b->wire.clear();
        p.b->feedToken(std::string_view(reinterpret_cast<const char*>(a.data()), a.size()));
        return tokenTexts(p.b->wire);
    };
    // B's host knows A's site as "North Gate" from the hello exchange.
    EXPECT_EQ(announce(), std::vector<std::string>{"<OK for Send>"});
    EXPECT_TRUE(fs::exists(platform::programFolder() / "RSettings" / "North Gate" / "SetList.Bin.part"));
    SiteInfoBlock evil{};
    fixed_text::Write(evil.siteName, sizeof evil.siteName, "../../outside");
    p.hostB.sites.push_back(evil);
    EXPECT_EQ(announce(), std::vector<std::string>{"<Do Not Send>"});
}

TEST_F(Transfer, FullDiskFailsTheReceiveAndLeavesNoPartialFile) {
    // The receiver writes what arrived a window at a time: the disk fills up
    // in the middle of a file, or at the last write before the file is kept.
    struct Case {
        const char* name;
        std::size_t size;
        rlim_t limit;
        LONG sendEnd;  // the sender learns of it by a refusal, or by its check failing
    };
    const Case cases[] = {{"big.bin", 64 * 1024, 16 * 1024, SEND_REFUSED}, {"small.bin", 6000, 4096, SEND_FAILED}};
    std::signal(SIGXFSZ, SIG_IGN);
    unsigned seed = 9;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        p.windowA.messages.clear();
        p.windowB.messages.clear();
        const auto bytes = randomBytes(c.size, seed++);
        writeFile(source / c.name, bytes);
        // Only the soft limit, given back at the end: a lowered hard limit could
        // never be raised again, and the tests after this one in the same process
        // would find every file write failing.
        rlimit before{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const rlimit limit{c.limit, before.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        EXPECT_EQ(run(kFileKindAny, source / c.name), c.sendEnd);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
        EXPECT_EQ(p.b->GetFileReceiveStatus(), REC_FAILED);
        const std::vector<UINT> notices = shown();
        EXPECT_NE(std::find(notices.begin(), notices.end(), kStrDiskFull), notices.end());
        EXPECT_TRUE(filesIn(receive).empty());
        std::string path;
        EXPECT_FALSE(p.b->GetReceivedFileName(path));
        EXPECT_EQ(p.a->SetSendStatus(-1, 0, nullptr), 1);
        EXPECT_EQ(p.b->SetReceiveStatus(1, nullptr), 1);  // the receiver ready for the next file
    }
}

TEST_F(Transfer, StopsRefusalsAndSilenceEndTransfersWithoutPartialFiles) {
    writeFile(source / "s.bin", randomBytes(50000, 4));
    const auto path = (source / "s.bin").string();
    // The receiver never answers the announcement.
    p.b->writeHook = [](std::vector<BYTE>&, const BYTE*, DWORD) {};
    ASSERT_EQ(p.a->SetSendStatus(1, kFileKindAny, path.c_str()), 1);
    EXPECT_EQ(p.a->SetSendStatus(1, kFileKindAny, path.c_str()), 0);  // one send at a time
    p.a->ProcessSending();
    drain();
    EXPECT_EQ(p.a->GetSendStatus(nullptr, nullptr, nullptr, nullptr, nullptr), 3);
    p.clock.ms += 60001;
    p.a->ProcessSending();
    EXPECT_EQ(p.a->GetFileSendStatus(), SEND_FAILED);
    EXPECT_EQ(shown(), std::vector<UINT>{kStrReceiverSilent});
    // The sender falls silent: after 60 s the receiver drops the partial file.
    EXPECT_EQ(p.b->GetFileReceiveStatus(), REC_RECEIVING);
    EXPECT_EQ(filesIn(receive), std::vector<std::string>{"s.bin.part"});
    (void)p.b->CheckTimeOuts();  // what it does to the receive is checked below
    EXPECT_EQ(p.b->GetFileReceiveStatus(), REC_TIMED_OUT);
    EXPECT_TRUE(filesIn(receive).empty());
    p.b->writeHook = nullptr;

    // Stopped by the sender in the middle: the receiver keeps nothing.
    EXPECT_EQ(p.a->SetSendStatus(-1, 0, nullptr), 1);
    EXPECT_EQ(p.b->GetReceiveStatus(nullptr, nullptr, nullptr, nullptr, nullptr), REC_TIMED_OUT);
    ASSERT_EQ(p.a->SetSendStatus(1, kFileKindAny, path.c_str()), 1);
    int blocks = 0;
    p.b->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        // The tenth confirmation is lost, so the send waits there.
        if (std::string_view(reinterpret_cast<const char*>(data + 5), 7) == "<CRCOK>" && ++blocks == 10) return;
        wire.insert(wire.end(), data, data + length);
    };
    for (int i = 0; i < 3; ++i) {
        p.a->ProcessSending();
        drain();
    }
    EXPECT_EQ(p.a->GetFileSendStatus(), WAIT_CRC_CONFIRM);
    EXPECT_EQ(p.a->SetSendStatus(0, 0, nullptr), 1);
    drain();
    EXPECT_EQ(p.a->GetFileSendStatus(), SEND_STOPPED);
    EXPECT_EQ(p.b->GetFileReceiveStatus(), REC_STOPPED);
    EXPECT_TRUE(filesIn(receive).empty());
    p.b->writeHook = nullptr;

    // Refused by the receiver in the middle.
    EXPECT_EQ(p.a->SetSendStatus(-1, 0, nullptr), 1);
    EXPECT_EQ(p.b->SetReceiveStatus(1, nullptr), 1);  // the receiver ready for the next file
    ASSERT_EQ(p.a->SetSendStatus(1, kFileKindAny, path.c_str()), 1);
    blocks = 0;
    p.b->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        wire.insert(wire.end(), data, data + length);
        if (std::string_view(reinterpret_cast<const char*>(data + 5), 7) == "<CRCOK>" && ++blocks == 5) {
            EXPECT_EQ(p.b->SetReceiveStatus(0, nullptr), 1);
        }
    };
    for (int i = 0; i < 3; ++i) {
        p.a->ProcessSending();
        drain();
    }
    EXPECT_EQ(p.a->GetFileSendStatus(), SEND_REFUSED);
    EXPECT_EQ(p.b->GetReceiveStatus(nullptr, nullptr, nullptr, nullptr, nullptr), REC_WAIT_USER);
    EXPECT_TRUE(filesIn(receive).empty());
}

TEST(TransferFormat, AnnouncementAndRates) {
    const auto bytes = buildAnnouncement(ID_DSVD_SEND_NF, "a.txt", 3000, (ULONGLONG{1} << 32) | 7);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text, "<Send NF><Name><a.txt><Size><    3000><Date><               1,               7>");
    const auto parsed = parseAnnouncement(bytes.data() + 9, static_cast<DWORD>(bytes.size() - 9));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->name, "a.txt");
    EXPECT_EQ(parsed->size, 3000u);
    EXPECT_EQ(announcementToken(kFileKindEvent, true), ID_DSVD_SEND_EV);
    EXPECT_EQ(announcementToken(kFileKindEvent, false), ID_DSVD_SNDEVNT);
    EXPECT_EQ(announcementToken(49163, true), ID_DSVD_SEND_CB);

    RateInterval interval{1000, 0};
    EXPECT_EQ(sendRate(interval, 7000), -1);  // no bytes
    interval.bytes = 10000;
    EXPECT_EQ(sendRate(interval, 4000), -1);  // before 5000 ms
    EXPECT_EQ(sendRate(interval, 6000), 2000);
    EXPECT_EQ(interval.startMs, 6000u);
    LONG rate = 77;
    interval = {0, 9000};
    receiveRate(interval, 4999, rate);
    EXPECT_EQ(rate, 77);  // unchanged before 5000 ms
    receiveRate(interval, 6500, rate);
    EXPECT_EQ(rate, 1500);  // bytes per whole second
}

// A block is escaped and summed in one pass, and unescaped and summed in one
// pass: each sum is the wire checksum of the file bytes, and the round trip
// gives back the bytes taken.
TEST(TransferFormat, EscapingSumsTheFileBytesItTakes) {
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        DWORD limit;
        DWORD used;  // file bytes taken
    };
    std::vector<BYTE> blockWithMarkers(2000, 'Z');
    blockWithMarkers[10] = blockWithMarkers[20] = 0x01;
    const Case cases[] = {
        {"empty", {}, 1022, 0},
        {"plain", {'a', 'b', 'c'}, 1022, 3},
        {"markers doubled", {0x01, 'x', 0x01, 0x01}, 1022, 4},
        {"cut at the limit", std::vector<BYTE>(10, 0x01), 7, 4},
        {"two markers in a block", blockWithMarkers, 1022, 1020},
        {"random, taken whole", randomBytes(3000, 21), 8000, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> escaped(c.limit + 1);
        DWORD used = 0;
        LONG sum = 0;
        const DWORD n = escapeBlock(c.bytes.data(), static_cast<DWORD>(c.bytes.size()), c.limit, escaped.data(), used, sum);
        EXPECT_EQ(used, c.used);
        EXPECT_EQ(n, used + static_cast<DWORD>(std::count(c.bytes.begin(), c.bytes.begin() + used, BYTE{0x01})));
        EXPECT_EQ(sum, WireChecksum({c.bytes.data(), used}));
        std::vector<BYTE> back(n);
        LONG backSum = 0;
        back.resize(unescapeBlock(escaped.data(), n, back.data(), backSum));
        EXPECT_EQ(back, std::vector<BYTE>(c.bytes.begin(), c.bytes.begin() + used));
        EXPECT_EQ(backSum, sum);
    }
}

}  // namespace

// A receive killed mid-transfer leaves its temporary file; the next start
// (the folders are set) clears such files, and a new receive of the same name
// makes its file new instead of writing through what was left there.
TEST_F(Transfer, TemporaryFilesAKilledReceiveLeftAreCleared) {
    const fs::path settings = platform::programFolder() / "RSettings" / "North Gate";
    fs::create_directories(settings);
    fs::create_directories(receive / "kept.part");  // a folder of that name is not ours to remove
    const std::vector<BYTE> stale = randomBytes(100, 7);
    for (const fs::path& left : {receive / "event.evt.part", special / "card.jpg.part", settings / "SetList.Bin.part"}) {
        writeFile(left, stale);
    }
    writeFile(receive / "notes.txt", stale);
    p.b->SetReceiveFolders(receive.c_str(), special.c_str());
    EXPECT_EQ(filesIn(receive), (std::vector<std::string>{"kept.part", "notes.txt"}));
    EXPECT_TRUE(filesIn(special).empty());
    EXPECT_TRUE(filesIn(settings).empty());

    // Left again by a receive killed after the start: a link to a file
    // elsewhere, and a longer file of the same name.
    const std::vector<BYTE> outside = randomBytes(50, 8);
    writeFile(source / "outside.bin", outside);
    fs::create_symlink(source / "outside.bin", receive / "linked.bin.part");
    writeFile(receive / "longer.bin.part", randomBytes(5000, 9));
    for (const char* name : {"linked.bin", "longer.bin"}) {
        SCOPED_TRACE(name);
        const auto bytes = randomBytes(1500, 10);
        writeFile(source / name, bytes);
        EXPECT_EQ(run(kFileKindAny, source / name), SEND_COMPLETE);
        EXPECT_EQ(readFile(receive / name), bytes);
        EXPECT_EQ(p.a->SetSendStatus(-1, 0, nullptr), 1);
        EXPECT_EQ(p.b->SetReceiveStatus(1, nullptr), 1);  // the receiver ready for the next file
    }
    EXPECT_EQ(readFile(source / "outside.bin"), outside);
    for (const auto& name : filesIn(receive)) {
        EXPECT_TRUE(name == "kept.part" || name.find(".part") == std::string::npos) << name;
    }
}
