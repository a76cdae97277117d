// The soak: 100000 text exchanges and 100000 real-time updates of the
// Fingerprint configuration against the simulator over a real pty, meant to
// run under AddressSanitizer (scripts/soak.sh). It fails on any failed
// exchange and on memory that grows after the first tenth of each phase:
// live heap bytes (the allocator's own count) by more than 64 KiB, which any
// leak of a byte per exchange exceeds, or the resident set by more than
// 8 MiB. A leak report of AddressSanitizer at exit fails it as well.
//
//   survival_soak [EXCHANGES [UPDATES]]
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "zhand.h"
#include "zhand_sim.h"

extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace {

constexpr long kHeapSlack = 64 * 1024;
constexpr long kRssSlack = 8 * 1024 * 1024;

long HeapBytes() {
    if (__sanitizer_get_current_allocated_bytes) {
        return static_cast<long>(__sanitizer_get_current_allocated_bytes());
    }
    return static_cast<long>(mallinfo2().uordblks);
}

long RssBytes() {
    long pages = 0;
    long resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return resident * sysconf(_SC_PAGESIZE);
}

struct Phase {
    const char* name;
    long count;
    long failures = 0;
    long heapAtTenth = 0, heapAtEnd = 0;
    long rssAtTenth = 0, rssAtEnd = 0;
    double seconds = 0;

    // Runs `step` count times; each returns 0 on success.
    void Run(const std::function<int(long)>& step) {
        auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < count; ++i) {
            if (i == count / 10) {
                heapAtTenth = HeapBytes();
                rssAtTenth = RssBytes();
            }
            if (step(i) != 0 && ++failures <= 5) {
                std::fprintf(stderr, "%s %ld failed\n", name, i);
            }
        }
        heapAtEnd = HeapBytes();
        rssAtEnd = RssBytes();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    bool Report() const {
        const long heapGrowth = heapAtEnd - heapAtTenth;
        const long rssGrowth = rssAtEnd - rssAtTenth;
        const bool ok = failures == 0 && heapGrowth <= kHeapSlack && rssGrowth <= kRssSlack;
        std::printf(
            "%-15s %7ld done, %ld failed, %6.1f us each; live heap %ld -> %ld bytes (%+ld), "
            "resident %ld -> %ld KiB (%+ld) from the first tenth to the end: %s\n",
            name, count, failures, seconds * 1e6 / static_cast<double>(count), heapAtTenth,
            heapAtEnd, heapGrowth, rssAtTenth / 1024, rssAtEnd / 1024, rssGrowth / 1024,
            ok ? "ok" : "FAILED");
        return ok;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const long exchanges = argc > 1 ? std::atol(argv[1]) : 100000;
    const long updates = argc > 2 ? std::atol(argv[2]) : 100000;
    if (exchanges < 10 || updates < 10) {
        std::fprintf(stderr, "usage: survival_soak [EXCHANGES [UPDATES]] (each at least 10)\n");
        return 2;
    }

    std::string pattern = (std::filesystem::temp_directory_path() / "zhand-soak-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const std::filesystem::path dir = pattern;
    zhandsim::SimulatorOptions options;
    options.directory = dir;
    options.speed = 1000;  // moves take a thousandth of their time
    options.pace = false;  // an instant peer
    zhandsim::Simulator sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    bool ok = true;
    {
        ZHand hand;
        std::filesystem::current_path(dir);
        if (hand.Initialize(1, 0) != 0) {
            std::fprintf(stderr, "the simulated hand did not initialise\n");
            return 1;
        }
        hand.SetTimeouts(0, 10, 2000, 10, 2000);

        Phase text{"text exchanges", exchanges};
        text.Run([&](long i) -> int {
            std::array<int, 4> values{};
            int temperature = 0;
            std::string reply;
            switch (i % 4) {
                case 0:
                    return hand.Command("PGET TEMP", &reply) != 0 || reply.empty() ? 1 : 0;
                case 1:
                    return hand.GetParameters("1", "P", std::span(values).first(1)) != 0 ? 1 : 0;
                case 2:
                    return hand.GetParameters("1234", "MOV", values) != 0 ? 1 : 0;
                default:
                    return hand.GetTemperature(&temperature) != 0 ? 1 : 0;
            }
        });

        Phase realtime{"real-time", updates};
        bool started = hand.RTSetFlags("123", true, 1, false, true, 1, false, true, true, 1) == 0 &&
                       hand.RTStart("123") == 0;
        realtime.Run([&](long i) -> int {
            if (!started) return 1;
            for (char motor : {'1', '2', '3'})
                hand.RTSetVelocity(motor, static_cast<int>(i % 21) - 10);
            int rc = hand.RTUpdate(true, true);
            volatile int position = hand.RTGetPosition('1');
            (void)position;
            return rc;
        });
        const bool stopped = !started || hand.RTAbort() == 0;
        std::string reply;
        const bool answers = hand.Command("PGET TEMP", &reply) == 0;

        ok = text.Report() && ok;
        ok = realtime.Report() && ok;
        if (!stopped || !answers) {
            std::printf("the hand did not leave the loop or answer afterwards: FAILED\n");
            ok = false;
        }
    }
    sim.Stop();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);
    std::printf("soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
