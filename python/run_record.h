// Runs recorded from Python into the station's journal: the same store, the
// same unsaved file and the same shipping as zhand-station, the facts the
// same the station's recorder puts (a run's start, its measurements with
// their verdicts, events, progress and end), numbered in one sequence per
// run. The station's recorder also writes the text log; a run from Python
// has none.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal.h"
#include "record.h"

namespace zhandpy {

// The journal of this process, opened as the station opens its own:
// ZHAND_RESULTS / ZHAND_STATION / ZHAND_LOCAL_RESULTS where an argument is
// empty, facts committed by the journal's writer thread.
struct StoreChoice {
    std::string target;   // "" for ZHAND_RESULTS, else results.db
    std::string station;  // "" for ZHAND_STATION, else the host name
    std::string local;    // "" for ZHAND_LOCAL_RESULTS, else results.db
};
std::shared_ptr<results::Journal> OpenJournal(const StoreChoice& choice);

class RunRecord {
  public:
    // Starts the run at once: its RunStart goes to the journal.
    RunRecord(std::shared_ptr<results::Journal> journal, std::string test, std::string serial,
              std::string operatorInitials, int cyclesPlanned);
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // A number of the run, in cycle `cycle` (else the current one); the
    // verdict of its limits, which is also returned. A failed one counts as
    // an error of the run.
    std::optional<std::string> Measure(const std::string& name, double value,
                                       std::optional<std::string> unit, std::optional<double> low,
                                       std::optional<double> high, std::optional<int> cycle);
    // An event of `kind` with its `text`, for `motor` when it concerns one.
    void Event(const std::string& kind, const std::string& text, std::optional<std::string> motor,
               std::optional<int> cycle);
    // The run is in cycle `cycle`: the ones before it are done, and the
    // facts after it belong to it unless they say otherwise. A run that ends
    // pass or fail has done the cycle it was in.
    void Cycle(int cycle);
    // Ends the run with `outcome`, or with the computed one ("fail" when a
    // measurement failed, else "pass"), and returns once the journal has
    // stored or set aside every fact of it.
    std::string End(std::optional<std::string> outcome);

    bool Ended() const { return !outcome_.empty(); }
    const std::string& Outcome() const { return outcome_; }
    const results::RunStart& Start() const { return start_; }
    const std::vector<results::Measurement>& Failed() const { return failed_; }
    int Errors() const { return static_cast<int>(failed_.size()); }
    int CyclesDone() const { return cyclesDone_; }

  private:
    void Put(results::Entry entry);

    std::shared_ptr<results::Journal> journal_;
    results::RunStart start_;
    int seq_ = 0;
    int cyclesDone_ = 0;
    std::optional<int> cycle_;
    std::vector<results::Measurement> failed_;
    std::string outcome_;
};

// Whether `outcome` is one a run may end with.
bool IsEndOutcome(const std::string& outcome);

}  // namespace zhandpy
