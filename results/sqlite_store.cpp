#include "sqlite_store.h"

#include "aggregate_schema.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <array>
#include <string_view>

#include "heartbeat_sql.h"

namespace results {

namespace {

// Each step takes the file from version i to i + 1; a newer station runs the
// steps an older file has not seen, in one transaction each.
constexpr std::array<const char*, kSchemaVersion> kMigrations = {
    // 1: the record.
    "CREATE TABLE runs ("
    " id INTEGER PRIMARY KEY,"
    " uuid TEXT NOT NULL UNIQUE,"
    " station TEXT NOT NULL,"
    " software TEXT NOT NULL,"
    " serial TEXT NOT NULL,"
    " operator TEXT NOT NULL,"
    " test TEXT NOT NULL,"
    " cycles_planned INTEGER NOT NULL,"
    " cycles_done INTEGER NOT NULL DEFAULT 0,"
    " started TEXT NOT NULL,"
    " ended TEXT,"
    " outcome TEXT NOT NULL DEFAULT 'running',"
    " errors INTEGER NOT NULL DEFAULT 0,"
    " log_file TEXT NOT NULL);"
    "CREATE TABLE measurements ("
    " run_id INTEGER NOT NULL REFERENCES runs(id),"
    " seq INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " value REAL NOT NULL,"
    " unit TEXT,"
    " low REAL,"
    " high REAL,"
    " outcome TEXT,"
    " cycle INTEGER,"
    " PRIMARY KEY (run_id, seq));"
    "CREATE TABLE events ("
    " run_id INTEGER NOT NULL REFERENCES runs(id),"
    " seq INTEGER NOT NULL,"
    " at TEXT NOT NULL,"
    " cycle INTEGER,"
    " motor TEXT,"
    " kind TEXT NOT NULL,"
    " text TEXT NOT NULL,"
    " PRIMARY KEY (run_id, seq));",
    // 2: lookups by unit, by day and by station for the reports. A run's
    // measurements are found through its key (run_id, seq).
    "CREATE INDEX runs_serial ON runs(serial, started);"
    "CREATE INDEX runs_started ON runs(started);"
    "CREATE INDEX runs_station ON runs(station, outcome);",
    // 3: the outbox, what is still to be shipped to the shared server.
    "CREATE TABLE outbox ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " fact TEXT NOT NULL);",
    // 4: the figures of all measurements, kept as rows arrive.
    kSqliteAggregates,
};

// Stations before this one also indexed the measurements by name. No reader
// of the store looks a measurement up by name alone, and keeping that index
// cost the writer as much as the rows themselves while a test ran (each of a
// cycle's names lands on a page of its own), so a station drops it when it
// opens such a file. The shared server keeps its index: there engineers
// search a whole line's measurements.
constexpr const char* kDropNameIndex = "DROP INDEX IF EXISTS measurements_name;";

constexpr const char* kUnknownRun = "fact of an unknown run";

std::string Message(sqlite3* db, std::string_view what) {
    std::string text(what);
    text += ": ";
    text += db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    return text;
}

class Statement {
  public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    bool Prepare(sqlite3* db, const char* sql) {
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) ==
               SQLITE_OK;
    }
    // The text is not copied: it must stay as it is until the statement has
    // been stepped and reset.
    Statement& Text(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
        return *this;
    }
    Statement& Int(int i, long long v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& Real(int i, double v) {
        sqlite3_bind_double(stmt_, i, v);
        return *this;
    }
    template <typename T>
    Statement& Maybe(int i, const std::optional<T>& v) {
        if (!v) {
            sqlite3_bind_null(stmt_, i);
        } else if constexpr (std::is_same_v<T, std::string>) {
            Text(i, *v);
        } else if constexpr (std::is_same_v<T, double>) {
            Real(i, *v);
        } else {
            Int(i, *v);
        }
        return *this;
    }
    // Runs the statement to its end; SQLITE_DONE or SQLITE_ROW on success.
    int Step() {
        const int rc = sqlite3_step(stmt_);
        return rc;
    }
    long long ColumnInt(int i) const { return sqlite3_column_int64(stmt_, i); }
    std::string_view ColumnText(int i) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return text != nullptr ? std::string_view(text, sqlite3_column_bytes(stmt_, i))
                               : std::string_view();
    }
    // Also unbinds every value, so that no text bound stays referenced.
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Measurements come many at a time (a cycle of an endurance test gives
// eight): one statement inserting this many rows costs the writer a third
// less than as many statements of one row each.
constexpr std::size_t kRowsAtOnce = 16;
constexpr int kMeasurementColumns = 9;

std::string InsertMeasurementsSql(std::size_t rows) {
    std::string sql =
        "INSERT OR IGNORE INTO measurements (run_id, seq, name, value, unit, low, high,"
        " outcome, cycle) VALUES ";
    for (std::size_t row = 0; row < rows; ++row) {
        sql += row == 0 ? "(" : ", (";
        for (int column = 1; column <= kMeasurementColumns; ++column) {
            sql += '?';
            sql += std::to_string(row * kMeasurementColumns + column);
            sql += column < kMeasurementColumns ? ", " : ")";
        }
    }
    return sql;
}

// Binds one measurement to the columns from `first` on.
void BindMeasurement(Statement& st, int first, long long runId, const Measurement& m) {
    st.Int(first, runId)
        .Int(first + 1, m.seq)
        .Text(first + 2, m.name)
        .Real(first + 3, m.value)
        .Maybe(first + 4, m.unit)
        .Maybe(first + 5, m.low)
        .Maybe(first + 6, m.high)
        .Maybe(first + 7, m.outcome)
        .Maybe(first + 8, m.cycle);
}

// How many of the entries from `i` on are measurements, up to kRowsAtOnce.
std::size_t MeasurementsFrom(std::span<const Entry> entries, std::size_t i) {
    std::size_t n = 0;
    while (i + n < entries.size() && n < kRowsAtOnce &&
           std::holds_alternative<Measurement>(entries[i + n])) {
        ++n;
    }
    return n;
}

}  // namespace

struct SqliteStore::Statements {
    Statement insertRun;
    Statement runId;
    Statement insertMeasurement;
    Statement insertMeasurements;  // kRowsAtOnce rows
    Statement insertEvent;
    Statement progress;
    Statement end;
    Statement interrupted;
    Statement queueInterrupted;
    Statement queue;
    Statement readOutbox;
    Statement dropOutbox;
    Statement outboxSize;
    Statement beat;
    // The last run looked up: facts come in runs, so one entry is enough.
    std::string cachedUuid;
    long long cachedId = 0;
};

SqliteStore::SqliteStore(sqlite3* db, std::string path)
    : db_(db), path_(std::move(path)), statements_(std::make_unique<Statements>()) {}

SqliteStore::~SqliteStore() {
    statements_.reset();
    // A file that is no longer at its path is closed without a checkpoint,
    // which would otherwise remove the log and shared memory at the path.
    if (!abandoned_ && !StillAtPath()) {
        int on = 1;
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &on);
    }
    sqlite3_close_v2(db_);
}

