// Writes the seed corpus of every fuzz target: valid inputs built with the
// system's own writers and builders (buckets of every kind, hellos in both
// layouts, site info, the services' requests, event files and lists, stills,
// video pictures), each with the leading control bytes its target reads.
//   usage: fuzz-seeds <folder>      (one sub-folder per target)
// The corpus is kept in the repository (fuzz-seeds/); run this again when a
// format changes.

#include "kcexpand/testing/ffmpeg_streams.h"
#include "platform/folders.h"
#include "qel/qel.h"
#include "tavicore/event_file.h"
#include "trennick/link/bucket.h"
#include "trennick/link/cards.h"
#include "trennick/link/event_requests.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/serial_out_command.h"
#include "trennick/link/station_info.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

using namespace trennick;
namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;

namespace {

fs::path g_out;

void put(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path folder = g_out / target;
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                           std::streamsize(bytes.size()));
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes token(WORD id) { return text(tokenText(id)); }

void appendLe16(Bytes& out, WORD v) {
    out.push_back(BYTE(v & 0xFF));
    out.push_back(BYTE(v >> 8));
}

Bytes withoutToken(const Bytes& payload, WORD id) {
    return Bytes(payload.begin() + std::ptrdiff_t(tokenText(id).size()), payload.end());
}

StationInfoBlock peerStation() {
    StationInfoBlock peer{};
    peer.length = kStationInfoBytes;
    peer.protocolNumber = kOwnProtocolNumber;
    peer.capabilities = kCapNewLayout;
    std::strcpy(peer.title, "Velmoor");
    std::strcpy(peer.versionText, "1.0");
    return peer;
}

SiteInfoBlock site() {
    SiteInfoBlock s{};
    std::strcpy(s.guid, "{5A1E0000-0000-4000-8000-00000000A1A1}");
    std::strcpy(s.siteName, "North Gate");
    std::strcpy(s.sitePhone, "555-0100");
    return s;
}

// One record of a hardware-profile list: an adapter (kind 2) or a camera (7).
Bytes profileRecord(WORD kind, WORD adapter, WORD index, const std::string& name) {
    Bytes fields;
    if (kind == 7) appendLe16(fields, 0);
    Bytes label(30, 0);
    std::memcpy(label.data(), name.data(), name.size());
    fields.insert(fields.end(), label.begin(), label.end());
    Bytes r;
    appendLe16(r, WORD(8 + fields.size()));
    appendLe16(r, kind);
    appendLe16(r, adapter);
    appendLe16(r, index);
    r.insert(r.end(), fields.begin(), fields.end());
    return r;
}

Bytes profileList() { return join({profileRecord(2, 0, 0, "Yard"), profileRecord(7, 0, 0, "Gate cam")}); }

Bytes triggerRecord(WORD type, WORD adapter, WORD input, WORD value) {
    Bytes r;
    for (WORD v : {WORD(12), type, adapter, input, value, WORD(0)}) appendLe16(r, v);
    return r;
}

Bytes serialOutWrite() {
    CSerialOutCommand command;
    WORD length = 0;
    const BYTE data[] = {'A', 'T', 0x01, 0x0D};
    command.BuildSerialOutDataWrite(1, TRUE, 0, 0, data, sizeof data, length);
    return Bytes(command.Message(), command.Message() + length);
}

Bytes serialOutConfig() {
    CSerialOutCommand command;
    WORD length = 0;
    command.BuildSetSerialOutConfig(1, 2, 9600, 8, 0, 0, length);
    return Bytes(command.Message(), command.Message() + length);
}

Bytes card() {
    tagBusinessCard c{};
    std::strcpy(c.name, "Night desk");
    std::strcpy(c.text2, "555-0199");
    std::strcpy(c.text3, "Monitoring centre");
    return buildCardBody(c);
}

// A small event file written by the event file writer, and its bytes.
Bytes eventFile(const tagEventHeader& key, int frames, std::string& pathOut) {
    tagEventHeader header = key;
    CEventFile file(1, &header, static_cast<char*>(nullptr), "");
    for (int i = 0; i < frames; ++i) {
        Bytes frame(40 + i * 23);
        for (std::size_t k = 0; k < frame.size(); ++k) frame[k] = BYTE(i * 31 + k * 7);
        tagEventSnapshot snap{};
        std::memcpy(snap.chMagic, i < 2 ? "LPRE" : "LUMA", 4);
        snap.dwSize = DWORD(frame.size());
        file.AddSnapShot(&snap, nullptr, frame.data(), 0);
    }
    char path[MAX_PATH] = {};
    file.evGetFileName(path, sizeof path);
    file.CloseEvent(1);
    pathOut = path;
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

tagEventHeader eventKey(DWORD type, WORD camera, DWORD number) {
    tagEventHeader h{};
    h.dwType = type;
    h.wCamera = camera;
    h.dwEventNumber = number;
    return h;
}

// A 64 x 64 colour picture compressed by the stills library.
Bytes still(int quality) {
    constexpr int kSide = 64;
    Bytes source(sizeof(BITMAPINFOHEADER) + kSide * kSide * 3);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(source.data());
    header->biSize = 40;
    header->biWidth = kSide;
    header->biHeight = kSide;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biSizeImage = kSide * kSide * 3;
    for (int i = 0; i < kSide * kSide * 3; ++i) source[sizeof(BITMAPINFOHEADER) + i] = BYTE((i * 5) ^ (i / 192));
    Bytes target(sizeof(BITMAPINFOHEADER) + kSide * kSide * 3);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(target.data());
    *out = *header;
    char* error = nullptr;
    if (QEL_Compress(header, out, &error, quality) != 1) return {};
    return Bytes(target.begin() + sizeof(BITMAPINFOHEADER),
                 target.begin() + std::ptrdiff_t(sizeof(BITMAPINFOHEADER) + out->biSizeImage));
}

// A block packet of the block-transform stream.
Bytes blockPacket(BYTE flags, BYTE quant, BYTE w, BYTE h, int first, int count, const Bytes& payload) {
    const int length = int(payload.size()) + 11;
    Bytes p = {1, BYTE(length >> 8), BYTE(length), flags, quant, w, h, BYTE(first >> 8), BYTE(first),
               BYTE(count >> 8), BYTE(count)};
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

// Wire bytes of buckets as a peer of protocol number `protocol` sends them.
Bytes wire(std::initializer_list<std::pair<WORD, Bytes>> buckets, LONG protocol) {
    Bytes out;
    WORD number = 1;
    for (const auto& [kind, payload] : buckets) {
        Bytes one(payload.size() + 64);
        const DWORD n = buildBucket(one, kind, payload.data(), DWORD(payload.size()), protocol, number++,
                                    kNominalBucketBuffLen);
        out.insert(out.end(), one.begin(), one.begin() + n);
    }
    return out;
}

// A record of the program link target: kind index, 16-bit length, payload.
Bytes record(BYTE kindIndex, const Bytes& payload) {
    Bytes r{kindIndex};
    appendLe16(r, WORD(payload.size()));
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}

// Video: pictures of the standard streams, and block packets; false when the
// streams could not be encoded.
bool putVideoSeeds(const fs::path& scratch) {
    const Bytes h263 = kcexpand::testing::encodeStream(scratch / "streams", "h263", "qcif", 8, 3);
    const Bytes h261 = kcexpand::testing::encodeStream(scratch / "streams", "h261", "qcif", 8, 3);
    if (h263.empty() || h261.empty()) {
        std::fprintf(stderr, "fuzz-seeds: the ffmpeg program did not encode the video streams\n");
        return false;
    }
    put("fuzz_ranvic_collector", "h263-qcif", join({{0x01, 0x00}, h263}));
    put("fuzz_ranvic_collector", "h263-small-chunks", join({{0x00, 0x07}, h263}));
    int index = 0;
    for (const Bytes& picture : kcexpand::testing::splitPictures(h263, false)) {
        put("fuzz_kcexpand_h263", "picture-" + std::to_string(index++), join({{0x00}, picture}));
    }
    index = 0;
    for (const Bytes& picture : kcexpand::testing::splitPictures(h261, true)) {
        put("fuzz_kcexpand_h261", "picture-" + std::to_string(index++), join({{0x00}, picture}));
    }
    Bytes raw;
    for (int b = 0; b < 4; ++b) raw.insert(raw.end(), 64, BYTE(10 + b * 40));
    put("fuzz_kcexpand_block", "raw-contiguous", join({{0x00}, blockPacket(8 | 1 | 2 | 4, 1, 4, 4, 0, 4, raw)}));
    // Coded DC-only blocks of a 2 x 2 colour picture: "01" + an 8-bit DC each.
    Bytes coded;
    unsigned bits = 0, used = 0;
    for (int dc : {128, 200, 60, 90, 100, 170}) {
        bits = (bits << 10) | (0b01u << 8) | unsigned(dc);
        used += 10;
        while (used >= 8) {
            coded.push_back(BYTE(bits >> (used - 8)));
            used -= 8;
        }
    }
    if (used > 0) coded.push_back(BYTE(bits << (8 - used)));
    put("fuzz_kcexpand_block", "coded-colour", join({{0x00}, blockPacket(4, 2, 2, 2, 0, 6, coded)}));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz-seeds <folder>\n");
        return 2;
    }
    g_out = fs::absolute(argv[1]);
    const fs::path scratch = fs::temp_directory_path() / ("fuzz-seeds-" + std::to_string(::getpid()));
    fs::create_directories(scratch / "storage");
    evSetEventsStorageRoot((scratch / "storage").c_str());

    const Bytes helloNew = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), peerStation(), true);
    const Bytes helloOld = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), peerStation(), false);
    const Bytes siteInfo = buildSiteInfoPayload(tokenText(ID_DSVD_SITEINFO), site());
    const Bytes profile = buildGuardedPayload(tokenText(ID_DSVD_HWPROFILE_V1_2), profileList().data(),
                                              DWORD(profileList().size()));
    const Bytes announcement = buildAnnouncement(announcementToken(0, true), "report.txt", 1234, 0x01D00000'00000000ULL);
    tagEventHeader requested = eventKey(EVENT_TYPE_AUTOMATIC, 1, 3);
    const Bytes listRequest = join({token(ID_DSVD_REFRESHDEBRIEF), buildEventListRequest({EVENT_TYPE_AUTOMATIC, 0, 1}, 2)});
    const Bytes fileRequest = join({token(ID_DSVD_GETEVNTFILE), buildEventFileRequest(requested)});

    // Bucket decoding: [peer protocol][split] + wire bytes.
    put("fuzz_link_buckets", "hello", join({{0, 7}, wire({{kTokenBucket, helloNew}}, 0)}));
    put("fuzz_link_buckets", "guarded-protocol2",
        join({{2, 40}, wire({{kTokenBucket, siteInfo}, {kSerialOutBucket, serialOutWrite()}, {kVideoBucket11, Bytes(300, 0x5A)}}, 2)}));
    put("fuzz_link_buckets", "every-kind",
        join({{1, 99}, wire({{kTokenBucket, token(ID_DSVD_OKHELLO)}, {kFileBlockBucket, Bytes(200, 0x33)},
                             {kVideoBucket, Bytes(64, 1)}, {kChatBucket, text("good evening")},
                             {kVideoKeyBucket, Bytes(64, 2)}, {kAudioBucket, Bytes(48, 3)},
                             {kSerialOutBucket, serialOutConfig()}, {kVideoBucket10, Bytes(64, 4)}},
                            1)}));

    // Hello and site info: [mode] + the bytes behind the token.
    put("fuzz_link_hello", "hello-new-layout", join({{0}, withoutToken(helloNew, ID_DSVD_HELLO_V1_2)}));
    put("fuzz_link_hello", "hello-old-layout", join({{1}, withoutToken(helloOld, ID_DSVD_HELLO_V1_2)}));
    put("fuzz_link_hello", "site-info", join({{0}, withoutToken(siteInfo, ID_DSVD_SITEINFO)}));

    // The services' parsers: [parser] + body.
    put("fuzz_link_services", "announcement", join({{0}, withoutToken(announcement, announcementToken(0, true))}));
    put("fuzz_link_services", "event-list-request", join({{1}, buildEventListRequest({EVENT_TYPE_AUTOMATIC, 0, 1}, 1)}));
    put("fuzz_link_services", "event-file-request", join({{1}, buildEventFileRequest(requested)}));
    put("fuzz_link_services", "card", join({{2}, card()}));
    put("fuzz_link_services", "notification", join({{3}, text("<1><2><0>")}));
    put("fuzz_link_services", "guarded", join({{4}, profile}));
    put("fuzz_link_services", "triggers", join({{5}, triggerRecord(1, 1, 3, 5), triggerRecord(2, 0, 0, 9)}));
    put("fuzz_link_services", "hw-profiles", join({{6}, profileList()}));
    put("fuzz_link_services", "serial-out", join({{7}, serialOutWrite()}));
    put("fuzz_link_services", "escaped", join({{8}, text("a\x01" "b\x02" "c"), Bytes{0x01, 0x01, 0x00}}));

    // The link in the program: greet, then records of kind, length, payload
    // (kinds: 0 token, 1 file block, 2 video, 3 chat, 4 key video, 5 audio,
    // 6 serial-out, 7 and 8 the later video kinds).
    put("fuzz_link_program", "identity",
        join({{1}, record(0, siteInfo), record(0, profile), record(0, join({token(ID_DSVD_MY_CARD), card()}))}));
    put("fuzz_link_program", "requests",
        join({{1}, record(0, text("<NOTIFYRPC><1><2><0>")), record(0, text("<LumoraRPC><2><0><3><1>")),
              record(0, listRequest), record(0, fileRequest)}));
    put("fuzz_link_program", "chat-and-serial",
        join({{1}, record(3, text("good evening")), record(6, serialOutWrite()), record(5, Bytes(48, 7))}));
    put("fuzz_link_program", "file-announced",
        join({{1}, record(0, announcement), record(1, Bytes(300, 0x41)), record(0, token(ID_DSVD_FCRC)),
              record(0, token(ID_DSVD_FINISHSENDING))}));
    put("fuzz_link_program", "disconnect", join({{1}, record(0, token(ID_DSVD_DISCONNECT))}));
    put("fuzz_link_program", "raw-wire", join({{3}, wire({{kTokenBucket, siteInfo}, {kChatBucket, text("hi")}}, 2)}));

    // Event files and lists, as the writer makes them.
    std::string path;
    const Bytes closedEvent = eventFile(eventKey(EVENT_TYPE_AUTOMATIC, 1, 3), 6, path);
    const Bytes otherEvent = eventFile(eventKey(EVENT_TYPE_AUTOMATIC, 1, 4), 2, path);
    put("event_file_fuzz", "closed-event", join({{0}, closedEvent}));
    put("event_file_fuzz", "two-frames", join({{0}, otherEvent}));
    tagEventDirListCamera list{};
    list.dwType = EVENT_TYPE_AUTOMATIC;
    BYTE head[kEventDirListRecordSize];
    CEventFile::evListRecordToBytes(&list, head);
    const Bytes headers = join({Bytes(closedEvent.begin(), closedEvent.begin() + kEventHeaderSize),
                                Bytes(otherEvent.begin(), otherEvent.begin() + kEventHeaderSize)});
    put("event_list_fuzz", "list-file", join({{2}, Bytes(head, head + sizeof head), headers}));
    put("event_list_fuzz", "list-short-head", join({{1}, Bytes(head, head + 64), headers}));

    // Stills.
    put("fuzz_qel_stills", "still-q75", still(75));
    put("fuzz_qel_stills", "still-q20", still(20));

    if (!putVideoSeeds(scratch)) {
        return 1;
    }

    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    std::printf("fuzz-seeds: written under %s\n", g_out.c_str());
    return 0;
}
