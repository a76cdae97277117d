#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "tmux_station.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using golden::kFormLegend;
using golden::kPortPrompt;

// zhand-sim beside every station of these tests runs at 50 times a real hand.
std::vector<std::string> Simulator(std::vector<std::string> options = {}) {
    options.insert(options.begin(), {"--instant", "--speed", "50"});
    return options;
}

// Answers the port prompt with `line` and Enter.
void AnswerPortPrompt(const TmuxStation& station, const std::string& line = "") {
    ASSERT_TRUE(station.WaitForRow(0, kPortPrompt)) << station.Screen();
    EXPECT_EQ(station.Cursor(), std::make_pair(0, 41));
    if (!line.empty()) station.Type(line);
    station.Keys("Enter");
}

void StartAtForm(const TmuxStation& station) {
    AnswerPortPrompt(station);
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
}

// The words of `stty -a`.
std::set<std::string> TerminalFlags(const std::string& stty) {
    std::set<std::string> words;
    std::istringstream text(stty);
    std::string word;
    while (text >> word) {
        if (!word.empty() && word.back() == ';') word.pop_back();
        words.insert(word);
    }
    return words;
}

void ExpectCookedTerminal(const std::string& stty) {
    std::set<std::string> flags = TerminalFlags(stty);
    for (const char* flag : {"icanon", "echo", "ixon", "icrnl", "isig", "iexten", "opost"}) {
        EXPECT_TRUE(flags.count(flag)) << flag << " missing in\n" << stty;
    }
}

class Station : public testing::Test {
  protected:
    void SetUp() override { station.CopyDefaults(); }

    TmuxStation station;
};

TEST_F(Station, PortPromptAndFormAsDrawn) {
    ASSERT_TRUE(station.StartSimulator(Simulator()));
    ASSERT_TRUE(station.StartStation());
    StartAtForm(station);
    std::vector<std::string> screen = station.Rows();
    ASSERT_GE(screen.size(), 23u);
    EXPECT_EQ(screen[0].substr(0, golden::kClockColumn), golden::TitleRow("")) << screen[0];
    EXPECT_TRUE(
        std::regex_match(screen[0].substr(golden::kClockColumn), std::regex(golden::kClockPattern)))
        << screen[0];
    const std::vector<std::string> form = golden::MainFormAtStart("");
    for (int r = 1; r <= 22; ++r) EXPECT_EQ(screen[r], form[r]) << "row " << r;
    EXPECT_EQ(station.Cursor(), std::make_pair(2, 20));
    std::string prefs = station.Read("Prefs.dat");
    EXPECT_TRUE(std::regex_match(prefs, std::regex("HND000\n--\n\\d{6}\n"))) << prefs;
}

TEST_F(Station, EditRunRedrawAndQuit) {
    ASSERT_TRUE(station.StartSimulator(Simulator()));
    ASSERT_TRUE(station.StartStation());
    StartAtForm(station);

    station.Type("ab1");
    ASSERT_TRUE(station.WaitForRow(2, "Hand Serial Number [AB1     ]")) << station.Screen();
    EXPECT_EQ(station.Cursor(), std::make_pair(2, 23));
    station.Keys("Tab");
    station.Type("jq");
    station.Keys("Tab");
    ASSERT_TRUE(station.WaitForRow(7, "        [2       ]      Finger Movement"))
        << station.Screen();
    EXPECT_EQ(station.Row(2), "Hand Serial Number [     AB1]");
    EXPECT_EQ(station.Row(3), "User Initials      [      JQ]");
    std::string stamp = station.Read("Prefs.dat").substr(7, 6);
    EXPECT_EQ(station.Read("Prefs.dat"), "AB1\nJQ\n" + stamp + "\n");

    // Parameter Check, slot 10: its field is before field 3 going back.
    station.Keys("BTab BTab BTab");
    ASSERT_TRUE(WaitUntil([&] { return station.Cursor() == std::make_pair(16, 9); }))
        << station.Screen();
    station.Keys("C-r");
    ASSERT_TRUE(station.WaitForText("Press any key to continue", 30000ms)) << station.Screen();
    EXPECT_EQ(station.Row(0).find("Parameter Check") != std::string::npos, true)
        << station.Screen();
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    ASSERT_TRUE(station.WaitForRow(16, "        [1       ]      Parameter Check"))
        << station.Screen();
    EXPECT_EQ(station.Cursor(), std::make_pair(16, 9));
    EXPECT_EQ(station.Row(2), "Hand Serial Number [     AB1]");
    EXPECT_EQ(station.Row(7), "        [       2]      Finger Movement");

    std::string log = station.Read("AB1JQ" + stamp + "_1.txt");
    EXPECT_NE(log.find("* Parameter Check, 1 cycles"), std::string::npos) << log;
    EXPECT_EQ(station.Read("Prefs.dat"), "AB1\nJQ\n" + stamp + "\nAB1\t1\n");

    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(), 0) << station.Screen();
    EXPECT_EQ(station.Cursor(), std::make_pair(22, 0));
    EXPECT_EQ(station.Row(16), "        [1       ]      Parameter Check");
}

