#include "reader.h"

#include <sqlite3.h>

#include <vector>

namespace report {

namespace {

// A prepared statement that finalizes itself.
class Query {
  public:
    Query(sqlite3* db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Query() { sqlite3_finalize(stmt_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    void Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void Bind(int i, long long value) { sqlite3_bind_int64(stmt_, i, value); }

    // Steps through every row; false when the store fails part-way.
    template <typename Each>
    bool ForEach(Each each, std::string* error) {
        if (!Ok()) return Fail(error);
        int rc;
        while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) each();
        return rc == SQLITE_DONE || Fail(error);
    }

    std::string Text(int i) const {
        const auto* text = sqlite3_column_text(stmt_, i);
        return text == nullptr
                   ? std::string()
                   : std::string(reinterpret_cast<const char*>(text),
                                 static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)));
    }
    void Text(int i, std::string* out) const {
        const auto* text = sqlite3_column_text(stmt_, i);
        if (text == nullptr) {
            out->clear();
        } else {
            out->assign(reinterpret_cast<const char*>(text),
                        static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)));
        }
    }
    bool Null(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    std::optional<std::string> MaybeText(int i) const {
        if (Null(i)) return std::nullopt;
        return Text(i);
    }
    long long Int(int i) const { return sqlite3_column_int64(stmt_, i); }
    double Real(int i) const { return sqlite3_column_double(stmt_, i); }
    std::optional<double> MaybeReal(int i) const {
        if (Null(i)) return std::nullopt;
        return Real(i);
    }
    std::optional<int> MaybeInt(int i) const {
        if (Null(i)) return std::nullopt;
        return static_cast<int>(Int(i));
    }

  private:
    bool Fail(std::string* error) const {
        if (error != nullptr) *error = std::string("cannot read the store: ") + sqlite3_errmsg(db_);
        return false;
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// " WHERE ..." over the runs table (alias r) for the selection, and the
// values to bind in order.
std::string Where(const Selection& selection, std::vector<std::string>* values) {
    std::vector<std::string> terms;
    if (selection.serial) {
        terms.push_back("r.serial = ?");
        values->push_back(*selection.serial);
    }
    if (selection.test) {
        terms.push_back("r.test = ?");
        values->push_back(*selection.test);
    }
    if (selection.since) {
        terms.push_back("r.started >= ?");
        values->push_back(*selection.since);
    }
    std::string where;
    for (std::size_t i = 0; i < terms.size(); ++i)
        where += (i == 0 ? " WHERE " : " AND ") + terms[i];
    return where;
}

void BindAll(Query& query, const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) query.Bind(static_cast<int>(i) + 1, values[i]);
}

constexpr const char* kMeasurementColumns =
    "m.run_id, m.seq, m.name, m.value, m.unit, m.low, m.high, m.outcome, m.cycle";
constexpr const char* kEventColumns = "e.run_id, e.seq, e.at, e.cycle, e.motor, e.kind, e.text";

void ReadMeasurement(const Query& q, MeasurementRow* m) {
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

void ReadEvent(const Query& q, EventRow* e) {
    e->runId = q.Int(0);
    e->seq = static_cast<int>(q.Int(1));
    q.Text(2, &e->at);
    e->cycle = q.MaybeInt(3);
    e->motor = q.MaybeText(4);
    q.Text(5, &e->kind);
    q.Text(6, &e->text);
}

}  // namespace

bool StoreReader::Runs(const Selection& selection, const std::function<void(const RunRow&)>& row,
                       std::string* error) {
    std::vector<std::string> values;
    Query q(db_,
            "SELECT r.id, r.uuid, r.station, r.software, r.serial, r.operator, r.test,"
            " r.cycles_planned, r.cycles_done, r.started, r.ended, r.outcome, r.errors, r.log_file"
            " FROM runs r" +
                Where(selection, &values) + " ORDER BY r.started, r.id");
    BindAll(q, values);
    RunRow r;
    return q.ForEach(
        [&] {
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
    std::vector<std::string> values;
    const std::string where = Where(selection, &values);
    // All runs: no join to look each row's run up.
    Query q(db_, std::string("SELECT ") + kMeasurementColumns + " FROM measurements m" +
                     (where.empty() ? "" : " JOIN runs r ON r.id = m.run_id" + where));
    BindAll(q, values);
    MeasurementRow m;
    return q.ForEach(
        [&] {
            ReadMeasurement(q, &m);
            row(m);
        },
        error);
}

bool StoreReader::Events(const Selection& selection,
                         const std::function<void(const EventRow&)>& row, std::string* error) {
    std::vector<std::string> values;
    const std::string where = Where(selection, &values);
    Query q(db_, std::string("SELECT ") + kEventColumns + " FROM events e" +
                     (where.empty() ? "" : " JOIN runs r ON r.id = e.run_id" + where));
    BindAll(q, values);
    EventRow e;
    return q.ForEach(
        [&] {
            ReadEvent(q, &e);
            row(e);
        },
        error);
}

bool StoreReader::MeasurementsOfRun(long long runId,
                                    const std::function<void(const MeasurementRow&)>& row,
                                    std::string* error) {
    Query q(db_, std::string("SELECT ") + kMeasurementColumns +
                     " FROM measurements m WHERE m.run_id = ?1 ORDER BY m.seq");
    q.Bind(1, runId);
    MeasurementRow m;
    return q.ForEach(
        [&] {
            ReadMeasurement(q, &m);
            row(m);
        },
        error);
}

bool StoreReader::EventsOfRun(long long runId, const std::function<void(const EventRow&)>& row,
                              std::string* error) {
    Query q(db_, std::string("SELECT ") + kEventColumns +
                     " FROM events e WHERE e.run_id = ?1 ORDER BY e.seq");
    q.Bind(1, runId);
    EventRow e;
    return q.ForEach(
        [&] {
            ReadEvent(q, &e);
            row(e);
        },
        error);
}

bool StoreReader::FirstRuns(const std::optional<std::string>& serial,
                            const std::function<void(const FirstRun&)>& row, std::string* error) {
    Selection bySerial;
    bySerial.serial = serial;
    std::vector<std::string> values;
    Query q(db_,
            "SELECT serial, test, started, outcome FROM (SELECT r.serial, r.test, r.started,"
            " r.outcome, ROW_NUMBER() OVER (PARTITION BY r.serial, r.test ORDER BY r.started, r.id)"
            " AS n FROM runs r" +
                Where(bySerial, &values) + ") WHERE n = 1");
    BindAll(q, values);
    FirstRun f;
    return q.ForEach(
        [&] {
            q.Text(0, &f.serial);
            q.Text(1, &f.test);
            q.Text(2, &f.started);
            q.Text(3, &f.outcome);
            row(f);
        },
        error);
}

}  // namespace report
