// The recorder program against a peer process that speaks the station
// protocol plainly: it answers a file block and the whole-file check with
// "<CRCOK><0>" whatever the block (or the block's own number and the check
// with "<CRCOK><0>"), sends its whole-file check before or after
// "<FinishSending>", and reads the user record of the program's hello by its
// lengths. Event files arrive filed once in either order, the program's files
// reach such a peer, and the program's site info comes once after the hello
// and again with every hello it repeats.

#include "trennick/app/testing/app_test_support.h"
#include "trennick/app/testing/kit_proxy.h"
#include "common/fixed_text.h"
#include "platform/folders.h"
#include "platform/testing/child_process.h"
#include "tavicore/testing/event_test_support.h"
#include "tavicore/users_manager.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/kit/tess_integration.h"
#include "trennick/station/station_messages.h"
#include "trennick/book/addr_book_file.h"
#include "trennick/link/bucket.h"
#include "trennick/link/cards.h"
#include "trennick/link/common_base.h"
#include "trennick/link/event_requests.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/link/station_info.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/remset/remote_set_mgr.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <deque>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace trennick;
using namespace apptest;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPeerStation = "Plain Peer";
constexpr auto kGuard = std::chrono::seconds(30);

struct Bucket {
    BYTE kind = 0;
    WORD number = 0;
    LONG check = 0;
    std::string payload;
    bool is(WORD token) const { return kind == kTokenBucket && payload.rfind(tokenText(token), 0) == 0; }
};

// The peer's end of the socket: buckets out, the program's buckets in.
class PlainPeer {
public:
    explicit PlainPeer(int fd) : m_fd(fd), m_decoder(kNominalBucketBuffLen) { m_in.resize(kMaxBucketBytes * 2); }
    ~PlainPeer() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool send(WORD type, std::string_view payload, WORD number = 0, const char* check = nullptr) {
        std::vector<BYTE> out(payload.size() + 64);
        const DWORD n = buildBucketWithCheck(out, type, reinterpret_cast<const BYTE*>(payload.data()),
                                             static_cast<DWORD>(payload.size()), kOwnProtocolNumber, number,
                                             static_cast<DWORD>(out.size()), check);
        return n != 0 && nettest::writeAll(m_fd, out.data(), n);
    }
    bool token(WORD id, std::string_view behind = {}) {
        return send(kTokenBucket, std::string(tokenText(id)) + std::string(behind));
    }
    bool bytes(const std::vector<BYTE>& payload) {
        return send(kTokenBucket, std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()));
    }
    // The program's next bucket; nullopt after the guard or when the line closed.
    std::optional<Bucket> next() {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        for (;;) {
            if (!m_buckets.empty()) {
                Bucket b = std::move(m_buckets.front());
                m_buckets.pop_front();
                log(b);
                return b;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            const ssize_t n = ::recv(m_fd, m_in.data() + m_cursor.dataLength, m_in.size() - m_cursor.dataLength, 0);
            if (n <= 0) return std::nullopt;
            m_cursor.dataLength += static_cast<DWORD>(n);
            m_cursor.nextIndex = 0;
            while (m_decoder.getBucket(m_in.data(), static_cast<DWORD>(m_in.size()), m_cursor)) {
                const DecodedBucket& d = m_decoder.current();
                Bucket b;
                b.kind = d.kind();
                b.number = static_cast<WORD>(d.BucketNo);
                b.check = d.checkHeaderValue();
                b.payload.assign(reinterpret_cast<const char*>(d.Payload), d.BucketLen);
                m_buckets.push_back(std::move(b));
            }
            m_cursor.dataLength = m_cursor.remaining;
        }
    }
    // Reads until a bucket of the token; the buckets passed over are logged.
    std::optional<Bucket> until(WORD token) {
        while (auto b = next()) {
            if (b->is(token)) return b;
        }
        return std::nullopt;
    }
    void protocolKnown() { m_decoder.setPeerProtocolNumber(kOwnProtocolNumber); }
    // The tokens the program sent, in order ("H" hello, "S" site info, "C"
    // after the peer's "<OKHello>" went out).
    std::string sequence;
    int siteInfos = 0;

private:
    void log(const Bucket& b) {
        if (b.is(ID_DSVD_HELLO_V1_2)) sequence += 'H';
        if (b.is(ID_DSVD_SITEINFO)) {
            sequence += 'S';
            ++siteInfos;
        }
    }

    int m_fd;
    BucketDecoder m_decoder;
    std::vector<BYTE> m_in;
    ParseCursor m_cursor;
    std::deque<Bucket> m_buckets;
};

