// Finger Movement (slot 1): the four motors close and open one at a time in a
// random order, and the technician names each motor that moved.
#include <cstdio>
#include <string>

#include "clock.h"
#include "console.h"
#include "framework.h"
#include "motor_order.h"
#include "procedures.h"
#include "station.h"

namespace {

constexpr const char* kName = "Finger Movement";
constexpr int kDefaultCycles = 2;
constexpr const char* kSuccess = "TEST COMPLETED SUCCESSFULLY";

// Writes a typed key back to the screen. Only printable keys are echoed:
// a control code such as ESC would start an escape sequence on the terminal.
void EchoKey(int key) {
    if (key >= ' ' && key < 127) std::putchar(key);
    std::fflush(stdout);
}

enum class Answer { Seen, Declined, KeyboardGone };

// Closes and opens motor m until the technician names it, declines the retry,
// or the keyboard has gone for good.
Answer AskForMotor(int m) {
    const std::string motor = std::to_string(m);
    for (;;) {
        hand.Close(motor.c_str());
        hand.Open(motor.c_str());
        // Blank the previous question and answer (tabs would only move the
        // cursor on a terminal, so the row is overwritten with blanks).
        MoveCursor(7, 0);
        std::printf("%79s\n", "");
        MoveCursor(7, 5);
        std::printf("\rWhich motor? ");
        const int answer = GetKey();
        EchoKey(answer);
        if (answer - '0' == m) return Answer::Seen;
        if (InputEnded()) return Answer::KeyboardGone;
        std::printf("  <-- You should have seen motor %d move, try again? (Y/N): ", m);
        const int retry = GetKey();
        EchoKey(retry);
        if (FoldUpper(retry) == 'N') return Answer::Declined;
        if (InputEnded()) return Answer::KeyboardGone;
    }
}

int FailTest(int test, int m, int errors, std::FILE* log) {
    ++errors;
    const std::string message = Format("TEST FAILED: M%d IS NOT FUNCTIONING PROPERLY!", m);
    std::printf("\n\n");
    PrintCentered(message);
    std::printf("\n");
    PrintCentered("Please fix it before continuing with these tests.");
    std::printf("\n\n");
    CancelLaterTests(test);
    std::fprintf(log, "\n%s\n\n", message.c_str());
    std::fclose(log);
    PrintCentered("Press any key to return to the Main Menu...");
    GetKey();
    return errors;
}

}  // namespace

int FingerMovementTest(int test) {
    if (auto answer = RegistrationAnswer(test, kName, kDefaultCycles)) return *answer;

    ClearScreen();
    ShowTestHeader(test);
    PrintCentered("I will randomly close and open the fingers and the spread,\n");
    PrintCentered("you tell me which motors were activated [1, 2, 3, 4, or <N>one].\n\n");
    std::FILE* log = OpenLogOrReport();
    if (log == nullptr) return 1;
    PrepareHand();
    WriteTestBanner(log, kName, testCycles[test]);
    SeedMotorDraws(CurrentTime());

    int errors = 0;
    for (int cycle = 1; cycle <= testCycles[test]; ++cycle) {
        for (int m : DrawMotorOrder(NextMotorDraw)) {
            ShowCycleStatus(cycle, testCycles[test], errors);
            switch (AskForMotor(m)) {
                case Answer::Seen:
                    break;
                case Answer::Declined:
                    return FailTest(test, m, errors, log);
                case Answer::KeyboardGone:
                    // Nobody is left to answer: the run ends unconfirmed, its
                    // log section without a closing line, and no later test
                    // runs unattended.
                    CancelLaterTests(test);
                    std::fclose(log);
                    return errors + 1;
            }
        }
    }
    std::fprintf(log, "\n%s\n\n", kSuccess);
    std::fclose(log);
    CountdownPrompt(kSuccess);
    return errors;
}
