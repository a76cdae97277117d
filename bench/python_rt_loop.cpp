// The C++ side of bench/python_rt_bench.py: the same real-time loop as the
// Python one, through ZHand, against a zhand-sim the script started.
//   python_rt_loop DEVICE BAUD SECONDS
// prints the updates per second and the calling thread's CPU time per
// update in microseconds.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "zhand.h"

static double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: python_rt_loop DEVICE BAUD SECONDS\n");
        return 2;
    }
    const int baud = std::atoi(argv[2]);
    const auto length = std::chrono::duration<double>(std::atof(argv[3]));
    ZHand hand;
    hand.mode = ZHand::ModeSync;
    hand.timeout = -1;
    if (hand.OpenDevice(argv[1], 15) != 0 || hand.Reset() != 0 ||
        hand.Command("123FSET LCV 1 LCVC 1 LCPG 0 LFV 1 LFVC 1 LFS 0 LFAP 1 LFDP 1 LFDPC 1") != 0 ||
        (baud != 9600 && hand.SetHandBaud(static_cast<unsigned>(baud)) != 0) ||
        hand.RTStart("123") != 0) {
        std::fprintf(stderr, "python_rt_loop: the hand did not start its loop\n");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    const double cpuStart = ThreadCpuSeconds();
    int velocity = 0;
    long updates = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < length) {
        for (char motor : {'1', '2', '3'}) hand.RTSetVelocity(motor, velocity);
        velocity = (velocity + 1) % 50;
        if (hand.RTUpdate(true, true) != 0) return 1;
        volatile int position = hand.RTGetPosition('1');
        (void)position;
        ++updates;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuStart;
    hand.RTAbort();
    std::printf("%.3f %.3f\n", updates / seconds, 1e6 * cpu / static_cast<double>(updates));
    return 0;
}
