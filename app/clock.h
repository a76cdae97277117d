// Time as the station sees it: the millisecond tick, calendar time and the
// 25-character time text. Tests replace the sources through the seam.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

// Milliseconds from a monotonic clock, wrapping at 32 bits; take differences
// as unsigned.
std::uint32_t TickCount();
// The current calendar time.
std::time_t CurrentTime();
// The same time to the millisecond: CurrentTime is always its whole second,
// so a record stamped with it agrees with the time texts of the log.
std::chrono::system_clock::time_point CurrentTimePoint();
// The local time as "Wed Jun 30 21:49:08 1999\n" (C locale, 25 characters).
std::string TimeText();

// The clock as the station's parts reach it.
class Clock {
  public:
    std::uint32_t TickCount() const { return ::TickCount(); }
    std::time_t CurrentTime() const { return ::CurrentTime(); }
    std::string TimeText() const { return ::TimeText(); }
    // Milliseconds from `since` to now as an unsigned 32-bit difference, so a
    // wrap of the tick counter does not disturb it.
    std::uint32_t TicksSince(std::uint32_t since) const { return ::TickCount() - since; }
};
