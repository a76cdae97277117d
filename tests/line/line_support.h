// A line of stations for the end-to-end tests: zhand-station in tmux
// against its own zhand-sim, recording to the PostgreSQL server the test
// started, and the records of one station as a store holds them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
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
    std::vector<std::string> simulator = {"--instant", "--speed", "20"};
    for (const std::string& fault : faults) simulator.insert(simulator.end(), {"--fault", fault});
    return station.StartSimulator(simulator) &&
           station.StartStation(
               {.environment = {"ZHAND_RESULTS=" + uri, "ZHAND_STATION=" + name}, .rows = 25}) &&
           station.ConnectAndWaitForForm();
}

// Sets Multi-Axis to `cycles` and runs it, the form being at field `at`
// (1 when it starts; a test leaves it at the test's field).
inline void RunMultiAxis(TmuxStation& station, int cycles, int at = 1) {
    for (int f = at; f < kMultiAxisField; ++f) station.Keys("Tab");
    station.Type(std::to_string(cycles));
    station.Keys("C-r");
}

// Waits for the end of the run, ends its countdown and waits for the form.
inline void FinishRun(TmuxStation& station) {
    ASSERT_TRUE(station.WaitForText("Test completed with", 90s)) << station.Screen();
    ASSERT_TRUE(station.WaitForText("Press any key to continue", 10s));
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForText(golden::kTitle, 10s)) << station.Screen();
}

// The cycle the status line shows, or 0.
inline int CycleShown(TmuxStation& station) {
    static const std::regex status(R"(Cycle (\d+) of \d+,)");
    std::smatch match;
    const std::string screen = station.Screen();
    return std::regex_search(screen, match, status) ? std::stoi(match.str(1)) : 0;
}

inline bool WaitForCycle(TmuxStation& station, int least, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return CycleShown(station) >= least; }, limit, 50ms);
}

// Waits until row 21 satisfies `holds`.
template <typename Holds>
bool WaitForRow21(TmuxStation& station, Holds holds, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return holds(station.Row(21)); }, limit, 100ms);
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
