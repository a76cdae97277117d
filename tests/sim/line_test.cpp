// The controller's real-time loop, line rates, loaders and line faults, on a
// virtual clock.
#include <gtest/gtest.h>

#include "controller_harness.h"

namespace zhandsim {
namespace {

// --- real-time loop ---

struct LayoutCase {
    const char* flags;  // FSET text for the motors of `flagged`
    const char* flagged;
    const char* motors;  // LOOP prefix
    int control;
    int feedback;
};

class LoopLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LoopLayout, BlocksAreLaidOutFromTheFlagsOfTheActiveMotors) {
    const LayoutCase& c = GetParam();
    ControllerHarness h;
    h.Command(std::string(c.flagged) + "FSET " + c.flags);
    EXPECT_EQ(h.Send(std::string(c.motors) + "LOOP\r"), std::string(c.motors) + "LOOP*");
    EXPECT_EQ(h.hand.ControlLength(), c.control);
    EXPECT_EQ(h.hand.FeedbackLength(), c.feedback);
    // "C" with the control block gets "*" and the feedback block back
    std::string update = "C" + std::string(static_cast<std::size_t>(c.control), '\0');
    EXPECT_EQ(h.Send(update).size(), static_cast<std::size_t>(c.feedback) + 1);
    EXPECT_EQ(h.Send("a"), "*");
}

const char* kNone = "LCV 0 LCPG 0 LFV 0 LFS 0 LFAP 0 LFDP 0";
const char* kAll = "LCV 1 LCPG 1 LFV 1 LFS 1 LFAP 1 LFDP 1";
const char* kStrain = "LCV 0 LCVC 0 LCPG 0 LFV 0 LFVC 0 LFS 1 LFAP 0 LFDP 0 LFDPC 0";
const char* kFingerprint = "LCV 1 LCVC 1 LCPG 0 LFV 1 LFVC 1 LFS 0 LFAP 1 LFDP 1 LFDPC 1";

INSTANTIATE_TEST_SUITE_P(
    Table, LoopLayout,
    ::testing::Values(LayoutCase{kNone, "", "123", 0, 0}, LayoutCase{kStrain, "123", "123", 0, 3},
                      LayoutCase{kFingerprint, "123", "123", 3, 12},
                      LayoutCase{kFingerprint, "123", "G", 3, 12},
                      LayoutCase{kAll, "", "1234", 8, 20}, LayoutCase{kAll, "", "GS", 8, 20},
                      LayoutCase{kAll, "", "4", 2, 5}, LayoutCase{kAll, "", "", 0, 0},
                      LayoutCase{kAll, "", "13", 4, 10}));

// Fingerprint layout for motors 1..3: velocity, position high, low, delta.
struct Sample {
    int velocity[3];
    int position[3];
};

// One Fingerprint update's 17 bytes at 9600 baud: how far apart a host on
// the wire sends its updates at best.
constexpr double kUpdateGap = 17 * 10.0 / 9600;

std::string UpdateBytes(int velocity) {
    return "C" + std::string(3, static_cast<char>(static_cast<std::int8_t>(velocity)));
}

Sample Parse(const std::string& reply) {
    Sample s{};
    EXPECT_EQ(reply.size(), 13u);
    if (reply.size() != 13) return s;
    for (int m = 0; m < 3; ++m) {
        const auto* b = reinterpret_cast<const unsigned char*>(reply.data()) + 1 + 4 * m;
        s.velocity[m] = static_cast<std::int8_t>(b[0]);
        s.position[m] = static_cast<std::int16_t>((b[1] << 8) | b[2]);
    }
    return s;
}

// Lets `gap` seconds pass, then sends an update with `velocity` for all three.
Sample Update(ControllerHarness& h, int velocity, double gap = kUpdateGap) {
    EXPECT_EQ(h.Wait(gap), "");
    return Parse(h.Send(UpdateBytes(velocity)));
}

TEST(Loop, ClosingTrialEndsNear17500AndOpeningNear0) {
    ControllerHarness h(WithSpeed(20));
    h.Command(std::string("123FSET ") + kFingerprint);
    h.Send("123LOOP\r");
    for (int velocity : {20, -20, 100, -100}) {
        Sample s{};
        int previous = -1;
        for (int i = 0; i < 2000; ++i) {
            s = Update(h, velocity);
            if (s.velocity[0] == 0 && s.position[0] == previous) break;
            previous = s.position[0];
        }
        for (int m = 0; m < 3; ++m) {
            EXPECT_EQ(s.velocity[m], 0) << velocity;
            if (velocity > 0) {
                EXPECT_GE(s.position[m], 17400) << velocity;
            } else {
                EXPECT_EQ(s.position[m], 0) << velocity;
            }
        }
    }
    EXPECT_EQ(h.Send("\x03"), "\r\n=> ");
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Command);
    EXPECT_EQ(h.Get("1", "P"), 0);
}

