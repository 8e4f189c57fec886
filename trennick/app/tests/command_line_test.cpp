#include "trennick/app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using trennick::CKivCommandLineInfo;

namespace {

CKivCommandLineInfo parse(std::vector<std::string> args) {
    CKivCommandLineInfo info;
    info.ParseCommandLine(args);
    return info;
}

}  // namespace

struct InstanceCase {
    std::vector<std::string> args;
    const char* id;
    bool flag;
};

TEST(CommandLine, InstanceIdForms) {
    const InstanceCase cases[] = {
        {{"/U3"}, "3", true},
        {{"/u=3"}, "3", true},
        {{"-U:7"}, "7", true},
        {{"/Uabc"}, "abc", true},
        {{"/U"}, "", false},
        {{"/U", "/U=4"}, "4", true},       // the first occurrence with a value wins
        {{"/U1", "/U2"}, "1", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
        const auto info = parse(c.args);
        EXPECT_EQ(info.m_strU, c.id);
        EXPECT_EQ(info.m_bU != FALSE, c.flag);
    }
}

struct ValueCase {
    std::vector<std::string> args;
    const char* d;
    const char* p;
    const char* t;
    const char* s;
    bool sFlag;
};

TEST(CommandLine, ValuedSwitchesTakeTheTextAfterTwoCharacters) {
    const ValueCase cases[] = {
        {{"/DSite1"}, "ite1", "", "", "", false},       // the value starts after two characters
        {{"/D=Site1"}, "Site1", "", "", "", false},
        {{"/d=MixedCase"}, "MixedCase", "", "", "", false},
        {{"/D"}, "", "", "", "", false},
        {{"/P=5100", "/T=5200"}, "", "5100", "5200", "", false},
        {{"/P:5100", "/P=6000"}, "", "5100", "", "", false},
        {{"/S"}, "", "", "", "", true},                 // flag set, no value
        {{"/S=Home"}, "", "", "", "Home", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const auto info = parse(c.args);
        EXPECT_EQ(info.m_strD, c.d);
        EXPECT_EQ(info.m_strP, c.p);
        EXPECT_EQ(info.m_strT, c.t);
        EXPECT_EQ(info.m_strS, c.s);
        EXPECT_EQ(info.m_bS != FALSE, c.sFlag);
        EXPECT_EQ(info.m_bD != FALSE, *c.d != '\0');
        EXPECT_EQ(info.m_bP != FALSE, *c.p != '\0');
    }
}

struct FlagCase {
    std::vector<std::string> args;
    bool noSplash, c, i, m, g;
};

TEST(CommandLine, FlagSwitches) {
    const FlagCase cases[] = {
        {{"/NOSPLASH"}, true, false, false, false, false},
        {{"-nosplash"}, true, false, false, false, false},
        {{"/I", "/M"}, false, false, true, true, false},   // both recorded; the program lets M win
        {{"/C"}, false, true, false, false, false},
        {{"/Connect"}, false, true, false, false, false},  // recognised by its first letter
        {{"/G", "/R"}, false, false, false, false, true},
        {{"/X"}, false, false, false, false, false},       // unknown switches are ignored
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const auto info = parse(c.args);
        EXPECT_EQ(info.m_bNoSplash != FALSE, c.noSplash);
        EXPECT_EQ(info.m_bC != FALSE, c.c);
        EXPECT_EQ(info.m_bI != FALSE, c.i);
        EXPECT_EQ(info.m_bM != FALSE, c.m);
        EXPECT_EQ(info.m_bG != FALSE, c.g);
        EXPECT_TRUE(info.m_bR);
    }
}

TEST(CommandLine, NumberAfterBAndPlainText) {
    EXPECT_EQ(parse({"/B", "42"}).m_number, 42);
    EXPECT_EQ(parse({"/B", "/C", "42"}).m_number, 42);  // a later switch arms B again
    auto info = parse({"one", "/B", "7", "two", "three"});
    EXPECT_EQ(info.m_number, 7);
    EXPECT_EQ(info.m_strPlain, "one two three");
    EXPECT_EQ(parse({"/B", "junk"}).m_number, 0);
}
