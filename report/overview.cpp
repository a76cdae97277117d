#include "overview.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace report {

namespace {

using results::Row;

long Count(const std::optional<std::string>& text) {
    long value = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}

bool ForEach(results::ResultsReader& store, const std::string& sql, const Params& params,
             const std::function<void(const Row&)>& each, std::string* error) {
    std::string why;
    if (store.ForEach(sql, params, each, &why)) return true;
    *error = "cannot read the store: " + why;
    return false;
}

// The selection's terms after a WHERE of one's own.
std::string And(const Selection& selection, Params* values) {
    std::string where = SelectionWhere(selection, values);
    if (!where.empty()) where.replace(0, 7, " AND ");
    return where;
}

bool PerDay(results::ResultsReader& store, const Selection& selection, Report* r,
            std::string* error) {
    Params values;
    return ForEach(
        store,
        "SELECT substr(r.started, 1, 10), r.outcome, count(*) FROM runs r" +
            SelectionWhere(selection, &values) + " GROUP BY 1, 2 ORDER BY 1",
        values,
        [&](const Row& row) {
            const std::string day = row[0].value_or("");
            if (r->days.empty() || r->days.back() != day) {
                r->days.push_back(day);
                r->perDay.push_back({});
            }
            const long n = Count(row[2]);
            r->perDay.back()[OutcomeIndex(row[1].value_or(""))] += n;
            r->runCount += n;
        },
        error);
}

bool PerTest(results::ResultsReader& store, const Selection& selection, Report* r,
             std::string* error) {
    std::map<std::string, TestTally> byTest;
    Params values;
    const bool counted = ForEach(
        store,
        "SELECT r.test, r.outcome, count(*) FROM runs r" + SelectionWhere(selection, &values) +
            " GROUP BY 1, 2",
        values,
        [&](const Row& row) {
            TestTally& t = byTest[row[0].value_or("")];
            t.test = row[0].value_or("");
            const long n = Count(row[2]);
            t.runs += n;
            t.outcomes[OutcomeIndex(row[1].value_or(""))] += n;
        },
        error);
    if (!counted) return false;
    // Each unit's first finished run of a test, among all its runs; counted
    // when that run lies in the selection and is over.
    Params firstValues;
    const bool firsts = ForEach(
        store,
        "SELECT r.test, count(*), sum(CASE WHEN r.outcome = 'pass' THEN 1 ELSE 0 END) FROM"
        " (SELECT q.serial, q.test, q.started, q.outcome, q.station, ROW_NUMBER() OVER"
        " (PARTITION BY q.serial, q.test ORDER BY q.started, q.id) AS n FROM runs q"
        " WHERE q.outcome NOT IN ('error', 'interrupted')) r"
        " WHERE r.n = 1 AND r.outcome <> 'running'" +
            And(selection, &firstValues) + " GROUP BY r.test",
        firstValues,
        [&](const Row& row) {
            TestTally& t = byTest[row[0].value_or("")];
            t.test = row[0].value_or("");
            t.firstRuns = Count(row[1]);
            t.firstPassed = Count(row[2]);
        },
        error);
    if (!firsts) return false;
    for (auto& [test, tally] : byTest) r->tests.push_back(std::move(tally));
    std::sort(r->tests.begin(), r->tests.end(),
              [](const TestTally& a, const TestTally& b) { return TestBefore(a.test, b.test); });
    return true;
}

bool Units(results::ResultsReader& store, const Selection& selection, Report* r,
           std::string* error) {
    Params values;
    const bool counted = ForEach(
        store, "SELECT count(DISTINCT r.serial) FROM runs r" + SelectionWhere(selection, &values),
        values, [&](const Row& row) { r->unitCount = Count(row[0]); }, error);
    if (!counted) return false;
    Params latestValues;
    return ForEach(
        store,
        "SELECT u.serial, u.started, u.test, u.outcome, u.k FROM (SELECT r.serial, r.started,"
        " r.test, r.outcome, ROW_NUMBER() OVER (PARTITION BY r.serial ORDER BY r.started DESC,"
        " r.id DESC) AS n, count(*) OVER (PARTITION BY r.serial) AS k FROM runs r" +
            SelectionWhere(selection, &latestValues) +
            ") u WHERE u.n = 1 ORDER BY u.started DESC, u.serial LIMIT " +
            std::to_string(kLatestUnits),
        latestValues,
        [&](const Row& row) {
            r->latestUnits.push_back({row[0].value_or(""), row[1].value_or(""), row[2].value_or(""),
                                      row[3].value_or(""), Count(row[4])});
        },
        error);
}

}  // namespace

bool ReadOverview(results::ResultsReader& store, const Selection& selection, Report* report,
                  std::string* error) {
    // The measurement name narrows measurements, not runs.
    Selection runs = selection;
    runs.name.reset();
    if (!PerDay(store, runs, report, error) || !PerTest(store, runs, report, error) ||
        !Units(store, runs, report, error))
        return false;
    if (!report->days.empty()) {
        report->firstDay = report->days.front();
        report->lastDay = report->days.back();
    }
    return true;
}

}  // namespace report
