// A link that goes away and comes back: what marks it lost, and how the same
// device is opened again, at the same rate, once it is back.
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "hand_fixture.h"

namespace {

struct LossCase {
    const char* name;
    int (*lose)(PtyPeer&, ZHand&);  // lets the device go (or not) and runs an operation
    int code;
    bool lost;
};

void PrintTo(const LossCase& c, std::ostream* os) {
    *os << c.name;
}

class Losses : public HandOnPty, public ::testing::WithParamInterface<LossCase> {};

TEST_P(Losses, MarkTheLinkLostOnlyWhenTheDeviceHasGone) {
    const LossCase& c = GetParam();
    EXPECT_FALSE(hand.LinkLost());
    EXPECT_EQ(c.lose(peer, hand), c.code);
    EXPECT_EQ(hand.LinkLost(), c.lost);
}

INSTANTIATE_TEST_SUITE_P(
    Link, Losses,
    ::testing::Values(LossCase{"HangUpMidReply",
                               [](PtyPeer& p, ZHand& h) {
                                   p.Play({{.send = "12", .hangUp = true}});
                                   return h.Command("PGET TEMP");
                               },
                               -9, true},
                      LossCase{"HangUpBeforeTheEcho",
                               [](PtyPeer& p, ZHand& h) {
                                   p.Play({{.echo = false, .send = "", .hangUp = true}});
                                   return h.Command("PGET TEMP");
                               },
                               -9, true},
                      LossCase{"HangUpWhileIdle",
                               [](PtyPeer& p, ZHand& h) {
                                   p.HangUp();
                                   return h.Open("G");
                               },
                               -11, true},
                      LossCase{"HangUpUnderARawRead",
                               [](PtyPeer& p, ZHand& h) {
                                   p.HangUp();
                                   unsigned char byte = 0;
                                   return h.ReadBytes(&byte, 1);
                               },
                               -9, true},
                      LossCase{"HangUpUnderARawWrite",
                               [](PtyPeer& p, ZHand& h) {
                                   p.HangUp();
                                   const unsigned char byte = 'X';
                                   return h.WriteBytes(&byte, 1);
                               },
                               -8, true},
                      LossCase{"SilentHand",
                               [](PtyPeer&, ZHand& h) { return h.Command("PGET TEMP"); }, -9,
                               false},
                      LossCase{"HandError",
                               [](PtyPeer& p, ZHand& h) {
                                   p.Answer("ERR 5");
                                   return h.Command("PGET TEMP");
                               },
                               5, false}),
    [](const auto& info) { return info.param.name; });

// Tries the other program's way into the host's device: refused while the
// driver holds it.
void ExpectHeldExclusively(const std::string& device) {
    int other = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (other >= 0) {  // TIOCEXCL refuses the open itself, except to root
        EXPECT_EQ(geteuid(), 0u);
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
}

TEST_F(HandOnPty, ARequestReopensTheDeviceOnceItIsBackAtTheSameRate) {
    ASSERT_EQ(hand.SetBaudRate(19200), 0);
    peer.Play({{.send = "12", .hangUp = true}});
    EXPECT_EQ(hand.Command("PGET TEMP"), -9);
    ASSERT_TRUE(hand.LinkLost());
    EXPECT_EQ(hand.Open("G"), -11);  // tried once, the device is still away
    EXPECT_TRUE(hand.LinkLost());

    peer.Relink();
    peer.ClearReceived();
    peer.Answer("25");
    EXPECT_EQ(hand.Command("PGET TEMP"), 0);
    EXPECT_STREQ(hand.ReplyText(), "25");
    EXPECT_FALSE(hand.LinkLost());
    EXPECT_EQ(peer.Received(), "PGET TEMP\r");
    EXPECT_EQ(peer.HostBaud(), 19200);
    EXPECT_EQ(peer.HostInputBaud(), 19200);
    termios t{};
    ASSERT_EQ(tcgetattr(peer.MasterFd(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    ExpectHeldExclusively(peer.SlavePath());
    // The read time-out is still the 300 ms set before, not OpenPort's 15 s.
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.Command("GO"), -9); });
    EXPECT_LT(ms, 3000);
    EXPECT_FALSE(hand.LinkLost());
}

TEST_F(HandOnPty, ReconnectWaitsForTheDeviceAndSendsNothing) {
    EXPECT_TRUE(hand.Reconnect());  // a link that is up stays as it is
    EXPECT_FALSE(hand.LinkLost());
    peer.HangUp();
    EXPECT_FALSE(hand.Reconnect());  // finds the hang-up without a request
    EXPECT_TRUE(hand.LinkLost());
    EXPECT_FALSE(hand.Reconnect());
    peer.Relink();
    EXPECT_TRUE(hand.Reconnect());
    EXPECT_FALSE(hand.LinkLost());
    EXPECT_EQ(peer.Received(50), "");
    EXPECT_EQ(peer.HostBaud(), 9600);
    peer.Answer("");
    EXPECT_EQ(hand.Open("G"), 0);
    EXPECT_EQ(peer.Received(), "GO\r");
}

TEST_F(HandOnPty, ADeviceThatAnotherProgramTookWhileAwayStaysLost) {
    peer.HangUp();
    EXPECT_FALSE(hand.Reconnect());
    peer.Relink();
    int other = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(hand.Reconnect());
    EXPECT_EQ(hand.Open("G"), -11);
    EXPECT_TRUE(hand.LinkLost());
    close(other);
    EXPECT_TRUE(hand.Reconnect());
    peer.Answer("");
    EXPECT_EQ(hand.Open("G"), 0);
}

}  // namespace
