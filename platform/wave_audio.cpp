#include "platform/wave_audio.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// ---- the worker every device runs: a queue of buffers and the commands of
// the owning thread, which waits until the worker has carried them out ----

class DeviceWorker {
public:
    enum class Command { None, Start, Stop, Reset };

    explicit DeviceWorker(WaveDone done) : m_done(std::move(done)) {}

    void queue(WaveBuffer& buffer) {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(&buffer);
        m_wake.notify_all();
    }

    // Hands a command to the worker and waits until it was carried out.
    void command(Command c) {
        std::unique_lock lock(m_mutex);
        m_command = c;
        m_wake.notify_all();
        m_wake.wait(lock, [&] { return m_command == Command::None; });
    }

    void shutDown() {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
            m_wake.notify_all();
        }
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    template <class Body>
    void run(Body body) {
        m_thread = std::thread(body);
    }

    bool holds(const WaveBuffer& buffer) {
        std::lock_guard lock(m_mutex);
        return std::find(m_queue.begin(), m_queue.end(), &buffer) != m_queue.end();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<WaveBuffer*> m_queue;
    Command m_command = Command::None;
    bool m_closing = false;
    WaveDone m_done;

    // Gives the head buffer back (called by the worker without the lock).
    void giveBack(WaveBuffer* buffer) {
        if (m_done) {
            m_done(*buffer);
        }
    }
    // Takes every queued buffer out (under the lock) for giving back.
    std::deque<WaveBuffer*> takeAll() {
        std::deque<WaveBuffer*> all;
        all.swap(m_queue);
        return all;
    }
    void acknowledge() {
        m_command = Command::None;
        m_wake.notify_all();
    }

private:
    std::thread m_thread;
};

// Capture of either kind: the buffers and commands go to the device's worker.
class QueuedWaveIn : public WaveIn {
public:
    WaveResult addBuffer(WaveBuffer& buffer) override {
        if (worker().holds(buffer)) {
            return WaveResult::StillPlaying;
        }
        buffer.bytesRecorded = 0;
        worker().queue(buffer);
        return WaveResult::Ok;
    }
    WaveResult start() override { return command(DeviceWorker::Command::Start); }
    WaveResult stop() override { return command(DeviceWorker::Command::Stop); }
    WaveResult reset() override { return command(DeviceWorker::Command::Reset); }

protected:
    virtual DeviceWorker& worker() = 0;

private:
    WaveResult command(DeviceWorker::Command c) {
        worker().command(c);
        return WaveResult::Ok;
    }
};

bool sameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
           a.wBitsPerSample == b.wBitsPerSample;
}

bool usableFormat(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= 2 && f.wBitsPerSample == 16 &&
           f.nSamplesPerSec >= 1000 && f.nSamplesPerSec <= 192000 && f.nBlockAlign == f.nChannels * 2 &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

DWORD readLe32(const BYTE* p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }
WORD readLe16(const BYTE* p) { return WORD(p[0] | p[1] << 8); }

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// ---- file device ----

// The file device's mixer: one volume per line for the whole process.
struct FileMixer {
    std::mutex mutex;
    LONG record = 0xFFFF;
    LONG playback = 0xFFFF;
};
FileMixer& fileMixer() {
    static FileMixer mixer;
    return mixer;
}

// A WAV file's PCM: the format and where its data lies. Chunks are walked by
// their sizes, each checked against the file, so a cut file ends the data
// where the file ends.
bool readWavHeader(std::FILE* file, WAVEFORMATEX& format, long& dataOffset, DWORD& dataBytes) {
    BYTE riff[12];
    if (std::fread(riff, 1, 12, file) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        return false;
    }
    bool haveFormat = false;
    for (;;) {
        BYTE chunk[8];
        if (std::fread(chunk, 1, 8, file) != 8) {
            return false;
        }
        const DWORD size = readLe32(chunk + 4);
        const long start = std::ftell(file);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            BYTE f[16];
            if (size < 16 || std::fread(f, 1, 16, file) != 16) {
                return false;
            }
            format = WAVEFORMATEX{readLe16(f), readLe16(f + 2), readLe32(f + 4), readLe32(f + 8),
                                  readLe16(f + 12), readLe16(f + 14), 0};
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                return false;
            }
            std::fseek(file, 0, SEEK_END);
            const long end = std::ftell(file);
            dataOffset = start;
            dataBytes = DWORD(std::min<long long>(size, std::max<long>(0, end - start)));
            std::fseek(file, start, SEEK_SET);
            return true;
        }
        // Chunks are padded to an even size.
        if (std::fseek(file, start + long(size) + long(size & 1), SEEK_SET) != 0) {
            return false;
        }
    }
}

