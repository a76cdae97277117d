// Real-time updates per second of the Fingerprint configuration (motors
// "123": "C" and three velocities out, "*" and twelve feedback bytes back)
// against zhand-sim at real speed pacing every byte at the line rate, as a
// technician's bench runs it, beside the wire limit of a half-duplex
// exchange: baud / (10 bits x 17 bytes). Two hosts on the same simulated
// wire, run one after the other at each rate:
//   StationUpdates  the driver (RTSetVelocity, RTUpdate, RTGetPosition)
//   BareLineUpdates the least a host can do: write 4 bytes, read 13
// so that what the simulated wire costs can be told from what the station
// costs. Each host runs as it would on its own: the station as it starts the
// driver (its I/O thread at nice -20 where the process may, the caller at
// nice 0), the bare host as a plain program. Counters:
//   updates_per_s  measured rate
//   wire_limit     updates per second the bytes alone allow
//   of_wire_pct    measured rate as a share of the wire limit
//                  (goal: >= 97 at 9600 baud, >= 92 at 38400)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "zhand.h"
#include "zhand_sim.h"

namespace {

constexpr int kUpdateBytes = 4 + 13;
constexpr int kStationPriority = 15;  // what the station gives Initialize
constexpr const char* kFingerprintFlags =
    "123FSET LCV 1 LCVC 1 LCPG 0 LFV 1 LFVC 1 LFS 0 LFAP 1 LFDP 1 LFDPC 1";

// A simulator pacing its wire, linked as COM1 in a directory of its own.
struct PacedSimulator {
    std::filesystem::path dir;
    std::unique_ptr<zhandsim::Simulator> sim;
    bool running = false;

    PacedSimulator() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zhand-wire-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        dir = pattern;
        zhandsim::SimulatorOptions options;
        options.directory = dir;
        options.pace = true;
        sim = std::make_unique<zhandsim::Simulator>(options);
        std::string error;
        running = sim->Start(&error);
        if (!running) std::fprintf(stderr, "simulator: %s\n", error.c_str());
    }
    ~PacedSimulator() {
        sim->Stop();
        std::filesystem::remove_all(dir);
    }
};

void Report(benchmark::State& state, int baud, double seconds) {
    const double rate = static_cast<double>(state.iterations()) / seconds;
    const double limit = baud / (10.0 * kUpdateBytes);
    state.counters["updates_per_s"] = rate;
    state.counters["wire_limit"] = limit;
    state.counters["of_wire_pct"] = 100.0 * rate / limit;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// --- the station's driver ---

struct PacedHand {
    PacedSimulator wire;
    ZHand hand;
    int baud = 0;  // the rate hand and port run at; 0 until ready

    PacedHand() {
        if (!wire.running) return;
        std::filesystem::path previous = std::filesystem::current_path();
        std::filesystem::current_path(wire.dir);
        bool ok = hand.Initialize(1, kStationPriority) == 0 && hand.Command(kFingerprintFlags) == 0;
        std::filesystem::current_path(previous);
        if (ok) baud = 9600;
    }
};

void StationUpdates(benchmark::State& state) {
    static PacedHand s;
    const int baud = static_cast<int>(state.range(0));
    if (s.baud == 0) {
        state.SkipWithError("the simulated hand did not initialise");
        return;
    }
    if (s.baud != baud) {
        if (s.hand.SetHandBaud(static_cast<unsigned>(baud)) != 0) {
            state.SkipWithError("the hand did not change its rate");
            return;
        }
        s.baud = baud;
    }
    if (s.hand.RTStart("123") != 0) {
        state.SkipWithError("RTStart failed");
        return;
    }
    int velocity = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (char motor : {'1', '2', '3'}) s.hand.RTSetVelocity(motor, velocity);
        velocity = (velocity + 1) % 50;
        if (s.hand.RTUpdate(true, true) != 0) {
            state.SkipWithError("update failed");
            break;
        }
        benchmark::DoNotOptimize(s.hand.RTGetPosition('1'));
    }
    const double seconds = Seconds(start);
    s.hand.RTAbort();
    Report(state, baud, seconds);
}

