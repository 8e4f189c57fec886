#include "trennick/station/modem_link.h"

#include "common/kc_reg.h"
#include "tavicore/tavicore_globals.h"
#include "trennick/station/frame_settings.h"
#include "trennick/net/inet_connection.h"
#include "trennick/serial/modem_connection.h"

#include <gtest/gtest.h>
#include <cstring>

using namespace trennick;

// The modem values of the Comms group come from the registry, are written
// back, and reach the modem link's line through the record the link holds.
TEST(ModemLink, CommsGroupReachesTheModemLine) {
    gcsVlmInsID = "\\Velmoor21";
    CKcReg stored("Quennel", "Velmoor\\Velmoor21", "1.000.0", "Comms");
    const DWORD rings = 4, baud = 19200, parity = 2, no = 0, yes = 1;
    stored.SetString(nullptr, "ModemFile", "hayes.ini");
    stored.SetString(nullptr, "PortName", "COM3");
    stored.SetString(nullptr, "Outsidelineprefix", "9,");
    stored.SetString(nullptr, "TapiLine", "Direct to com2");
    stored.SetDword(nullptr, "RingsCount", &rings);
    stored.SetDword(nullptr, "BaudRate", &baud);
    stored.SetDword(nullptr, "Parity", &parity);
    stored.SetDword(nullptr, "SpeakerOff", &yes);
    stored.SetDword(nullptr, "UseSVD", &yes);
    stored.SetDword(nullptr, "AutoAnswer", &no);
    stored.SetDword(nullptr, "AutoListen", &yes);
    stored.SetDword(nullptr, "DirectLine", &yes);

    CFrameSettings settings;
    settings.ReadCommsSettings(0);
    CommsSettingsRecord record;
    FillLinkComms(settings.comms, record);
    CModemConnection modem(LinkServices{}, false);
    ASSERT_TRUE(ApplyModemSettings(modem, record));
    const ModemLineSettings& line = modem.LineSettings();
    EXPECT_EQ(line.ModemFile, "hayes.ini");
    EXPECT_EQ(line.PortName, "COM3");
    EXPECT_EQ(line.Outsidelineprefix, "9,");
    EXPECT_EQ(line.TapiLine, "Direct to com2");
    EXPECT_EQ(line.RingsCount, 4u);
    EXPECT_EQ(line.BaudRate, 19200u);
    EXPECT_EQ(line.Parity, 2);
    EXPECT_EQ(line.ByteSize, 8);  // not stored: the group's default
    EXPECT_TRUE(line.SpeakerOff);
    EXPECT_TRUE(line.UseSVD);
    EXPECT_FALSE(line.AutoAnswer);
    EXPECT_TRUE(line.AutoListen);
    EXPECT_TRUE(line.DirectLine);

    // Written back with the group.
    settings.comms.AutoAnswer = 1;
    std::strcpy(settings.comms.TapiLine, "Line 2");
    settings.WriteCommsSettings();
    CFrameSettings again;
    again.ReadCommsSettings(0);
    EXPECT_STREQ(again.comms.TapiLine, "Line 2");
    EXPECT_EQ(again.comms.AutoAnswer, 1u);
    EXPECT_EQ(again.comms.DirectLine, 1u);
    gcsVlmInsID.clear();
}

// An empty port keeps the modem link's own; texts longer than their fields
// are cut, never run over.
TEST(ModemLink, EmptyPortKeepsTheDefaultAndLongTextsAreCut) {
    CommsRecord comms;
    std::memset(comms.ModemFile, 'm', sizeof comms.ModemFile);  // no terminator at all
    CommsSettingsRecord record;
    FillLinkComms(comms, record);
    EXPECT_EQ(std::strlen(record.ModemFile), sizeof record.ModemFile - 1);
    CModemConnection modem(LinkServices{}, false);
    ASSERT_TRUE(ApplyModemSettings(modem, record));
    EXPECT_EQ(modem.LineSettings().PortName, "COM1");
    EXPECT_EQ(modem.LineSettings().ModemFile.size(), sizeof record.ModemFile - 1);
}

// Both transports live in one unit: a TCP link is not taken for a modem link
// and its line is not handed modem settings; both report the same link-up
// notice and connected state.
TEST(ModemLink, TcpLinkIsNotAModemLink) {
    CInetConnection tcp(LinkServices{});
    CModemConnection modem(LinkServices{}, false);
    CommsSettingsRecord record;
    std::strcpy(record.PortName, "COM4");
    EXPECT_FALSE(IsModemLink(tcp));
    EXPECT_FALSE(ApplyModemSettings(tcp, record));
    EXPECT_TRUE(IsModemLink(modem));
    EXPECT_TRUE(ApplyModemSettings(modem, record));
    EXPECT_EQ(modem.LineSettings().PortName, "COM4");
}
