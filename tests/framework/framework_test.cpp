// The framework's blocks and the endurance tests' own rules against a scripted
// hand on a pty, with the fake clock and scripted keys: the check limits with
// what they record, the recovery, failed readings, the command poll, pause,
// abort and countdown, the gauge drift, and a test whose log cannot be opened.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "framework.h"
#include "framework_fixture.h"
#include "procedures.h"
#include "seams.h"
#include "test_log.h"
#include "test_run.h"

namespace fs = std::filesystem;

namespace {

// ---- position checks ----

struct CheckCase {
    PositionCheck check;
    int position;
    const char* line;  // fault line before " at <time>", or "" for a pass
    int recovery;      // MOV used by the recovery, 0 for none
};

// The limits table at its boundaries: each check's fault words, its
// recovery, and the measurement it records with its pass band.
const CheckCase kCheckCases[] = {
    {PositionCheck::FingerClosed, -40, "F2 JAMMED OPEN in cycle 7", 65},
    {PositionCheck::FingerClosed, 2999, "F2 JAMMED OPEN in cycle 7", 65},
    {PositionCheck::FingerClosed, 3000, "F2 PREMATURE BREAKAWAY in cycle 7", 65},
    {PositionCheck::FingerClosed, 9999, "F2 PREMATURE BREAKAWAY in cycle 7", 65},
    {PositionCheck::FingerClosed, 10000, "F2 NO BREAKAWAY in cycle 7", 0},
    {PositionCheck::FingerClosed, 15099, "F2 NO BREAKAWAY in cycle 7", 0},
    {PositionCheck::FingerClosed, 15100, "", 0},
    {PositionCheck::FingerOpen, 500, "", 0},
    {PositionCheck::FingerOpen, 501, "F2 JAMMED CLOSE in cycle 7", 65},
    {PositionCheck::SpreadClosed, 3049, "Spread DID NOT FULLY CLOSE in cycle 7", 35},
    {PositionCheck::SpreadClosed, 3050, "", 0},
    {PositionCheck::SpreadOpen, 50, "", 0},
    {PositionCheck::SpreadOpen, 51, "Spread DID NOT FULLY OPEN in cycle 7", 35},
};

// The measurement a check records: its name and pass band.
struct CheckRecord {
    PositionCheck check;
    const char* name;
    const char* low;
    const char* high;
};
const CheckRecord kCheckRecords[] = {
    {PositionCheck::FingerClosed, "F2 closed", "15100", "NULL"},
    {PositionCheck::FingerOpen, "F2 open", "NULL", "500"},
    {PositionCheck::SpreadClosed, "Spread closed", "3050", "NULL"},
    {PositionCheck::SpreadOpen, "Spread open", "NULL", "50"},
};

const CheckRecord& RecordOf(PositionCheck check) {
    for (const CheckRecord& r : kCheckRecords) {
        if (r.check == check) return r;
    }
    std::abort();
}

// A log line as the record keeps it: without its line end.
std::string Chomp(const std::string& line) {
    return line.ends_with('\n') ? line.substr(0, line.size() - 1) : line;
}

constexpr const char* kLastMeasurement =
    "SELECT name, CAST(value AS INTEGER), unit, CAST(low AS INTEGER), CAST(high AS INTEGER),"
    " outcome, cycle FROM measurements ORDER BY seq DESC LIMIT 1";
constexpr const char* kLastEvent =
    "SELECT cycle, motor, kind, text FROM events ORDER BY seq DESC LIMIT 1";

TEST_F(Framework, ChecksFaultAtTheirLimitsAndRecoverInOrder) {
    TestRun run(*station, 5);
    ASSERT_TRUE(run.OpenLog());
    int errors = 0;
    for (const CheckCase& c : kCheckCases) {
        const CheckRecord& record = RecordOf(c.check);
        SCOPED_TRACE(std::string(record.name) + " at " + std::to_string(c.position));
        const std::string motor = IsSpreadCheck(c.check) ? "S" : "2";
        Peer().AnswerCommands([&](const std::string& command) -> std::optional<std::string> {
            if (command == motor + "FGET P") return std::to_string(c.position);
            if (command == motor + "FGET MOV") return "123";
            return "";
        });
        const std::size_t before = ReadTestLog().size();
        const StoreRows eventsBefore = Query("SELECT count(*) FROM events");

        const int fault = run.Check(c.check, 2, 7);

        Commands expected{motor + "FGET P"};
        if (c.recovery != 0) {
            expected.insert(expected.end(),
                            {motor + "FGET MOV", motor + "FSET MOV " + std::to_string(c.recovery),
                             motor + "HI", motor + "FSET MOV 123"});
        }
        EXPECT_EQ(Peer().TakeCommands(), expected);
        const std::string line = *c.line ? std::string(c.line) + " at " + TimeText() : "";
        EXPECT_EQ(ReadTestLog().substr(before), line);
        EXPECT_EQ(fault, *c.line ? 1 : 0);
        errors += fault;
        EXPECT_EQ(run.Errors(), errors);

        EXPECT_EQ(Query(kLastMeasurement),
                  (StoreRows{{record.name, std::to_string(c.position), "counts", record.low,
                              record.high, *c.line ? "fail" : "pass", "7"}}));
        if (*c.line) {
            const std::string motorName = IsSpreadCheck(c.check) ? "Spread" : "F2";
            const std::string words(c.line + motorName.size() + 1,
                                    std::string(c.line).find(" in cycle") - motorName.size() - 1);
            EXPECT_EQ(Query(kLastEvent), (StoreRows{{"7", motorName, words, Chomp(line)}}));
        } else {
            EXPECT_EQ(Query("SELECT count(*) FROM events"), eventsBefore);
        }
    }
}

TEST_F(Framework, FailedPositionQueryIsAFaultWithoutRecovery) {
    struct Answer {
        const char* name;
        std::optional<std::string> reply;
    };
    const Answer answers[] = {{"hand error", "ERR 12"},
                              {"no number", "P?"},
                              {"empty reply", ""},
                              {"lone minus", "-"},
                              {"silent hand", std::nullopt}};
    TestRun run(*station, 5);
    ASSERT_TRUE(run.OpenLog());
    for (const Answer& a : answers) {
        SCOPED_TRACE(a.name);
        Peer().AnswerCommands([&](const std::string&) { return a.reply; });
        const std::size_t before = ReadTestLog().size();

        EXPECT_EQ(run.Check(PositionCheck::FingerClosed, 3, 4), 1);
        EXPECT_EQ(run.Check(PositionCheck::SpreadOpen, 0, 5), 1);

        EXPECT_EQ(Peer().TakeCommands(), (Commands{"3FGET P", "SFGET P"}));
        const std::string f3 = "F3 NO POSITION READING in cycle 4 at " + TimeText();
        const std::string spread = "Spread NO POSITION READING in cycle 5 at " + TimeText();
        EXPECT_EQ(ReadTestLog().substr(before), f3 + spread);
        EXPECT_EQ(Query("SELECT cycle, motor, kind, text FROM events ORDER BY seq DESC LIMIT 2"),
                  (StoreRows{{"5", "Spread", "NO POSITION READING", Chomp(spread)},
                             {"4", "F3", "NO POSITION READING", Chomp(f3)}}));
    }
    // Nothing was read, so nothing was measured.
    EXPECT_EQ(Query("SELECT count(*) FROM measurements"), StoreRows{{"0"}});
    EXPECT_EQ(run.Errors(), 10);
}

TEST_F(Framework, RecoveryWithoutAVelocityReadingRestoresNothing) {
    Peer().AnswerCommands([](const std::string& command) -> std::optional<std::string> {
        if (command == "1FGET MOV") return "ERR 3";
        return "";
    });
    TestRun run(*station, 5);
    run.RecoverMotor("1", 65);
    EXPECT_EQ(Peer().TakeCommands(), (Commands{"1FGET MOV", "1FSET MOV 65", "1HI"}));
}

// ---- keys between cycles ----

TEST_F(Framework, CommandPollActsOnAAndPOfEitherCase) {
    struct KeyCase {
        const char* keys;
        bool abort;
        bool paused;  // the pause ran: it blanks row 21 when it ends
    };
    const KeyCase cases[] = {
        {"", false, false},     {"a", true, false},  {"A", true, false},  {"x", false, false},
        {"\x1b", false, false}, {"px", false, true}, {"Pa", false, true},
    };
    const std::string pauseEnd = "\x1b[22;1H" + std::string(33 + 14, ' ');
    TestRun run(*station, 5);
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.keys);
        UseKeyScript(c.keys);
        StdoutCapture capture;
        EXPECT_EQ(run.CommandPoll(), c.abort);
        EXPECT_EQ(capture.Take(), c.paused ? pauseEnd : "");
        // Only the key that ended a pause is left waiting.
        EXPECT_EQ(KeyWaiting(), c.paused);
    }
    // The key that ended a pause is the next poll's: "a" aborts there.
    UseKeyScript("pa");
    StdoutCapture capture;
    EXPECT_FALSE(run.CommandPoll());
    EXPECT_TRUE(run.CommandPoll());
}

