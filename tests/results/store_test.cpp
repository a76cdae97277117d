#include "sqlite_store.h"

#include <sqlite3.h>

#include <fstream>

#include "results_fixture.h"

namespace {

using namespace results;

using StoreTest = StoreDir;

std::unique_ptr<SqliteStore> OpenStore(const std::string& path, std::string* error = nullptr) {
    std::string why;
    auto store = SqliteStore::Open(path, SqliteStore::Mode::ReadWrite, 200, &why);
    if (error != nullptr) *error = why;
    return store;
}

TEST_F(StoreTest, ARunWithItsFactsReadsBackAsStored) {
    auto store = OpenStore(db);
    ASSERT_NE(store, nullptr);
    std::string error;
    ASSERT_TRUE(store->Apply(Run("u1"), &error)) << error;
    ASSERT_TRUE(store->Apply(Position("u1", 1, 15400), &error)) << error;
    ASSERT_TRUE(store->Apply(Fault("u1", 2, 3), &error)) << error;
    ASSERT_TRUE(store->Apply(Position("u1", 3, 2000), &error)) << error;
    ASSERT_TRUE(store->Apply(RunProgress{"u1", 3, 1}, &error)) << error;

    EXPECT_EQ(Query("SELECT station, software, serial, operator, test, cycles_planned,"
                    " cycles_done, errors, outcome, ended, log_file FROM runs"),
              (QueryRows{{"bench-1", "3.0.0", "HND123", "JD", "Multi-Axis", "1500", "3", "1",
                          "running", "NULL", "HND123JD121026_1.txt"}}));
    ASSERT_TRUE(store->Apply(End("u1", kFail, 3, 1), &error)) << error;
    EXPECT_EQ(Query("SELECT outcome, ended FROM runs"),
              (QueryRows{{"fail", "2026-12-10T10:00:00.000Z"}}));
    EXPECT_EQ(Query("SELECT m.seq, name, value, unit, low, high, m.outcome, cycle"
                    " FROM measurements m JOIN runs r ON r.id = m.run_id ORDER BY m.seq"),
              (QueryRows{{"1", "F1 closed", "15400.0", "counts", "15100.0", "NULL", "pass", "1"},
                         {"3", "F1 closed", "2000.0", "counts", "15100.0", "NULL", "fail", "1"}}));
    EXPECT_EQ(Query("SELECT seq, cycle, motor, kind, text FROM events"),
              (QueryRows{{"2", "3", "F2", "JAMMED OPEN", "F2 JAMMED OPEN in cycle 3"}}));
    EXPECT_EQ(Value("PRAGMA journal_mode"), "wal");
}

// Facts are keyed, so storing one again (a reload of the unsaved file, a
// shipment repeated) changes nothing; a late progress never reopens a run.
TEST_F(StoreTest, ApplyingAgainChangesNothing) {
    auto store = OpenStore(db);
    ASSERT_NE(store, nullptr);
    const std::vector<Entry> facts = {Run("u1"), Position("u1", 1, 15400), Fault("u1", 2, 1),
                                      RunProgress{"u1", 1, 1}, End("u1", kPass, 1, 0)};
    std::string error;
    ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    ASSERT_TRUE(store->Apply(RunProgress{"u1", 9, 9}, &error)) << error;
    EXPECT_EQ(Value("SELECT count(*) FROM runs"), "1");
    EXPECT_EQ(Value("SELECT count(*) FROM measurements"), "1");
    EXPECT_EQ(Value("SELECT count(*) FROM events"), "1");
    EXPECT_EQ(Query("SELECT outcome, cycles_done, errors FROM runs"),
              (QueryRows{{"pass", "1", "0"}}));
}

TEST_F(StoreTest, AllOrNothing) {
    auto store = OpenStore(db);
    ASSERT_NE(store, nullptr);
    // The second run's measurement names a run that is nowhere.
    const std::vector<Entry> facts = {Run("u1"), Position("u1", 1, 15400), Position("u2", 1, 1)};
    std::string error;
    EXPECT_FALSE(store->ApplyAll(facts, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Value("SELECT count(*) FROM runs"), "0");
    // Left out instead, when asked to.
    EXPECT_TRUE(store->ApplyAll(facts, &error, true)) << error;
    EXPECT_EQ(Value("SELECT count(*) FROM runs"), "1");
    EXPECT_EQ(Value("SELECT count(*) FROM measurements"), "1");
    // The store is usable after the failed transaction.
    EXPECT_TRUE(store->Apply(Fault("u1", 2, 1), &error)) << error;
}

TEST_F(StoreTest, OnlyThisStationsRunningRunsBecomeInterrupted) {
    auto store = OpenStore(db);
    ASSERT_NE(store, nullptr);
    std::string error;
    const std::vector<Entry> facts = {Run("mine-running"), Run("mine-done"),
                                      End("mine-done", kPass, 1500, 0), Run("theirs", "bench-2")};
    ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    EXPECT_EQ(store->MarkInterrupted("bench-1", &error), 1);
    EXPECT_EQ(
        Query("SELECT uuid, outcome FROM runs ORDER BY uuid"),
        (QueryRows{{"mine-done", "pass"}, {"mine-running", "interrupted"}, {"theirs", "running"}}));
    // An end stored late still closes the run it belongs to.
    ASSERT_TRUE(store->Apply(End("mine-running", kAborted, 4, 0), &error)) << error;
    EXPECT_EQ(Value("SELECT outcome FROM runs WHERE uuid = 'mine-running'"), "aborted");
}

// A file of the first schema, as an older station left it, is migrated in
// place with its runs intact.
TEST_F(StoreTest, AnOlderFileIsMigrated) {
    {
        sqlite3* old = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &old), SQLITE_OK);
        const char* v1 =
            "CREATE TABLE runs (id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE,"
            " station TEXT NOT NULL, software TEXT NOT NULL, serial TEXT NOT NULL,"
            " operator TEXT NOT NULL, test TEXT NOT NULL, cycles_planned INTEGER NOT NULL,"
            " cycles_done INTEGER NOT NULL DEFAULT 0, started TEXT NOT NULL, ended TEXT,"
            " outcome TEXT NOT NULL DEFAULT 'running', errors INTEGER NOT NULL DEFAULT 0,"
            " log_file TEXT NOT NULL);"
            "CREATE TABLE measurements (run_id INTEGER NOT NULL REFERENCES runs(id),"
            " seq INTEGER NOT NULL, name TEXT NOT NULL, value REAL NOT NULL, unit TEXT,"
            " low REAL, high REAL, outcome TEXT, cycle INTEGER, PRIMARY KEY (run_id, seq));"
            "CREATE TABLE events (run_id INTEGER NOT NULL REFERENCES runs(id),"
            " seq INTEGER NOT NULL, at TEXT NOT NULL, cycle INTEGER, motor TEXT,"
            " kind TEXT NOT NULL, text TEXT NOT NULL, PRIMARY KEY (run_id, seq));"
            "INSERT INTO runs (uuid, station, software, serial, operator, test, cycles_planned,"
            " started, log_file, outcome) VALUES ('old', 'bench-1', '2.9.0', 'HND001', 'AB',"
            " 'Fingerprint', 1, '2026-01-02T03:04:05.006Z', 'HND001AB010226_1.txt', 'pass');"
            "PRAGMA user_version = 1;";
        ASSERT_EQ(sqlite3_exec(old, v1, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(old);
    }
    std::string error;
    auto store = OpenStore(db, &error);
    ASSERT_NE(store, nullptr) << error;
    EXPECT_EQ(Value("PRAGMA user_version"), std::to_string(kSchemaVersion));
    EXPECT_EQ(Value("SELECT count(*) FROM sqlite_master WHERE name = 'runs_serial'"), "1");
    EXPECT_EQ(Value("SELECT count(*) FROM sqlite_master WHERE name = 'outbox'"), "1");
    EXPECT_EQ(Query("SELECT serial, outcome FROM runs"), (QueryRows{{"HND001", "pass"}}));
    ASSERT_TRUE(store->Apply(Run("new"), &error)) << error;
    EXPECT_EQ(Value("SELECT count(*) FROM runs"), "2");
}

// An earlier station's file still has the index of measurements by name; it
// goes at the next open, and the measurements stay.
TEST_F(StoreTest, TheNameIndexOfEarlierStationsIsDropped) {
    std::string error;
    {
        auto store = OpenStore(db, &error);
        ASSERT_NE(store, nullptr) << error;
        const std::vector<Entry> facts = {Run("old"), Position("old", 1, 15400)};
        ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    }
    {
        sqlite3* old = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &old), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(old, "CREATE INDEX measurements_name ON measurements(name)", nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(old);
    }
    ASSERT_EQ(Value("SELECT count(*) FROM sqlite_master WHERE name = 'measurements_name'"), "1");
    auto store = OpenStore(db, &error);
    ASSERT_NE(store, nullptr) << error;
    EXPECT_EQ(Value("SELECT count(*) FROM sqlite_master WHERE name = 'measurements_name'"), "0");
    EXPECT_EQ(Value("SELECT value FROM measurements"), "15400.0");
    ASSERT_TRUE(store->Apply(Position("old", 2, 15500), &error)) << error;
    EXPECT_EQ(Value("SELECT count(*) FROM measurements"), "2");
}

std::vector<std::string> OutboxLines(SqliteStore& store) {
    std::vector<OutboxRow> rows;
    long long last = 0;
    std::string error;
    EXPECT_TRUE(store.ReadOutbox(1000, &rows, &last, &error)) << error;
    std::vector<std::string> lines;
    for (const OutboxRow& row : rows) lines.push_back(OutgoingToJson(row.fact));
    return lines;
}

// Facts of an endurance run: many measurements in a row (with and without
// unit, limits and cycle).
std::vector<Entry> ManyMeasurements(const std::string& run, int count, int firstSeq = 1) {
    std::vector<Entry> facts;
    for (int i = 0; i < count; ++i) {
        Measurement m;
        m.run = run;
        m.seq = firstSeq + i;
        m.name = "F" + std::to_string(i % 3 + 1) + " closed";
        m.value = 15000.0 + i * 7;
        if (i % 2 == 0) m.unit = "counts";
        if (i % 3 != 1) m.low = 15100.0;
        if (i % 4 == 3) m.high = 15200.0;
        m.outcome = Verdict(m.value, m.low, m.high);
        if (i % 5 != 4) m.cycle = i / 8 + 1;
        facts.emplace_back(std::move(m));
    }
    return facts;
}

const char* kMeasurementRows =
    "SELECT r.uuid, m.seq, name, value, unit, low, high, m.outcome, cycle"
    " FROM measurements m JOIN runs r ON r.id = m.run_id ORDER BY r.uuid, m.seq";

// Measurements applied together are stored as each would be alone, in every
// column and in order; a measurement of an unknown run among them is left
// out, or refuses the whole.
TEST_F(StoreTest, MeasurementsAppliedTogetherAreStoredAsAlone) {
    const std::string alone = (dir / "alone.db").string();
    std::string error;
    std::vector<Entry> facts = {Run("u1"), Run("u2")};
    for (Entry& m : ManyMeasurements("u1", 37)) facts.push_back(std::move(m));
    facts.push_back(Fault("u1", 38, 5));
    for (Entry& m : ManyMeasurements("u2", 20)) facts.push_back(std::move(m));
    for (Entry& m : ManyMeasurements("u1", 17, 39)) facts.push_back(std::move(m));
    facts.push_back(RunProgress{"u1", 7, 1});
    {
        auto one = OpenStore(alone, &error);
        ASSERT_NE(one, nullptr) << error;
        for (const Entry& fact : facts) ASSERT_TRUE(one->Apply(fact, &error)) << error;
    }
    auto store = OpenStore(db, &error);
    ASSERT_NE(store, nullptr) << error;
    store->SetShipping(true);
    ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    const QueryRows rows = Query(kMeasurementRows);
    EXPECT_EQ(rows.size(), 74u);
    EXPECT_EQ(rows, QueryStore(alone, kMeasurementRows));
    std::vector<std::string> expected;
    for (const Entry& fact : facts) expected.push_back(ToJson(fact));
    EXPECT_EQ(OutboxLines(*store), expected) << "queued in the order applied";
    ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    EXPECT_EQ(Query(kMeasurementRows), rows) << "applied again, nothing changes";

    std::vector<Entry> orphaned = {Run("u3")};
    for (Entry& m : ManyMeasurements("u3", 10)) orphaned.push_back(std::move(m));
    orphaned.push_back(Position("nowhere", 1, 15400));
    for (Entry& m : ManyMeasurements("u3", 30, 11)) orphaned.push_back(std::move(m));
    EXPECT_FALSE(store->ApplyAll(orphaned, &error));
    EXPECT_EQ(error, "fact of an unknown run");
    EXPECT_EQ(Value("SELECT count(*) FROM runs WHERE uuid = 'u3'"), "0") << "all or none";
    ASSERT_TRUE(store->ApplyAll(orphaned, &error, true)) << error;
    EXPECT_EQ(Value("SELECT count(*) FROM measurements m JOIN runs r ON r.id = m.run_id"
                    " WHERE r.uuid = 'u3'"),
              "40");
}

// With shipping on, whatever is stored is queued in the same transaction, in
// the order stored; what is refused is queued neither.
TEST_F(StoreTest, TheOutboxHoldsWhatWasStoredInOrder) {
    auto store = OpenStore(db);
    ASSERT_NE(store, nullptr);
    std::string error;
    ASSERT_TRUE(store->Apply(Run("before"), &error)) << error;
    EXPECT_EQ(store->OutboxSize(&error), 0) << "shipping is off";

    store->SetShipping(true);
    const std::vector<Entry> one = {Run("u1"), Position("u1", 1, 15400), Fault("u1", 2, 1)};
    for (const Entry& fact : one) ASSERT_TRUE(store->Apply(fact, &error)) << error;
    EXPECT_FALSE(store->Apply(Position("nowhere", 1, 1), &error));
    const std::vector<Entry> refused = {RunProgress{"u1", 1, 1}, Position("nowhere", 2, 1)};
    EXPECT_FALSE(store->ApplyAll(refused, &error));
    const std::vector<Entry> loaded = {Position("nowhere", 3, 1), RunProgress{"u1", 1, 1},
                                       Run("u2", "bench-2")};
    ASSERT_TRUE(store->ApplyAll(loaded, &error, true)) << error;
    ASSERT_EQ(store->MarkInterrupted("bench-1", &error), 2) << error;

    std::vector<std::string> expected;
    for (const Entry& fact : one) expected.push_back(ToJson(fact));
    expected.push_back(ToJson(RunProgress{"u1", 1, 1}));
    expected.push_back(ToJson(Run("u2", "bench-2")));
    expected.push_back(OutgoingToJson(RunInterrupted{"before"}));
    expected.push_back(OutgoingToJson(RunInterrupted{"u1"}));
    EXPECT_EQ(OutboxLines(*store), expected);
    // Every fact queued is in the store's tables too.
    EXPECT_EQ(Value("SELECT count(*) FROM measurements"), "1");

    // Shipped rows go from the front; later ones keep their place.
    std::vector<OutboxRow> rows;
    long long last = 0;
    ASSERT_TRUE(store->ReadOutbox(2, &rows, &last, &error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(last, rows.back().id);
    ASSERT_TRUE(store->Apply(End("u2", kPass, 1, 0), &error)) << error;
    ASSERT_TRUE(store->DropOutbox(last, &error)) << error;
    expected.erase(expected.begin(), expected.begin() + 2);
    expected.push_back(ToJson(End("u2", kPass, 1, 0)));
    EXPECT_EQ(OutboxLines(*store), expected);
    EXPECT_EQ(store->OutboxSize(&error), static_cast<long long>(expected.size()));
}

// A row that is no fact (edited by hand) is passed over but not kept forever.
TEST_F(StoreTest, AnUnreadableOutboxRowIsPassedOver) {
    auto store = OpenStore(db);
    ASSERT_NE(store, nullptr);
    store->SetShipping(true);
    std::string error;
    ASSERT_TRUE(store->Apply(Run("u1"), &error)) << error;
    sqlite3_exec(store->Handle(), "INSERT INTO outbox (fact) VALUES ('{\"type\": 1')", nullptr,
                 nullptr, nullptr);
    std::vector<OutboxRow> rows;
    long long last = 0;
    ASSERT_TRUE(store->ReadOutbox(10, &rows, &last, &error)) << error;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GT(last, rows[0].id);
    ASSERT_TRUE(store->DropOutbox(last, &error)) << error;
    EXPECT_EQ(store->OutboxSize(&error), 0);
}

TEST_F(StoreTest, FilesThatAreNoStoreAreRefusedAndLeftAlone) {
    struct Case {
        const char* what;
        std::string content;
    };
    std::string newer;
    {
        sqlite3* other = nullptr;
        const std::string path = (dir / "newer.db").string();
        ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
        sqlite3_exec(other, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        std::ifstream in(path, std::ios::binary);
        newer.assign(std::istreambuf_iterator<char>(in), {});
    }
    const Case cases[] = {
        {"text", "this is the technician's shopping list\n"},
        {"garbage", std::string(4096, '\x5a')},
        {"newer schema", newer},
    };
    for (const Case& c : cases) {
        {
            std::ofstream out(db, std::ios::binary | std::ios::trunc);
            out << c.content;
        }
        std::string error;
        EXPECT_EQ(OpenStore(db, &error), nullptr) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        std::ifstream in(db, std::ios::binary);
        const std::string after((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(after, c.content) << c.what;
    }
}

TEST_F(StoreTest, ReadOnlyOpensOnlyACurrentStore) {
    std::string error;
    EXPECT_EQ(SqliteStore::Open(db, SqliteStore::Mode::ReadOnly, 0, &error), nullptr);
    EXPECT_FALSE(std::filesystem::exists(db));
    ASSERT_NE(OpenStore(db), nullptr);
    EXPECT_NE(SqliteStore::Open(db, SqliteStore::Mode::ReadOnly, 0, &error), nullptr) << error;
}

}  // namespace
