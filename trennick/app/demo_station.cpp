#include "trennick/app/demo_station.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "tavicore/tavicore_globals.h"
#include "trennick/app/setup_wizard.h"
#include "trennick/link/cards.h"
#include "trennick/station/frame_settings.h"

#include <algorithm>
#include <cstring>

namespace trennick {

namespace {

// The card gets the wizard's proposal unless it has a name already.
void nameTheCard(CFrameSettings& settings) {
    if (settings.general.BusinessCard[kCardNameOffset] != '\0') return;
    CCardPageWz::Proposal proposal = CCardPageWz::Propose();
    if (proposal.name.find_first_not_of(' ') == std::string::npos) proposal.name = kDemoStationName;
    tagBusinessCard card{};
    std::memcpy(&card, settings.general.BusinessCard, sizeof card);
    fixed_text::Write(card.name, sizeof card.name, proposal.name);
    fixed_text::Write(card.text2, sizeof card.text2, proposal.phone);
    fixed_text::Write(card.text3, sizeof card.text3, proposal.text);
    std::memcpy(settings.general.BusinessCard, &card, sizeof card);
    settings.WriteGenSettings();
}

// A value the instance does not hold yet is written; one it holds is kept.
void keepOrWrite(const char* section, const char* name, DWORD value) {
    CKcReg reg = ProductKey(section);
    DWORD stored = 0;
    if (!reg.GetDword(nullptr, name, &stored)) reg.SetDword(nullptr, name, &value);
}

}  // namespace

void PrepareDemoStation(const std::string& instanceId) {
    gcsVlmInsID = instanceId.empty() ? std::string() : "\\Velmoor" + instanceId;
    CFrameSettings settings;
    // The metrics only size the window's height; the place and width are the settings'.
    settings.ReadScreenSettings(22, 20, 3);
    settings.ReadGenSettings();
    nameTheCard(settings);
    keepOrWrite("Users", "DontShowWarning", 1);
    // The remote station window right of the main window, a little apart.
    constexpr int kWindowGap = 24;
    keepOrWrite("VideoWindow", "XPos", DWORD(std::max(0, settings.screen.x) + settings.screen.width + kWindowGap));
    keepOrWrite("VideoWindow", "YPos", DWORD(std::max(0, settings.screen.y)));
}

}  // namespace trennick
