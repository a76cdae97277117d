#include "postgres_store.h"

#include <thread>

#include "pg_logins.h"
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
        ASSERT_EQ(pg_logins::Init(server), "");
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
TEST_F(PostgresStoreTest, InitMakesTheTablesOfTheLocalFile) {
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

// A reader's login reads, in a session that cannot change anything.
TEST_F(PostgresStoreTest, AReaderIsReadOnly) {
    std::string error;
    auto writer = OpenServer();
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(writer->Apply(Run("u1"), &error)) << error;
    auto reader =
        PostgresStore::Open(pg_logins::Reader(server), PostgresStore::Mode::ReadOnly, {}, &error);
    ASSERT_NE(reader, nullptr) << error;
    EXPECT_EQ(reader->Login(), "reports");
    Rows rows;
    EXPECT_FALSE(reader->Query("DELETE FROM runs", {}, &rows, &error));
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    const std::vector<std::optional<std::string>> serial = {std::string("HND123")};
    ASSERT_TRUE(reader->Query("SELECT uuid FROM runs WHERE serial = $1", serial, &rows, &error))
        << error;
    EXPECT_EQ(rows, (Rows{{std::string("u1")}}));
}

}  // namespace
