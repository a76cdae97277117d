// The framework's blocks and the endurance tests' own rules against a scripted
// hand on a pty, with the fake clock and scripted keys: the check limits, the
// recovery, failed readings, the command poll, pause, abort and countdown,
// the gauge drift, and a test whose log cannot be opened.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "clock.h"
#include "console.h"
#include "fake_hand.h"
#include "framework.h"
#include "hand_model.h"
#include "procedures.h"
#include "seams.h"
#include "station.h"
#include "station_fixture.h"
#include "test_log.h"

namespace fs = std::filesystem;
using Commands = std::vector<std::string>;

namespace {

// 30 June 1999 21:49:08 UTC; the tick starts just short of its wrap so every
// wait in these tests crosses it.
constexpr std::time_t kStart = 930779348;
constexpr std::uint32_t kStartTick = 0xFFFFFFFFu - 2500u;

FakeHand* peer = nullptr;

class PeerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        peer = new FakeHand;
        home = EnterTempDir("zhand-framework-");
        fs::create_symlink(peer->DevicePath(), "COM1");
        ASSERT_EQ(hand.Initialize(1, 15), 0);
        // A silent hand fails a read after a fifth of a second.
        hand.SetTimeouts(0, 1, 200, 1, 200);
    }
    void TearDown() override {
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(home);
    }
    std::string home;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new PeerEnvironment);

class Framework : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = EnterTempDir("zhand-framework-run-");
        UseFakeClock(kStart, kStartTick);
        UseKeyScript("");
        RegisterTests();
        model = std::make_shared<HandModel>();
        peer->SetHandler([m = model](const std::string& c) { return m->Answer(c); });
        peer->TakeCommands();
        log = open_memstream(&logText, &logSize);
    }
    void TearDown() override {
        std::fclose(log);
        std::free(logText);
        UseTerminalKeys();
        UseRealClock();
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(dir);
    }
    std::string LogText() {
        std::fflush(log);
        return std::string(logText, logSize);
    }
    // Runs a test procedure with its screen captured.
    int Run(TestProc proc, int slot) {
        StdoutCapture capture;
        int result = proc(slot);
        screen = capture.Take();
        return result;
    }

    std::string dir;
    std::shared_ptr<HandModel> model;
    std::FILE* log = nullptr;
    char* logText = nullptr;
    std::size_t logSize = 0;
    std::string screen;
};

// ---- position checks ----

struct CheckCase {
    const char* check;  // "closed", "open", "spread closed", "spread open"
    int position;
    const char* line;  // fault line before " at <time>", or "" for a pass
    int recovery;      // MOV used by the recovery, 0 for none
};

const CheckCase kCheckCases[] = {
    {"closed", -40, "F2 JAMMED OPEN in cycle 7", 65},
    {"closed", 2999, "F2 JAMMED OPEN in cycle 7", 65},
    {"closed", 3000, "F2 PREMATURE BREAKAWAY in cycle 7", 65},
    {"closed", 9999, "F2 PREMATURE BREAKAWAY in cycle 7", 65},
    {"closed", 10000, "F2 NO BREAKAWAY in cycle 7", 0},
    {"closed", 15099, "F2 NO BREAKAWAY in cycle 7", 0},
    {"closed", 15100, "", 0},
    {"open", 500, "", 0},
    {"open", 501, "F2 JAMMED CLOSE in cycle 7", 65},
    {"spread closed", 3049, "Spread DID NOT FULLY CLOSE in cycle 7", 35},
    {"spread closed", 3050, "", 0},
    {"spread open", 50, "", 0},
    {"spread open", 51, "Spread DID NOT FULLY OPEN in cycle 7", 35},
};

int RunCheck(const std::string& check, std::FILE* log) {
    if (check == "closed") return CheckFingerClosed(2, 7, log);
    if (check == "open") return CheckFingerOpen(2, 7, log);
    if (check == "spread closed") return CheckSpreadClosed(7, log);
    return CheckSpreadOpen(7, log);
}

TEST_F(Framework, ChecksFaultAtTheirLimitsAndRecoverInOrder) {
    for (const CheckCase& c : kCheckCases) {
        SCOPED_TRACE(std::string(c.check) + " at " + std::to_string(c.position));
        const bool spread = std::string(c.check).starts_with("spread");
        const std::string motor = spread ? "S" : "2";
        peer->SetHandler([&](const std::string& command) -> std::optional<std::string> {
            if (command == motor + "FGET P") return std::to_string(c.position);
            if (command == motor + "FGET MOV") return "123";
            return "";
        });
        const std::size_t before = LogText().size();

        const int fault = RunCheck(c.check, log);

        Commands expected{motor + "FGET P"};
        if (c.recovery != 0) {
            expected.insert(expected.end(),
                            {motor + "FGET MOV", motor + "FSET MOV " + std::to_string(c.recovery),
                             motor + "HI", motor + "FSET MOV 123"});
        }
        EXPECT_EQ(peer->TakeCommands(), expected);
        const std::string line = *c.line ? std::string(c.line) + " at " + TimeText() : "";
        EXPECT_EQ(LogText().substr(before), line);
        EXPECT_EQ(fault, *c.line ? 1 : 0);
    }
}

