#include "guided_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>

#include "seams.h"
#include "suite_setup.h"
#include "test_log.h"
#include "test_table.h"

namespace fs = std::filesystem;

namespace {

// 30 June 1999 21:49:08 UTC.
constexpr std::time_t kStart = 930779348;

std::mutex traceMutex;
std::vector<std::string> traced;
zhandsim::Simulator* simulator = nullptr;

std::string MakeTempDir(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
}

class SimEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        home = MakeTempDir("zhand-guided-");
        zhandsim::SimulatorOptions options;
        options.directory = home;
        options.speed = kSimSpeed;
        options.seed = 7;
        options.minSpreadVelocity = kSimMinSpreadVelocity;
        options.trace = true;
        options.traceSink = [](std::string_view line) {
            if (line.substr(0, 3) != "<- ") return;
            std::lock_guard lock(traceMutex);
            traced.emplace_back(line.substr(3));
        };
        simulator = new zhandsim::Simulator(options);
        std::string error;
        RequireForSuite(simulator->Start(&error), "the simulator does not start: " + error);
        fs::current_path(home);
        RequireForSuite(ProgramHand().Initialize(1, 15) == 0, "the hand does not open COM1");
    }
    void TearDown() override {
        fs::current_path(fs::temp_directory_path());
        // The hand keeps its port until the process ends; the simulator goes
        // with the process too, so the line never hangs up under the driver.
        std::error_code ignored;
        fs::remove(fs::path(home) / "COM1", ignored);
    }
    std::string home;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new SimEnvironment);

}  // namespace

zhandsim::Simulator& Sim() {
    return *simulator;
}

void GuidedTest::SetUp() {
    ASSERT_NE(simulator, nullptr);
    dir = MakeTempDir("zhand-guided-run-");
    fs::current_path(dir);
    UseFakeClock(kStart, 1000);
    UseKeyScript("");
    results::JournalOptions options;
    options.target = dir + "/results.db";
    options.station = "bench-3";
    options.software = "test";
    journal = std::make_unique<results::Journal>(options);
    ASSERT_TRUE(journal->Open());
    context = std::make_unique<TestStation>(journal.get());
    station = &context->station;
    FillTestTable(station->tests);
    LoadPrefs(*station);
    Sim().ClearFaults();
    Sim().SetSpeed(kSimSpeed);
    Sim().SetPace(false);
    HandCommands();
}

void GuidedTest::TearDown() {
    context.reset();
    journal.reset();
    UseTerminalKeys();
    UseRealClock();
    Sim().ClearFaults();
    Sim().SetSpeed(kSimSpeed);
    Sim().SetPace(false);
    fs::current_path(fs::temp_directory_path());
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

int GuidedTest::Run(int slot) {
    ScreenCapture screenCapture;
    capture = &screenCapture;
    const int result = station->tests.procs[slot](*station, slot);
    capture = nullptr;
    screen = screenCapture.Take();
    return result;
}

std::string GuidedTest::Log() const {
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".txt") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    return "";
}

StoreRows GuidedTest::Query(const std::string& sql) const {
    return QueryStore(dir + "/results.db", sql);
}

std::vector<std::string> GuidedTest::HandCommands() {
    std::lock_guard lock(traceMutex);
    return std::exchange(traced, {});
}

std::string MaskTimes(const std::string& log) {
    static const std::regex time(
        "[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} "
        "[0-9]{4}\n");
    return std::regex_replace(log, time, "<time>\n");
}
