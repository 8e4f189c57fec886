#include "ranvic/zoh263dec.h"

#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "kcexpand/kcexpand.h"
#include "platform/com/com.h"
#include "ranvic/picture_collector.h"
#include "ranvic/vt_fifo.h"
#include "ranvic/zocodec_binding.h"
#include "platform/com/guarded.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace ranvic {

// The block-transform decoder context; null safely.
struct KcHolder {
    KcExpandContext* context = nullptr;
    ~KcHolder() { close(); }
    void open() {
        if (context == nullptr) context = KcExpandOpen();
    }
    void close() {
        KcExpandClose(context);
        context = nullptr;
    }
    std::uint32_t buffer(const BYTE* data, std::uint32_t length, BYTE* output) {
        return context != nullptr ? KcExpandBuffer(context, data, length, output) : kKcNotPainted;
    }
};

// What the server object and its decoder thread share. The thread holds it too,
// so an abandoned thread never outlives what it works on.
struct DecoderShared {
    // The reading side of the FIFO: the decoder thread holds it while it reads
    // and assembles, Clean while it empties the FIFO and drops what was read,
    // so a half-read packet never survives a clean. Taken before imageLock.
    std::mutex readLock;
    std::size_t blockPending = 0;  // bytes of the block packet read so far
    std::mutex imageLock;
    std::vector<BYTE> image = std::vector<BYTE>(kZoImageBytes, 0);
    std::atomic<DWORD> ready{0};
    std::atomic<DWORD> updated{0};
    std::atomic<DWORD> lastError{0};
    DWORD type = kZoStreamStandardH263;
    DWORD fifoSize = 1000000;
    DWORD clearSize = 9999000;
    DWORD readSize = 300;
    DWORD workMode = 0;
    vt_fifo fifo;
    bool fifoCreated = false;
    std::unique_ptr<ZoCodecBinding> standard;
    CPictureCollector collector;
    KcHolder blocks;
    SHORT width = 0;
    SHORT height = 0;

    BYTE* pixels() { return image.data() + sizeof(BITMAPINFOHEADER); }
    bool asynchronous() const { return workMode == 1; }
    ~DecoderShared() {
        if (fifoCreated) {
            vt_fifo_abort(&fifo);
            vt_fifo_release(&fifo);
            fifo_close(&fifo);
        }
    }
};

class DecoderThread {
public:
    DecoderThread(std::shared_ptr<DecoderShared> shared, DWORD type) : m_shared(std::move(shared)), m_type(type) {
        m_state = std::make_shared<Events>();
        m_thread = std::thread(&DecoderThread::run, m_shared, m_state, type);
    }
    ~DecoderThread() { close(CZOH263DEC::kThreadStopWaitMs); }

    DWORD type() const { return m_type; }
    void dataArrived() { m_state->signal(&Events::data); }

    // Stops the thread and waits for it at most timeoutMs; a thread that does
    // not end is left to finish on its own (it keeps what it shares alive).
    void close(int timeoutMs) {
        if (!m_thread.joinable()) {
            return;
        }
        m_state->signal(&Events::stop);
        if (!m_state->waitEnded(timeoutMs)) {
            LUMO_TRACE(1, "[E] CZOH263::CloseWorkThread() Before WaitForSingleObject() \n");
            vt_fifo_abort(&m_shared->fifo);
            if (!m_state->waitEnded(timeoutMs)) {
                LUMO_TRACE(1, "[E] Decoder thread did not end; left behind");
                m_thread.detach();
                return;
            }
            LUMO_TRACE(1, "[E] CZOH263::CloseWorkThread() After WaitForSingleObject() \n");
        }
        m_thread.join();
        LUMO_TRACE(5, "[I] Decoder thread destroyed");
    }
    bool alive() const { return !m_state->ended.load(); }

private:
    struct Events {
        std::mutex mutex;
        std::condition_variable cv;
        bool stop = false;
        bool data = false;
        std::atomic<bool> ended{false};
        void signal(bool Events::*which) {
            {
                std::lock_guard lock(mutex);
                this->*which = true;
            }
            cv.notify_all();
        }
        bool waitEnded(int timeoutMs) {
            std::unique_lock lock(mutex);
            return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return ended.load(); });
        }
    };

    static void run(std::shared_ptr<DecoderShared> shared, std::shared_ptr<Events> events, DWORD type);
    static void drainStandard(DecoderShared& s, std::vector<BYTE>& work);
    static void drainBlocks(DecoderShared& s, std::vector<BYTE>& packet);

    std::shared_ptr<DecoderShared> m_shared;
    std::shared_ptr<Events> m_state;
    DWORD m_type;
    std::thread m_thread;
};

