// Fingerprint against the simulator: the minimum spread velocity found is the
// one the simulator is configured with, the encoder figures come from the
// simulated scatter, and the finger times follow the simulated motion at the
// four speeds, with a finger stopped short by a fault reported as failing.
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "guided_fixture.h"
#include "procedures.h"
#include "seams.h"

namespace {

using namespace std::chrono_literals;
constexpr int kSlot = 8;
// Model speed during the finger speed trials: slow enough that every trial
// lasts well beyond the 100 ms that are never judged.
constexpr double kTrialSpeed = 5;
// The trials run on a paced wire at 9600 baud, as on the bench: one update
// ("C" and three velocities out, "*" and twelve feedback bytes back) takes
// the wire time of 17 bytes.
constexpr double kUpdateSeconds = 17 * 10.0 / 9600;
// A finger is seen to stop six updates after it halted: the look-back of
// five samples, each read from the update before; the stop falls anywhere
// within the update after that.
constexpr double kLookBackSeconds = 6.5 * kUpdateSeconds;
constexpr int kShortAt = 12000;  // where the faulty F1 stops when closing

struct Figures {
    long long minClose, avgClose, maxClose, minOpen, avgOpen, maxOpen;
};

std::vector<Figures> EncoderTable(const std::string& log) {
    std::vector<Figures> rows;
    static const std::regex row(
        "\nM([1-4])\t(-?\\d+)\t(-?\\d+)\t(-?\\d+)\t(-?\\d+)\t(-?\\d+)\t(-?\\d+)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), row); it != std::sregex_iterator();
         ++it) {
        const auto& m = *it;
        rows.push_back({std::stoll(m[2]), std::stoll(m[3]), std::stoll(m[4]), std::stoll(m[5]),
                        std::stoll(m[6]), std::stoll(m[7])});
    }
    return rows;
}

// The finger speed table: eight times in seconds per finger.
std::vector<std::vector<double>> SpeedTable(const std::string& log) {
    std::vector<std::vector<double>> rows;
    static const std::regex row("\nF([1-3])\t((\\d+\\.\\d{3}\t){8})");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), row); it != std::sregex_iterator();
         ++it) {
        std::vector<double> times;
        std::istringstream in((*it)[2].str());
        for (double t = 0; in >> t;) times.push_back(t);
        rows.push_back(times);
    }
    return rows;
}

std::vector<std::string> ExpectedCommands() {
    std::vector<std::string> c = {"FDEF", "FSAVE", "1234HI"};
    for (int v = 16; v <= kSimMinSpreadVelocity; ++v) {
        c.insert(c.end(), {"SFSET MCV " + std::to_string(v), "SC", "SFGET P", "SO"});
    }
    for (int i = 0; i < 25; ++i) c.insert(c.end(), {"GM 16000", "GFGET P", "GM 50", "GFGET P"});
    c.insert(c.end(), {"FDEF", "FSAVE"});
    for (int i = 0; i < 25; ++i) c.insert(c.end(), {"SM 3000", "SFGET P", "SM 30", "SFGET P"});
    c.push_back("123FSET LCV 1 LCVC 1 LCPG 0 LFV 1 LFVC 1 LFS 0 LFAP 1 LFDP 1 LFDPC 1");
    for (char m : std::string("1234"))
        c.push_back(std::string(1, m) + "FGET LCV LCPG LFV LFS LFAP LFDP");
    c.insert(c.end(), {"123LOOP", "1234C"});
    return c;
}

using Fingerprint = GuidedTest;

