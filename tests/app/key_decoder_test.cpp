#include "key_decoder.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

namespace {

struct DecodeCase {
    const char* name;
    std::string bytes;
    bool quiet;  // the quiet time passed after the bytes
    std::vector<int> keys;
};

std::vector<int> Decode(const DecodeCase& c) {
    KeyDecoder decoder;
    decoder.Feed(c.bytes);
    if (c.quiet) decoder.Timeout();
    std::vector<int> keys;
    while (decoder.HasKey()) keys.push_back(decoder.TakeKey());
    return keys;
}

void PrintTo(const DecodeCase& c, std::ostream* out) {
    *out << c.name;
}

class KeyDecoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(KeyDecoding, GivesTheFormsCodes) {
    EXPECT_EQ(Decode(GetParam()), GetParam().keys);
}

const DecodeCase kCases[] = {
    {"Printable", "aZ5 /", false, {'a', 'Z', '5', ' ', '/'}},
    {"DelIsBackspace", "\x7f", false, {8}},
    {"CtrlHIsBackspace", "\x08", false, {8}},
    {"Tab", "\t", false, {9}},
    {"CtrlJ", "\n", false, {10}},
    {"Enter", "\r", false, {13}},
    {"CtrlLetters", "\x01\x11\x12\x14", false, {1, 17, 18, 20}},
    {"ShiftTab", "\x1b[Z", false, {10}},
    {"ShiftEnterModifyOtherKeys", "\x1b[27;2;13~", false, {14}},
    {"ShiftEnterCsiU", "\x1b[13;2u", false, {14}},
    {"ShiftTabCsiU", "\x1b[9;2u", false, {10}},
    {"CtrlEnterCsiUIsEnter", "\x1b[13;5u", false, {13}},
    {"KeypadEnter", "\x1bOM", false, {13}},
    {"ArrowsSkipped", "\x1b[A\x1b[B\x1b[1;5C\x1bOD", false, {}},
    {"FunctionKeysSkipped", "\x1bOP\x1b[15~\x1b[24~x", false, {'x'}},
    {"LoneEscAfterQuiet", "\x1b", true, {27}},
    {"LoneEscWaitsForQuiet", "\x1b", false, {}},
    {"EscEsc", "\x1b\x1b", true, {27, 27}},
    {"AltKeyGivesKey",
     "\x1b"
     "a",
     false,
     {'a'}},
    {"CutSequenceDropped", "\x1b[1;", true, {}},
    {"BrokenSequenceKeepsNextKey", "\x1b[1\r", false, {13}},
    {"NulSkipped", std::string("\0q", 2), false, {'q'}},
    {"HighBytesNegative", "\xc3\xa9", false, {-61, -87}},
    {"KeysAroundSequence", "a\x1b[Zb", false, {'a', 10, 'b'}},
};

INSTANTIATE_TEST_SUITE_P(Table, KeyDecoding, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyDecoderStream, SequenceSplitAcrossReadsIsOneKey) {
    KeyDecoder decoder;
    decoder.Feed("\x1b");
    EXPECT_TRUE(decoder.Pending());
    EXPECT_FALSE(decoder.HasKey());
    decoder.Feed("[");
    decoder.Feed("Z");
    ASSERT_TRUE(decoder.HasKey());
    EXPECT_EQ(decoder.TakeKey(), 10);
    EXPECT_FALSE(decoder.Pending());
}

TEST(KeyDecoderStream, OnlyALineFeedByteIsALineFeed) {
    KeyDecoder decoder;
    decoder.Feed("\n\x1b[Z\x1b[9;2u\t\r");
    std::vector<std::pair<int, bool>> keys;
    while (decoder.HasKey()) {
        bool lineFeed = decoder.LineFeedNext();
        keys.emplace_back(decoder.TakeKey(), lineFeed);
    }
    EXPECT_EQ(keys, (std::vector<std::pair<int, bool>>{
                        {10, true}, {10, false}, {10, false}, {9, false}, {13, false}}));
}

TEST(KeyDecoderStream, ClearDropsKeysAndBytes) {
    KeyDecoder decoder;
    decoder.Feed("ab\x1b[");
    decoder.Clear();
    EXPECT_FALSE(decoder.HasKey());
    EXPECT_FALSE(decoder.Pending());
}

}  // namespace
