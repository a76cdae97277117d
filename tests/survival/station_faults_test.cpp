// The station end to end while the hand fails: the simulator killed in the
// middle of a Multi-Axis run, a hand that starts sending noise, a hand that
// stops answering, and bad files in every place the station reads one. The
// run goes on, every failed reading is logged, the form comes back, Ctrl-Q
// ends the station with status 0, and Prefs.dat stays whole.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <regex>
#include <string>
#include <thread>

#include "defaults_file.h"
#include "prefs.h"
#include "small_disk.h"
#include "sqlite_query.h"
#include "survival_support.h"
#include "tmux_station.h"

namespace {

using namespace std::chrono_literals;

// Field 7 holds the cycle count of Multi-Axis (test 5); 12 that of Parameter Check.
constexpr int kMultiAxisField = 7;
constexpr int kParameterCheckField = 12;

// The station on a screen of 80x25.
const TmuxStation::Session kScreen = {.rows = 25};

void GoToField(TmuxStation& station, int field) {
    for (int f = 1; f < field; ++f) station.Keys("Tab");
}

// Fault lines of a log by cycle number, and every line that names one.
struct LogFaults {
    std::map<int, int> unreadByCycle;  // "NO POSITION READING" lines per cycle
    int faultLines = 0;                // every check's fault line
};

LogFaults ReadFaults(const std::string& log) {
    static const std::regex fault(
        R"((F[123] (JAMMED OPEN|PREMATURE BREAKAWAY|NO BREAKAWAY|JAMMED CLOSE|NO POSITION READING)|Spread (DID NOT FULLY CLOSE|DID NOT FULLY OPEN|NO POSITION READING)) in cycle (\d+) at )");
    LogFaults faults;
    for (std::sregex_iterator it(log.begin(), log.end(), fault), end; it != end; ++it) {
        ++faults.faultLines;
        if (it->str(0).find("NO POSITION READING") != std::string::npos)
            ++faults.unreadByCycle[std::stoi(it->str(4))];
    }
    return faults;
}

// After the first cycle that lost the hand, every cycle up to `lastCycle`
// logged all eight readings as missing.
void ExpectEveryLaterCycleLogged(const LogFaults& faults, int lastCycle) {
    ASSERT_FALSE(faults.unreadByCycle.empty());
    const int first = faults.unreadByCycle.begin()->first;
    EXPECT_LE(faults.unreadByCycle.begin()->second, 8);
    for (int cycle = first + 1; cycle <= lastCycle; ++cycle) {
        auto found = faults.unreadByCycle.find(cycle);
        ASSERT_NE(found, faults.unreadByCycle.end()) << "cycle " << cycle << " logged nothing";
        EXPECT_EQ(found->second, 8) << "cycle " << cycle;
    }
    EXPECT_EQ(faults.unreadByCycle.rbegin()->first, lastCycle);
}

int SummaryErrors(const std::string& log) {
    std::smatch match;
    static const std::regex summary(R"(SUMMARY:\nErrors: (\d+)\nMaximum temperature: -?\d+\n)");
    return std::regex_search(log, match, summary) ? std::stoi(match.str(1)) : -1;
}

// Prefs.dat reads whole with the default identity and this run's log counter.
void ExpectPrefsWhole(const TmuxStation& station) {
    bool complete = false;
    const std::string text = station.Read("Prefs.dat");
    Prefs prefs = ParsePrefs(text, &complete);
    EXPECT_TRUE(complete) << text;
    EXPECT_EQ(text, FormatPrefs(prefs));
    EXPECT_EQ(prefs.serial, "HND000");
    ASSERT_EQ(prefs.counters.size(), 1u) << text;
    EXPECT_EQ(prefs.counters[0], (PrefsCounter{"HND000", 1}));
}

void QuitWithStatusZero(TmuxStation& station) {
    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(10s), 0) << station.Screen();
}

struct KillCase {
    const char* name;
    bool restart;  // a simulator comes back on the port, rather than Esc
};
void PrintTo(const KillCase& c, std::ostream* os) {
    *os << c.name;
}

