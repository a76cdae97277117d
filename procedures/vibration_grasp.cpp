// Vibration Grasp (slot 4): closes and opens the three fingers together with
// every velocity at 65 while the hand sits on a vibration unit, checks each
// finger after every move, and follows the strain gauges for drift.
#include <array>
#include <cstdlib>
#include <string>

#include "console.h"
#include "framework.h"
#include "procedures.h"
#include "station.h"

namespace {

using Gauges = std::array<int, 3>;  // "SG" of F1, F2, F3

// Drift per finger: the reading furthest from the first one seen. A reading
// the hand did not deliver is skipped, never compared; the first reading that
// arrives becomes the reference.
struct GaugeDrift {
    bool haveInitial = false;
    Gauges initial{};
    Gauges extreme{};

    void Take(const Gauges& current) {
        if (!haveInitial) {
            initial = extreme = current;
            haveInitial = true;
            return;
        }
        for (std::size_t i = 0; i < current.size(); ++i) {
            // Distances as 64 bits: readings far apart must not overflow.
            const long long now = std::llabs(static_cast<long long>(current[i]) - initial[i]);
            const long long far = std::llabs(static_cast<long long>(extreme[i]) - initial[i]);
            if (now > far) extreme[i] = current[i];
        }
    }
    long long Drift(std::size_t i) const { return static_cast<long long>(extreme[i]) - initial[i]; }
};

void ReadGauges(GaugeDrift& drift) {
    Gauges reading{};
    if (ReadHandValues("G", "SG", reading)) drift.Take(reading);
}

void WriteSummary(std::FILE* log, int errors, const GaugeDrift& drift) {
    std::fprintf(log, "\n\nSUMMARY:\nErrors: %d\n", errors);
    std::fputs("\nMax gage drift\n", log);
    for (int finger = 1; finger <= 3; ++finger) {
        std::fprintf(log, "F%d: %lld\n", finger, drift.Drift(static_cast<std::size_t>(finger - 1)));
    }
}

// A fault leaves the hand unsettled on the vibration unit: close the spread
// again before going on.
int Settle(int fault) {
    if (fault != 0) hand.Close("S");
    return fault;
}

}  // namespace

int VibrationGraspTest(int test) {
    if (auto answer = RegistrationAnswer(test, "Vibration Grasp", 500)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    PrintCentered("Please make sure the hand is mounted securely to the\n");
    PrintCentered("vibration unit.\n");
    PrintCentered("Commands: <P>ause, <A>bort\n\n");
    PrintCentered("Press any key when ready...");

    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;
    GetKey();

    PrepareHand();
    hand.Close("S");
    hand.Command("FSET MOV 65");
    hand.Command("FSET MCV 65");
    GaugeDrift drift;
    ReadGauges(drift);
    WriteTestBanner(log, "Vibration Grasp", testCycles[test]);

    int errors = 0;
    for (int cycle = 1; cycle <= testCycles[test]; ++cycle) {
        ShowCycleStatus(cycle, testCycles[test], errors);
        hand.Close("G");
        for (int finger = 1; finger <= 3; ++finger) {
            errors += Settle(CheckFingerClosed(finger, cycle, log));
        }
        hand.Open("G");
        for (int finger = 1; finger <= 3; ++finger) {
            errors += Settle(CheckFingerOpen(finger, cycle, log));
        }
        ReadGauges(drift);

        if (CommandPoll()) {
            const std::string message = AbortTest(test, cycle);
            std::fprintf(log, "\n\n%s", message.c_str());
            WriteSummary(log, errors, drift);
            std::fclose(log);
            CountdownPrompt(message);
            return 1;
        }
    }

    WriteSummary(log, errors, drift);
    std::fclose(log);
    MoveCursor(10, 0);
    PrintCentered("Test complete, press any key to continue...");
    GetKey();
    return 0;
}
