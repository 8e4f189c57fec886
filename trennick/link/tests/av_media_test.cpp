#include "trennick/link/av_audio.h"
#include "trennick/link/av_ports.h"
#include "trennick/link/av_serial_video.h"
#include "trennick/link/av_video_receiver.h"
#include "trennick/link/av_video_settings.h"
#include "trennick/link/bucket.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/testing/link_fakes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace trennick;
using Bytes = std::vector<BYTE>;

struct SentBucket {
    WORD type;
    Bytes payload;
    WORD bucketNo;
};

class FakeAvLink : public AvLink {
public:
    bool sendToken(WORD tokenId) override {
        tokens.push_back(tokenId);
        return true;
    }
    LONG sendBucket(WORD type, const BYTE* payload, DWORD length, WORD bucketNo) override {
        buckets.push_back({type, Bytes(payload, payload + length), bucketNo});
        return static_cast<LONG>(length + 22);
    }
    int protocolVersion() override { return version; }
    LONG peerProtocolNumber() override { return p; }
    BYTE holdBits() override { return hold; }
    WORD remoteVideoStatus() override { return rVideo; }
    DWORD nowMs() override { return clock; }

    int keyFrameRequests() const {
        int n = 0;
        for (WORD t : tokens) n += t == ID_DSVD_ERRORKVFRAME;
        return n;
    }

    std::vector<WORD> tokens;
    std::vector<SentBucket> buckets;
    int version = 2;
    LONG p = 2;
    BYTE hold = 0;
    WORD rVideo = kVideoInProcess;
    DWORD clock = 1000;
};

class FakeFrames : public RemoteFrameList {
public:
    void clear() override {
        ++clears;
        frames.clear();
    }
    void push(WORD type, const BYTE* f, DWORD n, bool changed) override {
        frames.push_back(Bytes(f, f + n));
        types.push_back(type);
        changes.push_back(changed);
    }
    int clears = 0;
    std::vector<Bytes> frames;
    std::vector<WORD> types;
    std::vector<bool> changes;
};

class FakeWindow : public RemoteVideoWindow {
public:
    int UpdateVideoMgr() override { return ++updates; }
    void OnNewVideoSettings(WORD state, DWORD a, DWORD b, DWORD c) override {
        settings.push_back({state, a, b, c});
    }
    void SetFrameRate(int rate) override { rates.push_back(rate); }
    int updates = 0;
    std::vector<std::vector<DWORD>> settings;
    std::vector<int> rates;
};

class FakePort : public SerialVideoPort {
public:
    int AddBuffer(const BYTE* d, DWORD n) override {
        pictures.push_back(Bytes(d, d + n));
        return 1;
    }
    std::vector<Bytes> pictures;
};

// A decoded bucket as the decoder leaves it, with a right or wrong checksum.
struct Bucket {
    Bytes payload;
    DecodedBucket decoded;
    Bucket(WORD type, DWORD no, Bytes bytes, bool goodChecksum = true) : payload(std::move(bytes)) {
        payload.push_back(0);
        decoded.BucketType = type;
        decoded.BucketLen = static_cast<DWORD>(payload.size() - 1);
        decoded.BucketNo = no;
        decoded.Payload = payload.data();
        LONG sum = WireChecksum({payload.data(), decoded.BucketLen});
        if (!goodChecksum) sum ^= 1;
        char text[kCheckHeaderBytes + 1] = {};
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(sum));
        std::memcpy(decoded.CheckHeader, text, kCheckHeaderBytes);
    }
};

// An H.263 picture header: start code, source format (bits 2-4 of byte 4),
// picture coding type bit 0x02 (clear: key frame).
Bytes h263(BYTE format, bool key, std::size_t length = 16, BYTE startByte = 0x80) {
    Bytes f(std::max<std::size_t>(length, 5), 0x55);
    f[0] = 0;
    f[1] = 0;
    f[2] = startByte;
    f[3] = 0;
    f[4] = static_cast<BYTE>((format << 2) | (key ? 0 : 0x02));
    f.resize(length);
    return f;
}

