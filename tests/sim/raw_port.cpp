#include "raw_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

namespace zhandsim::test {

bool SetAnyRate(int fd, int baud);  // raw_port_rate.cpp

namespace {

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

RawPort::~RawPort() {
    Close();
}

bool RawPort::Open(const std::string& path) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    tcsetattr(fd_, TCSANOW, &settings);
    return true;
}

void RawPort::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool RawPort::SetRate(int baud) {
    return SetAnyRate(fd_, baud);
}

void RawPort::Purge() {
    tcflush(fd_, TCIOFLUSH);
}

bool RawPort::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd_, bytes.data(), bytes.size());
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::size_t RawPort::Flood(char byte, std::size_t count) {
    const int flags = fcntl(fd_, F_GETFL);
    fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    const std::string chunk(1024, byte);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = write(fd_, chunk.data(), std::min(chunk.size(), count - sent));
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    fcntl(fd_, F_SETFL, flags);
    return sent;
}

std::string RawPort::ReadUntil(std::string_view suffix, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::string text;
    while (!(suffix.size() > 0 && text.ends_with(suffix))) {
        pollfd fd{fd_, POLLIN, 0};
        if (poll(&fd, 1, RemainingMs(deadline)) <= 0 || !(fd.revents & POLLIN)) break;
        char c;
        if (read(fd_, &c, 1) != 1) break;
        text += c;
    }
    return text;
}

std::string RawPort::ReadCount(std::size_t count, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::string text;
    while (text.size() < count) {
        pollfd fd{fd_, POLLIN, 0};
        if (poll(&fd, 1, RemainingMs(deadline)) <= 0 || !(fd.revents & POLLIN)) break;
        char buffer[256];
        const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - text.size()));
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

std::string RawPort::ReadFor(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::string text;
    for (;;) {
        pollfd fd{fd_, POLLIN, 0};
        if (poll(&fd, 1, RemainingMs(deadline)) <= 0 || !(fd.revents & POLLIN)) return text;
        char buffer[4096];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string RawPort::Drain(int quietMs) {
    std::string text;
    for (std::string more; !(more = ReadFor(quietMs)).empty();) text += more;
    return text;
}

bool RawPort::HungUp(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {  // whatever still arrives before the hang-up is read and dropped
        pollfd fd{fd_, POLLIN, 0};
        if (poll(&fd, 1, RemainingMs(deadline)) <= 0) return false;
        if (fd.revents & (POLLHUP | POLLERR)) return true;
        char c;
        if (read(fd_, &c, 1) <= 0) return true;
    }
}

std::string RawPort::Exchange(std::string_view line, int ms) {
    Purge();
    Write(std::string(line) + "\r");
    return ReadUntil("=> ", ms);
}

}  // namespace zhandsim::test