TEST(Loop, AnUpdateIsAnsweredAtOnceWithTheMotionOfTheTimeSinceTheLast) {
    // However far apart the updates come, none waits for the hand, and the
    // fingers have moved by velocity x time in between.
    for (double gap : {0.0, 0.0003, 0.004, kUpdateGap, 0.0137, 0.25}) {
        SCOPED_TRACE(gap);
        ControllerHarness h;
        h.Command(std::string("123FSET ") + kFingerprint);
        h.Send("123LOOP\r");
        const Sample first = Update(h, 40, 0);  // the velocity runs from here on
        EXPECT_EQ(first.velocity[0], 40);
        const double start = h.now;
        const Sample before = Update(h, 40, gap);
        EXPECT_EQ(h.now, start + gap);  // answered the moment it was in
        EXPECT_NEAR(before.position[0] - first.position[0],
                    40 * HandModel::kFingerCountsPerUnit * gap, 1);
        const Sample after = Update(h, 40, gap);
        for (int m = 0; m < 3; ++m) {
            EXPECT_NEAR(after.position[m] - before.position[m],
                        40 * HandModel::kFingerCountsPerUnit * gap, 1);
            EXPECT_EQ(after.velocity[m], 40);
        }
    }
}

TEST(Loop, TheAnswerIsTimedFromTheArrivalOfTheLastControlByte) {
    ControllerHarness h;
    h.Command(std::string("123FSET ") + kFingerprint);
    h.Send("123LOOP\r");
    const Sample first = Update(h, 40, 0);
    // the update's bytes trickle in; the answer waits for the last of them
    const std::string bytes = UpdateBytes(40);
    const double start = h.now;
    EXPECT_EQ(h.Send(bytes.substr(0, 3)), "");
    h.now += 0.005;
    const double last = h.now;
    h.hand.Receive(bytes.substr(3), h.host, last);
    // worked off 4 ms later than it arrived, it still answers as of its arrival
    h.now += 0.004;
    h.outputs.clear();
    const Sample s = Parse(h.Run());
    ASSERT_EQ(h.outputs.size(), 1u);
    EXPECT_EQ(h.outputs[0].time, last);
    EXPECT_NEAR(s.position[0] - first.position[0],
                40 * HandModel::kFingerCountsPerUnit * (last - start), 1);
}

TEST(Loop, PositionsMoveContinuouslyBetweenUpdates) {
    ControllerHarness h(WithSpeed(3));
    h.Command(std::string("123FSET ") + kFingerprint);
    h.Send("123LOOP\r");
    const Sample s = Update(h, 60, 0);
    const HandModel& model = h.hand.Model();
    for (double later : {0.0, 0.001, 0.0025, 0.01, 0.033}) {
        EXPECT_NEAR(model.ExactPosition(1, h.hand.ModelTime(h.now + later)),
                    s.position[0] + 60 * HandModel::kFingerCountsPerUnit * 3 * later, 0.5)
            << later;
    }
    // up to the closed end, where the finger stays
    EXPECT_EQ(model.Position(1, h.hand.ModelTime(h.now + 60)), model.ClosedEnd(1));
}

