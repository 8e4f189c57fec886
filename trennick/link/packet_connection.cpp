#include "trennick/link/packet_connection.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "trennick/link/link_trace.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <new>

namespace trennick {

namespace {

constexpr DWORD kLineSyncPeriodMs = 20000;
constexpr DWORD kLineLostAfterMs = 60000;
constexpr DWORD kCardResendMs = 6000;

// Allocates the nominal size, retrying with three quarters of the previous
// size until an allocation succeeds.
std::vector<BYTE> allocateBuffer(DWORD& length) {
    while (length >= 64) {
        try {
            return std::vector<BYTE>(length, 0);
        } catch (const std::bad_alloc&) {
            length = length / 4 * 3;
        }
    }
    length = 0;
    return {};
}

std::string userName(const UserRecord& record) {
    const char* text = reinterpret_cast<const char*>(record.data() + kUserNameOffset);
    return fixed_text::Read(text, kUserTextFieldBytes);
}

}  // namespace

DWORD systemTimerMs() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LinkSettings readLinkSettings() {
    CKcReg reg = ProductKey("Comms");
    // Each value is read with its default and written back at once, so that
    // after a first run every value exists.
    auto readFlag = [&reg](const char* section, const char* name, DWORD fallback) {
        reg.SetSection(section);
        reg.SetValueName(name);
        reg.SetDefault(fallback);
        const DWORD value = reg.ReadDword();
        reg.Write(value);
        return value != 0;
    };
    LinkSettings settings;
    settings.useOnlyQcif = readFlag("Video", "Use Only QCIF Mode", 0);
    settings.syncsVerification = readFlag("Comms", "Syncs Verification", 1);
    settings.sendSyncs = readFlag("Comms", "IsSendSyncs", 1);
    settings.netOut = readFlag("Video\\Network", "NetOut", 0);
    reg.SetSection("Video\\Network");
    reg.SetValueName("NetOutPort");
    reg.SetDefault("4598");
    settings.netOutPort = reg.ReadString();
    reg.Write(settings.netOutPort);
    return settings;
}

// The link as its file transfer sees it.
class CPacketConnection::FileLink : public FileTransferLink {
public:
    explicit FileLink(CPacketConnection& link) : m_link(link) {}
    bool sendToken(WORD tokenId) override { return m_link.sendToken(tokenId); }
    LONG sendBucket(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo,
                    const char* checkHeader) override {
        return m_link.SendBucketWithCheck(bucketType, payload, length, bucketNo, checkHeader);
    }
    DWORD nowMs() override { return m_link.now(); }
    LONG peerProtocolNumber() override { return m_link.m_peerProtocolNumber; }
    bool peerNewLayout() override { return m_link.GetProtocolVersion() == 2; }
    DWORD maxChunk() override { return m_link.GetMaxChunk(); }
    void notice(UINT stringId, const std::string& argument) override { m_link.notice(stringId, argument); }
    void post(UINT message, WPARAM wParam, LPARAM lParam) override { m_link.post(message, wParam, lParam); }
    bool remoteSiteInfo(SiteInfoBlock& site) override { return m_link.m_host->remoteSiteInfo(site); }
    void errorLamp() override { m_link.errorLamp(); }
    void cardPictureSent() override { m_link.m_myCardStatus |= kCardPictureSent; }
    void transferEnded(const LinkTransferResult& ended) override {
        if (m_link.m_window != nullptr) {
            m_link.m_window->postOwned(kMsgTransferEnded, 0, std::make_unique<LinkTransferResult>(ended));
        }
    }
    void cardPictureReceived(const std::string& path) override {
        m_link.m_peerCardStatus |= kCardPictureReceived;
        fixed_text::Write(m_link.m_peerCard.picture, sizeof m_link.m_peerCard.picture, path);
    }

private:
    CPacketConnection& m_link;
};

CPacketConnection::CPacketConnection(const LinkServices& services, std::unique_ptr<LinkTransport> transport)
    : m_transport(std::move(transport)),
      m_window(services.window),
      m_host(services.host),
      m_identity(services.identity),
      m_clock(services.clock ? services.clock : LinkClock(systemTimerMs)),
      m_settings(services.settings ? *services.settings : readLinkSettings()),
      m_decoder(1),
      m_fileLink(std::make_unique<FileLink>(*this)),
      m_files(*m_fileLink) {
    m_transport->attach(*this);
    if (m_host == nullptr) {
        m_host = &m_defaultHost;
    }
    DWORD sendLength = services.nominalBuffLen;
    m_sendBuffer = allocateBuffer(sendLength);
    DWORD receiveLength = services.nominalBuffLen;
    m_receiveBuffer = allocateBuffer(receiveLength);
    m_bucketBuffLen = std::min(sendLength, receiveLength);
    m_decoder.setBucketBuffLen(m_bucketBuffLen);
    m_decoder.setPeerProtocolNumber(0);
    const DWORD t = now();
    m_statsIntervalStartMs = t;
    if (m_settings.netOut && services.networkVideoOutput) {
        m_netOut = services.networkVideoOutput(m_settings.netOutPort);
        m_videoRx.setNetworkOutput(m_netOut.get());
    }
}

CPacketConnection::~CPacketConnection() {
    FinishLink();
    // The transport goes while the link it may still report to is whole.
    m_transport.reset();
}

void CPacketConnection::FinishLink() {
    std::lock_guard lock(m_bucketLock);
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_files.Finish();
}

void CPacketConnection::post(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_window != nullptr) {
        m_window->postMessage(message, wParam, lParam);
    }
}

