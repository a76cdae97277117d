// Terminal mode as the technician uses it: zhand-station in a tmux pane of its
// own (unique socket, own directory) in front of zhand-sim on COM1, Ctrl-T
// from the form, lines typed, the screen read back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tmux_station.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Terminal mode's loads take longer than a form screen to show.
constexpr std::chrono::milliseconds kScreenWait = 15000ms;

class TerminalE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(station.StartSimulator({"--instant", "--speed", "50", "--trace"}));
        ASSERT_TRUE(station.StartStation({.columns = 100, .rows = 40}));
        ASSERT_TRUE(WaitForText(golden::kPortPrompt)) << station.Screen();
        station.Keys("Enter");
    }

    bool WaitForText(const std::string& text) { return station.WaitForText(text, kScreenWait); }
    // A line typed in terminal mode and what it shows.
    static TypedLine Shows(const std::string& typed, const std::string& shown) {
        return {typed, shown, kScreenWait};
    }
    bool WaitUntilGone(const std::string& text) {
        return WaitUntil([&] { return station.Screen().find(text) == std::string::npos; },
                         kScreenWait);
    }

    TmuxStation station;
};

TEST_F(TerminalE2E, TypedLinesBatchAndLeaving) {
    station.Write("Cmds.TXT", "# set and read\r\n1fset mov 33\r\n1FGET MOV\r\n");
    station.Keys("C-t");
    ASSERT_TRUE(WaitForText(golden::kTerminalMode)) << station.Screen();

    ASSERT_TRUE(station.Converse({
        {"1fget mcv"},
        Shows("bogus", ">> bogus\nError Unknown command\n>>"),
        Shows("X ", ">> X\nError Unknown command\n>>"),
        Shows("batch", ">> batch\nRun Batch File:"),
        Shows("Cmds.TXT",
              "Run Batch File: Cmds.TXT\n# set and read\n1fset mov 33\n1FGET MOV\n-> 33\n>>"),
    })) << station.Screen();
    std::string log = station.SimulatorOutput();
    EXPECT_NE(log.find("<- 1FGET MCV\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<- err 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<- X \n"), std::string::npos) << log;
    EXPECT_NE(log.find("<- 1fset mov 33\n"), std::string::npos) << log;

    station.TypeLine("x");
    ASSERT_TRUE(WaitUntilGone("TERMINAL MODE")) << station.Screen();
    station.Keys("C-t");
    ASSERT_TRUE(WaitForText(golden::kTerminalMode)) << station.Screen();
    station.TypeLine("X");
    ASSERT_TRUE(WaitUntilGone("TERMINAL MODE")) << station.Screen();
    EXPECT_EQ(station.SimulatorOutput().find("<- X\n"), std::string::npos);
}

// Every byte value, the ones a text-mode read would spoil first.
std::string Pattern(std::size_t n) {
    std::string bytes("\r\n\x1a\x00\xff", 5);
    for (std::size_t i = 0; bytes.size() < n; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    bytes.resize(n);
    return bytes;
}

TEST_F(TerminalE2E, LoadsEepromImageAndFirmwareIntoTheHand) {
    const std::string image = Pattern(300);
    const std::string firmware = Pattern(200);
    station.Write("eeploadr.boo", Pattern(30));
    station.Write("Image.BIN", image);
    station.Write("fw.bin", firmware);
    ASSERT_EQ(Shell("cd " + ShellQuoted(station.Dir().string()) +
                    " && srec_cat fw.bin -binary -offset 0x4000 -o fw.s19 -address-length=2 "
                    "-obs=64 && echo made"),
              "made\n");

    station.Keys("C-t");
    ASSERT_TRUE(WaitForText(golden::kTerminalMode)) << station.Screen();
    ASSERT_TRUE(station.Converse({
        Shows("eeprom", "Load EEPROM:"),
        Shows("Image.BIN", "Reset in BOOT mode, press a key to continue..."),
    })) << station.Screen();
    station.Keys("k");
    ASSERT_TRUE(
        WaitForText("Progress: Complete\n\nSet CPU switch 4 to 'OFF' position, press "
                    "RESET to continue..."))
        << station.Screen();
    const fs::path eeprom = station.Dir() / "COM1-eeprom.bin";
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(eeprom); }, kScreenWait)) << station.Screen();
    EXPECT_EQ(ReadFile(eeprom), image);
    EXPECT_NE(station.SimulatorOutput().find("<- RESET\n"), std::string::npos);

    ASSERT_TRUE(station.Converse({
        Shows("firmware", "Load Firmware:"),
        Shows("fw.s19", "Progress: 100%\n>>"),
    })) << station.Screen();
    const fs::path memory = station.Dir() / "COM1-firmware.bin";
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::string bytes = ReadFile(memory);
            return bytes.size() == 65536 && bytes.substr(0x4000, firmware.size()) == firmware;
        },
        kScreenWait))
        << station.Screen();
    std::string bytes = ReadFile(memory);
    EXPECT_EQ(bytes.find_first_not_of('\xff'), 0x4000u);
    EXPECT_EQ(bytes.find_last_not_of('\xff'), 0x4000u + firmware.find_last_not_of('\xff'));
}

}  // namespace
