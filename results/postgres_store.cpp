#include "postgres_store.h"

#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "server_schema.h"
#include "server_uri.h"

namespace results {

namespace {

using nlohmann::json;

constexpr const char* kInsertRuns =
    "INSERT INTO runs (uuid, station, software, serial, operator, test, cycles_planned,"
    " started, log_file)"
    " SELECT uuid, station, software, serial, operator, test, cycles_planned, started, log_file"
    " FROM jsonb_to_recordset($1::jsonb) AS r(uuid text, station text, software text,"
    " serial text, operator text, test text, cycles_planned integer, started text,"
    " log_file text)"
    " ON CONFLICT (uuid) DO NOTHING";
constexpr const char* kInsertMeasurements =
    "INSERT INTO measurements (run_id, seq, name, value, unit, low, high, outcome, cycle)"
    " SELECT r.id, m.seq, m.name, m.value, m.unit, m.low, m.high, m.outcome, m.cycle"
    " FROM jsonb_to_recordset($1::jsonb) AS m(run text, seq integer, name text,"
    " value double precision, unit text, low double precision, high double precision,"
    " outcome text, cycle integer)"
    " JOIN runs r ON r.uuid = m.run"
    " ON CONFLICT (run_id, seq) DO NOTHING";
constexpr const char* kInsertEvents =
    "INSERT INTO events (run_id, seq, at, cycle, motor, kind, text)"
    " SELECT r.id, e.seq, e.at, e.cycle, e.motor, e.kind, e.text"
    " FROM jsonb_to_recordset($1::jsonb) AS e(run text, seq integer, at text, cycle integer,"
    " motor text, kind text, text text)"
    " JOIN runs r ON r.uuid = e.run"
    " ON CONFLICT (run_id, seq) DO NOTHING";
// The same rules as the local file: progress never moves a finished run
// back; an end closes a run that was running or found interrupted.
constexpr const char* kProgress =
    "UPDATE runs SET cycles_done = $2, errors = $3 WHERE uuid = $1 AND outcome = 'running'";
constexpr const char* kEnd =
    "UPDATE runs SET ended = $2, outcome = $3, cycles_done = $4, errors = $5"
    " WHERE uuid = $1 AND outcome IN ('running', 'interrupted')";
constexpr const char* kInterrupted =
    "UPDATE runs SET outcome = 'interrupted' WHERE uuid = $1 AND outcome = 'running'";

using Params = std::vector<std::optional<std::string>>;

// PostgreSQL text holds no NUL character.
std::string Clean(const std::string& text) {
    if (text.find('\0') == std::string::npos) return text;
    std::string clean = text;
    std::erase(clean, '\0');
    return clean;
}

json Maybe(const std::optional<std::string>& v) {
    return v ? json(Clean(*v)) : json(nullptr);
}
template <typename T>
json Maybe(const std::optional<T>& v) {
    return v ? json(*v) : json(nullptr);
}

std::string Dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A shipment laid out as the statements that store it: new runs, then
// measurements and events, then the changes of state in their order.
struct Plan {
    json runs = json::array();
    json measurements = json::array();
    json events = json::array();
    std::vector<std::pair<const char*, Params>> states;
    // Consecutive progress of one run comes down to its last one: none of
    // them changes whether the next applies.
    std::map<std::string, std::size_t> lastProgress;

    void State(const std::string& run, const char* sql, Params params, bool isProgress) {
        if (isProgress) {
            if (auto it = lastProgress.find(run); it != lastProgress.end()) {
                states[it->second].second = std::move(params);
                return;
            }
            lastProgress[run] = states.size();
        } else {
            lastProgress.erase(run);
        }
        states.emplace_back(sql, std::move(params));
    }

    void Add(const Entry& entry) {
        if (const auto* r = std::get_if<RunStart>(&entry)) {
            runs.push_back({{"uuid", Clean(r->uuid)},
                            {"station", Clean(r->station)},
                            {"software", Clean(r->software)},
                            {"serial", Clean(r->serial)},
                            {"operator", Clean(r->operatorInitials)},
                            {"test", Clean(r->test)},
                            {"cycles_planned", r->cyclesPlanned},
                            {"started", Clean(r->started)},
                            {"log_file", Clean(r->logFile)}});
        } else if (const auto* m = std::get_if<Measurement>(&entry)) {
            measurements.push_back({{"run", Clean(m->run)},
                                    {"seq", m->seq},
                                    {"name", Clean(m->name)},
                                    {"value", m->value},
                                    {"unit", Maybe(m->unit)},
                                    {"low", Maybe(m->low)},
                                    {"high", Maybe(m->high)},
                                    {"outcome", Maybe(m->outcome)},
                                    {"cycle", Maybe(m->cycle)}});
        } else if (const auto* e = std::get_if<Event>(&entry)) {
            events.push_back({{"run", Clean(e->run)},
                              {"seq", e->seq},
                              {"at", Clean(e->at)},
                              {"cycle", Maybe(e->cycle)},
                              {"motor", Maybe(e->motor)},
                              {"kind", Clean(e->kind)},
                              {"text", Clean(e->text)}});
        } else if (const auto* p = std::get_if<RunProgress>(&entry)) {
            State(p->run, kProgress,
                  {p->run, std::to_string(p->cyclesDone), std::to_string(p->errors)}, true);
        } else {
            const auto& end = std::get<RunEnd>(entry);
            State(end.run, kEnd,
                  {end.run, Clean(end.ended), Clean(end.outcome), std::to_string(end.cyclesDone),
                   std::to_string(end.errors)},
                  false);
        }
    }

