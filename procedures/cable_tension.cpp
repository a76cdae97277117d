// Cable Tension/BreakAway (slot 2): every key press alternately closes and
// opens the three fingers until ESC; the log records that the test was done.
#include "framework.h"
#include "procedures.h"
#include "test_run.h"

namespace {

constexpr const char* kName = "Cable Tension/BreakAway";
constexpr int kDefaultCycles = 1;
constexpr int kEsc = 27;

}  // namespace

int CableTensionTest(Station& station, int test) {
    if (auto answer = RegistrationAnswer(station.tests, test, kName, kDefaultCycles)) {
        return *answer;
    }

    Console& console = station.console;
    TestRun run(station, test);
    run.ShowHeader({"1) Cabe Tension: Press any key to close/open the grasp.\n",
                    "The fingers should all move without any obvious motor strain.\n"});
    console.Print("\n");
    console.PrintCentered("2) Breakaway: Place your hand across the inner finger links.\n");
    console.PrintCentered("I will attempt to close the grasp.  This should cause breakaway\n");
    console.PrintCentered(
        "in all fingers. If a finger fails, please adjust the cable tension and/or\n");
    console.PrintCentered("manually break the finger away using a 2-mm hex driver.\n");
    console.PrintCentered("Press any key to run/continue the test, <ESC> when finished.\n");
    // The log is opened before the hand moves, so that a log that cannot be
    // written stops the test before anything happens. The session is one
    // run whatever the count.
    if (!run.OpenLog(1)) return 1;

    ZHand& hand = station.hand;
    run.PrepareHand();
    hand.Close("S");
    hand.Command("T");
    const char* motors = "G";
    bool running = true;
    while (running) {
        if (console.GetKey() == kEsc) running = false;
        if (running) hand.Close(motors);
        if (running && console.GetKey() == kEsc) running = false;
        if (running) hand.Open(motors);
    }

    run.WriteBanner(kName);
    run.log().Write("\nTEST COMPLETED\n\n");
    run.Complete();
    return 0;
}
