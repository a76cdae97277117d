#include "log_parser.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>

#include "name_uuid.h"
#include "record_names.h"
#include "time_text.h"

namespace report {

namespace {

using results::Event;
using results::Measurement;

struct Line {
    std::string_view text;  // without its line end (and a carriage return before it)
    int number = 0;
    std::size_t begin = 0;  // byte offsets of the text in the file
    std::size_t end = 0;
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t at = 0;
    int number = 1;
    while (at < text.size()) {
        std::size_t newline = text.find('\n', at);
        const std::size_t stop = newline == std::string_view::npos ? text.size() : newline;
        std::size_t end = stop;
        if (end > at && text[end - 1] == '\r') --end;
        lines.push_back({text.substr(at, end - at), number++, at, end});
        at = newline == std::string_view::npos ? text.size() : newline + 1;
    }
    return lines;
}

bool Blank(std::string_view text) {
    return text.find_first_not_of(" \t\r") == std::string_view::npos;
}

// A line of the file as it may be shown in a message: printable, short.
std::string Shown(std::string_view text) {
    std::string shown;
    for (unsigned char c : text.substr(0, 60)) {
        if (c >= 32 && c < 127) {
            shown += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        }
    }
    if (text.size() > 60) shown += "...";
    return "\"" + shown + "\"";
}

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
    if (text.empty()) return false;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, *value);
    return ec == std::errc() && ptr == last;
}

// Ends a parse: the file is not a whole log.
struct Refusal {
    int line;
    std::string message;
};

[[noreturn]] void Refuse(int line, std::string message) {
    throw Refusal{line, std::move(message)};
}

// The tests as their banners name them, and as the test table names them.
struct TestKind {
    std::string_view title;
    std::string_view test;
    bool oneSession = false;  // one cycle whatever count the banner shows
};
constexpr TestKind kTests[] = {
    {"Finger Movement", "Finger Movement"},
    {"Cable Tension/BreakAway", "Cable Tension/BreakAway", true},
    {"Strain Gages", "Strain Gages"},
    {"Vibration Grasp", "Vibration Grasp"},
    {"Multi-Axis", "Multi-Axis"},
    {"Encoder slip - Grasp", "Encoder slip - Grasp"},
    {"Encoder slip - Spread", "Encoder slip - Spread"},
    {"After Freezer", "After-Freezer"},
    {"Parameter Check", "Parameter Check"},
};
constexpr std::string_view kFingerprint = "Fingerprint";
constexpr std::string_view kSpreadVelocityTitle = "Minimum Spread Velocity";
constexpr std::string_view kEncoderTitle = "Encoder Accuracy (Encoder counts)";
constexpr std::string_view kSpeedsTitle = "Finger Speeds (seconds)";

struct Banner {
    std::size_t index = 0;  // of its first "*****" line
    std::string title;
    std::optional<int> cycles;
    std::time_t time = 0;
    std::size_t bodyBegin = 0;  // line indices of the section's body
    std::size_t bodyEnd = 0;
};

// "M1".."M4" of the log as the record's motor names.
std::string MotorOf(int motorNumber) {
    return results::MotorName(motorNumber);
}

// A fault line: "<F1|F2|F3|Spread> <FAULT WORDS> in cycle <n> at <time text>",
// or the line of a run the hand stopped, which names no motor.
struct FaultLine {
    std::optional<std::string> motor;
    std::string kind;
    int cycle = 0;
    std::time_t time = 0;
};

// The end of a fault line after its words: " in cycle <n> at <time text>".
bool ReadCycleAndTime(std::string_view text, FaultLine* fault) {
    constexpr std::string_view kInCycle = " in cycle ";
    if (!text.starts_with(kInCycle)) return false;
    text.remove_prefix(kInCycle.size());
    const std::size_t at = text.find(" at ");
    if (at == std::string_view::npos || !ParseNumber(text.substr(0, at), &fault->cycle))
        return false;
    const std::optional<std::time_t> time = ParseTimeText(text.substr(at + 4));
    if (!time) return false;
    fault->time = *time;
    return true;
}

