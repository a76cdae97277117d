// The text exchange byte for byte: echo, reply, prompt, trimming, ERR, the
// reply limit and floods, host-side DELAY, baud switching, time-outs and
// hang-ups.
#include <string>
#include <vector>

#include "hand_fixture.h"

namespace {

using Arrival = PtyPeer::Arrival;
using Step = PtyPeer::Step;

struct ReplyCase {
    const char* name;
    std::string answer;  // what the hand sends after the echo
    int code;
    std::string reply;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class Replies : public HandOnPty, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(Replies, AreCollectedUpToThePromptAndTrimmed) {
    const ReplyCase& c = GetParam();
    peer.Play({{.send = c.answer}});
    std::string reply = "unchanged";
    EXPECT_EQ(hand.Command("1FGET MOV", &reply), c.code);
    EXPECT_EQ(peer.Received(), "1FGET MOV\r");
    EXPECT_STREQ(hand.ReplyText(), c.reply.c_str());
    EXPECT_EQ(reply, c.code == 0 ? c.reply : "");
}

INSTANTIATE_TEST_SUITE_P(
    Framing, Replies,
    ::testing::Values(ReplyCase{"Value", "\r\n55\r\n=> ", 0, "55"},
                      ReplyCase{"LeadingWhitespaceDropped", " \t\r\n  55 \r\n=> ", 0, "55"},
                      ReplyCase{"OnlyWhitespace", " \r\n\t \r\n=> ", 0, ""},
                      ReplyCase{"PromptAlone", "=> ", 0, ""},
                      ReplyCase{"LinesKept", "MOV 1\r\nMCV 2  \r\n=> ", 0, "MOV 1\r\nMCV 2"},
                      ReplyCase{"InnerPromptLikeText", "a=>b\r\n=> ", 0, "a=>b"},
                      ReplyCase{"HandError", "\r\nERR 12\r\n=> ", 12, "ERR 12"},
                      ReplyCase{"HandErrorWithoutNumber", "ERR\r\n=> ", 1, "ERR"},
                      ReplyCase{"HandErrorZero", "ERR 0\r\n=> ", 1, "ERR 0"},
                      ReplyCase{"ErrNotAtStart", "OK ERR 5\r\n=> ", 0, "OK ERR 5"}),
    [](const auto& info) { return info.param.name; });

TEST_F(HandOnPty, TheEchoIsDiscardedUnread) {
    // Nine bytes of anything stand for the echo of "1FGET MOV".
    peer.Play({{.echo = false, .send = "#########\r\n55\r\n=> "}});
    EXPECT_EQ(hand.Command("1FGET MOV"), 0);
    EXPECT_STREQ(hand.ReplyText(), "55");
}

TEST_F(HandOnPty, ALoneCarriageReturnHasNoEchoToRead) {
    peer.Play({{.send = "5\r\n=> "}});
    EXPECT_EQ(hand.Command(""), 0);
    EXPECT_EQ(peer.Received(), "\r");
    EXPECT_STREQ(hand.ReplyText(), "5");  // a read echo would have eaten the 5
}

TEST_F(HandOnPty, AReplyEndsAt4999CharactersWithoutAPrompt) {
    peer.Play({{.send = std::string(4996, 'x') + "=> "}});
    EXPECT_EQ(hand.Command("FGET"), 0);
    EXPECT_EQ(std::string(hand.ReplyText()), std::string(4996, 'x'));

    peer.Play({{.send = std::string(4999, 'y') + "=> "}});
    EXPECT_EQ(hand.Command("FGET"), -10);
    EXPECT_EQ(std::string(hand.ReplyText()), std::string(4999, 'y'));
}

TEST_F(HandOnPty, AFloodEndsTheReplyAtTheLimitAndIsGoneByTheNextExchange) {
    peer.Play({{.send = std::string(1000, 'z'), .times = 20}});
    EXPECT_EQ(hand.Command("FGET"), -10);
    EXPECT_EQ(std::string(hand.ReplyText()), std::string(4999, 'z'));
    ASSERT_TRUE(peer.WaitScriptDone(2000));  // the whole flood is on the line
    peer.Answer("ok");
    EXPECT_EQ(hand.Command("GC"), 0);
    EXPECT_STREQ(hand.ReplyText(), "ok");
}

TEST_F(HandOnPty, LeftOverBytesNeverReachTheNextExchange) {
    peer.Play({{.send = "1\r\n=> late garbage=> "}, {.send = "2\r\n=> "}});
    EXPECT_EQ(hand.Command("A"), 0);
    EXPECT_STREQ(hand.ReplyText(), "1");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(hand.Command("B"), 0);
    EXPECT_STREQ(hand.ReplyText(), "2");
}

TEST_F(HandOnPty, ATimeOutFailsWithMinusNineAndKeepsThePartialReply) {
    peer.Play({{.send = "12"}});
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.Command("PGET TEMP"), -9); });
    EXPECT_LT(ms, 800);
    EXPECT_STREQ(hand.ReplyText(), "12");
    // A silent hand fails the echo; the reply of before stays.
    EXPECT_EQ(hand.Command("GO"), -9);
    EXPECT_STREQ(hand.ReplyText(), "12");
    // The link is usable again afterwards.
    peer.Answer("ok");
    EXPECT_EQ(hand.Command("GC"), 0);
    EXPECT_STREQ(hand.ReplyText(), "ok");
}

