// The controller's parameter table: every per-motor parameter the hand knows,
// its range and its factory default, in the order "FLISTA" lists them.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace zhandsim {

constexpr int kMotorCount = 4;  // motors 1..3 are fingers F1..F3, motor 4 the spread

// Indices into the parameter table; the order is the listing order.
enum Param : int {
    kMOV,    // opening velocity
    kMCV,    // closing velocity
    kDP,     // destination position of "M"
    kHOLD,   // 1: the motor stays powered after a move
    kMSG,    // strain gauge limit
    kLCV,    // real-time: control velocity
    kLCVC,   // real-time: control velocity constant
    kLCPG,   // real-time: control proportional gain
    kLFV,    // real-time: feedback velocity
    kLFVC,   // real-time: feedback velocity constant
    kLFS,    // real-time: feedback strain
    kLFAP,   // real-time: feedback absolute position
    kLFDP,   // real-time: feedback delta position
    kLFDPC,  // real-time: feedback delta position constant
    kP,      // position (read only)
    kS,      // status (read only): bit 0 powered, bit 1 stopped short by an obstacle
    kSG,     // strain gauge reading (read only)
    kParamCount
};

struct ParameterInfo {
    std::string_view name;
    int minimum;
    int maximum;
    std::array<int, kMotorCount> defaults;  // unused for read-only parameters
    bool readOnly;
};

using ParameterValues = std::array<int, kParamCount>;

// The whole table, indexed by Param.
std::span<const ParameterInfo, kParamCount> ParameterTable();

// Index of the parameter called `name` (exact, upper case), or -1.
int ParameterIndex(std::string_view name);

// The factory defaults of one motor (1..4); read-only entries are 0.
ParameterValues DefaultParameters(int motor);

}  // namespace zhandsim
