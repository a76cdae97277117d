// Hooks for tests: a scripted keyboard and a fake clock, so that the form,
// the waits and the countdowns run without a terminal and without waiting.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Replaces the keyboard by a script of key codes (as ReadKey returns them).
// KeyWaiting, GetKey, ReadKey, WaitForKey and ReadLine then take keys from the
// script; a read on an empty script returns 27 (ESC) so a test can never hang.
// 10 in a script is Shift-Tab, so ReadLine ends its line at 13 only.
// FlushKeys leaves the script alone: its keys stand for keys typed later.
void UseKeyScript(const std::string& keys);
// Appends keys to the script.
void PushKeys(const std::string& keys);
// Back to the real terminal.
void UseTerminalKeys();

// Starts a fake clock at the given calendar time and tick. While it runs,
// TickCount and CurrentTime read it, and a wait (WaitForKey with no key
// waiting) advances it by the time waited instead of sleeping.
void UseFakeClock(std::time_t now, std::uint32_t tick = 0);
// Moves the fake clock on by ms milliseconds.
void AdvanceFakeClock(std::uint32_t ms);
// Back to the real clock.
void UseRealClock();
// True while the fake clock runs.
bool FakeClockRunning();