void CPacketConnection::errorLamp() {
    m_host->showDataLamp(1, kErrorLampMs);
    m_bucketFailedCheck = true;
}

bool CPacketConnection::lampDue(LampNotice& notice) {
    const DWORD t = now();
    if (notice.posted && static_cast<DWORD>(t - notice.lastMs) < kLampNoticeMs) return false;
    notice.posted = true;
    notice.lastMs = t;
    return true;
}

void CPacketConnection::notice(UINT stringId, const std::string& argument) {
    // The resource's "%s" takes the argument; nothing else of it is a format.
    std::string text = loadString(stringId);
    if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, argument);
    linkTrace(3, "CPacketConnection: notice %u: %s", stringId, text.c_str());
    if (m_window != nullptr && m_nEnableMessage) {
        m_window->postOwned(kMsgUserNotice, stringId, std::make_unique<std::string>(std::move(text)));
    }
}

// ---- slots 1-3 ----

void CPacketConnection::ResetHelloState() {
    std::lock_guard lock(m_bucketLock);
    m_lastSyncReceivedMs = 0;
    m_lastSyncSentMs = 0;
    m_helloAccepted = 0;
}

LONG CPacketConnection::SendLineSync() {
    std::lock_guard lock(m_bucketLock);
    const DWORD t = now();
    if (m_helloAccepted == 0 || m_peerProtocolNumber < 4 || !m_settings.sendSyncs ||
        t - m_lastSyncSentMs <= kLineSyncPeriodMs) {
        return 0;
    }
    sendToken(ID_DSVD_LINE_SYNC);
    m_lastSyncSentMs = t;
    return 1;
}

LONG CPacketConnection::CheckSync() {
    std::lock_guard lock(m_bucketLock);
    if (m_helloAccepted == 0 || m_peerProtocolNumber <= 3 || !m_settings.syncsVerification ||
        !IsReadQueueEnabled()) {
        return 1;
    }
    return now() - m_lastSyncReceivedMs > kLineLostAfterMs ? 0 : 1;
}

// ---- what a transport asks of its link ----

void LinkTransport::attach(CPacketConnection& link) {
    m_link = &link;
    m_lastActivityMs = now();
    attached();
}

DWORD LinkTransport::now() const { return m_link->now(); }

void LinkTransport::post(UINT message, WPARAM wParam, LPARAM lParam) const { m_link->post(message, wParam, lParam); }

LRESULT LinkTransport::sendOwnerMessage(WPARAM code, LPARAM parameter) const {
    return m_link->m_window != nullptr ? m_link->m_window->sendMessage(kMsgCommMessage, code, parameter) : 0;
}

// ---- slots 71-75 ----

void CPacketConnection::SetDisconnectStatus() {
    std::lock_guard lock(m_bucketLock);
    linkTrace(5, "%s, %s, LINE %d",
              "CPacketConnection::SetDisconnectStatus() FileSendStatus=SEND_USER_DISCONNECTING\n",
              "pakconn", __LINE__);
    closeVideoStates();
    m_files.OnLineDropped();
}

DWORD CPacketConnection::GetDisconnectTime() {
    std::lock_guard lock(m_bucketLock);
    return m_disconnectTimeMs;
}

void CPacketConnection::ClearDisconnectTime() {
    std::lock_guard lock(m_bucketLock);
    m_disconnectTimeMs = 0;
}

LONG CPacketConnection::ReceiveSiteInfo(const BYTE* body, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    const char* token = tokenText(ID_DSVD_SITEINFO).data();
    linkTrace(3, "CPacketConnection::ReceiveSiteInfo() %s Recieved...", token);
    const SiteInfoParse parse = parseSiteInfoBody(body, length);
    if (parse.result != SiteInfoResult::Ok) {
        if (parse.result == SiteInfoResult::BadLength) {
            linkTrace(1, "%s Receive ERROR: Invalid SITE_INFO_GUID length", token);
        } else {
            linkTrace(1, "%s ERROR: Invalid CRC, read: %ld, calc: %ld", token,
                      static_cast<long>(parse.readChecksum), static_cast<long>(parse.calcChecksum));
        }
        SetNotConnected();
        errorLamp();
        return 0;
    }
    m_host->recordRemoteSite(parse.block);
    linkTrace(3, "CPacketConnection::ReceiveSiteInfo(): chGUID=%s, chSiteName=%s chSitePhone=%s\n",
              parse.block.guid, parse.block.siteName, parse.block.sitePhone);
    return 1;
}

LONG CPacketConnection::SendSiteInfo() {
    std::lock_guard lock(m_bucketLock);
    SiteInfoBlock site{};
    if (m_identity == nullptr || !m_identity->thisSiteInfo(site)) {
        linkTrace(1, "CPacketConnection::SendSiteInfo() this station's identity cannot be read");
        return 0;
    }
    terminateTexts(site);
    const std::string_view token = tokenText(ID_DSVD_SITEINFO);
    const std::vector<BYTE> payload = buildSiteInfoPayload(token, site);
    const LONG written = SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
    linkTrace(3, "\t%s Sent...", token.data());
    return written;
}

