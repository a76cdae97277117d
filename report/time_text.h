// The station's time text ("Thu Dec 10 09:53:12 2026": weekday, month, day
// with a leading zero, 24-hour time, year, in the C locale) read back, and
// times as the store keeps them (ISO-8601 UTC with milliseconds).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace report {

// The local time a time text names, as seconds since the epoch (the local
// time zone of this process, as the station wrote it); nullopt when the
// text is not a time text. The weekday must match the date.
std::optional<std::time_t> ParseTimeText(std::string_view text);

// "2026-12-10T09:53:12.000Z" for whole seconds.
std::string IsoUtc(std::time_t when);

// A date or time given on the command line, "YYYY-MM-DD" or
// "YYYY-MM-DDTHH:MM[:SS[.mmm]][Z]" (UTC, as the store keeps times), as the
// store's text for comparing with `started`; nullopt when it is neither.
// `endOfDay` makes a bare date name the last moment of that day.
std::optional<std::string> StoreTimeFromArgument(std::string_view text, bool endOfDay = false);

}  // namespace report
