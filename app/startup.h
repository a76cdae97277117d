// The life of the process up to the form: the port prompt, the connection to
// the hand, the failed-connection dialogue, the test table and preferences.
#pragma once

#include <string>

struct Station;

// The port typed at the prompt: 1 for an empty line, otherwise the first
// character's code minus "0" as a signed 8-bit value (unchecked: the driver
// refuses what it cannot open).
int PortFromLine(const std::string& line);
// The line shown after "Initialization error: %d" for a result code, or ""
// when there is none.
const char* ConnectionHint(int result);
// The start-up of a station whose test table holds its procedures: connects
// the hand, registers the tests and loads the preferences. Exits with status
// 1 when there is no terminal, or when the technician answers "N" after a
// failed connection.
void StartUp(Station& station);
