// The Fingerprint test's arithmetic: the encoder scatter of a motor, and the
// rule that decides when a finger has come to rest in a speed trial.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Samples kept per finger in a speed trial; sample k goes to entry k mod this.
constexpr std::uint32_t kHistoryLength = 10000;
// A speed trial never runs longer than this: a finger not yet judged by then
// is judged at that moment.
constexpr std::uint32_t kTrialLimitMs = 60000;

// Smallest, average and largest position reached at one target.
struct EncoderFigures {
    std::int64_t min = 0;
    std::int64_t avg = 0;  // the running sum while sampling
    std::int64_t max = 0;
    int samples = 0;

    // Counts one position; the first one starts all three figures.
    void Add(int position);
    // Turns the sum into the average, truncating toward zero (0 without samples).
    void Finish();
};

// True when the finger whose sample k (already stored in the ring `history`)
// was taken `elapsedMs` after the trial began counts as stopped: more than
// 100 ms into the trial, at least five earlier samples, and
// |(sample k-5 - sample k) / 10| <= 1, i.e. it moved less than 20 counts.
bool CountsAsStopped(std::span<const int> history, std::uint32_t k, std::uint32_t elapsedMs);

// True when the finger is judged at sample k: it counts as stopped, or the
// trial has run for kTrialLimitMs and it is judged where it stands.
bool FingerJudged(std::span<const int> history, std::uint32_t k, std::uint32_t elapsedMs);

// The failure line for a finger judged stopped at `position` in the trial of
// velocity `velocity` (positive closes, otherwise opens), or "" when it
// reached its end: a close must end at 17000 or beyond, an open at 100 or less.
std::string SpeedFailureLine(int finger, int velocity, int position);
// The fault words of that line for a trial of `velocity`: "failed to fully
// close" or "failed to fully open".
const char* SpeedFailureWords(int velocity);
