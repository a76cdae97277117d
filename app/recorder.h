// The recorder: every line a test writes to its log goes through here. It
// writes the text log exactly as given and, at the same moment, the same fact
// to the run's structured record (a run, its measurements and its events).
// One run at a time; a fact given while no run is open is dropped.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "record.h"

namespace results {
class Journal;
}

class Recorder {
  public:
    // Facts go to `journal` (nullptr: text logs only).
    explicit Recorder(results::Journal* journal = nullptr) : journal_(journal) {}
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder();

    void SetJournal(results::Journal* journal) { journal_ = journal; }

    // Starts the run of `test` for the hand `serial` and the technician
    // `operatorInitials`, writing to `log` (taken over, closed by EndRun) named
    // `logFile`. With a null `log` the run is recorded as ended at once with
    // outcome "error" and false is returned.
    bool BeginRun(const std::string& test, int cyclesPlanned, const std::string& serial,
                  const std::string& operatorInitials, std::FILE* log, const std::string& logFile);
    bool Running() const { return log_ != nullptr; }

    // Log text exactly as given (no line end added).
    void Write(std::string_view text);
    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // A fault line, written to the log as `line` and kept as an event of
    // `kind` (its fault words) for `motor` ("F1".."F3", "Spread" or empty),
    // its text the line without the line ends before and after it.
    void Fault(std::optional<int> cycle, std::string_view motor, std::string_view kind,
               std::string_view line);
    // An event that writes nothing to the log: an operator's answer that
    // decides a result, about `motor` when it concerns one.
    void Note(std::string_view kind, std::string_view text, std::optional<int> cycle = {},
              std::string_view motor = {});

    // A number of the run; the verdict comes from the limits when given.
    void Measure(std::string_view name, double value, const char* unit = nullptr,
                 std::optional<int> cycle = {}, std::optional<double> low = {},
                 std::optional<double> high = {});

    // The run has done `cyclesDone` cycles with `errors` so far.
    void Progress(int cyclesDone, int errors);

    // Ends the run (results::kPass, kFail, kAborted or kError) and closes its log.
    void EndRun(const char* outcome, int cyclesDone, int errors);

    // One line for row 21 while facts could not be stored ("" when all is
    // well, and always with no journal).
    const std::string& StoreProblem() const;
    // Whether facts go on to a shared server, so that StoreProblem() may
    // change while no test runs.
    bool Shipping() const;

    // The last run's uuid ("" before the first).
    const std::string& RunUuid() const { return run_.uuid; }

  private:
    void Put(results::Entry entry);

    results::Journal* journal_;
    std::FILE* log_ = nullptr;
    results::RunStart run_;
    int seq_ = 0;
    int cyclesDone_ = 0;
    int errors_ = 0;
};
