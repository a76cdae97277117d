// Multi-Axis end to end: the real station in tmux against the real simulator,
// started with Ctrl-R from its field in the form; the status line, the
// countdown, the redraw of the form, the log section and the run's record in
// results.db beside it; the stop when the hand's line hangs up or the hand
// falls silent; and a day of runs on a faulty hand, one aborted and one cut
// short by kill -9, as the store and zhand-report export show them.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "results_db.h"
#include "tmux_station.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using golden::kFormLegend;

std::string Centred(const std::string& text, int length) {
    return std::string(static_cast<std::size_t>(40 - length / 2), ' ') + text;
}

std::string CountdownRow(int count) {
    char text[64];
    std::snprintf(text, sizeof text, "Press any key to continue [%2.2d]...", count);
    return Centred(text, 33);
}

fs::path TheLogFile(const TmuxStation& station) {
    const std::vector<fs::path> logs = station.FilesEndingIn(".txt");
    return logs.empty() ? fs::path() : logs[0];
}

std::string TheLog(const TmuxStation& station) {
    const fs::path log = TheLogFile(station);
    return log.empty() ? "" : ReadFile(log);
}

// The station named as a technician's shell would name it, and its hand at
// 50 times a real one's speed.
const TmuxStation::Session kNamed = {.environment = {"ZHAND_STATION=bench-e2e"}};

bool StartAtForm(TmuxStation& station, std::vector<std::string> simulator = {}) {
    simulator.insert(simulator.begin(), {"--instant", "--speed", "50"});
    station.CopyDefaults();
    return station.StartSimulator(simulator) && station.StartStation(kNamed) &&
           station.ConnectAndWaitForForm();
}

TEST(MultiAxisEndToEnd, RunFromTheFormShowsStatusCountdownAndRedraw) {
    TmuxStation station;
    ASSERT_TRUE(StartAtForm(station)) << station.Screen();

    // Field 7 holds Multi-Axis's count; three cycles, then Ctrl-R.
    station.Keys("Tab Tab Tab Tab Tab Tab");
    station.Type("3");
    ASSERT_TRUE(station.WaitForRow(11, "        [3       ]      Multi-Axis")) << station.Screen();
    station.Keys("C-r");

    const std::string done = Centred("Test completed with 0 errors.", 29);
    ASSERT_TRUE(station.WaitForRow(20, done, 30000ms)) << station.Screen();
    EXPECT_EQ(station.Row(0), Centred("Multi-Axis", 10));
    EXPECT_EQ(station.Row(1), Centred("Cycle 3 of 3, Errors = 0", 26));
    EXPECT_EQ(station.Row(3), Centred("I am performing an all-motor cycle test.", 41));
    EXPECT_EQ(station.Row(4), Centred("Please make sure nothing interferes with the hand.", 51));
    EXPECT_EQ(station.Row(5), Centred("Commands: <P>ause, <A>bort", 27));
    // The countdown goes on, one count a second.
    ASSERT_TRUE(station.WaitForRow(21, CountdownRow(8), 5000ms)) << station.Screen();
    station.Keys("Space");  // ends it; the form then takes the key (a blank: ignored)

    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    EXPECT_TRUE(station.Row(0).starts_with(golden::kTitle)) << station.Row(0);
    EXPECT_EQ(station.Row(10), "        [     500]      Vibration Grasp");
    EXPECT_EQ(station.Row(11), "        [3       ]      Multi-Axis");
    EXPECT_EQ(station.Row(21), "");
    EXPECT_EQ(station.Cursor(), std::make_pair(11, 9));

    const std::string log = TheLog(station);
    EXPECT_TRUE(std::regex_match(
        log, std::regex("\n\n\\*{5}\n\\* Multi-Axis, 3 cycles\n\\* [A-Z][a-z]{2} [A-Z][a-z]{2} "
                        "\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n\\*{5}\n"
                        "\n\nSUMMARY:\nErrors: 0\nMaximum temperature: \\d+\n")))
        << log;

    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(), 0) << station.Screen();

    const std::string store = (station.Dir() / "results.db").string();
    EXPECT_EQ(QueryStore(store,
                         "SELECT test, station, software, serial, operator,"
                         " cycles_planned, cycles_done, outcome, errors, log_file,"
                         " ended IS NOT NULL FROM runs"),
              (StoreRows{{"Multi-Axis", "bench-e2e", "3.0.0", "HND000", "--", "3", "3", "pass", "0",
                          TheLogFile(station).filename().string(), "1"}}));
    EXPECT_EQ(QueryStore(store,
                         "SELECT count(*), sum(outcome = 'pass') FROM measurements"
                         " WHERE unit = 'counts'"),
              (StoreRows{{"24", "24"}}));
    EXPECT_EQ(QueryStore(store,
                         "SELECT count(*) FROM measurements"
                         " WHERE name = 'Maximum temperature' AND unit = 'C'"),
              (StoreRows{{"1"}}));
}