TEST_F(Framework, AbortRecordsTheCycleAndCancelsLaterTests) {
    auto& testCycles = station->tests.cycles;
    testCycles = {0, 2, 1, 1, 500, 1500, 20, 20, 1, 500, 1};
    EXPECT_EQ(AbortTest(station->tests, 5, 3), "Test aborted in cycle 3 of 1500.");
    EXPECT_EQ(testCycles, (std::array<int, 11>{0, 2, 1, 1, 500, 3, 0, 0, 0, 0, 0}));

    testCycles = {0, 2, 1, 1, 500, 1500, 20, 20, 1, 500, 7};
    EXPECT_EQ(AbortTest(station->tests, 10, 1), "Test aborted in cycle 1 of 7.");
    EXPECT_EQ(testCycles, (std::array<int, 11>{0, 2, 1, 1, 500, 1500, 20, 20, 1, 500, 1}));
}

// ---- waiting loops on the fake clock ----

TEST_F(Framework, CountdownShowsTenToOneOneASecondThenReturns) {
    const std::uint32_t start = TickCount();
    StdoutCapture capture;
    CountdownPrompt(station->console, station->clock, "Test completed with 0 errors.");
    const std::string text = capture.Take();

    std::string expected = "\x1b[21;1H" + std::string(40 - 29 / 2, ' ') +
                           "Test completed with 0 errors." + "\x1b[22;1H";
    for (int n = 10; n >= 1; --n) {
        char count[64];
        std::snprintf(count, sizeof count, "\r%sPress any key to continue [%2.2d]...",
                      std::string(40 - 33 / 2, ' ').c_str(), n);
        expected += count;
    }
    EXPECT_EQ(text, expected);
    // The first count after 1 ms, then one every 1001 ms: about nine seconds.
    EXPECT_EQ(TickCount() - start, 1u + 9u * 1001u);
}