struct Step {
    BYTE kind;  // 4, 6
    DWORD no;
    bool goodChecksum;
    int requestsAfter;  // key-frame requests so far
};

struct SequenceCase {
    const char* name;
    std::vector<Step> steps;
};

TEST(VideoReceiver, GapsAndBrokenKeyFramesRequestExactlyTheKeyFramesDue) {
    const std::vector<SequenceCase> cases = {
        {"in order", {{6, 1, true, 0}, {4, 2, true, 0}, {4, 3, true, 0}, {4, 4, true, 0}}},
        {"gap", {{6, 1, true, 0}, {4, 2, true, 0}, {4, 4, true, 1}, {4, 5, true, 1}}},
        {"same number twice is reported, not requested", {{4, 1, true, 0}, {4, 2, true, 0}, {4, 2, true, 0}, {4, 3, true, 0}}},
        {"going back", {{4, 1, true, 0}, {4, 2, true, 0}, {4, 3, true, 0}, {4, 2, true, 1}}},
        {"numbers 0 and 1 restart the count", {{4, 1, true, 0}, {4, 2, true, 0}, {4, 0, true, 0}, {4, 1, true, 0}, {4, 2, true, 0}}},
        {"joining a running stream", {{4, 9, true, 1}, {4, 10, true, 1}}},
        {"broken key frame", {{6, 1, true, 0}, {6, 2, false, 1}, {4, 3, true, 2}}},
        {"broken frame: only the gap it leaves", {{4, 1, true, 0}, {4, 2, false, 0}, {4, 3, true, 1}, {4, 4, true, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeAvLink link;
        FakeFrames frames;
        VideoReceiver receiver(link);
        receiver.setFrameList(&frames);
        int good = 0;
        for (const auto& s : c.steps) {
            Bucket b(s.kind, s.no, h263(0, s.kind == kVideoKeyBucket), s.goodChecksum);
            receiver.StoreNewFrame(b.decoded);
            EXPECT_EQ(link.keyFrameRequests(), s.requestsAfter) << "after bucket " << s.no;
            good += s.goodChecksum;
        }
        EXPECT_EQ(frames.frames.size(), static_cast<std::size_t>(good));
        EXPECT_EQ(link.tokens.size(), static_cast<std::size_t>(link.keyFrameRequests()));
    }
}

TEST(VideoReceiver, FramesAreTakenOnlyWhileTheVideoRunsWithoutHold) {
    struct Case {
        WORD state;
        BYTE hold;
        std::size_t length;
        bool taken;
    };
    const Case cases[] = {
        {kVideoInProcess, 0, 16, true}, {kVideoStateOpen, 0, 16, false}, {kVideoStatePaused, 0, 16, false},
        {kVideoInProcess, 1, 16, false}, {kVideoInProcess, 2, 16, false}, {kVideoInProcess, 0, 5, true},
        {kVideoInProcess, 0, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.state << "/" << int(c.hold) << "/" << c.length);
        FakeAvLink link;
        link.rVideo = c.state;
        link.hold = c.hold;
        FakeFrames frames;
        VideoReceiver receiver(link);
        receiver.setFrameList(&frames);
        Bucket b(kVideoKeyBucket, 9, h263(0, true, c.length), false);  // even a broken key frame
        receiver.StoreNewFrame(b.decoded);
        Bucket good(kVideoBucket, 0, h263(0, false, c.length));
        receiver.StoreNewFrame(good.decoded);
        EXPECT_EQ(frames.frames.size(), c.taken ? 1u : 0u);
        EXPECT_EQ(link.keyFrameRequests(), c.taken ? 1 : 0);
    }
}

TEST(VideoReceiver, CameraOrFormatChangeEmptiesTheListAndMarksTheFrame) {
    FakeAvLink link;
    FakeFrames frames;
    FakeWindow window;
    VideoReceiver receiver(link);
    receiver.setFrameList(&frames);
    receiver.setVideoWindow(&window);
    int selected = 7;
    receiver.setSelectedCamera([&] { return selected; });
    const struct {
        WORD type;
        BYTE format;
        bool changed;
    } steps[] = {
        {0x0204, 2, true},    // first frame: a new stream
        {0x0204, 2, false},
        {0x0304, 2, true},    // camera 3
        {0x0304, 3, true},    // new source format
        {0x0304, 3, false},
        {0x000B, 3, true},    // type 11: the selected input (7)
        {0x050B, 3, false},   // the high byte of type 11 means nothing
    };
    DWORD no = 0;
    int clears = 0;
    for (const auto& s : steps) {
        Bucket b(s.type, ++no, h263(s.format, false));
        receiver.StoreNewFrame(b.decoded);
        clears += s.changed;
        ASSERT_EQ(frames.changes.back(), s.changed) << no;
        EXPECT_EQ(frames.clears, clears) << no;
    }
    EXPECT_EQ(window.updates, clears);
    EXPECT_EQ(frames.frames.size(), 2u);  // the frames since the last change
    EXPECT_EQ(link.keyFrameRequests(), 0);
}

TEST(VideoReceiver, KeyFrameOfAProtocolOnePeerGetsByteSixRewritten) {
    for (int version : {1, 2}) {
        FakeAvLink link;
        link.version = version;
        FakeFrames frames;
        VideoReceiver receiver(link);
        receiver.setFrameList(&frames);
        Bucket b(kVideoKeyBucket, 1, h263(1, true));
        receiver.StoreNewFrame(b.decoded);
        ASSERT_EQ(frames.frames.size(), 1u);
        EXPECT_EQ(frames.frames[0][6], version == 1 ? 31 : 0x55);
    }
}

TEST(VideoReceiver, NetworkClientThatJustConnectedGetsAKeyFrameRequest) {
    struct Net : VideoOutNet {
        bool isClientConnected() override { return connected; }
        bool writeFrame(const BYTE*, DWORD n) override {
            written.push_back(n);
            return true;
        }
        bool clientNewlyConnected() override { return std::exchange(newly, false); }
        bool clientLeft() override { return false; }
        bool wantsBufferCleaned() override { return false; }
        void cleanBuffer() override {}
        bool connected = false;
        bool newly = false;
        std::vector<DWORD> written;
    } net;
    FakeAvLink link;
    VideoReceiver receiver(link);
    receiver.setNetworkOutput(&net);
    Bucket a(kVideoBucket, 1, h263(0, false, 20));
    receiver.StoreNewFrame(a.decoded);
    EXPECT_TRUE(net.written.empty());
    net.connected = net.newly = true;
    Bucket b(kVideoBucket, 2, h263(0, false, 21));
    receiver.StoreNewFrame(b.decoded);
    Bucket c(kVideoBucket, 3, h263(0, false, 22));
    receiver.StoreNewFrame(c.decoded);
    EXPECT_EQ(net.written, (std::vector<DWORD>{21, 22}));
    EXPECT_EQ(link.keyFrameRequests(), 1);
}

TEST(SerialVideo, PiecesMakeWholePicturesAndOverflowDropsThePendingOne) {
    H263PictureAssembler assembler;
    std::vector<Bytes> pictures;
    auto collect = [&](const BYTE* d, DWORD n) { pictures.push_back(Bytes(d, d + n)); };
    Bytes first = h263(0, true, 10, 0x81);
    Bytes middle(7, 0x11);
    Bytes next = h263(0, false, 12, 0x82);
    assembler.add(first.data(), DWORD(first.size()), collect);
    assembler.add(middle.data(), DWORD(middle.size()), collect);
    EXPECT_TRUE(pictures.empty());
    assembler.add(next.data(), DWORD(next.size()), collect);
    ASSERT_EQ(pictures.size(), 1u);
    Bytes expected = first;
    expected.insert(expected.end(), middle.begin(), middle.end());
    EXPECT_EQ(pictures[0], expected);
    EXPECT_EQ(assembler.fill(), next.size());

    // A piece that does not fit behind what is there drops both.
    Bytes big(kH263PictureBufferBytes - next.size() + 1, 0x22);
    assembler.add(big.data(), DWORD(big.size()), collect);
    EXPECT_EQ(assembler.fill(), 0u);
    // Exactly filling the buffer is fine.
    Bytes whole = h263(0, true, kH263PictureBufferBytes, 0x80);
    assembler.add(whole.data(), DWORD(whole.size()), collect);
    EXPECT_EQ(assembler.fill(), kH263PictureBufferBytes);
    assembler.add(next.data(), DWORD(next.size()), collect);
    EXPECT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[1].size(), kH263PictureBufferBytes);
}

TEST(SerialVideo, OutputRunsWithAPortAndProtocolTwoAndAsksForKeyFramesOnChange) {
    FakeAvLink link;
    FakePort port;
    VideoReceiver receiver(link);
    // Without a port nothing goes anywhere.
    Bucket a(kVideoKeyBucket, 1, h263(0, true, 30, 0x81));
    receiver.StoreNewFrame(a.decoded);
    EXPECT_EQ(link.keyFrameRequests(), 0);

    receiver.setSerialPort(&port);
    receiver.reset();
    Bucket b(kVideoKeyBucket, 1, h263(0, true, 30, 0x81));  // a key frame that starts a stream
    receiver.StoreNewFrame(b.decoded);
    EXPECT_EQ(link.keyFrameRequests(), 1);
    Bucket c(kVideoBucket, 2, h263(0, false, 40, 0x82));
    receiver.StoreNewFrame(c.decoded);
    ASSERT_EQ(port.pictures.size(), 1u);
    EXPECT_EQ(port.pictures[0].size(), 30u);
    EXPECT_EQ(link.keyFrameRequests(), 1);

    FakeAvLink oldPeer;
    oldPeer.version = 1;
    FakePort unused;
    VideoReceiver old(oldPeer);
    old.setSerialPort(&unused);
    Bucket d(kVideoKeyBucket, 1, h263(0, true, 30, 0x81));
    Bucket e(kVideoBucket, 2, h263(0, false, 30, 0x82));
    old.StoreNewFrame(d.decoded);
    old.StoreNewFrame(e.decoded);
    EXPECT_TRUE(unused.pictures.empty());
    EXPECT_EQ(oldPeer.keyFrameRequests(), 0);
}

TEST(Audio, ReceivedFramesAreSizeCheckedAndChecksummed) {
    struct Codec : LinkAudioClient {
        bool audioFlag() const override { return true; }
        void ProcessRemoteAudio(const BYTE*, DWORD n) override { lengths.push_back(n); }
        std::vector<DWORD> lengths;
    } codec;
    AudioReceiver receiver;
    Bucket none(kAudioBucket, 0, Bytes(10, 1));
    receiver.StoreAudioFrame(none.decoded);  // no codec yet: ignored
    receiver.setCodec(&codec);
    Bucket exact(kAudioBucket, 0, Bytes(1024, 2));
    Bucket over(kAudioBucket, 0, Bytes(1025, 3));
    Bucket broken(kAudioBucket, 0, Bytes(100, 4), false);
    Bucket empty(kAudioBucket, 0, Bytes{});
    for (auto* b : {&exact, &over, &broken, &empty}) {
        receiver.StoreAudioFrame(b->decoded);
    }
    EXPECT_EQ(codec.lengths, std::vector<DWORD>{1024});
    EXPECT_EQ(receiver.checksumErrors(), 1u);
}

TEST(Senders, VideoAndAudioSizeLimits) {
    FakeAvLink link;
    VideoSender video;
    Bytes frame(15353, 1);
    EXPECT_NE(video.SendFrame(link, 0x0304, frame.data(), DWORD(frame.size())), 0);
    frame.push_back(1);
    EXPECT_EQ(video.SendFrame(link, 0x0304, frame.data(), DWORD(frame.size())), 0);
    EXPECT_NE(video.SendFrame(link, 0x0304, frame.data(), 100), 0);
    ASSERT_EQ(link.buckets.size(), 2u);
    EXPECT_EQ(link.buckets[0].type, 0x0304);
    EXPECT_EQ(link.buckets[0].bucketNo, 1);
    EXPECT_EQ(link.buckets[1].bucketNo, 2);  // numbered without gaps

    Bytes audio(1000, 2);
    EXPECT_FALSE(SendAudioFrame(link, false, audio.data(), DWORD(audio.size())));
    EXPECT_TRUE(SendAudioFrame(link, true, audio.data(), DWORD(audio.size())));
    EXPECT_FALSE(SendAudioFrame(link, true, audio.data(), kAudioSendLimitBytes - 22));
    EXPECT_EQ(link.buckets.back().type, kAudioBucket);
    EXPECT_EQ(link.buckets.back().bucketNo, 0);
}

TEST(VideoSettings, SentFormFollowsThePeerAndNothingGoesOnHold) {
    VideoSettingsRecord record{};
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = BYTE(i);
    for (LONG p : {1, 2}) {
        for (int selector : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "P " << p << " selector " << selector);
            FakeAvLink link;
            link.p = p;
            VideoSettingsExchange settings;
            BYTE shortForm[16] = {9, 9, 9, 9, 8, 8, 8, 8, 7, 7, 7, 7, 6, 6, 6, 6};
            ASSERT_NE(settings.SendVideoSettings(link, selector, shortForm, record), 0);
            const std::string token(tokenText(selector ? ID_DSVD_YOURVIDEOSETTINGS : ID_DSVD_MYVIDEOSETTINGS));
            const Bytes& sent = link.buckets.at(0).payload;
            EXPECT_EQ(link.buckets[0].type, kTokenBucket);
            EXPECT_EQ(std::string(sent.begin(), sent.begin() + token.size()), token);
            const std::size_t data = p < 2 ? 52 : (selector ? 16 : 12);
            ASSERT_EQ(sent.size(), token.size() + data);
            EXPECT_EQ(sent[token.size()], p < 2 ? 0 : 9);
            link.hold = 1;
            EXPECT_EQ(settings.SendVideoSettings(link, selector, shortForm, record), 0);
            EXPECT_EQ(link.buckets.size(), 1u);
        }
    }
}

TEST(VideoSettings, ReceivedSettingsAreTakenOnlyWhenWholeAndReachTheWindow) {
    VideoSettingsRecord record{};
    DWORD values[13] = {};
    values[3] = 176;   // offset 12
    values[4] = 144;   // offset 16
    values[8] = 99;    // offset 32: cleared on receipt
    values[9] = 5;     // offset 36
    std::memcpy(record.data(), values, 52);
    VideoStates states;
    states.reset(1, kVideoInProcess);

    FakeAvLink oldPeer;
    oldPeer.p = 1;
    FakeWindow window;
    VideoSettingsExchange settings;
    settings.NewVideoSettings(oldPeer, 1, record.data(), 51, states, &window);  // cut short
    EXPECT_TRUE(window.settings.empty());
    settings.NewVideoSettings(oldPeer, 1, record.data(), 52, states, &window);
    ASSERT_EQ(window.settings.size(), 1u);
    EXPECT_EQ(window.settings[0], (std::vector<DWORD>{kVideoInProcess, 176, 144, 5}));
    VideoSettingsRecord read{};
    EXPECT_EQ(settings.GetVideoSettings(1, read, states), kVideoInProcess);
    EXPECT_EQ(read[32], 0);
    EXPECT_EQ(read[12], 176);

    FakeAvLink newPeer;
    DWORD shortForm[3] = {352, 288, 3};
    settings.NewVideoSettings(newPeer, 1, reinterpret_cast<BYTE*>(shortForm), 11, states, &window);
    EXPECT_EQ(window.settings.size(), 1u);
    settings.NewVideoSettings(newPeer, 1, reinterpret_cast<BYTE*>(shortForm), 12, states, &window);
    ASSERT_EQ(window.settings.size(), 2u);
    EXPECT_EQ(window.settings[1], (std::vector<DWORD>{kVideoInProcess, 352, 288, 3}));

    newPeer.hold = 2;
    settings.NewVideoSettings(newPeer, 1, reinterpret_cast<BYTE*>(shortForm), 12, states, &window);
    EXPECT_EQ(window.settings.size(), 2u);
}

TEST(VideoStates, PauseCloseAndResumeTellThePeerOnlyOnRealChanges) {
    struct Step {
        BYTE kind;
        WORD status;
        WORD token;  // 0: none
        WORD local;
        WORD remote;
    };
    const Step steps[] = {
        {1, kVideoStateInProcess, 0, 1, 3},
        {1, kVideoStatePaused, ID_DSVD_VIDEORPAUSE, 1, 10},
        {1, kVideoStatePaused, 0, 1, 10},
        {1, kVideoStateClosed, 0, 1, 10},  // a pause holds until a resume
        {1, kVideoStateResume, ID_DSVD_VIDEORRESUME, 1, 3},
        {1, kVideoStatePauseRequest, ID_DSVD_VIDEORPAUSE, 1, 6},
        {1, kVideoStateClosed, ID_DSVD_CLOSEYOURVIDEO, 1, 5},
        {1, kVideoStateClosed, 0, 1, 5},
        {0, kVideoStateClosed, ID_DSVD_CLOSEMYVIDEO, 5, 5},
        {0, kVideoStateClosed, 0, 5, 5},
        {0, 0, 0, 0, 5},
        {0, kVideoStateClosed, 0, 5, 5},
    };
    FakeAvLink link;
    VideoStates states;
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << int(s.kind) << " -> " << s.status);
        link.tokens.clear();
        states.SetVideoStatus(link, s.kind, s.status);
        EXPECT_EQ(link.tokens, s.token ? std::vector<WORD>{s.token} : std::vector<WORD>{});
        EXPECT_EQ(states.local(), s.local);
        EXPECT_EQ(states.remote(), s.remote);
    }
}

