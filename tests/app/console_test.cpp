#include "console.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <ostream>

#include <chrono>
#include <cstdlib>
#include <string>

#include "capture.h"
#include "clock.h"
#include "seams.h"
#include "test_station.h"

namespace {

struct CenterCase {
    std::string text;
    int blanks;
};

void PrintTo(const CenterCase& c, std::ostream* out) {
    *out << c.text.size() << " characters";
}

class Centering : public testing::TestWithParam<CenterCase> {};

TEST_P(Centering, PrintsFortyLessHalfTheLength) {
    StdoutCapture out;
    PrintCentered(GetParam().text);
    EXPECT_EQ(out.Take(), std::string(GetParam().blanks, ' ') + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Centering,
    testing::Values(CenterCase{"", 40}, CenterCase{"x", 40}, CenterCase{"ab", 39},
                    CenterCase{std::string(79, 'x'), 1}, CenterCase{std::string(80, 'x'), 0},
                    CenterCase{std::string(95, 'x'), 0},
                    CenterCase{"Cycle 1 of 2, Errors = 0\n\n", 27},
                    CenterCase{"<TAB>, <SHIFT><TAB> Selects field  <CTRL><T> Terminal mode\n", 11},
                    CenterCase{"100% done, %s %d", 32}));

TEST(ConsoleOutput, MoveAndClearUseAnsiSequences) {
    StdoutCapture out;
    MoveCursor(0, 0);
    MoveCursor(22, 79);
    ClearScreen();
    EXPECT_EQ(out.Take(), "\x1b[1;1H\x1b[23;80H\x1b[H\x1b[2J\x1b[3J");
}

// The real keyboard layer, fed through a pipe in place of the terminal.
class PipeKeyboard : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(pipe(fds_), 0);
        saved_ = dup(STDIN_FILENO);
        dup2(fds_[0], STDIN_FILENO);
        UseTerminalKeys();
    }
    void TearDown() override {
        if (fds_[1] >= 0) close(fds_[1]);
        close(fds_[0]);
        dup2(saved_, STDIN_FILENO);
        close(saved_);
        UseTerminalKeys();
    }
    void Type(const std::string& bytes) {
        ASSERT_EQ(write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void HangUp() {
        close(fds_[1]);
        fds_[1] = -1;
    }

    int fds_[2] = {-1, -1};
    int saved_ = -1;
};

TEST_F(PipeKeyboard, KeyWaitingLeavesTheKey) {
    EXPECT_FALSE(KeyWaiting());
    Type("p");
    EXPECT_TRUE(KeyWaiting());
    EXPECT_TRUE(KeyWaiting());
    EXPECT_EQ(GetKey(), 'p');
    EXPECT_FALSE(KeyWaiting());
}

TEST_F(PipeKeyboard, ReadKeyDecodesAndSkipsKeysWithoutCharacter) {
    Type("\x1b[A\x7f\x1b[Z\r");
    EXPECT_EQ(ReadKey(), 8);
    EXPECT_EQ(ReadKey(), 10);
    EXPECT_EQ(ReadKey(), 13);
}

TEST_F(PipeKeyboard, LoneEscapeIsAKeyAfterAShortQuiet) {
    Type("\x1b");
    EXPECT_FALSE(KeyWaiting());  // it may still become an arrow key
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitForKey(1000));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::milliseconds(500));
    EXPECT_EQ(GetKey(), 27);
}

TEST_F(PipeKeyboard, WaitForKeyTimesOutWithoutAKey) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitForKey(60));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
}

TEST_F(PipeKeyboard, FlushKeysDropsTypedAheadKeys) {
    Type("abc\x1b[");
    ASSERT_TRUE(KeyWaiting());
    FlushKeys();
    EXPECT_FALSE(KeyWaiting());
    Type("z");
    EXPECT_EQ(ReadKey(), 'z');
}

TEST_F(PipeKeyboard, ReadLineEchoesEditsAndConsumesTheLineEnd) {
    StdoutCapture out;
    Type("3x\x7fy\x01\rnext\r");
    EXPECT_EQ(ReadLine(), "3y");
    EXPECT_EQ(out.Take(), "3x\b \by\n");
    EXPECT_EQ(ReadLine(), "next");
}

TEST_F(PipeKeyboard, ReadLineKeepsATabAndShiftTabDoesNotEndTheLine) {
    StdoutCapture out;
    Type("1M\x1b[Z 3\t4\r");
    EXPECT_EQ(ReadLine(), "1M 3\t4");
    // The Tab shows as blanks up to the line's next eight-column stop.
    EXPECT_EQ(out.Take(), "1M 3    4\n");
}