void DecoderThread::run(std::shared_ptr<DecoderShared> shared, std::shared_ptr<Events> events, DWORD type) {
    DecoderShared& s = *shared;
    s.lastError = ZOH263DECERR_NONE;
    std::vector<BYTE> work;
    try {
        work.resize(type == kZoStreamBlockTransform ? 65536 : std::max<DWORD>(s.readSize, 1));
        if (type == kZoStreamBlockTransform) {
            LUMO_TRACE(5, "DecoderWorkThread : Allocate %d Bytes", 65536);
        }
    } catch (const std::bad_alloc&) {
        LUMO_TRACE(1, "DecoderWorkThread : ZOH263DECERR_ALLOCATE");
        s.lastError = ZOH263DECERR_ALLOCATE;
    }
    while (s.lastError != ZOH263DECERR_ALLOCATE) {
        {
            std::unique_lock lock(events->mutex);
            events->cv.wait(lock, [&] { return events->stop || events->data; });
            if (events->stop) {
                break;
            }
            events->data = false;
        }
        if (type == kZoStreamBlockTransform) {
            drainBlocks(s, work);
        } else {
            drainStandard(s, work);
        }
    }
    {
        std::lock_guard lock(events->mutex);
        events->ended = true;
    }
    events->cv.notify_all();
}

void DecoderThread::drainStandard(DecoderShared& s, std::vector<BYTE>& work) {
    for (;;) {
        std::lock_guard read(s.readLock);
        const std::int32_t stored = vt_fifo_size(&s.fifo);
        if (stored <= 0 || s.fifo.aborted) {
            return;
        }
        LUMO_TRACE(5, "[I] Size of current data stored in fifo = %d", stored);
        if (DWORD(stored) >= s.clearSize) {
            vt_fifo_flush(&s.fifo);
            LUMO_TRACE(5, "DecoderWorkThread : [I] Fifo is cleared.");
            return;
        }
        const std::int32_t want = std::min<std::int32_t>(stored, std::int32_t(work.size()));
        std::int32_t copied = 0;
        vt_fifo_read_to_buffer(&s.fifo, work.data(), want, &copied);
        if (copied != want) {
            LUMO_TRACE(1, "DecoderWorkThread : [E] Read from FIFO failed!");
        }
        s.collector.Add(work.data(), std::size_t(copied), [&](const BYTE* picture, int length) {
            std::lock_guard lock(s.imageLock);
            if (s.standard && s.standard->ExpandBuffer(picture, length, s.pixels())) {
                s.updated = 1;
                s.ready = 1;
                LUMO_TRACE(5, "DecoderWorkThread : [I] Write to DIB Buffer,Frame size = %d", length);
            } else {
                s.lastError = ZOH263DECERR_EXPAND_FAILED;
                LUMO_TRACE(1, "DecoderWorkThread : ZOH263DECERR_EXPAND_FAILED Frame size = %d", length);
            }
        });
    }
}

