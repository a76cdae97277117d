#include "fingerprint_stats.h"

#include <cstdio>
#include <cstdlib>

void EncoderFigures::Add(int position) {
    if (samples == 0) {
        min = max = avg = position;
    } else {
        if (position > max) max = position;
        if (position < min) min = position;
        avg += position;
    }
    ++samples;
}

void EncoderFigures::Finish() {
    avg = samples > 0 ? avg / samples : 0;
}

bool CountsAsStopped(std::span<const int> history, std::uint32_t k, std::uint32_t elapsedMs) {
    if (elapsedMs <= 100 || k < 5 || history.empty()) return false;
    const std::size_t n = history.size();
    const int now = history[k % n];
    const int earlier = history[(k - 5) % n];
    return std::abs((earlier - now) / 10) <= 1;
}

bool FingerJudged(std::span<const int> history, std::uint32_t k, std::uint32_t elapsedMs) {
    return CountsAsStopped(history, k, elapsedMs) || elapsedMs >= kTrialLimitMs;
}

std::string SpeedFailureLine(int finger, int velocity, int position) {
    char line[80];
    if (velocity > 0 && position < 17000) {
        std::snprintf(line, sizeof line, "F%d failed to fully close at V=%d\n", finger, velocity);
    } else if (velocity <= 0 && position > 100) {
        std::snprintf(line, sizeof line, "F%d failed to fully open at V=%d\n", finger,
                      velocity == 0 ? 0 : -velocity);
    } else {
        return {};
    }
    return line;
}
