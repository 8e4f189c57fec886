#include "trennick/link/station_info.h"

#include "trennick/link/common_base.h"

#include <algorithm>
#include <cstring>

namespace trennick {

OldStationInfoBlock toOldLayout(const StationInfoBlock& block) {
    OldStationInfoBlock old{};
    old.length = kOldStationInfoBytes;
    std::memcpy(old.title, block.title, sizeof old.title);
    std::memcpy(old.versionText, block.versionText, sizeof old.versionText);
    old.protocolNumber = block.protocolNumber;
    old.versionNumber = block.versionNumber;
    std::memcpy(old.userRecord, block.userRecord, sizeof old.userRecord);
    std::memcpy(old.stationData, block.stationData, sizeof old.stationData);
    old.stationByte = block.stationByte;
    old.capabilities = block.capabilities;
    return old;
}

StationInfoBlock fromOldLayout(const OldStationInfoBlock& old) {
    StationInfoBlock block{};
    block.length = kStationInfoBytes;
    std::memcpy(block.title, old.title, sizeof block.title);
    std::memcpy(block.versionText, old.versionText, sizeof block.versionText);
    block.protocolNumber = old.protocolNumber;
    block.versionNumber = old.versionNumber;
    std::memcpy(block.stationData, old.stationData, sizeof block.stationData);
    block.stationByte = old.stationByte;
    block.capabilities = old.capabilities;
    return block;
}

void terminateTexts(StationInfoBlock& block) {
    block.title[sizeof block.title - 1] = 0;
    block.versionText[sizeof block.versionText - 1] = 0;
}

void terminateTexts(SiteInfoBlock& block) {
    block.guid[sizeof block.guid - 1] = 0;
    block.siteName[sizeof block.siteName - 1] = 0;
    block.sitePhone[sizeof block.sitePhone - 1] = 0;
}

namespace {

void appendBytes(std::vector<BYTE>& out, const void* data, std::size_t length) {
    const auto* p = static_cast<const BYTE*>(data);
    out.insert(out.end(), p, p + length);
}

LONG readLong(const BYTE* p) {
    LONG value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

}  // namespace

std::vector<BYTE> buildHelloPayload(std::string_view token, const StationInfoBlock& block,
                                    bool newLayout) {
    std::vector<BYTE> out;
    appendBytes(out, token.data(), token.size());
    if (newLayout) {
        const LONG sum = WireChecksum({reinterpret_cast<const BYTE*>(&block), sizeof block});
        appendBytes(out, &sum, sizeof sum);
        appendBytes(out, &block, sizeof block);
    } else {
        const OldStationInfoBlock old = toOldLayout(block);
        const LONG sum = WireChecksum({reinterpret_cast<const BYTE*>(&old), sizeof old});
        appendBytes(out, &sum, sizeof sum);
        appendBytes(out, &old, sizeof old);
    }
    return out;
}

HelloParse parseHelloBody(const BYTE* body, DWORD length) {
    HelloParse parse;
    if (body == nullptr || length < 4) {
        return parse;
    }
    parse.readChecksum = readLong(body);
    const BYTE* block = body + 4;
    const DWORD blockBytes = length - 4;
    if (blockBytes >= kStationInfoBytes) {
        parse.calcChecksum = WireChecksum({block, kStationInfoBytes});
        StationInfoBlock candidate;
        std::memcpy(&candidate, block, sizeof candidate);
        if (parse.calcChecksum == parse.readChecksum && candidate.length == kStationInfoBytes) {
            parse.block = candidate;
            terminateTexts(parse.block);
            parse.form = HelloForm::NewLayout;
            return parse;
        }
    }
    if (blockBytes >= kOldStationInfoBytes &&
        WireChecksum({block, kOldStationInfoBytes}) == parse.readChecksum) {
        OldStationInfoBlock old;
        std::memcpy(&old, block, sizeof old);
        if (old.length == kOldStationInfoBytes) {
            old.title[sizeof old.title - 1] = 0;
            old.versionText[sizeof old.versionText - 1] = 0;
            parse.oldBlock = old;
            parse.block = fromOldLayout(old);
            terminateTexts(parse.block);
            parse.form = HelloForm::OldLayout;
        }
    }
    return parse;
}

std::vector<BYTE> buildSiteInfoPayload(std::string_view token, const SiteInfoBlock& block) {
    std::vector<BYTE> out;
    appendBytes(out, token.data(), token.size());
    const LONG sum = WireChecksum({reinterpret_cast<const BYTE*>(&block), sizeof block});
    appendBytes(out, &sum, sizeof sum);
    const WORD length = kSiteInfoBytes;
    appendBytes(out, &length, sizeof length);
    appendBytes(out, &block, sizeof block);
    return out;
}

SiteInfoParse parseSiteInfoBody(const BYTE* body, DWORD length) {
    SiteInfoParse parse;
    if (body == nullptr || length < 6) {
        return parse;
    }
    parse.readChecksum = readLong(body);
    WORD blockLength;
    std::memcpy(&blockLength, body + 4, sizeof blockLength);
    // The stated length must be the block's and the bytes must really be there.
    if (blockLength != kSiteInfoBytes || length - 6 < kSiteInfoBytes) {
        parse.result = SiteInfoResult::BadLength;
        return parse;
    }
    parse.calcChecksum = WireChecksum({body + 6, kSiteInfoBytes});
    if (parse.calcChecksum != parse.readChecksum) {
        parse.result = SiteInfoResult::BadChecksum;
        return parse;
    }
    std::memcpy(&parse.block, body + 6, sizeof parse.block);
    terminateTexts(parse.block);
    parse.result = SiteInfoResult::Ok;
    return parse;
}

}  // namespace trennick
