#include "form.h"

#include <cstdio>
#include <cstdlib>

#include "clock.h"
#include "console.h"
#include "station.h"
#include "terminal_mode.h"
#include "test_log.h"

namespace {

constexpr int kFieldCount = 12;
constexpr int kFieldWidth = 8;

constexpr int kCtrlA = 1;
constexpr int kBackspace = 8;
constexpr int kTab = 9;
constexpr int kShiftTab = 10;
constexpr int kEnter = 13;
constexpr int kCtrlQ = 17;
constexpr int kCtrlR = 18;
constexpr int kCtrlT = 20;

FormState form;

bool IsCountField(int field) {
    return field >= 3;
}

// Where a field's text starts.
int FieldRow(int field) {
    return IsCountField(field) ? field + 4 : field + 1;
}
int FieldColumn(int field) {
    return IsCountField(field) ? 9 : 20;
}

void PrintBlanks(int count) {
    for (int i = 0; i < count; ++i) std::putchar(' ');
}

int Length(const std::string& text) {
    return static_cast<int>(text.size());
}

// The text a field shows when entered.
std::string FieldValue(int field) {
    if (field == 1) return serialNumber;
    if (field == 2) return userInitials;
    return std::to_string(testCycles[field - 2]);
}

// The serial number and initials go into file names and into a file read
// word by word: blanks, "/", control characters and bytes of non-ASCII
// characters are refused there.
bool AcceptsIdentityKey(int key) {
    return key > ' ' && key < 127 && key != '/';
}

// The form has no message line of its own; row 21 is free until the next redraw.
void ShowSaveFailure() {
    MoveCursor(21, 0);
    std::printf("Prefs.dat could not be written; the change holds until the program ends.");
}

void CommitField(int field) {
    int blanks = kFieldWidth - Length(form.editBuffer);
    MoveCursor(FieldRow(field), FieldColumn(field));
    PrintBlanks(blanks);
    if (IsCountField(field)) {
        testCycles[field - 2] = std::atoi(form.editBuffer.c_str());
        std::fputs(form.editBuffer.c_str(), stdout);
        return;
    }
    std::printf("%s", form.editBuffer.c_str());
    if (!SavePrefs(field, form.editBuffer)) ShowSaveFailure();
}

void TypeCharacter(int key) {
    if (form.editPos >= kFieldWidth) return;
    if (IsCountField(form.field)) {
        if (key < '0' || key > '9') return;
    } else {
        if (!AcceptsIdentityKey(key)) return;
        if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
    }
    bool first = form.editPos == 0;
    std::putchar(key);
    form.editBuffer.resize(static_cast<std::size_t>(form.editPos));
    form.editBuffer.push_back(static_cast<char>(key));
    ++form.editPos;
    if (first) {
        // The first character replaces the whole old value.
        PrintBlanks(kFieldWidth - 1);
        MoveCursor(FieldRow(form.field), FieldColumn(form.field) + 1);
    }
}

void Backspace() {
    if (form.editPos == 0) return;
    std::putchar('\b');
    --form.editPos;
}

void RunFieldTest() {
    int c = form.field;
    if (!IsCountField(c)) return;
    ChangeField(c, c);
    int test = c - 2;
    if (testCycles[test] != 0 && testProcs[test] != nullptr) lastResult = testProcs[test](test);
    DrawMainScreen();
    ChangeField(c, c);
}

}  // namespace

FormState& Form() {
    return form;
}

void DrawMainScreen() {
    ClearScreen();
    std::printf("ZorvathHand Test Application v3.0");
    std::printf("\t\t  %s\n", TimeText().c_str());
    std::printf("Hand Serial Number [");
    MoveCursor(2, 20);
    PrintBlanks(kFieldWidth - Length(serialNumber));
    std::printf("%s]\n", serialNumber.c_str());
    std::printf("User Initials      [");
    MoveCursor(3, 20);
    PrintBlanks(kFieldWidth - Length(userInitials));
    std::printf("%s]\n", userInitials.c_str());
    std::printf("\n\tCycles\t\tTest\n");
    std::printf("\t------\t\t----\n");
    for (int t = 1; t <= kTestCount; ++t) {
        std::printf("\t[%8d]\t%s\n", testCycles[t], testNames[t].c_str());
    }
    std::printf("\n\n");
    PrintCentered("<TAB>, <SHIFT><TAB> Selects field  <CTRL><T> Terminal mode\n");
    PrintCentered("<CTRL><R> Runs selected test  <CTRL><A> Runs all tests  <CTRL><Q> Quit");
    std::fflush(stdout);
}

void ChangeField(int leaving, int entering) {
    if (leaving != 0) CommitField(leaving);
    form.editPos = 0;
    form.field = entering;
    form.editBuffer = FieldValue(entering);
    int row = FieldRow(entering);
    int column = FieldColumn(entering);
    MoveCursor(row, column);
    std::fputs(form.editBuffer.c_str(), stdout);
    PrintBlanks(kFieldWidth - Length(form.editBuffer));
    MoveCursor(row, column);
}

void RunAllTests() {
    for (int t = 1; t <= kTestCount; ++t) {
        if (testCycles[t] != 0 && testProcs[t] != nullptr) lastResult = testProcs[t](t);
    }
}

void HandleFormKey(int key) {
    int c = form.field;
    switch (key) {
        case kTab:
        case kEnter:
            ChangeField(c, c == kFieldCount ? 1 : c + 1);
            break;
        case kShiftTab:
            ChangeField(c, c == 1 ? kFieldCount : c - 1);
            break;
        case kBackspace:
            Backspace();
            break;
        case kCtrlA:
            FlushKeys();
            ChangeField(c, c);
            RunAllTests();
            DrawMainScreen();
            ChangeField(c, c);
            break;
        case kCtrlR:
            FlushKeys();
            RunFieldTest();
            break;
        case kCtrlT:
            FlushKeys();
            ChangeField(c, c);
            TerminalMode();
            DrawMainScreen();
            ChangeField(c, c);
            break;
        case kCtrlQ:
            FlushKeys();
            ChangeField(c, c);
            MoveCursor(22, 0);
            form.quitRequested = true;
            break;
        default:
            TypeCharacter(key);
            break;
    }
}

void FormLoop() {
    form = FormState{};
    DrawMainScreen();
    if (!PrefsProblem().empty()) {
        MoveCursor(21, 0);
        std::fputs(PrefsProblem().c_str(), stdout);
    }
    ChangeField(0, 1);
    while (!form.quitRequested) {
        int key = ReadKey();
        if (InputEnded()) key = kCtrlQ;  // the terminal has gone: leave as Ctrl-Q does
        HandleFormKey(key);
    }
    std::fflush(stdout);
}
