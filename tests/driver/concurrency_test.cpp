// The hand-over between caller and I/O thread: modes, waits, callbacks,
// completions under load and the destructor.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hand_fixture.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> callbackCount{0};
std::atomic<bool> callbackOnIoThread{false};
std::thread::id callerThread;

void CountCallback(ZHand*) {
    ++callbackCount;
    callbackOnIoThread = std::this_thread::get_id() != callerThread;
}

class HandOver : public HandOnPty {
  protected:
    void SetUp() override {
        HandOnPty::SetUp();
        callbackCount = 0;
        callbackOnIoThread = false;
        callerThread = std::this_thread::get_id();
    }
};

TEST_F(HandOver, AsyncHandsOverOnceAndRefusesASecondRequestWhilePending) {
    hand.mode = ZHand::ModeAsync;
    peer.Play({{.send = "\r\n=> ", .delayMs = 150}});
    EXPECT_EQ(hand.Open("G"), -14);
    EXPECT_TRUE(hand.IsBusy());
    EXPECT_EQ(hand.Close("G"), -13);
    EXPECT_EQ(hand.MoveTo("G", 5), -13);
    EXPECT_STREQ(hand.CommandText(), "GO\r");  // the pending command is untouched
    EXPECT_EQ(hand.WaitDone(-1), 0);
    EXPECT_FALSE(hand.IsBusy());
    EXPECT_EQ(hand.result, 0);
    EXPECT_EQ(peer.Received(20), "GO\r");
}

TEST_F(HandOver, AsyncResultHoldsTheHandsAnswer) {
    hand.mode = ZHand::ModeAsync;
    peer.Answer("ERR 6");
    EXPECT_EQ(hand.Command("XX"), -14);
    EXPECT_EQ(hand.WaitDone(2000), 0);
    EXPECT_EQ(hand.result, 6);
    EXPECT_STREQ(hand.ReplyText(), "ERR 6");
    EXPECT_EQ(hand.WaitDone(0), 0);  // nothing pending any more
}

TEST_F(HandOver, WaitDoneWithALimitTimesOutInTime) {
    ASSERT_EQ(hand.SetTimeouts(0, 1, 2000, 1, 2000), 0);
    hand.mode = ZHand::ModeAsync;
    peer.Play({{.send = "\r\n=> ", .delayMs = 400}});
    EXPECT_EQ(hand.Open("G"), -14);
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.WaitDone(60), -12); });
    EXPECT_GE(ms, 55);
    EXPECT_LT(ms, 300);
    EXPECT_TRUE(hand.IsBusy());
    EXPECT_EQ(hand.WaitDone(-1), 0);
    EXPECT_EQ(hand.result, 0);
}

TEST_F(HandOver, ASyncRequestThatOutlastsTheTimeoutStaysPendingForTheNext) {
    ASSERT_EQ(hand.SetTimeouts(0, 1, 2000, 1, 2000), 0);
    hand.timeout = 50;
    peer.Play({{.send = "\r\n=> ", .delayMs = 250}, {.send = "7\r\n=> "}});
    long ms = ElapsedMs([&] { EXPECT_EQ(hand.Open("G"), -12); });
    EXPECT_LT(ms, 200);
    EXPECT_TRUE(hand.IsBusy());
    hand.timeout = -1;
    EXPECT_EQ(hand.Command("PGET TEMP"), 0);  // waits for the first, then runs
    EXPECT_STREQ(hand.ReplyText(), "7");
    EXPECT_EQ(peer.Received(), "GO\rPGET TEMP\r");
}

TEST_F(HandOver, CallbackModeSendsNothingAndCallsBackOnTheCallersThread) {
    hand.callback = CountCallback;
    hand.mode = ZHand::ModeCallback;
    EXPECT_EQ(hand.Open("G"), 0);
    EXPECT_EQ(callbackCount, 1);
    EXPECT_FALSE(callbackOnIoThread);
    EXPECT_STREQ(hand.CommandText(), "GO\r");
    EXPECT_EQ(hand.result, 0);
    EXPECT_EQ(peer.Received(30), "");
}

