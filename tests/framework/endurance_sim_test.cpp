// The endurance tests against the simulated hand, with faults injected: the
// log sections they write, abort and pause between cycles, and what they
// command. The simulator runs fast; keys come from a script and the clock is
// the fake one, so a countdown takes no time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "journal.h"
#include "procedures.h"
#include "results_db.h"
#include "seams.h"
#include "station_fixture.h"
#include "suite_setup.h"
#include "zhand_sim.h"

namespace fs = std::filesystem;
using zhandsim::Fault;
using zhandsim::FaultKind;
using zhandsim::HandState;
using namespace std::chrono_literals;

namespace {

constexpr std::time_t kStart = 930779348;  // 30 June 1999

struct Exchange {
    std::string command;
    std::string reply;
};

// Undoes the trace's escapes of control bytes (\r, \n, \xHH).
std::string Unescape(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            plain += text[i];
        } else if (text[i + 1] == 'r' || text[i + 1] == 'n') {
            plain += text[i + 1] == 'r' ? '\r' : '\n';
            ++i;
        } else if (text[i + 1] == 'x' && i + 3 < text.size()) {
            plain += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

// What the simulated hand received and answered, from its trace.
class HandTrace {
  public:
    void Line(std::string_view text) {
        std::lock_guard lock(mutex);
        if (text.starts_with("<- ")) {
            exchanges.push_back({Unescape(text.substr(3)), ""});
        } else if (text.starts_with("-> ") && !exchanges.empty()) {
            exchanges.back().reply = Unescape(text.substr(3));
        }
    }
    std::vector<Exchange> Take() {
        std::lock_guard lock(mutex);
        std::vector<Exchange> taken;
        taken.swap(exchanges);
        return taken;
    }

  private:
    std::mutex mutex;
    std::vector<Exchange> exchanges;
};

HandTrace handTrace;
zhandsim::Simulator* sim = nullptr;

class SimEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        home = EnterTempDir("zhand-endurance-");
        zhandsim::SimulatorOptions options;
        options.directory = home;
        options.speed = 500;
        options.pace = false;  // an instant peer
        options.trace = true;
        options.traceSink = [](std::string_view text) { handTrace.Line(text); };
        sim = new zhandsim::Simulator(options);
        std::string error;
        RequireForSuite(sim->Start(&error), "the simulator does not start: " + error);
        RequireForSuite(ProgramHand().Initialize(1, 15) == 0, "the hand does not open COM1");
    }
    void TearDown() override {
        delete sim;
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(home);
    }
    std::string home;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SimEnvironment);

std::vector<std::string> Replies(const std::vector<Exchange>& exchanges,
                                 const std::string& command) {
    std::vector<std::string> replies;
    for (const Exchange& e : exchanges) {
        if (e.command == command) replies.push_back(e.reply);
    }
    return replies;
}

std::vector<int> Numbers(const std::string& text) {
    std::istringstream in(text);
    std::vector<int> numbers;
    for (int n = 0; in >> n;) numbers.push_back(n);
    return numbers;
}

// The largest temperature the hand reported in whole degrees, at least 0.
int MaxTemperature(const std::vector<Exchange>& exchanges) {
    int max = 0;
    for (const std::string& reply : Replies(exchanges, "PGET TEMP")) {
        max = std::max(max, Numbers(reply).at(0) / 10);
    }
    return max;
}

std::size_t Count(const std::vector<Exchange>& exchanges, const std::string& command) {
    return Replies(exchanges, command).size();
}

