// The byte FIFO, the picture collector, and the decoder server created through
// the registry as its clients create it.

#include "common/kc_reg.h"
#include "kcexpand/testing/ffmpeg_streams.h"
#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "ranvic/ranvic_lib.h"
#include "ranvic/picture_collector.h"
#include "ranvic/zocodec_binding.h"
#include "ranvic/vt_fifo.h"
#include "ranvic/zoh263dec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <numeric>
#include <set>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::com::ComPtr;

// Byte FIFO -------------------------------------------------------------------------

TEST(VtFifo, WrapsAroundInTwoCopies) {
    vt_fifo fifo;
    vt_fifo_init(&fifo, nullptr, 10);
    Bytes in(14);
    std::iota(in.begin(), in.end(), 1);
    EXPECT_EQ(vt_fifo_write_from_buffer(&fifo, in.data(), 8), 8);
    Bytes out(14, 0);
    std::int32_t copied = 0;
    EXPECT_EQ(vt_fifo_read_to_buffer(&fifo, out.data(), 5, &copied), 5);
    EXPECT_EQ(copied, 5);
    EXPECT_EQ(vt_fifo_write_from_buffer(&fifo, in.data() + 8, 6), 6);  // 2 at the end, 4 at the start
    EXPECT_EQ(vt_fifo_size(&fifo), 9);
    EXPECT_EQ(vt_fifo_read_to_buffer(&fifo, out.data() + 5, 9, &copied), 9);
    EXPECT_EQ(out, in);
    // A commit beyond the capacity changes nothing.
    vt_fifo_add(&fifo, 11);
    EXPECT_EQ(vt_fifo_size(&fifo), 0);
    vt_fifo_release(&fifo);
}

TEST(VtFifo, AbortReleasesWaitersAndEmptyReadsReturnAtOnce) {
    vt_fifo fifo;
    vt_fifo_init(&fifo, nullptr, 10);
    Bytes in(8, 7);
    ASSERT_EQ(vt_fifo_write_from_buffer(&fifo, in.data(), 8), 8);
    std::atomic<int> written{-1};
    std::thread writer([&] { written = vt_fifo_write_from_buffer(&fifo, in.data(), 6); });
    // The writer waits for room until the abort empties the FIFO.
    while (fifo.space && vt_fifo_size(&fifo) != 8) std::this_thread::yield();
    vt_fifo_abort(&fifo);
    writer.join();
    EXPECT_EQ(written, 6);
    EXPECT_EQ(vt_fifo_size(&fifo), 6);
    vt_fifo_abort(&fifo);
    Bytes out(4);
    std::int32_t copied = -1;
    EXPECT_EQ(vt_fifo_read_to_buffer(&fifo, out.data(), 4, &copied), 0);
    EXPECT_EQ(copied, 0);
    vt_fifo_release(&fifo);
}

TEST(VtFifo, ABoundedWriteGivesUpWhenNobodyReads) {
    vt_fifo fifo;
    vt_fifo_init(&fifo, nullptr, 10);
    Bytes in(8, 1);
    ASSERT_EQ(vt_fifo_write_from_buffer(&fifo, in.data(), 8), 8);
    EXPECT_EQ(vt_fifo_write_from_buffer(&fifo, in.data(), 8, 50), 0);
    EXPECT_EQ(vt_fifo_size(&fifo), 8);
    vt_fifo_release(&fifo);
}

// Picture collector -------------------------------------------------------------------

struct Collected {
    std::vector<Bytes> pictures;
    CPictureCollector::PictureSink sink() {
        return [this](const BYTE* p, int n) { pictures.emplace_back(p, p + n); };
    }
};

