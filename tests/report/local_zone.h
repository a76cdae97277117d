// Tests that read or write the station's local time text run in one fixed
// zone east of UTC, so a wrong conversion shows as an hour's difference.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

class LocalZone : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
};

// Seconds since the epoch of a UTC date and time.
inline std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}