StationInfoBlock peerHelloBlock() {
    StationInfoBlock block{};
    block.length = kStationInfoBytes;
    fixed_text::Write(block.title, sizeof block.title, "Plain");
    fixed_text::Write(block.versionText, sizeof block.versionText, "Plain 1.0");
    block.protocolNumber = kOwnProtocolNumber;
    block.versionNumber = 1;
    block.capabilities = kCapNewLayout;
    return block;
}

std::vector<BYTE> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path.string() + ".tmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    fs::rename(path.string() + ".tmp", path);
}

bool waitForFile(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void mark(const fs::path& path, const std::string& text = "1") { writeFile(path, {text.begin(), text.end()}); }

// Sends a file as the peer: announcement, blocks answered one by one, and the
// whole-file check before or after "<FinishSending>"; `between` runs after
// the first of the two.
bool sendFile(PlainPeer& peer, const std::string& name, const std::vector<BYTE>& bytes, bool checkFirst,
              const std::function<void()>& between) {
    char size[32];
    std::snprintf(size, sizeof size, "<%8lu>", static_cast<unsigned long>(bytes.size()));
    peer.token(ID_DSVD_SEND_EV, std::string(tokenText(ID_DSVD_NAME)) + "<" + name + ">" +
                                    std::string(tokenText(ID_DSVD_SIZE)) + size +
                                    std::string(tokenText(ID_DSVD_DATE)) + "<0,0>");
    if (!peer.until(ID_DSVD_OK_FOR_SEND)) return false;
    DWORD fileChecksum = 0;
    WORD number = 0;
    for (std::size_t at = 0; at < bytes.size(); ++number) {
        std::vector<BYTE> escaped(1100);
        DWORD used = 0;
        LONG escapedSum = 0;
        const DWORD n = escapeBlock(bytes.data() + at, static_cast<DWORD>(bytes.size() - at), 1022, escaped.data(), used,
                                    escapedSum);
        const LONG sum = WireChecksum({bytes.data() + at, used});
        if (escapedSum != sum) return false;
        char check[kCheckHeaderBytes];
        std::snprintf(check, sizeof check, "%14ld", static_cast<long>(sum));
        peer.send(kFileBlockBucket, std::string_view(reinterpret_cast<const char*>(escaped.data()), n), number, check);
        if (!peer.until(ID_DSVD_CRCOK)) return false;
        fileChecksum += static_cast<DWORD>(sum);
        at += used;
    }
    const auto check = [&] {
        peer.token(ID_DSVD_FCRC, fileChecksumText(fileChecksum));
        return peer.until(ID_DSVD_CRCOK).has_value();
    };
    if (checkFirst) {
        if (!check()) return false;
        between();
        return peer.token(ID_DSVD_FINISHSENDING);
    }
    peer.token(ID_DSVD_FINISHSENDING);
    between();
    return check();
}

// Receives a file the program sends (announced by `announcement`), answering
// each block with the number 0 or, when `numbered`, with the block's own
// number, and the whole-file check by its token with the number 0.
std::optional<std::vector<BYTE>> receiveFile(PlainPeer& peer, bool checkPasses, bool numbered = false,
                                             WORD announcement = ID_DSVD_SEND_NF) {
    if (!peer.until(announcement)) return std::nullopt;
    peer.token(ID_DSVD_OK_FOR_SEND);
    std::vector<BYTE> file;
    for (;;) {
        const auto b = peer.next();
        if (!b) return std::nullopt;
        if (b->kind == kFileBlockBucket) {
            std::vector<BYTE> block;
            unescapeBlock(reinterpret_cast<const BYTE*>(b->payload.data()), static_cast<DWORD>(b->payload.size()), block);
            const bool sound = WireChecksum(block) == b->check;
            if (sound) file.insert(file.end(), block.begin(), block.end());
            const std::string number = "<" + std::to_string(numbered ? b->number : 0) + ">";
            peer.token(sound ? ID_DSVD_CRCOK : ID_DSVD_CRCNOTOK, number);
        } else if (b->is(ID_DSVD_FCRC)) {
            peer.token(checkPasses ? ID_DSVD_CRCOK : ID_DSVD_CRCNOTOK, "<0>");
            if (!checkPasses) return file;
        } else if (b->is(ID_DSVD_FINISHSENDING)) {
            return file;
        }
    }
}

// The opening: the peer's hello, the program's hellos (the peer lets the
// program repeat its hello `hellos` times before accepting it), the site
// infos in both directions.
bool openSession(PlainPeer& peer, int hellos, int alreadySeen = 0) {
    const auto hello = buildHelloPayload(tokenText(ID_DSVD_HELLO_V1_2), peerHelloBlock(), true);
    if (!peer.bytes(hello)) return false;
    for (int seen = alreadySeen; seen < hellos; ++seen) {
        if (!peer.until(ID_DSVD_HELLO_V1_2)) return false;
    }
    // A repeated hello is followed by the site info.
    if (hellos > 1 && !peer.until(ID_DSVD_SITEINFO)) return false;
    peer.token(ID_DSVD_OKHELLO);
    peer.sequence += 'C';
    peer.protocolKnown();
    if (!peer.until(ID_DSVD_SITEINFO)) return false;
    SiteInfoBlock site{};
    fixed_text::Write(site.guid, sizeof site.guid, "{0C0FFEE0-0000-4000-8000-000000000001}");
    fixed_text::Write(site.siteName, sizeof site.siteName, kPeerStation);
    fixed_text::Write(site.sitePhone, sizeof site.sitePhone, "555-0199");
    return peer.bytes(buildSiteInfoPayload(tokenText(ID_DSVD_SITEINFO), site));
}

// Once the test lets it hang up: an announcement whose size is no number is
// refused at once, and its answer also means that everything the program
// said before it has been read; the report holds what it said.
bool closeSession(PlainPeer& peer, const fs::path& folder, const std::string& size) {
    waitForFile(folder / "hang-up");
    peer.token(ID_DSVD_SEND_NF, "<Name><x.bin><Size><" + size + ">");
    if (!peer.until(ID_DSVD_DO_NOT_SEND)) return false;
    mark(folder / "report", peer.sequence);
    return peer.token(ID_DSVD_DISCONNECT);
}

std::string fieldText(const BYTE* field, std::size_t length) { return std::string(reinterpret_cast<const char*>(field), length); }

}  // namespace