class Endurance : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = EnterTempDir("zhand-endurance-run-");
        UseFakeClock(kStart);
        UseKeyScript("");
        results::JournalOptions options;
        options.target = dir + "/results.db";
        options.station = "bench-2";
        options.software = "test";
        journal = std::make_unique<results::Journal>(options);
        ASSERT_TRUE(journal->Open());
        context = std::make_unique<TestStation>(journal.get());
        RegisterTests(context->station);
        sim->ClearFaults();
        handTrace.Take();
        time = TimeText();
    }
    void TearDown() override {
        context.reset();
        journal.reset();
        sim->ClearFaults();
        UseTerminalKeys();
        UseRealClock();
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(dir);
    }
    int Run(TestProc proc, int slot) {
        StdoutCapture capture;
        const int result = proc(context->station, slot);
        screen = capture.Take();
        exchanges = handTrace.Take();
        return result;
    }
    // A motion fault of `motor` on its move `ahead` moves from now, only then.
    void FaultOnMove(FaultKind kind, int motor, bool closing, int ahead, int at) {
        const auto state = sim->State().motors[static_cast<std::size_t>(motor - 1)];
        Fault fault;
        fault.kind = kind;
        fault.motor = motor;
        fault.from = (closing ? state.closes : state.opens) + ahead;
        fault.once = true;
        fault.at = at;
        sim->InjectFault(fault);
    }
    std::string Banner(const char* title, int cycles) {
        return "\n\n*****\n* " + std::string(title) + ", " + std::to_string(cycles) +
               " cycles\n* " + time + "*****\n";
    }
    std::string Row(int row, const std::string& text) {
        return "\x1b[" + std::to_string(row + 1) + ";1H" +
               std::string(
                   static_cast<std::size_t>(std::max(0, 40 - static_cast<int>(text.size()) / 2)),
                   ' ') +
               text;
    }
    bool Shows(const std::string& text) const { return screen.find(text) != std::string::npos; }
    StoreRows Query(const std::string& sql) const { return QueryStore(dir + "/results.db", sql); }

    std::unique_ptr<results::Journal> journal;
    std::unique_ptr<TestStation> context;
    // The cycle count of a slot of the station's table.
    int& Cycles(int slot) { return context->tests.cycles[static_cast<std::size_t>(slot)]; }
    std::string dir;
    std::string time;
    std::string screen;
    std::vector<Exchange> exchanges;
};

// ---- Multi-Axis ----

TEST_F(Endurance, MultiAxisLogsAJammedFingerAndAShortSpreadInTheirCycles) {
    Cycles(5) = 4;
    // The fingers close once a cycle: F2's third close from now is cycle 3's.
    FaultOnMove(FaultKind::JamOpen, 2, true, 3, 1500);
    FaultOnMove(FaultKind::SpreadShort, 4, true, 2, 2900);

    EXPECT_EQ(Run(MultiAxisTest, 5), 0);

    EXPECT_EQ(ReadTestLog(), Banner("Multi-Axis", 4) + "Spread DID NOT FULLY CLOSE in cycle 2 at " +
                                 time + "F2 JAMMED OPEN in cycle 3 at " + time +
                                 "\n\nSUMMARY:\nErrors: 2\nMaximum temperature: " +
                                 std::to_string(MaxTemperature(exchanges)) + "\n");
    EXPECT_EQ(Count(exchanges, "GC"), 4u);
    EXPECT_EQ(Count(exchanges, "PGET TEMP"), 4u);
    // The recoveries: F2 at velocity 65, the spread at 35, each put back to
    // the velocity the test had set.
    for (const char* command :
         {"2FSET MOV 65", "2HI", "2FSET MOV 150", "SFSET MOV 35", "SHI", "SFSET MOV 45"}) {
        EXPECT_EQ(Count(exchanges, command), 1u) << command;
    }
    EXPECT_TRUE(Shows(Row(1, "Cycle 3 of 4, Errors = 1\n\n")));
    EXPECT_TRUE(Shows(Row(1, "Cycle 4 of 4, Errors = 2\n\n")));
    EXPECT_TRUE(Shows(Row(20, "Test completed with 2 errors.")));
    EXPECT_TRUE(Shows("Press any key to continue [01]..."));
}

// A log line as the record keeps it: without its line end.
std::string Chomp(const std::string& line) {
    return line.substr(0, line.size() - 1);
}

// The name of the one test log in the working directory.
std::string LogName() {
    for (const auto& entry : fs::directory_iterator(fs::current_path())) {
        if (entry.path().extension() == ".txt") return entry.path().filename().string();
    }
    return "";
}

