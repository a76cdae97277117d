#include "placeholder.h"
#include "procedures.h"

int StrainGagesTest(int test) { return PlaceholderTest(test, "Strain Gages", 1); }