std::optional<FaultLine> ParseFaultLine(std::string_view text) {
    FaultLine fault;
    if (text.starts_with("Spread ")) {
        fault.motor = "Spread";
    } else if (text.size() > 3 && text[0] == 'F' && text[1] >= '1' && text[1] <= '3' &&
               text[2] == ' ') {
        fault.motor = std::string(text.substr(0, 2));
    } else {
        return std::nullopt;
    }
    text.remove_prefix(fault.motor->size() + 1);
    const std::size_t inCycle = text.find(" in cycle ");
    if (inCycle == std::string_view::npos || inCycle == 0) return std::nullopt;
    const std::string_view kind = text.substr(0, inCycle);
    for (char c : kind)
        if (!((c >= 'A' && c <= 'Z') || c == ' ')) return std::nullopt;
    if (kind.front() == ' ' || kind.back() == ' ') return std::nullopt;
    fault.kind = std::string(kind);
    if (!ReadCycleAndTime(text.substr(inCycle), &fault)) return std::nullopt;
    return fault;
}

// "LINK TO HAND LOST in cycle <n> at <time text>" or "HAND NOT RESPONDING in
// cycle <n> at <time text>": the hand stopped the run.
std::optional<FaultLine> ParseStopLine(std::string_view text) {
    for (const std::string_view words : {results::kLinkLost, results::kHandNotResponding}) {
        if (!text.starts_with(words)) continue;
        FaultLine stop;
        stop.kind = std::string(words);
        if (!ReadCycleAndTime(text.substr(words.size()), &stop)) return std::nullopt;
        return stop;
    }
    return std::nullopt;
}

// One run being read: its facts in log order, numbered as the station does.
class RunBuilder {
  public:
    RunBuilder(const LogSource& source, std::string test, int cycles, std::time_t started,
               int firstLine) {
        run_.start.station = kImportedStation;
        run_.start.serial = source.serial;
        run_.start.operatorInitials = source.operatorInitials;
        run_.start.test = std::move(test);
        run_.start.cyclesPlanned = cycles;
        run_.start.started = IsoUtc(started);
        run_.start.logFile = source.fileName;
        run_.firstLine = firstLine;
        last_ = started;
    }

    void Measure(std::string name, double value, std::optional<std::string> unit = {},
                 std::optional<double> low = {}, std::optional<double> high = {},
                 std::optional<int> cycle = {}) {
        Measurement m;
        m.seq = ++seq_;
        m.name = std::move(name);
        m.value = value;
        m.unit = std::move(unit);
        m.low = low;
        m.high = high;
        m.outcome = results::Verdict(value, low, high);
        m.cycle = cycle;
        run_.facts.push_back(std::move(m));
    }

    // An event of the log; it counts as one of the run's errors.
    void Note(std::time_t at, std::optional<int> cycle, std::optional<std::string> motor,
              std::string kind, std::string_view text) {
        Add(at, cycle, std::move(motor), std::move(kind), text);
        ++errors_;
    }

    // The hand stopped the run: an event, but no error of the hand's.
    void Stop(const FaultLine& stop, std::string_view text) {
        Add(stop.time, stop.cycle, std::nullopt, stop.kind, text);
    }

    // A time the log shows for this run; the latest is taken as its end.
    void Saw(std::time_t at) {
        if (at > last_) last_ = at;
    }

    // The events noted so far that count as errors: the errors of a test
    // whose log gives no count of them.
    int Errors() const { return errors_; }

    ImportedRun Finish(const char* outcome, int cyclesDone, int errors, std::string_view bytes,
                       std::size_t offset) {
        // Trailing line ends belong to whatever is appended next, not to the run.
        while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r'))
            bytes.remove_suffix(1);
        std::string name = run_.start.logFile;
        name += '\0';
        name += std::to_string(offset);
        name += '\0';
        name.append(bytes);
        run_.start.uuid = ImportedRunUuid(name);
        for (results::Entry& fact : run_.facts) {
            std::visit(
                [&](auto& f) {
                    if constexpr (!std::is_same_v<std::decay_t<decltype(f)>, results::RunStart>)
                        f.run = run_.start.uuid;
                },
                fact);
        }
        run_.end.run = run_.start.uuid;
        run_.end.ended = IsoUtc(last_);
        run_.end.outcome = outcome;
        run_.end.cyclesDone = cyclesDone;
        run_.end.errors = errors;
        return std::move(run_);
    }

  private:
    void Add(std::time_t at, std::optional<int> cycle, std::optional<std::string> motor,
             std::string kind, std::string_view text) {
        Event e;
        e.seq = ++seq_;
        e.at = IsoUtc(at);
        e.cycle = cycle;
        e.motor = std::move(motor);
        e.kind = std::move(kind);
        e.text = std::string(text);
        run_.facts.push_back(std::move(e));
        Saw(at);
    }

