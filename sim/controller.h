// The simulated controller: the byte protocol of the ZorvathHand on its
// serial line, over the hand's mechanics (HandModel). It knows nothing of
// ptys or threads: bytes go in with the host's line rate and a time stamp,
// bytes come out tagged with the rate the hand sends them at, and the caller
// asks when the next thing falls due. Times are wall-clock seconds from any
// fixed origin; model time runs `speed` times faster.
//
// Modes:
//  - command: every byte but CR is echoed as it arrives; CR runs the line
//    and answers "\r\n", the reply lines, "\r\n=> " (or "\r\nERR n\r\n=> ").
//    A move is answered when it is done. Byte 3 drops the line and answers
//    with the prompt. "LOOP" answers "*" and enters the real-time loop.
//  - loop: binary updates "C"/"c" (with the control block), "A"/"a",
//    answered with "*" (and the feedback block for "C"/"A") the moment the
//    update's last byte has arrived; the fingers move by their velocities
//    all the time in between. Byte 3 leaves the loop with the prompt.
//  - boot: entered when bytes arrive at 4800 baud while the hand runs at
//    another rate. At 4800 the loader program is taken in, every byte but the
//    first echoed; at 5908 the letter I and then the EEPROM image, each byte
//    echoed. Back at 9600 the hand restarts in command mode.
//  - firmware: a lone "X" (no CR within 100 ms) starts the firmware loader;
//    after a moment (the RESET button) it sends ":", takes 0xFF, then record
//    packets FF, address low, address high, length, FF, data, echoing all
//    but the FF markers. Any other byte where a packet should start ends the
//    download and is taken as command input.
// Bytes that arrive at a rate the current mode does not expect are garbled,
// as a real UART would garble them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fault.h"
#include "hand_model.h"

namespace zhandsim {

// Bytes for the host. `baud` is the rate the hand sends them at; 0 means
// they are sent whatever the host's rate (they are garbage already).
struct Output {
    std::string bytes;
    int baud = 0;
    bool hangup = false;  // hang up the line after these bytes
    int downMs = 0;       // with hangup: ms until a new line; -1 never
    double time = 0;      // when the hand had them ready to send
};

enum class Mode { Command, Loop, Boot, FirmwareWait, Firmware };

enum class LoaderFile { BootLoader, Eeprom, Firmware };

struct ControllerOptions {
    std::uint64_t seed = 1;
    double speed = 1;
    int minSpreadVelocity = 23;
    std::vector<Fault> faults;
};

class Controller {
  public:
    static constexpr int kCommandBaud = 9600;
    static constexpr int kBootBaud = 4800;
    static constexpr int kEepromBaud = 5908;
    static constexpr int kFirmwareBaud = 9600;
    static constexpr double kButtonSeconds = 0.5;       // model: until RESET is pressed
    static constexpr double kResetSeconds = 0.05;       // model: a reset's reboot
    static constexpr double kBaudSwitchSeconds = 0.02;  // model: UART switch after PSET BAUD
    static constexpr double kLoneXSeconds = 0.1;        // real: "X" alone starts the loader
    static constexpr double kFlushSeconds = 0.1;        // real: loader idle before a flush
    static constexpr std::size_t kMaxLine = 8192;
    static constexpr const char* kBanner = "ZorvathHand controller 3.0 (zhand-sim)";

    explicit Controller(const ControllerOptions& options = {});

    // Bytes received from the host, whose port runs at `hostBaud` (0:
    // unknown, taken as right), each fully arrived at `now`. They are worked
    // off by Advance, each at the time it arrived (or, held behind a move,
    // when the move ends), however much later Advance runs.
    void Receive(std::string_view bytes, int hostBaud, double now);
    // Does everything due at `now`: queued input, finished moves,
    // loader moments. `hostBaud` is the host's rate now.
    void Advance(double now, int hostBaud);
    // Received bytes not yet worked off (a move in progress holds them).
    std::size_t Backlog() const { return input_.size(); }
    // Output produced so far, in order; clears it.
    std::vector<Output> TakeOutput();
    // When Advance has something to do next (infinity: only input wakes it).
    double NextDue() const;

    // Forgets the line state after a hang-up: command mode at 9600 baud.
    void LineReset(double now);

    void SetSpeed(double speed, double now);
    double Speed() const { return speed_; }
    double ModelTime(double now) const { return modelAnchor_ + (now - realAnchor_) * speed_; }

    HandModel& Model() { return model_; }
    const HandModel& Model() const { return model_; }
    void AddFault(const Fault& fault) { model_.AddFault(fault); }
    void ClearFaults() { model_.ClearFaults(); }

    Mode CurrentMode() const { return mode_; }
    int HandBaud() const { return handBaud_; }
    // Command lines received so far (empty lines included).
    unsigned Commands() const { return commands_; }
    // Real-time layout of the current (or last) loop.
    unsigned LoopMotors() const { return loopMotors_; }
    int ControlLength() const { return controlLength_; }
    int FeedbackLength() const { return feedbackLength_; }

