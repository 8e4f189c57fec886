#include "platform/shared_memory.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

using platform::SharedMemory;

TEST(SharedMemory, OpenedBlockSharesTheBytes) {
    auto block = SharedMemory::create(1032);
    ASSERT_TRUE(block.valid());
    EXPECT_EQ(block.size(), 1032u);
    EXPECT_EQ(static_cast<unsigned char*>(block.data())[1031], 0);  // zero-filled
    std::memcpy(block.data(), "ping", 4);

    auto other = SharedMemory::open(block.fd(), 1032);
    ASSERT_TRUE(other.valid());
    EXPECT_NE(other.fd(), block.fd());  // its own descriptor
    EXPECT_EQ(other.size(), 1032u);
    EXPECT_EQ(std::memcmp(other.data(), "ping", 4), 0);
    std::memcpy(other.data(), "pong", 4);
    EXPECT_EQ(std::memcmp(block.data(), "pong", 4), 0);

    // The block's size is sealed: nobody holding it can shrink it under a mapping.
    EXPECT_NE(::ftruncate(other.fd(), 10), 0);

    SharedMemory moved = std::move(other);
    EXPECT_FALSE(other.valid());
    EXPECT_TRUE(moved.valid());
    moved.reset();
    EXPECT_FALSE(moved.valid());
    EXPECT_EQ(std::memcmp(block.data(), "pong", 4), 0);
}

TEST(SharedMemory, RefusesWhatIsNotASealedBlockOfTheSize) {
    auto block = SharedMemory::create(64);
    ASSERT_TRUE(block.valid());
    EXPECT_FALSE(SharedMemory::open(block.fd(), 65).valid());
    EXPECT_FALSE(SharedMemory::create(0).valid());
    EXPECT_FALSE(SharedMemory::open(-1, 1).valid());

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    EXPECT_FALSE(SharedMemory::open(pipeEnds[0], 1).valid());
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);

    // An unsealed memory file could be shrunk by its sender after the check.
    int unsealed = ::memfd_create("unsealed", MFD_CLOEXEC);
    ASSERT_GE(unsealed, 0);
    ASSERT_EQ(::ftruncate(unsealed, 4096), 0);
    EXPECT_FALSE(SharedMemory::open(unsealed, 1).valid());
    ::close(unsealed);
}
