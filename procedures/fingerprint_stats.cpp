#include "fingerprint_stats.h"

#include <cstdio>
#include <cstdlib>

#include "record_names.h"

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

const char* SpeedFailureWords(int velocity) {
    return velocity > 0 ? results::kFailedToClose : results::kFailedToOpen;
}

std::string SpeedFailureLine(int finger, int velocity, int position) {
    const bool closing = velocity > 0;
    if (closing ? position >= 17000 : position <= 100) return {};
    const int magnitude = closing ? velocity : -velocity;
    char line[80];
    std::snprintf(line, sizeof line, "F%d %s at V=%d\n", finger, SpeedFailureWords(velocity),
                  magnitude);
    return line;
}