TEST(PictureCollector, CutsAtStartCodesAcrossChunks) {
    CPictureCollector collector;
    Collected got;
    const Bytes first = {0x00, 0x00, 0x80, 0x11, 0x00, 0x00, 0x84, 0x22};  // 00 00 84 is no start code
    const Bytes second = {0x00, 0x00, 0x83, 0x33, 0x44};
    collector.Add(first.data(), first.size(), got.sink());
    EXPECT_TRUE(got.pictures.empty());  // the first start code completes nothing
    // The next start code split after its first 00 byte.
    collector.Add(second.data(), 1, got.sink());
    EXPECT_EQ(collector.carry(), 1);
    collector.Add(second.data() + 1, second.size() - 1, got.sink());
    ASSERT_EQ(got.pictures.size(), 1u);
    EXPECT_EQ(got.pictures[0], first);
    // The third start code completes the second picture.
    const Bytes third = {0x00, 0x00, 0x82};
    collector.Add(third.data(), third.size(), got.sink());
    collector.Add(third.data(), third.size(), got.sink());
    ASSERT_EQ(got.pictures.size(), 3u);
    EXPECT_EQ(got.pictures[1], second);
}

TEST(PictureCollector, BytesBeforeTheFirstStartCodeAreNoPicture) {
    CPictureCollector collector;
    Collected got;
    const Bytes stream = {0x12, 0x00, 0x34, 0x00, 0x00, 0x80, 0x55, 0x00, 0x00, 0x81, 0x66};
    collector.Add(stream.data(), stream.size(), got.sink());
    ASSERT_EQ(got.pictures.size(), 1u);
    EXPECT_EQ(got.pictures[0], Bytes({0x00, 0x00, 0x80, 0x55}));
}

TEST(PictureCollector, SlicesLongChunksAndDropsOverlongPictures) {
    // Pictures of 30,000 bytes in one 200,000-byte chunk, then one of 70,000.
    Bytes stream;
    std::vector<Bytes> expected;
    for (int k = 0; k < 6; ++k) {
        Bytes p(30000, std::uint8_t(k + 1));
        p[0] = 0;
        p[1] = 0;
        p[2] = 0x80;
        expected.push_back(p);
        stream.insert(stream.end(), p.begin(), p.end());
    }
    Bytes big(70000, 9);
    big[0] = 0;
    big[1] = 0;
    big[2] = 0x81;
    stream.insert(stream.end(), big.begin(), big.end());
    const Bytes end = {0x00, 0x00, 0x80, 0x01};
    stream.insert(stream.end(), end.begin(), end.end());
    CPictureCollector collector;
    Collected got;
    collector.Add(stream.data(), stream.size(), got.sink());
    ASSERT_EQ(got.pictures.size(), 6u);  // the 70,000-byte picture is dropped
    EXPECT_EQ(got.pictures, expected);
}

TEST(TmnExpand, WithoutTheLibraryEveryPictureFails) {
    ZoCodecBinding missing("/nonexistent-folder");
    EXPECT_FALSE(missing.bound());
    BYTE picture[3] = {0, 0, 0x80}, out[16] = {};
    EXPECT_EQ(missing.ExpandBuffer(picture, 3, out), 0);
    EXPECT_EQ(missing.SetFormat(352, 288), 0);
    ZoCodecBinding found;  // libzocodec.so beside the programs
    EXPECT_TRUE(found.bound());
    EXPECT_EQ(found.SetFormat(352, 288), 1);
}

// The server --------------------------------------------------------------------------

