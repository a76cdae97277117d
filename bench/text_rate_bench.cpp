// Text exchanges per second of the station's most frequent command,
// "1FGET P" (8 bytes out; the echo and "\r\n<position>\r\n=> " back),
// against zhand-sim without pacing, so that only the hosts set the rate:
//   the station's driver (GetParameters)
//   a plain pySerial loop (bench/pyserial_loop.py): write the command, read
//   its echo, read up to the prompt
// each against a simulator of its own of the same kind, both in one run.
// Every iteration runs the driver for kRoundSeconds and then the loop for as
// long, so that both meet the machine in the same state. The station runs as
// it starts the driver: its I/O thread at nice -20 where the process may,
// the caller at nice 0. The loop runs as a plain process
// (TextExchangeRates/0) and, so that the I/O thread's priority is no
// advantage, at the I/O thread's nice value (TextExchangeRates/1). Counters:
//   driver_per_s    the driver's exchanges per second
//   pyserial_per_s  the loop's
//   driver_ratio    driver_per_s / pyserial_per_s (goal: >= 1.2)
// The loop needs pySerial (Debian: python3-serial) in the interpreter named
// by ZHAND_PYTHON, default /usr/bin/python3.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "zhand.h"
#include "zhand_sim.h"

extern char** environ;

namespace {

constexpr double kRoundSeconds = 1.0;
constexpr int kStationPriority = 15;  // what the station gives Initialize
constexpr int kIoThreadNice = -20;    // the nice value the driver makes of it

// An unpaced simulator at real speed, linked as COM1 in a directory of its own.
struct Wire {
    std::filesystem::path dir;
    std::unique_ptr<zhandsim::Simulator> sim;
    bool running = false;

    Wire() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zhand-text-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        dir = pattern;
        zhandsim::SimulatorOptions options;
        options.directory = dir;
        options.pace = false;  // an instant peer
        sim = std::make_unique<zhandsim::Simulator>(options);
        std::string error;
        running = sim->Start(&error);
        if (!running) std::fprintf(stderr, "simulator: %s\n", error.c_str());
    }
    ~Wire() {
        sim->Stop();
        std::filesystem::remove_all(dir);
    }
};

struct Rate {
    long exchanges = 0;
    double seconds = 0;
};

// The driver: GetParameters("1", "P") for `seconds`.
bool DriverRound(ZHand& hand, double seconds, Rate& rate) {
    std::array<int, 1> value{};
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < seconds) {
        if (hand.GetParameters("1", "P", value) != 0) return false;
        ++rate.exchanges;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    rate.seconds += elapsed;
    return true;
}

std::string Python() {
    const char* chosen = std::getenv("ZHAND_PYTHON");
    return chosen && *chosen ? chosen : "/usr/bin/python3";
}

// Starts the loop, at the I/O thread's nice value when `elevated` (where the
// process may, else as a plain process); its standard output goes to `out`.
pid_t SpawnLoop(const std::string& device, double seconds, bool elevated, int out) {
    const std::string python = Python();
    const std::string duration = std::to_string(seconds);
    char* argv[] = {const_cast<char*>(python.c_str()), const_cast<char*>(ZHAND_PYSERIAL_LOOP),
                    const_cast<char*>(device.c_str()), const_cast<char*>(duration.c_str()),
                    nullptr};
    // A child takes the nice value of the thread that starts it.
    const id_t self = static_cast<id_t>(gettid());
    errno = 0;
    const int plain = getpriority(PRIO_PROCESS, self);
    if (elevated) setpriority(PRIO_PROCESS, self, kIoThreadNice);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, out, STDOUT_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, python.c_str(), &files, nullptr, argv, environ) != 0) pid = -1;
    if (elevated) setpriority(PRIO_PROCESS, self, plain);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// The pySerial loop for `seconds`. False, with `why`, when it did not run.
bool LoopRound(const std::string& device, double seconds, bool elevated, Rate& rate,
               std::string& why) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        why = "no pipe";
        return false;
    }
    const pid_t pid = SpawnLoop(device, seconds, elevated, pipeFds[1]);
    close(pipeFds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        why = "cannot start " + Python();
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        why = WIFEXITED(status) && WEXITSTATUS(status) == 3
                  ? "pySerial is missing in " + Python() + " (apt-get install python3-serial)"
                  : "the pySerial loop failed";
        return false;
    }
    long count = 0;
    double elapsed = 0;
    if (std::sscanf(output.c_str(), "%ld %lf", &count, &elapsed) != 2 || elapsed <= 0) {
        why = "the pySerial loop printed no figures";
        return false;
    }
    rate.exchanges += count;
    rate.seconds += elapsed;
    return true;
}

void TextExchangeRates(benchmark::State& state) {
    static Wire driverWire;
    static Wire loopWire;
    static ZHand hand;
    static bool ready = [] {
        if (!driverWire.running || !loopWire.running) return false;
        const std::filesystem::path previous = std::filesystem::current_path();
        std::filesystem::current_path(driverWire.dir);
        const bool ok = hand.Initialize(1, kStationPriority) == 0;
        std::filesystem::current_path(previous);
        return ok;
    }();
    if (!ready) {
        state.SkipWithError("the simulated hands did not start");
        return;
    }
    Rate driver;
    Rate loop;
    for (auto _ : state) {
        std::string why;
        if (!DriverRound(hand, kRoundSeconds, driver)) {
            state.SkipWithError("a driver exchange failed");
            return;
        }
        if (!LoopRound(loopWire.sim->DevicePath(), kRoundSeconds, state.range(0) != 0, loop, why)) {
            state.SkipWithError(why.c_str());
            return;
        }
    }
    const double driverRate = static_cast<double>(driver.exchanges) / driver.seconds;
    const double loopRate = static_cast<double>(loop.exchanges) / loop.seconds;
    state.counters["driver_per_s"] = driverRate;
    state.counters["pyserial_per_s"] = loopRate;
    state.counters["driver_ratio"] = driverRate / loopRate;
}

}  // namespace

BENCHMARK(TextExchangeRates)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(10)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
