// The report's statistics against figures worked out by hand.
#include "stats.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace report;

TEST(Stats, MeanAndMovingRanges) {
    const std::vector<double> values = {2, 4, 9, 1};
    EXPECT_DOUBLE_EQ(*Mean(values), 4);
    EXPECT_EQ(MovingRanges(values), (std::vector<double>{2, 5, 8}));
    EXPECT_FALSE(Mean(std::vector<double>{}));
    EXPECT_TRUE(MovingRanges(std::vector<double>{5}).empty());
}

TEST(Stats, SigmaIsTheMeanMovingRangeOverD2) {
    struct Case {
        std::vector<double> values;
        std::optional<double> sigma;
    };
    const Case cases[] = {
        {{}, std::nullopt},    {{7}, std::nullopt},
        {{10, 12}, 2 / 1.128}, {{1, 3, 2, 6}, (2 + 1 + 4) / 3.0 / 1.128},
        {{5, 5, 5}, 0},
    };
    for (const Case& c : cases) {
        const std::optional<double> sigma = SigmaFromMovingRange(c.values);
        ASSERT_EQ(sigma.has_value(), c.sigma.has_value());
        if (sigma) {
            EXPECT_NEAR(*sigma, *c.sigma, 1e-12);
        }
    }
}

TEST(Stats, XmrLimitsComeFromTheBaseline) {
    // Mean 10, moving ranges 2, 2, 2: MR-bar 2.
    const std::vector<double> baseline = {9, 11, 9, 11};
    const std::optional<XmrLimits> limits = ComputeXmrLimits(baseline);
    ASSERT_TRUE(limits);
    EXPECT_DOUBLE_EQ(limits->center, 10);
    EXPECT_DOUBLE_EQ(limits->mrCenter, 2);
    EXPECT_NEAR(limits->upper, 10 + 2.66 * 2, 1e-12);
    EXPECT_NEAR(limits->lower, 10 - 2.66 * 2, 1e-12);
    EXPECT_NEAR(limits->mrUpper, 3.267 * 2, 1e-12);
    EXPECT_FALSE(ComputeXmrLimits(std::vector<double>{4}));
}

TEST(Stats, Capability) {
    // Mean 10, sigma = 2 / 1.128.
    const std::vector<double> values = {9, 11, 9, 11};
    const double sigma = 2 / 1.128;
    struct Case {
        const char* label;
        std::optional<double> low, high;
        std::optional<double> cp, cpk;
    };
    const Case cases[] = {
        {"both limits, centred", 4, 16, 12 / (6 * sigma), 6 / (3 * sigma)},
        {"both limits, off centre", 8, 20, 12 / (6 * sigma), 2 / (3 * sigma)},
        {"upper only", std::nullopt, 13, std::nullopt, 3 / (3 * sigma)},
        {"lower only", 7, std::nullopt, std::nullopt, 3 / (3 * sigma)},
        {"mean outside", 11, 20, 9 / (6 * sigma), -1 / (3 * sigma)},
        {"no limits", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Capability got = ComputeCapability(values, c.low, c.high);
        ASSERT_EQ(got.cp.has_value(), c.cp.has_value());
        ASSERT_EQ(got.cpk.has_value(), c.cpk.has_value());
        if (c.cp) {
            EXPECT_NEAR(*got.cp, *c.cp, 1e-12);
        }
        if (c.cpk) {
            EXPECT_NEAR(*got.cpk, *c.cpk, 1e-12);
        }
    }
    EXPECT_FALSE(ComputeCapability(std::vector<double>{3, 3, 3}, 0, 5).cpk) << "no spread";
    EXPECT_FALSE(ComputeCapability(std::vector<double>{3}, 0, 5).cpk) << "one value";
}

TEST(Stats, LeastSquares) {
    struct Case {
        const char* label;
        std::vector<Point> points;
        std::optional<Line> line;
    };
    const Case cases[] = {
        {"exact line", {{0, 1}, {1, 3}, {2, 5}}, Line{2, 1}},
        {"symmetric scatter", {{0, 0}, {1, 2}, {2, 0}, {3, 2}}, Line{0.4, 0.4}},
        {"large offsets", {{1e9, 5}, {1e9 + 1, 6}, {1e9 + 2, 7}}, Line{1, 5 - 1e9}},
        {"one point", {{1, 1}}, std::nullopt},
        {"all x equal", {{2, 1}, {2, 5}}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::optional<Line> got = LeastSquares(c.points);
        ASSERT_EQ(got.has_value(), c.line.has_value());
        if (!got) continue;
        EXPECT_NEAR(got->slope, c.line->slope, 1e-9);
        EXPECT_NEAR(got->intercept, c.line->intercept, 1e-3);
    }
}

TEST(Stats, HistogramBinsEveryFiniteValueOnce) {
    struct Case {
        const char* label;
        std::vector<double> values;
        std::vector<double> edges;
        std::vector<long> counts;
    };
    const Case cases[] = {
        // Four values: 1 + log2(4) = 3 bins over [0, 3].
        {"Sturges", {0, 1, 2, 3}, {0, 1, 2, 3}, {1, 1, 2}},
        {"equal values", {5, 5}, {4.5, 5.5}, {2}},
        {"not finite left out", {0, NAN, 2, INFINITY}, {0, 1, 2}, {1, 1}},
        {"none", {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Histogram h = ComputeHistogram(c.values);
        EXPECT_EQ(h.edges, c.edges);
        EXPECT_EQ(h.counts, c.counts);
    }
    std::vector<double> many(100000);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<double>(i % 977);
    const Histogram capped = ComputeHistogram(many, 30);
    EXPECT_EQ(capped.counts.size(), 18u);  // 1 + ceil(log2 100000)
    long total = 0;
    for (long n : capped.counts) total += n;
    EXPECT_EQ(total, 100000);
    EXPECT_EQ(ComputeHistogram(many, 5).counts.size(), 5u);
}

}  // namespace
