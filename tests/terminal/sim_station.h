// One simulated hand per test process, behind the program's hand: a
// temporary working directory (COM1 and the loader files live there), the
// simulator served in-process, the driver initialised on port 1 with short
// time-outs, the commands the hand received; the station's screen output is
// read with StdoutCapture.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files.h"
#include "std_redirect.h"
#include "suite_setup.h"
#include "test_station.h"
#include "zhand_sim.h"

// The read time-out the tests give a single byte, in ms: long enough for a
// loaded machine, short enough that a silent hand is found quickly.
constexpr int kReadMs = 1000;

class SimStation : public ::testing::Environment {
  public:
    static SimStation& Get() { return *instance; }
    zhandsim::Simulator& Sim() { return *sim_; }
    const std::filesystem::path& Dir() const { return dir_; }

    void SetUp() override {
        instance = this;
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zhand-terminal-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        oldDir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);

        zhandsim::SimulatorOptions options;
        options.directory = dir_;
        options.speed = 100;
        options.pace = false;  // an instant peer
        options.trace = true;
        options.traceSink = [this](std::string_view text) {
            std::lock_guard<std::mutex> lock(traceMutex_);
            trace_.emplace_back(text);
        };
        sim_ = std::make_unique<zhandsim::Simulator>(options);
        std::string error;
        RequireForSuite(sim_->Start(&error), "the simulator does not start: " + error);
        RequireForSuite(ProgramHand().Initialize(1, 15) == 0, "the hand does not open COM1");
        UseShortTimeouts();
    }

    void TearDown() override {
        sim_->Stop();
        std::filesystem::current_path(oldDir_);
        std::filesystem::remove_all(dir_);
    }

    static void UseShortTimeouts(int readMs = kReadMs) {
        ASSERT_EQ(ProgramHand().SetTimeouts(0, 0, readMs, 10, 2000), 0);
    }

    // The command lines the hand received since the last call, as the
    // simulator shows them (CR and control bytes escaped).
    std::vector<std::string> TakeCommands() {
        std::lock_guard<std::mutex> lock(traceMutex_);
        std::vector<std::string> commands;
        for (const std::string& line : trace_)
            if (line.rfind("<- ", 0) == 0) commands.push_back(line.substr(3));
        trace_.clear();
        return commands;
    }

  private:
    static inline SimStation* instance = nullptr;
    std::filesystem::path dir_;
    std::filesystem::path oldDir_;
    std::unique_ptr<zhandsim::Simulator> sim_;
    std::mutex traceMutex_;
    std::vector<std::string> trace_;
};

// Each test starts with a hand in command mode at 9600 baud, no faults, and
// no commands recorded.
class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Sim().ClearFaults();
        SimStation::UseShortTimeouts();
        // A bare CR also ends a firmware loader left waiting for packets.
        ASSERT_EQ(hand.Command(""), 0);
        SimStation::Get().TakeCommands();
    }

    zhandsim::Simulator& Sim() { return SimStation::Get().Sim(); }
    std::vector<std::string> TakeCommands() { return SimStation::Get().TakeCommands(); }
    // True when the hand answers a command normally, so the port is back at
    // 9600 baud and the hand in command mode.
    static bool HandAnswers() { return ProgramHand().Command("") == 0; }

    ZHand& hand = ProgramHand();
};

// Registers the environment once per test program.
inline ::testing::Environment* const kSimStation =
    ::testing::AddGlobalTestEnvironment(new SimStation);
