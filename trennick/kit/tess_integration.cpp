#include "trennick/kit/tess_integration.h"

#include "platform/local_bus.h"
#include "platform/shared_memory.h"
#include "trennick/link/link_trace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <unistd.h>

namespace trennick {

using platform::HWND;
using platform::DWORD_PTR;
using platform::UINT_PTR;

struct CTessIntegration::Client {
    DWORD id = 0;
    std::shared_ptr<std::counting_semaphore<>> semaphore;
    std::atomic<DWORD> missedSends{0};
};

struct CTessIntegration::SendRecord {
    HWND target = 0;
    TessBlock block{};
    UINT timeoutMs = 0;
    std::shared_ptr<std::counting_semaphore<>> semaphore;
};

struct CTessIntegration::Sender {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

namespace {

constexpr UINT_PTR kPurgeTimerId = 0;

// The payload layouts of the notifications: each argument of a Notify... call,
// in the call's order, is a 16- or 32-bit number or a text (at most limit - 1
// characters and its terminator) at its payload offset. The kit reads these
// offsets; they never move.
struct Slot {
    enum class Kind : BYTE { End, Word, Dword, Text };
    Kind kind = Kind::End;
    WORD offset = 0;
    WORD limit = 0;
};
constexpr Slot w(WORD at) { return {Slot::Kind::Word, at, 0}; }
constexpr Slot d(WORD at) { return {Slot::Kind::Dword, at, 0}; }
constexpr Slot t(WORD at, WORD limit) { return {Slot::Kind::Text, at, limit}; }

constexpr std::size_t kMaxSlots = 10;
struct Layout {
    WORD code;
    Slot slots[kMaxSlots];
};

// Codes 2 to 33 in order (the announcement and the goodbye carry the recorder
// information instead).
constexpr WORD kFirstLaidOut = kTessBeforeModeChanged;
constexpr Layout kLayouts[] = {
    {kTessBeforeModeChanged, {w(0), w(2)}},                 // old mode, new mode
    {kTessAuthorizationError, {w(0), t(2, 100)}},
    {kTessAlarmDetected, {w(0), w(2), w(4), w(6), t(8, 50)}},  // the current mode first
    {kTessAfterConnect, {d(0)}},
    {kTessAfterDisconnect, {w(0)}},
    {kTessBeforeDialOnAlarm, {w(0), w(2)}},
    {kTessGroupsChanged, {}},
    {kTessVideoIsStreaming, {w(0)}},
    {kTessFileAccepted, {w(0), t(2, 260)}},
    {kTessFileStarted, {}},
    {kTessRecordStart, {t(0, 260), d(260), d(264)}},
    {kTessRecordFinish, {t(0, 260), d(260), d(264)}},
    {kTessFullEvents, {}},
    {kTessEventModeChanged, {w(0)}},
    {kTessMemoryFree, {}},
    {kTessSetSerialOutConfigAck, {w(0), w(2)}},
    {kTessGetSerialOutConfigAck, {w(0), w(2), w(4), d(8), w(12), w(14), w(16), w(18), t(20, 1000), w(1020)}},
    {kTessSerialOutDataWriteAck, {w(0), w(2), w(6)}},
    {kTessSerialOutDataRead, {w(0), t(4, 1000), w(1004), w(1006)}},
    {kTessTermSerialOutAck, {w(0), w(1020)}},
    {kTessSerialOutError, {w(0), w(2), w(4)}},
    {kTessSerialOutDataReadAck, {w(0), w(1020)}},
    {kTessSetActiveProtocol, {w(2), t(20, 1000), w(1020)}},
    {kTessListDownloadStarted, {}},
    {kTessListDownloadFinished, {d(0)}},
    {kTessEventDownloadStarted, {}},
    // The path is terminated within its 260 bytes, so the kit never reads it
    // into the numbers behind it.
    {kTessEventDownloadFinished, {t(0, 260), d(260), d(264), d(276)}},
    {kTessLineConnected, {d(0), t(4, 260)}},
    {kTessLineDisconnected, {d(0), t(4, 260)}},
    {kTessLineRing, {d(0), t(4, 260)}},
    {kTessGetProfileDone, {t(0, 260), w(260)}},
    {kTessSetProfileDone, {t(0, 260), w(260)}},
};

// Every layout sits at its code's place and stays inside the payload.
constexpr bool layoutsAreSound() {
    for (std::size_t i = 0; i < std::size(kLayouts); ++i) {
        if (kLayouts[i].code != kFirstLaidOut + i) return false;
        for (const Slot& s : kLayouts[i].slots) {
            const std::size_t bytes = s.kind == Slot::Kind::Word    ? sizeof(WORD)
                                      : s.kind == Slot::Kind::Dword ? sizeof(DWORD)
                                                                    : s.limit;
            if (s.offset + bytes > kTessPayloadBytes) return false;
        }
    }
    return true;
}
static_assert(layoutsAreSound());
static_assert(std::size(kLayouts) == kTessSetProfileDone - kFirstLaidOut + 1);

// One argument of a notification: a number (16-bit slots take its low word) or a text.
struct Arg {
    DWORD number = 0;
    const char* text = nullptr;
    constexpr Arg(DWORD n) : number(n) {}
    constexpr Arg(const char* s) : text(s) {}
};

// Fills the payload of a notification block from its arguments by the layout
// of its code.
TessBlock laidOut(TessBlock block, std::initializer_list<Arg> args) {
    const Layout& layout = kLayouts[block.wCode - kFirstLaidOut];
    std::size_t slots = 0;
    while (slots < kMaxSlots && layout.slots[slots].kind != Slot::Kind::End) ++slots;
    if (args.size() != slots) {
        linkTrace(1, "CTessIntegration: notification %u takes %zu arguments, %zu given", unsigned(block.wCode), slots,
                  args.size());
    }
    const Slot* slot = layout.slots;
    for (const Arg& arg : args) {
        if (slot == layout.slots + slots) break;
        BYTE* at = block.payload + slot->offset;
        switch (slot->kind) {
        case Slot::Kind::Word: {
            const WORD value = static_cast<WORD>(arg.number);
            std::memcpy(at, &value, sizeof value);
            break;
        }
        case Slot::Kind::Dword:
            std::memcpy(at, &arg.number, sizeof arg.number);
            break;
        case Slot::Kind::Text:
            if (arg.text != nullptr) {
                const std::size_t length = strnlen(arg.text, slot->limit - 1u);
                std::memcpy(at, arg.text, length);
                at[length] = 0;
            }
            break;
        case Slot::Kind::End:
            break;
        }
        ++slot;
    }
    return block;
}

// A fresh shared block holding `block`; invalid when it cannot be made.
platform::SharedMemory makeSharedBlock(const TessBlock& block) {
    platform::SharedMemory memory = platform::SharedMemory::create(kTessBlockBytes);
    if (!memory.valid()) {
        linkTrace(1, "OSharedMemory<T>::OSharedMemory() CreateFileMapping failed win32 Error %d", errno);
        return memory;
    }
    std::memcpy(memory.data(), &block, kTessBlockBytes);
    return memory;
}

}  // namespace

UINT CTessIntegration::OutMessage() {
    static const UINT message = platform::RegisterWindowMessage(kTessOutMessageName);
    return message;
}

UINT CTessIntegration::InMessage() {
    static const UINT message = platform::RegisterWindowMessage(kTessInMessageName);
    return message;
}

CTessIntegration::CTessIntegration(std::string_view instanceId)
    : m_instanceId(instanceId), m_title(std::string(kTessWindowTitle) + std::string(instanceId)) {}

CTessIntegration::~CTessIntegration() {
    const HWND own = hwnd();
    if (own != 0) {
        platform::KillTimer(own, kPurgeTimerId);
        SayGoodbye();
    }
    std::vector<DWORD> ids = ClientIds();
    for (DWORD id : ids) {
        std::lock_guard lock(m_clientsMutex);
        m_clients.remove_if([id](const auto& c) { return c->id == id; });
    }
    m_ownerLock = 0;
    m_secondOwnerLock = 0;
    reapSenders(true);
    destroy();
}

bool CTessIntegration::Create() {
    if (!create("TessIntegrationWnd", m_title)) {
        linkTrace(1, "CTessIntegration::Create() the window \"%s\" could not be made", m_title.c_str());
        return false;
    }
    m_ownWindow = hwnd();
    OutMessage();
    InMessage();
    return true;
}

bool CTessIntegration::purgeHasWork() const {
    std::lock_guard lock(m_clientsMutex);
    return !m_clients.empty() || m_ownerLock != 0 || m_secondOwnerLock != 0;
}

void CTessIntegration::updatePurgeTimer() {
    // The purge looks for clients that went away and locks they left: with no
    // client and no lock there is nothing to look for, and the timer rests.
    const bool wanted = hwnd() != 0 && purgeHasWork();
    if (wanted == m_timerRunning) return;
    if (wanted) {
        m_timerRunning = platform::SetTimer(hwnd(), kPurgeTimerId, m_purgePeriodMs) != 0;
    } else {
        platform::KillTimer(hwnd(), kPurgeTimerId);
        m_timerRunning = false;
    }
}

void CTessIntegration::SetPurgePeriod(UINT periodMs) {
    m_purgePeriodMs = std::max<UINT>(periodMs, 10);
    if (m_timerRunning && hwnd() != 0) {
        platform::SetTimer(hwnd(), kPurgeTimerId, m_purgePeriodMs);
    }
}

WORD CTessIntegration::CurrentMode() const {
    WORD mode = 0;
    std::memcpy(&mode, m_info + kTessInfoModeOffset, sizeof mode);
    return mode;
}

void CTessIntegration::SetCurrentMode(WORD mode) {
    std::memcpy(m_info + kTessInfoModeOffset, &mode, sizeof mode);
}

std::vector<DWORD> CTessIntegration::ClientIds() const {
    std::lock_guard lock(m_clientsMutex);
    std::vector<DWORD> ids;
    for (const auto& client : m_clients) {
        ids.push_back(client->id);
    }
    return ids;
}

DWORD CTessIntegration::MissedSends(DWORD clientId) const {
    auto client = findClient(clientId);
    return client ? client->missedSends.load() : 0;
}

std::shared_ptr<CTessIntegration::Client> CTessIntegration::findClient(DWORD clientId) const {
    std::lock_guard lock(m_clientsMutex);
    for (const auto& client : m_clients) {
        if (client->id == clientId) {
            return client;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<CTessIntegration::Client>> CTessIntegration::clientsSnapshot() const {
    std::lock_guard lock(m_clientsMutex);
    return {m_clients.begin(), m_clients.end()};
}

// ---- window and requests ----

LRESULT CTessIntegration::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == OutMessage()) {
        return DispatchRequest(static_cast<DWORD>(wParam), static_cast<int>(lParam));
    }
    if (msg == platform::WM_TIMER) {
        OnTimer();
        return 0;
    }
    return MessageWindow::WindowProc(msg, wParam, lParam);
}

void CTessIntegration::OnTimer() {
    PurgeClients();
    updatePurgeTimer();
}

LRESULT CTessIntegration::DispatchRequest(DWORD senderPid, int fd) {
    // The layer hands over the receiver's own descriptor and closes it after
    // this call; the mapping keeps a duplicate only while the request runs.
    platform::SharedMemory memory = platform::SharedMemory::open(fd, kTessBlockBytes);
    if (!memory.valid()) {
        if (fd < 0) {
            linkTrace(1, "OSharedMemory<T>::OSharedMemory DuplicateHandle Failed win32 Error %d ", errno);
        } else {
            linkTrace(1, "OSharedMemory<T>::OSharedMemory MapViewOfFile Failed win32 Error %d ", errno);
        }
        return kTessBlockRefused;
    }
    if (memory.size() != kTessBlockBytes) {
        linkTrace(1, "CTessIntegration::DispatchRequest() block of %zu bytes refused, %zu expected",
                  memory.size(), kTessBlockBytes);
        return kTessBlockRefused;
    }
    const LRESULT answer = handleRequest(senderPid, *static_cast<TessBlock*>(memory.data()));
    // A request may have registered a client or taken a lock.
    updatePurgeTimer();
    return answer;
}

LRESULT CTessIntegration::handleRequest(DWORD senderPid, TessBlock& block) {
    // The block lives in memory the sender can still write: read the header once.
    const DWORD clientId = block.dwSenderId;
    const WORD code = block.wCode;
    // The client id names the client's window; a request that names a window
    // of another process (or none) would act for a client that did not send it.
    if (clientId == 0 || platform::windowProcessId(clientId) != senderPid || senderPid == 0) {
        linkTrace(1, "CTessIntegration::DispatchRequest() request %u refused: sender 0x%lx is no window of process %lu",
                  unsigned(code), static_cast<unsigned long>(clientId), static_cast<unsigned long>(senderPid));
        return kTessBlockRefused;
    }
    BYTE* payload = block.payload;
    switch (code) {
    case kTessRequestRegister:
        registerClient(clientId, payload);
        OnClientsChanged();
        PurgeClients();
        return TESS_ERROR_NONE;
    case kTessRequestUnregister:
        RemoveClient(clientId);
        PurgeClients();
        return TESS_ERROR_NONE;
    default:
        return handleCode(code, clientId, payload);
    }
}

void CTessIntegration::registerClient(DWORD clientId, BYTE* payload) {
    auto client = std::make_shared<Client>();
    client->id = clientId;
    const LONG count = std::max<LONG>(GetClientSemaphoreCount(), 1);
    client->semaphore = std::make_shared<std::counting_semaphore<>>(count);
    {
        std::lock_guard lock(m_clientsMutex);
        // A client that registers again keeps one record: two would double
        // every notification it gets.
        m_clients.remove_if([clientId](const auto& c) { return c->id == clientId; });
        m_clients.push_front(client);
    }
    FillClientInfo(payload);
}

LRESULT CTessIntegration::handleCode(WORD code, DWORD id, BYTE* p) {
    auto firstDword = [p] {
        DWORD value = 0;
        std::memcpy(&value, p, sizeof value);
        return value;
    };
    switch (code) {
    case 2: return OLGetProperty(id, p);
    case 3: return OLSetProperty(id, p);
    case 4: return OLGetGroupProperty(id, p);
    case 5: return OLSetGroupProperty(id, p);
    case 6: return OLGetCameraInformation(id, p);
    case 7: return OLSetCameraInformation(id, p);
    case kTessRequestOwnerLock: return SetOwnerLock(id, firstDword());
    case kTessRequestSecondOwnerLock: return SetSecondOwnerLock(id, firstDword());
    case 10: return OLModeRequest(id, p);
    case kTessRequestChangeMode: return OnChangeMode(id, p);
    case 12: return OLDetectVideoStandard(id, p);
    case 13: {
        WORD group = 0;
        std::memcpy(&group, p, sizeof group);
        return OLRecordEvent(id, group);
    }
    case 14: return OLGetRelayInformation(id, p);
    case 15: return OLSetRelayInformation(id, p);
    case 16: return OLActivateAlarm(id, p);
    case 17: return OLGetDayProperty(id, p);
    case 18: return OLSetDayProperty(id, p);
    case 19: return OLViewCamera(id, p);
    case 20: return OLShowVideoSource(id, p);
    case 21: return OLGetNightProperty(id, p);
    case 22: return OLSetNightProperty(id, p);
    case 23: return OLGetPhoneProperty(id, p);
    case 24: return OLSetPhoneProperty(id, p);
    case 25: return OLNightAction(id, p);
    case 26: return OLGetRemoteProperty(id, p);
    case 27: return OLSetRemoteProperty(id, p);
    case 28: return OLRemoteAction(id, p);
    case 29: return OLGetGroupWindow(id, p);
    case 30: return OLSetGroupWindow(id, p);
    case 31: return OLShowGroupToolbar(id, p);
    case 32: return OLIsDeviceConnected(id, p);
    case 33: return OLGetFileStatus(id, p);
    case 34: return OLGetFileInformation(id, p);
    case 35: return OLCancelFileReceiving(id);
    case 36: return OLGetDeviceStatus(p);
    case 37: return OLArmSys();
    case 38: return OLDisarmSys();
    case 39: return OLIsSysArm(p);
    case kTessRequestReceiverId: {
        // The text lies inside the payload; its room ends with the block.
        // Terminate the room so a handler reading it as a text stays inside.
        p[kTessPayloadBytes - 1] = 0;
        return OLGetReceiverID(id, reinterpret_cast<char*>(p + kTessReceiverIdOffset));
    }
    case 41: return OLReserved41(id, p);
    case 42: return OLSequenceMode(id, p);
    case 43: return OLEventExpOpen(id, p);
    case 44: return OLGetEventMode(id, p);
    case 45: return OLSetEventMode(id, p);
    case 46: return OLFreeEvents(id);
    case 47: return OLSetSerialOutConfig(id, p);
    case 48: return OLGetSerialOutConfig(id, p);
    case 49: return OLSerialOutWrite(id, p);
    case 50: return OLSerialOutDataWrite(id, p);
    case 51: return OLSerialOutDataRead(id, p);
    case 52: return OLTermSerialOut(id, p);
    case 53: return OLGetActiveProtocol(id, p);
    case 54: return OLActivateTask(id, p);
    case 55: return OLEventExpOpenList(id, p);
    case 56: return OLDownloadEventList(id);
    case 57: return OLEventExpClose(id);
    case 58: return OLGetEvent(id, p);
    case 59: return OLFindFirstEvent(id, p);
    case 60: return OLFindNextEvent(id, p);
    case 61: return OLFindClose(id);
    case 63: return OLGetEventInfo(id, p);
    case 64: return OLEventExpCancel(id, p);
    case 65: return OLGetDownloadState(id, p);
    case 66: return OLGetAudioState(id, p);
    case 67: return OLGetProfile(id, p);
    case 68: return OLSetProfile(id, p);
    case 69: return OLGetProfileState(id, p);
    case 70: return OLCancelProfile(id, p);
    default:
        linkTrace(3, "CTessIntegration::DispatchRequest() request %u has no handler", unsigned(code));
        return TESS_ERROR_METHOD_UNSUPPORTED;
    }
}

// ---- clients and locks ----

int CTessIntegration::RemoveClient(DWORD clientId) {
    if (!findClient(clientId)) {
        return 0;
    }
    SetOwnerLock(clientId, 0);
    SetSecondOwnerLock(clientId, 0);
    {
        std::lock_guard lock(m_clientsMutex);
        m_clients.remove_if([clientId](const auto& c) { return c->id == clientId; });
    }
    OnClientsChanged();
    return 1;
}

void CTessIntegration::PurgeClients() {
    const DWORD maxMissed = GetMaxMissedSends();
    for (const auto& client : clientsSnapshot()) {
        if (!platform::IsWindow(client->id) || client->missedSends.load() > maxMissed) {
            linkTrace(3, "CTessIntegration::PurgeClients() client 0x%lx removed (%lu missed sends)",
                      static_cast<unsigned long>(client->id),
                      static_cast<unsigned long>(client->missedSends.load()));
            RemoveClient(client->id);
        }
    }
    if (m_ownerLock != 0 && !findClient(m_ownerLock)) {
        m_ownerLock = 0;
    }
    if (m_secondOwnerLock != 0 && !findClient(m_secondOwnerLock)) {
        m_secondOwnerLock = 0;
    }
}

LONG CTessIntegration::SetOwnerLock(DWORD clientId, DWORD set) {
    if (m_ownerLock != 0 && m_ownerLock != clientId) {
        return TESS_ERROR_LOCKED;
    }
    m_ownerLock = set != 0 ? clientId : 0;
    return TESS_ERROR_NONE;
}

LONG CTessIntegration::SetSecondOwnerLock(DWORD clientId, DWORD set) {
    if (m_secondOwnerLock != 0 && m_secondOwnerLock != clientId) {
        return TESS_ERROR_LOCKED;
    }
    m_secondOwnerLock = set != 0 ? clientId : 0;
    return TESS_ERROR_NONE;
}

LONG CTessIntegration::OnChangeMode(DWORD, BYTE* payload) {
    if (m_ownerLock != 0) {
        return TESS_ERROR_NONE;
    }
    WORD oldMode = 0;
    WORD newMode = 0;
    std::memcpy(&oldMode, payload, sizeof oldMode);
    std::memcpy(&newMode, payload + 2, sizeof newMode);
    if (CurrentMode() == oldMode) {
        NotifyBeforeModeChanged(oldMode, newMode);
    }
    return TESS_ERROR_NONE;
}

// ---- sending ----

TessBlock CTessIntegration::notificationBlock(WORD code) const {
    TessBlock block{};
    block.dwSenderId = static_cast<DWORD>(m_ownWindow.load());
    block.wCode = code;
    return block;
}

void CTessIntegration::notifyAll(const TessBlock& block) {
    for (const auto& client : clientsSnapshot()) {
        DoBeginAsyncSendThread(client, block);
    }
}

void CTessIntegration::DoBeginAsyncSendThread(const std::shared_ptr<Client>& client, const TessBlock& block) {
    reapSenders(false);
    if (!client->semaphore->try_acquire_for(std::chrono::milliseconds(100))) {
        linkTrace(5, "CTessIntegration::DoBeginAsyncSendThread pSemaphore->Lock(10) Failed for Function %d",
                  int(block.wCode));
        ++client->missedSends;
        return;
    }
    linkTrace(5, "CTessIntegration::DoBeginAsyncSendThread Before AfxBeginThread for function %d ",
              int(block.wCode));
    auto record = std::make_unique<SendRecord>();
    record->target = client->id;
    record->block = block;
    record->timeoutMs = GetAnswerTimeout();
    record->semaphore = client->semaphore;
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(m_sendersMutex);
    m_senders.push_back(Sender{std::thread([record = std::move(record), done]() mutable {
                                   SendTESSINAsyncProc(std::move(record));
                                   done->store(true);
                               }),
                               done});
}

void CTessIntegration::SendTESSINAsyncProc(std::unique_ptr<SendRecord> record) {
    const int code = record->block.wCode;
    platform::SharedMemory memory = makeSharedBlock(record->block);
    const HWND target = record->target;
    const UINT timeoutMs = record->timeoutMs;
    auto semaphore = std::move(record->semaphore);
    record.reset();
    if (!memory.valid()) {
        semaphore->release();
        return;
    }
    if (!platform::IsWindow(target)) {
        // The count stays taken: the client goes with its window at the next purge.
        linkTrace(3, "CTessIntegration::SendTESSINAsyncProc IsWindow(hTargetWnd) Failed function %d", code);
        return;
    }
    linkTrace(1, "CTessIntegration::SendTESSINAsyncProc Before send Message for func %d with time out %d", code,
              int(timeoutMs));
    DWORD_PTR answer = 0;
    LRESULT sent;
    if (timeoutMs == 0) {
        sent = platform::SendMessageFd(target, InMessage(), static_cast<WPARAM>(::getpid()), memory.fd());
        answer = static_cast<DWORD_PTR>(sent);
    } else {
        sent = platform::SendMessageTimeoutFd(target, InMessage(), static_cast<WPARAM>(::getpid()), memory.fd(),
                                              platform::SMTO_BLOCK, timeoutMs, &answer);
    }
    if (sent == 0 || answer == 0) {
        linkTrace(1, "CTessIntegrationL::SendTESSINAsyncProc Send message failed ");
    }
    semaphore->release();
    linkTrace(1, "CTessIntegration::SendTESSINAsyncProc After send Message for func %d with time out %d", code,
              int(timeoutMs));
}

void CTessIntegration::sendSynchronous(const std::shared_ptr<Client>& client, const TessBlock& block) {
    if (!client->semaphore->try_acquire_for(std::chrono::milliseconds(10))) {
        linkTrace(5, "CTessIntegration::DoBeginAsyncSendThread pSemaphore->Lock(10) Failed for Function %d",
                  int(block.wCode));
        ++client->missedSends;
        return;
    }
    auto record = std::make_unique<SendRecord>();
    record->target = client->id;
    record->block = block;
    record->timeoutMs = GetSendTimeout();
    record->semaphore = client->semaphore;
    m_lastSendTimeoutMs = record->timeoutMs;
    SendTESSINAsyncProc(std::move(record));
}

void CTessIntegration::reapSenders(bool all) {
    std::list<Sender> finished;
    {
        std::lock_guard lock(m_sendersMutex);
        for (auto it = m_senders.begin(); it != m_senders.end();) {
            if (all || it->done->load()) {
                auto next = std::next(it);
                finished.splice(finished.end(), m_senders, it);
                it = next;
            } else {
                ++it;
            }
        }
    }
    for (auto& sender : finished) {
        if (sender.thread.joinable()) {
            sender.thread.join();
        }
    }
}

void CTessIntegration::WaitForSends() {
    reapSenders(true);
}

void CTessIntegration::fillInfoPayload(TessBlock& block) {
    FillClientInfo(m_info);
    std::memcpy(block.payload, m_info, kTessInfoBytes);
    std::memcpy(block.payload + kTessInfoBytes, &m_infoValue, sizeof m_infoValue);
}

void CTessIntegration::Announce(HWND window, DWORD id) {
    // One block per process, made on first use and kept until the process ends:
    // posted messages may still be on their way when this call returns.
    static platform::SharedMemory announceBlock;
    static std::mutex announceMutex;
    std::lock_guard lock(announceMutex);
    if (!announceBlock.valid()) {
        announceBlock = platform::SharedMemory::create(kTessBlockBytes);
        if (!announceBlock.valid()) {
            linkTrace(1, "OSharedMemory<T>::OSharedMemory() CreateFileMapping failed win32 Error %d", errno);
            return;
        }
    }
    TessBlock block{};
    block.dwSenderId = id != 0 ? id : static_cast<DWORD>(m_ownWindow.load());
    block.wCode = kTessAnnounce;
    fillInfoPayload(block);
    std::memcpy(announceBlock.data(), &block, kTessBlockBytes);
    m_lastSendTimeoutMs = GetSendTimeout();
    m_goodbyeAnswerTimeoutMs = GetAnswerTimeout();
    if (window == platform::HWND_BROADCAST || platform::IsWindow(window)) {
        platform::PostMessageFd(window, InMessage(), static_cast<WPARAM>(::getpid()), announceBlock.fd());
    }
}

void CTessIntegration::SayGoodbye() {
    static platform::SharedMemory goodbyeBlock;
    static std::mutex goodbyeMutex;
    std::lock_guard lock(goodbyeMutex);
    if (!goodbyeBlock.valid()) {
        goodbyeBlock = platform::SharedMemory::create(kTessBlockBytes);
        if (!goodbyeBlock.valid()) {
            linkTrace(1, "OSharedMemory<T>::OSharedMemory() CreateFileMapping failed win32 Error %d", errno);
            return;
        }
    }
    TessBlock block = notificationBlock(kTessGoodbye);
    fillInfoPayload(block);
    std::memcpy(goodbyeBlock.data(), &block, kTessBlockBytes);
    if (m_goodbyeAnswerTimeoutMs == 0) {
        platform::SendMessageFd(platform::HWND_BROADCAST, InMessage(), static_cast<WPARAM>(::getpid()),
                                goodbyeBlock.fd());
    } else {
        DWORD_PTR answer = 0;
        platform::SendMessageTimeoutFd(platform::HWND_BROADCAST, InMessage(), static_cast<WPARAM>(::getpid()),
                                       goodbyeBlock.fd(), platform::SMTO_BLOCK, m_goodbyeAnswerTimeoutMs, &answer);
    }
}

// ---- notifications ----

void CTessIntegration::NotifyAlarmDetected(WORD a, WORD b, WORD c, const char* text) {
    notifyAll(laidOut(notificationBlock(kTessAlarmDetected), {CurrentMode(), a, b, c, text}));
}

void CTessIntegration::NotifyBeforeModeChanged(WORD oldMode, WORD newMode) {
    const TessBlock block = laidOut(notificationBlock(kTessBeforeModeChanged), {oldMode, newMode});
    for (const auto& client : clientsSnapshot()) {
        sendSynchronous(client, block);
    }
}

void CTessIntegration::NotifyAuthorizationError(DWORD clientId, WORD value, const char* text) {
    if (auto client = findClient(clientId)) {
        sendSynchronous(client, laidOut(notificationBlock(kTessAuthorizationError), {value, text}));
    }
}

void CTessIntegration::NotifyAfterConnect(DWORD value) {
    notifyAll(laidOut(notificationBlock(kTessAfterConnect), {value}));
}

void CTessIntegration::NotifyAfterDisconnect(WORD value) {
    notifyAll(laidOut(notificationBlock(kTessAfterDisconnect), {value}));
}

void CTessIntegration::NotifyBeforeDialOnAlarm(WORD a, WORD b) {
    notifyAll(laidOut(notificationBlock(kTessBeforeDialOnAlarm), {a, b}));
}

void CTessIntegration::NotifyCode8() { notifyAll(laidOut(notificationBlock(kTessGroupsChanged), {})); }

void CTessIntegration::NotifyVideoIsStreaming() {
    notifyAll(laidOut(notificationBlock(kTessVideoIsStreaming), {DWORD{0}}));
}

void CTessIntegration::NotifyFileAccepted(WORD value, const char* text) {
    notifyAll(laidOut(notificationBlock(kTessFileAccepted), {value, text}));
}

void CTessIntegration::NotifyFileStarted() { notifyAll(laidOut(notificationBlock(kTessFileStarted), {})); }

void CTessIntegration::NotifyRecordStart(const char* text, DWORD a, DWORD b) {
    notifyAll(laidOut(notificationBlock(kTessRecordStart), {text, a, b}));
}

void CTessIntegration::NotifyRecordFinish(const char* text, DWORD a, DWORD b) {
    notifyAll(laidOut(notificationBlock(kTessRecordFinish), {text, a, b}));
}

void CTessIntegration::NotifyFullEvents() { notifyAll(laidOut(notificationBlock(kTessFullEvents), {})); }

void CTessIntegration::NotifyEventModeChanged(WORD mode) {
    notifyAll(laidOut(notificationBlock(kTessEventModeChanged), {mode}));
}

void CTessIntegration::NotifyMemoryFree() { notifyAll(laidOut(notificationBlock(kTessMemoryFree), {})); }

void CTessIntegration::NotifySetSerialOutConfigAck(WORD a, WORD b) {
    notifyAll(laidOut(notificationBlock(kTessSetSerialOutConfigAck), {a, b}));
}

void CTessIntegration::NotifyGetSerialOutConfigAck(WORD a, WORD b, WORD c, DWORD d, WORD e, WORD f, WORD g,
                                                   WORD h, const char* text, WORD i) {
    notifyAll(laidOut(notificationBlock(kTessGetSerialOutConfigAck), {a, b, c, d, e, f, g, h, text, i}));
}

void CTessIntegration::NotifySerialOutDataWriteAck(WORD a, WORD b, WORD c) {
    notifyAll(laidOut(notificationBlock(kTessSerialOutDataWriteAck), {a, b, c}));
}

void CTessIntegration::NotifySerialOutDataRead(WORD a, const char* text, WORD b, WORD c) {
    notifyAll(laidOut(notificationBlock(kTessSerialOutDataRead), {a, text, b, c}));
}

void CTessIntegration::NotifyTermSerialOutAck(WORD a, WORD b) {
    notifyAll(laidOut(notificationBlock(kTessTermSerialOutAck), {a, b}));
}

void CTessIntegration::NotifySerialOutDataReadAck(WORD a, WORD b) {
    notifyAll(laidOut(notificationBlock(kTessSerialOutDataReadAck), {a, b}));
}

void CTessIntegration::NotifySerialOutError(WORD a, WORD b, WORD c) {
    notifyAll(laidOut(notificationBlock(kTessSerialOutError), {a, b, c}));
}

void CTessIntegration::NotifySetActiveProtocol(WORD a, const char* text, WORD b) {
    notifyAll(laidOut(notificationBlock(kTessSetActiveProtocol), {a, text, b}));
}

void CTessIntegration::NotifyListDownloadStarted() {
    notifyAll(laidOut(notificationBlock(kTessListDownloadStarted), {}));
}

void CTessIntegration::NotifyListDownloadFinished(DWORD value) {
    notifyAll(laidOut(notificationBlock(kTessListDownloadFinished), {value}));
}

void CTessIntegration::NotifyEventDownloadStarted() {
    notifyAll(laidOut(notificationBlock(kTessEventDownloadStarted), {}));
}

void CTessIntegration::NotifyEventDownloadFinished(const char* text, DWORD a, DWORD b, DWORD c) {
    notifyAll(laidOut(notificationBlock(kTessEventDownloadFinished), {text, a, b, c}));
}

void CTessIntegration::NotifyLineConnected(DWORD value, const char* text) {
    notifyAll(laidOut(notificationBlock(kTessLineConnected), {value, text}));
}

void CTessIntegration::NotifyLineDisconnected(DWORD value, const char* text) {
    notifyAll(laidOut(notificationBlock(kTessLineDisconnected), {value, text}));
}

void CTessIntegration::NotifyLineRing(DWORD value, const char* text) {
    notifyAll(laidOut(notificationBlock(kTessLineRing), {value, text}));
}

void CTessIntegration::NotifyGetProfileDone(const char* text, WORD value) {
    notifyAll(laidOut(notificationBlock(kTessGetProfileDone), {text, value}));
}

void CTessIntegration::NotifySetProfileDone(const char* text, WORD value) {
    notifyAll(laidOut(notificationBlock(kTessSetProfileDone), {text, value}));
}

// ---- request handlers of the base: every one answers 0 ----

#define TESS_BASE_HANDLER(name) \
    LONG CTessIntegration::name(DWORD, BYTE*) { return TESS_ERROR_NONE; }
TESS_BASE_HANDLER(OLModeRequest)
TESS_BASE_HANDLER(OLGetProperty)
TESS_BASE_HANDLER(OLSetProperty)
TESS_BASE_HANDLER(OLSetGroupProperty)
TESS_BASE_HANDLER(OLGetGroupProperty)
TESS_BASE_HANDLER(OLGetCameraInformation)
TESS_BASE_HANDLER(OLSetCameraInformation)
TESS_BASE_HANDLER(OLDetectVideoStandard)
TESS_BASE_HANDLER(OLGetRelayInformation)
TESS_BASE_HANDLER(OLSetRelayInformation)
TESS_BASE_HANDLER(OLActivateAlarm)
TESS_BASE_HANDLER(OLGetDayProperty)
TESS_BASE_HANDLER(OLSetDayProperty)
TESS_BASE_HANDLER(OLGetNightProperty)
TESS_BASE_HANDLER(OLSetNightProperty)
TESS_BASE_HANDLER(OLShowVideoSource)
TESS_BASE_HANDLER(OLGetPhoneProperty)
TESS_BASE_HANDLER(OLSetPhoneProperty)
TESS_BASE_HANDLER(OLNightAction)
TESS_BASE_HANDLER(OLViewCamera)
TESS_BASE_HANDLER(OLGetRemoteProperty)
TESS_BASE_HANDLER(OLSetRemoteProperty)
TESS_BASE_HANDLER(OLIsDeviceConnected)
TESS_BASE_HANDLER(OLGetFileStatus)
TESS_BASE_HANDLER(OLGetFileInformation)
TESS_BASE_HANDLER(OLRemoteAction)
TESS_BASE_HANDLER(OLGetGroupWindow)
TESS_BASE_HANDLER(OLSetGroupWindow)
TESS_BASE_HANDLER(OLShowGroupToolbar)
TESS_BASE_HANDLER(OLUnreachable144)
TESS_BASE_HANDLER(OLReserved41)
TESS_BASE_HANDLER(OLSequenceMode)
TESS_BASE_HANDLER(OLEventExpOpen)
TESS_BASE_HANDLER(OLSetSerialOutConfig)
TESS_BASE_HANDLER(OLGetSerialOutConfig)
TESS_BASE_HANDLER(OLSerialOutWrite)
TESS_BASE_HANDLER(OLSerialOutDataWrite)
TESS_BASE_HANDLER(OLSerialOutDataRead)
TESS_BASE_HANDLER(OLTermSerialOut)
TESS_BASE_HANDLER(OLGetActiveProtocol)
TESS_BASE_HANDLER(OLSetEventMode)
TESS_BASE_HANDLER(OLGetEventMode)
TESS_BASE_HANDLER(OLActivateTask)
TESS_BASE_HANDLER(OLEventExpOpenList)
TESS_BASE_HANDLER(OLFindFirstEvent)
TESS_BASE_HANDLER(OLFindNextEvent)
TESS_BASE_HANDLER(OLGetEvent)
TESS_BASE_HANDLER(OLGetEventInfo)
TESS_BASE_HANDLER(OLEventExpCancel)
TESS_BASE_HANDLER(OLGetDownloadState)
TESS_BASE_HANDLER(OLGetAudioState)
TESS_BASE_HANDLER(OLGetProfile)
TESS_BASE_HANDLER(OLSetProfile)
TESS_BASE_HANDLER(OLGetProfileState)
TESS_BASE_HANDLER(OLCancelProfile)
#undef TESS_BASE_HANDLER

LONG CTessIntegration::OLRecordEvent(DWORD, WORD) { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLCancelFileReceiving(DWORD) { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLGetDeviceStatus(BYTE*) { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLIsSysArm(BYTE*) { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLArmSys() { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLDisarmSys() { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLGetReceiverID(DWORD, char*) { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLFreeEvents(DWORD) { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLDownloadEventList(DWORD) { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLEventExpClose(DWORD) { return TESS_ERROR_NONE; }
LONG CTessIntegration::OLFindClose(DWORD) { return TESS_ERROR_NONE; }

}  // namespace trennick
