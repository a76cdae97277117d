#include "framework.h"

#include <cctype>
#include <cstdarg>

#include "clock.h"
#include "console.h"
#include "station.h"
#include "test_log.h"

namespace {

constexpr std::uint32_t kSecond = 1000;
constexpr const char* kPaused = "*** PAUSED ***";
constexpr const char* kPauseBlank = "              ";  // as wide as kPaused

// Writes one finished log line; returns 1, the count of a fault.
int LogFault(std::FILE* log, const std::string& line) {
    if (log != nullptr) std::fputs(line.c_str(), log);
    return 1;
}

// Number of integers at the start of a reply, read the way the driver reads
// them: blanks skipped, a run of digits and minus signs per value, stopping at
// any other character. A run without a digit is not a number.
std::size_t CountReplyNumbers(const char* text) {
    std::size_t count = 0;
    const char* p = text;
    for (;;) {
        while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
        bool digit = false;
        const char* start = p;
        while (*p == '-' || std::isdigit(static_cast<unsigned char>(*p))) {
            digit = digit || *p != '-';
            ++p;
        }
        if (p == start || !digit) return count;
        ++count;
    }
}

// Reads parameter "P" of one motor; false when the hand gave no reading.
bool ReadPosition(const char* motor, int* position) {
    int value[1] = {0};
    if (!ReadHandValues(motor, "P", value)) return false;
    *position = value[0];
    return true;
}

}  // namespace

bool IsTestSlot(int test) {
    return test >= 1 && test <= kTestCount;
}

std::optional<int> RegistrationAnswer(int test, const char* name, int defaultCycles) {
    if (test < 0 && IsTestSlot(-test)) {
        testNames[-test] = name;
        return defaultCycles;
    }
    if (!IsTestSlot(test)) return 0;
    return std::nullopt;
}

