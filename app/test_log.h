// Preferences file and the day's test log.
#pragma once

#include <cstdio>
#include <string>

struct Identity;
struct Station;

// Registers the tests of the station's table (names, default counts), then
// loads and tidies Prefs.dat into the station's identity.
void LoadPrefs(Station& station);
// What went wrong with Prefs.dat at start-up ("" when nothing did).
const std::string& PrefsProblem();
// Field 1 sets the serial number, field 2 the initials; the file is
// rewritten (written afresh from memory when it has gone missing). False when
// the file could not be read or written; the value in memory is set all the
// same.
bool SavePrefs(Identity& identity, int field, const std::string& text);
// Opens (creating it if needed) the day's log of this program run for
// appending, after taking the identity from the file again; every write
// reaches the file at once. Returns nullptr when it cannot be opened;
// *fileName (when given) receives the log's name either way.
std::FILE* OpenTestLog(Identity& identity, std::string* fileName = nullptr);
