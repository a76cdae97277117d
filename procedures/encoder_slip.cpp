#include "placeholder.h"
#include "procedures.h"

int EncoderSlipGraspTest(int test) { return PlaceholderTest(test, "Encoder slip - Grasp", 20); }
int EncoderSlipSpreadTest(int test) { return PlaceholderTest(test, "Encoder slip - Spread", 20); }
