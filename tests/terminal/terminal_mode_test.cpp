// Terminal mode with a scripted keyboard against the simulated hand: which
// typed lines reach the hand, in what case, and what the screen shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "golden_screens.h"
#include "seams.h"
#include "sim_station.h"
#include "terminal_mode.h"
#include "wait_until.h"
#include "zhand_sim.h"

namespace {

class TerminalModeTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        context.identity.serialNumber = "HND042";
    }
    void TearDown() override { UseTerminalKeys(); }

    // Runs terminal mode on the typed keys; returns the screen.
    std::string Run(const std::string& keys) {
        UseKeyScript(keys);
        StdoutCapture screen;
        TerminalMode(context.station);
        return screen.Take();
    }

    TestStation context;
};

TEST_F(TerminalModeTest, LinesAreSentUpperCasedAndXAloneLeaves) {
    const int unknown = hand.Command("BOGUS");
    ASSERT_GT(unknown, 0);
    const std::string error =
        "Error " + std::string(zhandsim::Controller::ErrorText(unknown)) + "\n";
    const std::string mov = std::to_string(Sim().Parameter(1, "MOV"));
    TakeCommands();

    std::string screen = Run("1fget mov\rbogus\rX \rxx\r\rx\r");
    EXPECT_NE(screen.find(golden::kTerminalMode + "\t\t\tS/N: HND042\n\n>> "), std::string::npos);
    const std::string u = std::to_string(unknown);
    EXPECT_TRUE(screen.ends_with(">> 1fget mov\n-> " + mov + "\n>> bogus\n" + error + ">> X \n" +
                                 error + ">> xx\n" + error + ">> \n>> x\n"))
        << screen;
    const std::vector<std::string> sent = {"1FGET MOV", "BOGUS", "err " + u, "X ",
                                           "err " + u,  "XX",    "err " + u, ""};
    EXPECT_EQ(TakeCommands(), sent);
    EXPECT_EQ(context.station.lastResult, 0);  // the empty line was the last command
}

TEST_F(TerminalModeTest, UtilitiesTakeTheFileNameAsTyped) {
    WriteFile("Cmds.TXT", "# from a batch\n1fget mov\n");
    WriteFile("bad.s19", "S1051000AA55EC\n");
    // The loader tests of this program leave one in the shared directory.
    std::filesystem::remove("eeploadr.boo");
    const std::string mov = std::to_string(Sim().Parameter(1, "MOV"));

    std::string screen = Run("Batch\rCmds.TXT\rfirmware\rbad.s19\reeprom\rnone.bin\rkX\r");
    EXPECT_NE(
        screen.find(">> Batch\nRun Batch File: Cmds.TXT\n# from a batch\n1fget mov\n-> " + mov +
                    "\n>> firmware\nLoad Firmware: bad.s19\n\nBad S-record in line 1\n"
                    ">> eeprom\nLoad EEPROM: none.bin\n\nFile not found: EEPLOADR.BOO\n"),
        std::string::npos)
        << screen;
    // After the EEPROM loader the hand is reset, whatever the loader's outcome.
    EXPECT_EQ(TakeCommands(), (std::vector<std::string>{"1fget mov", "RESET"}));
    EXPECT_EQ(context.station.lastResult, 0);
    EXPECT_TRUE(screen.ends_with(">> X\n")) << screen;
}

TEST_F(TerminalModeTest, KeyboardThatGoesAwayEndsTheVisit) {
    for (const char* keys : {"1fget m", "batch\rCmds"}) {
        SCOPED_TRACE(keys);
        Run(keys);
        EXPECT_TRUE(TakeCommands().empty());
    }
}

TEST_F(TerminalModeTest, ALostLinkIsAwaitedAndTheNextLineReachesTheHandAgain) {
    // The second line typed meets the hang-up; the line is offered again soon.
    const zhandsim::HandState before = Sim().State();
    const std::string mov = std::to_string(Sim().Parameter(1, "MOV"));
    zhandsim::Fault hangup;
    hangup.kind = zhandsim::FaultKind::Hangup;
    hangup.after = static_cast<int>(before.commands) + 1;
    hangup.downMs = 300;
    Sim().InjectFault(hangup);

    UseTerminalKeys();
    std::string screen;
    bool reconnected = false;
    {
        StdinPipe keys;
        StdoutCapture capture;
        std::thread typist([&] {
            keys.Type("1fget mov\r2fget mov\r");
            // Nothing more is typed while the station waits for the hand.
            reconnected = WaitUntil(
                [&] { return capture.Text().find("Hand reconnected\n") != std::string::npos; });
            keys.Type("3fget mov\rx\r");
        });
        TerminalMode(context.station);
        typist.join();
        screen = capture.Take();
    }
    ASSERT_TRUE(reconnected) << screen;

    EXPECT_EQ(Sim().State().hangups, before.hangups + 1);
    EXPECT_FALSE(hand.LinkLost());
    // The hung-up line, the reset of the hand that is back, the next line.
    EXPECT_EQ(TakeCommands(),
              (std::vector<std::string>{"1FGET MOV", "2FGET MOV", "", "RESET", "3FGET MOV"}));
    const std::size_t lost = screen.find(">> 2fget mov\n");
    const std::size_t wait = screen.find("Link to hand lost\nReconnect the hand, or press Esc.\n");
    EXPECT_LT(screen.find(">> 1fget mov\n-> " + mov + "\n"), lost) << screen;
    EXPECT_NE(lost, std::string::npos) << screen;
    EXPECT_LT(lost, wait) << screen;
    EXPECT_NE(wait, std::string::npos) << screen;
    EXPECT_TRUE(screen.ends_with("Hand reconnected\n>> 3fget mov\n-> " +
                                 std::to_string(Sim().Parameter(3, "MOV")) + "\n>> x\n"))
        << screen;
    EXPECT_EQ(context.station.lastResult, 0);  // the reset, then the line after it
}

}  // namespace
