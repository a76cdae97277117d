// The runner: one run of one test, from its header to its end. It opens the
// day's log and the run's record together, reads the hand for the test, makes
// the position checks, runs the cycle loop with its status line, command poll,
// pause and abort, and ends the run with its outcome and final countdown.
// Every line of the log goes through the station's recorder.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "position_limits.h"
#include "station.h"

// What the cycle loop does around each cycle.
struct CyclePlan {
    bool status = true;    // the status line before each cycle
    bool commands = true;  // the command poll (<P>ause, <A>bort) after each
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
    // "FDEF", "FSAVE" and the initialisation of all four motors.
    void PrepareHand();
    // "\n\n*****\n* <heading>\n* <time text>*****\n".
    void WriteSection(const std::string& heading);
    // The section of the test: "<title>, <slot's count> cycles".
    void WriteBanner(const std::string& title);

    // --- the hand ---

    // Every hand operation whose result the run looks at passes here: true
    // when it succeeded. It is the one place where a run sees the hand fail.
    bool Examine(int result);
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

    enum class Ending { Completed, Aborted, Stopped };
    using CycleBody = std::function<void(int cycle)>;
    using AbortLines = std::function<void(const std::string& message)>;

    // Cycles k = 1, 2, ... while k is not above the slot's count (read again
    // before every cycle): the status line, `body(k)`, the progress in the
    // record, and the command poll. On "A" after cycle k: the abort (the
    // slot's count becomes k, later tests are cancelled), `abortLines` with
    // the message for the test's own log lines, the record ended as aborted,
    // and the countdown with the message. A body that calls StopCycles ends
    // the loop after it, the cycle not counted as done.
    Ending RunCycles(const CycleBody& body, const AbortLines& abortLines = {}, CyclePlan plan = {});
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

    Station& station_;
    int test_;
    int errors_ = 0;
    int cyclesPlanned_ = 0;
    int cyclesDone_ = 0;
    bool cycled_ = false;
    bool recording_ = false;
    bool stop_ = false;
    std::string shownProblem_;  // the store's trouble as row 21 shows it
};