TEST(Loop, FaultsThatLastStopTheFingerInTheLoopToo) {
    ControllerHarness h(
        WithFaults({Fault{.kind = FaultKind::NoBreakaway, .motor = 2, .at = 12000}}));
    h.Command(std::string("123FSET ") + kFingerprint);
    h.Send("123LOOP\r");
    Sample s{};
    for (int i = 0; i < 200; ++i) s = Update(h, 127);
    EXPECT_GE(s.position[0], 17400);
    EXPECT_EQ(s.position[1], 12000);
    EXPECT_EQ(s.velocity[1], 0);
}

TEST(Loop, StrainAndDeltaFeedback) {
    ControllerHarness h;
    h.Command("1FSET LCV 1 LCPG 1 LFV 0 LFS 1 LFAP 0 LFDP 1");
    h.Send("1LOOP\r");
    h.Send(std::string("C\x32\x20", 3));  // velocity 50, gain 32
    h.Wait(0.01);
    const std::string reply = h.Send(std::string("C\x32\x20", 3));
    ASSERT_EQ(reply.size(), 3u);
    EXPECT_NEAR(static_cast<unsigned char>(reply[1]), 122, 2);  // finger 1's gauge
    EXPECT_NEAR(static_cast<std::int8_t>(reply[2]), 50 * HandModel::kFingerCountsPerUnit * 0.01, 1);
}

TEST(Loop, AnythingButAnUpdateIsAnErrorWithoutLeadingWhitespace) {
    ControllerHarness h;
    h.Send("GLOOP\r");
    EXPECT_EQ(h.Send("Z"), "ERR 9\r\n=> ");
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Loop);
    EXPECT_EQ(h.Send("a"), "*");
}

// --- line rates ---

TEST(Rates, SetBaudSwitchesAfterTheEchoAndAnswersAtTheNewRate) {
    ControllerHarness h;
    EXPECT_EQ(h.Send("PSET BAUD 192\r", 1), "PSET BAUD 192\r\n=> ");
    ASSERT_GE(h.outputs.size(), 2u);
    EXPECT_EQ(h.outputs.front().baud, 9600);  // the echo
    EXPECT_EQ(h.outputs.back().baud, 19200);  // the answer
    EXPECT_EQ(h.hand.HandBaud(), 19200);
    h.outputs.clear();
    h.host = 19200;
    EXPECT_EQ(h.Send("\r"), "\r\n=> ");
    EXPECT_EQ(h.Command("PGET BAUD"), "\r\n192\r\n=> ");
    EXPECT_EQ(h.outputs.back().baud, 19200);
    EXPECT_EQ(h.Send("RESET\r"), "RESET\r\n" + std::string(Controller::kBanner) + "\r\n=> ");
    EXPECT_EQ(h.outputs.back().baud, 9600);
    h.host = 9600;
    EXPECT_EQ(h.Command("PGET BAUD"), "\r\n96\r\n=> ");
}

TEST(Rates, BytesAtAnotherRateAreGarbledAndNeverAnswered) {
    for (int host : {19200, 2400, 5908}) {
        ControllerHarness h;
        h.host = host;
        const std::string sent = "1FGET P\r";
        const std::string got = h.Send(sent, 1);
        EXPECT_EQ(got.size(), sent.size()) << host;  // each byte garbled, CR too
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(static_cast<unsigned char>(got[i]),
                      Controller::Garble(static_cast<unsigned char>(sent[i])));
        EXPECT_EQ(got.find("=> "), std::string::npos);
        h.host = 9600;
        EXPECT_EQ(h.Send("\x03"), "\r\n=> ") << host;  // the line recovers
    }
}

TEST(Rates, GarbleNeverMakesControlOrPromptBytes) {
    for (int b = 0; b < 256; ++b) {
        const std::uint8_t g = Controller::Garble(static_cast<std::uint8_t>(b));
        EXPECT_GE(g, 0x80);
        EXPECT_NE(g, b);
    }
}

// --- boot-mode EEPROM loader ---

