// The driver's peer for the fuzz targets: a pseudo-terminal linked as COM1 in
// a private directory, the process's one ZHand opened on it, and a peer
// thread that plays a script of exact answers while an operation runs.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "zhand.h"

class ScriptedHand {
  public:
    // Each read of the driver fails after this many milliseconds without
    // data; kSlowReadTimeoutMs for a second run that must not depend on timing.
    static constexpr int kReadTimeoutMs = 10;
    static constexpr int kSlowReadTimeoutMs = 600;

    // One exchange: take exactly `expect` bytes from the host, then send `send`.
    struct Step {
        std::size_t expect = 0;
        std::string send;
    };
    struct Run {
        std::vector<std::string> received;  // what the host wrote, per step played
        bool complete = false;              // every step was played to its end
        double elapsedMs = 0;               // how long the operation took
    };

    // The process's one scripted hand; aborts when the pty cannot be set up.
    static ScriptedHand& Get();

    ZHand& Hand() { return hand_; }
    // The driver's read time-out in ms (both the echo and each reply byte).
    void SetReadTimeout(int ms);
    int ReadTimeout() const { return readTimeoutMs_; }
    // Runs `operation` on the calling thread while the peer plays `steps`.
    Run Play(const std::vector<Step>& steps, const std::function<void()>& operation);

  private:
    ScriptedHand();
    void Serve(const std::vector<Step>& steps, Run& run);
    bool ReadExactly(std::size_t count, std::string& bytes);
    bool WriteAll(const std::string& bytes);
    bool WaitFor(short events);
    void Drain(bool settle);

    int master_ = -1;
    int slave_ = -1;  // held open so the line never hangs up
    int stop_ = -1;   // eventfd: the operation has returned
    int readTimeoutMs_ = kReadTimeoutMs;
    ZHand hand_;
};
