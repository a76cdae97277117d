#include "figures.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>

#include "aggregate_schema.h"

namespace report {

namespace {

using results::Row;

double Real(const std::optional<std::string>& text) {
    double value = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}
long long Int(const std::optional<std::string>& text) {
    long long value = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), value);
    return value;
}
std::optional<double> MaybeReal(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return Real(text);
}

bool ForEach(results::ResultsReader& store, const std::string& sql, const Params& params,
             const std::function<void(const Row&)>& each, std::string* error) {
    std::string why;
    if (store.ForEach(sql, params, each, &why)) return true;
    *error = "cannot read the store: " + why;
    return false;
}

// " AND ..." over a table of kept figures (alias s) for the selection: by
// day, and by test and station where the table keeps them apart.
std::string KeptWhere(const Selection& selection, bool byStream, Params* values) {
    std::string where;
    const auto add = [&](const char* before, const std::optional<std::string>& value,
                         const char* after) {
        if (!value) return;
        values->push_back(*value);
        where += std::string(" AND ") + before + std::to_string(values->size()) + after;
    };
    add("s.name = $", selection.name, "");
    add("s.day >= substr($", selection.since, ", 1, 10)");
    add("s.day <= substr($", selection.until, ", 1, 10)");
    if (byStream) {
        add("lower(s.test) = lower($", selection.test, ")");
        add("s.station = $", selection.station, "");
    }
    return where;
}

bool KeptFigures(results::ResultsReader& store, const Selection& selection,
                 std::vector<NameFigures>* figures, std::string* error) {
    Params values;
    const std::string where = KeptWhere(selection, true, &values);
    std::map<std::string, std::size_t> index;
    const bool summed = ForEach(
        store,
        "SELECT s.name, max(s.unit), sum(s.n), sum(s.total), sum(s.squares), min(s.least),"
        " max(s.most), sum(s.out_of_spec), sum(s.ranges), sum(s.range_total)"
        " FROM measurement_stats s WHERE 1 = 1" +
            where + " GROUP BY s.name ORDER BY s.name",
        values,
        [&](const Row& row) {
            NameFigures f;
            f.name = row[0].value_or("");
            f.unit = row[1];
            f.count = Int(row[2]);
            f.total = Real(row[3]);
            f.squares = Real(row[4]);
            f.least = Real(row[5]);
            f.most = Real(row[6]);
            f.outOfSpec = Int(row[7]);
            f.ranges = Int(row[8]);
            f.rangeTotal = Real(row[9]);
            index[f.name] = figures->size();
            figures->push_back(std::move(f));
        },
        error);
    if (!summed) return false;
    const bool limited = ForEach(
        store,
        "SELECT s.name, s.low, s.high, s.limits_run FROM measurement_stats s"
        " WHERE s.limits_run IS NOT NULL" +
            where,
        values,
        [&](const Row& row) {
            const auto it = index.find(row[0].value_or(""));
            if (it == index.end()) return;
            NameFigures& f = (*figures)[it->second];
            const long long run = Int(row[3]);
            if (run < f.limitsRun) return;
            f.limitsRun = run;
            f.low = MaybeReal(row[1]);
            f.high = MaybeReal(row[2]);
        },
        error);
    if (!limited) return false;
    Params binValues;
    return ForEach(
        store,
        "SELECT s.name, s.bin, sum(s.n) FROM measurement_bins s WHERE 1 = 1" +
            KeptWhere(selection, false, &binValues) + " GROUP BY s.name, s.bin",
        binValues,
        [&](const Row& row) {
            const auto it = index.find(row[0].value_or(""));
            if (it != index.end())
                (*figures)[it->second].bins.emplace_back(Real(row[1]), Int(row[2]));
        },
        error);
}

struct RowValue {
    long long run = 0;
    int seq = 0;
    double value = 0;
    const MeasurementRow* row = nullptr;
};

// The selected rows, name by name, each name's in store order.
bool SelectedRows(results::ResultsReader& store, const Selection& selection,
                  std::vector<RunRow>* runs, std::vector<MeasurementRow>* rows,
                  std::string* error) {
    StoreReader reader(store);
    if (!reader.Runs(
            selection, [&](const RunRow& r) { runs->push_back(r); }, error))
        return false;
    return reader.Measurements(
        selection,
        [&](const MeasurementRow& m) {
            if (selection.name && m.name != *selection.name) return;
            if (std::isfinite(m.value)) rows->push_back(m);
        },
        error);
}