std::string Format(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

std::uint32_t TicksSince(std::uint32_t since) {
    return TickCount() - since;
}

int FoldUpper(int key) {
    return key >= 'a' && key <= 'z' ? key - 'a' + 'A' : key;
}

void ShowTestHeader(int test) {
    if (!IsTestSlot(test)) return;
    MoveCursor(0, 0);
    PrintCentered(testNames[test]);
    ShowCycleStatus(1, testCycles[test], 0);
}

void ShowCycleStatus(int cycle, int totalCycles, int errors) {
    const std::string status =
        Format("Cycle %d of %d, Errors = %d\n\n", cycle, totalCycles, errors);
    MoveCursor(1, 0);
    PrintCentered(status);
}

void PrepareHand() {
    hand.Command("FDEF");
    hand.Command("FSAVE");
    hand.InitHand("1234");
}

std::FILE* OpenLogOrReport() {
    std::string name;
    std::FILE* log = OpenTestLog(&name);
    if (log != nullptr) return log;
    MoveCursor(20, 0);
    PrintCentered(Format("Could not open log file %s", name.c_str()));
    GetKey();
    return nullptr;
}

void WriteTestBanner(std::FILE* log, const std::string& title, int cycles) {
    if (log == nullptr) return;
    std::fprintf(log, "\n\n*****\n* %s, %d cycles\n* %s*****\n", title.c_str(), cycles,
                 TimeText().c_str());
}

bool ReadHandValues(const char* motors, const char* names, std::span<int> values) {
    if (hand.GetParameters(motors, names, values) != 0) return false;
    const char* reply = hand.ReplyText();
    return reply != nullptr && CountReplyNumbers(reply) >= values.size();
}

bool ReadTemperature(int* value) {
    int reading = 0;
    if (hand.GetTemperature(&reading) != 0) return false;
    const char* reply = hand.ReplyText();
    if (reply == nullptr || CountReplyNumbers(reply) == 0) return false;
    *value = reading;
    return true;
}

void RecoverMotor(const char* motors, int velocity) {
    int saved[1] = {0};
    const bool haveSaved = ReadHandValues(motors, "MOV", saved);
    hand.SetParameter(motors, "MOV", velocity);
    hand.InitHand(motors);
    // Without a reading there is nothing to restore; the motor keeps the
    // recovery velocity rather than an invented one.
    if (haveSaved) hand.SetParameter(motors, "MOV", saved[0]);
}

int CheckFingerClosed(int finger, int cycle, std::FILE* log) {
    const std::string motor = std::to_string(finger);
    int p = 0;
    if (!ReadPosition(motor.c_str(), &p)) {
        return LogFault(log, Format("F%d NO POSITION READING in cycle %d at %s", finger, cycle,
                                    TimeText().c_str()));
    }
    if (p < 3000) {
        RecoverMotor(motor.c_str(), 65);
        return LogFault(
            log, Format("F%d JAMMED OPEN in cycle %d at %s", finger, cycle, TimeText().c_str()));
    }
    if (p < 10000) {
        RecoverMotor(motor.c_str(), 65);
        return LogFault(log, Format("F%d PREMATURE BREAKAWAY in cycle %d at %s", finger, cycle,
                                    TimeText().c_str()));
    }
    if (p < 15100) {
        return LogFault(
            log, Format("F%d NO BREAKAWAY in cycle %d at %s", finger, cycle, TimeText().c_str()));
    }
    return 0;
}

int CheckFingerOpen(int finger, int cycle, std::FILE* log) {
    const std::string motor = std::to_string(finger);
    int p = 0;
    if (!ReadPosition(motor.c_str(), &p)) {
        return LogFault(log, Format("F%d NO POSITION READING in cycle %d at %s", finger, cycle,
                                    TimeText().c_str()));
    }
    if (p > 500) {
        RecoverMotor(motor.c_str(), 65);
        return LogFault(
            log, Format("F%d JAMMED CLOSE in cycle %d at %s", finger, cycle, TimeText().c_str()));
    }
    return 0;
}

int CheckSpreadClosed(int cycle, std::FILE* log) {
    int p = 0;
    if (!ReadPosition("S", &p)) {
        return LogFault(
            log, Format("Spread NO POSITION READING in cycle %d at %s", cycle, TimeText().c_str()));
    }
    if (p < 3050) {
        RecoverMotor("S", 35);
        return LogFault(
            log, Format("Spread DID NOT FULLY CLOSE in cycle %d at %s", cycle, TimeText().c_str()));
    }
    return 0;
}

int CheckSpreadOpen(int cycle, std::FILE* log) {
    int p = 0;
    if (!ReadPosition("S", &p)) {
        return LogFault(
            log, Format("Spread NO POSITION READING in cycle %d at %s", cycle, TimeText().c_str()));
    }
    if (p > 50) {
        RecoverMotor("S", 35);
        return LogFault(
            log, Format("Spread DID NOT FULLY OPEN in cycle %d at %s", cycle, TimeText().c_str()));
    }
    return 0;
}

void PauseTest() {
    bool show = true;
    std::uint32_t last = TickCount() - kSecond;
    while (!KeyWaiting()) {
        const std::uint32_t now = TickCount();
        std::uint32_t elapsed = now - last;
        if (elapsed > kSecond) {
            last = now;
            elapsed = 0;
            MoveCursor(21, 0);
            PrintCentered(show ? kPaused : kPauseBlank);
            show = !show;
        }
        // Sleep on the keyboard until the next blink is due.
        WaitForKey(static_cast<int>(kSecond + 1 - elapsed));
    }
    MoveCursor(21, 0);
    PrintCentered(kPauseBlank);
}

bool CommandPoll() {
    if (!KeyWaiting()) return false;
    const int key = FoldUpper(GetKey());
    if (key == 'A') return true;
    if (key == 'P') PauseTest();
    return false;
}

void CancelLaterTests(int test) {
    for (int t = test < 0 ? 1 : test + 1; t <= kTestCount; ++t) testCycles[t] = 0;
}

std::string AbortTest(int test, int cycle) {
    if (!IsTestSlot(test)) return Format("Test aborted in cycle %d of %d.", cycle, cycle);
    std::string message = Format("Test aborted in cycle %d of %d.", cycle, testCycles[test]);
    testCycles[test] = cycle;
    CancelLaterTests(test);
    return message;
}

void CountdownPrompt(const std::string& message) {
    int counter = 10;
    MoveCursor(20, 0);
    PrintCentered(message);
    MoveCursor(21, 0);
    std::uint32_t last = TickCount() - kSecond;
    for (;;) {
        const std::uint32_t now = TickCount();
        std::uint32_t elapsed = now - last;
        if (elapsed > kSecond) {
            last = now;
            elapsed = 0;
            std::fputs("\r", stdout);
            PrintCentered(Format("Press any key to continue [%2.2d]...", counter));
            --counter;
        }
        if (KeyWaiting() || counter == 0) return;
        WaitForKey(static_cast<int>(kSecond + 1 - elapsed));
    }
}
