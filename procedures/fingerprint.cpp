#include "placeholder.h"
#include "procedures.h"

int FingerprintTest(int test) { return PlaceholderTest(test, "Fingerprint", 1); }
