#pragma once
// vt_fifo: a fixed-capacity ring of bytes between one producer thread and one
// consumer thread. Writes wait for room, reads wait for data; an abort ends
// every wait for good. Plain functions on a caller-owned record; diagnostics
// go to the process's standard output and error.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

// A wake-up signal that holds at most one signal (a semaphore of maximum 1).
class VtSignal {
public:
    void signal();
    // Waits for the signal and takes it; false when timeoutMs passed first
    // (a negative time-out waits without limit).
    bool wait(int timeoutMs = -1);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

struct vt_fifo {
    std::uint8_t* start = nullptr;
    std::uint8_t* head = nullptr;
    std::uint8_t* tail = nullptr;
    std::int32_t size = 0;      // stored bytes
    std::int32_t max_size = 0;  // capacity
    std::uint64_t total_added = 0;
    std::uint64_t total_taken = 0;
    std::unique_ptr<VtSignal> space;  // signalled when bytes are taken
    std::unique_ptr<VtSignal> data;   // signalled when bytes are added
    std::atomic<int> open{0};
    std::unique_ptr<std::mutex> mutex;
    std::atomic<int> aborted{0};
    int nesting = 0;
    int blocking = 0;
    bool owned = false;  // the buffer was allocated by init
};

inline constexpr int kVtWaitForever = -1;

void vt_fifo_init(vt_fifo* fifo, std::uint8_t* buffer, std::int32_t capacity);
std::int32_t vt_fifo_size(vt_fifo* fifo);
std::int32_t vt_fifo_space(vt_fifo* fifo);
void vt_fifo_add(vt_fifo* fifo, std::int32_t n);
void vt_fifo_get(vt_fifo* fifo, std::int32_t n);
// Copies count bytes in, waiting for room: at most timeoutMs in all when it is
// not kVtWaitForever. Returns the bytes written: count, or 0 when they did not
// fit (an aborted FIFO, or the time ran out).
std::int32_t vt_fifo_write_from_buffer(vt_fifo* fifo, const std::uint8_t* source, std::int32_t count,
                                       int timeoutMs = kVtWaitForever);
// Copies up to count bytes out, waiting for count bytes while the FIFO is
// open and not aborted; returns the number taken (also in *copied).
std::int32_t vt_fifo_read_to_buffer(vt_fifo* fifo, std::uint8_t* destination, std::int32_t count,
                                    std::int32_t* copied);
void vt_fifo_flush(vt_fifo* fifo);
void vt_fifo_abort(vt_fifo* fifo);
void fifo_close(vt_fifo* fifo);
void vt_fifo_release(vt_fifo* fifo);
