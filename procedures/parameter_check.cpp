#include "placeholder.h"
#include "procedures.h"

int ParameterCheckTest(int test) { return PlaceholderTest(test, "Parameter Check", 1); }
