#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "harness.h"

namespace e2e {
namespace {

const char* const kPortPrompt = "Please select a communications port [1]:";
const char* const kLegend =
    "     <CTRL><R> Runs selected test  <CTRL><A> Runs all tests  <CTRL><Q> Quit";

// Rows 1..20 of the form as drawn at start-up (field 1 under edit).
const std::vector<std::string> kForm = {
    "",
    "Hand Serial Number [HND000  ]",
    "User Initials      [      --]",
    "",
    "        Cycles          Test",
    "        ------          ----",
    "        [       2]      Finger Movement",
    "        [       1]      Cable Tension/BreakAway",
    "        [       1]      Strain Gages",
    "        [     500]      Vibration Grasp",
    "        [    1500]      Multi-Axis",
    "        [      20]      Encoder slip - Grasp",
    "        [      20]      Encoder slip - Spread",
    "        [       1]      Fingerprint",
    "        [     500]      After-Freezer",
    "        [       1]      Parameter Check",
    "",
    "",
    "           <TAB>, <SHIFT><TAB> Selects field  <CTRL><T> Terminal mode",
    kLegend,
};

const std::regex kTitleRow(
    "ZorvathHand Test Application v3\\.0 {17}[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d "
    "\\d\\d:\\d\\d:\\d\\d \\d{4}");

// Answers the port prompt with `line` and Enter.
void AnswerPortPrompt(const Tmux& tmux, const std::string& line = "") {
    ASSERT_TRUE(tmux.WaitForRow(0, kPortPrompt)) << tmux.Dump();
    EXPECT_EQ(tmux.Cursor(), std::make_pair(0, 41));
    if (!line.empty()) tmux.Type(line);
    tmux.Keys("Enter");
}

void StartAtForm(const Tmux& tmux) {
    AnswerPortPrompt(tmux);
    ASSERT_TRUE(tmux.WaitForRow(20, kLegend)) << tmux.Dump();
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
    StationDir dir;
};

TEST_F(Station, PortPromptAndFormAsDrawn) {
    Simulator sim(dir.path());
    ASSERT_TRUE(sim.ready());
    Tmux tmux(dir.path(), Quote(STATION_BIN));
    StartAtForm(tmux);
    std::vector<std::string> screen = tmux.Screen();
    ASSERT_GE(screen.size(), 23u);
    EXPECT_TRUE(std::regex_match(screen[0], kTitleRow)) << screen[0];
    for (int r = 1; r <= 20; ++r) EXPECT_EQ(screen[r], kForm[r - 1]) << "row " << r;
    EXPECT_EQ(screen[21], "");
    EXPECT_EQ(screen[22], "");
    EXPECT_EQ(tmux.Cursor(), std::make_pair(2, 20));
    std::string prefs = ReadFile(dir / "Prefs.dat");
    EXPECT_TRUE(std::regex_match(prefs, std::regex("HND000\n--\n\\d{6}\n"))) << prefs;
}

TEST_F(Station, EditRunRedrawAndQuit) {
    Simulator sim(dir.path());
    ASSERT_TRUE(sim.ready());
    Tmux tmux(dir.path(), Quote(STATION_BIN));
    StartAtForm(tmux);

    tmux.Type("ab1");
    ASSERT_TRUE(tmux.WaitForRow(2, "Hand Serial Number [AB1     ]")) << tmux.Dump();
    EXPECT_EQ(tmux.Cursor(), std::make_pair(2, 23));
    tmux.Keys("Tab");
    tmux.Type("jq");
    tmux.Keys("Tab");
    ASSERT_TRUE(tmux.WaitForRow(7, "        [2       ]      Finger Movement")) << tmux.Dump();
    EXPECT_EQ(tmux.Row(2), "Hand Serial Number [     AB1]");
    EXPECT_EQ(tmux.Row(3), "User Initials      [      JQ]");
    std::string stamp = ReadFile(dir / "Prefs.dat").substr(7, 6);
    EXPECT_EQ(ReadFile(dir / "Prefs.dat"), "AB1\nJQ\n" + stamp + "\n");

    // Parameter Check, slot 10: its field is before field 3 going back.
    tmux.Keys("BTab BTab BTab");
    ASSERT_TRUE(WaitUntil([&] { return tmux.Cursor() == std::make_pair(16, 9); })) << tmux.Dump();
    tmux.Keys("C-r");
    ASSERT_TRUE(tmux.WaitForText("Press any key to continue", 30000ms)) << tmux.Dump();
    EXPECT_EQ(tmux.Row(0).find("Parameter Check") != std::string::npos, true) << tmux.Dump();
    tmux.Keys("Space");
    ASSERT_TRUE(tmux.WaitForRow(20, kLegend)) << tmux.Dump();
    ASSERT_TRUE(tmux.WaitForRow(16, "        [1       ]      Parameter Check")) << tmux.Dump();
    EXPECT_EQ(tmux.Cursor(), std::make_pair(16, 9));
    EXPECT_EQ(tmux.Row(2), "Hand Serial Number [     AB1]");
    EXPECT_EQ(tmux.Row(7), "        [       2]      Finger Movement");

    std::string log = ReadFile(dir / ("AB1JQ" + stamp + "_1.txt"));
    EXPECT_NE(log.find("* Parameter Check, 1 cycles"), std::string::npos) << log;
    EXPECT_EQ(ReadFile(dir / "Prefs.dat"), "AB1\nJQ\n" + stamp + "\nAB1\t1\n");

    tmux.Keys("C-q");
    ASSERT_TRUE(tmux.WaitForExit()) << tmux.Dump();
    EXPECT_EQ(tmux.ExitStatus(), 0);
    EXPECT_EQ(tmux.Cursor(), std::make_pair(22, 0));
    EXPECT_EQ(tmux.Row(16), "        [1       ]      Parameter Check");
}

TEST_F(Station, PortThatDoesNotExistAndNEndsWithStatusOne) {
    Tmux tmux(dir.path(), Quote(STATION_BIN));
    AnswerPortPrompt(tmux, "0");
    ASSERT_TRUE(tmux.WaitForText("Continue (Y/N)?")) << tmux.Dump();
    std::vector<std::string> screen = tmux.Screen();
    const std::vector<std::string> dialogue = {std::string(kPortPrompt) + " 0",
                                               "",
                                               "",
                                               "Initialization error: -2",
                                               "Communications port not available...",
                                               "",
                                               "Continue (Y/N)?"};
    for (std::size_t r = 0; r < dialogue.size(); ++r) EXPECT_EQ(screen[r], dialogue[r]) << r;
    EXPECT_EQ(tmux.Cursor(), std::make_pair(6, 16));
    tmux.Keys("n");
    ASSERT_TRUE(tmux.WaitForExit()) << tmux.Dump();
    EXPECT_EQ(tmux.ExitStatus(), 1);
    EXPECT_FALSE(fs::exists(dir / "Prefs.dat"));
    EXPECT_EQ(tmux.Row(6), "Continue (Y/N)?");  // no echo of the answer
}

TEST_F(Station, SilentHandIsNotFoundAndTheFormRunsWithoutIt) {
    Simulator sim(dir.path(), {"--fault", "silent"});
    ASSERT_TRUE(sim.ready());
    Tmux tmux(dir.path(), Quote(STATION_BIN));
    AnswerPortPrompt(tmux);
    // The driver gives up after its 15 s read time-out.
    ASSERT_TRUE(tmux.WaitForText("Continue (Y/N)?", 60000ms)) << tmux.Dump();
    EXPECT_EQ(tmux.Row(3), "Initialization error: -9");
    EXPECT_EQ(tmux.Row(4), "ZorvathHand not found!");
    tmux.Keys("y");
    ASSERT_TRUE(tmux.WaitForRow(20, kLegend)) << tmux.Dump();
    EXPECT_EQ(tmux.Row(2), "Hand Serial Number [HND000  ]");
    tmux.Keys("C-q");
    ASSERT_TRUE(tmux.WaitForExit()) << tmux.Dump();
    EXPECT_EQ(tmux.ExitStatus(), 0);
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
    Simulator sim(dir.path());
    ASSERT_TRUE(sim.ready());
    Tmux tmux(dir.path(), Quote(STATION_BIN), "stty -a > stty.txt");
    AnswerPortPrompt(tmux, way.portAnswer);
    if (way.portAnswer.empty()) {
        ASSERT_TRUE(tmux.WaitForRow(20, kLegend)) << tmux.Dump();
    } else {
        ASSERT_TRUE(tmux.WaitForText("Continue (Y/N)?")) << tmux.Dump();
    }
    if (way.signal != 0) {
        int station = tmux.StationPid();
        ASSERT_GT(station, 0);
        ASSERT_EQ(kill(station, way.signal), 0);
    } else {
        tmux.Keys(way.keys);
    }
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir / "stty.txt"); })) << tmux.Dump();
    ASSERT_TRUE(WaitUntil([&] { return !ReadFile(dir / "stty.txt").empty(); }));
    EXPECT_EQ(tmux.ExitStatus(), way.status);
    ExpectCookedTerminal(ReadFile(dir / "stty.txt"));
}

