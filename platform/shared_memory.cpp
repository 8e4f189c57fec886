#include "platform/shared_memory.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {
namespace {

constexpr unsigned kSizeSeals = F_SEAL_SHRINK | F_SEAL_GROW;

}  // namespace

SharedMemory::~SharedMemory() { reset(); }

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_data(std::exchange(other.m_data, nullptr)),
      m_bytes(std::exchange(other.m_bytes, 0)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
    if (this != &other) {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
        m_data = std::exchange(other.m_data, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void SharedMemory::reset() {
    if (m_data != nullptr) {
        ::munmap(m_data, m_bytes);
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_data = nullptr;
    m_bytes = 0;
}

SharedMemory SharedMemory::create(std::size_t bytes) {
    if (bytes == 0) {
        errno = EINVAL;
        return SharedMemory();
    }
    int fd = ::memfd_create("velmoor-block", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        return SharedMemory();
    }
    // Seal the size, so no process holding the descriptor can shrink the file
    // under another's mapping (touching a truncated page is a crash).
    if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0 ||
        ::fcntl(fd, F_ADD_SEALS, kSizeSeals | F_SEAL_SEAL) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return SharedMemory();
    }
    return mapped(fd, bytes);
}

SharedMemory SharedMemory::open(int fd, std::size_t minBytes) {
    SharedMemory block;
    if (fd < 0) {
        errno = EBADF;
        return block;
    }
    // The descriptor came from another process: only a block whose size cannot
    // change is safe to map, and it must hold what the caller will read.
    int seals = ::fcntl(fd, F_GET_SEALS);
    if (seals < 0 || (static_cast<unsigned>(seals) & F_SEAL_SHRINK) == 0) {
        errno = EINVAL;
        return block;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return block;
    }
    if (info.st_size <= 0 || static_cast<std::size_t>(info.st_size) < minBytes) {
        errno = EINVAL;
        return block;
    }
    int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        return block;
    }
    return mapped(own, static_cast<std::size_t>(info.st_size));
}

SharedMemory SharedMemory::mapped(int ownedFd, std::size_t bytes) {
    SharedMemory block;
    block.m_fd = ownedFd;
    void* data = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, ownedFd, 0);
    if (data == MAP_FAILED) {
        int saved = errno;
        block.reset();
        errno = saved;
        return block;
    }
    block.m_data = data;
    block.m_bytes = bytes;
    return block;
}

}  // namespace platform
