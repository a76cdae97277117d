#include "controller.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace zhandsim {

namespace {

// The hand's error numbers.
enum Error : int {
    kUnknownCommand = 1,
    kBadMotor = 2,
    kUnknownParameter = 3,
    kOutOfRange = 4,
    kBadNumber = 5,
    kReadOnly = 6,
    kLineTooLong = 7,
    kBadBaud = 8,
    kBadUpdate = 9,
    kUnexpectedArgument = 10,
};

constexpr std::array<std::string_view, 11> kErrorTexts{
    "No error",
    "Unknown command",
    "Bad motor selection",
    "Unknown parameter",
    "Value out of range",
    "Missing or malformed number",
    "Parameter is read only",
    "Command line too long",
    "Unsupported baud rate",
    "Bad real-time command",
    "Unexpected argument",
};

constexpr std::array<int, 9> kHandRates{1200,  2400,  4800,   9600,  19200,
                                        38400, 57600, 115200, 230400};

constexpr unsigned kAllMotors = 0xF;

bool ParseNumber(std::string_view text, int& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        std::size_t j = i;
        while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
        if (j > i) words.emplace_back(text.substr(i, j - i));
        i = j;
    }
    return words;
}

// Printable form of protocol text for the trace.
std::string Visible(std::string_view bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c >= 32 && c < 127)
            text += static_cast<char>(c);
        else {
            static const char* hex = "0123456789ABCDEF";
            text += "\\x";
            text += hex[c >> 4];
            text += hex[c & 15];
        }
    }
    return text;
}

}  // namespace

Controller::Controller(const ControllerOptions& options)
    : options_(options),
      model_(options.seed, options.minSpreadVelocity),
      noise_(options.seed ^ 0x6E6F697365ull),
      speed_(options.speed > 0 ? options.speed : 1) {
    for (const Fault& fault : options.faults) model_.AddFault(fault);
    firmware_.fill(0xFF);
}

std::string_view Controller::ErrorText(int code) {
    if (code >= 0 && code < static_cast<int>(kErrorTexts.size()))
        return kErrorTexts[static_cast<std::size_t>(code)];
    return "No such error number";
}

std::uint8_t Controller::Garble(std::uint8_t byte) {
    // Sampled at the wrong rate a byte turns into another one; the high bit
    // keeps garbage from ever looking like CR, a prompt or a loader marker.
    return static_cast<std::uint8_t>(0x80 | ((byte * 37 + 0x55) & 0x7F));
}

bool Controller::SameRate(int a, int b) {
    if (a <= 0 || b <= 0) return true;
    return std::abs(a - b) * 50 <= b;
}

void Controller::SetSpeed(double speed, double now) {
    if (!(speed > 0)) return;
    modelAnchor_ = ModelTime(now);
    realAnchor_ = now;
    speed_ = speed;
}

double Controller::RealAfter(double now, double modelSeconds) const {
    return now + modelSeconds / speed_;
}

void Controller::Trace(std::string_view text) {
    if (trace) trace(text);
}

void Controller::Emit(std::string bytes, int baud, double at) {
    if (bytes.empty()) return;
    Output* last = output_.empty() ? nullptr : &output_.back();
    if (last && last->baud == baud && !last->hangup && last->time == at)
        last->bytes += bytes;
    else
        output_.push_back(Output{std::move(bytes), baud, false, 0, at});
}

std::vector<Output> Controller::TakeOutput() {
    return std::exchange(output_, {});
}

void Controller::Receive(std::string_view bytes, int hostBaud, double now) {
    for (unsigned char c : bytes) input_.push_back(InByte{c, hostBaud, now});
}

void Controller::LineReset(double now) {
    input_.clear();
    pending_.reset();
    freeAt_ = now;
    if (mode_ == Mode::Loop) model_.StopRealtime(ModelTime(now));
    if (mode_ == Mode::Boot) LeaveBoot();
    if (mode_ == Mode::Firmware) LeaveFirmware();
    mode_ = Mode::Command;
    handBaud_ = kCommandBaud;
    line_.clear();
    lineOverflow_ = false;
}