// Block packets are decoded only when whole: a packet whose bytes have not all
// arrived waits in `packet` for the rest.
void DecoderThread::drainBlocks(DecoderShared& s, std::vector<BYTE>& packet) {
    for (;;) {
        std::lock_guard read(s.readLock);
        std::size_t& pending = s.blockPending;
        const std::int32_t stored = vt_fifo_size(&s.fifo);
        if (stored <= 0 || s.fifo.aborted) {
            return;
        }
        if (DWORD(stored) >= s.clearSize) {
            vt_fifo_flush(&s.fifo);
            pending = 0;
            LUMO_TRACE(5, "DecoderWorkThread : [I] Fifo is cleared.");
            return;
        }
        std::int32_t copied = 0;
        if (pending < 3) {
            vt_fifo_read_to_buffer(&s.fifo, packet.data() + pending, std::min<std::int32_t>(stored, 3 - std::int32_t(pending)),
                                   &copied);
            pending += std::size_t(copied);
            continue;
        }
        const std::size_t length = (std::size_t(packet[1]) << 8) | packet[2];
        if (length < 4) {
            LUMO_TRACE(1, "DecoderWorkThread : [I] FIFO Error!");
            pending = 0;  // no packet is that short: drop the head and go on
            continue;
        }
        const std::int32_t want = std::min<std::int32_t>(stored, std::int32_t(length - pending));
        vt_fifo_read_to_buffer(&s.fifo, packet.data() + pending, want, &copied);
        pending += std::size_t(copied);
        if (pending < length) {
            continue;
        }
        pending = 0;
        std::lock_guard lock(s.imageLock);
        if ((s.blocks.buffer(packet.data(), std::uint32_t(length), s.pixels()) & kKcNotPainted) == 0) {
            s.updated = 1;
            s.ready = 1;
        }
    }
}

}  // namespace ranvic

using ranvic::DecoderShared;
using ranvic::DecoderThread;

CZOH263DEC::CZOH263DEC() : m_shared(std::make_shared<DecoderShared>()) {}

CZOH263DEC::~CZOH263DEC() { Finish(); }

std::span<const platform::com::DispatchMember<CZOH263DEC>> CZOH263DEC::dispatchMembers() {
    using platform::com::dispatchMethod;
    static const platform::com::DispatchMember<CZOH263DEC> table[] = {
        {"Init", 1, &dispatchMethod<&CZOH263DEC::Init>},
        {"Finish", 2, &dispatchMethod<&CZOH263DEC::Finish>},
        {"Go", 3, &dispatchMethod<&CZOH263DEC::Go>},
        {"Stop", 4, &dispatchMethod<&CZOH263DEC::Stop>},
        {"Clean", 5, &dispatchMethod<&CZOH263DEC::Clean>},
        {"IsUpdated", 9, &dispatchMethod<&CZOH263DEC::IsUpdated>},
        {"GetLastErr", 10, &dispatchMethod<&CZOH263DEC::GetLastErr>},
        {"GetState", 11, &dispatchMethod<&CZOH263DEC::GetState>},
        {"GetBufferSize", 12, &dispatchMethod<&CZOH263DEC::GetBufferSize>},
        {"SetAttribute", 13, &dispatchMethod<&CZOH263DEC::SetAttribute>},
        {"IsReady", 14, &dispatchMethod<&CZOH263DEC::IsReady>},
        {"SetType", 15, &dispatchMethod<&CZOH263DEC::SetType>},
    };
    return table;
}

void CZOH263DEC::ReadRegParams() {
    DecoderShared& s = *m_shared;
    CKcReg reg("Quennel", "ZOH263DEC", nullptr, "", platform::HKEY_LOCAL_MACHINE);
    s.fifoSize = 1000000;
    s.clearSize = 9999000;
    s.readSize = 300;
    s.workMode = 0;
    reg.GetDwordDefault(nullptr, "H263FifoZise", &s.fifoSize);
    reg.GetDwordDefault(nullptr, "FifoClearSize", &s.clearSize);
    reg.GetDwordDefault(nullptr, "dwFifoReadSize", &s.readSize);
    reg.GetDwordDefault(nullptr, "WorkMode", &s.workMode);
    // A FIFO beyond what a signed count holds, or a read step of nothing, would not work.
    s.fifoSize = std::clamp<DWORD>(s.fifoSize, 1, 0x7FFFFFFF);
    s.readSize = std::clamp<DWORD>(s.readSize, 1, CPictureCollector::kBufferBytes);
    LUMO_TRACE(5, s.asynchronous() ? "CZOH263DEC::ReadRegParams Mode ASYNCRONY" : "CZOH263DEC::ReadRegParams Mode SYNCRONY");
    // The module folder, found through the registration.
    m_moduleFolder.clear();
    CLSID clsid{};
    if (SUCCEEDED(CLSIDFromProgID("RANVIC.ZOH263DEC", &clsid))) {
        std::string path = platform::com::inprocServerPath(clsid).substr(0, 255);
        const auto slash = path.find_last_of("/\\");
        if (slash != std::string::npos) {
            m_moduleFolder = path.substr(0, slash);
        }
    }
}

