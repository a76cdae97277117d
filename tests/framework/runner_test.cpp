// The runner against the scripted hand: the record of each way a run ends,
// progress committed after every cycle, the abort's order, a cycle loop
// stopped by its body, and the line on row 21 when the record cannot be
// stored, beside the pause and the countdown.
#include <sqlite3.h>

#include <filesystem>

#include "framework.h"
#include "framework_fixture.h"
#include "procedures.h"
#include "seams.h"
#include "test_log.h"
#include "test_run.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRun =
    "SELECT test, serial, operator, station, software, cycles_planned, cycles_done, outcome,"
    " errors, ended IS NOT NULL FROM runs";

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// ---- outcomes ----

struct PathCase {
    const char* name;
    const char* keys;
    int shortFinger;  // a finger that closes only to 9000 (0: none)
    int result;
    const char* cyclesDone;
    const char* outcome;
    const char* errors;
};

const PathCase kPaths[] = {
    {"completed without faults", "", 0, 0, "3", "pass", "0"},
    {"completed with faults", "", 2, 0, "3", "fail", "3"},
    {"paused and resumed", "px", 0, 0, "3", "pass", "0"},
    {"aborted after the second cycle", "xa", 0, 1, "2", "aborted", "0"},
    {"aborted after faults", "a", 3, 1, "1", "aborted", "1"},
};

TEST_F(Framework, EachWayARunEndsIsItsOutcome) {
    for (const PathCase& c : kPaths) {
        SCOPED_TRACE(c.name);
        fs::remove(store);
        fs::remove(store + "-wal");
        fs::remove(store + "-shm");
        journal.reset();
        results::JournalOptions options;
        options.target = store;
        options.station = "bench-1";
        options.software = "test";
        context.reset();
        journal = std::make_unique<results::Journal>(options);
        ASSERT_TRUE(journal->Open());
        context = std::make_unique<TestStation>(journal.get());
        station = &context->station;
        RegisterTests(*station);
        ASSERT_TRUE(SavePrefs(station->identity, 1, "HND042"));
        ASSERT_TRUE(SavePrefs(station->identity, 2, "QA"));
        station->tests.cycles[5] = 3;
        model->closedAt = {0, 16000, 16000, 16000, 3100};
        if (c.shortFinger != 0) model->closedAt[static_cast<std::size_t>(c.shortFinger)] = 9000;
        UseKeyScript(c.keys);

        EXPECT_EQ(Run(MultiAxisTest, 5), c.result);

        EXPECT_EQ(Query(kRun), (StoreRows{{"Multi-Axis", "HND042", "QA", "bench-1", "test", "3",
                                           c.cyclesDone, c.outcome, c.errors, "1"}}));
        EXPECT_EQ(Query("SELECT count(*) FROM events"), (StoreRows{{c.errors}}));
    }
}

TEST_F(Framework, ProgressIsCommittedAfterEveryCycleWhileTheRunIsOpen) {
    station->tests.cycles[5] = 3;
    model->closedAt[1] = 2000;  // F1 jams open in every cycle
    TestRun run(*station, 5);
    ASSERT_TRUE(run.OpenLog());
    StoreRows seen;
    StdoutCapture capture;
    const auto ending = run.RunCycles([&](int cycle) {
        seen.push_back(Query("SELECT cycles_done, errors, outcome FROM runs").at(0));
        run.Check(PositionCheck::FingerClosed, 1, cycle);
    });
    EXPECT_EQ(ending, TestRun::Ending::Completed);
    EXPECT_EQ(seen,
              (StoreRows{{"0", "0", "running"}, {"1", "1", "running"}, {"2", "2", "running"}}));
    run.Complete();
    EXPECT_EQ(Query("SELECT cycles_done, errors, outcome FROM runs"),
              (StoreRows{{"3", "3", "fail"}}));
}