class FileWaveIn final : public QueuedWaveIn {
public:
    FileWaveIn(const WAVEFORMATEX& format, WaveDone done) : m_format(format), m_worker(std::move(done)) {}
    ~FileWaveIn() override { m_worker.shutDown(); }

    WaveResult open(const std::string& path) {
        if (!path.empty()) {
            m_file.reset(std::fopen(path.c_str(), "rb"));
            WAVEFORMATEX fileFormat{};
            long offset = 0;
            if (!m_file || !readWavHeader(m_file.get(), fileFormat, offset, m_dataLeft)) {
                return m_file ? WaveResult::BadFormat : WaveResult::NoDevice;
            }
            if (!sameFormat(fileFormat, m_format)) {
                return WaveResult::BadFormat;
            }
        }
        m_worker.run([this] { loop(); });
        return WaveResult::Ok;
    }

    DeviceWorker& worker() override { return m_worker; }

private:
    void loop() {
        DeviceWorker& w = m_worker;
        std::unique_lock lock(w.m_mutex);
        for (;;) {
            if (w.m_closing) {
                return;
            }
            if (w.m_command != DeviceWorker::Command::None) {
                const auto c = w.m_command;
                std::deque<WaveBuffer*> back;
                if (c == DeviceWorker::Command::Start && !m_running) {
                    m_running = true;
                    m_startTime = Clock::now();
                    m_delivered = 0;
                } else if (c == DeviceWorker::Command::Stop || c == DeviceWorker::Command::Reset) {
                    m_running = false;
                    if (c == DeviceWorker::Command::Reset) {
                        back = w.takeAll();
                    } else if (!w.m_queue.empty()) {
                        back.push_back(w.m_queue.front());
                        w.m_queue.pop_front();
                    }
                }
                lock.unlock();
                for (WaveBuffer* b : back) w.giveBack(b);
                lock.lock();
                w.acknowledge();
                continue;
            }
            if (!m_running || w.m_queue.empty()) {
                w.m_wake.wait(lock);
                continue;
            }
            // A sound card gives a buffer back once the time it holds has passed.
            WaveBuffer* buffer = w.m_queue.front();
            const DWORD bytes = buffer->bufferBytes - buffer->bufferBytes % m_format.nBlockAlign;
            const auto due = m_startTime + std::chrono::microseconds((m_delivered + bytes) * 1000000ull /
                                                                     m_format.nAvgBytesPerSec);
            if (Clock::now() < due) {
                w.m_wake.wait_until(lock, due);
                continue;
            }
            w.m_queue.pop_front();
            lock.unlock();
            fill(*buffer, bytes);
            m_delivered += bytes;
            w.giveBack(buffer);
            lock.lock();
        }
    }

    void fill(WaveBuffer& buffer, DWORD bytes) {
        DWORD got = 0;
        if (m_file && m_dataLeft > 0) {
            got = DWORD(std::fread(buffer.data, 1, std::min(bytes, m_dataLeft), m_file.get()));
            m_dataLeft = got == 0 ? 0 : m_dataLeft - got;
        }
        std::memset(buffer.data + got, 0, bytes - got);
        buffer.bytesRecorded = bytes;
    }

