// Reads a station's text test log back into runs: one run per test section
// (opened by its banner), the Fingerprint's three sections as one run, fault
// lines as events, tables and figures as measurements, summaries as errors
// and outcome. Pure: the caller reads the file and stores the runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record.h"

namespace report {

// Where the log came from: its file name (no directory) and whose it is.
struct LogSource {
    std::string fileName;
    std::string serial;
    std::string operatorInitials;
};

struct ImportedRun {
    results::RunStart start;
    std::vector<results::Entry> facts;  // measurements and events, in log order
    results::RunEnd end;
    int firstLine = 0;  // the line of its first banner
};

struct LogError {
    int line = 0;  // 1-based
    std::string message;
};

struct ParsedLog {
    std::vector<ImportedRun> runs;
    std::optional<LogError> error;  // set: the file is not a whole log; runs is empty
};

// The station name of imported runs.
inline constexpr const char* kImportedStation = "imported";

// Parses the whole text of a log. Each run's uuid is derived from the file
// name and the bytes of its sections, so the same log always gives the same
// runs, and a log that grew by later sections keeps the uuids of the earlier.
ParsedLog ParseLog(std::string_view text, const LogSource& source);

// The run's facts in the order a store takes them: start, facts, end.
std::vector<results::Entry> EntriesOf(const ImportedRun& run);

}  // namespace report
