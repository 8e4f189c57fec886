#include "platform/message_window.h"

#include "platform/local_bus.h"
#include "platform/message_window_detail.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace platform {
namespace detail {

Fd duplicateFd(int fd) {
    if (fd < 0) {
        return Fd();
    }
    return Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

Deadline deadlineAfter(UINT timeoutMs) {
    if (timeoutMs == kWaitForever) {
        return std::nullopt;
    }
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

int pollTimeout(const Deadline& deadline) {
    if (!deadline) {
        return -1;
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 1000000 ? 1000000 : static_cast<int>(left);
}

namespace {

// Event types of the layer, registered once with Qt.
QEvent::Type messageEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
QEvent::Type callEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
QEvent::Type inboxEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
QEvent::Type quitEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// A posted message. It owns a copy of WM_COPYDATA data and any descriptor, so
// dropping it (the window died first) frees them.
class MessageEvent : public QEvent {
public:
    MessageEvent(UINT msg, WPARAM wParam, LPARAM lParam)
        : QEvent(messageEventType()), msg(msg), wParam(wParam), lParam(lParam) {}
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool copyData = false;
    COPYDATASTRUCT cds{};
    std::vector<char> data;
    Fd fd;
    std::unique_ptr<PostedData> owned;
};

// A call to run on the owner thread of the receiving object (dropped with it).
class CallEvent : public QEvent {
public:
    explicit CallEvent(std::function<void()> call) : QEvent(callEventType()), call(std::move(call)) {}
    std::function<void()> call;
};

class QuitEvent : public QEvent {
public:
    QuitEvent(int code, bool orApplication) : QEvent(quitEventType()), code(code), orApplication(orApplication) {}
    int code;
    bool orApplication;  // with no MessageLoop running, end the application's loop
};

class Pump;

}  // namespace

// What the layer keeps per thread: the queue of messages other threads sent to
// this thread's windows, a wake descriptor for a thread waiting in a send, and
// the thread's loops. The mutex guards inbox, pump, pumpPosted and alive; the
// loop fields belong to the thread itself.
struct ThreadState {
    std::mutex mutex;
    std::deque<std::shared_ptr<SentMessage>> inbox;
    Fd wake;
    Pump* pump = nullptr;
    bool pumpPosted = false;
    bool alive = true;
    std::thread::id id = std::this_thread::get_id();

    // Owner thread only.
    std::vector<QEventLoop*> loops;
    bool quitPending = false;
    int quitCode = 0;

    void signal() {
        if (wake.valid()) {
            std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(wake.get(), &one, sizeof one);
        }
    }
    void drain() {
        std::uint64_t count = 0;
        [[maybe_unused]] auto n = ::read(wake.get(), &count, sizeof count);
    }
};

namespace {

thread_local SentMessage* t_currentSent = nullptr;
thread_local PostedMessageWatch::Watcher* t_postedWatcher = nullptr;

void processInbox(ThreadState& state);
void quitLoop(ThreadState& state, int code, bool orApplication);

// Per-thread object that runs queued sent messages and quits on the thread's loop.
class Pump : public QObject {
public:
    explicit Pump(ThreadState* state) : m_state(state) {}
    bool event(QEvent* e) override {
        if (e->type() == inboxEventType()) {
            {
                std::lock_guard lock(m_state->mutex);
                m_state->pumpPosted = false;
            }
            processInbox(*m_state);
            return true;
        }
        if (e->type() == quitEventType()) {
            auto* quit = static_cast<QuitEvent*>(e);
            quitLoop(*m_state, quit->code, quit->orApplication);
            return true;
        }
        return QObject::event(e);
    }

private:
    ThreadState* m_state;
};

// Owns the calling thread's state; at thread end it releases every sender still
// waiting on this thread.
struct ThreadStateHolder {
    std::shared_ptr<ThreadState> state;
    ~ThreadStateHolder() {
        if (!state) {
            return;
        }
        std::deque<std::shared_ptr<SentMessage>> pending;
        Pump* pump = nullptr;
        {
            std::lock_guard lock(state->mutex);
            state->alive = false;
            pending.swap(state->inbox);
            pump = std::exchange(state->pump, nullptr);
        }
        delete pump;
        for (auto& message : pending) {
            message->complete(false, 0);
        }
    }
};

thread_local ThreadStateHolder t_thread;

std::shared_ptr<ThreadState> currentThread() {
    if (!t_thread.state) {
        auto state = std::make_shared<ThreadState>();
        state->wake = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        t_thread.state = std::move(state);
    }
    return t_thread.state;
}

// The thread's pump, created on first need. A QEventLoop made once here gives a
// plain std::thread the event dispatcher that timers need.
Pump* currentPump() {
    auto state = currentThread();
    std::lock_guard lock(state->mutex);
    if (state->pump == nullptr) {
        if (QThread::currentThread()->eventDispatcher() == nullptr) {
            QEventLoop ensureDispatcher;
        }
        state->pump = new Pump(state.get());
    }
    return state->pump;
}

void quitLoop(ThreadState& state, int code, bool orApplication) {
    if (!state.loops.empty()) {
        state.loops.back()->exit(code);
        return;
    }
    auto* app = QCoreApplication::instance();
    if (orApplication && app != nullptr && app->thread() == QThread::currentThread()) {
        QCoreApplication::exit(code);
        return;
    }
    state.quitPending = true;
    state.quitCode = code;
}

}  // namespace

// The QObject behind a window, on the owner thread: receives its posted messages
// and its timers. Deleted when the window is (later, when that happens inside
// one of its own handlers).
class WindowHost : public QObject {
public:
    explicit WindowHost(MessageWindow* window) : m_window(window) {}

    LRESULT dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
        if (m_window == nullptr) {
            return 0;
        }
        ++m_depth;
        LRESULT result = m_window->WindowProc(msg, wParam, lParam);
        --m_depth;
        return result;
    }

    bool setTimer(UINT_PTR id, UINT elapseMs) {
        if (m_window == nullptr) {
            return false;
        }
        killTimerId(id);
        int qtId = startTimer(static_cast<int>(std::clamp<UINT>(elapseMs, 10, 0x7FFFFFFF)));
        if (qtId == 0) {
            return false;
        }
        m_timers[id] = qtId;
        m_timerIds[qtId] = id;
        return true;
    }

    bool killTimerId(UINT_PTR id) {
        auto found = m_timers.find(id);
        if (found == m_timers.end()) {
            return false;
        }
        killTimer(found->second);
        m_timerIds.erase(found->second);
        m_timers.erase(found);
        return true;
    }

    // The window is going: no more messages, no more timers.
    void detach() {
        m_window = nullptr;
        for (auto& [id, qtId] : m_timers) {
            killTimer(qtId);
        }
        m_timers.clear();
        m_timerIds.clear();
    }

    bool busy() const { return m_depth > 0; }

protected:
    bool event(QEvent* e) override {
        if (e->type() == messageEventType()) {
            auto* message = static_cast<MessageEvent*>(e);
            if (message->msg == WM_QUIT) {
                quitLoop(*currentThread(), static_cast<int>(message->wParam), true);
                return true;
            }
            LPARAM lParam = message->lParam;
            if (message->copyData) {
                lParam = reinterpret_cast<LPARAM>(&message->cds);
            } else if (message->fd.valid()) {
                lParam = message->fd.get();
            }
            // A block stays the event's: what WindowProc does not take is
            // freed with the event. A message without one hides any block of
            // an outer delivery (a modal loop inside WindowProc).
            PostedDataScope scope(message->owned.get());
            if (message->owned != nullptr) {
                lParam = scope.lParam();
            }
            if (t_postedWatcher != nullptr && m_window != nullptr) {
                (*t_postedWatcher)(m_window->hwnd(), message->msg, message->wParam, lParam);
            }
            dispatch(message->msg, message->wParam, lParam);
            return true;
        }
        if (e->type() == callEventType()) {
            static_cast<CallEvent*>(e)->call();
            return true;
        }
        return QObject::event(e);
    }

    void timerEvent(QTimerEvent* e) override {
        auto found = m_timerIds.find(e->timerId());
        if (found != m_timerIds.end()) {
            dispatch(WM_TIMER, found->second, 0);
        }
    }

private:
    MessageWindow* m_window;
    int m_depth = 0;
    std::map<UINT_PTR, int> m_timers;    // window's id -> Qt's id
    std::map<int, UINT_PTR> m_timerIds;  // Qt's id -> window's id
};

namespace {

struct WindowEntry {
    WindowHost* host = nullptr;
    std::shared_ptr<ThreadState> thread;
};

// Every live window of the process. Lock order: this mutex, then a thread's.
struct WindowTable {
    std::mutex mutex;
    std::unordered_map<HWND, WindowEntry> windows;
};

WindowTable& table() {
    static auto* instance = new WindowTable;  // lives to the end: other threads may still post
    return *instance;
}

void postToHost(WindowHost* host, QEvent* event, Qt::EventPriority priority = Qt::NormalEventPriority) {
    QCoreApplication::postEvent(host, event, priority);
}

// Queues the message for its window's thread; the caller holds the table lock.
bool enqueueLocked(const WindowEntry& entry, const std::shared_ptr<SentMessage>& message) {
    ThreadState& target = *entry.thread;
    {
        std::lock_guard lock(target.mutex);
        if (!target.alive) {
            return false;
        }
        target.inbox.push_back(message);
        if (target.pump != nullptr && !target.pumpPosted) {
            target.pumpPosted = true;
            QCoreApplication::postEvent(target.pump, new QEvent(inboxEventType()), Qt::HighEventPriority);
        }
    }
    target.signal();
    return true;
}

// Runs one queued sent message on its window's (this) thread.
void runSent(const std::shared_ptr<SentMessage>& message) {
    WindowHost* host = nullptr;
    {
        auto& windows = table();
        std::lock_guard lock(windows.mutex);
        auto found = windows.windows.find(message->hwnd);
        if (found != windows.windows.end() && found->second.thread->id == std::this_thread::get_id()) {
            host = found->second.host;
        }
    }
    if (host == nullptr) {
        message->complete(false, 0);
        return;
    }
    SentMessage* outer = std::exchange(t_currentSent, message.get());
    LRESULT result = host->dispatch(message->msg, message->wParam, message->deliveredLParam());
    t_currentSent = outer;
    message->complete(true, result);
}

void processInbox(ThreadState& state) {
    for (;;) {
        std::shared_ptr<SentMessage> next;
        {
            std::lock_guard lock(state.mutex);
            if (state.inbox.empty()) {
                return;
            }
            next = std::move(state.inbox.front());
            state.inbox.pop_front();
        }
        runSent(next);
    }
}

// Waits for a message this thread sent to another thread.
bool waitSent(SentMessage& message, const Deadline& deadline, bool handleSent) {
    auto state = currentThread();
    for (;;) {
        if (handleSent) {
            processInbox(*state);
        }
        if (message.done()) {
            return true;
        }
        int timeout = pollTimeout(deadline);
        if (timeout == 0) {
            return message.done();
        }
        pollfd wake{state->wake.get(), POLLIN, 0};
        int ready = ::poll(&wake, 1, timeout);
        if (ready < 0 && errno != EINTR) {
            return message.done();
        }
        state->drain();
    }
}

// Builds the message's own copy of WM_COPYDATA data; false when lParam is not a
// usable record.
bool copyDataFrom(LPARAM lParam, bool& copyData, COPYDATASTRUCT& cds, std::vector<char>& data) {
    copyData = true;
    cds = COPYDATASTRUCT{};
    if (lParam == 0) {
        return true;
    }
    const auto* source = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (source->cbData > 0 && source->lpData == nullptr) {
        return false;
    }
    cds.dwData = source->dwData;
    data.assign(static_cast<const char*>(source->lpData),
                static_cast<const char*>(source->lpData) + source->cbData);
    return true;
}

// Local delivery of a send; nullopt when hwnd is no window of this process.
std::optional<bool> sendLocal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int fd, UINT flags,
                              const Deadline& deadline, LRESULT& result) {
    auto& windows = table();
    std::unique_lock lock(windows.mutex);
    auto found = windows.windows.find(hwnd);
    if (found == windows.windows.end()) {
        return std::nullopt;
    }
    if (found->second.thread->id == std::this_thread::get_id()) {
        WindowHost* host = found->second.host;
        lock.unlock();
        if (fd < 0) {
            result = host->dispatch(msg, wParam, lParam);
            return true;
        }
        Fd own = duplicateFd(fd);
        if (!own.valid()) {
            return false;
        }
        result = host->dispatch(msg, wParam, own.get());
        return true;
    }
    auto message = std::make_shared<SentMessage>();
    message->hwnd = hwnd;
    message->msg = msg;
    message->wParam = wParam;
    message->lParam = lParam;
    if (msg == WM_COPYDATA && fd < 0 &&
        !copyDataFrom(lParam, message->copyData, message->cds, message->data)) {
        return false;
    }
    if (fd >= 0) {
        message->fd = duplicateFd(fd);
        if (!message->fd.valid()) {
            return false;
        }
    }
    message->waiter = currentThread();
    if (!enqueueLocked(found->second, message)) {
        return false;
    }
    lock.unlock();
    if (!waitSent(*message, deadline, (flags & SMTO_BLOCK) == 0) || !message->handled()) {
        return false;
    }
    result = message->result();
    return true;
}

bool postLocal(HWND hwnd, std::unique_ptr<MessageEvent> event) {
    auto& windows = table();
    std::lock_guard lock(windows.mutex);
    auto found = windows.windows.find(hwnd);
    if (found == windows.windows.end()) {
        return false;
    }
    postToHost(found->second.host, event.release());
    return true;
}

thread_local PostedData* t_currentPosted = nullptr;

bool postImpl(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int fd) {
    if (hwnd == HWND_BROADCAST) {
        for (HWND target : broadcastTargets()) {
            postImpl(target, msg, wParam, lParam, fd);
        }
        return true;
    }
    if (hwnd == 0) {
        return false;
    }
    if (isLocalWindow(hwnd)) {
        auto event = std::make_unique<MessageEvent>(msg, wParam, lParam);
        if (fd >= 0) {
            event->fd = duplicateFd(fd);
            if (!event->fd.valid()) {
                return false;
            }
        } else if (msg == WM_COPYDATA && !copyDataFrom(lParam, event->copyData, event->cds, event->data)) {
            return false;
        }
        if (event->copyData) {
            event->cds.cbData = static_cast<DWORD>(event->data.size());
            event->cds.lpData = event->data.empty() ? nullptr : event->data.data();
        }
        return postLocal(hwnd, std::move(event));
    }
    return remotePost(hwnd, msg, wParam, lParam, fd);
}

LRESULT sendImpl(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int fd, UINT flags,
                 UINT timeoutMs, bool plainSend, DWORD_PTR* resultOut) {
    if (resultOut != nullptr) {
        *resultOut = 0;
    }
    if (hwnd == 0) {
        return 0;
    }
    if (hwnd == HWND_BROADCAST) {
        for (HWND target : broadcastTargets()) {
            sendImpl(target, msg, wParam, lParam, fd, flags, timeoutMs, plainSend, nullptr);
        }
        return 1;
    }
    LRESULT result = 0;
    Deadline deadline = deadlineAfter(timeoutMs);
    if (auto local = sendLocal(hwnd, msg, wParam, lParam, fd, flags, deadline, result)) {
        if (!*local) {
            return 0;
        }
        if (resultOut != nullptr) {
            *resultOut = static_cast<DWORD_PTR>(result);
        }
        return plainSend ? result : 1;
    }
    if (plainSend) {
        deadline = deadlineAfter(kRemoteSendTimeoutMs);
    }
    if (!remoteSend(hwnd, msg, wParam, lParam, fd, flags, deadline, result)) {
        return 0;
    }
    if (resultOut != nullptr) {
        *resultOut = static_cast<DWORD_PTR>(result);
    }
    return plainSend ? result : 1;
}

}  // namespace

LPARAM SentMessage::deliveredLParam() {
    if (copyData) {
        cds.cbData = static_cast<DWORD>(data.size());
        cds.lpData = data.empty() ? nullptr : data.data();
        return reinterpret_cast<LPARAM>(&cds);
    }
    if (fd.valid()) {
        return fd.get();
    }
    return lParam;
}

void SentMessage::complete(bool handled, LRESULT result) {
    {
        std::lock_guard lock(m_mutex);
        if (m_done) {
            return;
        }
        m_done = true;
        m_handled = handled;
        m_result = result;
    }
    if (waiter) {
        waiter->signal();
    }
    if (onDone) {
        onDone(handled, result);
    }
}

bool SentMessage::done() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

LRESULT SentMessage::result() const {
    std::lock_guard lock(m_mutex);
    return m_result;
}

bool SentMessage::handled() const {
    std::lock_guard lock(m_mutex);
    return m_handled;
}

bool deliverSent(std::shared_ptr<SentMessage> message) {
    bool queued = false;
    {
        auto& windows = table();
        std::lock_guard lock(windows.mutex);
        auto found = windows.windows.find(message->hwnd);
        if (found != windows.windows.end()) {
            queued = enqueueLocked(found->second, message);
        }
    }
    if (!queued) {
        message->complete(false, 0);
    }
    return queued;
}

bool postOwned(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool copyData, ULONG_PTR dwData,
               std::vector<char> data, Fd fd) {
    auto event = std::make_unique<MessageEvent>(msg, wParam, lParam);
    event->copyData = copyData;
    event->data = std::move(data);
    event->fd = std::move(fd);
    if (copyData) {
        event->cds.dwData = dwData;
        event->cds.cbData = static_cast<DWORD>(event->data.size());
        event->cds.lpData = event->data.empty() ? nullptr : event->data.data();
    }
    return postLocal(hwnd, std::move(event));
}

std::size_t queuedSentMessages() {
    auto state = currentThread();
    std::lock_guard lock(state->mutex);
    return state->inbox.size();
}

bool isLocalWindow(HWND hwnd) {
    auto& windows = table();
    std::lock_guard lock(windows.mutex);
    return windows.windows.count(hwnd) != 0;
}

bool waitReadable(int fd, const Deadline& deadline, bool handleSent) {
    auto state = currentThread();
    for (;;) {
        if (handleSent) {
            processInbox(*state);
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {state->wake.get(), POLLIN, 0}};
        int ready = ::poll(fds, 2, pollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[0].revents != 0) {
            return true;
        }
        if (fds[1].revents != 0) {
            state->drain();
            continue;
        }
        if (ready == 0) {
            return false;
        }
    }
}

}  // namespace detail

using namespace detail;

MessageWindow::MessageWindow() = default;

MessageWindow::~MessageWindow() { teardown(); }

bool MessageWindow::create() {
    if (m_hwnd != 0) {
        return false;
    }
    HWND handle = allocateWindowHandle();
    if (handle == 0) {
        return false;
    }
    currentPump();
    auto* host = new WindowHost(this);
    {
        auto& windows = table();
        std::lock_guard lock(windows.mutex);
        windows.windows[handle] = WindowEntry{host, currentThread()};
    }
    m_hwnd = handle;
    m_host = host;
    m_destroying = false;
    return true;
}

bool MessageWindow::create(std::string_view className, std::string_view title) {
    if (!create()) {
        return false;
    }
    if (!publishWindow(m_hwnd, className, title)) {
        teardown();
        return false;
    }
    return true;
}

void MessageWindow::destroy() {
    if (m_hwnd == 0 || m_destroying) {
        return;
    }
    m_destroying = true;
    m_host->dispatch(WM_DESTROY, 0, 0);
    teardown();
}

void MessageWindow::teardown() {
    if (m_hwnd == 0) {
        return;
    }
    HWND handle = std::exchange(m_hwnd, 0);
    WindowHost* host = std::exchange(m_host, nullptr);
    unpublishOnDestroy(handle);
    std::shared_ptr<ThreadState> thread;
    {
        auto& windows = table();
        std::lock_guard lock(windows.mutex);
        auto found = windows.windows.find(handle);
        if (found != windows.windows.end()) {
            thread = found->second.thread;
            windows.windows.erase(found);
        }
    }
    // Release the senders still waiting for this window.
    std::vector<std::shared_ptr<SentMessage>> orphans;
    if (thread) {
        std::lock_guard lock(thread->mutex);
        for (auto it = thread->inbox.begin(); it != thread->inbox.end();) {
            if ((*it)->hwnd == handle) {
                orphans.push_back(std::move(*it));
                it = thread->inbox.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& orphan : orphans) {
        orphan->complete(false, 0);
    }
    host->detach();
    if (host->busy() || (thread && thread->id != std::this_thread::get_id())) {
        host->deleteLater();
    } else {
        delete host;
    }
}

LRESULT MessageWindow::WindowProc(UINT msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) {
        destroy();
    }
    return 0;
}

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return postImpl(hwnd, msg, wParam, lParam, -1);
}

bool PostMessageData(HWND hwnd, UINT msg, WPARAM wParam, std::unique_ptr<PostedData> data) {
    if (hwnd == 0 || hwnd == HWND_BROADCAST || !detail::isLocalWindow(hwnd)) {
        return false;
    }
    auto event = std::make_unique<MessageEvent>(msg, wParam, 0);
    event->owned = std::move(data);
    return postLocal(hwnd, std::move(event));
}

PostedDataScope::PostedDataScope(PostedData* data) : m_data(data), m_previous(detail::t_currentPosted) {
    detail::t_currentPosted = data;
}

PostedDataScope::~PostedDataScope() { detail::t_currentPosted = m_previous; }

PostedData* CurrentPostedData(LPARAM lParam) {
    PostedData* current = detail::t_currentPosted;
    return current != nullptr && reinterpret_cast<LPARAM>(current) == lParam ? current : nullptr;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return sendImpl(hwnd, msg, wParam, lParam, -1, SMTO_NORMAL, kWaitForever, true, nullptr);
}

LRESULT SendMessageTimeout(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                           UINT timeoutMs, DWORD_PTR* result) {
    return sendImpl(hwnd, msg, wParam, lParam, -1, flags, timeoutMs, false, result);
}

bool PostMessageFd(HWND hwnd, UINT msg, WPARAM wParam, int fd) {
    if (fd < 0) {
        return false;
    }
    return postImpl(hwnd, msg, wParam, 0, fd);
}

LRESULT SendMessageFd(HWND hwnd, UINT msg, WPARAM wParam, int fd) {
    if (fd < 0) {
        return 0;
    }
    return sendImpl(hwnd, msg, wParam, 0, fd, SMTO_NORMAL, kWaitForever, true, nullptr);
}

LRESULT SendMessageTimeoutFd(HWND hwnd, UINT msg, WPARAM wParam, int fd, UINT flags, UINT timeoutMs,
                             DWORD_PTR* result) {
    if (result != nullptr) {
        *result = 0;
    }
    if (fd < 0) {
        return 0;
    }
    return sendImpl(hwnd, msg, wParam, 0, fd, flags, timeoutMs, false, result);
}

bool IsWindow(HWND hwnd) {
    if (hwnd == 0 || hwnd == HWND_BROADCAST) {
        return false;
    }
    return isLocalWindow(hwnd) || remoteIsWindow(hwnd);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) {
    auto& windows = table();
    std::unique_lock lock(windows.mutex);
    auto found = windows.windows.find(hwnd);
    if (found == windows.windows.end()) {
        return 0;
    }
    WindowHost* host = found->second.host;
    if (found->second.thread->id == std::this_thread::get_id()) {
        lock.unlock();
        if (!host->setTimer(id, elapseMs)) {
            return 0;
        }
    } else {
        postToHost(host, new CallEvent([host, id, elapseMs] { host->setTimer(id, elapseMs); }));
    }
    return id != 0 ? id : 1;
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
    auto& windows = table();
    std::unique_lock lock(windows.mutex);
    auto found = windows.windows.find(hwnd);
    if (found == windows.windows.end()) {
        return false;
    }
    WindowHost* host = found->second.host;
    if (found->second.thread->id == std::this_thread::get_id()) {
        lock.unlock();
        return host->killTimerId(id);
    }
    postToHost(host, new CallEvent([host, id] { host->killTimerId(id); }));
    return true;
}

bool InSendMessage() { return t_currentSent != nullptr; }

bool ReplyMessage(LRESULT result) {
    if (t_currentSent == nullptr || t_currentSent->done()) {
        return false;
    }
    t_currentSent->complete(true, result);
    return true;
}

void PostQuitMessage(int exitCode) {
    QCoreApplication::postEvent(currentPump(), new QuitEvent(exitCode, true));
}

struct MessageLoop::State {
    std::shared_ptr<ThreadState> thread;
    Pump* pump = nullptr;
};

MessageLoop::MessageLoop() : m_state(std::make_unique<State>()) {
    m_state->pump = currentPump();
    m_state->thread = currentThread();
}

MessageLoop::~MessageLoop() = default;

int MessageLoop::run() {
    ThreadState& state = *m_state->thread;
    if (state.quitPending) {
        state.quitPending = false;
        return state.quitCode;
    }
    QEventLoop loop;
    state.loops.push_back(&loop);
    int code = loop.exec();
    state.loops.pop_back();
    return code;
}

void MessageLoop::quit(int exitCode) {
    ThreadState& state = *m_state->thread;
    std::lock_guard lock(state.mutex);
    if (state.pump != nullptr) {
        QCoreApplication::postEvent(state.pump, new QuitEvent(exitCode, false));
    }
}

PostedMessageWatch::PostedMessageWatch(Watcher watcher)
    : m_watcher(std::move(watcher)), m_previous(t_postedWatcher) {
    t_postedWatcher = &m_watcher;
}

PostedMessageWatch::~PostedMessageWatch() { t_postedWatcher = m_previous; }

}  // namespace platform
