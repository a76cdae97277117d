#include "station_alarms.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>

#include "capability.h"
#include "figures.h"

namespace report {

namespace {

// The latest values of each name, station by station, against the line.
bool RuleAlarms(results::ResultsReader& store, std::vector<StationAlarm>* alarms,
                std::string* error) {
    std::vector<NameFigures> figures;
    if (!ReadFigures(store, Selection{}, &figures, error)) return false;
    for (const NameFigures& f : figures) {
        const ProcessFigures p = Summarise(f);
        if (!p.mean || !p.sdWithin) continue;
        std::vector<LatestValue> latest;
        if (!ReadLatest(store, Selection{}, f.name, &latest, error)) return false;
        std::map<std::string, std::vector<const LatestValue*>> byStation;
        for (const LatestValue& v : latest) byStation[v.station].push_back(&v);
        for (const auto& [station, values] : byStation) {
            std::vector<double> numbers;
            for (const LatestValue* v : values) numbers.push_back(v->value);
            const std::vector<RuleBreak> breaks = BrokenRules(numbers, *p.mean, *p.sdWithin);
            if (breaks.empty()) continue;
            const RuleBreak& last = breaks.back();
            const LatestValue& v = *values[last.index];
            std::string reason = f.name + ": rule " + std::to_string(last.rule) + " (" +
                                 RuleText(last.rule) + ") in run " + v.run;
            if (v.cycle) reason += ", cycle " + std::to_string(*v.cycle);
            alarms->push_back({station, reason});
        }
    }
    return true;
}

long Count(const std::optional<std::string>& text) {
    long value = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}

// Each station's yield over its latest first runs against the line's.
bool YieldAlarms(results::ResultsReader& store, std::vector<StationAlarm>* alarms,
                 std::string* error) {
    struct Yield {
        long runs = 0;
        long passed = 0;
    };
    std::map<std::string, Yield> stations;
    Yield line;
    const std::string firsts =
        "SELECT q.station, q.started, q.id, q.outcome, ROW_NUMBER() OVER (PARTITION BY q.serial,"
        " q.test ORDER BY q.started, q.id) AS n FROM runs q"
        " WHERE q.outcome NOT IN ('error', 'interrupted')";
    std::string why;
    const bool read = store.ForEach(
        "SELECT f.station, f.outcome, ROW_NUMBER() OVER (PARTITION BY f.station"
        " ORDER BY f.started DESC, f.id DESC) AS k FROM (" +
            firsts + ") f WHERE f.n = 1 AND f.outcome <> 'running'",
        {},
        [&](const results::Row& row) {
            const bool pass = row[1].value_or("") == "pass";
            ++line.runs;
            line.passed += pass;
            if (Count(row[2]) > kAlarmRuns) return;
            Yield& y = stations[row[0].value_or("")];
            ++y.runs;
            y.passed += pass;
        },
        &why);
    if (!read) {
        *error = "cannot read the store: " + why;
        return false;
    }
    if (line.runs == 0) return true;
    const double lineYield = 100.0 * static_cast<double>(line.passed) / line.runs;
    for (const auto& [station, y] : stations) {
        if (y.runs < kAlarmMinimumRuns) continue;
        const double yield = 100.0 * static_cast<double>(y.passed) / y.runs;
        if (yield > lineYield - kAlarmYieldPoints) continue;
        char text[160];
        std::snprintf(text, sizeof text,
                      "first-pass yield %.1f %% over its last %ld first runs, the line's %.1f %%",
                      yield, y.runs, lineYield);
        alarms->push_back({station, text});
    }
    return true;
}

}  // namespace

bool StationAlarms(results::ResultsReader& store, std::vector<StationAlarm>* alarms,
                   std::string* error) {
    alarms->clear();
    if (!RuleAlarms(store, alarms, error) || !YieldAlarms(store, alarms, error)) return false;
    std::stable_sort(
        alarms->begin(), alarms->end(),
        [](const StationAlarm& a, const StationAlarm& b) { return a.station < b.station; });
    return true;
}

}  // namespace report
