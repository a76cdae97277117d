// Statistics of the reports: means, sigma from the moving range, the limits
// of an individuals and moving-range (X-mR) chart, process capability,
// least squares and histogram bins. Pure functions over plain numbers.
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace report {

// Arithmetic mean; nullopt for no values.
std::optional<double> Mean(std::span<const double> values);

// |x[i] - x[i-1]| for i = 1..n-1 (empty for fewer than two values).
std::vector<double> MovingRanges(std::span<const double> values);

// The process sigma estimated from the mean moving range: MR-bar / d2 with
// d2 = 1.128 for ranges of two. nullopt for fewer than two values.
std::optional<double> SigmaFromMovingRange(std::span<const double> values);

// Limits of an X-mR chart from a baseline: the individuals' centre line
// (mean) and natural process limits (mean +- 2.66 MR-bar), the moving
// ranges' centre (MR-bar) and upper limit (3.267 MR-bar).
struct XmrLimits {
    double center = 0;
    double lower = 0;
    double upper = 0;
    double mrCenter = 0;
    double mrUpper = 0;
};
// nullopt for a baseline of fewer than two values.
std::optional<XmrLimits> ComputeXmrLimits(std::span<const double> baseline);

// Capability against specification limits, with the short-term sigma of the
// moving range: Cp = (USL - LSL) / 6 sigma (both limits needed),
// Cpk = min(USL - mean, mean - LSL) / 3 sigma (either side alone will do).
struct Capability {
    std::optional<double> cp;
    std::optional<double> cpk;
};
// Empty when there is no limit, fewer than two values or no spread.
Capability ComputeCapability(std::span<const double> values, std::optional<double> low,
                             std::optional<double> high);

// y = intercept + slope x by least squares; nullopt for fewer than two
// points or when all x are equal.
struct Line {
    double slope = 0;
    double intercept = 0;
};
struct Point {
    double x = 0;
    double y = 0;
};
std::optional<Line> LeastSquares(std::span<const Point> points);

// Equal-width bins over [min, max] of the values: edges has bins + 1 entries,
// counts bins entries; the last bin holds its upper edge. The number of bins
// follows Sturges' rule (1 + log2 n), at most `maxBins`; all-equal values
// make one bin of width 1 around their value. Values that are not finite
// are left out.
struct Histogram {
    std::vector<double> edges;
    std::vector<long> counts;
};
Histogram ComputeHistogram(std::span<const double> values, int maxBins = 30);

}  // namespace report
