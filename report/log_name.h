// The name of a station's test log: serial number and initials run together,
// the date as yymmdd, an underscore, the day's sequence number, ".txt"
// ("HND123AB240615_2.txt"), and how to split the serial number from the
// initials.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace report {

struct LogName {
    std::string serialAndInitials;  // the part before the date
    int year = 0;                   // 2000 + yy
    int month = 0;
    int day = 0;
    int sequence = 0;
};

// nullopt when `fileName` (no directory) is not such a name.
std::optional<LogName> ParseLogName(std::string_view fileName);

struct Identity {
    std::string serial;
    std::string operatorInitials;
};

// Splits `serialAndInitials`: after `serial` when given (nullopt when the
// text does not begin with it), else after the longest of `knownSerials`
// it begins with, else all of it is the serial number and the initials are
// empty.
std::optional<Identity> SplitIdentity(std::string_view serialAndInitials,
                                      const std::optional<std::string>& serial,
                                      const std::vector<std::string>& knownSerials);

// The serial numbers a Prefs.dat names: its first word and the first word
// of every counter line after the three header words.
std::vector<std::string> SerialsInPrefs(std::string_view prefsText);

}  // namespace report
