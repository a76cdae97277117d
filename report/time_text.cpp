#include "time_text.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace report {

namespace {

constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool Digits(std::string_view text, std::size_t at, std::size_t count, int* value) {
    if (at + count > text.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

int IndexOf(std::string_view word, const auto& names) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == word) return static_cast<int>(i);
    return -1;
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDaysIn[month - 1];
}

// Day of the week (0 = Sunday) of a date of the Gregorian calendar.
int Weekday(int year, int month, int day) {
    static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

}  // namespace

std::optional<std::time_t> ParseTimeText(std::string_view text) {
    // "Www Mmm dd hh:mm:ss yyyy": 24 characters.
    if (text.size() != 24 || text[3] != ' ' || text[7] != ' ' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':' || text[19] != ' ')
        return std::nullopt;
    const int weekday = IndexOf(text.substr(0, 3), kDays);
    const int month = IndexOf(text.substr(4, 3), kMonths) + 1;
    int day = 0, hour = 0, minute = 0, second = 0, year = 0;
    if (weekday < 0 || month < 1 || !Digits(text, 8, 2, &day) || !Digits(text, 11, 2, &hour) ||
        !Digits(text, 14, 2, &minute) || !Digits(text, 17, 2, &second) ||
        !Digits(text, 20, 4, &year))
        return std::nullopt;
    if (year < 1970 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 60 || Weekday(year, month, day) != weekday)
        return std::nullopt;
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) return std::nullopt;
    return when;
}

std::string IsoUtc(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::optional<std::string> StoreTimeFromArgument(std::string_view text, bool endOfDay) {
    int year = 0, month = 0, day = 0;
    if (!Digits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) || month < 1 || month > 12 ||
        day < 1 || day > DaysInMonth(year, month))
        return std::nullopt;
    int hour = endOfDay ? 23 : 0, minute = endOfDay ? 59 : 0, second = endOfDay ? 59 : 0;
    int millis = endOfDay ? 999 : 0;
    std::string_view rest = text.substr(10);
    if (!rest.empty()) {
        if (rest.size() < 6 || rest[0] != 'T' || rest[3] != ':' || !Digits(rest, 1, 2, &hour) ||
            !Digits(rest, 4, 2, &minute) || hour > 23 || minute > 59)
            return std::nullopt;
        second = 0;
        millis = 0;
        rest.remove_prefix(6);
        if (!rest.empty() && rest[0] == ':') {
            if (!Digits(rest, 1, 2, &second) || second > 60) return std::nullopt;
            rest.remove_prefix(3);
            if (!rest.empty() && rest[0] == '.') {
                if (!Digits(rest, 1, 3, &millis)) return std::nullopt;
                rest.remove_prefix(4);
            }
        }
        if (rest == "Z") rest.remove_prefix(1);
        if (!rest.empty()) return std::nullopt;
    }
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day, hour,
                  minute, second, millis);
    return std::string(out);
}

}  // namespace report
