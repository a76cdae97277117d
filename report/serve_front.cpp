#include "serve_front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace report {

namespace {

using Clock = std::chrono::steady_clock;

// After the head, a read (there is no body to read) waits this long.
constexpr auto kLaterRead = std::chrono::seconds(1);
constexpr const char kBusy[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nRetry-After: 5\r\n"
    "Connection: close\r\n\r\n";

int Left(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

// Waits for `events` on `fd` until `deadline`; false when it passed or the
// connection broke.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, Left(deadline));
        if (n < 0 && errno == EINTR) continue;
        // Ready, or broken: the read or write that follows tells which.
        return n > 0;
    }
}

std::string Address(const sockaddr_storage& address, int* port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
        *port = ntohs(a.sin6_port);
    } else {
        const auto& a = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        *port = ntohs(a.sin_port);
    }
    return text;
}

// One connection, plain or TLS, as cpp-httplib reads and writes it.
class BoundedStream : public httplib::Stream {
  public:
    BoundedStream(int fd, SSL* ssl, const FrontLimits& limits, Clock::time_point accepted)
        : fd_(fd), ssl_(ssl), limits_(limits), headDeadline_(accepted + limits.headTime) {}

    void HeadRead() { headRead_ = true; }

    bool Gone() const {
        pollfd p{fd_, POLLRDHUP, 0};
        return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }

    bool is_readable() const override {
        return (ssl_ != nullptr && SSL_pending(ssl_) > 0) || WaitFor(fd_, POLLIN, ReadDeadline());
    }
    bool is_writable() const override { return !Gone(); }

    ssize_t read(char* ptr, size_t size) override {
        if (!headRead_) {
            if (received_ >= limits_.headBytes) return -1;  // a head too large
            size = std::min(size, limits_.headBytes - received_);
        }
        const auto deadline = ReadDeadline();
        for (;;) {
            ssize_t n;
            if (ssl_ != nullptr) {
                n = SSL_read(ssl_, ptr, static_cast<int>(std::min<size_t>(size, 1 << 30)));
                if (n <= 0) {
                    const int why = SSL_get_error(ssl_, static_cast<int>(n));
                    if (why == SSL_ERROR_WANT_READ && WaitFor(fd_, POLLIN, deadline)) continue;
                    if (why == SSL_ERROR_WANT_WRITE && WaitFor(fd_, POLLOUT, deadline)) continue;
                    return -1;
                }
            } else {
                n = recv(fd_, ptr, size, 0);
                if (n < 0 && (errno == EAGAIN || errno == EINTR) && WaitFor(fd_, POLLIN, deadline))
                    continue;
                if (n <= 0) return -1;
            }
            received_ += static_cast<std::size_t>(n);
            return n;
        }
    }

    ssize_t write(const char* ptr, size_t size) override {
        std::size_t sent = 0;
        while (sent < size) {
            const auto deadline = Clock::now() + limits_.writeTime;
            ssize_t n;
            if (ssl_ != nullptr) {
                n = SSL_write(ssl_, ptr + sent,
                              static_cast<int>(std::min<size_t>(size - sent, 1 << 30)));
                if (n <= 0) {
                    const int why = SSL_get_error(ssl_, static_cast<int>(n));
                    if (why == SSL_ERROR_WANT_WRITE && WaitFor(fd_, POLLOUT, deadline)) continue;
                    if (why == SSL_ERROR_WANT_READ && WaitFor(fd_, POLLIN, deadline)) continue;
                    return -1;
                }
            } else {
                n = send(fd_, ptr + sent, size - sent, MSG_NOSIGNAL);
                if (n < 0 && (errno == EAGAIN || errno == EINTR) && WaitFor(fd_, POLLOUT, deadline))
                    continue;
                if (n <= 0) return -1;
            }
            sent += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        port = 0;
        ip = getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0
                 ? Address(address, &port)
                 : "";
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        port = 0;
        ip = getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0
                 ? Address(address, &port)
                 : "";
    }
    socket_t socket() const override { return fd_; }

  private:
    Clock::time_point ReadDeadline() const {
        return headRead_ ? Clock::now() + kLaterRead : headDeadline_;
    }

    int fd_;
    SSL* ssl_;
    const FrontLimits& limits_;
    Clock::time_point headDeadline_;
    std::size_t received_ = 0;
    bool headRead_ = false;
};

thread_local BoundedStream* current = nullptr;

// The TLS handshake, within the head's time.
SSL* Handshake(SSL_CTX* context, int fd, Clock::time_point deadline) {
    SSL* ssl = SSL_new(context);
    if (ssl == nullptr) return nullptr;
    SSL_set_fd(ssl, fd);
    for (;;) {
        const int rc = SSL_accept(ssl);
        if (rc == 1) return ssl;
        const int why = SSL_get_error(ssl, rc);
        if ((why == SSL_ERROR_WANT_READ && WaitFor(fd, POLLIN, deadline)) ||
            (why == SSL_ERROR_WANT_WRITE && WaitFor(fd, POLLOUT, deadline)))
            continue;
        ERR_clear_error();
        SSL_free(ssl);
        return nullptr;
    }
}

}  // namespace