// CPU time (user + system, in clock ticks) the process has used so far.
long CpuTicks(int pid) {
    std::istringstream stat(ReadFile("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) {
        if (i == 14 || i == 15) ticks += std::atol(field.c_str());
    }
    return ticks;
}

// Row 20 once a run has stopped: "<words> in cycle N of <total>.", and N.
struct Stop {
    std::string row;
    std::string cycle;  // "" when the run did not stop so
};

Stop WaitForStop(const TmuxStation& station, const std::string& words, int total,
                 std::chrono::milliseconds limit = 10s) {
    const std::regex stopped(" *" + words + " in cycle (\\d+) of " + std::to_string(total) + "\\.");
    Stop stop;
    WaitUntil(
        [&] {
            std::smatch match;
            const std::string row = station.Row(20);
            if (!std::regex_match(row, match, stopped)) return false;
            stop = {row, match[1]};
            return true;
        },
        limit);
    return stop;
}

TEST(MultiAxisEndToEnd, PauseWaitsWithoutCpuAndAbortCancelsLaterTests) {
    TmuxStation station;
    ASSERT_TRUE(StartAtForm(station)) << station.Screen();
    station.Keys("Tab Tab Tab Tab Tab Tab C-r");
    ASSERT_TRUE(station.WaitForText("Cycle 2 of 1500", 30000ms)) << station.Screen();

    station.Type("p");
    ASSERT_TRUE(station.WaitForRow(21, Centred("*** PAUSED ***", 14), 10000ms)) << station.Screen();
    const std::string status = station.Row(1);
    const int pid = station.StationPid();
    ASSERT_GT(pid, 0);
    const long before = CpuTicks(pid);
    std::this_thread::sleep_for(1500ms);
    // Blinking, not cycling, and asleep while it waits (a tick is 10 ms).
    EXPECT_LE(CpuTicks(pid) - before, 5);
    EXPECT_EQ(station.Row(1), status);

    station.Type("a");  // ends the pause; acted on after one more cycle
    const Stop stop = WaitForStop(station, "Test aborted", 1500);
    ASSERT_FALSE(stop.cycle.empty()) << station.Screen();
    const int paused =
        std::stoi(std::regex_replace(status, std::regex(" *Cycle (\\d+) of.*"), "$1"));
    EXPECT_EQ(std::stoi(stop.cycle), paused + 1);
    station.Keys("Space");

    // The field under the cursor gets its count back; the later tests are 0.
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    EXPECT_EQ(station.Row(11), "        [1500    ]      Multi-Axis");
    EXPECT_EQ(station.Row(12), "        [       0]      Encoder slip - Grasp");
    EXPECT_EQ(station.Row(16), "        [       0]      Parameter Check");
    EXPECT_EQ(station.Row(10), "        [     500]      Vibration Grasp");
    EXPECT_EQ(QueryStore((station.Dir() / "results.db").string(),
                         "SELECT cycles_planned, cycles_done, outcome FROM runs"),
              (StoreRows{{"1500", std::to_string(paused + 1), "aborted"}}));
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The log of one Multi-Axis run of 1500 cycles that the hand stopped with
// `words`: its banner, the readings that failed before the stop, the one stop
// line (its cycle the match's first group), the short summary.
const std::regex StoppedSection(const std::string& words) {
    return std::regex(
        "\n\n\\*{5}\n\\* Multi-Axis, 1500 cycles\n\\* [^\n]{24}\n\\*{5}\n(?:[^\n]* NO POSITION "
        "READING [^\n]*\n)*\n" +
        words +
        " in cycle (\\d+) at [A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d "
        "\\d{4}\n\n\nSUMMARY:\nErrors: \\d+\nMaximum temperature: \\d+\n");
}

TEST(MultiAxisEndToEnd, ALostLinkStopsTheTestAndTheFormWorksOnceThePortIsBack) {
    TmuxStation station;
    ASSERT_TRUE(StartAtForm(station, {"--fault", "hangup,after=60,down=2000"})) << station.Screen();
    station.Keys("Tab Tab Tab Tab Tab Tab C-r");

    const Stop stop = WaitForStop(station, "Link to hand lost", 1500, 30000ms);
    ASSERT_FALSE(stop.cycle.empty()) << station.Screen();
    ASSERT_EQ(station.Row(21), Centred("Reconnect the hand, or press Esc.", 33))
        << station.Screen();
    // The wait sleeps between its tries (a tick is 10 ms).
    const int pid = station.StationPid();
    ASSERT_GT(pid, 0);
    const long before = CpuTicks(pid);
    std::this_thread::sleep_for(1000ms);
    EXPECT_LE(CpuTicks(pid) - before, 5);

    // The simulator offers its new line after two seconds: the hand is reset
    // and the countdown runs.
    ASSERT_TRUE(station.WaitForText("Press any key to continue [", 10000ms)) << station.Screen();
    EXPECT_EQ(station.Row(20), stop.row);
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    EXPECT_EQ(station.Row(11), "        [1500    ]      Multi-Axis");
    EXPECT_EQ(station.Row(12), "        [       0]      Encoder slip - Grasp");

    const std::string log = TheLog(station);
    std::smatch section;
    ASSERT_TRUE(std::regex_match(log, section, StoppedSection("LINK TO HAND LOST"))) << log;
    EXPECT_EQ(section[1], stop.cycle);
    EXPECT_EQ(Occurrences(log, "LINK TO HAND LOST"), 1u);
    EXPECT_EQ(Occurrences(log, "NO POSITION READING"), 0u);
    const std::string store = (station.Dir() / "results.db").string();
    EXPECT_EQ(QueryStore(store, "SELECT outcome, cycles_done + 1 FROM runs"),
              (StoreRows{{"error", stop.cycle}}));
    EXPECT_EQ(QueryStore(store, "SELECT kind, cycle FROM events"),
              (StoreRows{{"LINK TO HAND LOST", stop.cycle}}));

    // The next test runs on the port that came back, without a new start.
    station.Type("2");
    ASSERT_TRUE(station.WaitForRow(11, "        [2       ]      Multi-Axis")) << station.Screen();
    station.Keys("C-r");
    ASSERT_TRUE(station.WaitForRow(20, Centred("Test completed with 0 errors.", 29), 30000ms))
        << station.Screen();
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    EXPECT_EQ(QueryStore(store, "SELECT outcome FROM runs ORDER BY id"),
              (StoreRows{{"error"}, {"pass"}}));
    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(), 0) << station.Screen();
}

// The station keeps the driver's 15 s per exchange: three exchanges in a row
// unanswered take about 45 s, which is what this test waits through.
TEST(MultiAxisEndToEnd, ASilentHandStopsTheTestAfterThreeTimedOutExchanges) {
    TmuxStation station;
    ASSERT_TRUE(StartAtForm(station, {"--fault", "silent,after=40"})) << station.Screen();
    station.Keys("Tab Tab Tab Tab Tab Tab C-r");
    const auto started = std::chrono::steady_clock::now();

    const Stop stop = WaitForStop(station, "Hand not responding", 1500, 60000ms);
    ASSERT_FALSE(stop.cycle.empty()) << station.Screen();
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 44s);
    EXPECT_LE(waited, 50s);
    // No wait for a port that is still there: the countdown follows at once.
    ASSERT_TRUE(station.WaitForText("Press any key to continue [", 3000ms)) << station.Screen();
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();

    const std::string log = TheLog(station);
    std::smatch section;
    ASSERT_TRUE(std::regex_match(log, section, StoppedSection("HAND NOT RESPONDING"))) << log;
    EXPECT_EQ(section[1], stop.cycle);
    EXPECT_EQ(Occurrences(log, "HAND NOT RESPONDING"), 1u);
    const std::string store = (station.Dir() / "results.db").string();
    EXPECT_EQ(QueryStore(store, "SELECT outcome FROM runs"), (StoreRows{{"error"}}));
    EXPECT_EQ(
        QueryStore(store, "SELECT kind, cycle FROM events WHERE kind = 'HAND NOT RESPONDING'"),
        (StoreRows{{"HAND NOT RESPONDING", stop.cycle}}));
}

