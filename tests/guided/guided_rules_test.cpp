// The pure rules of the operator-guided and measurement tests: the defaults
// file and the hand's parameter lists, the Fingerprint stop rule, failure
// lines and encoder figures, and the Finger Movement draw rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "defaults_file.h"
#include "fingerprint_stats.h"
#include "motor_order.h"

namespace {

using Values = std::array<int, 4>;

// ---- defaults file ----

struct DefaultsCase {
    const char* title;
    const char* text;
    std::vector<std::pair<std::string, Values>> records;
    int badLine;
};

const DefaultsCase kDefaultsCases[] = {
    {"empty", "", {}, 0},
    {"blank only", " \n\t\r\n", {}, 0},
    {"one per line",
     "MCV 20 20 20 35\nMOV 65 65 65 -35\n",
     {{"MCV", {20, 20, 20, 35}}, {"MOV", {65, 65, 65, -35}}},
     0},
    {"any white space separates, no final line end",
     "HOLD\t1 2\n3\r\n4 S 5 6 7 8",
     {{"HOLD", {1, 2, 3, 4}}, {"S", {5, 6, 7, 8}}},
     0},
    {"long name is taken whole", "VERYLONGNAME 1 2 3 4\n", {{"VERYLONGNAME", {1, 2, 3, 4}}}, 0},
    {"32-bit limits and a plus sign",
     "X -2147483648 2147483647 +5 -0\n",
     {{"X", {-2147483648, 2147483647, 5, 0}}},
     0},
    {"three numbers, then the next record",
     "A 1 2 3 4\nB 1 2 3\nC 1 2 3 4\n",
     {{"A", {1, 2, 3, 4}}},
     2},
    {"numbers missing at the end", "A 1 2 3 4\n\nB 1 2", {{"A", {1, 2, 3, 4}}}, 3},
    {"name without numbers at the end", "A 1 2 3 4\nB\n", {{"A", {1, 2, 3, 4}}}, 2},
    {"a word that is not a number", "A 1 2x 3 4\nB 1 2 3 4\n", {}, 1},
    {"out of 32-bit range", "A 1 2 3 2147483648\n", {}, 1},
    {"lone sign", "A 1 - 3 4\n", {}, 1},
};

TEST(DefaultsFile, ReadsRecordsAndStopsAtTheFirstBadOne) {
    for (const auto& c : kDefaultsCases) {
        SCOPED_TRACE(c.title);
        const DefaultsFile file = ParseDefaults(c.text);
        ASSERT_EQ(file.records.size(), c.records.size());
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            EXPECT_EQ(file.records[i].name, c.records[i].first);
            EXPECT_EQ(file.records[i].values, c.records[i].second);
        }
        EXPECT_EQ(file.badLine, c.badLine);
    }
}

TEST(DefaultsFile, RecordsKnowTheirLine) {
    const DefaultsFile file = ParseDefaults("\nA 1 2 3 4\n\n  B 5\n6 7 8\n");
    ASSERT_EQ(file.records.size(), 2u);
    EXPECT_EQ(file.records[0].line, 2);
    EXPECT_EQ(file.records[1].line, 4);
}

// ---- parameter lists ----

TEST(ParameterLists, NameIsFoundAsThePlainFirstSubstring) {
    const std::string names = "DP\nMCVMAX\nMCV\nMOV\n";
    EXPECT_EQ(FindParameterLine(names, "DP"), 0);
    EXPECT_EQ(FindParameterLine(names, "MCV"), 1);  // inside the longer MCVMAX
    EXPECT_EQ(FindParameterLine(names, "MOV"), 3);
    EXPECT_EQ(FindParameterLine(names, "V\nMOV"), 2);
    EXPECT_EQ(FindParameterLine(names, "mov"), std::nullopt);  // case counts
    EXPECT_EQ(FindParameterLine(names, "HOLD"), std::nullopt);
    EXPECT_EQ(FindParameterLine("", "DP"), std::nullopt);
}

struct ValuesCase {
    const char* title;
    const char* text;
    int line;
    std::optional<Values> values;
};

const ValuesCase kValuesCases[] = {
    {"first line", "1 2 3 4\n5 6 7 8\n", 0, Values{1, 2, 3, 4}},
    {"later line, text after the values", "1 2 3 4\n -5\t6 7 -8 MCV\n", 1, Values{-5, 6, 7, -8}},
    {"carriage returns", "1 2 3 4\r\n5 6 7 8\r\n", 1, Values{5, 6, 7, 8}},
    {"last line without a line end", "1 2 3 4\n5 6 7 8", 1, Values{5, 6, 7, 8}},
    {"fewer lines than the index", "1 2 3 4\n", 2, std::nullopt},
    {"empty line after the last line end", "1 2 3 4\n", 1, std::nullopt},
    {"three values never borrow from the next line", "1 2 3\n4 5 6 7\n", 0, std::nullopt},
    {"a word before the fourth value", "1 2 3 x 4\n", 0, std::nullopt},
    {"value out of range", "1 2 3 99999999999\n", 0, std::nullopt},
    {"empty list", "", 0, std::nullopt},
};

TEST(ParameterLists, ValuesComeFromTheNamedLineOnly) {
    for (const auto& c : kValuesCases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(ParameterValues(c.text, c.line), c.values);
    }
}

