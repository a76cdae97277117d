// Finger Movement and Cable Tension/BreakAway against the simulator: the
// technician's keys, the hand commands they cause and the log sections.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "guided_fixture.h"
#include "motor_order.h"
#include "procedures.h"
#include "seams.h"

namespace {

using Commands = std::vector<std::string>;
const Commands kPrepare = {"FDEF", "FSAVE", "1234HI"};

// Close and open of each motor in turn.
Commands Moves(const std::string& motors) {
    Commands moves;
    for (char m : motors) {
        moves.push_back(std::string(1, m) + "C");
        moves.push_back(std::string(1, m) + "O");
    }
    return moves;
}

Commands Concat(Commands a, const Commands& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- Finger Movement ----

struct FingerCase {
    const char* title;
    int cycles;
    const char* keys;
    const char* moved;  // motors closed and opened, in order
    int result;
    const char* closing;  // the log's closing line, if any
    const char* outcome;  // of the run in the record
    const char* cyclesDone;
    const char* answers;  // the answers on record: "<cycle> <motor> <kind>" a line
};

// The draws put the motors in the order 3, 1, 4, 2 in every cycle.
const FingerCase kFingerCases[] = {
    {"right answers through two cycles", 2, "31423142", "31423142", 0,
     "TEST COMPLETED SUCCESSFULLY", "pass", "2",
     "1 F3 MOTOR SEEN\n1 F1 MOTOR SEEN\n1 Spread MOTOR SEEN\n1 F2 MOTOR SEEN\n"
     "2 F3 MOTOR SEEN\n2 F1 MOTOR SEEN\n2 Spread MOTOR SEEN\n2 F2 MOTOR SEEN\n"},
    {"wrong answer and 'N' at the question are retried", 1, "2y3Ny142", "331142", 0,
     "TEST COMPLETED SUCCESSFULLY", "pass", "1",
     "1 F3 MOTOR SEEN\n1 F1 MOTOR SEEN\n1 Spread MOTOR SEEN\n1 F2 MOTOR SEEN\n"},
    {"'n' at the retry fails the test", 2, "319nx", "314", 1,
     "TEST FAILED: M4 IS NOT FUNCTIONING PROPERLY!", "fail", "0",
     "1 F3 MOTOR SEEN\n1 F1 MOTOR SEEN\n1 Spread NOT FUNCTIONING PROPERLY\n"},
    {"the keyboard goes away: the run ends unconfirmed", 1, "3", "31", 1, nullptr, "aborted", "0",
     "1 F3 MOTOR SEEN\n"},
};

class FingerMovement : public GuidedTest {
  protected:
    void SetUp() override {
        GuidedTest::SetUp();
        UseFixedMotorDraws({2, 0, 4, 3, 1});
    }
    void TearDown() override {
        UseFixedMotorDraws({});
        GuidedTest::TearDown();
    }
};

TEST_F(FingerMovement, AnswersRetriesAndFailure) {
    for (const auto& c : kFingerCases) {
        SCOPED_TRACE(c.title);
        station->tests.cycles.fill(3);
        station->tests.cycles[1] = c.cycles;
        UseKeyScript(c.keys);
        const auto before = Sim().State();

        EXPECT_EQ(Run(1), c.result);

        EXPECT_EQ(HandCommands(), Concat(kPrepare, Moves(c.moved)));
        const std::string cycles = std::to_string(c.cycles);
        const std::string closing = c.closing ? "\n" + std::string(c.closing) + "\n\n" : "";
        EXPECT_EQ(MaskTimes(Log()), "\n\n*****\n* Finger Movement, " + cycles +
                                        " cycles\n* <time>\n*****\n" + closing);
        EXPECT_EQ(station->tests.cycles[1], c.cycles);
        for (int slot = 2; slot <= kTestCount; ++slot) {
            EXPECT_EQ(station->tests.cycles[slot], c.result == 1 ? 0 : 3) << "slot " << slot;
        }
        // Each motor the hand was told to move really closed and opened.
        const auto after = Sim().State();
        for (int m = 1; m <= 4; ++m) {
            const auto count = std::count(c.moved, c.moved + std::strlen(c.moved), '0' + m);
            EXPECT_EQ(after.motors[m - 1].closes - before.motors[m - 1].closes, count);
        }
        const std::string lastRun = "(SELECT max(id) FROM runs)";
        EXPECT_EQ(Query("SELECT cycles_planned, cycles_done, outcome, errors FROM runs"
                        " WHERE id = " +
                        lastRun),
                  (StoreRows{{cycles, c.cyclesDone, c.outcome,
                              c.outcome == std::string("fail") ? "1" : "0"}}));
        std::string answers;
        for (const auto& row : Query("SELECT cycle, motor, kind FROM events WHERE run_id = " +
                                     lastRun + " ORDER BY seq")) {
            answers += row.at(0) + " " + row.at(1) + " " + row.at(2) + "\n";
        }
        EXPECT_EQ(answers, c.answers);
        if (c.result == 0) {
            EXPECT_NE(screen.find("TEST COMPLETED SUCCESSFULLY"), std::string::npos);
            EXPECT_NE(screen.find("Press any key to continue [01]..."), std::string::npos);
        } else if (c.closing != nullptr) {
            EXPECT_NE(screen.find("Press any key to return to the Main Menu..."),
                      std::string::npos);
            EXPECT_EQ(screen.find("Press any key to continue"), std::string::npos);
        }
        for (auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().extension() == ".txt") std::filesystem::remove(entry.path());
    }
}

TEST_F(FingerMovement, ShowsTheQuestionTheAnswerAndTheRetryPrompt) {
    station->tests.cycles[1] = 1;
    UseKeyScript("2y3142");
    EXPECT_EQ(Run(1), 0);
    EXPECT_NE(screen.find("\rWhich motor? 2  <-- You should have seen motor 3 move, try again? "
                          "(Y/N): y"),
              std::string::npos);
    EXPECT_NE(screen.find("\rWhich motor? 3"), std::string::npos);
    EXPECT_NE(screen.find("Cycle 1 of 1, Errors = 0\n\n"), std::string::npos);
}

// ---- Cable Tension/BreakAway ----

struct CableCase {
    const char* title;
    const char* keys;
    Commands fingers;  // finger commands after preparing, closing the spread and "T"
    bool closedAtEnd;
};

const CableCase kCableCases[] = {
    {"ESC first", "\x1b", {}, false},
    {"two keys", "a\t\x1b", {"GC", "GO"}, false},
    {"three keys", "x 5\x1b", {"GC", "GO", "GC"}, true},
};

using CableTension = GuidedTest;

TEST_F(CableTension, KeysAlternateCloseAndOpenUntilEsc) {
    for (const auto& c : kCableCases) {
        SCOPED_TRACE(c.title);
        UseKeyScript(c.keys);
        EXPECT_EQ(Run(2), 0);
        EXPECT_EQ(HandCommands(), Concat(Concat(kPrepare, {"SC", "T"}), c.fingers));
        EXPECT_EQ(MaskTimes(Log()),
                  "\n\n*****\n* Cable Tension/BreakAway, 1 cycles\n* <time>\n*****\n"
                  "\nTEST COMPLETED\n\n");
        const auto state = Sim().State();
        for (int f = 0; f < 3; ++f) {
            EXPECT_EQ(state.motors[f].position > 15100, c.closedAtEnd) << "F" << f + 1;
        }
        EXPECT_GT(state.motors[3].position, 3050);  // the spread was closed
        EXPECT_EQ(Query("SELECT test, cycles_planned, cycles_done, outcome FROM runs"
                        " WHERE id = (SELECT max(id) FROM runs)"),
                  (StoreRows{{"Cable Tension/BreakAway", "1", "1", "pass"}}));
        for (auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().extension() == ".txt") std::filesystem::remove(entry.path());
    }
}

// The hand stops the session: on the close or the open of a key, or in the
// set-up before any key is read. The session is one cycle.
struct CableStopCase {
    const char* title;
    HandStop stop;
    int ahead;  // the command line of the session the fault meets first
    const char* keys;
    int ignored;  // lines the silent hand ignored
};

// The session's lines for the keys "abc": the set-up, then close, open, close.
const Commands kCableSession = Concat(Concat(kPrepare, {"SC", "T"}), {"GC", "GO", "GC"});

const CableStopCase kCableStops[] = {
    {"the line hangs up on the second key's open", HandStop::Hangup, 6, "ab", 0},
    {"the line hangs up in the set-up, Esc gives up the wait", HandStop::HangupGivenUp, 1, "\x1b",
     0},
    {"the hand falls silent from the first close", HandStop::Silent, 5, "abc", 3},
};

TEST_F(CableTension, AHandThatStopsEndsTheSessionAtOnce) {
    for (const auto& c : kCableStops) {
        SCOPED_TRACE(c.title);
        // One session whatever the count.
        EXPECT_EQ(RunStopped(&c == kCableStops, 2, 4, c.keys, c.stop, c.ahead), 1);

        const std::string words = StopWords(c.stop);
        EXPECT_EQ(MaskTimes(Log()),
                  "\n\n*****\n* Cable Tension/BreakAway, 4 cycles\n* <time>\n*****\n\n" + words +
                      " in cycle 1 at <time>\n");
        ExpectStopped({.stop = c.stop,
                       .slot = 2,
                       .cycle = 1,
                       .cycles = 1,
                       .cyclesDone = 0,
                       .healthy = kCableSession,
                       .ignored = c.ignored});
    }
}

}  // namespace