// ---- buckets ----

bool CPacketConnection::GetBucket(BYTE* buffer, DWORD capacity, ParseCursor& cursor) {
    std::lock_guard lock(m_bucketLock);
    return m_decoder.getBucket(buffer, capacity, cursor);
}

LONG CPacketConnection::FilterPollBuff(std::span<BYTE> buffer, DWORD& length) {
    std::lock_guard lock(m_bucketLock);
    // The transport appends what it read behind what the last pass left.
    m_stats.bytesReceived += length >= m_bytesAlreadyCounted ? length - m_bytesAlreadyCounted : length;
    m_bytesAlreadyCounted = 0;
    ParseCursor cursor;
    cursor.dataLength = length;
    const DWORD capacity = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 0xFFFFFFFFu));
    for (;;) {
        if (!m_decoder.getBucket(buffer.data(), capacity, cursor)) {
            length = cursor.remaining;
            m_bytesAlreadyCounted = length;
            reportFigures();
            return 1;
        }
        ++m_stats.bucketsReceived;
        m_bucketFailedCheck = false;
        const DecodedBucket& bucket = m_decoder.current();
        if (m_helloReceived == 0) {
            // Until the peer's own hello has arrived and checked out, only
            // the hello exchange is acted on.
            DWORD skip = 0;
            const TokenRoute* route =
                bucket.kind() == kTokenBucket ? findRoute(bucket.Payload, bucket.BucketLen, skip) : nullptr;
            if (route == nullptr || !partOfHelloExchange(route->id)) {
                linkTrace(3, "CPacketConnection::FilterPollBuff() %s before the peer's hello: ignored",
                          route != nullptr ? tokenName(route->id) : "a bucket");
                continue;
            }
        }
        switch (bucket.kind()) {
        case kTokenBucket:
            CheckAcknowledgment(bucket.Payload, bucket.BucketLen);
            if (m_files.SendStatus() == SEND_USER_DISCONNECTING) {
                linkTrace(5, "CPacketConnection::FilterPollBuff()\n\tFileSendStatus == SEND_USER_DISCONNECTING");
                length = 0;
                return -1;
            }
            if (m_files.ReceiveStatus() == REC_USER_DISCONNECTING) {
                linkTrace(5, "CPacketConnection::FilterPollBuff()\n\tFileSendStatus == REC_USER_DISCONNECTING\n");
                length = 0;
                return -1;
            }
            break;
        case kFileBlockBucket:
            ReceiveData(bucket);
            break;
        case kChatBucket:
            ReceiveChatText(bucket);
            break;
        case kAudioBucket:
            StoreAudioFrame(bucket);
            break;
        case kSerialOutBucket:
            ReceiveSerialOutCommand(bucket);
            break;
        default:  // 4, 6, 10, 11
            ++m_stats.videoFramesReceived;
            StoreNewFrame(bucket);
            break;
        }
        // The brief lamp of a bucket, unless its check failed and lit the
        // longer one.
        if (!m_bucketFailedCheck && lampDue(m_receiveLamp)) m_host->showDataLamp(1, kActivityLampMs);
    }
}

LONG CPacketConnection::SendBucket(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo) {
    return SendBucketWithCheck(bucketType, payload, length, bucketNo, nullptr);
}

LONG CPacketConnection::SendBucketWithCheck(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo,
                                            const char* checkHeader) {
    std::lock_guard lock(m_bucketLock);
    const DWORD bytes = buildBucketWithCheck(m_sendBuffer, bucketType, payload, length, m_peerProtocolNumber,
                                             bucketNo, m_bucketBuffLen, checkHeader);
    if (bytes == 0) {
        linkTrace(1, "CPacketConnection::SendBucket() type %u: payload of %lu bytes does not fit a bucket",
                  static_cast<unsigned>(bucketType), static_cast<unsigned long>(length));
        return 0;
    }
    LONG written;
    {
        std::lock_guard writeLock(m_writeLock);
        written = ConnectWrite(m_sendBuffer.data(), bytes, 0, kBucketWriteQueue);
    }
    if (written != 0) {
        if (lampDue(m_sendLamp)) post(kMsgBytesWritten, 0, 1);
        if (written > 0) {
            m_stats.bytesSent += static_cast<ULONGLONG>(written);
            ++m_stats.bucketsSent;
        }
    }
    return written;
}

bool CPacketConnection::sendToken(WORD tokenId) {
    const std::string_view text = tokenText(tokenId);
    if (text.empty()) {
        return false;
    }
    return SendBucket(kTokenBucket, reinterpret_cast<const BYTE*>(text.data()),
                      static_cast<DWORD>(text.size())) != 0;
}

// ---- tokens ----

LONG CPacketConnection::SendAcknowledgment(WORD tokenId, BOOL) {
    std::lock_guard lock(m_bucketLock);
    const std::string_view text = tokenText(tokenId);
    if (text.empty()) {
        linkTrace(1, "CPacketConnection::SendAcknowledgment unknown token id %u", static_cast<unsigned>(tokenId));
        return 0;
    }
    linkTrace(5, "CPacketConnection::SendAcknowledgment %s", text.data());
    return SendBucket(kTokenBucket, reinterpret_cast<const BYTE*>(text.data()),
                      static_cast<DWORD>(text.size()));
}