HRESULT CZOH263DEC::Init(DWORD type) try {
    LUMO_TRACE(5, "ENTER %s", "CZOH263DEC::Init()");
    DecoderShared& s = *m_shared;
    ReadRegParams();
    {
        std::lock_guard lock(s.imageLock);
        s.ready = 0;
        s.updated = 0;
        std::fill(s.image.begin(), s.image.end(), 0);
    }
    if (s.asynchronous()) {
        if (!s.fifoCreated) {
            vt_fifo_init(&s.fifo, nullptr, std::int32_t(s.fifoSize));
            s.fifoCreated = s.fifo.start != nullptr;
        } else {
            vt_fifo_flush(&s.fifo);
        }
        if (s.fifo.start == nullptr) {
            s.lastError = ZOH263DECERR_FIFO;
            LUMO_TRACE(5, "LEAVE %s", "CZOH263DEC::Init()");
            return S_FALSE;
        }
    }
    SetType(type);
    SetAttribute(720, 576);
    m_state = ZOH263DEC_IDLE;
    LUMO_TRACE(5, "LEAVE %s", "CZOH263DEC::Init()");
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::Init");
}

HRESULT CZOH263DEC::SetType(DWORD type) try {
    DecoderShared& s = *m_shared;
    s.type = type;
    if (type == kZoStreamBlockTransform) {
        s.blocks.open();
    } else if (!s.standard) {
        s.standard = m_moduleFolder.empty() ? std::make_unique<ZoCodecBinding>()
                                            : std::make_unique<ZoCodecBinding>(m_moduleFolder.c_str());
    }
    if (s.asynchronous() && s.fifoCreated) {
        if (m_thread && m_thread->type() == type && m_thread->alive()) {
            return S_OK;
        }
        CloseWorkThread();
        StartWorkThread();
    }
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::SetType");
}

void CZOH263DEC::StartWorkThread() {
    try {
        m_thread = std::make_unique<DecoderThread>(m_shared, m_shared->type);
        LUMO_TRACE(1, "[I] Decoder Thread Created");
    } catch (const std::exception&) {
        m_thread.reset();
        LUMO_TRACE(1, "[E] Failed create Decoder Thread");
    }
}

void CZOH263DEC::CloseWorkThread() {
    if (m_thread) {
        m_thread->close(kThreadStopWaitMs);
        m_thread.reset();
    }
}

HRESULT CZOH263DEC::SetAttribute(SHORT width, SHORT height) try {
    LUMO_TRACE(5, "ENTER %s", "CZOH263DEC::SetAttribute");
    DecoderShared& s = *m_shared;
    // The image holds 720 x 576 pixels: larger sizes are refused.
    if (width <= 0 || height <= 0 || long(width) * long(height) * 3 > long(kZoImagePixelBytes)) {
        LUMO_TRACE(5, "LEAVE %s", "CZOH263DEC::SetAttribute");
        return S_FALSE;
    }
    BITMAPINFOHEADER header{};
    {
        std::lock_guard lock(s.imageLock);
        header.biSize = 40;
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biCompression = 0;
        header.biSizeImage = DWORD(((width * 24 + 31) / 32) * 4 * height);
        std::memcpy(s.image.data(), &header, sizeof header);
        if (s.type == kZoStreamBlockTransform) {
            const MetaItem items[] = {
                {KCATTR_FORMAT, std::uint16_t(40 + 4 * header.biClrUsed), reinterpret_cast<std::uintptr_t>(s.image.data())},
                {KCATTR_PALETTE, std::uint16_t(4 * header.biClrUsed), reinterpret_cast<std::uintptr_t>(s.image.data() + 40)},
                {KCATTR_OUTPUT_MODE, 4, KCMODE_BGR24},
            };
            if (s.blocks.context != nullptr) {
                KcExpandSetAttributes(s.blocks.context, items, 3);
            }
        } else if (s.standard) {
            s.standard->SetFormat(width, height);
        }
    }
    s.width = width;
    s.height = height;
    LUMO_TRACE(5, "LEAVE %s", "CZOH263DEC::SetAttribute");
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::SetAttribute");
}

