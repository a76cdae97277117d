// The board's alarms from a real store: a station whose latest values break
// a run rule, a station whose first-pass yield falls behind the line's, and
// none for stations that keep to the line.
#include "station_alarms.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sqlite_store.h"

namespace {

namespace fs = std::filesystem;
using namespace report;

class Alarms : public ::testing::Test {
  protected:
    // A new store for each case.
    void Fresh() {
        Clean();
        std::string pattern = (fs::temp_directory_path() / "zhand-alarms-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        std::string error;
        store_ = results::SqliteStore::Open((dir_ / "results.db").string(),
                                            results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(store_, nullptr) << error;
    }
    void Clean() {
        store_.reset();
        if (!dir_.empty()) fs::remove_all(dir_);
        dir_.clear();
    }
    void TearDown() override { Clean(); }
    // One unit's first run on `station`, with `values` of F2 closed.
    void Run(const std::string& station, const std::string& outcome,
             const std::vector<double>& values) {
        const std::string uuid = "run-" + std::to_string(++runs_);
        char started[48];
        std::snprintf(started, sizeof started, "2026-12-%02dT%02d:00:00.000Z", 1 + runs_ / 24,
                      runs_ % 24);
        std::vector<results::Entry> facts = {results::RunStart{uuid, station, "3",
                                                               "HND" + std::to_string(runs_), "AB",
                                                               "Multi-Axis", 1, started, "x.txt"}};
        int seq = 0;
        for (double v : values)
            facts.push_back(results::Measurement{
                uuid, ++seq, "F2 closed", v, "counts", 15100.0, 15300.0, {}, seq});
        facts.push_back(results::RunEnd{uuid, started, outcome, 1, 0});
        std::string error;
        ASSERT_TRUE(store_->ApplyAll(facts, &error)) << error;
    }
    std::vector<StationAlarm> Read() {
        std::string error;
        auto reader = results::OpenResults((dir_ / "results.db").string(), &error);
        EXPECT_NE(reader, nullptr) << error;
        std::vector<StationAlarm> alarms;
        if (reader != nullptr) {
            EXPECT_TRUE(StationAlarms(*reader, &alarms, &error)) << error;
        }
        return alarms;
    }

    fs::path dir_;
    std::unique_ptr<results::SqliteStore> store_;
    int runs_ = 0;
};

TEST_F(Alarms, AStationOffTheLineIsFlaggedWithItsReason) {
    struct Case {
        const char* what;
        bool drift;     // bench-2's latest values jump
        bool failures;  // bench-3 fails most of its first runs
        std::vector<std::string> flagged;
    };
    const Case cases[] = {
        {"all keep to the line", false, false, {}},
        {"values that jump", true, false, {"bench-2"}},
        {"a yield behind the line's", false, true, {"bench-3"}},
        {"both", true, true, {"bench-2", "bench-3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        const std::vector<double> steady = {15200, 15204, 15198, 15203, 15197, 15201};
        for (int i = 0; i < 12; ++i) {
            Run("bench-1", "pass", steady);
            Run("bench-2", "pass", steady);
            Run("bench-3", c.failures && i % 4 != 0 ? "fail" : "pass", steady);
        }
        if (c.drift) Run("bench-2", "pass", {15260, 15262, 15261});
        std::vector<std::string> flagged;
        for (const StationAlarm& a : Read()) {
            if (flagged.empty() || flagged.back() != a.station) flagged.push_back(a.station);
            if (a.station == "bench-2") {
                EXPECT_NE(a.reason.find("F2 closed: rule 1"), std::string::npos) << a.reason;
                EXPECT_NE(a.reason.find("cycle 3"), std::string::npos) << a.reason;
            }
            if (a.station == "bench-3") {
                EXPECT_NE(a.reason.find("first-pass yield 25.0 %"), std::string::npos) << a.reason;
            }
        }
        EXPECT_EQ(flagged, c.flagged);
    }
}

}  // namespace
