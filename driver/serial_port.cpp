#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "serial_baud.h"
#include "serial_latency.h"

namespace zhand::detail {

namespace {

int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

constexpr int64_t kNoDeadline = -1;

// Deadline of a transfer of `count` bytes; none when both parts are 0.
int64_t TransferDeadline(uint32_t constant, uint32_t multiplier, int count) {
    int64_t total = int64_t{constant} + int64_t{multiplier} * count;
    return total == 0 ? kNoDeadline : NowMs() + total;
}

// Milliseconds until `deadline` as poll() takes them.
int PollTimeout(int64_t deadline) {
    if (deadline == kNoDeadline) return -1;
    int64_t left = deadline - NowMs();
    if (left <= 0) return 0;
    return left > 1000000000 ? 1000000000 : static_cast<int>(left);
}

speed_t StandardSpeed(int baud) {
    switch (baud) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return B0;
    }
}

// Opens `path` exclusively, raw 8N1 without flow control: the descriptor, or
// -1. The lock comes first: nothing of a port that another program holds is
// touched.
int OpenDevice(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios settings{};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 ||
        tcgetattr(fd, &settings) != 0) {
        close(fd);
        return -1;
    }
    // Raw 8-bit bytes both ways: real-time blocks carry CR, XON, XOFF and 0xFF.
    cfmakeraw(&settings);
    settings.c_iflag &= ~(IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | PARMRK | ISTRIP);
    settings.c_cflag &= ~(CRTSCTS | HUPCL | PARENB | CSTOPB | CSIZE);
    settings.c_cflag |= CLOCAL | CREAD | CS8;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        ioctl(fd, TIOCNXCL);
        close(fd);
        return -1;
    }
    RequestLowLatency(fd);  // echoes and real-time answers pass at once where it works
    // The descriptor stays non-blocking: every transfer waits in poll() with
    // its deadline, and a blocking write could outlast it.
    return fd;
}

bool MeansDeviceGone(int error) {
    return error == EIO || error == ENODEV || error == ENXIO;
}

}  // namespace

int SerialPort::Open(const std::string& path) {
    Close();
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return -2;
    int fd = OpenDevice(path);
    if (fd < 0) {
        close(wake);
        return -2;
    }
    fd_ = fd;
    wakeFd_ = wake;
    path_ = path;
    baud_ = 0;
    lost_ = false;
    return 0;
}

int SerialPort::Reopen() {
    if (path_.empty() || wakeFd_ < 0) return -2;
    int fd = OpenDevice(path_);
    if (fd < 0) return -2;
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
    aheadBegin_ = aheadEnd_ = 0;
    if (baud_ > 0) {
        int rc = SetBaudRate(baud_);
        if (rc != 0) {
            MarkLost();
            return rc;
        }
    }
    lost_ = false;
    return 0;
}

void SerialPort::Close() {
    aheadBegin_ = aheadEnd_ = 0;
    if (fd_ >= 0) {
        ioctl(fd_, TIOCNXCL);
        close(fd_);
        fd_ = -1;
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
        wakeFd_ = -1;
    }
    path_.clear();
    baud_ = 0;
    lost_ = false;
}

void SerialPort::MarkLost() {
    lost_ = true;
    aheadBegin_ = aheadEnd_ = 0;
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

void SerialPort::NoteError(int error) {
    if (MeansDeviceGone(error)) MarkLost();
}

bool SerialPort::CheckLost() {
    if (fd_ >= 0) {
        pollfd device{fd_, 0, 0};
        if (poll(&device, 1, 0) > 0 && (device.revents & (POLLHUP | POLLERR | POLLNVAL)))
            MarkLost();
    }
    return lost_;
}

int SerialPort::SetBaudRate(int baud) {
    if (fd_ < 0) return -3;
    const int before = ReadBaudRate(fd_);
    int rc = ApplyBaudRate(baud);
    if (rc == 0 && !RateTaken(baud, ReadBaudRate(fd_))) {
        // The adapter runs at a rate of its own instead: back to the rate of
        // before, so that nothing goes out at a wrong one.
        if (before > 0) ApplyBaudRate(before);
        rc = -4;
    }
    if (rc == 0) baud_ = baud;
    return rc;
}

// Sets the rate without looking at what the device made of it.
int SerialPort::ApplyBaudRate(int baud) {
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0) {
        NoteError(errno);
        return -3;
    }
    speed_t speed = StandardSpeed(baud);
    if (speed == B0) {
        errno = 0;
        int rc = SetAnyBaudRate(fd_, baud);
        if (rc != 0) NoteError(errno);
        return rc;
    }
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CIBAUD);
    settings.c_cflag |= CS8;
    if (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0 ||
        tcsetattr(fd_, TCSANOW, &settings) != 0) {
        NoteError(errno);
        return -4;
    }
    return 0;
}

