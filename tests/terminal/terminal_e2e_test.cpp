// Terminal mode as the technician uses it: zhand-station in a tmux pane of its
// own (unique socket, own directory) in front of zhand-sim on COM1, Ctrl-T
// from the form, lines typed, the screen read back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using e2e::Quote;
using e2e::Shell;
using e2e::WaitUntil;

// Terminal mode's loads take longer than a form screen to show.
constexpr std::chrono::milliseconds kScreenWait = 15000ms;

class TerminalE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zhand-terminal-e2e-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        static int count = 0;
        socket_ = "zhand-terminal-" + std::to_string(getpid()) + "-" + std::to_string(++count);

        sim_ = fork();
        if (sim_ == 0) {
            if (chdir(dir_.c_str()) != 0) _exit(127);
            if (!std::freopen("sim.out", "w", stdout) || !std::freopen("sim.out", "a", stderr))
                _exit(127);
            execl(SIM_BIN, SIM_BIN, "--port", "1", "--speed", "50", "--trace", nullptr);
            _exit(127);
        }
        ASSERT_GT(sim_, 0);
        ASSERT_TRUE(WaitUntil([&] { return fs::is_symlink(dir_ / "COM1"); }, kScreenWait));

        Tmux("-f /dev/null new-session -d -x 100 -y 40 -c " + Quote(dir_.string()) + " " +
             Quote(STATION_BIN));
        ASSERT_TRUE(WaitForText("Please select a communications port [1]:")) << Screen();
        Tmux("send-keys Enter");
    }

    void TearDown() override {
        Tmux("kill-server");
        if (sim_ > 0) {
            kill(sim_, SIGTERM);
            waitpid(sim_, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Tmux(const std::string& arguments) {
        return Shell("tmux -L " + socket_ + " " + arguments + " 2>/dev/null");
    }
    // The pane's text; tmux drops blanks at the ends of rows.
    std::string Screen() { return Tmux("capture-pane -p"); }
    void Type(const std::string& line) {
        Tmux("send-keys -l " + Quote(line));
        Tmux("send-keys Enter");
    }
    bool WaitForText(const std::string& text) {
        return WaitUntil([&] { return Screen().find(text) != std::string::npos; }, kScreenWait);
    }
    // The commands the simulated hand received, from its trace.
    std::string HandLog() {
        std::ifstream file(dir_ / "sim.out");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    fs::path dir_;
    std::string socket_;
    pid_t sim_ = -1;
};

TEST_F(TerminalE2E, TypedLinesBatchAndLeaving) {
    std::ofstream(dir_ / "Cmds.TXT") << "# set and read\r\n1fset mov 33\r\n1FGET MOV\r\n";
    Tmux("send-keys C-t");
    ASSERT_TRUE(WaitForText("TERMINAL MODE - Type 'X' to eXit.")) << Screen();

    Type("1fget mcv");
    Type("bogus");
    ASSERT_TRUE(WaitForText(">> bogus\nError Unknown command\n>>")) << Screen();
    Type("X ");
    ASSERT_TRUE(WaitForText(">> X\nError Unknown command\n>>")) << Screen();
    Type("batch");
    ASSERT_TRUE(WaitForText(">> batch\nRun Batch File:")) << Screen();
    Type("Cmds.TXT");
    ASSERT_TRUE(
        WaitForText("Run Batch File: Cmds.TXT\n# set and read\n1fset mov 33\n"
                    "1FGET MOV\n-> 33\n>>"))
        << Screen();
    std::string log = HandLog();
    EXPECT_NE(log.find("<- 1FGET MCV\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<- err 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<- X \n"), std::string::npos) << log;
    EXPECT_NE(log.find("<- 1fset mov 33\n"), std::string::npos) << log;

    Type("x");
    ASSERT_TRUE(
        WaitUntil([&] { return Screen().find("TERMINAL MODE") == std::string::npos; }, kScreenWait))
        << Screen();
    Tmux("send-keys C-t");
    ASSERT_TRUE(WaitForText("TERMINAL MODE - Type 'X' to eXit.")) << Screen();
    Type("X");
    ASSERT_TRUE(
        WaitUntil([&] { return Screen().find("TERMINAL MODE") == std::string::npos; }, kScreenWait))
        << Screen();
    EXPECT_EQ(HandLog().find("<- X\n"), std::string::npos);
}

// Every byte value, the ones a text-mode read would spoil first.
std::string Pattern(std::size_t n) {
    std::string bytes("\r\n\x1a\x00\xff", 5);
    for (std::size_t i = 0; bytes.size() < n; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    bytes.resize(n);
    return bytes;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST_F(TerminalE2E, LoadsEepromImageAndFirmwareIntoTheHand) {
    const std::string image = Pattern(300);
    const std::string firmware = Pattern(200);
    std::ofstream(dir_ / "eeploadr.boo", std::ios::binary) << Pattern(30);
    std::ofstream(dir_ / "Image.BIN", std::ios::binary) << image;
    std::ofstream(dir_ / "fw.bin", std::ios::binary) << firmware;
    ASSERT_EQ(Shell("cd " + Quote(dir_.string()) +
                    " && srec_cat fw.bin -binary -offset 0x4000 -o fw.s19 -address-length=2 "
                    "-obs=64 && echo made"),
              "made\n");

    Tmux("send-keys C-t");
    ASSERT_TRUE(WaitForText("TERMINAL MODE - Type 'X' to eXit.")) << Screen();
    Type("eeprom");
    ASSERT_TRUE(WaitForText("Load EEPROM:")) << Screen();
    Type("Image.BIN");
    ASSERT_TRUE(WaitForText("Reset in BOOT mode, press a key to continue...")) << Screen();
    Tmux("send-keys k");
    ASSERT_TRUE(
        WaitForText("Progress: Complete\n\nSet CPU switch 4 to 'OFF' position, press "
                    "RESET to continue..."))
        << Screen();
    const fs::path eeprom = dir_ / "COM1-eeprom.bin";
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(eeprom); }, kScreenWait)) << Screen();
    EXPECT_EQ(ReadBytes(eeprom), image);
    EXPECT_NE(HandLog().find("<- RESET\n"), std::string::npos);

    Type("firmware");
    ASSERT_TRUE(WaitForText("Load Firmware:")) << Screen();
    Type("fw.s19");
    ASSERT_TRUE(WaitForText("Progress: 100%\n>>")) << Screen();
    const fs::path memory = dir_ / "COM1-firmware.bin";
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::string bytes = ReadBytes(memory);
            return bytes.size() == 65536 && bytes.substr(0x4000, firmware.size()) == firmware;
        },
        kScreenWait))
        << Screen();
    std::string bytes = ReadBytes(memory);
    EXPECT_EQ(bytes.find_first_not_of('\xff'), 0x4000u);
    EXPECT_EQ(bytes.find_last_not_of('\xff'), 0x4000u + firmware.find_last_not_of('\xff'));
}

}  // namespace