namespace {

bool Identity(const std::string& path, unsigned long long* dev, unsigned long long* ino) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    *dev = st.st_dev;
    *ino = st.st_ino;
    return true;
}

}  // namespace

void SqliteStore::NoteIdentity() {
    if (!Identity(path_, &dev_, &ino_)) dev_ = ino_ = 0;
    if (!Identity(path_ + "-wal", &walDev_, &walIno_)) walDev_ = walIno_ = 0;
}

bool SqliteStore::StillAtPath() const {
    if (ino_ == 0) return true;  // an in-memory or unnamed store
    unsigned long long dev = 0, ino = 0;
    return Identity(path_, &dev, &ino) && dev == dev_ && ino == ino_;
}

void SqliteStore::Abandon() {
    if (abandoned_) return;
    abandoned_ = true;
    statements_.reset();
    unsigned long long dev = 0, ino = 0;
    const bool ownLog = walIno_ != 0 && Identity(path_ + "-wal", &dev, &ino) && dev == walDev_ &&
                        ino == walIno_;
    if (ownLog) {
        // The frames are this file's own: back into it, and the log emptied.
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }
    int on = 1;
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &on);
}

bool SqliteStore::Exec(const char* sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    if (error != nullptr) *error = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
}

void SqliteStore::SetBusyTimeout(int ms) {
    sqlite3_busy_timeout(db_, ms);
}

