// Cable Tension/BreakAway (slot 2): every key press alternately closes and
// opens the three fingers until ESC; the log records that the test was done.
#include <cstdio>

#include "console.h"
#include "framework.h"
#include "procedures.h"
#include "station.h"

namespace {

constexpr const char* kName = "Cable Tension/BreakAway";
constexpr int kDefaultCycles = 1;
constexpr int kEsc = 27;

}  // namespace

int CableTensionTest(int test) {
    if (auto answer = RegistrationAnswer(test, kName, kDefaultCycles)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    PrintCentered("1) Cabe Tension: Press any key to close/open the grasp.\n");
    PrintCentered("The fingers should all move without any obvious motor strain.\n");
    std::printf("\n");
    PrintCentered("2) Breakaway: Place your hand across the inner finger links.\n");
    PrintCentered("I will attempt to close the grasp.  This should cause breakaway\n");
    PrintCentered("in all fingers. If a finger fails, please adjust the cable tension and/or\n");
    PrintCentered("manually break the finger away using a 2-mm hex driver.\n");
    PrintCentered("Press any key to run/continue the test, <ESC> when finished.\n");
    // The log is opened before the hand moves, so that a log that cannot be
    // written stops the test before anything happens.
    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;

    PrepareHand();
    hand.Close("S");
    hand.Command("T");
    const char* motors = "G";
    bool running = true;
    while (running) {
        if (GetKey() == kEsc) running = false;
        if (running) hand.Close(motors);
        if (running && GetKey() == kEsc) running = false;
        if (running) hand.Open(motors);
    }

    WriteTestBanner(log, kName, testCycles[test]);
    std::fputs("\nTEST COMPLETED\n\n", log);
    std::fclose(log);
    return 0;
}
