// What the report works out from a real store: runs per day and test,
// first-pass yield within a selection, unit plot data, and each
// measurement's series with limits frozen from its baseline.
#include "report_model.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sqlite_store.h"

namespace {

namespace fs = std::filesystem;
using namespace report;

class ReportModel : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zhand-report-model-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        std::string error;
        store_ = results::SqliteStore::Open((dir_ / "results.db").string(),
                                            results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(store_, nullptr) << error;
    }
    void TearDown() override {
        store_.reset();
        fs::remove_all(dir_);
    }

    // A run with measurements (name, value) and an outcome.
    void AddRun(const std::string& serial, const std::string& test, const std::string& started,
                const std::string& outcome,
                const std::vector<std::pair<std::string, double>>& measurements = {},
                std::optional<double> low = {}, std::optional<double> high = {},
                const std::vector<results::Event>& events = {}) {
        const std::string uuid = "run-" + std::to_string(++runs_);
        std::vector<results::Entry> entries = {
            results::RunStart{uuid, "st", "3", serial, "AB", test, 1, started, "log.txt"}};
        int seq = 0;
        for (const auto& [name, value] : measurements)
            entries.push_back(results::Measurement{
                uuid, ++seq, name, value, {}, low, high, results::Verdict(value, low, high), {}});
        for (results::Event e : events) {
            e.run = uuid;
            e.seq = ++seq;
            entries.push_back(e);
        }
        if (outcome != "running") entries.push_back(results::RunEnd{uuid, started, outcome, 1, 0});
        std::string error;
        ASSERT_TRUE(store_->ApplyAll(entries, &error)) << error;
    }

    Report Build(ReportOptions options = {}) {
        std::string error;
        auto store = results::OpenResults((dir_ / "results.db").string(), &error);
        EXPECT_NE(store, nullptr) << error;
        if (store == nullptr) return {};
        StoreReader reader(*store);
        Report report;
        EXPECT_TRUE(BuildReport(reader, options, &report, &error)) << error;
        return report;
    }

    fs::path dir_;
    std::unique_ptr<results::SqliteStore> store_;
    int runs_ = 0;
};

