// Fingerprint (slot 8): three measurements that characterise one hand, each
// logged as its own section: the minimum spread velocity that closes the
// spread against gravity, the encoder scatter of the four motors, and the
// closing and opening times of each finger at four speeds in real-time mode.
#include <array>
#include <cstdint>
#include <vector>

#include "fingerprint_stats.h"
#include "framework.h"
#include "procedures.h"
#include "record_names.h"
#include "test_run.h"

namespace {

constexpr const char* kName = "Fingerprint";
constexpr int kDefaultCycles = 1;
constexpr int kFingers = 3;
constexpr int kSamples = 25;
// The eight speed trials: positive closes, negative opens.
constexpr std::array<int, 8> kTrialVelocities = {20, -20, 55, -55, 75, -75, 100, -100};
// The log's column names of the trials, in the same order.
constexpr std::array<const char*, 8> kTrialNames = {"Clse20", "Open20", "Clse55",  "Open55",
                                                    "Clse75", "Open75", "Clse100", "Open100"};

using SpeedTimes = std::array<std::array<std::uint32_t, kTrialVelocities.size()>, kFingers>;

// Ends the run the hand stopped: the measurements are made once, so the
// stop is in cycle 1 of 1.
int EndStoppedRun(TestRun& run) {
    run.EndForHand(1);
    return 1;
}

// The first spread closing velocity from 16 to 64 that brings the spread past
// 3000, or 1 when none does. The spread is opened after every attempt. The
// search ends when the hand stops the run (its result is then no figure).
int FindMinimumSpreadVelocity(TestRun& run) {
    for (int v = 16; v <= 64 && !run.HandStopped(); ++v) {
        run.console().Printf("\r\t\t\tNow trying velocity: %d   ", v);
        run.console().Flush();
        run.SetParameter("S", "MCV", v);
        run.Command("SC");
        int position[1] = {0};
        const bool closed = run.Read("S", "P", position) && position[0] > 3000;
        run.Command("SO");
        if (closed) return v;
    }
    return 1;
}

// Sends `motors` to the closed and the open target 25 times and gathers the
// positions reached, one pair of figures per motor. A reading the hand does
// not give is left out of the figures rather than counted as a position.
// Sampling ends when the hand stops the run.
template <std::size_t N>
void SampleEncoders(TestRun& run, const char* motors, int closedTarget, int openTarget,
                    std::span<EncoderFigures, N> closed, std::span<EncoderFigures, N> open) {
    std::array<int, N> positions{};
    for (int sample = 0; sample < kSamples && !run.HandStopped(); ++sample) {
        run.MoveTo(motors, closedTarget);
        if (run.Read(motors, "P", positions)) {
            for (std::size_t i = 0; i < N; ++i) closed[i].Add(positions[i]);
        }
        run.MoveTo(motors, openTarget);
        if (run.Read(motors, "P", positions)) {
            for (std::size_t i = 0; i < N; ++i) open[i].Add(positions[i]);
        }
    }
    for (std::size_t i = 0; i < N; ++i) {
        closed[i].Finish();
        open[i].Finish();
    }
}

// The section is written also when the hand stopped the run, without its
// table then: figures of part of the samples would pass for the hand's.
void MeasureEncoderAccuracy(TestRun& run) {
    std::array<EncoderFigures, 4> closed{};
    std::array<EncoderFigures, 4> open{};
    SampleEncoders<3>(run, "G", 16000, 50, std::span(closed).first<3>(),
                      std::span(open).first<3>());
    run.Command("FDEF");
    run.Command("FSAVE");
    SampleEncoders<1>(run, "S", 3000, 30, std::span(closed).last<1>(), std::span(open).last<1>());

    Recorder& log = run.log();
    run.WriteSection("Encoder Accuracy (Encoder counts)");
    if (run.HandStopped()) return;
    log.Write("\tMinClse\tAvgClse\tMaxClse\tMinOpen\tAvgOpen\tMaxOpen\n");
    for (std::size_t m = 0; m < closed.size(); ++m) {
        const int motor = static_cast<int>(m + 1);
        const std::array<std::pair<const char*, std::int64_t>, 6> figures = {{
            {"MinClse", closed[m].min},
            {"AvgClse", closed[m].avg},
            {"MaxClse", closed[m].max},
            {"MinOpen", open[m].min},
            {"AvgOpen", open[m].avg},
            {"MaxOpen", open[m].max},
        }};
        log.Print("M%d", motor);
        for (const auto& [column, value] : figures) {
            log.Print("\t%lld", static_cast<long long>(value));
            log.Measure(Format("M%d %s", motor, column), static_cast<double>(value),
                        results::kCounts);
        }
        log.Write("\n");
    }
}

// One speed trial at `velocity`: all three fingers run until each is judged
// stopped (or the trial's time bound is reached); its time and any failure
// line are recorded. The trial ends early when the hand stops the run.
void RunSpeedTrial(TestRun& run, std::size_t trial, int velocity,
                   std::vector<std::vector<int>>& history, SpeedTimes& times) {
    ZHand& hand = run.hand();
    std::array<int, kFingers> commanded;
    commanded.fill(velocity);
    const std::uint32_t start = run.clock().TickCount();
    const auto running = [&] {
        return !run.HandStopped() && (commanded[0] != 0 || commanded[1] != 0 || commanded[2] != 0);
    };
    for (std::uint32_t k = 0; running(); ++k) {
        const std::uint32_t elapsed = run.clock().TicksSince(start);
        for (int f = 0; f < kFingers; ++f) {
            const char motor = static_cast<char>('1' + f);
            const int position = hand.RTGetPosition(motor);
            history[f][k % kHistoryLength] = position;
            if (FingerJudged(history[f], k, elapsed) && times[f][trial] == 0) {
                times[f][trial] = elapsed;
                const std::string failure = SpeedFailureLine(f + 1, commanded[f], position);
                if (!failure.empty()) {
                    run.Fault(std::nullopt, results::MotorName(f + 1),
                              SpeedFailureWords(commanded[f]), failure);
                }
                commanded[f] = 0;
            }
            hand.RTSetVelocity(motor, commanded[f]);
        }
        run.RTUpdate();
    }
}

// When the hand stops the run the section ends without its table: the
// trials not run would show as times of 0.
void MeasureFingerSpeeds(TestRun& run) {
    Recorder& log = run.log();
    SpeedTimes times{};
    run.WriteSection("Finger Speeds (seconds)");
    run.Exchange([](ZHand& hand) {
        return hand.RTSetFlags("123", true, 1, false, true, 1, false, true, true, 1);
    });
    run.RTStart("123");
    run.RTUpdate();
    std::vector<std::vector<int>> history(kFingers, std::vector<int>(kHistoryLength));
    for (std::size_t t = 0; t < kTrialVelocities.size() && !run.HandStopped(); ++t) {
        RunSpeedTrial(run, t, kTrialVelocities[t], history, times);
    }
    run.RTAbort();
    run.Close("1234");
    if (run.HandStopped()) return;

    log.Write("\n\n\tClse20\tOpen20\tClse55\tOpen55\tClse75\tOpen75\tClse100\tOpen100");
    for (int f = 0; f < kFingers; ++f) {
        log.Print("\nF%d\t", f + 1);
        for (std::size_t t = 0; t < kTrialNames.size(); ++t) {
            const double seconds = times[f][t] / 1000.0;
            log.Print("%.3f\t", seconds);
            log.Measure(Format("F%d %s", f + 1, kTrialNames[t]), seconds, results::kSeconds);
        }
    }
}

}  // namespace