TEST_F(PipeKeyboard, BackspaceTakesBackAWholeTab) {
    StdoutCapture out;
    Type(
        "ab\t\x7f"
        "c\t\t\x7f"
        "d\r");
    EXPECT_EQ(ReadLine(), "abc\td");
    auto blanks = [](int n) { return std::string(static_cast<std::size_t>(n), ' '); };
    auto rubOut = [](int n) {
        std::string text;
        for (int i = 0; i < n; ++i) text += "\b \b";
        return text;
    };
    EXPECT_EQ(out.Take(),
              "ab" + blanks(6) + rubOut(6) + "c" + blanks(5) + blanks(8) + rubOut(8) + "d\n");
}

TEST_F(PipeKeyboard, ALineFeedEndsTheLineAsEnterDoes) {
    Type("3\nnext\r");  // a line end of input that is not a terminal
    EXPECT_EQ(ReadLine(), "3");
    EXPECT_EQ(ReadLine(), "next");
}

TEST_F(PipeKeyboard, BackspaceRemovesAWholeUtf8Character) {
    StdoutCapture out;
    Type("a\xc3\xa9\x7f\r");
    EXPECT_EQ(ReadLine(), "a");
}

TEST_F(PipeKeyboard, EndOfInputEndsReadsWithEscape) {
    Type("q");
    HangUp();
    EXPECT_EQ(ReadKey(), 'q');
    EXPECT_FALSE(InputEnded());
    EXPECT_EQ(ReadKey(), 27);
    EXPECT_TRUE(InputEnded());
    EXPECT_TRUE(WaitForKey(-1));
    EXPECT_EQ(ReadLine(), "");
}

class ScriptedKeys : public testing::Test {
  protected:
    void TearDown() override {
        UseTerminalKeys();
        UseRealClock();
    }
};

TEST_F(ScriptedKeys, ReadLineTakesKeysUpToEnter) {
    StdoutCapture out;
    UseKeyScript("ab\bc\rrest");
    EXPECT_EQ(ReadLine(), "ac");
    EXPECT_EQ(ReadKey(), 'r');
}

TEST_F(ScriptedKeys, ReadLineTakesTenAsShiftTabAndKeepsATab) {
    StdoutCapture out;
    UseKeyScript("1M\n 3\tx\r");
    EXPECT_EQ(ReadLine(), "1M 3\tx");
}

TEST_F(ScriptedKeys, EmptyScriptReadsEscapeAndEnds) {
    UseKeyScript("");
    EXPECT_FALSE(KeyWaiting());
    EXPECT_EQ(GetKey(), 27);
    EXPECT_TRUE(InputEnded());
    PushKeys("k");
    EXPECT_FALSE(InputEnded());
    EXPECT_EQ(GetKey(), 'k');
}

TEST_F(ScriptedKeys, FlushKeysKeepsTheScript) {
    UseKeyScript("x");
    FlushKeys();
    EXPECT_EQ(ReadKey(), 'x');
}

TEST_F(ScriptedKeys, WaitingAdvancesTheFakeClockInsteadOfSleeping) {
    UseFakeClock(1000, 0xFFFFFF00u);
    UseKeyScript("");
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitForKey(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(TickCount(), 0xFFFFFF00u + 10000u);  // wrapped, as the tick counter does
    EXPECT_EQ(CurrentTime(), 1010);
    PushKeys("k");
    EXPECT_TRUE(WaitForKey(10000));
    EXPECT_EQ(TickCount(), 0xFFFFFF00u + 10000u);
}

TEST_F(ScriptedKeys, ConsoleFlagsGoToTheStationsLastResult) {
    TestStation context;
    Station& station = context.station;
    StdoutCapture out;
    station.lastResult = -4;
    context.console.MoveCursor(3, 0);
    EXPECT_EQ(station.lastResult, 1);
    UseKeyScript("k");
    EXPECT_EQ(context.console.ReadKey(), 'k');
    EXPECT_EQ(station.lastResult, 1);
    EXPECT_EQ(context.console.ReadKey(), 27);  // the script ran dry: the keyboard has gone
    EXPECT_EQ(station.lastResult, 0);
}

TEST_F(ScriptedKeys, ShowAsideKeepsTheCursorWhereItWas) {
    Console console;
    StdoutCapture out;
    console.ShowAside(21, "Record not stored");
    console.ShowAside(21, "");
    EXPECT_EQ(out.Take(), "\x1b" "7\x1b[22;1H\x1b[2K" + std::string(32, ' ') +
                              "Record not stored\x1b" "8" "\x1b" "7\x1b[22;1H\x1b[2K\x1b" "8");
}

TEST(Clock, TimeTextIsTheTwentyFiveCharacterForm) {
    setenv("TZ", "UTC", 1);
    tzset();
    UseFakeClock(930779348);  // Wed Jun 30 21:49:08 1999 UTC
    EXPECT_EQ(TimeText(), "Wed Jun 30 21:49:08 1999\n");
    AdvanceFakeClock(86400u * 1000u * 3);
    EXPECT_EQ(TimeText(), "Sat Jul 03 21:49:08 1999\n");
    UseRealClock();
    EXPECT_EQ(TimeText().size(), 25u);
}

}  // namespace