int SerialPort::BaudRate() const {
    return fd_ < 0 ? -1 : ReadBaudRate(fd_);
}

int SerialPort::SetTimeouts(int readInterval, int readMultiplier, int readConstant,
                            int writeMultiplier, int writeConstant) {
    if (fd_ < 0) return -5;
    readInterval_ = static_cast<uint32_t>(readInterval);
    readMultiplier_ = static_cast<uint32_t>(readMultiplier);
    readConstant_ = static_cast<uint32_t>(readConstant);
    writeMultiplier_ = static_cast<uint32_t>(writeMultiplier);
    writeConstant_ = static_cast<uint32_t>(writeConstant);
    return 0;
}

bool SerialPort::Purge() {
    aheadBegin_ = aheadEnd_ = 0;
    if (fd_ < 0) return false;
    if (tcflush(fd_, TCIOFLUSH) == 0) return true;
    NoteError(errno);
    return false;
}

// Moves up to `count` bytes read ahead into `buffer`; returns how many.
int SerialPort::TakeAhead(unsigned char* buffer, int count) {
    int n = std::min(count, aheadEnd_ - aheadBegin_);
    if (n > 0) std::memcpy(buffer, ahead_.data() + aheadBegin_, static_cast<size_t>(n));
    aheadBegin_ += n;
    return n;
}

// Waits until the port is ready for `events` or `deadline` passes.
// 1 ready, 0 time-out, -1 hang-up, error or interrupt.
int SerialPort::WaitReady(short events, int64_t deadline) {
    for (;;) {
        pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
        int n = poll(fds, 2, PollTimeout(deadline));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) return 0;
        if (fds[1].revents != 0) return -1;
        if (fds[0].revents & events) return 1;  // data first; a hang-up shows on the read
        MarkLost();                             // POLLHUP, POLLERR, POLLNVAL
        return -1;
    }
}

int SerialPort::Read(unsigned char* buffer, int count) {
    if (fd_ < 0 || count < 0) return -9;
    // An all-ones interval with no total time-out: take what is there, no wait.
    bool noWait = readInterval_ == UINT32_MAX && readMultiplier_ == 0 && readConstant_ == 0;
    int64_t deadline = noWait ? 0 : TransferDeadline(readConstant_, readMultiplier_, count);
    int got = TakeAhead(buffer, count);
    while (got < count) {
        int64_t due = deadline;
        if (got > 0 && readInterval_ != 0 && readInterval_ != UINT32_MAX) {
            int64_t gapEnd = NowMs() + readInterval_;
            if (due == kNoDeadline || gapEnd < due) due = gapEnd;
        }
        if (noWait) due = 0;
        int ready = WaitReady(POLLIN, due);
        if (ready <= 0) return -9;
        ssize_t n = read(fd_, ahead_.data(), ahead_.size());
        if (n > 0) {
            aheadBegin_ = 0;
            aheadEnd_ = static_cast<int>(n);
            got += TakeAhead(buffer + got, count - got);
        } else if (n == 0) {
            MarkLost();  // end of file: the line hung up
            return -9;
        } else if (errno != EAGAIN && errno != EINTR) {
            NoteError(errno);
            return -9;
        }
    }
    return 0;
}

int SerialPort::Write(const unsigned char* buffer, int count) {
    if (fd_ < 0 || count < 0) return -8;
    int64_t deadline = TransferDeadline(writeConstant_, writeMultiplier_, count);
    int sent = 0;
    while (sent < count) {
        // The line takes the bytes at once nearly always: wait only when it
        // cannot.
        ssize_t n = write(fd_, buffer + sent, static_cast<size_t>(count - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
        } else if (n < 0 && errno == EAGAIN) {
            if (WaitReady(POLLOUT, deadline) <= 0) return -8;
        } else if (n == 0) {
            return -8;
        } else if (errno != EINTR) {
            NoteError(errno);
            return -8;
        }
    }
    return 0;
}

bool SerialPort::Pause(int ms) {
    int64_t deadline = NowMs() + (ms > 0 ? ms : 0);
    for (;;) {
        int left = PollTimeout(deadline);
        if (wakeFd_ >= 0) {
            pollfd wake{wakeFd_, POLLIN, 0};
            int n = poll(&wake, 1, left);
            if (n > 0) return false;
            if (n == 0) return true;
            if (errno != EINTR) return true;
        } else {
            if (left <= 0) return true;
            timespec pause{left / 1000, (left % 1000) * 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
}

void SerialPort::Interrupt() {
    if (wakeFd_ >= 0) {
        uint64_t one = 1;
        ssize_t ignored = write(wakeFd_, &one, sizeof one);
        (void)ignored;
    }
}

void SerialPort::ClearInterrupt() {
    if (wakeFd_ >= 0) {
        uint64_t value = 0;
        ssize_t ignored = read(wakeFd_, &value, sizeof value);
        (void)ignored;
    }
}

}  // namespace zhand::detail
