// What every station is doing now, as the store last heard it: the latest
// run of each station, how far it has got and its last fault, and whether
// the station itself is there (its heartbeat): testing, idle at its form,
// or not seen for longer than kGoneAfter.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "results_reader.h"

namespace report {

// A station whose last beat is older than this is not seen (it beats every
// 10 s).
inline constexpr std::chrono::seconds kGoneAfter{30};

struct StationNow {
    std::string station;
    // "gone" with no beat for kGoneAfter (or none at all); else "testing"
    // while its latest run is running, "idle" when not.
    std::string state;
    std::optional<std::string> seen;  // the last beat, ISO-8601 UTC
    // The latest run; empty test for a station that has beaten but run
    // nothing yet.
    std::string test;
    std::string serial;
    std::string outcome;  // as stored: "running" while the test runs
    std::string started;
    std::optional<std::string> ended;
    int cycle = 0;   // the cycle the station's screen names (see ReadStations)
    int cycles = 0;  // planned
    int errors = 0;
    std::optional<std::string> lastFault;  // the log line of the run's last fault
};

// The stations in name order, their state as of `now`; false with *error
// when the store could not be read. The cycle is the one the station's
// status line shows: while running the one under way; for a run that ended
// inside a cycle (the hand stopped it, a motor not seen) or whose station
// died, the cycle it was in; else the cycles done.
bool ReadStations(results::ResultsReader& store, std::chrono::system_clock::time_point now,
                  std::vector<StationNow>* stations, std::string* error);

// The board as the stations page takes it: {"stations": [...]} with each
// station's fields under the names above.
nlohmann::json StationsJson(const std::vector<StationNow>& stations);

// Seconds since the epoch of the store's ISO-8601 UTC text; nullopt when it
// is none.
std::optional<double> EpochSeconds(const std::string& iso);

}  // namespace report
