#include "clock.h"

#include <time.h>

#include <cstdio>

#include "seams.h"

namespace {

struct FakeClock {
    bool running = false;
    std::time_t start = 0;      // calendar time when started
    std::uint32_t tick = 0;     // current tick
    std::uint64_t elapsed = 0;  // ms since started
};
FakeClock fake;

}  // namespace

std::uint32_t TickCount() {
    if (fake.running) return fake.tick;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                       static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::chrono::system_clock::time_point CurrentTimePoint() {
    using namespace std::chrono;
    if (fake.running) {
        return system_clock::from_time_t(fake.start) +
               milliseconds(static_cast<milliseconds::rep>(fake.elapsed));
    }
    return system_clock::now();
}

// Whole seconds of the same clock: time() may read a coarser clock that
// lags a few milliseconds behind at the turn of a second.
std::time_t CurrentTime() {
    using namespace std::chrono;
    const auto since = CurrentTimePoint().time_since_epoch();
    return static_cast<std::time_t>(duration_cast<seconds>(since).count());
}

std::string TimeText() {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t now = CurrentTime();
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s %2.2d %2.2d:%2.2d:%2.2d %d\n",
                  kDays[(local.tm_wday % 7 + 7) % 7], kMonths[(local.tm_mon % 12 + 12) % 12],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    return text;
}

bool FakeClockRunning() {
    return fake.running;
}

void UseFakeClock(std::time_t now, std::uint32_t tick) {
    fake.running = true;
    fake.start = now;
    fake.tick = tick;
    fake.elapsed = 0;
}

void AdvanceFakeClock(std::uint32_t ms) {
    fake.tick += ms;
    fake.elapsed += ms;
}

void UseRealClock() {
    fake.running = false;
}
