// The telephony library's dialogs are its caller's: until they are handed in
// nobody is asked; handed in, each is shown over the caller's window for the
// line or number it is about, and what an accepted dialog chose is kept only
// when it is valid. Nothing a dialog throws leaves the library. The library is
// loaded by name as its callers load it; its one line is only named (no port
// is opened, no call made).

#include "platform/library.h"
#include "telephony/line_api.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using namespace telephony;

namespace {

// What the test's dialogs answer and choose, and what they were shown with.
struct Script {
    LineDialogResult answer = LineDialogResult::Accepted;
    bool throws = false;
    void (*change)(ModemDevConfig&) = nullptr;
    DialingLocation location;
    int shown = 0;
    void* owner = nullptr;
    std::string about;  // the line's name, or the sample number
};
Script g_script;

void seen(void* owner, const std::string& about) {
    ++g_script.shown;
    g_script.owner = owner;
    g_script.about = about;
    if (g_script.throws) throw std::runtime_error("the dialog failed");
}

LineDialogResult editConfig(void* owner, const std::string& lineName, ModemDevConfig& config) {
    seen(owner, lineName);
    if (g_script.change != nullptr) g_script.change(config);
    return g_script.answer;
}

LineDialogResult editLocation(void* owner, const std::string& sampleNumber, DialingLocation& location) {
    seen(owner, sampleNumber);
    location = g_script.location;
    return g_script.answer;
}

constexpr LineDialogs kDialogs{editConfig, editLocation};

void ignoreLineMessages(DWORD, DWORD, std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}

// The library loaded and started with the one line "Line A".
class Library {
public:
    Library() {
        ::setenv("VELMOOR_TAPI_LINES", "Line A=/dev/null", 1);
        m_library = platform::loadLibrary("velmoortapi");
        if (m_library == nullptr) return;
        DWORD lines = 0;
        m_started = fn<LONG(HLINEAPP*, void*, LINECALLBACK, const char*, DWORD*)>("lineInitialize")(
                        &m_app, nullptr, ignoreLineMessages, "Velmoor", &lines) == 0 &&
                    lines == 1;
    }
    ~Library() {
        if (m_library == nullptr) return;
        setDialogs(nullptr);
        if (m_started) fn<LONG(HLINEAPP)>("lineShutdown")(m_app);
        platform::freeLibrary(m_library);
    }
    bool started() const { return m_started; }

    template <class F>
    F* fn(const char* name) {
        return reinterpret_cast<F*>(platform::librarySymbol(m_library, name));
    }
    LONG setDialogs(const LineDialogs* dialogs) { return fn<LONG(const LineDialogs*)>("SetLineDialogs")(dialogs); }