double Controller::NextDue() const {
    constexpr double never = std::numeric_limits<double>::infinity();
    if (pending_) return pending_->due;
    if (!input_.empty()) return lastAdvance_;
    switch (mode_) {
        case Mode::Command:
            return line_ == "X" ? lastByteTime_ + kLoneXSeconds : never;
        case Mode::FirmwareWait:
            return buttonDue_;
        case Mode::Boot:
            return lastAdvance_ + 0.02;  // watch for the return to 9600
        case Mode::Firmware:
            return firmwareDirty_ ? lastByteTime_ + kFlushSeconds : never;
        case Mode::Loop:
            return never;
    }
    return never;
}

void Controller::Advance(double now, int hostBaud) {
    lastAdvance_ = now;
    hostBaud_ = hostBaud;
    for (;;) {
        if (pending_) {
            if (now < pending_->due) return;
            Pending done = std::move(*pending_);
            pending_.reset();
            freeAt_ = done.due;
            done.finish(done.due);
            continue;
        }
        if (mode_ == Mode::FirmwareWait && now >= buttonDue_) {
            Trace("firmware loader: RESET pressed, sending ':'");
            mode_ = Mode::Firmware;
            step_ = FirmwareStep::Handshake;
            Emit(":", kFirmwareBaud, buttonDue_);
            continue;
        }
        if (input_.empty()) {
            if (mode_ == Mode::Command && line_ == "X" && now >= lastByteTime_ + kLoneXSeconds) {
                Trace("firmware loader: waiting for RESET");
                line_.clear();
                mode_ = Mode::FirmwareWait;
                buttonDue_ = RealAfter(now, kButtonSeconds);
                continue;
            }
            if (mode_ == Mode::Boot && (!bootLoader_.empty() || sawI_) &&
                SameRate(hostBaud, kCommandBaud) && hostBaud > 0) {
                LeaveBoot();
                continue;
            }
            if (mode_ == Mode::Firmware && firmwareDirty_ && now >= lastByteTime_ + kFlushSeconds) {
                firmwareDirty_ = false;
                if (onLoaderData) onLoaderData(LoaderFile::Firmware);
            }
            return;
        }
        // A byte is taken when it arrived, or when the answer it waited
        // behind went out: the hand's clock is the wire's, not the caller's.
        const InByte in = input_.front();
        input_.pop_front();
        ProcessByte(in, std::max(in.time, freeAt_));
    }
}

void Controller::ProcessByte(const InByte& in, double now) {
    switch (mode_) {
        case Mode::Command:
            CommandByte(in.byte, in.baud, now);
            break;
        case Mode::Loop:
            LoopByte(in.byte, in.baud, now);
            break;
        case Mode::Boot:
            BootByte(in.byte, in.baud, now);
            break;
        case Mode::FirmwareWait:
            break;  // the loader is not listening yet
        case Mode::Firmware:
            FirmwareByte(in.byte, in.baud, now);
            break;
    }
}

const Fault* Controller::LineFault(FaultKind kind, unsigned number) const {
    for (const Fault& fault : model_.Faults()) {
        if (fault.kind != kind || number <= static_cast<unsigned>(fault.after)) continue;
        if (fault.count == 0 || number <= static_cast<unsigned>(fault.after + fault.count))
            return &fault;
    }
    return nullptr;
}

// --- command mode ---

