#pragma once
// Line speeds outside the standard termios table (14400, 56000, 128000,
// 256000, ...), set and read as exact numbers through the kernel's termios2
// interface. Kept apart from serial_port.cpp: the kernel's termios headers
// cannot share a file with the C library's.
// Thread: whoever owns the descriptor. Failure: false / 0, nothing throws.

#include "platform/types.h"

namespace platform::serial_speed {

// Sets `rate` as the input and output speed of the open terminal `fd`; true
// when the device now runs at exactly that rate.
bool setExact(int fd, DWORD rate);
// The output speed the device runs at, in bits per second; 0 when unknown.
DWORD current(int fd);

}  // namespace platform::serial_speed
