// Kept apart: the kernel's termios header clashes with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

int TtyBaud(int fd) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return -1;
    return static_cast<int>(settings.c_ospeed);
}

int TtyInputBaud(int fd) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return -1;
    return static_cast<int>(settings.c_ispeed);
}
