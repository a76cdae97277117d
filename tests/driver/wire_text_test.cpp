#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "wire_text.h"

using zhand::detail::HandErrorCode;
using zhand::detail::HostDelayMs;
using zhand::detail::IsHostDelay;
using zhand::detail::LeadingInteger;
using zhand::detail::ParseIntegers;

namespace {

TEST(HostDelay, RecognisesOnlyTheWordDelay) {
    struct Case {
        const char* command;
        bool delay;
    };
    const Case cases[] = {
        {"DELAY 5\r", true},   {"DELAY\r", true},    {" DELAY 5\r", true}, {"DELAYS 5\r", false},
        {"XDELAY 5\r", false}, {"delay 5\r", false}, {"GO\r", false},      {"\r", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsHostDelay(c.command), c.delay) << c.command;
}

TEST(HostDelay, ClampsTheTimeToOneMillisecondUpToHundredSeconds) {
    struct Case {
        const char* command;
        unsigned long ms;
    };
    const Case cases[] = {
        {"DELAY 250\r", 250},
        {"DELAY 0\r", 1},
        {"DELAY 1\r", 1},
        {"DELAY 100000\r", 100000},
        {"DELAY 100001\r", 100000},
        {"DELAY 250000\r", 100000},
        {"DELAY -5\r", 100000},
        {"DELAY 99999999999999999999\r", 100000},
        {"DELAY\r", 1},
        {"DELAY abc\r", 1},
        {"DELAY  40\r", 40},
        {"DELAY 40ms\r", 40},
    };
    for (const Case& c : cases) EXPECT_EQ(HostDelayMs(c.command), c.ms) << c.command;
}

TEST(HandErrorCode, AnErrAnswerNeverReadsAsSuccess) {
    struct Case {
        const char* reply;
        int code;
    };
    const Case cases[] = {
        {"ERR 7", 7}, {"ERR 12", 12}, {"ERR  3", 3}, {"ERR 2147483648", INT_MAX},
        {"ERR", 1},   {"ERR ", 1},    {"ERR 0", 1},  {"ERR -3", 1},
        {"ERR x", 1}, {"55", 0},      {"", 0},       {"OK ERR 5", 0},
        {"err 5", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(HandErrorCode(c.reply), c.code) << c.reply;
}

TEST(ParseIntegers, FillsValuesInOrderAndStopsWhenFull) {
    struct Case {
        const char* text;
        size_t room;
        std::vector<int> values;
    };
    const Case cases[] = {
        {"12 -7   300", 3, {12, -7, 300}},
        {"12 -7   300", 2, {12, -7}},
        {"1\r\n2\r\n3", 5, {1, 2, 3}},
        {"1.5 7", 4, {1}},
        {"5 x 6", 4, {5}},
        {"", 2, {}},
        {"--5 6", 2, {0, 6}},
        {"99999999999 -99999999999", 2, {INT_MAX, INT_MIN}},
    };
    for (const Case& c : cases) {
        std::vector<int> values(c.room + 1, 4242);
        size_t filled = ParseIntegers(c.text, std::span<int>(values.data(), c.room));
        ASSERT_EQ(filled, c.values.size()) << c.text;
        for (size_t i = 0; i < filled; ++i) EXPECT_EQ(values[i], c.values[i]) << c.text;
        for (size_t i = filled; i < values.size(); ++i) EXPECT_EQ(values[i], 4242) << c.text;
    }
}

TEST(LeadingInteger, ReadsOnlyANumberAtTheVeryStart) {
    struct Case {
        const char* text;
        bool found;
        int value;
    };
    const Case cases[] = {
        {"457", true, 457}, {"-457", true, -457}, {"9 C", true, 9}, {"abc", false, 0},
        {"", false, 0},     {" 5", false, 0},     {"-", false, 0},  {"ERR 3", false, 0},
    };
    for (const Case& c : cases) {
        int value = 0;
        EXPECT_EQ(LeadingInteger(c.text, &value), c.found) << c.text;
        if (c.found) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

}  // namespace
