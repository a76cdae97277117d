#include "report_model.h"

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

void AnalyseSeries(MeasurementSeries* s, const std::vector<bool>* inBaseline) {
    std::vector<double> baseline;
    for (std::size_t i = 0; i < s->values.size(); ++i) {
        const bool take = inBaseline != nullptr ? (*inBaseline)[i] : i < kBaselineValues;
        if (take) baseline.push_back(s->values[i]);
    }
    s->baselineCount = baseline.size();
    s->limits = ComputeXmrLimits(baseline);
    s->beyond.assign(s->values.size(), false);
    s->rangeBeyond.assign(s->values.size(), false);
    s->beyondCount = 0;
    if (s->limits) {
        for (std::size_t i = 0; i < s->values.size(); ++i) {
            const double v = s->values[i];
            s->beyond[i] = v < s->limits->lower || v > s->limits->upper;
            if (s->beyond[i]) ++s->beyondCount;
            if (i > 0) s->rangeBeyond[i] = std::fabs(v - s->values[i - 1]) > s->limits->mrUpper;
        }
    }
    s->mean = Mean(s->values);
    s->sigma = SigmaFromMovingRange(s->values);
    s->capability = ComputeCapability(s->values, s->low, s->high);
    s->histogram = ComputeHistogram(s->values);
}

bool BuildReport(StoreReader& reader, const ReportOptions& options, Report* report,
                 std::string* error) {
    Report& r = *report;
    std::unordered_map<long long, std::size_t> runIndex;
    if (!reader.Runs(
            options.selection,
            [&](const RunRow& run) {
                runIndex.emplace(run.id, r.runs.size());
                r.runs.push_back(run);
            },
            error))
        return false;

    // Runs per day and per unit.
    std::map<std::string, std::size_t> unitIndex;
    for (std::size_t i = 0; i < r.runs.size(); ++i) {
        const RunRow& run = r.runs[i];
        const std::string day = run.started.substr(0, 10);
        if (r.days.empty() || r.days.back() != day) {
            // Runs come oldest first, so each day starts once.
            r.days.push_back(day);
            r.perDay.push_back({});
        }
        ++r.perDay.back()[OutcomeIndex(run.outcome)];
        unitIndex.emplace(run.serial, 0);
    }
    for (auto& [serial, index] : unitIndex) {
        index = r.units.size();
        r.units.push_back({});
        r.units.back().serial = serial;
    }
    // The unit of each run, looked up once rather than per measurement.
    std::vector<std::size_t> unitOfRun(r.runs.size());
    for (std::size_t i = 0; i < r.runs.size(); ++i) {
        unitOfRun[i] = unitIndex[r.runs[i].serial];
        r.units[unitOfRun[i]].runs.push_back(i);
    }

    std::vector<FirstRun> firsts;
    if (!reader.FirstRuns(
            options.selection.serial, [&](const FirstRun& f) { firsts.push_back(f); }, error))
        return false;
    r.tests = TallyTests(r.runs, firsts, options.selection);

    std::vector<std::size_t> order(r.units.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return r.runs[r.units[a].runs.back()].started > r.runs[r.units[b].runs.back()].started;
    });
    order.resize(std::min(order.size(), kLatestUnits));
    r.latestUnits = order;

    // Measurements: the series across units, and what the unit plots need.
    struct Value {
        std::size_t run;
        int seq;
        double value;
    };
    std::unordered_map<std::string, std::size_t> seriesIndex;
    std::vector<std::vector<Value>> seriesValues;
    std::vector<std::size_t> limitRun;  // the run of the latest limits of each series
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> speedOf, encoderOf;  // (unit, run)
    const bool measured = reader.Measurements(
        options.selection,
        [&](const MeasurementRow& m) {
            const auto found = runIndex.find(m.runId);
            if (found == runIndex.end() || !std::isfinite(m.value)) return;
            const std::size_t run = found->second;
            auto [it, added] = seriesIndex.try_emplace(m.name, r.measurements.size());
            if (added) {
                r.measurements.push_back({});
                r.measurements.back().name = m.name;
                seriesValues.emplace_back();
                limitRun.push_back(0);
            }
            MeasurementSeries& s = r.measurements[it->second];
            if (m.unit) s.unit = m.unit;
            if ((m.low || m.high) && (!s.low && !s.high ? true : run >= limitRun[it->second])) {
                s.low = m.low;
                s.high = m.high;
                limitRun[it->second] = run;
            }
            seriesValues[it->second].push_back({run, m.seq, m.value});

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
        options.selection,
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

    for (UnitReport& u : r.units) {
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
        std::sort(u.faults.begin(), u.faults.end(),
                  [](const UnitReport::Fault& a, const UnitReport::Fault& b) {
                      return a.cycle < b.cycle;
                  });
    }

    for (std::size_t i = 0; i < r.measurements.size(); ++i) {
        std::vector<Value>& values = seriesValues[i];
        std::sort(values.begin(), values.end(), [](const Value& a, const Value& b) {
            return a.run != b.run ? a.run < b.run : a.seq < b.seq;
        });
        MeasurementSeries& s = r.measurements[i];
        s.values.reserve(values.size());
        s.runOf.reserve(values.size());
        std::vector<bool> inBaseline;
        for (const Value& v : values) {
            s.values.push_back(v.value);
            s.runOf.push_back(v.run);
            if (options.baselineFrom) {
                const std::string& started = r.runs[v.run].started;
                inBaseline.push_back(started >= *options.baselineFrom &&
                                     (!options.baselineTo || started <= *options.baselineTo));
            }
        }
        values = {};
        AnalyseSeries(&s, options.baselineFrom ? &inBaseline : nullptr);
    }
    std::sort(
        r.measurements.begin(), r.measurements.end(),
        [](const MeasurementSeries& a, const MeasurementSeries& b) { return a.name < b.name; });
    return true;
}

}  // namespace report
