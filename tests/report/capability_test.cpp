// Capability figures from kept sums, and the run rules, against hand-worked
// cases.
#include "capability.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace report;

NameFigures Of(const std::vector<double>& values, std::optional<double> low,
               std::optional<double> high) {
    NameFigures f;
    f.count = static_cast<long long>(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        f.total += values[i];
        f.squares += values[i] * values[i];
        if ((low && values[i] < *low) || (high && values[i] > *high)) ++f.outOfSpec;
        if (i > 0) {
            ++f.ranges;
            f.rangeTotal += std::fabs(values[i] - values[i - 1]);
        }
    }
    f.least = values.empty() ? 0 : *std::min_element(values.begin(), values.end());
    f.most = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    f.low = low;
    f.high = high;
    return f;
}

TEST(Capability, WithinAndOverallSigmaGiveCpkAndPpk) {
    // 9, 11, 9, 11: mean 10, sd sqrt(4/3), mean moving range 2, within 2/1.128.
    const ProcessFigures p = Summarise(Of({9, 11, 9, 11}, 4.0, 19.0));
    const double within = 2 / 1.128, overall = std::sqrt(4.0 / 3);
    EXPECT_DOUBLE_EQ(*p.mean, 10);
    EXPECT_NEAR(*p.sd, overall, 1e-12);
    EXPECT_NEAR(*p.sdWithin, within, 1e-12);
    EXPECT_NEAR(*p.cp, 15 / (6 * within), 1e-12);
    EXPECT_NEAR(*p.cpk, 6 / (3 * within), 1e-12);
    EXPECT_NEAR(*p.pp, 15 / (6 * overall), 1e-12);
    EXPECT_NEAR(*p.ppk, 6 / (3 * overall), 1e-12);
    EXPECT_EQ(p.outOfSpec, 0);
    EXPECT_DOUBLE_EQ(*p.ppm, 0);
}

TEST(Capability, OneSidedLimitsOutOfSpecAndTooFewValues) {
    struct Case {
        const char* what;
        std::vector<double> values;
        std::optional<double> low, high;
        long long out;
        bool cp, cpk, sd;
    };
    const Case cases[] = {
        {"empty", {}, 1.0, 2.0, 0, false, false, false},
        {"one value", {5}, 1.0, 9.0, 0, false, false, false},
        {"low only", {1, 3, 2, 0.5}, 1.0, std::nullopt, 1, false, true, true},
        {"high only", {1, 3, 2, 4}, std::nullopt, 3.5, 1, false, true, true},
        {"no limits", {1, 3, 2}, std::nullopt, std::nullopt, 0, false, false, true},
        {"no spread", {2, 2, 2}, 1.0, 3.0, 0, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessFigures p = Summarise(Of(c.values, c.low, c.high));
        EXPECT_EQ(p.outOfSpec, c.out);
        EXPECT_EQ(p.cp.has_value(), c.cp);
        EXPECT_EQ(p.cpk.has_value(), c.cpk);
        EXPECT_EQ(p.sd.has_value(), c.sd);
        if (p.ppm && !c.values.empty())
            EXPECT_DOUBLE_EQ(
                *p.ppm, 1e6 * static_cast<double>(c.out) / static_cast<double>(c.values.size()));
    }
    EXPECT_NEAR(*Summarise(Of({1, 3, 2, 0.5}, 1.0, std::nullopt)).ppm, 250000, 1e-6);
}

TEST(Capability, EachRuleMarksThePointThatBreaksIt) {
    struct Case {
        const char* what;
        std::vector<double> values;  // centre 0, sigma 1
        std::vector<std::pair<std::size_t, int>> marks;
    };
    const Case cases[] = {
        {"in control", {0.5, -0.5, 1.5, -1.2, 0.3, -0.1, 0.2, -2.5}, {}},
        {"beyond 3 sigma", {0.1, -3.2, 0.2, 3.5}, {{1, 1}, {3, 1}}},
        {"2 of 3 beyond 2 sigma", {0.1, 2.5, -0.3, 2.1, 0.0}, {{3, 2}}},
        {"2 of 3 on opposite sides", {2.5, -2.5, 0.1}, {}},
        {"4 of 5 beyond 1 sigma", {-1.5, -1.2, 0.3, -1.1, -1.9, 0.0}, {{4, 3}}},
        {"8 on one side", {0.1, 0.2, 0.3, 0.1, 0.5, 0.2, 0.1, 0.4, -0.2}, {{7, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<std::size_t, int>> marks;
        for (const RuleBreak& b : BrokenRules(c.values, 0, 1)) marks.emplace_back(b.index, b.rule);
        EXPECT_EQ(marks, c.marks);
    }
    EXPECT_TRUE(BrokenRules(std::vector<double>{1, 50}, 0, 0).empty()) << "no sigma, no rules";
}

}  // namespace
