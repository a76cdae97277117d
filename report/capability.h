// What a quality engineer reads of a measurement: its spread overall and
// within (from the moving ranges), the values out of specification, Cp/Cpk
// from the within sigma and Pp/Ppk from the overall one, and whether the
// latest values keep to the natural process limits and the Western Electric
// run rules.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "figures.h"

namespace report {

struct ProcessFigures {
    long long count = 0;
    std::optional<double> mean;
    std::optional<double> sd;        // overall: the sample standard deviation
    std::optional<double> sdWithin;  // mean moving range / 1.128
    std::optional<double> min;
    std::optional<double> max;
    long long outOfSpec = 0;
    std::optional<double> ppm;  // out of specification per million values
    std::optional<double> cp, cpk, pp, ppk;
};
ProcessFigures Summarise(const NameFigures& figures);

// A point that breaks a rule, against centre +- k sigma:
//   1: beyond 3 sigma;
//   2: two of three consecutive beyond 2 sigma on one side;
//   3: four of five consecutive beyond 1 sigma on one side;
//   4: eight consecutive on one side of the centre.
// The point that completes the pattern is the one marked, with the first
// rule it breaks.
struct RuleBreak {
    std::size_t index = 0;
    int rule = 0;
};
std::vector<RuleBreak> BrokenRules(std::span<const double> values, double centre, double sigma);

// What each rule says, for the page.
const char* RuleText(int rule);

}  // namespace report
