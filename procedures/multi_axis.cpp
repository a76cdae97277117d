// Multi-Axis (slot 5) and After-Freezer (slot 9): every cycle closes and opens
// the three fingers together, then the spread, checks each position after
// every move and reads the temperature once. The two differ only in name,
// default cycle count and log title.
#include <string>

#include "framework.h"
#include "procedures.h"
#include "record_names.h"
#include "test_run.h"

namespace {

struct AllMotorTest {
    const char* name;   // in the test table
    int defaultCycles;  // registered at start-up
    const char* title;  // in the log banner
};

constexpr AllMotorTest kMultiAxis{"Multi-Axis", 1500, "Multi-Axis"};
constexpr AllMotorTest kAfterFreezer{"After-Freezer", 500, "After Freezer"};

void WriteSummary(TestRun& run, int maxTemperature) {
    run.log().Print("\n\nSUMMARY:\nErrors: %d\n", run.Errors());
    run.log().Print("Maximum temperature: %d\n", maxTemperature);
    run.log().Measure(results::kMaximumTemperature, maxTemperature, results::kCelsius);
}

int RunAllMotorTest(Station& station, int test, const AllMotorTest& spec) {
    if (auto answer = RegistrationAnswer(station.tests, test, spec.name, spec.defaultCycles)) {
        return *answer;
    }

    TestRun run(station, test);
    run.ShowHeader({"I am performing an all-motor cycle test.\n",
                    "Please make sure nothing interferes with the hand.\n",
                    "Commands: <P>ause, <A>bort\n"});
    if (!run.OpenLog()) return 1;

    run.PrepareHand();
    run.Command("FSET MOV 150");
    run.Command("FSET MCV 150");
    run.Command("4FSET MOV 45");
    run.Command("4FSET MCV 45");
    run.WriteBanner(spec.title);

    int maxTemperature = 0;
    const auto ending = run.RunCycles(
        [&](int cycle) {
            run.Close("G");
            for (int f = 1; f <= 3; ++f) run.Check(PositionCheck::FingerClosed, f, cycle);
            run.Open("G");
            for (int f = 1; f <= 3; ++f) run.Check(PositionCheck::FingerOpen, f, cycle);
            run.Close("S");
            run.Check(PositionCheck::SpreadClosed, 0, cycle);
            run.Open("S");
            run.Check(PositionCheck::SpreadOpen, 0, cycle);

            int temperature = 0;
            if (run.ReadTemperature(&temperature) && temperature > maxTemperature) {
                maxTemperature = temperature;
            }
        },
        [&] { WriteSummary(run, maxTemperature); });
    if (ending != TestRun::Ending::Completed) return 1;

    WriteSummary(run, maxTemperature);
    run.CompleteWithCountdown();
    return 0;
}

}  // namespace

int MultiAxisTest(Station& station, int test) {
    return RunAllMotorTest(station, test, kMultiAxis);
}
int AfterFreezerTest(Station& station, int test) {
    return RunAllMotorTest(station, test, kAfterFreezer);
}
