// Vibration Grasp (slot 4): closes and opens the three fingers together with
// every velocity at 65 while the hand sits on a vibration unit, checks each
// finger after every move, and follows the strain gauges for drift.
#include <array>
#include <cstdlib>
#include <string>

#include "framework.h"
#include "procedures.h"
#include "test_run.h"

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

void ReadGauges(TestRun& run, GaugeDrift& drift) {
    Gauges reading{};
    if (run.Read("G", "SG", reading)) drift.Take(reading);
}

void WriteSummary(TestRun& run, const GaugeDrift& drift) {
    Recorder& log = run.log();
    log.Print("\n\nSUMMARY:\nErrors: %d\n", run.Errors());
    log.Write("\nMax gage drift\n");
    for (int finger = 1; finger <= 3; ++finger) {
        const long long value = drift.Drift(static_cast<std::size_t>(finger - 1));
        log.Print("F%d: %lld\n", finger, value);
        log.Measure(Format("F%d gage drift", finger), static_cast<double>(value));
    }
}

}  // namespace

int VibrationGraspTest(Station& station, int test) {
    if (auto answer = RegistrationAnswer(station.tests, test, "Vibration Grasp", 500)) {
        return *answer;
    }

    TestRun run(station, test);
    run.ShowHeader({"Please make sure the hand is mounted securely to the\n", "vibration unit.\n",
                    "Commands: <P>ause, <A>bort\n\n", "Press any key when ready..."});
    if (!run.OpenLog()) return 1;
    station.console.GetKey();

    run.PrepareHand();
    run.Close("S");
    run.Command("FSET MOV 65");
    run.Command("FSET MCV 65");
    GaugeDrift drift;
    ReadGauges(run, drift);
    run.WriteBanner("Vibration Grasp");

    // A fault leaves the hand unsettled on the vibration unit: close the
    // spread again before going on.
    const auto check = [&](PositionCheck kind, int finger, int cycle) {
        if (run.Check(kind, finger, cycle) != 0) run.Close("S");
    };
    const auto ending = run.RunCycles(
        [&](int cycle) {
            run.Close("G");
            for (int f = 1; f <= 3; ++f) check(PositionCheck::FingerClosed, f, cycle);
            run.Open("G");
            for (int f = 1; f <= 3; ++f) check(PositionCheck::FingerOpen, f, cycle);
            ReadGauges(run, drift);
        },
        [&] { WriteSummary(run, drift); });
    if (ending != TestRun::Ending::Completed) return 1;

    WriteSummary(run, drift);
    run.Complete();
    station.console.MoveCursor(10, 0);
    station.console.PrintCentered("Test complete, press any key to continue...");
    station.console.GetKey();
    return 0;
}
