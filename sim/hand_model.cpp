#include "hand_model.h"

#include <algorithm>
#include <cmath>

namespace zhandsim {

namespace {

constexpr double kCoolingSeconds = 600;  // time constant of the motors' cooling
constexpr double kHeatPerCount = 1e-5;   // tenths of a degree per count moved
constexpr std::array<int, kMotorCount> kStrainBase{122, 131, 137, 128};

}  // namespace

HandModel::HandModel(std::uint64_t seed, int minSpreadVelocity)
    : rng_(seed), minSpreadVelocity_(minSpreadVelocity) {
    for (int m = 1; m <= kMotorCount; ++m) {
        working_[Index(m)] = DefaultParameters(m);
        stored_[Index(m)] = DefaultParameters(m);
        Motor& motor = motors_[Index(m)];
        motor.closedEnd =
            m == 4 ? kSpreadEnd - rng_.Uniform(0, 20) : kFingerEnd - rng_.Uniform(0, 40);
        motor.strainBase = kStrainBase[Index(m)];
    }
}

double HandModel::SlowFactor(int motor) const {
    double factor = 1;
    for (const Fault& fault : faults_)
        if (fault.kind == FaultKind::Slow && fault.motor == motor) factor *= fault.factor;
    return factor;
}

double HandModel::CountsPerSecond(int motor, int velocity) const {
    const double unit = motor == 4 ? kSpreadCountsPerUnit : kFingerCountsPerUnit;
    return velocity * unit / SlowFactor(motor);
}

const Fault* HandModel::MotionFault(int motor, bool closing, int number, bool realtime) const {
    for (const Fault& fault : faults_) {
        if (fault.motor != motor) continue;
        if (closing ? !IsClosingFault(fault.kind) : !IsOpeningFault(fault.kind)) continue;
        if (realtime ? (!fault.once && number >= fault.from)
                     : (fault.once ? number == fault.from : number >= fault.from))
            return &fault;
    }
    return nullptr;
}

double HandModel::ExactPosition(int motor, double t) const {
    if (realtime_ && t > rtTime_) return RealtimePosition(motor, t);
    const Motor& m = motors_[Index(motor)];
    if (t >= m.t1 || m.t1 <= m.t0) return m.to;
    if (t <= m.t0) return m.from;
    return m.from + (m.to - m.from) * (t - m.t0) / (m.t1 - m.t0);
}

int HandModel::Position(int motor, double t) const {
    return static_cast<int>(std::lround(ExactPosition(motor, t)));
}

double HandModel::StartMove(unsigned mask, MoveKind kind, int amount, double t) {
    double longest = 0;
    for (int m = 1; m <= kMotorCount; ++m) {
        if (!(mask & (1u << (m - 1)))) continue;
        Motor& motor = motors_[Index(m)];
        const ParameterValues& params = working_[Index(m)];
        const double start = ExactPosition(m, t);
        const int end = motor.closedEnd;
        const int openScatter = m == 4 ? 10 : 15;
        double target = start;
        bool closing = false;
        switch (kind) {
            case MoveKind::Open:
                target = rng_.Uniform(0, openScatter);
                break;
            case MoveKind::Close:
                target = end - rng_.Uniform(0, 10);
                closing = true;
                break;
            case MoveKind::OpenBy:
                target = std::max(0.0, start - amount);
                break;
            case MoveKind::CloseBy:
                target = std::min<double>(end, start + amount);
                closing = true;
                break;
            case MoveKind::To:
            case MoveKind::ToDest: {
                const int goal = kind == MoveKind::To ? amount : params[kDP];
                target = std::clamp(goal + rng_.Uniform(-3, 3), 0, end);
                closing = target >= start;
                break;
            }
            case MoveKind::Init:
            case MoveKind::Home:
                target = 0;
                break;
        }
        const int velocity = closing ? params[kMCV] : params[kMOV];
        bool stalled = false;
        const int number = closing ? ++motor.closes : ++motor.opens;
        if (const Fault* fault = MotionFault(m, closing, number, false)) {
            if (closing && target > fault->at) {
                target = std::max<double>(start, fault->at);
                stalled = true;
            } else if (!closing && target < fault->at) {
                target = std::min<double>(start, fault->at);
                stalled = true;
            }
        }
        if (m == 4 && closing && velocity < minSpreadVelocity_ && target > start) {
            // Too slow to lift the spread against gravity: it stalls part way.
            target = start + (target - start) * 0.7 * velocity / minSpreadVelocity_;
            stalled = true;
        }
        for (const Fault& fault : faults_)
            if (fault.kind == FaultKind::Drift && fault.motor == m)
                motor.strainDrift = std::clamp(motor.strainDrift + fault.rate, -255, 255);
        const double distance = std::abs(target - start);
        const double duration = distance / CountsPerSecond(m, velocity) + kSettleSeconds +
                                (stalled ? kStallSeconds : 0);
        AddHeat(distance, t);
        motor.from = start;
        motor.to = target;
        motor.t0 = t;
        motor.t1 = t + duration;
        motor.stalled = stalled;
        motor.powered = params[kHOLD] != 0;
        longest = std::max(longest, duration);
    }
    return longest;
}

void HandModel::Terminate(unsigned mask, double t) {
    for (int m = 1; m <= kMotorCount; ++m) {
        if (!(mask & (1u << (m - 1)))) continue;
        Motor& motor = motors_[Index(m)];
        motor.from = motor.to = ExactPosition(m, t);
        motor.t0 = motor.t1 = t;
        motor.powered = false;
        motor.rtVelocity = 0;
    }
}

int HandModel::Read(int motor, int param, double t) {
    const Motor& m = motors_[Index(motor)];
    switch (param) {
        case kP:
            return Position(motor, t);
        case kS:
            return ((t < m.t1 || m.powered) ? 1 : 0) | (m.stalled ? 2 : 0);
        case kSG:
            return Strain(motor);
        default:
            return working_[Index(motor)][static_cast<std::size_t>(param)];
    }
}

void HandModel::StartRealtime(double t) {
    for (int m = 1; m <= kMotorCount; ++m) {
        Motor& motor = motors_[Index(m)];
        motor.from = motor.to = ExactPosition(m, t);
        motor.t0 = motor.t1 = t;
        motor.rtVelocity = 0;
    }
    rtTime_ = t;
    realtime_ = true;
}

void HandModel::SetVelocity(int motor, int velocity) {
    motors_[Index(motor)].rtVelocity = std::clamp(velocity, -127, 127);
}

void HandModel::TravelLimits(int motor, double start, double& lower, double& upper) const {
    const Motor& m = motors_[Index(motor)];
    lower = 0;
    upper = m.closedEnd;
    if (const Fault* fault = MotionFault(motor, true, m.closes + 1, true))
        upper = std::min<double>(upper, std::max<double>(start, fault->at));
    if (const Fault* fault = MotionFault(motor, false, m.opens + 1, true))
        lower = std::max<double>(lower, std::min<double>(start, fault->at));
}

double HandModel::RealtimePosition(int motor, double t) const {
    const Motor& m = motors_[Index(motor)];
    double lower = 0;
    double upper = 0;
    TravelLimits(motor, m.to, lower, upper);
    const double wanted = m.to + CountsPerSecond(motor, m.rtVelocity) * (t - rtTime_);
    return std::clamp(wanted, lower, upper);
}

void HandModel::Integrate(double t) {
    if (t <= rtTime_) return;
    for (int m = 1; m <= kMotorCount; ++m) {
        Motor& motor = motors_[Index(m)];
        const double reached = RealtimePosition(m, t);
        AddHeat(std::abs(reached - motor.to), t);
        motor.from = motor.to = reached;
        motor.t0 = motor.t1 = t;
    }
    rtTime_ = t;
}

int HandModel::ActualVelocity(int motor) const {
    const Motor& m = motors_[Index(motor)];
    double lower = 0;
    double upper = 0;
    TravelLimits(motor, m.to, lower, upper);
    if ((m.rtVelocity > 0 && m.to >= upper) || (m.rtVelocity < 0 && m.to <= lower)) return 0;
    return m.rtVelocity;
}

void HandModel::StopRealtime(double t) {
    Integrate(t);
    realtime_ = false;
    for (Motor& motor : motors_) motor.rtVelocity = 0;
}

int HandModel::Strain(int motor) {
    const Motor& m = motors_[Index(motor)];
    return std::clamp(m.strainBase + m.strainDrift + rng_.Uniform(-2, 2), 0, 255);
}

double HandModel::Heat(double t) const {
    return heat_ * std::exp(-(std::max(0.0, t - heatTime_)) / kCoolingSeconds);
}

void HandModel::AddHeat(double counts, double t) {
    heat_ = Heat(t) + counts * kHeatPerCount;
    heatTime_ = std::max(heatTime_, t);
}

int HandModel::TemperatureTenths(double t) {
    return kAmbientTenths + static_cast<int>(std::lround(Heat(t))) + rng_.Uniform(-1, 1);
}

}  // namespace zhandsim