TEST_F(ReportModel, RunsPerDayAndTestByOutcome) {
    AddRun("A", "Multi-Axis", "2026-12-01T08:00:00.000Z", "fail");
    AddRun("A", "Multi-Axis", "2026-12-01T09:00:00.000Z", "pass");
    AddRun("B", "Finger Movement", "2026-12-01T23:59:59.000Z", "aborted");
    AddRun("B", "Multi-Axis", "2026-12-03T00:00:00.000Z", "interrupted");
    AddRun("C", "Multi-Axis", "2026-12-03T01:00:00.000Z", "running");
    const Report r = Build();
    ASSERT_EQ(r.days, (std::vector<std::string>{"2026-12-01", "2026-12-03"}));
    EXPECT_EQ(r.perDay[0], (OutcomeCounts{1, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(r.perDay[1], (OutcomeCounts{0, 0, 0, 0, 1, 1, 0}));
    ASSERT_EQ(r.tests.size(), 2u);
    EXPECT_EQ(r.tests[0].test, "Finger Movement");  // the test table's order
    EXPECT_EQ(r.tests[1].test, "Multi-Axis");
    EXPECT_EQ(r.tests[1].outcomes, (OutcomeCounts{1, 1, 0, 0, 1, 1, 0}));
    EXPECT_EQ(r.runCount, 5);
    EXPECT_EQ(r.unitCount, 3);
    EXPECT_TRUE(r.units.empty()) << "a line's units in full only by serial number";
    ASSERT_EQ(r.latestUnits.size(), 3u);
    EXPECT_EQ(r.latestUnits[0].serial, "C");
    EXPECT_EQ(r.latestUnits[1].serial, "B");
    EXPECT_EQ(r.latestUnits[1].outcome, "interrupted");
    EXPECT_EQ(r.latestUnits[2].serial, "A");
    EXPECT_EQ(r.latestUnits[2].runs, 2);
    ReportOptions unitA;
    unitA.selection.serial = "A";
    const Report a = Build(unitA);
    ASSERT_EQ(a.units.size(), 1u);
    EXPECT_EQ(a.units[0].runs.size(), 2u);
}

TEST_F(ReportModel, FirstPassYieldCountsEachUnitsFirstRun) {
    // A failed first and passed later; B passed first; C is still on its
    // first run; D passed first, before the selection starts.
    AddRun("D", "Multi-Axis", "2026-11-20T08:00:00.000Z", "pass");
    AddRun("D", "Multi-Axis", "2026-12-02T08:00:00.000Z", "fail");
    AddRun("A", "Multi-Axis", "2026-12-01T08:00:00.000Z", "fail");
    AddRun("A", "Multi-Axis", "2026-12-01T09:00:00.000Z", "pass");
    AddRun("B", "Multi-Axis", "2026-12-01T10:00:00.000Z", "pass");
    AddRun("C", "Multi-Axis", "2026-12-01T11:00:00.000Z", "running");
    const Report all = Build();
    EXPECT_EQ(all.tests[0].firstRuns, 3);
    EXPECT_EQ(all.tests[0].firstPassed, 2);
    ReportOptions december;
    december.selection.since = "2026-12-01T00:00:00.000Z";
    const Report r = Build(december);
    EXPECT_EQ(r.tests[0].runs, 5);
    EXPECT_EQ(r.tests[0].firstRuns, 2) << "D was first tested before the selection";
    EXPECT_EQ(r.tests[0].firstPassed, 1);
    ReportOptions unitA;
    unitA.selection.serial = "A";
    EXPECT_EQ(Build(unitA).tests[0].firstRuns, 1);
    EXPECT_EQ(Build(unitA).tests[0].firstPassed, 0);
}

TEST_F(ReportModel, FirstPassYieldPassesOverRunsTheStationCouldNotFinish) {
    // E lost its link first, then passed; F was interrupted, then failed.
    AddRun("E", "Multi-Axis", "2026-12-01T08:00:00.000Z", "error");
    AddRun("E", "Multi-Axis", "2026-12-01T09:00:00.000Z", "pass");
    AddRun("F", "Multi-Axis", "2026-12-01T08:00:00.000Z", "interrupted");
    AddRun("F", "Multi-Axis", "2026-12-01T09:00:00.000Z", "fail");
    const Report r = Build();
    ASSERT_EQ(r.tests.size(), 1u);
    EXPECT_EQ(r.tests[0].firstRuns, 2);
    EXPECT_EQ(r.tests[0].firstPassed, 1);
    EXPECT_EQ(r.tests[0].outcomes[OutcomeIndex("error")], 1) << "shown apart";
    EXPECT_EQ(r.tests[0].outcomes[OutcomeIndex("interrupted")], 1);
    ReportOptions anyCase;
    anyCase.selection.test = "multi-AXIS";
    EXPECT_EQ(Build(anyCase).tests[0].firstRuns, 2);
}

TEST_F(ReportModel, SeriesComeFromTheKeptFiguresWithLimitsFromTheBaseline) {
    AddRun("A", "Multi-Axis", "2026-12-01T08:00:00.000Z", "pass",
           {{"F1 closed", 10}, {"F1 closed", 12}}, 15000, {});
    AddRun("A", "Multi-Axis", "2026-12-01T09:00:00.000Z", "pass", {{"F1 closed", 11}}, 15100, {});
    AddRun("B", "Multi-Axis", "2026-12-02T08:00:00.000Z", "pass", {{"F1 closed", 30}}, 15100, {});
    const Report r = Build();
    ASSERT_EQ(r.measurements.size(), 1u);
    const MeasurementSeries& s = r.measurements[0];
    EXPECT_EQ(s.process.count, 4);
    EXPECT_DOUBLE_EQ(*s.process.mean, 63.0 / 4);
    ASSERT_EQ(s.latest.size(), 4u);
    EXPECT_EQ(s.latest.back().value, 30);
    EXPECT_EQ(s.latest.back().serial, "B");
    EXPECT_EQ(s.low, 15100) << "the latest limits";
    EXPECT_EQ(s.process.outOfSpec, 4) << "every value below its low limit";
    EXPECT_EQ(s.baselineCount, 4);
    ReportOptions firstDay;
    firstDay.baselineFrom = "2026-12-01T00:00:00.000Z";
    firstDay.baselineTo = "2026-12-01T23:59:59.999Z";
    const MeasurementSeries frozen = Build(firstDay).measurements[0];
    ASSERT_EQ(frozen.baselineCount, 3);
    ASSERT_TRUE(frozen.limits);
    // Moving ranges of the first day: 2, 1; sigma within 1.5 / 1.128.
    EXPECT_DOUBLE_EQ(frozen.limits->center, 11);
    EXPECT_NEAR(frozen.limits->upper, 11 + 3 * 1.5 / 1.128, 1e-12);
    ASSERT_EQ(frozen.breaks.size(), 1u);
    EXPECT_EQ(frozen.breaks[0].index, 3u);
    EXPECT_EQ(frozen.breaks[0].rule, 1);
    EXPECT_EQ(frozen.inControl, false);
    // Round bins over the kept ones: 10, 11, 12 and 30 in three bins of 10
    // (a greatest value on an edge opens the next bin).
    EXPECT_EQ(frozen.histogram.edges, (std::vector<double>{10, 20, 30, 40}));
    EXPECT_EQ(frozen.histogram.counts, (std::vector<long>{3, 0, 1}));
}

TEST_F(ReportModel, UnitPlotsTakeTheirTestsFigures) {
    AddRun("A", "Fingerprint", "2026-12-01T08:00:00.000Z", "pass",
           {{"F2 Clse55", 1.5}, {"F2 Open55", 1.7}, {"M4 MaxOpen", 44}});
    AddRun("A", "Strain Gages", "2026-12-01T09:00:00.000Z", "pass",
           {{"F1 0g", 1}, {"F1 1000g", 121}, {"F1 2000g", 241}, {"F2 500g", 60}});
    AddRun("A", "After-Freezer", "2026-12-01T10:00:00.000Z", "fail", {{"Maximum temperature", 43}},
           {}, {},
           {results::Event{"", 0, "2026-12-01T10:00:05.000Z", 17, "F3", "JAMMED OPEN",
                           "F3 JAMMED OPEN ..."},
            results::Event{"", 0, "2026-12-01T10:00:06.000Z", std::nullopt, "F3", "NOTE",
                           "no cycle"}});
    // Another test's figure of the same name is no finger speed.
    AddRun("A", "Multi-Axis", "2026-12-01T11:00:00.000Z", "pass", {{"F2 Clse55", 99}});
    ReportOptions unitA;
    unitA.selection.serial = "A";
    const Report r = Build(unitA);
    ASSERT_EQ(r.units.size(), 1u);
    const UnitReport& u = r.units[0];
    ASSERT_EQ(u.speeds.size(), 1u);
    EXPECT_EQ(u.speeds[0].seconds[1][2], 1.5);
    EXPECT_EQ(u.speeds[0].seconds[1][3], 1.7);
    EXPECT_FALSE(u.speeds[0].seconds[0][0]);
    ASSERT_EQ(u.encoder.size(), 1u);
    EXPECT_EQ(u.encoder[0].counts[3][5], 44);
    EXPECT_EQ(u.strain.size(), 4u);
    ASSERT_TRUE(u.strainFit[0]);
    EXPECT_NEAR(u.strainFit[0]->slope, 0.12, 1e-12);
    EXPECT_NEAR(u.strainFit[0]->intercept, 1, 1e-9);
    EXPECT_FALSE(u.strainFit[1]) << "one point makes no line";
    ASSERT_EQ(u.temperatures.size(), 1u);
    EXPECT_EQ(u.temperatures[0].celsius, 43);
    ASSERT_EQ(u.faults.size(), 1u);
    EXPECT_EQ(u.faults[0].cycle, 17);
    EXPECT_EQ(u.faults[0].kind, "JAMMED OPEN");
}

TEST_F(ReportModel, StrainLinesComeFromEachFingersLatestRun) {
    // Calibrated twice, the later run added first: F1's line moved; F2 was
    // read at one force only the second time; F3 only the first time.
    AddRun("A", "Strain Gages", "2026-12-05T09:00:00.000Z", "pass",
           {{"F1 0g", 3}, {"F1 1000g", 153}, {"F1 2000g", 303}, {"F2 500g", 60}});
    AddRun("A", "Strain Gages", "2026-12-01T09:00:00.000Z", "pass",
           {{"F1 0g", 1},
            {"F1 1000g", 121},
            {"F1 2000g", 241},
            {"F2 0g", 5},
            {"F2 2000g", 205},
            {"F3 250g", 30},
            {"F3 1500g", 155}});
    ReportOptions unitA;
    unitA.selection.serial = "A";
    const Report r = Build(unitA);
    ASSERT_EQ(r.units.size(), 1u);
    const UnitReport& u = r.units[0];
    ASSERT_EQ(r.runs.size(), 2u);
    ASSERT_EQ(u.strainRuns.size(), 2u);
    EXPECT_EQ(u.strainRuns[0].run, 0u) << "oldest first";
    EXPECT_EQ(u.strainRuns[1].run, 1u);

    ASSERT_TRUE(u.strainFit[0]);
    EXPECT_EQ(u.strainFitRun[0], 1u);
    EXPECT_NEAR(u.strainFit[0]->slope, 0.15, 1e-12) << "the latest run's line, not both pooled";
    EXPECT_NEAR(u.strainFit[0]->intercept, 3, 1e-9);
    EXPECT_EQ(u.strainFitRun[1], 1u);
    EXPECT_FALSE(u.strainFit[1]) << "one point makes no line, and an older line is no stand-in";
    ASSERT_TRUE(u.strainFit[2]);
    EXPECT_EQ(u.strainFitRun[2], 0u) << "F3 was read in the first run only";
    EXPECT_NEAR(u.strainFit[2]->slope, 0.1, 1e-12);

    // Each run's own lines, for the table of slopes.
    ASSERT_TRUE(u.strainRuns[0].fit[0]);
    EXPECT_NEAR(u.strainRuns[0].fit[0]->slope, 0.12, 1e-12);
    ASSERT_TRUE(u.strainRuns[0].fit[1]);
    EXPECT_NEAR(u.strainRuns[0].fit[1]->slope, 0.1, 1e-12);
    EXPECT_TRUE(u.strainRuns[0].fit[2]);
    EXPECT_TRUE(u.strainRuns[1].fit[0]);
    EXPECT_FALSE(u.strainRuns[1].fit[1]);
    EXPECT_FALSE(u.strainRuns[1].fit[2]);

    // Every reading stays, tagged with its run, oldest run first.
    ASSERT_EQ(u.strain.size(), 11u);
    EXPECT_EQ(u.strain.front().run, 0u);
    EXPECT_EQ(u.strain.back().run, 1u);
}

}  // namespace

namespace {

// The import stores many files in one commit; each file stays whole.
TEST_F(ReportModel, AGroupOfWholesKeepsEachApart) {
    std::string error;
    const auto run = [](const std::string& uuid, const std::string& serial) {
        return std::vector<results::Entry>{
            results::RunStart{uuid, "imported", "", serial, "", "Cable Tension/BreakAway", 1,
                              "2026-12-01T08:00:00.000Z", "x.txt"},
            results::Measurement{uuid, 1, "F1 0g", 1, {}, {}, {}, {}, {}},
            results::RunEnd{uuid, "2026-12-01T08:00:00.000Z", "pass", 1, 0}};
    };
    std::vector<results::Entry> broken = run("u2", "B");
    broken.push_back(results::Measurement{"no-such-run", 1, "x", 1, {}, {}, {}, {}, {}});
    ASSERT_TRUE(store_->BeginGroup(&error)) << error;
    EXPECT_TRUE(store_->ApplyAll(run("u1", "A"), &error)) << error;
    EXPECT_FALSE(store_->ApplyAll(broken, &error));
    EXPECT_TRUE(store_->ApplyAll(run("u3", "C"), &error)) << error;
    ASSERT_TRUE(store_->CommitGroup(&error)) << error;
    const Report r = Build();
    EXPECT_EQ(r.unitCount, 2);
    ASSERT_EQ(r.latestUnits.size(), 2u);
    EXPECT_EQ(r.latestUnits[0].serial, "A");
    EXPECT_EQ(r.latestUnits[1].serial, "C");
    ASSERT_EQ(r.measurements.size(), 1u);
    EXPECT_EQ(r.measurements[0].process.count, 2);
}

}  // namespace
