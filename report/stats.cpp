#include "stats.h"

#include <algorithm>
#include <cmath>

namespace report {

namespace {

// Control chart constants for moving ranges of two consecutive values.
constexpr double kD2 = 1.128;
constexpr double kE2 = 2.66;   // 3 / d2
constexpr double kD4 = 3.267;  // upper limit factor of the moving range

}  // namespace

std::optional<double> Mean(std::span<const double> values) {
    if (values.empty()) return std::nullopt;
    double sum = 0;
    for (double v : values) sum += v;
    return sum / static_cast<double>(values.size());
}

std::vector<double> MovingRanges(std::span<const double> values) {
    std::vector<double> ranges;
    if (values.size() < 2) return ranges;
    ranges.reserve(values.size() - 1);
    for (std::size_t i = 1; i < values.size(); ++i)
        ranges.push_back(std::fabs(values[i] - values[i - 1]));
    return ranges;
}

std::optional<double> SigmaFromMovingRange(std::span<const double> values) {
    const std::vector<double> ranges = MovingRanges(values);
    const std::optional<double> mrBar = Mean(ranges);
    if (!mrBar) return std::nullopt;
    return *mrBar / kD2;
}

std::optional<XmrLimits> ComputeXmrLimits(std::span<const double> baseline) {
    const std::vector<double> ranges = MovingRanges(baseline);
    const std::optional<double> mrBar = Mean(ranges);
    if (!mrBar) return std::nullopt;
    XmrLimits limits;
    limits.center = *Mean(baseline);
    limits.lower = limits.center - kE2 * *mrBar;
    limits.upper = limits.center + kE2 * *mrBar;
    limits.mrCenter = *mrBar;
    limits.mrUpper = kD4 * *mrBar;
    return limits;
}

Capability ComputeCapability(std::span<const double> values, std::optional<double> low,
                             std::optional<double> high) {
    Capability result;
    if (!low && !high) return result;
    const std::optional<double> sigma = SigmaFromMovingRange(values);
    if (!sigma || *sigma <= 0) return result;
    const double mean = *Mean(values);
    if (low && high) result.cp = (*high - *low) / (6 * *sigma);
    double cpk = INFINITY;
    if (high) cpk = std::min(cpk, (*high - mean) / (3 * *sigma));
    if (low) cpk = std::min(cpk, (mean - *low) / (3 * *sigma));
    result.cpk = cpk;
    return result;
}

std::optional<Line> LeastSquares(std::span<const Point> points) {
    if (points.size() < 2) return std::nullopt;
    const double n = static_cast<double>(points.size());
    double sx = 0, sy = 0;
    for (const Point& p : points) {
        sx += p.x;
        sy += p.y;
    }
    const double mx = sx / n, my = sy / n;
    // Centred sums keep the precision when x and y are large.
    double sxx = 0, sxy = 0;
    for (const Point& p : points) {
        sxx += (p.x - mx) * (p.x - mx);
        sxy += (p.x - mx) * (p.y - my);
    }
    if (sxx == 0) return std::nullopt;
    Line line;
    line.slope = sxy / sxx;
    line.intercept = my - line.slope * mx;
    return line;
}

Histogram ComputeHistogram(std::span<const double> values, int maxBins) {
    Histogram h;
    double min = INFINITY, max = -INFINITY;
    std::size_t n = 0;
    for (double v : values) {
        if (!std::isfinite(v)) continue;
        min = std::min(min, v);
        max = std::max(max, v);
        ++n;
    }
    if (n == 0) return h;
    int bins = 1 + static_cast<int>(std::ceil(std::log2(static_cast<double>(n))));
    bins = std::clamp(bins, 1, std::max(1, maxBins));
    if (min == max) {
        bins = 1;
        min -= 0.5;
        max += 0.5;
    }
    const double width = (max - min) / bins;
    h.edges.resize(static_cast<std::size_t>(bins) + 1);
    for (int i = 0; i <= bins; ++i) h.edges[static_cast<std::size_t>(i)] = min + width * i;
    h.edges.back() = max;
    h.counts.assign(static_cast<std::size_t>(bins), 0);
    for (double v : values) {
        if (!std::isfinite(v)) continue;
        int i = static_cast<int>(std::floor((v - min) / width));
        i = std::clamp(i, 0, bins - 1);
        ++h.counts[static_cast<std::size_t>(i)];
    }
    return h;
}

}  // namespace report
