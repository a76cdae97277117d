#include "framework.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

constexpr std::uint32_t kSecond = 1000;
constexpr const char* kPaused = "*** PAUSED ***";
constexpr const char* kPauseBlank = "              ";  // as wide as kPaused

}  // namespace

bool IsTestSlot(int test) {
    return test >= 1 && test <= kTestCount;
}

std::optional<int> RegistrationAnswer(TestTable& tests, int test, const char* name,
                                      int defaultCycles) {
    if (test < 0 && IsTestSlot(-test)) {
        tests.names[-test] = name;
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

int FoldUpper(int key) {
    return key >= 'a' && key <= 'z' ? key - 'a' + 'A' : key;
}

void ShowTestHeader(Station& station, int test) {
    if (!IsTestSlot(test)) return;
    station.console.MoveCursor(0, 0);
    station.console.PrintCentered(station.tests.names[test]);
    ShowCycleStatus(station.console, 1, station.tests.cycles[test], 0);
}

void ShowCycleStatus(Console& console, int cycle, int totalCycles, int errors) {
    const std::string status =
        Format("Cycle %d of %d, Errors = %d\n\n", cycle, totalCycles, errors);
    console.MoveCursor(1, 0);
    console.PrintCentered(status);
}

void PauseTest(Console& console, const Clock& clock) {
    bool show = true;
    std::uint32_t last = clock.TickCount() - kSecond;
    while (!console.KeyWaiting()) {
        const std::uint32_t now = clock.TickCount();
        std::uint32_t elapsed = now - last;
        if (elapsed > kSecond) {
            last = now;
            elapsed = 0;
            console.MoveCursor(21, 0);
            console.PrintCentered(show ? kPaused : kPauseBlank);
            show = !show;
        }
        // Sleep on the keyboard until the next blink is due.
        console.WaitForKey(static_cast<int>(kSecond + 1 - elapsed));
    }
    console.MoveCursor(21, 0);
    console.PrintCentered(kPauseBlank);
}

void CancelLaterTests(TestTable& tests, int test) {
    for (int t = test < 0 ? 1 : test + 1; t <= kTestCount; ++t) tests.cycles[t] = 0;
}

std::string AbortTest(TestTable& tests, int test, int cycle) {
    if (!IsTestSlot(test)) return Format("Test aborted in cycle %d of %d.", cycle, cycle);
    std::string message = Format("Test aborted in cycle %d of %d.", cycle, tests.cycles[test]);
    tests.cycles[test] = cycle;
    CancelLaterTests(tests, test);
    return message;
}

void CountdownPrompt(Console& console, const Clock& clock, const std::string& message) {
    int counter = 10;
    console.MoveCursor(20, 0);
    console.PrintCentered(message);
    console.MoveCursor(21, 0);
    std::uint32_t last = clock.TickCount() - kSecond;
    for (;;) {
        const std::uint32_t now = clock.TickCount();
        std::uint32_t elapsed = now - last;
        if (elapsed > kSecond) {
            last = now;
            elapsed = 0;
            console.Print("\r");
            console.PrintCentered(Format("Press any key to continue [%2.2d]...", counter));
            --counter;
        }
        if (console.KeyWaiting() || counter == 0) return;
        console.WaitForKey(static_cast<int>(kSecond + 1 - elapsed));
    }
}