std::unique_ptr<SqliteStore> SqliteStore::Open(const std::string& path, Mode mode,
                                               int busyTimeoutMs, std::string* error) {
    // Memory statistics cost a lock on each of SQLite's allocations, and
    // nothing reads them. This can only be set before SQLite's first use in
    // the process; later it fails and changes nothing.
    [[maybe_unused]] static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3* db = nullptr;
    const int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY
                                              : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                      SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        if (error != nullptr) *error = Message(db, "cannot open");
        sqlite3_close_v2(db);
        return nullptr;
    }
    std::unique_ptr<SqliteStore> store(new SqliteStore(db, path));
    store->SetBusyTimeout(busyTimeoutMs);
    std::string why;
    // Reading the version touches the file: a file that is not a database
    // fails here rather than half-way through a run.
    int version = -1;
    {
        Statement read;
        if (!read.Prepare(db, "PRAGMA user_version") || read.Step() != SQLITE_ROW) {
            if (error != nullptr) *error = Message(db, "not a results store");
            return nullptr;
        }
        version = static_cast<int>(read.ColumnInt(0));
    }
    if (version > kSchemaVersion) {
        if (error != nullptr) {
            *error = "written by a newer station (schema " + std::to_string(version) + ")";
        }
        return nullptr;
    }
    if (mode == Mode::ReadOnly) {
        if (version < kSchemaVersion) {
            if (error != nullptr) *error = "not a results store of this version";
            return nullptr;
        }
        return store;
    }
    if (!store->Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;",
                     &why)) {
        if (error != nullptr) *error = "cannot set up: " + why;
        return nullptr;
    }
    for (int v = version; v < kSchemaVersion; ++v) {
        const std::string step = std::string("BEGIN IMMEDIATE;") + kMigrations[v] +
                                 "PRAGMA user_version=" + std::to_string(v + 1) + ";COMMIT;";
        if (!store->Exec(step.c_str(), &why)) {
            store->Exec("ROLLBACK", nullptr);
            if (error != nullptr)
                *error = "cannot migrate to schema " + std::to_string(v + 1) + ": " + why;
            return nullptr;
        }
    }
    // Not being able to drop it now (another program holds the file) costs
    // only time: the index goes at a later open.
    store->Exec(kDropNameIndex, nullptr);
    // Beats keep a table of their own beside the versioned ones: a store
    // without it is read as one that has heard no beat.
    if (!store->Exec(kHeartbeatsTableSqlite, &why)) {
        if (error != nullptr) *error = "cannot set up: " + why;
        return nullptr;
    }
    Statements& s = *store->statements_;
    const bool prepared =
        s.insertRun.Prepare(db,
                            "INSERT OR IGNORE INTO runs (uuid, station, software, serial, operator,"
                            " test, cycles_planned, started, log_file)"
                            " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)") &&
        s.runId.Prepare(db, "SELECT id FROM runs WHERE uuid = ?1") &&
        s.insertMeasurement.Prepare(db,
                                    "INSERT OR IGNORE INTO measurements (run_id, seq, name, value,"
                                    " unit, low, high, outcome, cycle)"
                                    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)") &&
        s.insertMeasurements.Prepare(db, InsertMeasurementsSql(kRowsAtOnce).c_str()) &&
        s.insertEvent.Prepare(db,
                              "INSERT OR IGNORE INTO events (run_id, seq, at, cycle, motor, kind,"
                              " text) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)") &&
        // Progress never moves a finished run back; an end closes a run that
        // was running or found interrupted (its end was stored late).
        s.progress.Prepare(db,
                           "UPDATE runs SET cycles_done = ?2, errors = ?3"
                           " WHERE uuid = ?1 AND outcome = 'running'") &&
        s.end.Prepare(db,
                      "UPDATE runs SET ended = ?2, outcome = ?3, cycles_done = ?4, errors = ?5"
                      " WHERE uuid = ?1 AND outcome IN ('running', 'interrupted')") &&
        s.interrupted.Prepare(db,
                              "UPDATE runs SET outcome = 'interrupted'"
                              " WHERE station = ?1 AND outcome = 'running'") &&
        s.queueInterrupted.Prepare(db,
                                   "INSERT INTO outbox (fact)"
                                   " SELECT json_object('type', 'interrupted', 'run', uuid)"
                                   " FROM runs WHERE station = ?1 AND outcome = 'running'"
                                   " ORDER BY id") &&
        s.queue.Prepare(db, "INSERT INTO outbox (fact) VALUES (?1)") &&
        s.readOutbox.Prepare(db, "SELECT id, fact FROM outbox ORDER BY id LIMIT ?1") &&
        s.dropOutbox.Prepare(db, "DELETE FROM outbox WHERE id <= ?1") &&
        s.outboxSize.Prepare(db, "SELECT count(*) FROM outbox") &&
        s.beat.Prepare(db, kUpsertBeatSqlite);
    if (!prepared) {
        if (error != nullptr) *error = Message(db, "not a results store");
        return nullptr;
    }
    store->NoteIdentity();
    return store;
}

