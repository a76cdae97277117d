// The rate a pty's slave side is set to, read through its master. Kept apart
// because the kernel's termios2 header clashes with <termios.h>.
#pragma once

namespace zhandsim {

// Output rate of the terminal behind `fd` (on a pty master: the slave's
// setting, any rate including non-standard ones); 0 when it cannot be read.
int ReadLineRate(int fd);

}  // namespace zhandsim