// Calls the program and sends it two event files, the whole-file check first
// and then last. args: port, folder (events to send, markers, report).
VELMOOR_TEST_CHILD(plain_peer_sends) {
    const fs::path folder = args.at(1);
    PlainPeer peer(nettest::connectRaw(static_cast<unsigned short>(std::stoi(args.at(0)))));
    if (!openSession(peer, 2)) return 2;
    const auto first = readFile(folder / "first.trg");
    const auto second = readFile(folder / "second.trg");
    // The whole-file check first; "<FinishSending>" only once the program
    // has reported the checked file.
    if (!sendFile(peer, "Event_1.trg", first, true, [&] {
            mark(folder / "checked");
            waitForFile(folder / "go-on");
        })) {
        return 3;
    }
    if (!sendFile(peer, "Event_2.trg", second, false, [] {})) return 4;
    mark(folder / "sent");
    return closeSession(peer, folder, "abc") ? 0 : 5;
}

// Takes the program's call, reads its hello's user record and takes two files
// from it, failing the whole-file check of the first. args: folder.
VELMOOR_TEST_CHILD(plain_peer_receives) {
    const fs::path folder = args.at(0);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 2;
    }
    mark(folder / "port", std::to_string(ntohs(address.sin_port)));
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 60000) != 1) return 3;
    PlainPeer peer(::accept(listener, nullptr, nullptr));
    ::close(listener);

    const auto hello = peer.until(ID_DSVD_HELLO_V1_2);
    if (!hello) return 4;
    const HelloParse parse = parseHelloBody(reinterpret_cast<const BYTE*>(hello->payload.data()) + tokenText(ID_DSVD_HELLO_V1_2).size(),
                                            static_cast<DWORD>(hello->payload.size() - tokenText(ID_DSVD_HELLO_V1_2).size()));
    if (parse.form == HelloForm::Invalid) return 5;
    const BYTE* user = parse.form == HelloForm::NewLayout ? parse.block.userRecord : parse.oldBlock.userRecord;
    WORD nameLength = 0, passwordLength = 0;
    DWORD rights = 0, loginTime = 0;
    std::memcpy(&nameLength, user + kUserNameLengthOffset, 2);
    std::memcpy(&passwordLength, user + kUserPasswordLengthOffset, 2);
    std::memcpy(&rights, user + 184, 4);
    std::memcpy(&loginTime, user + 188, 4);
    const std::string name = CUsersManager::Decrypt(fieldText(user + kUserNameOffset, std::min<WORD>(nameLength, 90)));
    const std::string password =
        CUsersManager::Decrypt(fieldText(user + kUserPasswordOffset, std::min<WORD>(passwordLength, 90)));
    const long age = static_cast<long>(std::time(nullptr)) - static_cast<long>(loginTime);
    mark(folder / "user", name + "|" + password + "|" + std::to_string(nameLength > 0) + "|" +
                              std::to_string(passwordLength > 0) + "|" + std::to_string(rights) + "|" +
                              std::to_string(age >= 0 && age < 600));

    if (!openSession(peer, 1, 1)) return 6;
    mark(folder / "open");
    // The call's first file: blocks answered by their numbers, the check
    // with "<CRCOK><0>".
    const auto numbered = receiveFile(peer, true, true);
    if (!numbered) return 10;
    writeFile(folder / "numbered.bin", *numbered);
    if (!receiveFile(peer, false)) return 7;
    const auto file = receiveFile(peer, true);
    if (!file) return 8;
    writeFile(folder / "received.bin", *file);
    return closeSession(peer, folder, "-5") ? 0 : 9;
}

