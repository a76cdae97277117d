#include "procedures.h"
#include "startup.h"
#include "station.h"

void FillTestTable() {
    testProcs = {nullptr,
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
