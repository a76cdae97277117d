// zhand-report against stores and log folders of a factory's size: the html
// command over 10 000 runs and about a million measurements (goal: under
// 5 s), and the import of 5 000 text logs into an empty store (goal: under
// 10 s). Each figure is the wall time of the program itself, started as a
// user starts it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_ids.h"
#include "sqlite_store.h"
#include "station_logs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kUnits = 1000;
constexpr int kRunsPerUnit = 10;  // 2 Fingerprint, 1 Strain Gages, 7 Multi-Axis
constexpr int kCyclesPerMultiAxis = 16;
constexpr int kLogFiles = 5000;

fs::path WorkDir() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "zhand-report-bench-XXXXXX").string();
        return fs::path(mkdtemp(pattern.data()));
    }();
    return dir;
}

// Runs the program; its CPU time (user + system, seconds) goes to *cpu.
int Run(std::vector<std::string> args, double* cpu) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = -1;
    rusage usage{};
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        wait4(pid, &status, 0, &usage);
    *cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A store as a station fills it: per unit two Fingerprints, a Strain Gages
// calibration and seven Multi-Axis runs with eight position checks a cycle.
std::string BigStore(long* measurements) {
    static long count = 0;
    static const std::string path = [] {
        const std::string file = (WorkDir() / "big.db").string();
        std::string error;
        auto store =
            results::SqliteStore::Open(file, results::SqliteStore::Mode::ReadWrite, 2000, &error);
        if (store == nullptr) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        const char* checks[8][2] = {{"F1 closed", "15100"},    {"F2 closed", "15100"},
                                    {"F3 closed", "15100"},    {"F1 open", "-500"},
                                    {"F2 open", "-500"},       {"F3 open", "-500"},
                                    {"Spread closed", "3050"}, {"Spread open", "-50"}};
        long runNumber = 0;
        for (int u = 0; u < kUnits; ++u) {
            std::vector<results::Entry> entries;
            const std::string serial = "HND" + std::to_string(1000 + u);
            for (int k = 0; k < kRunsPerUnit; ++k, ++runNumber) {
                const std::string uuid = results::NewRunUuid();
                const std::string test = k < 2    ? "Fingerprint"
                                         : k == 2 ? "Strain Gages"
                                                  : "Multi-Axis";
                const auto when = std::chrono::system_clock::time_point(
                    std::chrono::seconds(1780000000 + runNumber * 600));
                const std::string started = results::IsoTime(when);
                entries.push_back(results::RunStart{uuid, "bench", "3.0.0", serial, "AB", test,
                                                    test == "Multi-Axis" ? kCyclesPerMultiAxis : 1,
                                                    started, serial + "AB_1.txt"});
                int seq = 0;
                const auto measure = [&](std::string name, double value,
                                         std::optional<std::string> unit, std::optional<double> low,
                                         std::optional<double> high, std::optional<int> cycle) {
                    entries.push_back(
                        results::Measurement{uuid, ++seq, std::move(name), value, std::move(unit),
                                             low, high, results::Verdict(value, low, high), cycle});
                    ++count;
                };
                const double noise = static_cast<double>((runNumber * 7919) % 97) / 97.0;
                if (test == "Fingerprint") {
                    measure("Minimum velocity", 20 + 5 * noise, {}, {}, {}, {});
                    for (int m = 1; m <= 4; ++m)
                        for (const char* f :
                             {"MinClse", "AvgClse", "MaxClse", "MinOpen", "AvgOpen", "MaxOpen"})
                            measure("M" + std::to_string(m) + " " + f,
                                    (m == 4 ? 3000 : 16000) + 20 * noise, "counts", {}, {}, {});
                    for (int f = 1; f <= 3; ++f)
                        for (const char* t : {"Clse20", "Open20", "Clse55", "Open55", "Clse75",
                                              "Open75", "Clse100", "Open100"})
                            measure("F" + std::to_string(f) + " " + t, 0.5 + noise, "s", {}, {},
                                    {});
                } else if (test == "Strain Gages") {
                    for (int f = 1; f <= 3; ++f)
                        for (int g : {0, 250, 500, 1000, 1500, 2000})
                            measure("F" + std::to_string(f) + " " + std::to_string(g) + "g",
                                    g * 0.12 + 3 * noise, {}, {}, {}, {});
                } else {
                    for (int c = 1; c <= kCyclesPerMultiAxis; ++c)
                        for (const auto& check : checks) {
                            const double bound = std::atof(check[1]);
                            const bool closed = bound > 0;
                            const double value =
                                closed ? bound + 400 + 300 * noise : 10 + 20 * noise;
                            measure(check[0], value, "counts",
                                    closed ? std::optional<double>(bound) : std::nullopt,
                                    closed ? std::nullopt : std::optional<double>(-bound), c);
                        }
                    measure("Maximum temperature", 38 + 4 * noise, "C", {}, {}, {});
                    entries.push_back(
                        results::Event{uuid, ++seq, started, 3, "F2", "NO BREAKAWAY",
                                       "F2 NO BREAKAWAY in cycle 3 at Thu Dec 10 09:53:12 2026"});
                }
                entries.push_back(
                    results::RunEnd{uuid, started, k == 5 ? "fail" : "pass", 1, k == 5 ? 1 : 0});
            }
            if (!store->ApplyAll(entries, &error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                std::abort();
            }
        }
        return file;
    }();
    *measurements = count;
    return path;
}

void BM_HtmlOverTenThousandRuns(benchmark::State& state) {
    long measurements = 0;
    const std::string store = BigStore(&measurements);
    const std::string out = (WorkDir() / "report.html").string();
    double cpu = 0;
    for (auto _ : state) {
        if (Run({ZHAND_REPORT_PATH, "html", "--results", store, "-o", out}, &cpu) != 0)
            state.SkipWithError("html failed");
    }
    state.counters["program_cpu_s"] = cpu;
    state.counters["runs"] = kUnits * kRunsPerUnit;
    state.counters["measurements"] = static_cast<double>(measurements);
    state.counters["html_MB"] = static_cast<double>(fs::file_size(out)) / 1e6;
}
BENCHMARK(BM_HtmlOverTenThousandRuns)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3);