// Over two real links: the sender numbers its video buckets, a bucket lost
// on the wire shows as a gap at the receiver, and exactly one key-frame
// request goes back over the link.
TEST(VideoOverTheLink, ALostBucketBringsOneKeyFrameRequestBack) {
    linktest::LinkPair pair;
    pair.helloBothWays();
    ASSERT_GE(pair.a->GetPeerProtocolNumber(), 2);
    pair.a->wire.clear();
    pair.b->wire.clear();
    int written = 0;
    pair.a->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        if (++written != 3) wire.insert(wire.end(), data, data + length);  // the third bucket is lost
    };
    PacketConnectionAvLink sender(*pair.a);
    VideoSender video;
    for (int i = 0; i < 5; ++i) {
        Bytes frame = h263(0, i == 0, 40);
        ASSERT_NE(video.SendFrame(sender, i == 0 ? kVideoKeyBucket : kVideoBucket, frame.data(), DWORD(frame.size())), 0);
    }
    pair.a->writeHook = nullptr;
    pair.pump();
    ASSERT_EQ(pair.b->frames.size(), 4u);

    // The receiving side as the link will run it, its video running.
    struct RunningVideo : PacketConnectionAvLink {
        using PacketConnectionAvLink::PacketConnectionAvLink;
        WORD remoteVideoStatus() override { return kVideoInProcess; }
    } receiverLink(*pair.b);
    VideoReceiver receiver(receiverLink);
    pair.b->wire.clear();
    for (const auto& f : pair.b->frames) {
        Bucket b(static_cast<WORD>(f.type), f.bucketNo, f.payload);
        ASSERT_TRUE(f.checksumOk);
        receiver.StoreNewFrame(b.decoded);
    }
    EXPECT_EQ(linktest::tokenTexts(pair.b->wire, pair.b->GetPeerProtocolNumber()),
              std::vector<std::string>{"<ErrorKVFrame>"});
}