TEST_F(Framework, FailedPositionQueryIsAFaultWithoutRecovery) {
    struct Answer {
        const char* name;
        std::optional<std::string> reply;
    };
    const Answer answers[] = {{"hand error", "ERR 12"},
                              {"no number", "P?"},
                              {"empty reply", ""},
                              {"lone minus", "-"},
                              {"silent hand", std::nullopt}};
    for (const Answer& a : answers) {
        SCOPED_TRACE(a.name);
        peer->SetHandler([&](const std::string&) { return a.reply; });
        const std::size_t before = LogText().size();

        EXPECT_EQ(CheckFingerClosed(3, 4, log), 1);
        EXPECT_EQ(CheckSpreadOpen(5, log), 1);

        EXPECT_EQ(peer->TakeCommands(), (Commands{"3FGET P", "SFGET P"}));
        EXPECT_EQ(LogText().substr(before), "F3 NO POSITION READING in cycle 4 at " + TimeText() +
                                                "Spread NO POSITION READING in cycle 5 at " +
                                                TimeText());
    }
}

TEST_F(Framework, RecoveryWithoutAVelocityReadingRestoresNothing) {
    peer->SetHandler([](const std::string& command) -> std::optional<std::string> {
        if (command == "1FGET MOV") return "ERR 3";
        return "";
    });
    RecoverMotor("1", 65);
    EXPECT_EQ(peer->TakeCommands(), (Commands{"1FGET MOV", "1FSET MOV 65", "1HI"}));
}

// ---- keys between cycles ----

TEST_F(Framework, CommandPollActsOnAAndPOfEitherCase) {
    struct KeyCase {
        const char* keys;
        bool abort;
        bool paused;  // the pause ran: it blanks row 21 when it ends
    };
    const KeyCase cases[] = {
        {"", false, false},     {"a", true, false},  {"A", true, false},  {"x", false, false},
        {"\x1b", false, false}, {"px", false, true}, {"Pa", false, true},
    };
    const std::string pauseEnd = "\x1b[22;1H" + std::string(33 + 14, ' ');
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.keys);
        UseKeyScript(c.keys);
        StdoutCapture capture;
        EXPECT_EQ(CommandPoll(), c.abort);
        EXPECT_EQ(capture.Take(), c.paused ? pauseEnd : "");
        // Only the key that ended a pause is left waiting.
        EXPECT_EQ(KeyWaiting(), c.paused);
    }
    // The key that ended a pause is the next poll's: "a" aborts there.
    UseKeyScript("pa");
    StdoutCapture capture;
    EXPECT_FALSE(CommandPoll());
    EXPECT_TRUE(CommandPoll());
}

TEST_F(Framework, AbortRecordsTheCycleAndCancelsLaterTests) {
    testCycles = {0, 2, 1, 1, 500, 1500, 20, 20, 1, 500, 1};
    EXPECT_EQ(AbortTest(5, 3), "Test aborted in cycle 3 of 1500.");
    EXPECT_EQ(testCycles, (std::array<int, 11>{0, 2, 1, 1, 500, 3, 0, 0, 0, 0, 0}));

    testCycles = {0, 2, 1, 1, 500, 1500, 20, 20, 1, 500, 7};
    EXPECT_EQ(AbortTest(10, 1), "Test aborted in cycle 1 of 7.");
    EXPECT_EQ(testCycles, (std::array<int, 11>{0, 2, 1, 1, 500, 1500, 20, 20, 1, 500, 1}));
}

// ---- waiting loops on the fake clock ----

TEST_F(Framework, CountdownShowsTenToOneOneASecondThenReturns) {
    const std::uint32_t start = TickCount();
    StdoutCapture capture;
    CountdownPrompt("Test completed with 0 errors.");
    const std::string text = capture.Take();

    std::string expected = "\x1b[21;1H" + std::string(40 - 29 / 2, ' ') +
                           "Test completed with 0 errors." + "\x1b[22;1H";
    for (int n = 10; n >= 1; --n) {
        char count[64];
        std::snprintf(count, sizeof count, "\r%sPress any key to continue [%2.2d]...",
                      std::string(40 - 33 / 2, ' ').c_str(), n);
        expected += count;
    }
    EXPECT_EQ(text, expected);
    // The first count after 1 ms, then one every 1001 ms: about nine seconds.
    EXPECT_EQ(TickCount() - start, 1u + 9u * 1001u);
}

