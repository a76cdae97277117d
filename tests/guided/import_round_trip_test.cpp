// The station's own record against its text logs read back: a program of
// tests run against the simulator (faults, an abort, a failure, operator
// answers, runs the hand stopped by hanging up or falling silent, the
// Fingerprint on the real clock), its logs imported into an
// empty store, and the two stores compared run by run. The import must give
// every fact the log holds as the station recorded it; what the log cannot
// hold (a position reading that passed, each motor the technician saw) is
// named here and left out of the comparison.
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "guided_fixture.h"
#include "importer.h"
#include "motor_order.h"
#include "procedures.h"
#include "seams.h"
#include "store.h"

namespace {

using namespace std::chrono_literals;

constexpr int kFingerMovement = 1, kCableTension = 2, kStrainGages = 3, kVibrationGrasp = 4,
              kMultiAxis = 5, kEncoderGrasp = 6, kEncoderSpread = 7, kFingerprint = 8,
              kParameterCheck = 10;

zhandsim::Fault MotionFault(zhandsim::FaultKind kind, int motor, int at) {
    zhandsim::Fault fault;
    fault.kind = kind;
    fault.motor = motor;
    fault.at = at;
    return fault;
}

// One test of the program: its slot, cycles, keys and the hand's fault;
// and how the hand stops the run, from which of its command lines on.
struct Step {
    const char* title;
    int slot;
    int cycles;
    std::string keys;
    std::optional<zhandsim::Fault> fault;
    std::optional<HandStop> stop = {};
    int stopAhead = 0;
};

const Step kProgram[] = {
    {"Multi-Axis with a finger that does not break away", kMultiAxis, 3, "",
     MotionFault(zhandsim::FaultKind::NoBreakaway, 2, 12000)},
    {"Multi-Axis jammed, aborted after cycle 2", kMultiAxis, 5, "xa",
     MotionFault(zhandsim::FaultKind::JamOpen, 1, 2000)},
    {"Encoder slip - Grasp with a finger that stays closed", kEncoderGrasp, 2, "",
     MotionFault(zhandsim::FaultKind::JamClosed, 3, 2000)},
    {"Encoder slip - Spread", kEncoderSpread, 2, "", std::nullopt},
    {"Strain Gages", kStrainGages, 1, "\t\t\t\r\x1b", std::nullopt},
    {"Parameter Check: one fixed, one declined", kParameterCheck, 1, "yn", std::nullopt},
    {"Finger Movement: a motor not seen", kFingerMovement, 2, "319n", std::nullopt},
    {"Vibration Grasp with a finger that stays closed", kVibrationGrasp, 2, " ",
     MotionFault(zhandsim::FaultKind::JamClosed, 1, 2000)},
    // 7 lines of set-up, 13 a cycle, the ninth the spread's close: a fault in
    // each cycle, then the stop.
    {"Multi-Axis without breakaway, its line hung up on cycle 2's spread close", kMultiAxis, 3, "",
     MotionFault(zhandsim::FaultKind::NoBreakaway, 2, 12000), HandStop::Hangup, 7 + 13 + 8},
    // 6 lines of set-up, 8 a cycle: the close of cycle 2 goes unanswered,
    // F1's reading fails, F2's stops the run; the final positions are not read.
    {"Encoder slip - Grasp, the hand silent from cycle 2", kEncoderGrasp, 2, "", std::nullopt,
     HandStop::Silent, 6 + 8},
    // 3 lines of set-up, 7 a cycle: two readings accepted in cycle 1.
    {"Strain Gages, its line hung up as its second cycle starts", kStrainGages, 2, "\t\t\x1b",
     std::nullopt, HandStop::Hangup, 3 + 7},
    // 5 lines of set-up; three keys go unanswered. One session whatever the count.
    {"Cable Tension of a count of 4, the hand silent from its first close", kCableTension, 4, "abc",
     std::nullopt, HandStop::Silent, 5},
    // 3 lines of set-up, 4 for each velocity the search tries.
    {"Fingerprint, the hand silent from its first encoder sample", kFingerprint, 1, "  ",
     std::nullopt, HandStop::Silent, 3 + (kSimMinSpreadVelocity - 15) * 4},
};

// Tests whose first banner is written only once the test has measured: the
// log holds when its figures were written, not when the run began.
const std::set<std::string> kBannerAfterWork = {"Fingerprint", "Strain Gages"};

// The station's facts that no log line holds, as SQL conditions.
constexpr const char* kPositionReading =
    "(name GLOB 'F[1-3] closed' OR name GLOB 'F[1-3] open' OR name IN"
    " ('Spread closed', 'Spread open'))";
constexpr const char* kMotorSeen = "kind = 'MOTOR SEEN'";

class ImportRoundTrip : public GuidedTest {
  protected:
    void RunProgram() {
        hand.Command("FDEF");
        hand.Command("FSAVE");
        std::ofstream("Defaults.dat", std::ios::binary) << "MCV 100 100 90 50\n"
                                                           "MOV 100 100 100 40\n"
                                                           "NOPE 1 2 3 4\n"
                                                           "HOLD 0 0\n";
        UseFixedMotorDraws({2, 0, 4, 3, 1});  // motors 3, 1, 4, 2 in every cycle
        for (const Step& step : kProgram) {
            SCOPED_TRACE(step.title);
            Sim().ClearFaults();
            if (step.fault) Sim().InjectFault(*step.fault);
            station->tests.cycles[step.slot] = step.cycles;
            UseKeyScript(step.keys);
            if (step.stop) StopHand(*step.stop, step.stopAhead);
            Run(step.slot);
            if (step.stop) HealHand();
        }
        UseFixedMotorDraws({});
        Sim().ClearFaults();

        // The Fingerprint times the fingers' motion: on the real clock, so
        // into the log of today.
        UseRealClock();
        Sim().InjectFault(MotionFault(zhandsim::FaultKind::NoBreakaway, 1, 12000));
        UseKeyScript("  x");
        Run(kFingerprint);
        Sim().ClearFaults();
    }

