#include "ranvic/vt_fifo.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

void VtSignal::signal() {
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    m_cv.notify_one();
}

bool VtSignal::wait(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    if (timeoutMs < 0) {
        m_cv.wait(lock, [this] { return m_set; });
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_set; })) {
        return false;
    }
    m_set = false;
    return true;
}

void vt_fifo_init(vt_fifo* fifo, std::uint8_t* buffer, std::int32_t capacity) {
    bool owned = false;
    if (buffer == nullptr) {
        buffer = capacity > 0 ? new (std::nothrow) std::uint8_t[std::size_t(capacity)] : nullptr;
        if (buffer == nullptr) {
            std::printf("not enough memory for fifo\n");
            return;
        }
        owned = true;
    }
    fifo->max_size = capacity;
    fifo->start = fifo->head = fifo->tail = buffer;
    fifo->owned = owned;
    fifo->size = 0;
    fifo->total_added = fifo->total_taken = 0;
    if (!fifo->space) fifo->space = std::make_unique<VtSignal>(); else fifo->space->signal();
    if (!fifo->data) fifo->data = std::make_unique<VtSignal>(); else fifo->data->signal();
    fifo->open = 1;
    if (!fifo->mutex) fifo->mutex = std::make_unique<std::mutex>();
    fifo->aborted = 0;
    fifo->nesting = 0;
    fifo->blocking = 1;
}

std::int32_t vt_fifo_size(vt_fifo* fifo) {
    if (!fifo->mutex) {
        return 0;
    }
    std::lock_guard lock(*fifo->mutex);
    return fifo->size;
}

std::int32_t vt_fifo_space(vt_fifo* fifo) { return fifo->max_size - vt_fifo_size(fifo); }

namespace {

void commit(vt_fifo* fifo, std::int32_t n, bool add) {
    const char* name = add ? "vt_fifo_add" : "vt_fifo_get";
    {
        std::lock_guard lock(*fifo->mutex);
        if (++fifo->nesting != 1) {
            std::printf("vt_fifo_add: critical_section == %d\n", fifo->nesting);
            std::fprintf(stderr, "vt_fifo_add: critical_section == %d\n", fifo->nesting);
        }
        std::uint8_t*& position = add ? fifo->head : fifo->tail;
        position += n;
        if (position >= fifo->start + fifo->max_size) {
            position -= fifo->max_size;
        }
        if (add) {
            fifo->size += n;
            fifo->total_added += std::uint64_t(n);
        } else {
            fifo->size -= n;
            fifo->total_taken += std::uint64_t(n);
        }
        const std::uint64_t difference = fifo->total_added - fifo->total_taken;
        if (fifo->blocking && difference != std::uint64_t(fifo->size)) {
            std::printf("%s: Head %llu, Tail %llu (%llu), but size %d\n", name,
                        (unsigned long long)fifo->total_added, (unsigned long long)fifo->total_taken,
                        (unsigned long long)difference, fifo->size);
            std::fprintf(stderr, "%s: Head %llu, Tail %llu (%llu), but size %d\n", name,
                         (unsigned long long)fifo->total_added, (unsigned long long)fifo->total_taken,
                         (unsigned long long)difference, fifo->size);
        }
        --fifo->nesting;
    }
    if (fifo->blocking) {
        (add ? fifo->data : fifo->space)->signal();
    }
}

}  // namespace

void vt_fifo_add(vt_fifo* fifo, std::int32_t n) {
    const std::int32_t stored = vt_fifo_size(fifo);
    if (fifo->blocking && (n < 0 || stored + n > fifo->max_size)) {
        std::printf("vt_fifo_add: fifo_size + bytes (%d + %d) > fifo->max_size (%d)\n", stored, n, fifo->max_size);
        return;
    }
    commit(fifo, n, true);
}

void vt_fifo_get(vt_fifo* fifo, std::int32_t n) {
    if (fifo->blocking && (n < 0 || n > vt_fifo_size(fifo))) {
        return;
    }
    commit(fifo, n, false);
}