// Takes the program's call and accepts the files it sends, answering no
// block: each send stays under way until the program cancels it, which the
// peer must hear as "<Stop Sending>". args: folder, number of files.
VELMOOR_TEST_CHILD(plain_peer_awaits_stop) {
    const fs::path folder = args.at(0);
    const int files = std::stoi(args.at(1));
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 2;
    }
    mark(folder / "port", std::to_string(ntohs(address.sin_port)));
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 60000) != 1) return 3;
    PlainPeer peer(::accept(listener, nullptr, nullptr));
    ::close(listener);
    if (!peer.until(ID_DSVD_HELLO_V1_2) || !openSession(peer, 1, 1)) return 4;
    mark(folder / "open");
    for (int file = 0; file < files; ++file) {
        std::optional<Bucket> b;
        while ((b = peer.next()) && !b->is(ID_DSVD_SEND_NF) && !b->is(ID_DSVD_SEND_RS)) {
        }
        if (!b) return 5;
        peer.token(ID_DSVD_OK_FOR_SEND);
        while ((b = peer.next()) && b->kind != kFileBlockBucket) {
        }
        if (!b) return 6;
        mark(folder / ("block-" + std::to_string(file)));
        if (!peer.until(ID_DSVD_STOP_SENDING)) return 7;
        mark(folder / ("stopped-" + std::to_string(file)));
    }
    return closeSession(peer, folder, "-5") ? 0 : 8;
}

// Calls the program and sends it the site's business card, its texts holding
// the address book's field separator (byte 0x01). args: port, folder.
VELMOOR_TEST_CHILD(plain_peer_card) {
    const fs::path folder = args.at(1);
    PlainPeer peer(nettest::connectRaw(static_cast<unsigned short>(std::stoi(args.at(0)))));
    if (!openSession(peer, 1)) return 2;
    tagBusinessCard card{};
    fixed_text::Write(card.name, "North\x01Gate");
    fixed_text::Write(card.text2, "555\x01\x01");
    fixed_text::Write(card.text3, "x\x01" "1:Forged\x01\x01\x01\x01");
    const std::string_view token = tokenText(ID_DSVD_MY_CARD);
    std::vector<BYTE> payload(token.begin(), token.end());
    const std::vector<BYTE> body = buildCardBody(card);
    payload.insert(payload.end(), body.begin(), body.end());
    if (!peer.bytes(payload)) return 3;
    mark(folder / "card-sent");
    return closeSession(peer, folder, "abc") ? 0 : 4;
}