TEST_F(Fingerprint, MeasuresTheSimulatedHand) {
    UseRealClock();                    // the trials time the fingers' motion
    station->tests.cycles[kSlot] = 5;  // runs once whatever the count
    hand.Command("FDEF");
    HandCommands();
    // When the finger speed trials are set up, slow the model down to a pace
    // the trials can time, put every byte on the wire for its real time, and
    // make F1 stop short of its closed end.
    std::thread trials([] {
        if (!Sim().WaitFor(
                [](const zhandsim::HandState& s) {
                    return s.motors[0].working[zhandsim::kLFDP] == 1;
                },
                60s))
            return;
        Sim().SetSpeed(kTrialSpeed);
        Sim().SetPace(true);
        zhandsim::Fault shortFinger;
        shortFinger.kind = zhandsim::FaultKind::NoBreakaway;
        shortFinger.motor = 1;
        shortFinger.at = kShortAt;
        Sim().InjectFault(shortFinger);
    });
    UseKeyScript("  x");  // ready, hand back upright, and a key that ends the countdown
    const int result = Run(kSlot);
    trials.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(HandCommands(), ExpectedCommands());

    const std::string log = MaskTimes(Log());
    EXPECT_EQ(log.substr(0, log.find("\n\n*****\n* Encoder")),
              "\n\n*****\n* Minimum Spread Velocity\n* <time>\n*****\n"
              "\nMinimum velocity for sucessful vertical close = " +
                  std::to_string(kSimMinSpreadVelocity) + "\n");
    EXPECT_NE(log.find("\n\n*****\n* Encoder Accuracy (Encoder counts)\n* <time>\n*****\n"
                       "\tMinClse\tAvgClse\tMaxClse\tMinOpen\tAvgOpen\tMaxOpen\nM1\t"),
              std::string::npos);

    // Encoder figures: the simulated positions scatter by up to 3 counts.
    const auto encoders = EncoderTable(log);
    ASSERT_EQ(encoders.size(), 4u);
    const int closedTarget[] = {16000, 16000, 16000, 3000};
    const int openTarget[] = {50, 50, 50, 30};
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE("M" + std::to_string(m + 1));
        const auto& f = encoders[m];
        EXPECT_GE(f.minClose, closedTarget[m] - 3);
        EXPECT_LT(f.minClose, f.maxClose);
        EXPECT_LE(f.minClose, f.avgClose);
        EXPECT_LE(f.avgClose, f.maxClose);
        EXPECT_LE(f.maxClose, closedTarget[m] + 3);
        EXPECT_GE(f.minOpen, openTarget[m] - 3);
        EXPECT_LT(f.minOpen, f.maxOpen);
        EXPECT_LE(f.minOpen, f.avgOpen);
        EXPECT_LE(f.avgOpen, f.maxOpen);
        EXPECT_LE(f.maxOpen, openTarget[m] + 3);
    }

    // Finger speeds: F1 stops at 12000 in every closing trial.
    const auto speeds = log.substr(log.find("\n\n*****\n* Finger Speeds"));
    EXPECT_EQ(speeds.substr(0, speeds.find("\n\n\tClse20")),
              "\n\n*****\n* Finger Speeds (seconds)\n* <time>\n*****\n"
              "F1 failed to fully close at V=20\nF1 failed to fully close at V=55\n"
              "F1 failed to fully close at V=75\nF1 failed to fully close at V=100\n");
    EXPECT_NE(speeds.find("\n\n\tClse20\tOpen20\tClse55\tOpen55\tClse75\tOpen75\tClse100\tOpen100"
                          "\nF1\t"),
              std::string::npos);
    const auto times = SpeedTable(speeds);
    ASSERT_EQ(times.size(), 3u);
    // A finger runs 175 counts per second per unit of velocity in model time;
    // its stop is recognised the look-back later.
    const int velocities[] = {20, 20, 55, 55, 75, 75, 100, 100};
    for (int f = 0; f < 3; ++f) {
        const double travel = f == 0 ? kShortAt : 17500;
        for (int t = 0; t < 8; ++t) {
            SCOPED_TRACE("F" + std::to_string(f + 1) + " trial " + std::to_string(t));
            const double expected =
                travel / (175.0 * velocities[t]) / kTrialSpeed + kLookBackSeconds;
            EXPECT_GT(times[f][t], 0.100);
            EXPECT_NEAR(times[f][t], expected, expected * 0.25 + 0.02);
        }
    }
    EXPECT_NE(screen.find("Test completed with 4 errors."), std::string::npos);

    // The record: one run of what was measured once, each figure of the log
    // as a measurement, each failed trial as a fault of F1.
    EXPECT_EQ(Query("SELECT test, cycles_planned, cycles_done, outcome, errors FROM runs"),
              (StoreRows{{"Fingerprint", "1", "1", "fail", "4"}}));
    EXPECT_EQ(
        Query("SELECT cycle, motor, kind, text FROM events ORDER BY seq"),
        (StoreRows{{"NULL", "F1", "failed to fully close", "F1 failed to fully close at V=20"},
                   {"NULL", "F1", "failed to fully close", "F1 failed to fully close at V=55"},
                   {"NULL", "F1", "failed to fully close", "F1 failed to fully close at V=75"},
                   {"NULL", "F1", "failed to fully close", "F1 failed to fully close at V=100"}}));
    StoreRows figures = {{"Minimum velocity", std::to_string(kSimMinSpreadVelocity), "NULL"}};
    for (int m = 0; m < 4; ++m) {
        const auto& f = encoders[m];
        const std::string motor = "M" + std::to_string(m + 1) + " ";
        for (const auto& [column, value] : {std::pair{"MinClse", f.minClose},
                                            {"AvgClse", f.avgClose},
                                            {"MaxClse", f.maxClose},
                                            {"MinOpen", f.minOpen},
                                            {"AvgOpen", f.avgOpen},
                                            {"MaxOpen", f.maxOpen}}) {
            figures.push_back({motor + column, std::to_string(value), "counts"});
        }
    }
    const char* const trialNames[] = {"Clse20", "Open20", "Clse55",  "Open55",
                                      "Clse75", "Open75", "Clse100", "Open100"};
    for (int f = 0; f < 3; ++f) {
        for (int t = 0; t < 8; ++t) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%.3f", times[f][t]);
            figures.push_back({"F" + std::to_string(f + 1) + " " + trialNames[t], shown, "s"});
        }
    }
    EXPECT_EQ(Query("SELECT name, CASE WHEN unit = 's' THEN printf('%.3f', value)"
                    " ELSE CAST(value AS INTEGER) END, unit FROM measurements ORDER BY seq"),
              figures);
    EXPECT_NE(screen.find("\r\t\t\tNow trying velocity: " + std::to_string(kSimMinSpreadVelocity) +
                          "   "),
              std::string::npos);

    // Real-time mode has ended and all four motors are closed.
    const auto state = Sim().State();
    EXPECT_EQ(state.mode, zhandsim::Mode::Command);
    EXPECT_EQ(state.motors[0].position, kShortAt);
    EXPECT_GT(state.motors[1].position, 17000);
    EXPECT_GT(state.motors[2].position, 17000);
    EXPECT_GT(state.motors[3].position, 3050);
}

