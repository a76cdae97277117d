#include "line_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace zhandsim {

int ReadLineRate(int fd) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
    return static_cast<int>(settings.c_ospeed);
}

}  // namespace zhandsim
