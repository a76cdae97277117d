// Finger Movement (slot 1): the four motors close and open one at a time in a
// random order, and the technician names each motor that moved.
#include <string>

#include "framework.h"
#include "motor_order.h"
#include "procedures.h"
#include "record.h"
#include "record_names.h"
#include "test_run.h"

namespace {

constexpr const char* kName = "Finger Movement";
constexpr int kDefaultCycles = 2;
constexpr const char* kSuccess = "TEST COMPLETED SUCCESSFULLY";

using results::MotorName;

// Writes a typed key back to the screen. Only printable keys are echoed:
// a control code such as ESC would start an escape sequence on the terminal.
void EchoKey(Console& console, int key) {
    if (key >= ' ' && key < 127) console.PutChar(static_cast<char>(key));
    console.Flush();
}

enum class Answer { Seen, Declined, KeyboardGone, HandGone };

// Closes and opens motor m until the technician names it, declines the retry,
// the keyboard has gone for good or the hand has stopped the run.
Answer AskForMotor(TestRun& run, int m) {
    Console& console = run.console();
    const std::string motor = std::to_string(m);
    for (;;) {
        run.Close(motor.c_str());
        run.Open(motor.c_str());
        if (run.HandStopped()) return Answer::HandGone;
        // Blank the previous question and answer (tabs would only move the
        // cursor on a terminal, so the row is overwritten with blanks).
        console.MoveCursor(7, 0);
        console.Printf("%79s\n", "");
        console.MoveCursor(7, 5);
        console.Print("\rWhich motor? ");
        const int answer = console.GetKey();
        EchoKey(console, answer);
        if (answer - '0' == m) return Answer::Seen;
        if (console.InputEnded()) return Answer::KeyboardGone;
        console.Printf("  <-- You should have seen motor %d move, try again? (Y/N): ", m);
        const int retry = console.GetKey();
        EchoKey(console, retry);
        if (FoldUpper(retry) == 'N') return Answer::Declined;
        if (console.InputEnded()) return Answer::KeyboardGone;
    }
}

void FailTest(TestRun& run, int test, int m, int cycle) {
    Console& console = run.console();
    run.AddErrors(1);
    const std::string message = Format("TEST FAILED: M%d IS NOT FUNCTIONING PROPERLY!", m);
    console.Print("\n\n");
    console.PrintCentered(message);
    console.Print("\n");
    console.PrintCentered("Please fix it before continuing with these tests.");
    console.Print("\n\n");
    CancelLaterTests(run.station().tests, test);
    run.log().Note(results::kNotFunctioning, message, cycle, MotorName(m));
    run.log().Print("\n%s\n\n", message.c_str());
    run.End(results::kFail);
    console.PrintCentered("Press any key to return to the Main Menu...");
    console.GetKey();
}

}  // namespace

int FingerMovementTest(Station& station, int test) {
    if (auto answer = RegistrationAnswer(station.tests, test, kName, kDefaultCycles)) {
        return *answer;
    }

    TestRun run(station, test);
    run.ShowHeader({"I will randomly close and open the fingers and the spread,\n",
                    "you tell me which motors were activated [1, 2, 3, 4, or <N>one].\n\n"});
    if (!run.OpenLog()) return 1;
    run.PrepareHand();
    run.WriteBanner(kName);
    SeedMotorDraws(station.clock.CurrentTime());

    int result = 0;
    const auto ending = run.RunCycles(
        [&](int cycle) {
            for (int m : DrawMotorOrder(NextMotorDraw)) {
                ShowCycleStatus(station.console, cycle, run.Cycles(), run.Errors());
                switch (AskForMotor(run, m)) {
                    case Answer::Seen:
                        run.log().Note(results::kMotorSeen, Format("M%d moved", m), cycle,
                                       MotorName(m));
                        break;
                    case Answer::Declined:
                        FailTest(run, test, m, cycle);
                        result = run.Errors();
                        run.StopCycles();
                        return;
                    case Answer::KeyboardGone:
                        // Nobody is left to answer: the run ends unconfirmed,
                        // its log section without a closing line, and no
                        // later test runs unattended.
                        CancelLaterTests(station.tests, test);
                        run.End(results::kAborted);
                        result = run.Errors() + 1;
                        run.StopCycles();
                        return;
                    case Answer::HandGone:
                        return;  // the cycle loop ends the run
                }
            }
        },
        {}, {.status = false, .commands = false});
    if (ending == TestRun::Ending::Stopped) return result;
    if (ending == TestRun::Ending::HandLost) return run.Errors() + 1;

    run.log().Print("\n%s\n\n", kSuccess);
    run.Complete();
    run.Countdown(kSuccess);
    return run.Errors();
}
