#include "placeholder.h"
#include "procedures.h"

int FingerMovementTest(int test) { return PlaceholderTest(test, "Finger Movement", 2); }
