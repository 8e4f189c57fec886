#pragma once
// CLumoraRemote: the capture object of the operator's station, which has no
// card of its own. It stands for the connected site's card: selecting an
// input and setting an output become short remote-call texts sent to the site
// over the link; every other operation answers a fixed neutral value.
//
// Threads: the user-interface thread only. Failures: without a link object,
// or when the link does not send, a remote-call operation returns FALSE.

#include "platform/types.h"
#include "tavicore/capture_base.h"

#include <string>

namespace trennick {

class CPacketConnection;

// The largest remote-call text.
inline constexpr std::size_t kLumoraRpcBytes = 128;

// Builds a remote-call text: each field as "<", its text, ">". Empty when the
// text would not fit in kLumoraRpcBytes.
std::string LumoraRpcText(std::initializer_list<std::string> fields);

class CLumoraRemote : public CLumora {
public:
    CLumoraRemote();
    ~CLumoraRemote() override;

    // The link the texts go to.
    void SetCommunicationObject(CPacketConnection* link);

    int GetAdaptersCount(WORD* count) override;
    int GetCamerasCount(WORD adapter, WORD* count) override;
    int GetRelaysCount(WORD adapter, WORD* count) override;
    int SetVideoInput(WORD adapter, WORD camera, int pageFlag) override;
    int CardQuery8(WORD value, WORD* out) override;
    int SetDigitalOutput(WORD adapter, WORD relay, int state) override;
    int CardQuery10(WORD value, WORD* out) override;
    int CardQuery11(WORD value, WORD* out1, WORD* out2, WORD* out3, WORD* out4) override;
    int SendRpc3(WORD n1, WORD n2, WORD n3, WORD n4, WORD n5) override;
    int SendRpc4(WORD n1, WORD n2) override;
    int CardQuery14(WORD value, WORD* out) override;
    int CardQuery15(WORD value, WORD* out) override;
    int CardQuery16(WORD* out) override;
    int CardQuery17(WORD* out) override;
    int CardSet18(WORD, DWORD) override { return TRUE; }
    int CardSet19(WORD) override { return TRUE; }
    int CardSet20(WORD) override { return TRUE; }
    int CardSet21(WORD, WORD, WORD, WORD, WORD) override { return FALSE; }
    int CardSet22(WORD, DWORD) override { return FALSE; }
    int CardSet23(WORD, DWORD) override { return TRUE; }
    int CardSet24(WORD, WORD, WORD, WORD) override { return TRUE; }
    int CardAction25() override { return TRUE; }
    int CardSet26(WORD, DWORD) override { return TRUE; }
    int CardSet27(WORD, DWORD) override { return TRUE; }
    int CardSet28(WORD, DWORD) override { return TRUE; }
    int CardAction29() override { return 5; }
    int CardSet30(WORD) override { return TRUE; }
    int CardSet31(WORD, WORD, WORD, WORD) override { return FALSE; }
    int CardSet32(WORD) override { return FALSE; }
    int CardSet33(WORD, WORD, DWORD) override { return FALSE; }
    int CardSet34(WORD, WORD, DWORD) override { return FALSE; }
    int CardSet35(WORD) override { return FALSE; }
    int CardSet36(WORD) override { return FALSE; }
    virtual int OwnQuery42() { return 0; }

private:
    int send(const std::string& text);

    CPacketConnection* m_link = nullptr;
    BOOL m_linkSet = FALSE;
};

}  // namespace trennick
