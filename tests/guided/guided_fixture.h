// Runs the station's test procedures in-process: the program's hand on an
// in-process simulator's pty, a fresh working directory per test with its own
// results.db, scripted keys and a fake clock, the screen captured and the
// hand's commands traced.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "journal.h"
#include "results_db.h"
#include "std_redirect.h"
#include "test_station.h"
#include "zhand_sim.h"

using ScreenCapture = StdoutCapture;
using KeyPipe = StdinPipe;

// The simulator the hand talks to; one per test program.
zhandsim::Simulator& Sim();
// The spread's minimum closing velocity the simulator is configured with.
constexpr int kSimMinSpreadVelocity = 31;
// Model time runs this much faster than wall time, unless a test says else.
constexpr double kSimSpeed = 100;

class GuidedTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the procedure of `slot` with the screen captured into `screen`.
    int Run(int slot);
    // The test log's whole content ("" when there is none).
    std::string Log() const;
    // Hand command lines the simulator received since the last call.
    std::vector<std::string> HandCommands();
    // Rows of a query on this test's results.db.
    StoreRows Query(const std::string& sql) const;

    std::unique_ptr<results::Journal> journal;
    std::unique_ptr<TestStation> context;
    Station* station = nullptr;
    ZHand& hand = ProgramHand();
    std::string dir;
    std::string screen;
    ScreenCapture* capture = nullptr;  // set while Run runs
};

// Replaces every time text of `log` by "<time>\n", so that log sections can
// be compared whole.
std::string MaskTimes(const std::string& log);
