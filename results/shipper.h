// The shipper: a thread of its own, with its own connection to the local
// store, that copies the outbox to the shared server in the order it was
// stored, a batch at a time, and removes what it shipped only after the
// server committed it. The station's thread only nudges it and reads its
// one line of trouble, so a server that is down, slow or out of reach never
// slows a test; the shipper tries again with a growing pause and catches up
// when the server is back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace results {

class PostgresStore;

struct ShipperOptions {
    std::string local;      // the local store's file
    std::string server;     // the server's connection URI
    std::string station;    // the station's name, which its login should be
    int batch = 1000;       // facts per shipment at most
    int lingerMs = 100;     // after a part batch, time for more to gather
    int retryMinMs = 250;   // first pause after a failure, doubled up to
    int retryMaxMs = 5000;  // this
    int timeoutMs = 10000;  // to connect, and for each statement
};

class Shipper {
  public:
    explicit Shipper(ShipperOptions options);
    // Stops at once, also in the middle of a shipment; what is left stays in
    // the outbox for the next start.
    ~Shipper();
    Shipper(const Shipper&) = delete;
    Shipper& operator=(const Shipper&) = delete;

    // Something new is in the outbox.
    void Nudge();

    // One line while the server cannot be reached or refuses what is
    // shipped, and until the outbox has caught up after that; "" otherwise.
    std::string Problem() const;
    // Changes whenever Problem() does.
    std::uint64_t ProblemVersion() const;

    // Waits up to `timeout` until a look at the outbox that began after this
    // call found it empty: everything stored before has been shipped.
    bool WaitUntilShipped(std::chrono::milliseconds timeout);

    // The local file has left its path (the journal found another file, or
    // none, there): the shipper lets go of its connection to it as soon as
    // it is between steps, and opens the path afresh only after that.
    void ReleaseLocal();
    // Whether it has let go since the last ReleaseLocal().
    bool LocalReleased() const;

    // Facts the server has committed since the start.
    std::uint64_t Shipped() const;

  private:
    void Run();
    // Sleeps up to `ms`, or until stopped (or nudged, when `nudgeable`).
    void Pause(int ms, bool nudgeable);
    void SetProblem(std::string text);
    void CaughtUp(std::uint64_t look);
    // Connects to the server and checks its schema and the login (a login
    // that is not the station's becomes the notice); nullptr with the line
    // for row 21 when it cannot be used now.
    std::unique_ptr<PostgresStore> Connect(std::string* line, bool* unreachable);
    // What stands on row 21 while nothing worse does ("" for nothing):
    // a login that is not the station's, a server without this schema.
    std::string Notice() const;
    void SetNotice(std::string text);
    // The line for a server that refused a shipment.
    std::string Refusal(const std::string& why) const;

    ShipperOptions options_;
    std::string address_;
    int cancel_[2] = {-1, -1};  // written to stop waits on the server
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable shipped_;
    bool stop_ = false;
    bool nudged_ = false;
    bool releaseAsked_ = false;
    bool released_ = true;
    std::string problem_;
    // Shown whenever nothing worse is (Notice()).
    std::string notice_;
    std::uint64_t problemVersion_ = 0;
    std::uint64_t looks_ = 0;      // looks at the outbox begun
    std::uint64_t emptyLook_ = 0;  // the last look that found it empty
    std::uint64_t count_ = 0;
    std::thread thread_;
};

}  // namespace results