    ImportedRun run_;
    int seq_ = 0;
    int errors_ = 0;
    std::time_t last_ = 0;
};

// The non-blank lines of one section's body, read in order.
class Body {
  public:
    Body(const std::vector<Line>& lines, const Banner& banner, std::string_view test,
         int sectionLine)
        : lines_(lines),
          at_(banner.bodyBegin),
          end_(banner.bodyEnd),
          test_(test),
          sectionLine_(sectionLine) {}

    // The next non-blank line, or nullptr at the end of the section.
    const Line* Peek() {
        while (at_ < end_ && Blank(lines_[at_].text)) ++at_;
        return at_ < end_ ? &lines_[at_] : nullptr;
    }
    bool AtEnd() { return Peek() == nullptr; }

    // The next line, which must be there: `expected` says what it should be.
    const Line& Take(std::string_view expected) {
        const Line* line = Peek();
        if (line == nullptr) BrokenOff(expected);
        ++at_;
        return *line;
    }
    // The next line, which must read `text`.
    void Expect(std::string_view text) {
        const Line& line = Take(Shown(text));
        if (line.text != text) Unexpected(line, Shown(text));
    }
    // Nothing more may come in the section.
    void ExpectEnd() {
        if (const Line* line = Peek()) Unexpected(*line, "the end of the section");
    }

    [[noreturn]] void BrokenOff(std::string_view expected) {
        if (end_ == lines_.size()) {
            Refuse(lines_.empty() ? 1 : lines_.back().number,
                   "the file breaks off in the " + std::string(test_) + " section begun on line " +
                       std::to_string(sectionLine_) + " (expected " + std::string(expected) + ")");
        }
        Refuse(lines_[end_].number, "the " + std::string(test_) + " section begun on line " +
                                        std::to_string(sectionLine_) + " ends before " +
                                        std::string(expected));
    }
    [[noreturn]] void Unexpected(const Line& line, std::string_view expected) {
        Refuse(line.number, "expected " + std::string(expected) + " in the " + std::string(test_) +
                                " section, found " + Shown(line.text));
    }

  private:
    const std::vector<Line>& lines_;
    std::size_t at_;
    std::size_t end_;
    std::string_view test_;
    int sectionLine_;
};

std::vector<std::string_view> SplitTabs(std::string_view text) {
    std::vector<std::string_view> cells;
    std::size_t at = 0;
    while (true) {
        const std::size_t tab = text.find('\t', at);
        cells.push_back(
            text.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
        if (tab == std::string_view::npos) break;
        at = tab + 1;
    }
    return cells;
}

// A table: a header line of column labels after a tab, then one line per
// row label with a number under each column. Each cell of the first
// `measured` columns (all by default) becomes the measurement "<row>
// <column>". A cell may be followed by a tab.
void ReadTable(Body& body, RunBuilder& run, std::string_view header,
               std::initializer_list<std::string_view> rows, const std::optional<std::string>& unit,
               bool integers, std::size_t measured = SIZE_MAX) {
    body.Expect(header);
    std::vector<std::string_view> columns = SplitTabs(header);
    columns.erase(columns.begin());
    for (std::string_view row : rows) {
        const std::string what = "the table row " + std::string(row);
        const Line& line = body.Take(what);
        std::vector<std::string_view> cells = SplitTabs(line.text);
        if (cells.size() == columns.size() + 2 && cells.back().empty()) cells.pop_back();
        if (cells.size() != columns.size() + 1 || cells[0] != row) body.Unexpected(line, what);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            double value = 0;
            int whole = 0;
            const bool ok =
                integers ? ParseNumber(cells[c + 1], &whole) : ParseNumber(cells[c + 1], &value);
            if (!ok || !std::isfinite(value))
                body.Unexpected(line, what + " with a number under " + std::string(columns[c]));
            if (integers) value = whole;
            if (c < measured)
                run.Measure(std::string(row) + " " + std::string(columns[c]), value, unit);
        }
    }
}

// Reads "<prefix><integer><suffix>" from `line`; false when it is not such a line.
bool ReadFigure(std::string_view line, std::string_view prefix, int* value,
                std::string_view suffix = {}) {
    if (!line.starts_with(prefix) || !line.ends_with(suffix) ||
        line.size() < prefix.size() + suffix.size())
        return false;
    return ParseNumber(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()),
                       value);
}

