// What the summary and the HTML report show, worked out from the store:
// runs by day and test and outcome, first-pass yield, each unit's runs and
// plot data, and each measurement across units with its control limits and
// capability. No formatting here.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capability.h"
#include "figures.h"
#include "reader.h"
#include "stats.h"

namespace report {

inline constexpr std::array<std::string_view, 6> kOutcomes = {"pass",  "fail",        "aborted",
                                                              "error", "interrupted", "running"};
// Runs per outcome, in the order of kOutcomes; the last counts any other text.
using OutcomeCounts = std::array<long, kOutcomes.size() + 1>;
std::size_t OutcomeIndex(std::string_view outcome);

// The order of the station's test table; other names follow alphabetically.
bool TestBefore(const std::string& a, const std::string& b);

struct TestTally {
    std::string test;
    long runs = 0;
    OutcomeCounts outcomes{};
    long firstRuns = 0;    // units whose first run of the test is selected and over
    long firstPassed = 0;  // ... and passed
};

// Per test: the selected runs by outcome, and the first-pass yield: of the
// units whose first run of the test started within the selection (and is
// not still running), how many passed it.
std::vector<TestTally> TallyTests(const std::vector<RunRow>& runs,
                                  const std::vector<FirstRun>& firstRuns,
                                  const Selection& selection);

// The eight Fingerprint finger-speed trials and the six encoder figures, as
// the log's columns name them.
inline constexpr std::array<std::string_view, 8> kSpeedTrials = {
    "Clse20", "Open20", "Clse55", "Open55", "Clse75", "Open75", "Clse100", "Open100"};
inline constexpr std::array<int, 4> kSpeedVelocities = {20, 55, 75, 100};
inline constexpr std::array<std::string_view, 6> kEncoderFigures = {
    "MinClse", "AvgClse", "MaxClse", "MinOpen", "AvgOpen", "MaxOpen"};
inline constexpr std::array<int, 6> kStrainForces = {0, 250, 500, 1000, 1500, 2000};

struct UnitReport {
    std::string serial;
    std::vector<std::size_t> runs;  // into Report::runs, oldest first

    struct SpeedRun {
        std::size_t run = 0;
        std::array<std::array<std::optional<double>, 8>, 3> seconds{};  // [finger][trial]
    };
    std::vector<SpeedRun> speeds;

    struct EncoderRun {
        std::size_t run = 0;
        std::array<std::array<std::optional<double>, 6>, 4> counts{};  // [motor][figure]
    };
    std::vector<EncoderRun> encoder;

    struct StrainPoint {
        std::size_t run = 0;
        int finger = 0;  // 1..3
        double force = 0;
        double reading = 0;
    };
    std::vector<StrainPoint> strain;  // in run order
    // Each Strain Gages run with readings, oldest first, with its line per
    // finger (none for fewer than two readings at different forces).
    struct StrainRun {
        std::size_t run = 0;
        std::array<std::optional<Line>, 3> fit{};
    };
    std::vector<StrainRun> strainRuns;
    // Per finger, the calibration as it stands: the latest run with readings
    // of that finger, and its line. Earlier runs are history, not pooled in.
    std::array<std::optional<std::size_t>, 3> strainFitRun{};  // into Report::runs
    std::array<std::optional<Line>, 3> strainFit{};

    struct Fault {
        std::string motor;
        std::string kind;
        int cycle = 0;
    };
    std::vector<Fault> faults;  // of the endurance tests, with a cycle

    struct Temperature {
        std::size_t run = 0;
        double celsius = 0;
    };
    std::vector<Temperature> temperatures;
};

// A measurement across the selection: its figures from what the store keeps
// of all its values, and its latest values for the X-mR chart.
struct MeasurementSeries {
    std::string name;
    std::optional<std::string> unit;
    std::optional<double> low;  // the latest limits given
    std::optional<double> high;
    NameFigures figures;
    ProcessFigures process;
    Histogram histogram;              // of all values, in round bins
    std::vector<LatestValue> latest;  // oldest first, at most results::kLatestValues
    // Natural process limits: centre +- 3 within sigma, from the baseline's
    // figures (all of the selection without one).
    std::optional<XmrLimits> limits;
    long long baselineCount = 0;
    std::vector<RuleBreak> breaks;  // among the latest values
    // No latest value beyond the limits and no run rule broken; unknown
    // without a within sigma.
    std::optional<bool> inControl;
};

struct ReportOptions {
    Selection selection;
    // Limits come from the values of runs started in [from, to] (store
    // time texts); without them from all values of the selection.
    std::optional<std::string> baselineFrom;
    std::optional<std::string> baselineTo;
};

// A unit among the most recently tested: its last run.
struct LatestUnit {
    std::string serial;
    std::string started;
    std::string test;
    std::string outcome;
    long runs = 0;
};

struct Report {
    long runCount = 0;
    long unitCount = 0;
    std::optional<std::string> firstDay, lastDay;
    std::vector<std::string> days;  // "YYYY-MM-DD" (UTC) with runs
    std::vector<OutcomeCounts> perDay;
    std::vector<TestTally> tests;
    std::vector<LatestUnit> latestUnits;  // the most recently tested first
    // Units in full, with their runs and plots: only for a selection by
    // serial number (a whole line's units are too many for one page).
    std::vector<RunRow> runs;  // theirs, oldest first
    std::vector<UnitReport> units;
    std::vector<MeasurementSeries> measurements;  // by name
};
inline constexpr std::size_t kLatestUnits = 200;

// Reads only what the store keeps of its measurements, the runs' counts and
// the latest values, whatever the store holds; a unit's rows only when the
// selection names a serial number.
bool BuildReport(StoreReader& reader, const ReportOptions& options, Report* report,
                 std::string* error);

// The limits, rule breaks and histogram of a series whose figures and
// latest values are filled, the limits from `baseline` (the series' own
// figures when null).
void AnalyseSeries(MeasurementSeries* series, const NameFigures* baseline);

// Equal round bins (1, 2 or 5 times a power of ten wide, about Sturges'
// count) over the kept bins of four significant digits.
Histogram RoundHistogram(const NameFigures& figures, int maxBins = 30);

}  // namespace report