TEST(ParameterLists, LongListsAreReadWhole) {
    std::string names, values;
    for (int i = 0; i < 400; ++i) {
        names += "P" + std::to_string(i) + "X\n";
        values += std::to_string(i) + " 0 0 " + std::to_string(-i) + "\n";
    }
    ASSERT_GT(names.size(), 1500u);
    const auto line = FindParameterLine(names, "P399X");
    ASSERT_EQ(line, 399);
    EXPECT_EQ(ParameterValues(values, *line), (Values{399, 0, 0, -399}));
}

// ---- Fingerprint stop rule ----

// A history of six samples: 1000 five samples back, then `now`.
std::vector<int> FiveBack(int now) {
    return {1000, 1000, 1000, 1000, 1000, now};
}

TEST(StopRule, NineteenCountsStopTwentyDoNot) {
    const struct {
        int now;
        bool stopped;
    } cases[] = {{1000, true}, {1019, true},  {981, true},  {1020, false},
                 {980, false}, {1029, false}, {2000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.now);
        const auto history = FiveBack(c.now);
        EXPECT_EQ(CountsAsStopped(history, 5, 101), c.stopped);
    }
}

TEST(StopRule, NeedsMoreThan100MsAndFiveEarlierSamples) {
    const auto history = FiveBack(1000);
    EXPECT_FALSE(CountsAsStopped(history, 5, 100));
    EXPECT_TRUE(CountsAsStopped(history, 5, 101));
    EXPECT_FALSE(CountsAsStopped(history, 4, 5000));
}

TEST(StopRule, LooksBackAcrossTheRingsWrap) {
    std::vector<int> ring(kHistoryLength, 0);
    const std::uint32_t k = kHistoryLength + 2;  // stored at entry 2
    ring[2] = 17000;
    ring[kHistoryLength - 3] = 16990;  // sample k - 5
    EXPECT_TRUE(CountsAsStopped(ring, k, 500));
    ring[kHistoryLength - 3] = 16980;
    EXPECT_FALSE(CountsAsStopped(ring, k, 500));
}

TEST(StopRule, AFingerStillMovingIsJudgedAtTheTrialsTimeBound) {
    const auto moving = FiveBack(5000);
    EXPECT_FALSE(FingerJudged(moving, 5, kTrialLimitMs - 1));
    EXPECT_TRUE(FingerJudged(moving, 5, kTrialLimitMs));
    EXPECT_TRUE(FingerJudged(FiveBack(1000), 5, 101));
}

TEST(SpeedFailures, CloseMustReach17000AndOpen100) {
    EXPECT_EQ(SpeedFailureLine(2, 55, 16999), "F2 failed to fully close at V=55\n");
    EXPECT_EQ(SpeedFailureLine(2, 55, 17000), "");
    EXPECT_EQ(SpeedFailureLine(3, -75, 101), "F3 failed to fully open at V=75\n");
    EXPECT_EQ(SpeedFailureLine(3, -75, 100), "");
    EXPECT_STREQ(SpeedFailureWords(55), "failed to fully close");
    EXPECT_STREQ(SpeedFailureWords(-75), "failed to fully open");
}

TEST(EncoderFigures, MinMaxAndTruncatedAverage) {
    EncoderFigures f;
    for (int p : {-3, -4, -4}) f.Add(p);  // sum -11
    f.Finish();
    EXPECT_EQ(f.min, -4);
    EXPECT_EQ(f.max, -3);
    EXPECT_EQ(f.avg, -3);  // toward zero, not -4

    EncoderFigures none;
    none.Finish();
    EXPECT_EQ(none.avg, 0);
}

// ---- Finger Movement draw rule ----

TEST(MotorOrder, RedrawsMotorsAlreadyPlaced) {
    const std::vector<unsigned> draws = {5, 1, 9, 3, 6, 2, 0};
    std::size_t next = 0;
    const auto order = DrawMotorOrder([&] { return draws[next++]; });
    // 5 -> M2; 1 and 9 -> M2 again, redrawn; 3 -> M4; 6 -> M3; 2 -> M3 again; 0 -> M1.
    EXPECT_EQ(order, (std::array<int, 4>{2, 4, 3, 1}));
    EXPECT_EQ(next, draws.size());
}

TEST(MotorOrder, SeededGeneratorGivesPermutationsAndRepeatsForTheSameSecond) {
    UseFixedMotorDraws({});
    std::set<std::array<int, 4>> seen;
    for (std::time_t second = 930779348; second < 930779348 + 200; ++second) {
        SeedMotorDraws(second);
        const auto first = DrawMotorOrder(NextMotorDraw);
        auto sorted = first;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, (std::array<int, 4>{1, 2, 3, 4}));
        SeedMotorDraws(second);
        EXPECT_EQ(DrawMotorOrder(NextMotorDraw), first);
        seen.insert(first);
    }
    EXPECT_GT(seen.size(), 12u);  // the orders vary with the second
}

TEST(MotorOrder, FixedDrawsRestartWithEverySeed) {
    UseFixedMotorDraws({3, 2, 1, 0});
    SeedMotorDraws(0);
    EXPECT_EQ(DrawMotorOrder(NextMotorDraw), (std::array<int, 4>{4, 3, 2, 1}));
    SeedMotorDraws(12345);
    EXPECT_EQ(DrawMotorOrder(NextMotorDraw), (std::array<int, 4>{4, 3, 2, 1}));
    UseFixedMotorDraws({});
}

}  // namespace