TEST_F(Endurance, MultiAxisRecordsItsRunFaultsAndMeasurements) {
    Cycles(5) = 4;
    FaultOnMove(FaultKind::JamOpen, 2, true, 3, 1500);
    FaultOnMove(FaultKind::SpreadShort, 4, true, 2, 2900);

    EXPECT_EQ(Run(MultiAxisTest, 5), 0);

    // The log is what it always was.
    const std::string maxTemperature = std::to_string(MaxTemperature(exchanges));
    const std::string spread = "Spread DID NOT FULLY CLOSE in cycle 2 at " + time;
    const std::string f2 = "F2 JAMMED OPEN in cycle 3 at " + time;
    EXPECT_EQ(ReadTestLog(), Banner("Multi-Axis", 4) + spread + f2 +
                                 "\n\nSUMMARY:\nErrors: 2\nMaximum temperature: " + maxTemperature +
                                 "\n");

    EXPECT_EQ(Query("SELECT length(uuid), station, software, serial, operator, test,"
                    " cycles_planned, cycles_done, outcome, errors, log_file, started <= ended"
                    " FROM runs"),
              (StoreRows{{"36", "bench-2", "test", "HND000", "--", "Multi-Axis", "4", "4", "fail",
                          "2", LogName(), "1"}}));
    EXPECT_EQ(Query("SELECT cycle, motor, kind, text FROM events ORDER BY seq"),
              (StoreRows{{"2", "Spread", "DID NOT FULLY CLOSE", Chomp(spread)},
                         {"3", "F2", "JAMMED OPEN", Chomp(f2)}}));

    // Every position read is measured with its limit; the two faults fail
    // theirs, at the positions the hand reported.
    EXPECT_EQ(Query("SELECT cycle, count(*), sum(outcome = 'fail') FROM measurements"
                    " WHERE unit = 'counts' GROUP BY cycle ORDER BY cycle"),
              (StoreRows{{"1", "8", "0"}, {"2", "8", "1"}, {"3", "8", "1"}, {"4", "8", "0"}}));
    const auto spreadReads = Replies(exchanges, "SFGET P");  // closed, open, closed, ...
    const auto f2Reads = Replies(exchanges, "2FGET P");
    ASSERT_EQ(spreadReads.size(), 8u);
    ASSERT_EQ(f2Reads.size(), 8u);
    EXPECT_EQ(
        Query("SELECT name, cycle, CAST(value AS INTEGER), low, high FROM measurements"
              " WHERE outcome = 'fail' ORDER BY seq"),
        (StoreRows{
            {"Spread closed", "2", std::to_string(Numbers(spreadReads[2]).at(0)), "3050.0", "NULL"},
            {"F2 closed", "3", std::to_string(Numbers(f2Reads[4]).at(0)), "15100.0", "NULL"}}));
    EXPECT_EQ(Query("SELECT DISTINCT name, low, high FROM measurements WHERE unit = 'counts'"
                    " ORDER BY name"),
              (StoreRows{{"F1 closed", "15100.0", "NULL"},
                         {"F1 open", "NULL", "500.0"},
                         {"F2 closed", "15100.0", "NULL"},
                         {"F2 open", "NULL", "500.0"},
                         {"F3 closed", "15100.0", "NULL"},
                         {"F3 open", "NULL", "500.0"},
                         {"Spread closed", "3050.0", "NULL"},
                         {"Spread open", "NULL", "50.0"}}));
    EXPECT_EQ(Query("SELECT CAST(value AS INTEGER), unit, low, high, outcome, cycle"
                    " FROM measurements WHERE name = 'Maximum temperature'"),
              (StoreRows{{maxTemperature, "C", "NULL", "NULL", "NULL", "NULL"}}));
}

TEST_F(Endurance, MultiAxisAbortInCycleThreeCancelsTheLaterTests) {
    Cycles(5) = 500;
    const auto before = context->tests.cycles;
    UseKeyScript("xqa");  // other keys are dropped; "a" at the end of cycle 3

    EXPECT_EQ(Run(MultiAxisTest, 5), 1);

    EXPECT_EQ(ReadTestLog(), Banner("Multi-Axis", 500) +
                                 "\n\nTest aborted in cycle 3 of 500.\n\nSUMMARY:\nErrors: 0\n"
                                 "Maximum temperature: " +
                                 std::to_string(MaxTemperature(exchanges)) + "\n");
    EXPECT_EQ(Count(exchanges, "GC"), 3u);
    for (int slot = 1; slot <= 4; ++slot) EXPECT_EQ(Cycles(slot), before[slot]) << slot;
    EXPECT_EQ(Cycles(5), 3);
    for (int slot = 6; slot <= 10; ++slot) EXPECT_EQ(Cycles(slot), 0) << slot;
    EXPECT_TRUE(Shows(Row(20, "Test aborted in cycle 3 of 500.")));
    EXPECT_EQ(Query("SELECT cycles_planned, cycles_done, outcome, errors FROM runs"),
              (StoreRows{{"500", "3", "aborted", "0"}}));
}

