// Opening and closing the link: device names, exclusivity, settings, raw bytes.
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <numeric>
#include <string>

#include "hand_fixture.h"
#include "serial_baud.h"
#include "serial_latency.h"

using zhand::detail::RateTaken;
using zhand::detail::RequestLowLatency;

namespace {

TEST_F(OnPty, PortsOutsideOneToNineCannotBeOpened) {
    for (int port : {0, 10, -1}) {
        ZHand hand;
        EXPECT_EQ(hand.Initialize(port, 15), -2) << port;
    }
}

TEST_F(OnPty, AFailedOpenLeavesTheInstanceTakenUntilItsObjectIsGone) {
    {
        ZHand failed;
        EXPECT_EQ(failed.Initialize(0, 15), -2);
        ZHand second;
        EXPECT_EQ(second.Initialize(1, 15), -1);
        EXPECT_EQ(second.mode, ZHand::ModeSync);
        EXPECT_EQ(second.timeout, -1);
    }
    PlayReset();
    ZHand hand;
    EXPECT_EQ(hand.Initialize(1, 15), 0);
    EXPECT_EQ(peer.Received(), "\rRESET\r");
}

TEST_F(OnPty, ASecondHandIsRefusedAndTouchesNothing) {
    PlayReset();
    ZHand first;
    ASSERT_EQ(first.Initialize(1, 15), 0);
    peer.ClearReceived();
    {
        ZHand second;
        second.mode = ZHand::ModeAsync;
        second.timeout = 5;
        EXPECT_EQ(second.Initialize(1, 15), -1);
        EXPECT_EQ(second.mode, ZHand::ModeSync);
        EXPECT_EQ(second.timeout, -1);
        EXPECT_EQ(second.callback, nullptr);
    }
    // The refused object's end does not free the instance of the first.
    ZHand third;
    EXPECT_EQ(third.Initialize(1, 15), -1);
    peer.AnswerAll("");
    EXPECT_EQ(first.Open("G"), 0);
    EXPECT_EQ(peer.Received(), "GO\r");
}

TEST_F(OnPty, AHandThatCouldNotOpenItsPortCompletesEveryOperationAtOnce) {
    ASSERT_EQ(unlink("COM1"), 0);
    ASSERT_EQ(symlink("/nonexistent/tty", "COM1"), 0);  // exists, but cannot be opened
    long ms = ElapsedMs([&] {
        ZHand hand;
        EXPECT_EQ(hand.Initialize(1, 15), -2);
        EXPECT_EQ(hand.Open("G"), 0);
        EXPECT_EQ(hand.Command("PGET TEMP"), 0);
        EXPECT_STREQ(hand.ReplyText(), "");
        EXPECT_FALSE(hand.IsBusy());
        EXPECT_EQ(hand.WaitDone(-1), 0);
        EXPECT_FALSE(hand.PurgePort());
        EXPECT_EQ(hand.SetTimeouts(0, 1, 1, 1, 1), -5);
        EXPECT_EQ(hand.SetBaudRate(9600), -3);
    });
    EXPECT_LT(ms, 200);
    ZHand next;  // the destructor freed the instance
    EXPECT_EQ(next.OpenPort(0, 15), -2);
}

TEST_F(OnPty, APortHeldByAnotherProgramIsRefused) {
    int other = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    {
        ZHand hand;
        EXPECT_EQ(hand.Initialize(1, 15), -2);
        EXPECT_EQ(peer.Received(20), "");
    }
    close(other);
}

TEST_F(OnPty, AnOpenPortIsHeldExclusively) {
    PlayReset();
    ZHand hand;
    ASSERT_EQ(hand.Initialize(1, 15), 0);
    int other = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (other >= 0) {  // TIOCEXCL refuses the open itself, except to root
        EXPECT_EQ(geteuid(), 0u);
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
}

TEST_F(OnPty, ThePortIsRaw8N1WithoutFlowControl) {
    PlayReset();
    ZHand hand;
    ASSERT_EQ(hand.Initialize(1, 15), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(peer.MasterFd(), &t), 0);  // the master reads the host's settings
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | PARMRK | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & (CRTSCTS | HUPCL | PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(peer.HostBaud(), 9600);
}

TEST_F(HandOnPty, AnyRateReadsBackAsSet) {
    for (int baud : {4800, 5908, 9600, 115200, 5908, 300, 1000000}) {
        EXPECT_EQ(hand.SetBaudRate(baud), 0) << baud;
        EXPECT_EQ(peer.HostBaud(), baud);
        EXPECT_EQ(peer.HostInputBaud(), baud);
    }
    EXPECT_EQ(hand.SetBaudRate(0), -4);
    EXPECT_EQ(hand.SetBaudRate(-9600), -4);
    EXPECT_EQ(peer.HostBaud(), 1000000);
}

// What an adapter reports after being asked for a rate: near enough for a
// UART frame, or a rate of its own that the link must not run at.
TEST(RateReadBack, TakesARateOnlyWhenTheDeviceRunsNearIt) {
    struct Case {
        int asked;
        int reported;
        bool taken;
    };
    // 6063 is what a UART's nearest divisor gives for 5908; a rate of 0 or
    // -1 is one the device could not report.
    const Case cases[] = {
        {5908, 5908, true},      {5908, 5900, true},    {5908, 6063, true}, {5908, 4800, false},
        {5908, 7200, false},     {5908, 6100, false},   {9600, 9600, true}, {115200, 112000, true},
        {115200, 111000, false}, {115200, 9600, false}, {5908, 0, false},   {5908, -1, false},
        {0, 0, false},           {-9600, -9600, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RateTaken(c.asked, c.reported), c.taken)
            << c.asked << " reported as " << c.reported;
    }
}

TEST_F(OnPty, LowLatencyIsLeftAloneWhereTheDeviceHasNoSuchMode) {
    int fd = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(RequestLowLatency(fd));  // a pseudo-terminal has no serial flags
    close(fd);
    PlayReset();
    ZHand hand;
    EXPECT_EQ(hand.Initialize(1, 15), 0);  // and the port opens all the same
}

TEST_F(HandOnPty, RawBytesPassUnchangedBothWays) {
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(hand.WriteBytes(reinterpret_cast<const unsigned char*>(all.data()), 256), 0);
    EXPECT_EQ(peer.Received(50), all);
    peer.Send(all);
    std::string back(256, '\0');
    EXPECT_EQ(hand.ReadBytes(reinterpret_cast<unsigned char*>(back.data()), 256), 0);
    EXPECT_EQ(back, all);
}

TEST_F(HandOnPty, RawReadsAndPurgeKeepToTheirRules) {
    unsigned char byte = 0;
    ASSERT_EQ(hand.SetTimeouts(0, 0, 80, 0, 80), 0);
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.ReadBytes(&byte, 1), -9); });
    EXPECT_GE(ms, 70);
    EXPECT_LT(ms, 400);
    peer.Send("xyz");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(hand.PurgePort());
    EXPECT_EQ(hand.ReadBytes(&byte, 1), -9);  // the purge threw "xyz" away
    peer.Send("ab");
    unsigned char two[3] = {};
    EXPECT_EQ(hand.ReadBytes(two, 3), -9);  // short read
}

