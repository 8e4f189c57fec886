#pragma once
// Shared memory blocks handed to another process: an anonymous memory file
// (memfd) mapped read-write, whose descriptor travels with a bus message
// (PostMessageFd / SendMessageFd). The creator seals the block's size, so a
// receiver can trust that the whole mapping stays backed; open() refuses a
// descriptor that is not such a sealed block or is smaller than asked for.
//
// Thread: an object may be used by one thread at a time; the memory itself is
// shared, so the processes agree on who writes when (a sent message's handler
// writes while the sender waits). Failure: create/open return an invalid object
// (valid() false) and set errno.

#include <cstddef>

namespace platform {

class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // A new zero-filled block of `bytes` (at least 1).
    static SharedMemory create(std::size_t bytes);
    // Maps a block received from another process. fd stays the caller's (the
    // block keeps its own duplicate). Maps the block's whole size, which must be
    // at least minBytes.
    static SharedMemory open(int fd, std::size_t minBytes);

    bool valid() const { return m_data != nullptr; }
    void* data() const { return m_data; }
    std::size_t size() const { return m_bytes; }
    // The descriptor to pass with a message; owned by this object.
    int fd() const { return m_fd; }

    // Unmaps and closes now.
    void reset();

private:
    // Maps `bytes` of a descriptor the block takes over (closed on failure).
    static SharedMemory mapped(int ownedFd, std::size_t bytes);

    int m_fd = -1;
    void* m_data = nullptr;
    std::size_t m_bytes = 0;
};

}  // namespace platform
