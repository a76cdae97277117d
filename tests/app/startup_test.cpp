#include "startup.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>

namespace {

struct PortCase {
    std::string line;
    int port;
};

void PrintTo(const PortCase& c, std::ostream* out) {
    *out << c.port;
}

class PortPrompt : public testing::TestWithParam<PortCase> {};

TEST_P(PortPrompt, TakesTheFirstCharacterOnly) {
    EXPECT_EQ(PortFromLine(GetParam().line), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Table, PortPrompt,
                         testing::Values(PortCase{"", 1}, PortCase{"3", 3}, PortCase{"12", 1},
                                         PortCase{"9x", 9}, PortCase{"0", 0}, PortCase{"a", 49},
                                         PortCase{" 2", -16}, PortCase{"\xc3\xa9", -109}));

TEST(ConnectionDialogue, NamesTheTwoKnownFailures) {
    EXPECT_STREQ(ConnectionHint(-9), "ZorvathHand not found!");
    EXPECT_STREQ(ConnectionHint(-2), "Communications port not available...");
    EXPECT_STREQ(ConnectionHint(-4), "");
    EXPECT_STREQ(ConnectionHint(5), "");
}

}  // namespace
