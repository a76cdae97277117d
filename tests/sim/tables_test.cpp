// The fault syntax, the parameter table and the shipped defaults file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "controller_harness.h"
#include "fault.h"
#include "parameters.h"

namespace zhandsim {
namespace {

struct GoodSpec {
    const char* spec;
    FaultKind kind;
    int motor;
    int from;
    bool once;
    int at;
};

class FaultSyntax : public ::testing::TestWithParam<GoodSpec> {};

TEST_P(FaultSyntax, ParsesAndDescribesItselfInTheSameSyntax) {
    const GoodSpec& c = GetParam();
    Fault fault;
    std::string error;
    ASSERT_TRUE(ParseFault(c.spec, fault, error)) << c.spec << ": " << error;
    EXPECT_EQ(fault.kind, c.kind);
    EXPECT_EQ(fault.motor, c.motor);
    EXPECT_EQ(fault.from, c.from);
    EXPECT_EQ(fault.once, c.once);
    EXPECT_EQ(fault.at, c.at);
    Fault again;
    ASSERT_TRUE(ParseFault(DescribeFault(fault), again, error)) << DescribeFault(fault);
    EXPECT_EQ(DescribeFault(again), DescribeFault(fault));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FaultSyntax,
    ::testing::Values(
        GoodSpec{"jam-open:1", FaultKind::JamOpen, 1, 1, false, 1500},
        GoodSpec{"early-breakaway:2,from=5", FaultKind::EarlyBreakaway, 2, 5, false, 6000},
        GoodSpec{"no-breakaway:3,once=7,at=15099", FaultKind::NoBreakaway, 3, 7, true, 15099},
        GoodSpec{"jam-closed:1,at=501", FaultKind::JamClosed, 1, 1, false, 501},
        GoodSpec{"spread-short", FaultKind::SpreadShort, 4, 1, false, 2900},
        GoodSpec{"spread-short:S,at=0", FaultKind::SpreadShort, 4, 1, false, 0},
        GoodSpec{"spread-no-open:4,once=2", FaultKind::SpreadNoOpen, 4, 2, true, 600},
        GoodSpec{"slow:4,factor=2.5", FaultKind::Slow, 4, 1, false, 0},
        GoodSpec{"drift:3,rate=-4", FaultKind::Drift, 3, 1, false, 0},
        GoodSpec{"silent,after=3,count=2", FaultKind::Silent, 0, 1, false, 0},
        GoodSpec{"noise,bytes=5000", FaultKind::Noise, 0, 1, false, 0},
        GoodSpec{"hangup,after=10,down=-1", FaultKind::Hangup, 0, 1, false, 0}));

TEST(FaultSyntax, RefusesWhatIsNotAFault) {
    const char* bad[] = {"",
                         "jam",
                         "jam-open",    // needs a finger
                         "jam-open:4",  // fingers are 1..3
                         "jam-open:0",
                         "jam-open:1,at=3000",  // not below 3000
                         "early-breakaway:1,at=2999",
                         "no-breakaway:1,at=15100",
                         "jam-closed:1,at=500",  // must stay above 500
                         "spread-short,at=3050",
                         "spread-no-open,at=50",
                         "spread-short:2",
                         "jam-open:1,from=0",
                         "jam-open:1,from=2,once=3",
                         "jam-open:1,factor=2",  // not a key of this kind
                         "jam-open:1,at=",
                         "jam-open:1,at=12x",
                         "slow:5",
                         "slow:1,factor=0",
                         "silent:1",
                         "noise,bytes=0",
                         "hangup,down=-2",
                         "hangup,after=-1"};
    for (const char* spec : bad) {
        Fault fault;
        std::string error;
        EXPECT_FALSE(ParseFault(spec, fault, error)) << spec;
        EXPECT_FALSE(error.empty()) << spec;
    }
}

TEST(FaultSyntax, HelpNamesEveryKind) {
    const std::string help = FaultHelp();
    for (const char* kind : {"jam-open:F", "early-breakaway:F", "no-breakaway:F", "jam-closed:F",
                             "spread-short", "spread-no-open", "slow:M", "drift:M", "silent",
                             "noise", "hangup", "from=N", "once=N", "at=POS", "after=N"})
        EXPECT_NE(help.find(kind), std::string::npos) << kind;
}

// The defaults file, read the way the Parameter Check reads it: records of a
// name and four values separated by white space.
std::vector<std::pair<std::string, std::array<int, 4>>> ReadDefaultsFile() {
    std::ifstream file(ZHAND_SIM_DEFAULTS_FILE);
    EXPECT_TRUE(file) << ZHAND_SIM_DEFAULTS_FILE;
    std::vector<std::pair<std::string, std::array<int, 4>>> records;
    std::string name;
    std::array<int, 4> values{};
    while (file >> name >> values[0] >> values[1] >> values[2] >> values[3])
        records.emplace_back(name, values);
    EXPECT_TRUE(file.eof()) << "a record that does not read as a name and four numbers";
    return records;
}

TEST(DefaultsFile, MatchesTheHandsDefaultsForEveryWritableParameter) {
    const auto records = ReadDefaultsFile();
    std::map<std::string, std::array<int, 4>> byName(records.begin(), records.end());
    EXPECT_EQ(byName.size(), records.size()) << "a name given twice";
    for (const ParameterInfo& info : ParameterTable()) {
        const auto it = byName.find(std::string(info.name));
        if (info.readOnly) {
            EXPECT_EQ(it, byName.end()) << info.name << " changes by itself and cannot be checked";
            continue;
        }
        ASSERT_NE(it, byName.end()) << info.name;
        EXPECT_LE(it->first.size(), 7u);
        for (int m = 1; m <= 4; ++m)
            EXPECT_EQ(it->second[static_cast<std::size_t>(m - 1)],
                      DefaultParameters(m)[static_cast<std::size_t>(ParameterIndex(info.name))])
                << info.name << " M" << m;
    }
}

TEST(DefaultsFile, EveryNameIsFoundOnItsOwnLineOfTheHandsList) {
    // The check takes the first place where the name occurs anywhere in the
    // "FLISTA" reply and counts the line breaks before it.
    ControllerHarness h;
    std::string names = h.Command("FLISTA");
    names = names.substr(2, names.size() - 7);
    std::string values = h.Command("FLISTAV");
    values = values.substr(2, values.size() - 7);
    for (const auto& [name, expected] : ReadDefaultsFile()) {
        const std::size_t at = names.find(name);
        ASSERT_NE(at, std::string::npos) << name;
        const auto line = std::count(names.begin(), names.begin() + static_cast<long>(at), '\n');
        std::size_t valueAt = 0;
        for (long i = 0; i < line; ++i) valueAt = values.find('\n', valueAt) + 1;
        std::array<int, 4> hand{};
        ASSERT_EQ(std::sscanf(values.c_str() + valueAt, "%d %d %d %d", &hand[0], &hand[1], &hand[2],
                              &hand[3]),
                  4);
        EXPECT_EQ(hand, expected) << name;
    }
}

TEST(ParameterTable, DefaultsLieWithinTheirRanges) {
    for (const ParameterInfo& info : ParameterTable()) {
        if (info.readOnly) continue;
        for (int value : info.defaults) {
            EXPECT_GE(value, info.minimum) << info.name;
            EXPECT_LE(value, info.maximum) << info.name;
        }
    }
    // the spread's default closing velocity lifts it against gravity
    EXPECT_GE(DefaultParameters(4)[kMCV], 23);
}

}  // namespace
}  // namespace zhandsim
