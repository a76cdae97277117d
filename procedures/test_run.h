// The runner: one run of one test, from its header to its end. It opens the
// day's log and the run's record together, drives and reads the hand for the
// test, makes the position checks, runs the cycle loop with its status line,
// command poll, pause and abort, stops the run when the hand is gone, and ends
// the run with its outcome and final countdown. Every line of the log goes
// through the station's recorder.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "position_limits.h"
#include "station.h"

// What the cycle loop does around each cycle.
struct CyclePlan {
    bool status = true;        // the status line before each cycle
    bool commands = true;      // the command poll (<P>ause, <A>bort) after each
    bool abortMessage = true;  // an abort's lines open with "\n\n<message>"
};

// Why a run stopped on its own: the hand could not be reached any more.
enum class HandTrouble {
    None,
    LinkLost,       // the port went away (adapter pulled, line hung up)
    NotResponding,  // the port is there, but exchanges in a row timed out
};

class TestRun {
  public:
    TestRun(Station& station, int test);
    // A run whose record is still open here could not go on: it ends as an
    // error.
    ~TestRun();
    TestRun(const TestRun&) = delete;
    TestRun& operator=(const TestRun&) = delete;

    Station& station() { return station_; }
    ZHand& hand() { return station_.hand; }
    Console& console() { return station_.console; }
    const Clock& clock() const { return station_.clock; }
    // The run's log and record: Write, Print, Measure, Note.
    Recorder& log() { return station_.recorder; }

    // The slot's cycle count as it stands now.
    int Cycles() const { return station_.tests.cycles[test_]; }
    int Errors() const { return errors_; }
    void AddErrors(int count) { errors_ += count; }
    // Parameter Check counts the errors of each pass on its own.
    void ResetErrors() { errors_ = 0; }
    int CyclesDone() const { return cyclesDone_; }

    // --- set-up ---

    // Clears the screen, shows the header (name and status line) and each
    // line centred.
    void ShowHeader(std::initializer_list<std::string_view> lines = {});
    // Opens the day's log and begins the run's record for `cyclesPlanned`
    // cycles. A log that cannot be opened is shown on row 20 ("Could not open
    // log file %s"), a key is awaited and the run is recorded as an error:
    // false, and the test then drives nothing.
    bool OpenLog(int cyclesPlanned);
    bool OpenLog() { return OpenLog(Cycles()); }
    // "FDEF", "FSAVE" and the initialisation of all four motors, through the
    // run's hand operations.
    void PrepareHand();
    // "\n\n*****\n* <heading>\n* <time text>*****\n".
    void WriteSection(const std::string& heading);
    // The section of the test: "<title>, <slot's count> cycles".
    void WriteBanner(const std::string& title);

    // --- the hand ---

    // Every hand operation of the run passes here: true when it succeeded. It
    // is the one place where a run sees the hand fail: a failure on a lost
    // link, or the third exchange in a row that timed out (-9) on a link
    // still up, stops the run for the hand (HandStopped).
    bool Examine(int result);
    // The hand operations a test makes through its run: sent and examined
    // while the run goes on; once it has stopped for the hand nothing more is
    // sent and each returns the code that stopped it.
    int Close(const char* motors);
    int Open(const char* motors);
    int InitHand(const char* motors);
    int SetParameter(const char* motors, const char* name, int value);
    int Command(const char* text, std::string* reply = nullptr);
    int MoveTo(const char* motors, int value);
    // Real-time mode: its start for `motors`, one update (the velocities
    // out, the feedback in) and its end.
    int RTStart(const char* motors);
    int RTUpdate();
    int RTAbort();
    // Any other exchange with the hand made the same way: `exchange(hand())`
    // is called unless the run has stopped for the hand, and its result is
    // examined.
    //   run.Exchange([](ZHand& hand) { return hand.RTSetFlags("123", ...); });
    // The real-time calls that only set or read the tables of the last update
    // (RTSetVelocity, RTGetPosition, ...) exchange nothing: they go to the
    // hand directly.
    template <class Operation>
    int Exchange(Operation&& exchange) {
        if (HandStopped()) return troubleCode_;
        const int result = std::forward<Operation>(exchange)(hand());
        Examine(result);
        return result;
    }
    // True once the hand stopped the run; a test's own loop ends then, and the
    // cycle loop ends the run after the cycle in progress.
    bool HandStopped() const { return trouble_ != HandTrouble::None; }
    HandTrouble Trouble() const { return trouble_; }
    // Reads `names` of `motors` into `values`; true only when the exchange
    // succeeded and the reply held a number for every element (otherwise the
    // values must not be used).
    bool Read(const char* motors, const char* names, std::span<int> values);
    // The hand's temperature in whole degrees; false (value untouched) when
    // the hand gave no reading.
    bool ReadTemperature(int* value);
    // Re-initialises `motors` with its opening velocity "MOV" set to
    // `velocity` for the moment: FGET MOV, FSET MOV velocity, HI, FSET MOV
    // saved value (not sent when there was no saved value).
    void RecoverMotor(const char* motors, int velocity);
    // The position check of finger 1..3 (ignored for the spread checks) after
    // a move, for the log line's cycle: reads "P", records it as the
    // measurement "F2 closed", "Spread open", ... with its pass band, and on a
    // broken limit recovers the motor and logs the fault. A query that fails
    // is the fault "NO POSITION READING" without recovery. 1 for a fault
    // (counted in the run's errors), else 0.
    int Check(PositionCheck check, int finger, int cycle);
    // A fault line of the log as an event of `kind` for `motor`; counted.
    void Fault(std::optional<int> cycle, std::string_view motor, std::string_view kind,
               std::string_view line);

