// The structured record of test runs: what a run is, and the facts recorded
// while it runs. Every fact names its run by the run's uuid, so a fact can be
// stored, set aside and stored later, or shipped to another store, without
// knowing any store's own row numbers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace results {

// Outcomes of a run as stored.
inline constexpr const char* kRunning = "running";
inline constexpr const char* kPass = "pass";
inline constexpr const char* kFail = "fail";
inline constexpr const char* kAborted = "aborted";
inline constexpr const char* kError = "error";
inline constexpr const char* kInterrupted = "interrupted";

// A run begins: who, what, where, when.
struct RunStart {
    std::string uuid;      // unique across stations
    std::string station;   // ZHAND_STATION, else the host name
    std::string software;  // the station's version
    std::string serial;    // the hand's serial number
    std::string operatorInitials;
    std::string test;      // the name in the test table
    int cyclesPlanned = 0;
    std::string started;   // ISO-8601 UTC with milliseconds
    std::string logFile;   // the text log's file name
};

// One number the run wrote to its log, or one position check.
struct Measurement {
    std::string run;  // RunStart::uuid
    int seq = 0;      // order within the run, shared with events
    std::string name;
    double value = 0;
    std::optional<std::string> unit;
    std::optional<double> low;
    std::optional<double> high;
    std::optional<std::string> outcome;  // "pass" / "fail" where there is a limit
    std::optional<int> cycle;
};

// A fault line of the log, or an operator's answer that decides a result.
struct Event {
    std::string run;
    int seq = 0;
    std::string at;  // ISO-8601 UTC with milliseconds
    std::optional<int> cycle;
    std::optional<std::string> motor;  // "F1", "F2", "F3", "Spread"
    std::string kind;                  // "JAMMED OPEN", "NO POSITION READING", ...
    std::string text;                  // the log line as written, without its line end
};

// The run has got this far.
struct RunProgress {
    std::string run;
    int cyclesDone = 0;
    int errors = 0;
};

// The run is over.
struct RunEnd {
    std::string run;
    std::string ended;
    std::string outcome;  // kPass, kFail, kAborted, kError
    int cyclesDone = 0;
    int errors = 0;
};

// The station is there (results/heartbeat.h): at `seen` it was `state`
// ("testing" with `run` open, or "idle" at its form). Stores keep the latest
// beat of each station only.
struct StationBeat {
    std::string station;  // filled in by the journal
    std::string seen;     // ISO-8601 UTC with milliseconds
    std::string state;
    std::string run;      // the open run's uuid, "" when idle
};

using Entry = std::variant<RunStart, Measurement, Event, RunProgress, RunEnd, StationBeat>;

// The run an entry belongs to.
const std::string& RunOf(const Entry& entry);

// One entry as one line of JSON (no line end), and back. FromJson gives
// nullopt for a line that is not such an entry.
std::string ToJson(const Entry& entry);
std::optional<Entry> FromJson(std::string_view line);

// "pass" when value lies within [low, high] (a missing bound does not
// limit), else "fail"; nullopt when there is no bound at all.
std::optional<std::string> Verdict(double value, std::optional<double> low,
                                   std::optional<double> high);

}  // namespace results