TEST_F(Station, PortThatDoesNotExistAndNEndsWithStatusOne) {
    ASSERT_TRUE(station.StartStation());
    AnswerPortPrompt(station, "0");
    ASSERT_TRUE(station.WaitForText("Continue (Y/N)?")) << station.Screen();
    std::vector<std::string> screen = station.Rows();
    const std::vector<std::string> dialogue = {kPortPrompt + " 0",
                                               "",
                                               "",
                                               "Initialization error: -2",
                                               "Communications port not available...",
                                               "",
                                               "Continue (Y/N)?"};
    ASSERT_GE(screen.size(), dialogue.size());
    for (std::size_t r = 0; r < dialogue.size(); ++r) EXPECT_EQ(screen[r], dialogue[r]) << r;
    EXPECT_EQ(station.Cursor(), std::make_pair(6, 16));
    station.Keys("n");
    EXPECT_EQ(station.WaitForExit(), 1) << station.Screen();
    EXPECT_FALSE(station.Exists("Prefs.dat"));
    EXPECT_EQ(station.Row(6), "Continue (Y/N)?");  // no echo of the answer
}

TEST_F(Station, SilentHandIsNotFoundAndTheFormRunsWithoutIt) {
    ASSERT_TRUE(station.StartSimulator(Simulator({"--fault", "silent"})));
    ASSERT_TRUE(station.StartStation());
    AnswerPortPrompt(station);
    // The driver gives up after its 15 s read time-out.
    ASSERT_TRUE(station.WaitForText("Continue (Y/N)?", 60000ms)) << station.Screen();
    EXPECT_EQ(station.Row(3), "Initialization error: -9");
    EXPECT_EQ(station.Row(4), "ZorvathHand not found!");
    station.Keys("y");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    EXPECT_EQ(station.Row(2), "Hand Serial Number [HND000  ]");
    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(), 0) << station.Screen();
}

// Every way out gives the terminal back as it was.
struct WayOut {
    const char* name;
    std::string portAnswer;  // typed at the port prompt
    std::string keys;        // tmux keys that end the station, or ""
    int signal;              // signal sent to the station instead, or 0
    int status;              // as the shell reports it
};

void PrintTo(const WayOut& way, std::ostream* out) {
    *out << way.name;
}

class WaysOut : public Station, public testing::WithParamInterface<WayOut> {};

TEST_P(WaysOut, RestoreTheTerminal) {
    const WayOut& way = GetParam();
    ASSERT_TRUE(station.StartSimulator(Simulator()));
    ASSERT_TRUE(station.StartStation({.after = "stty -a > stty.txt"}));
    AnswerPortPrompt(station, way.portAnswer);
    if (way.portAnswer.empty()) {
        ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    } else {
        ASSERT_TRUE(station.WaitForText("Continue (Y/N)?")) << station.Screen();
    }
    if (way.signal != 0) {
        int pid = station.StationPid();
        ASSERT_GT(pid, 0);
        ASSERT_EQ(kill(pid, way.signal), 0);
    } else {
        station.Keys(way.keys);
    }
    ASSERT_TRUE(WaitUntil([&] { return station.Exists("stty.txt"); })) << station.Screen();
    ASSERT_TRUE(WaitUntil([&] { return !station.Read("stty.txt").empty(); }));
    EXPECT_EQ(station.ExitStatus(), way.status);
    ExpectCookedTerminal(station.Read("stty.txt"));
}