void Controller::CommandByte(std::uint8_t byte, int baud, double now) {
    if (LineFault(FaultKind::Silent, commands_ + 1)) {
        if (byte == '\r') {
            ++commands_;
            Trace("silent: command " + std::to_string(commands_) + " ignored");
        }
        return;
    }
    if (SameRate(baud, kBootBaud) && baud > 0 && !SameRate(handBaud_, kBootBaud)) {
        EnterBoot();
        BootByte(byte, baud, now);
        return;
    }
    if (!SameRate(baud, handBaud_)) byte = Garble(byte);
    lastByteTime_ = now;
    switch (byte) {
        case '\r':
            ExecuteLine(now);
            return;
        case 3:
            line_.clear();
            lineOverflow_ = false;
            Emit("\r\n=> ", handBaud_, now);
            return;
        case 8:
        case 127:
            Emit(std::string(1, static_cast<char>(byte)), handBaud_, now);
            if (!line_.empty()) line_.pop_back();
            return;
        default:
            Emit(std::string(1, static_cast<char>(byte)), handBaud_, now);
            if (byte == '\n') return;
            if (line_.size() < kMaxLine)
                line_ += static_cast<char>(byte);
            else
                lineOverflow_ = true;
    }
}

void Controller::ExecuteLine(double now) {
    std::string line = std::exchange(line_, {});
    const bool overflow = std::exchange(lineOverflow_, false);
    const unsigned number = ++commands_;
    Trace("<- " + Visible(line));

    for (const Fault& fault : model_.Faults()) {
        if (fault.kind != FaultKind::Hangup || number != static_cast<unsigned>(fault.after) + 1)
            continue;
        Trace("hangup: line hung up at command " + std::to_string(number));
        output_.push_back(Output{"", 0, true, fault.downMs, now});
        return;
    }

    for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const int baudBefore = handBaud_;
    Reply reply;
    if (overflow)
        reply.error = kLineTooLong;
    else
        reply = Dispatch(line, now);
    if (mode_ == Mode::Loop) {
        Trace("-> * (loop)");
        Emit("*", handBaud_, now);
        return;
    }

    std::string answer;
    if (reply.error)
        answer = "\r\nERR " + std::to_string(reply.error) + "\r\n=> ";
    else if (reply.text.empty())
        answer = "\r\n=> ";
    else
        answer = "\r\n" + reply.text + "\r\n=> ";
    if (const Fault* fault = LineFault(FaultKind::Noise, number)) {
        answer.clear();
        for (int i = 0; i < fault->bytes; ++i) {
            auto c = static_cast<char>(noise_.Uniform(0, 255));
            answer += c == '=' ? '#' : c;  // noise never forms a prompt
        }
        Trace("noise: " + std::to_string(fault->bytes) + " bytes instead of the reply");
    }
    const int baud = handBaud_;
    const double due = RealAfter(now, reply.seconds);
    std::string traced = reply.error ? "ERR " + std::to_string(reply.error) : reply.text;
    auto finish = [this, answer = std::move(answer), baud, traced = std::move(traced)](double at) {
        Trace("-> " + Visible(traced));
        Emit(answer, baud, at);
    };
    if (reply.seconds > 0 || baud != baudBefore)
        pending_ = Pending{due, std::move(finish)};
    else
        finish(now);
}

