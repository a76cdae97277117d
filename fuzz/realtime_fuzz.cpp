// Real-time mode fed arbitrary flag replies, loop answers and feedback: the
// blocks the driver lays out, the control bytes it sends and every getter
// must agree with a model of the layout, and no getter may read outside the
// feedback block.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "fuzz_hand.h"
#include "wire_model.h"
#include "wire_text.h"

using zhand::detail::ParseIntegers;

namespace {

constexpr const char* kMotorSets[] = {"", "1", "2", "3", "4", "G", "S", "GS", "123", "1234", "24"};
constexpr const char kFlagNames[] = "LCV LCPG LFV LFS LFAP LFDP";
enum Flag { LCV, LCPG, LFV, LFS, LFAP, LFDP };

// What the driver should hold: the flags it read, the layout, both blocks.
struct Layout {
    std::array<std::array<int, 6>, 4> flags{};
    std::array<bool, 4> active{};
    std::array<int, 4> velocityOut{}, gainOut{}, velocityIn{}, strainIn{}, positionIn{}, deltaIn{};
    int controlLength = 0;
    int feedbackLength = 0;
    std::array<uint8_t, 8> control{};
    std::array<uint8_t, 20> feedback{};

    void Arrange(const std::string& motors) {
        const char digits[] = "1234";
        const char groups[] = "GGGS";
        int out = 0;
        int in = 0;
        for (int m = 0; m < 4; ++m) {
            active[m] = motors.find(digits[m]) != std::string::npos ||
                        motors.find(groups[m]) != std::string::npos;
            int on = active[m] ? 1 : 0;
            const auto& f = flags[m];
            velocityOut[m] = out;
            out += on * f[LCV];
            gainOut[m] = out;
            out += on * f[LCPG];
            velocityIn[m] = in;
            in += on * f[LFV];
            strainIn[m] = in;
            in += on * f[LFS];
            positionIn[m] = in;
            in += on * 2 * f[LFAP];
            deltaIn[m] = in;
            in += on * f[LFDP];
        }
        controlLength = out;
        feedbackLength = in;
    }
};

int MotorIndex(char motor) {
    return std::clamp(motor - '1', 0, 3);
}

// One exchange of the run: what the host sends, what the hand answers and
// what the model says of it.
struct Exchange {
    std::string command;
    std::string stream;
    wire_model::Outcome model;
};

// Things the run does between exchanges, recorded for the checks.
struct Setter {
    char motor = '1';
    bool gain = false;
    int value = 0;
};
struct Update {
    bool sendControl = false;
    bool readFeedback = false;
    std::vector<Setter> setters;
};

std::string FlagCommand(int motor) {
    return std::to_string(motor + 1) + "FGET " + kFlagNames + "\r";
}

std::string Echoed(const std::string& command, const std::string& rest) {
    return command.substr(0, command.size() - 1) + rest;
}

// The hand's answer to a flag read: six well-formed flags, a text, or bytes.
std::string FlagAnswer(FuzzInput& input, const std::string& command) {
    switch (input.IntegralInRange<int>(0, 3)) {
        case 0:
        case 1: {
            uint8_t bits = input.Integral<uint8_t>();
            std::string text;
            for (int i = 0; i < 6; ++i) text += (bits >> i & 1) ? "1 " : "0 ";
            return Echoed(command, "\r\n" + text + "\r\n=> ");
        }
        case 2:
            return Echoed(command, "\r\n" + input.RandomLengthString(64) + "\r\n=> ");
        default:
            return input.RandomLengthString(128);
    }
}

std::string LoopAnswer(FuzzInput& input, const std::string& command) {
    switch (input.IntegralInRange<int>(0, 3)) {
        case 0:
        case 1:
            return Echoed(command, "*");
        case 2:
            return Echoed(command, "\r\nERR " + input.RandomLengthString(8) + "\r\n=> ");
        default:
            return input.RandomLengthString(64);
    }
}

std::string UpdateAnswer(FuzzInput& input, int feedbackBytes) {
    switch (input.IntegralInRange<int>(0, 3)) {
        case 0:
        case 1:
            return "*" + input.Bytes(static_cast<size_t>(feedbackBytes));
        case 2:
            return "ERR " + input.RandomLengthString(8) + "\r\n=> ";
        default:
            return input.RandomLengthString(64);
    }
}

// Applies the flag reads of RTStart to the model.
void ReadFlags(Layout& layout, int motor, const wire_model::Outcome& outcome) {
    if (outcome.code != 0) return;  // a failed read leaves the flags as they were
    std::array<int, 6>& flags = layout.flags[motor];
    ParseIntegers(outcome.reply, flags);
    for (int& f : flags) f = f != 0 ? 1 : 0;
}

class RealtimeRun {
  public:
    explicit RealtimeRun(Layout layout) : model_(layout) {}