TEST_F(Framework, CountdownEndsAtOnceOnAWaitingKeyAndLeavesIt) {
    UseKeyScript("q");
    const std::uint32_t start = TickCount();
    StdoutCapture capture;
    CountdownPrompt("Test aborted in cycle 3 of 1500.");
    const std::string text = capture.Take();
    EXPECT_EQ(text.find("Press any key"), std::string::npos);
    EXPECT_EQ(TickCount(), start);
    EXPECT_TRUE(KeyWaiting());
    EXPECT_EQ(GetKey(), 'q');
}

TEST_F(Framework, PauseBlinksUntilAKeyArrivesAndLeavesIt) {
    // The key arrives from the terminal while the pause waits; a helper types
    // it once the indicator has blinked a few times.
    UseTerminalKeys();
    StdinPipe keyboard;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[1]);
    std::string text;
    std::thread watcher([&] {
        char buffer[4096];
        ssize_t n = 0;
        bool typed = false;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            std::size_t shown = 0;
            for (std::size_t at = 0; (at = text.find("*** PAUSED ***", at)) != std::string::npos;
                 ++at) {
                ++shown;
            }
            if (!typed && shown >= 3) {
                keyboard.Type("x");
                typed = true;
            }
        }
    });

    const std::uint32_t start = TickCount();
    PauseTest();
    const std::uint32_t waited = TickCount() - start;
    std::fflush(stdout);
    dup2(savedOut, STDOUT_FILENO);
    close(savedOut);
    watcher.join();
    close(out[0]);

    // Row 21 alternates indicator and blanks, the first at once, then one per
    // 1001 ms, and is blanked when the pause ends.
    const std::string row = "\x1b[22;1H" + std::string(33, ' ');
    const std::string on = row + "*** PAUSED ***";
    const std::string off = row + "              ";
    ASSERT_TRUE(text.ends_with(off));
    text.resize(text.size() - off.size());
    std::size_t at = 0;
    std::uint32_t blinks = 0;
    while (at < text.size() && text.compare(at, on.size(), blinks % 2 == 0 ? on : off) == 0) {
        at += on.size();
        ++blinks;
    }
    EXPECT_EQ(at, text.size()) << text.substr(at, 80);
    EXPECT_GE(blinks, 3u);
    EXPECT_GE(waited, 1u + (blinks - 1u) * 1001u);
    EXPECT_LE(waited, 1u + blinks * 1001u);
    EXPECT_TRUE(KeyWaiting());
    EXPECT_EQ(GetKey(), 'x');
}

// ---- the endurance tests on the scripted hand ----

TEST_F(Framework, RegistrationStoresNameAndDefaultAndSendsNothing) {
    struct Registration {
        TestProc proc;
        int slot;
        const char* name;
        int cycles;
    };
    const Registration tests[] = {{VibrationGraspTest, 4, "Vibration Grasp", 500},
                                  {MultiAxisTest, 5, "Multi-Axis", 1500},
                                  {EncoderSlipGraspTest, 6, "Encoder slip - Grasp", 20},
                                  {EncoderSlipSpreadTest, 7, "Encoder slip - Spread", 20},
                                  {AfterFreezerTest, 9, "After-Freezer", 500}};
    for (const Registration& t : tests) {
        testNames[t.slot].clear();
        EXPECT_EQ(Run(t.proc, -t.slot), t.cycles);
        EXPECT_EQ(testNames[t.slot], t.name);
        EXPECT_EQ(screen, "");
    }
    EXPECT_EQ(peer->TakeCommands(), Commands{});
    EXPECT_TRUE(ReadTestLog().empty());
}

