#include "placeholder.h"
#include "procedures.h"

int VibrationGraspTest(int test) { return PlaceholderTest(test, "Vibration Grasp", 500); }
