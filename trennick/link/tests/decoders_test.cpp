// The decoders of lists a peer sends (trigger list, hardware-profile list)
// and the serial-out command builders and parser, against tables of good and
// malformed input.

#include "trennick/link/hw_profile_list.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/link_trace.h"
#include "trennick/link/serial_out_command.h"
#include "trennick/link/trigger_list.h"
#include "trennick/link/testing/link_fakes.h"

#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace trennick;
using namespace linktest;


// ---- trigger list ----

std::vector<BYTE> triggerRecord(WORD length, WORD type, WORD adapter, WORD input, WORD value) {
    std::vector<BYTE> r;
    appendLe16(r, length);
    appendLe16(r, type);
    appendLe16(r, adapter);
    appendLe16(r, input);
    appendLe16(r, value);
    appendLe16(r, 0);
    r.resize(length < r.size() ? r.size() : length);
    return r;
}

std::vector<BYTE> join(std::initializer_list<std::vector<BYTE>> parts) {
    std::vector<BYTE> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<BYTE> cut(std::vector<BYTE> bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

WORD word(const tagTrigger& t, int index) { return reinterpret_cast<const WORD*>(&t)[index]; }

TEST(CTRiggerList, AppliesKnownRecordsAndSkipsTheRest) {
    struct Case {
        const char* what;
        std::vector<BYTE> list;
        BOOL flag;
        std::vector<std::pair<int, WORD>> words;  // expected non-zero words
        bool tableCopied;
        int unsupported;
    };
    const Case cases[] = {
        {"one trigger", triggerRecord(12, 1, 1, 3, 5), FALSE, {{38, 5}, {39, 5}}, true, 0},
        {"flag makes it 1", triggerRecord(12, 1, 1, 3, 5), TRUE, {{38, 1}, {39, 1}}, true, 0},
        {"type 2 then type 1", join({triggerRecord(12, 2, 0, 0, 9), triggerRecord(12, 1, 5, 15, 2)}), FALSE,
         {{5 * 32 + 30, 2}, {5 * 32 + 31, 2}}, true, 1},
        {"empty list", {}, FALSE, {}, false, 0},
        {"adapter 6 skipped", triggerRecord(12, 1, 6, 0, 1), FALSE, {}, false, 0},
        {"input 16 skipped", triggerRecord(12, 1, 0, 16, 1), FALSE, {}, false, 0},
        {"short trigger skipped", triggerRecord(8, 1, 0, 0, 1), FALSE, {}, false, 0},
        {"length below 4 ends", join({triggerRecord(2, 1, 0, 0, 1), triggerRecord(12, 1, 0, 1, 1)}), FALSE, {}, false, 0},
        {"runs past the end", cut(triggerRecord(40, 1, 0, 0, 1), 20), FALSE, {}, false, 0},
        {"three stray bytes", {1, 2, 3}, FALSE, {}, false, 0},
        {"longer record read by its first 12 bytes", triggerRecord(20, 1, 2, 0, 7), FALSE, {{64, 7}, {65, 7}}, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TraceCapture capture;
        CTRiggerList list;
        tagTrigger out;
        std::memset(&out, 0xEE, sizeof out);
        EXPECT_TRUE(list.DispatchTriggerList(c.list.data(), static_cast<DWORD>(c.list.size()), &out, c.flag));
        if (!c.tableCopied) {
            EXPECT_EQ(word(out, 0), 0xEEEE);  // the caller's table untouched
            continue;
        }
        for (int i = 0; i < 192; ++i) {
            WORD expected = 0;
            for (const auto& [index, value] : c.words) {
                if (index == i) expected = value;
            }
            EXPECT_EQ(word(out, i), expected) << "word " << i;
        }
        EXPECT_EQ(tracesHolding("Record of Type 2 not supported"), c.unsupported);
    }
}

// ---- hardware-profile list ----

std::vector<BYTE> device(WORD kind, WORD adapter, WORD index, std::vector<BYTE> fields, WORD length = 0) {
    std::vector<BYTE> r;
    appendLe16(r, 0);
    appendLe16(r, kind);
    appendLe16(r, adapter);
    appendLe16(r, index);
    r.insert(r.end(), fields.begin(), fields.end());
    const WORD size = length != 0 ? length : static_cast<WORD>(r.size());
    r[0] = static_cast<BYTE>(size & 0xFF);
    r[1] = static_cast<BYTE>(size >> 8);
    return r;
}

std::vector<BYTE> name30(const std::string& text) {
    std::vector<BYTE> field(30, 0);
    std::memcpy(field.data(), text.data(), std::min<std::size_t>(text.size(), 30));
    return field;
}

std::vector<BYTE> fields(std::initializer_list<std::vector<BYTE>> parts) { return join(parts); }
std::vector<BYTE> u16(WORD v) {
    std::vector<BYTE> r;
    appendLe16(r, v);
    return r;
}
std::vector<BYTE> u32(DWORD v) {
    std::vector<BYTE> r;
    appendLe32(r, v);
    return r;
}

class HWProfileListTest : public ::testing::Test {
protected:
    tagHWProfile decode(const std::vector<BYTE>& list) {
        tagHWProfile profile;
        std::memset(&profile, 0xAB, sizeof profile);
        CHWProfileList decoder([this](const SiteInfoBlock& site) {
            sites.push_back(site);
            return true;
        });
        EXPECT_EQ(decoder.DispatchHWProfileList(list.data(), static_cast<LONG>(list.size()), &profile), 1);
        return profile;
    }
    std::vector<SiteInfoBlock> sites;
};

TEST_F(HWProfileListTest, FillsTheProfileFromEachKind) {
    const std::string thirty(30, 'N');
    const auto list = join({
        device(1, 0, 0, fields({u16(3), u16(1), name30("Harbour Site")})),
        device(2, 0, 0, fields({name30("Front")})),
        device(2, 1, 0, fields({name30(thirty)})),
        device(3, 1, 0, {4, 0, 1, 2, 0, 10, 20, 30, 40, 0, 0, 0}),
        device(7, 1, 2, fields({u16(0), name30(thirty)})),
        device(7, 1, 0, fields({u16(1), name30("Quad A")})),
        device(8, 1, 3, fields({{2, 1, 0, 7}, name30("Gate")})),
        device(8, 1, 4, fields({{0, 0, 0, 0}, name30(thirty)})),
        device(8, 1, 5, fields({{0, 0, 0, 0}, name30("Door")})),
        device(9, 0, 0, {1, 2, 3, 4}),
        device(10, 0, 0, {}),
        device(12, 1, 0, fields({u16(8), u32(500000)})),
        device(13, 1, 0, fields({u16(2), u16(3), u16(4), u32(19200), u16(1), u16(7), u16(2), u16(9), name30("Pelco-D"), u32(0)})),
        device(15, 1, 0, {0, 0}),
        device(15, 1, 1, {0, 0}),
        device(17, 0, 0, fields({name30("Site Name"), name30("555 0199"), std::vector<BYTE>(64, 0)})),
        device(18, 0, 0, {1, 6}),
        device(19, 1, 0, fields({u32(0x3), u32(0)})),
        device(4, 0, 0, {1, 2}),
    });
    TraceCapture capture;
    const tagHWProfile p = decode(list);
    EXPECT_EQ(+p.version, 3);
    EXPECT_EQ(+p.currentAdapter, 1);
    EXPECT_STREQ(p.siteName, "Harbour Site");
    EXPECT_EQ(+p.adaptersNumber, 2);
    EXPECT_STREQ(p.adapters[0].name, "Front");
    EXPECT_EQ(std::string(p.adapters[1].name, 30), thirty);  // 30 bytes, no terminator
    const tagAdapterBlock& a = p.adapters[1];
    EXPECT_EQ(+a.selectedInput, 4);
    EXPECT_EQ(+a.videoStandard, 1);
    EXPECT_EQ(+a.brightness, 10);
    EXPECT_EQ(+a.contrast, 20);
    EXPECT_EQ(+a.hue, 30);
    EXPECT_EQ(+a.saturation, 40);
    EXPECT_EQ(+a.camerasNumber, 1);  // the quad input is not a camera
    EXPECT_EQ(std::string(a.cameras[2].name), std::string(29, 'N'));
    EXPECT_EQ(+a.cameras[2].popupAlarm, 1u);
    EXPECT_EQ(+a.cameras[2].captureSnapshots, 1u);
    EXPECT_EQ(+a.cameras[0].name[0], 0);
    EXPECT_EQ(+a.relaysNumber, 3);
    EXPECT_STREQ(a.relays[3].name, "Gate");
    EXPECT_EQ(+a.relays[3].type, 2);
    EXPECT_EQ(+a.relays[3].state, 1);
    EXPECT_EQ(+a.relays[3].status, 7u);
    EXPECT_EQ(std::string(a.relays[4].name, 30), thirty);
    const tagAdapterDeviceData d = readDeviceData(a);
    EXPECT_EQ(+d.quadInputCount, 1);
    EXPECT_STREQ(d.quadInputs[0], "Quad A");
    EXPECT_EQ(+d.maxUsers, 8);
    EXPECT_EQ(+d.maxFrames, 500000u);
    EXPECT_EQ(+d.serialOut.portId, 2);
    EXPECT_EQ(+d.serialOut.baudRate, 19200u);
    EXPECT_EQ(+d.serialOut.stopBits, 2);
    EXPECT_EQ(+d.serialOut.furtherSetting, 9);
    EXPECT_STREQ(d.serialOut.protocolName, "Pelco-D");
    EXPECT_EQ(+d.keyLockCount, 2);
    EXPECT_EQ(+d.swCapability, 1u);
    EXPECT_EQ(+p.reasonForCall, 6);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_STREQ(sites[0].siteName, "Site Name");
    EXPECT_STREQ(sites[0].sitePhone, "555 0199");
    EXPECT_EQ(tracesHolding("Record of Type 9 not supported"), 1);
    EXPECT_EQ(tracesHolding("Record of Type 10 not supported"), 1);
    // Everything the records do not name stays zero.
    EXPECT_EQ(+p.adapters[2].name[0], 0);
    EXPECT_EQ(+p.jpegQuality, 0);
}

TEST_F(HWProfileListTest, MalformedRecordsNeverReachOutsideTheProfile) {
    struct Case {
        const char* what;
        std::vector<BYTE> list;
        WORD adapters;      // adapter count after decoding
        WORD relaysOf0;     // relays of adapter 0
    };
    const auto adapter = device(2, 0, 0, fields({name30("A")}));
    const auto relay = device(8, 0, 1, fields({{0, 0, 0, 0}, name30("R")}));
    const Case cases[] = {
        {"empty", {}, 0, 0},
        {"second record of length 0 ends", join({adapter, {0, 0, 2, 0, 0, 0, 0, 0}, adapter}), 1, 0},
        {"adapter 6", device(2, 6, 0, fields({name30("X")})), 0, 0},
        {"adapter 65535", device(8, 0xFFFF, 1, fields({{0, 0, 0, 0}, name30("R")})), 0, 0},
        {"relay slot 16", device(8, 0, 16, fields({{0, 0, 0, 0}, name30("R")})), 0, 0},
        {"camera slot 16", device(7, 0, 16, fields({u16(0), name30("C")})), 0, 0},
        {"longer than its kind's buffer", join({device(2, 0, 0, fields({name30("A"), std::vector<BYTE>(20, 0)})), relay}), 0, 1},
        {"shorter than a header", join({cut(device(2, 0, 0, {}, 6), 6), relay}), 0, 1},
        {"runs past the list", cut(adapter, 20), 0, 0},
        {"two stray bytes", {7, 0}, 0, 0},
        {"seven adapter records keep the count at 6",
         join({adapter, adapter, adapter, adapter, adapter, adapter, adapter}), 6, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const tagHWProfile p = decode(c.list);
        EXPECT_EQ(+p.adaptersNumber, c.adapters);
        EXPECT_EQ(+p.adapters[0].relaysNumber, c.relaysOf0);
    }
    tagHWProfile profile;
    CHWProfileList decoder;
    const auto list = adapter;
    EXPECT_EQ(decoder.DispatchHWProfileList(list.data(), -5, &profile), 1);
    EXPECT_EQ(+profile.adaptersNumber, 0);
    // Without a main window the site information goes nowhere.
    const auto site = device(17, 0, 0, std::vector<BYTE>(124, 0));
    EXPECT_EQ(decoder.DispatchDeviceSiteInfo(site.data(), &profile), 0);
}

// ---- serial-out commands ----

std::string text(const CSerialOutCommand& c, WORD length) {
    return std::string(reinterpret_cast<const char*>(c.Message()), length);
}

TEST(CSerialOutCommand, BuildersWriteTheirTokensInOrder) {
    CSerialOutCommand c;
    WORD n = 0;
    ASSERT_TRUE(c.BuildSetSerialOutConfig(1, 2, 19200, 7, 2, 1, n));
    EXPECT_EQ(text(c, n), "<INIT>< 1><DEFAULT><RAW><TXRX><19200><7><EVEN><1.5><DEFAULT>");
    ASSERT_TRUE(c.BuildSetSerialOutConfig(12, 9, 9600, 8, 9, 9, n));
    EXPECT_EQ(text(c, n), "<INIT><12><DEFAULT><RAW><DEFAULT><9600><8><DEFAULT><DEFAULT><DEFAULT>");
    ASSERT_TRUE(c.BuildGetSerialOutConfig(3, n));
    EXPECT_EQ(text(c, n), "<GETCONFIG>< 3>");
    ASSERT_TRUE(c.BuildSetSerialOutProtocol("Pelco-D", n));
    EXPECT_EQ(text(c, n), "<INIT><DEFAULT><Pelco-D><VIRT><DEFAULT><DEFAULT><DEFAULT><DEFAULT><DEFAULT><DEFAULT>");
    const BYTE data[] = {0x10, 0x3C, 0x00};
    ASSERT_TRUE(c.BuildSerialOutDataWrite(2, TRUE, 1, 0x0102, data, 3, n));
    EXPECT_EQ(text(c, n), std::string("<DATAWRITE>< 2><ACKYES><VIRT>\x02\x01\x03\x00\x10\x3C\x00", 36));
    ASSERT_TRUE(c.BuildSerialOutDataRead(4, FALSE, 7, TRUE, FALSE, 5, 64, n));
    EXPECT_EQ(text(c, n), std::string("<DATAREADCMD>< 4><ACKNO><WAITBUFFULL><RECURRENCE_FALSE>\x05\x00\x40\x00", 59));
    ASSERT_TRUE(c.BuildTermSerialOut(1, n));
    EXPECT_EQ(text(c, n), "<TERMINATE>< 1>");
    const std::vector<BYTE> big(990, 0x55);
    EXPECT_FALSE(c.BuildSerialOutDataWrite(1, TRUE, 0, 0, big.data(), 990, n));
    EXPECT_EQ(n, 0);
}

TEST(CSerialOutCommand, ParserFindsTypesAndReadsAnswers) {
    struct Case {
        std::string message;
        bool ok;
        WORD type;
        WORD port;
        LONG result;
    };
    const Case cases[] = {
        {"<ERRORACK>< 2>< 4><SERIALOUT_ERROR_WRITE>", true, SO_ERRORACK, 2, 12},
        {"<initack>< 7><serialout_noerror>", true, SO_INITACK, 7, 0},
        {"<DATAREADCMDACK>< 1><SERIALOUT_ERROR_READ>", true, SO_DATAREADCMDACK, 1, 13},
        {"<DATAWRITEACK><3><SERIALOUT_ERROR_ILLEGAL_PORTTYPE_TOKEN>", true, SO_DATAWRITEACK, 3, 17},
        {"<TERMINATEACK><3><SERIALOUT_ERROR_ILLEGAL_POPRTTYPE>", true, SO_TERMINATEACK, 3, 30},
        {"<TERMINATEACK><3><WAITBUFFULL>", true, SO_TERMINATEACK, 3, 10},
        {"<TERMINATEACK><3><SERIALOUT_ERROR_CRC>", false, SO_TERMINATEACK, 3, -1},  // no code for it
        {"<ERRORACK>< 2><SERIALOUT_ERROR_WRITE>", false, SO_ERRORACK, 2, -1},        // a field missing
        {"<INITACK>< 7", false, SO_INITACK, 0, -1},
        {"<DATAWRITE>< 2><ACKYES>", true, SO_DATAWRITE, 0, -1},
        {"<NOTHING>", false, 0, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        CSerialOutCommand parser;
        SerialOutMessage out;
        const auto* bytes = reinterpret_cast<const BYTE*>(c.message.data());
        EXPECT_EQ(parser.DispatchSerialOutMessage(bytes, static_cast<DWORD>(c.message.size()), out) != FALSE, c.ok);
        if (c.ok) {
            EXPECT_EQ(+out.type, c.type);
            EXPECT_EQ(+out.port, c.port);
            EXPECT_EQ(+out.resultCode, c.result);
        }
    }
    CSerialOutCommand parser;
    WORD type = 0;
    const std::string read = "<DATAREADACK>";
    EXPECT_TRUE(parser.DispatchSerialOutCommandType(reinterpret_cast<const BYTE*>(read.data()), 13, type));
    EXPECT_EQ(type, SO_DATAREADACK);

    // Data read back: the count, the bytes (which may hold brackets), the result.
    const std::string ack = std::string("<DATAREADACK>< 5>\x03\x00<>\x01<SERIALOUT_NOERROR>", 41);
    SerialOutMessage out;
    ASSERT_TRUE(parser.DispatchSerialOutMessage(reinterpret_cast<const BYTE*>(ack.data()), 41, out));
    EXPECT_EQ(out.data, (std::vector<BYTE>{'<', '>', 0x01}));
    EXPECT_EQ(+out.resultCode, 0);
    SerialOutMessage cut;
    EXPECT_FALSE(parser.DispatchSerialOutMessage(reinterpret_cast<const BYTE*>(ack.data()), 21, cut));

    const std::string config = "<GETCONFIGACK>< 1><RS485><VIRT><TX><DEFAULT><DEFAULT><MARK><2><SERIALOUT_NOERROR>";
    ASSERT_TRUE(parser.DispatchSerialOutMessage(reinterpret_cast<const BYTE*>(config.data()),
                                                static_cast<DWORD>(config.size()), out));
    EXPECT_EQ(+out.portType, 2);
    EXPECT_EQ(+out.workMode, 1);
    EXPECT_EQ(+out.direction, 1);
    EXPECT_EQ(+out.baudRate, 9600u);
    EXPECT_EQ(+out.dataBits, 8u);
    EXPECT_EQ(+out.parity, 3);
    EXPECT_EQ(+out.stopBits, 2);
}

}  // namespace
