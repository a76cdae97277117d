// Strain Gages (slot 3): the technician presses each finger at six known
// forces while its strain gauge reading is shown live, and accepts each
// reading into a table of 3 fingers by 6 forces that goes to the log.
#include <array>
#include <cstdint>

#include "framework.h"
#include "procedures.h"
#include "test_run.h"

namespace {

constexpr const char* kName = "Strain Gages";
constexpr int kDefaultCycles = 1;
constexpr int kFingers = 3;
constexpr int kForces = 6;
constexpr const char* kForceNames[kForces] = {"0g", "250g", "500g", "1000g", "1500g", "2000g"};
constexpr int kTab = 9;
constexpr int kEnter = 13;
constexpr int kEsc = 27;
// The shown reading is refreshed when more than this has passed.
constexpr std::uint32_t kRefreshMs = 200;
// Between two real-time exchanges the loop waits this long for a key, so it
// keeps the hand fed without spinning a core.
constexpr int kExchangeGapMs = 20;

using ReadingTable = std::array<std::array<int, kForces>, kFingers>;

// The cell being filled and the reading last shown; both carry over from one
// cycle to the next.
struct Cursor {
    int finger = 1;  // 1..3
    int force = 1;   // 1..6
    int lastReading = 0;

    void MoveToCell(Console& console) const { console.MoveCursor(finger + 8, 8 * force + 4); }
};

void Accept(Console& console, Cursor& cell, ReadingTable& table) {
    cell.MoveToCell(console);
    console.Printf(" %6d ", cell.lastReading);
    table[cell.finger - 1][cell.force - 1] = cell.lastReading;
}

// TAB walks along a finger's row through the forces.
void NextForce(Cursor& cell) {
    if (++cell.force > kForces) {
        cell.force = 1;
        if (++cell.finger > kFingers) cell.finger = 1;
    }
}

// ENTER walks down a force's column through the fingers.
void NextFinger(Cursor& cell) {
    if (++cell.finger > kFingers) {
        cell.finger = 1;
        if (++cell.force > kForces) cell.force = 1;
    }
}

// One cycle in real-time mode: shows the live reading of the current cell and
// stores it on TAB or ENTER, until ESC or until the hand stops the run.
void ReadStrains(TestRun& run, Cursor& cell, ReadingTable& table) {
    Console& console = run.console();
    const Clock& clock = run.clock();
    run.Command("T");
    run.Exchange([](ZHand& hand) {
        return hand.RTSetFlags("123", false, 0, false, false, 0, true, false, false, 0);
    });
    run.RTStart("123");
    std::uint32_t refresh = clock.TickCount();
    run.RTUpdate();
    while (!run.HandStopped()) {
        if (clock.TicksSince(refresh) > kRefreshMs) {
            refresh = clock.TickCount();
            cell.lastReading = run.hand().RTGetStrain(static_cast<char>('0' + cell.finger));
            cell.MoveToCell(console);
            console.Printf("(%6d)", cell.lastReading);
        }
        run.RTUpdate();
        if (run.HandStopped()) break;
        if (!console.KeyWaiting() && !console.WaitForKey(kExchangeGapMs)) continue;
        const int key = console.GetKey();
        if (key == kEsc) break;
        if (key == kTab) {
            Accept(console, cell, table);
            NextForce(cell);
        } else if (key == kEnter) {
            Accept(console, cell, table);
            NextFinger(cell);
        }
    }
    run.RTAbort();
}

void WriteTable(Recorder& log, const ReadingTable& table) {
    log.Write("\t0g\t250g\t500g\t1000g\t1500g\t2000g");
    for (int finger = 0; finger < kFingers; ++finger) {
        log.Print("\nF%d", finger + 1);
        for (int force = 0; force < kForces; ++force) {
            const int reading = table[finger][force];
            log.Print("\t%d", reading);
            log.Measure(Format("F%d %s", finger + 1, kForceNames[force]), reading);
        }
    }
    log.Write("\n\n");
}

}  // namespace

int StrainGagesTest(Station& station, int test) {
    if (auto answer = RegistrationAnswer(station.tests, test, kName, kDefaultCycles)) {
        return *answer;
    }

    Console& console = station.console;
    TestRun run(station, test);
    run.ShowHeader();
    console.Print("\n");
    console.PrintCentered("I will prompt you to apply a certain force on a finger.\n");
    console.PrintCentered("Please use the force gage to apply that force, then press\n");
    console.PrintCentered("<TAB> or <ENTER> to accept the value.  Press <ESC> when finished.\n\n");
    console.Print("\t\t0g\t250g\t500g\t1000g\t1500g\t2000g\n");
    console.Print("\tF1\n\tF2\n\tF3");
    ReadingTable table{};
    // The log is opened before the hand moves, so that readings are never
    // taken that could not be written.
    if (!run.OpenLog()) return 1;

    run.PrepareHand();
    // The banner comes with the table at the end; when the hand stops the
    // run it comes at once, so that the line of the stop opens the test's
    // section, followed by the readings accepted so far.
    const auto bannerOnStop = [&] {
        if (run.HandStopped()) run.WriteBanner(kName);
    };
    bannerOnStop();
    Cursor cell;
    const auto ending = run.RunCycles(
        [&](int) {
            ReadStrains(run, cell, table);
            bannerOnStop();
        },
        [&] { WriteTable(run.log(), table); }, {.commands = false});
    if (ending != TestRun::Ending::Completed) return 1;

    run.WriteBanner(kName);
    WriteTable(run.log(), table);
    run.Complete();
    return 0;
}
