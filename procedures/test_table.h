// The station's test table: the ten procedures by slot. `main` fills it and
// hands it to start-up, which registers each test's name and default count.
#pragma once

#include "station.h"

// Puts the ten procedures into slots 1..10 of `tests`.
void FillTestTable(TestTable& tests);
