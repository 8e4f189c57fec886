#pragma once
// A capture card for the engine library's tests: it reports the counts it is
// given (or, built without counts, fails to report any), and every other card
// operation fails. Used on the test's thread.

#include "tavicore/capture_base.h"

namespace cardtest {

class FakeCard : public CLumora {
public:
    // Nothing behind it: every card operation fails.
    FakeCard() = default;
    // Reports these counts; `detected` is the card-detected flag the settings read.
    FakeCard(int detected, WORD adapters, WORD cameras, WORD relays)
        : m_reportsCounts(true), m_adapters(adapters), m_cameras(cameras), m_relays(relays) {
        m_cardDetected = static_cast<DWORD>(detected);
    }

    int GetAdaptersCount(WORD* n) override { return report(m_adapters, n); }
    int GetCamerasCount(WORD, WORD* n) override { return report(m_cameras, n); }
    int GetRelaysCount(WORD, WORD* n) override { return report(m_relays, n); }
    int SetVideoInput(WORD, WORD, int) override { return 0; }
    int CardQuery8(WORD, WORD*) override { return 0; }
    int SetDigitalOutput(WORD, WORD, int) override { return 0; }
    int CardQuery10(WORD, WORD*) override { return 0; }
    int CardQuery11(WORD, WORD*, WORD*, WORD*, WORD*) override { return 0; }
    int SendRpc3(WORD, WORD, WORD, WORD, WORD) override { return 0; }
    int SendRpc4(WORD, WORD) override { return 0; }
    int CardQuery14(WORD, WORD*) override { return 0; }
    int CardQuery15(WORD, WORD*) override { return 0; }
    int CardQuery16(WORD*) override { return 0; }
    int CardQuery17(WORD*) override { return 0; }
    int CardSet18(WORD, DWORD) override { return 0; }
    int CardSet19(WORD) override { return 0; }
    int CardSet20(WORD) override { return 0; }
    int CardSet21(WORD, WORD, WORD, WORD, WORD) override { return 0; }
    int CardSet22(WORD, DWORD) override { return 0; }
    int CardSet23(WORD, DWORD) override { return 0; }
    int CardSet24(WORD, WORD, WORD, WORD) override { return 0; }
    int CardAction25() override { return 0; }
    int CardSet26(WORD, DWORD) override { return 0; }
    int CardSet27(WORD, DWORD) override { return 0; }
    int CardSet28(WORD, DWORD) override { return 0; }
    int CardAction29() override { return 0; }
    int CardSet30(WORD) override { return 0; }
    int CardSet31(WORD, WORD, WORD, WORD) override { return 0; }
    int CardSet32(WORD) override { return 0; }
    int CardSet33(WORD, WORD, DWORD) override { return 0; }
    int CardSet34(WORD, WORD, DWORD) override { return 0; }
    int CardSet35(WORD) override { return 0; }
    int CardSet36(WORD) override { return 0; }

private:
    int report(WORD count, WORD* out) const {
        if (!m_reportsCounts) {
            return 0;
        }
        *out = count;
        return 1;
    }

    bool m_reportsCounts = false;
    WORD m_adapters = 0, m_cameras = 0, m_relays = 0;
};

}  // namespace cardtest
