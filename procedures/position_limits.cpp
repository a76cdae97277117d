#include "position_limits.h"

#include <algorithm>

namespace {

bool Breaks(const PositionLimit& limit, int position) {
    return limit.rule == PositionLimit::Below ? position < limit.threshold
                                              : position > limit.threshold;
}

}  // namespace

const PositionLimit* BrokenLimit(PositionCheck check, int position) {
    for (const PositionLimit& limit : kPositionLimits) {
        if (limit.check == check && Breaks(limit, position)) return &limit;
    }
    return nullptr;
}

PassBand PassBandOf(PositionCheck check) {
    PassBand band;
    for (const PositionLimit& limit : kPositionLimits) {
        if (limit.check != check) continue;
        if (limit.rule == PositionLimit::Below) {
            band.low = std::max(band.low.value_or(limit.threshold), limit.threshold);
        } else {
            band.high = std::min(band.high.value_or(limit.threshold), limit.threshold);
        }
    }
    return band;
}

bool IsSpreadCheck(PositionCheck check) {
    return check == PositionCheck::SpreadClosed || check == PositionCheck::SpreadOpen;
}