TEST_F(Framework, CountdownEndsAtOnceOnAWaitingKeyAndLeavesIt) {
    UseKeyScript("q");
    const std::uint32_t start = TickCount();
    StdoutCapture capture;
    CountdownPrompt(station->console, station->clock, "Test aborted in cycle 3 of 1500.");
    const std::string text = capture.Take();
    EXPECT_EQ(text.find("Press any key"), std::string::npos);
    EXPECT_EQ(TickCount(), start);
    EXPECT_TRUE(KeyWaiting());
    EXPECT_EQ(GetKey(), 'q');
}

TEST_F(Framework, PauseBlinksUntilAKeyArrivesAndLeavesIt) {
    // The key arrives from the terminal while the pause waits; a helper types
    // it once the indicator has blinked a few times.
    UseTerminalKeys();
    StdinPipe keyboard;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[1]);
    std::string text;
    std::thread watcher([&] {
        char buffer[4096];
        ssize_t n = 0;
        bool typed = false;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            std::size_t shown = 0;
            for (std::size_t at = 0; (at = text.find("*** PAUSED ***", at)) != std::string::npos;
                 ++at) {
                ++shown;
            }
            if (!typed && shown >= 3) {
                keyboard.Type("x");
                typed = true;
            }
        }
    });

    const std::uint32_t start = TickCount();
    PauseTest(station->console, station->clock);
    const std::uint32_t waited = TickCount() - start;
    std::fflush(stdout);
    dup2(savedOut, STDOUT_FILENO);
    close(savedOut);
    watcher.join();
    close(out[0]);

    // Row 21 alternates indicator and blanks, the first at once, then one per
    // 1001 ms, and is blanked when the pause ends.
    const std::string row = "\x1b[22;1H" + std::string(33, ' ');
    const std::string on = row + "*** PAUSED ***";
    const std::string off = row + "              ";
    ASSERT_TRUE(text.ends_with(off));
    text.resize(text.size() - off.size());
    std::size_t at = 0;
    std::uint32_t blinks = 0;
    while (at < text.size() && text.compare(at, on.size(), blinks % 2 == 0 ? on : off) == 0) {
        at += on.size();
        ++blinks;
    }
    EXPECT_EQ(at, text.size()) << text.substr(at, 80);
    EXPECT_GE(blinks, 3u);
    EXPECT_GE(waited, 1u + (blinks - 1u) * 1001u);
    EXPECT_LE(waited, 1u + blinks * 1001u);
    EXPECT_TRUE(KeyWaiting());
    EXPECT_EQ(GetKey(), 'x');
}