bool DirectFigures(results::ResultsReader& store, const Selection& selection,
                   std::vector<NameFigures>* figures, std::string* error) {
    std::vector<RunRow> runs;
    std::vector<MeasurementRow> rows;
    if (!SelectedRows(store, selection, &runs, &rows, error)) return false;
    std::unordered_map<long long, const RunRow*> runOf;
    for (const RunRow& r : runs) runOf[r.id] = &r;
    std::sort(rows.begin(), rows.end(), [](const MeasurementRow& a, const MeasurementRow& b) {
        return std::tie(a.name, a.runId, a.seq) < std::tie(b.name, b.runId, b.seq);
    });
    std::map<std::pair<std::string, std::string>, double> last;  // (test, station) of a name
    std::map<double, long long> bins;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MeasurementRow& m = rows[i];
        const auto run = runOf.find(m.runId);
        if (run == runOf.end()) continue;
        if (figures->empty() || figures->back().name != m.name) {
            if (!figures->empty()) figures->back().bins.assign(bins.begin(), bins.end());
            bins.clear();
            last.clear();
            figures->push_back({});
            figures->back().name = m.name;
            figures->back().least = m.value;
            figures->back().most = m.value;
        }
        NameFigures& f = figures->back();
        const double v = m.value;
        if (m.unit) f.unit = m.unit;
        ++f.count;
        f.total += v;
        f.squares += v * v;
        f.least = std::min(f.least, v);
        f.most = std::max(f.most, v);
        if ((m.low && v < *m.low) || (m.high && v > *m.high)) ++f.outOfSpec;
        if ((m.low || m.high) && m.runId >= f.limitsRun) {
            f.limitsRun = m.runId;
            f.low = m.low;
            f.high = m.high;
        }
        const auto stream = std::make_pair(run->second->test, run->second->station);
        if (const auto it = last.find(stream); it != last.end()) {
            ++f.ranges;
            f.rangeTotal += std::fabs(v - it->second);
        }
        last[stream] = v;
        ++bins[results::BinOf(v)];
    }
    if (!figures->empty()) figures->back().bins.assign(bins.begin(), bins.end());
    return true;
}

}  // namespace

bool KeptFiguresServe(const Selection& selection) {
    const auto wholeDay = [](const std::optional<std::string>& t, const char* time) {
        return !t || (t->size() >= 24 && t->substr(10) == time);
    };
    return !selection.serial && wholeDay(selection.since, "T00:00:00.000Z") &&
           wholeDay(selection.until, "T23:59:59.999Z");
}

bool ReadFigures(results::ResultsReader& store, const Selection& selection,
                 std::vector<NameFigures>* figures, std::string* error) {
    figures->clear();
    return KeptFiguresServe(selection) ? KeptFigures(store, selection, figures, error)
                                       : DirectFigures(store, selection, figures, error);
}

bool ReadLatest(results::ResultsReader& store, const Selection& selection, const std::string& name,
                std::vector<LatestValue>* values, std::string* error) {
    values->clear();
    if (!KeptFiguresServe(selection)) {
        Selection one = selection;
        one.name = name;
        std::vector<RunRow> runs;
        std::vector<MeasurementRow> rows;
        if (!SelectedRows(store, one, &runs, &rows, error)) return false;
        std::unordered_map<long long, const RunRow*> runOf;
        for (const RunRow& r : runs) runOf[r.id] = &r;
        std::sort(rows.begin(), rows.end(), [](const MeasurementRow& a, const MeasurementRow& b) {
            return std::tie(a.runId, a.seq) < std::tie(b.runId, b.seq);
        });
        const std::size_t from =
            rows.size() > results::kLatestValues ? rows.size() - results::kLatestValues : 0;
        for (std::size_t i = from; i < rows.size(); ++i) {
            const RunRow& r = *runOf.at(rows[i].runId);
            values->push_back(
                {rows[i].value, r.uuid, r.serial, r.station, r.started, rows[i].cycle});
        }
        return true;
    }
    Params params = {name};
    std::string where = SelectionWhere(selection, &params);
    if (!where.empty()) where.replace(0, 7, " AND ");
    return ForEach(
        store,
        "SELECT l.value, r.uuid, r.serial, r.station, r.started, m.cycle"
        " FROM measurement_latest l JOIN runs r ON r.id = l.run_id"
        " LEFT JOIN measurements m ON m.run_id = l.run_id AND m.seq = l.seq"
        " WHERE l.name = $1" +
            where + " ORDER BY l.run_id, l.seq",
        params,
        [&](const Row& row) {
            LatestValue v;
            v.value = Real(row[0]);
            v.run = row[1].value_or("");
            v.serial = row[2].value_or("");
            v.station = row[3].value_or("");
            v.started = row[4].value_or("");
            if (row[5]) v.cycle = static_cast<int>(Int(row[5]));
            values->push_back(std::move(v));
        },
        error);
}

}  // namespace report