INSTANTIATE_TEST_SUITE_P(Table, WaysOut,
                         testing::Values(WayOut{"CtrlQ", "", "C-q", 0, 0},
                                         WayOut{"AnswerN", "0", "N", 0, 1},
                                         WayOut{"CtrlC", "", "C-c", 0, 128 + SIGINT},
                                         WayOut{"SigTerm", "", "", SIGTERM, 128 + SIGTERM},
                                         WayOut{"SigHup", "", "", SIGHUP, 128 + SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Station, CtrlZAndFgReturnToRawKeys) {
    Simulator sim(dir.path());
    ASSERT_TRUE(sim.ready());
    Tmux tmux(dir.path(), "bash --norc --noprofile --noediting -i", Tmux::Plain{});
    ASSERT_TRUE(WaitUntil([&] { return !tmux.Row(0).empty(); })) << tmux.Dump();
    tmux.Type(std::string(STATION_BIN));
    tmux.Keys("Enter");
    ASSERT_TRUE(tmux.WaitForText(kPortPrompt)) << tmux.Dump();
    tmux.Keys("Enter");
    ASSERT_TRUE(tmux.WaitForRow(20, kLegend)) << tmux.Dump();
    std::string tty = tmux.Display("#{pane_tty}");

    tmux.Keys("C-z");
    ASSERT_TRUE(tmux.WaitForText("Stopped")) << tmux.Dump();
    ExpectCookedTerminal(Shell("stty -a -F " + tty));
    tmux.Type("fg");
    tmux.Keys("Enter");
    ASSERT_TRUE(WaitUntil([&] {
        return TerminalFlags(Shell("stty -a -F " + tty)).count("-icanon") == 1;
    })) << Shell("stty -a -F " + tty);
    EXPECT_TRUE(TerminalFlags(Shell("stty -a -F " + tty)).count("-ixon"));

    tmux.Keys("Tab");
    ASSERT_TRUE(WaitUntil([&] { return tmux.Cursor() == std::make_pair(3, 20); })) << tmux.Dump();
    tmux.Keys("C-q");
    ASSERT_TRUE(
        WaitUntil([&] { return TerminalFlags(Shell("stty -a -F " + tty)).count("icanon") == 1; }));
    tmux.Type("echo status=$?");
    tmux.Keys("Enter");
    ASSERT_TRUE(tmux.WaitForText("status=0")) << tmux.Dump();
}

TEST_F(Station, SmallTerminalGetsAWarningAndStillRuns) {
    Tmux tmux(dir.path(), Quote(STATION_BIN), "", 60, 20);
    ASSERT_TRUE(tmux.WaitForRow(1, kPortPrompt)) << tmux.Dump();
    EXPECT_EQ(tmux.Row(0), "Warning: terminal 60x20, the form needs 80x23.");
    EXPECT_EQ(tmux.Cursor(), std::make_pair(1, 41));
}

TEST_F(Station, WithoutATerminalItSaysSoAndTouchesNothing) {
    std::string out = Shell("cd " + Quote(dir.path().string()) + " && " + Quote(STATION_BIN) +
                            " </dev/null >out.txt 2>err.txt; echo $?");
    EXPECT_EQ(out, "1\n");
    EXPECT_EQ(ReadFile(dir / "err.txt"),
              "zhand-station: standard input and output must be a terminal.\n");
    EXPECT_EQ(ReadFile(dir / "out.txt"), "");
    EXPECT_FALSE(fs::exists(dir / "Prefs.dat"));
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
    WriteFile(dir / "Prefs.dat", "HND000\n--\n240614\nHND000\t3\nXY7\t-2\n");
    WriteFile(dir / "faketime.rc", "2024-06-15 23:59:30\n");
    Simulator sim(dir.path());
    ASSERT_TRUE(sim.ready());
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string command =
        "env LD_PRELOAD=" + Quote(faketime) +
        " FAKETIME_TIMESTAMP_FILE=" + Quote((dir / "faketime.rc").string()) +
        " FAKETIME_NO_CACHE=1 FAKETIME_DONT_FAKE_MONOTONIC=1 TZ=UTC" +
        " ASAN_OPTIONS=" + Quote(std::string(asan ? asan : "") + ":verify_asan_link_order=0") +
        " " + Quote(STATION_BIN);
    {
        Tmux tmux(dir.path(), command);
        StartAtForm(tmux);
        EXPECT_EQ(tmux.Row(0).substr(50), "Sat Jun 15 23:59:30 2024");
        // Another day's counters are dropped at start-up.
        EXPECT_EQ(ReadFile(dir / "Prefs.dat"), "HND000\n--\n240615\n");

        WriteFile(dir / "faketime.rc", "2024-06-16 00:00:30\n");
        tmux.Keys("BTab C-r");
        ASSERT_TRUE(tmux.WaitForText("Press any key to continue", 30000ms)) << tmux.Dump();
        tmux.Keys("Space");
        ASSERT_TRUE(tmux.WaitForRow(20, kLegend)) << tmux.Dump();
        EXPECT_EQ(tmux.Row(0).substr(50), "Sun Jun 16 00:00:30 2024");
        // Past midnight: the stamp of the start stays, the log has the new date.
        EXPECT_TRUE(fs::exists(dir / "HND000--240616_1.txt"));
        EXPECT_EQ(ReadFile(dir / "Prefs.dat"), "HND000\n--\n240615\nHND000\t1\n");
        tmux.Keys("C-q");
        ASSERT_TRUE(tmux.WaitForExit()) << tmux.Dump();
        EXPECT_EQ(tmux.ExitStatus(), 0);
    }
    {
        // Started again on the new day: the counters start afresh.
        Tmux tmux(dir.path(), command);
        StartAtForm(tmux);
        EXPECT_EQ(ReadFile(dir / "Prefs.dat"), "HND000\n--\n240616\n");
        tmux.Keys("C-q");
        ASSERT_TRUE(tmux.WaitForExit()) << tmux.Dump();
    }
}

}  // namespace
}  // namespace e2e
