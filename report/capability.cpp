#include "capability.h"

#include <algorithm>
#include <cmath>

namespace report {

namespace {

constexpr double kD2 = 1.128;  // moving ranges of two

// Cp-like and Cpk-like figures for one sigma; nothing without a limit or a
// spread.
void Indices(double mean, std::optional<double> sigma, std::optional<double> low,
             std::optional<double> high, std::optional<double>* p, std::optional<double>* pk) {
    if (!sigma || !(*sigma > 0) || (!low && !high)) return;
    if (low && high) *p = (*high - *low) / (6 * *sigma);
    double k = INFINITY;
    if (high) k = std::min(k, (*high - mean) / (3 * *sigma));
    if (low) k = std::min(k, (mean - *low) / (3 * *sigma));
    *pk = k;
}

}  // namespace

ProcessFigures Summarise(const NameFigures& f) {
    ProcessFigures p;
    p.count = f.count;
    p.outOfSpec = f.outOfSpec;
    if (f.count == 0) return p;
    const double n = static_cast<double>(f.count);
    p.mean = f.total / n;
    p.min = f.least;
    p.max = f.most;
    if (f.low || f.high) p.ppm = 1e6 * static_cast<double>(f.outOfSpec) / n;
    if (f.count > 1) {
        const double spread = std::max(0.0, f.squares - f.total * f.total / n);
        p.sd = std::sqrt(spread / (n - 1));
    }
    if (f.ranges > 0) p.sdWithin = f.rangeTotal / static_cast<double>(f.ranges) / kD2;
    Indices(*p.mean, p.sdWithin, f.low, f.high, &p.cp, &p.cpk);
    Indices(*p.mean, p.sd, f.low, f.high, &p.pp, &p.ppk);
    return p;
}

std::vector<RuleBreak> BrokenRules(std::span<const double> values, double centre, double sigma) {
    std::vector<RuleBreak> breaks;
    if (!(sigma > 0)) return breaks;
    // How many of the last `window` points (this one among them) lie beyond
    // `k` sigma on the side of this one.
    const auto beyond = [&](std::size_t i, std::size_t window, double k, int side) {
        int count = 0;
        for (std::size_t j = i + 1 - std::min(window, i + 1); j <= i; ++j)
            if (side * (values[j] - centre) > k * sigma) ++count;
        return count;
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double z = (values[i] - centre) / sigma;
        const int side = z > 0 ? 1 : -1;
        int rule = 0;
        if (std::fabs(z) > 3) {
            rule = 1;
        } else if (i >= 2 && std::fabs(z) > 2 && beyond(i, 3, 2, side) >= 2) {
            rule = 2;
        } else if (i >= 4 && std::fabs(z) > 1 && beyond(i, 5, 1, side) >= 4) {
            rule = 3;
        } else if (i >= 7 && z != 0 && beyond(i, 8, 0, side) == 8) {
            rule = 4;
        }
        if (rule != 0) breaks.push_back({i, rule});
    }
    return breaks;
}

const char* RuleText(int rule) {
    switch (rule) {
        case 1:
            return "beyond the natural process limits (3 sigma)";
        case 2:
            return "2 of 3 beyond 2 sigma on one side";
        case 3:
            return "4 of 5 beyond 1 sigma on one side";
        case 4:
            return "8 in a row on one side of the centre";
        default:
            return "";
    }
}

}  // namespace report
