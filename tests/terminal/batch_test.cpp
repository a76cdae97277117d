// Batch files run against the simulated hand: every line shown, comments not
// sent, lines sent exactly as they stand, the hand's errors explained.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch.h"
#include "sim_station.h"
#include "zhand_sim.h"

namespace {

using BatchTest = SimTest;

// The hand's error number for a command it rejects.
int HandError(const std::string& command) {
    int code = ProgramHand().Command(command.c_str());
    EXPECT_GT(code, 0) << command;
    return code;
}

std::string ErrorLine(int code) {
    return "Error " + std::string(zhandsim::Controller::ErrorText(code)) + "\n";
}

TEST_F(BatchTest, ShowsEveryLineAndSendsAllButComments) {
    WriteFile("Check Hand.TXT",
              "# motor 1 velocity\r\n"
              "\r\n"
              "1fget mov\r\n"
              "BOGUS\r\n"
              "#\n"
              " #sent\n"
              "1FGET MOV");  // last line without line end
    const int bogus = HandError("BOGUS");
    const int blankHash = HandError(" #sent");
    const std::string mov = "-> " + std::to_string(Sim().Parameter(1, "MOV")) + "\n";
    TakeCommands();

    StdoutCapture screen;
    RunBatchFile(hand, "Check Hand.TXT");
    EXPECT_EQ(screen.Take(),
              "# motor 1 velocity\n"
              "\n"
              "1fget mov\n" +
                  mov + "BOGUS\n" + ErrorLine(bogus) + "#\n" + " #sent\n" + ErrorLine(blankHash) +
                  "1FGET MOV\n" + mov);
    const std::vector<std::string> sent = {"",         "1fget mov",
                                           "BOGUS",    "err " + std::to_string(bogus),
                                           " #sent",   "err " + std::to_string(blankHash),
                                           "1FGET MOV"};
    EXPECT_EQ(TakeCommands(), sent);
}

TEST_F(BatchTest, LongLinesGoWhole) {
    const std::string comment = "#" + std::string(300, 'c');
    std::string command = "1FGET";
    for (int i = 0; i < 40; ++i) command += " MOV";
    WriteFile("long.txt", comment + "\n" + command + "\n");

    StdoutCapture screen;
    RunBatchFile(hand, "long.txt");
    std::string text = screen.Take();
    EXPECT_EQ(text.rfind(comment + "\n" + command + "\n-> ", 0), 0u) << text;
    EXPECT_EQ(TakeCommands(), std::vector<std::string>{command});
}

TEST_F(BatchTest, MissingOrEmptyFileDoesNothing) {
    WriteFile("empty.txt", "");
    for (const char* name : {"empty.txt", "no such file.txt", "."}) {
        SCOPED_TRACE(name);
        StdoutCapture screen;
        RunBatchFile(hand, name);
        EXPECT_EQ(screen.Take(), "");
        EXPECT_TRUE(TakeCommands().empty());
    }
}

}  // namespace