    void Add(const Outgoing& fact) {
        if (const auto* entry = std::get_if<Entry>(&fact)) {
            Add(*entry);
        } else {
            const auto& mark = std::get<RunInterrupted>(fact);
            State(mark.run, kInterrupted, {mark.run}, false);
        }
    }
};

}  // namespace

PostgresStore::PostgresStore(std::unique_ptr<PgConnection> connection, std::string address)
    : connection_(std::move(connection)), address_(std::move(address)) {}

std::unique_ptr<PostgresStore> PostgresStore::Open(const std::string& uri, Mode mode,
                                                   PgLimits limits, std::string* error,
                                                   OpenFailure* failure) {
    auto fail = [&](OpenFailure why, std::string text) -> std::unique_ptr<PostgresStore> {
        if (failure != nullptr) *failure = why;
        if (error != nullptr) *error = std::move(text);
        return nullptr;
    };
    std::string why;
    auto connection = PgConnection::Connect(uri, limits, &why);
    if (connection == nullptr) return fail(OpenFailure::Unreachable, why);
    std::unique_ptr<PostgresStore> store(
        new PostgresStore(std::move(connection), ServerAddress(uri)));
    PgConnection& c = *store->connection_;
    const SchemaCheck schema = CheckSchema(c);
    store->schemaVersion_ = schema.version;
    using State = SchemaCheck::State;
    if (schema.state == State::Unreadable) {
        return fail(c.Broken() ? OpenFailure::Unreachable : OpenFailure::Refused, schema.why);
    }
    if (schema.state == State::Missing) {
        return fail(OpenFailure::NoSchema, "no results store on this server");
    }
    if (mode == Mode::ReadWrite && schema.state != State::Current) {
        return fail(
            schema.state == State::Older ? OpenFailure::OldSchema : OpenFailure::NewerSchema,
            "the server's schema is " + std::to_string(schema.version) + ", this station's " +
                std::to_string(kServerSchemaVersion));
    }
    Rows rows;
    if (!c.Exec("SELECT session_user", {}, &rows, &why) || rows.size() != 1 || !rows[0][0]) {
        return fail(c.Broken() ? OpenFailure::Unreachable : OpenFailure::Refused, why);
    }
    store->login_ = *rows[0][0];
    if (mode == Mode::ReadOnly &&
        !c.Exec("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY", &why)) {
        return fail(OpenFailure::Unreachable, why);
    }
    return store;
}

bool PostgresStore::ApplyAll(std::span<const Outgoing> facts, std::string* error) {
    Plan plan;
    for (const Outgoing& fact : facts) plan.Add(fact);
    PgConnection& c = *connection_;
    auto bulk = [&](const char* sql, const json& rows) {
        if (rows.empty()) return true;
        const Params params = {Dump(rows)};
        return c.Exec(sql, params, nullptr, error);
    };
    bool ok = c.Exec("BEGIN", error) && bulk(kInsertRuns, plan.runs) &&
              bulk(kInsertMeasurements, plan.measurements) && bulk(kInsertEvents, plan.events);
    for (std::size_t i = 0; ok && i < plan.states.size(); ++i) {
        ok = c.Exec(plan.states[i].first, plan.states[i].second, nullptr, error);
    }
    ok = ok && c.Exec(std::string("NOTIFY ") + kChangeChannel, error) && c.Exec("COMMIT", error);
    if (!ok && !c.Broken()) c.Exec("ROLLBACK", nullptr);
    return ok;
}

bool PostgresStore::Apply(const Entry& entry, std::string* error) {
    const Outgoing fact = entry;
    return ApplyAll(std::span<const Outgoing>(&fact, 1), error);
}

bool PostgresStore::Query(const std::string& sql,
                          std::span<const std::optional<std::string>> params, Rows* rows,
                          std::string* error) {
    return connection_->Exec(sql, params, rows, error);
}

}  // namespace results
