// Process-wide state of the station: the one hand, the test table, the
// technician's identity and the result of the last call.
#pragma once

#include <array>
#include <string>

#include "zhand.h"

// A test procedure: called with -k it stores its name in testNames[k] and
// returns its default cycle count; called with k (1..10) it runs the test.
using TestProc = int (*)(int test);

constexpr int kTestCount = 10;

extern ZHand hand;                                    // the application's one hand
extern std::string serialNumber;                      // field 1, "HND000" by default
extern std::string userInitials;                      // field 2, "--" by default
extern std::array<std::string, kTestCount + 1> testNames;  // slots 1..10
extern std::array<int, kTestCount + 1> testCycles;         // slots 1..10, 0 = not selected
extern std::array<TestProc, kTestCount + 1> testProcs;     // slots 1..10
extern int lastResult;