// The hand stops the run in each of its three measurements; the measurement
// it stops in opens its section, which then holds the line of the stop
// instead of its figures. The measurements are made once: cycle 1 of 1.
struct FingerprintStopCase {
    const char* title;
    HandStop stop;
    int ahead;  // the command line of the run the fault meets first
    const char* keys;
    int sections;  // written, the last one holding the stop
    int ignored;   // lines the silent hand ignored
};

// The lines before the search (3), before the encoder samples (3 + 16 * 4)
// and before real-time mode (the samples, FDEF and FSAVE, the flags, the four
// flag reads).
constexpr int kSearch = 3;
constexpr int kSamples = kSearch + (kSimMinSpreadVelocity - 15) * 4;
constexpr int kLoop = kSamples + 25 * 4 + 2 + 25 * 4 + 1 + 4;

const FingerprintStopCase kFingerprintStops[] = {
    {"the line hangs up on the second spread close", HandStop::Hangup, kSearch + 4 + 1, " ", 1, 0},
    {"the line hangs up on the third opening move, Esc gives up the wait", HandStop::HangupGivenUp,
     kSamples + 2 * 4 + 2, "  \x1b", 2, 0},
    {"the line hangs up as real-time mode starts", HandStop::Hangup, kLoop, "  ", 3, 0},
    // The first closing move, its reading and the opening move.
    {"the hand falls silent on the first encoder sample", HandStop::Silent, kSamples, "  ", 2, 3},
};

TEST_F(Fingerprint, AHandThatStopsEndsTheRunInTheMeasurementUnderWay) {
    for (const auto& c : kFingerprintStops) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(RunStopped(&c == kFingerprintStops, kSlot, 5, c.keys, c.stop, c.ahead), 1);

        const std::string words = StopWords(c.stop);
        const std::string log = MaskTimes(Log());
        const std::string search = "\n\n*****\n* Minimum Spread Velocity\n* <time>\n*****\n";
        const std::string encoders =
            "\n\n*****\n* Encoder Accuracy (Encoder counts)\n* <time>\n*****\n";
        const std::string speeds = "\n\n*****\n* Finger Speeds (seconds)\n* <time>\n*****\n";
        const std::string stop = "\n" + words + " in cycle 1 at <time>\n";
        const std::string velocity = "\nMinimum velocity for sucessful vertical close = " +
                                     std::to_string(kSimMinSpreadVelocity) + "\n";
        if (c.sections == 1) {
            EXPECT_EQ(log, search + stop);
        } else if (c.sections == 2) {
            EXPECT_EQ(log, search + velocity + encoders + stop);
        } else {
            // The encoder table in between is the hand's scatter.
            EXPECT_TRUE(log.starts_with(search + velocity + encoders)) << log;
            EXPECT_EQ(EncoderTable(log).size(), 4u) << log;
            EXPECT_TRUE(log.ends_with(speeds + stop)) << log;
        }
        EXPECT_TRUE(SpeedTable(log).empty());
        // The hand is to be brought back upright only once the search is over.
        EXPECT_EQ(screen.find("Thank-you.") != std::string::npos, c.sections > 1);
        ExpectStopped({.stop = c.stop,
                       .slot = kSlot,
                       .cycle = 1,
                       .cycles = 1,
                       .cyclesDone = 0,
                       .healthy = ExpectedCommands(),
                       .ignored = c.ignored});
        EXPECT_EQ(Sim().State().mode, zhandsim::Mode::Command);
    }
}

}  // namespace
