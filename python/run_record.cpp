#include "run_record.h"

#include <utility>

#include "run_ids.h"

namespace zhandpy {

std::shared_ptr<results::Journal> OpenJournal(const StoreChoice& choice) {
    results::JournalOptions options;
    options.target = !choice.target.empty() ? choice.target : results::StoreFromEnvironment();
    options.station = !choice.station.empty() ? choice.station : results::StationFromEnvironment();
    options.local = choice.local;
    options.software = "zhand-python " ZHAND_VERSION;
    // A test's loop never waits for the disk.
    options.background = true;
    auto journal = std::make_shared<results::Journal>(std::move(options));
    journal->Open();
    return journal;
}

RunRecord::RunRecord(std::shared_ptr<results::Journal> journal, std::string test,
                     std::string serial, std::string operatorInitials, int cyclesPlanned)
    : journal_(std::move(journal)) {
    start_.uuid = results::NewRunUuid();
    start_.serial = std::move(serial);
    start_.operatorInitials = std::move(operatorInitials);
    start_.test = std::move(test);
    start_.cyclesPlanned = cyclesPlanned;
    start_.started = results::NowIso();
    Put(start_);
}

std::optional<std::string> RunRecord::Measure(const std::string& name, double value,
                                              std::optional<std::string> unit,
                                              std::optional<double> low, std::optional<double> high,
                                              std::optional<int> cycle) {
    results::Measurement m;
    m.run = start_.uuid;
    m.seq = ++seq_;
    m.name = name;
    m.value = value;
    m.unit = std::move(unit);
    m.low = low;
    m.high = high;
    m.outcome = results::Verdict(value, low, high);
    m.cycle = cycle ? cycle : cycle_;
    std::optional<std::string> verdict = m.outcome;
    const bool failed = verdict == results::kFail;
    if (failed) failed_.push_back(m);
    Put(std::move(m));
    if (failed) Put(results::RunProgress{start_.uuid, cyclesDone_, Errors()});
    return verdict;
}

void RunRecord::Event(const std::string& kind, const std::string& text,
                      std::optional<std::string> motor, std::optional<int> cycle) {
    results::Event event;
    event.run = start_.uuid;
    event.seq = ++seq_;
    event.at = results::NowIso();
    event.cycle = cycle ? cycle : cycle_;
    event.motor = std::move(motor);
    event.kind = kind;
    event.text = text;
    Put(std::move(event));
}

void RunRecord::Cycle(int cycle) {
    cycle_ = cycle;
    // The cycles before this one are done, as the station counts them.
    const int done = cycle > 0 ? cycle - 1 : 0;
    if (done == cyclesDone_) return;
    cyclesDone_ = done;
    Put(results::RunProgress{start_.uuid, cyclesDone_, Errors()});
}

std::string RunRecord::End(std::optional<std::string> outcome) {
    if (Ended()) return outcome_;
    outcome_ = outcome ? *outcome : failed_.empty() ? results::kPass : results::kFail;
    // A run that went to its end finished the cycle it was in.
    if (cycle_ && (outcome_ == results::kPass || outcome_ == results::kFail)) cyclesDone_ = *cycle_;
    Put(results::RunEnd{start_.uuid, results::NowIso(), outcome_, cyclesDone_, Errors()});
    // A run is whole in the store before its end is reported.
    journal_->Flush();
    return outcome_;
}

void RunRecord::Put(results::Entry entry) {
    journal_->Put(std::move(entry));
}

bool IsEndOutcome(const std::string& outcome) {
    return outcome == results::kPass || outcome == results::kFail || outcome == results::kAborted ||
           outcome == results::kError;
}

}  // namespace zhandpy