Controller::Reply Controller::Dispatch(const std::string& line, double now) {
    Reply reply;
    std::size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    unsigned mask = 0;
    bool prefix = false;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c >= '1' && c <= '4')
            mask |= 1u << (c - '1');
        else if (c == 'G')
            mask |= 0x7;
        else if (c == 'S')
            mask |= 0x8;
        else
            break;
        prefix = true;
    }
    if (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
        reply.error = kBadMotor;
        return reply;
    }
    const std::vector<std::string> words = Words(std::string_view(line).substr(i));
    if (words.empty()) {
        if (prefix) reply.error = kUnknownCommand;
        return reply;  // an empty line: just the prompt
    }
    const std::string& word = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());
    const unsigned motors = prefix ? mask : kAllMotors;
    auto noArgs = [&] {
        if (!args.empty()) reply.error = kUnexpectedArgument;
        return args.empty();
    };
    auto oneNumber = [&](int& value, int lo, int hi) {
        if (args.size() > 1)
            reply.error = kUnexpectedArgument;
        else if (args.empty() || !ParseNumber(args[0], value))
            reply.error = kBadNumber;
        else if (value < lo || value > hi)
            reply.error = kOutOfRange;
        return reply.error == 0;
    };

    using Kind = HandModel::MoveKind;
    int value = 0;
    if (word == "O" || word == "C" || word == "HI" || word == "HOME") {
        if (!noArgs()) return reply;
        const Kind kind = word == "O"    ? Kind::Open
                          : word == "C"  ? Kind::Close
                          : word == "HI" ? Kind::Init
                                         : Kind::Home;
        return Move(motors, kind, 0, now);
    }
    if (word == "IO" || word == "IC") {
        if (!oneNumber(value, 0, 30000)) return reply;
        return Move(motors, word == "IO" ? Kind::OpenBy : Kind::CloseBy, value, now);
    }
    if (word == "M") {
        if (args.empty()) return Move(motors, Kind::ToDest, 0, now);
        if (!oneNumber(value, 0, 30000)) return reply;
        return Move(motors, Kind::To, value, now);
    }
    if (word == "T") {
        if (noArgs()) model_.Terminate(motors, ModelTime(now));
        return reply;
    }
    if (word == "FSET") return SetParameters(motors, args);
    if (word == "FGET") return GetParameters(motors, args, now);
    if (word == "FSAVE" || word == "FLOAD" || word == "FDEF") {
        if (!noArgs()) return reply;
        for (int m = 1; m <= kMotorCount; ++m) {
            if (!(motors & (1u << (m - 1)))) continue;
            if (word == "FSAVE")
                model_.Stored(m) = model_.Working(m);
            else if (word == "FLOAD")
                model_.Working(m) = model_.Stored(m);
            else
                model_.Working(m) = DefaultParameters(m);
        }
        return reply;
    }
    if (word == "FLISTA" || word == "FLISTAV") {
        if (!noArgs()) return reply;
        return ListParameters(word == "FLISTAV", now);
    }
    if (word == "PGET") {
        if (args.size() != 1) {
            reply.error = args.empty() ? kUnknownParameter : kUnexpectedArgument;
        } else if (args[0] == "TEMP") {
            reply.text = std::to_string(model_.TemperatureTenths(ModelTime(now)));
        } else if (args[0] == "BAUD") {
            reply.text = std::to_string(handBaud_ / 100);
        } else {
            reply.error = kUnknownParameter;
        }
        return reply;
    }
    if (word == "PSET") {
        if (args.empty() || args[0] != "BAUD") {
            reply.error = kUnknownParameter;
            return reply;
        }
        if (args.size() > 2) {
            reply.error = kUnexpectedArgument;
        } else if (args.size() < 2 || !ParseNumber(args[1], value)) {
            reply.error = kBadNumber;
        } else if (std::find(kHandRates.begin(), kHandRates.end(), value * 100) ==
                   kHandRates.end()) {
            reply.error = kBadBaud;
        } else {
            handBaud_ = value * 100;
            reply.seconds = kBaudSwitchSeconds;
            Trace("line: hand switches to " + std::to_string(handBaud_) + " baud");
        }
        return reply;
    }
    if (word == "RESET") {
        if (!noArgs()) return reply;
        handBaud_ = kCommandBaud;
        for (int m = 1; m <= kMotorCount; ++m) model_.Working(m) = model_.Stored(m);
        model_.Terminate(kAllMotors, ModelTime(now));
        reply.text = kBanner;
        reply.seconds = kResetSeconds;
        Trace("line: reset, 9600 baud");
        return reply;
    }
    if (word == "LOOP") {
        if (!noArgs()) return reply;
        EnterLoop(prefix ? mask : 0, now);
        return reply;
    }
    if (word == "ERR") {
        if (args.size() > 1)
            reply.error = kUnexpectedArgument;
        else if (args.empty() || !ParseNumber(args[0], value))
            reply.error = kBadNumber;
        else
            reply.text = ErrorText(value);
        return reply;
    }
    reply.error = kUnknownCommand;
    return reply;
}

