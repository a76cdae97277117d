#include "form.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "clock.h"
#include "console.h"
#include "golden_screens.h"
#include "screen.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_log.h"
#include "test_station.h"

namespace {

const char* const kNames[] = {"",
                              "Finger Movement",
                              "Cable Tension/BreakAway",
                              "Strain Gages",
                              "Vibration Grasp",
                              "Multi-Axis",
                              "Encoder slip - Grasp",
                              "Encoder slip - Spread",
                              "Fingerprint",
                              "After-Freezer",
                              "Parameter Check"};
const int kDefaults[] = {0, 2, 1, 1, 500, 1500, 20, 20, 1, 500, 1};

// (test, its cycle count when called) for every run.
std::vector<std::pair<int, int>> runs;
// The test that behaves as aborted in cycle 7: its count becomes 7 and later
// counts 0.
int abortingTest = 0;

int RecordingTest(Station& station, int test) {
    if (test < 0) {
        station.tests.names[-test] = kNames[-test];
        return kDefaults[-test];
    }
    runs.emplace_back(test, station.tests.cycles[test]);
    if (test == abortingTest) {
        station.tests.cycles[test] = 7;
        for (int t = test + 1; t <= kTestCount; ++t) station.tests.cycles[t] = 0;
    }
    return 0;
}

constexpr std::time_t kWed30June1999 = 930779348;  // 21:49:08 UTC

class FormTest : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        UseFakeClock(kWed30June1999);
        station.tests.procs.fill(RecordingTest);
        station.tests.procs[0] = nullptr;
        runs.clear();
        abortingTest = 0;
        LoadPrefs(station);
        Form() = FormState{};
    }
    void TearDown() override {
        UseTerminalKeys();
        UseRealClock();
    }

    // The form as FormLoop starts it, then the keys one by one.
    void Run(const std::string& keys) {
        StdoutCapture capture;
        DrawMainScreen(station);
        ChangeField(station, 0, 1);
        UseKeyScript(keys);
        while (KeyWaiting()) HandleFormKey(station, ReadKey());
        screen.Write(capture.Take());
    }

    // Draws the form into the screen model.
    void Draw() {
        StdoutCapture capture;
        DrawMainScreen(station);
        screen.Write(capture.Take());
    }

    // Runs the whole form loop on a key script.
    void Loop(const std::string& keys) {
        StdoutCapture capture;
        UseKeyScript(keys);
        FormLoop(station);
        screen.Write(capture.Take());
    }

    TempDir dir;
    TestStation context;
    Station& station = context.station;
    Screen screen;
};

TEST_F(FormTest, DrawsTheFormToTheColumn) {
    Draw();
    const std::vector<std::string> rows = golden::MainForm("Wed Jun 30 21:49:08 1999");
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        EXPECT_EQ(screen.Row(r), rows[r]) << "row " << r;
    }
    EXPECT_EQ(screen.clears, 1);
}

TEST_F(FormTest, StartsOnTheSerialNumberLeftAligned) {
    Run("");
    const std::vector<std::string> rows = golden::MainFormAtStart("Wed Jun 30 21:49:08 1999");
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        EXPECT_EQ(screen.Row(r), rows[r]) << "row " << r;
    }
    EXPECT_EQ(screen.CursorRow(), 2);
    EXPECT_EQ(screen.CursorColumn(), 20);
    EXPECT_EQ(Form().field, 1);
}

struct EditCase {
    const char* name;
    std::string keys;
    int field;                                      // field under edit afterwards
    std::pair<int, int> cursor;                     // (row, column)
    std::vector<std::pair<int, std::string>> rows;  // rows as shown
    std::string serial = "HND000";
    std::vector<std::pair<int, int>> cycles = {};  // (test, count)
};

const std::string kToMultiAxis = "\t\t\t\t\t\t";  // field 7, row 11

