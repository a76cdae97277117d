// Any line rate through termios2 (its header clashes with <termios.h>).
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace zhandsim::test {

bool SetAnyRate(int fd, int baud) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    settings.c_cflag &= ~(CBAUD | CIBAUD);
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = settings.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &settings) == 0;
}

}  // namespace zhandsim::test
