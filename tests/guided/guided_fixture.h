// Runs the station's test procedures in-process: the program's hand on an
// in-process simulator's pty, a fresh working directory per test with its own
// results.db, scripted keys and a fake clock, the screen captured and the
// hand's commands traced.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "journal.h"
#include "results_db.h"
#include "std_redirect.h"
#include "test_station.h"
#include "zhand_sim.h"

using ScreenCapture = StdoutCapture;
using KeyPipe = StdinPipe;

// The simulator the hand talks to; one per test program.
zhandsim::Simulator& Sim();
// The spread's minimum closing velocity the simulator is configured with.
constexpr int kSimMinSpreadVelocity = 31;
// Model time runs this much faster than wall time, unless a test says else.
constexpr double kSimSpeed = 100;

// How the hand stops a run in the tests of such runs.
enum class HandStop {
    Hangup,         // the line hangs up, and is offered again soon after
    HangupGivenUp,  // the line hangs up for longer; Esc gives up the wait
    Silent,         // the hand stops answering while the line stays up
};

// What a run the hand stopped must show.
struct StoppedRun {
    HandStop stop = HandStop::Hangup;
    int slot = 0;
    int cycle = 0;       // the one in the log line, the event and the screen
    int cycles = 0;      // planned, as the screen and the record give them
    int cyclesDone = 0;  // in the record
    // The command lines the run sends to a healthy hand from StopHand on; the
    // stopped run sends those before the fault, and the one that met a
    // hang-up. The lines a silent hand ignored are counted apart.
    std::vector<std::string> healthy;
    int ignored = 0;
};

// The read time-out a silent hand is given: each exchange it does not answer
// takes that long.
constexpr int kSilentReadMs = 500;

class GuidedTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the procedure of `slot` with the screen captured into `screen`.
    int Run(int slot);
    // The test log's whole content ("" when there is none).
    std::string Log() const;
    // Hand command lines the simulator received since the last call.
    std::vector<std::string> HandCommands();
    // Rows of a query on this test's results.db.
    StoreRows Query(const std::string& sql) const;

    // From the command line `ahead` lines from now on (0: the next one) the
    // hand stops as `stop` says. A hang-up links COM1 here to the simulator's
    // link, where the driver finds the hand again; a silent hand is given a
    // short read time-out, so that its three exchanges end soon.
    void StopHand(HandStop stop, int ahead);
    // One case of a table of runs the hand stops: the fixture afresh but for
    // the `first` case, every slot's count 3 and `slot`'s `count`, `keys`
    // typed, the hand stopped `ahead` lines on; then the run of `slot`, and
    // its result.
    int RunStopped(bool first, int slot, int count, const std::string& keys, HandStop stop,
                   int ahead);
    // The words of the log line that ends a run the hand stopped so.
    static std::string StopWords(HandStop stop);
    // The checks every stopped run must pass, after Run: the one stop line in
    // the log and on record, the record ended as an error, the later tests
    // cancelled, the screen's lines, and nothing sent after the fault but the
    // reset of a hand that came back. A hand given up is found again, for
    // the tests after.
    void ExpectStopped(const StoppedRun& run);
    // Back to a healthy hand after a stop (a hang-up it came back from, or a
    // silence) that is not checked: the simulator's faults cleared, the
    // driver's own time-outs, and COM1 here free for the next hang-up.
    void HealHand();

    std::unique_ptr<results::Journal> journal;
    std::unique_ptr<TestStation> context;
    Station* station = nullptr;
    ZHand& hand = ProgramHand();
    std::string dir;
    std::string screen;
    ScreenCapture* capture = nullptr;  // set while Run runs

  private:
    void RestoreTimeouts();

    bool shortTimeouts_ = false;
    int stopAhead_ = 0;
    zhandsim::HandState beforeStop_;
    std::array<int, kTestCount + 1> cyclesBeforeStop_{};
};

// Replaces every time text of `log` by "<time>\n", so that log sections can
// be compared whole.
std::string MaskTimes(const std::string& log);

// Row `row` (0-based) of the screen as the console writes a centred line.
std::string CenteredRow(int row, const std::string& text);
// Occurrences of `part` in `text`.
std::size_t Occurrences(const std::string& text, const std::string& part);
// The first `count` lines of `lines`.
std::vector<std::string> Head(const std::vector<std::string>& lines, int count);