TEST(BootLoader, LoaderAt4800ThenImageAt5908WithEchoes) {
    ControllerHarness h;
    std::vector<LoaderFile> saved;
    h.hand.onLoaderData = [&](LoaderFile file) { saved.push_back(file); };
    const std::string loader = std::string("\x4C\x00\x31\xFF\x0D", 5);
    const std::string image = std::string("\x00\x01\x49\x03\xFF\x1A\x0D\x0A", 8);
    h.host = 4800;
    std::string echoed;
    for (char c : loader) echoed += h.Send(std::string(1, c), 0.01);
    EXPECT_EQ(echoed, loader.substr(1));  // the first byte is not echoed
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Boot);
    h.host = 5908;
    EXPECT_EQ(h.Send("x", 0.01), "");  // waits for its start letter
    EXPECT_EQ(h.Send("I", 0.01), "I");
    echoed.clear();
    for (char c : image) echoed += h.Send(std::string(1, c), 0.01);
    EXPECT_EQ(echoed, image);
    for (const Output& o : h.outputs) EXPECT_TRUE(o.baud == 4800 || o.baud == 5908);
    EXPECT_TRUE(saved.empty());
    h.host = 9600;
    h.Wait(0.1);
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Command);
    EXPECT_EQ(saved, (std::vector<LoaderFile>{LoaderFile::BootLoader, LoaderFile::Eeprom}));
    EXPECT_EQ(h.hand.BootLoaderBytes(), std::vector<std::uint8_t>(loader.begin(), loader.end()));
    EXPECT_EQ(h.hand.EepromImage(), std::vector<std::uint8_t>(image.begin(), image.end()));
    EXPECT_EQ(h.Send("RESET\r"), "RESET\r\n" + std::string(Controller::kBanner) + "\r\n=> ");
}

TEST(BootLoader, ByteAt9600EndsBootModeAndCountsAsCommandInput) {
    ControllerHarness h;
    h.host = 4800;
    h.Send("L", 0.01);
    h.host = 9600;
    EXPECT_EQ(h.Send("\r"), "\r\n=> ");
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Command);
    EXPECT_TRUE(h.hand.EepromImage().empty());
}

TEST(BootLoader, AfterSetBaud48TheHandTalksAt4800) {
    ControllerHarness h;
    h.Send("PSET BAUD 48\r", 1);
    h.host = 4800;
    EXPECT_EQ(h.Command("PGET BAUD"), "\r\n48\r\n=> ");
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Command);
}

// --- firmware loader ---

TEST(FirmwareLoader, HandshakePacketsAndEnd) {
    ControllerHarness h(WithSpeed(10));
    int saves = 0;
    h.hand.onLoaderData = [&](LoaderFile file) { saves += file == LoaderFile::Firmware; };
    EXPECT_EQ(h.Send("X", 0.05), "X");
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Command);
    // the RESET button is pressed a moment after the lone X
    EXPECT_EQ(h.Wait(Controller::kLoneXSeconds + Controller::kButtonSeconds / 10 + 0.01), ":");
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Firmware);
    EXPECT_EQ(h.Send("\xFF", 0.01), "");
    // FF, address low, high, length, FF, data: all but the FF markers echoed
    EXPECT_EQ(h.Send(std::string("\xFF\x10\x20\x03\xFF\xAA\x00\xCC", 8), 0.01),
              std::string("\x10\x20\x03\xAA\x00\xCC", 6));
    EXPECT_EQ(h.Send(std::string("\xFF\xFF\xFF\x02\xFF\x11\x22", 7), 0.01),
              std::string("\xFF\xFF\x02\x11\x22", 5));
    EXPECT_EQ(h.Send(std::string("\xFF\x00\x30\x00\xFF", 5), 0.01), std::string("\x00\x30\x00", 3));
    const auto& memory = h.hand.FirmwareMemory();
    EXPECT_EQ(memory[0x2010], 0xAA);
    EXPECT_EQ(memory[0x2011], 0x00);
    EXPECT_EQ(memory[0x2012], 0xCC);
    EXPECT_EQ(memory[0x2013], 0xFF);  // never written
    EXPECT_EQ(memory[0xFFFF], 0x11);
    EXPECT_EQ(memory[0x0000], 0x22);  // the address wraps
    EXPECT_EQ(h.hand.FirmwarePackets(), 3);
    EXPECT_EQ(h.hand.FirmwareErrors(), 0);
    h.Wait(Controller::kFlushSeconds + 0.01);
    EXPECT_EQ(saves, 1);                 // written once the loader is idle
    EXPECT_EQ(h.Send("\r"), "\r\n=> ");  // any other byte ends the download
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Command);
    EXPECT_EQ(saves, 2);
}

