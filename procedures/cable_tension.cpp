// Cable Tension/BreakAway (slot 2): every key press alternately closes and
// opens the three fingers until ESC; the log records that the test was done,
// or that the hand stopped it.
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

    run.PrepareHand();
    run.Close("S");
    run.Command("T");
    // Every key moves the fingers, closing and opening in turn, until ESC or
    // until the hand stops the run.
    const char* motors = "G";
    bool closing = true;
    while (!run.HandStopped() && console.GetKey() != kEsc) {
        if (closing) {
            run.Close(motors);
        } else {
            run.Open(motors);
        }
        closing = !closing;
    }

    // The section opens with its banner also when the hand stopped the run,
    // so that the line of the stop is the session's. The session is one
    // cycle: the stop is in cycle 1.
    run.WriteBanner(kName);
    if (run.HandStopped()) {
        run.EndForHand(1);
        return 1;
    }
    run.log().Write("\nTEST COMPLETED\n\n");
    run.Complete();
    return 0;
}
