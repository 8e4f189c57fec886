#include "platform/serial_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace platform::serial_speed {

namespace {

bool get(int fd, termios2& t) {
    int r;
    do {
        r = ioctl(fd, TCGETS2, &t);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

}  // namespace

bool setExact(int fd, DWORD rate) {
    if (fd < 0 || rate == 0) return false;
    termios2 t {};
    if (!get(fd, t)) return false;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    int r;
    do {
        r = ioctl(fd, TCSETS2, &t);
    } while (r != 0 && errno == EINTR);
    if (r != 0) return false;
    termios2 back {};
    return get(fd, back) && back.c_ospeed == rate && back.c_ispeed == rate;
}

DWORD current(int fd) {
    termios2 t {};
    if (fd < 0 || !get(fd, t)) return 0;
    return t.c_ospeed;
}

}  // namespace platform::serial_speed
