// Alarms for the stations board: a station whose latest values of a
// measurement break a run rule (against the line's centre and within
// sigma), or whose first-pass yield over its last 50 first runs falls 10
// points below the line's. Read from what the store keeps; the board calls
// this at its own pace.
#pragma once

#include <string>
#include <vector>

#include "results_reader.h"

namespace report {

struct StationAlarm {
    std::string station;
    std::string reason;  // one line, e.g. "F2 closed: rule 1 (...) in run UUID, cycle 12"
};

inline constexpr int kAlarmRuns = 50;            // a station's latest first runs
inline constexpr double kAlarmYieldPoints = 10;  // below the line's yield
inline constexpr int kAlarmMinimumRuns = 10;     // fewer say nothing yet

// The stations with an alarm, each reason once, by station; false with
// *error when the store could not be read.
bool StationAlarms(results::ResultsReader& store, std::vector<StationAlarm>* alarms,
                   std::string* error);

}  // namespace report