TEST_F(Endurance, AKeyThatEndsAPauseActsAfterTheFollowingCycle) {
    Cycles(5) = 10;
    UseKeyScript("xPa");  // pause after cycle 2; the "a" that ends it aborts after cycle 3

    EXPECT_EQ(Run(MultiAxisTest, 5), 1);

    EXPECT_EQ(Count(exchanges, "GC"), 3u);
    EXPECT_EQ(Cycles(5), 3);
    EXPECT_TRUE(Shows(Row(21, "              ")));  // the pause row blanked
    EXPECT_NE(ReadTestLog().find("\n\nTest aborted in cycle 3 of 10.\n\nSUMMARY:\n"),
              std::string::npos);
}

// ---- a hand whose line hangs up ----

struct HangupCase {
    const char* name;
    const char* keys;  // typed while the station waits for the port
    int cycle;         // the cycle whose spread close meets the hang-up
    bool back;         // the station saw the port come back
};

const HangupCase kHangups[] = {
    {"the port comes back while the station waits", "", 2, true},
    {"Esc gives up the wait", "\x1b", 1, false},
};

TEST_F(Endurance, ALostLinkStopsMultiAxisAndWaitsForThePort) {
    for (const HangupCase& c : kHangups) {
        SCOPED_TRACE(c.name);
        if (&c != kHangups) {
            TearDown();
            SetUp();
        }
        // The station's working directory links COM1 to the simulator's link,
        // which the simulator points at its new device when it is back.
        fs::create_symlink(sim->LinkPath(), "COM1");
        Cycles(5) = 3;
        UseKeyScript(c.keys);
        const auto before = context->tests.cycles;
        const HandState state = sim->State();
        // 7 commands of set-up, 13 a cycle; the ninth of a cycle is "SC".
        Fault hangup;
        hangup.kind = FaultKind::Hangup;
        hangup.after = static_cast<int>(state.commands) + 7 + 13 * (c.cycle - 1) + 8;
        hangup.downMs = c.back ? 300 : 1000;
        sim->InjectFault(hangup);

        EXPECT_EQ(Run(MultiAxisTest, 5), 1);

        EXPECT_EQ(sim->State().hangups, state.hangups + 1);
        // Nothing more is sent after the spread close that met the hang-up.
        EXPECT_EQ(Count(exchanges, "SC"), static_cast<std::size_t>(c.cycle));
        EXPECT_EQ(Count(exchanges, "SFGET P"), static_cast<std::size_t>(2 * (c.cycle - 1)));
        const std::string stop = "LINK TO HAND LOST in cycle " + std::to_string(c.cycle) + " at ";
        EXPECT_EQ(ReadTestLog(), Banner("Multi-Axis", 3) + "\n" + stop + time +
                                     "\n\nSUMMARY:\nErrors: 0\nMaximum temperature: " +
                                     std::to_string(MaxTemperature(exchanges)) + "\n");
        EXPECT_EQ(Query("SELECT cycles_planned, cycles_done, outcome, errors FROM runs"),
                  (StoreRows{{"3", std::to_string(c.cycle - 1), "error", "0"}}));
        EXPECT_EQ(Query("SELECT cycle, motor, kind, text FROM events"),
                  (StoreRows{
                      {std::to_string(c.cycle), "NULL", "LINK TO HAND LOST", Chomp(stop + time)}}));
        for (int slot = 1; slot <= 5; ++slot) EXPECT_EQ(Cycles(slot), before[slot]) << slot;
        for (int slot = 6; slot <= 10; ++slot) EXPECT_EQ(Cycles(slot), 0) << slot;

        const std::string lost = "Link to hand lost in cycle " + std::to_string(c.cycle) + " of 3.";
        const std::size_t message = screen.find(Row(20, lost));
        const std::size_t wait = screen.find(Row(21, "Reconnect the hand, or press Esc."));
        const std::size_t countdown = screen.find("Press any key to continue [01]...");
        EXPECT_NE(message, std::string::npos);
        EXPECT_LT(message, wait);
        EXPECT_NE(wait, std::string::npos);
        EXPECT_EQ(ProgramHand().LinkLost(), !c.back);
        if (c.back) {
            EXPECT_LT(wait, countdown);
            EXPECT_NE(countdown, std::string::npos);
        } else {
            EXPECT_EQ(countdown, std::string::npos);  // back to the form at once
            ASSERT_TRUE(sim->WaitFor([](const HandState& s) { return s.lineUp; }, 5000ms));
            ASSERT_TRUE(ProgramHand().Reconnect());
            ASSERT_EQ(ProgramHand().Reset(), 0);
        }

        // The next test runs on the same hand, without a new start.
        Cycles(5) = 1;
        EXPECT_EQ(Run(MultiAxisTest, 5), 0);
        EXPECT_EQ(Query("SELECT outcome FROM runs ORDER BY id"), (StoreRows{{"error"}, {"pass"}}));
    }
}

