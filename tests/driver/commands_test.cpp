// Supervisory commands: their texts, range checks, sequences and parsing.
#include <array>
#include <functional>
#include <string>

#include "hand_fixture.h"

namespace {

struct TextCase {
    const char* name;
    std::function<int(ZHand&)> call;
    std::string wire;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandTexts : public HandOnPty, public ::testing::WithParamInterface<TextCase> {};

TEST_P(CommandTexts, GoOutExactly) {
    peer.AnswerAll("");
    EXPECT_EQ(GetParam().call(hand), 0);
    EXPECT_EQ(peer.Received(), GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandTexts,
    ::testing::Values(
        TextCase{"Open", [](ZHand& h) { return h.Open("G"); }, "GO\r"},
        TextCase{"Close", [](ZHand& h) { return h.Close("123"); }, "123C\r"},
        TextCase{"IncrementalOpen", [](ZHand& h) { return h.IncrementalOpen("1", 0); }, "1IO 0\r"},
        TextCase{"IncrementalClose", [](ZHand& h) { return h.IncrementalClose("S", 30000); },
                 "SIC 30000\r"},
        TextCase{"MoveTo", [](ZHand& h) { return h.MoveTo("4", 1200); }, "4M 1200\r"},
        TextCase{"Move", [](ZHand& h) { return h.Move("GS"); }, "GSM\r"},
        TextCase{"MoveAllTo", [](ZHand& h) { return h.MoveAllTo(10, 0, 30000, 40); },
                 "1FSET DP 10\r2FSET DP 0\r3FSET DP 30000\r4FSET DP 40\rGSM\r"},
        TextCase{"Home", [](ZHand& h) { return h.Home(); }, "GSHOME\rSHOME\r"},
        TextCase{"Terminate", [](ZHand& h) { return h.Terminate("2"); }, "2T\r"},
        TextCase{"InitHand", [](ZHand& h) { return h.InitHand("1234"); }, "1234HI\r"},
        TextCase{"SetParameter", [](ZHand& h) { return h.SetParameter("4", "MCV", 45); },
                 "4FSET MCV 45\r"},
        TextCase{"SetParameterNegative", [](ZHand& h) { return h.SetParameter("1", "MOV", -3); },
                 "1FSET MOV -3\r"},
        TextCase{"SaveParameters", [](ZHand& h) { return h.SaveParameters("G"); }, "GFSAVE\r"},
        TextCase{"LoadParameters", [](ZHand& h) { return h.LoadParameters("S"); }, "SFLOAD\r"},
        TextCase{"LoadDefaults", [](ZHand& h) { return h.LoadDefaults(""); }, "FDEF\r"},
        TextCase{"GetTemperature",
                 [](ZHand& h) {
                     int t = 0;
                     return h.GetTemperature(&t);
                 },
                 "PGET TEMP\r"},
        TextCase{"GetParameters",
                 [](ZHand& h) {
                     std::array<int, 3> v{};
                     return h.GetParameters("G", "P", v);
                 },
                 "GFGET P\r"},
        TextCase{"Command", [](ZHand& h) { return h.Command("err 7"); }, "err 7\r"},
        TextCase{"EmptyCommand", [](ZHand& h) { return h.Command(""); }, "\r"},
        TextCase{"Reset", [](ZHand& h) { return h.Reset(); }, "\rRESET\r"},
        TextCase{"RTSetFlagsFingerprint",
                 [](ZHand& h) {
                     return h.RTSetFlags("123", true, 1, false, true, 1, false, true, true, 1);
                 },
                 "123FSET LCV 1 LCVC 1 LCPG 0 LFV 1 LFVC 1 LFS 0 LFAP 1 LFDP 1 LFDPC 1\r"},
        TextCase{"RTSetFlagsStrainGages",
                 [](ZHand& h) {
                     return h.RTSetFlags("123", false, 0, false, false, 0, true, false, false, 0);
                 },
                 "123FSET LCV 0 LCVC 0 LCPG 0 LFV 0 LFVC 0 LFS 1 LFAP 0 LFDP 0 LFDPC 0\r"}),
    [](const auto& info) { return info.param.name; });

TEST_F(HandOnPty, ValuesOutOfRangeAreRefusedBeforeAnythingIsSent) {
    peer.AnswerAll("");
    const std::function<int()> calls[] = {
        [&] { return hand.MoveTo("1", 30001); },
        [&] { return hand.MoveTo("1", -1); },
        [&] { return hand.IncrementalOpen("G", 30001); },
        [&] { return hand.IncrementalClose("G", -1); },
        [&] { return hand.MoveAllTo(0, 0, 0, 30001); },
        [&] { return hand.MoveAllTo(-1, 0, 0, 0); },
    };
    for (const auto& call : calls) EXPECT_EQ(call(), -18);
    EXPECT_EQ(peer.Received(30), "");
}

TEST_F(HandOnPty, AFailedStepEndsASequence) {
    peer.Answer("ERR 2");
    EXPECT_EQ(hand.Home(), 2);
    EXPECT_EQ(peer.Received(30), "GSHOME\r");

    peer.ClearReceived();
    peer.Play({{.send = "\r\n=> "}, {.send = "ERR 9\r\n=> "}});
    EXPECT_EQ(hand.MoveAllTo(1, 2, 3, 4), 9);
    EXPECT_EQ(peer.Received(30), "1FSET DP 1\r2FSET DP 2\r");
}

TEST_F(HandOnPty, GetParametersFillsTheValuesOfTheReply) {
    std::array<int, 4> values{0, 0, 0, 99};
    peer.Answer("12 -7   300");
    EXPECT_EQ(hand.GetParameters("1", "A B C", std::span(values).first(3)), 0);
    EXPECT_EQ(values, (std::array<int, 4>{12, -7, 300, 99}));

    // More numbers than room: the caller's array is never overrun.
    peer.Answer("1 2 3 4 5");
    EXPECT_EQ(hand.GetParameters("G", "P", std::span(values).first(2)), 0);
    EXPECT_EQ(values, (std::array<int, 4>{1, 2, 300, 99}));

    // A hand error leaves every value as it was.
    peer.Answer("ERR 5");
    EXPECT_EQ(hand.GetParameters("G", "P", values), 5);
    EXPECT_EQ(values, (std::array<int, 4>{1, 2, 300, 99}));
}

TEST_F(HandOnPty, GetTemperatureStoresTenthsAsWholeDegrees) {
    struct Case {
        std::string reply;
        int code;
        int stored;  // -1000: left unchanged
    };
    const Case cases[] = {
        {"457", 0, 45},    {"-457", 0, -45}, {"9", 0, 0},         {"300 C", 0, 30},
        {"abc", 0, -1000}, {"", 0, -1000},   {"ERR 3", 3, -1000},
    };
    for (const Case& c : cases) {
        peer.Answer(c.reply);
        int value = -1000;
        EXPECT_EQ(hand.GetTemperature(&value), c.code) << c.reply;
        EXPECT_EQ(value, c.stored) << c.reply;
    }
    // A failed exchange stores nothing either, whatever the last reply held.
    peer.Answer("450");
    int value = 0;
    ASSERT_EQ(hand.GetTemperature(&value), 0);
    value = -1000;
    EXPECT_EQ(hand.GetTemperature(&value), -9);
    EXPECT_EQ(value, -1000);
}

TEST_F(HandOnPty, CommandHandsBackTheReplyOnlyOnSuccess) {
    std::string reply;
    peer.Answer("line 1\r\nline 2");
    EXPECT_EQ(hand.Command("FLIST", &reply), 0);
    EXPECT_EQ(reply, "line 1\r\nline 2");
    peer.Answer("ERR 4");
    EXPECT_EQ(hand.Command("BOGUS", &reply), 4);
    EXPECT_EQ(reply, "");
}

}  // namespace