TEST_F(HandOver, CallbackModeStillAsksTheHandForValues) {
    hand.mode = ZHand::ModeCallback;
    hand.callback = CountCallback;
    peer.Answer("11 22");
    std::array<int, 2> values{};
    EXPECT_EQ(hand.GetParameters("12", "P", values), 0);
    EXPECT_EQ(values, (std::array<int, 2>{11, 22}));
    peer.Answer("333");
    int temperature = 0;
    EXPECT_EQ(hand.GetTemperature(&temperature), 0);
    EXPECT_EQ(temperature, 33);
    EXPECT_EQ(hand.mode, ZHand::ModeCallback);
    EXPECT_EQ(peer.Received(), "12FGET P\rPGET TEMP\r");
}

TEST_F(HandOver, TheCallbackFollowsEveryCompletionOnTheIoThread) {
    hand.callback = CountCallback;
    peer.AnswerAll("");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(hand.Open("G"), 0);
    EXPECT_EQ(hand.Delay(1), 0);
    hand.callback = nullptr;  // taken over at completion: no call for the next request
    EXPECT_EQ(hand.Open("G"), 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(callbackCount, 6);
    EXPECT_TRUE(callbackOnIoThread);
}

// What each callback found of the request it follows.
struct Seen {
    std::string command;
    std::string reply;
    bool operator==(const Seen&) const = default;
};
void PrintTo(const Seen& s, std::ostream* os) {
    *os << ::testing::PrintToString(s.command) << " answered " << ::testing::PrintToString(s.reply);
}
std::mutex seenMutex;
std::vector<Seen> seen;

void RecordingCallback(ZHand* hand) {
    std::this_thread::sleep_for(30ms);  // ample time for the caller to compose its next command
    std::lock_guard lock(seenMutex);
    seen.push_back({hand->CommandText(), hand->ReplyText()});
}

TEST_F(HandOver, ACallbackReadsItsOwnCommandAndReplyWhileTheCallerGoesOn) {
    seen.clear();
    for (int i = 0; i < 3; ++i) peer.Answer("reply " + std::to_string(i));
    hand.callback = RecordingCallback;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(hand.Command(("C" + std::to_string(i)).c_str()), 0);
    hand.callback = nullptr;
    EXPECT_EQ(hand.Delay(1), 0);  // composed once the last callback has returned
    std::lock_guard lock(seenMutex);
    EXPECT_EQ(seen,
              (std::vector<Seen>{{"C0\r", "reply 0"}, {"C1\r", "reply 1"}, {"C2\r", "reply 2"}}));
}

// A callback that holds the I/O thread until the caller says it is awake.
struct Latch {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool openWhenCalledBack = false;
};
Latch callerAwake;

void WaitForTheCaller(ZHand*) {
    std::unique_lock lock(callerAwake.mutex);
    callerAwake.changed.wait_for(lock, 1s, [] { return callerAwake.open; });
    callerAwake.openWhenCalledBack = callerAwake.open;
}

TEST_F(HandOver, TheCallerIsWokenBeforeTheCallbackRuns) {
    peer.AnswerAll("");
    hand.callback = WaitForTheCaller;
    hand.mode = ZHand::ModeAsync;
    ASSERT_EQ(hand.Open("G"), -14);
    EXPECT_EQ(hand.WaitDone(500), 0);  // complete while the callback still waits
    EXPECT_FALSE(hand.IsBusy());
    EXPECT_EQ(hand.result, 0);
    {
        std::lock_guard lock(callerAwake.mutex);
        callerAwake.open = true;
    }
    callerAwake.changed.notify_all();
    hand.callback = nullptr;
    hand.mode = ZHand::ModeSync;
    EXPECT_EQ(hand.Close("G"), 0);
    std::lock_guard lock(callerAwake.mutex);
    EXPECT_TRUE(callerAwake.openWhenCalledBack);
    EXPECT_EQ(peer.Received(), "GO\rGC\r");
}

TEST_F(HandOver, TheCallbackMayBeChangedWhileARequestIsPending) {
    hand.mode = ZHand::ModeAsync;
    peer.Play({{.send = "\r\n=> ", .delayMs = 100}, {.send = "\r\n=> ", .delayMs = 100}});
    ASSERT_EQ(hand.Open("G"), -14);
    hand.callback = CountCallback;  // in effect at completion: called
    ASSERT_EQ(hand.WaitDone(2000), 0);
    ASSERT_EQ(hand.Close("G"), -14);
    hand.callback = nullptr;  // in effect at completion: no call
    ASSERT_EQ(hand.WaitDone(2000), 0);
    hand.mode = ZHand::ModeSync;
    EXPECT_EQ(hand.Delay(1), 0);
    EXPECT_EQ(callbackCount, 1);
    EXPECT_TRUE(callbackOnIoThread);
}

TEST_F(HandOver, NoCompletionIsLost) {
    peer.AnswerAll("ok");
    for (int i = 0; i < 300; ++i) {
        hand.mode = i % 3 == 0 ? ZHand::ModeSync : ZHand::ModeAsync;
        int rc = hand.Command("X");
        if (hand.mode == ZHand::ModeSync) {
            ASSERT_EQ(rc, 0) << i;
            continue;
        }
        ASSERT_EQ(rc, -14) << i;
        switch (i % 3) {
            case 1:  // poll until idle, then the wait must not block
                while (hand.IsBusy()) std::this_thread::yield();
                ASSERT_EQ(hand.WaitDone(0), 0) << i;
                break;
            default:
                ASSERT_EQ(hand.WaitDone(5000), 0) << i;
        }
        ASSERT_EQ(hand.result, 0) << i;
        ASSERT_STREQ(hand.ReplyText(), "ok") << i;
    }
}

TEST_F(OnPty, TheDestructorWaitsForAPendingRequestAndEndsTheThread) {
    PlayReset();
    auto hand = std::make_unique<ZHand>();
    ASSERT_EQ(hand->Initialize(1, 15), 0);
    hand->mode = ZHand::ModeAsync;
    peer.Play({{.send = "\r\n=> ", .delayMs = 150}});
    ASSERT_EQ(hand->Open("G"), -14);
    long ms = ElapsedMs([&] { hand.reset(); });
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, 900);
    PlayReset();
    ZHand next;  // port and instance are free again
    EXPECT_EQ(next.Initialize(1, 15), 0);
}

