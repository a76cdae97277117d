// Names and times for runs: a random version-4 uuid and the current UTC time
// as ISO-8601 text with milliseconds ("2026-12-10T09:53:12.345Z").
#pragma once

#include <chrono>
#include <string>

namespace results {

std::string NewRunUuid();
std::string NowIso();
std::string IsoTime(std::chrono::system_clock::time_point when);

}  // namespace results
