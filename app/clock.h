// Time as the station sees it: the millisecond tick, calendar time and the
// 25-character time text. Tests replace the sources through the seam.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Milliseconds from a monotonic clock, wrapping at 32 bits; take differences
// as unsigned.
std::uint32_t TickCount();
// The current calendar time.
std::time_t CurrentTime();
// The local time as "Wed Jun 30 21:49:08 1999\n" (C locale, 25 characters).
std::string TimeText();