TEST_F(HandOnPty, BytesTakenAheadKeepTheirOrderUntilAPurge) {
    auto read = [&](int count) {
        std::string bytes(static_cast<std::size_t>(count), '\0');
        int rc = hand.ReadBytes(reinterpret_cast<unsigned char*>(bytes.data()), count);
        return rc == 0 ? bytes : "rc " + std::to_string(rc);
    };
    peer.Send("abcdef");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // all six are in
    EXPECT_EQ(read(2), "ab");
    EXPECT_EQ(read(1), "c");
    EXPECT_EQ(read(3), "def");  // nothing more comes from the line
    EXPECT_EQ(read(1), "rc -9");
    peer.Send("ghij");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(read(1), "g");
    EXPECT_TRUE(hand.PurgePort());  // "hij" goes, however far it was read
    peer.Send("k");
    EXPECT_EQ(read(1), "k");
    EXPECT_EQ(read(1), "rc -9");
}

TEST_F(OnPty, IoThreadPriorityOutOfRangeGivesMinusSevenAndTheThreadStillWorks) {
    ZHand hand;
    EXPECT_EQ(hand.Initialize(1, 99), -7);  // no Reset after a failed open
    EXPECT_EQ(peer.Received(20), "");
    peer.AnswerAll("");
    EXPECT_EQ(hand.Open("G"), 0);
    EXPECT_EQ(peer.Received(), "GO\r");
}

TEST_F(OnPty, ASilentHandFailsTheResetAfterTheReadTimeout) {
    ZHand hand;
    ASSERT_EQ(hand.OpenPort(1, 15), 0);
    hand.mode = ZHand::ModeSync;
    hand.timeout = -1;
    ASSERT_EQ(hand.SetTimeouts(0, 1, 100, 1, 100), 0);
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.Reset(), -9); });
    EXPECT_LT(ms, 500);
    EXPECT_EQ(peer.Received(), "\r");  // the RESET is never sent
}

}  // namespace
