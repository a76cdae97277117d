// Encoder slip - Grasp (slot 6) and - Spread (slot 7): cycle the fingers or
// the spread at high speed and log each motor's position before the first and
// after the last cycle side by side. The spread test ends a complete run by
// closing the fingers once to look for premature breakaway.
#include <array>
#include <string>

#include "framework.h"
#include "procedures.h"
#include "record_names.h"
#include "test_run.h"

namespace {

// The cycle number the spread test's closing finger checks report.
constexpr int kBreakawayCheckCycle = 25;

// "P" of some motors; a reading the hand did not give shows as 0 and is no
// measurement.
template <std::size_t N>
struct Positions {
    std::array<int, N> values{};
    bool read = false;
};

template <std::size_t N>
Positions<N> ReadPositions(TestRun& run, const char* motors) {
    Positions<N> positions;
    positions.read = run.Read(motors, "P", positions.values);
    if (!positions.read) positions.values.fill(0);
    return positions;
}

// "\n\tInit\tFinal\n", then "M<n>\t<initial>\t<final>\n" for motors
// firstMotor, firstMotor + 1, ...
template <std::size_t N>
void WritePositions(TestRun& run, int firstMotor, const Positions<N>& initial,
                    const Positions<N>& final) {
    Recorder& log = run.log();
    log.Write("\n\tInit\tFinal\n");
    for (std::size_t i = 0; i < N; ++i) {
        const int motor = firstMotor + static_cast<int>(i);
        log.Print("M%d\t%d\t%d\n", motor, initial.values[i], final.values[i]);
        if (initial.read)
            log.Measure(Format("M%d Init", motor), initial.values[i], results::kCounts);
        if (final.read) log.Measure(Format("M%d Final", motor), final.values[i], results::kCounts);
    }
}

}  // namespace

int EncoderSlipGraspTest(Station& station, int test) {
    if (auto answer = RegistrationAnswer(station.tests, test, "Encoder slip - Grasp", 20)) {
        return *answer;
    }

    TestRun run(station, test);
    run.ShowHeader({"Please make sure the hand is mounted securely to the\n",
                    "bench stand.  I will attempt to slip the finger encoders by\n",
                    "performing motor cycles at high speeds.\n", "Commands: <P>ause, <A>bort\n"});
    if (!run.OpenLog()) return 1;

    run.PrepareHand();
    run.Command("FSET MOV 255");
    run.Command("FSET MCV 255");
    const char* motors = "G";
    const auto initial = ReadPositions<3>(run, motors);
    run.WriteBanner("Encoder slip - Grasp");

    const auto ending = run.RunCycles(
        [&](int cycle) {
            run.Close(motors);
            for (int f = 1; f <= 3; ++f) run.Check(PositionCheck::FingerClosed, f, cycle);
            run.Open(motors);
            for (int f = 1; f <= 3; ++f) run.Check(PositionCheck::FingerOpen, f, cycle);
        },
        [&] {
            // Final positions the hand no longer gives show as 0.
            const auto final = ReadPositions<3>(run, motors);
            run.log().Print("\n\nSUMMARY:\nErrors: %d\n", run.Errors());
            WritePositions(run, 1, initial, final);
        });
    if (ending != TestRun::Ending::Completed) return 1;

    WritePositions(run, 1, initial, ReadPositions<3>(run, motors));
    run.CompleteWithCountdown();
    return 0;
}

int EncoderSlipSpreadTest(Station& station, int test) {
    if (auto answer = RegistrationAnswer(station.tests, test, "Encoder slip - Spread", 20)) {
        return *answer;
    }

    TestRun run(station, test);
    run.ShowHeader({"Please make sure the hand is mounted securely to the\n",
                    "bench stand.  I will attempt to slip the spread encoder by\n",
                    "performing motor cycles at high speeds.  I will also check\n",
                    "for premature breakaway afterwards.\n", "Commands: <P>ause, <A>bort\n"});
    if (!run.OpenLog()) return 1;

    run.PrepareHand();
    run.Command("FSET MOV 55");
    run.Command("FSET MCV 55");
    const char* motors = "S";
    const auto initial = ReadPositions<1>(run, "4");
    run.WriteBanner("Encoder slip - Spread");

    const auto ending = run.RunCycles(
        [&](int cycle) {
            run.Close(motors);
            run.Check(PositionCheck::SpreadClosed, 0, cycle);
            run.Open(motors);
            run.Check(PositionCheck::SpreadOpen, 0, cycle);
        },
        [&] { WritePositions(run, 4, initial, ReadPositions<1>(run, "4")); },
        {.abortMessage = false});
    if (ending != TestRun::Ending::Completed) return 1;

    WritePositions(run, 4, initial, ReadPositions<1>(run, "4"));
    motors = "G";
    run.Close(motors);
    for (int f = 1; f <= 3; ++f) run.Check(PositionCheck::FingerClosed, f, kBreakawayCheckCycle);
    run.CompleteWithCountdown();
    return 0;
}