// ---- the endurance tests on the scripted hand ----

TEST_F(Framework, RegistrationStoresNameAndDefaultAndSendsNothing) {
    struct Registration {
        TestProc proc;
        int slot;
        const char* name;
        int cycles;
    };
    const Registration tests[] = {{VibrationGraspTest, 4, "Vibration Grasp", 500},
                                  {MultiAxisTest, 5, "Multi-Axis", 1500},
                                  {EncoderSlipGraspTest, 6, "Encoder slip - Grasp", 20},
                                  {EncoderSlipSpreadTest, 7, "Encoder slip - Spread", 20},
                                  {AfterFreezerTest, 9, "After-Freezer", 500}};
    for (const Registration& t : tests) {
        station->tests.names[t.slot].clear();
        EXPECT_EQ(Run(t.proc, -t.slot), t.cycles);
        EXPECT_EQ(station->tests.names[t.slot], t.name);
        EXPECT_EQ(screen, "");
    }
    EXPECT_EQ(Peer().TakeCommands(), Commands{});
    EXPECT_TRUE(ReadTestLog().empty());
}

TEST_F(Framework, MultiAxisCycleCommandsAndSummary) {
    station->tests.cycles[5] = 2;
    model->temperatures = {"215", "457", "300"};
    const std::string time = TimeText();
    EXPECT_EQ(Run(MultiAxisTest, 5), 0);

    const Commands setUp{"FDEF",         "FSAVE",        "1234HI",      "FSET MOV 150",
                         "FSET MCV 150", "4FSET MOV 45", "4FSET MCV 45"};
    const Commands cycle{"GC",      "1FGET P", "2FGET P",  "3FGET P", "GO",
                         "1FGET P", "2FGET P", "3FGET P",  "SC",      "SFGET P",
                         "SO",      "SFGET P", "PGET TEMP"};
    Commands expected = setUp;
    expected.insert(expected.end(), cycle.begin(), cycle.end());
    expected.insert(expected.end(), cycle.begin(), cycle.end());
    EXPECT_EQ(Peer().TakeCommands(), expected);
    // The third reading (30.0) came after the last cycle's: the maximum is 45.
    EXPECT_EQ(ReadTestLog(), "\n\n*****\n* Multi-Axis, 2 cycles\n* " + time +
                                 "*****\n\n\nSUMMARY:\nErrors: 0\nMaximum temperature: 45\n");
    EXPECT_NE(screen.find("Test completed with 0 errors."), std::string::npos);
    EXPECT_EQ(Query("SELECT value, unit, cycle FROM measurements"
                    " WHERE name = 'Maximum temperature'"),
              (StoreRows{{"45.0", "C", "NULL"}}));
    // Eight position checks a cycle, all passed.
    EXPECT_EQ(Query("SELECT cycle, count(*), min(outcome) FROM measurements"
                    " WHERE unit = 'counts' GROUP BY cycle"),
              (StoreRows{{"1", "8", "pass"}, {"2", "8", "pass"}}));
}

TEST_F(Framework, AfterFreezerDiffersOnlyInItsTitleAndBelowZeroTemperaturesGiveZero) {
    station->tests.cycles[9] = 1;
    model->temperatures = {"-35"};
    const std::string time = TimeText();
    EXPECT_EQ(Run(AfterFreezerTest, 9), 0);
    EXPECT_EQ(ReadTestLog(), "\n\n*****\n* After Freezer, 1 cycles\n* " + time +
                                 "*****\n\n\nSUMMARY:\nErrors: 0\nMaximum temperature: 0\n");
    EXPECT_NE(screen.find("\x1b[1;1H" + std::string(34, ' ') + "After-Freezer"), std::string::npos);
}

