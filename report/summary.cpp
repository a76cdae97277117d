#include "summary.h"

#include <cstdio>
#include <set>

#include "report_model.h"

namespace report {

namespace {

std::string Yield(long passed, long units) {
    if (units == 0) return "-";
    char text[48];
    std::snprintf(text, sizeof text, "%ld/%ld %5.1f%%", passed, units,
                  100.0 * static_cast<double>(passed) / static_cast<double>(units));
    return text;
}

// Names typed at the station may hold bytes a terminal would act on.
std::string Printable(const std::string& text, std::size_t width) {
    std::string shown;
    for (unsigned char c : text) shown += (c < 32 || c == 127) ? '?' : static_cast<char>(c);
    if (shown.size() > width) shown = shown.substr(0, width - 1) + "~";
    return shown;
}

}  // namespace

bool WriteSummary(StoreReader& reader, const Selection& selection, std::ostream& out,
                  std::string* error) {
    std::vector<RunRow> runs;
    std::vector<FirstRun> firsts;
    if (!reader.Runs(
            selection, [&](const RunRow& r) { runs.push_back(r); }, error) ||
        !reader.FirstRuns(
            selection.serial, [&](const FirstRun& f) { firsts.push_back(f); }, error))
        return false;
    std::set<std::string> units;
    for (const RunRow& r : runs) units.insert(r.serial);
    const std::vector<TestTally> tallies = TallyTests(runs, firsts, selection);

    char line[256];
    if (selection.serial) {
        out << "Unit " << Printable(*selection.serial, 40) << ": ";
    }
    out << runs.size() << (runs.size() == 1 ? " run" : " runs") << " of " << units.size()
        << (units.size() == 1 ? " unit" : " units");
    if (!runs.empty()) {
        out << ", " << runs.front().started.substr(0, 10) << " to "
            << runs.back().started.substr(0, 10) << " (UTC)";
    }
    out << "\n";
    if (runs.empty()) {
        if (selection.serial || selection.test || selection.since || selection.until ||
            selection.station)
            out << "No runs match the selection.\n";
        return true;
    }
    out << "\n";
    std::snprintf(line, sizeof line, "%-24s %5s %5s %5s %7s %5s %6s %7s  %s\n", "test", "runs",
                  "pass", "fail", "aborted", "error", "interr", "running", "first-pass yield");
    out << line;
    TestTally all;
    all.test = "all tests";
    for (const TestTally& t : tallies) {
        std::snprintf(line, sizeof line, "%-24s %5ld %5ld %5ld %7ld %5ld %6ld %7ld  %s\n",
                      Printable(t.test, 24).c_str(), t.runs, t.outcomes[0], t.outcomes[1],
                      t.outcomes[2], t.outcomes[3], t.outcomes[4], t.outcomes[5],
                      Yield(t.firstPassed, t.firstRuns).c_str());
        out << line;
        all.runs += t.runs;
        for (std::size_t i = 0; i < all.outcomes.size(); ++i) all.outcomes[i] += t.outcomes[i];
        all.firstRuns += t.firstRuns;
        all.firstPassed += t.firstPassed;
    }
    std::snprintf(line, sizeof line, "%-24s %5ld %5ld %5ld %7ld %5ld %6ld %7ld  %s\n",
                  all.test.c_str(), all.runs, all.outcomes[0], all.outcomes[1], all.outcomes[2],
                  all.outcomes[3], all.outcomes[4], all.outcomes[5],
                  Yield(all.firstPassed, all.firstRuns).c_str());
    out << line;
    return true;
}

}  // namespace report
