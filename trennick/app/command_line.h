#pragma once
// CKivCommandLineInfo: the recorder's command line, one parameter at a time.
// A switch arrives without its leading "/" or "-"; it is upper-cased and
// recognised by the letters it begins with. A flag once set stays set; a value
// switch keeps the value of its first occurrence that has one.
//
// Thread: the user-interface thread, during start-up. Bad input never fails:
// an unknown switch is ignored, a number that does not parse counts as 0.

#include "platform/types.h"

#include <string>
#include <vector>

namespace trennick {

class CKivCommandLineInfo {
public:
    // The framework's parsing: each parameter with whether it was a switch and
    // whether it is the last one.
    void ParseParam(const char* param, BOOL isSwitch, BOOL isLast);
    // Feeds every argument after the program name through ParseParam.
    void ParseCommandLine(const std::vector<std::string>& args);

    std::string m_strPlain;   // plain parameters joined by one blank
    LONG m_number = 0;        // the plain parameter after B

    BOOL m_bInitReg = FALSE;
    BOOL m_bNoSplash = FALSE;
    BOOL m_bB = FALSE;
    BOOL m_bR = TRUE;  // accepted; always set
    BOOL m_bD = FALSE;
    BOOL m_bS = FALSE;
    BOOL m_bC = FALSE;
    BOOL m_bM = FALSE;
    BOOL m_bI = FALSE;
    BOOL m_bP = FALSE;
    BOOL m_bT = FALSE;
    BOOL m_bG = FALSE;
    BOOL m_bU = FALSE;

    std::string m_strS;
    std::string m_strD;
    std::string m_strP;
    std::string m_strT;
    std::string m_strU;

private:
    bool m_numberArmed = false;  // the next plain parameter is B's number
};

}  // namespace trennick
