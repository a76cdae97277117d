// Host cost of the two exchanges the station runs most: a parameter read in
// text ("1FGET P") and a real-time update of the Fingerprint test, against
// a peer that answers at once. Counters per exchange:
//   host_cpu_us  CPU of the station side (process minus peer thread)
//   wire_us      time the same bytes take on a 9600 baud line (bytes x 10 / 9600)
//   overhead_pct host_cpu_us as a share of wire_us (goal: below 2)
#include <benchmark/benchmark.h>
#include <time.h>

#include <array>

#include "instant_answers.h"
#include "pty_peer.h"
#include "zhand.h"

namespace {

double ProcessCpuMicros() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double WireMicros(int bytes) {
    return bytes * 10.0 / 9600.0 * 1e6;
}

// One peer and one hand for the whole program: the driver allows one hand.
struct PeerAndHand {
    PtyPeer peer;
    ZHand hand;
    bool ready = false;

    PeerAndHand() {
        peer.RespondWith(InstantAnswers());
        ScopedChdir cwd(peer.Dir());
        ready = hand.Initialize(1, 15) == 0;
    }
};

PeerAndHand& ThePeerAndHand() {
    static PeerAndHand both;
    return both;
}

template <typename Exchange>
void Measure(benchmark::State& state, int wireBytes, Exchange exchange) {
    PeerAndHand& s = ThePeerAndHand();
    if (!s.ready) {
        state.SkipWithError("the hand did not initialise");
        return;
    }
    double cpuStart = ProcessCpuMicros() - s.peer.ThreadCpuMicros();
    for (auto _ : state) {
        if (exchange(s.hand) != 0) {
            state.SkipWithError("exchange failed");
            return;
        }
    }
    double hostCpu = (ProcessCpuMicros() - s.peer.ThreadCpuMicros() - cpuStart) /
                     static_cast<double>(state.iterations());
    state.counters["host_cpu_us"] = hostCpu;
    state.counters["wire_us"] = WireMicros(wireBytes);
    state.counters["overhead_pct"] = 100.0 * hostCpu / WireMicros(wireBytes);
}

void TextExchange(benchmark::State& state) {
    // Out: "1FGET P\r" (8). Back: echo (7), "\r\n12345\r\n=> " (12).
    Measure(state, 8 + 7 + 12, [](ZHand& hand) {
        std::array<int, 1> value{};
        return hand.GetParameters("1", "P", value);
    });
}

void FingerprintUpdate(benchmark::State& state) {
    PeerAndHand& s = ThePeerAndHand();
    if (s.ready && s.hand.RTStart("123") != 0) {
        state.SkipWithError("RTStart failed");
        return;
    }
    // Out: "C" and three velocities (4). Back: "*" and twelve feedback bytes (13).
    int velocity = 0;
    Measure(state, 4 + 13, [&](ZHand& hand) {
        for (char motor : {'1', '2', '3'}) hand.RTSetVelocity(motor, velocity);
        velocity = (velocity + 1) % 100;
        int rc = hand.RTUpdate(true, true);
        benchmark::DoNotOptimize(hand.RTGetPosition('1'));
        return rc;
    });
    if (s.ready) s.hand.RTAbort();
}

}  // namespace

BENCHMARK(TextExchange)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(FingerprintUpdate)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
