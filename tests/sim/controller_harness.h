// Drives a Controller on a virtual clock: bytes in at the host's rate, time
// advanced to whatever the controller says falls due next, output collected.
#pragma once

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "controller.h"

namespace zhandsim {

inline ControllerOptions WithSpeed(double speed) {
    ControllerOptions options;
    options.speed = speed;
    return options;
}

inline ControllerOptions WithFaults(std::vector<Fault> faults) {
    ControllerOptions options;
    options.faults = std::move(faults);
    return options;
}

inline ControllerOptions WithMinSpreadVelocity(int velocity) {
    ControllerOptions options;
    options.minSpreadVelocity = velocity;
    return options;
}

struct ControllerHarness {
    explicit ControllerHarness(const ControllerOptions& options = {}) : hand(options) {}

    // Sends `bytes` and runs the clock for up to `limit` seconds, stopping
    // early once the output ends in a prompt (or, with `star`, in "*" after
    // `feedback` more bytes). Returns everything the hand sent.
    std::string Send(std::string_view bytes, double limit = 100) {
        hand.Receive(bytes, host, now);
        return Run(limit);
    }

    std::string Run(double limit = 100) {
        const double end = now + limit;
        std::string text;
        for (;;) {
            hand.Advance(now, host);
            for (Output& o : hand.TakeOutput()) {
                text += o.bytes;
                outputs.push_back(std::move(o));
            }
            if (text.ends_with("=> ")) return text;
            const double next = hand.NextDue();
            if (!std::isfinite(next) || next > end) return text;
            now = std::max(now, next);
        }
    }

    // Sends a command line and returns the hand's answer after the echo.
    std::string Command(std::string_view line, double limit = 100) {
        const std::string all = Send(std::string(line) + "\r", limit);
        return all.substr(std::min(all.size(), line.size()));
    }

    // Runs the clock by `seconds` and returns what was sent meanwhile.
    std::string Wait(double seconds) {
        const double end = now + seconds;
        std::string text;
        while (now < end) {
            hand.Advance(now, host);
            for (Output& o : hand.TakeOutput()) {
                text += o.bytes;
                outputs.push_back(std::move(o));
            }
            now = std::min(end, std::max(now + 1e-6, std::min(hand.NextDue(), end)));
        }
        hand.Advance(now, host);
        for (Output& o : hand.TakeOutput()) {
            text += o.bytes;
            outputs.push_back(std::move(o));
        }
        return text;
    }

    int Get(const std::string& motors, const std::string& name) {
        const std::string answer = Command(motors + "FGET " + name);
        return std::stoi(answer.substr(2));
    }

    Controller hand;
    double now = 0;
    int host = 9600;
    std::vector<Output> outputs;
};

}  // namespace zhandsim