TEST_F(Framework, VibrationGraspKeepsTheEarliestFurthestGaugeReading) {
    station->tests.cycles[4] = 4;
    // F1 swings +30, -30, then -31; F2 +30 then -30; F3 never moves.
    model->gauges = {"100 200 300", "130 230 300", "70 170 300", "99 200 300", "69 200 300"};
    UseKeyScript(" ");  // the ready key
    const std::string time = TimeText();
    EXPECT_EQ(Run(VibrationGraspTest, 4), 0);
    EXPECT_EQ(ReadTestLog(), "\n\n*****\n* Vibration Grasp, 4 cycles\n* " + time +
                                 "*****\n\n\nSUMMARY:\nErrors: 0\n\nMax gage drift\n"
                                 "F1: -31\nF2: 30\nF3: 0\n");
    EXPECT_EQ(Query("SELECT name, value, unit FROM measurements WHERE name LIKE '%drift'"
                    " ORDER BY seq"),
              (StoreRows{{"F1 gage drift", "-31.0", "NULL"},
                         {"F2 gage drift", "30.0", "NULL"},
                         {"F3 gage drift", "0.0", "NULL"}}));
    const Commands commands = Peer().TakeCommands();
    const Commands setUp{"FDEF", "FSAVE", "1234HI", "SC", "FSET MOV 65", "FSET MCV 65", "GFGET SG"};
    EXPECT_EQ(Commands(commands.begin(), commands.begin() + 7), setUp);
    EXPECT_NE(screen.find("Test complete, press any key to continue..."), std::string::npos);
}

TEST_F(Framework, VibrationGraspClosesTheSpreadAfterEachFault) {
    station->tests.cycles[4] = 1;
    model->closedAt[2] = 9000;  // F2 breaks away early
    UseKeyScript(" ");
    EXPECT_EQ(Run(VibrationGraspTest, 4), 0);
    const Commands commands = Peer().TakeCommands();
    const Commands cycle(commands.begin() + 7, commands.end());
    EXPECT_EQ(cycle, (Commands{"GC", "1FGET P", "2FGET P", "2FGET MOV", "2FSET MOV 65", "2HI",
                               "2FSET MOV 50", "SC", "3FGET P", "GO", "1FGET P", "2FGET P",
                               "3FGET P", "GFGET SG"}));
    EXPECT_NE(ReadTestLog().find("F2 PREMATURE BREAKAWAY in cycle 1 at "), std::string::npos);
}

TEST_F(Framework, ATestWhoseLogCannotBeOpenedDrivesNothing) {
    struct Case {
        TestProc proc;
        int slot;
    };
    const Case tests[] = {{VibrationGraspTest, 4},
                          {MultiAxisTest, 5},
                          {EncoderSlipGraspTest, 6},
                          {EncoderSlipSpreadTest, 7},
                          {AfterFreezerTest, 9}};
    // A directory stands where the day's log would be.
    std::string name;
    std::fclose(OpenTestLog(station->identity, &name));
    fs::remove(name);
    fs::create_directory(name);
    for (const Case& t : tests) {
        SCOPED_TRACE(t.slot);
        const int cycles = station->tests.cycles[t.slot];
        UseKeyScript("k");
        EXPECT_EQ(Run(t.proc, t.slot), 1);
        EXPECT_NE(screen.find("Could not open log file " + name), std::string::npos);
        EXPECT_FALSE(KeyWaiting());  // the key was taken
        EXPECT_EQ(Peer().TakeCommands(), Commands{});
        EXPECT_EQ(station->tests.cycles[t.slot], cycles);
    }
    // Each run is on record as one the station could not go on with.
    EXPECT_EQ(Query("SELECT test, outcome, cycles_done, log_file, ended IS NOT NULL FROM runs"
                    " ORDER BY id"),
              (StoreRows{{"Vibration Grasp", "error", "0", name, "1"},
                         {"Multi-Axis", "error", "0", name, "1"},
                         {"Encoder slip - Grasp", "error", "0", name, "1"},
                         {"Encoder slip - Spread", "error", "0", name, "1"},
                         {"After-Freezer", "error", "0", name, "1"}}));
}

}  // namespace
