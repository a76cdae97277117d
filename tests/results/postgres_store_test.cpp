#include "postgres_store.h"

#include <thread>

#include "pg_server.h"
#include "results_fixture.h"
#include "server_query.h"
#include "sqlite_store.h"

namespace {

using namespace results;


class PostgresStoreTest : public StoreDir {
  protected:
    void SetUp() override {
        StoreDir::SetUp();
        ASSERT_TRUE(server.Ready()) << server.Log();
    }
    std::unique_ptr<PostgresStore> OpenServer(std::string* error = nullptr) {
        std::string why;
        auto store = PostgresStore::Open(server.Uri(), PostgresStore::Mode::ReadWrite, {}, &why);
        if (error != nullptr) *error = why;
        EXPECT_TRUE(store != nullptr || error != nullptr) << why;
        return store;
    }
    QueryRows Server(const std::string& sql) { return ServerQuery(server.Uri(), sql); }
    std::string ServerValue(const std::string& sql) {
        const QueryRows rows = Server(sql);
        return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "";
    }

    PgServer server;
};

// The server has the local file's tables with the local file's columns, in
// the same order: SQL written for one reads the other.
TEST_F(PostgresStoreTest, FirstContactMakesTheTablesOfTheLocalFile) {
    ASSERT_NE(OpenServer(), nullptr);
    ASSERT_NE(SqliteStore::Open(db, SqliteStore::Mode::ReadWrite, 0, nullptr), nullptr);
    const QueryRows local = Query(
        "SELECT m.name, p.name FROM sqlite_master m JOIN pragma_table_info(m.name) p"
        " WHERE m.name IN ('runs', 'measurements', 'events') ORDER BY m.name, p.cid");
    EXPECT_EQ(Server("SELECT table_name, column_name FROM information_schema.columns"
                     " WHERE table_schema = 'public'"
                     " AND table_name IN ('runs', 'measurements', 'events')"
                     " ORDER BY table_name, ordinal_position"),
              local);
    EXPECT_EQ(local.size(), 14u + 9u + 7u);
    EXPECT_EQ(ServerValue("SELECT version FROM schema_version"),
              std::to_string(kServerSchemaVersion));
    // A second contact finds it all there.
    ASSERT_NE(OpenServer(), nullptr);
    EXPECT_EQ(ServerValue("SELECT count(*) FROM schema_version"), "1");
}

// The server keeps the local file's rules: a late progress never reopens a
// run, an end closes an interrupted one, facts of a run it does not hold are
// left out, and storing it all again changes nothing.
TEST_F(PostgresStoreTest, FactsReadBackAndStoringAgainChangesNothing) {
    auto store = OpenServer();
    ASSERT_NE(store, nullptr);
    Measurement noLimit{"a", 4, "Maximum temperature", 41.5, "C", {}, {}, {}, {}};
    Event quoted{"b",
                 2,
                 "2026-12-10T09:54:00.000Z",
                 {},
                 {},
                 "OPERATOR",
                 std::string("it's \"fine\"\\ \xC3\xA9t\xC3\xA9 ok")};
    const std::vector<Outgoing> facts = {
        Run("a"),
        Position("a", 1, 15400.25),
        Fault("a", 2, 1),
        RunProgress{"a", 1, 1},
        Position("a", 3, 2000),
        RunProgress{"a", 2, 2},
        noLimit,
        End("a", kFail, 2, 2),
        RunProgress{"a", 9, 9},
        Run("b", "bench-2"),
        RunProgress{"b", 3, 0},
        quoted,
        RunInterrupted{"b"},
        RunProgress{"b", 4, 0},
        Run("c", "bench-2"),
        RunInterrupted{"c"},
        End("b", kAborted, 5, 1),
        Position("elsewhere", 1, 1),
    };
    std::string error;
    ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    ASSERT_TRUE(store->Apply(RunProgress{"c", 7, 7}, &error)) << error;

    EXPECT_EQ(
        Server("SELECT uuid, station, software, serial, operator, test, cycles_planned,"
               " cycles_done, errors, outcome, started, ended, log_file FROM runs ORDER BY uuid"),
        (QueryRows{
            {"a", "bench-1", "3.0.0", "HND123", "JD", "Multi-Axis", "1500", "2", "2", "fail",
             "2026-12-10T09:53:12.345Z", "2026-12-10T10:00:00.000Z", "HND123JD121026_1.txt"},
            {"b", "bench-2", "3.0.0", "HND123", "JD", "Multi-Axis", "1500", "5", "1", "aborted",
             "2026-12-10T09:53:12.345Z", "2026-12-10T10:00:00.000Z", "HND123JD121026_1.txt"},
            {"c", "bench-2", "3.0.0", "HND123", "JD", "Multi-Axis", "1500", "0", "0", "interrupted",
             "2026-12-10T09:53:12.345Z", "NULL", "HND123JD121026_1.txt"}}));
    EXPECT_EQ(Server("SELECT r.uuid, m.seq, m.name, m.value, m.unit, m.low, m.high, m.outcome,"
                     " m.cycle FROM measurements m JOIN runs r ON r.id = m.run_id"
                     " ORDER BY r.uuid, m.seq"),
              (QueryRows{
                  {"a", "1", "F1 closed", "15400.25", "counts", "15100", "NULL", "pass", "1"},
                  {"a", "3", "F1 closed", "2000", "counts", "15100", "NULL", "fail", "1"},
                  {"a", "4", "Maximum temperature", "41.5", "C", "NULL", "NULL", "NULL", "NULL"}}));
    EXPECT_EQ(Server("SELECT r.uuid, e.seq, e.at, e.cycle, e.motor, e.kind, e.text"
                     " FROM events e JOIN runs r ON r.id = e.run_id ORDER BY r.uuid, e.seq"),
              (QueryRows{{"a", "2", "2026-12-10T09:53:13.000Z", "1", "F2", "JAMMED OPEN",
                          "F2 JAMMED OPEN in cycle 1"},
                         {"b", "2", "2026-12-10T09:54:00.000Z", "NULL", "NULL", "OPERATOR",
                          quoted.text}}));
}

// A server an older station set up is migrated with its runs intact; one a
// newer station set up is left alone.
TEST_F(PostgresStoreTest, AnOlderServerIsMigratedAndANewerOneRefused) {
    {
        std::string error;
        auto raw = PgConnection::Connect(server.Uri(), {}, &error);
        ASSERT_NE(raw, nullptr) << error;
        ASSERT_TRUE(raw->Exec(
            "CREATE TABLE schema_version (version integer NOT NULL);"
            "INSERT INTO schema_version VALUES (1);"
            "CREATE TABLE runs (id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
            " uuid text NOT NULL UNIQUE, station text NOT NULL, software text NOT NULL,"
            " serial text NOT NULL, operator text NOT NULL, test text NOT NULL,"
            " cycles_planned integer NOT NULL, cycles_done integer NOT NULL DEFAULT 0,"
            " started text NOT NULL, ended text, outcome text NOT NULL DEFAULT 'running',"
            " errors integer NOT NULL DEFAULT 0, log_file text NOT NULL);"
            "CREATE TABLE measurements (run_id bigint NOT NULL REFERENCES runs(id),"
            " seq integer NOT NULL, name text NOT NULL, value double precision NOT NULL,"
            " unit text, low double precision, high double precision, outcome text,"
            " cycle integer, PRIMARY KEY (run_id, seq));"
            "CREATE TABLE events (run_id bigint NOT NULL REFERENCES runs(id),"
            " seq integer NOT NULL, at text NOT NULL, cycle integer, motor text,"
            " kind text NOT NULL, text text NOT NULL, PRIMARY KEY (run_id, seq));"
            "INSERT INTO runs (uuid, station, software, serial, operator, test, cycles_planned,"
            " started, log_file, outcome) VALUES ('old', 'bench-1', '2.9.0', 'HND001', 'AB',"
            " 'Fingerprint', 1, '2026-01-02T03:04:05.006Z', 'HND001AB010226_1.txt', 'pass')",
            &error))
            << error;
    }
    ASSERT_NE(OpenServer(), nullptr);
    EXPECT_EQ(ServerValue("SELECT version FROM schema_version"),
              std::to_string(kServerSchemaVersion));
    EXPECT_EQ(ServerValue("SELECT count(*) FROM pg_indexes WHERE indexname = 'measurements_name'"),
              "1");
    EXPECT_EQ(Server("SELECT uuid, outcome FROM runs"), (QueryRows{{"old", "pass"}}));

    {
        auto raw = PgConnection::Connect(server.Uri(), {}, nullptr);
        ASSERT_NE(raw, nullptr);
        ASSERT_TRUE(raw->Exec("UPDATE schema_version SET version = 99", nullptr));
    }
    std::string error;
    EXPECT_EQ(OpenServer(&error), nullptr);
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    EXPECT_EQ(ServerValue("SELECT version FROM schema_version"), "99");
}

// Stations that make first contact at the same moment all find one schema.
TEST_F(PostgresStoreTest, StationsMakingFirstContactAtOnceAllSucceed) {
    constexpr int kStations = 6;
    std::vector<std::string> errors(kStations);
    std::vector<std::thread> stations;
    for (int i = 0; i < kStations; ++i) {
        stations.emplace_back([&, i] {
            auto store =
                PostgresStore::Open(server.Uri(), PostgresStore::Mode::ReadWrite, {}, &errors[i]);
            if (store != nullptr && !store->Apply(Run("u" + std::to_string(i)), &errors[i])) {
                errors[i] += " (apply)";
            } else if (store == nullptr && errors[i].empty()) {
                errors[i] = "no store";
            }
        });
    }
    for (auto& t : stations) t.join();
    for (const std::string& e : errors) EXPECT_EQ(e, "");
    EXPECT_EQ(ServerValue("SELECT count(*) FROM runs"), std::to_string(kStations));
    EXPECT_EQ(ServerValue("SELECT count(*) FROM schema_version"), "1");
}

// A reader cannot change anything, and finds no store where none was made.
TEST_F(PostgresStoreTest, AReaderIsReadOnly) {
    std::string error;
    EXPECT_EQ(PostgresStore::Open(server.Uri(), PostgresStore::Mode::ReadOnly, {}, &error),
              nullptr);
    EXPECT_NE(error.find("no results store"), std::string::npos) << error;
    auto writer = OpenServer();
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(writer->Apply(Run("u1"), &error)) << error;
    auto reader = PostgresStore::Open(server.Uri(), PostgresStore::Mode::ReadOnly, {}, &error);
    ASSERT_NE(reader, nullptr) << error;
    Rows rows;
    EXPECT_FALSE(reader->Query("DELETE FROM runs", {}, &rows, &error));
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    const std::vector<std::optional<std::string>> serial = {std::string("HND123")};
    ASSERT_TRUE(reader->Query("SELECT uuid FROM runs WHERE serial = $1", serial, &rows, &error))
        << error;
    EXPECT_EQ(rows, (Rows{{std::string("u1")}}));
}

}  // namespace
