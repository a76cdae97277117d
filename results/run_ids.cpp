#include "run_ids.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>

#include <sys/random.h>

namespace results {

std::string NewRunUuid() {
    // Sixteen bytes from the kernel for every run: a generator state kept in
    // the process would be copied into every child a station forks, and the
    // children would draw the same uuids.
    std::uint64_t words[2] = {};
    if (getrandom(words, sizeof words, 0) != static_cast<ssize_t>(sizeof words)) {
        std::random_device device;
        for (auto& word : words) word = (std::uint64_t{device()} << 32) ^ device();
    }
    std::uint64_t high = words[0];
    std::uint64_t low = words[1];
    high = (high & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000004000ull;  // version 4
    low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;    // variant 1
    char text[37];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

std::string IsoTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

std::string NowIso() {
    return IsoTime(std::chrono::system_clock::now());
}

}  // namespace results