// The link object itself: video buckets reach its receiver only while the
// peer's video runs, good frames join the remote view's list, and a bucket
// lost on the wire brings exactly one key-frame request back.
TEST(VideoOverTheLink, TheLinkObjectAsksOnceForAKeyFrameAfterAGap) {
    linktest::LinkPair pair;
    pair.helloBothWays();
    FakeFrames frames;
    pair.b->captureFrames = false;
    pair.b->SetVideoTarget(&frames);
    pair.b->feedToken("<VideoOpen>");
    pair.pump();
    pair.a->wire.clear();
    pair.b->wire.clear();
    std::vector<BYTE> pending;

    pair.b->SetVideoStatus(1, kVideoStateInProcess);
    int written = 0;
    pair.a->writeHook = [&](std::vector<BYTE>& wire, const BYTE* data, DWORD length) {
        if (++written != 3) wire.insert(wire.end(), data, data + length);  // the third bucket is lost
    };
    for (int i = 0; i < 5; ++i) {
        Bytes frame = h263(0, i == 0, 40);
        ASSERT_NE(pair.a->SendFrame(i == 0 ? kVideoKeyBucket : kVideoBucket, frame.data(), DWORD(frame.size())), 0);
    }
    pair.a->writeHook = nullptr;
    linktest::deliver(*pair.a, *pair.b, pending);
    EXPECT_EQ(frames.frames.size(), 4u);
    EXPECT_EQ(linktest::tokenTexts(pair.b->wire, pair.b->GetPeerProtocolNumber()),
              std::vector<std::string>{"<ErrorKVFrame>"});

    // Paused: frames are no longer taken.
    pair.b->SetVideoStatus(1, kVideoStatePaused);
    Bytes more = h263(0, false, 40);
    ASSERT_NE(pair.a->SendFrame(kVideoBucket, more.data(), DWORD(more.size())), 0);
    linktest::deliver(*pair.a, *pair.b, pending);
    EXPECT_EQ(frames.frames.size(), 4u);
}