Controller::Reply Controller::Move(unsigned mask, HandModel::MoveKind kind, int amount,
                                   double now) {
    Reply reply;
    reply.seconds = model_.StartMove(mask, kind, amount, ModelTime(now));
    return reply;
}

Controller::Reply Controller::SetParameters(unsigned mask, const std::vector<std::string>& args) {
    Reply reply;
    if (args.empty() || args.size() % 2 != 0) {
        reply.error = args.empty() ? kUnknownParameter : kBadNumber;
        return reply;
    }
    std::vector<std::pair<int, int>> changes;
    const auto table = ParameterTable();
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const int index = ParameterIndex(args[i]);
        int value = 0;
        if (index < 0)
            reply.error = kUnknownParameter;
        else if (table[static_cast<std::size_t>(index)].readOnly)
            reply.error = kReadOnly;
        else if (!ParseNumber(args[i + 1], value))
            reply.error = kBadNumber;
        else if (value < table[static_cast<std::size_t>(index)].minimum ||
                 value > table[static_cast<std::size_t>(index)].maximum)
            reply.error = kOutOfRange;
        if (reply.error) return reply;  // nothing is set when one pair is wrong
        changes.emplace_back(index, value);
    }
    for (int m = 1; m <= kMotorCount; ++m)
        if (mask & (1u << (m - 1)))
            for (auto [index, value] : changes)
                model_.Working(m)[static_cast<std::size_t>(index)] = value;
    return reply;
}

Controller::Reply Controller::GetParameters(unsigned mask, const std::vector<std::string>& args,
                                            double now) {
    Reply reply;
    if (args.empty()) reply.error = kUnknownParameter;
    std::vector<int> indices;
    for (const std::string& name : args) {
        const int index = ParameterIndex(name);
        if (index < 0) reply.error = kUnknownParameter;
        indices.push_back(index);
    }
    if (reply.error) return reply;
    const double t = ModelTime(now);
    for (int m = 1; m <= kMotorCount; ++m) {
        if (!(mask & (1u << (m - 1)))) continue;
        if (!reply.text.empty()) reply.text += "\r\n";
        for (std::size_t i = 0; i < indices.size(); ++i) {
            if (i) reply.text += ' ';
            reply.text += std::to_string(model_.Read(m, indices[i], t));
        }
    }
    return reply;
}

Controller::Reply Controller::ListParameters(bool values, double now) {
    Reply reply;
    const double t = ModelTime(now);
    const auto table = ParameterTable();
    for (int p = 0; p < kParamCount; ++p) {
        if (p) reply.text += "\r\n";
        if (!values) {
            reply.text += table[static_cast<std::size_t>(p)].name;
            continue;
        }
        for (int m = 1; m <= kMotorCount; ++m) {
            if (m > 1) reply.text += ' ';
            reply.text += std::to_string(model_.Read(m, p, t));
        }
    }
    return reply;
}

// --- real-time loop ---

void Controller::EnterLoop(unsigned mask, double now) {
    static constexpr std::array<int, 6> kFlags{kLCV, kLCPG, kLFV, kLFS, kLFAP, kLFDP};
    loopMotors_ = mask;
    controlLength_ = 0;
    feedbackLength_ = 0;
    const double t = ModelTime(now);
    model_.StartRealtime(t);
    for (int m = 1; m <= kMotorCount; ++m) {
        auto& flags = loopFlags_[static_cast<std::size_t>(m - 1)];
        for (std::size_t f = 0; f < kFlags.size(); ++f)
            flags[f] = model_.Working(m)[static_cast<std::size_t>(kFlags[f])] != 0;
        lastReported_[static_cast<std::size_t>(m - 1)] = model_.Position(m, t);
        if (!(mask & (1u << (m - 1)))) continue;
        controlLength_ += flags[0] + flags[1];
        feedbackLength_ += flags[2] + flags[3] + 2 * flags[4] + flags[5];
    }
    mode_ = Mode::Loop;
    updateCommand_ = 0;
    Trace("loop: entered, control " + std::to_string(controlLength_) + " bytes, feedback " +
          std::to_string(feedbackLength_) + " bytes");
}

