// Fuzzes what a peer can put in a token bucket: the hello and site-info parsers
// directly, then the whole token dispatch of a link object, which answers
// hellos, records site info and posts notices.

#include "trennick/link/common_base.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/station_info.h"
#include "trennick/link/testing/sink_transport.h"

#include <cstring>
#include <string>
#include <vector>

using namespace trennick;

namespace {

class SinkLink : public CPacketConnection {
public:
    explicit SinkLink(const LinkServices& services)
        : CPacketConnection(services, makeSinkTransport()), line(static_cast<SinkTransport&>(Transport())) {}
    void dispatch(const BYTE* payload, DWORD length) { CheckAcknowledgment(payload, length); }
    SinkTransport& line;
};

}  // namespace

// The fuzzer cannot guess a checksum: the first byte's bits ask for the input
// to be given a valid one (and a valid length field), so the parsers' paths
// behind the checks are reached too.
std::vector<BYTE> withValidSums(const uint8_t* data, size_t size) {
    std::vector<BYTE> bytes(data + 1, data + size);
    const BYTE mode = data[0];
    // Short inputs may ask to be repeated up to the size of a whole hello.
    if ((mode & 0x10) != 0 && !bytes.empty()) {
        const std::size_t seedBytes = bytes.size();
        while (bytes.size() < 4u + kOldStationInfoBytes + 8) {
            bytes.push_back(bytes[bytes.size() % seedBytes]);
        }
    }
    if ((mode & 0x02) != 0) {
        const WORD blockBytes = (mode & 0x04) ? kOldStationInfoBytes : kStationInfoBytes;
        if (bytes.size() >= 4u + blockBytes) {
            std::memcpy(bytes.data() + 4, &blockBytes, sizeof blockBytes);
            const LONG sum = WireChecksum({bytes.data() + 4, blockBytes});
            std::memcpy(bytes.data(), &sum, sizeof sum);
        }
    } else if ((mode & 0x08) != 0 && bytes.size() >= 6u + kSiteInfoBytes) {
        const WORD blockBytes = kSiteInfoBytes;
        std::memcpy(bytes.data() + 4, &blockBytes, sizeof blockBytes);
        const LONG sum = WireChecksum({bytes.data() + 6, kSiteInfoBytes});
        std::memcpy(bytes.data(), &sum, sizeof sum);
    }
    return bytes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t rawSize) {
    if (rawSize < 2) {
        return 0;
    }
    const BYTE mode = raw[0];
    const std::vector<BYTE> input = withValidSums(raw, rawSize);
    const BYTE* data = input.data();
    const size_t size = input.size();
    const HelloParse hello = parseHelloBody(data, static_cast<DWORD>(size));
    if (hello.form != HelloForm::Invalid &&
        (strnlen(hello.block.title, sizeof hello.block.title) == sizeof hello.block.title ||
         strnlen(hello.block.versionText, sizeof hello.block.versionText) == sizeof hello.block.versionText)) {
        __builtin_trap();  // texts must end within their fields
    }
    const SiteInfoParse site = parseSiteInfoBody(data, static_cast<DWORD>(size));
    if (site.result == SiteInfoResult::Ok && strnlen(site.block.siteName, sizeof site.block.siteName) == 256) {
        __builtin_trap();
    }

    static LinkSettings settings;
    SinkLink link({nullptr, nullptr, nullptr, [] { return DWORD{123456}; }, settings, 8192, {}});
    link.line.outgoing = (mode & 1) != 0;
    // As a hello, as site info, and as whatever tokens the input holds.
    for (const char* token : {"<HELLO V1.2>", "<SiteInfo>", ""}) {
        std::vector<BYTE> payload(token, token + std::strlen(token));
        payload.insert(payload.end(), data, data + size);
        link.dispatch(payload.data(), static_cast<DWORD>(payload.size()));
    }
    return 0;
}
