// The stations board tells the truth about each station: testing, idle at
// its form, or not seen once its heartbeat is 30 s old (also when nothing
// else in the store changes); a run whose station is not seen is not
// running; the cycle is the one the station's screen named; and a store
// that cannot be read leaves the last rows, marked stale with why, while
// serve still stops at once. /metrics tells the same in Prometheus's format.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>

#include "run_ids.h"
#include "serve_process.h"
#include "sqlite_store.h"
#include "store_file_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

std::string Ago(std::chrono::seconds age) {
    return results::IsoTime(std::chrono::system_clock::now() - age);
}

json Station(const json& board, const std::string& name) {
    for (const json& s : board["stations"])
        if (s["station"] == name) return s;
    return nullptr;
}

class BoardTruth : public StoreFileTest {
  protected:
    void Put(std::vector<results::Entry> facts) {
        std::string error;
        ASSERT_TRUE(store_->ApplyAll(facts, &error)) << error;
    }
    static results::RunStart Start(const std::string& uuid, const std::string& station,
                                   int cycles) {
        return {uuid,   station,   "3.0.0",  "HND" + station.substr(6), "JD", "Multi-Axis",
                cycles, Ago(600s), "log.txt"};
    }
};

TEST_F(BoardTruth, EachStationTestingIdleOrNotSeen) {
    // bench-1's last beat is 24 s old: testing for a few seconds more.
    Put({Start("r1", "bench-1", 50), results::RunProgress{"r1", 34, 0},
         results::StationBeat{"bench-1", Ago(24s), "testing", "r1"},
         // At its form after a pass.
         Start("r2", "bench-2", 5), results::RunEnd{"r2", Ago(300s), "pass", 5, 0},
         results::StationBeat{"bench-2", Ago(3s), "idle", ""},
         // Killed in cycle 9: its run is still open in the store.
         Start("r3", "bench-3", 20), results::RunProgress{"r3", 8, 0},
         results::StationBeat{"bench-3", Ago(45s), "testing", "r3"},
         // Started, never ran a test.
         results::StationBeat{"bench-4", Ago(1s), "idle", ""},
         // The hand stopped the run in cycle 35 of 50, after 34 were done.
         Start("r5", "bench-5", 50),
         results::Event{"r5", 1, Ago(100s), 35, std::nullopt, "HAND NOT RESPONDING",
                        "HAND NOT RESPONDING in cycle 35 at 10:00:00"},
         results::RunEnd{"r5", Ago(100s), "error", 34, 0},
         results::StationBeat{"bench-5", Ago(4s), "idle", ""},
         // A beat shipped late never moves a station back.
         results::StationBeat{"bench-5", Ago(400s), "testing", "r5"}});

    ServeProcess serve(db);
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    BoardStream stream(serve.Port());
    const auto first = stream.WaitFor([](const json& b) { return b["stations"].size() == 5; }, 5s);
    ASSERT_TRUE(first);
    struct Expected {
        const char* station;
        const char* state;
        const char* outcome;
        int cycle;
    };
    const Expected expected[] = {
        {"bench-1", "testing", "running", 35}, {"bench-2", "idle", "pass", 5},
        {"bench-3", "gone", "running", 9},     {"bench-4", "idle", "", 0},
        {"bench-5", "idle", "error", 35},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.station);
        const json s = Station(first->json, e.station);
        EXPECT_EQ(s["state"], e.state) << s.dump();
        EXPECT_EQ(s["outcome"], e.outcome);
        EXPECT_EQ(s["cycle"], e.cycle);
        EXPECT_TRUE(s["seen"].is_string());
    }

    // bench-1 has fallen silent: nothing more reaches the store, and the
    // board says so once its beat is 30 s old.
    const auto silent =
        stream.WaitFor([](const json& b) { return Station(b, "bench-1")["state"] == "gone"; }, 10s);
    ASSERT_TRUE(silent) << "a silent station still shown as there";

    // Metrics over the same store.
    httplib::Client client = serve.Client();
    const auto metrics = client.Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->status, 200);
    for (const char* line :
         {"zhand_store_up 1\n", "zhand_runs_total{test=\"Multi-Axis\",outcome=\"running\"} 2\n",
          "zhand_runs_total{test=\"Multi-Axis\",outcome=\"pass\"} 1\n",
          "zhand_faults_total{kind=\"HAND NOT RESPONDING\"} 1\n",
          "zhand_station_up{station=\"bench-3\"} 0\n", "zhand_station_up{station=\"bench-4\"} 1\n",
          "zhand_station_testing{station=\"bench-1\"} 0\n", "zhand_shipping_backlog_facts 0\n",
          "# TYPE zhand_station_heartbeat_age_seconds gauge\n"})
        EXPECT_NE(metrics->body.find(line), std::string::npos) << line << metrics->body;
    const std::size_t age =
        metrics->body.find("zhand_station_heartbeat_age_seconds{station=\"bench-3\"} ");
    ASSERT_NE(age, std::string::npos);
    const double seconds = std::atof(metrics->body.c_str() + metrics->body.find("} ", age) + 2);
    EXPECT_GT(seconds, 44);
    EXPECT_LT(seconds, 120);
}

TEST_F(BoardTruth, AStoreThatCannotBeReadLeavesTheLastRowsStale) {
    Put({Start("r1", "bench-1", 50), results::StationBeat{"bench-1", Ago(1s), "testing", "r1"}});
    ServeProcess serve(db);
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    BoardStream stream(serve.Port());
    ASSERT_TRUE(stream.WaitFor([](const json& b) { return b["stations"].size() == 1; }, 5s));

    // The events become an endless view: every read of the board would run
    // for ever, and the query's time limit ends it.
    std::string error;
    const char* endless =
        "DROP TABLE events; CREATE VIEW events AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL"
        " SELECT x + 1 FROM n) SELECT 1 AS run_id, x AS seq, '' AS at, x AS cycle, '' AS motor,"
        " 'K' AS kind, '' AS text FROM n";
    ASSERT_EQ(sqlite3_exec(store_->Handle(), endless, nullptr, nullptr, nullptr), SQLITE_OK);
    const auto stale = stream.WaitFor([](const json& b) { return b["stale"] == true; }, 15s);
    ASSERT_TRUE(stale);
    EXPECT_EQ(stale->json["stations"].size(), 1u);
    EXPECT_EQ(Station(stale->json, "bench-1")["serial"], "HND1");
    EXPECT_TRUE(stale->json["asOf"].is_string());
    EXPECT_NE(stale->json["problem"].get<std::string>().find("query took longer than 5000 ms"),
              std::string::npos)
        << stale->json.dump();

    // Stopping while a query runs for ever takes no longer than ever.
    std::this_thread::sleep_for(1500ms);
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(serve.Stop(SIGTERM, 5s).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
}

}  // namespace
