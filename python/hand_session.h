// One ZHand as Python holds it: opened on a port number or a device path,
// closed on request, and used by one caller at a time. Every use takes the
// session's lock, so a Python thread that closes the port cannot pull the
// hand away from another one's exchange; after Close every use gets -15.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "zhand.h"

namespace zhandpy {

class HandSession {
  public:
    // The priority the station gives the I/O thread.
    static constexpr int kStationPriority = 15;

    HandSession() = default;
    HandSession(const HandSession&) = delete;
    HandSession& operator=(const HandSession&) = delete;

    // Opens port 1..9 as the station does (./COMn, else /dev/ttyS<n-1>), in
    // synchronous mode without a time limit, then resets the hand when
    // `reset`. 0, or the first failing code (the session is then closed).
    int OpenPort(int port, int priority, bool reset);
    // The same for the device at `path`.
    int OpenDevice(const std::string& path, int priority, bool reset);
    // Lets go of the port and the I/O thread; waits for a use in progress.
    void Close();

    // The lock every use holds, and the hand while the session is open.
    std::mutex& Lock() { return mutex_; }
    ZHand* Hand() { return hand_.get(); }

  private:
    template <class Open>
    int Start(Open open, bool reset);

    std::mutex mutex_;
    std::unique_ptr<ZHand> hand_;
};

// How many integers ZHand::GetParameters takes from `reply`: the leading
// whitespace-separated integers, as it reads them.
int CountIntegers(std::string_view reply);

}  // namespace zhandpy