TEST_F(Framework, AbortWritesTheTestsLinesThenEndsTheRecordThenCountsDown) {
    station->tests.cycles[5] = 9;
    TestRun run(*station, 5);
    ASSERT_TRUE(run.OpenLog());
    UseKeyScript("xxa");
    std::string recordAtAbort;
    StdoutCapture capture;
    const auto ending = run.RunCycles([&](int cycle) { run.log().Print("cycle %d\n", cycle); },
                                      [&] {
                                          recordAtAbort = Query("SELECT outcome FROM runs")[0][0];
                                          run.log().Write("summary\n");
                                      });
    const std::string shown = capture.Take();

    EXPECT_EQ(ending, TestRun::Ending::Aborted);
    EXPECT_EQ(recordAtAbort, "running");
    EXPECT_EQ(ReadTestLog(),
              "cycle 1\ncycle 2\ncycle 3\n\n\nTest aborted in cycle 3 of 9.summary\n");
    EXPECT_EQ(Query("SELECT cycles_done, outcome FROM runs"), (StoreRows{{"3", "aborted"}}));
    EXPECT_EQ(station->tests.cycles[5], 3);
    for (int slot = 6; slot <= kTestCount; ++slot) EXPECT_EQ(station->tests.cycles[slot], 0);
    const std::string message = "Test aborted in cycle 3 of 9.";
    EXPECT_NE(shown.find("\x1b[21;1H" + std::string(40 - message.size() / 2, ' ') + message),
              std::string::npos);
    EXPECT_NE(shown.find("Press any key to continue [01]..."), std::string::npos);
    // Ending the record again changes nothing.
    run.End(results::kError);
    EXPECT_EQ(Query("SELECT outcome FROM runs"), (StoreRows{{"aborted"}}));
}

TEST_F(Framework, ABodyThatStopsEndsTheLoopWithoutCountingItsCycle) {
    station->tests.cycles[5] = 5;
    {
        TestRun run(*station, 5);
        ASSERT_TRUE(run.OpenLog());
        std::vector<int> cycles;
        const auto ending = run.RunCycles(
            [&](int cycle) {
                cycles.push_back(cycle);
                if (cycle == 2) run.StopCycles();
            },
            {}, {.status = false, .commands = false});
        EXPECT_EQ(ending, TestRun::Ending::Stopped);
        EXPECT_EQ(cycles, (std::vector<int>{1, 2}));
        EXPECT_EQ(run.CyclesDone(), 1);
    }
    // A run left open by its test is one the station could not go on with.
    EXPECT_EQ(Query("SELECT cycles_done, outcome FROM runs"), (StoreRows{{"1", "error"}}));
}

TEST_F(Framework, ARunWithoutCyclesHasDoneWhatItPlanned) {
    {
        TestRun run(*station, 2);
        ASSERT_TRUE(run.OpenLog(1));
        run.Complete();
    }
    {
        TestRun run(*station, 8);
        ASSERT_TRUE(run.OpenLog(1));
        run.Fault(std::nullopt, "F1", "failed to fully close",
                  "F1 failed to fully close at V=20\n");
        run.Complete();
    }
    EXPECT_EQ(Query("SELECT test, cycles_planned, cycles_done, outcome, errors FROM runs"),
              (StoreRows{{"Cable Tension/BreakAway", "1", "1", "pass", "0"},
                         {"Fingerprint", "1", "1", "fail", "1"}}));
}

// ---- a hand that stops answering ----

// Multi-Axis sends 7 commands before its first cycle and 13 in each: GC, the
// three fingers' FGET P, GO, the three again, SC, SFGET P, SO, SFGET P and
// PGET TEMP.
constexpr int kSetUpCommands = 7;
constexpr int kCycleCommands = 13;

struct SilenceCase {
    const char* name;
    int from;  // first command the hand leaves unanswered (counted from 0)
    int to;    // first one it answers again; -1: never
    int result;
    const char* cycleLines;  // the log between the banner and the summary (%s: time)
    int errors;
    int maxTemperature;
    const char* cyclesDone;
    const char* outcome;
    const char* events;  // kind@cycle of each event
    int sent;            // commands the hand received
    const char* screen;  // row 20's message ("": the run completed)
};

const int kCycle2 = kSetUpCommands + kCycleCommands;

