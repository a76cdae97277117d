#include "framework_fixture.h"

#include <filesystem>

#include "seams.h"
#include "suite_setup.h"

namespace fs = std::filesystem;

namespace {

PtyPeer* peer = nullptr;

class PeerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        peer = new PtyPeer({.holdHostEnd = true});
        // Every command gets an empty answer until a test sets its own.
        peer->AnswerCommands([](const std::string&) { return std::optional<std::string>(""); });
        home = EnterTempDir("zhand-framework-");
        fs::create_symlink(peer->SlavePath(), "COM1");
        RequireForSuite(ProgramHand().Initialize(1, 15) == 0, "the hand does not open COM1");
        // A silent hand fails a read after a fifth of a second.
        ProgramHand().SetTimeouts(0, 1, 200, 1, 200);
    }
    void TearDown() override {
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(home);
        delete peer;  // the program's hand sees the line hang up, and sends nothing more
        peer = nullptr;
    }
    std::string home;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new PeerEnvironment);

}  // namespace

PtyPeer& Peer() {
    return *peer;
}

void Framework::SetUp() {
    dir = EnterTempDir("zhand-framework-run-");
    store = dir + "/results.db";
    UseFakeClock(kFrameworkStart, kFrameworkStartTick);
    UseKeyScript("");
    results::JournalOptions options;
    options.target = store;
    options.station = "bench-1";
    options.software = "test";
    journal = std::make_unique<results::Journal>(options);
    ASSERT_TRUE(journal->Open());
    context = std::make_unique<TestStation>(journal.get());
    station = &context->station;
    RegisterTests(*station);
    model = std::make_shared<ScriptedHandModel>();
    Peer().AnswerCommands([m = model](const std::string& c) { return m->Answer(c); });
    Peer().TakeCommands();
}

void Framework::TearDown() {
    context.reset();
    journal.reset();
    UseTerminalKeys();
    UseRealClock();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir);
}

int Framework::Run(TestProc proc, int slot) {
    StdoutCapture capture;
    const int result = proc(*station, slot);
    screen = capture.Take();
    return result;
}
