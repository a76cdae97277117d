// Strain Gages against the simulator: the TAB and ENTER walks of the table,
// readings shown and accepted live (the technician presses a key only after
// seeing a reading), the log table, and a gauge reading above 127.
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "guided_fixture.h"
#include "procedures.h"
#include "seams.h"

namespace {

using namespace std::chrono_literals;
constexpr int kSlot = 3;
constexpr char kTab = '\t';
constexpr char kEnter = '\r';
constexpr char kEsc = '\x1b';

// One value printed into a cell of the table: a live reading "(%6d)" or an
// accepted one " %6d ".
struct CellEvent {
    int finger;  // 1..3
    int force;   // 1..6
    bool accepted;
    int value;
};

std::vector<CellEvent> CellEvents(const std::string& screen) {
    static const std::regex cell("\x1b\\[(\\d+);(\\d+)H([( ])( *-?\\d+)([) ])");
    std::vector<CellEvent> events;
    for (auto it = std::sregex_iterator(screen.begin(), screen.end(), cell);
         it != std::sregex_iterator(); ++it) {
        const auto& m = *it;
        const int row = std::stoi(m[1]) - 1;
        const int column = std::stoi(m[2]) - 1;
        events.push_back({row - 8, (column - 4) / 8, m[3] == " ", std::stoi(m[4])});
    }
    return events;
}

std::vector<CellEvent> Accepted(const std::vector<CellEvent>& events) {
    std::vector<CellEvent> accepted;
    for (const auto& e : events)
        if (e.accepted) accepted.push_back(e);
    return accepted;
}

// The log's table, finger by finger.
std::vector<std::vector<int>> LoggedTable(const std::string& log) {
    std::vector<std::vector<int>> table;
    static const std::regex row("\nF([123])((\t-?\\d+){6})");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), row); it != std::sregex_iterator();
         ++it) {
        std::vector<int> values;
        std::istringstream in((*it)[2].str());
        for (int v = 0; in >> v;) values.push_back(v);
        table.push_back(values);
    }
    return table;
}

// Presses TAB or ENTER keys, each only once a live reading has been shown
// since the previous key was taken, then ESC.
void Technician(const ScreenCapture& capture, KeyPipe& keys, const std::string& presses) {
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    for (std::size_t i = 0; i < presses.size(); ++i) {
        while (std::chrono::steady_clock::now() < giveUp) {
            const auto events = CellEvents(capture.Text());
            const auto accepted = Accepted(events).size();
            if (accepted == i && !events.empty() && !events.back().accepted) break;
            std::this_thread::sleep_for(2ms);
        }
        keys.Type(std::string(1, presses[i]));
    }
    // The last key taken, then ESC alone (a byte after ESC would join it).
    while (std::chrono::steady_clock::now() < giveUp &&
           Accepted(CellEvents(capture.Text())).size() < presses.size()) {
        std::this_thread::sleep_for(2ms);
    }
    keys.Type(std::string(1, kEsc));
}

using StrainGages = GuidedTest;

// The lines of one cycle: the hand told to stand still, then real-time mode
// with the strain gauges as feedback.
const std::vector<std::string> kCycle = {
    "T",
    "123FSET LCV 0 LCVC 0 LCPG 0 LFV 0 LFVC 0 LFS 1 LFAP 0 LFDP 0 LFDPC 0",
    "1FGET LCV LCPG LFV LFS LFAP LFDP",
    "2FGET LCV LCPG LFV LFS LFAP LFDP",
    "3FGET LCV LCPG LFV LFS LFAP LFDP",
    "4FGET LCV LCPG LFV LFS LFAP LFDP",
    "123LOOP"};

// The set-up and `cycles` cycles.
std::vector<std::string> Session(int cycles) {
    std::vector<std::string> lines = {"FDEF", "FSAVE", "1234HI"};
    for (int c = 0; c < cycles; ++c) lines.insert(lines.end(), kCycle.begin(), kCycle.end());
    return lines;
}

TEST_F(StrainGages, KeysBeforeAnyReadingStoreZeroAndWalkAcrossCycles) {
    station->tests.cycles[kSlot] = 2;
    // Cycle 1: ENTER walks down the 0 g column and on to F1 250 g; cycle 2
    // starts where cycle 1 left the cell.
    UseKeyScript(std::string{kEnter, kEnter, kEnter, kEsc, kTab, kEsc});
    EXPECT_EQ(Run(kSlot), 0);

    const auto accepted = Accepted(CellEvents(screen));
    ASSERT_EQ(accepted.size(), 4u);
    const int cells[][2] = {{1, 1}, {2, 1}, {3, 1}, {1, 2}};
    for (std::size_t i = 0; i < accepted.size(); ++i) {
        EXPECT_EQ(accepted[i].finger, cells[i][0]) << i;
        EXPECT_EQ(accepted[i].force, cells[i][1]) << i;
        EXPECT_EQ(accepted[i].value, 0) << i;
    }
    EXPECT_EQ(MaskTimes(Log()),
              "\n\n*****\n* Strain Gages, 2 cycles\n* <time>\n*****\n"
              "\t0g\t250g\t500g\t1000g\t1500g\t2000g\n"
              "F1\t0\t0\t0\t0\t0\t0\nF2\t0\t0\t0\t0\t0\t0\nF3\t0\t0\t0\t0\t0\t0\n\n");

    EXPECT_EQ(HandCommands(), Session(2));
    EXPECT_EQ(Sim().State().mode, zhandsim::Mode::Command);  // the loop was left
    EXPECT_NE(screen.find("Cycle 2 of 2, Errors = 0\n\n"), std::string::npos);
}

