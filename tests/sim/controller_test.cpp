// The controller's rules on a virtual clock: framing, commands, parameter
// sets, motion with time, the real-time loop, line rates, loaders and faults.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "controller_harness.h"

namespace zhandsim {
namespace {

// --- framing and commands ---

struct CommandCase {
    const char* line;
    const char* answer;  // what follows the echo
};

class CommandReply : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandReply, EchoThenAnswerThenPrompt) {
    ControllerHarness h;
    const std::string all = h.Send(std::string(GetParam().line) + "\r");
    EXPECT_EQ(all, std::string(GetParam().line) + GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandReply,
    ::testing::Values(
        CommandCase{"", "\r\n=> "}, CommandCase{"   ", "\r\n=> "},
        CommandCase{"1FGET MOV", "\r\n100\r\n=> "}, CommandCase{"4FGET MCV", "\r\n50\r\n=> "},
        CommandCase{"SFGET MOV", "\r\n50\r\n=> "},
        CommandCase{"FGET MOV", "\r\n100\r\n100\r\n100\r\n50\r\n=> "},
        CommandCase{"GFGET MOV MCV", "\r\n100 100\r\n100 100\r\n100 100\r\n=> "},
        CommandCase{"gfget hold", "\r\n0\r\n0\r\n0\r\n=> "}, CommandCase{"1FGET P", "\r\n0\r\n=> "},
        CommandCase{"PGET BAUD", "\r\n96\r\n=> "}, CommandCase{"FSET MOV 65", "\r\n=> "},
        CommandCase{"T", "\r\n=> "}, CommandCase{"err 4", "\r\nValue out of range\r\n=> "},
        CommandCase{"ERR 99", "\r\nNo such error number\r\n=> "},
        // every error the hand reports, each with its own number
        CommandCase{"XYZ", "\r\nERR 1\r\n=> "}, CommandCase{"1", "\r\nERR 1\r\n=> "},
        CommandCase{"5O", "\r\nERR 2\r\n=> "}, CommandCase{"1FGET NOPE", "\r\nERR 3\r\n=> "},
        CommandCase{"PGET VOLT", "\r\nERR 3\r\n=> "},
        CommandCase{"FSET MOV 256", "\r\nERR 4\r\n=> "},
        CommandCase{"FSET MOV 0", "\r\nERR 4\r\n=> "}, CommandCase{"IC 30001", "\r\nERR 4\r\n=> "},
        CommandCase{"FSET LCV 2", "\r\nERR 4\r\n=> "}, CommandCase{"IO", "\r\nERR 5\r\n=> "},
        CommandCase{"M 12x", "\r\nERR 5\r\n=> "}, CommandCase{"FSET MOV", "\r\nERR 5\r\n=> "},
        CommandCase{"FSET P 5", "\r\nERR 6\r\n=> "},
        CommandCase{"PSET BAUD 97", "\r\nERR 8\r\n=> "}, CommandCase{"O 5", "\r\nERR 10\r\n=> "},
        CommandCase{"FSAVE 1", "\r\nERR 10\r\n=> "}));

TEST(Framing, ErrorNumbersHaveDistinctTextsThatDoNotLookLikeErrors) {
    std::set<std::string_view> texts;
    for (int code = 1; code <= 10; ++code) {
        const std::string_view text = Controller::ErrorText(code);
        EXPECT_TRUE(texts.insert(text).second) << code;
        EXPECT_FALSE(text.starts_with("ERR")) << code;
        EXPECT_NE(text, Controller::ErrorText(99)) << code;
    }
}

TEST(Framing, EveryByteButCarriageReturnIsEchoedAsItArrives) {
    ControllerHarness h;
    EXPECT_EQ(h.Send("1FG"), "1FG");
    EXPECT_EQ(h.Send("ET P"), "ET P");
    EXPECT_EQ(h.Send("\r"), "\r\n0\r\n=> ");
}

TEST(Framing, ByteThreeDropsTheLineAndAnswersThePrompt) {
    ControllerHarness h;
    EXPECT_EQ(h.Send("1FG\x03"), "1FG\r\n=> ");
    EXPECT_EQ(h.Command("PGET BAUD"), "\r\n96\r\n=> ");
}

TEST(Framing, BackspaceRemovesTheLastCharacter) {
    ControllerHarness h;
    EXPECT_EQ(h.Send("PGET BAUDX\b\r"), "PGET BAUDX\b\r\n96\r\n=> ");
}

TEST(Framing, OverlongLineIsRefusedAndTheLineStaysUsable) {
    ControllerHarness h;
    const std::string answer = h.Command(std::string(Controller::kMaxLine + 10, 'A'));
    EXPECT_TRUE(answer.ends_with("\r\nERR 7\r\n=> ")) << answer.substr(answer.size() - 20);
    EXPECT_EQ(h.Command("PGET BAUD"), "\r\n96\r\n=> ");
}

TEST(Framing, ListsNameTheSameParametersInTheSameOrder) {
    ControllerHarness h;
    std::string names = h.Command("FLISTA");
    std::string values = h.Command("FLISTAV");
    names = names.substr(2, names.size() - 7);
    values = values.substr(2, values.size() - 7);
    const auto table = ParameterTable();
    std::size_t line = 0;
    std::size_t at = 0;
    std::size_t valueAt = 0;
    for (; line < table.size(); ++line) {
        const std::size_t end = names.find("\r\n", at);
        EXPECT_EQ(names.substr(at, end - at), table[line].name);
        int v[4];
        ASSERT_EQ(std::sscanf(values.c_str() + valueAt, "%d %d %d %d", &v[0], &v[1], &v[2], &v[3]),
                  4)
            << line;
        if (!table[line].readOnly) {
            for (int m = 0; m < 4; ++m) EXPECT_EQ(v[m], table[line].defaults[m]) << line;
        }
        if (end == std::string::npos) break;
        at = end + 2;
        valueAt = values.find('\n', valueAt) + 1;
    }
    EXPECT_EQ(line + 1, table.size());
}

// --- parameter sets ---

TEST(Parameters, PrefixSelectsMotorsAndNoPrefixSelectsAll) {
    ControllerHarness h;
    EXPECT_EQ(h.Command("GFSET MCV 65"), "\r\n=> ");
    EXPECT_EQ(h.Command("FGET MCV"), "\r\n65\r\n65\r\n65\r\n50\r\n=> ");
    EXPECT_EQ(h.Command("FSET MOV 150"), "\r\n=> ");
    EXPECT_EQ(h.Command("4FSET MOV 45 MCV 44"), "\r\n=> ");
    EXPECT_EQ(h.Command("FGET MOV MCV"), "\r\n150 65\r\n150 65\r\n150 65\r\n45 44\r\n=> ");
    EXPECT_EQ(h.Command("13FGET MOV"), "\r\n150\r\n150\r\n=> ");
}

TEST(Parameters, OneWrongPairSetsNothing) {
    ControllerHarness h;
    EXPECT_EQ(h.Command("1FSET MOV 60 MCV 999"), "\r\nERR 4\r\n=> ");
    EXPECT_EQ(h.Get("1", "MOV"), 100);
}

TEST(Parameters, WorkingStoredAndDefaultSets) {
    ControllerHarness h;
    h.Command("1FSET MOV 60");
    h.Command("1FSAVE");
    h.Command("1FSET MOV 70");
    EXPECT_EQ(h.Get("1", "MOV"), 70);
    h.Command("1FLOAD");
    EXPECT_EQ(h.Get("1", "MOV"), 60);
    h.Command("FDEF");
    EXPECT_EQ(h.Get("1", "MOV"), 100);
    EXPECT_EQ(h.hand.Model().Stored(1)[kMOV], 60);  // FDEF leaves the stored set
    h.Command("1FSET MOV 80");
    h.Command("RESET");  // the hand boots with its stored set
    EXPECT_EQ(h.Get("1", "MOV"), 60);
}

TEST(Parameters, TemperatureIsInTenthsAndRisesWithMotion) {
    ControllerHarness h;
    const int before = std::stoi(h.Command("PGET TEMP").substr(2));
    EXPECT_NEAR(before, HandModel::kAmbientTenths, 1);
    for (int i = 0; i < 100; ++i) {
        h.Command("GC");
        h.Command("GO");
    }
    const int after = std::stoi(h.Command("PGET TEMP").substr(2));
    EXPECT_GT(after, before + 10);
    EXPECT_LT(after, 800);
}

TEST(Parameters, StrainIdlesNearItsBaselineAndDriftsWithTheFault) {
    ControllerHarness h(WithFaults({Fault{.kind = FaultKind::Drift, .motor = 2, .rate = 3}}));
    std::array<int, 3> first{};
    for (int i = 0; i < 20; ++i) {
        const std::string answer = h.Command("GFGET SG");
        std::array<int, 3> sg{};
        ASSERT_EQ(std::sscanf(answer.c_str(), "%d %d %d", &sg[0], &sg[1], &sg[2]), 3);
        if (i == 0) first = sg;
        EXPECT_NEAR(sg[0], first[0], 4);
        EXPECT_NEAR(sg[2], first[2], 4);
    }
    for (int i = 0; i < 10; ++i) h.Command("2C");
    EXPECT_NEAR(h.Get("2", "SG"), first[1] + 30, 4);
}

// --- motion ---

TEST(Motion, FingersCloseNear17500AndOpenNear0) {
    ControllerHarness h;
    for (int cycle = 0; cycle < 20; ++cycle) {
        h.Command("GC");
        for (int m = 1; m <= 3; ++m) {
            const int p = h.Get(std::to_string(m), "P");
            EXPECT_GE(p, 17400);
            EXPECT_LE(p, 17500);
        }
        h.Command("GO");
        for (int m = 1; m <= 3; ++m) EXPECT_LE(h.Get(std::to_string(m), "P"), 15);
    }
}

TEST(Motion, SpreadClosesNear3150AndOpensNear0) {
    ControllerHarness h;
    h.Command("SC");
    EXPECT_GE(h.Get("4", "P"), 3100);
    EXPECT_LE(h.Get("4", "P"), 3150);
    h.Command("SO");
    EXPECT_LE(h.Get("S", "P"), 10);
}

TEST(Motion, MoveIsAnsweredWhenDoneAfterDistanceOverVelocity) {
    struct Case {
        const char* setup;
        const char* move;
        int motor;     // the motor whose travel sets the time
        int velocity;  // its velocity for this move
    };
    const Case cases[] = {
        {"", "1C", 1, 100}, {"1FSET MCV 50", "1C", 1, 50}, {"1FSET MCV 200", "1M 8000", 1, 200},
        {"", "4C", 4, 50},  {"4FSET MCV 25", "SC", 4, 25}, {"", "1IC 3000", 1, 100},
    };
    for (double speed : {1.0, 50.0}) {
        for (const Case& c : cases) {
            ControllerHarness h(WithSpeed(speed));
            if (*c.setup) h.Command(c.setup);
            const double start = h.now;
            EXPECT_EQ(h.Command(c.move), "\r\n=> ") << c.move;
            const double elapsed = (h.now - start) * speed;
            const double unit =
                c.motor == 4 ? HandModel::kSpreadCountsPerUnit : HandModel::kFingerCountsPerUnit;
            const int travel = h.Get(std::to_string(c.motor), "P");
            EXPECT_NEAR(elapsed, travel / (c.velocity * unit) + HandModel::kSettleSeconds, 1e-6)
                << c.move << " at speed " << speed;
        }
    }
}

TEST(Motion, SeveralMotorsAreAnsweredWhenTheSlowestIsDone) {
    ControllerHarness h;
    h.Command("4FSET MCV 30");
    h.Command("GSC");
    const double spread = h.Get("4", "P") / (30 * HandModel::kSpreadCountsPerUnit);
    EXPECT_NEAR(h.now, spread + HandModel::kSettleSeconds, 1e-6);
}

TEST(Motion, NothingIsAnsweredBeforeTheMoveEnds) {
    ControllerHarness h(WithSpeed(10));
    EXPECT_EQ(h.Send("GC\r", 0.05), "GC");  // a close takes about 0.1 s at speed 10
    EXPECT_EQ(h.Run(), "\r\n=> ");
}

TEST(Motion, InputHeldBehindAMoveIsTakenAsTheMoveEnds) {
    ControllerHarness h(WithSpeed(10));
    h.hand.Receive("1C\rPGET BAUD\r", h.host, 0);
    h.hand.Advance(0, h.host);
    const double due = h.hand.NextDue();  // the close's answer
    ASSERT_GT(due, 0);
    h.hand.Advance(due + 3, h.host);  // worked off late
    std::string echo;
    std::string later;
    for (const Output& o : h.hand.TakeOutput()) {
        if (o.time == 0) {
            echo += o.bytes;
        } else {
            EXPECT_EQ(o.time, due);
            later += o.bytes;
        }
    }
    EXPECT_EQ(echo, "1C");
    EXPECT_EQ(later, "\r\n=> PGET BAUD\r\n96\r\n=> ");
}

TEST(Motion, RelativeAndAbsoluteMovesStopAtTheEnds) {
    ControllerHarness h;
    h.Command("1M 16000");
    EXPECT_NEAR(h.Get("1", "P"), 16000, 3);
    h.Command("1IO 1000");
    EXPECT_NEAR(h.Get("1", "P"), 15000, 3);
    h.Command("1IC 30000");
    EXPECT_EQ(h.Get("1", "P"), h.hand.Model().ClosedEnd(1));
    h.Command("1IO 30000");
    EXPECT_EQ(h.Get("1", "P"), 0);
    h.Command("4M 30000");
    EXPECT_LE(h.Get("4", "P"), HandModel::kSpreadEnd);
    h.Command("1FSET DP 5000");
    h.Command("1M");
    EXPECT_NEAR(h.Get("1", "P"), 5000, 3);
    h.Command("GSHI");
    for (int m = 1; m <= 4; ++m) EXPECT_EQ(h.Get(std::to_string(m), "P"), 0);
}

TEST(Motion, SpreadClosesAgainstGravityOnlyFromTheMinimumVelocity) {
    struct Case {
        int minimum;
        int velocity;
        bool closes;
    };
    const Case cases[] = {{23, 16, false}, {23, 22, false}, {23, 23, true},
                          {23, 64, true},  {30, 29, false}, {30, 30, true}};
    for (const Case& c : cases) {
        ControllerHarness h(WithMinSpreadVelocity(c.minimum));
        h.Command("SFSET MCV " + std::to_string(c.velocity));
        h.Command("SC");
        EXPECT_EQ(h.Get("S", "P") > 3000, c.closes) << c.minimum << " " << c.velocity;
        h.Command("SO");
        EXPECT_LE(h.Get("S", "P"), 50);
    }
}

TEST(Motion, StatusTellsPoweredAndStoppedShort) {
    ControllerHarness h(WithFaults({Fault{.kind = FaultKind::JamOpen, .motor = 1, .at = 1500}}));
    h.Command("4C");
    EXPECT_EQ(h.Get("4", "S"), 1);  // the spread holds
    h.Command("2C");
    EXPECT_EQ(h.Get("2", "S"), 0);
    h.Command("1C");
    EXPECT_EQ(h.Get("1", "S"), 2);
    h.Command("4T");
    EXPECT_EQ(h.Get("4", "S"), 0);
}

// --- motion faults ---

struct MotionFaultCase {
    const char* spec;
    int motor;
    const char* moves;  // separated by commas, each sent to the motor
    int lowest;         // where the motor must end
    int highest;
};

class MotionFaults : public ::testing::TestWithParam<MotionFaultCase> {};

TEST_P(MotionFaults, MotorEndsInTheFaultsRange) {
    const MotionFaultCase& c = GetParam();
    Fault fault;
    std::string error;
    ASSERT_TRUE(ParseFault(c.spec, fault, error)) << error;
    ControllerHarness h(WithFaults({fault}));
    const std::string motor = std::to_string(c.motor);
    std::istringstream moves(c.moves);
    for (std::string move; std::getline(moves, move, ',');)
        EXPECT_EQ(h.Command(motor + move), "\r\n=> ");
    const int p = h.Get(motor, "P");
    EXPECT_GE(p, c.lowest) << c.spec;
    EXPECT_LE(p, c.highest) << c.spec;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MotionFaults,
    ::testing::Values(MotionFaultCase{"jam-open:1", 1, "C", 0, 2999},
                      MotionFaultCase{"jam-open:1", 1, "C,O", 0, 15},
                      MotionFaultCase{"jam-open:2,from=2", 2, "C,O,C", 0, 2999},
                      MotionFaultCase{"jam-open:2,from=2", 2, "C", 15100, 17500},
                      MotionFaultCase{"early-breakaway:3,from=2", 3, "C,O,C", 3000, 9999},
                      MotionFaultCase{"no-breakaway:1,from=2", 1, "C,O,C", 10000, 15099},
                      MotionFaultCase{"no-breakaway:1,at=14000", 1, "M 13000", 12997, 13003},
                      MotionFaultCase{"jam-closed:2", 2, "C,O", 501, 17500},
                      MotionFaultCase{"jam-closed:2,at=501", 2, "C,O", 501, 501},
                      MotionFaultCase{"jam-closed:2,from=2", 2, "C,O", 0, 15},
                      MotionFaultCase{"jam-closed:2,from=2", 2, "C,O,C,O", 501, 17500},
                      MotionFaultCase{"spread-short", 4, "C", 0, 3049},
                      MotionFaultCase{"spread-short,from=2", 4, "C,O,C", 0, 3049},
                      MotionFaultCase{"spread-no-open", 4, "C,O", 51, 3150},
                      MotionFaultCase{"spread-no-open", 4, "C,HI", 51, 3150}));

TEST(MotionFaults, OnceAffectsOnlyThatMoveAndFromEveryLaterOne) {
    struct Case {
        const char* spec;
        std::array<bool, 4> shortOnClose;  // closes 1..4
    };
    const Case cases[] = {{"no-breakaway:1,once=2", {false, true, false, false}},
                          {"no-breakaway:1,from=3", {false, false, true, true}},
                          {"no-breakaway:1", {true, true, true, true}}};
    for (const Case& c : cases) {
        Fault fault;
        std::string error;
        ASSERT_TRUE(ParseFault(c.spec, fault, error)) << error;
        ControllerHarness h(WithFaults({fault}));
        for (std::size_t close = 0; close < 4; ++close) {
            h.Command("GC");
            EXPECT_EQ(h.Get("1", "P") < 15100, c.shortOnClose[close]) << c.spec << " " << close;
            EXPECT_GE(h.Get("2", "P"), 15100);
            h.Command("GO");
        }
    }
}

TEST(MotionFaults, RecoveryByInitialisationWorksAfterAOnceFault) {
    ControllerHarness h(
        WithFaults({Fault{.kind = FaultKind::JamClosed, .motor = 1, .once = true, .at = 9000}}));
    h.Command("1C");
    h.Command("1O");
    EXPECT_EQ(h.Get("1", "P"), 9000);
    h.Command("1HI");
    EXPECT_EQ(h.Get("1", "P"), 0);
}

TEST(MotionFaults, SlowMotorTakesFactorTimesLonger) {
    ControllerHarness normal;
    ControllerHarness slow(WithFaults({Fault{.kind = FaultKind::Slow, .motor = 1, .factor = 3}}));
    normal.Command("1M 10000");
    slow.Command("1M 10000");
    const double travel = 10000 / (100 * HandModel::kFingerCountsPerUnit);
    EXPECT_NEAR(normal.now, travel + HandModel::kSettleSeconds, 0.01);
    EXPECT_NEAR(slow.now, 3 * travel + HandModel::kSettleSeconds, 0.01);
}

TEST(MotionFaults, FaultsInjectedLaterApplyFromThen) {
    ControllerHarness h;
    h.Command("1C");
    h.Command("1O");
    h.hand.AddFault(Fault{.kind = FaultKind::JamOpen, .motor = 1, .at = 2000});
    h.Command("1C");
    EXPECT_EQ(h.Get("1", "P"), 2000);
    h.hand.ClearFaults();
    h.Command("1O");
    h.Command("1C");
    EXPECT_GE(h.Get("1", "P"), 15100);
}

}  // namespace
}  // namespace zhandsim
