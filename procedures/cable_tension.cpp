#include "placeholder.h"
#include "procedures.h"

int CableTensionTest(int test) { return PlaceholderTest(test, "Cable Tension/BreakAway", 1); }
