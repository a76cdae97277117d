#include "test_table.h"

#include "procedures.h"

void FillTestTable(TestTable& tests) {
    tests.procs = {nullptr,
                   FingerMovementTest,
                   CableTensionTest,
                   StrainGagesTest,
                   VibrationGraspTest,
                   MultiAxisTest,
                   EncoderSlipGraspTest,
                   EncoderSlipSpreadTest,
                   FingerprintTest,
                   AfterFreezerTest,
                   ParameterCheckTest};
}
