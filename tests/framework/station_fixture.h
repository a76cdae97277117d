// Helpers for running the station's test procedures inside a test program:
// a temporary working directory, the test table filled as at start-up, the
// log file read back, and standard input and output redirected.
#pragma once

#include <string>

#include "std_redirect.h"
#include "test_station.h"

// Makes a fresh temporary directory the working directory; returns its path.
std::string EnterTempDir(const char* prefix);

// Fills the station's table with the ten procedures and runs LoadPrefs, as
// start-up does.
void RegisterTests(Station& station);

// The whole content of the one test log in the working directory ("" if none).
std::string ReadTestLog();
