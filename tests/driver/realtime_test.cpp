// Real-time mode: flags, block layout, the binary frame and the accessors.
#include <array>
#include <string>

#include "hand_fixture.h"

namespace {

using Flags = std::array<const char*, 4>;  // "LCV LCPG LFV LFS LFAP LFDP" per motor

constexpr const char* kAllOff = "0 0 0 0 0 0";
constexpr const char* kAllOn = "1 1 1 1 1 1";
constexpr const char* kFingerprint = "1 0 1 0 1 1";

class RealTime : public HandOnPty {
  protected:
    // Answers the four flag reads of RTStart and confirms the loop.
    int Start(const char* motors, const Flags& flags, const std::string& loopAnswer = "*") {
        for (const char* f : flags) peer.Answer(f);
        peer.Play({{.send = loopAnswer}});
        int rc = hand.RTStart(motors);
        peer.ClearReceived();
        return rc;
    }
    // One update answered by "*" and `feedback`; returns its code.
    int Update(bool control, bool feedback, int sent, const std::string& answer) {
        peer.Play({{.expect = sent, .echo = false, .send = answer}});
        return hand.RTUpdate(control, feedback);
    }
};

TEST_F(RealTime, StartReadsTheFlagsOfEveryMotorThenEntersTheLoop) {
    EXPECT_EQ(Start("123", {kFingerprint, kFingerprint, kFingerprint, kAllOff}), 0);
    auto played = peer.PlayedSteps();
    ASSERT_GE(played.size(), 5u);
    const char* expected[] = {
        "1FGET LCV LCPG LFV LFS LFAP LFDP\r", "2FGET LCV LCPG LFV LFS LFAP LFDP\r",
        "3FGET LCV LCPG LFV LFS LFAP LFDP\r", "4FGET LCV LCPG LFV LFS LFAP LFDP\r", "123LOOP\r"};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(played[played.size() - 5 + i].trigger, expected[i]);
}

TEST_F(RealTime, TheLoopConfirmationIsOneStarAndNothingMore) {
    // With "*" alone the exchange ends; waiting for a prompt would time out.
    long ms = ElapsedMs([&] { EXPECT_EQ(Start("1", {kAllOn, kAllOff, kAllOff, kAllOff}), 0); });
    EXPECT_LT(ms, 250);
}

TEST_F(RealTime, ALoopRefusedWithAnErrorGivesItsNumber) {
    EXPECT_EQ(Start("1", {kAllOn, kAllOff, kAllOff, kAllOff}, "\r\nERR 4\r\n=> "), 4);
}

TEST_F(RealTime, FingerprintUpdateIsFourBytesOutAndThirteenBack) {
    ASSERT_EQ(Start("123", {kFingerprint, kFingerprint, kFingerprint, kAllOff}), 0);
    // Control bytes that a cooked line would eat: CR, XON, XOFF.
    EXPECT_EQ(hand.RTSetVelocity('1', 13), 0);
    EXPECT_EQ(hand.RTSetVelocity('2', 17), 0);
    EXPECT_EQ(hand.RTSetVelocity('3', 19), 0);
    // Per finger: velocity, position high, position low, delta position.
    const std::string feedback(
        "\xFF\x03\x11\x13"
        "\x0D\x42\x68\xC8"
        "\x11\xFF\x38\x03",
        12);
    EXPECT_EQ(Update(true, true, 4, "*" + feedback), 0);
    EXPECT_EQ(peer.Received(), std::string("C\x0D\x11\x13", 4));
    EXPECT_EQ(hand.RTGetVelocity('1'), -1);
    EXPECT_EQ(hand.RTGetPosition('1'), 0x0311);
    EXPECT_EQ(hand.RTGetDeltaPos('1'), 0x13);
    EXPECT_EQ(hand.RTGetVelocity('2'), 13);
    EXPECT_EQ(hand.RTGetPosition('2'), 17000);
    EXPECT_EQ(hand.RTGetDeltaPos('2'), -56);
    EXPECT_EQ(hand.RTGetVelocity('3'), 17);
    EXPECT_EQ(hand.RTGetPosition('3'), -200);
    EXPECT_EQ(hand.RTGetDeltaPos('3'), 3);
    EXPECT_EQ(hand.RTGetStrain('1'), 0);    // flag off
    EXPECT_EQ(hand.RTGetPosition('4'), 0);  // motor inactive
    EXPECT_EQ(hand.RTSetVelocity('4', 5), -19);
}

struct LayoutCase {
    const char* name;
    const char* motors;
    Flags flags;
    int control;
    int feedback;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class Layout : public RealTime, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(Layout, CountsEveryEnabledItemOfEveryActiveMotor) {
    const LayoutCase& c = GetParam();
    ASSERT_EQ(Start(c.motors, c.flags), 0);
    std::string feedback(static_cast<size_t>(c.feedback), '\x01');
    EXPECT_EQ(Update(true, true, 1 + c.control, "*" + feedback), 0);
    EXPECT_EQ(peer.Received(20).size(), static_cast<size_t>(1 + c.control));
    if (c.feedback > 0) {
        // One byte short: the host waits for the whole block and times out.
        EXPECT_EQ(Update(true, true, 1 + c.control, "*" + feedback.substr(1)), -9);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealTime, Layout,
    ::testing::Values(
        LayoutCase{"StrainsOfThreeFingers",
                   "123",
                   {"0 0 0 1 0 0", "0 0 0 1 0 0", "0 0 0 1 0 0", "0 0 0 1 0 0"},
                   0,
                   3},
        LayoutCase{"AllOnAllMotors", "GS", {kAllOn, kAllOn, kAllOn, kAllOn}, 8, 20},
        LayoutCase{"GroupGLeavesTheSpread", "G", {kAllOn, kAllOn, kAllOn, kAllOn}, 6, 15},
        LayoutCase{"SpreadAlone", "4", {kAllOn, kAllOn, kAllOn, kAllOn}, 2, 5},
        LayoutCase{"LetterS", "S", {kAllOn, kAllOn, kAllOn, kAllOn}, 2, 5},
        LayoutCase{
            "FlagsOtherThanOneCountOnce", "1", {"7 0 0 0 9 0", kAllOn, kAllOn, kAllOn}, 1, 2},
        LayoutCase{"Nothing", "", {kAllOn, kAllOn, kAllOn, kAllOn}, 0, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(RealTime, StrainsSitInMotorOrderAndReadUnsigned) {
    ASSERT_EQ(Start("123", {"0 0 0 1 0 0", "0 0 0 1 0 0", "0 0 0 1 0 0", kAllOff}), 0);
    EXPECT_EQ(Update(false, true, 1, "*\xC8\x07\x09"), 0);
    EXPECT_EQ(peer.Received(), "A");
    EXPECT_EQ(hand.RTGetStrain('1'), 200);
    EXPECT_EQ(hand.RTGetStrain('2'), 7);
    EXPECT_EQ(hand.RTGetStrain('3'), 9);
    EXPECT_EQ(hand.RTGetVelocity('1'), 0);
}

TEST_F(RealTime, SettersClampAndLandOnTheirOwnBytes) {
    ASSERT_EQ(Start("12", {kAllOn, kAllOn, kAllOff, kAllOff}), 0);
    EXPECT_EQ(hand.RTSetVelocity('1', 500), 0);
    EXPECT_EQ(hand.RTSetGain('1', 300), 0);
    EXPECT_EQ(hand.RTSetVelocity('2', -500), 0);
    EXPECT_EQ(hand.RTSetGain('2', -5), 0);
    EXPECT_EQ(Update(true, false, 5, "*"), 0);
    EXPECT_EQ(peer.Received(), std::string("c\x7F\xFF\x81\x00", 5));
    EXPECT_EQ(hand.RTSetVelocity('3', 1), -19);
    EXPECT_EQ(hand.RTSetGain('3', 1), -19);
}

TEST_F(RealTime, ASetterForADisabledItemStoresNothing) {
    // Motor 1 sends only a gain, motor 2 only a velocity: two control bytes.
    ASSERT_EQ(Start("12", {"0 1 0 0 0 0", "1 0 0 0 0 0", kAllOff, kAllOff}), 0);
    EXPECT_EQ(hand.RTSetGain('1', 9), 0);
    EXPECT_EQ(hand.RTSetVelocity('2', 4), 0);
    EXPECT_EQ(hand.RTSetVelocity('1', 77), 0);  // would overwrite the gain
    EXPECT_EQ(hand.RTSetGain('2', 88), 0);      // would land past the block
    EXPECT_EQ(Update(true, false, 3, "*"), 0);
    EXPECT_EQ(peer.Received(), std::string("c\x09\x04", 3));
}

TEST_F(RealTime, MotorCharactersOutsideOneToFourMeanTheNearestMotor) {
    ASSERT_EQ(Start("14", {kFingerprint, kAllOff, kAllOff, kFingerprint}), 0);
    EXPECT_EQ(hand.RTSetVelocity('0', 1), 0);
    EXPECT_EQ(hand.RTSetVelocity('9', 2), 0);
    EXPECT_EQ(Update(true, false, 3, "*"), 0);
    EXPECT_EQ(peer.Received(), std::string("c\x01\x02", 3));
}

TEST_F(RealTime, AnUpdateWithNeitherPartIsOneByteEachWay) {
    ASSERT_EQ(Start("123", {kFingerprint, kFingerprint, kFingerprint, kAllOff}), 0);
    EXPECT_EQ(Update(false, false, 1, "*"), 0);
    EXPECT_EQ(peer.Received(), "a");
}

TEST_F(RealTime, AnUpdateAnsweredWithAnErrorKeepsTheLastFeedback) {
    ASSERT_EQ(Start("1", {"0 0 0 1 0 0", kAllOff, kAllOff, kAllOff}), 0);
    ASSERT_EQ(Update(false, true, 1, "*\x2A"), 0);
    EXPECT_EQ(Update(false, true, 1, "ERR 3\r\n=> "), 3);
    EXPECT_STREQ(hand.ReplyText(), "ERR 3");
    EXPECT_EQ(hand.RTGetStrain('1'), 0x2A);
}

// What the hand may say instead of the "*" that confirms an update or the
// loop: only an ERR number is the hand's own code; anything else is a line
// the host cannot trust.
struct RefusalCase {
    const char* name;
    std::string answer;
    int code;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class Refusals : public RealTime, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, AnUpdateWithoutAStarFailsAndKeepsTheLastFeedback) {
    const RefusalCase& c = GetParam();
    ASSERT_EQ(Start("1", {"0 0 0 1 0 0", kAllOff, kAllOff, kAllOff}), 0);
    ASSERT_EQ(Update(false, true, 1, "*\x2A"), 0);
    EXPECT_EQ(Update(false, true, 1, c.answer), c.code);
    EXPECT_EQ(hand.RTGetStrain('1'), 0x2A);
}

TEST_P(Refusals, ALoopWithoutAStarFails) {
    const RefusalCase& c = GetParam();
    EXPECT_EQ(Start("1", {kAllOn, kAllOff, kAllOff, kAllOff}, c.answer), c.code);
}

INSTANTIATE_TEST_SUITE_P(RealTime, Refusals,
                         ::testing::Values(RefusalCase{"ErrAfterALineEnd", "\r\nERR 9\r\n=> ", 9},
                                           RefusalCase{"ErrAtOnce", "ERR 9\r\n=> ", 9},
                                           RefusalCase{"ErrAfterBlanks", " \t ERR 12\r\n=> ", 12},
                                           RefusalCase{"ErrWithoutNumber", "ERR\r\n=> ", 1},
                                           RefusalCase{"BarePrompt", "=> ", -10},
                                           RefusalCase{"PromptAfterALineEnd", "\r\n=> ", -10},
                                           RefusalCase{"OtherText", "OK\r\n=> ", -10},
                                           RefusalCase{"ErrNotAtTheStart", "? ERR 5\r\n=> ", -10},
                                           RefusalCase{"NoPrompt", "ERR 9", -9}),
                         [](const auto& info) { return info.param.name; });

TEST_F(RealTime, AbortSendsByteThreeAndReadsThePrompt) {
    ASSERT_EQ(Start("1", {kAllOn, kAllOff, kAllOff, kAllOff}), 0);
    peer.Play({{.expect = 1, .echo = false, .send = "\r\n=> "}});
    EXPECT_EQ(hand.RTAbort(), 0);
    EXPECT_EQ(peer.Received(), "\x03");
}

}  // namespace