TEST_F(StrainGages, TabWalksEveryRowAndStoresTheReadingShown) {
    // F1's gauge reads about 200: a byte above 127 must stay positive.
    zhandsim::Fault drift;
    drift.kind = zhandsim::FaultKind::Drift;
    drift.motor = 1;
    drift.rate = 200 - 122;  // its baseline is 122; PrepareHand moves it once
    Sim().InjectFault(drift);
    UseTerminalKeys();
    KeyPipe keys;
    ScreenCapture capture;
    std::thread technician(Technician, std::cref(capture), std::ref(keys), std::string(19, kTab));
    const int result = StrainGagesTest(*station, kSlot);
    technician.join();
    screen = capture.Take();
    EXPECT_EQ(result, 0);

    const auto events = CellEvents(screen);
    const auto accepted = Accepted(events);
    ASSERT_EQ(accepted.size(), 19u);
    std::vector<std::vector<int>> table(3, std::vector<int>(6, 0));
    for (std::size_t i = 0; i < accepted.size(); ++i) {
        // Along F1, F2, F3 and back to F1 0 g.
        EXPECT_EQ(accepted[i].finger, 1 + static_cast<int>(i % 18) / 6) << i;
        EXPECT_EQ(accepted[i].force, 1 + static_cast<int>(i % 6)) << i;
        table[accepted[i].finger - 1][accepted[i].force - 1] = accepted[i].value;
    }
    // Every accepted value is the reading shown just before it.
    int shown = -1;
    for (const auto& e : events) {
        if (e.accepted) {
            EXPECT_EQ(e.value, shown);
        } else {
            shown = e.value;
        }
    }
    for (int force = 0; force < 6; ++force) {
        EXPECT_GE(table[0][force], 198);
        EXPECT_LE(table[0][force], 202);
        EXPECT_NEAR(table[1][force], 131, 2);  // F2 and F3 idle at their baselines
        EXPECT_NEAR(table[2][force], 137, 2);
    }
    EXPECT_EQ(LoggedTable(Log()), table);
    // Each cell of the log's table is a measurement named by its row and column.
    const char* const forces[] = {"0g", "250g", "500g", "1000g", "1500g", "2000g"};
    StoreRows cells;
    for (int finger = 0; finger < 3; ++finger) {
        for (int force = 0; force < 6; ++force) {
            cells.push_back({"F" + std::to_string(finger + 1) + " " + forces[force],
                             std::to_string(table[finger][force])});
        }
    }
    EXPECT_EQ(Query("SELECT name, CAST(value AS INTEGER) FROM measurements ORDER BY seq"), cells);
    EXPECT_EQ(Query("SELECT test, cycles_done, outcome, errors FROM runs"),
              (StoreRows{{"Strain Gages", "1", "pass", "0"}}));
}

// The hand stops the run in the set-up, as a cycle starts or as real-time
// mode starts. The section then opens with its banner and the line of the
// stop, and ends with the table of the readings accepted so far.
struct StrainStopCase {
    const char* title;
    HandStop stop;
    int ahead;  // the command line of the run the fault meets first
    std::string keys;
    int cycle;    // the cycle it stops in
    int ignored;  // lines the silent hand ignored
};

const StrainStopCase kStrainStops[] = {
    {"the line hangs up as the second cycle starts", HandStop::Hangup, 3 + 7, {kEnter, kEsc}, 2, 0},
    {"the line hangs up in the set-up, Esc gives up the wait",
     HandStop::HangupGivenUp,
     1,
     {kEsc},
     1,
     0},
    {"the line hangs up as real-time mode starts", HandStop::Hangup, 3 + 6, "", 1, 0},
    // "T", the flags, then the four flag reads and the start of the loop,
    // which are one exchange of the run.
    {"the hand falls silent as the first cycle starts", HandStop::Silent, 3, "", 1, 7},
};

TEST_F(StrainGages, AHandThatStopsEndsTheRunWithTheReadingsSoFar) {
    for (const auto& c : kStrainStops) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(RunStopped(&c == kStrainStops, kSlot, 2, c.keys, c.stop, c.ahead), 1);

        const std::string words = StopWords(c.stop);
        EXPECT_EQ(MaskTimes(Log()), "\n\n*****\n* Strain Gages, 2 cycles\n* <time>\n*****\n\n" +
                                        words + " in cycle " + std::to_string(c.cycle) +
                                        " at <time>\n"
                                        "\t0g\t250g\t500g\t1000g\t1500g\t2000g\n"
                                        "F1\t0\t0\t0\t0\t0\t0\nF2\t0\t0\t0\t0\t0\t0\n"
                                        "F3\t0\t0\t0\t0\t0\t0\n\n");
        EXPECT_EQ(Query("SELECT count(*) FROM measurements"), (StoreRows{{"18"}}));
        ExpectStopped({.stop = c.stop,
                       .slot = kSlot,
                       .cycle = c.cycle,
                       .cycles = 2,
                       .cyclesDone = c.cycle - 1,
                       .healthy = Session(2),
                       .ignored = c.ignored});
        // Real-time mode was left, or never entered.
        EXPECT_EQ(Sim().State().mode, zhandsim::Mode::Command);
    }
}

}  // namespace
