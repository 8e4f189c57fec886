// Fuzzes what a peer can put in a token bucket: the hello and site-info parsers
// directly, then the whole token dispatch of a link object, which answers
// hellos, records site info and posts notices.

#include "trennick/link/packet_connection.h"
#include "trennick/link/station_info.h"

#include <cstring>
#include <string>
#include <vector>

using namespace trennick;

namespace {

class SinkLink : public CPacketConnection {
public:
    using CPacketConnection::CPacketConnection;
    LONG ConnectWrite(const BYTE*, DWORD length, LONG, LONG) override { return static_cast<LONG>(length); }
    BOOL IsOutgoingCall() override { return outgoing; }
    void dispatch(const BYTE* payload, DWORD length) { CheckAcknowledgment(payload, length); }
    BOOL outgoing = FALSE;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
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
    SinkLink link({nullptr, nullptr, nullptr, [] { return DWORD{123456}; }, settings, 8192});
    link.outgoing = data[0] & 1;
    // As a hello, as site info, and as whatever tokens the input holds.
    for (const char* token : {"<HELLO V1.2>", "<SiteInfo>", ""}) {
        std::vector<BYTE> payload(token, token + std::strlen(token));
        payload.insert(payload.end(), data, data + size);
        link.dispatch(payload.data(), static_cast<DWORD>(payload.size()));
    }
    return 0;
}