    WAVEFORMATEX m_format;
    FilePtr m_file;
    DWORD m_dataLeft = 0;
    bool m_running = false;  // worker's own
    Clock::time_point m_startTime;
    unsigned long long m_delivered = 0;
    DeviceWorker m_worker;
};

// Played bytes go straight into the file and the buffer is given back at once
// (from within write); the header's sizes are written on close.
class FileWaveOut final : public WaveOut {
public:
    FileWaveOut(const WAVEFORMATEX& format, WaveDone done) : m_format(format), m_done(std::move(done)) {}
    ~FileWaveOut() override { finish(); }

    WaveResult open(const std::string& path) {
        if (path.empty()) {
            return WaveResult::Ok;  // played into nothing
        }
        m_file.reset(std::fopen(path.c_str(), "wb"));
        if (!m_file) {
            return WaveResult::NoDevice;
        }
        return writeHeader() ? WaveResult::Ok : WaveResult::Io;
    }

    WaveResult write(WaveBuffer& buffer) override {
        WaveResult result = WaveResult::Ok;
        if (m_file && buffer.bufferBytes > 0) {
            if (std::fwrite(buffer.data, 1, buffer.bufferBytes, m_file.get()) != buffer.bufferBytes ||
                std::fflush(m_file.get()) != 0) {
                result = WaveResult::Io;
            } else {
                m_dataBytes += buffer.bufferBytes;
            }
        }
        if (result == WaveResult::Ok && m_done) {
            m_done(buffer);
        }
        return result;
    }
    WaveResult reset() override { return WaveResult::Ok; }
    WaveResult volume(DWORD& value) override {
        std::lock_guard lock(fileMixer().mutex);
        value = DWORD(fileMixer().playback);
        return WaveResult::Ok;
    }

private:
    bool writeHeader() {
        BYTE h[44];
        auto put32 = [&](int at, DWORD v) {
            for (int i = 0; i < 4; ++i) h[at + i] = BYTE(v >> (8 * i));
        };
        auto put16 = [&](int at, WORD v) {
            h[at] = BYTE(v);
            h[at + 1] = BYTE(v >> 8);
        };
        std::memcpy(h, "RIFF", 4);
        put32(4, 36 + m_dataBytes);
        std::memcpy(h + 8, "WAVEfmt ", 8);
        put32(16, 16);
        put16(20, m_format.wFormatTag);
        put16(22, m_format.nChannels);
        put32(24, m_format.nSamplesPerSec);
        put32(28, m_format.nAvgBytesPerSec);
        put16(32, m_format.nBlockAlign);
        put16(34, m_format.wBitsPerSample);
        std::memcpy(h + 36, "data", 4);
        put32(40, m_dataBytes);
        return std::fseek(m_file.get(), 0, SEEK_SET) == 0 && std::fwrite(h, 1, 44, m_file.get()) == 44 &&
               std::fseek(m_file.get(), 0, SEEK_END) == 0;
    }
    void finish() {
        if (m_file) {
            writeHeader();
            m_file.reset();
        }
    }

    WAVEFORMATEX m_format;
    WaveDone m_done;
    FilePtr m_file;
    DWORD m_dataBytes = 0;
};

class FileMixerVolume final : public MixerVolume {
public:
    explicit FileMixerVolume(Line line) : m_line(line) {}
    LONG minimum() const override { return 0; }
    LONG maximum() const override { return 0xFFFF; }
    WaveResult get(LONG& value) override {
        std::lock_guard lock(fileMixer().mutex);
        value = m_line == Line::Record ? fileMixer().record : fileMixer().playback;
        return WaveResult::Ok;
    }
    WaveResult set(LONG value) override {
        std::lock_guard lock(fileMixer().mutex);
        (m_line == Line::Record ? fileMixer().record : fileMixer().playback) = std::clamp<LONG>(value, 0, 0xFFFF);
        return WaveResult::Ok;
    }

private:
    Line m_line;
};

// ---- ALSA ----

