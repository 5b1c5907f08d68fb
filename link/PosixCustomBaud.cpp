#include "link/PosixCustomBaud.h"

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>

bool setCustomBaud(int fd, unsigned long baud) {
    struct termios2 tio;
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}
#else
bool setCustomBaud(int, unsigned long) {
    return false;
}
#endif
