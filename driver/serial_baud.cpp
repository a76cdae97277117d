#include "serial_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>
#include <cstdlib>

namespace zhand::detail {

int SetAnyBaudRate(int fd, int baud) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return -3;
    if (baud <= 0) return -4;
    settings.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CS8;
    settings.c_ispeed = static_cast<speed_t>(baud);
    settings.c_ospeed = static_cast<speed_t>(baud);
    if (ioctl(fd, TCSETS2, &settings) != 0) return -4;
    return 0;
}

int ReadBaudRate(int fd) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return -1;
    return static_cast<int>(settings.c_ospeed);
}

bool RateTaken(int asked, int reported) {
    if (asked <= 0 || reported <= 0) return false;
    int64_t off = std::llabs(int64_t{reported} - asked);
    return off * 100 <= int64_t{asked} * 3;
}

}  // namespace zhand::detail