struct PcmClose {
    void operator()(snd_pcm_t* p) const { snd_pcm_close(p); }
};
using PcmPtr = std::unique_ptr<snd_pcm_t, PcmClose>;
struct MixerClose {
    void operator()(snd_mixer_t* m) const { snd_mixer_close(m); }
};
using MixerPtr = std::unique_ptr<snd_mixer_t, MixerClose>;

PcmPtr openPcm(const std::string& name, snd_pcm_stream_t stream, const WAVEFORMATEX& format, WaveResult& result) {
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, name.c_str(), stream, SND_PCM_NONBLOCK) < 0) {
        result = WaveResult::NoDevice;
        return nullptr;
    }
    PcmPtr pcm(raw);
    if (snd_pcm_set_params(raw, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                           format.nSamplesPerSec, 1, 200000) < 0) {
        result = WaveResult::BadFormat;
        return nullptr;
    }
    result = WaveResult::Ok;
    return pcm;
}

// Capture and playback share one loop: the head buffer is moved between the
// device and memory in steps of up to 40 ms, waiting for the device with a
// short time-out so that commands are taken promptly.
class AlsaDevice {
public:
    AlsaDevice(PcmPtr pcm, const WAVEFORMATEX& format, bool capture, WaveDone done)
        : m_pcm(std::move(pcm)), m_format(format), m_capture(capture), m_worker(std::move(done)) {
        m_worker.run([this] { loop(); });
    }
    ~AlsaDevice() { m_worker.shutDown(); }

    DeviceWorker& worker() { return m_worker; }

private:
    void loop() {
        DeviceWorker& w = m_worker;
        const snd_pcm_uframes_t step = std::max<DWORD>(1, m_format.nSamplesPerSec / 25);
        std::unique_lock lock(w.m_mutex);
        if (!m_capture) {
            m_running = true;
        }
        for (;;) {
            if (w.m_closing) {
                return;
            }
            if (w.m_command != DeviceWorker::Command::None) {
                const auto c = w.m_command;
                std::deque<WaveBuffer*> back;
                if (c == DeviceWorker::Command::Start && !m_running) {
                    snd_pcm_prepare(m_pcm.get());
                    snd_pcm_start(m_pcm.get());
                    m_running = true;
                } else if (c != DeviceWorker::Command::Start) {
                    snd_pcm_drop(m_pcm.get());
                    snd_pcm_prepare(m_pcm.get());
                    m_running = !m_capture;
                    if (c == DeviceWorker::Command::Reset || !m_capture) {
                        back = w.takeAll();
                    } else if (!w.m_queue.empty()) {
                        back.push_back(w.m_queue.front());
                        w.m_queue.pop_front();
                    }
                    m_done = 0;
                }
                lock.unlock();
                for (WaveBuffer* b : back) w.giveBack(b);
                lock.lock();
                w.acknowledge();
                continue;
            }
            if (!m_running || w.m_queue.empty()) {
                w.m_wake.wait(lock);
                continue;
            }
            WaveBuffer* buffer = w.m_queue.front();
            lock.unlock();
            const DWORD total = buffer->bufferBytes;
            const DWORD frames = (total - m_done) / m_format.nBlockAlign;
            bool finished = frames == 0;
            if (!finished && snd_pcm_wait(m_pcm.get(), 50) >= 0) {
                const snd_pcm_uframes_t n = std::min<snd_pcm_uframes_t>(frames, step);
                const snd_pcm_sframes_t moved = m_capture ? snd_pcm_readi(m_pcm.get(), buffer->data + m_done, n)
                                                          : snd_pcm_writei(m_pcm.get(), buffer->data + m_done, n);
                if (moved > 0) {
                    m_done += DWORD(moved) * m_format.nBlockAlign;
                } else if (moved < 0 && moved != -EAGAIN) {
                    snd_pcm_recover(m_pcm.get(), int(moved), 1);
                    if (m_capture) {
                        snd_pcm_start(m_pcm.get());
                    }
                }
                finished = (total - m_done) / m_format.nBlockAlign == 0;
            }
            lock.lock();
            if (finished && !w.m_queue.empty() && w.m_queue.front() == buffer) {
                w.m_queue.pop_front();
                buffer->bytesRecorded = m_capture ? m_done : 0;
                m_done = 0;
                lock.unlock();
                w.giveBack(buffer);
                lock.lock();
            }
        }
    }

