#include "instant_hand.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

InstantHand::InstantHand() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    std::string pattern = "/tmp/zhand-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temp dir");
    dir_ = pattern;
    if (symlink(ptsname(master_), (dir_ + "/COM1").c_str()) != 0) {
        throw std::runtime_error("no COM1 link");
    }
    thread_ = std::thread(&InstantHand::Run, this);
    pthread_getcpuclockid(thread_.native_handle(), &clock_);
}

InstantHand::~InstantHand() {
    stop_ = true;
    thread_.join();
    close(master_);
    unlink((dir_ + "/COM1").c_str());
    rmdir(dir_.c_str());
}

double InstantHand::CpuMicros() const {
    timespec t{};
    clock_gettime(clock_, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

void InstantHand::Write(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size() && !stop_) {
        ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd out{master_, POLLOUT, 0};
            poll(&out, 1, 10);
        } else {
            return;
        }
    }
}

void InstantHand::Answer(std::string& pending) {
    for (;;) {
        if (realtime_) {
            if (pending.empty()) return;
            if (pending[0] == 'C') {
                if (pending.size() < 4) return;
                pending.erase(0, 4);
                // Per finger: velocity, position high and low, delta position.
                Write(std::string("*\x05\x42\x68\xFE\x05\x10\x00\x01\xFB\x00\x20\x02", 13));
            } else {  // byte 3 (or anything else) leaves the loop
                pending.erase(0, 1);
                realtime_ = false;
                Write("\r\n=> ");
            }
            continue;
        }
        size_t cr = pending.find('\r');
        if (cr == std::string::npos) return;
        std::string line = pending.substr(0, cr);
        pending.erase(0, cr + 1);
        Write(line);  // the echo
        if (line.ends_with("LOOP")) {
            realtime_ = true;
            Write("*");
        } else if (line.find("FGET LCV") != std::string::npos) {
            Write(line[0] == '4' ? "0 0 0 0 0 0\r\n=> " : "1 0 1 0 1 1\r\n=> ");
        } else if (line.find("FGET") != std::string::npos) {
            Write("\r\n12345\r\n=> ");
        } else {
            Write("\r\n=> ");
        }
    }
}

void InstantHand::Run() {
    std::string pending;
    while (!stop_) {
        pollfd in{master_, POLLIN, 0};
        int n = poll(&in, 1, 20);
        if (n <= 0) continue;
        if (!(in.revents & POLLIN)) {
            usleep(1000);  // no host on the line yet
            continue;
        }
        char buffer[512];
        ssize_t got = read(master_, buffer, sizeof buffer);
        if (got > 0) {
            pending.append(buffer, static_cast<size_t>(got));
            Answer(pending);
        }
    }
}
