// zhand-sim: a ZorvathHand controller on a pseudo-terminal, linked as ./COMn.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zhand_sim.h"

namespace {

const char* kUsage =
    "Usage: zhand-sim [OPTION]...\n"
    "A simulated ZorvathHand controller on a pseudo-terminal, linked as COMn in the\n"
    "working directory (an existing symbolic link is replaced). Serves until SIGINT\n"
    "or SIGTERM, then removes the link.\n"
    "\n"
    "  --port N          link the line as COMN, N from 1 to 9 (default 1)\n"
    "  --dir DIR         make the link and the loader files in DIR (default .)\n"
    "  --speed X         run X times faster than a real hand (default 1; with 100\n"
    "                    a finger closes in about 10 ms)\n"
    "  --instant         every byte arrives at once instead of taking its time on\n"
    "                    the wire: an instant peer for tests and benchmarks\n"
    "  --pace            every byte takes its time on the wire, 10 bits at the rate\n"
    "                    the host set (the default; kept for old command lines)\n"
    "  --trace           every command, reply and event on standard error\n"
    "  --seed N          seed of scatter, gauge and noise (default 1)\n"
    "  --min-spread-velocity V\n"
    "                    slowest closing velocity that lifts the spread against\n"
    "                    gravity (default 23)\n"
    "  --fault SPEC      give the hand a fault (repeatable, see below)\n"
    "  --help            show this text\n"
    "\n"
    "Loader data goes to COMn-eeploadr.bin (boot loader program), COMn-eeprom.bin\n"
    "(EEPROM image) and COMn-firmware.bin (64 KiB firmware memory, 0xFF where\n"
    "nothing was loaded).\n"
    "\n";

bool NumberArgument(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "zhand-sim: %s\nTry 'zhand-sim --help'.\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    zhandsim::SimulatorOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char*& text) {
            if (i + 1 >= argc) return false;
            text = argv[++i];
            return true;
        };
        const char* text = nullptr;
        double number = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(zhandsim::FaultHelp().c_str(), stdout);
            return 0;
        } else if (arg == "--instant") {
            options.pace = false;
        } else if (arg == "--pace") {
            // Pacing is the default; the option stays for old command lines.
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--port") {
            if (!value(text) || !NumberArgument(text, number) ||
                number != static_cast<int>(number) || number < 1 || number > 9)
                return Usage("--port needs a number from 1 to 9");
            options.port = static_cast<int>(number);
        } else if (arg == "--dir") {
            if (!value(text)) return Usage("--dir needs a directory");
            options.directory = text;
        } else if (arg == "--speed") {
            if (!value(text) || !NumberArgument(text, number) || !(number > 0) || number > 1e6)
                return Usage("--speed needs a number above 0");
            options.speed = number;
        } else if (arg == "--seed") {
            if (!value(text) || !NumberArgument(text, number) || number < 0 || number > 1e15 ||
                number != static_cast<double>(static_cast<long long>(number)))
                return Usage("--seed needs a whole number");
            options.seed = static_cast<std::uint64_t>(number);
        } else if (arg == "--min-spread-velocity") {
            if (!value(text) || !NumberArgument(text, number) || number < 1 || number > 255 ||
                number != static_cast<int>(number))
                return Usage("--min-spread-velocity needs a number from 1 to 255");
            options.minSpreadVelocity = static_cast<int>(number);
        } else if (arg == "--fault") {
            zhandsim::Fault fault;
            std::string error;
            if (!value(text)) return Usage("--fault needs a SPEC");
            if (!zhandsim::ParseFault(text, fault, error)) return Usage("--fault: " + error);
            options.faults.push_back(fault);
        } else {
            return Usage("unknown option '" + arg + "'");
        }
    }

    // The signals are taken by sigwait below; every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    zhandsim::Simulator simulator(options);
    std::string error;
    if (!simulator.Start(&error)) {
        std::fprintf(stderr, "zhand-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("zhand-sim: COM%d -> %s\n", options.port, simulator.DevicePath().c_str());
    for (const zhandsim::Fault& fault : options.faults)
        std::printf("zhand-sim: fault %s\n", zhandsim::DescribeFault(fault).c_str());
    std::printf("zhand-sim: ready\n");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&signals, &signal);
    simulator.Stop();
    std::printf("zhand-sim: stopped (%s)\n", strsignal(signal));
    return 0;
}
