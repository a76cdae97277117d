// The front of zhand-report serve: its own accept loop and one thread per
// connection, each connection read and written through a stream that bounds
// it, and cpp-httplib behind it to parse, route and answer the request (its
// TLS context for HTTPS). What the library leaves unbounded is bounded here:
// the bytes and the time a client may take to send its request (the TLS
// handshake included), the time a write may stall, and the connections open
// at once. A slow client or an open live stream holds only its own thread,
// never one that another request waits for.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <set>
#include <string>

namespace report {

// cpp-httplib's servers with their request handling opened to the front.
// The library ends a streamed answer once its own listening socket is gone;
// the front listens instead, so Serving() says whether it does.
template <class Base>
class RoutesOf : public Base {
  public:
    using Base::Base;
    using httplib::Server::process_request;
    void Serving(bool on) { this->svr_sock_ = on ? kServing : INVALID_SOCKET; }

  private:
    // Never a descriptor the library could use: it only compares it.
    static constexpr socket_t kServing = std::numeric_limits<socket_t>::max();
};
using PlainRoutes = RoutesOf<httplib::Server>;
using TlsRoutes = RoutesOf<httplib::SSLServer>;

struct FrontLimits {
    // The request line and headers, as bytes on the wire.
    std::size_t headBytes = 32 * 1024;
    // From the connection's accept to its last header.
    std::chrono::milliseconds headTime{10000};
    // A write that cannot go on for this long ends the connection.
    std::chrono::milliseconds writeTime{10000};
    // Open at once; the next one is closed at once (told 503 over HTTP).
    int connections = 600;
};

class Front {
  public:
    // Answers every request through `process` (a routes' process_request);
    // with `tls` (the routes' SSL context) every connection is HTTPS.
    using Process = std::function<bool(httplib::Stream&)>;
    Front(Process process, SSL_CTX* tls, FrontLimits limits);
    ~Front();
    Front(const Front&) = delete;
    Front& operator=(const Front&) = delete;

    // Binds and listens; *port is the port bound (for port 0 the one the
    // system chose). False with *error when it cannot.
    bool Listen(const std::string& host, int port, int* bound, std::string* error);
    // Accepts until Stop.
    void Run();
    // Stops accepting and ends every connection; returns at once.
    void Stop();
    // Waits until every connection's thread has ended; false at `deadline`.
    bool WaitIdle(std::chrono::steady_clock::time_point deadline);

    // For the routes, on a connection's own thread: the request's head has
    // been read, so the head's limits no longer apply.
    static void HeadRead();
    // Whether the peer of this thread's connection has gone.
    static bool PeerGone();

  private:
    void Serve(int fd);
    void Ended(int fd);

    Process process_;
    SSL_CTX* tls_;
    FrontLimits limits_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable idle_;
    std::set<int> open_;
    bool stopping_ = false;
};

}  // namespace report
