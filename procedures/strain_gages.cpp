// Strain Gages (slot 3): the technician presses each finger at six known
// forces while its strain gauge reading is shown live, and accepts each
// reading into a table of 3 fingers by 6 forces that goes to the log.
#include <array>
#include <cstdint>
#include <cstdio>

#include "clock.h"
#include "console.h"
#include "framework.h"
#include "procedures.h"
#include "station.h"

namespace {

constexpr const char* kName = "Strain Gages";
constexpr int kDefaultCycles = 1;
constexpr int kFingers = 3;
constexpr int kForces = 6;
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

    void MoveToCell() const { MoveCursor(finger + 8, 8 * force + 4); }
};

void Accept(Cursor& cell, ReadingTable& table) {
    cell.MoveToCell();
    std::printf(" %6d ", cell.lastReading);
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
// stores it on TAB or ENTER, until ESC.
void ReadStrains(Cursor& cell, ReadingTable& table) {
    hand.Command("T");
    hand.RTSetFlags("123", false, 0, false, false, 0, true, false, false, 0);
    hand.RTStart("123");
    std::uint32_t refresh = TickCount();
    hand.RTUpdate(true, true);
    for (;;) {
        if (TicksSince(refresh) > kRefreshMs) {
            refresh = TickCount();
            cell.lastReading = hand.RTGetStrain(static_cast<char>('0' + cell.finger));
            cell.MoveToCell();
            std::printf("(%6d)", cell.lastReading);
        }
        hand.RTUpdate(true, true);
        if (!KeyWaiting() && !WaitForKey(kExchangeGapMs)) continue;
        const int key = GetKey();
        if (key == kEsc) break;
        if (key == kTab) {
            Accept(cell, table);
            NextForce(cell);
        } else if (key == kEnter) {
            Accept(cell, table);
            NextFinger(cell);
        }
    }
    hand.RTAbort();
}

void WriteTable(std::FILE* log, const ReadingTable& table) {
    std::fputs("\t0g\t250g\t500g\t1000g\t1500g\t2000g", log);
    for (int finger = 0; finger < kFingers; ++finger) {
        std::fprintf(log, "\nF%d", finger + 1);
        for (int reading : table[finger]) std::fprintf(log, "\t%d", reading);
    }
    std::fputs("\n\n", log);
}

}  // namespace

int StrainGagesTest(int test) {
    if (auto answer = RegistrationAnswer(test, kName, kDefaultCycles)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    std::printf("\n");
    PrintCentered("I will prompt you to apply a certain force on a finger.\n");
    PrintCentered("Please use the force gage to apply that force, then press\n");
    PrintCentered("<TAB> or <ENTER> to accept the value.  Press <ESC> when finished.\n\n");
    std::printf("\t\t0g\t250g\t500g\t1000g\t1500g\t2000g\n");
    std::printf("\tF1\n\tF2\n\tF3");
    ReadingTable table{};
    // The log is opened before the hand moves, so that readings are never
    // taken that could not be written.
    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;

    PrepareHand();
    Cursor cell;
    for (int cycle = 1; cycle <= testCycles[test]; ++cycle) {
        ShowCycleStatus(cycle, testCycles[test], 0);
        ReadStrains(cell, table);
    }

    WriteTestBanner(log, kName, testCycles[test]);
    WriteTable(log, table);
    std::fclose(log);
    return 0;
}