LONG CPacketConnection::SendDisconnect() { return SendAcknowledgment(ID_DSVD_DISCONNECT); }
LONG CPacketConnection::SendGetMonkey() { return SendAcknowledgment(ID_DSVD_GETMONKEY); }
LONG CPacketConnection::SendGetSettings() { return SendAcknowledgment(ID_DSVD_GETSETTINGS); }
LONG CPacketConnection::SendGetSysSettings() { return SendAcknowledgment(ID_DSVD_GETSYSSETTINGS); }
LONG CPacketConnection::SendFreeEventsForRec() { return SendAcknowledgment(ID_DSVD_FREEEVENTSFORREC); }

LONG CPacketConnection::SendSetRecordMode(int mode) {
    if (mode == 1) return SendAcknowledgment(ID_DSVD_SETRECMODECYC);
    if (mode == 2) return SendAcknowledgment(ID_DSVD_SETRECMODEFIX);
    return 0;
}

LONG CPacketConnection::SendChatString(std::string_view text) {
    std::lock_guard lock(m_bucketLock);
    if (text.size() + 6 >= 1023999) {
        linkTrace(1, "CPacketConnection::SendChatString() %zu bytes do not fit a bucket", text.size());
        return 0;
    }
    return SendBucket(kChatBucket, reinterpret_cast<const BYTE*>(text.data()),
                      static_cast<DWORD>(text.size())) != 0 ? 1 : 0;
}

void CPacketConnection::StoreNewFrame(const DecodedBucket& bucket) {
    std::lock_guard lock(m_bucketLock);
    m_videoRx.StoreNewFrame(bucket);
}

void CPacketConnection::StoreAudioFrame(const DecodedBucket& bucket) {
    std::lock_guard lock(m_bucketLock);
    m_audioRx.StoreAudioFrame(bucket);
}

// ---- live audio and video ----

RemoteVideoWindow* CPacketConnection::videoWindow() {
    return m_videoWindow.window() != nullptr ? &m_videoWindow : nullptr;
}

void CPacketConnection::closeVideoStates() {
    const WORD local = m_videoStates.local();
    const WORD remote = m_videoStates.remote();
    m_videoStates.reset(local != VIDEO_NONE ? VIDEO_CLOSED : local, remote != VIDEO_NONE ? VIDEO_CLOSED : remote);
}

bool CPacketConnection::SendAudioFrame(const BYTE* payload, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    return trennick::SendAudioFrame(m_av, m_audioEnabled != 0, payload, length);
}

LONG CPacketConnection::SendFrame(WORD bucketType, const BYTE* frame, DWORD length) {
    std::lock_guard lock(m_bucketLock);
    if (!m_videoStates.framesAllowed()) {
        return 0;  // the peer paused or closed our video
    }
    return m_videoTx.SendFrame(m_av, bucketType, frame, length);
}

void CPacketConnection::SetVideoStatus(BYTE kind, WORD status) {
    std::lock_guard lock(m_bucketLock);
    m_videoStates.SetVideoStatus(m_av, kind, status);
}

WORD CPacketConnection::GetVideoSettings(int selector, VideoSettingsRecord& out) {
    std::lock_guard lock(m_bucketLock);
    return m_videoSettings.GetVideoSettings(selector, out, m_videoStates);
}

LONG CPacketConnection::SendVideoSettings(int selector, const BYTE* shortForm, const VideoSettingsRecord& record) {
    std::lock_guard lock(m_bucketLock);
    return m_videoSettings.SendVideoSettings(m_av, selector, shortForm, record);
}

void CPacketConnection::ReceiveSerialOutCommand(const DecodedBucket& bucket) {
    std::lock_guard lock(m_bucketLock);
    if (bucket.BucketLen == 0) {
        linkTrace(5, "CPacketConnection::ReceiveSerialOutCommand() CurrBucket.BucketLen =0");
        return;
    }
    if (bucket.BucketLen > kMaxBucketBytes) {
        linkTrace(1, "CPacketConnection::ReceiveSerialOutCommand() Error Bucket ;en %d", static_cast<int>(bucket.BucketLen));
        return;
    }
    if (!bucket.checksumMatches()) {
        errorLamp();
        linkTrace(1, "CPacketConnection::ReceiveSerialOutCommand() Failed!!! CRC Error!!!!");
        return;
    }
    if (m_serialOutSink == nullptr) {
        linkTrace(1, "CPacketConnection::ReceiveSerialOutCommand() Failed !!! pNightTessIntegration Error");
        return;
    }
    m_serialOutSink->serialOutMessage(bucket.Payload, bucket.BucketLen);
}

void CPacketConnection::ReceiveChatText(const DecodedBucket& bucket) {
    std::lock_guard lock(m_bucketLock);
    const char* text = reinterpret_cast<const char*>(bucket.Payload);
    const std::string_view line(text, strnlen(text, bucket.BucketLen));
    if (m_chatWindow != nullptr) {
        m_chatWindow->chatText(line);
        return;
    }
    if (m_window == nullptr) {
        return;
    }
    // The main frame opens the chat window and hands it to the link; the
    // text waits for it (a bounded amount: a window that never comes must
    // not let a peer grow the queue without end).
    if (m_pendingChat.empty()) {
        post(kMsgCommand, kCmdOpenChat, kOpenChatForPeerText);
    }
    if (m_pendingChatBytes + line.size() <= kMaxPendingChatBytes) {
        m_pendingChat.emplace_back(line);
        m_pendingChatBytes += line.size();
    } else {
        linkTrace(1, "CPacketConnection::ReceiveChatText() no chat window yet: %zu bytes dropped", line.size());
    }
}

