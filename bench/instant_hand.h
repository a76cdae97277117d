// A hand that answers at once, on a pty linked as COM1 in a temporary
// directory: echo, a fixed reply and the prompt for text commands; the
// Fingerprint flags for the flag reads of RTStart; "*" for the loop; and
// "*" with twelve feedback bytes for each real-time update "C" with three
// velocities. It runs on its own thread so its CPU time can be told apart.
#pragma once

#include <pthread.h>

#include <atomic>
#include <string>
#include <thread>

class InstantHand {
  public:
    InstantHand();
    ~InstantHand();
    const std::string& Dir() const { return dir_; }
    // CPU time the peer thread has used, in microseconds.
    double CpuMicros() const;

  private:
    void Run();
    void Answer(std::string& pending);
    void Write(const std::string& bytes);

    int master_ = -1;
    std::string dir_;
    std::atomic<bool> stop_{false};
    bool realtime_ = false;
    std::thread thread_;
    clockid_t clock_{};
};
