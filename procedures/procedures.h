// The ten test procedures of the test table, in slot order.
#pragma once

int FingerMovementTest(int test);     // slot 1
int CableTensionTest(int test);       // slot 2
int StrainGagesTest(int test);        // slot 3
int VibrationGraspTest(int test);     // slot 4
int MultiAxisTest(int test);          // slot 5
int EncoderSlipGraspTest(int test);   // slot 6
int EncoderSlipSpreadTest(int test);  // slot 7
int FingerprintTest(int test);        // slot 8
int AfterFreezerTest(int test);       // slot 9
int ParameterCheckTest(int test);     // slot 10
