#include "report_model.h"

#include "overview.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

namespace report {

namespace {

constexpr std::array<std::string_view, 10> kTestTable = {
    "Finger Movement", "Cable Tension/BreakAway", "Strain Gages",          "Vibration Grasp",
    "Multi-Axis",      "Encoder slip - Grasp",    "Encoder slip - Spread", "Fingerprint",
    "After-Freezer",   "Parameter Check"};

std::size_t TablePlace(const std::string& test) {
    const auto it = std::find(kTestTable.begin(), kTestTable.end(), test);
    return static_cast<std::size_t>(it - kTestTable.begin());
}

bool IsEndurance(const std::string& test) {
    return test == "Vibration Grasp" || test == "Multi-Axis" || test == "After-Freezer" ||
           test == "Encoder slip - Grasp" || test == "Encoder slip - Spread";
}

// "F2 Clse55" -> finger 2, trial 2; "M3 MaxOpen" -> motor 3, figure 2 ...
template <std::size_t N>
bool SplitName(std::string_view name, char letter, int maxNumber,
               const std::array<std::string_view, N>& columns, int* number, std::size_t* column) {
    if (name.size() < 4 || name[0] != letter || name[2] != ' ' || name[1] < '1' ||
        name[1] > '0' + maxNumber)
        return false;
    const auto it = std::find(columns.begin(), columns.end(), name.substr(3));
    if (it == columns.end()) return false;
    *number = name[1] - '0';
    *column = static_cast<std::size_t>(it - columns.begin());
    return true;
}

bool StrainName(std::string_view name, int* finger, double* force) {
    if (name.size() < 5 || name[0] != 'F' || name[1] < '1' || name[1] > '3' || name[2] != ' ' ||
        !name.ends_with("g"))
        return false;
    const std::string_view grams = name.substr(3, name.size() - 4);
    for (int f : kStrainForces) {
        if (grams == std::to_string(f)) {
            *finger = name[1] - '0';
            *force = f;
            return true;
        }
    }
    return false;
}

// Equal but for the case of ASCII letters, as the store's lower() compares.
bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Each unit's plots in run order, and its strain gauge lines.
void FinishUnit(UnitReport* unit) {
    UnitReport& u = *unit;
    const auto byRun = [](const auto& a, const auto& b) { return a.run < b.run; };
    std::sort(u.speeds.begin(), u.speeds.end(), byRun);
    std::sort(u.encoder.begin(), u.encoder.end(), byRun);
    std::sort(u.temperatures.begin(), u.temperatures.end(), byRun);
    std::stable_sort(u.strain.begin(), u.strain.end(), byRun);
    for (std::size_t from = 0; from < u.strain.size();) {
        const std::size_t run = u.strain[from].run;
        std::size_t to = from;
        while (to < u.strain.size() && u.strain[to].run == run) ++to;
        UnitReport::StrainRun fitted{run, {}};
        for (int finger = 1; finger <= 3; ++finger) {
            std::vector<Point> points;
            for (std::size_t i = from; i < to; ++i)
                if (u.strain[i].finger == finger)
                    points.push_back({u.strain[i].force, u.strain[i].reading});
            if (points.empty()) continue;
            const auto f = static_cast<std::size_t>(finger - 1);
            fitted.fit[f] = LeastSquares(points);
            // Runs come oldest first: the last one seen is the latest.
            u.strainFitRun[f] = run;
            u.strainFit[f] = fitted.fit[f];
        }
        u.strainRuns.push_back(fitted);
        from = to;
    }
    std::sort(
        u.faults.begin(), u.faults.end(),
        [](const UnitReport::Fault& a, const UnitReport::Fault& b) { return a.cycle < b.cycle; });
}

}  // namespace

std::size_t OutcomeIndex(std::string_view outcome) {
    const auto it = std::find(kOutcomes.begin(), kOutcomes.end(), outcome);
    return static_cast<std::size_t>(it - kOutcomes.begin());
}

bool TestBefore(const std::string& a, const std::string& b) {
    const std::size_t pa = TablePlace(a), pb = TablePlace(b);
    if (pa != pb) return pa < pb;
    return a < b;
}

std::vector<TestTally> TallyTests(const std::vector<RunRow>& runs,
                                  const std::vector<FirstRun>& firstRuns,
                                  const Selection& selection) {
    std::map<std::string, TestTally> byTest;
    for (const RunRow& run : runs) {
        TestTally& tally = byTest[run.test];
        tally.test = run.test;
        ++tally.runs;
        ++tally.outcomes[OutcomeIndex(run.outcome)];
    }
    for (const FirstRun& first : firstRuns) {
        if (selection.test && !SameText(first.test, *selection.test)) continue;
        if (selection.serial && first.serial != *selection.serial) continue;
        if (selection.since && first.started < *selection.since) continue;
        if (selection.until && first.started > *selection.until) continue;
        if (selection.station && first.station != *selection.station) continue;
        if (first.outcome == "running") continue;
        TestTally& tally = byTest[first.test];
        tally.test = first.test;
        ++tally.firstRuns;
        if (first.outcome == "pass") ++tally.firstPassed;
    }
    std::vector<TestTally> tallies;
    for (auto& [test, tally] : byTest) tallies.push_back(std::move(tally));
    std::sort(tallies.begin(), tallies.end(),
              [](const TestTally& a, const TestTally& b) { return TestBefore(a.test, b.test); });
    return tallies;
}

void AnalyseSeries(MeasurementSeries* s, const NameFigures* baseline) {
    const NameFigures& base = baseline != nullptr ? *baseline : s->figures;
    const ProcessFigures b = Summarise(base);
    s->baselineCount = base.count;
    s->limits.reset();
    s->breaks.clear();
    s->inControl.reset();
    if (b.mean && b.sdWithin) {
        const double sigma = *b.sdWithin;
        XmrLimits limits;
        limits.center = *b.mean;
        limits.lower = *b.mean - 3 * sigma;
        limits.upper = *b.mean + 3 * sigma;
        limits.mrCenter = 1.128 * sigma;
        limits.mrUpper = 3.267 * limits.mrCenter;
        s->limits = limits;
        std::vector<double> values;
        values.reserve(s->latest.size());
        for (const LatestValue& v : s->latest) values.push_back(v.value);
        s->breaks = BrokenRules(values, limits.center, sigma);
        s->inControl = s->breaks.empty();
    }
    s->histogram = RoundHistogram(s->figures);
}

Histogram RoundHistogram(const NameFigures& f, int maxBins) {
    Histogram h;
    if (f.count == 0 || f.bins.empty()) return h;
    const double least = f.least, most = f.most;
    int bins = 1 + static_cast<int>(std::ceil(std::log2(static_cast<double>(f.count))));
    bins = std::clamp(bins, 1, std::max(1, maxBins));
    // The kept bins' width at the largest magnitude: a round width of at
    // least that many holds whole kept bins.
    const double magnitude = std::max(std::fabs(least), std::fabs(most));
    const double finest =
        magnitude > 0 ? std::pow(10.0, std::floor(std::log10(magnitude)) - 3) : 1.0;
    double width = std::max((most - least) / bins, finest);
    const double power = std::pow(10.0, std::floor(std::log10(width)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= width * (1 - 1e-12)) {
            width = step * power;
            break;
        }
    }
    const double start = std::floor(least / width) * width;
    int count = std::max(1, static_cast<int>(std::ceil((most - start) / width - 1e-9)));
    if (start + count * width <= most) ++count;
    h.edges.resize(static_cast<std::size_t>(count) + 1);
    for (int i = 0; i <= count; ++i) h.edges[static_cast<std::size_t>(i)] = start + width * i;
    h.counts.assign(static_cast<std::size_t>(count), 0);
    for (const auto& [edge, n] : f.bins) {
        int i = static_cast<int>(std::floor((edge - start) / width + 1e-9));
        i = std::clamp(i, 0, count - 1);
        h.counts[static_cast<std::size_t>(i)] += n;
    }
    return h;
}

namespace {

bool BuildSeries(results::ResultsReader& store, const ReportOptions& options,
                 std::vector<MeasurementSeries>* series, std::string* error) {
    std::vector<NameFigures> figures;
    if (!ReadFigures(store, options.selection, &figures, error)) return false;
    std::map<std::string, NameFigures> baseline;
    if (options.baselineFrom) {
        Selection b = options.selection;
        b.since = options.baselineFrom;
        b.until = options.baselineTo;
        std::vector<NameFigures> of;
        if (!ReadFigures(store, b, &of, error)) return false;
        for (NameFigures& f : of) baseline[f.name] = std::move(f);
    }
    const NameFigures none;
    for (NameFigures& f : figures) {
        if (f.count == 0) continue;
        MeasurementSeries s;
        s.name = f.name;
        s.unit = f.unit;
        s.low = f.low;
        s.high = f.high;
        s.process = Summarise(f);
        s.figures = std::move(f);
        if (!ReadLatest(store, options.selection, s.name, &s.latest, error)) return false;
        const auto it = baseline.find(s.name);
        AnalyseSeries(&s, !options.baselineFrom  ? nullptr
                          : it != baseline.end() ? &it->second
                                                 : &none);
        series->push_back(std::move(s));
    }
    return true;
}

// The selected units in full: their runs, and what their plots need.
bool BuildUnits(StoreReader& reader, const Selection& selection, Report* report,
                std::string* error) {
    Report& r = *report;
    std::unordered_map<long long, std::size_t> runIndex;
    if (!reader.Runs(
            selection,
            [&](const RunRow& run) {
                runIndex.emplace(run.id, r.runs.size());
                r.runs.push_back(run);
            },
            error))
        return false;
    std::map<std::string, std::size_t> unitIndex;
    for (const RunRow& run : r.runs) unitIndex.emplace(run.serial, 0);
    for (auto& [serial, index] : unitIndex) {
        index = r.units.size();
        r.units.push_back({});
        r.units.back().serial = serial;
    }
    std::vector<std::size_t> unitOfRun(r.runs.size());
    for (std::size_t i = 0; i < r.runs.size(); ++i) {
        unitOfRun[i] = unitIndex[r.runs[i].serial];
        r.units[unitOfRun[i]].runs.push_back(i);
    }
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> speedOf, encoderOf;  // (unit, run)
    const bool measured = reader.Measurements(
        selection,
        [&](const MeasurementRow& m) {
            const auto found = runIndex.find(m.runId);
            if (found == runIndex.end() || !std::isfinite(m.value)) return;
            const std::size_t run = found->second;
            const RunRow& owner = r.runs[run];
            const std::size_t unit = unitOfRun[run];
            UnitReport& u = r.units[unit];
            int number = 0;
            std::size_t column = 0;
            double force = 0;
            if (owner.test == "Fingerprint" &&
                SplitName(m.name, 'F', 3, kSpeedTrials, &number, &column)) {
                auto [at, fresh] = speedOf.try_emplace({unit, run}, u.speeds.size());
                if (fresh) u.speeds.push_back({run, {}});
                u.speeds[at->second].seconds[number - 1][column] = m.value;
            } else if (owner.test == "Fingerprint" &&
                       SplitName(m.name, 'M', 4, kEncoderFigures, &number, &column)) {
                auto [at, fresh] = encoderOf.try_emplace({unit, run}, u.encoder.size());
                if (fresh) u.encoder.push_back({run, {}});
                u.encoder[at->second].counts[number - 1][column] = m.value;
            } else if (owner.test == "Strain Gages" && StrainName(m.name, &number, &force)) {
                u.strain.push_back({run, number, force, m.value});
            } else if ((owner.test == "Multi-Axis" || owner.test == "After-Freezer") &&
                       m.name == "Maximum temperature") {
                u.temperatures.push_back({run, m.value});
            }
        },
        error);
    if (!measured) return false;

    const bool evented = reader.Events(
        selection,
        [&](const EventRow& e) {
            const auto found = runIndex.find(e.runId);
            if (found == runIndex.end() || !e.cycle) return;
            const RunRow& owner = r.runs[found->second];
            if (!IsEndurance(owner.test)) return;
            r.units[unitOfRun[found->second]].faults.push_back(
                {e.motor.value_or("-"), e.kind, *e.cycle});
        },
        error);
    if (!evented) return false;
    for (UnitReport& u : r.units) FinishUnit(&u);
    return true;
}

}  // namespace

bool BuildReport(StoreReader& reader, const ReportOptions& options, Report* report,
                 std::string* error) {
    if (!ReadOverview(reader.Store(), options.selection, report, error)) return false;
    if (options.selection.serial && !BuildUnits(reader, options.selection, report, error))
        return false;
    return BuildSeries(reader.Store(), options, &report->measurements, error);
}

}  // namespace report