// Fault lines, as long as they come.
void ReadFaults(Body& body, RunBuilder& run) {
    while (const Line* line = body.Peek()) {
        std::optional<FaultLine> fault = ParseFaultLine(line->text);
        if (!fault) return;
        body.Take("");
        run.Note(fault->time, fault->cycle, fault->motor, fault->kind, line->text);
    }
}

// "Test aborted in cycle %d of %d." when it comes next: the cycle.
std::optional<int> ReadAbort(Body& body) {
    const Line* line = body.Peek();
    if (line == nullptr || !line->text.starts_with("Test aborted in cycle ")) return std::nullopt;
    body.Take("");
    const std::string_view rest = line->text.substr(22);
    const std::size_t of = rest.find(" of ");
    int cycle = 0, total = 0;
    if (of == std::string_view::npos || !ParseNumber(rest.substr(0, of), &cycle) ||
        !ReadFigure(rest.substr(of), " of ", &total, "."))
        body.Unexpected(*line, "\"Test aborted in cycle N of M.\"");
    return cycle;
}

// The line of a run the hand stopped, when it comes next: its event (of no
// motor, no error) is noted, and the cycle it names, from 1 to the `planned`
// cycles, is given.
std::optional<int> ReadStop(Body& body, RunBuilder& run, int planned) {
    const Line* line = body.Peek();
    if (line == nullptr) return std::nullopt;
    const std::optional<FaultLine> stop = ParseStopLine(line->text);
    if (!stop) return std::nullopt;
    body.Take("");
    if (stop->cycle < 1 || stop->cycle > planned)
        body.Unexpected(*line, planned == 1 ? std::string("a stop in cycle 1")
                                            : "a stop in cycle 1 to " + std::to_string(planned));
    run.Stop(*stop, line->text);
    return stop->cycle;
}

const char* OutcomeOf(bool aborted, int errors) {
    if (aborted) return results::kAborted;
    return errors > 0 ? results::kFail : results::kPass;
}

// How a run ended: with its cycles, or early.
struct Finished {
    const char* outcome;
    int cyclesDone;
    int errors;
};

// A run the hand stopped in a cycle did the cycles before it, and ends as an
// error whatever its errors.
Finished StoppedIn(int cycle, int errors) {
    return {results::kError, cycle - 1, errors};
}

// What may end the cycles of an endurance test before their count: the
// technician's abort or the hand's stop.
struct EarlyEnd {
    std::optional<int> aborted;  // the cycle of each
    std::optional<int> stopped;
    bool Early() const { return aborted || stopped; }
};

EarlyEnd ReadEarlyEnd(Body& body, RunBuilder& run, int planned) {
    EarlyEnd end;
    end.aborted = ReadAbort(body);
    if (!end.aborted) end.stopped = ReadStop(body, run, planned);
    return end;
}

Finished FinishedAfter(const EarlyEnd& end, int planned, int errors) {
    if (end.stopped) return StoppedIn(*end.stopped, errors);
    return {OutcomeOf(end.aborted.has_value(), errors), end.aborted.value_or(planned), errors};
}

int ReadSummary(Body& body) {
    body.Expect("SUMMARY:");
    const Line& line = body.Take("\"Errors: N\"");
    int errors = 0;
    if (!ReadFigure(line.text, "Errors: ", &errors)) body.Unexpected(line, "\"Errors: N\"");
    return errors;
}

class Parser {
  public:
    Parser(std::string_view text, const LogSource& source)
        : text_(text), source_(source), lines_(SplitLines(text)) {}

    std::vector<ImportedRun> Parse() {
        FindBanners();
        for (std::size_t b = 0; b < banners_.size();) b = ReadRun(b);
        // Only the finger speeds table ends the file without a line end (its
        // rows end with a tab); any other last line without one broke off.
        if (!text_.empty() && text_.back() != '\n') {
            const Line& last = lines_.back();
            if (last.text.empty() || last.text.back() != '\t')
                Refuse(last.number, "the file breaks off in the middle of its last line");
        }
        return std::move(runs_);
    }