bool SqliteStore::RunId(const std::string& uuid, long long* id, std::string* error) {
    Statements& s = *statements_;
    if (uuid == s.cachedUuid && s.cachedId != 0) {
        *id = s.cachedId;
        return true;
    }
    s.runId.Text(1, uuid);
    const int rc = s.runId.Step();
    const long long found = rc == SQLITE_ROW ? s.runId.ColumnInt(0) : 0;
    s.runId.Reset();
    if (found == 0) {
        if (error != nullptr) *error = rc == SQLITE_DONE ? kUnknownRun : sqlite3_errmsg(db_);
        return false;
    }
    s.cachedUuid = uuid;
    s.cachedId = found;
    *id = found;
    return true;
}

bool SqliteStore::InsertMeasurements(std::span<const Entry> entries, std::string* error) {
    Statement& insert = statements_->insertMeasurements;
    int first = 1;
    for (const Entry& entry : entries) {
        const auto& m = std::get<Measurement>(entry);
        long long id = 0;
        if (!RunId(m.run, &id, error)) {
            insert.Reset();
            return false;
        }
        BindMeasurement(insert, first, id, m);
        first += kMeasurementColumns;
    }
    const int rc = insert.Step();
    insert.Reset();
    if (rc == SQLITE_DONE) return true;
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    return false;
}

bool SqliteStore::ApplyOne(const Entry& entry, std::string* error) {
    Statements& s = *statements_;
    auto finish = [&](Statement& st) {
        const int rc = st.Step();
        st.Reset();
        if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
        if (error != nullptr) *error = sqlite3_errmsg(db_);
        return false;
    };
    if (const auto* r = std::get_if<RunStart>(&entry)) {
        s.insertRun.Text(1, r->uuid)
            .Text(2, r->station)
            .Text(3, r->software)
            .Text(4, r->serial)
            .Text(5, r->operatorInitials)
            .Text(6, r->test)
            .Int(7, r->cyclesPlanned)
            .Text(8, r->started)
            .Text(9, r->logFile);
        return finish(s.insertRun);
    }
    if (const auto* m = std::get_if<Measurement>(&entry)) {
        long long id = 0;
        if (!RunId(m->run, &id, error)) return false;
        BindMeasurement(s.insertMeasurement, 1, id, *m);
        return finish(s.insertMeasurement);
    }
    if (const auto* e = std::get_if<Event>(&entry)) {
        long long id = 0;
        if (!RunId(e->run, &id, error)) return false;
        s.insertEvent.Int(1, id)
            .Int(2, e->seq)
            .Text(3, e->at)
            .Maybe(4, e->cycle)
            .Maybe(5, e->motor)
            .Text(6, e->kind)
            .Text(7, e->text);
        return finish(s.insertEvent);
    }
    if (const auto* p = std::get_if<RunProgress>(&entry)) {
        s.progress.Text(1, p->run).Int(2, p->cyclesDone).Int(3, p->errors);
        return finish(s.progress);
    }
    if (const auto* b = std::get_if<StationBeat>(&entry)) {
        s.beat.Text(1, b->station).Text(2, b->seen).Text(3, b->state).Text(4, b->run);
        return finish(s.beat);
    }
    const auto& end = std::get<RunEnd>(entry);
    s.end.Text(1, end.run)
        .Text(2, end.ended)
        .Text(3, end.outcome)
        .Int(4, end.cyclesDone)
        .Int(5, end.errors);
    return finish(s.end);
}