HRESULT CZOH263DEC::Finish() try {
    LUMO_TRACE(5, "ENTER %s", "CZOH263DEC::Finish()");
    CloseWorkThread();
    std::lock_guard lock(m_shared->imageLock);
    m_shared->blocks.close();
    m_shared->standard.reset();
    LUMO_TRACE(5, "LEAVE %s", "CZOH263DEC::Finish()");
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::Finish");
}

HRESULT CZOH263DEC::Go() try {
    m_state = ZOH263DEC_RUNNING;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::Go");
}

HRESULT CZOH263DEC::Stop() try {
    m_state = ZOH263DEC_STOPPED;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::Stop");
}

HRESULT CZOH263DEC::Clean() try {
    LUMO_TRACE(5, "ENTER %s", "CZOH263DEC::Clean()");
    DecoderShared& s = *m_shared;
    // What waits in the FIFO and what the thread has read of it go together:
    // the next packet starts from its own head.
    std::lock_guard read(s.readLock);
    {
        std::lock_guard lock(s.imageLock);
        s.ready = 0;
        s.updated = 0;
        std::fill(s.image.begin() + sizeof(BITMAPINFOHEADER), s.image.end(), 0);
        if (s.type == kZoStreamStandardH263) {
            s.collector.Reset();
        }
    }
    if (s.asynchronous() && s.fifoCreated) {
        vt_fifo_flush(&s.fifo);
    }
    s.blockPending = 0;
    m_state = ZOH263DEC_IDLE;
    LUMO_TRACE(5, "LEAVE %s", "CZOH263DEC::Clean()");
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::Clean");
}

HRESULT CZOH263DEC::AddBuffer(BYTE* buffer, DWORD size) try {
    LUMO_TRACE(5, "ENTER %s", "CZOH263DEC::AddBuffer()");
    DecoderShared& s = *m_shared;
    HRESULT hr = S_OK;
    if (m_state != ZOH263DEC_RUNNING) {
        s.lastError = ZOH263DECERR_NOT_STARTED;
        LUMO_TRACE(1, "[E] Not started.");
        hr = S_FALSE;
    } else if (s.asynchronous() && s.fifoCreated) {
        if (buffer != nullptr && size > 0) {
            // A FIFO that its thread no longer drains is not waited for.
            const bool alive = m_thread && m_thread->alive();
            const std::int32_t count = std::int32_t(std::min<DWORD>(size, DWORD(s.fifo.max_size)));
            if (size > DWORD(s.fifo.max_size) ||
                vt_fifo_write_from_buffer(&s.fifo, buffer, count, alive ? kWriteWaitMs : 0) != count) {
                LUMO_TRACE(1, "[E] FIFO full: %u bytes dropped", unsigned(size));
                hr = S_FALSE;
            }
            if (m_thread) {
                m_thread->dataArrived();
            }
        }
    } else if (s.type == kZoStreamBlockTransform) {
        DecodeNimbraSyncrony(buffer, size);
    } else {
        DecodeStandartSyncrony(buffer, size);
    }
    LUMO_TRACE(5, "LEAVE %s", "CZOH263DEC::AddBuffer()");
    return hr;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::AddBuffer");
}