  private:
    void FindBanners() {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].text != "*****") continue;
            Banner banner;
            banner.index = i;
            ReadBanner(i, &banner);
            if (!banners_.empty()) banners_.back().bodyEnd = i;
            banners_.push_back(std::move(banner));
            i += 3;
        }
        if (banners_.empty()) {
            Refuse(lines_.empty() ? 1 : lines_.front().number,
                   "not a test log: no section banner (\"*****\")");
        }
        banners_.back().bodyEnd = lines_.size();
        for (std::size_t i = 0; i < banners_.front().index; ++i)
            if (!Blank(lines_[i].text))
                Refuse(lines_[i].number,
                       "not a test log: " + Shown(lines_[i].text) + " before the first section");
    }

    // "*****", "* <title>[, <n> cycles]", "* <time text>", "*****".
    void ReadBanner(std::size_t i, Banner* banner) {
        const int number = lines_[i].number;
        if (i + 3 >= lines_.size()) {
            Refuse(lines_.back().number,
                   "the file breaks off in the section banner begun on line " +
                       std::to_string(number));
        }
        const std::string_view title = lines_[i + 1].text;
        const std::string_view time = lines_[i + 2].text;
        if (!title.starts_with("* ") || title.size() < 3)
            Refuse(lines_[i + 1].number,
                   "expected \"* <test>, <n> cycles\" in a section banner, found " + Shown(title));
        const std::optional<std::time_t> when =
            time.starts_with("* ") ? ParseTimeText(time.substr(2)) : std::nullopt;
        if (!when)
            Refuse(lines_[i + 2].number,
                   "expected \"* <time>\" in a section banner, found " + Shown(time));
        if (lines_[i + 3].text != "*****")
            Refuse(lines_[i + 3].number, "expected \"*****\" closing a section banner, found " +
                                             Shown(lines_[i + 3].text));
        std::string_view name = title.substr(2);
        const std::size_t comma = name.rfind(", ");
        int cycles = 0;
        if (comma != std::string_view::npos && name.ends_with(" cycles") &&
            ParseNumber(name.substr(comma + 2, name.size() - comma - 2 - 7), &cycles)) {
            banner->cycles = cycles;
            name = name.substr(0, comma);
        }
        banner->title = std::string(name);
        banner->time = *when;
        banner->bodyBegin = i + 4;
    }

    int LineOf(const Banner& banner) const { return lines_[banner.index].number; }

    std::string_view Bytes(std::size_t firstBanner, std::size_t lastBanner) const {
        const std::size_t begin = lines_[banners_[firstBanner].index].begin;
        const Banner& last = banners_[lastBanner];
        const std::size_t end =
            last.bodyEnd < lines_.size() ? lines_[last.bodyEnd].begin : text_.size();
        return text_.substr(begin, end - begin);
    }

    // Reads the run that starts with banner b; returns the next banner's index.
    std::size_t ReadRun(std::size_t b) {
        const Banner& banner = banners_[b];
        if (banner.title == kSpreadVelocityTitle && !banner.cycles) return ReadFingerprint(b);
        if ((banner.title == kEncoderTitle || banner.title == kSpeedsTitle) && !banner.cycles) {
            // Also what follows a Fingerprint the hand stopped before it.
            Refuse(lines_[banner.index + 1].number,
                   "a Fingerprint section " + Shown(banner.title) + " without the " +
                       std::string(kSpreadVelocityTitle) + " section that begins its run");
        }
        for (const TestKind& kind : kTests) {
            if (banner.title != kind.title) continue;
            if (!banner.cycles)
                Refuse(lines_[banner.index + 1].number,
                       "the " + banner.title + " banner names no cycle count");
            const int planned = kind.oneSession ? 1 : *banner.cycles;
            RunBuilder run(source_, std::string(kind.test), planned, banner.time, LineOf(banner));
            Body body(lines_, banner, kind.test, LineOf(banner));
            Finished finished = ReadTest(kind.test, body, run, banner, planned);
            body.ExpectEnd();
            runs_.push_back(run.Finish(finished.outcome, finished.cyclesDone, finished.errors,
                                       Bytes(b, b), lines_[banner.index].begin));
            return b + 1;
        }
        Refuse(lines_[banner.index + 1].number,
               "a section of an unknown test: " + Shown(banner.title));
    }

    Finished ReadTest(std::string_view test, Body& body, RunBuilder& run, const Banner& banner,
                      int planned) {
        if (test == "Finger Movement") {
            if (const std::optional<int> stopped = ReadStop(body, run, planned))
                return StoppedIn(*stopped, run.Errors());
            const Line& line = body.Take("the test's result");
            if (line.text == "TEST COMPLETED SUCCESSFULLY") return {results::kPass, planned, 0};
            int motor = 0;
            if (ReadFigure(line.text, "TEST FAILED: M", &motor, " IS NOT FUNCTIONING PROPERLY!") &&
                motor >= 1 && motor <= 4) {
                run.Note(banner.time, std::nullopt, MotorOf(motor), results::kNotFunctioning,
                         line.text);
                // The log does not say in which cycle the motor failed.
                return {results::kFail, 0, 1};
            }
            body.Unexpected(
                line, "\"TEST COMPLETED SUCCESSFULLY\", \"TEST FAILED: ...\" or the hand's stop");
        }
        if (test == "Cable Tension/BreakAway") {
            // A session the hand stopped holds only the line of the stop.
            if (const std::optional<int> stopped = ReadStop(body, run, planned))
                return StoppedIn(*stopped, run.Errors());
            const Line& line = body.Take("\"TEST COMPLETED\"");
            if (line.text != "TEST COMPLETED")
                body.Unexpected(line, "\"TEST COMPLETED\" or the hand's stop");
            return {results::kPass, planned, 0};
        }
        if (test == "Strain Gages") {
            // When the hand stopped the run, the line of the stop comes
            // before the table of the readings accepted so far.
            const std::optional<int> stopped = ReadStop(body, run, planned);
            ReadTable(body, run, "\t0g\t250g\t500g\t1000g\t1500g\t2000g", {"F1", "F2", "F3"},
                      std::nullopt, true);
            if (stopped) return StoppedIn(*stopped, run.Errors());
            return {results::kPass, planned, 0};
        }
        if (test == "Vibration Grasp") {
            ReadFaults(body, run);
            const EarlyEnd end = ReadEarlyEnd(body, run, planned);
            const int errors = ReadSummary(body);
            body.Expect("Max gage drift");
            for (int finger = 1; finger <= 3; ++finger) {
                const std::string prefix = "F" + std::to_string(finger) + ": ";
                const Line& line = body.Take(Shown(prefix + "N"));
                int drift = 0;
                if (!ReadFigure(line.text, prefix, &drift))
                    body.Unexpected(line, Shown(prefix + "N"));
                run.Measure("F" + std::to_string(finger) + " gage drift", drift);
            }
            return FinishedAfter(end, planned, errors);
        }
        if (test == "Multi-Axis" || test == "After-Freezer") {
            ReadFaults(body, run);
            const EarlyEnd end = ReadEarlyEnd(body, run, planned);
            const int errors = ReadSummary(body);
            const Line& line = body.Take("\"Maximum temperature: N\"");
            int temperature = 0;
            if (!ReadFigure(line.text, "Maximum temperature: ", &temperature))
                body.Unexpected(line, "\"Maximum temperature: N\"");
            run.Measure(results::kMaximumTemperature, temperature, results::kCelsius);
            return FinishedAfter(end, planned, errors);
        }
        if (test == "Encoder slip - Grasp") {
            ReadFaults(body, run);
            const EarlyEnd end = ReadEarlyEnd(body, run, planned);
            int errors = run.Errors();
            if (end.Early()) errors = ReadSummary(body);
            ReadPositions(body, run, {"M1", "M2", "M3"}, !end.stopped);
            return FinishedAfter(end, planned, errors);
        }
        if (test == "Encoder slip - Spread") {
            // An aborted run logs only its positions, so it reads as complete.
            ReadFaults(body, run);
            const std::optional<int> stopped = ReadStop(body, run, planned);
            ReadPositions(body, run, {"M4"}, !stopped);
            if (stopped) return StoppedIn(*stopped, run.Errors());
            ReadFaults(body, run);  // the breakaway check after the last cycle
            return {OutcomeOf(false, run.Errors()), planned, run.Errors()};
        }
        // Parameter Check. Its passes follow one another without a mark
        // between them: the pass of a line is known only when there is one.
        const std::optional<int> pass = planned == 1 ? std::optional<int>(1) : std::nullopt;
        while (const Line* line = body.Peek()) {
            if (const std::optional<int> stopped = ReadStop(body, run, planned))
                return StoppedIn(*stopped, ReadSummary(body));
            if (line->text == "SUMMARY:") {
                const int errors = ReadSummary(body);
                return {OutcomeOf(false, errors), planned, errors};
            }
            body.Take("");
            if (line->text == "Could not open preferences file!") {
                run.Note(banner.time, pass, std::nullopt, results::kNoDefaultsFile, line->text);
                return {results::kError, 0, 0};
            }
            if (!ReadParameterLine(*line, run, banner.time, pass))
                body.Unexpected(*line, "a parameter difference, the hand's stop or \"SUMMARY:\"");
        }
        body.BrokenOff("\"SUMMARY:\"");
    }

    // The positions before the first cycle and after the last. A run the hand
    // stopped could not read the final ones: its log shows them as 0, which
    // are no readings.
    void ReadPositions(Body& body, RunBuilder& run, std::initializer_list<std::string_view> motors,
                       bool finalRead) {
        ReadTable(body, run, "\tInit\tFinal", motors, results::kCounts, true, finalRead ? 2 : 1);
    }

    // "Parameter '<name>' not found in hand!", "Parameter '<name>' has no
    // values in hand!", "Defaults.dat: bad record at line <n>" or "The <name>
    // parameter for M<m> is <v>, but should be <e>. -<outcome>".
    static bool ReadParameterLine(const Line& line, RunBuilder& run, std::time_t at,
                                  std::optional<int> pass) {
        const std::string_view text = line.text;
        static constexpr std::pair<std::string_view, const char*> kListLines[] = {
            {"' not found in hand!", results::kNotFoundInHand},
            {"' has no values in hand!", results::kNoValuesInHand},
        };
        for (const auto& [ending, kind] : kListLines) {
            if (text.starts_with("Parameter '") && text.ends_with(ending) &&
                text.size() > 11 + ending.size()) {
                run.Note(at, pass, std::nullopt, kind, text);
                return true;
            }
        }
        int badLine = 0;
        if (ReadFigure(text, "Defaults.dat: bad record at line ", &badLine)) {
            run.Note(at, pass, std::nullopt, results::kBadRecord, text);
            return true;
        }
        static constexpr std::pair<std::string_view, const char*> kAnswers[] = {
            {". -User chose not to fix", results::kNotFixed},
            {". -Fixed.", results::kFixed},
            {". -Can not fix!", results::kCannotFix},
        };
        if (!text.starts_with("The ")) return false;
        for (const auto& [ending, kind] : kAnswers) {
            if (!text.ends_with(ending)) continue;
            std::string_view rest = text.substr(4, text.size() - 4 - ending.size());
            const std::size_t forMotor = rest.rfind(" parameter for M");
            if (forMotor == std::string_view::npos || forMotor == 0) return false;
            const std::string name(rest.substr(0, forMotor));
            rest.remove_prefix(forMotor + 16);
            const std::size_t is = rest.find(" is ");
            const std::size_t should = rest.find(", but should be ");
            int motor = 0, value = 0, expected = 0;
            if (is == std::string_view::npos || should == std::string_view::npos || should < is ||
                !ParseNumber(rest.substr(0, is), &motor) || motor < 1 || motor > 4 ||
                !ParseNumber(rest.substr(is + 4, should - is - 4), &value) ||
                !ParseNumber(rest.substr(should + 16), &expected))
                return false;
            run.Measure("M" + std::to_string(motor) + " " + name, value, std::nullopt, expected,
                        expected, pass);
            run.Note(at, pass, MotorOf(motor), kind, text);
            return true;
        }
        return false;
    }

    // The three sections of one Fingerprint run: minimum spread velocity,
    // encoder accuracy, finger speeds. When the hand stopped the run, the
    // section of the measurement under way holds the line of the stop instead
    // of its figures, and ends the run.
    std::size_t ReadFingerprint(std::size_t b) {
        const Banner& first = banners_[b];
        RunBuilder run(source_, std::string(kFingerprint), 1, first.time, LineOf(first));
        // The run ends with the section b + k, which held the stop in `cycle`.
        const auto stoppedIn = [&](Body& body, std::size_t k, int cycle) {
            body.ExpectEnd();
            const Finished finished = StoppedIn(cycle, run.Errors());
            runs_.push_back(run.Finish(finished.outcome, finished.cyclesDone, finished.errors,
                                       Bytes(b, b + k), lines_[first.index].begin));
            return b + k + 1;
        };
        {
            Body body(lines_, first, kSpreadVelocityTitle, LineOf(first));
            if (const std::optional<int> stopped = ReadStop(body, run, 1))
                return stoppedIn(body, 0, *stopped);
            const Line& line = body.Take("the minimum velocity");
            int velocity = 0;
            if (!ReadFigure(line.text,
                            "Minimum velocity for sucessful vertical close = ", &velocity) &&
                !ReadFigure(line.text,
                            "Minimum velocity for successful vertical close = ", &velocity))
                body.Unexpected(line,
                                "\"Minimum velocity for sucessful vertical close = N\" or the "
                                "hand's stop");
            run.Measure(results::kMinimumVelocity, velocity);
            body.ExpectEnd();
        }
        const Banner& encoder = NextFingerprintSection(b, 1, kEncoderTitle);
        run.Saw(encoder.time);
        {
            Body body(lines_, encoder, kEncoderTitle, LineOf(encoder));
            if (const std::optional<int> stopped = ReadStop(body, run, 1))
                return stoppedIn(body, 1, *stopped);
            ReadTable(body, run, "\tMinClse\tAvgClse\tMaxClse\tMinOpen\tAvgOpen\tMaxOpen",
                      {"M1", "M2", "M3", "M4"}, results::kCounts, true);
            body.ExpectEnd();
        }
        const Banner& speeds = NextFingerprintSection(b, 2, kSpeedsTitle);
        run.Saw(speeds.time);
        Body body(lines_, speeds, kSpeedsTitle, LineOf(speeds));
        while (const Line* line = body.Peek()) {
            int finger = 0, velocity = 0;
            const char* kind = nullptr;
            for (const char* words : {results::kFailedToClose, results::kFailedToOpen}) {
                const std::string middle = std::string(" ") + words + " at V=";
                const std::size_t at = line->text.find(middle);
                if (line->text.size() > 2 && line->text[0] == 'F' && at == 2 &&
                    ParseNumber(line->text.substr(1, 1), &finger) && finger >= 1 && finger <= 3 &&
                    ParseNumber(line->text.substr(at + middle.size()), &velocity)) {
                    kind = words;
                }
            }
            if (kind == nullptr) break;
            body.Take("");
            run.Note(speeds.time, std::nullopt, MotorOf(finger), kind, line->text);
        }
        // The trials run before the stop keep their failure lines.
        if (const std::optional<int> stopped = ReadStop(body, run, 1))
            return stoppedIn(body, 2, *stopped);
        ReadTable(body, run, "\tClse20\tOpen20\tClse55\tOpen55\tClse75\tOpen75\tClse100\tOpen100",
                  {"F1", "F2", "F3"}, results::kSeconds, false);
        body.ExpectEnd();
        const int errors = run.Errors();
        runs_.push_back(run.Finish(OutcomeOf(false, errors), 1, errors, Bytes(b, b + 2),
                                   lines_[first.index].begin));
        return b + 3;
    }

    const Banner& NextFingerprintSection(std::size_t b, std::size_t k, std::string_view title) {
        const Banner& first = banners_[b];
        if (b + k >= banners_.size()) {
            Refuse(lines_.back().number,
                   "the file breaks off in the Fingerprint run begun on line " +
                       std::to_string(LineOf(first)) + " (expected its " + std::string(title) +
                       " section)");
        }
        const Banner& next = banners_[b + k];
        if (next.title != title || next.cycles) {
            Refuse(lines_[next.index + 1].number,
                   "the Fingerprint run begun on line " + std::to_string(LineOf(first)) +
                       " goes on with " + Shown(next.title) + " instead of its " +
                       std::string(title) + " section");
        }
        return next;
    }

    std::string_view text_;
    const LogSource& source_;
    std::vector<Line> lines_;
    std::vector<Banner> banners_;
    std::vector<ImportedRun> runs_;
};

}  // namespace

ParsedLog ParseLog(std::string_view text, const LogSource& source) {
    ParsedLog parsed;
    try {
        parsed.runs = Parser(text, source).Parse();
    } catch (const Refusal& refusal) {
        parsed.runs.clear();
        parsed.error = LogError{refusal.line, refusal.message};
    }
    return parsed;
}

std::vector<results::Entry> EntriesOf(const ImportedRun& run) {
    std::vector<results::Entry> entries;
    entries.reserve(run.facts.size() + 2);
    entries.emplace_back(run.start);
    entries.insert(entries.end(), run.facts.begin(), run.facts.end());
    entries.emplace_back(run.end);
    return entries;
}

}  // namespace report