INSTANTIATE_TEST_SUITE_P(Table, WaysOut,
                         testing::Values(WayOut{"CtrlQ", "", "C-q", 0, 0},
                                         WayOut{"AnswerN", "0", "N", 0, 1},
                                         WayOut{"CtrlC", "", "C-c", 0, 128 + SIGINT},
                                         WayOut{"SigTerm", "", "", SIGTERM, 128 + SIGTERM},
                                         WayOut{"SigHup", "", "", SIGHUP, 128 + SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Station, CtrlZAndFgReturnToRawKeys) {
    ASSERT_TRUE(station.StartSimulator(Simulator()));
    ASSERT_TRUE(station.StartShell());
    ASSERT_TRUE(WaitUntil([&] { return !station.Row(0).empty(); })) << station.Screen();
    station.TypeLine(ZHAND_STATION_PATH);
    ASSERT_TRUE(station.WaitForText(kPortPrompt)) << station.Screen();
    station.Keys("Enter");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    std::string tty = station.Display("#{pane_tty}");

    station.Keys("C-z");
    ASSERT_TRUE(station.WaitForText("Stopped")) << station.Screen();
    ExpectCookedTerminal(Shell("stty -a -F " + tty));
    station.TypeLine("fg");
    ASSERT_TRUE(WaitUntil([&] {
        return TerminalFlags(Shell("stty -a -F " + tty)).count("-icanon") == 1;
    })) << Shell("stty -a -F " + tty);
    EXPECT_TRUE(TerminalFlags(Shell("stty -a -F " + tty)).count("-ixon"));

    station.Keys("Tab");
    ASSERT_TRUE(WaitUntil([&] { return station.Cursor() == std::make_pair(3, 20); }))
        << station.Screen();
    station.Keys("C-q");
    ASSERT_TRUE(
        WaitUntil([&] { return TerminalFlags(Shell("stty -a -F " + tty)).count("icanon") == 1; }));
    station.TypeLine("echo status=$?");
    ASSERT_TRUE(station.WaitForText("status=0")) << station.Screen();
}

TEST_F(Station, SmallTerminalGetsAWarningAndStillRuns) {
    ASSERT_TRUE(station.StartStation({.columns = 60, .rows = 20}));
    ASSERT_TRUE(station.WaitForRow(1, kPortPrompt)) << station.Screen();
    EXPECT_EQ(station.Row(0), "Warning: terminal 60x20, the form needs 80x23.");
    EXPECT_EQ(station.Cursor(), std::make_pair(1, 41));
}

TEST_F(Station, WithoutATerminalItSaysSoAndTouchesNothing) {
    std::string out =
        Shell("cd " + ShellQuoted(station.Dir().string()) + " && " +
              ShellQuoted(ZHAND_STATION_PATH) + " </dev/null >out.txt 2>err.txt; echo $?");
    EXPECT_EQ(out, "1\n");
    EXPECT_EQ(station.Read("err.txt"),
              "zhand-station: standard input and output must be a terminal.\n");
    EXPECT_EQ(station.Read("out.txt"), "");
    EXPECT_FALSE(station.Exists("Prefs.dat"));
}

// The library that fakes the calendar for one program.
std::string FaketimeLibrary() {
    for (const char* path : {"/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                             "/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1",
                             "/usr/lib/faketime/libfaketime.so.1"}) {
        if (fs::exists(path)) return path;
    }
    return "";
}

TEST_F(Station, DayChangeAtStartUpAndPastMidnight) {
    std::string faketime = FaketimeLibrary();
    ASSERT_FALSE(faketime.empty()) << "libfaketime is missing: run scripts/deps.sh";
    station.Write("Prefs.dat", "HND000\n--\n240614\nHND000\t3\nXY7\t-2\n");
    station.Write("faketime.rc", "2024-06-15 23:59:30\n");
    ASSERT_TRUE(station.StartSimulator(Simulator()));
    const char* asan = std::getenv("ASAN_OPTIONS");
    const TmuxStation::Session faked = {
        .environment = {
            "LD_PRELOAD=" + faketime,
            "FAKETIME_TIMESTAMP_FILE=" + (station.Dir() / "faketime.rc").string(),
            "FAKETIME_NO_CACHE=1", "FAKETIME_DONT_FAKE_MONOTONIC=1", "TZ=UTC",
            "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};

    ASSERT_TRUE(station.StartStation(faked));
    StartAtForm(station);
    EXPECT_EQ(station.Row(0).substr(golden::kClockColumn), "Sat Jun 15 23:59:30 2024");
    // Another day's counters are dropped at start-up.
    EXPECT_EQ(station.Read("Prefs.dat"), "HND000\n--\n240615\n");

    station.Write("faketime.rc", "2024-06-16 00:00:30\n");
    station.Keys("BTab C-r");
    ASSERT_TRUE(station.WaitForText("Press any key to continue", 30000ms)) << station.Screen();
    station.Keys("Space");
    ASSERT_TRUE(station.WaitForRow(20, kFormLegend)) << station.Screen();
    EXPECT_EQ(station.Row(0).substr(golden::kClockColumn), "Sun Jun 16 00:00:30 2024");
    // Past midnight: the stamp of the start stays, the log has the new date.
    EXPECT_TRUE(station.Exists("HND000--240616_1.txt"));
    EXPECT_EQ(station.Read("Prefs.dat"), "HND000\n--\n240615\nHND000\t1\n");
    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(), 0) << station.Screen();

    // Started again on the new day: the counters start afresh.
    ASSERT_TRUE(station.StartStation(faked));
    StartAtForm(station);
    EXPECT_EQ(station.Read("Prefs.dat"), "HND000\n--\n240616\n");
    station.Keys("C-q");
    EXPECT_EQ(station.WaitForExit(), 0) << station.Screen();
}

}  // namespace
