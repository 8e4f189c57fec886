#include "trennick/video/lumora_remote.h"

#include "common/lumo_deb.h"
#include "trennick/link/packet_connection.h"

#include <cstdio>

namespace trennick {

namespace {

std::string number(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

int writeZero(WORD* out) {
    if (out != nullptr) *out = 0;
    return TRUE;
}

}  // namespace

std::string LumoraRpcText(std::initializer_list<std::string> fields) {
    std::string text;
    for (const std::string& field : fields) text += "<" + field + ">";
    return text.size() <= kLumoraRpcBytes ? text : std::string();
}

CLumoraRemote::CLumoraRemote() = default;
CLumoraRemote::~CLumoraRemote() = default;

void CLumoraRemote::SetCommunicationObject(CPacketConnection* link) {
    m_link = link;
    m_linkSet = TRUE;
}

int CLumoraRemote::send(const std::string& text) {
    if (!m_linkSet || m_link == nullptr) {
        LUMO_TRACE(1, "CLumoraRemote ERROR: Communication Object not set!\n");
        return FALSE;
    }
    if (text.empty()) return FALSE;
    // What the send did: a text the link did not write is not reported as sent.
    return m_link->SendLumoraRPC(text.c_str(), WORD(text.size())) != 0 ? TRUE : FALSE;
}

int CLumoraRemote::SetVideoInput(WORD adapter, WORD camera, int pageFlag) {
    LUMO_TRACE(3, "CLumoraRemote::SetVideoInput(WORD wAdapter = %ld, WORD wCamera = %ld)", long(adapter), long(camera));
    const std::string input = pageFlag != 0 ? "PAGE" + std::to_string(camera) : number("%2u", camera);
    return send(LumoraRpcText({number("%2u", 1), number("%2u", adapter), input}));
}

int CLumoraRemote::SetDigitalOutput(WORD adapter, WORD relay, int state) {
    return send(LumoraRpcText({number("%2u", 2), number("%2u", adapter), number("%2u", relay),
                               number("%2u", unsigned(DWORD(state)))}));
}

int CLumoraRemote::SendRpc3(WORD n1, WORD n2, WORD n3, WORD n4, WORD n5) {
    return send(LumoraRpcText({number("%2u", 3), number("%2u", n1), number("%3u", n2), number("%3u", n3),
                               number("%3u", n4), number("%3u", n5)}));
}

int CLumoraRemote::SendRpc4(WORD n1, WORD n2) {
    return send(LumoraRpcText({number("%2u", 4), number("%2u", n1), number("%2u", n2)}));
}

int CLumoraRemote::GetAdaptersCount(WORD* count) { return writeZero(count); }
int CLumoraRemote::GetCamerasCount(WORD, WORD*) { return FALSE; }
int CLumoraRemote::GetRelaysCount(WORD, WORD*) { return FALSE; }
int CLumoraRemote::CardQuery8(WORD, WORD* out) { return writeZero(out); }
int CLumoraRemote::CardQuery10(WORD, WORD* out) { return writeZero(out); }
int CLumoraRemote::CardQuery11(WORD, WORD* out1, WORD* out2, WORD* out3, WORD* out4) {
    writeZero(out1);
    writeZero(out2);
    writeZero(out3);
    return writeZero(out4);
}
int CLumoraRemote::CardQuery14(WORD, WORD* out) { return writeZero(out); }
int CLumoraRemote::CardQuery15(WORD, WORD* out) { return writeZero(out); }
int CLumoraRemote::CardQuery16(WORD* out) { return writeZero(out); }
int CLumoraRemote::CardQuery17(WORD* out) { return writeZero(out); }

}  // namespace trennick
