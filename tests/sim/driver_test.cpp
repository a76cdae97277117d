// The real ZHand driver against the simulator over a pty: the protocol, the
// real-time loop, baud switches, the loaders' byte protocols and each fault.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "temp_dir.h"
#include "zhand.h"
#include "zhand_sim.h"

namespace zhandsim {
namespace {

using test::TempDir;
using namespace std::chrono_literals;

class ScopedChdir {
  public:
    explicit ScopedChdir(const std::filesystem::path& dir)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedChdir() {
        std::error_code error;
        std::filesystem::current_path(previous_, error);
    }

  private:
    std::filesystem::path previous_;
};

class DriverOnSim : public ::testing::Test {
  protected:
    void SetUp() override { StartSim(); }

    void StartSim(double speed = 100, std::vector<Fault> faults = {}) {
        hand.reset();
        sim.reset();
        SimulatorOptions options;
        options.directory = dir.path();
        options.speed = speed;
        options.pace = false;  // an instant peer
        options.faults = std::move(faults);
        sim = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        Connect();
    }

    void Connect() {
        hand = std::make_unique<ZHand>();
        ASSERT_EQ(hand->Initialize(1, 15), 0);
        ASSERT_EQ(hand->SetTimeouts(0, 1, 1000, 1, 1000), 0);
    }

    int Position(int motor) {
        int value = -1;
        EXPECT_EQ(hand->GetParameters(std::to_string(motor).c_str(), "P", std::span(&value, 1)), 0);
        return value;
    }

    // Makes a fault count commands from now on.
    Fault FromNow(Fault fault) {
        fault.after += static_cast<int>(sim->State().commands);
        return fault;
    }