    // Imports the station's logs, in the order of its runs, into a new store.
    void ImportLogs(const std::string& target) {
        std::string error;
        auto store = report::OpenImportStore(target, &error);
        ASSERT_NE(store, nullptr) << error;
        report::Importer importer(*store, station->identity.serialNumber);
        ASSERT_TRUE(importer.Begin(&error)) << error;
        for (const auto& row :
             Query("SELECT log_file FROM runs GROUP BY log_file ORDER BY min(id)")) {
            const report::ImportResult result = importer.Import(dir + "/" + row.at(0));
            ASSERT_TRUE(result.ok) << result.message;
        }
        ASSERT_TRUE(importer.Commit(&error)) << error;
    }
};

StoreRows Rows(const std::string& db, const std::string& sql) {
    return QueryStore(db, sql);
}

// Seconds of an ISO-8601 time: "2026-12-10T08:53:12".
std::string ToSecond(const std::string& iso) {
    return iso.substr(0, 19);
}

TEST_F(ImportRoundTrip, TheLogsGiveTheRunsTheStationRecorded) {
    RunProgram();
    const std::string recorded = dir + "/results.db";
    const std::string imported = dir + "/imported.db";
    ImportLogs(imported);

    const std::string runColumns =
        "SELECT id, test, serial, operator, cycles_planned, cycles_done, outcome, errors,"
        " log_file, started, ended FROM runs ORDER BY id";
    const StoreRows stationRuns = Rows(recorded, runColumns);
    const StoreRows importedRuns = Rows(imported, runColumns);
    ASSERT_EQ(stationRuns.size(), std::size(kProgram) + 1);
    ASSERT_EQ(importedRuns.size(), stationRuns.size());

    // The program as the station recorded it: each ending, fault and answer
    // is there, so the comparison below compares something.
    EXPECT_EQ(Rows(recorded, "SELECT test, outcome FROM runs ORDER BY id"),
              (StoreRows{{"Multi-Axis", "fail"},
                         {"Multi-Axis", "aborted"},
                         {"Encoder slip - Grasp", "fail"},
                         {"Encoder slip - Spread", "pass"},
                         {"Strain Gages", "pass"},
                         {"Parameter Check", "fail"},
                         {"Finger Movement", "fail"},
                         {"Vibration Grasp", "fail"},
                         {"Multi-Axis", "error"},
                         {"Encoder slip - Grasp", "error"},
                         {"Strain Gages", "error"},
                         {"Cable Tension/BreakAway", "error"},
                         {"Fingerprint", "error"},
                         {"Fingerprint", "fail"}}));
    EXPECT_EQ(Rows(recorded, "SELECT DISTINCT kind FROM events ORDER BY kind"),
              (StoreRows{{"Fixed"},
                         {"HAND NOT RESPONDING"},
                         {"JAMMED CLOSE"},
                         {"JAMMED OPEN"},
                         {"LINK TO HAND LOST"},
                         {"MOTOR SEEN"},
                         {"NO BREAKAWAY"},
                         {"NO POSITION READING"},
                         {"NOT FUNCTIONING PROPERLY"},
                         {"User chose not to fix"},
                         {"bad record"},
                         {"failed to fully close"},
                         {"not found in hand"}}));

    for (std::size_t r = 0; r < stationRuns.size(); ++r) {
        const auto& mine = stationRuns[r];
        const auto& theirs = importedRuns[r];
        const std::string& test = mine[1];
        SCOPED_TRACE(test + " (run " + mine[0] + ")");
        // test, serial, operator, cycles, outcome, errors, log file.
        EXPECT_EQ(std::vector(theirs.begin() + 1, theirs.begin() + 9),
                  std::vector(mine.begin() + 1, mine.begin() + 9));
        const std::string begun = ToSecond(mine[9]);
        const std::string over = ToSecond(mine[10]);
        if (kBannerAfterWork.contains(test)) {
            EXPECT_LE(begun, ToSecond(theirs[9]));
            EXPECT_LE(ToSecond(theirs[9]), over);
        } else {
            EXPECT_EQ(ToSecond(theirs[9]), begun);
        }
        // The log has no end time: the import takes the last time it shows.
        EXPECT_LE(ToSecond(theirs[9]), ToSecond(theirs[10]));
        EXPECT_LE(ToSecond(theirs[10]), over);

        const std::string eventColumns =
            "SELECT cycle, motor, kind, text, at FROM events WHERE run_id = ";
        StoreRows myEvents =
            Rows(recorded, eventColumns + mine[0] + " AND NOT " + kMotorSeen + " ORDER BY seq");
        const StoreRows theirEvents = Rows(imported, eventColumns + theirs[0] + " ORDER BY seq");
        ASSERT_EQ(theirEvents.size(), myEvents.size());
        for (std::size_t e = 0; e < myEvents.size(); ++e) {
            auto& mineEvent = myEvents[e];
            const auto& theirEvent = theirEvents[e];
            SCOPED_TRACE(mineEvent[3]);
            // Finger Movement's log does not say in which cycle the motor failed.
            if (test == "Finger Movement") mineEvent[0] = "NULL";
            EXPECT_EQ(std::vector(theirEvent.begin(), theirEvent.begin() + 4),
                      std::vector(mineEvent.begin(), mineEvent.begin() + 4));
            // A fault line says when it was written; other lines take the
            // time of their section.
            if (mineEvent[3].find(" in cycle ") != std::string::npos) {
                EXPECT_EQ(ToSecond(theirEvent[4]), ToSecond(mineEvent[4]));
            } else {
                EXPECT_LE(begun, ToSecond(theirEvent[4]));
                EXPECT_LE(ToSecond(theirEvent[4]), over);
            }
        }

        const std::string measurementColumns =
            "SELECT name, value, unit, low, high, outcome, cycle FROM measurements"
            " WHERE run_id = ";
        EXPECT_EQ(Rows(imported, measurementColumns + theirs[0] + " ORDER BY seq"),
                  Rows(recorded, measurementColumns + mine[0] + " AND NOT " + kPositionReading +
                                     " ORDER BY seq"));
    }
}

}  // namespace