// Polls the screen until the station shows cycle `cycle` of `total`.
bool WaitForCycle(TmuxStation& station, int cycle, int total, std::chrono::seconds limit) {
    const std::regex status("Cycle (\\d+) of " + std::to_string(total) + ",");
    auto giveUp = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < giveUp) {
        std::smatch match;
        const std::string screen = station.Screen();
        if (std::regex_search(screen, match, status) && std::stoi(match.str(1)) >= cycle) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class SimulatorKilled : public testing::TestWithParam<KillCase> {};

// The hand's controller dies mid-run: the run stops at the lost link with
// one line in its log, the station waits for the port, and goes on as after
// an abort, whether the hand comes back or the technician gives up.
TEST_P(SimulatorKilled, TheRunStopsAtTheLostLinkAndTheStationGoesOn) {
    const bool restart = GetParam().restart;
    TmuxStation station;
    // A cycle takes about a quarter of a second: time to see it before the kill.
    ASSERT_TRUE(station.StartSimulator({"--instant", "--speed", "20"}));
    ASSERT_TRUE(station.StartStation(kScreen));
    ASSERT_TRUE(station.ConnectAndWaitForForm()) << station.Screen();

    const int cycles = 99999999;
    GoToField(station, kMultiAxisField);
    station.Type(std::to_string(cycles));
    station.Keys("C-r");
    ASSERT_TRUE(WaitForCycle(station, 3, cycles, 60s)) << station.Screen();

    station.KillSimulator(SIGKILL);
    ASSERT_TRUE(station.WaitForText("Reconnect the hand, or press Esc.", 30s)) << station.Screen();
    std::smatch match;
    const std::string screen = station.Screen();
    ASSERT_TRUE(std::regex_search(screen, match,
                                  std::regex(R"(Link to hand lost in cycle (\d+) of (\d+)\.)")))
        << screen;
    const int lastCycle = std::stoi(match.str(1));
    EXPECT_EQ(match.str(2), std::to_string(cycles));
    if (restart) {
        ASSERT_TRUE(station.StartSimulator({"--instant", "--speed", "20"}));
        ASSERT_TRUE(station.WaitForText("Press any key to continue", 30s)) << station.Screen();
        station.Keys("Space");
    } else {
        station.Keys("Escape");
    }
    ASSERT_TRUE(station.WaitForText(golden::kTitle, 10s)) << station.Screen();
    QuitWithStatusZero(station);

    const std::vector<std::filesystem::path> logs = station.FilesEndingIn(".txt");
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadFile(logs[0]);
    EXPECT_NE(log.find("* Multi-Axis, " + std::to_string(cycles) + " cycles\n"), std::string::npos);
    EXPECT_NE(log.find("\nLINK TO HAND LOST in cycle " + std::to_string(lastCycle) + " at "),
              std::string::npos)
        << log.substr(log.size() > 300 ? log.size() - 300 : 0);
    EXPECT_EQ(Occurrences(log, "LINK TO HAND LOST"), 1u);
    EXPECT_EQ(log.find("NO POSITION READING"), std::string::npos);
    EXPECT_EQ(SummaryErrors(log), ReadFaults(log).faultLines);
    ExpectPrefsWhole(station);
}

INSTANTIATE_TEST_SUITE_P(Run, SimulatorKilled,
                         testing::Values(KillCase{"GivenUp", false}, KillCase{"HandBack", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HandFaults, NoisyHandFailsEveryReadingFastAndTheRunEnds) {
    TmuxStation station;
    // Noise longer than a reply may be: every command fails at once (-10)
    // instead of waiting for a prompt that never comes.
    ASSERT_TRUE(station.StartSimulator(
        {"--instant", "--speed", "100", "--fault", "noise,after=35,bytes=6000"}));
    ASSERT_TRUE(station.StartStation(kScreen));
    ASSERT_TRUE(station.ConnectAndWaitForForm()) << station.Screen();
    GoToField(station, kMultiAxisField);
    station.Type("6");
    station.Keys("C-r");
    ASSERT_TRUE(station.WaitForText("Test completed with", 60s)) << station.Screen();
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForText(golden::kTitle, 10s));

    // Terminal mode still shows the failure, and returns.
    station.Keys("C-t");
    ASSERT_TRUE(station.WaitForText(">>", 5s));
    ASSERT_TRUE(station.Converse({{"PGET TEMP", "Error", 10s}, {"X", golden::kTitle, 5s}}))
        << station.Screen();
    QuitWithStatusZero(station);

    const std::vector<std::filesystem::path> logs = station.FilesEndingIn(".txt");
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadFile(logs[0]);
    const LogFaults faults = ReadFaults(log);
    ExpectEveryLaterCycleLogged(faults, 6);
    EXPECT_GE(faults.unreadByCycle.size(), 3u);
    EXPECT_EQ(SummaryErrors(log), faults.faultLines);
    ExpectPrefsWhole(station);
}

TEST(HandFaults, SilentHandFailsEachCommandAfterItsTimeOut) {
    TmuxStation station;
    ASSERT_TRUE(
        station.StartSimulator({"--instant", "--fault", "silent,after=2"}));  // after the reset
    ASSERT_TRUE(station.StartStation(kScreen));
    ASSERT_TRUE(station.ConnectAndWaitForForm()) << station.Screen();
    station.Keys("C-t");
    ASSERT_TRUE(station.WaitForText(">>", 5s));
    station.TypeLine("PGET TEMP");
    // The command and then the error query each fail after about 15 s.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(station.WaitForText("Error", 60s)) << station.Screen();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 14s);
    station.TypeLine("X");
    ASSERT_TRUE(station.WaitForText(golden::kTitle, 5s)) << station.Screen();
    QuitWithStatusZero(station);
}

TEST(BadFiles, StationSaysWhatItCannotUseAndKeepsRunning) {
    TmuxStation station;
    station.Write("Prefs.dat", BadVariant("HND123\nQA\n240615\n", BadKind::Binary, 0));
    station.Write("batch.bat", BadVariant("PGET TEMP\n", BadKind::Binary, 0));
    const std::string firmware = "S107100001020304DE\r\nS9030000FC\r\n";
    station.Write("firmware.s19", BadVariant(firmware, BadKind::Truncated, 0));
    // The hand's own values, so that no record asks for a fix; the last one cut short.
    const std::string defaults = BadVariant(FactoryDefaults(), BadKind::Truncated, 0);
    station.Write("Defaults.dat", defaults);
    const int badLine = ParseDefaults(defaults).badLine;
    ASSERT_GT(badLine, 1);
    ASSERT_TRUE(station.StartSimulator({"--instant", "--speed", "100"}));
    ASSERT_TRUE(station.StartStation(kScreen));
    ASSERT_TRUE(station.ConnectAndWaitForForm()) << station.Screen();
    EXPECT_TRUE(station.WaitForText("Hand Serial Number [HND000", 2s)) << station.Screen();

    station.Keys("C-t");
    ASSERT_TRUE(station.WaitForText(">>", 5s));
    ASSERT_TRUE(station.Converse({
        {"BATCH", "Run Batch File:", 5s},
        {"batch.bat"},
        {"FIRMWARE", "Load Firmware:", 30s},
        {"firmware.s19", "Bad S-record in line 2", 5s},
        {"PGET TEMP", "-> ", 5s},
        {"X", golden::kTitle, 5s},
    })) << station.Screen();

    GoToField(station, kParameterCheckField);
    station.Keys("C-r");
    ASSERT_TRUE(station.WaitForText("Test completed with", 30s)) << station.Screen();
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForText(golden::kTitle, 10s));
    QuitWithStatusZero(station);

    const std::vector<std::filesystem::path> logs = station.FilesEndingIn(".txt");
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadFile(logs[0]);
    EXPECT_NE(log.find("Defaults.dat: bad record at line " + std::to_string(badLine) + "\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Try to fix"), std::string::npos);
    EXPECT_EQ(station.Read("Defaults.dat"), defaults);
    ExpectPrefsWhole(station);
}

}  // namespace