// ---- hello ----

bool CPacketConnection::peerVersionHoldsAny(std::initializer_list<const char*> versions) {
    const std::string_view text(m_peerInfo.versionText, strnlen(m_peerInfo.versionText, sizeof m_peerInfo.versionText));
    for (const char* v : versions) {
        if (FindStringNoCase(v, text) >= 0) {
            return true;
        }
    }
    return false;
}

bool CPacketConnection::audioRefusedByOldPeer() {
    return m_audioClient != nullptr && m_audioClient->audioFlag() &&
           peerVersionHoldsAny({"2.5", "2.6", "2.7", "2.8", "2.81"});
}

LONG CPacketConnection::SendHello() {
    std::lock_guard lock(m_bucketLock);
    StationInfoBlock block{};
    block.length = kStationInfoBytes;
    const std::string title = loadString(kStrProgramTitle);
    fixed_text::Write(block.title, sizeof block.title, title);
    fixed_text::Write(block.versionText, sizeof block.versionText, title + " " + loadString(kStrProgramVersion));
    block.protocolNumber = kOwnProtocolNumber;
    block.versionNumber = kOwnVersionNumber;

    // The user's record as the users file keeps it: the name and the password
    // scrambled, each with the length of its scrambled text (a scrambled
    // text may end in zero bytes, so the receiver needs them to read it back);
    // the rights and the login time as they are.
    UserRecord user = m_host->loggedInUserRecord();
    auto scrambleField = [&](DWORD offset, DWORD lengthOffset) {
        char* field = reinterpret_cast<char*>(user.data() + offset);
        const std::string plain = fixed_text::Read(field, kUserTextFieldBytes);
        const std::string scrambled = m_identity != nullptr ? m_identity->encrypt(plain) : std::string();
        const WORD length = static_cast<WORD>(std::min<std::size_t>(scrambled.size(), kUserTextFieldBytes));
        std::memset(field, 0, kUserTextFieldBytes);
        std::memcpy(field, scrambled.data(), length);
        std::memcpy(user.data() + lengthOffset, &length, sizeof length);
    };
    scrambleField(kUserNameOffset, kUserNameLengthOffset);
    scrambleField(kUserPasswordOffset, kUserPasswordLengthOffset);
    std::memcpy(block.userRecord, user.data(), sizeof block.userRecord);
    m_host->localStationData(block.stationData, block.stationByte);

    WORD capabilities = (m_host->localNewLayout() ? kCapNewLayout : 0) | (m_host->localCapabilityFlags() & (kCapMainFrameFlag | kCapRefusesStationCalls));
    if (m_audioClient != nullptr && !audioRefusedByOldPeer()) {
        capabilities |= kCapAudio;
    }
    block.capabilities = capabilities;

    const bool newLayout = (m_peerCapabilities & kCapNewLayout) != 0;
    const std::vector<BYTE> payload = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), block, newLayout);
    const LONG written = SendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()));
    m_helloStartMs = now();
    ++m_helloAttempts;
    linkTrace(3, "CPacketConnection::SendHello() Hello Sent");
    return written;
}

void CPacketConnection::GetHello(const BYTE* body, DWORD length) {
    static constexpr const char* kWho = "CPacketConnection::GetHello()";
    const HelloParse parse = parseHelloBody(body, length);
    if (parse.form == HelloForm::Invalid) {
        linkTrace(1, "%s ERROR: Invalid CRC, read: %ld, calc: %ld", kWho,
                  static_cast<long>(parse.readChecksum), static_cast<long>(parse.calcChecksum));
        linkTrace(1, "%s Receive ERROR: Invalid info length", kWho);
        SetNotConnected();
        return;
    }
    if (parse.form == HelloForm::OldLayout) {
        // Every first hello comes in the older block (its sender does not
        // know our layout yet): its check failed only for the newer layout.
        linkTrace(5, "%s the block came in the older 1612-byte layout", kWho);
        m_peerInfoOld = parse.oldBlock;
    } else {
        m_peerInfoOld.reset();
    }
    m_peerInfo = parse.block;
    m_peerProtocolNumber = m_peerInfo.protocolNumber;
    m_peerVersionNumber = m_peerInfo.versionNumber;
    m_peerCapabilities = m_peerInfo.capabilities;
    m_decoder.setPeerProtocolNumber(m_peerProtocolNumber);
    m_host->setRemoteStationData(m_peerInfo.stationData, m_peerInfo.stationByte,
                                 (m_peerCapabilities & kCapMainFrameFlag) != 0);

    const bool outgoing = IsOutgoingCall() != FALSE;
    linkTrace(3, "CPacketConnection::GetHello(): %s, %s, P:%d, V:%d, %s, %s, %s, 0x%x", m_peerInfo.title,
              m_peerInfo.versionText, static_cast<int>(m_peerProtocolNumber),
              static_cast<int>(m_peerVersionNumber),
              parse.form == HelloForm::NewLayout ? "1609" : "1612",
              (m_peerCapabilities & kCapAudio) ? "audio" : "no audio", outgoing ? "outgoing" : "incoming",
              static_cast<unsigned>(m_peerCapabilities));
    linkTrace(3, outgoing ? "CPacketConnection::GetHello() WE MADE THE CALL"
                          : "CPacketConnection::GetHello() THEY MADE THE CALL");
    if (!outgoing && m_peerProtocolNumber > 3 && (m_peerCapabilities & kCapRefusesStationCalls)) {
        linkTrace(3, "Sending IDS_DSVD_REMOTEREJECTREMOTE");
        sendToken(ID_DSVD_REMREJREM);
        return;
    }
    if (m_peerCapabilities & kCapAudio) {
        linkTrace(3, "CPacketConnection::GetHello() Audio is supported by other side...");
        m_audioEnabled = 1;
        if (audioRefusedByOldPeer()) {
            m_audioEnabled = 0;
            linkTrace(3, "CPacketConnection::GetHello() Audio is disabled due to Velmoor audio flag(Old Versions support)");
        }
    } else {
        m_audioEnabled = 0;
        linkTrace(3, "CPacketConnection::GetHello() Audio is not supported by other side...");
    }
    if (m_remoteView != nullptr) {
        m_remoteView->protocolVersionKnown(GetProtocolVersion());
    }
    linkTrace(3, "CPacketConnection::GetHello() Got Hello Bucket O.K Send IDS_DSVD_OKHELLO");
    sendToken(ID_DSVD_OKHELLO);
    m_helloReceived = 1;
}

