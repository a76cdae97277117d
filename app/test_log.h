// Preferences file and the day's test log.
#pragma once

#include <cstdio>
#include <string>

// Registers the tests (names, default counts), then loads and tidies Prefs.dat.
void LoadPrefs();
// What went wrong with Prefs.dat at start-up ("" when nothing did).
const std::string& PrefsProblem();
// Field 1 sets serialNumber, field 2 userInitials; the file is rewritten
// (written afresh from memory when it has gone missing). False when the file
// could not be read or written; the value in memory is set all the same.
bool SavePrefs(int field, const std::string& text);
// Opens (creating it if needed) the day's log of this program run for
// appending; every write reaches the file at once. Returns nullptr when it
// cannot be opened; *fileName (when given) receives the log's name either way.
std::FILE* OpenTestLog(std::string* fileName = nullptr);