TEST_F(HandOnPty, AHangUpMidReplyFailsAtOnce) {
    ASSERT_EQ(hand.SetTimeouts(0, 100, 5000, 100, 5000), 0);
    peer.Play({{.send = "12", .hangUp = true}});
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.Command("PGET TEMP"), -9); });
    EXPECT_LT(ms, 1000);
    ms = ElapsedMs([&] {
        int rc = hand.Open("G");
        EXPECT_TRUE(rc == -11 || rc == -8 || rc == -9) << rc;
    });
    EXPECT_LT(ms, 1000);
}

TEST_F(HandOnPty, DelayPausesOnTheHostAndSendsNothing) {
    peer.Answer("abc");
    ASSERT_EQ(hand.Command("X"), 0);
    peer.ClearReceived();
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.Command("DELAY 40"), 0); });
    EXPECT_GE(ms, 40);
    EXPECT_STREQ(hand.ReplyText(), "");
    ms = ElapsedMs([&] {
        EXPECT_EQ(hand.Delay(0), 0);
        EXPECT_EQ(hand.Command("DELAY"), 0);
        EXPECT_EQ(hand.Command("DELAY soon"), 0);
    });
    EXPECT_LT(ms, 200);
    EXPECT_EQ(peer.Received(20), "");
}

TEST_F(HandOnPty, ResetSwitchesThePortTo9600RightAfterTheEcho) {
    ASSERT_EQ(hand.SetBaudRate(4800), 0);
    peer.Play({{.send = "\r\n=> "}, {.send = "\r\n=> ", .waitBaud = 9600}});
    EXPECT_EQ(hand.Reset(), 0);
    EXPECT_EQ(peer.Arrivals(), (std::vector<Arrival>{{"\rRESET\r", 4800}}));
    auto played = peer.PlayedSteps();
    ASSERT_GE(played.size(), 2u);
    const auto& reset = played.back();
    EXPECT_EQ(reset.trigger, "RESET\r");
    EXPECT_EQ(reset.baudAtTrigger, 4800);  // not before the echo
    EXPECT_EQ(reset.baudAtSend, 9600);     // but before the reply
}