const EditCase kEdits[] = {
    {"SerialIsUpperCased",
     "abc\t",
     2,
     {3, 20},
     {{2, "Hand Serial Number [     ABC]"}, {3, "User Initials      [--      ]"}},
     "ABC"},
    {"SerialRefusesBlankSlashControlAndNonAscii",
     "a b/-\x02\x1b\x0e\xc3\xa9"
     "9\t",
     2,
     {3, 20},
     {{2, "Hand Serial Number [    AB-9]"}},
     "AB-9"},
    {"FirstCharacterReplacesTheOldValue", "z", 1, {2, 21}, {{2, "Hand Serial Number [Z       ]"}}},
    {"EightCharactersPerVisit",
     "abcdefghij\t",
     2,
     {3, 20},
     {{2, "Hand Serial Number [ABCDEFGH]"}},
     "ABCDEFGH"},
    {"BackspaceThenTypeEndsTheText",
     "abc\b\bx\t",
     2,
     {3, 20},
     {{2, "Hand Serial Number [      AX]"}},
     "AX"},
    {"BackspaceStepsBackWithoutErasing",
     "abc\b\b",
     1,
     {2, 21},
     {{2, "Hand Serial Number [ABC     ]"}}},
    {"CountTakesDigitLeftAligned",
     kToMultiAxis + "5",
     7,
     {11, 10},
     {{11, "        [5       ]      Multi-Axis"}}},
    {"CountRightAlignedWhenLeft",
     kToMultiAxis + "5\t",
     8,
     {12, 9},
     {{11, "        [       5]      Multi-Axis"},
      {12, "        [20      ]      Encoder slip - Grasp"}},
     "HND000",
     {{5, 5}}},
    {"LeadingZerosStayUntilRedraw",
     kToMultiAxis + "007\t",
     8,
     {12, 9},
     {{11, "        [     007]      Multi-Axis"}},
     "HND000",
     {{5, 7}}},
    {"NinthDigitIgnored",
     "\t\t123456789\t",
     4,
     {8, 9},
     {{7, "        [12345678]      Finger Movement"}},
     "HND000",
     {{1, 12345678}}},
    {"NonDigitsIgnored", "\t\ta1-b2 \x0e\t", 4, {8, 9}, {}, "HND000", {{1, 12}}},
    {"BackspaceTwiceAndTabKeeps", "\t\t123\b\b\t", 4, {8, 9}, {}, "HND000", {{1, 123}}},
    {"BackspaceTwiceAndNineReplaces", "\t\t123\b\b9\t", 4, {8, 9}, {}, "HND000", {{1, 19}}},
    {"BackspaceAtStartIgnored",
     "\t\t\b\b5\t",
     4,
     {8, 9},
     {{7, "        [       5]      Finger Movement"}},
     "HND000",
     {{1, 5}}},
    {"ShiftTabFromFirstGoesToLast",
     "\x0a",
     12,
     {16, 9},
     {{16, "        [1       ]      Parameter Check"}}},
    {"TabFromLastGoesToFirst", "\x0a\t", 1, {2, 20}, {}},
    {"EnterActsAsTab", "\r\r", 3, {7, 9}, {}},
    {"UntouchedFieldKeepsItsValue",
     "\t\t\t",
     4,
     {8, 9},
     {{7, "        [       2]      Finger Movement"}},
     "HND000",
     {{1, 2}}},
};

void PrintTo(const EditCase& c, std::ostream* out) {
    *out << c.name;
}

class FormEditing : public FormTest, public testing::WithParamInterface<EditCase> {};

