#include "parameters.h"

namespace zhandsim {

namespace {

// Finger velocities 100 close a finger in about a second; the spread's 50
// close it in about a second. LCV is listed before LCVC (and LFV before LFVC,
// DP and LFDP before LFDPC) so that a search for a name as a plain substring of
// the listing finds its own line first.
constexpr std::array<ParameterInfo, kParamCount> kTable{{
    {"MOV", 1, 255, {100, 100, 100, 50}, false},
    {"MCV", 1, 255, {100, 100, 100, 50}, false},
    {"DP", 0, 30000, {0, 0, 0, 0}, false},
    {"HOLD", 0, 1, {0, 0, 0, 1}, false},
    {"MSG", 0, 255, {220, 220, 220, 220}, false},
    {"LCV", 0, 1, {1, 1, 1, 1}, false},
    {"LCVC", 0, 255, {1, 1, 1, 1}, false},
    {"LCPG", 0, 1, {0, 0, 0, 0}, false},
    {"LFV", 0, 1, {1, 1, 1, 1}, false},
    {"LFVC", 0, 255, {1, 1, 1, 1}, false},
    {"LFS", 0, 1, {0, 0, 0, 0}, false},
    {"LFAP", 0, 1, {1, 1, 1, 1}, false},
    {"LFDP", 0, 1, {0, 0, 0, 0}, false},
    {"LFDPC", 0, 255, {1, 1, 1, 1}, false},
    {"P", 0, 0, {0, 0, 0, 0}, true},
    {"S", 0, 0, {0, 0, 0, 0}, true},
    {"SG", 0, 0, {0, 0, 0, 0}, true},
}};

}  // namespace

std::span<const ParameterInfo, kParamCount> ParameterTable() {
    return kTable;
}

int ParameterIndex(std::string_view name) {
    for (int i = 0; i < kParamCount; ++i)
        if (kTable[static_cast<std::size_t>(i)].name == name) return i;
    return -1;
}

ParameterValues DefaultParameters(int motor) {
    ParameterValues values{};
    for (std::size_t i = 0; i < kTable.size(); ++i)
        values[i] =
            kTable[i].readOnly ? 0 : kTable[i].defaults[static_cast<std::size_t>(motor - 1)];
    return values;
}

}  // namespace zhandsim
