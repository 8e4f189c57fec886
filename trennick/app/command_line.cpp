#include "trennick/app/command_line.h"

#include <cctype>
#include <cstdlib>
#include <string_view>

namespace trennick {

namespace {

bool beginsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The value of a valued switch: its text after the first two characters. A
// switch of two characters or fewer has none.
bool valueAfterTwo(std::string_view text, std::string& value) {
    if (text.size() <= 2) return false;
    value.assign(text.substr(2));
    return true;
}

// The instance id: the text after the letter, past one '=' or ':' when one
// follows, so "U3", "U=3" and "U:3" all name instance 3 and "U" alone none.
bool instanceValue(std::string_view text, std::string& value) {
    std::string_view rest = text.substr(1);
    if (!rest.empty() && (rest.front() == '=' || rest.front() == ':')) rest.remove_prefix(1);
    if (rest.empty()) return false;
    value.assign(rest);
    return true;
}

}  // namespace

void CKivCommandLineInfo::ParseParam(const char* param, BOOL isSwitch, BOOL /*isLast*/) {
    const std::string_view text = param != nullptr ? param : "";
    if (!isSwitch) {
        if (m_numberArmed) {
            m_number = static_cast<LONG>(std::strtol(std::string(text).c_str(), nullptr, 10));
            m_numberArmed = false;
            return;
        }
        if (!m_strPlain.empty()) m_strPlain += ' ';
        m_strPlain += text;
        return;
    }

    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Once B has been seen, every later switch arms the number again.
    if (m_bB) m_numberArmed = true;

    if (beginsWith(upper, "NOSPLASH")) {
        m_bNoSplash = TRUE;
    } else if (beginsWith(upper, "INITREG")) {
        m_bInitReg = TRUE;
    } else if (beginsWith(upper, "B")) {
        m_bB = TRUE;
        m_numberArmed = true;
    } else if (beginsWith(upper, "R")) {
        m_bR = TRUE;
    } else if (beginsWith(upper, "C")) {
        m_bC = TRUE;
    } else if (beginsWith(upper, "I")) {
        m_bI = TRUE;
    } else if (beginsWith(upper, "M")) {
        m_bM = TRUE;
    } else if (beginsWith(upper, "G")) {
        m_bG = TRUE;
    } else if (beginsWith(upper, "P")) {
        if (!m_bP && valueAfterTwo(text, m_strP)) m_bP = TRUE;
    } else if (beginsWith(upper, "T")) {
        if (!m_bT && valueAfterTwo(text, m_strT)) m_bT = TRUE;
    } else if (beginsWith(upper, "D")) {
        if (!m_bD && valueAfterTwo(text, m_strD)) m_bD = TRUE;
    } else if (beginsWith(upper, "S")) {
        if (m_strS.empty() && text.size() > 2) m_strS.assign(text.substr(2));
        m_bS = TRUE;
    } else if (beginsWith(upper, "U")) {
        if (!m_bU && instanceValue(text, m_strU)) m_bU = TRUE;
    }
}

void CKivCommandLineInfo::ParseCommandLine(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool isSwitch = !a.empty() && (a[0] == '/' || a[0] == '-');
        const std::string body = isSwitch ? a.substr(1) : a;
        ParseParam(body.c_str(), isSwitch ? TRUE : FALSE, i + 1 == args.size() ? TRUE : FALSE);
    }
}

}  // namespace trennick
