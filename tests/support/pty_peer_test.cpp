// The scripted pty peer itself, from a plain host end opened on its line:
// what every other suite's checks rest on.
#include "pty_peer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using Step = PtyPeer::Step;

// The host's end of a peer's line, raw, as the driver opens it.
class Host {
  public:
    explicit Host(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios t{};
        if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            cfsetspeed(&t, B9600);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Host() {
        if (fd_ >= 0) close(fd_);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool Ready() const { return fd_ >= 0; }
    void Write(const std::string& bytes) const {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void SetBaud(speed_t speed) const {
        termios t{};
        ASSERT_EQ(tcgetattr(fd_, &t), 0);
        cfsetspeed(&t, speed);
        ASSERT_EQ(tcsetattr(fd_, TCSANOW, &t), 0);
    }
    // What arrives until `count` bytes are in or `ms` have passed.
    std::string Read(std::size_t count, int ms) const {
        std::string bytes;
        const auto giveUp = SteadyClock::now() + std::chrono::milliseconds(ms);
        while (bytes.size() < count && SteadyClock::now() < giveUp) {
            pollfd in{fd_, POLLIN, 0};
            if (poll(&in, 1, 10) <= 0 || !(in.revents & POLLIN)) continue;
            char buffer[4096];
            ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got > 0) bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return bytes;
    }
    // True once the line has hung up under the host, within `ms`.
    bool SeesHangUp(int ms) const {
        pollfd in{fd_, POLLIN, 0};
        return poll(&in, 1, ms) > 0 && (in.revents & POLLHUP) != 0;
    }

  private:
    int fd_;
};

// The host reads `expected` back, and nothing more for a while.
void ExpectBack(const Host& host, const std::string& expected) {
    EXPECT_EQ(host.Read(expected.size(), 2000), expected);
    EXPECT_EQ(host.Read(1, 100), "") << "after " << ::testing::PrintToString(expected);
}

// Waits until the peer has read `count` bytes from the host.
bool PeerHas(PtyPeer& peer, std::size_t count) {
    const auto giveUp = SteadyClock::now() + 2s;
    while (peer.Received().size() < count && SteadyClock::now() < giveUp)
        std::this_thread::sleep_for(1ms);
    return peer.Received().size() >= count;
}

struct StepCase {
    const char* name;
    std::vector<Step> steps;
    std::string hostWrites;
    std::string back;                   // what the host reads back
    std::vector<std::string> triggers;  // the steps played, by trigger
};

void PrintTo(const StepCase& c, std::ostream* os) {
    *os << c.name;
}

class Steps : public ::testing::TestWithParam<StepCase> {};

TEST_P(Steps, PlayOnTheirTriggerAndSendWhatTheySay) {
    const StepCase& c = GetParam();
    PtyPeer peer;
    Host host(peer.SlavePath());
    ASSERT_TRUE(host.Ready());
    peer.Play(c.steps);
    host.Write(c.hostWrites);
    ExpectBack(host, c.back);
    std::vector<std::string> triggers;
    for (const PtyPeer::Played& played : peer.PlayedSteps()) triggers.push_back(played.trigger);
    EXPECT_EQ(triggers, c.triggers);
    EXPECT_EQ(peer.Received(), c.hostWrites);
}

std::string Repeated(const std::string& piece, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += piece;
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    PtyPeer, Steps,
    ::testing::Values(StepCase{"EchoAndReplyToACommand",
                               {{.send = "25\r\n=> "}},
                               "PGET TEMP\r",
                               "PGET TEMP25\r\n=> ",
                               {"PGET TEMP\r"}},
                      StepCase{"ExactByteCountWithoutEcho",
                               {{.expect = 3, .echo = false, .send = "*ab"}},
                               "Cxy",
                               "*ab",
                               {"Cxy"}},
                      StepCase{"StepsInTurn",
                               {{.send = "1"}, {.expect = 1, .echo = false, .send = "2"}},
                               "A\rBC",
                               "A12",
                               {"A\r", "B"}},
                      StepCase{
                          "ATriggerNotAllThereWaits", {{.expect = 4, .send = "!"}}, "abc", "", {}},
                      StepCase{"Silence", {{.echo = false, .send = ""}}, "GO\r", "", {"GO\r"}},
                      StepCase{"NoScriptNoAnswer", {}, "GO\r", "", {}},
                      StepCase{"Flood",
                               {{.echo = false, .send = "xyz", .times = 5000}},
                               "\r",
                               Repeated("xyz", 5000),
                               {"\r"}}),
    [](const auto& info) { return info.param.name; });

TEST(PtyPeer, ADelayHoldsTheReplyBackButNotTheEcho) {
    PtyPeer peer;
    Host host(peer.SlavePath());
    peer.Play({{.send = "!", .delayMs = 300}});
    const auto start = SteadyClock::now();
    host.Write("GO\r");
    ExpectBack(host, "GO");
    ExpectBack(host, "!");
    EXPECT_GE(SteadyClock::now() - start, 290ms);
}

TEST(PtyPeer, RecordsEveryByteWithTheRateTheHostHadSet) {
    PtyPeer peer;
    Host host(peer.SlavePath());
    host.Write("ab");
    ASSERT_TRUE(PeerHas(peer, 2));
    host.SetBaud(B19200);
    EXPECT_EQ(peer.HostBaud(), 19200);
    host.Write("cd");
    ASSERT_TRUE(PeerHas(peer, 4));
    host.SetBaud(B4800);
    host.Write("e");
    ASSERT_TRUE(PeerHas(peer, 5));
    using A = PtyPeer::Arrival;
    EXPECT_EQ(peer.Arrivals(), (std::vector<A>{{"ab", 9600}, {"cd", 19200}, {"e", 4800}}));
    EXPECT_EQ(peer.Received(), "abcde");
    peer.ClearReceived();
    EXPECT_EQ(peer.Arrivals(), std::vector<A>{});
    host.Write("f");
    ASSERT_TRUE(PeerHas(peer, 1));
    EXPECT_EQ(peer.Arrivals(), (std::vector<A>{{"f", 4800}}));
}

TEST(PtyPeer, StepAndLineRatesAreThoseOfTheHost) {
    PtyPeer peer;
    Host host(peer.SlavePath());
    peer.Play({{.send = "!", .waitBaud = 19200}});
    host.Write("GO\r");
    ExpectBack(host, "GO");
    host.SetBaud(B19200);
    ExpectBack(host, "!");
    const auto played = peer.PlayedSteps();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].baudAtTrigger, 9600);
    EXPECT_EQ(played[0].baudAtSend, 19200);
    EXPECT_EQ(peer.HostInputBaud(), 19200);
}

TEST(PtyPeer, TakesTheCommandsOnceEachAndKeepsAnUnfinishedOne) {
    PtyPeer peer;
    Host host(peer.SlavePath());
    host.Write("GO\rGC\rPG");
    ASSERT_TRUE(PeerHas(peer, 8));
    EXPECT_EQ(peer.TakeCommands(), (std::vector<std::string>{"GO", "GC"}));
    EXPECT_EQ(peer.TakeCommands(), std::vector<std::string>{});
    host.Write("ET\r\r");
    ASSERT_TRUE(PeerHas(peer, 12));
    EXPECT_EQ(peer.TakeCommands(), (std::vector<std::string>{"PGET", ""}));
}

TEST(PtyPeer, AnswersWhatNoStepIsLeftFor) {
    PtyPeer peer;
    Host host(peer.SlavePath());
    peer.Play({{.send = "first\r\n=> "}});
    peer.AnswerCommands([](const std::string& command) -> std::optional<std::string> {
        if (command == "Q") return std::nullopt;
        return "<" + command + ">";
    });
    host.Write("A\r");
    ExpectBack(host, "Afirst\r\n=> ");
    host.Write("B\r");
    ExpectBack(host, "B\r\n<B>\r\n=> ");
    host.Write("Q\r");
    ExpectBack(host, "");  // silence, not even the echo
    host.Write("C\r");
    ExpectBack(host, "C\r\n<C>\r\n=> ");

    peer.AnswerAll("ok");
    host.Write("GO\r");
    ExpectBack(host, "GOok\r\n=> ");
    peer.StopAnswering();
    host.Write("GO\r");
    ExpectBack(host, "");
}

TEST(PtyPeer, AResponderTakesWhatItSaysAndWaitsForTheRest) {
    PtyPeer peer;
    Host host(peer.SlavePath());
    // Two bytes at a time, sent back swapped.
    peer.RespondWith([](std::string_view input, std::string& reply) -> std::size_t {
        if (input.size() < 2) return 0;
        reply += input[1];
        reply += input[0];
        return 2;
    });
    host.Write("abcde");
    ExpectBack(host, "badc");
    host.Write("f");
    ExpectBack(host, "fe");
}

TEST(PtyPeer, ClearingTheScriptReturnsWhatWasPlayedAndDropsTheRest) {
    PtyPeer peer;
    Host host(peer.SlavePath());
    peer.Play(
        {{.expect = 2, .echo = false, .send = "1"}, {.expect = 2, .echo = false, .send = "2"}});
    host.Write("ab");
    ExpectBack(host, "1");
    host.Write("c");  // half a trigger, thrown away with its step
    ASSERT_TRUE(PeerHas(peer, 3));
    const auto played = peer.ClearScript();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].trigger, "ab");
    EXPECT_TRUE(peer.PlayedSteps().empty());
    EXPECT_TRUE(peer.WaitScriptDone(0));
    peer.Play({{.expect = 2, .echo = false, .send = "3"}});
    host.Write("de");
    ExpectBack(host, "3");
    EXPECT_EQ(peer.PlayedSteps().at(0).trigger, "de");
}

