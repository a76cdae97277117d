// Low-latency mode of a serial device. USB-serial adapters hold received
// bytes back for their latency timer (16 ms by default on many), which would
// delay every echo and real-time answer; the kernel's serial flags ask the
// adapter to pass them on at once. Kept apart: the kernel's serial header
// is Linux-only and has nothing to do with termios.
#pragma once

namespace zhand::detail {

// Asks the device for low-latency mode; true when it took it, false where
// it has no such mode (a pseudo-terminal, most plain UARTs' older drivers).
bool RequestLowLatency(int fd);

}  // namespace zhand::detail