    // Plans the run from the input and what the model says of each answer.
    void Plan(FuzzInput& input) {
        motors_ = input.Pick(kMotorSets);
        for (int m = 0; m < 4; ++m) {
            Exchange e{FlagCommand(m), {}, {}};
            e.stream = FlagAnswer(input, e.command);
            e.model = wire_model::TextExchange(e.command.size(), false, e.stream);
            ReadFlags(model_, m, e.model);
            exchanges_.push_back(e);
        }
        model_.Arrange(motors_);
        Exchange loop{motors_ + "LOOP\r", {}, {}};
        loop.stream = LoopAnswer(input, loop.command);
        loop.model = wire_model::TextExchange(loop.command.size(), true, loop.stream);
        loopCode_ = loop.model.code;
        exchanges_.push_back(loop);

        int updates = input.IntegralInRange<int>(0, 4);
        for (int u = 0; u < updates; ++u) {
            Update update;
            int setters = input.IntegralInRange<int>(0, 6);
            for (int s = 0; s < setters; ++s) {
                Setter setter;
                setter.motor = input.IntegralInRange<char>('0', '5');
                setter.gain = input.Bool();
                setter.value = input.Integral<int>();
                update.setters.push_back(setter);
            }
            update.sendControl = input.Bool();
            update.readFeedback = input.Bool();
            updates_.push_back(update);
        }
        // The answers of the updates depend on the layout only, so they can be
        // planned now.
        for (const Update& update : updates_) {
            Exchange e;
            e.command = std::string(1, update.sendControl ? (update.readFeedback ? 'C' : 'c')
                                                          : (update.readFeedback ? 'A' : 'a'));
            if (update.sendControl)
                e.command.append(static_cast<size_t>(model_.controlLength), '?');
            int expected = update.readFeedback ? model_.feedbackLength : 0;
            e.stream = UpdateAnswer(input, expected);
            e.model = wire_model::RealtimeExchange(1 + static_cast<size_t>(expected), e.stream);
            exchanges_.push_back(e);
        }
        Exchange abort{"\x03", "\r\n=> ", {}};
        abort.model = wire_model::TextExchange(1, false, abort.stream);
        exchanges_.push_back(abort);
    }

    // Plays the run against the driver.
    void Play(FuzzHand& peer) {
        std::vector<FuzzHand::Step> steps;
        for (const Exchange& e : exchanges_) {
            steps.push_back({e.command.size(), e.stream.substr(0, e.model.consumed)});
        }
        ZHand& hand = peer.Hand();
        observed_.clear();
        run_ = peer.Play(steps, [&] {
            startCode_ = hand.RTStart(motors_.c_str());
            for (const Update& update : updates_) {
                Observation seen;
                for (const Setter& s : update.setters) {
                    seen.setterCodes.push_back(s.gain ? hand.RTSetGain(s.motor, s.value)
                                                      : hand.RTSetVelocity(s.motor, s.value));
                }
                seen.code = hand.RTUpdate(update.sendControl, update.readFeedback);
                for (int m = 0; m < 4; ++m) {
                    char motor = static_cast<char>('1' + m);
                    seen.velocity[m] = hand.RTGetVelocity(motor);
                    seen.strain[m] = hand.RTGetStrain(motor);
                    seen.position[m] = hand.RTGetPosition(motor);
                    seen.delta[m] = hand.RTGetDeltaPos(motor);
                }
                observed_.push_back(seen);
            }
            abortCode_ = hand.RTAbort();
        });
    }