const SilenceCase kSilences[] = {
    {"silent from the second cycle on: its close and two readings", kCycle2, -1, 1,
     "F1 NO POSITION READING in cycle 2 at %s\nHAND NOT RESPONDING in cycle 2 at %s", 1, 25, "1",
     "error", "NO POSITION READING@2 HAND NOT RESPONDING@2", kCycle2 + 3,
     "Hand not responding in cycle 2 of 3."},
    {"silent from the set-up's FSAVE: no cycle runs", 1, -1, 1,
     "\nHAND NOT RESPONDING in cycle 1 at %s", 0, 0, "0", "error", "HAND NOT RESPONDING@1", 4,
     "Hand not responding in cycle 1 of 3."},
    {"two readings unanswered, then an answer: the run goes on", kCycle2 + 1, kCycle2 + 3, 0,
     "F1 NO POSITION READING in cycle 2 at %sF2 NO POSITION READING in cycle 2 at %s", 2, 25, "3",
     "fail", "NO POSITION READING@2 NO POSITION READING@2", kSetUpCommands + 3 * kCycleCommands,
     ""},
};

std::string Substitute(const std::string& pattern, const std::string& time) {
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.compare(i, 2, "%s") == 0) {
            text += time;
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

TEST_F(Framework, ThreeExchangesInARowUnansweredStopTheRunForTheHand) {
    for (const SilenceCase& c : kSilences) {
        SCOPED_TRACE(c.name);
        if (&c != kSilences) {
            TearDown();
            SetUp();
        }
        station->tests.cycles[5] = 3;
        int seen = 0;
        Peer().AnswerCommands([&, m = model](const std::string& command) -> std::optional<std::string> {
            const int n = seen++;
            if (n >= c.from && (c.to < 0 || n < c.to)) return std::nullopt;
            return m->Answer(command);
        });
        const std::string time = TimeText();

        EXPECT_EQ(Run(MultiAxisTest, 5), c.result);

        EXPECT_EQ(Peer().TakeCommands().size(), static_cast<std::size_t>(c.sent));
        EXPECT_EQ(ReadTestLog(), "\n\n*****\n* Multi-Axis, 3 cycles\n* " + time + "*****\n" +
                                     Substitute(c.cycleLines, time) +
                                     "\n\nSUMMARY:\nErrors: " + std::to_string(c.errors) +
                                     "\nMaximum temperature: " + std::to_string(c.maxTemperature) +
                                     "\n");
        EXPECT_EQ(Query("SELECT cycles_done, outcome, errors FROM runs"),
                  (StoreRows{{c.cyclesDone, c.outcome, std::to_string(c.errors)}}));
        const StoreRows events = Query(
            "SELECT group_concat(kind || '@' || cycle, ' ') FROM (SELECT * FROM events ORDER BY "
            "seq)");
        EXPECT_EQ(events, (StoreRows{{c.events}}));
        // The stop's event stands without its line ends.
        EXPECT_EQ(Query("SELECT count(*) FROM events WHERE text LIKE '%' || char(10) || '%'"),
                  (StoreRows{{"0"}}));
        const bool stopped = c.screen[0] != '\0';
        // A stopped run keeps its own count and cancels the later tests.
        EXPECT_EQ(station->tests.cycles[5], 3);
        EXPECT_EQ(station->tests.cycles[6], stopped ? 0 : 20);
        EXPECT_EQ(station->tests.cycles[10], stopped ? 0 : 1);
        if (stopped) {
            const std::string message = c.screen;
            EXPECT_NE(
                screen.find("\x1b[21;1H" + std::string(40 - message.size() / 2, ' ') + message),
                std::string::npos);
            EXPECT_NE(screen.find("Press any key to continue [01]..."), std::string::npos);
        }
        // No wait for a port that never went away.
        EXPECT_EQ(screen.find("Reconnect the hand"), std::string::npos);
    }
}

// ---- the store's trouble on row 21 ----

// The runner's row-21 line as the console writes it: the cursor kept, the row
// blanked, the text centred, the cursor back.
std::string Aside(const std::string& text) {
    return "\x1b"
           "7\x1b[22;1H\x1b[2K" +
           std::string(40 - text.size() / 2, ' ') + text +
           "\x1b"
           "8";
}

TEST_F(Framework, AStoreThatCannotBeUsedIsSaidOnceAndGivesWayToPauseAndCountdown) {
    // The results store is a directory: nothing can be stored from the start.
    context.reset();
    journal.reset();
    fs::remove(store);
    fs::create_directory(store);
    results::JournalOptions options;
    options.target = store;
    options.station = "bench-1";
    journal = std::make_unique<results::Journal>(options);
    EXPECT_FALSE(journal->Open());
    const std::string problem = journal->Problem();
    ASSERT_FALSE(problem.empty());
    context = std::make_unique<TestStation>(journal.get());
    station = &context->station;
    RegisterTests(*station);
    station->tests.cycles[5] = 3;
    UseKeyScript("px");  // a pause after cycle 1, ended at once by the "x" waiting
    const std::string time = TimeText();

    EXPECT_EQ(Run(MultiAxisTest, 5), 0);

    // Shown when the run began, blanked for the pause, shown again after the
    // next cycle, blanked for the countdown.
    EXPECT_EQ(Occurrences(screen, Aside(problem)), 2u);
    const std::size_t first = screen.find(Aside(problem));
    const std::size_t pause = screen.find("\x1b[22;1H\x1b[2K\x1b[22;1H" + std::string(47, ' '));
    const std::size_t again = screen.find(Aside(problem), first + 1);
    const std::size_t countdown = screen.find("\x1b[22;1H\x1b[2K\x1b[21;1H" + std::string(26, ' ') +
                                              "Test completed with 0 errors.\x1b[22;1H\r");
    // The header shows cycle 1 before the log is opened; the loop shows it again.
    EXPECT_LT(screen.find("Cycle 1 of 3"), first);
    EXPECT_LT(first, screen.find("Cycle 1 of 3", first));
    EXPECT_LT(screen.find("Cycle 1 of 3", first), pause);
    EXPECT_LT(pause, screen.find("Cycle 2 of 3"));
    EXPECT_LT(screen.find("Cycle 2 of 3"), again);
    EXPECT_LT(again, screen.find("Cycle 3 of 3"));
    EXPECT_NE(countdown, std::string::npos);
    EXPECT_LT(screen.find("Cycle 3 of 3"), countdown);
    EXPECT_NE(screen.find("Press any key to continue [01]..."), std::string::npos);
    // The log is as ever; the record waits beside the store.
    EXPECT_EQ(ReadTestLog(), "\n\n*****\n* Multi-Axis, 3 cycles\n* " + time +
                                 "*****\n\n\nSUMMARY:\nErrors: 0\nMaximum temperature: 25\n");
    EXPECT_TRUE(fs::exists(dir + "/results-unsaved.jsonl"));
}

TEST_F(Framework, TroubleThatAppearsDuringARunIsShownAfterItsCycle) {
    // A store whose lock another program holds for longer than the journal
    // waits: the facts of cycle 2 on cannot be stored.
    context.reset();
    journal.reset();
    results::JournalOptions options;
    options.target = store;
    options.station = "bench-1";
    options.busyTimeoutMs = 50;
    journal = std::make_unique<results::Journal>(options);
    ASSERT_TRUE(journal->Open());
    context = std::make_unique<TestStation>(journal.get());
    station = &context->station;
    RegisterTests(*station);
    station->tests.cycles[5] = 3;
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(store.c_str(), &other), SQLITE_OK);

    TestRun run(*station, 5);
    StdoutCapture capture;
    ASSERT_TRUE(run.OpenLog());
    run.RunCycles(
        [&](int cycle) {
            if (cycle == 2) sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
            if (cycle == 3) sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        },
        {}, {.commands = false});
    run.Complete();
    screen = capture.Take();
    sqlite3_close(other);

    const std::string problem = journal->Problem();
    ASSERT_FALSE(problem.empty());
    EXPECT_EQ(Occurrences(screen, Aside(problem)), 1u);
    EXPECT_LT(screen.find("Cycle 2 of 3"), screen.find(Aside(problem)));
    EXPECT_LT(screen.find(Aside(problem)), screen.find("Cycle 3 of 3"));
}

}  // namespace