TEST(PtyPeer, HangsUpAndComesBackUnderTheSameLink) {
    PtyPeer peer;
    const std::string link = peer.Dir() + "/COM1";
    {
        Host host(link);
        ASSERT_TRUE(host.Ready());
        // A hang-up throws away what the host has not read yet: no reply here.
        peer.Play({{.echo = false, .send = "", .hangUp = true}});
        host.Write("X\r");
        EXPECT_TRUE(host.SeesHangUp(500));
    }
    EXPECT_FALSE(std::filesystem::exists(link));  // the link points nowhere
    peer.Relink();
    Host host(link);
    ASSERT_TRUE(host.Ready());
    peer.Answer("back");
    host.Write("Y\r");
    ExpectBack(host, "Yback\r\n=> ");
    EXPECT_EQ(peer.Received(), "X\rY\r");  // the record carries on

    peer.HangUp();
    EXPECT_TRUE(host.SeesHangUp(500));
}

TEST(PtyPeer, HoldingTheHostsEndKeepsItRawAndCanEmptyIt) {
    PtyPeer held({.holdHostEnd = true});
    PtyPeer plain;
    EXPECT_FALSE(plain.DiscardUnreadByHost());

    termios t{};
    ASSERT_EQ(tcgetattr(held.MasterFd(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON), 0u);
    held.Send("before the host");  // no line discipline echoes it back
    ASSERT_EQ(tcgetattr(plain.MasterFd(), &t), 0);
    EXPECT_NE(t.c_lflag & ECHO, 0u);

    Host host(held.SlavePath());
    held.Send("unread");
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(held.DiscardUnreadByHost());
    ExpectBack(host, "");
    EXPECT_EQ(held.Received(20), "");
}

TEST(PtyPeer, MeasuresTheCpuTimeOfItsThread) {
    PtyPeer peer;
    Host host(peer.SlavePath());
    const double before = peer.ThreadCpuMicros();
    peer.AnswerAll("");
    for (int i = 0; i < 200; ++i) {
        host.Write("A\r");
        ASSERT_EQ(host.Read(6, 500), "A\r\n=> ");
    }
    EXPECT_GT(peer.ThreadCpuMicros(), before);
}

}  // namespace