LONG CPacketConnection::CheckTimeOuts() {
    std::lock_guard lock(m_bucketLock);
    const DWORD t = now();
    m_files.CheckReceiveTimeOut();
    if (m_setupTimed && !(m_helloAccepted != 0 && m_helloReceived == 1) &&
        t - m_setupStartMs > m_setupLimitMs) {
        // A caller that connects and never finishes its hello (silent, slow or
        // sending noise) would hold the line and keep every other station out.
        linkTrace(1, "CPacketConnection::CheckTimeOuts() the hello exchange did not finish within %u ms",
                  static_cast<unsigned>(m_setupLimitMs));
        m_setupTimed = false;
        return -2;
    }
    if (m_helloReceived != 0 && m_failedLogins == 0 && m_helloAccepted == 0 &&
        t - m_helloStartMs > m_helloRetryPeriodMs) {
        if (m_helloAttempts >= m_helloRetryLimit) {
            linkTrace(1, "CPacketConnection::CheckTimeOuts() Hello time out");
            return -2;
        }
        // What the line did not take goes again at the next retry.
        const bool hello = SendHello() != 0;
        const bool site = SendSiteInfo() != 0;
        if (!hello || !site) {
            linkTrace(3, "CPacketConnection::CheckTimeOuts() the hello's retry was not written");
        }
    }
    return 1;
}

BOOL CPacketConnection::IsConnected() {
    std::lock_guard lock(m_bucketLock);
    return m_helloAccepted != 0 && m_helloReceived == 1;
}

LONG CPacketConnection::SetHoldCall(int side, bool on) {
    std::lock_guard lock(m_bucketLock);
    if (side == kHoldLocal) {
        sendToken(on ? ID_DSVD_HOLDCALL : ID_DSVD_CANCELHOLDCALL);
    }
    const BYTE bit = side == kHoldLocal ? 1 : 2;
    if (on) {
        m_holdBits |= bit;
    } else {
        m_holdBits &= static_cast<BYTE>(~bit);
    }
    if (m_remoteView != nullptr) {
        m_remoteView->holdChanged(side, on);
    }
    return 1;
}

int CPacketConnection::GetProtocolVersion() {
    std::lock_guard lock(m_bucketLock);
    return (m_peerCapabilities & kCapNewLayout) ? 2 : 1;
}

LONG CPacketConnection::GetPeerProtocolNumber() {
    std::lock_guard lock(m_bucketLock);
    return m_peerProtocolNumber;
}

// ---- resets ----

void CPacketConnection::resetState(bool capabilityProtocol2) {
    std::lock_guard lock(m_bucketLock);
    m_files.ResetStates();
    m_videoStates.reset(1, VIDEO_NONE);
    m_videoRx.reset();
    m_videoTx.reset();
    m_holdBits = 0;
    m_peerInfo = StationInfoBlock{};
    m_peerInfoOld.reset();
    m_peerProtocolNumber = 0;
    m_peerVersionNumber = 0;
    m_peerCapabilities = capabilityProtocol2 ? kCapNewLayout : 0;
    m_decoder.setPeerProtocolNumber(0);
    // A new call starts its hello exchange afresh.
    m_helloReceived = 0;
    m_helloAccepted = 0;
    m_helloAttempts = 0;
    m_helloStartMs = 0;
    m_failedLogins = 0;
    m_audioEnabled = 0;
    TouchActivity();
    if (m_chatWindow != nullptr) {
        m_chatWindow->UpdateTitle("");
    }
    m_pendingChat.clear();
    m_pendingChatBytes = 0;
    m_statsIntervalStartMs = now();
    m_stats = LinkStatistics{};
    m_figuresStartMs = m_statsIntervalStartMs;
    m_figuresBase = LinkStatistics{};
    m_bytesAlreadyCounted = 0;
    m_disconnectTimeMs = 0;
    m_lastSyncReceivedMs = 0;
    m_lastSyncSentMs = 0;
    m_finished = false;
    resetServices();
}