// Calls the program and offers a file larger than any disk holds; reports
// the program's answer and how long it took. args: port, folder.
VELMOOR_TEST_CHILD(plain_peer_huge_offer) {
    const fs::path folder = args.at(1);
    PlainPeer peer(nettest::connectRaw(static_cast<unsigned short>(std::stoi(args.at(0)))));
    if (!openSession(peer, 1)) return 2;
    const auto start = std::chrono::steady_clock::now();
    peer.token(ID_DSVD_SEND_EV, std::string(tokenText(ID_DSVD_NAME)) + "<huge.trg>" +
                                    std::string(tokenText(ID_DSVD_SIZE)) + "<18446744073709551615>" +
                                    std::string(tokenText(ID_DSVD_DATE)) + "<0,0>");
    std::string answer = "none";
    while (auto b = peer.next()) {
        if (b->is(ID_DSVD_DO_NOT_SEND) || b->is(ID_DSVD_OK_FOR_SEND)) {
            answer = b->is(ID_DSVD_DO_NOT_SEND) ? "refused" : "accepted";
            break;
        }
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    mark(folder / "offered", answer + " " + std::to_string(ms.count()));
    return closeSession(peer, folder, "abc") ? 0 : 3;
}

// Calls the program and asks it for its event lists: of adapter 1, camera 2
// (the list arrives as a file) and of camera 8 (none recorded). args: port,
// folder.
VELMOOR_TEST_CHILD(plain_peer_asks_events) {
    const fs::path folder = args.at(1);
    PlainPeer peer(nettest::connectRaw(static_cast<unsigned short>(std::stoi(args.at(0)))));
    if (!openSession(peer, 1)) return 2;
    auto ask = [&](WORD camera) {
        EventListRequest request;
        request.eventType = EVENT_TYPE_AUTOMATIC;
        request.adapter = 1;
        request.selectedInput = camera;
        const std::vector<BYTE> body = buildEventListRequest(request, 2);
        return peer.token(ID_DSVD_REFRESHDEBRIEF, std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
    };
    if (!ask(2)) return 3;
    const auto list = receiveFile(peer, true, false, ID_DSVD_SNDEVLT);
    if (!list) return 4;
    writeFile(folder / "list.bin", *list);
    if (!ask(8)) return 5;
    if (!peer.until(ID_DSVD_NOEVENTSREC)) return 6;
    mark(folder / "none");
    return closeSession(peer, folder, "abc") ? 0 : 7;
}

// Calls the program and offers it an event file, then an event list, sending
// no block of either: the test stops each. args: port, folder.
VELMOOR_TEST_CHILD(plain_peer_offers_downloads) {
    const fs::path folder = args.at(1);
    PlainPeer peer(nettest::connectRaw(static_cast<unsigned short>(std::stoi(args.at(0)))));
    if (!openSession(peer, 1)) return 2;
    const std::pair<WORD, const char*> offers[] = {{ID_DSVD_SEND_EV, "event"}, {ID_DSVD_SNDEVLT, "list"}};
    for (const auto& [token, name] : offers) {
        peer.token(token, std::string(tokenText(ID_DSVD_NAME)) + "<" + name + ".trg>" +
                              std::string(tokenText(ID_DSVD_SIZE)) + "<    5000>" + std::string(tokenText(ID_DSVD_DATE)) +
                              "<0,0>");
        if (!peer.until(ID_DSVD_OK_FOR_SEND)) return 3;
        mark(folder / (std::string(name) + "-offered"));
        waitForFile(folder / (std::string(name) + "-stopped"));
    }
    return closeSession(peer, folder, "abc") ? 0 : 4;
}

namespace {

class PlainPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = platform::homeFolder() / "peer";
        fs::create_directories(folder);
    }
    void start(std::vector<std::string> line) {
        line.insert(line.begin(), {"/NOSPLASH", "/I", "/U31"});
        app = std::make_unique<CKivApp>(line, "", quietServices(&ui));
        ASSERT_TRUE(app->InitInstance());
        frame = app->MainFrame();
        ASSERT_TRUE(pumpUntil([&] { return frame->PostCreateDone(); }));
    }
    void TearDown() override {
        if (app == nullptr) return;
        platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
        pumpUntil([&] { return frame->IsDestroyed(); });
        app->ExitInstance();
    }
    bool waitFor(const fs::path& path) {
        return pumpUntil([&] { return fs::exists(path); }, std::chrono::seconds(60));
    }
    std::string text(const fs::path& path) {
        const auto bytes = readFile(path);
        return std::string(bytes.begin(), bytes.end());
    }

    AnsweringUi ui;
    std::unique_ptr<CKivApp> app;
    CMainFrame* frame = nullptr;
    fs::path folder;
};

// The program's hellos and site infos as the peer saw them ("H", "S"; "C"
// where the peer accepted the hello), with every repeated hello and the site
// info that follows it taken out; how many repeats there were.
std::string withoutRepeats(std::string sequence, int& repeats) {
    repeats = 0;
    if (sequence.empty() || sequence[0] != 'H') return "no first hello: " + sequence;
    sequence.erase(0, 1);
    for (std::size_t at; (at = sequence.find("HS")) != std::string::npos; ++repeats) sequence.erase(at, 2);
    return sequence;
}

std::vector<std::string> eventsFiledFor(const fs::path& root, const std::string& station) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        if (entry.is_regular_file() && path.find(station) != std::string::npos && entry.path().extension() == ".trg") {
            out.push_back(path);
        }
    }
    return out;
}