bool SqliteStore::Queue(const Outgoing& fact, std::string* error) {
    Statement& queue = statements_->queue;
    const std::string json = OutgoingToJson(fact);
    queue.Text(1, json);
    const int rc = queue.Step();
    queue.Reset();
    if (rc == SQLITE_DONE) return true;
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    return false;
}

bool SqliteStore::Apply(const Entry& entry, std::string* error) {
    // Outside a transaction each statement commits by itself.
    if (!shipping_) return ApplyOne(entry, error);
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    if (ApplyOne(entry, error) && Queue(entry, error) && Exec("COMMIT", error)) return true;
    Exec("ROLLBACK", nullptr);
    statements_->cachedUuid.clear();
    return false;
}

bool SqliteStore::ApplyAll(std::span<const Entry> entries, std::string* error, bool skipOrphans) {
    // In a group a savepoint keeps this whole apart from the others.
    const bool grouped = sqlite3_get_autocommit(db_) == 0;
    if (!Exec(grouped ? "SAVEPOINT apply_all" : "BEGIN IMMEDIATE", error)) return false;
    const auto undo = [&] {
        Exec(grouped ? "ROLLBACK TO apply_all; RELEASE apply_all" : "ROLLBACK", nullptr);
        statements_->cachedUuid.clear();
    };
    const auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        undo();
        return false;
    };
    for (std::size_t i = 0; i < entries.size();) {
        // A full row of measurements goes in as one statement. When one of
        // them belongs to a run the store does not know, the row goes in one
        // by one, which can leave that one out.
        const std::size_t n = MeasurementsFrom(entries, i);
        const std::span<const Entry> group = entries.subspan(i, n == kRowsAtOnce ? n : 1);
        i += group.size();
        std::string why;
        const bool together = group.size() > 1 && InsertMeasurements(group, &why);
        if (group.size() > 1 && !together && why != kUnknownRun) return fail(why);
        for (const Entry& entry : group) {
            if (!together && !ApplyOne(entry, &why)) {
                if (skipOrphans && why == kUnknownRun) continue;
                return fail(why);
            }
            if (shipping_ && !Queue(entry, &why)) return fail(why);
        }
    }
    if (!Exec(grouped ? "RELEASE apply_all" : "COMMIT", error)) {
        undo();
        return false;
    }
    return true;
}

bool SqliteStore::BeginGroup(std::string* error) {
    return Exec("BEGIN IMMEDIATE", error);
}

bool SqliteStore::CommitGroup(std::string* error) {
    if (Exec("COMMIT", error)) return true;
    Exec("ROLLBACK", nullptr);
    statements_->cachedUuid.clear();
    return false;
}

int SqliteStore::MarkInterrupted(const std::string& station, std::string* error) {
    Statements& s = *statements_;
    auto run = [&](Statement& st) {
        st.Text(1, station);
        const int rc = st.Step();
        st.Reset();
        if (rc == SQLITE_DONE) return true;
        if (error != nullptr) *error = sqlite3_errmsg(db_);
        return false;
    };
    if (!shipping_) return run(s.interrupted) ? sqlite3_changes(db_) : -1;
    if (!Exec("BEGIN IMMEDIATE", error)) return -1;
    int changed = -1;
    if (run(s.queueInterrupted) && run(s.interrupted)) changed = sqlite3_changes(db_);
    if (changed < 0 || !Exec("COMMIT", error)) {
        Exec("ROLLBACK", nullptr);
        return -1;
    }
    return changed;
}

bool SqliteStore::ReadOutbox(int limit, std::vector<OutboxRow>* rows, long long* lastId,
                             std::string* error) {
    Statement& read = statements_->readOutbox;
    rows->clear();
    *lastId = 0;
    read.Int(1, limit);
    int rc;
    while ((rc = read.Step()) == SQLITE_ROW) {
        *lastId = read.ColumnInt(0);
        // A row that does not parse was not written by a station; it is
        // passed over, and dropped with the rows around it.
        if (auto fact = OutgoingFromJson(read.ColumnText(1))) {
            rows->push_back(OutboxRow{*lastId, std::move(*fact)});
        }
    }
    read.Reset();
    if (rc == SQLITE_DONE) return true;
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    rows->clear();
    *lastId = 0;
    return false;
}

bool SqliteStore::DropOutbox(long long lastId, std::string* error) {
    Statement& drop = statements_->dropOutbox;
    drop.Int(1, lastId);
    const int rc = drop.Step();
    drop.Reset();
    if (rc == SQLITE_DONE) return true;
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    return false;
}