TEST_P(FormEditing, FollowsTheRules) {
    const EditCase& c = GetParam();
    Run(c.keys);
    EXPECT_EQ(Form().field, c.field);
    EXPECT_EQ(screen.CursorRow(), c.cursor.first);
    EXPECT_EQ(screen.CursorColumn(), c.cursor.second);
    for (const auto& [row, text] : c.rows) EXPECT_EQ(screen.Row(row), text) << "row " << row;
    EXPECT_EQ(station.identity.serialNumber, c.serial);
    for (const auto& [test, count] : c.cycles)
        EXPECT_EQ(station.tests.cycles[test], count) << "test " << test;
    EXPECT_TRUE(runs.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, FormEditing, testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, RedrawShowsTypedCountAsNumber) {
    Run(kToMultiAxis + "007\t");
    Draw();
    EXPECT_EQ(screen.Row(11), "        [       7]      Multi-Axis");
}

TEST_F(FormTest, CtrlRRunsTheTestUnderTheCursorWithTheCountJustTyped) {
    Run(kToMultiAxis + "3\x12");
    EXPECT_EQ(runs, (std::vector<std::pair<int, int>>{{5, 3}}));
    EXPECT_EQ(screen.clears, 2);  // drawn, then redrawn after the run
    EXPECT_EQ(screen.Row(11), "        [3       ]      Multi-Axis");
    EXPECT_EQ(Form().field, 7);
    EXPECT_EQ(screen.CursorRow(), 11);
    EXPECT_EQ(screen.CursorColumn(), 9);
}

TEST_F(FormTest, CtrlROnACountOfZeroOnlyRedraws) {
    Run(kToMultiAxis + "0\x12");
    EXPECT_TRUE(runs.empty());
    EXPECT_EQ(screen.clears, 2);
}

TEST_F(FormTest, CtrlROnSerialOrInitialsDoesNothing) {
    Run("\x12\t\x12");
    EXPECT_TRUE(runs.empty());
    EXPECT_EQ(screen.clears, 1);
}

TEST_F(FormTest, CtrlARunsSelectedTestsInOrder) {
    Run("\t\t\t\t\t\t0\t\t9\t\x01");  // Multi-Axis 0, Encoder slip - Spread 9
    EXPECT_EQ(runs,
              (std::vector<std::pair<int, int>>{
                  {1, 2}, {2, 1}, {3, 1}, {4, 500}, {6, 20}, {7, 9}, {8, 1}, {9, 500}, {10, 1}}));
    EXPECT_EQ(screen.clears, 2);
}

TEST_F(FormTest, AbortedRunCancelsLaterTestsButFieldUnderCursorIsRestored) {
    abortingTest = 4;       // Vibration Grasp, 500 cycles
    Run("\t\t\t\t\t\x01");  // cursor on its field (6)
    EXPECT_EQ(runs, (std::vector<std::pair<int, int>>{{1, 2}, {2, 1}, {3, 1}, {4, 500}}));
    EXPECT_EQ(station.tests.cycles[4], 500);
    for (int t = 5; t <= kTestCount; ++t) EXPECT_EQ(station.tests.cycles[t], 0) << t;
    EXPECT_EQ(screen.Row(10), "        [500     ]      Vibration Grasp");
    EXPECT_EQ(screen.Row(11), "        [       0]      Multi-Axis");
}

TEST_F(FormTest, AbortedRunKeepsItsCountWhenAnotherFieldIsUnderTheCursor) {
    abortingTest = 4;
    Run("\t\t\x01");  // cursor on Finger Movement
    EXPECT_EQ(station.tests.cycles[4], 7);
    EXPECT_EQ(station.tests.cycles[1], 2);
}

TEST_F(FormTest, LeavingSerialRewritesPrefsEvenUnchanged) {
    std::filesystem::remove("Prefs.dat");
    Run("\t");
    EXPECT_EQ(ReadFile("Prefs.dat"), "HND000\n--\n990630\n");
    Run("\tjq\t");
    EXPECT_EQ(ReadFile("Prefs.dat"), "HND000\nJQ\n990630\n");
}

TEST_F(FormTest, FailedSaveIsShownBelowTheForm) {
    std::filesystem::create_directory("Prefs.dat.tmp");
    Run("ab\t");
    EXPECT_EQ(station.identity.serialNumber, "AB");
    EXPECT_EQ(screen.Row(21).rfind("Prefs.dat could not be written", 0), 0u) << screen.Row(21);
    EXPECT_EQ(Form().field, 2);
}

TEST_F(FormTest, CtrlQCommitsTheFieldAndLeavesTheCursorBelowTheForm) {
    Loop(
        "xyz\x11"
        "abc");
    EXPECT_TRUE(Form().quitRequested);
    EXPECT_EQ(station.identity.serialNumber, "XYZ");
    EXPECT_EQ(ReadFile("Prefs.dat"), "XYZ\n--\n990630\n");
    EXPECT_EQ(screen.CursorRow(), 22);
    EXPECT_EQ(screen.CursorColumn(), 0);
    EXPECT_EQ(GetKey(), 'a');  // the loop stopped at Ctrl-Q
}

TEST_F(FormTest, PrefsProblemAtStartUpIsShownBelowTheForm) {
    std::filesystem::remove("Prefs.dat");
    std::filesystem::create_directory("Prefs.dat");
    LoadPrefs(station);
    std::string output;
    {
        StdoutCapture capture;
        UseKeyScript("\x11");
        FormLoop(station);
        output = capture.Take();
    }
    ASSERT_NE(PrefsProblem(), "");
    EXPECT_NE(output.find("\x1b[22;1H" + PrefsProblem()), std::string::npos);
}

TEST_F(FormTest, LoopEndsWhenTheKeyboardIsGone) {
    Loop("\t\t42");
    EXPECT_TRUE(Form().quitRequested);
    EXPECT_EQ(station.tests.cycles[1], 42);
    EXPECT_EQ(screen.CursorRow(), 22);
}

}  // namespace