TEST_F(Framework, MultiAxisCycleCommandsAndSummary) {
    testCycles[5] = 2;
    model->temperatures = {"215", "457", "300"};
    const std::string time = TimeText();
    EXPECT_EQ(Run(MultiAxisTest, 5), 0);

    const Commands setUp{"FDEF",         "FSAVE",        "1234HI",      "FSET MOV 150",
                         "FSET MCV 150", "4FSET MOV 45", "4FSET MCV 45"};
    const Commands cycle{"GC",      "1FGET P", "2FGET P",  "3FGET P", "GO",
                         "1FGET P", "2FGET P", "3FGET P",  "SC",      "SFGET P",
                         "SO",      "SFGET P", "PGET TEMP"};
    Commands expected = setUp;
    expected.insert(expected.end(), cycle.begin(), cycle.end());
    expected.insert(expected.end(), cycle.begin(), cycle.end());
    EXPECT_EQ(peer->TakeCommands(), expected);
    // The third reading (30.0) came after the last cycle's: the maximum is 45.
    EXPECT_EQ(ReadTestLog(), "\n\n*****\n* Multi-Axis, 2 cycles\n* " + time +
                                 "*****\n\n\nSUMMARY:\nErrors: 0\nMaximum temperature: 45\n");
    EXPECT_NE(screen.find("Test completed with 0 errors."), std::string::npos);
}

TEST_F(Framework, AfterFreezerDiffersOnlyInItsTitleAndBelowZeroTemperaturesGiveZero) {
    testCycles[9] = 1;
    model->temperatures = {"-35"};
    const std::string time = TimeText();
    EXPECT_EQ(Run(AfterFreezerTest, 9), 0);
    EXPECT_EQ(ReadTestLog(), "\n\n*****\n* After Freezer, 1 cycles\n* " + time +
                                 "*****\n\n\nSUMMARY:\nErrors: 0\nMaximum temperature: 0\n");
    EXPECT_NE(screen.find("\x1b[1;1H" + std::string(34, ' ') + "After-Freezer"), std::string::npos);
}

TEST_F(Framework, VibrationGraspKeepsTheEarliestFurthestGaugeReading) {
    testCycles[4] = 4;
    // F1 swings +30, -30, then -31; F2 +30 then -30; F3 never moves.
    model->gauges = {"100 200 300", "130 230 300", "70 170 300", "99 200 300", "69 200 300"};
    UseKeyScript(" ");  // the ready key
    const std::string time = TimeText();
    EXPECT_EQ(Run(VibrationGraspTest, 4), 0);
    EXPECT_EQ(ReadTestLog(), "\n\n*****\n* Vibration Grasp, 4 cycles\n* " + time +
                                 "*****\n\n\nSUMMARY:\nErrors: 0\n\nMax gage drift\n"
                                 "F1: -31\nF2: 30\nF3: 0\n");
    const Commands commands = peer->TakeCommands();
    const Commands setUp{"FDEF", "FSAVE", "1234HI", "SC", "FSET MOV 65", "FSET MCV 65", "GFGET SG"};
    EXPECT_EQ(Commands(commands.begin(), commands.begin() + 7), setUp);
    EXPECT_NE(screen.find("Test complete, press any key to continue..."), std::string::npos);
}

TEST_F(Framework, VibrationGraspClosesTheSpreadAfterEachFault) {
    testCycles[4] = 1;
    model->closedAt[2] = 9000;  // F2 breaks away early
    UseKeyScript(" ");
    EXPECT_EQ(Run(VibrationGraspTest, 4), 0);
    const Commands commands = peer->TakeCommands();
    const Commands cycle(commands.begin() + 7, commands.end());
    EXPECT_EQ(cycle, (Commands{"GC", "1FGET P", "2FGET P", "2FGET MOV", "2FSET MOV 65", "2HI",
                               "2FSET MOV 50", "SC", "3FGET P", "GO", "1FGET P", "2FGET P",
                               "3FGET P", "GFGET SG"}));
    EXPECT_NE(ReadTestLog().find("F2 PREMATURE BREAKAWAY in cycle 1 at "), std::string::npos);
}

TEST_F(Framework, ATestWhoseLogCannotBeOpenedDrivesNothing) {
    struct Case {
        TestProc proc;
        int slot;
    };
    const Case tests[] = {{VibrationGraspTest, 4},
                          {MultiAxisTest, 5},
                          {EncoderSlipGraspTest, 6},
                          {EncoderSlipSpreadTest, 7},
                          {AfterFreezerTest, 9}};
    // A directory stands where the day's log would be.
    std::string name;
    std::fclose(OpenTestLog(&name));
    fs::remove(name);
    fs::create_directory(name);
    for (const Case& t : tests) {
        SCOPED_TRACE(t.slot);
        const int cycles = testCycles[t.slot];
        UseKeyScript("k");
        EXPECT_EQ(Run(t.proc, t.slot), 1);
        EXPECT_NE(screen.find("Could not open log file " + name), std::string::npos);
        EXPECT_FALSE(KeyWaiting());  // the key was taken
        EXPECT_EQ(peer->TakeCommands(), Commands{});
        EXPECT_EQ(testCycles[t.slot], cycles);
    }
}

}  // namespace
