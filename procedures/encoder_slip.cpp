// Encoder slip - Grasp (slot 6) and - Spread (slot 7): cycle the fingers or
// the spread at high speed and log each motor's position before the first and
// after the last cycle side by side. The spread test ends a complete run by
// closing the fingers once to look for premature breakaway.
#include <array>
#include <span>
#include <string>

#include "console.h"
#include "framework.h"
#include "procedures.h"
#include "station.h"

namespace {

// The cycle number the spread test's closing finger checks report.
constexpr int kBreakawayCheckCycle = 25;

// Reads "P" of the given motors; a reading the hand does not give stays 0.
template <std::size_t N>
std::array<int, N> ReadPositions(const char* motors) {
    std::array<int, N> positions{};
    if (!ReadHandValues(motors, "P", positions)) positions.fill(0);
    return positions;
}

void WriteGraspPositions(std::FILE* log, const std::array<int, 3>& initial,
                         const std::array<int, 3>& final) {
    std::fputs("\n\tInit\tFinal\n", log);
    for (int motor = 1; motor <= 3; ++motor) {
        const auto i = static_cast<std::size_t>(motor - 1);
        std::fprintf(log, "M%d\t%d\t%d\n", motor, initial[i], final[i]);
    }
}

void WriteSpreadPositions(std::FILE* log, const std::array<int, 1>& initial,
                          const std::array<int, 1>& final) {
    std::fputs("\n\tInit\tFinal\n", log);
    std::fprintf(log, "M4\t%d\t%d\n", initial[0], final[0]);
}

}  // namespace

int EncoderSlipGraspTest(int test) {
    if (auto answer = RegistrationAnswer(test, "Encoder slip - Grasp", 20)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    PrintCentered("Please make sure the hand is mounted securely to the\n");
    PrintCentered("bench stand.  I will attempt to slip the finger encoders by\n");
    PrintCentered("performing motor cycles at high speeds.\n");
    PrintCentered("Commands: <P>ause, <A>bort\n");

    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;

    PrepareHand();
    hand.Command("FSET MOV 255");
    hand.Command("FSET MCV 255");
    const char* motors = "G";
    const auto initial = ReadPositions<3>(motors);
    WriteTestBanner(log, "Encoder slip - Grasp", testCycles[test]);

    int errors = 0;
    for (int cycle = 1; cycle <= testCycles[test]; ++cycle) {
        ShowCycleStatus(cycle, testCycles[test], errors);
        hand.Close(motors);
        for (int finger = 1; finger <= 3; ++finger) errors += CheckFingerClosed(finger, cycle, log);
        hand.Open(motors);
        for (int finger = 1; finger <= 3; ++finger) errors += CheckFingerOpen(finger, cycle, log);

        if (CommandPoll()) {
            const std::string message = AbortTest(test, cycle);
            const auto final = ReadPositions<3>(motors);
            std::fprintf(log, "\n\n%s", message.c_str());
            std::fprintf(log, "\n\nSUMMARY:\nErrors: %d\n", errors);
            WriteGraspPositions(log, initial, final);
            std::fclose(log);
            CountdownPrompt(message);
            return 1;
        }
    }

    WriteGraspPositions(log, initial, ReadPositions<3>(motors));
    std::fclose(log);
    CountdownPrompt(Format("Test completed with %d errors.", errors));
    return 0;
}

int EncoderSlipSpreadTest(int test) {
    if (auto answer = RegistrationAnswer(test, "Encoder slip - Spread", 20)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    PrintCentered("Please make sure the hand is mounted securely to the\n");
    PrintCentered("bench stand.  I will attempt to slip the spread encoder by\n");
    PrintCentered("performing motor cycles at high speeds.  I will also check\n");
    PrintCentered("for premature breakaway afterwards.\n");
    PrintCentered("Commands: <P>ause, <A>bort\n");

    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;

    PrepareHand();
    hand.Command("FSET MOV 55");
    hand.Command("FSET MCV 55");
    const char* motors = "S";
    const auto initial = ReadPositions<1>("4");
    WriteTestBanner(log, "Encoder slip - Spread", testCycles[test]);

    int errors = 0;
    for (int cycle = 1; cycle <= testCycles[test]; ++cycle) {
        ShowCycleStatus(cycle, testCycles[test], errors);
        hand.Close(motors);
        errors += CheckSpreadClosed(cycle, log);
        hand.Open(motors);
        errors += CheckSpreadOpen(cycle, log);

        if (CommandPoll()) {
            const std::string message = AbortTest(test, cycle);
            WriteSpreadPositions(log, initial, ReadPositions<1>("4"));
            std::fclose(log);
            CountdownPrompt(message);
            return 1;
        }
    }

    WriteSpreadPositions(log, initial, ReadPositions<1>("4"));
    motors = "G";
    hand.Close(motors);
    for (int finger = 1; finger <= 3; ++finger) {
        errors += CheckFingerClosed(finger, kBreakawayCheckCycle, log);
    }
    std::fclose(log);
    CountdownPrompt(Format("Test completed with %d errors.", errors));
    return 0;
}