    PcmPtr m_pcm;
    WAVEFORMATEX m_format;
    bool m_capture;
    bool m_running = false;  // worker's own
    DWORD m_done = 0;        // bytes of the head buffer moved so far
    DeviceWorker m_worker;
};

class AlsaWaveIn final : public QueuedWaveIn {
public:
    AlsaWaveIn(PcmPtr pcm, const WAVEFORMATEX& format, WaveDone done)
        : m_device(std::move(pcm), format, true, std::move(done)) {}
    DeviceWorker& worker() override { return m_device.worker(); }

private:
    AlsaDevice m_device;
};

class AlsaMixerVolume final : public MixerVolume {
public:
    AlsaMixerVolume(MixerPtr mixer, snd_mixer_elem_t* elem, Line line)
        : m_mixer(std::move(mixer)), m_elem(elem), m_line(line) {
        long lo = 0, hi = 0;
        if (line == Line::Record) {
            snd_mixer_selem_get_capture_volume_range(elem, &lo, &hi);
        } else {
            snd_mixer_selem_get_playback_volume_range(elem, &lo, &hi);
        }
        m_min = LONG(lo);
        m_max = LONG(hi);
    }
    LONG minimum() const override { return m_min; }
    LONG maximum() const override { return m_max; }
    WaveResult get(LONG& value) override {
        snd_mixer_handle_events(m_mixer.get());
        long v = 0;
        const int rc = m_line == Line::Record
                           ? snd_mixer_selem_get_capture_volume(m_elem, SND_MIXER_SCHN_FRONT_LEFT, &v)
                           : snd_mixer_selem_get_playback_volume(m_elem, SND_MIXER_SCHN_FRONT_LEFT, &v);
        value = LONG(v);
        return rc < 0 ? WaveResult::Io : WaveResult::Ok;
    }
    WaveResult set(LONG value) override {
        const long v = std::clamp<long>(value, m_min, m_max);
        const int rc = m_line == Line::Record
                           ? snd_mixer_selem_set_capture_volume(m_elem, SND_MIXER_SCHN_FRONT_LEFT, v)
                           : snd_mixer_selem_set_playback_volume(m_elem, SND_MIXER_SCHN_FRONT_LEFT, v);
        return rc < 0 ? WaveResult::Io : WaveResult::Ok;
    }

private:
    MixerPtr m_mixer;
    snd_mixer_elem_t* m_elem;
    Line m_line;
    LONG m_min = 0;
    LONG m_max = 0;
};

std::unique_ptr<MixerVolume> openAlsaMixer(const std::string& name, MixerVolume::Line line, WaveResult& result) {
    result = WaveResult::NoDevice;
    snd_mixer_t* raw = nullptr;
    if (snd_mixer_open(&raw, 0) < 0) {
        return nullptr;
    }
    MixerPtr mixer(raw);
    if (snd_mixer_attach(raw, name.c_str()) < 0 || snd_mixer_selem_register(raw, nullptr, nullptr) < 0 ||
        snd_mixer_load(raw) < 0) {
        return nullptr;
    }
    // Record: the microphone, else the last control with a capture volume.
    // Playback: the PCM (wave-out) control, else the master, else the last.
    snd_mixer_elem_t* chosen = nullptr;
    int chosenRank = -1;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(raw); e != nullptr; e = snd_mixer_elem_next(e)) {
        const std::string elemName = snd_mixer_selem_get_name(e);
        int rank = -1;
        if (line == MixerVolume::Line::Record && snd_mixer_selem_has_capture_volume(e)) {
            rank = elemName.find("Mic") != std::string::npos ? 2 : 0;
        } else if (line == MixerVolume::Line::Playback && snd_mixer_selem_has_playback_volume(e)) {
            rank = elemName == "PCM" ? 2 : elemName == "Master" ? 1 : 0;
        }
        if (rank >= 0 && rank >= chosenRank && !(rank == 2 && chosenRank == 2)) {
            chosen = e;
            chosenRank = rank;
        }
    }
    if (chosen == nullptr) {
        return nullptr;
    }
    result = WaveResult::Ok;
    return std::make_unique<AlsaMixerVolume>(std::move(mixer), chosen, line);
}