long long SqliteStore::OutboxSize(std::string* error) {
    Statement& size = statements_->outboxSize;
    const int rc = size.Step();
    const long long count = rc == SQLITE_ROW ? size.ColumnInt(0) : -1;
    size.Reset();
    if (count < 0 && error != nullptr) *error = sqlite3_errmsg(db_);
    return count;
}

namespace {

std::optional<std::string> TextOr(sqlite3_stmt* st, int i) {
    if (sqlite3_column_type(st, i) == SQLITE_NULL) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                       sqlite3_column_bytes(st, i));
}
std::optional<double> RealOr(sqlite3_stmt* st, int i) {
    if (sqlite3_column_type(st, i) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(st, i);
}
std::optional<int> IntOr(sqlite3_stmt* st, int i) {
    if (sqlite3_column_type(st, i) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int(st, i);
}
std::string TextAt(sqlite3_stmt* st, int i) {
    return TextOr(st, i).value_or(std::string());
}

// Runs `sql` with the text `key` bound to ?1 and hands each row to `row`.
template <typename RowFn>
bool EachRow(sqlite3* db, const char* sql, const std::string& key, long long id, RowFn row,
             std::string* error) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        if (error != nullptr) *error = sqlite3_errmsg(db);
        return false;
    }
    if (id != 0) {
        sqlite3_bind_int64(st, 1, id);
    } else {
        sqlite3_bind_text(st, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
    sqlite3_finalize(st);
    if (rc == SQLITE_DONE) return true;
    if (error != nullptr) *error = sqlite3_errmsg(db);
    return false;
}

}  // namespace

bool SqliteStore::ReadRun(const std::string& uuid, std::vector<Entry>* entries,
                          std::string* error) {
    long long id = 0;
    RunStart start;
    RunEnd end;
    std::string outcome;
    const bool read = EachRow(
        db_,
        "SELECT id, station, software, serial, operator, test, cycles_planned, started,"
        " log_file, cycles_done, ended, outcome, errors FROM runs WHERE uuid = ?1",
        uuid, 0,
        [&](sqlite3_stmt* st) {
            id = sqlite3_column_int64(st, 0);
            start = RunStart{uuid,           TextAt(st, 1), TextAt(st, 2),
                             TextAt(st, 3),  TextAt(st, 4), TextAt(st, 5),
                             sqlite3_column_int(st, 6), TextAt(st, 7), TextAt(st, 8)};
            end = RunEnd{uuid, TextAt(st, 10), TextAt(st, 11), sqlite3_column_int(st, 9),
                         sqlite3_column_int(st, 12)};
        },
        error);
    if (!read) return false;
    if (id == 0) return true;
    std::vector<Entry> facts;
    facts.push_back(start);
    const bool measured = EachRow(
        db_,
        "SELECT seq, name, value, unit, low, high, outcome, cycle FROM measurements"
        " WHERE run_id = ?1 ORDER BY seq",
        {}, id,
        [&](sqlite3_stmt* st) {
            facts.push_back(Measurement{uuid, sqlite3_column_int(st, 0), TextAt(st, 1),
                                        sqlite3_column_double(st, 2), TextOr(st, 3),
                                        RealOr(st, 4), RealOr(st, 5), TextOr(st, 6),
                                        IntOr(st, 7)});
        },
        error);
    const bool noted = measured && EachRow(
        db_,
        "SELECT seq, at, cycle, motor, kind, text FROM events WHERE run_id = ?1 ORDER BY seq",
        {}, id,
        [&](sqlite3_stmt* st) {
            facts.push_back(Event{uuid, sqlite3_column_int(st, 0), TextAt(st, 1), IntOr(st, 2),
                                  TextOr(st, 3), TextAt(st, 4), TextAt(st, 5)});
        },
        error);
    if (!noted) return false;
    if (end.outcome == kRunning || end.outcome == kInterrupted) {
        facts.push_back(RunProgress{uuid, end.cyclesDone, end.errors});
    } else {
        facts.push_back(end);
    }
    entries->insert(entries->end(), std::make_move_iterator(facts.begin()),
                    std::make_move_iterator(facts.end()));
    return true;
}

}  // namespace results