// The fault lines of a log, as the record keeps them: motor, kind, cycle,
// the line.
StoreRows FaultLines(const std::string& log) {
    StoreRows lines;
    static const std::regex fault(
        "(F[1-3]|Spread) ([A-Z ]+) in cycle (\\d+) at [A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d "
        "\\d\\d:\\d\\d:\\d\\d \\d{4}");
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, fault)) lines.push_back({m[1], m[2], m[3], line});
    }
    return lines;
}

// A log with every time text as "<time>".
std::string MaskTimes(const std::string& log) {
    static const std::regex time("[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}");
    return std::regex_replace(log, time, "<time>");
}

// Types `count` into the field under the cursor, runs its test with Ctrl-R
// and, once it has ended with `errors` errors, ends the countdown.
void RunToTheEnd(TmuxStation& station, int count, int errors) {
    station.Type(std::to_string(count));
    station.Keys("C-r");
    const std::string done = "Test completed with " + std::to_string(errors) + " errors.";
    ASSERT_TRUE(station.WaitForRow(20, Centred(done, static_cast<int>(done.size())), 30000ms))
        << station.Screen();
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
}

TEST(MultiAxisEndToEnd, ADayOnAFaultyHandKilledOnceIsAllOnRecord) {
    TmuxStation station;
    ASSERT_TRUE(StartAtForm(station, {"--fault", "no-breakaway:2"})) << station.Screen();
    const std::string store = (station.Dir() / "results.db").string();
    std::string killedLog;
    std::string abortedIn;  // the cycle after which the abort was taken

    // Multi-Axis, three cycles: F2 never breaks away.
    station.Keys("Tab Tab Tab Tab Tab Tab");
    ASSERT_NO_FATAL_FAILURE(RunToTheEnd(station, 3, 3));

    // Encoder slip - Grasp, the next field, two cycles.
    station.Keys("Tab");
    ASSERT_NO_FATAL_FAILURE(RunToTheEnd(station, 2, 2));

    // Back to Multi-Axis for 500 cycles, aborted in its second.
    station.Keys("BTab");
    station.Type("500");
    station.Keys("C-r");
    ASSERT_TRUE(station.WaitForText("Cycle 2 of 500", 30000ms)) << station.Screen();
    station.Type("a");
    abortedIn = WaitForStop(station, "Test aborted", 500).cycle;
    ASSERT_FALSE(abortedIn.empty()) << station.Screen();
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();

    // Once more, and the station dies in its third cycle.
    station.Keys("C-r");
    ASSERT_TRUE(station.WaitForText("Cycle 3 of 500", 30000ms)) << station.Screen();
    const int pid = station.StationPid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_EQ(station.WaitForExit(), 128 + SIGKILL) << station.Screen();
    killedLog = TheLog(station);
    EXPECT_EQ(QueryStore(store, "SELECT outcome, ended IS NULL FROM runs ORDER BY id DESC LIMIT 1"),
              (StoreRows{{"running", "1"}}));

    // The station again, on the same store: the dead run is found.
    ASSERT_TRUE(station.StartStation(kNamed)) << station.Screen();
    ASSERT_TRUE(station.ConnectAndWaitForForm()) << station.Screen();
    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(), 0) << station.Screen();

    // Every run with its outcome, cycles and errors: a fault of F2 in every
    // cycle. The killed run has its progress as of a finished cycle: the
    // progress of the last 20 ms may have died with it, but each fault line
    // took the progress put before it into the store, so the killed run
    // holds at least the first cycle's and at most one fault beyond it.
    const std::string k = abortedIn;
    const StoreRows runs = QueryStore(store,
                                      "SELECT test, cycles_planned, cycles_done, outcome, errors,"
                                      " ended IS NOT NULL FROM runs ORDER BY id");
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"Multi-Axis", "3", "3", "fail", "3", "1"}));
    EXPECT_EQ(runs[1],
              (std::vector<std::string>{"Encoder slip - Grasp", "2", "2", "fail", "2", "1"}));
    EXPECT_EQ(runs[2], (std::vector<std::string>{"Multi-Axis", "500", k, "aborted", k, "1"}));
    EXPECT_EQ(std::vector(runs[3].begin(), runs[3].begin() + 2),
              (std::vector<std::string>{"Multi-Axis", "500"}));
    EXPECT_EQ(runs[3][3], "interrupted");
    EXPECT_EQ(runs[3][5], "0");
    const int killedDone = std::stoi(runs[3][2]);
    EXPECT_GE(killedDone, 1);
    EXPECT_EQ(runs[3][4], runs[3][2]);

    // Each fault line of the log is an event with its cycle and motor. The
    // killed run's log lines still in the station's buffer died with it; its
    // events were committed as they happened.
    const std::string log = TheLog(station);
    EXPECT_EQ(log, killedLog);  // the second station wrote nothing
    const StoreRows faults = FaultLines(log);
    const StoreRows events =
        QueryStore(store, "SELECT motor, kind, cycle, text FROM events ORDER BY run_id, seq");
    ASSERT_GE(events.size(), faults.size());
    EXPECT_EQ(StoreRows(events.begin(), events.begin() + static_cast<long>(faults.size())), faults);
    EXPECT_GE(faults.size(), 7u);  // the three finished runs' faults are all in the log
    const StoreRows perRun =
        QueryStore(store,
                   "SELECT r.id, count(e.seq), min(e.cycle), max(e.cycle),"
                   " sum(e.motor = 'F2' AND e.kind = 'NO BREAKAWAY') FROM runs r"
                   " JOIN events e ON e.run_id = r.id GROUP BY r.id ORDER BY r.id");
    ASSERT_EQ(perRun.size(), 4u);
    EXPECT_EQ(
        StoreRows(perRun.begin(), perRun.begin() + 3),
        (StoreRows{{"1", "3", "1", "3", "3"}, {"2", "2", "1", "2", "2"}, {"3", k, "1", k, k}}));
    const int killedEvents = std::stoi(perRun[3][1]);
    EXPECT_TRUE(killedEvents == killedDone || killedEvents == killedDone + 1) << killedEvents;
    EXPECT_EQ(perRun[3],
              (std::vector<std::string>{"4", perRun[3][1], "1", perRun[3][1], perRun[3][1]}));

    // The measurements of the log, and the position readings beside them.
    EXPECT_EQ(QueryStore(store,
                         "SELECT run_id, name, unit FROM measurements"
                         " WHERE cycle IS NULL ORDER BY run_id, seq"),
              (StoreRows{{"1", "Maximum temperature", "C"},
                         {"2", "M1 Init", "counts"},
                         {"2", "M1 Final", "counts"},
                         {"2", "M2 Init", "counts"},
                         {"2", "M2 Final", "counts"},
                         {"2", "M3 Init", "counts"},
                         {"2", "M3 Final", "counts"},
                         {"3", "Maximum temperature", "C"}}));
    const StoreRows readings = QueryStore(store,
                                          "SELECT run_id, count(*), sum(outcome = 'fail')"
                                          " FROM measurements WHERE cycle IS NOT NULL"
                                          " GROUP BY run_id ORDER BY run_id");
    ASSERT_EQ(readings.size(), 4u);
    EXPECT_EQ(StoreRows(readings.begin(), readings.begin() + 3),
              (StoreRows{
                  {"1", "24", "3"}, {"2", "12", "2"}, {"3", std::to_string(8 * std::stoi(k)), k}}));
    // Eight position readings a cycle, the killed cycle's as far as it got.
    const int killedReadings = std::stoi(readings[3][1]);
    EXPECT_GE(killedReadings, 8 * killedDone);
    EXPECT_LE(killedReadings, 8 * (killedDone + 1));
    EXPECT_EQ(readings[3][2], perRun[3][1]);

    // The text log, as the station has always written it.
    const std::string masked = MaskTimes(log);
    std::string faultsOf1;
    for (int cycle = 1; cycle <= 3; ++cycle)
        faultsOf1 += "F2 NO BREAKAWAY in cycle " + std::to_string(cycle) + " at <time>\n";
    const std::string expectedStart = "\n\n*****\n* Multi-Axis, 3 cycles\n* <time>\n*****\n" +
                                      faultsOf1 + "\n\nSUMMARY:\nErrors: 3\n";
    EXPECT_EQ(masked.substr(0, expectedStart.size()), expectedStart) << log;
    EXPECT_NE(masked.find("\n\n*****\n* Encoder slip - Grasp, 2 cycles\n* <time>\n*****\n"
                          "F2 NO BREAKAWAY in cycle 1 at <time>\n"
                          "F2 NO BREAKAWAY in cycle 2 at <time>\n"
                          "\n\tInit\tFinal\nM1\t"),
              std::string::npos)
        << log;
    std::string faultsOf3;
    for (int cycle = 1; cycle <= std::stoi(k); ++cycle)
        faultsOf3 += "F2 NO BREAKAWAY in cycle " + std::to_string(cycle) + " at <time>\n";
    EXPECT_NE(masked.find("\n\n*****\n* Multi-Axis, 500 cycles\n* <time>\n*****\n" + faultsOf3 +
                          "\n\nTest aborted in cycle " + k + " of 500.\n\nSUMMARY:\nErrors: " + k +
                          "\nMaximum temperature: "),
              std::string::npos)
        << log;

    // zhand-report export shows the same runs with their facts.
    const std::string exported =
        Shell("ZHAND_RESULTS=" + ShellQuoted(store) + " " + ShellQuoted(REPORT_BIN) + " export");
    std::istringstream lines(exported);
    std::vector<nlohmann::json> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(objects.size(), 4u) << exported;
    const char* const outcomes[] = {"fail", "fail", "aborted", "interrupted"};
    for (std::size_t i = 0; i < objects.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(objects[i]["outcome"], outcomes[i]);
        EXPECT_EQ(objects[i]["station"], "bench-e2e");
        EXPECT_EQ(std::to_string(objects[i]["cycles_done"].get<int>()), runs[i][2]);
        EXPECT_EQ(std::to_string(objects[i]["events"].size()), perRun[i][1]);
        EXPECT_EQ(objects[i]["events"][0]["kind"], "NO BREAKAWAY");
        EXPECT_EQ(objects[i]["events"][0]["motor"], "F2");
        EXPECT_EQ(objects[i]["events"][0]["cycle"], 1);
    }
    EXPECT_EQ(objects[0]["measurements"].size(), 25u);
}

}  // namespace
