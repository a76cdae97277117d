// The scheduling the station asks for its I/O thread (Initialize with
// priority 15: SCHED_FIFO where the process may use it). On a machine shared
// with other work the benchmarks run every host thread in it, the station's
// caller as well as the hosts it is compared with, so that other programs'
// load decides as little as possible and every host meets the same rules.
#pragma once

#include <pthread.h>
#include <sched.h>

constexpr int kStationPriority = 15;                    // what the station gives Initialize
constexpr int kStationFifoPriority = kStationPriority;  // the driver's SCHED_FIFO priority for it

// The calling thread runs in the station's scheduling until the end of the
// scope; where the process may not, it keeps what it had.
class StationScheduling {
  public:
    StationScheduling() {
        pthread_getschedparam(pthread_self(), &policy_, &param_);
        sched_param realtime{};
        realtime.sched_priority = kStationFifoPriority;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
    }
    ~StationScheduling() { pthread_setschedparam(pthread_self(), policy_, &param_); }
    StationScheduling(const StationScheduling&) = delete;
    StationScheduling& operator=(const StationScheduling&) = delete;

  private:
    int policy_ = SCHED_OTHER;
    sched_param param_{};
};
