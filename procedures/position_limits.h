// The limits of the position checks: after a move, where a finger or the
// spread must stand, the fault words of each way it can fall short, and the
// velocity its recovery uses. One table; the checks and the record read it.
#pragma once

#include <optional>

#include "record_names.h"

enum class PositionCheck { FingerClosed, FingerOpen, SpreadClosed, SpreadOpen };

struct PositionLimit {
    enum Rule { Below, Above };

    PositionCheck check;
    Rule rule;  // a fault when the position is below / above the threshold
    int threshold;
    const char* words;     // the fault words of the log line
    int recoveryVelocity;  // "MOV" for the recovery; 0: the motor is not recovered
};

// Limits of one check in the order they are tried: the first one broken
// names the fault. The fingers close to 15100 or beyond and open to 500 or
// below; the spread closes to 3050 or beyond and opens to 50 or below.
inline constexpr PositionLimit kPositionLimits[] = {
    {PositionCheck::FingerClosed, PositionLimit::Below, 3000, "JAMMED OPEN", 65},
    {PositionCheck::FingerClosed, PositionLimit::Below, 10000, "PREMATURE BREAKAWAY", 65},
    {PositionCheck::FingerClosed, PositionLimit::Below, 15100, "NO BREAKAWAY", 0},
    {PositionCheck::FingerOpen, PositionLimit::Above, 500, "JAMMED CLOSE", 65},
    {PositionCheck::SpreadClosed, PositionLimit::Below, 3050, "DID NOT FULLY CLOSE", 35},
    {PositionCheck::SpreadOpen, PositionLimit::Above, 50, "DID NOT FULLY OPEN", 35},
};

// The fault words of a check whose position query failed (no recovery).
using results::kNoPositionReading;

// The first limit of `check` that `position` breaks; nullptr when it passes.
const PositionLimit* BrokenLimit(PositionCheck check, int position);

// Where a position passes `check`: at or above `low`, at or below `high`.
struct PassBand {
    std::optional<int> low;
    std::optional<int> high;
};
PassBand PassBandOf(PositionCheck check);

// True for the two spread checks.
bool IsSpreadCheck(PositionCheck check);