// ---- Vibration Grasp ----

TEST_F(Endurance, VibrationGraspReportsTheDriftOfEachGauge) {
    Cycles(4) = 3;
    Fault drift;
    drift.kind = FaultKind::Drift;
    drift.motor = 1;
    drift.rate = 6;  // per move of F1: +12 a cycle, well above the gauge noise
    sim->InjectFault(drift);
    UseKeyScript(" ");  // ready

    EXPECT_EQ(Run(VibrationGraspTest, 4), 0);

    // The drift rule applied to what the hand reported.
    const auto readings = Replies(exchanges, "GFGET SG");
    ASSERT_EQ(readings.size(), 4u);
    const std::vector<int> initial = Numbers(readings[0]);
    std::vector<int> extreme = initial;
    for (std::size_t r = 1; r < readings.size(); ++r) {
        const std::vector<int> current = Numbers(readings[r]);
        for (std::size_t f = 0; f < 3; ++f) {
            if (std::abs(current.at(f) - initial.at(f)) > std::abs(extreme.at(f) - initial.at(f))) {
                extreme[f] = current[f];
            }
        }
    }
    EXPECT_GE(extreme[0] - initial[0], 3 * 12 - 4);
    EXPECT_EQ(ReadTestLog(), Banner("Vibration Grasp", 3) +
                                 "\n\nSUMMARY:\nErrors: 0\n\nMax gage drift\n" +
                                 "F1: " + std::to_string(extreme[0] - initial[0]) +
                                 "\nF2: " + std::to_string(extreme[1] - initial[1]) +
                                 "\nF3: " + std::to_string(extreme[2] - initial[2]) + "\n");
    EXPECT_TRUE(Shows(Row(10, "Test complete, press any key to continue...")));
}

TEST_F(Endurance, VibrationGraspAbortWritesTheMessageSummaryAndDrift) {
    Cycles(4) = 500;
    UseKeyScript(" xxxxa");  // ready, then "a" at the end of cycle 5

    EXPECT_EQ(Run(VibrationGraspTest, 4), 1);

    const std::string log = ReadTestLog();
    const std::string tail =
        "\n\nTest aborted in cycle 5 of 500.\n\nSUMMARY:\nErrors: 0\n\nMax gage drift\nF1: ";
    EXPECT_EQ(log.find(tail), Banner("Vibration Grasp", 500).size());
    EXPECT_EQ(Cycles(4), 5);
    for (int slot = 5; slot <= 10; ++slot) EXPECT_EQ(Cycles(slot), 0) << slot;
    EXPECT_TRUE(Shows(Row(20, "Test aborted in cycle 5 of 500.")));
}

// ---- Encoder slip ----

std::string GraspPositions(const std::vector<Exchange>& exchanges) {
    const auto readings = Replies(exchanges, "GFGET P");
    const std::vector<int> initial = Numbers(readings.front());
    const std::vector<int> final = Numbers(readings.back());
    std::string lines = "\n\tInit\tFinal\n";
    for (std::size_t m = 0; m < 3; ++m) {
        lines += "M" + std::to_string(m + 1) + "\t" + std::to_string(initial.at(m)) + "\t" +
                 std::to_string(final.at(m)) + "\n";
    }
    return lines;
}

std::string SpreadPositions(const std::vector<Exchange>& exchanges) {
    const auto readings = Replies(exchanges, "4FGET P");
    return "\n\tInit\tFinal\nM4\t" + readings.front() + "\t" + readings.back() + "\n";
}