void CZOH263DEC::DecodeNimbraSyncrony(const BYTE* data, DWORD size) {
    DecoderShared& s = *m_shared;
    bool painted = false;
    if (data != nullptr) {
        DWORD offset = 0;
        while (offset + 3 <= size) {
            const DWORD length = (DWORD(data[offset + 1]) << 8) | data[offset + 2];
            if (length == 0 || offset + length > size) {
                break;
            }
            std::lock_guard lock(s.imageLock);
            if ((s.blocks.buffer(data + offset, length, s.pixels()) & kKcNotPainted) == 0) {
                painted = true;
            }
            offset += length;
        }
        s.updated = 1;
        s.ready = 1;
    }
    if (painted) {
        LUMO_TRACE(5, "DecodeNimbraH263Syncrony : [I] Write to DIB Buffer");
    }
}

void CZOH263DEC::DecodeStandartSyncrony(const BYTE* data, DWORD size) {
    DecoderShared& s = *m_shared;
    if (data == nullptr) {
        return;
    }
    s.collector.Add(data, size, [&](const BYTE* picture, int length) {
        std::lock_guard lock(s.imageLock);
        if (s.standard && s.standard->ExpandBuffer(picture, length, s.pixels())) {
            s.updated = 1;
            s.ready = 1;
            LUMO_TRACE(5, "DecodeStandartH263Syncrony : Frame Is Ready");
        } else {
            s.lastError = ZOH263DECERR_EXPAND_FAILED;
            LUMO_TRACE(1, "DecodeStandartH263Syncrony : ZOH263DECERR_EXPAND_FAILED Frame size = %d", length);
        }
    });
}

HRESULT CZOH263DEC::GetBuffer(BYTE* buffer, DWORD size) try {
    DecoderShared& s = *m_shared;
    if (!s.fifoCreated || buffer == nullptr) {
        return S_FALSE;
    }
    const std::int32_t stored = vt_fifo_size(&s.fifo);
    LUMO_TRACE(5, "[I] Size of current data stored in fifo = %d", stored);
    const std::int32_t n = std::int32_t(std::min<DWORD>(DWORD(stored), size));
    if (n == 0) {
        return S_OK;
    }
    std::int32_t copied = 0;
    vt_fifo_read_to_buffer(&s.fifo, buffer, n, &copied);
    if (copied != n) {
        LUMO_TRACE(1, "[E] Read from FIFO failed!");
        return S_FALSE;
    }
    LUMO_TRACE(5, "[I] Read from FIFO successes!");
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::GetBuffer");
}

HRESULT CZOH263DEC::GetData(BYTE* buffer, DWORD size) try {
    DecoderShared& s = *m_shared;
    if (buffer == nullptr) {
        return S_FALSE;
    }
    const DWORD n = std::min(size, kZoImageBytes);
    {
        std::lock_guard lock(s.imageLock);
        std::memcpy(buffer, s.image.data(), n);
    }
    LUMO_TRACE(5, "[I] Read from DIB Buffer successes! Read %d BYTES", int(n));
    s.updated = 0;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::GetData");
}

HRESULT CZOH263DEC::IsUpdated(DWORD* updated) try {
    if (updated == nullptr) return E_POINTER;
    *updated = m_shared->updated;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::IsUpdated");
}

HRESULT CZOH263DEC::GetLastErr(DWORD* error) try {
    if (error == nullptr) return E_POINTER;
    *error = m_shared->lastError;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::GetLastErr");
}

HRESULT CZOH263DEC::GetState(DWORD* state) try {
    if (state == nullptr) return E_POINTER;
    *state = m_state;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::GetState");
}

HRESULT CZOH263DEC::GetBufferSize(DWORD* size) try {
    if (size == nullptr) return E_POINTER;
    *size = m_shared->fifoCreated ? DWORD(vt_fifo_size(&m_shared->fifo)) : 0;
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::GetBufferSize");
}

HRESULT CZOH263DEC::IsReady(DWORD* ready) try {
    LUMO_TRACE(5, "ENTER %s", "IsReady");
    if (ready == nullptr) return E_POINTER;
    *ready = m_shared->ready;
    LUMO_TRACE(5, "LEAVE %s", "IsReady");
    return S_OK;
} catch (...) {
    return platform::com::entryFault("CZOH263DEC::IsReady");
}