    const std::vector<std::uint8_t>& BootLoaderBytes() const { return bootLoader_; }
    const std::vector<std::uint8_t>& EepromImage() const { return eeprom_; }
    const std::array<std::uint8_t, 65536>& FirmwareMemory() const { return firmware_; }
    const std::vector<bool>& FirmwareWritten() const { return firmwareWritten_; }
    int FirmwarePackets() const { return firmwarePackets_; }
    // In the firmware loader, past the handshake and between two packets.
    bool FirmwareBetweenPackets() const {
        return mode_ == Mode::Firmware && step_ == FirmwareStep::PacketStart;
    }
    int FirmwareErrors() const { return firmwareErrors_; }

    // Text of one of the hand's error numbers ("err n").
    static std::string_view ErrorText(int code);
    // What a byte looks like when it crosses the line at a wrong rate.
    static std::uint8_t Garble(std::uint8_t byte);
    // True when two rates are within 2 % of each other (0 matches anything).
    static bool SameRate(int a, int b);

    // Called with each command and reply, mode change and fault.
    std::function<void(std::string_view)> trace;
    // Called when a loader has data to keep: at the end of a boot session for
    // the loader program and the image, and when the firmware loader falls
    // idle or ends.
    std::function<void(LoaderFile)> onLoaderData;

  private:
    struct InByte {
        std::uint8_t byte;
        int baud;
        double time;
    };
    struct Pending {
        double due;
        std::function<void(double)> finish;  // emits the answer at time `due`
    };
    struct Reply {
        std::string text;
        int error = 0;
        double seconds = 0;  // model time until the answer
    };
    enum class FirmwareStep {
        Handshake,
        PacketStart,
        AddressLow,
        AddressHigh,
        Length,
        Marker,
        Data
    };

    void Emit(std::string bytes, int baud, double at);
    void Trace(std::string_view text);
    double RealAfter(double now, double modelSeconds) const;
    void ProcessByte(const InByte& in, double now);
    void CommandByte(std::uint8_t byte, int baud, double now);
    void LoopByte(std::uint8_t byte, int baud, double now);
    void BootByte(std::uint8_t byte, int baud, double now);
    void FirmwareByte(std::uint8_t byte, int baud, double now);
    void ExecuteLine(double now);
    Reply Dispatch(const std::string& line, double now);
    Reply Move(unsigned mask, HandModel::MoveKind kind, int amount, double now);
    Reply SetParameters(unsigned mask, const std::vector<std::string>& args);
    Reply GetParameters(unsigned mask, const std::vector<std::string>& args, double now);
    Reply ListParameters(bool values, double now);
    void EnterLoop(unsigned mask, double now);
    void AnswerUpdate(bool feedback, double now);
    std::string Feedback(double modelNow);
    void LeaveLoop(double now);
    void EnterBoot();
    void LeaveBoot();
    void LeaveFirmware();
    const Fault* LineFault(FaultKind kind, unsigned number) const;

    ControllerOptions options_;
    HandModel model_;
    Random noise_;
    double speed_;
    double realAnchor_ = 0;
    double modelAnchor_ = 0;
    double lastAdvance_ = 0;
    std::deque<InByte> input_;
    std::vector<Output> output_;
    std::optional<Pending> pending_;
    double freeAt_ = 0;  // when the last pending answer went out
    Mode mode_ = Mode::Command;
    int handBaud_ = kCommandBaud;
    int hostBaud_ = 0;
    std::string line_;
    bool lineOverflow_ = false;
    double lastByteTime_ = 0;
    unsigned commands_ = 0;
    // loop
    unsigned loopMotors_ = 0;
    std::array<std::array<int, 6>, kMotorCount> loopFlags_{};  // LCV LCPG LFV LFS LFAP LFDP
    int controlLength_ = 0;
    int feedbackLength_ = 0;
    char updateCommand_ = 0;
    std::string control_;
    std::array<int, kMotorCount> gain_{};
    std::array<int, kMotorCount> lastReported_{};
    // boot
    bool eepromPhase_ = false;
    bool sawI_ = false;
    std::vector<std::uint8_t> bootLoader_;
    std::vector<std::uint8_t> eeprom_;
    // firmware
    double buttonDue_ = 0;
    FirmwareStep step_ = FirmwareStep::Handshake;
    unsigned address_ = 0;
    int remaining_ = 0;
    bool firmwareDirty_ = false;
    std::array<std::uint8_t, 65536> firmware_{};
    std::vector<bool> firmwareWritten_ = std::vector<bool>(65536, false);
    int firmwarePackets_ = 0;
    int firmwareErrors_ = 0;
};

}  // namespace zhandsim