    // --- the cycles ---

    // Completed: every cycle ran. Aborted: the technician's "A". Stopped: the
    // body called StopCycles. HandLost: the hand stopped the run.
    enum class Ending { Completed, Aborted, Stopped, HandLost };
    using CycleBody = std::function<void(int cycle)>;
    // The test's own lines of an early end (its summary), after the first
    // line the runner wrote.
    using SummaryLines = std::function<void()>;

    // Cycles k = 1, 2, ... while k is not above the slot's count (read again
    // before every cycle): the status line, `body(k)`, the progress in the
    // record, and the command poll. On "A" after cycle k: the abort (the
    // slot's count becomes k, later tests are cancelled), "\n\n<message>"
    // in the log (unless the plan says otherwise), `summary`, the record
    // ended as aborted, and the countdown with the message. A body that calls
    // StopCycles ends the loop after it, the cycle not counted as done.
    //
    // When the hand stops the run in cycle k (or before it, in the set-up):
    // the log line "\nLINK TO HAND LOST in cycle %d at %s" or "\nHAND NOT
    // RESPONDING in cycle %d at %s" (an event of that kind, not counted as an
    // error), `summary`, later tests cancelled (the slot keeps its count, so
    // the same test can be run again), the record ended as an error, and on
    // the screen "Link to hand lost in cycle %d of %d." or "Hand not
    // responding in cycle %d of %d." on row 20. A lost link then waits on
    // row 21 for the port to come back ("Reconnect the hand, or press Esc."),
    // resets the hand when it is back and counts down; Esc gives up the wait
    // and goes back at once. A hand not responding counts down at once.
    Ending RunCycles(const CycleBody& body, const SummaryLines& summary = {}, CyclePlan plan = {});
    // The same end for a test without the cycle loop, once the hand has
    // stopped its run: `cycle` is the one it was in, of the cycles the run
    // planned (OpenLog). Nothing happens while the hand has not stopped it.
    void EndForHand(int cycle, const SummaryLines& summary = {});
    void StopCycles() { stop_ = true; }
    // The command poll between cycles: with no key waiting false at once;
    // otherwise reads the key: "A"/"a" true (abort), "P"/"p" pauses, any other
    // key is dropped.
    bool CommandPoll();

    // --- the end ---

    // Ends the record: pass with no errors, else fail. A test without a cycle
    // loop has done what it planned.
    void Complete();
    // Ends the record with `outcome` (results::kFail, kAborted, kError, ...).
    void End(const char* outcome);
    // Complete, then the countdown with "Test completed with %d errors.".
    void CompleteWithCountdown();
    // The countdown with `message` on rows 20 and 21.
    void Countdown(const std::string& message);

    // Shows on row 21 that the record could not be stored, once when the
    // trouble appears or changes (and blanks the row when it is over). The
    // run does so when it opens its log and after every cycle; a test
    // without cycles calls it between its stages.
    void ShowStoreProblem();

  private:
    void ClearStoreProblem();
    // The end of a run the hand stopped in `cycle` of `cycles`.
    Ending FinishForHand(int cycle, int cycles, const SummaryLines& summary);

    Station& station_;
    int test_;
    int errors_ = 0;
    int cyclesPlanned_ = 0;
    int cyclesDone_ = 0;
    bool cycled_ = false;
    bool recording_ = false;
    bool stop_ = false;
    HandTrouble trouble_ = HandTrouble::None;
    int troubleCode_ = 0;       // the failure that stopped the run
    int timeoutsInRow_ = 0;     // exchanges that timed out since the last answer
    std::string shownProblem_;  // the store's trouble as row 21 shows it
};