class Server : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
    }
    void TearDown() override {
        if (dec) {
            dec->Finish();
        }
        dec.reset();
        CoUninitialize();
    }
    void create(DWORD workMode, DWORD type) {
        CKcReg reg("Quennel", "ZOH263DEC", nullptr, "", platform::HKEY_LOCAL_MACHINE);
        reg.SetDword(nullptr, "WorkMode", &workMode);
        ASSERT_EQ(CoCreateInstance(CLSID_ZOH263DEC, nullptr, CLSCTX_INPROC_SERVER, IID_IZOH263DEC, dec.putVoid()),
                  S_OK);
        ASSERT_EQ(dec->Init(type), S_OK);
    }
    DWORD updated() {
        DWORD v = 0;
        dec->IsUpdated(&v);
        return v;
    }
    // Waits (with a generous guard) until the decoder reports a new picture.
    bool waitUpdated() {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (updated() == 0) {
            if (std::chrono::steady_clock::now() > guard) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    // Waits (with a generous guard) until the decoder thread has read all the FIFO holds.
    bool fifoDrained() {
        DWORD stored = 1;
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (stored != 0 && std::chrono::steady_clock::now() < guard) {
            dec->GetBufferSize(&stored);
            std::this_thread::yield();
        }
        return stored == 0;
    }
    Bytes image() {
        Bytes out(kZoImageBytes);
        dec->GetData(out.data(), DWORD(out.size()));
        return out;
    }
    ComPtr<IZOH263DEC> dec;
};

// A grey block picture of 2 x 2 blocks, DC only, padded to `length` bytes.
Bytes blockPicture(int level, int length) {
    Bytes p = {1, std::uint8_t(length >> 8), std::uint8_t(length), 4 | 2, 1, 2, 2, 0, 0, 0, 4};
    // Four blocks, each: coded, DC only, the level.
    std::uint64_t bits = 0;
    for (int b = 0; b < 4; ++b) bits = (bits << 10) | (0b01u << 8) | std::uint32_t(level);
    bits <<= 64 - 40;
    for (int i = 0; i < 5; ++i) p.push_back(std::uint8_t(bits >> (56 - 8 * i)));
    p.resize(std::size_t(length), 0);
    return p;
}

BYTE topLeftBlue(const Bytes& img, int height) {
    // Bottom-up 24-bit rows: the top row is the last.
    const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(img.data());
    const std::size_t stride = std::size_t((h->biWidth * 3 + 3) & ~3);
    return img[40 + stride * std::size_t(height - 1)];
}

TEST_F(Server, StateErrorsAndImageCopies) {
    create(0, kZoStreamBlockTransform);
    BYTE byte = 0;
    EXPECT_EQ(dec->AddBuffer(&byte, 1), S_FALSE);
    DWORD error = 0;
    dec->GetLastErr(&error);
    EXPECT_EQ(error, DWORD(ZOH263DECERR_NOT_STARTED));
    EXPECT_EQ(dec->Go(), S_OK);
    DWORD state = 0;
    dec->GetState(&state);
    EXPECT_EQ(state, DWORD(ZOH263DEC_RUNNING));

    Bytes big(10000000, 0xAB);
    EXPECT_EQ(dec->GetData(big.data(), DWORD(big.size())), S_OK);
    EXPECT_EQ(reinterpret_cast<BITMAPINFOHEADER*>(big.data())->biWidth, 720);
    EXPECT_EQ(big[kZoImageBytes - 1], 0);
    EXPECT_EQ(big[kZoImageBytes], 0xAB);
    Bytes header(48, 0xAB);
    EXPECT_EQ(dec->GetData(header.data(), 40), S_OK);
    EXPECT_EQ(header[40], 0xAB);
    // Sizes beyond the image are refused.
    EXPECT_EQ(dec->SetAttribute(1000, 1000), S_FALSE);
}

TEST_F(Server, SynchronousBlockPacketsStopAtAPacketPastTheData) {
    create(0, kZoStreamBlockTransform);
    ASSERT_EQ(dec->SetAttribute(16, 16), S_OK);
    dec->Go();
    Bytes data = blockPicture(100, 100);
    const Bytes second = blockPicture(200, 60);
    data.insert(data.end(), second.begin(), second.begin() + 50);  // 150 bytes in all
    ASSERT_EQ(dec->AddBuffer(data.data(), DWORD(data.size())), S_OK);
    EXPECT_EQ(updated(), 1u);
    EXPECT_EQ(topLeftBlue(image(), 16), 100);
    EXPECT_EQ(updated(), 0u);  // GetData cleared it
}

TEST_F(Server, ThreadedBlockPacketsAreDecodedOnlyWhenWhole) {
    create(1, kZoStreamBlockTransform);
    ASSERT_EQ(dec->SetAttribute(16, 16), S_OK);
    dec->Go();
    const Bytes packet = blockPicture(77, 40);
    // The packet arrives in pieces; nothing is decoded before its last byte.
    ASSERT_EQ(dec->AddBuffer(const_cast<BYTE*>(packet.data()), 20), S_OK);
    ASSERT_EQ(dec->AddBuffer(const_cast<BYTE*>(packet.data()) + 20, 19), S_OK);
    EXPECT_TRUE(fifoDrained());
    EXPECT_EQ(updated(), 0u);
    ASSERT_EQ(dec->AddBuffer(const_cast<BYTE*>(packet.data()) + 39, 1), S_OK);
    ASSERT_TRUE(waitUpdated());
    EXPECT_EQ(topLeftBlue(image(), 16), 77);
    // Setting the same type keeps the thread; another type replaces it.
    EXPECT_EQ(dec->SetType(kZoStreamBlockTransform), S_OK);
    EXPECT_EQ(dec->SetType(kZoStreamStandardH263), S_OK);
}

// A clean drops what the thread had read of a block packet: the next packet
// starts from its own head and paints its own picture.
TEST_F(Server, ThreadedCleanDropsAHalfReadBlockPacket) {
    create(1, kZoStreamBlockTransform);
    ASSERT_EQ(dec->SetAttribute(16, 16), S_OK);
    dec->Go();
    const Bytes stale = blockPicture(77, 40);
    ASSERT_EQ(dec->AddBuffer(const_cast<BYTE*>(stale.data()), 20), S_OK);
    ASSERT_TRUE(fifoDrained()) << "the thread took the first half";
    ASSERT_EQ(dec->Clean(), S_OK);
    dec->Go();
    Bytes fresh = blockPicture(150, 40);
    ASSERT_EQ(dec->AddBuffer(fresh.data(), DWORD(fresh.size())), S_OK);
    ASSERT_TRUE(waitUpdated());
    EXPECT_EQ(topLeftBlue(image(), 16), 150);
}

// With its decoder thread gone, a full FIFO does not hold the caller: the data
// that do not fit are refused at once.
TEST_F(Server, AFullFifoWithoutItsThreadRefusesInsteadOfWaiting) {
    CKcReg reg("Quennel", "ZOH263DEC", nullptr, "", platform::HKEY_LOCAL_MACHINE);
    const DWORD capacity = 100;
    reg.SetDword(nullptr, "H263FifoZise", &capacity);
    create(1, kZoStreamBlockTransform);
    dec->Go();
    dec->Finish();  // the thread ends; the FIFO stays
    Bytes data(60, 1);
    EXPECT_EQ(dec->AddBuffer(data.data(), 60), S_OK);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(dec->AddBuffer(data.data(), 60), S_FALSE);
    EXPECT_EQ(dec->AddBuffer(data.data(), 1000), S_FALSE);  // more than the FIFO holds
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(CZOH263DEC::kWriteWaitMs));
    DWORD stored = 0;
    dec->GetBufferSize(&stored);
    EXPECT_EQ(stored, 60u);
}

