#include "serial_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace zhand::detail {

bool RequestLowLatency(int fd) {
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
    if (info.flags & ASYNC_LOW_LATENCY) return true;
    info.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &info) == 0;
}

}  // namespace zhand::detail