int FingerprintTest(Station& station, int test) {
    if (auto answer = RegistrationAnswer(station.tests, test, kName, kDefaultCycles)) {
        return *answer;
    }

    Console& console = station.console;
    TestRun run(station, test);
    run.ShowHeader({"Please tilt and hold the base stand so that F3 points upward.\n",
                    "First we will check the minimum spread motor velocity, then\n",
                    "I will check encoder accuracy and finger speeds.\n\n",
                    "Press any key when ready...\n\n"});
    // One log stream serves all three sections; it is opened before the hand
    // moves, so that a log that cannot be written stops the test at once. The
    // measurements are made once whatever the count.
    if (!run.OpenLog(1)) return 1;
    console.GetKey();
    run.PrepareHand();

    // Each section is written when its measurement ends; when the hand stopped
    // it, the section holds the line of the stop instead of its figures.
    const int minimum = FindMinimumSpreadVelocity(run);
    run.WriteSection("Minimum Spread Velocity");
    if (run.HandStopped()) return EndStoppedRun(run);
    run.log().Print("\nMinimum velocity for sucessful vertical close = %d\n", minimum);
    run.log().Measure(results::kMinimumVelocity, minimum);
    run.ShowStoreProblem();
    console.MoveCursor(11, 0);
    console.PrintCentered("Thank-you.  Now please return the hand to its normal position.\n\n");
    console.PrintCentered("Press any key when ready...\n\n");
    console.GetKey();

    MeasureEncoderAccuracy(run);
    if (run.HandStopped()) return EndStoppedRun(run);
    run.ShowStoreProblem();
    MeasureFingerSpeeds(run);
    if (run.HandStopped()) return EndStoppedRun(run);
    run.CompleteWithCountdown();
    return 0;
}