class ServerStandard : public Server, public ::testing::WithParamInterface<DWORD> {};

// Standard H.263 through zocodec: QCIF pictures in chunks of 1,000 bytes.
TEST_P(ServerStandard, DecodesH263ThroughZocodec) {
    const char* home = std::getenv("VELMOOR_HOME");
    const Bytes stream = kcexpand::testing::encodeStream(std::filesystem::path(home ? home : "/tmp") / "streams",
                                                         "h263", "qcif", 5, 4);
    ASSERT_FALSE(stream.empty());
    create(GetParam(), kZoStreamStandardH263);
    ASSERT_EQ(dec->SetAttribute(176, 144), S_OK);
    dec->Go();
    for (std::size_t at = 0; at < stream.size(); at += 1000) {
        const DWORD n = DWORD(std::min<std::size_t>(1000, stream.size() - at));
        ASSERT_EQ(dec->AddBuffer(const_cast<BYTE*>(stream.data()) + at, n), S_OK);
    }
    ASSERT_TRUE(waitUpdated());
    DWORD error = 0, ready = 0;
    dec->GetLastErr(&error);
    dec->IsReady(&ready);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(ready, 1u);
    const Bytes img = image();
    // The test pattern's colours, not an empty picture.
    std::set<BYTE> values(img.begin() + 40, img.begin() + 40 + 176 * 144 * 3);
    EXPECT_GT(values.size(), 50u);
}

INSTANTIATE_TEST_SUITE_P(Modes, ServerStandard, ::testing::Values(0u, 1u));

}  // namespace
