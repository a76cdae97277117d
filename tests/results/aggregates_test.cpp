// The figures the stores keep of all measurements, against the same figures
// worked out here directly from the measurement rows: for a table of stores
// (empty, one value, limits on one side only, limits that change, a name
// whose latest values wrap round) written by each writer (the station's
// store, plain SQL, rows there before the figures were kept; on the server
// the shipper, plain SQL and COPY).
#include <sqlite3.h>

#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "aggregate_schema.h"
#include "pg_connection.h"
#include "pg_logins.h"
#include "pg_server.h"
#include "postgres_store.h"
#include "results_fixture.h"
#include "results_reader.h"
#include "sqlite_store.h"

namespace {

using namespace results;

// One store's content, as facts.
struct Dataset {
    const char* name;
    std::vector<RunStart> runs;
    std::vector<Measurement> measurements;
};

RunStart MakeRun(const std::string& uuid, const std::string& station, const std::string& test,
                 const std::string& started) {
    RunStart run;
    run.uuid = uuid;
    run.station = station;
    run.software = "3.0.0";
    run.serial = "HND" + uuid;
    run.operatorInitials = "JD";
    run.test = test;
    run.cyclesPlanned = 10;
    run.started = started;
    run.logFile = "x.txt";
    return run;
}

Measurement Fact(const std::string& run, int seq, const std::string& name, double value,
                 std::optional<double> low = {}, std::optional<double> high = {}) {
    return Measurement{run, seq, name, value, "mm", low, high, std::nullopt, seq};
}

std::vector<Dataset> Datasets() {
    std::vector<Dataset> sets;
    sets.push_back({"empty", {MakeRun("a", "s1", "Multi-Axis", "2026-12-01T08:00:00.000Z")}, {}});
    sets.push_back({"one value",
                    {MakeRun("a", "s1", "Multi-Axis", "2026-12-01T08:00:00.000Z")},
                    {Fact("a", 1, "F1 closed", 15123.5, 15100.0, 15300.0)}});
    {
        Dataset d{"limits on one side only", {}, {}};
        d.runs = {MakeRun("a", "s1", "Fingerprint", "2026-12-01T08:00:00.000Z"),
                  MakeRun("b", "s2", "Fingerprint", "2026-12-01T09:00:00.000Z")};
        const double lows[] = {0.5, 0.4, 0.61, 0.0, -0.2};
        for (int i = 0; i < 5; ++i) {
            d.measurements.push_back(Fact("a", i + 1, "low only", lows[i], 0.45, std::nullopt));
            d.measurements.push_back(
                Fact("b", i + 1, "high only", 100 + i * 7.5, std::nullopt, 115.0));
        }
        sets.push_back(std::move(d));
    }
    {
        Dataset d{"limits that change", {}, {}};
        d.runs = {MakeRun("a", "s1", "Multi-Axis", "2026-12-01T08:00:00.000Z"),
                  MakeRun("b", "s1", "Multi-Axis", "2026-12-01T23:59:00.000Z"),
                  MakeRun("c", "s1", "Multi-Axis", "2026-12-02T00:01:00.000Z"),
                  MakeRun("d", "s2", "Multi-Axis", "2026-12-02T10:00:00.000Z")};
        int seq = 0;
        for (const char* run : {"a", "b", "c", "d"}) {
            for (int i = 0; i < 6; ++i) {
                const double v = 15100 + 37.0 * ((i * 7 + seq) % 11) - 60;
                const bool tight = std::string(run) >= "c";
                d.measurements.push_back(Fact(run, ++seq, "F2 closed", v, tight ? 15100.0 : 15000.0,
                                              tight ? 15300.0 : 15400.0));
            }
            // A value with no limits leaves the latest limits as they were.
            d.measurements.push_back(Fact(run, ++seq, "F2 closed", 15150.0));
        }
        sets.push_back(std::move(d));
    }
    {
        // More values of one name than the latest are kept, from two
        // stations interleaved, two tests, zero and negative values.
        Dataset d{"latest values wrap round", {}, {}};
        for (int r = 0; r < 6; ++r) {
            d.runs.push_back(MakeRun("r" + std::to_string(r), r % 2 == 0 ? "s1" : "s2",
                                     r < 4 ? "Multi-Axis" : "After-Freezer",
                                     "2026-12-0" + std::to_string(1 + r / 2) + "T10:00:00.000Z"));
            for (int i = 0; i < 300; ++i) {
                const double v = std::sin(i * 0.37 + r) * 40.0 - (i % 17 == 0 ? 80 : 0);
                d.measurements.push_back(Fact("r" + std::to_string(r), 2 * i + 1, "F1 open",
                                              i == 5 ? 0.0 : v, -50.0, 50.0));
                d.measurements.push_back(
                    Fact("r" + std::to_string(r), 2 * i + 2, "Temperature", 30 + i % 9));
            }
        }
        sets.push_back(std::move(d));
    }
    return sets;
}

// ---- the figures worked out directly from the rows ----

using GroupKey = std::tuple<std::string, std::string, std::string, std::string>;
struct Group {
    long long n = 0, outOfSpec = 0, ranges = 0;
    double total = 0, squares = 0, least = INFINITY, most = -INFINITY, rangeTotal = 0;
    std::optional<double> low, high;
    std::optional<long long> limitsRun;
};
struct Figures {
    std::map<GroupKey, Group> groups;
    std::map<std::tuple<std::string, std::string, double>, long long> bins;
    std::map<std::string, long long> names;
    std::map<std::pair<std::string, long long>, std::tuple<long long, long long, double>> latest;
};

double Real(const std::optional<std::string>& text) {
    return text ? std::stod(*text) : NAN;
}
std::optional<double> MaybeReal(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return std::stod(*text);
}

bool Rows(ResultsReader& reader, const std::string& sql, Rows* rows) {
    std::string error;
    rows->clear();
    const bool ok = reader.Query(sql, {}, rows, &error);
    EXPECT_TRUE(ok) << error << "\n" << sql;
    return ok;
}

// A running run's rows count once it is over; `running`: count them now.
Figures Direct(ResultsReader& reader, bool running) {
    Figures f;
    results::Rows rows;
    Rows(reader,
         std::string("SELECT m.name, r.test, r.station, substr(r.started, 1, 10), m.run_id,"
                     " m.seq, m.value, m.low, m.high FROM measurements m JOIN runs r"
                     " ON r.id = m.run_id") +
             (running ? "" : " WHERE r.outcome <> 'running'") + " ORDER BY m.run_id, m.seq",
         &rows);
    std::map<std::tuple<std::string, std::string, std::string>, double> last;
    std::map<std::string, std::vector<std::tuple<long long, long long, double>>> byName;
    for (const Row& row : rows) {
        const double v = Real(row[6]);
        if (!std::isfinite(v)) continue;
        const auto low = MaybeReal(row[7]), high = MaybeReal(row[8]);
        const long long run = std::stoll(*row[4]);
        Group& g = f.groups[{*row[0], *row[1], *row[2], *row[3]}];
        ++g.n;
        g.total += v;
        g.squares += v * v;
        g.least = std::min(g.least, v);
        g.most = std::max(g.most, v);
        if ((low && v < *low) || (high && v > *high)) ++g.outOfSpec;
        if (low || high) {
            g.low = low;
            g.high = high;
            g.limitsRun = run;
        }
        const auto stream = std::make_tuple(*row[0], *row[1], *row[2]);
        if (auto it = last.find(stream); it != last.end()) {
            ++g.ranges;
            g.rangeTotal += std::fabs(v - it->second);
        }
        last[stream] = v;
        ++f.bins[{*row[0], *row[3], BinOf(v)}];
        ++f.names[*row[0]];
        byName[*row[0]].emplace_back(run, std::stoll(*row[5]), v);
    }
    for (const auto& [name, values] : byName) {
        const std::size_t from = values.size() > kLatestValues ? values.size() - kLatestValues : 0;
        for (std::size_t k = from; k < values.size(); ++k)
            f.latest[{name, static_cast<long long>(k % kLatestValues)}] = values[k];
    }
    return f;
}

Figures Kept(ResultsReader& reader) {
    Figures f;
    results::Rows rows;
    Rows(reader,
         "SELECT name, test, station, day, n, total, squares, least, most, out_of_spec, ranges,"
         " range_total, low, high, limits_run FROM measurement_stats",
         &rows);
    for (const Row& row : rows) {
        Group& g = f.groups[{*row[0], *row[1], *row[2], *row[3]}];
        g.n = std::stoll(*row[4]);
        g.total = Real(row[5]);
        g.squares = Real(row[6]);
        g.least = Real(row[7]);
        g.most = Real(row[8]);
        g.outOfSpec = std::stoll(*row[9]);
        g.ranges = std::stoll(*row[10]);
        g.rangeTotal = Real(row[11]);
        g.low = MaybeReal(row[12]);
        g.high = MaybeReal(row[13]);
        if (row[14]) g.limitsRun = std::stoll(*row[14]);
    }
    Rows(reader, "SELECT name, day, bin, n FROM measurement_bins", &rows);
    for (const Row& row : rows) f.bins[{*row[0], *row[1], Real(row[2])}] = std::stoll(*row[3]);
    Rows(reader, "SELECT name, n FROM measurement_names", &rows);
    for (const Row& row : rows) f.names[*row[0]] = std::stoll(*row[1]);
    Rows(reader, "SELECT name, slot, run_id, seq, value FROM measurement_latest", &rows);
    for (const Row& row : rows)
        f.latest[{*row[0], std::stoll(*row[1])}] = {std::stoll(*row[2]), std::stoll(*row[3]),
                                                    Real(row[4])};
    return f;
}

// Sums taken in another order differ in their last bits.
void ExpectClose(double a, double b, const std::string& what) {
    EXPECT_NEAR(a, b, 1e-9 * std::max(1.0, std::fabs(b))) << what;
}

void ExpectSame(const Figures& kept, const Figures& direct) {
    ASSERT_EQ(kept.groups.size(), direct.groups.size());
    for (const auto& [key, d] : direct.groups) {
        const std::string what = std::get<0>(key) + " " + std::get<1>(key) + " " +
                                 std::get<2>(key) + " " + std::get<3>(key);
        const auto it = kept.groups.find(key);
        ASSERT_NE(it, kept.groups.end()) << what;
        const Group& k = it->second;
        EXPECT_EQ(k.n, d.n) << what;
        ExpectClose(k.total, d.total, what + " sum");
        ExpectClose(k.squares, d.squares, what + " sum of squares");
        EXPECT_EQ(k.least, d.least) << what;
        EXPECT_EQ(k.most, d.most) << what;
        EXPECT_EQ(k.outOfSpec, d.outOfSpec) << what;
        EXPECT_EQ(k.ranges, d.ranges) << what;
        ExpectClose(k.rangeTotal, d.rangeTotal, what + " moving ranges");
        EXPECT_EQ(k.low, d.low) << what;
        EXPECT_EQ(k.high, d.high) << what;
        EXPECT_EQ(k.limitsRun, d.limitsRun) << what;
    }
    EXPECT_EQ(kept.bins, direct.bins);
    EXPECT_EQ(kept.names, direct.names);
    EXPECT_EQ(kept.latest, direct.latest);
}

// ---- the writers ----

std::string Sql(const std::optional<double>& v) {
    if (!v) return "NULL";
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", *v);
    return text;
}
std::string Sql(const std::string& text) {
    return "'" + text + "'";
}

std::string InsertRunsSql(const Dataset& d) {
    std::string sql;
    for (std::size_t i = 0; i < d.runs.size(); ++i) {
        const RunStart& r = d.runs[i];
        sql +=
            "INSERT INTO runs (id, uuid, station, software, serial, operator, test,"
            " cycles_planned, started, log_file) VALUES (" +
            std::to_string(i + 1) + ", " + Sql(r.uuid) + ", " + Sql(r.station) + ", " +
            Sql(r.software) + ", " + Sql(r.serial) + ", 'JD', " + Sql(r.test) + ", 10, " +
            Sql(r.started) + ", 'x.txt');";
        sql += "UPDATE runs SET outcome = 'pass' WHERE id = " + std::to_string(i + 1) + ";";
    }
    return sql;
}
long long RunId(const Dataset& d, const std::string& uuid) {
    for (std::size_t i = 0; i < d.runs.size(); ++i)
        if (d.runs[i].uuid == uuid) return static_cast<long long>(i + 1);
    return 0;
}
// Plain SQL as a migration script writes it: many rows to a statement.
std::string InsertMeasurementsSql(const Dataset& d) {
    std::string sql;
    for (std::size_t i = 0; i < d.measurements.size(); i += 250) {
        sql +=
            "INSERT INTO measurements (run_id, seq, name, value, unit, low, high, cycle)"
            " VALUES ";
        for (std::size_t j = i; j < std::min(i + 250, d.measurements.size()); ++j) {
            const Measurement& m = d.measurements[j];
            sql += (j == i ? "(" : ", (") + std::to_string(RunId(d, m.run)) + ", " +
                   std::to_string(m.seq) + ", " + Sql(m.name) + ", " + Sql(m.value) + ", 'mm', " +
                   Sql(m.low) + ", " + Sql(m.high) + ", " + std::to_string(m.seq) + ")";
        }
        sql += ";";
    }
    return sql;
}
std::vector<Entry> Facts(const Dataset& d) {
    std::vector<Entry> facts(d.runs.begin(), d.runs.end());
    facts.insert(facts.end(), d.measurements.begin(), d.measurements.end());
    return facts;
}

class AggregatesTest : public StoreDir {
  protected:
    std::unique_ptr<SqliteStore> OpenFile() {
        std::string error;
        auto store = SqliteStore::Open(db, SqliteStore::Mode::ReadWrite, 0, &error);
        EXPECT_NE(store, nullptr) << error;
        return store;
    }
    bool ExecFile(const std::string& sql) {
        sqlite3* handle = nullptr;
        sqlite3_open(db.c_str(), &handle);
        char* message = nullptr;
        const bool ok = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
        EXPECT_TRUE(ok) << (message != nullptr ? message : "");
        sqlite3_free(message);
        sqlite3_close(handle);
        return ok;
    }
    void CheckFile(const char* writer, const char* dataset) {
        SCOPED_TRACE(std::string(dataset) + ", written by " + writer);
        std::string error;
        auto reader = OpenResults(db, &error);
        ASSERT_NE(reader, nullptr) << error;
        ExpectSame(Kept(*reader), Direct(*reader, false));
    }
};

TEST_F(AggregatesTest, TheFileKeepsEveryFigureOfItsRowsWhoeverWritesThem) {
    for (const Dataset& d : Datasets()) {
        // The station's store: each fact committed as the journal commits it,
        // every run ended but the last; that one is counted once it is
        // found interrupted.
        {
            auto store = OpenFile();
            ASSERT_NE(store, nullptr);
            std::string error;
            std::vector<Entry> facts = Facts(d);
            for (std::size_t r = 0; r + 1 < d.runs.size(); ++r)
                facts.push_back(RunEnd{d.runs[r].uuid, "2026-12-10T10:00:00.000Z",
                                       r % 2 == 0 ? "pass" : "fail", 10, 0});
            for (std::size_t i = 0; i < facts.size(); i += 8) {
                const std::size_t n = std::min<std::size_t>(8, facts.size() - i);
                ASSERT_TRUE(store->ApplyAll(std::span(facts).subspan(i, n), &error)) << error;
            }
            // Facts stored again add nothing.
            ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
            CheckFile("the station, a run still running", d.name);
            ASSERT_GE(store->MarkInterrupted(d.runs.back().station, &error), 0) << error;
            // Its end, recorded later, counts nothing twice.
            ASSERT_TRUE(store->Apply(
                RunEnd{d.runs.back().uuid, "2026-12-10T10:00:00.000Z", "pass", 10, 0}, &error))
                << error;
            // A late fact of a run that is over is counted as it arrives.
            ASSERT_TRUE(
                store->Apply(Fact(d.runs.back().uuid, 9999, "late", 3.25, 1.0, 3.0), &error))
                << error;
        }
        CheckFile("the station", d.name);
        // Rows that were there before the figures were kept are counted when
        // the file is migrated.
        ASSERT_TRUE(
            ExecFile("DROP TRIGGER measurements_aggregate; DROP TRIGGER runs_aggregate;"
                     " DROP TABLE measurement_stats;"
                     " DROP TABLE measurement_streams; DROP TABLE measurement_bins;"
                     " DROP TABLE measurement_names; DROP TABLE measurement_latest;"
                     " PRAGMA user_version = 3;"));
        ASSERT_NE(OpenFile(), nullptr);
        CheckFile("an older station, then migrated", d.name);
        std::filesystem::remove(db);

        ASSERT_NE(OpenFile(), nullptr);
        // Plain SQL, with a value that is not finite, which is left out.
        ASSERT_TRUE(ExecFile(InsertRunsSql(d) + InsertMeasurementsSql(d) +
                             "INSERT INTO measurements (run_id, seq, name, value)"
                             " VALUES (1, 100000, 'F1 closed', 1e999);"));
        CheckFile("plain SQL", d.name);
        std::filesystem::remove(db);
    }
}

TEST_F(AggregatesTest, AnEmptyFileKeepsNoFigures) {
    ASSERT_NE(OpenFile(), nullptr);
    EXPECT_EQ(Value("SELECT (SELECT count(*) FROM measurement_stats) +"
                    " (SELECT count(*) FROM measurement_bins) +"
                    " (SELECT count(*) FROM measurement_latest)"),
              "0");
}

class ServerAggregatesTest : public AggregatesTest {
  protected:
    void SetUp() override {
        AggregatesTest::SetUp();
        ASSERT_TRUE(server.Ready()) << server.Log();
        ASSERT_EQ(pg_logins::Init(server), "");
        for (const char* station : {"s1", "s2"})
            stations[station] = pg_logins::Station(server, station);
        reader = pg_logins::Reader(server);
    }
    // A station's own login, as it ships: it may write nothing but its own
    // runs' facts, and the triggers keep the figures all the same.
    std::unique_ptr<PostgresStore> OpenServer(const std::string& station) {
        std::string error;
        auto store =
            PostgresStore::Open(stations.at(station), PostgresStore::Mode::ReadWrite, {}, &error);
        EXPECT_NE(store, nullptr) << error;
        return store;
    }
    bool Exec(const std::string& sql) {
        std::string error;
        auto c = PgConnection::Connect(server.Uri(), {}, &error);
        EXPECT_NE(c, nullptr) << error;
        const bool ok = c != nullptr && c->Exec(sql, &error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    void Empty() {
        ASSERT_TRUE(
            Exec("TRUNCATE runs, measurements, events, measurement_stats, measurement_streams,"
                 " measurement_bins, measurement_names, measurement_latest"));
    }
    void CheckServer(const char* writer, const char* dataset) {
        SCOPED_TRACE(std::string(dataset) + ", written by " + writer);
        std::string error;
        auto owner = OpenResults(server.Uri(), &error);
        ASSERT_NE(owner, nullptr) << error;
        // The figures as the reports' login reads them.
        auto reports = OpenResults(reader, &error);
        ASSERT_NE(reports, nullptr) << error;
        ExpectSame(Kept(*reports), Direct(*owner, false));
    }
    PgServer server;
    std::map<std::string, std::string> stations;  // login URIs
    std::string reader;
};

TEST_F(ServerAggregatesTest, TheServerKeepsEveryFigureOfItsRowsWhoeverWritesThem) {
    for (const Dataset& d : Datasets()) {
        // Each station's shipper with its own login: shipments of the
        // outbox's size, each one statement per table; stored again,
        // nothing changes. The last run is counted once it is found
        // interrupted.
        for (const auto& [station, uri] : stations) {
            auto store = OpenServer(station);
            ASSERT_NE(store, nullptr);
            std::vector<Outgoing> facts;
            std::set<std::string> own;
            for (const RunStart& r : d.runs) {
                if (r.station != station) continue;
                own.insert(r.uuid);
                facts.push_back(Entry(r));
            }
            for (const Measurement& m : d.measurements)
                if (own.count(m.run)) facts.push_back(Entry(m));
            for (std::size_t r = 0; r + 1 < d.runs.size(); ++r)
                if (own.count(d.runs[r].uuid))
                    facts.push_back(Entry(RunEnd{d.runs[r].uuid, "2026-12-10T10:00:00.000Z",
                                                 r % 2 == 0 ? "pass" : "fail", 10, 0}));
            std::string error;
            for (std::size_t i = 0; i < facts.size(); i += 500) {
                const std::size_t n = std::min<std::size_t>(500, facts.size() - i);
                ASSERT_TRUE(store->ApplyAll(std::span(facts).subspan(i, n), &error)) << error;
            }
            ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
        }
        CheckServer("the shippers, a run still running", d.name);
        {
            auto store = OpenServer(d.runs.back().station);
            ASSERT_NE(store, nullptr);
            const std::vector<Outgoing> last = {
                RunInterrupted{d.runs.back().uuid},
                Entry(Fact(d.runs.back().uuid, 9999, "late", 3.25, 1.0, 3.0))};
            std::string error;
            ASSERT_TRUE(store->ApplyAll(last, &error)) << error;
        }
        CheckServer("the shipper", d.name);
        // Rows there before: counted by the migration.
        ASSERT_TRUE(Exec(
            "DROP TRIGGER measurements_aggregate ON measurements;"
            " DROP TRIGGER runs_aggregate ON runs; DROP FUNCTION runs_aggregate();"
            " DROP FUNCTION measurements_aggregate(); DROP FUNCTION zhand_bin(double precision);"
            " DROP TABLE measurement_stats, measurement_streams, measurement_bins,"
            " measurement_names, measurement_latest; UPDATE schema_version SET version = 3"));
        ASSERT_EQ(pg_logins::Init(server), "");
        CheckServer("an older server, then migrated", d.name);
        Empty();

        ASSERT_TRUE(Exec(InsertRunsSql(d) + InsertMeasurementsSql(d)));
        CheckServer("plain SQL", d.name);
        Empty();

        // COPY, as a bulk load writes it: all rows in one statement.
        const std::string csv = (dir / "measurements.csv").string();
        {
            std::ofstream out(csv);
            for (const Measurement& m : d.measurements)
                out << RunId(d, m.run) << "," << m.seq << "," << m.name << "," << Sql(m.value)
                    << ",mm," << (m.low ? Sql(m.low) : "") << "," << (m.high ? Sql(m.high) : "")
                    << "\n";
        }
        std::filesystem::permissions(dir, std::filesystem::perms::all,
                                     std::filesystem::perm_options::add);
        ASSERT_TRUE(Exec(InsertRunsSql(d) +
                         "COPY measurements (run_id, seq, name, value, unit, low, high) FROM " +
                         Sql(csv) + " WITH (FORMAT csv)"));
        CheckServer("COPY", d.name);
        Empty();
    }
}

}  // namespace