Front::Front(Process process, SSL_CTX* tls, FrontLimits limits)
    : process_(std::move(process)), tls_(tls), limits_(limits) {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

Front::~Front() {
    Stop();
    WaitIdle(Clock::now() + std::chrono::seconds(5));
    for (int fd : {listener_, wake_[0], wake_[1]})
        if (fd >= 0) close(fd);
}

bool Front::Listen(const std::string& host, int port, int* bound, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        *error = host + " is not an address";
        return false;
    }
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // SO_REUSEADDR only: a second serve on the port of a running one is told
    // that it is taken.
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const bool ok =
        fd >= 0 && bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0;
    freeaddrinfo(found);
    if (!ok) {
        *error = std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    Address(address, bound);
    listener_ = fd;
    return true;
}

void Front::Run() {
    for (;;) {
        pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR) return;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        if ((p[0].revents & POLLIN) == 0) continue;
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors: the next look comes a little later.
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        bool full;
        {
            std::lock_guard lock(mutex_);
            full = static_cast<int>(open_.size()) >= limits_.connections;
            if (!full) open_.insert(fd);
        }
        if (full) {
            if (tls_ == nullptr && send(fd, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL) < 0) {
                // The client went already.
            }
            close(fd);
            continue;
        }
        try {
            std::thread([this, fd] { Serve(fd); }).detach();
        } catch (const std::system_error&) {
            Ended(fd);  // no thread to be had: as if the connection were full
        }
    }
}

void Front::Serve(int fd) {
    const auto accepted = Clock::now();
    SSL* ssl = tls_ != nullptr ? Handshake(tls_, fd, accepted + limits_.headTime) : nullptr;
    if (tls_ == nullptr || ssl != nullptr) {
        BoundedStream stream(fd, ssl, limits_, accepted);
        current = &stream;
        process_(stream);
        current = nullptr;
        if (ssl != nullptr) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
    }
    Ended(fd);
}

void Front::Ended(int fd) {
    // What the client still sends (a body refused unread) is not waited
    // for: the answer went first.
    shutdown(fd, SHUT_RDWR);
    // Closed under the lock: the number is not given to a new connection
    // before this one has left the set.
    std::lock_guard lock(mutex_);
    open_.erase(fd);
    close(fd);
    if (open_.empty()) idle_.notify_all();
}

void Front::Stop() {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    if (wake_[1] >= 0 && write(wake_[1], "x", 1) < 0) {
        // Full: a stop is on its way already.
    }
    for (int fd : open_) shutdown(fd, SHUT_RDWR);
}

bool Front::WaitIdle(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return idle_.wait_until(lock, deadline, [&] { return open_.empty(); });
}

void Front::HeadRead() {
    if (current != nullptr) current->HeadRead();
}

bool Front::PeerGone() {
    return current != nullptr && current->Gone();
}

}  // namespace report
