// A fresh directory per test with a store path in it, and facts of one run.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "record.h"
#include "sqlite_query.h"

class StoreDir : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zhand-results-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        db = (dir / "results.db").string();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    static results::RunStart Run(const std::string& uuid, const std::string& station = "bench-1") {
        results::RunStart run;
        run.uuid = uuid;
        run.station = station;
        run.software = "3.0.0";
        run.serial = "HND123";
        run.operatorInitials = "JD";
        run.test = "Multi-Axis";
        run.cyclesPlanned = 1500;
        run.started = "2026-12-10T09:53:12.345Z";
        run.logFile = "HND123JD121026_1.txt";
        return run;
    }
    static results::Event Fault(const std::string& run, int seq, int cycle) {
        return results::Event{run, seq, "2026-12-10T09:53:13.000Z", cycle, "F2", "JAMMED OPEN",
                              "F2 JAMMED OPEN in cycle " + std::to_string(cycle)};
    }
    static results::Measurement Position(const std::string& run, int seq, double value) {
        return results::Measurement{run,   seq,   "F1 closed", value, "counts", 15100.0,
                                    {},    results::Verdict(value, 15100.0, {}), 1};
    }
    static results::RunEnd End(const std::string& run, const char* outcome, int cycles, int errors) {
        return results::RunEnd{run, "2026-12-10T10:00:00.000Z", outcome, cycles, errors};
    }

    QueryRows Query(const std::string& sql) const { return QueryStore(db, sql); }
    std::string Value(const std::string& sql) const { return QueryValue(db, sql); }

    std::filesystem::path dir;
    std::string db;
};