void Controller::LoopByte(std::uint8_t byte, int baud, double now) {
    if (!SameRate(baud, handBaud_)) byte = Garble(byte);
    if (updateCommand_) {
        control_ += static_cast<char>(byte);
        if (static_cast<int>(control_.size()) < controlLength_) return;
        model_.Integrate(ModelTime(now));  // the old velocities ran until now
        std::size_t at = 0;
        for (int m = 1; m <= kMotorCount; ++m) {
            if (!(loopMotors_ & (1u << (m - 1)))) continue;
            const auto& flags = loopFlags_[static_cast<std::size_t>(m - 1)];
            if (flags[0]) model_.SetVelocity(m, static_cast<std::int8_t>(control_[at++]));
            if (flags[1])
                gain_[static_cast<std::size_t>(m - 1)] = static_cast<std::uint8_t>(control_[at++]);
        }
        AnswerUpdate(std::exchange(updateCommand_, 0) == 'C', now);
        return;
    }
    switch (byte) {
        case 3:
            LeaveLoop(now);
            return;
        case 'C':
        case 'c':
            if (controlLength_ == 0) {
                AnswerUpdate(byte == 'C', now);
            } else {
                updateCommand_ = static_cast<char>(byte);
                control_.clear();
            }
            return;
        case 'A':
        case 'a':
            AnswerUpdate(byte == 'A', now);
            return;
        default:
            Trace("loop: bad update byte " + Visible(std::string(1, static_cast<char>(byte))));
            Emit("ERR " + std::to_string(kBadUpdate) + "\r\n=> ", handBaud_, now);
    }
}

// The answer goes out as soon as the update is in: the feedback is the
// motion as it stands at the arrival of the update's last byte.
void Controller::AnswerUpdate(bool feedback, double now) {
    const double modelNow = ModelTime(now);
    model_.Integrate(modelNow);
    Emit(feedback ? "*" + Feedback(modelNow) : std::string("*"), handBaud_, now);
}

std::string Controller::Feedback(double modelNow) {
    std::string block;
    for (int m = 1; m <= kMotorCount; ++m) {
        if (!(loopMotors_ & (1u << (m - 1)))) continue;
        const auto& flags = loopFlags_[static_cast<std::size_t>(m - 1)];
        const int position = model_.Position(m, modelNow);
        if (flags[2])
            block += static_cast<char>(static_cast<std::int8_t>(model_.ActualVelocity(m)));
        if (flags[3]) block += static_cast<char>(model_.Strain(m));
        if (flags[4]) {
            const auto p16 = static_cast<std::uint16_t>(static_cast<std::int16_t>(position));
            block += static_cast<char>(p16 >> 8);
            block += static_cast<char>(p16 & 0xFF);
        }
        int& last = lastReported_[static_cast<std::size_t>(m - 1)];
        if (flags[5])
            block +=
                static_cast<char>(static_cast<std::int8_t>(std::clamp(position - last, -128, 127)));
        last = position;
    }
    return block;
}

void Controller::LeaveLoop(double now) {
    model_.StopRealtime(ModelTime(now));
    mode_ = Mode::Command;
    Trace("loop: left");
    Emit("\r\n=> ", handBaud_, now);
}

// --- boot-mode EEPROM loader ---

void Controller::EnterBoot() {
    Trace("boot mode: taking the loader program at 4800 baud");
    mode_ = Mode::Boot;
    line_.clear();
    eepromPhase_ = false;
    sawI_ = false;
    bootLoader_.clear();
    eeprom_.clear();
}

