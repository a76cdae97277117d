// The names the record gives to what a test log says: kinds of events,
// measurements, units and motors. The station records its runs under these
// names and the import of text logs reads the same runs back under them, so a
// run looks alike in the store whichever way it came in. The rule: a name is
// the log's own words where the log has words for the fact (a fault line's
// fault words, the end of a Parameter Check line), so that a person who
// knows the logs finds the same words in the store.
#pragma once

#include <string>

namespace results {

// Motors as the record names them: "F1".."F3" and "Spread" for M1..M4.
inline std::string MotorName(int motor) {
    return motor == 4 ? "Spread" : "F" + std::to_string(motor);
}

// Units of measurements.
inline constexpr const char* kCounts = "counts";  // encoder positions
inline constexpr const char* kSeconds = "s";
inline constexpr const char* kCelsius = "C";

// Measurements whose name is a figure of the log rather than a table cell
// ("<row> <column>", e.g. "F1 Clse20", "M1 Init", "M3 MCV").
inline constexpr const char* kMaximumTemperature = "Maximum temperature";
inline constexpr const char* kMinimumVelocity = "Minimum velocity";

// A position check that could not read the position (the other position
// faults are named by their limits, "JAMMED OPEN", "NO BREAKAWAY", ...).
inline constexpr const char* kNoPositionReading = "NO POSITION READING";

// The hand stopped the run: its line was lost, or it no longer answered
// ("LINK TO HAND LOST in cycle 3 at ..."). The event names no motor, and it
// is no error of the hand's: the run ends as an error.
inline constexpr const char* kLinkLost = "LINK TO HAND LOST";
inline constexpr const char* kHandNotResponding = "HAND NOT RESPONDING";

// Fingerprint: a finger that did not reach its end in a speed trial,
// "F1 failed to fully close at V=20".
inline constexpr const char* kFailedToClose = "failed to fully close";
inline constexpr const char* kFailedToOpen = "failed to fully open";

// Finger Movement: the technician saw the motor move (the log keeps no line
// for it), or did not and the test failed, "TEST FAILED: M3 IS NOT
// FUNCTIONING PROPERLY!".
inline constexpr const char* kMotorSeen = "MOTOR SEEN";
inline constexpr const char* kNotFunctioning = "NOT FUNCTIONING PROPERLY";

// Parameter Check: the technician's word on a difference, as its log line
// ends ("... but should be 90. -Fixed."), and the lines about the defaults
// file and the hand's lists.
inline constexpr const char* kFixed = "Fixed";
inline constexpr const char* kNotFixed = "User chose not to fix";
inline constexpr const char* kCannotFix = "Can not fix";
inline constexpr const char* kNotFoundInHand = "not found in hand";
inline constexpr const char* kNoValuesInHand = "has no values in hand";
inline constexpr const char* kBadRecord = "bad record";
inline constexpr const char* kNoDefaultsFile = "Could not open preferences file";

}  // namespace results