TEST_F(OnPty, TheDestructorCutsShortAnExchangeThatOutlastsTheTimeout) {
    PlayReset();
    auto hand = std::make_unique<ZHand>();
    ASSERT_EQ(hand->Initialize(1, 15), 0);
    ASSERT_EQ(hand->SetTimeouts(0, 100, 10000, 100, 10000), 0);
    hand->mode = ZHand::ModeAsync;
    ASSERT_EQ(hand->Command("PGET TEMP"), -14);  // the hand stays silent
    hand->timeout = 50;
    long ms = ElapsedMs([&] { hand.reset(); });
    EXPECT_LT(ms, 600);
}

std::atomic<bool> slowCallbackDone{false};

void SlowCallback(ZHand*) {
    std::this_thread::sleep_for(1500ms);
    slowCallbackDone = true;
}

TEST_F(OnPty, TheDestructorLeavesAThreadHeldInItsCallbackBehind) {
    PlayReset();
    auto hand = std::make_unique<ZHand>();
    ASSERT_EQ(hand->Initialize(1, 15), 0);
    hand->callback = SlowCallback;
    peer.AnswerAll("");
    hand->mode = ZHand::ModeAsync;
    ASSERT_EQ(hand->Open("G"), -14);
    ASSERT_EQ(hand->WaitDone(1000), 0);
    long ms = ElapsedMs([&] { hand.reset(); });  // the object is freed here
    EXPECT_GE(ms, 900);
    EXPECT_LT(ms, 1400);
    while (!slowCallbackDone) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(50ms);  // the thread ends without touching the freed object
    PlayReset();
    ZHand next;
    EXPECT_EQ(next.Initialize(1, 15), 0);
}

TEST_F(HandOver, AfterAnExitRequestEveryOperationCompletesAtOnce) {
    EXPECT_EQ(hand.Request(ZHand::RequestExit), 0);
    long ms = ElapsedMs([&] {
        EXPECT_EQ(hand.Open("G"), 0);
        EXPECT_EQ(hand.Request(ZHand::RequestExit), 0);
    });
    EXPECT_LT(ms, 100);
    EXPECT_FALSE(hand.IsBusy());
    EXPECT_EQ(peer.Received(20), "");
}

TEST(StaticHand, NeedsNoSetUpAndDestroysCleanly) {
    static ZHand unused;  // static storage, never initialised
    EXPECT_EQ(unused.mode, 0);
    EXPECT_EQ(unused.callback, nullptr);
    EXPECT_FALSE(unused.IsBusy());
}

}  // namespace
