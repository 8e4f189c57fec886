#pragma once
// Test doubles for the station link: a recording owner window, host, identity
// and remote view, a settable clock, and a link whose transport is an
// in-memory byte queue, so two links can be joined back to back.

#include "common/fixed_text.h"
#include "trennick/link/link_states.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/packet_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace linktest {

using namespace trennick;

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool sent;
    std::shared_ptr<platform::PostedData> data = {};
    bool operator==(const Posted& o) const {
        return message == o.message && wParam == o.wParam && lParam == o.lParam && sent == o.sent;
    }
};

// The data of type T a message was posted with; null when it carries none of that type.
template <class T>
const T* dataOf(const Posted& p) {
    auto* block = dynamic_cast<platform::PostedBlock<T>*>(p.data.get());
    return block != nullptr ? block->value.get() : nullptr;
}

// The transports' read notices (kMsgLinkDataReady) are not recorded: a serial
// line posts them from its read thread, and the tests run the read passes
// themselves.
class FakeWindow : public LinkWindow {
public:
    void postMessage(UINT m, WPARAM w, LPARAM l) override {
        if (m != kMsgLinkDataReady) messages.push_back({m, w, l, false});
    }
    void postData(UINT m, WPARAM w, std::unique_ptr<platform::PostedData> data) override {
        messages.push_back({m, w, 0, false, std::shared_ptr<platform::PostedData>(std::move(data))});
    }
    LRESULT sendMessage(UINT m, WPARAM w, LPARAM l) override {
        if (m != kMsgLinkDataReady) messages.push_back({m, w, l, true});
        return 0;
    }
    // Messages other than the bytes-written and data-lamp notices.
    std::vector<Posted> notices() const {
        std::vector<Posted> out;
        for (const auto& p : messages) {
            if (p.message != kMsgBytesWritten && p.message != kMsgDataLamp) out.push_back(p);
        }
        return out;
    }
    // The string ids of the user notices posted, in order.
    std::vector<UINT> userNotices() const {
        std::vector<UINT> out;
        for (const auto& p : messages) {
            if (p.message == kMsgUserNotice) out.push_back(static_cast<UINT>(p.wParam));
        }
        return out;
    }
    // The ends of transfers posted (kMsgTransferEnded), in order.
    std::vector<LinkTransferResult> transfersEnded() const {
        std::vector<LinkTransferResult> out;
        for (const auto& p : messages) {
            if (p.message != kMsgTransferEnded) continue;
            const auto* block = dynamic_cast<const platform::PostedBlock<LinkTransferResult>*>(p.data.get());
            if (block != nullptr && block->value) out.push_back(*block->value);
        }
        return out;
    }
    int count(UINT message) const {
        return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                              [&](const Posted& p) { return p.message == message; }));
    }
    std::vector<Posted> messages;
};

class FakeHost : public LinkHost {
public:
    UserRecord loggedInUserRecord() override {
        UserRecord r{};
        std::memcpy(r.data() + kUserNameOffset, user.data(), std::min<std::size_t>(user.size(), 29));
        std::memcpy(r.data() + kUserPasswordOffset, password.data(), std::min<std::size_t>(password.size(), 29));
        return r;
    }
    void localStationData(BYTE (&data)[kStationDataBytes], BYTE& stationByte) override {
        for (DWORD i = 0; i < kStationDataBytes; ++i) data[i] = static_cast<BYTE>(i * 7 + seed);
        stationByte = static_cast<BYTE>(seed);
    }
    WORD localCapabilityFlags() override { return capabilityFlags; }
    void setRemoteStationData(const BYTE (&data)[kStationDataBytes], BYTE stationByte, bool flag) override {
        remoteData.assign(data, data + kStationDataBytes);
        remoteStationByte = stationByte;
        remoteFlag = flag;
    }
    void recordRemoteSite(const SiteInfoBlock& site) override { sites.push_back(site); }
    // The brief lamp of each dispatched bucket is counted; the others kept.
    void showDataLamp(int /*on*/, DWORD ms) override {
        if (ms == kActivityLampMs) {
            ++activityLamps;
        } else {
            lamps.push_back(ms);
        }
    }
    void logAttendTimeout() override { ++attendLogs; }
    bool remoteSiteInfo(SiteInfoBlock& site) override {
        if (sites.empty()) return false;
        site = sites.back();
        return true;
    }
    void storeRemoteHWProfile(const tagHWProfile& profile) override { storedProfiles.push_back(profile); }
    bool editLocalHWProfile(const std::function<bool(tagHWProfile&)>& edit) override {
        if (!hasSettings) return false;
        tagHWProfile copy = localProfile;
        if (edit(copy)) localProfile = copy;
        return true;
    }
    bool mainVideoSettings(std::array<BYTE, 52>& record, int& rate, WORD& q) override {
        record = videoRecord;
        rate = frameRate;
        q = quality;
        return true;
    }

