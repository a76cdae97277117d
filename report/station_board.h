// What every station is doing now, as the store last heard it: the latest
// run of each station, how far it has got and its last fault.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "results_reader.h"

namespace report {

struct StationNow {
    std::string station;
    std::string test;
    std::string serial;
    std::string outcome;  // "running" while the test runs
    std::string started;
    std::optional<std::string> ended;
    int cycle = 0;   // the cycle under way while running, else the cycles done
    int cycles = 0;  // planned
    int errors = 0;
    std::optional<std::string> lastFault;  // the log line of the run's last fault
};

// The stations in name order; false with *error when the store could not be
// read.
bool ReadStations(results::ResultsReader& store, std::vector<StationNow>* stations,
                  std::string* error);

// The board as the stations page takes it: {"stations": [...]} with each
// station's fields under the names above.
nlohmann::json StationsJson(const std::vector<StationNow>& stations);

}  // namespace report
