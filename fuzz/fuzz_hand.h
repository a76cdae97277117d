// The process's one hand for the fuzz targets: a ZHand opened once on the
// shared pty peer, and a script of exact answers that the peer plays while an
// operation runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "pty_peer.h"
#include "zhand.h"

class FuzzHand {
  public:
    // Each read of the driver fails after this many milliseconds without
    // data; kSlowReadTimeoutMs for a second run that must not depend on timing.
    static constexpr int kReadTimeoutMs = 10;
    static constexpr int kSlowReadTimeoutMs = 600;

    // One exchange: take exactly `expect` bytes (at least one) from the host,
    // then send `send`.
    struct Step {
        std::size_t expect = 0;
        std::string send;
    };
    struct Run {
        std::vector<std::string> received;  // what the host wrote, per step played
        bool complete = false;              // every step was played to its end
        double elapsedMs = 0;               // how long the operation took
    };

    // The process's one hand; aborts when the pty or the port cannot be set up.
    static FuzzHand& Get() {
        static FuzzHand* hand = new FuzzHand();  // lives until the process ends
        return *hand;
    }

    ZHand& Hand() { return hand_; }
    // The driver's read time-out in ms (both the echo and each reply byte).
    void SetReadTimeout(int ms) {
        readTimeoutMs_ = ms;
        hand_.SetTimeouts(0, 0, ms, 0, 1000);
    }
    int ReadTimeout() const { return readTimeoutMs_; }

    // Runs `operation` on the calling thread while the peer plays `steps`.
    Run Play(const std::vector<Step>& steps, const std::function<void()>& operation) {
        std::vector<PtyPeer::Step> script;
        for (const Step& step : steps) {
            script.push_back(
                {.expect = static_cast<int>(step.expect), .echo = false, .send = step.send});
        }
        peer_.Play(std::move(script));
        Run run;
        const auto start = std::chrono::steady_clock::now();
        operation();
        run.elapsedMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        for (const PtyPeer::Played& played : peer_.ClearScript()) {
            run.received.push_back(played.trigger);
        }
        run.complete = run.received.size() == steps.size();
        peer_.ClearReceived();
        // What the peer sent that the driver did not read (after a read timed
        // out early) goes too.
        if (run.elapsedMs >= readTimeoutMs_)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        peer_.DiscardUnreadByHost();
        return run;
    }

  private:
    FuzzHand() : peer_({.holdHostEnd = true}) {
        int rc = 0;
        {
            ScopedChdir cwd(peer_.Dir());
            rc = hand_.OpenPort(1, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(peer_.Dir(), ignored);  // the open port needs the link no more
        if (rc != 0) {
            std::fprintf(stderr, "OpenPort on the fuzz pty: %d\n", rc);
            std::abort();
        }
        hand_.mode = ZHand::ModeSync;
        hand_.timeout = -1;
        SetReadTimeout(kReadTimeoutMs);
    }

    PtyPeer peer_;
    ZHand hand_;
    int readTimeoutMs_ = kReadTimeoutMs;
};
