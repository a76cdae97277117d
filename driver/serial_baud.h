// Arbitrary baud rates through the kernel's termios2 interface. Kept apart
// because the kernel's termios header cannot share a file with <termios.h>.
#pragma once

// Sets any positive rate (BOTHER) for input and output, 8N1, leaving the
// other settings. 0, -3 (settings unreadable) or -4 (rejected).
int SetAnyBaudRate(int fd, int baud);
// The output rate the port runs at, as the kernel reports it; -1 on failure.
int ReadBaudRate(int fd);