void CPacketConnection::resetServices() {
    m_files.ResetFiles();
    m_myCard = tagBusinessCard{};
    m_peerCard = tagBusinessCard{};
    m_myCardStatus = 0;
    m_peerCardStatus = 0;
}

void CPacketConnection::InitializePakconnState() {
    linkTrace(5, "CPacketConnection::InitializePakconnState()");
    resetState(false);
    std::lock_guard lock(m_bucketLock);
    m_setupTimed = false;
}

void CPacketConnection::ResetLinkState() {
    resetState(true);
    // A new call: its hello exchange is timed from now.
    std::lock_guard lock(m_bucketLock);
    m_setupStartMs = now();
    m_setupTimed = true;
}

// ---- accessors ----

BYTE CPacketConnection::GetHoldStatus() {
    std::lock_guard lock(m_bucketLock);
    return m_holdBits;
}

LONG CPacketConnection::SetHelloRetry(DWORD periodMs, DWORD limit) {
    std::lock_guard lock(m_bucketLock);
    m_helloRetryPeriodMs = periodMs;
    m_helloRetryLimit = limit;
    return 1;
}

void CPacketConnection::SetSessionSetupLimit(DWORD limitMs) {
    std::lock_guard lock(m_bucketLock);
    m_setupLimitMs = limitMs == 0 ? kSessionSetupLimitMs : limitMs;
}

DWORD CPacketConnection::SessionSetupLimit() {
    std::lock_guard lock(m_bucketLock);
    return m_setupLimitMs;
}

void CPacketConnection::SetAudComp(LinkAudioClient* client) {
    std::lock_guard lock(m_bucketLock);
    m_audioClient = client;
    m_audioRx.setCodec(client);
}

void CPacketConnection::SetChatWindow(LinkChatWindow* window) {
    std::lock_guard lock(m_bucketLock);
    m_chatWindow = window;
    if (window != nullptr) {
        for (const std::string& line : m_pendingChat) window->chatText(line);
    }
    m_pendingChat.clear();
    m_pendingChatBytes = 0;
}

void CPacketConnection::SetVideoTarget(RemoteFrameList* frameList) {
    std::lock_guard lock(m_bucketLock);
    m_videoTarget = frameList;
    m_videoRx.setFrameList(frameList);
}

void CPacketConnection::SetVideoWindow(LinkVideoWindow* window) {
    std::lock_guard lock(m_bucketLock);
    m_videoWindow.setWindow(window);
    m_videoRx.setVideoWindow(videoWindow());
}

void CPacketConnection::SetNetworkVideoOutput(VideoOutNet* output) {
    std::lock_guard lock(m_bucketLock);
    m_videoRx.setNetworkOutput(output);
}

void CPacketConnection::SetSerialVideoPort(SerialVideoPort* port) {
    std::lock_guard lock(m_bucketLock);
    m_videoRx.setSerialPort(port);
}

void CPacketConnection::SetSelectedCamera(std::function<int()> camera) {
    std::lock_guard lock(m_bucketLock);
    m_videoRx.setSelectedCamera(std::move(camera));
}

void CPacketConnection::SetRemoteView(RemoteViewSink* view) {
    std::lock_guard lock(m_bucketLock);
    m_remoteView = view;
}

void CPacketConnection::SetFiguresSink(LinkFiguresSink* sink) {
    std::lock_guard lock(m_bucketLock);
    m_figuresSink = sink;
    m_figuresStartMs = now();
    m_figuresBase = m_stats;
}

void CPacketConnection::reportFigures() {
    constexpr DWORD kFiguresPeriodMs = 1000;
    const DWORD t = now();
    const DWORD elapsed = t - m_figuresStartMs;
    if (m_figuresSink == nullptr || elapsed < kFiguresPeriodMs) return;
    const auto perSecond = [elapsed](ULONGLONG count, ULONGLONG scale) {
        return DWORD(std::min<ULONGLONG>(count * scale / elapsed, 0xFFFFFFFFu));
    };
    const ULONGLONG bytes = m_stats.bytesSent + m_stats.bytesReceived;
    const ULONGLONG baseBytes = m_figuresBase.bytesSent + m_figuresBase.bytesReceived;
    LinkFigures figures;
    figures.charsPerSecond = perSecond(bytes - std::min(bytes, baseBytes), 1000);
    figures.framesPerSecondHundredths =
        perSecond(m_stats.videoFramesReceived - std::min(m_stats.videoFramesReceived, m_figuresBase.videoFramesReceived),
                  100000);
    figures.bucketsReceived = m_stats.bucketsReceived - std::min(m_stats.bucketsReceived, m_figuresBase.bucketsReceived);
    figures.bucketsSent = m_stats.bucketsSent;
    m_files.GetErrorCounts(figures.sendRetries, figures.receiveErrors);
    m_figuresSink->linkFigures(figures);
    m_figuresStartMs = t;
    m_figuresBase = m_stats;
}

void CPacketConnection::UpdateVideoWindow() {
    std::lock_guard lock(m_bucketLock);
    if (m_videoWindow.window() != nullptr) {
        m_videoWindow.UpdateVideoMgr();
    }
}

