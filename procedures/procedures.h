// The ten test procedures of the test table, in slot order, and the table
// that names them.
#pragma once

#include "station.h"

int FingerMovementTest(Station& station, int test);     // slot 1
int CableTensionTest(Station& station, int test);       // slot 2
int StrainGagesTest(Station& station, int test);        // slot 3
int VibrationGraspTest(Station& station, int test);     // slot 4
int MultiAxisTest(Station& station, int test);          // slot 5
int EncoderSlipGraspTest(Station& station, int test);   // slot 6
int EncoderSlipSpreadTest(Station& station, int test);  // slot 7
int FingerprintTest(Station& station, int test);        // slot 8
int AfterFreezerTest(Station& station, int test);       // slot 9
int ParameterCheckTest(Station& station, int test);     // slot 10
