// The figures of each measurement name over a selection, read from what the
// store keeps of all its values (never the values themselves), or worked out
// from the rows of a selection the store keeps no figures for (one unit's
// runs, times within a day).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "reader.h"

namespace report {

// The sums of one name's values: what the store keeps per name, test,
// station and day, added up.
struct NameFigures {
    std::string name;
    std::optional<std::string> unit;
    long long count = 0;
    double total = 0;
    double squares = 0;
    double least = 0;
    double most = 0;
    long long outOfSpec = 0;  // outside the limits the value itself came with
    long long ranges = 0;     // moving ranges within each station's stream
    double rangeTotal = 0;
    std::optional<double> low;  // the latest limits given
    std::optional<double> high;
    long long limitsRun = -1;                        // the run they came with
    std::vector<std::pair<double, long long>> bins;  // lower edge (4 digits), count
};

// The selection answered from the kept figures: whole UTC days, no unit.
bool KeptFiguresServe(const Selection& selection);

// One entry per name, by name. From the kept figures when they serve the
// selection, else from the selected rows. Bins are taken per day, of every
// test and station.
bool ReadFigures(results::ResultsReader& store, const Selection& selection,
                 std::vector<NameFigures>* figures, std::string* error);

// One of the latest values of a name, oldest first.
struct LatestValue {
    double value = 0;
    std::string run;  // uuid
    std::string serial;
    std::string station;
    std::string started;
    std::optional<int> cycle;
};

// The name's latest values (at most results::kLatestValues) that fall in the
// selection, from the kept ring of the line's latest values, or from the
// selected rows.
bool ReadLatest(results::ResultsReader& store, const Selection& selection, const std::string& name,
                std::vector<LatestValue>* values, std::string* error);

}  // namespace report
