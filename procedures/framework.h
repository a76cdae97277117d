// Building blocks shared by the test procedures: registration, the screen
// header and status line, pause and abort between cycles, and the countdown
// that ends a test. The runner (test_run.h) puts them together and prepares
// the hand; everything runs on the main thread.
#pragma once

#include <optional>
#include <string>

#include "station.h"

// True for a test slot 1..10; a procedure called with any other number (or its
// negative) does nothing.
bool IsTestSlot(int test);

// The registration side of a procedure's call. Called with -k (k a slot) it
// stores `name` in slot k of the table and answers `defaultCycles`; called
// with a number that is no slot it answers 0. It answers nothing for a run of
// a slot, which the caller then performs:
//     if (auto answer = RegistrationAnswer(station.tests, test, kName, kDefaults)) return *answer;
std::optional<int> RegistrationAnswer(TestTable& tests, int test, const char* name,
                                      int defaultCycles);

// Printf-style formatting into a string. The format is always a literal of
// the program; text from the hand or a file goes in as a "%s" argument.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Maps a..z onto A..Z; every other key code is returned unchanged.
int FoldUpper(int key);

// Row 0: the slot's name, centred; row 1: the status line for cycle 1 of the
// slot's count with 0 errors.
void ShowTestHeader(Station& station, int test);

// Row 1: "Cycle %d of %d, Errors = %d\n\n", centred.
void ShowCycleStatus(Console& console, int cycle, int totalCycles, int errors);

// Blinks "*** PAUSED ***" on row 21 (at once, then one second on, one off)
// until a key is waiting, then blanks the row. The key stays waiting.
void PauseTest(Console& console, const Clock& clock);

// Sets the cycle count of every slot after `test` (up to 10) to 0.
void CancelLaterTests(TestTable& tests, int test);

// The abort in `cycle` of the test in slot `test`: forms "Test aborted in
// cycle %d of %d." with the slot's count, records `cycle` as the slot's count,
// cancels the later tests and returns the message for the log and countdown.
std::string AbortTest(TestTable& tests, int test, int cycle);

// Shows `message` on row 20 and counts down "Press any key to continue
// [%2.2d]..." on row 21, 10 to 01 one a second, until a key is waiting (left
// unread) or 01 has been shown.
void CountdownPrompt(Console& console, const Clock& clock, const std::string& message);
