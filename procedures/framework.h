// Building blocks shared by the test procedures: the screen header and status
// line, the preparation of the hand, the log banner, the position checks with
// their recovery, the command poll with pause and abort, and the countdown
// that ends a test. Everything runs on the main thread against the one `hand`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

// True for a test slot 1..10; a procedure called with any other number (or its
// negative) does nothing.
bool IsTestSlot(int test);

// The registration side of a procedure's call. Called with -k (k a slot) it
// stores `name` in testNames[k] and answers `defaultCycles`; called with a
// number that is no slot it answers 0. It answers nothing for a run of a
// slot, which the caller then performs:
//     if (auto answer = RegistrationAnswer(test, kName, kDefaults)) return *answer;
std::optional<int> RegistrationAnswer(int test, const char* name, int defaultCycles);

// Printf-style formatting into a string. The format is always a literal of
// the program; text from the hand or a file goes in as a "%s" argument.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Milliseconds from `since` to now as an unsigned 32-bit difference, so a wrap
// of the tick counter does not disturb it.
std::uint32_t TicksSince(std::uint32_t since);

// Maps a..z onto A..Z; every other key code is returned unchanged.
int FoldUpper(int key);

// Row 0: the slot's name, centred; row 1: the status line for cycle 1 of the
// slot's count with 0 errors.
void ShowTestHeader(int test);

// Row 1: "Cycle %d of %d, Errors = %d\n\n", centred.
void ShowCycleStatus(int cycle, int totalCycles, int errors);

// Sends "FDEF" and "FSAVE" as generic commands, then initialises motors "1234".
void PrepareHand();

// Opens the day's test log for the running test. When it cannot be opened,
// shows "Could not open log file %s" on row 20, waits for a key and returns
// nullptr; the test then drives nothing and returns 1.
std::FILE* OpenLogOrReport();

// Writes "\n\n*****\n* <title>, <cycles> cycles\n* <time text>*****\n".
void WriteTestBanner(std::FILE* log, const std::string& title, int cycles);

// Reads `names` of `motors` into `values` (one value per motor and name).
// True only when the exchange succeeded and the reply held a number for every
// element; otherwise the values must not be used.
bool ReadHandValues(const char* motors, const char* names, std::span<int> values);

// Reads the hand's temperature in whole degrees; false (value untouched) when
// the hand gave no reading.
bool ReadTemperature(int* value);

// Re-initialises `motors` with its opening velocity "MOV" set to `velocity`
// for the moment: FGET MOV, FSET MOV velocity, HI, FSET MOV saved value.
void RecoverMotor(const char* motors, int velocity);

// Position checks of one motor after a move, given the cycle number for the
// log line. Each returns 1 when it wrote a fault line to `log`, else 0. A
// position query that fails is a fault ("F%d NO POSITION READING in cycle %d
// at %s", "Spread NO POSITION READING ...") without recovery.
//
// Finger after closing: P < 3000 JAMMED OPEN, < 10000 PREMATURE BREAKAWAY
// (both recovered with MOV 65), < 15100 NO BREAKAWAY (not recovered).
int CheckFingerClosed(int finger, int cycle, std::FILE* log);
// Finger after opening: P > 500 JAMMED CLOSE, recovered with MOV 65.
int CheckFingerOpen(int finger, int cycle, std::FILE* log);
// Spread after closing: P < 3050 DID NOT FULLY CLOSE, recovered with MOV 35.
int CheckSpreadClosed(int cycle, std::FILE* log);
// Spread after opening: P > 50 DID NOT FULLY OPEN, recovered with MOV 35.
int CheckSpreadOpen(int cycle, std::FILE* log);

// Blinks "*** PAUSED ***" on row 21 (at once, then one second on, one off)
// until a key is waiting, then blanks the row. The key stays waiting.
void PauseTest();

// The command poll at the end of a cycle: with no key waiting returns false at
// once; otherwise reads the key: "A"/"a" returns true (abort), "P"/"p" runs
// PauseTest and returns false, any other key is dropped.
bool CommandPoll();

// Sets testCycles of every slot after `test` (up to 10) to 0.
void CancelLaterTests(int test);

// The abort in `cycle` of the test in slot `test`: forms "Test aborted in
// cycle %d of %d." with the slot's count, records `cycle` as the slot's count,
// cancels the later tests and returns the message for the log and countdown.
std::string AbortTest(int test, int cycle);

// Shows `message` on row 20 and counts down "Press any key to continue
// [%2.2d]..." on row 21, 10 to 01 one a second, until a key is waiting (left
// unread) or 01 has been shown.
void CountdownPrompt(const std::string& message);
