// Arbitrary baud rates through the kernel's termios2 interface. Kept apart
// because the kernel's termios header cannot share a file with <termios.h>.
#pragma once

namespace zhand::detail {

// Sets any positive rate (BOTHER) for input and output, 8N1, leaving the
// other settings. 0, -3 (settings unreadable) or -4 (rejected).
int SetAnyBaudRate(int fd, int baud);
// The output rate the port runs at, as the kernel reports it; -1 on failure.
int ReadBaudRate(int fd);
// True when a device that reports `reported` after being asked for `asked`
// took the rate. A ten-bit frame survives about 5 % between both ends of
// the line, so an adapter that rounds by up to 3 % has taken the rate; one
// that falls back to a rate of its own table (a CP210x asked for 5908
// answers 4800 or 7200) has not.
bool RateTaken(int asked, int reported);

}  // namespace zhand::detail