void CPacketConnection::SetReceiveFolders(const char* receiveFolder, const char* specialFolder) {
    std::lock_guard lock(m_bucketLock);
    m_files.SetReceiveFolders(receiveFolder, specialFolder);
}

StationInfoBlock CPacketConnection::GetRemoteStationInfo() {
    std::lock_guard lock(m_bucketLock);
    return m_peerInfo;
}

std::optional<OldStationInfoBlock> CPacketConnection::GetRemoteInfo() {
    std::lock_guard lock(m_bucketLock);
    if (GetProtocolVersion() == 2) {
        return std::nullopt;
    }
    return m_peerInfoOld ? *m_peerInfoOld : toOldLayout(m_peerInfo);
}

bool CPacketConnection::IsAdminConnected() {
    if (!IsOutgoingCall()) {
        return false;
    }
    const std::string name = userName(m_host->loggedInUserRecord());
    return name.size() == 5 && FindStringNoCase("ADMIN", name) == 0;
}

bool CPacketConnection::IsAudioEnabled(BOOL& enabled) {
    std::lock_guard lock(m_bucketLock);
    if (!IsConnected()) {
        return false;
    }
    enabled = m_audioEnabled;
    return true;
}

bool CPacketConnection::FileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

// ---- file transfer ----

LONG CPacketConnection::CheckReceiveCompletion() {
    std::lock_guard lock(m_bucketLock);
    return m_files.CheckReceiveCompletion();
}

LONG CPacketConnection::ProcessSending() {
    std::lock_guard lock(m_bucketLock);
    m_files.ProcessSending();
    // Our card is sent again until the peer confirms it.
    if ((m_myCardStatus & kCardSent) && now() - m_myCardSentMs > kCardResendMs) {
        SendMyCard(nullptr);
    }
    return m_files.SendStatus();
}

LONG CPacketConnection::SetSendStatus(LONG command, LONG value, const char* text) {
    std::lock_guard lock(m_bucketLock);
    return m_files.SetSendStatus(command, value, text);
}

LONG CPacketConnection::SetReceiveStatus(LONG command, const char* text) {
    std::lock_guard lock(m_bucketLock);
    return m_files.SetReceiveStatus(command, text);
}

LONG CPacketConnection::CancelSending() {
    std::lock_guard lock(m_bucketLock);
    return m_files.CancelSending();
}

LONG CPacketConnection::GetSendStatus(ULONGLONG* totalBytes, ULONGLONG* sentBytes, LONG* kind, LONG* rate,
                                      std::string* name) const {
    std::lock_guard lock(m_bucketLock);
    return m_files.GetSendStatus(totalBytes, sentBytes, kind, rate, name);
}

LONG CPacketConnection::GetReceiveStatus(ULONGLONG* totalBytes, ULONGLONG* receivedBytes, LONG* kind, LONG* rate,
                                         std::string* name) const {
    std::lock_guard lock(m_bucketLock);
    return m_files.GetReceiveStatus(totalBytes, receivedBytes, kind, rate, name);
}

void CPacketConnection::GetTransferSizes(ULONGLONG& sentSize, ULONGLONG& receivedSize) {
    std::lock_guard lock(m_bucketLock);
    m_files.GetTransferSizes(sentSize, receivedSize);
}

void CPacketConnection::GetTransferProgress(int which, ULONGLONG& bytes, DWORD& elapsedMs) {
    std::lock_guard lock(m_bucketLock);
    m_files.GetTransferProgress(which, bytes, elapsedMs);
}

void CPacketConnection::GetErrorCounts(DWORD& sendRetries, DWORD& receiveErrors) {
    std::lock_guard lock(m_bucketLock);
    m_files.GetErrorCounts(sendRetries, receiveErrors);
}

bool CPacketConnection::GetReceivedFileName(std::string& path) {
    std::lock_guard lock(m_bucketLock);
    return m_files.GetReceivedFileName(path);
}

void CPacketConnection::ReceiveData(const DecodedBucket& bucket) {
    std::lock_guard lock(m_bucketLock);
    m_files.ReceiveData(bucket);
}

LONG CPacketConnection::GetFileSendStatus() const {
    std::lock_guard l(m_bucketLock);
    return m_files.SendStatus();
}
LONG CPacketConnection::GetFileReceiveStatus() const {
    std::lock_guard l(m_bucketLock);
    return m_files.ReceiveStatus();
}
WORD CPacketConnection::GetLocalVideoStatus() { std::lock_guard l(m_bucketLock); return m_videoStates.local(); }
WORD CPacketConnection::GetRemoteVideoStatus() { std::lock_guard l(m_bucketLock); return m_videoStates.remote(); }
BYTE CPacketConnection::GetHelloReceived() { std::lock_guard l(m_bucketLock); return m_helloReceived; }
BYTE CPacketConnection::GetHelloAccepted() { std::lock_guard l(m_bucketLock); return m_helloAccepted; }
DWORD CPacketConnection::GetFailedLogins() { std::lock_guard l(m_bucketLock); return m_failedLogins; }
void CPacketConnection::GetLinkStatistics(LinkStatistics& out) {
    std::lock_guard lock(m_bucketLock);
    out = m_stats;
    out.elapsedMs = now() - m_statsIntervalStartMs;
}

}  // namespace trennick