TEST_F(Endurance, EncoderSlipGraspCompleteWritesPositionsOnly) {
    Cycles(6) = 3;
    EXPECT_EQ(Run(EncoderSlipGraspTest, 6), 0);

    EXPECT_EQ(Count(exchanges, "GFGET P"), 2u);
    EXPECT_EQ(ReadTestLog(), Banner("Encoder slip - Grasp", 3) + GraspPositions(exchanges));
    // One close and one open of the fingers a cycle, six position reads.
    EXPECT_EQ(Count(exchanges, "GC"), 3u);
    EXPECT_EQ(Count(exchanges, "GO"), 3u);
    EXPECT_EQ(
        Count(exchanges, "1FGET P") + Count(exchanges, "2FGET P") + Count(exchanges, "3FGET P"),
        18u);
    EXPECT_EQ(Count(exchanges, "FSET MOV 255"), 1u);
    EXPECT_TRUE(Shows(Row(20, "Test completed with 0 errors.")));
    const auto readings = Replies(exchanges, "GFGET P");
    const std::vector<int> initial = Numbers(readings.front());
    const std::vector<int> final = Numbers(readings.back());
    StoreRows positions;
    for (std::size_t m = 0; m < 3; ++m) {
        const std::string motor = "M" + std::to_string(m + 1);
        positions.push_back({motor + " Init", std::to_string(initial.at(m))});
        positions.push_back({motor + " Final", std::to_string(final.at(m))});
    }
    EXPECT_EQ(Query("SELECT name, CAST(value AS INTEGER) FROM measurements"
                    " WHERE name LIKE 'M_ %' ORDER BY seq"),
              positions);
    EXPECT_EQ(Query("SELECT cycles_done, outcome FROM runs"), (StoreRows{{"3", "pass"}}));
}

TEST_F(Endurance, EncoderSlipGraspAbortWritesMessageSummaryAndPositions) {
    UseKeyScript("xa");
    EXPECT_EQ(Run(EncoderSlipGraspTest, 6), 1);

    EXPECT_EQ(ReadTestLog(), Banner("Encoder slip - Grasp", 20) +
                                 "\n\nTest aborted in cycle 2 of 20.\n\nSUMMARY:\nErrors: 0\n" +
                                 GraspPositions(exchanges));
    EXPECT_EQ(Cycles(6), 2);
    EXPECT_EQ(Cycles(7), 0);
}

TEST_F(Endurance, EncoderSlipSpreadCompleteChecksBreakawayAsCycle25) {
    Cycles(7) = 2;
    // The fingers close only once, after the spread's last cycle.
    FaultOnMove(FaultKind::NoBreakaway, 2, true, 1, 12500);

    EXPECT_EQ(Run(EncoderSlipSpreadTest, 7), 0);

    EXPECT_EQ(ReadTestLog(), Banner("Encoder slip - Spread", 2) + SpreadPositions(exchanges) +
                                 "F2 NO BREAKAWAY in cycle 25 at " + time);
    EXPECT_EQ(Count(exchanges, "SC"), 2u);
    EXPECT_EQ(Count(exchanges, "SO"), 2u);
    EXPECT_EQ(Count(exchanges, "GC"), 1u);
    EXPECT_EQ(Count(exchanges, "FSET MCV 55"), 1u);
    EXPECT_TRUE(Shows(Row(20, "Test completed with 1 errors.")));
    const auto spread = Replies(exchanges, "4FGET P");
    EXPECT_EQ(
        Query("SELECT name, CAST(value AS INTEGER), unit FROM measurements"
              " WHERE name LIKE 'M4 %' ORDER BY seq"),
        (StoreRows{{"M4 Init", spread.front(), "counts"}, {"M4 Final", spread.back(), "counts"}}));
    EXPECT_EQ(Query("SELECT cycle, motor, kind FROM events"),
              (StoreRows{{"25", "F2", "NO BREAKAWAY"}}));
    EXPECT_EQ(Query("SELECT cycle, outcome FROM measurements WHERE name = 'F2 closed'"),
              (StoreRows{{"25", "fail"}}));
    EXPECT_EQ(Query("SELECT cycles_done, outcome, errors FROM runs"),
              (StoreRows{{"2", "fail", "1"}}));
}

TEST_F(Endurance, EncoderSlipSpreadAbortWritesPositionsOnly) {
    UseKeyScript("a");
    EXPECT_EQ(Run(EncoderSlipSpreadTest, 7), 1);

    EXPECT_EQ(ReadTestLog(), Banner("Encoder slip - Spread", 20) + SpreadPositions(exchanges));
    EXPECT_EQ(Count(exchanges, "GC"), 0u);  // no breakaway check after an abort
    EXPECT_EQ(Cycles(7), 1);
    for (int slot = 8; slot <= 10; ++slot) EXPECT_EQ(Cycles(slot), 0) << slot;
    EXPECT_TRUE(Shows(Row(20, "Test aborted in cycle 1 of 20.")));
}

}  // namespace