class AlsaWaveOut final : public WaveOut {
public:
    AlsaWaveOut(PcmPtr pcm, const WAVEFORMATEX& format, WaveDone done, std::string name)
        : m_device(std::move(pcm), format, false, std::move(done)), m_name(std::move(name)) {}
    WaveResult write(WaveBuffer& buffer) override {
        if (m_device.worker().holds(buffer)) {
            return WaveResult::StillPlaying;
        }
        m_device.worker().queue(buffer);
        return WaveResult::Ok;
    }
    WaveResult reset() override {
        m_device.worker().command(DeviceWorker::Command::Reset);
        return WaveResult::Ok;
    }
    WaveResult volume(DWORD& value) override {
        WaveResult result;
        auto control = openAlsaMixer(m_name, MixerVolume::Line::Playback, result);
        LONG v = 0;
        if (!control || (result = control->get(v)) != WaveResult::Ok) {
            return result;
        }
        const LONG span = control->maximum() - control->minimum();
        value = span <= 0 ? 0 : DWORD((long long)(v - control->minimum()) * 0xFFFF / span);
        return WaveResult::Ok;
    }

private:
    AlsaDevice m_device;
    std::string m_name;
};

}  // namespace

namespace {

// A device of either kind in a format it takes; `alsa` makes the ALSA one
// from its open PCM.
template <class Base, class FileDevice, class MakeAlsa>
std::unique_ptr<Base> openDevice(const WaveDevice& device, const WAVEFORMATEX& format, WaveDone done,
                                 WaveResult& result, snd_pcm_stream_t stream, MakeAlsa alsa) {
    if (!usableFormat(format)) {
        result = WaveResult::BadFormat;
        return nullptr;
    }
    if (device.kind == WaveDevice::Kind::File) {
        auto file = std::make_unique<FileDevice>(format, std::move(done));
        result = file->open(device.path);
        return result == WaveResult::Ok ? std::move(file) : nullptr;
    }
    PcmPtr pcm = openPcm(device.alsaName, stream, format, result);
    if (!pcm) {
        return nullptr;
    }
    return alsa(std::move(pcm), std::move(done));
}

}  // namespace

std::unique_ptr<WaveIn> openWaveIn(const WaveDevice& device, const WAVEFORMATEX& format, WaveDone done,
                                   WaveResult& result) {
    return openDevice<WaveIn, FileWaveIn>(device, format, std::move(done), result, SND_PCM_STREAM_CAPTURE,
                                          [&](PcmPtr pcm, WaveDone d) -> std::unique_ptr<WaveIn> {
                                              return std::make_unique<AlsaWaveIn>(std::move(pcm), format, std::move(d));
                                          });
}

std::unique_ptr<WaveOut> openWaveOut(const WaveDevice& device, const WAVEFORMATEX& format, WaveDone done,
                                     WaveResult& result) {
    return openDevice<WaveOut, FileWaveOut>(
        device, format, std::move(done), result, SND_PCM_STREAM_PLAYBACK,
        [&](PcmPtr pcm, WaveDone d) -> std::unique_ptr<WaveOut> {
            return std::make_unique<AlsaWaveOut>(std::move(pcm), format, std::move(d), device.alsaName);
        });
}

std::unique_ptr<MixerVolume> openMixerVolume(const WaveDevice& device, MixerVolume::Line line, WaveResult& result) {
    if (device.kind == WaveDevice::Kind::File) {
        result = WaveResult::Ok;
        return std::make_unique<FileMixerVolume>(line);
    }
    return openAlsaMixer(device.alsaName, line, result);
}

}  // namespace platform
