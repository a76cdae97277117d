// Multi-Axis (slot 5) and After-Freezer (slot 9): every cycle closes and opens
// the three fingers together, then the spread, checks each position after
// every move and reads the temperature once. The two differ only in name,
// default cycle count and log title.
#include <string>

#include "console.h"
#include "framework.h"
#include "procedures.h"
#include "station.h"

namespace {

struct AllMotorTest {
    const char* name;   // in the test table
    int defaultCycles;  // registered at start-up
    const char* title;  // in the log banner
};

constexpr AllMotorTest kMultiAxis{"Multi-Axis", 1500, "Multi-Axis"};
constexpr AllMotorTest kAfterFreezer{"After-Freezer", 500, "After Freezer"};

void WriteSummary(std::FILE* log, int errors, int maxTemperature) {
    std::fprintf(log, "\n\nSUMMARY:\nErrors: %d\n", errors);
    std::fprintf(log, "Maximum temperature: %d\n", maxTemperature);
}

int RunAllMotorTest(int test, const AllMotorTest& spec) {
    if (auto answer = RegistrationAnswer(test, spec.name, spec.defaultCycles)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    PrintCentered("I am performing an all-motor cycle test.\n");
    PrintCentered("Please make sure nothing interferes with the hand.\n");
    PrintCentered("Commands: <P>ause, <A>bort\n");

    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;

    PrepareHand();
    hand.Command("FSET MOV 150");
    hand.Command("FSET MCV 150");
    hand.Command("4FSET MOV 45");
    hand.Command("4FSET MCV 45");
    WriteTestBanner(log, spec.title, testCycles[test]);

    int errors = 0;
    int maxTemperature = 0;
    for (int cycle = 1; cycle <= testCycles[test]; ++cycle) {
        ShowCycleStatus(cycle, testCycles[test], errors);
        hand.Close("G");
        for (int finger = 1; finger <= 3; ++finger) errors += CheckFingerClosed(finger, cycle, log);
        hand.Open("G");
        for (int finger = 1; finger <= 3; ++finger) errors += CheckFingerOpen(finger, cycle, log);
        hand.Close("S");
        errors += CheckSpreadClosed(cycle, log);
        hand.Open("S");
        errors += CheckSpreadOpen(cycle, log);

        int temperature = 0;
        if (ReadTemperature(&temperature) && temperature > maxTemperature) {
            maxTemperature = temperature;
        }

        if (CommandPoll()) {
            const std::string message = AbortTest(test, cycle);
            std::fprintf(log, "\n\n%s", message.c_str());
            WriteSummary(log, errors, maxTemperature);
            std::fclose(log);
            CountdownPrompt(message);
            return 1;
        }
    }

    WriteSummary(log, errors, maxTemperature);
    std::fclose(log);
    CountdownPrompt(Format("Test completed with %d errors.", errors));
    return 0;
}

}  // namespace

int MultiAxisTest(int test) {
    return RunAllMotorTest(test, kMultiAxis);
}
int AfterFreezerTest(int test) {
    return RunAllMotorTest(test, kAfterFreezer);
}