TEST_F(PlainPeerTest, EventFilesAreFiledOnceWhicheverComesFirstOfCheckAndFinish) {
    const std::string root = eventtest::useTestRoot();
    // Two sound events of this station's own making are what the peer sends.
    for (const char* name : {"first", "second"}) {
        const std::string written = eventtest::writeEvent(eventtest::key(EVENT_TYPE_AUTOMATIC, 1, 2, name[0] == 'f' ? 5 : 6),
                                                          {{1500, false}, {2600, false}, {700, false}});
        fs::rename(written, folder / (std::string(name) + ".trg"));
    }
    ASSERT_TRUE(eventsFiledFor(root, kPeerStation).empty());
    const unsigned short port = nettest::freePort();
    start({"/P=" + std::to_string(port)});
    ASSERT_TRUE(pumpUntil([&] { return frame->Connection()->IsListeningFor(2); }));
    auto peer = velmoor::testing::ChildProcess::start("plain_peer_sends", {std::to_string(port), folder.string()});

    // The first file passed its check; the loop pass reports it (the link is
    // ready again) before "<FinishSending>" comes.
    ASSERT_TRUE(waitFor(folder / "checked"));
    CPacketConnection& link = *frame->Connection();
    ASSERT_TRUE(pumpUntil([&] { return link.GetFileReceiveStatus() == REC_READY; }));
    mark(folder / "go-on");
    ASSERT_TRUE(waitFor(folder / "sent"));
    ASSERT_TRUE(pumpUntil([&] { return eventsFiledFor(root, kPeerStation).size() >= 2; })) << "events filed: "
        << eventsFiledFor(root, kPeerStation).size();
    mark(folder / "hang-up");
    ASSERT_TRUE(waitFor(folder / "report"));
    EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);
    ASSERT_TRUE(pumpUntil([&] { return !link.IsConnected(); }));

    // Each event once, and no received file left behind unfiled.
    EXPECT_EQ(eventsFiledFor(root, kPeerStation).size(), 2u);
    std::string left;
    for (const auto& entry : fs::recursive_directory_iterator(platform::homeFolder())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Event_", 0) == 0 && entry.path().string().find(kPeerStation) == std::string::npos) left += name + " ";
    }
    EXPECT_EQ(left, "");
    // Each hello the program repeated came with its site info, and the site
    // info came once more when the session was open, never again.
    int repeats = 0;
    EXPECT_EQ(withoutRepeats(text(folder / "report"), repeats), "CS") << text(folder / "report");
    EXPECT_GE(repeats, 1);
}

// A site's card whose texts hold the address book's field separator is filed
// without it: the book keeps its groups and entries, and no entry is forged.
TEST_F(PlainPeerTest, ACardsFieldSeparatorsNeverReachTheAddressBook) {
    const unsigned short port = nettest::freePort();
    start({"/P=" + std::to_string(port)});
    ASSERT_TRUE(pumpUntil([&] { return frame->Connection()->IsListeningFor(2); }));
    const std::string path = frame->AddressBookPath();
    fs::create_directories(fs::path(path).parent_path());
    auto group = [](const std::string& name) {
        std::string record = "0:" + name;
        record.resize(34, '\0');
        return record;
    };
    const std::string yard = std::string("1:Yard\x01") + "555-0100\x01\x01\x01";
    const std::string book = "KEAB1000" + group("Depots") + yard + group("Gates");
    writeFile(path, std::vector<BYTE>(book.begin(), book.end()));
    auto peer = velmoor::testing::ChildProcess::start("plain_peer_card", {std::to_string(port), folder.string()});
    ASSERT_TRUE(waitFor(folder / "card-sent"));

    CAddrBookFile filed;
    filed.SetFileName(path, 0);
    ASSERT_TRUE(pumpUntil([&] {
        filed.Load();
        return filed.Groups().size() != 2 || filed.Groups()[0].entries.size() > 1;
    })) << "the card was never filed";
    std::vector<std::string> groups;
    for (const auto& g : filed.Groups()) groups.push_back(g.name);
    EXPECT_EQ(groups, (std::vector<std::string>{"Depots", "Gates"}));
    ASSERT_EQ(filed.Groups()[0].entries.size(), 2u);
    EXPECT_TRUE(filed.Groups()[1].entries.empty());
    EXPECT_EQ(filed.Groups()[0].entries[0]->Name(), "Yard");
    const AddrBookEntry& card = *filed.Groups()[0].entries[1];
    EXPECT_EQ(card.Name(), "NorthGate");
    EXPECT_EQ(card.Phone(), "555");
    EXPECT_EQ(card.Info(), "x1:Forged");
    EXPECT_EQ(filed.FindEntry("Forged"), nullptr);

    mark(folder / "hang-up");
    ASSERT_TRUE(waitFor(folder / "report"));
    EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);
}

// The peer asks for this station's event list of a camera: the program
// sends the list of its own events of that camera, or "<NOEVENTSREC>" for a
// camera without events.
TEST_F(PlainPeerTest, APeersEventListRequestIsServedFromThisStationsEvents) {
    const std::string root = eventtest::useTestRoot();
    const std::string recorded = eventtest::writeEvent(eventtest::key(EVENT_TYPE_AUTOMATIC, 1, 2, 3),
                                                       {{1500, false}, {2600, false}});
    ASSERT_TRUE(fs::exists(recorded));
    const unsigned short port = nettest::freePort();
    start({"/P=" + std::to_string(port)});
    ASSERT_TRUE(pumpUntil([&] { return frame->Connection()->IsListeningFor(2); }));
    auto peer = velmoor::testing::ChildProcess::start("plain_peer_asks_events", {std::to_string(port), folder.string()});
    ASSERT_TRUE(waitFor(folder / "none")) << "the peer ended with " << peer.wait(std::chrono::seconds(1))
                                          << (fs::exists(folder / "list.bin") ? "; the list came" : "; no list came");
    // The list names the camera's one event.
    const std::vector<BYTE> list = readFile(folder / "list.bin");
    ASSERT_EQ(list.size(), kEventDirListRecordSize + sizeof(tagEventHeader));
    tagEventDirListCamera head{};
    CEventFile::evListRecordFromBytes(list.data(), &head);
    EXPECT_EQ(+head.wAdapter, 1);
    EXPECT_EQ(+head.wCamera, 2);
    tagEventHeader listed{};
    std::memcpy(&listed, list.data() + kEventDirListRecordSize, sizeof listed);
    EXPECT_EQ(+listed.dwEventNumber, 3u);
    mark(folder / "hang-up");
    ASSERT_TRUE(waitFor(folder / "report"));
    EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);
}

