// Polling for something another process or thread brings about.
#pragma once

#include <chrono>
#include <thread>

// Polls `done` every `every` until it holds (true) or `limit` has passed
// (false).
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10),
               std::chrono::milliseconds every = std::chrono::milliseconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(every);
    }
    return true;
}
