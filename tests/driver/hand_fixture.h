// Test fixtures: a scripted peer linked as COM1 in a private directory that
// the test runs in, and a hand connected to it with short time-outs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>

#include "pty_peer.h"
#include "zhand.h"

// A peer on COM1 and the working directory beside it; no hand yet.
class OnPty : public ::testing::Test {
  protected:
    PtyPeer peer;
    ScopedChdir cwd{peer.Dir()};

    // Answers the lone CR and the RESET with which Initialize ends.
    void PlayReset() { peer.Play({{.send = "\r\n=> "}, {.send = "\r\n=> "}}); }
};

// A hand initialised against the peer; reads time out after ~0.3 s.
class HandOnPty : public OnPty {
  protected:
    ZHand hand;

    void SetUp() override {
        PlayReset();
        ASSERT_EQ(hand.Initialize(1, 15), 0);
        ASSERT_EQ(hand.SetTimeouts(0, 1, 300, 1, 300), 0);
        ASSERT_TRUE(peer.WaitScriptDone(1000));
        peer.ClearReceived();
    }
};

// Milliseconds taken by `action`.
template <typename Action>
long ElapsedMs(Action&& action) {
    auto start = std::chrono::steady_clock::now();
    action();
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}
