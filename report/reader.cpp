#include "reader.h"

#include <charconv>
#include <vector>

namespace report {

namespace {

using results::Row;

// A row's columns read as the record's types. A number the store holds
// reads back exactly; a value that is no number reads as 0.
class Columns {
  public:
    explicit Columns(const Row& row) : row_(row) {}

    void Text(std::size_t i, std::string* out) const {
        if (row_[i]) {
            out->assign(*row_[i]);
        } else {
            out->clear();
        }
    }
    const std::optional<std::string>& MaybeText(std::size_t i) const { return row_[i]; }
    long long Int(std::size_t i) const {
        long long value = 0;
        if (row_[i]) std::from_chars(row_[i]->data(), row_[i]->data() + row_[i]->size(), value);
        return value;
    }
    double Real(std::size_t i) const {
        double value = 0;
        if (row_[i]) std::from_chars(row_[i]->data(), row_[i]->data() + row_[i]->size(), value);
        return value;
    }
    std::optional<int> MaybeInt(std::size_t i) const {
        if (!row_[i]) return std::nullopt;
        return static_cast<int>(Int(i));
    }
    std::optional<double> MaybeReal(std::size_t i) const {
        if (!row_[i]) return std::nullopt;
        return Real(i);
    }

  private:
    const Row& row_;
};

std::string Where(const Selection& selection, Params* values) {
    std::vector<std::string> terms;
    const auto add = [&](const char* column, const std::optional<std::string>& value) {
        if (!value) return;
        values->push_back(*value);
        terms.push_back(std::string("r.") + column + " $" + std::to_string(values->size()));
    };
    add("serial =", selection.serial);
    add("started >=", selection.since);
    add("started <=", selection.until);
    add("station =", selection.station);
    if (selection.test) {
        // Typed by hand: "multi-axis" is Multi-Axis.
        values->push_back(*selection.test);
        terms.push_back("lower(r.test) = lower($" + std::to_string(values->size()) + ")");
    }
    std::string where;
    for (std::size_t i = 0; i < terms.size(); ++i)
        where += (i == 0 ? " WHERE " : " AND ") + terms[i];
    return where;
}

// Runs `sql` and hands each row to `each`; the store's trouble as one line.
bool Read(results::ResultsReader& store, const std::string& sql, const Params& params,
          const std::function<void(const Columns&)>& each, std::string* error) {
    std::string why;
    if (store.ForEach(
            sql, params, [&](const Row& row) { each(Columns(row)); }, &why))
        return true;
    if (error != nullptr) *error = "cannot read the store: " + why;
    return false;
}

constexpr const char* kMeasurementColumns =
    "m.run_id, m.seq, m.name, m.value, m.unit, m.low, m.high, m.outcome, m.cycle";
constexpr const char* kEventColumns = "e.run_id, e.seq, e.at, e.cycle, e.motor, e.kind, e.text";

void ReadMeasurement(const Columns& q, MeasurementRow* m) {
    m->runId = q.Int(0);
    m->seq = static_cast<int>(q.Int(1));
    q.Text(2, &m->name);
    m->value = q.Real(3);
    m->unit = q.MaybeText(4);
    m->low = q.MaybeReal(5);
    m->high = q.MaybeReal(6);
    m->outcome = q.MaybeText(7);
    m->cycle = q.MaybeInt(8);
}

void ReadEvent(const Columns& q, EventRow* e) {
    e->runId = q.Int(0);
    e->seq = static_cast<int>(q.Int(1));
    q.Text(2, &e->at);
    e->cycle = q.MaybeInt(3);
    e->motor = q.MaybeText(4);
    q.Text(5, &e->kind);
    q.Text(6, &e->text);
}

}  // namespace

std::string SelectionWhere(const Selection& selection, Params* values) {
    return Where(selection, values);
}

bool StoreReader::Runs(const Selection& selection, const std::function<void(const RunRow&)>& row,
                       std::string* error) {
    Params values;
    const std::string sql =
        "SELECT r.id, r.uuid, r.station, r.software, r.serial, r.operator, r.test,"
        " r.cycles_planned, r.cycles_done, r.started, r.ended, r.outcome, r.errors, r.log_file"
        " FROM runs r" +
        Where(selection, &values) + " ORDER BY r.started, r.id";
    RunRow r;
    return Read(
        store_, sql, values,
        [&](const Columns& q) {
            r.id = q.Int(0);
            q.Text(1, &r.uuid);
            q.Text(2, &r.station);
            q.Text(3, &r.software);
            q.Text(4, &r.serial);
            q.Text(5, &r.operatorInitials);
            q.Text(6, &r.test);
            r.cyclesPlanned = static_cast<int>(q.Int(7));
            r.cyclesDone = static_cast<int>(q.Int(8));
            q.Text(9, &r.started);
            r.ended = q.MaybeText(10);
            q.Text(11, &r.outcome);
            r.errors = static_cast<int>(q.Int(12));
            q.Text(13, &r.logFile);
            row(r);
        },
        error);
}

bool StoreReader::Measurements(const Selection& selection,
                               const std::function<void(const MeasurementRow&)>& row,
                               std::string* error) {
    Params values;
    const std::string where = Where(selection, &values);
    // All runs: no join to look each row's run up.
    const std::string sql = std::string("SELECT ") + kMeasurementColumns + " FROM measurements m" +
                            (where.empty() ? "" : " JOIN runs r ON r.id = m.run_id" + where);
    MeasurementRow m;
    return Read(
        store_, sql, values,
        [&](const Columns& q) {
            ReadMeasurement(q, &m);
            row(m);
        },
        error);
}

bool StoreReader::Events(const Selection& selection,
                         const std::function<void(const EventRow&)>& row, std::string* error) {
    Params values;
    const std::string where = Where(selection, &values);
    const std::string sql = std::string("SELECT ") + kEventColumns + " FROM events e" +
                            (where.empty() ? "" : " JOIN runs r ON r.id = e.run_id" + where);
    EventRow e;
    return Read(
        store_, sql, values,
        [&](const Columns& q) {
            ReadEvent(q, &e);
            row(e);
        },
        error);
}

bool StoreReader::MeasurementsOfRun(long long runId,
                                    const std::function<void(const MeasurementRow&)>& row,
                                    std::string* error) {
    const std::string sql = std::string("SELECT ") + kMeasurementColumns +
                            " FROM measurements m WHERE m.run_id = $1 ORDER BY m.seq";
    MeasurementRow m;
    return Read(
        store_, sql, {std::to_string(runId)},
        [&](const Columns& q) {
            ReadMeasurement(q, &m);
            row(m);
        },
        error);
}

bool StoreReader::EventsOfRun(long long runId, const std::function<void(const EventRow&)>& row,
                              std::string* error) {
    const std::string sql = std::string("SELECT ") + kEventColumns +
                            " FROM events e WHERE e.run_id = $1 ORDER BY e.seq";
    EventRow e;
    return Read(
        store_, sql, {std::to_string(runId)},
        [&](const Columns& q) {
            ReadEvent(q, &e);
            row(e);
        },
        error);
}

bool StoreReader::FirstRuns(const std::optional<std::string>& serial,
                            const std::function<void(const FirstRun&)>& row, std::string* error) {
    Selection bySerial;
    bySerial.serial = serial;
    Params values;
    const std::string sql =
        "SELECT f.serial, f.test, f.started, f.outcome, f.station FROM (SELECT r.serial, r.test,"
        " r.started, r.outcome, r.station, ROW_NUMBER() OVER (PARTITION BY r.serial, r.test"
        " ORDER BY r.started, r.id) AS n FROM runs r" +
        Where(bySerial, &values) + (bySerial.serial ? " AND" : " WHERE") +
        " r.outcome NOT IN ('error', 'interrupted')) AS f WHERE f.n = 1";
    FirstRun f;
    return Read(
        store_, sql, values,
        [&](const Columns& q) {
            q.Text(0, &f.serial);
            q.Text(1, &f.test);
            q.Text(2, &f.started);
            q.Text(3, &f.outcome);
            q.Text(4, &f.station);
            row(f);
        },
        error);
}

}  // namespace report
