// The mechanics of the simulated hand: motor positions moving with time and
// velocity, the parameter sets, strain gauges, temperature and the motion
// faults. Time is model time in seconds; the controller maps wall-clock time
// onto it (scaled by the speed factor).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "fault.h"
#include "parameters.h"
#include "random.h"

namespace zhandsim {

class HandModel {
  public:
    static constexpr int kFingerEnd = 17500;  // mechanical end of a closing finger
    static constexpr int kSpreadEnd = 3150;   // mechanical end of the closing spread
    // Counts per second per unit of velocity: a finger at 100 closes in about
    // a second, the spread at 50 too.
    static constexpr double kFingerCountsPerUnit = 175.0;
    static constexpr double kSpreadCountsPerUnit = 63.0;
    static constexpr double kSettleSeconds = 0.02;  // every move's fixed part
    static constexpr double kStallSeconds = 0.2;    // extra time of a move stopped short
    static constexpr int kAmbientTenths = 245;      // 24.5 degrees

    enum class MoveKind {
        Open,     // "O": to the open end
        Close,    // "C": to the closed end
        OpenBy,   // "IO n"
        CloseBy,  // "IC n"
        To,       // "M n"
        ToDest,   // "M": to parameter DP
        Init,     // "HI": open and zero the encoder
        Home,     // "HOME": to the open end
    };

    explicit HandModel(std::uint64_t seed = 1, int minSpreadVelocity = 23);

    // --- parameter sets (motor 1..4) ---
    ParameterValues& Working(int motor) { return working_[Index(motor)]; }
    ParameterValues& Stored(int motor) { return stored_[Index(motor)]; }
    const ParameterValues& Working(int motor) const { return working_[Index(motor)]; }
    const ParameterValues& Stored(int motor) const { return stored_[Index(motor)]; }
    // A parameter's value as the hand reports it at time t: the working value,
    // or the live reading for P, S and SG (SG draws fresh noise).
    int Read(int motor, int param, double t);

    // --- supervisory motion ---
    // Starts `kind` (with `amount` for OpenBy, CloseBy and To) on every motor
    // of `mask` (bit m-1 for motor m) at time t. Returns the time until the
    // last of them stops.
    double StartMove(unsigned mask, MoveKind kind, int amount, double t);
    // Stops the motors of `mask` where they are and powers them off.
    void Terminate(unsigned mask, double t);
    // Position at time t, in encoder counts.
    int Position(int motor, double t) const;
    // Position at time t without rounding.
    double ExactPosition(int motor, double t) const;
    // Closing and opening moves started so far by a motor.
    int Closes(int motor) const { return motors_[Index(motor)].closes; }
    int Opens(int motor) const { return motors_[Index(motor)].opens; }
    // Where a motor's closing travel ends mechanically.
    int ClosedEnd(int motor) const { return motors_[Index(motor)].closedEnd; }

    // --- real-time ---
    // Freezes supervisory motion at time t and starts integrating velocities.
    // From then on every motor moves by its velocity at every moment, and
    // Position reads the motion at any time, not only at integrations.
    void StartRealtime(double t);
    // Commanded real-time velocity (-127..127; positive closes), from the
    // last integration on.
    void SetVelocity(int motor, int velocity);
    // Moves every motor by its velocity from the last integration to t,
    // stopping at the mechanical ends and at the barriers of motion faults.
    void Integrate(double t);
    // The velocity the motor really has at the last integration: its
    // commanded one, or 0 when a limit stops it in that direction.
    int ActualVelocity(int motor) const;
    // Ends real-time motion; the motors stand where they are.
    void StopRealtime(double t);

    // --- readings ---
    int Strain(int motor);            // 0..255, with noise
    int TemperatureTenths(double t);  // with noise
    double Heat(double t) const;      // tenths of a degree above ambient

    // --- faults ---
    void AddFault(const Fault& fault) { faults_.push_back(fault); }
    void ClearFaults() { faults_.clear(); }
    const std::vector<Fault>& Faults() const { return faults_; }
    int MinSpreadVelocity() const { return minSpreadVelocity_; }
    void SetMinSpreadVelocity(int velocity) { minSpreadVelocity_ = velocity; }

    Random& Rng() { return rng_; }

  private:
    struct Motor {
        double from = 0;  // current segment of supervisory motion
        double to = 0;
        double t0 = 0;
        double t1 = 0;
        int closedEnd = kFingerEnd;
        int closes = 0;
        int opens = 0;
        bool stalled = false;  // the last move stopped short
        bool powered = false;  // holding after its last move
        int rtVelocity = 0;    // real-time command
        int strainBase = 128;
        int strainDrift = 0;
    };

    static std::size_t Index(int motor) { return static_cast<std::size_t>(motor - 1); }
    double CountsPerSecond(int motor, int velocity) const;
    double SlowFactor(int motor) const;
    // Where real-time travel of a motor standing at `start` ends, closing and opening.
    void TravelLimits(int motor, double start, double& lower, double& upper) const;
    // Real-time position at t (not before the last integration).
    double RealtimePosition(int motor, double t) const;
    // The motion fault (closing or opening) that stops move `number` of a
    // motor, or null. `realtime` asks for faults that last (not "once").
    const Fault* MotionFault(int motor, bool closing, int number, bool realtime) const;
    void AddHeat(double counts, double t);

    std::array<ParameterValues, kMotorCount> working_{};
    std::array<ParameterValues, kMotorCount> stored_{};
    std::array<Motor, kMotorCount> motors_{};
    std::vector<Fault> faults_;
    Random rng_;
    int minSpreadVelocity_;
    double heat_ = 0;  // tenths of a degree above ambient at heatTime_
    double heatTime_ = 0;
    bool realtime_ = false;
    double rtTime_ = 0;  // time of the last real-time integration
};

}  // namespace zhandsim