std::int32_t vt_fifo_write_from_buffer(vt_fifo* fifo, const std::uint8_t* source, std::int32_t count,
                                       int timeoutMs) {
    if (fifo->start == nullptr || count <= 0) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (int attempt = 0; fifo->blocking && !fifo->aborted && vt_fifo_space(fifo) < count; ++attempt) {
        std::printf("vt_fifo_write_from_buffer: fifo full, waiting for it to drain, count %d\n", attempt);
        if (timeoutMs < 0) {
            fifo->space->wait();
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !fifo->space->wait(int(left.count()))) {
            if (vt_fifo_space(fifo) < count) {
                return 0;  // the reader did not make room in time
            }
        }
    }
    if (vt_fifo_space(fifo) < count) {
        return 0;
    }
    const std::int32_t toEnd = std::int32_t(fifo->start + fifo->max_size - fifo->head);
    const std::int32_t first = count < toEnd ? count : toEnd;
    std::memcpy(fifo->head, source, std::size_t(first));
    vt_fifo_add(fifo, first);
    if (count > first) {
        std::memcpy(fifo->head, source + first, std::size_t(count - first));
        vt_fifo_add(fifo, count - first);
    }
    return count;
}

std::int32_t vt_fifo_read_to_buffer(vt_fifo* fifo, std::uint8_t* destination, std::int32_t count,
                                    std::int32_t* copied) {
    if (copied != nullptr) {
        *copied = 0;
    }
    if (fifo->start == nullptr || count <= 0) {
        return 0;
    }
    while (fifo->blocking && !fifo->aborted && fifo->open) {
        if (vt_fifo_size(fifo) >= count) {
            break;
        }
        std::printf("vt_fifo_read_to_buffer: fifo empty, waiting for it to contain data\n");
        std::this_thread::yield();
        fifo->data->wait();
    }
    const std::int32_t stored = vt_fifo_size(fifo);
    const std::int32_t n = count < stored ? count : stored;
    const std::int32_t toEnd = std::int32_t(fifo->start + fifo->max_size - fifo->tail);
    const std::int32_t first = n < toEnd ? n : toEnd;
    std::memcpy(destination, fifo->tail, std::size_t(first));
    vt_fifo_get(fifo, first);
    if (n > first) {
        if (fifo->tail != fifo->start) {
            std::printf("fifo_tail != fifo\n");
        }
        std::memcpy(destination + first, fifo->tail, std::size_t(n - first));
        vt_fifo_get(fifo, n - first);
    }
    if (copied != nullptr) {
        *copied = n;
    }
    return n;
}

void vt_fifo_flush(vt_fifo* fifo) {
    if (fifo->mutex) {
        std::lock_guard lock(*fifo->mutex);
        fifo->head = fifo->tail = fifo->start;
        fifo->size = 0;
        fifo->total_added = fifo->total_taken = 0;
        fifo->nesting = 0;
    }
    if (fifo->blocking) {
        fifo->space->signal();
        fifo->data->signal();
    }
    fifo->aborted = 0;
}

void vt_fifo_abort(vt_fifo* fifo) {
    vt_fifo_flush(fifo);
    if (fifo->blocking) {
        fifo->space->signal();
        fifo->data->signal();
    }
    fifo->aborted = 1;
}

void fifo_close(vt_fifo* fifo) {
    fifo->open = 0;
    if (!fifo->blocking) {
        return;
    }
    fifo->data->signal();
    while (vt_fifo_size(fifo) != 0 && !fifo->aborted) {
        std::printf("fifo_close: waiting for fifo to drain\n");
        fifo->space->wait();
    }
}

void vt_fifo_release(vt_fifo* fifo) {
    if (fifo->owned) {
        delete[] fifo->start;
    }
    fifo->start = fifo->head = fifo->tail = nullptr;
    fifo->owned = false;
}
