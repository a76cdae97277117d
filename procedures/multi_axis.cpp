#include "placeholder.h"
#include "procedures.h"

int MultiAxisTest(int test) { return PlaceholderTest(test, "Multi-Axis", 1500); }
int AfterFreezerTest(int test) { return PlaceholderTest(test, "After-Freezer", 500); }