    std::string user = "admin";
    std::string password = "secret";
    int seed = 1;
    WORD capabilityFlags = 0;
    std::vector<BYTE> remoteData;
    BYTE remoteStationByte = 0;
    bool remoteFlag = false;
    std::vector<SiteInfoBlock> sites;
    std::vector<DWORD> lamps;
    int activityLamps = 0;
    int attendLogs = 0;
    std::vector<tagHWProfile> storedProfiles;
    bool hasSettings = true;
    tagHWProfile localProfile{};
    std::array<BYTE, 52> videoRecord{};
    int frameRate = 0;
    WORD quality = 0;
};

// Scrambles by reversing and flipping bits: enough to show the hello carries
// the scrambled form, not the plain text.
class FakeIdentity : public LinkIdentity {
public:
    std::string encrypt(std::string_view text) override {
        std::string out(text.rbegin(), text.rend());
        for (char& c : out) c = static_cast<char>(c ^ 0x5A);
        return out;
    }
    bool thisSiteInfo(SiteInfoBlock& site) override {
        if (!available) return false;
        fixed_text::Write(site.guid, sizeof site.guid, guid);
        fixed_text::Write(site.siteName, sizeof site.siteName, name);
        fixed_text::Write(site.sitePhone, sizeof site.sitePhone, phone);
        return true;
    }
    bool available = true;
    std::string guid = "{0A1B2C3D-0000-4000-8000-00000000000A}";
    std::string name = "North Gate";
    std::string phone = "555 0100";
};

class FakeRemoteView : public RemoteViewSink {
public:
    void holdChanged(int side, bool on) override { holds.push_back({side, on}); }
    void protocolVersionKnown(int v) override { versions.push_back(v); }
    void postMessage(UINT m, WPARAM w, LPARAM l) override { posts.push_back({m, w, l, false}); }
    std::vector<std::pair<int, bool>> holds;
    std::vector<int> versions;
    std::vector<Posted> posts;
};

struct FakeClock {
    DWORD ms = 1000000;
    LinkClock fn() { return [this] { return ms; }; }
};

// A transport that writes into a byte queue.
struct LoopbackTransport : LinkTransport {
    explicit LoopbackTransport(bool isOutgoing) : outgoing(isOutgoing) {}
    LONG ConnectWrite(const BYTE* data, DWORD length, LONG, LONG queue) override {
        queues.push_back(queue);
        if (writeHook) {
            writeHook(wire, data, length);
        } else {
            wire.insert(wire.end(), data, data + length);
        }
        return static_cast<LONG>(length);
    }
    DWORD GetMaxChunk() override { return maxChunk; }
    BOOL IsOutgoingCall() override { return outgoing ? TRUE : FALSE; }
    BOOL IsLinkUp() override { return linkUp ? TRUE : FALSE; }
    LONG SetNotConnected() override {
        ++dropped;
        return 1;
    }

    std::vector<BYTE> wire;
    // Each written bucket passes through the hook when one is set (it may
    // change, drop or repeat it).
    std::function<void(std::vector<BYTE>& wire, const BYTE* data, DWORD length)> writeHook;
    DWORD maxChunk = 1024;
    // What the transport answers to IsLinkUp (a line without the facility: never up).
    bool linkUp = false;
    std::vector<LONG> queues;  // the write queue of each write
    int dropped = 0;
    bool outgoing;
};

// A link over a LoopbackTransport; the transport's queue and settings are
// reached through the link's members of the same names.
class LoopbackLink : public CPacketConnection {
public:
    LoopbackLink(const LinkServices& services, bool outgoing)
        : CPacketConnection(services, std::make_unique<LoopbackTransport>(outgoing)),
          line(static_cast<LoopbackTransport&>(Transport())) {}

    void OnServiceToken(WORD id) override { handled.push_back(id); }
    void StoreNewFrame(const DecodedBucket& b) override {
        if (captureFrames) frames.push_back(copy(b));
        else CPacketConnection::StoreNewFrame(b);
    }
    void StoreAudioFrame(const DecodedBucket& b) override {
        if (captureFrames) frames.push_back(copy(b));
        else CPacketConnection::StoreAudioFrame(b);
    }
    void ReceiveData(const DecodedBucket& b) override {
        if (captureData) frames.push_back(copy(b));
        else CPacketConnection::ReceiveData(b);
    }
    void ReceiveSerialOutCommand(const DecodedBucket& b) override {
        if (captureData) frames.push_back(copy(b));
        else CPacketConnection::ReceiveSerialOutCommand(b);
    }

    // Test access to protected state changes.
    void feedToken(std::string_view payload) {
        CheckAcknowledgment(reinterpret_cast<const BYTE*>(payload.data()), static_cast<DWORD>(payload.size()));
    }

    struct Frame {
        DWORD type;
        DWORD bucketNo;
        bool checksumOk;
        std::vector<BYTE> payload;
    };
    static Frame copy(const DecodedBucket& b) {
        return {b.BucketType, b.BucketNo, b.checksumMatches(), std::vector<BYTE>(b.Payload, b.Payload + b.BucketLen)};
    }