TEST(FirmwareLoader, XWithCarriageReturnIsAnOrdinaryCommand) {
    ControllerHarness h;
    EXPECT_EQ(h.Send("X\r"), "X\r\nERR 1\r\n=> ");
    EXPECT_EQ(h.Wait(1), "");
    EXPECT_EQ(h.hand.CurrentMode(), Mode::Command);
}

TEST(FirmwareLoader, BytesAtAnotherRateAreGarbled) {
    ControllerHarness h(WithSpeed(100));
    h.Send("X", 0.01);
    h.Wait(0.2);
    h.Send("\xFF", 0.01);
    h.host = 19200;
    const std::string got = h.Send(std::string("\xFF\x10", 2), 0.01);
    const std::string expected{static_cast<char>(Controller::Garble(0xFF)),
                               static_cast<char>(Controller::Garble(0x10))};
    EXPECT_EQ(got, expected);
}

// --- line faults ---

TEST(LineFaults, SilentHandIgnoresCommandsAfterN) {
    ControllerHarness h(WithFaults({Fault{.kind = FaultKind::Silent, .after = 1, .count = 2}}));
    EXPECT_EQ(h.Command("PGET BAUD"), "\r\n96\r\n=> ");
    EXPECT_EQ(h.Send("PGET BAUD\r", 1), "");
    EXPECT_EQ(h.Send("\r", 1), "");
    EXPECT_EQ(h.Command("PGET BAUD"), "\r\n96\r\n=> ");
    EXPECT_EQ(h.hand.Commands(), 4u);
}

TEST(LineFaults, NoisyHandEchoesThenSendsNoiseWithoutPrompt) {
    ControllerHarness h(
        WithFaults({Fault{.kind = FaultKind::Noise, .after = 1, .count = 1, .bytes = 300}}));
    EXPECT_EQ(h.Command("1FGET P"), "\r\n0\r\n=> ");
    const std::string noisy = h.Send("1FGET P\r", 1);
    EXPECT_EQ(noisy.substr(0, 7), "1FGET P");
    EXPECT_EQ(noisy.size(), 7u + 300u);
    EXPECT_EQ(noisy.find("=> "), std::string::npos);
    EXPECT_EQ(h.Command("1FGET P"), "\r\n0\r\n=> ");
}

TEST(LineFaults, NoiseIsTheSameForTheSameSeed) {
    auto noise = [](std::uint64_t seed) {
        ControllerOptions options = WithFaults({Fault{.kind = FaultKind::Noise}});
        options.seed = seed;
        ControllerHarness h(options);
        return h.Send("T\r", 1);
    };
    EXPECT_EQ(noise(7), noise(7));
    EXPECT_NE(noise(7), noise(8));
}

TEST(LineFaults, HangupAfterNCommands) {
    ControllerHarness h(WithFaults({Fault{.kind = FaultKind::Hangup, .after = 2, .downMs = 250}}));
    h.Command("T");
    h.Command("T");
    EXPECT_EQ(h.Send("T\r", 1), "T");
    ASSERT_FALSE(h.outputs.empty());
    EXPECT_TRUE(h.outputs.back().hangup);
    EXPECT_EQ(h.outputs.back().downMs, 250);
    h.hand.LineReset(h.now);
    h.outputs.clear();
    EXPECT_EQ(h.Command("T"), "\r\n=> ");  // only once
    for (const Output& o : h.outputs) EXPECT_FALSE(o.hangup);
}

}  // namespace
}  // namespace zhandsim
