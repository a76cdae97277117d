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

// How often the form looks at the store's line while it waits for a key.
constexpr int kStoreCheckMs = 500;

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
std::string FieldValue(const Station& station, int field) {
    if (field == 1) return station.identity.serialNumber;
    if (field == 2) return station.identity.userInitials;
    return std::to_string(station.tests.cycles[field - 2]);
}

// The serial number and initials go into file names and into a file read
// word by word: blanks, "/", control characters and bytes of non-ASCII
// characters are refused there.
bool AcceptsIdentityKey(int key) {
    return key > ' ' && key < 127 && key != '/';
}

// The form has no message line of its own; row 21 is free until the next redraw.
void ShowSaveFailure(Station& station) {
    station.console.MoveCursor(21, 0);
    std::printf("Prefs.dat could not be written; the change holds until the program ends.");
}

void CommitField(Station& station, int field) {
    int blanks = kFieldWidth - Length(form.editBuffer);
    station.console.MoveCursor(FieldRow(field), FieldColumn(field));
    PrintBlanks(blanks);
    if (IsCountField(field)) {
        station.tests.cycles[field - 2] = std::atoi(form.editBuffer.c_str());
        std::fputs(form.editBuffer.c_str(), stdout);
        return;
    }
    std::printf("%s", form.editBuffer.c_str());
    if (!SavePrefs(station.identity, field, form.editBuffer)) ShowSaveFailure(station);
}

void TypeCharacter(Station& station, int key) {
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
        station.console.MoveCursor(FieldRow(form.field), FieldColumn(form.field) + 1);
    }
}

void Backspace() {
    if (form.editPos == 0) return;
    std::putchar('\b');
    --form.editPos;
}

void RunTest(Station& station, int test) {
    TestProc proc = station.tests.procs[test];
    if (station.tests.cycles[test] != 0 && proc != nullptr)
        station.lastResult = proc(station, test);
}

void RunFieldTest(Station& station) {
    int c = form.field;
    if (!IsCountField(c)) return;
    ChangeField(station, c, c);
    RunTest(station, c - 2);
    DrawMainScreen(station);
    ChangeField(station, c, c);
}

// Row 21 shows the store's line while facts are not safe in the store or the
// shared server cannot be reached, and is blanked once all is stored and
// shipped; the cursor stays in its field.
void ShowStoreProblem(Station& station) {
    const std::string& problem = station.recorder.StoreProblem();
    if (problem == form.shownStoreProblem) return;
    station.console.ShowAside(21, problem);
    form.shownStoreProblem = problem;
}

// Waits for a key; with a shared server, or while the record has trouble,
// wakes every kStoreCheckMs to bring row 21 up to date (the wait itself
// blocks in poll()).
int ReadFormKey(Station& station) {
    Console& console = station.console;
    if (station.recorder.Shipping() || !station.recorder.StoreProblem().empty()) {
        ShowStoreProblem(station);
        while (!console.InputEnded() && !console.WaitForKey(kStoreCheckMs)) {
            ShowStoreProblem(station);
        }
    }
    return console.ReadKey();
}

}  // namespace

FormState& Form() {
    return form;
}

void DrawMainScreen(Station& station) {
    Console& console = station.console;
    const Identity& identity = station.identity;
    console.ClearScreen();
    form.shownStoreProblem.clear();
    std::printf("ZorvathHand Test Application v3.0");
    std::printf("\t\t  %s\n", station.clock.TimeText().c_str());
    std::printf("Hand Serial Number [");
    console.MoveCursor(2, 20);
    PrintBlanks(kFieldWidth - Length(identity.serialNumber));
    std::printf("%s]\n", identity.serialNumber.c_str());
    std::printf("User Initials      [");
    console.MoveCursor(3, 20);
    PrintBlanks(kFieldWidth - Length(identity.userInitials));
    std::printf("%s]\n", identity.userInitials.c_str());
    std::printf("\n\tCycles\t\tTest\n");
    std::printf("\t------\t\t----\n");
    for (int t = 1; t <= kTestCount; ++t) {
        std::printf("\t[%8d]\t%s\n", station.tests.cycles[t], station.tests.names[t].c_str());
    }
    std::printf("\n\n");
    console.PrintCentered("<TAB>, <SHIFT><TAB> Selects field  <CTRL><T> Terminal mode\n");
    console.PrintCentered("<CTRL><R> Runs selected test  <CTRL><A> Runs all tests  <CTRL><Q> Quit");
    std::fflush(stdout);
}

void ChangeField(Station& station, int leaving, int entering) {
    if (leaving != 0) CommitField(station, leaving);
    form.editPos = 0;
    form.field = entering;
    form.editBuffer = FieldValue(station, entering);
    int row = FieldRow(entering);
    int column = FieldColumn(entering);
    station.console.MoveCursor(row, column);
    std::fputs(form.editBuffer.c_str(), stdout);
    PrintBlanks(kFieldWidth - Length(form.editBuffer));
    station.console.MoveCursor(row, column);
}

void RunAllTests(Station& station) {
    for (int t = 1; t <= kTestCount; ++t) RunTest(station, t);
}

void HandleFormKey(Station& station, int key) {
    Console& console = station.console;
    int c = form.field;
    switch (key) {
        case kTab:
        case kEnter:
            ChangeField(station, c, c == kFieldCount ? 1 : c + 1);
            break;
        case kShiftTab:
            ChangeField(station, c, c == 1 ? kFieldCount : c - 1);
            break;
        case kBackspace:
            Backspace();
            break;
        case kCtrlA:
            console.FlushKeys();
            ChangeField(station, c, c);
            RunAllTests(station);
            DrawMainScreen(station);
            ChangeField(station, c, c);
            break;
        case kCtrlR:
            console.FlushKeys();
            RunFieldTest(station);
            break;
        case kCtrlT:
            console.FlushKeys();
            ChangeField(station, c, c);
            TerminalMode(station);
            DrawMainScreen(station);
            ChangeField(station, c, c);
            break;
        case kCtrlQ:
            console.FlushKeys();
            ChangeField(station, c, c);
            console.MoveCursor(22, 0);
            form.quitRequested = true;
            break;
        default:
            TypeCharacter(station, key);
            break;
    }
}

void FormLoop(Station& station) {
    Console& console = station.console;
    form = FormState{};
    DrawMainScreen(station);
    if (!PrefsProblem().empty()) {
        console.MoveCursor(21, 0);
        std::fputs(PrefsProblem().c_str(), stdout);
    }
    ChangeField(station, 0, 1);
    while (!form.quitRequested) {
        int key = ReadFormKey(station);
        if (console.InputEnded()) key = kCtrlQ;  // the terminal has gone: leave as Ctrl-Q does
        HandleFormKey(station, key);
    }
    std::fflush(stdout);
}