class FakeLinkVideoWindow : public LinkVideoWindow {
public:
    int UpdateVideoMgr() override { return ++updates; }
    void OnNewVideoSettings(WORD state, DWORD a, DWORD b, DWORD c) override { settings.push_back({state, a, b, c}); }
    void SetFrameRate(int rate) override { rates.push_back(rate); }
    int updates = 0;
    std::vector<std::vector<DWORD>> settings;
    std::vector<int> rates;
};

// "<VideoOpen>" empties the waiting frames and sends our default quality; it
// is answered with "<OkVideoOpen>" only when the peer's video already runs,
// and otherwise opens the peer's video unless that state is 4.
TEST(VideoOverTheLink, VideoOpenIsAnsweredByTheStateOfThePeersVideo) {
    struct Case {
        WORD before;
        std::vector<std::string> replies;
        WORD after;
    };
    const Case cases[] = {
        {0, {"<YourVideoSettings>"}, kVideoStateOpen},
        {kVideoStateInProcess, {"<YourVideoSettings>", "<OkVideoOpen>"}, kVideoStateInProcess},
        {4, {"<YourVideoSettings>"}, 4},
        {kVideoStateClosed, {"<YourVideoSettings>"}, kVideoStateOpen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        linktest::LinkPair pair;  // a placed the call
        pair.helloBothWays();
        FakeFrames frames;
        FakeLinkVideoWindow windowA, windowB;
        pair.a->SetVideoWindow(&windowA);
        pair.b->SetVideoWindow(&windowB);
        pair.b->SetVideoTarget(&frames);
        pair.hostB.frameRate = 12;
        pair.hostB.quality = 7;
        const DWORD width = 176, height = 144;
        std::memcpy(pair.hostB.videoRecord.data() + 12, &width, 4);
        std::memcpy(pair.hostB.videoRecord.data() + 16, &height, 4);
        if (c.before != 0) pair.b->SetVideoStatus(1, c.before);
        pair.b->wire.clear();

        pair.b->feedToken("<VideoOpen>");
        EXPECT_EQ(linktest::tokenTexts(pair.b->wire, pair.b->GetPeerProtocolNumber()), c.replies);
        EXPECT_EQ(pair.b->GetRemoteVideoStatus(), c.after);
        EXPECT_EQ(frames.clears, 1);
        EXPECT_EQ(windowB.rates, std::vector<int>{12});  // the peer placed the call

        // Our quality reaches the caller's remote window in its short form.
        pair.pump();
        ASSERT_EQ(windowA.settings.size(), 1u);
        EXPECT_EQ(windowA.settings[0], (std::vector<DWORD>{pair.a->GetRemoteVideoStatus(), width, height, 7}));
        EXPECT_TRUE(windowA.rates.empty());
    }
}

}  // namespace