// The station's disk fills in the middle of a run and, once there is room
// again, its store is deleted: row 21 says each in plain words, during the
// run and on the form, the run goes on, and afterwards every measurement is
// in a store that reads cleanly, with the run's true outcome.
// Whether row 21 comes to hold `text` within `limit`.
bool RowShows(const TmuxStation& station, const std::string& text, std::chrono::seconds limit) {
    return WaitUntil([&] { return station.Row(21).find(text) != std::string::npos; }, limit,
                     100ms);
}

TEST(StoreFaults, ADiskThatFillsAndAStoreDeletedMidRunLoseNothing) {
    TmuxStation station;
    const SmallDisk disk(station.Dir(), "6m");
    if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    ASSERT_TRUE(station.StartSimulator({"--instant", "--speed", "20"}));
    ASSERT_TRUE(station.StartStation(kScreen));
    ASSERT_TRUE(station.ConnectAndWaitForForm()) << station.Screen();
    const int cycles = 200;
    GoToField(station, kMultiAxisField);
    station.Type(std::to_string(cycles));
    station.Keys("C-r");
    ASSERT_TRUE(WaitForCycle(station, 10, cycles, 60s)) << station.Screen();

    disk.Fill();
    ASSERT_TRUE(RowShows(station, "Disk full: ", 30s)) << station.Screen();
    EXPECT_LE(station.Row(21).size(), 80u);
    disk.Free();
    ASSERT_TRUE(WaitUntil([&] { return station.Row(21).find("Disk full") == std::string::npos; },
                          30s, 100ms))
        << station.Screen();

    ASSERT_TRUE(WaitForCycle(station, 60, cycles, 60s)) << station.Screen();
    std::filesystem::remove(station.Dir() / "results.db");
    ASSERT_TRUE(RowShows(station, "results.db was removed", 30s)) << station.Screen();
    ASSERT_TRUE(station.WaitForText("Test completed with 0 errors.", 120s)) << station.Screen();
    ASSERT_TRUE(station.WaitForText("Press any key to continue", 10s));
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForText(golden::kTitle, 10s)) << station.Screen();
    // The form keeps saying it.
    EXPECT_TRUE(RowShows(station, "results.db was removed", 5s)) << station.Screen();
    QuitWithStatusZero(station);

    const std::string db = (station.Dir() / "results.db").string();
    EXPECT_EQ(QueryValue(db, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(QueryValue(db, "SELECT outcome || ' ' || cycles_done FROM runs"),
              "pass " + std::to_string(cycles));
    // Eight position readings a cycle and the maximum temperature.
    EXPECT_EQ(QueryValue(db, "SELECT count(*) FROM measurements"),
              std::to_string(cycles * 8 + 1));
    EXPECT_FALSE(station.Exists("results-unsaved.jsonl"));
}