// --- the least a host can do on the same wire ---

class BareLine {
  public:
    BareLine() {
        if (!wire_.running) return;
        fd_ = open(wire_.sim->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) return;
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        ready_ = SetSpeed(9600) && Ask("") && Ask(kFingerprintFlags);
        if (ready_) baud_ = 9600;
    }
    ~BareLine() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ready() const { return ready_; }
    int Baud() const { return baud_; }

    // The hand answers at the new rate once it has echoed the command.
    bool SwitchTo(int baud) {
        const std::string command = "PSET BAUD " + std::to_string(baud / 100);
        std::string echo;
        if (!Send(command + "\r") || !ReadCount(command.size(), echo) || !SetSpeed(baud))
            return false;
        std::string rest;
        if (!ReadUntil("=> ", rest)) return false;
        baud_ = baud;
        return true;
    }
    bool StartLoop() {
        std::string answer;
        return Send("123LOOP\r") && ReadUntil("*", answer);
    }
    bool StopLoop() {
        std::string answer;
        return Send("\x03") && ReadUntil("=> ", answer);
    }
    bool Update(unsigned char velocity) {
        const unsigned char out[4] = {'C', velocity, velocity, velocity};
        if (write(fd_, out, sizeof out) != sizeof out) return false;
        unsigned char in[13];
        for (std::size_t got = 0; got < sizeof in;) {
            ssize_t n = read(fd_, in + got, sizeof in - got);
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
        }
        return in[0] == '*';
    }

  private:
    bool SetSpeed(int baud) {
        termios settings{};
        if (tcgetattr(fd_, &settings) != 0) return false;
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        speed_t speed = baud == 38400 ? B38400 : B9600;
        return cfsetspeed(&settings, speed) == 0 && tcsetattr(fd_, TCSANOW, &settings) == 0;
    }
    bool Send(const std::string& text) {
        return write(fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    bool ReadCount(std::size_t count, std::string& text) {
        while (text.size() < count) {
            pollfd fd{fd_, POLLIN, 0};
            char c = 0;
            if (poll(&fd, 1, 2000) != 1 || read(fd_, &c, 1) != 1) return false;
            text += c;
        }
        return true;
    }
    // Reads until `end` has arrived (2 s at most between bytes).
    bool ReadUntil(const std::string& end, std::string& text) {
        while (!text.ends_with(end)) {
            pollfd fd{fd_, POLLIN, 0};
            char c = 0;
            if (poll(&fd, 1, 2000) != 1 || read(fd_, &c, 1) != 1) return false;
            text += c;
        }
        return true;
    }
    bool Ask(const std::string& command) {
        std::string answer;
        return Send(command + "\r") && ReadUntil("=> ", answer);
    }

    PacedSimulator wire_;
    int fd_ = -1;
    int baud_ = 0;
    bool ready_ = false;
};

void BareLineUpdates(benchmark::State& state) {
    static BareLine line;
    const int baud = static_cast<int>(state.range(0));
    if (!line.Ready() || (line.Baud() != baud && !line.SwitchTo(baud)) || !line.StartLoop()) {
        state.SkipWithError("the bare line did not reach the loop");
        return;
    }
    unsigned char velocity = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!line.Update(velocity++ % 50)) {
            state.SkipWithError("update failed");
            break;
        }
    }
    const double seconds = Seconds(start);
    line.StopLoop();
    Report(state, baud, seconds);
}

}  // namespace

// Station and bare host side by side at each rate, so that both meet the
// machine in the same state.
BENCHMARK(StationUpdates)->Arg(9600)->UseRealTime()->MinTime(5.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BareLineUpdates)->Arg(9600)->UseRealTime()->MinTime(5.0)->Unit(benchmark::kMillisecond);
BENCHMARK(StationUpdates)->Arg(38400)->UseRealTime()->MinTime(5.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BareLineUpdates)->Arg(38400)->UseRealTime()->MinTime(5.0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