// The user stops an event file and an event list while they arrive: a kit
// waiting for either hears that its download ended (code 8).
TEST_F(PlainPeerTest, AStoppedDownloadTellsTheKitItEnded) {
    const unsigned short port = nettest::freePort();
    start({"/P=" + std::to_string(port)});
    KitProxy kit;
    ASSERT_TRUE(kit.create("CorvastaProxy", "Corvasta listener window"));
    {
        std::vector<BYTE> hello(kTessPayloadBytes, 0);
        ASSERT_EQ(kitRequest(app->GetTessIntegration()->hwnd(), kit.hwnd(), 0, hello), 0);
    }
    ASSERT_TRUE(pumpUntil([&] { return frame->Connection()->IsListeningFor(2); }));
    auto peer = velmoor::testing::ChildProcess::start("plain_peer_offers_downloads", {std::to_string(port), folder.string()});
    CPacketConnection& link = *frame->Connection();
    struct Case {
        const char* name;
        WORD code;  // the kit's notification
    };
    for (const Case c : {Case{"event", 28}, Case{"list", 26}}) {
        ASSERT_TRUE(waitFor(folder / (std::string(c.name) + "-offered"))) << c.name;
        ASSERT_TRUE(pumpUntil([&] { return link.GetFileReceiveStatus() == REC_RECEIVING; })) << c.name;
        EXPECT_EQ(kit.heard(c.code), nullptr) << c.name;
        platform::PostMessage(frame->Hwnd(), kMsgCancelFileReceive, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return kit.heard(c.code) != nullptr; })) << c.name;
        DWORD result = 0;
        std::memcpy(&result, kit.heard(c.code)->payload.data() + (c.code == 28 ? 260 : 0), sizeof result);
        EXPECT_EQ(result, 8u) << c.name;
        mark(folder / (std::string(c.name) + "-stopped"));
    }
    mark(folder / "hang-up");
    ASSERT_TRUE(waitFor(folder / "report"));
    EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);
}

TEST_F(PlainPeerTest, FilesReachAPeerThatAnswersByTokenAndTheHelloCarriesTheUserRecord) {
    auto peer = velmoor::testing::ChildProcess::start("plain_peer_receives", {folder.string()});
    ASSERT_TRUE(waitFor(folder / "port"));
    start({"/P=" + std::to_string(nettest::freePort())});
    frame->AutoConnect("127.0.0.1:" + text(folder / "port"));
    ASSERT_TRUE(waitFor(folder / "open"));
    // The administrator of a fresh home: no password, the highest rights, logged in now.
    EXPECT_EQ(text(folder / "user"), "admin||1|1|1|1");

    std::vector<BYTE> bytes(5000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 7 % 5);
    writeFile(folder / "out.bin", bytes);
    CPacketConnection& link = *frame->Connection();
    ASSERT_TRUE(pumpUntil([&] { return link.IsConnected(); }));
    // Blocks answered by their own numbers, the check by "<CRCOK><0>": the
    // answer's token finishes the file ("<FinishSending>" ends the peer's
    // reception), whatever number follows it.
    ASSERT_TRUE(frame->SendFile((folder / "out.bin").string(), ""));
    ASSERT_TRUE(waitFor(folder / "numbered.bin"));
    EXPECT_EQ(readFile(folder / "numbered.bin"), bytes);
    ASSERT_TRUE(pumpUntil([&] { return frame->LastSendResult() == SEND_COMPLETE; }));
    // "<CRCnotOK><0>" to the whole-file check fails the send at once.
    ASSERT_TRUE(frame->SendFile((folder / "out.bin").string(), ""));
    ASSERT_TRUE(pumpUntil([&] { return frame->LastSendResult() == SEND_FAILED; }));
    // "<CRCOK><0>" to every block and to the check: the file arrives whole.
    ASSERT_TRUE(frame->SendFile((folder / "out.bin").string(), ""));
    ASSERT_TRUE(pumpUntil([&] { return frame->LastSendResult() == SEND_COMPLETE; }));
    ASSERT_TRUE(waitFor(folder / "received.bin"));
    EXPECT_EQ(readFile(folder / "received.bin"), bytes);
    // Without a display, the notice that closes itself (here: a file to send
    // is missing) reaches standard error, as the program's boxes do.
    const int noticesBefore = frame->LinkNoticesShown();
    testing::internal::CaptureStderr();
    const std::string missing = (folder / "missing.bin").string();
    const bool queued = pumpUntil([&] { return frame->SendFile(missing, "") != FALSE; });
    const bool noticed = queued && pumpUntil([&] { return frame->LinkNoticesShown() > noticesBefore; });
    const std::string errors = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(noticed);
    EXPECT_NE(errors.find(frame->LastNotice()), std::string::npos) << errors;
    EXPECT_NE(errors.find("missing.bin"), std::string::npos) << errors;
    mark(folder / "hang-up");
    ASSERT_TRUE(waitFor(folder / "report"));
    EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);
    int repeats = 0;
    EXPECT_EQ(withoutRepeats(text(folder / "report"), repeats), "CS") << text(folder / "report");
}

