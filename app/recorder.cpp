#include "recorder.h"

#include <cstdarg>
#include <utility>

#include "clock.h"
#include "journal.h"
#include "run_ids.h"

namespace {

// Facts are stamped with the station's clock, the one the log's time texts
// come from, so the record and the log tell the same time.
std::string Stamp() {
    return results::IsoTime(CurrentTimePoint());
}

}  // namespace

Recorder::~Recorder() {
    if (log_ != nullptr) std::fclose(log_);
}

bool Recorder::BeginRun(const std::string& test, int cyclesPlanned, const std::string& serial,
                        const std::string& operatorInitials, std::FILE* log,
                        const std::string& logFile) {
    if (log_ != nullptr) EndRun(results::kError, cyclesDone_, errors_);
    run_ = results::RunStart{};
    run_.uuid = results::NewRunUuid();
    run_.serial = serial;
    run_.operatorInitials = operatorInitials;
    run_.test = test;
    run_.cyclesPlanned = cyclesPlanned;
    run_.started = Stamp();
    run_.logFile = logFile;
    seq_ = 0;
    cyclesDone_ = 0;
    errors_ = 0;
    log_ = log;
    Put(run_);
    if (log == nullptr) {
        Put(results::RunEnd{run_.uuid, Stamp(), results::kError, 0, 0});
        if (journal_ != nullptr) journal_->Flush();
        return false;
    }
    return true;
}

void Recorder::Write(std::string_view text) {
    if (log_ != nullptr && !text.empty()) std::fwrite(text.data(), 1, text.size(), log_);
}

void Recorder::Print(const char* format, ...) {
    if (log_ == nullptr) return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(log_, format, args);
    va_end(args);
}

void Recorder::Fault(std::optional<int> cycle, std::string_view motor, std::string_view kind,
                     std::string_view line) {
    if (log_ == nullptr) return;
    Write(line);
    std::string_view text = line;
    // The event keeps the line without the line ends around it.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    while (!text.empty() && (text.front() == '\n' || text.front() == '\r')) text.remove_prefix(1);
    Note(kind, text, cycle, motor);
}

void Recorder::Note(std::string_view kind, std::string_view text, std::optional<int> cycle,
                    std::string_view motor) {
    if (log_ == nullptr) return;
    results::Event event;
    event.run = run_.uuid;
    event.seq = ++seq_;
    event.at = Stamp();
    event.cycle = cycle;
    if (!motor.empty()) event.motor = std::string(motor);
    event.kind = std::string(kind);
    event.text = std::string(text);
    Put(std::move(event));
}

void Recorder::Measure(std::string_view name, double value, const char* unit,
                       std::optional<int> cycle, std::optional<double> low,
                       std::optional<double> high) {
    if (log_ == nullptr) return;
    results::Measurement m;
    m.run = run_.uuid;
    m.seq = ++seq_;
    m.name = std::string(name);
    m.value = value;
    if (unit != nullptr) m.unit = unit;
    m.low = low;
    m.high = high;
    m.outcome = results::Verdict(value, low, high);
    m.cycle = cycle;
    Put(std::move(m));
}

void Recorder::Progress(int cyclesDone, int errors) {
    if (log_ == nullptr) return;
    if (cyclesDone == cyclesDone_ && errors == errors_) return;
    cyclesDone_ = cyclesDone;
    errors_ = errors;
    Put(results::RunProgress{run_.uuid, cyclesDone, errors});
}

void Recorder::EndRun(const char* outcome, int cyclesDone, int errors) {
    if (log_ == nullptr) return;
    std::fclose(log_);
    log_ = nullptr;
    Put(results::RunEnd{run_.uuid, Stamp(), outcome, cyclesDone, errors});
    // A run is whole in the store before the technician sees its end.
    if (journal_ != nullptr) journal_->Flush();
}

const std::string& Recorder::StoreProblem() const {
    static const std::string none;
    return journal_ != nullptr ? journal_->Problem() : none;
}

bool Recorder::Shipping() const {
    return journal_ != nullptr && journal_->Shipping();
}

void Recorder::Put(results::Entry entry) {
    if (journal_ != nullptr) journal_->Put(std::move(entry));
}
