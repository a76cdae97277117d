// A station's heartbeat as the stores keep it: one row per station, its
// latest beat, in the file and (shipped) on the server alike; a beat that
// arrives late or twice never moves a station back; the journal fills in
// the station's name and tells the heartbeat which run is open.
#include <chrono>
#include <thread>

#include "heartbeat.h"
#include "journal.h"
#include "pg_logins.h"
#include "pg_server.h"
#include "postgres_store.h"
#include "results_fixture.h"
#include "results_reader.h"
#include "sqlite_store.h"
#include "wait_until.h"

namespace {

using namespace results;
using namespace std::chrono_literals;

constexpr const char* kBeats = "SELECT station, seen, state, run FROM heartbeats ORDER BY station";

class HeartbeatStore : public StoreDir {};

TEST_F(HeartbeatStore, TheLatestBeatOfEachStationInTheFileAndOnTheServer) {
    PgServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ASSERT_EQ(pg_logins::Init(server), "");
    std::string error;
    auto file = SqliteStore::Open(db, SqliteStore::Mode::ReadWrite, 200, &error);
    ASSERT_NE(file, nullptr) << error;
    auto shared = PostgresStore::Open(server.Uri(), PostgresStore::Mode::ReadWrite, {}, &error);
    ASSERT_NE(shared, nullptr) << error;
    const std::vector<Entry> beats = {
        StationBeat{"bench-1", "2026-12-10T10:00:00.000Z", "idle", ""},
        StationBeat{"bench-2", "2026-12-10T10:00:05.000Z", "testing", "run-b"},
        StationBeat{"bench-1", "2026-12-10T10:00:10.000Z", "testing", "run-a"},
        // Late: older than the row's.
        StationBeat{"bench-1", "2026-12-10T09:59:50.000Z", "idle", ""},
    };
    ASSERT_TRUE(file->ApplyAll(beats, &error)) << error;
    // The server in two shipments, the second repeating the first.
    std::vector<Outgoing> shipped(beats.begin(), beats.end());
    ASSERT_TRUE(shared->ApplyAll(shipped, &error)) << error;
    ASSERT_TRUE(shared->ApplyAll(shipped, &error)) << error;
    // And through JSON, as the outbox and the unsaved file carry a beat.
    const auto back = FromJson(ToJson(beats[1]));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(std::get<StationBeat>(*back).run, "run-b");

    const Rows expected = {{"bench-1", "2026-12-10T10:00:10.000Z", "testing", "run-a"},
                           {"bench-2", "2026-12-10T10:00:05.000Z", "testing", "run-b"}};
    for (const std::string& target : {db, server.Uri()}) {
        SCOPED_TRACE(target == db ? "file" : "server");
        auto reader = OpenResults(target, &error);
        ASSERT_NE(reader, nullptr) << error;
        Rows rows;
        ASSERT_TRUE(reader->Query(kBeats, &rows, &error)) << error;
        Rows text;
        for (const Row& row : rows) text.push_back(row);
        EXPECT_EQ(text, expected);
    }

    // A station's login moves its own row only; a reader's none.
    const std::string own = pg_logins::Station(server, "bench-1");
    const std::string reports = pg_logins::Reader(server);
    auto station = PostgresStore::Open(own, PostgresStore::Mode::ReadWrite, {}, &error);
    ASSERT_NE(station, nullptr) << error;
    const auto beat = [](const std::string& name, const std::string& seen) {
        return std::vector<Outgoing>{Entry(StationBeat{name, seen, "idle", ""})};
    };
    EXPECT_TRUE(station->ApplyAll(beat("bench-1", "2026-12-10T10:01:00.000Z"), &error)) << error;
    EXPECT_FALSE(station->ApplyAll(beat("bench-2", "2026-12-10T10:01:00.000Z"), &error));
    EXPECT_FALSE(station->ApplyAll(beat("bench-9", "2026-12-10T10:01:00.000Z"), &error));
    auto reader = OpenResults(reports, &error);
    ASSERT_NE(reader, nullptr) << error;
    Rows rows;
    ASSERT_TRUE(reader->Query(kBeats, &rows, &error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "2026-12-10T10:01:00.000Z");
    EXPECT_EQ(rows[1][1], "2026-12-10T10:00:05.000Z");
    EXPECT_FALSE(reader->Query("DELETE FROM heartbeats", &rows, &error));
}

TEST_F(HeartbeatStore, TheHeartbeatSaysIdleThenTestingWithTheOpenRun) {
    JournalOptions options;
    options.target = db;
    options.station = "bench-7";
    options.background = true;
    Journal journal(options);
    ASSERT_TRUE(journal.Open());
    std::string error;
    const auto read = [&] {
        auto reader = OpenResults(db, &error);
        Rows rows;
        if (reader == nullptr || !reader->Query(kBeats, &rows, &error)) return Row{};
        return rows.empty() ? Row(4) : rows[0];
    };
    const auto state = [&] { return read()[2].value_or(""); };
    {
        Heartbeat beat(journal, 50ms);
        ASSERT_TRUE(WaitUntil([&] { return read()[0].has_value(); }, 5s));
        EXPECT_EQ(read()[0], "bench-7");
        EXPECT_EQ(read()[2], "idle");
        journal.Put(Run("run-7", "bench-7"));
        ASSERT_TRUE(WaitUntil([&] { return state() == "testing"; }, 5s)) << error;
        EXPECT_EQ(read()[3], "run-7");
        journal.Put(RunEnd{"run-7", "2026-12-10T10:00:00.000Z", "pass", 1, 0});
        ASSERT_TRUE(WaitUntil([&] { return state() == "idle"; }, 5s));
    }
    // Destroyed: no more beats.
    journal.Flush();
    const Row last = read();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(read(), last);
}

}  // namespace
