// The station context: what `main` owns and hands down to the form, terminal
// mode and every test procedure. Nothing here is process-wide; a test program
// builds a station of its own around the parts it needs.
#pragma once

#include <array>
#include <string>

#include "clock.h"
#include "console.h"
#include "prefs.h"
#include "recorder.h"
#include "zhand.h"

struct Station;

// A test procedure: called with -k it stores its name in slot k of the test
// table and returns its default cycle count; called with k (1..10) it runs the
// test and returns its result code.
using TestProc = int (*)(Station& station, int test);

constexpr int kTestCount = 10;

// The ten tests, by slot 1..10 (slot 0 holds nothing).
struct TestTable {
    std::array<std::string, kTestCount + 1> names{};
    std::array<int, kTestCount + 1> cycles{};  // 0 = not selected
    std::array<TestProc, kTestCount + 1> procs{};
};

// Who and what is being tested: fields 1 and 2 of the form.
struct Identity {
    std::string serialNumber = kDefaultSerialNumber;
    std::string userInitials = kDefaultInitials;
};

struct Station {
    // The console's success flags go to this station's lastResult from now on.
    Station(ZHand& hand, Console& console, Clock& clock, Recorder& recorder, TestTable& tests,
            Identity& identity)
        : hand(hand),
          console(console),
          clock(clock),
          recorder(recorder),
          tests(tests),
          identity(identity) {
        console.ReportTo(&lastResult);
    }
    ~Station() { console.ReportTo(nullptr); }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    ZHand& hand;
    Console& console;
    Clock& clock;
    Recorder& recorder;
    TestTable& tests;
    Identity& identity;
    // The result of the last driver call, test run or console call made by
    // the application; kept, never shown.
    int lastResult = 0;
};
