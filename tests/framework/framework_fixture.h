// The framework's tests against a scripted hand on a pty: one peer and the
// program's hand for the whole test program, and per test a fresh working
// directory, the fake clock just short of its wrap, scripted keys, a station
// whose record goes to results.db there, and the log read back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "journal.h"
#include "pty_peer.h"
#include "results_db.h"
#include "scripted_hand_model.h"
#include "station_fixture.h"

using Commands = std::vector<std::string>;

// The scripted hand the program's hand talks to.
PtyPeer& Peer();

// 30 June 1999 21:49:08 UTC; the tick starts just short of its wrap so every
// wait in these tests crosses it.
constexpr std::time_t kFrameworkStart = 930779348;
constexpr std::uint32_t kFrameworkStartTick = 0xFFFFFFFFu - 2500u;

class Framework : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs a test procedure with its screen captured.
    int Run(TestProc proc, int slot);
    // Rows of a query on this test's results.db.
    StoreRows Query(const std::string& sql) const { return QueryStore(store, sql); }

    std::string dir;
    std::string store;  // results.db of this test
    std::shared_ptr<ScriptedHandModel> model;
    std::string screen;
    std::unique_ptr<results::Journal> journal;
    std::unique_ptr<TestStation> context;
    Station* station = nullptr;
};