    // lineConfigDialogEdit for line 0; `config` is what it answered.
    LONG configDialog(void* owner, ModemDevConfig& config) {
        std::vector<unsigned char> answer(sizeof(VarString) + sizeof(ModemDevConfig));
        auto* out = reinterpret_cast<VarString*>(answer.data());
        out->totalSize = static_cast<DWORD>(answer.size());
        const LONG r = fn<LONG(DWORD, void*, const char*, const void*, DWORD, VarString*)>("lineConfigDialogEdit")(
            0, owner, "comm/datamodem", nullptr, 0, out);
        EXPECT_EQ(out->stringSize, sizeof config);
        std::memcpy(&config, answer.data() + out->stringOffset, sizeof config);
        return r;
    }
    LONG translateDialog(void* owner, const char* sampleNumber) {
        return fn<LONG(HLINEAPP, DWORD, DWORD, void*, const char*)>("lineTranslateDialog")(m_app, 0, 0, owner,
                                                                                             sampleNumber);
    }
    // The number as line 0 dials it from the kept location.
    std::string dialled(const char* number) {
        std::vector<unsigned char> answer(sizeof(VarString) + 128);
        auto* out = reinterpret_cast<VarString*>(answer.data());
        out->totalSize = static_cast<DWORD>(answer.size());
        if (fn<LONG(HLINEAPP, DWORD, DWORD, const char*, DWORD, DWORD, VarString*)>("lineTranslateAddress")(
                m_app, 0, 0, number, 0, 0, out) != 0) {
            return "(failed)";
        }
        return reinterpret_cast<const char*>(answer.data() + out->stringOffset);
    }

private:
    HMODULE m_library = nullptr;
    HLINEAPP m_app = 0;
    bool m_started = false;
};

int g_ownerWindow;  // stands for the caller's window: only its address is handed on

TEST(LineDialogs, WithoutTheCallersDialogsNobodyIsAsked) {
    Library library;
    ASSERT_TRUE(library.started());
    g_script = {};
    ModemDevConfig config;
    EXPECT_EQ(library.configDialog(&g_ownerWindow, config), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(library.translateDialog(&g_ownerWindow, "5550002"), LINEERR_OPERATIONUNAVAIL);

    // Handed in and taken back again.
    ASSERT_EQ(library.setDialogs(&kDialogs), 0);
    ASSERT_EQ(library.setDialogs(nullptr), 0);
    EXPECT_EQ(library.configDialog(&g_ownerWindow, config), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(library.translateDialog(&g_ownerWindow, "5550002"), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(g_script.shown, 0);
}

TEST(LineDialogs, TheLineAnswersTheConfigurationChosenWhenItIsValid) {
    struct Case {
        const char* what;
        LineDialogResult answer;
        bool throws;
        void (*change)(ModemDevConfig&);
        LONG result;
        bool chosenKept;
    };
    const auto pulseAndMore = [](ModemDevConfig& c) {
        c.pulseDialing = 1;
        std::strcpy(c.extraInit, "&C1");
    };
    const auto lineEnd = [](ModemDevConfig& c) { std::strcpy(c.extraInit, "&C1\rATH"); };
    const Case cases[] = {
        {"accepted", LineDialogResult::Accepted, false, pulseAndMore, 0, true},
        {"cancelled", LineDialogResult::Cancelled, false, pulseAndMore, 0, false},
        {"accepted, but a second command in its settings", LineDialogResult::Accepted, false, lineEnd, 0, false},
        {"nobody to ask", LineDialogResult::NobodyToAsk, false, pulseAndMore, LINEERR_OPERATIONUNAVAIL, false},
        {"an answer it does not have", static_cast<LineDialogResult>(7), false, pulseAndMore,
         LINEERR_OPERATIONFAILED, false},
        {"it threw", LineDialogResult::Accepted, true, pulseAndMore, LINEERR_OPERATIONFAILED, false},
    };
    Library library;
    ASSERT_TRUE(library.started());
    ASSERT_EQ(library.setDialogs(&kDialogs), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_script = {};
        g_script.answer = c.answer;
        g_script.throws = c.throws;
        g_script.change = c.change;
        ModemDevConfig answered;
        EXPECT_EQ(library.configDialog(&g_ownerWindow, answered), c.result);
        EXPECT_EQ(g_script.shown, 1);
        EXPECT_EQ(g_script.owner, &g_ownerWindow);
        EXPECT_EQ(g_script.about, "Line A");
        ModemDevConfig expected;  // the line's own, the defaults
        expected.size = sizeof expected;
        if (c.chosenKept) c.change(expected);
        EXPECT_EQ(std::memcmp(&answered, &expected, sizeof expected), 0);
    }
}

TEST(LineDialogs, TheLocationChosenIsKeptWhenItIsValid) {
    struct Case {
        const char* what;
        LineDialogResult answer;
        bool throws;
        DialingLocation chosen;
        LONG result;
        const char* dialledAfter;
    };
    const Case cases[] = {
        {"accepted, but not dialable", LineDialogResult::Accepted, false, {"9A", ""}, 0, "5550002"},
        {"cancelled", LineDialogResult::Cancelled, false, {"8", ""}, 0, "5550002"},
        {"nobody to ask", LineDialogResult::NobodyToAsk, false, {"8", ""}, LINEERR_OPERATIONUNAVAIL, "5550002"},
        {"it threw", LineDialogResult::Accepted, true, {"8", ""}, LINEERR_OPERATIONFAILED, "5550002"},
        {"accepted", LineDialogResult::Accepted, false, {"9", "*70"}, 0, "9,*70,5550002"},
    };
    Library library;
    ASSERT_TRUE(library.started());
    ASSERT_EQ(library.setDialogs(&kDialogs), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_script = {};
        g_script.answer = c.answer;
        g_script.throws = c.throws;
        g_script.location = c.chosen;
        EXPECT_EQ(library.translateDialog(&g_ownerWindow, "5550002"), c.result);
        EXPECT_EQ(g_script.shown, 1);
        EXPECT_EQ(g_script.owner, &g_ownerWindow);
        EXPECT_EQ(g_script.about, "5550002");
        EXPECT_EQ(library.dialled("5550002"), c.dialledAfter);
    }
}

}  // namespace
