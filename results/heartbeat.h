// The station's heartbeat: while the station program runs, at its form as
// during a test, it records every few seconds that it is there and whether
// a run is open, so that the line's board can tell a station that tests or
// idles from one that is gone. A beat is a fact like the others (through the
// journal into the local store, and through the outbox to the server), but
// it keeps one row per station: the latest beat.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace results {

class Journal;

// States a beat records.
inline constexpr const char* kTesting = "testing";
inline constexpr const char* kIdle = "idle";

class Heartbeat {
  public:
    // Puts a beat into `journal` at once and then every `every`, until
    // destroyed. The journal must have its background writer (Put is then
    // safe from this thread) and outlive the heartbeat.
    Heartbeat(Journal& journal, std::chrono::milliseconds every);
    ~Heartbeat();
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

  private:
    void Run();

    Journal& journal_;
    const std::chrono::milliseconds every_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace results
