// Reading the store: runs, their measurements and events, for a selection
// of runs. Rows come in the store's column names; nothing here writes. The
// same queries serve the local file and the shared server.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "results_reader.h"

namespace report {

// Which runs a command looks at; an empty field selects all.
struct Selection {
    std::optional<std::string> serial;
    std::optional<std::string> test;
    std::optional<std::string> since;  // store time text: started >= since
    std::optional<std::string> until;  // store time text: started <= until
    std::optional<std::string> station;
    // Measurements of this name only (stats); runs are not narrowed by it.
    std::optional<std::string> name;
};

struct RunRow {
    long long id = 0;
    std::string uuid;
    std::string station;
    std::string software;
    std::string serial;
    std::string operatorInitials;
    std::string test;
    int cyclesPlanned = 0;
    int cyclesDone = 0;
    std::string started;
    std::optional<std::string> ended;
    std::string outcome;
    int errors = 0;
    std::string logFile;
};

struct MeasurementRow {
    long long runId = 0;
    int seq = 0;
    std::string name;
    double value = 0;
    std::optional<std::string> unit;
    std::optional<double> low;
    std::optional<double> high;
    std::optional<std::string> outcome;
    std::optional<int> cycle;
};

struct EventRow {
    long long runId = 0;
    int seq = 0;
    std::string at;
    std::optional<int> cycle;
    std::optional<std::string> motor;
    std::string kind;
    std::string text;
};

// A unit's first run of a test that the station finished (the first-pass
// yield counts these): a run the station itself could not finish (error,
// interrupted) says nothing of the hand and is passed over.
struct FirstRun {
    std::string serial;
    std::string test;
    std::string started;
    std::string outcome;
    std::string station;
};

using Params = std::vector<std::optional<std::string>>;

// " WHERE ..." over the runs table (alias r) for the selection ("" for all
// runs), its values appended to `values` as $n, $n+1, ...
std::string SelectionWhere(const Selection& selection, Params* values);

// Each call streams its rows to `row` (the object is reused between rows)
// and returns false with *error set when the store could not be read.
class StoreReader {
  public:
    explicit StoreReader(results::ResultsReader& store) : store_(store) {}

    results::ResultsReader& Store() { return store_; }

    // Selected runs, oldest first.
    bool Runs(const Selection& selection, const std::function<void(const RunRow&)>& row,
              std::string* error);
    // Measurements of the selected runs, in no particular order.
    bool Measurements(const Selection& selection,
                      const std::function<void(const MeasurementRow&)>& row, std::string* error);
    // Events of the selected runs, in no particular order.
    bool Events(const Selection& selection, const std::function<void(const EventRow&)>& row,
                std::string* error);
    // One run's measurements and events, in their order.
    bool MeasurementsOfRun(long long runId, const std::function<void(const MeasurementRow&)>& row,
                           std::string* error);
    bool EventsOfRun(long long runId, const std::function<void(const EventRow&)>& row,
                     std::string* error);
    // The first run of every unit and test among the runs of `serial` (all
    // units when empty), whatever the other fields of `selection` say.
    bool FirstRuns(const std::optional<std::string>& serial,
                   const std::function<void(const FirstRun&)>& row, std::string* error);

  private:
    results::ResultsReader& store_;
};

}  // namespace report
