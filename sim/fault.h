// Faults the simulated hand can be told to have: a finger or the spread that
// stops short, a slow motor, strain gauge drift, and line faults (a hand that
// stops answering, answers noise or hangs up).
#pragma once

#include <string>
#include <string_view>

namespace zhandsim {

enum class FaultKind {
    JamOpen,         // a finger stops below 3000 when closing
    EarlyBreakaway,  // a finger stops between 3000 and 10000 when closing
    NoBreakaway,     // a finger stops between 10000 and 15100 when closing
    JamClosed,       // a finger does not open below `at` (above 500)
    SpreadShort,     // the spread stops short of 3050 when closing
    SpreadNoOpen,    // the spread does not open below `at` (above 50)
    Slow,            // a motor runs `factor` times slower
    Drift,           // a strain gauge drifts by `rate` counts per move of its motor
    Silent,          // the hand stops answering
    Noise,           // the hand answers noise instead of reply and prompt
    Hangup,          // the hand hangs up the line
};

struct Fault {
    FaultKind kind = FaultKind::JamOpen;
    int motor = 0;      // 1..4 for motor faults, 0 for line faults
    int from = 1;       // motion faults: first move affected, counted per motor and direction
    bool once = false;  // motion faults: only move `from` is affected
    int at = 0;         // motion faults: where the motor stops
    double factor = 4;  // Slow
    int rate = 2;       // Drift
    int after = 0;      // line faults: commands answered normally before the fault
    int count = 0;      // Silent, Noise: commands affected; 0 means every later one
    int bytes = 64;     // Noise: bytes sent instead of each reply
    int downMs = 500;   // Hangup: ms until a new line is offered; -1 means never
};

// True for the faults that stop a motor short when it closes.
bool IsClosingFault(FaultKind kind);
// True for the faults that keep a motor from opening.
bool IsOpeningFault(FaultKind kind);

// Parses "KIND[:MOTOR][,KEY=VALUE]..." (see FaultHelp). False, with a message
// in `error`, when the text is not a valid fault.
bool ParseFault(std::string_view spec, Fault& fault, std::string& error);

// The text that documents the syntax, for --help.
std::string FaultHelp();

// One-line description in the syntax ParseFault reads.
std::string DescribeFault(const Fault& fault);

}  // namespace zhandsim