    // Compares the driver with the model; "" when they agree.
    std::string Check() {
        FUZZ_EXPECT(run_.complete, "the hand was not asked for every exchange (%zu of %zu)",
                    run_.received.size(), exchanges_.size());
        for (size_t i = 0; i < 5; ++i) {
            FUZZ_EXPECT(run_.received[i] == exchanges_[i].command, "exchange %zu sent \"%s\"", i,
                        Visible(run_.received[i]).c_str());
        }
        FUZZ_EXPECT(startCode_ == loopCode_, "RTStart gave %d, the model %d", startCode_,
                    loopCode_);
        Layout& m = model_;
        for (size_t u = 0; u < updates_.size(); ++u) {
            const Update& update = updates_[u];
            const Observation& seen = observed_[u];
            for (size_t s = 0; s < update.setters.size(); ++s) {
                const Setter& setter = update.setters[s];
                int i = MotorIndex(setter.motor);
                int expected = m.active[i] ? 0 : -19;
                FUZZ_EXPECT(seen.setterCodes[s] == expected, "setter of motor %c gave %d",
                            setter.motor, seen.setterCodes[s]);
                if (!m.active[i]) continue;
                if (setter.gain && m.flags[i][LCPG]) {
                    m.control[m.gainOut[i]] =
                        static_cast<uint8_t>(std::clamp(setter.value, 0, 255));
                } else if (!setter.gain && m.flags[i][LCV]) {
                    m.control[m.velocityOut[i]] = static_cast<uint8_t>(
                        static_cast<int8_t>(std::clamp(setter.value, -127, 127)));
                }
            }
            const Exchange& e = exchanges_[5 + u];
            std::string sent = e.command.substr(0, 1);
            if (update.sendControl) {
                sent.append(reinterpret_cast<const char*>(m.control.data()),
                            static_cast<size_t>(m.controlLength));
            }
            FUZZ_EXPECT(run_.received[5 + u] == sent, "update %zu sent \"%s\", expected \"%s\"", u,
                        Visible(run_.received[5 + u]).c_str(), Visible(sent).c_str());
            FUZZ_EXPECT(seen.code == e.model.code, "update %zu gave %d, the model %d from \"%s\"",
                        u, seen.code, e.model.code, Visible(e.stream).c_str());
            if (e.model.feedbackRead) {
                std::copy(e.model.feedback.begin(), e.model.feedback.end(), m.feedback.begin());
            }
            for (int i = 0; i < 4; ++i) {
                const auto& f = m.flags[i];
                bool on = m.active[i];
                int8_t velocity =
                    on && f[LFV] ? static_cast<int8_t>(m.feedback[m.velocityIn[i]]) : 0;
                uint8_t strain = on && f[LFS] ? m.feedback[m.strainIn[i]] : 0;
                int position = on && f[LFAP]
                                   ? static_cast<int16_t>(m.feedback[m.positionIn[i]] << 8 |
                                                          m.feedback[m.positionIn[i] + 1])
                                   : 0;
                int8_t delta = on && f[LFDP] ? static_cast<int8_t>(m.feedback[m.deltaIn[i]]) : 0;
                FUZZ_EXPECT(seen.velocity[i] == velocity, "velocity of M%d: %d, expected %d", i + 1,
                            seen.velocity[i], velocity);
                FUZZ_EXPECT(seen.strain[i] == strain, "strain of M%d: %d, expected %d", i + 1,
                            seen.strain[i], strain);
                FUZZ_EXPECT(seen.position[i] == position, "position of M%d: %d, expected %d", i + 1,
                            seen.position[i], position);
                FUZZ_EXPECT(seen.delta[i] == delta, "delta of M%d: %d, expected %d", i + 1,
                            seen.delta[i], delta);
            }
        }
        FUZZ_EXPECT(abortCode_ == 0, "RTAbort gave %d", abortCode_);
        return {};
    }

  private:
    struct Observation {
        std::vector<int> setterCodes;
        int code = 0;
        std::array<int, 4> velocity{}, strain{}, position{}, delta{};
    };

    Layout model_;
    std::string motors_;
    std::vector<Exchange> exchanges_;
    std::vector<Update> updates_;
    std::vector<Observation> observed_;
    FuzzHand::Run run_;
    int loopCode_ = 0;
    int startCode_ = 0;
    int abortCode_ = 0;
};

// Brings driver and model to one known state: every flag on for all four
// motors, control bytes 0, feedback 0.
Layout Settle(FuzzHand& peer) {
    Layout known;
    for (auto& f : known.flags) f.fill(1);
    known.Arrange("GS");
    std::vector<FuzzHand::Step> steps;
    for (int m = 0; m < 4; ++m) {
        std::string command = FlagCommand(m);
        steps.push_back({command.size(), Echoed(command, "\r\n1 1 1 1 1 1\r\n=> ")});
    }
    steps.push_back({std::string("GSLOOP\r").size(), "GSLOOP*"});
    steps.push_back({1, "*" + std::string(20, '\0')});
    steps.push_back({1, "\r\n=> "});
    ZHand& hand = peer.Hand();
    const int timeout = peer.ReadTimeout();
    for (int attempt = 0; attempt < 3; ++attempt) {
        int codes = 0;
        FuzzHand::Run run = peer.Play(steps, [&] {
            codes |= hand.RTStart("GS");
            for (char motor : std::string("1234")) {
                codes |= hand.RTSetVelocity(motor, 0);
                codes |= hand.RTSetGain(motor, 0);
            }
            codes |= hand.RTUpdate(false, true);
            codes |= hand.RTAbort();
        });
        if (codes == 0 && run.complete) {
            peer.SetReadTimeout(timeout);
            return known;
        }
        peer.SetReadTimeout(FuzzHand::kSlowReadTimeoutMs);
    }
    FUZZ_CHECK(false, "the driver does not reach the known real-time state");
    return known;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHand& peer = FuzzHand::Get();
    std::string failure;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // A slow peer thread can make a read time out; a difference counts
        // only when it stays with long time-outs.
        peer.SetReadTimeout(attempt == 0 ? FuzzHand::kReadTimeoutMs
                                         : FuzzHand::kSlowReadTimeoutMs);
        Layout known = Settle(peer);
        FuzzInput input(data, size);
        RealtimeRun run(known);
        run.Plan(input);
        run.Play(peer);
        failure = run.Check();
        if (failure.empty()) break;
    }
    peer.SetReadTimeout(FuzzHand::kReadTimeoutMs);
    FUZZ_CHECK(failure.empty(), "%s", failure.c_str());
    return 0;
}