TEST_F(HandOnPty, SetHandBaudSwitchesWaitsPurgesAndSendsALoneCarriageReturn) {
    peer.Play({{.send = "junk before the switch"},  // the purge after the pause drops it
               {.send = "\r\n=> "}});
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.SetHandBaud(4800), 0); });
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 1800);
    EXPECT_EQ(peer.Arrivals(), (std::vector<Arrival>{{"PSET BAUD 48\r", 9600}, {"\r", 4800}}));
    auto played = peer.PlayedSteps();
    ASSERT_GE(played.size(), 2u);
    EXPECT_EQ(played.back().trigger, "\r");
    EXPECT_EQ(played.back().baudAtTrigger, 4800);
    EXPECT_EQ(peer.HostBaud(), 4800);
    EXPECT_STREQ(hand.ReplyText(), "");
}

TEST_F(HandOnPty, APsetBaudThroughCommandKeepsThePortRate) {
    peer.Answer("");
    EXPECT_EQ(hand.Command("PSET BAUD 48"), 0);
    EXPECT_EQ(peer.Received(), "PSET BAUD 48\r");
    EXPECT_EQ(peer.HostBaud(), 9600);
}

TEST_F(HandOnPty, ARateSwitchThatFailsIsDropped) {
    peer.Play({{.send = ""}});
    EXPECT_EQ(hand.SetHandBaud(4294967295u), -4);
    EXPECT_EQ(peer.Received(), "PSET BAUD 42949672\r");
    peer.ClearReceived();
    peer.Answer("");
    EXPECT_EQ(hand.Open("G"), 0);
    EXPECT_EQ(peer.Received(), "GO\r");  // no second attempt, no lone CR
    EXPECT_EQ(peer.HostBaud(), 9600);
}

struct FailedSwitchCase {
    const char* name;
    int startBaud;
    bool wakesFirst;         // a lone CR, answered, goes out before the command
    int (*command)(ZHand&);  // a RESET or PSET BAUD whose echo never comes
};

void PrintTo(const FailedSwitchCase& c, std::ostream* os) {
    *os << c.name;
}

class FailedSwitch : public HandOnPty, public ::testing::WithParamInterface<FailedSwitchCase> {};

// The switch belongs to its command: when that fails before its echo, the
// next, unrelated command runs at the rate of before from first to last byte.
TEST_P(FailedSwitch, DiesWithItsCommand) {
    const FailedSwitchCase& c = GetParam();
    ASSERT_EQ(hand.SetBaudRate(c.startBaud), 0);
    if (c.wakesFirst) peer.Play({{.send = "\r\n=> "}});
    EXPECT_EQ(c.command(hand), -9);
    ASSERT_TRUE(peer.WaitScriptDone(1000));
    peer.ClearReceived();
    peer.Play({{.send = "\r\n=> ", .delayMs = 50}});
    EXPECT_EQ(hand.Open("G"), 0);
    EXPECT_EQ(peer.Received(), "GO\r");  // no lone CR of a late PSET BAUD
    auto played = peer.PlayedSteps();
    ASSERT_FALSE(played.empty());
    EXPECT_EQ(played.back().trigger, "GO\r");
    EXPECT_EQ(played.back().baudAtTrigger, c.startBaud);
    EXPECT_EQ(played.back().baudAtSend, c.startBaud);
    EXPECT_EQ(peer.HostBaud(), c.startBaud);
}

INSTANTIATE_TEST_SUITE_P(
    Framing, FailedSwitch,
    ::testing::Values(FailedSwitchCase{"Reset", 4800, true, [](ZHand& h) { return h.Reset(); }},
                      FailedSwitchCase{"SetHandBaud", 9600, false,
                                       [](ZHand& h) { return h.SetHandBaud(19200); }}),
    [](const auto& info) { return info.param.name; });

TEST_F(HandOnPty, CommandTextLimitIsTheBuffer) {
    peer.AnswerAll("");
    std::string reply = "unchanged";
    EXPECT_EQ(hand.Command(std::string(4999, 'A').c_str(), &reply), -17);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(peer.Received(20), "");
    EXPECT_EQ(hand.Command(std::string(4998, 'A').c_str()), 0);
    EXPECT_EQ(peer.Received(), std::string(4998, 'A') + "\r");
}

}  // namespace