// A send cancelled by the remote settings manager's abort or by the kit's
// cancel of a settings upload tells the peer "<Stop Sending>" at once, ends
// stopped and leaves no line in the sent-files history.
TEST_F(PlainPeerTest, ACancelledSendTellsThePeerAndIsNotRecordedAsSent) {
    struct Case {
        const char* type;
        std::function<void()> cancel;
    };
    const std::vector<Case> cases = {
        {"", [&] { frame->GetRemoteSetMgr()->AbortTransfer(); }},
        {"Set List", [&] { frame->RemoteCancelProfile(1); }},
    };
    auto peer = velmoor::testing::ChildProcess::start("plain_peer_awaits_stop",
                                                      {folder.string(), std::to_string(cases.size())});
    ASSERT_TRUE(waitFor(folder / "port"));
    start({"/P=" + std::to_string(nettest::freePort())});
    frame->AutoConnect("127.0.0.1:" + text(folder / "port"));
    ASSERT_TRUE(waitFor(folder / "open"));
    CPacketConnection& link = *frame->Connection();
    ASSERT_TRUE(pumpUntil([&] { return link.IsConnected(); }));
    const std::string history = frame->Settings().caldrin.sentFile;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const fs::path file = folder / ("cancelled" + std::to_string(i) + ".bin");
        writeFile(file, std::vector<BYTE>(200000, static_cast<BYTE>('a' + i)));
        ASSERT_TRUE(frame->SendFile(file.string(), cases[i].type));
        ASSERT_TRUE(waitFor(folder / ("block-" + std::to_string(i))));
        cases[i].cancel();
        EXPECT_NE(link.GetFileSendStatus(), SEND_COMPLETE);
        ASSERT_TRUE(waitFor(folder / ("stopped-" + std::to_string(i))));
        // The pass makes the side ready again once it saw the end.
        ASSERT_TRUE(pumpUntil([&] { return link.GetFileSendStatus() == SEND_IDLE; }));
        EXPECT_EQ(frame->LastSendResult(), SEND_STOPPED);
        EXPECT_EQ(readAll(history).find(file.filename().string()), std::string::npos) << readAll(history);
    }
    mark(folder / "hang-up");
    ASSERT_TRUE(waitFor(folder / "report"));
    EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);
}

}  // namespace

// An offer larger than the receive folder's free space is refused at once,
// and the user is told why by a notice, not a box; the call goes on.
TEST_F(PlainPeerTest, AnOfferLargerThanTheFreeSpaceIsRefusedAtOnceAndTold) {
    const unsigned short port = nettest::freePort();
    start({"/P=" + std::to_string(port)});
    ASSERT_TRUE(pumpUntil([&] { return frame->Connection()->IsListeningFor(2); }));
    const std::size_t boxes = ui.messages.size();
    auto peer = velmoor::testing::ChildProcess::start("plain_peer_huge_offer", {std::to_string(port), folder.string()});
    ASSERT_TRUE(waitFor(folder / "offered"));
    std::istringstream offered(text(folder / "offered"));
    std::string answer;
    long ms = -1;
    offered >> answer >> ms;
    EXPECT_EQ(answer, "refused");
    EXPECT_LT(ms, 5000);
    ASSERT_TRUE(pumpUntil([&] { return frame->LinkNoticesShown() >= 1; }));
    EXPECT_NE(frame->LastNotice().find("disk is full"), std::string::npos) << frame->LastNotice();
    EXPECT_NE(frame->LastNotice().find("huge.trg"), std::string::npos) << frame->LastNotice();
    EXPECT_EQ(ui.messages.size(), boxes);

    mark(folder / "hang-up");
    ASSERT_TRUE(waitFor(folder / "report"));
    EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);
}
