// Fingerprint (slot 8): three measurements that characterise one hand, each
// logged as its own section: the minimum spread velocity that closes the
// spread against gravity, the encoder scatter of the four motors, and the
// closing and opening times of each finger at four speeds in real-time mode.
#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "clock.h"
#include "console.h"
#include "fingerprint_stats.h"
#include "framework.h"
#include "procedures.h"
#include "station.h"

namespace {

constexpr const char* kName = "Fingerprint";
constexpr int kDefaultCycles = 1;
constexpr int kFingers = 3;
constexpr int kSamples = 25;
// The eight speed trials: positive closes, negative opens.
constexpr std::array<int, 8> kTrialVelocities = {20, -20, 55, -55, 75, -75, 100, -100};

using SpeedTimes = std::array<std::array<std::uint32_t, kTrialVelocities.size()>, kFingers>;

// The first spread closing velocity from 16 to 64 that brings the spread past
// 3000, or 1 when none does. The spread is opened after every attempt.
int FindMinimumSpreadVelocity() {
    for (int v = 16; v <= 64; ++v) {
        std::printf("\r\t\t\tNow trying velocity: %d   ", v);
        std::fflush(stdout);
        hand.SetParameter("S", "MCV", v);
        hand.Command("SC");
        int position[1] = {0};
        const bool closed = ReadHandValues("S", "P", position) && position[0] > 3000;
        hand.Command("SO");
        if (closed) return v;
    }
    return 1;
}

// Sends `motors` to the closed and the open target 25 times and gathers the
// positions reached, one pair of figures per motor. A reading the hand does
// not give is left out of the figures rather than counted as a position.
template <std::size_t N>
void SampleEncoders(const char* motors, int closedTarget, int openTarget,
                    std::span<EncoderFigures, N> closed, std::span<EncoderFigures, N> open) {
    std::array<int, N> positions{};
    for (int sample = 0; sample < kSamples; ++sample) {
        hand.MoveTo(motors, closedTarget);
        if (ReadHandValues(motors, "P", positions)) {
            for (std::size_t i = 0; i < N; ++i) closed[i].Add(positions[i]);
        }
        hand.MoveTo(motors, openTarget);
        if (ReadHandValues(motors, "P", positions)) {
            for (std::size_t i = 0; i < N; ++i) open[i].Add(positions[i]);
        }
    }
    for (std::size_t i = 0; i < N; ++i) {
        closed[i].Finish();
        open[i].Finish();
    }
}

void MeasureEncoderAccuracy(std::FILE* log) {
    std::array<EncoderFigures, 4> closed{};
    std::array<EncoderFigures, 4> open{};
    SampleEncoders<3>("G", 16000, 50, std::span(closed).first<3>(), std::span(open).first<3>());
    hand.Command("FDEF");
    hand.Command("FSAVE");
    SampleEncoders<1>("S", 3000, 30, std::span(closed).last<1>(), std::span(open).last<1>());

    std::fprintf(log, "\n\n*****\n* Encoder Accuracy (Encoder counts)\n* %s*****\n",
                 TimeText().c_str());
    std::fputs("\tMinClse\tAvgClse\tMaxClse\tMinOpen\tAvgOpen\tMaxOpen\n", log);
    for (std::size_t m = 0; m < closed.size(); ++m) {
        std::fprintf(log, "M%d\t%lld\t%lld\t%lld\t%lld\t%lld\t%lld\n", static_cast<int>(m + 1),
                     static_cast<long long>(closed[m].min), static_cast<long long>(closed[m].avg),
                     static_cast<long long>(closed[m].max), static_cast<long long>(open[m].min),
                     static_cast<long long>(open[m].avg), static_cast<long long>(open[m].max));
    }
}

// One speed trial at `velocity`: all three fingers run until each is judged
// stopped (or the trial's time bound is reached); its time and any failure
// line are recorded. Returns the number of failures.
int RunSpeedTrial(std::size_t trial, int velocity, std::vector<std::vector<int>>& history,
                  SpeedTimes& times, std::FILE* log) {
    int errors = 0;
    std::array<int, kFingers> commanded;
    commanded.fill(velocity);
    const std::uint32_t start = TickCount();
    for (std::uint32_t k = 0; commanded[0] != 0 || commanded[1] != 0 || commanded[2] != 0; ++k) {
        const std::uint32_t elapsed = TicksSince(start);
        for (int f = 0; f < kFingers; ++f) {
            const char motor = static_cast<char>('1' + f);
            const int position = hand.RTGetPosition(motor);
            history[f][k % kHistoryLength] = position;
            if (FingerJudged(history[f], k, elapsed) && times[f][trial] == 0) {
                times[f][trial] = elapsed;
                const std::string failure = SpeedFailureLine(f + 1, commanded[f], position);
                if (!failure.empty()) {
                    std::fputs(failure.c_str(), log);
                    ++errors;
                }
                commanded[f] = 0;
            }
            hand.RTSetVelocity(motor, commanded[f]);
        }
        hand.RTUpdate(true, true);
    }
    return errors;
}

int MeasureFingerSpeeds(std::FILE* log) {
    int errors = 0;
    SpeedTimes times{};
    std::fprintf(log, "\n\n*****\n* Finger Speeds (seconds)\n* %s*****\n", TimeText().c_str());
    hand.RTSetFlags("123", true, 1, false, true, 1, false, true, true, 1);
    hand.RTStart("123");
    hand.RTUpdate(true, true);
    std::vector<std::vector<int>> history(kFingers, std::vector<int>(kHistoryLength));
    for (std::size_t t = 0; t < kTrialVelocities.size(); ++t) {
        errors += RunSpeedTrial(t, kTrialVelocities[t], history, times, log);
    }
    hand.RTAbort();
    hand.Close("1234");

    std::fputs("\n\n\tClse20\tOpen20\tClse55\tOpen55\tClse75\tOpen75\tClse100\tOpen100", log);
    for (int f = 0; f < kFingers; ++f) {
        std::fprintf(log, "\nF%d\t", f + 1);
        for (std::uint32_t ms : times[f]) std::fprintf(log, "%.3f\t", ms / 1000.0);
    }
    return errors;
}

}  // namespace

int FingerprintTest(int test) {
    if (auto answer = RegistrationAnswer(test, kName, kDefaultCycles)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    PrintCentered("Please tilt and hold the base stand so that F3 points upward.\n");
    PrintCentered("First we will check the minimum spread motor velocity, then\n");
    PrintCentered("I will check encoder accuracy and finger speeds.\n\n");
    PrintCentered("Press any key when ready...\n\n");
    // One log stream serves all three sections; it is opened before the hand
    // moves, so that a log that cannot be written stops the test at once.
    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;
    GetKey();
    PrepareHand();

    const int minimum = FindMinimumSpreadVelocity();
    std::fprintf(log, "\n\n*****\n* Minimum Spread Velocity\n* %s*****\n", TimeText().c_str());
    std::fprintf(log, "\nMinimum velocity for sucessful vertical close = %d\n", minimum);
    MoveCursor(11, 0);
    PrintCentered("Thank-you.  Now please return the hand to its normal position.\n\n");
    PrintCentered("Press any key when ready...\n\n");
    GetKey();

    MeasureEncoderAccuracy(log);
    const int errors = MeasureFingerSpeeds(log);
    std::fclose(log);
    CountdownPrompt(Format("Test completed with %d errors.", errors));
    return 0;
}
