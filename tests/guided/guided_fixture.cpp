#include "guided_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
        options.pace = false;  // an instant peer
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
    RestoreTimeouts();
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

// Back to the time-outs the driver opens its port with.
void GuidedTest::RestoreTimeouts() {
    if (std::exchange(shortTimeouts_, false)) hand.SetTimeouts(0, 100, 15000, 100, 5000);
}

void GuidedTest::HealHand() {
    Sim().ClearFaults();
    RestoreTimeouts();
    std::error_code ignored;
    fs::remove("COM1", ignored);
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

void GuidedTest::StopHand(HandStop stop, int ahead) {
    beforeStop_ = Sim().State();
    stopAhead_ = ahead;
    cyclesBeforeStop_ = station->tests.cycles;
    zhandsim::Fault fault;
    fault.after = static_cast<int>(beforeStop_.commands) + ahead;
    if (stop == HandStop::Silent) {
        fault.kind = zhandsim::FaultKind::Silent;
        ASSERT_EQ(hand.SetTimeouts(0, 0, kSilentReadMs, 10, 2000), 0);
        shortTimeouts_ = true;
    } else {
        fault.kind = zhandsim::FaultKind::Hangup;
        fault.downMs = stop == HandStop::Hangup ? 300 : 1000;
        // The driver opens the port again by the name it opened it with.
        fs::create_symlink(Sim().LinkPath(), "COM1");
    }
    Sim().InjectFault(fault);
}

int GuidedTest::RunStopped(bool first, int slot, int count, const std::string& keys, HandStop stop,
                           int ahead) {
    if (!first) {
        TearDown();
        SetUp();
    }
    station->tests.cycles.fill(3);
    station->tests.cycles[slot] = count;
    UseKeyScript(keys);
    StopHand(stop, ahead);
    return Run(slot);
}

std::string GuidedTest::StopWords(HandStop stop) {
    return stop == HandStop::Silent ? "HAND NOT RESPONDING" : "LINK TO HAND LOST";
}

void GuidedTest::ExpectStopped(const StoppedRun& run) {
    const bool lost = run.stop != HandStop::Silent;
    const std::string words = StopWords(run.stop);
    const std::string cycle = std::to_string(run.cycle);
    const std::string log = MaskTimes(Log());
    EXPECT_EQ(Occurrences(log, "LINK TO HAND LOST") + Occurrences(log, "HAND NOT RESPONDING"), 1u)
        << log;
    EXPECT_NE(log.find("\n" + words + " in cycle " + cycle + " at <time>\n"), std::string::npos)
        << log;
    EXPECT_EQ(Query("SELECT cycle, motor, kind FROM events"), (StoreRows{{cycle, "NULL", words}}));
    EXPECT_EQ(
        Query("SELECT cycles_planned, cycles_done, outcome, errors FROM runs"),
        (StoreRows{{std::to_string(run.cycles), std::to_string(run.cyclesDone), "error", "0"}}));
    // The stopped test keeps its count, so that it can be run again.
    for (int slot = 1; slot <= kTestCount; ++slot) {
        EXPECT_EQ(station->tests.cycles[slot], slot <= run.slot ? cyclesBeforeStop_[slot] : 0)
            << "slot " << slot;
    }

    const std::string message =
        (lost ? "Link to hand lost in cycle " : "Hand not responding in cycle ") + cycle + " of " +
        std::to_string(run.cycles) + ".";
    const std::size_t shown = screen.find(CenteredRow(20, message));
    const std::size_t wait = screen.find(CenteredRow(21, "Reconnect the hand, or press Esc."));
    const std::size_t countdown = screen.find("Press any key to continue [01]...");
    EXPECT_NE(shown, std::string::npos) << message;
    if (lost) {
        EXPECT_NE(wait, std::string::npos);
        EXPECT_LT(shown, wait);
    } else {
        EXPECT_EQ(wait, std::string::npos);
    }
    if (run.stop == HandStop::HangupGivenUp) {
        EXPECT_EQ(countdown, std::string::npos);  // back to the form at once
    } else {
        EXPECT_NE(countdown, std::string::npos);
        EXPECT_LT(lost ? wait : shown, countdown);
    }

    const zhandsim::HandState after = Sim().State();
    EXPECT_EQ(after.hangups, beforeStop_.hangups + (lost ? 1 : 0));
    // The lines a silent hand ignores reach it, but are not traced; a hand
    // that is back is reset with a bare CR and "RESET".
    std::vector<std::string> sent = Head(run.healthy, stopAhead_ + (lost ? 1 : 0));
    const std::size_t received = sent.size() + static_cast<std::size_t>(run.ignored);
    if (run.stop == HandStop::Hangup) sent.insert(sent.end(), {"", "RESET"});
    EXPECT_EQ(HandCommands(), sent);
    EXPECT_EQ(after.commands - beforeStop_.commands,
              received + (run.stop == HandStop::Hangup ? 2 : 0));

    if (run.stop == HandStop::HangupGivenUp) {
        EXPECT_TRUE(hand.LinkLost());
        ASSERT_TRUE(Sim().WaitFor([](const zhandsim::HandState& s) { return s.lineUp; },
                                  std::chrono::seconds(5)));
        ASSERT_TRUE(hand.Reconnect());
        ASSERT_EQ(hand.Reset(), 0);
        HandCommands();
    } else {
        EXPECT_FALSE(hand.LinkLost());
    }
}

std::string CenteredRow(int row, const std::string& text) {
    const int indent = std::max(0, 40 - static_cast<int>(text.size()) / 2);
    return "\x1b[" + std::to_string(row + 1) + ";1H" +
           std::string(static_cast<std::size_t>(indent), ' ') + text;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size()))
        ++count;
    return count;
}

std::vector<std::string> Head(const std::vector<std::string>& lines, int count) {
    return {lines.begin(), lines.begin() + std::min<std::ptrdiff_t>(count, std::ssize(lines))};
}

std::string MaskTimes(const std::string& log) {
    static const std::regex time(
        "[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} "
        "[0-9]{4}\n");
    return std::regex_replace(log, time, "<time>\n");
}