void Controller::BootByte(std::uint8_t byte, int baud, double now) {
    if (SameRate(baud, kCommandBaud) && baud > 0) {
        LeaveBoot();
        CommandByte(byte, baud, now);
        return;
    }
    if (SameRate(baud, kEepromBaud) && baud > 0 && !eepromPhase_) {
        eepromPhase_ = true;
        Trace("boot mode: loader running at 5908 baud");
    }
    if (SameRate(baud, kBootBaud) && baud > 0 && !eepromPhase_) {
        bootLoader_.push_back(byte);
        if (bootLoader_.size() > 1) Emit(std::string(1, static_cast<char>(byte)), kBootBaud, now);
        return;
    }
    if (SameRate(baud, kEepromBaud) && baud > 0) {
        if (!sawI_) {
            if (byte != 'I') return;  // the loader waits for its start letter
            sawI_ = true;
        } else {
            eeprom_.push_back(byte);
        }
        Emit(std::string(1, static_cast<char>(byte)), kEepromBaud, now);
        return;
    }
    Emit(std::string(1, static_cast<char>(Garble(byte))), 0, now);
}

void Controller::LeaveBoot() {
    Trace("boot mode: left with " + std::to_string(bootLoader_.size()) + " loader bytes and " +
          std::to_string(eeprom_.size()) + " image bytes; restarting at 9600 baud");
    mode_ = Mode::Command;
    handBaud_ = kCommandBaud;
    if (onLoaderData) {
        onLoaderData(LoaderFile::BootLoader);
        if (sawI_) onLoaderData(LoaderFile::Eeprom);
    }
}

// --- firmware loader ---

void Controller::FirmwareByte(std::uint8_t byte, int baud, double now) {
    if (!SameRate(baud, kFirmwareBaud)) {
        Emit(std::string(1, static_cast<char>(Garble(byte))), 0, now);
        return;
    }
    lastByteTime_ = now;
    auto echo = [&] { Emit(std::string(1, static_cast<char>(byte)), kFirmwareBaud, now); };
    switch (step_) {
        case FirmwareStep::Handshake:
            if (byte == 0xFF) step_ = FirmwareStep::PacketStart;
            return;
        case FirmwareStep::PacketStart:
            if (byte == 0xFF) {
                step_ = FirmwareStep::AddressLow;
                return;
            }
            LeaveFirmware();
            CommandByte(byte, baud, now);
            return;
        case FirmwareStep::AddressLow:
            address_ = byte;
            step_ = FirmwareStep::AddressHigh;
            echo();
            return;
        case FirmwareStep::AddressHigh:
            address_ |= static_cast<unsigned>(byte) << 8;
            step_ = FirmwareStep::Length;
            echo();
            return;
        case FirmwareStep::Length:
            remaining_ = byte;
            step_ = FirmwareStep::Marker;
            echo();
            return;
        case FirmwareStep::Marker:
            if (byte != 0xFF) ++firmwareErrors_;
            ++firmwarePackets_;
            step_ = remaining_ > 0 ? FirmwareStep::Data : FirmwareStep::PacketStart;
            firmwareDirty_ = true;
            return;
        case FirmwareStep::Data:
            firmware_[address_ & 0xFFFF] = byte;
            firmwareWritten_[address_ & 0xFFFF] = true;
            ++address_;
            if (--remaining_ == 0) step_ = FirmwareStep::PacketStart;
            firmwareDirty_ = true;
            echo();
            return;
    }
}

void Controller::LeaveFirmware() {
    Trace("firmware loader: ended after " + std::to_string(firmwarePackets_) +
          " packets; restarting at 9600 baud");
    mode_ = Mode::Command;
    handBaud_ = kCommandBaud;
    firmwareDirty_ = false;
    if (onLoaderData) onLoaderData(LoaderFile::Firmware);
}

}  // namespace zhandsim
