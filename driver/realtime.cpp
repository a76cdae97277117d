// Real-time mode: the flags of each motor decide the layout of the binary
// control and feedback blocks that each update exchanges.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "zhand.h"
#include "zhand_impl.h"

namespace {

bool Selects(const char* motors, char digit, char group) {
    if (motors == nullptr) return false;
    return std::strchr(motors, digit) != nullptr || std::strchr(motors, group) != nullptr;
}

}  // namespace

int ZHand::Impl::MotorIndex(char motor) {
    return std::clamp(motor - '1', 0, 3);
}

int ZHand::RTSetFlags(const char* motors, bool LCV, int LCVC, bool LCPG, bool LFV, int LFVC,
                      bool LFS, bool LFAP, bool LFDP, int LFDPC) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "FSET LCV %d LCVC %d LCPG %d LFV %d LFVC %d LFS %d LFAP %d LFDP %d LFDPC %d\r",
                  LCV ? 1 : 0, LCVC, LCPG ? 1 : 0, LFV ? 1 : 0, LFVC, LFS ? 1 : 0, LFAP ? 1 : 0,
                  LFDP ? 1 : 0, LFDPC);
    return impl->SendText(std::string(motors ? motors : "") + text);
}

int ZHand::Impl::RTStart(const char* motors) {
    static constexpr char kDigits[4] = {'1', '2', '3', '4'};
    static constexpr char kGroups[4] = {'G', 'G', 'G', 'S'};
    for (int m = 0; m < 4; ++m) {
        RTMotor& motor = rtMotor[m];
        motor.active = Selects(motors, kDigits[m], kGroups[m]) ? 1 : 0;
        int flags[6] = {motor.LCV, motor.LCPG, motor.LFV, motor.LFS, motor.LFAP, motor.LFDP};
        const char digit[2] = {kDigits[m], '\0'};
        hand.GetParameters(digit, "LCV LCPG LFV LFS LFAP LFDP", flags);
        // A flag is on or off; any other number must not stretch the blocks.
        motor.LCV = flags[0] != 0;
        motor.LCPG = flags[1] != 0;
        motor.LFV = flags[2] != 0;
        motor.LFS = flags[3] != 0;
        motor.LFAP = flags[4] != 0;
        motor.LFDP = flags[5] != 0;
    }
    int control = 0;
    int feedback = 0;
    for (int m = 0; m < 4; ++m) {
        const RTMotor& motor = rtMotor[m];
        int on = motor.active;
        rtControlIndex[m].velocity = control;
        control += on * motor.LCV;
        rtControlIndex[m].gain = control;
        control += on * motor.LCPG;
        rtFeedbackIndex[m].velocity = feedback;
        feedback += on * motor.LFV;
        rtFeedbackIndex[m].strain = feedback;
        feedback += on * motor.LFS;
        rtFeedbackIndex[m].position = feedback;
        feedback += on * 2 * motor.LFAP;
        rtFeedbackIndex[m].deltaPos = feedback;
        feedback += on * motor.LFDP;
    }
    rtControlLength = control;
    rtFeedbackLength = feedback;
    return SendText(std::string(motors ? motors : "") + "LOOP\r");
}

int ZHand::Impl::RTUpdate(bool sendControl, bool readFeedback) {
    std::string bytes(1, sendControl ? (readFeedback ? 'C' : 'c') : (readFeedback ? 'A' : 'a'));
    if (sendControl) {
        bytes.append(reinterpret_cast<const char*>(rtControl.data()),
                     static_cast<size_t>(rtControlLength));
    }
    return Submit(RequestRealtime, bytes, 0, readFeedback ? 1 + rtFeedbackLength : 1);
}

int ZHand::RTStart(const char* motors) {
    return impl->RTStart(motors);
}

int ZHand::RTUpdate(bool sendControl, bool readFeedback) {
    return impl->RTUpdate(sendControl, readFeedback);
}

int ZHand::RTSetVelocity(char motor, int value) {
    return impl->RTSetVelocity(motor, value);
}

int ZHand::RTSetGain(char motor, int value) {
    return impl->RTSetGain(motor, value);
}

signed char ZHand::RTGetVelocity(char motor) {
    return impl->RTGetVelocity(motor);
}

unsigned char ZHand::RTGetStrain(char motor) {
    return impl->RTGetStrain(motor);
}

int ZHand::RTGetPosition(char motor) {
    return impl->RTGetPosition(motor);
}

signed char ZHand::RTGetDeltaPos(char motor) {
    return impl->RTGetDeltaPos(motor);
}

int ZHand::RTAbort() {
    return impl->SendText(std::string(1, '\x03'));
}

int ZHand::Impl::RTSetVelocity(char motor, int value) {
    const RTMotor& m = rtMotor[MotorIndex(motor)];
    if (!m.active) return -19;
    if (!m.LCV) return 0;  // no velocity byte: the place belongs to the next item
    rtControl[rtControlIndex[MotorIndex(motor)].velocity] =
        static_cast<unsigned char>(static_cast<signed char>(std::clamp(value, -127, 127)));
    return 0;
}

int ZHand::Impl::RTSetGain(char motor, int value) {
    const RTMotor& m = rtMotor[MotorIndex(motor)];
    if (!m.active) return -19;
    if (!m.LCPG) return 0;  // no gain byte: the place belongs to the next item
    rtControl[rtControlIndex[MotorIndex(motor)].gain] =
        static_cast<unsigned char>(std::clamp(value, 0, 255));
    return 0;
}

signed char ZHand::Impl::RTGetVelocity(char motor) {
    int m = MotorIndex(motor);
    if (!rtMotor[m].active || !rtMotor[m].LFV) return 0;
    return static_cast<signed char>(rtFeedback[rtFeedbackIndex[m].velocity]);
}

unsigned char ZHand::Impl::RTGetStrain(char motor) {
    int m = MotorIndex(motor);
    if (!rtMotor[m].active || !rtMotor[m].LFS) return 0;
    return rtFeedback[rtFeedbackIndex[m].strain];
}

int ZHand::Impl::RTGetPosition(char motor) {
    int m = MotorIndex(motor);
    if (!rtMotor[m].active || !rtMotor[m].LFAP) return 0;
    int at = rtFeedbackIndex[m].position;
    return static_cast<int16_t>((rtFeedback[at] << 8) | rtFeedback[at + 1]);
}

signed char ZHand::Impl::RTGetDeltaPos(char motor) {
    int m = MotorIndex(motor);
    if (!rtMotor[m].active || !rtMotor[m].LFDP) return 0;
    return static_cast<signed char>(rtFeedback[rtFeedbackIndex[m].deltaPos]);
}