// Five thousand logs of one to three tests each, as old stations leave them.
std::vector<std::string> LogFiles() {
    static const std::vector<std::string> files = [] {
        const fs::path dir = WorkDir() / "logs";
        fs::create_directories(dir);
        std::vector<std::string> names;
        station_logs::FingerprintFigures fp;
        for (auto& motor : fp.encoder) motor = {15990, 16000, 16010, 40, 50, 60};
        for (auto& finger : fp.milliseconds)
            finger = {2400, 2300, 2000, 1900, 1700, 1600, 1500, 1400};
        const std::time_t t0 = 1780000000;
        for (int i = 0; i < kLogFiles; ++i) {
            const std::time_t at = t0 + i * 900;
            std::string log = station_logs::FingerMovement(2, at);
            log += station_logs::MultiAxis("Multi-Axis", 1500, at + 60,
                                           {{"F2", "NO BREAKAWAY", 3 + i % 50, at + 90},
                                            {"Spread", "DID NOT FULLY OPEN", 40 + i % 70, at + 95}},
                                           {}, 40 + i % 5);
            if (i % 2 == 0) log += station_logs::Fingerprint(at + 300, fp);
            const std::string name = "HND" + std::to_string(10000 + i / 5) + "AB260601_" +
                                     std::to_string(1 + i % 5) + ".txt";
            std::ofstream((dir / name).string(), std::ios::binary) << log;
            names.push_back((dir / name).string());
        }
        return names;
    }();
    return files;
}

void BM_ImportFiveThousandLogs(benchmark::State& state) {
    const std::vector<std::string> files = LogFiles();
    long bytes = 0;
    for (const std::string& f : files) bytes += static_cast<long>(fs::file_size(f));
    int round = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string store =
            (WorkDir() / ("import" + std::to_string(round++) + ".db")).string();
        std::vector<std::string> args = {ZHAND_REPORT_PATH, "import", "--results", store};
        args.insert(args.end(), files.begin(), files.end());
        state.ResumeTiming();
        if (Run(args, &cpu) != 0) state.SkipWithError("import failed");
    }
    state.counters["program_cpu_s"] = cpu;
    state.counters["files"] = kLogFiles;
    state.counters["log_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ImportFiveThousandLogs)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    setenv("TZ", "UTC", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(WorkDir());
    return 0;
}