    TempDir dir;
    ScopedChdir cwd{dir.path()};
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<ZHand> hand;
};

// --- supervisory protocol ---

TEST_F(DriverOnSim, InitializeResetsTheHandAt9600) {
    const HandState state = sim->State();
    EXPECT_EQ(state.commands, 2u);  // the lone CR and RESET
    EXPECT_EQ(state.handBaud, 9600);
    EXPECT_STREQ(hand->ReplyText(), Controller::kBanner);
}

TEST_F(DriverOnSim, MovesAreAnsweredWhenDoneAndPositionsReadBack) {
    EXPECT_EQ(hand->Close("G"), 0);
    for (int m = 1; m <= 3; ++m) EXPECT_GE(Position(m), 15100);
    EXPECT_EQ(hand->Open("G"), 0);
    for (int m = 1; m <= 3; ++m) EXPECT_LE(Position(m), 500);
    EXPECT_EQ(hand->Close("S"), 0);
    EXPECT_GE(Position(4), 3050);
    EXPECT_EQ(hand->MoveTo("1", 16000), 0);
    EXPECT_NEAR(Position(1), 16000, 3);
    EXPECT_EQ(hand->IncrementalOpen("1", 6000), 0);
    EXPECT_NEAR(Position(1), 10000, 3);
    EXPECT_EQ(hand->MoveAllTo(1000, 2000, 3000, 1500), 0);
    std::array<int, 4> p{};
    EXPECT_EQ(hand->GetParameters("1234", "P", p), 0);
    EXPECT_NEAR(p[0], 1000, 3);
    EXPECT_NEAR(p[1], 2000, 3);
    EXPECT_NEAR(p[2], 3000, 3);
    EXPECT_NEAR(p[3], 1500, 3);
    EXPECT_EQ(sim->Parameter(3, "DP"), 3000);
    EXPECT_EQ(hand->Home(), 0);
    EXPECT_EQ(hand->GetParameters("GS", "P", p), 0);
    EXPECT_EQ(p, (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_EQ(hand->Terminate("G"), 0);
    EXPECT_EQ(hand->InitHand("1234"), 0);
}

TEST_F(DriverOnSim, ParametersAndTheHandsErrorNumbers) {
    EXPECT_EQ(hand->SetParameter("4", "MCV", 45), 0);
    EXPECT_EQ(sim->Parameter(4, "MCV"), 45);
    std::array<int, 6> flags{};
    EXPECT_EQ(hand->GetParameters("1", "LCV LCPG LFV LFS LFAP LFDP", flags), 0);
    EXPECT_EQ(flags, (std::array<int, 6>{1, 0, 1, 0, 1, 0}));
    EXPECT_EQ(hand->SaveParameters("4"), 0);
    EXPECT_EQ(hand->LoadDefaults(""), 0);
    EXPECT_EQ(sim->Parameter(4, "MCV"), 50);
    EXPECT_EQ(hand->LoadParameters("S"), 0);
    EXPECT_EQ(sim->Parameter(4, "MCV"), 45);

    struct Case {
        const char* text;
        int result;
    };
    const Case cases[] = {{"XYZ", 1},  {"7O", 2},        {"1FGET NOPE", 3},   {"FSET MOV 256", 4},
                          {"IC x", 5}, {"FSET SG 1", 6}, {"PSET BAUD 97", 8}, {"HOME 1", 10}};
    for (const Case& c : cases) {
        std::string reply = "untouched";
        EXPECT_EQ(hand->Command(c.text, &reply), c.result) << c.text;
        EXPECT_EQ(reply, "");
        EXPECT_EQ(hand->Command(("err " + std::to_string(c.result)).c_str(), &reply), 0);
        EXPECT_EQ(reply, Controller::ErrorText(c.result));
    }
    EXPECT_EQ(hand->SetParameter("1", "MOV", 999), 4);
    int temperature = 0;
    EXPECT_EQ(hand->GetTemperature(&temperature), 0);
    EXPECT_EQ(temperature, 24);
}

TEST_F(DriverOnSim, ParameterListsComeBackLineForLine) {
    std::string names;
    std::string values;
    EXPECT_EQ(hand->Command("FLISTA", &names), 0);
    EXPECT_EQ(hand->Command("FLISTAV", &values), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), kParamCount - 1);
    EXPECT_EQ(std::count(values.begin(), values.end(), '\n'), kParamCount - 1);
    EXPECT_TRUE(names.starts_with("MOV\r\nMCV\r\n")) << names;
    EXPECT_TRUE(values.starts_with("100 100 100 50\r\n")) << values;
}

// --- real-time loop ---

TEST_F(DriverOnSim, FingerTrialsCloseNear17500AndOpenNear0) {
    ASSERT_EQ(hand->RTSetFlags("123", true, 1, false, true, 1, false, true, true, 1), 0);
    ASSERT_EQ(hand->RTStart("123"), 0);
    EXPECT_EQ(sim->State().controlLength, 3);
    EXPECT_EQ(sim->State().feedbackLength, 12);
    EXPECT_EQ(hand->RTSetVelocity('4', 10), -19);
    for (int velocity : {100, -100}) {
        for (char m : {'1', '2', '3'}) ASSERT_EQ(hand->RTSetVelocity(m, velocity), 0);
        int last = -1;
        for (int i = 0; i < 5000; ++i) {
            ASSERT_EQ(hand->RTUpdate(true, true), 0);
            if (hand->RTGetVelocity('3') == 0 && hand->RTGetPosition('3') == last) break;
            last = hand->RTGetPosition('3');
        }
        for (char m : {'1', '2', '3'}) {
            EXPECT_EQ(hand->RTGetVelocity(m), 0);
            if (velocity > 0) {
                EXPECT_GE(hand->RTGetPosition(m), 17000);
            } else {
                EXPECT_LE(hand->RTGetPosition(m), 100);
            }
        }
    }
    EXPECT_EQ(hand->RTAbort(), 0);
    EXPECT_EQ(sim->State().mode, Mode::Command);
    EXPECT_LE(Position(1), 100);
}

TEST_F(DriverOnSim, EveryBlockLayoutAgreesWithTheHost) {
    ASSERT_EQ(hand->MoveAllTo(1000, 2000, 3000, 1500), 0);
    ASSERT_EQ(hand->Command("FSET LCV 1 LCPG 1 LFV 1 LFS 1 LFAP 1 LFDP 1"), 0);
    ASSERT_EQ(hand->Command("2FSET LFS 0 LCV 0"), 0);
    ASSERT_EQ(hand->RTStart("1234"), 0);
    EXPECT_EQ(sim->State().controlLength, 7);
    EXPECT_EQ(sim->State().feedbackLength, 19);
    ASSERT_EQ(hand->RTUpdate(true, true), 0);
    ASSERT_EQ(hand->RTUpdate(false, true), 0);
    const HandState state = sim->State();
    for (char m : {'1', '2', '3', '4'}) {
        EXPECT_EQ(hand->RTGetPosition(m), state.motors[static_cast<std::size_t>(m - '1')].position)
            << m;
        EXPECT_EQ(hand->RTGetVelocity(m), 0) << m;
        EXPECT_EQ(hand->RTGetDeltaPos(m), 0) << m;
    }
    EXPECT_NEAR(hand->RTGetStrain('1'), 122, 3);
    EXPECT_EQ(hand->RTGetStrain('2'), 0);  // not in the feedback
    EXPECT_NEAR(hand->RTGetStrain('3'), 137, 3);
    EXPECT_EQ(hand->RTUpdate(false, false), 0);
    EXPECT_EQ(hand->RTAbort(), 0);
}

TEST_F(DriverOnSim, StrainGaugeLoop) {
    ASSERT_EQ(hand->RTSetFlags("123", false, 0, false, false, 0, true, false, false, 0), 0);
    ASSERT_EQ(hand->RTStart("123"), 0);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(hand->RTUpdate(true, true), 0);
        EXPECT_NEAR(hand->RTGetStrain('1'), 122, 3);
        EXPECT_NEAR(hand->RTGetStrain('2'), 131, 3);
        EXPECT_NEAR(hand->RTGetStrain('3'), 137, 3);
    }
    EXPECT_EQ(hand->RTAbort(), 0);
}

// --- baud switches ---

TEST_F(DriverOnSim, SetHandBaudAndResetMoveHandAndPortTogether) {
    for (unsigned baud : {19200u, 115200u}) {
        ASSERT_EQ(hand->SetHandBaud(baud), 0) << baud;
        EXPECT_EQ(sim->State().handBaud, static_cast<int>(baud));
        std::string reply;
        EXPECT_EQ(hand->Command("PGET BAUD", &reply), 0);
        EXPECT_EQ(reply, std::to_string(baud / 100));
    }
    ASSERT_EQ(hand->Reset(), 0);
    EXPECT_EQ(sim->State().handBaud, 9600);
    EXPECT_EQ(hand->Close("G"), 0);
    EXPECT_GE(Position(2), 15100);
}

// --- loaders through the driver's raw byte operations ---

class Loader : public DriverOnSim {
  protected:
    void Send(unsigned char byte) { ASSERT_EQ(hand->WriteBytes(&byte, 1), 0); }
    void SendEchoed(unsigned char byte) {
        Send(byte);
        unsigned char got = 0;
        do {
            ASSERT_EQ(hand->ReadBytes(&got, 1), 0) << "no echo of " << int{byte};
        } while (got != byte);
    }
};

TEST_F(Loader, EepromImageArrivesByteForByte) {
    std::vector<unsigned char> loader{0x3C, 0x00, 0xFF, 0x0D, 0x0A, 0x1A};
    std::vector<unsigned char> image(250);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(255 - i);
    ASSERT_EQ(hand->SetBaudRate(4800), 0);
    ASSERT_TRUE(hand->PurgePort());
    Send(loader[0]);
    for (std::size_t i = 1; i < loader.size(); ++i) SendEchoed(loader[i]);
    ASSERT_EQ(hand->SetBaudRate(5908), 0);
    ASSERT_TRUE(hand->PurgePort());
    SendEchoed('I');
    for (unsigned char byte : image) SendEchoed(byte);
    ASSERT_EQ(hand->SetBaudRate(9600), 0);
    EXPECT_EQ(hand->Command("RESET"), 0);
    EXPECT_EQ(sim->EepromImage(), image);
    EXPECT_EQ(sim->BootLoaderBytes(), loader);
    std::ifstream file(sim->LoaderPath(LoaderFile::Eeprom), std::ios::binary);
    EXPECT_EQ(std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {}), image);
}

TEST_F(Loader, FirmwareRecordsLandInMemory) {
    Send('X');
    unsigned char got = 0;
    for (int i = 0; i < 50 && got != ':'; ++i) ASSERT_EQ(hand->ReadBytes(&got, 1), 0);
    ASSERT_EQ(got, ':');
    Send(0xFF);
    const std::vector<unsigned char> data{0x7E, 0x00, 0xFF, 0x12};
    for (unsigned address : {0xF000u, 0xF004u}) {
        Send(0xFF);
        SendEchoed(static_cast<unsigned char>(address & 0xFF));
        SendEchoed(static_cast<unsigned char>(address >> 8));
        SendEchoed(static_cast<unsigned char>(data.size()));
        Send(0xFF);
        for (unsigned char byte : data) SendEchoed(byte);
    }
    EXPECT_EQ(hand->Command("PGET BAUD"), 0);  // ends the download
    const std::vector<std::uint8_t> memory = sim->FirmwareMemory();
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(memory[0xF000 + i], data[i % 4]) << i;
    EXPECT_EQ(memory[0xF008], 0xFF);
}

// --- faults ---

struct MotionFaultCase {
    const char* spec;
    const char* motors;
    bool open;  // close, then open as well
    int motor;  // the motor to look at
    int lowest;
    int highest;
};

class DriverMotionFaults : public DriverOnSim,
                           public ::testing::WithParamInterface<MotionFaultCase> {};

TEST_P(DriverMotionFaults, PositionShowsTheFault) {
    const MotionFaultCase& c = GetParam();
    Fault fault;
    std::string error;
    ASSERT_TRUE(ParseFault(c.spec, fault, error)) << error;
    sim->InjectFault(fault);
    EXPECT_EQ(hand->Close(c.motors), 0);
    if (c.open) {
        EXPECT_EQ(hand->Open(c.motors), 0);
    }
    const int p = Position(c.motor);
    EXPECT_GE(p, c.lowest) << c.spec;
    EXPECT_LE(p, c.highest) << c.spec;
    // the other fingers are fine
    for (int m = 1; m <= 3; ++m) {
        if (m == c.motor || std::string(c.motors) == "S") continue;
        if (c.open) {
            EXPECT_LE(Position(m), 500) << m;
        } else {
            EXPECT_GE(Position(m), 15100) << m;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriverMotionFaults,
    ::testing::Values(MotionFaultCase{"jam-open:1", "G", false, 1, 0, 2999},
                      MotionFaultCase{"early-breakaway:2", "G", false, 2, 3000, 9999},
                      MotionFaultCase{"no-breakaway:3", "G", false, 3, 10000, 15099},
                      MotionFaultCase{"jam-closed:1", "G", true, 1, 501, 17500},
                      MotionFaultCase{"spread-short", "S", false, 4, 0, 3049},
                      MotionFaultCase{"spread-no-open", "S", true, 4, 51, 3150}));

TEST_F(DriverOnSim, SlowMotorIsAnsweredOnlyWhenItArrives) {
    sim->InjectFault(Fault{.kind = FaultKind::Slow, .motor = 2, .factor = 30});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hand->Close("G"), 0);
    // a close takes about a second of model time, here 30 at speed 100
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_GE(Position(2), 15100);
}

TEST_F(DriverOnSim, StrainGaugeDrifts) {
    sim->InjectFault(Fault{.kind = FaultKind::Drift, .motor = 1, .rate = 10});
    std::array<int, 3> before{};
    std::array<int, 3> after{};
    EXPECT_EQ(hand->GetParameters("G", "SG", before), 0);
    for (int i = 0; i < 3; ++i) {
        hand->Close("G");
        hand->Open("G");
    }
    EXPECT_EQ(hand->GetParameters("G", "SG", after), 0);
    EXPECT_NEAR(after[0] - before[0], 60, 5);
    EXPECT_NEAR(after[1] - before[1], 0, 5);
}

TEST_F(DriverOnSim, SilentHandTimesOut) {
    ASSERT_EQ(hand->SetTimeouts(0, 1, 200, 1, 200), 0);
    sim->InjectFault(FromNow(Fault{.kind = FaultKind::Silent, .count = 1}));
    int p = 0;
    EXPECT_EQ(hand->GetParameters("1", "P", std::span(&p, 1)), -9);
    ASSERT_EQ(hand->SetTimeouts(0, 1, 1000, 1, 1000), 0);
    EXPECT_EQ(hand->GetParameters("1", "P", std::span(&p, 1)), 0);  // answering again
}

TEST_F(DriverOnSim, NoisyHandFailsTheExchange) {
    ASSERT_EQ(hand->SetTimeouts(0, 1, 200, 1, 200), 0);
    sim->InjectFault(FromNow(Fault{.kind = FaultKind::Noise, .count = 1, .bytes = 64}));
    EXPECT_EQ(hand->Command("PGET TEMP"), -9);  // no prompt comes
    sim->InjectFault(FromNow(Fault{.kind = FaultKind::Noise, .count = 1, .bytes = 6000}));
    EXPECT_EQ(hand->Command("PGET TEMP"), -10);  // too much without a prompt
    ASSERT_EQ(hand->SetTimeouts(0, 1, 1000, 1, 1000), 0);
    EXPECT_EQ(hand->Command("PGET TEMP"), 0);
}

TEST_F(DriverOnSim, HangupFailsTheLinkAndANewConnectionWorks) {
    sim->InjectFault(FromNow(Fault{.kind = FaultKind::Hangup, .after = 1, .downMs = 100}));
    EXPECT_EQ(hand->Close("1"), 0);
    EXPECT_EQ(hand->Open("1"), -9);
    hand.reset();
    ASSERT_TRUE(sim->WaitFor([](const HandState& s) { return s.hangups == 1 && s.lineUp; }, 2s));
    Connect();
    EXPECT_GE(Position(1), 15100);  // the hand kept its state
}

// The hand's adapter pulled out and plugged back in: the simulator's line
// drops and comes back as a new pty under the same COM1 link.
TEST_F(DriverOnSim, ALostLinkComesBackWithoutARestart) {
    sim->InjectFault(FromNow(Fault{.kind = FaultKind::Hangup, .after = 1, .downMs = 300}));
    EXPECT_EQ(hand->Close("1"), 0);
    EXPECT_LT(hand->Open("1"), 0);
    EXPECT_TRUE(hand->LinkLost());
    EXPECT_FALSE(hand->Reconnect());  // the line is still down
    // The station's wait: a try now and then, asleep in between.
    int tries = 0;
    while (!hand->Reconnect() && ++tries < 100) poll(nullptr, 0, 50);
    ASSERT_FALSE(hand->LinkLost());
    EXPECT_GT(tries, 0);
    EXPECT_EQ(sim->State().hangups, 1u);
    EXPECT_GE(Position(1), 15100);  // the hand kept its state, the same driver talks to it
    EXPECT_EQ(hand->Open("1"), 0);
    EXPECT_LE(Position(1), 500);
}

TEST_F(DriverOnSim, ARequestAfterTheLineIsBackReopensIt) {
    sim->InjectFault(FromNow(Fault{.kind = FaultKind::Hangup, .after = 1, .downMs = 100}));
    EXPECT_EQ(hand->Close("1"), 0);
    EXPECT_LT(hand->Open("1"), 0);
    ASSERT_TRUE(hand->LinkLost());
    ASSERT_TRUE(sim->WaitFor([](const HandState& s) { return s.hangups == 1 && s.lineUp; }, 2s));
    EXPECT_EQ(hand->Open("1"), 0);
    EXPECT_FALSE(hand->LinkLost());
    EXPECT_LE(Position(1), 500);
}

}  // namespace
}  // namespace zhandsim
