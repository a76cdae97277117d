// A line of stations for the end-to-end tests: zhand-station in tmux
// against its own zhand-sim, recording to the PostgreSQL server the test
// started, and the records of one station as a store holds them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "results_reader.h"
#include "tmux_station.h"

namespace line {

using namespace std::chrono_literals;

// Field 7 of the form holds the cycle count of Multi-Axis.
constexpr int kMultiAxisField = 7;

// Starts a station named `name` that records to `uri`, and its hand.
inline bool StartStation(TmuxStation& station, const std::string& name, const std::string& uri,
                         const std::vector<std::string>& faults) {
    std::vector<std::string> simulator = {"--speed", "20"};
    for (const std::string& fault : faults) simulator.insert(simulator.end(), {"--fault", fault});
    return station.StartSimulator(simulator) &&
           station.StartStation({"ZHAND_RESULTS=" + uri, "ZHAND_STATION=" + name}) &&
           station.ConnectAndWaitForForm();
}

// Sets Multi-Axis to `cycles` and runs it, the form being at field `at`
// (1 when it starts; a test leaves it at the test's field).
inline void RunMultiAxis(TmuxStation& station, int cycles, int at = 1) {
    for (int f = at; f < kMultiAxisField; ++f) station.Key("Tab");
    station.Type(std::to_string(cycles));
    station.Key("C-r");
}

// Row `row` of the screen as tmux shows it (blanks that end it dropped).
inline std::string Row(TmuxStation& station, int row) {
    std::istringstream screen(station.Screen());
    std::string line;
    for (int r = 0; std::getline(screen, line); ++r)
        if (r == row) return line;
    return "";
}

// The cycle the status line shows, or 0.
inline int CycleShown(TmuxStation& station) {
    static const std::regex status(R"(Cycle (\d+) of \d+,)");
    std::smatch match;
    const std::string screen = station.Screen();
    return std::regex_search(screen, match, status) ? std::stoi(match.str(1)) : 0;
}

inline bool WaitForCycle(TmuxStation& station, int least, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (CycleShown(station) < least) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// Waits until row 21 satisfies `holds`.
template <typename Holds>
bool WaitForRow21(TmuxStation& station, Holds holds, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!holds(Row(station, 21))) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// Every run, measurement and event of `station` in a store, each a row of
// text, in one order whatever the store's own row numbers are.
struct Records {
    results::Rows runs, measurements, events;
    bool operator==(const Records&) const = default;
};

inline Records ReadRecords(results::ResultsReader& store, const std::string& station) {
    const std::vector<std::optional<std::string>> params = {station};
    Records records;
    std::string error;
    EXPECT_TRUE(store.Query(
        "SELECT uuid, station, software, serial, operator, test, cycles_planned, cycles_done,"
        " started, ended, outcome, errors, log_file FROM runs WHERE station = $1 ORDER BY uuid",
        params, &records.runs, &error))
        << error;
    EXPECT_TRUE(store.Query(
        "SELECT r.uuid, m.seq, m.name, m.value, m.unit, m.low, m.high, m.outcome, m.cycle"
        " FROM measurements m JOIN runs r ON r.id = m.run_id WHERE r.station = $1"
        " ORDER BY r.uuid, m.seq",
        params, &records.measurements, &error))
        << error;
    EXPECT_TRUE(
        store.Query("SELECT r.uuid, e.seq, e.at, e.cycle, e.motor, e.kind, e.text FROM events e"
                    " JOIN runs r ON r.id = e.run_id WHERE r.station = $1 ORDER BY r.uuid, e.seq",
                    params, &records.events, &error))
        << error;
    return records;
}

}  // namespace line
