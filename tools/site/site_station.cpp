#include "tools/site/site_station.h"

#include "common/fixed_text.h"
#include "trennick/remset/remote_set_list.h"

#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/folders.h"
#include "platform/replace_file.h"
#include "tavicore/event_file.h"
#include "tavicore/stills_devices.h"
#include "tavicore/users_manager.h"
#include "tools/site/block_encoder.h"
#include "tools/site/login_gate.h"
#include "tools/site/test_pattern.h"
#include "trennick/link/bucket.h"
#include "trennick/link/common_base.h"
#include "trennick/link/link_states.h"
#include "trennick/link/cards.h"
#include "trennick/link/event_requests.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/hw_profile_list.h"
#include "trennick/link/link_payloads.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/trigger_list.h"
#include "tools/site/site_audio.h"
#include "trennick/net/inet_connection.h"
#include "zoenc/zoenc_lib.h"

#include <algorithm>
#include <array>
#include <optional>
#include <cctype>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include <QObject>
#include <QTimer>

namespace site {

using namespace trennick;

namespace {

DWORD nowMs() {
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count());
}

bool startsWithNoCase(const BYTE* payload, DWORD length, std::string_view text) {
    if (length < text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(payload[i]) != std::tolower(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

void putText(std::vector<BYTE>& out, std::size_t at, std::size_t field, const std::string& text) {
    const std::size_t n = std::min(text.size(), field - 1);
    std::memcpy(out.data() + at, text.data(), n);
}

// One record of the hardware-profile list: 8-byte head, then the fields.
std::vector<BYTE> deviceRecord(WORD kind, WORD adapter, WORD index, std::size_t length) {
    std::vector<BYTE> r(length, 0);
    const WORD head[4] = {WORD(length), kind, adapter, index};
    std::memcpy(r.data(), head, sizeof head);
    return r;
}

// Tokens the site answers, as the operator sends them.
constexpr WORD kWatchedTokens[] = {ID_DSVD_OKVIDEOOPEN,  ID_DSVD_NOVIDEOOPEN,    ID_DSVD_VIDEORPAUSE,
                                   ID_DSVD_VIDEORRESUME, ID_DSVD_CLOSEYOURVIDEO, ID_DSVD_ERRORKVFRAME,
                                   ID_DSVD_CIFF,         ID_DSVD_QCIF,           ID_DSVD_YOURVIDEOSETTINGS,
                                   ID_DSVD_LUMORARPC,    ID_DSVD_GETSETTINGS,    ID_DSVD_GETSNAP};

struct SeenToken {
    WORD id;
    std::vector<BYTE> body;
};

// The TCP link of the site: notes the tokens that the link leaves to its
// application, for the site's loop to act on.
class SiteLink : public CInetConnection {
public:
    using CInetConnection::CInetConnection;
    ~SiteLink() override = default;
    // The user record of the peer's last hello, as it came (the link keeps
    // the record of a hello in the older layout zeroed).
    std::optional<std::array<BYTE, kUserRecordBytes>> userRecord() {
        std::lock_guard lock(m_seenLock);
        return m_userRecord;
    }
    std::vector<SeenToken> takeTokens() {
        std::lock_guard lock(m_seenLock);
        return std::exchange(m_seen, {});
    }
    // A call ends or begins: nothing its caller said is kept.
    void forgetCaller() {
        std::lock_guard lock(m_seenLock);
        m_seen.clear();
        m_userRecord.reset();
    }

protected:
    void OnTokenBucket(const BYTE* payload, DWORD length) override {
        const std::string_view hello = tokenText(ID_DSVD_HELLO_V1_2);
        if (startsWithNoCase(payload, length, hello)) {
            const HelloParse parse = parseHelloBody(payload + hello.size(), length - DWORD(hello.size()));
            std::array<BYTE, kUserRecordBytes> record{};
            if (parse.form == HelloForm::NewLayout) std::memcpy(record.data(), parse.block.userRecord, record.size());
            if (parse.form == HelloForm::OldLayout) std::memcpy(record.data(), parse.oldBlock.userRecord, record.size());
            std::lock_guard lock(m_seenLock);
            if (parse.form != HelloForm::Invalid) m_userRecord = record;
            return;
        }
        for (WORD id : kWatchedTokens) {
            const std::string_view text = tokenText(id);
            if (startsWithNoCase(payload, length, text)) {
                std::lock_guard lock(m_seenLock);
                if (m_seen.size() < 256) {
                    m_seen.push_back({id, std::vector<BYTE>(payload + text.size(), payload + length)});
                }
                return;
            }
        }
    }

private:
    std::mutex m_seenLock;
    std::vector<SeenToken> m_seen;
    std::optional<std::array<BYTE, kUserRecordBytes>> m_userRecord;
};

struct Posted {
    UINT message;
    WPARAM wParam;
    std::unique_ptr<platform::PostedData> data;
};

// The site's owner window: keeps what the link posts for the loop, and
// tells of arriving bytes at once, so the site answers (and sends the next
// file block) without waiting for its next pass.
class SiteWindow : public LinkWindow {
public:
    void setDataNotice(std::function<void()> notice) { m_dataNotice = std::move(notice); }
    void postMessage(UINT message, WPARAM wParam, LPARAM) override {
        if (message == kMsgLinkDataReady) return dataReady();
        push({message, wParam, nullptr});
    }
    LRESULT sendMessage(UINT message, WPARAM wParam, LPARAM) override {
        if (message == kMsgLinkDataReady) {
            dataReady();
            return 0;
        }
        push({message, wParam, nullptr});
        return 0;
    }
    void postData(UINT message, WPARAM wParam, std::unique_ptr<platform::PostedData> data) override {
        push({message, wParam, std::move(data)});
    }
    std::deque<Posted> take() {
        std::lock_guard lock(m_lock);
        return std::exchange(m_posted, {});
    }

private:
    void dataReady() {
        if (m_dataNotice) m_dataNotice();
    }
    void push(Posted p) {
        std::lock_guard lock(m_lock);
        if (m_posted.size() < 1024) m_posted.push_back(std::move(p));
    }
    std::function<void()> m_dataNotice;
    std::mutex m_lock;
    std::deque<Posted> m_posted;
};

// What the site's hello says of it.
constexpr const char* kSiteTitle = "Velmoor stand-in site";
constexpr const char* kSiteVersion = "Version 1.0";

// A refused caller's line is dropped this long after the refusal went, when
// it has not hung up itself by then.
constexpr DWORD kRefusedLineMs = 2000;

}  // namespace

class SiteStation::Impl : public LinkHost, public LinkIdentity {
public:
    Impl(SiteOptions options, std::function<void(const std::string&)> log)
        : m_options(std::move(options)), m_log(std::move(log)) {
        m_options.cameras = std::clamp(m_options.cameras, 1, int(kCamerasPerAdapter));
        m_options.frameRate = std::clamp(m_options.frameRate, 1, 30);
        buildProfile();
        LinkServices services;
        services.window = &m_window;
        services.host = this;
        services.identity = this;
        services.settings = LinkSettings{};
        services.clock = m_options.clock;
        // The hello carries the site's title and version (the link reads them
        // as string resources, which this program has no others of).
        CCommon::setStringLoader([](UINT id) {
            if (id == kStrProgramTitle) return std::string(kSiteTitle);
            return std::string(id == kStrProgramVersion ? kSiteVersion : "");
        });
        // Arriving bytes run a pass at once (queued: the link tells of them
        // in the middle of its own work).
        m_window.setDataNotice([this] {
            if (m_passQueued) return;
            m_passQueued = true;
            QTimer::singleShot(0, &m_context, [this] {
                m_passQueued = false;
                pass();
            });
        });
        InetOptions line{std::to_string(m_options.port), "", nullptr};
        line.anyListenPort = m_options.port == 0;
        m_link = std::make_unique<SiteLink>(services, line);
        m_comms.ListenAfterDisconnect = 1;
        m_link->SetCommsSettings(&m_comms);
        if (m_options.audio) {
            // The hello tells the operator that this site has audio only when it can send it.
            m_audio = std::make_unique<SiteAudio>();
            if (m_audio->Open()) {
                m_link->SetAudComp(m_audio.get());
            } else {
                say("audio: the speech codec cannot be opened; no audio is sent");
                m_audio.reset();
            }
        }
        if (m_options.eventsFolder.empty()) m_options.eventsFolder = (platform::homeFolder() / "site-events").string();
        std::filesystem::create_directories(m_options.eventsFolder);
        if (m_options.settingsList.empty()) {
            const std::filesystem::path folder = platform::homeFolder() / "site-settings";
            std::filesystem::create_directories(folder);
            m_options.settingsList = (folder / "SetList.Bin").string();
        }
        evSetEventsStorageRoot(m_options.eventsFolder.c_str());
        setSize(m_options.stream == Stream::Block ? kBlockStreamWidth : 352,
                m_options.stream == Stream::Block ? kBlockStreamHeight : 288);
    }
    ~Impl() override {
        m_link->SetAudComp(nullptr);
        m_encoder.reset();
        if (m_comInitialised) CoUninitialize();
    }

    // ---- LinkHost ----
    bool localNewLayout() override { return m_options.stream == Stream::H263; }
    bool editLocalHWProfile(const std::function<bool(tagHWProfile&)>& edit) override {
        // The link asks at once, maybe before this pass gave the verdict of
        // a login that is not held: such a login is taken as it will be.
        WORD refusal = 0;
        const bool accepted = m_session.login == Login::Accepted ||
                              (m_session.login == Login::Awaiting && connected() &&
                               m_gate.HoldFor(m_session.caller) == 0 && loginAccepted(refusal));
        if (!accepted) {
            ++m_counters.requestsDiscarded;
            say("request of a caller not logged in discarded");
            return false;
        }
        tagHWProfile copy = m_profile;
        if (edit(copy)) {
            for (int r = 0; r < 16; ++r) {
                if (copy.adapters[0].relays[r].state != m_profile.adapters[0].relays[r].state) {
                    say("relay " + std::to_string(r) + " set to " + std::to_string(copy.adapters[0].relays[r].state));
                }
            }
            // A page selected is the quad input; otherwise one camera.
            const bool quad = readDeviceData(copy.adapters[0]).pageSelected != 0;
            const int camera = std::min<int>(copy.adapters[0].selectedInput, m_options.cameras - 1);
            if (quad != m_quad || (!quad && camera != m_camera)) {
                say(quad ? std::string("quad input selected")
                         : "camera " + std::to_string(copy.adapters[0].selectedInput) + " selected");
                m_keyNext = true;
            }
            m_quad = quad;
            m_camera = camera;
            m_profile = copy;
        }
        return true;
    }

    // ---- LinkIdentity ----
    std::string encrypt(std::string_view text) override { return CUsersManager::Encrypt(text); }
    bool thisSiteInfo(SiteInfoBlock& site) override {
        site = SiteInfoBlock{};
        fixed_text::Write(site.guid, sizeof site.guid, m_options.siteId);
        fixed_text::Write(site.siteName, sizeof site.siteName, m_options.siteName);
        fixed_text::Write(site.sitePhone, sizeof site.sitePhone, m_options.sitePhone);
        return true;
    }

    bool open() {
        if (!m_link->ConnectToLan()) return false;
        if (m_link->SetListenOn(0) != 1) return false;
        say("listening on port " + std::to_string(m_link->GetBoundListenPort()));
        return true;
    }
    WORD listenPort() const { return m_link->GetBoundListenPort(); }

    void pass() {
        const LONG r = m_link->TimeToRead();
        if (r == -3) {
            ++m_counters.calls;
            forgetCaller();
            m_session = Session{};
            m_session.caller = m_link->GetPeerAddress();
            sent(m_link->SendHello(), "SendHello");
        } else if (r == -4 || r == -5 || r == -2) {
            endCall("the line went down");
        }
        if (m_link->IsLinkDown() && m_link->SetListenOn(0) == 1) {
            say("listening on port " + std::to_string(m_link->GetBoundListenPort()));
        }
        if (!m_link->IsLinkUp() || !m_link->IsConnected()) return;
        if (!keepLineAlive()) return;
        if (m_session.login == Login::Awaiting || m_session.login == Login::Held) checkLogin();
        if (m_session.login == Login::Refused) {
            discardCallerRequests();
            if (nowMs() - m_session.refusedAtMs > kRefusedLineMs) endCall("login refused");
            return;
        }
        // Requests wait (unserved) while the login is held.
        if (m_session.login != Login::Accepted) return;
        handlePosted();
        handleTokens();
        sendFiles();
        sendVideo();
        sendAudio();
    }

    void hangUp(DWORD waitMs) {
        if (!connected()) return;
        sent(m_link->SendDisconnect(), "SendDisconnect");
        // The token leaves through the link's writer; the line is dropped
        // once nothing waits to be sent (or the wait ran out).
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (m_link->GetQueueSize(1) != 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        endCall("the site closed");
    }

    bool alarm(int camera) {
        if (!connected() || m_session.login != Login::Accepted) return false;
        camera = ((camera % m_options.cameras) + m_options.cameras) % m_options.cameras;
        ++m_counters.alarms;
        sendTrigger(camera);
        const std::string path = recordEvent(camera);
        if (!path.empty()) {
            m_files.push_back({path, kFileKindEvent});
            ++m_counters.eventFilesSent;
        }
        say("alarm on camera " + std::to_string(camera + 1) + (path.empty() ? " (no event file)" : ": " + path));
        return true;
    }

    WORD videoState() const { return m_video; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    const tagHWProfile& profile() const { return m_profile; }
    bool connected() { return m_link->IsLinkUp() && m_link->IsConnected(); }

    SiteCounters m_counters;

private:
    enum class Login { Awaiting, Held, Accepted, Refused };
    struct Session {
        Login login = Login::Awaiting;
        std::string caller;        // the caller's address
        DWORD checkAtMs = 0;       // a held login is checked from then on
        DWORD refusedAtMs = 0;
    };
    struct QueuedFile {
        std::string path;
        int kind;
    };

    void say(const std::string& line) {
        if (m_log) m_log(line);
    }

    // Says so when the line did not take what was sent (`written` 0).
    void sent(LONG written, const char* what) {
        if (written == 0) say(std::string(what) + ": not written to the line");
    }

    void endCall(const char* why) {
        if (m_link->IsLinkUp() || m_video != VIDEO_NONE || !m_session.caller.empty()) {
            say(std::string("call ended: ") + why);
        }
        m_link->SetNotConnected(TRUE);
        m_video = VIDEO_NONE;
        m_files.clear();
        // Nothing the caller asked outlives its call.
        forgetCaller();
        m_session = Session{};
    }

    void forgetCaller() {
        m_link->forgetCaller();
        m_window.take();
    }

    // Sends the line sync when due; false (and the call ended) when the
    // operator's syncs stopped.
    bool keepLineAlive() {
        if (m_link->CheckSync() == 0) {
            say("the operator's line syncs stopped");
            endCall("the line went silent");
            return false;
        }
        (void)m_link->SendLineSync();  // due once a period only: most calls send nothing
        return true;
    }

    // What a caller not (or not yet) logged in asked is dropped; a file it
    // sent is deleted.
    void discardCallerRequests() {
        int dropped = int(m_link->takeTokens().size());
        for (Posted& p : m_window.take()) {
            ++dropped;
            if (p.message == kMsgFileReceivedKind1 || p.message == kMsgFileReceivedKind2 ||
                p.message == kMsgFileReceivedKind3 || p.message == kMsgFileReceivedKind4) {
                std::string received;
                std::error_code error;
                if (m_link->GetReceivedFileName(received)) std::filesystem::remove(received, error);
            }
        }
        if (dropped == 0) return;
        m_counters.requestsDiscarded += dropped;
        say(std::to_string(dropped) + " request(s) of a caller not logged in discarded");
    }

    // The shape this site reports in its hardware profile: one adapter with
    // its cameras and four relays.
    void buildProfile() {
        m_profile = tagHWProfile{};
        m_profile.adaptersNumber = 1;
        m_profile.adapters[0].camerasNumber = WORD(m_options.cameras);
        m_profile.adapters[0].relaysNumber = 4;
        m_profile.adapters[0].selectedInput = 0;
    }

    // ---- the session's opening ----

    bool loginAccepted(WORD& refusal) {
        if (m_options.user.empty()) return true;
        const std::optional<std::array<BYTE, kUserRecordBytes>> user = m_link->userRecord();
        if (!user) {
            refusal = ID_DSVD_WRONGUSER;
            return false;
        }
        const BYTE* record = user->data();
        // A field holds the scrambled text (random start, random bits behind
        // its end) and zeros behind it: its text is what the bytes up to the
        // last non-zero one say (one more when the text's own last byte is 0).
        auto matches = [&](DWORD offset, const std::string& expected) {
            const char* f = reinterpret_cast<const char*>(record + offset);
            std::size_t used = kUserTextFieldBytes;
            while (used > 0 && f[used - 1] == 0) --used;
            for (std::size_t n = used; n <= std::min<std::size_t>(used + 1, kUserTextFieldBytes); ++n) {
                if (n > 0 && CUsersManager::Decrypt(std::string_view(f, n)) == expected) return true;
            }
            return expected.empty() && used == 0;
        };
        if (!matches(kUserNameOffset, m_options.user)) {
            refusal = ID_DSVD_WRONGUSER;
            return false;
        }
        if (!matches(kUserPasswordOffset, m_options.password)) {
            refusal = ID_DSVD_WRONGPWD;
            return false;
        }
        return true;
    }

    // The login of the caller's hello: held first when its address was
    // refused before, then accepted or refused.
    void checkLogin() {
        const DWORD now = nowMs();
        if (m_session.login == Login::Awaiting) {
            const DWORD hold = m_gate.HoldFor(m_session.caller);
            if (hold != 0) {
                ++m_counters.loginsHeld;
                m_session.login = Login::Held;
                m_session.checkAtMs = now + hold;
                say("login from " + m_session.caller + " held " + std::to_string(hold) + " ms after " +
                    std::to_string(m_gate.Refusals(m_session.caller)) + " refused login(s)");
                return;
            }
        } else if (static_cast<std::int32_t>(now - m_session.checkAtMs) < 0) {
            return;
        }
        WORD refusal = 0;
        if (!loginAccepted(refusal)) {
            ++m_counters.loginsRefused;
            m_gate.Refused(m_session.caller);
            m_session.login = Login::Refused;
            m_session.refusedAtMs = now;
            say(refusal == ID_DSVD_WRONGUSER ? "login refused: unknown user" : "login refused: wrong password");
            sent(m_link->SendAcknowledgment(refusal), "SendAcknowledgment");
            sent(m_link->SendDisconnect(), "SendDisconnect");
            return;
        }
        m_gate.Accepted(m_session.caller);
        m_session.login = Login::Accepted;
        say("operator logged in");
        sent(m_link->SendSiteInfo(), "SendSiteInfo");
        sendProfile();
        if (m_options.video) openVideo();
    }

    void sendProfile() {
        std::vector<BYTE> list;
        auto add = [&](const std::vector<BYTE>& r) { list.insert(list.end(), r.begin(), r.end()); };
        std::vector<BYTE> site = deviceRecord(DEVICE_ID_SITE, 0, 0, 44);
        site[8] = 2;  // profile version
        putText(site, 12, 30, m_options.siteName);
        add(site);
        std::vector<BYTE> adapter = deviceRecord(DEVICE_ID_ADAPTER, 0, 0, 40);
        putText(adapter, 8, 30, "Synthetic camera card");
        add(adapter);
        std::vector<BYTE> videoIn = deviceRecord(DEVICE_ID_VIDEO_IN, 0, 0, 20);
        videoIn[8] = BYTE(m_camera);
        videoIn[12] = 1;  // video detected
        videoIn[13] = videoIn[14] = videoIn[15] = videoIn[16] = 128;
        add(videoIn);
        for (int c = 0; c < m_options.cameras; ++c) {
            std::vector<BYTE> camera = deviceRecord(DEVICE_ID_CAMERA, 0, WORD(c), 40);
            putText(camera, 10, 30, "Camera " + std::to_string(c + 1));
            add(camera);
        }
        if (m_options.quadInput && m_options.cameras >= 4) {
            // The quad input (a camera record of type 1): cameras 1 to 4 at once.
            std::vector<BYTE> quad = deviceRecord(DEVICE_ID_CAMERA, 0, 0, 40);
            quad[8] = 1;
            putText(quad, 10, 30, "Quad 1-4");
            add(quad);
        }
        for (int r = 0; r < 4; ++r) {
            std::vector<BYTE> relay = deviceRecord(DEVICE_ID_RELAY, 0, WORD(r), 44);
            putText(relay, 12, 30, "Relay " + std::to_string(r + 1));
            add(relay);
        }
        std::vector<BYTE> memory = deviceRecord(DEVICE_ID_MEM_RANGE, 0, 0, 16);
        memory[8] = 4;
        const DWORD frames = 1000;
        std::memcpy(memory.data() + 10, &frames, 4);
        add(memory);
        std::vector<BYTE> info = deviceRecord(DEVICE_SITE_INFO, 0, 0, 132);
        putText(info, 8, 30, m_options.siteName);
        putText(info, 38, 30, m_options.sitePhone);
        putText(info, 68, 64, m_options.siteId);
        add(info);
        const std::vector<BYTE> payload =
            buildGuardedPayload(tokenText(ID_DSVD_HWPROFILE_V1_2), list.data(), DWORD(list.size()));
        sent(m_link->SendBucket(kTokenBucket, payload.data(), DWORD(payload.size())), "SendBucket");
        say("hardware profile sent: " + std::to_string(m_options.cameras) + " cameras, 4 relays");
    }

    // ---- video ----

    void setSize(int width, int height) {
        if (m_options.stream == Stream::Block) {
            width = kBlockStreamWidth;  // the block stream has one size
            height = kBlockStreamHeight;
        }
        if (width == m_width && height == m_height) return;
        m_width = width;
        m_height = height;
        m_keyNext = true;
        if (m_encoder) {
            m_encoder->SetAttribute(ZOENC_ATTR_FORMAT, m_width, m_height, m_options.frameRate);
            m_encoder->SetAttribute(ZOENC_ATTR_BITRATE, m_width > 176 ? 400000 : 160000, 0, 0);
        }
        // The operator learns the new size before the first picture in it.
        if (m_video == 3 || m_video == kPaused) {
            VideoSettingsRecord record{};
            const DWORD values[4] = {DWORD(m_width), DWORD(m_height), DWORD(m_options.frameRate), 0};
            std::memcpy(record.data() + 12, &values[0], 4);
            std::memcpy(record.data() + 16, &values[1], 4);
            std::memcpy(record.data() + 36, &values[2], 4);
            sent(m_link->SendVideoSettings(1, reinterpret_cast<const BYTE*>(values), record), "SendVideoSettings");
            say("picture size now " + std::to_string(m_width) + "x" + std::to_string(m_height));
        }
    }

    bool ensureEncoder() {
        if (m_options.stream == Stream::Block || m_encoder) return true;
        if (!m_comTried) {
            m_comTried = true;
            m_comInitialised = SUCCEEDED(CoInitialize(nullptr));
            platform::com::ensureServersRegistered();
        }
        platform::com::ComPtr<IZoEncoder> encoder;
        if (CoCreateInstance(CLSID_ZoVideoEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IZoEncoder, encoder.putVoid()) !=
                S_OK ||
            encoder->Open() != S_OK ||
            encoder->SetAttribute(ZOENC_ATTR_FORMAT, m_width, m_height, m_options.frameRate) != S_OK) {
            say("the video encoder component is missing: no H.263 video");
            return false;
        }
        encoder->SetAttribute(ZOENC_ATTR_BITRATE, m_width > 176 ? 400000 : 160000, 0, 0);
        m_encoder = std::move(encoder);
        return true;
    }

    void openVideo() {
        ++m_counters.videoOpens;
        sent(m_link->SendAcknowledgment(ID_DSVD_VIDEOOPEN), "SendAcknowledgment");
        m_link->SetVideoStatus(0, VIDEO_OPEN);
        m_video = VIDEO_OPEN;
        m_keyNext = true;
        m_firstOfOpening = true;
        say("video offered");
    }

    void handleTokens() {
        for (SeenToken& t : m_link->takeTokens()) {
            switch (t.id) {
            case ID_DSVD_OKVIDEOOPEN:
                if (m_video == VIDEO_OPEN || m_video == VIDEO_CLOSED) {
                    m_video = 3;
                    m_link->SetVideoStatus(0, 3);
                    m_nextFrameMs = nowMs();
                    say("video accepted: " + std::to_string(m_width) + "x" + std::to_string(m_height) + ", " +
                        (m_options.stream == Stream::Block ? "block-transform" : "H.263"));
                }
                break;
            case ID_DSVD_NOVIDEOOPEN:
                m_video = VIDEO_CLOSED;
                say("video refused");
                break;
            case ID_DSVD_VIDEORPAUSE:
                if (m_video == 3) {
                    m_video = kPaused;
                    say("video paused");
                }
                break;
            case ID_DSVD_VIDEORRESUME:
                if (m_video == kPaused) {
                    m_video = 3;
                    m_keyNext = true;
                    m_nextFrameMs = nowMs();
                    say("video resumed");
                }
                break;
            case ID_DSVD_CLOSEYOURVIDEO:
                if (m_video != VIDEO_NONE && m_video != VIDEO_CLOSED) {
                    m_video = VIDEO_CLOSED;
                    m_link->SetVideoStatus(0, VIDEO_CLOSED);
                    say("video closed");
                }
                break;
            case ID_DSVD_ERRORKVFRAME:
                ++m_counters.keyFrameRequests;
                m_keyNext = true;
                break;
            case ID_DSVD_CIFF:
                setSize(352, 288);
                break;
            case ID_DSVD_QCIF:
                setSize(176, 144);
                break;
            case ID_DSVD_YOURVIDEOSETTINGS: {
                // The requested width, height and frame rate: the record's
                // values at 12, 16 and 36, or the first three of the short form.
                const std::vector<BYTE>& b = t.body;
                DWORD w = 0, h = 0, rate = 0;
                if (b.size() >= 52) {
                    w = readLe32(b.data() + 12);
                    h = readLe32(b.data() + 16);
                    rate = readLe32(b.data() + 36);
                } else if (b.size() >= 12) {
                    w = readLe32(b.data());
                    h = readLe32(b.data() + 4);
                    rate = readLe32(b.data() + 8);
                }
                if (w != 0 && h != 0) setSize(w > 176 || h > 144 ? 352 : 176, w > 176 || h > 144 ? 288 : 144);
                if (rate >= 1 && rate <= 30 && int(rate) != m_options.frameRate) {
                    m_options.frameRate = int(rate);
                    if (m_encoder) m_encoder->SetAttribute(ZOENC_ATTR_FORMAT, m_width, m_height, m_options.frameRate);
                    m_keyNext = true;
                }
                break;
            }
            case ID_DSVD_GETSETTINGS:
                serveSettingsList();
                break;
            case ID_DSVD_GETSNAP:
                serveSnapshot(t.body);
                break;
            case ID_DSVD_LUMORARPC: {
                BracketFields fields(t.body.data(), DWORD(t.body.size()));
                const std::optional<long> code = fields.nextNumber();
                if (code == 1) ++m_counters.inputRequests;
                if (code == 2) ++m_counters.relayRequests;
                break;
            }
            default:
                break;
            }
        }
    }

    // One coded frame of the tone every 30 ms while the operator takes audio.
    void sendAudio() {
        BOOL operatorTakesAudio = FALSE;
        if (m_audio == nullptr || !m_link->IsAudioEnabled(operatorTakesAudio) || !operatorTakesAudio) return;
        const DWORD now = nowMs();
        if (m_nextAudioMs == 0) m_nextAudioMs = now;
        if (static_cast<std::int32_t>(now - m_nextAudioMs) < 0) return;
        m_nextAudioMs += kAudioFrameMs;
        if (static_cast<std::int32_t>(now - m_nextAudioMs) > 1000) m_nextAudioMs = now;  // fell behind: no burst
        const std::vector<BYTE> frame = m_audio->NextFrame(now);
        if (frame.empty() || !m_link->SendAudioFrame(frame.data(), DWORD(frame.size()))) return;
        if (m_counters.audioFramesSent++ == 0) say("audio: sending the test tone");
    }

    void sendVideo() {
        if (m_video != 3) return;
        const DWORD now = nowMs();
        if (static_cast<std::int32_t>(now - m_nextFrameMs) < 0) return;  // not yet time
        m_nextFrameMs += DWORD(1000 / m_options.frameRate);
        if (static_cast<std::int32_t>(now - m_nextFrameMs) > 1000) m_nextFrameMs = now;  // fell behind: no burst
        if (!ensureEncoder()) return;
        const RgbPicture picture = m_quad ? drawQuadPattern(m_width, m_height, m_frameNumber++, std::time(nullptr))
                                          : drawTestPattern(m_width, m_height, m_frameNumber++, std::time(nullptr), m_camera);
        std::vector<BYTE> frame;
        const bool key = m_keyNext;
        if (m_options.stream == Stream::Block) {
            frame = m_block.encode(toYuv420(picture), key, kMaxVideoFrameBytes);
            if (frame.empty()) return;
        } else {
            if (key) m_encoder->SetAttribute(ZOENC_ATTR_KEYFRAME, 0, 0, 0);
            const std::size_t stride = std::size_t(m_width) * 3;
            std::vector<BYTE> image(sizeof(BITMAPINFOHEADER) + stride * std::size_t(m_height));
            BITMAPINFOHEADER header{};
            header.biSize = sizeof header;
            header.biWidth = m_width;
            header.biHeight = -m_height;
            header.biPlanes = 1;
            header.biBitCount = 24;
            std::memcpy(image.data(), &header, sizeof header);
            std::memcpy(image.data() + sizeof header, picture.bgr.data(), picture.bgr.size());
            if (m_encoder->AddImage(image.data(), ULONG(image.size())) != S_OK) return;
            std::vector<BYTE> out(kZoEncOutputBytes);
            ULONG length = 0;
            if (m_encoder->GetData(out.data(), ULONG(out.size()), &length) != S_OK || length <= sizeof header) return;
            frame.assign(out.begin() + sizeof header, out.begin() + length);
        }
        m_keyNext = false;
        // A block-transform key frame goes as such only at the start of an
        // opening (the receiver waits for it then); an H.263 picture goes as
        // a key frame whenever it is an intra picture, asked for or one the
        // encoder makes on its own from time to time.
        const bool sendAsKey = m_options.stream == Stream::H263
                                   ? m_link->IsKeyFrameH263(frame.data(), DWORD(frame.size()))
                                   : key && m_firstOfOpening;
        m_firstOfOpening = false;
        const WORD camera = WORD(m_camera) << 8;
        // A picture larger than a video bucket goes in pieces, which the
        // receiver joins again at the next picture start.
        for (std::size_t at = 0; at < frame.size(); at += kMaxVideoFrameBytes) {
            const std::size_t n = std::min(kMaxVideoFrameBytes, frame.size() - at);
            const WORD kind = sendAsKey && at == 0 ? kVideoKeyBucket
                              : m_options.cameraless ? kVideoBucket11
                                                     : kVideoBucket;
            if (m_link->SendFrame(WORD(camera | kind), frame.data() + at, DWORD(n)) == 0) return;
        }
        ++m_counters.framesSent;
        if (sendAsKey) ++m_counters.keyFramesSent;
    }

    // ---- events and alarms ----

    void handlePosted() {
        for (Posted& p : m_window.take()) {
            if (p.message == kMsgEventListRequest) {
                auto* block = dynamic_cast<platform::PostedBlock<EventListRequestBlock>*>(p.data.get());
                if (block != nullptr && block->value) serveEventList(*block->value);
            } else if (p.message == kMsgEventFileRequest) {
                auto* header = dynamic_cast<platform::PostedBlock<tagEventHeader>*>(p.data.get());
                if (header != nullptr && header->value) serveEventFile(*header->value);
            } else if (p.message == kMsgFileReceivedKind3) {
                takeSettingsList();
            }
        }
    }

    // ---- the settings list ----

    // An uploaded list is kept when it holds settings; a damaged one is
    // answered with an error report and the kept list stays.
    void takeSettingsList() {
        std::string received;
        std::vector<BYTE> bytes;
        DWORD size = 0;
        if (!m_link->GetReceivedFileName(received) || !CRemoteSetList::GetSetListFileSize(received, size)) return;
        bytes.resize(size);
        RemoteSetListHost plain;
        auto settings = std::make_unique<tagRemSettings>();
        const bool ok = size != 0 && CRemoteSetList::ReadSetFile(bytes.data(), size, received) &&
                        CRemoteSetList(plain).DispatchList(bytes.data(), size, *settings);
        if (!ok || !keepSettingsList(bytes.data(), size)) {
            ++m_counters.settingsRefused;
            say("settings list of " + std::to_string(size) + " bytes refused");
            // Code 14 in the high word: the list could not be taken.
            const BYTE report[8] = {0, 0, 14, 0, 0, 0, 0, 0};
            sent(m_link->SendSettingsError(report, sizeof report), "SendSettingsError");
            return;
        }
        ++m_counters.settingsTaken;
        say("settings list of " + std::to_string(size) + " bytes taken");
        sent(m_link->SendAcknowledgment(ID_DSVD_FINISHUPGRADE), "SendAcknowledgment");
    }

    // The kept list is replaced whole (a temporary renamed over it), so a
    // kill or a full disk leaves the old list, never a torn one.
    bool keepSettingsList(const BYTE* bytes, DWORD size) {
        const int error = platform::ReplaceFileContent(
            m_options.settingsList, std::string_view(reinterpret_cast<const char*>(bytes), size));
        if (error != 0) say("settings list not kept: " + std::string(std::strerror(error)));
        return error == 0;
    }

    void serveSettingsList() {
        std::error_code error;
        if (!std::filesystem::exists(m_options.settingsList, error)) {
            // Nothing uploaded yet: a list of the site's name and shape.
            auto settings = std::make_unique<tagRemSettings>();
            fixed_text::Write(settings->SiteInfo.szSiteName, sizeof settings->SiteInfo.szSiteName, m_options.siteName);
            settings->SiteInfo.eTimeSyncOption = TIME_SYNC_OPTION_PC;
            RemoteSetListHost plain;
            CRemoteSetList list(plain);
            const DWORD size = list.GetListSize(m_profile, *settings);
            std::vector<BYTE> bytes(size);
            const DWORD built = list.CreateList(m_profile, *settings, bytes.data(), size);
            keepSettingsList(bytes.data(), built);
        }
        say("settings list asked for");
        ++m_counters.settingsSent;
        m_files.push_back({m_options.settingsList, kFileKindRemoteSettings});
    }

    void serveEventList(const EventListRequestBlock& block) {
        const ServedEventList list = PrepareServedEventList(block.data());
        say("event list asked for kind " + std::to_string(list.kind) + ", camera " + std::to_string(list.camera + 1) +
            ": " + std::to_string(list.count) + " events");
        if (list.count == 0 || list.path.empty()) {
            sent(m_link->SendAcknowledgment(ID_DSVD_NOEVENTSREC), "SendAcknowledgment");
            return;
        }
        m_files.push_back({list.path, kFileKindEventList});
        ++m_counters.eventListsSent;
    }

    void serveEventFile(tagEventHeader header) {
        CEventFile event;
        char path[MAX_PATH] = {};
        bool found = event.evMakeFileForDispatch(&header, "", path) != 0;
        if (!found && m_link->GetProtocolVersion() == 2) {
            // A second-protocol peer sends the start time in whole seconds:
            // the file named by the header is the one when its time, in
            // seconds, is the same.
            const DWORD seconds = header.ftStartTime.dwLowDateTime;
            tagEventHeader named = header;
            event.evEventHeaderTimeConvert(&named, 1);
            path[0] = '\0';
            event.evMakeFileForDispatch(&named, "", path);
            if (path[0] != '\0' && std::filesystem::is_regular_file(path)) {
                CEventFile stored(9, nullptr, path, "");
                tagEventHeader onDisk{};
                WORD error = 1;
                if (stored.GetLastError(&error) && error == 0 && stored.GetEventHeader(&onDisk)) {
                    event.evEventHeaderTimeConvert(&onDisk, 2);
                    found = onDisk.ftStartTime.dwLowDateTime == seconds;
                }
            }
        }
        if (!found) {
            say("event file asked for: not found");
            sent(m_link->SendAcknowledgment(ID_DSVD_EVTNOTFOUND), "SendAcknowledgment");
            return;
        }
        say(std::string("event file asked for: ") + path);
        m_files.push_back({path, kFileKindEvent});
        ++m_counters.eventFilesSent;
    }

    void sendTrigger(int camera) {
        std::vector<BYTE> record;
        if (m_options.stream == Stream::H263) {
            tagTriggerListRecord r{};
            r.length = sizeof r;
            r.type = kTriggerRecordType;
            r.adapter = 0;
            r.input = WORD(camera);
            r.value = 1;
            record.resize(sizeof r);
            std::memcpy(record.data(), &r, sizeof r);
        } else {
            tagTrigger t{};
            t.entries[0][camera][0] = 1;
            t.entries[0][camera][1] = 1;
            record.resize(sizeof t);
            std::memcpy(record.data(), &t, sizeof t);
        }
        const std::vector<BYTE> payload =
            buildGuardedPayload(tokenText(ID_DSVD_TRIGGERNOTIFICATION), record.data(), DWORD(record.size()));
        sent(m_link->SendBucket(kTokenBucket, payload.data(), DWORD(payload.size())), "SendBucket");
    }

    // Records a short event of the camera: a few pictures of the pattern as
    // plain bitmaps. The file's path, or empty when it could not be written.
    std::string recordEvent(int camera) {
        return writeEvent(EVENT_TYPE_AUTOMATIC, camera, 5, 176, 144, 0);
    }

    // The picture of the pattern as one snapshot record: a bitmap header and
    // its rows bottom-up, or, with a quality, the header of a JPEG stream and
    // the stream (a plain bitmap when the stills codec cannot be had).
    static constexpr DWORD kJpegStill = 0x4745504A;  // "JPEG"
    struct Still {
        BITMAPINFOHEADER header{};
        std::vector<BYTE> bits;
    };
    Still stillOf(int width, int height, unsigned frame, int jpegQuality) {
        const RgbPicture picture = m_quad ? drawQuadPattern(width, height, frame, std::time(nullptr))
                                          : drawTestPattern(width, height, frame, std::time(nullptr), m_camera);
        Still still;
        BITMAPINFOHEADER& bmp = still.header;
        bmp.biSize = sizeof bmp;
        bmp.biWidth = picture.width;
        bmp.biHeight = picture.height;  // rows bottom-up
        bmp.biPlanes = 1;
        bmp.biBitCount = 24;
        bmp.biSizeImage = DWORD(picture.bgr.size());
        still.bits.resize(picture.bgr.size());
        const std::size_t stride = std::size_t(picture.width) * 3;
        for (int y = 0; y < picture.height; ++y) {
            std::memcpy(still.bits.data() + stride * std::size_t(picture.height - 1 - y),
                        picture.bgr.data() + stride * std::size_t(y), stride);
        }
        if (jpegQuality <= 0) return still;
        const tagSTILLCODEC kind = STILLCODEC_JPEG;
        CStillsDevices stills;
        if (stills.InitDevices(&kind, 1) != STILLS_NO_ERROR || stills[STILLCODEC_JPEG] == nullptr) {
            say("snapshot: no JPEG codec, a bitmap is sent");
            return still;
        }
        std::vector<BYTE> source(sizeof bmp + still.bits.size());
        std::memcpy(source.data(), &bmp, sizeof bmp);
        std::memcpy(source.data() + sizeof bmp, still.bits.data(), still.bits.size());
        std::vector<BYTE> target(source.size() + 4096);
        auto* out = reinterpret_cast<BITMAPINFOHEADER*>(target.data());
        out->biSizeImage = DWORD(target.size() - sizeof bmp);
        if (stills[STILLCODEC_JPEG]->Compress(reinterpret_cast<BITMAPINFOHEADER*>(source.data()), out,
                                              jpegQuality) != STILLS_NO_ERROR ||
            out->biSizeImage > target.size() - sizeof bmp) {
            say("snapshot: the picture could not be compressed, a bitmap is sent");
            return still;
        }
        still.header = *out;
        still.header.biCompression = kJpegStill;  // a JPEG stream follows the header
        still.bits.assign(target.begin() + sizeof bmp, target.begin() + sizeof bmp + out->biSizeImage);
        return still;
    }

    std::string writeEvent(DWORD type, int camera, unsigned pictures, int width, int height, int jpegQuality) {
        tagEventHeader header{};
        header.dwType = type;
        header.wAdapter = 0;
        header.wCamera = WORD(camera);
        DWORD latest = 0;
        if (!CEventFile::evGetLatestEventIndex("", &header, &latest)) latest = 0;
        header.dwEventNumber = latest + 1;
        CEventFile::ZoGetTime(&header.ftStartTime);
        std::string path;
        {
            CEventFile file(1, &header, static_cast<char*>(nullptr), "");
            WORD error = 0;
            if (file.GetLastError(&error) == 0 || error != 0) return {};
            for (unsigned n = 0; n < pictures; ++n) {
                Still still = stillOf(width, height, m_frameNumber + n * 5, jpegQuality);
                tagEventSnapshot snapshot{};
                snapshot.dwSize = DWORD(still.bits.size());
                if (!file.AddSnapShot(&snapshot, &still.header, still.bits.data(), 0)) return {};
            }
            char name[MAX_PATH] = {};
            file.evGetFileName(name, sizeof name);
            path = name;
        }
        return path;
    }

    // "<GETSNAP>": a still of the current camera in the asked resolution (0
    // QCIF, 1 CIF, 2 four times CIF), a JPEG stream when compression is asked
    // at the asked quality. It is kept as a manual event and goes to the
    // operator as an event file named "DOAEvent.TRG" ("HDEvent.TRG" for the
    // large picture).
    void serveSnapshot(const std::vector<BYTE>& body) {
        const auto request = parseSnapshotRequest(body.data(), DWORD(body.size()));
        if (!request) {
            say("snapshot request refused: not a sound 10-byte request");
            return;
        }
        const WORD resolution = request->first;
        const DWORD compression = request->second;
        const WORD quality = request->third;
        if (resolution > 2 || (compression != 0 && (quality < 1 || quality > 100))) {
            say("snapshot request refused: resolution " + std::to_string(resolution) + ", quality " +
                std::to_string(quality));
            return;
        }
        const int width = resolution == 0 ? 176 : resolution == 1 ? 352 : 704;
        const int height = resolution == 0 ? 144 : resolution == 1 ? 288 : 576;
        const std::string event =
            writeEvent(EVENT_TYPE_MANUAL, m_camera, 1, width, height, compression != 0 ? quality : 0);
        if (event.empty()) {
            say("snapshot: the event could not be written");
            return;
        }
        const std::filesystem::path folder = std::filesystem::path(m_options.eventsFolder) / "Snapshots";
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        const std::filesystem::path answer = folder / (resolution == 2 ? "HDEvent.TRG" : "DOAEvent.TRG");
        std::filesystem::copy_file(event, answer, std::filesystem::copy_options::overwrite_existing, error);
        if (error) {
            say("snapshot: " + answer.string() + ": " + error.message());
            return;
        }
        ++m_counters.snapshotsSent;
        say("snapshot of camera " + std::to_string(m_camera + 1) + " sent: " + std::to_string(width) + "x" +
            std::to_string(height) + (compression != 0 ? " JPEG quality " + std::to_string(quality) : " bitmap"));
        m_files.push_back({answer.string(), kFileKindEvent});
    }

    void sendFiles() {
        const LONG status = m_link->GetFileSendStatus();
        if (status == SEND_REFUSED || status == SEND_COMPLETE || status == SEND_FAILED || status == SEND_STOPPED) {
            (void)m_link->SetSendStatus(-1, 0, nullptr);  // ready for the next file (never refused), which starts at once
        } else if (status > 0) {
            return;
        }
        if (m_files.empty()) return;
        const QueuedFile next = m_files.front();
        m_files.pop_front();
        if (m_link->SetSendStatus(1, next.kind, next.path.c_str()) != 1) say("could not send " + next.path);
    }

    static constexpr WORD kPaused = 10;

    SiteOptions m_options;
    std::function<void(const std::string&)> m_log;
    QObject m_context;  // runs the passes that arriving bytes ask for
    bool m_passQueued = false;
    SiteWindow m_window;
    LoginGate m_gate;
    CommsSettingsRecord m_comms{};
    static constexpr DWORD kAudioFrameMs = 30;
    std::unique_ptr<SiteAudio> m_audio;  // before the link, which holds it
    DWORD m_nextAudioMs = 0;
    std::unique_ptr<SiteLink> m_link;
    tagHWProfile m_profile{};
    Session m_session;
    std::deque<QueuedFile> m_files;

    WORD m_video = VIDEO_NONE;
    int m_width = 0;
    int m_height = 0;
    int m_camera = 0;
    bool m_quad = false;  // the quad input: cameras 1 to 4 in one picture
    bool m_keyNext = true;
    bool m_firstOfOpening = true;
    unsigned m_frameNumber = 0;
    DWORD m_nextFrameMs = 0;
    BlockEncoder m_block;
    platform::com::ComPtr<IZoEncoder> m_encoder;
    bool m_comTried = false;
    bool m_comInitialised = false;
};

SiteStation::SiteStation(SiteOptions options, std::function<void(const std::string&)> log)
    : m_impl(std::make_unique<Impl>(std::move(options), std::move(log))), m_counters(m_impl->m_counters) {}
SiteStation::~SiteStation() = default;
bool SiteStation::Open() { return m_impl->open(); }
WORD SiteStation::ListenPort() const { return m_impl->listenPort(); }
void SiteStation::Pass() { m_impl->pass(); }
bool SiteStation::Alarm(int camera) { return m_impl->alarm(camera); }
void SiteStation::HangUp(DWORD waitMs) { m_impl->hangUp(waitMs); }
WORD SiteStation::VideoState() const { return m_impl->videoState(); }
int SiteStation::FrameWidth() const { return m_impl->width(); }
int SiteStation::FrameHeight() const { return m_impl->height(); }
const tagHWProfile& SiteStation::Profile() const { return m_impl->profile(); }
bool SiteStation::Connected() const { return m_impl->connected(); }

}  // namespace site