    LoopbackTransport& line;
    std::vector<BYTE>& wire = line.wire;
    std::function<void(std::vector<BYTE>& wire, const BYTE* data, DWORD length)>& writeHook = line.writeHook;
    DWORD& maxChunk = line.maxChunk;
    bool& linkUp = line.linkUp;
    std::vector<LONG>& queues = line.queues;
    int& dropped = line.dropped;
    // File blocks and serial-out buckets go to the link's own handlers when
    // captureData is false.
    bool captureData = true;
    // Video and audio buckets go to the link's own receivers when false.
    bool captureFrames = true;
    std::vector<WORD> handled;
    std::vector<Frame> frames;
};

// Moves everything `from` wrote into `to`'s receive buffer, `chunk` bytes at a
// time, and lets `to` cut and dispatch it. Returns the last FilterPollBuff result.
inline LONG deliver(LoopbackLink& from, LoopbackLink& to, std::vector<BYTE>& pending, std::size_t chunk = 0) {
    std::vector<BYTE> bytes;
    bytes.swap(from.wire);
    LONG result = 1;
    std::size_t at = 0;
    if (chunk == 0) chunk = bytes.size() == 0 ? 1 : bytes.size();
    std::span<BYTE> buffer = to.ReceiveBuffer();
    while (at < bytes.size()) {
        const std::size_t n = std::min(chunk, bytes.size() - at);
        DWORD length = static_cast<DWORD>(pending.size());
        std::copy(pending.begin(), pending.end(), buffer.begin());
        std::copy(bytes.begin() + at, bytes.begin() + at + n, buffer.begin() + length);
        length += static_cast<DWORD>(n);
        result = to.FilterPollBuff(buffer, length);
        pending.assign(buffer.begin(), buffer.begin() + (result < 0 ? 0 : length));
        at += n;
    }
    return result;
}

// The token texts (up to the first ">") of the token buckets in written bytes.
inline std::vector<std::string> tokenTexts(const std::vector<BYTE>& wire, LONG peerProtocolNumber = 0) {
    BucketDecoder decoder(200000);
    decoder.setPeerProtocolNumber(peerProtocolNumber);
    std::vector<BYTE> buffer(wire);
    buffer.resize(std::max<std::size_t>(buffer.size(), 16));
    ParseCursor cursor;
    cursor.dataLength = static_cast<DWORD>(wire.size());
    std::vector<std::string> out;
    while (decoder.getBucket(buffer.data(), static_cast<DWORD>(buffer.size()), cursor)) {
        const auto& b = decoder.current();
        if (b.kind() == kTokenBucket) {
            const char* text = reinterpret_cast<const char*>(b.Payload);
            const char* close = static_cast<const char*>(std::memchr(text, '>', b.BucketLen));
            out.emplace_back(text, close ? close + 1 - text : b.BucketLen);
        }
    }
    return out;
}

// Two links joined back to back, each with its own window, host and identity.
struct LinkPair {
    explicit LinkPair(bool aOutgoing = true, DWORD buffLen = 200000) {
        LinkServices sa{&windowA, &hostA, &identityA, clock.fn(), LinkSettings{}, buffLen, {}};
        LinkServices sb{&windowB, &hostB, &identityB, clock.fn(), LinkSettings{}, buffLen, {}};
        hostB.seed = 2;
        identityB.guid = "{0B000000-0000-4000-8000-00000000000B}";
        identityB.name = "Control Room";
        a = std::make_unique<LoopbackLink>(sa, aOutgoing);
        b = std::make_unique<LoopbackLink>(sb, !aOutgoing);
    }
    // Delivers in both directions until nothing is left to move.
    void pump(std::size_t chunk = 0) {
        for (int round = 0; round < 20 && (!a->wire.empty() || !b->wire.empty()); ++round) {
            lastB = deliver(*a, *b, pendingB, chunk);
            lastA = deliver(*b, *a, pendingA, chunk);
        }
    }
    void helloBothWays() {
        EXPECT_NE(a->SendHello(), 0);
        EXPECT_NE(a->SendSiteInfo(), 0);
        EXPECT_NE(b->SendHello(), 0);
        EXPECT_NE(b->SendSiteInfo(), 0);
        pump();
    }
    FakeClock clock;
    FakeWindow windowA, windowB;
    FakeHost hostA, hostB;
    FakeIdentity identityA, identityB;
    std::unique_ptr<LoopbackLink> a, b;
    std::vector<BYTE> pendingA, pendingB;
    LONG lastA = 1, lastB = 1;
};

// Trace lines of the link, captured while a TraceCapture lives (or while
// `collect` is the link's trace sink).
inline std::vector<std::string>& traces() {
    static std::vector<std::string> lines;
    return lines;
}
inline void collect(unsigned, const char* line) { traces().push_back(line); }
// How many captured lines hold `text`.
inline int tracesHolding(const std::string& text) {
    int n = 0;
    for (const auto& line : traces()) n += line.find(text) != std::string::npos;
    return n;
}
struct TraceCapture {
    TraceCapture() {
        traces().clear();
        previous = setLinkTraceSink(collect);
    }
    ~TraceCapture() { setLinkTraceSink(previous); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    LinkTraceSink previous;
};

}  // namespace linktest
