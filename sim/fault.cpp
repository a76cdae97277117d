#include "fault.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace zhandsim {

namespace {

enum class MotorRule { Finger, Spread, Any, None };

struct KindInfo {
    FaultKind kind;
    std::string_view name;
    MotorRule motors;
    int atDefault;  // motion faults: stop position
    int atMin;
    int atMax;
    std::string_view keys;  // the keys this kind accepts, blank separated
    std::string_view help;
};

constexpr std::array<KindInfo, 11> kKinds{{
    {FaultKind::JamOpen, "jam-open", MotorRule::Finger, 1500, 0, 2999, "from once at",
     "finger F stops below 3000 when closing (at=1500)"},
    {FaultKind::EarlyBreakaway, "early-breakaway", MotorRule::Finger, 6000, 3000, 9999,
     "from once at", "finger F breaks away early, between 3000 and 10000 (at=6000)"},
    {FaultKind::NoBreakaway, "no-breakaway", MotorRule::Finger, 12500, 10000, 15099, "from once at",
     "finger F does not break away, stops between 10000 and 15100 (at=12500)"},
    {FaultKind::JamClosed, "jam-closed", MotorRule::Finger, 6000, 501, 17500, "from once at",
     "finger F does not open below at (above 500, at=6000)"},
    {FaultKind::SpreadShort, "spread-short", MotorRule::Spread, 2900, 0, 3049, "from once at",
     "the spread stops short of 3050 when closing (at=2900)"},
    {FaultKind::SpreadNoOpen, "spread-no-open", MotorRule::Spread, 600, 51, 3150, "from once at",
     "the spread does not open below at (above 50, at=600)"},
    {FaultKind::Slow, "slow", MotorRule::Any, 0, 0, 0, "factor",
     "motor M runs factor times slower (factor=4)"},
    {FaultKind::Drift, "drift", MotorRule::Any, 0, 0, 0, "rate",
     "strain gauge of motor M drifts by rate counts per move (rate=2)"},
    {FaultKind::Silent, "silent", MotorRule::None, 0, 0, 0, "after count",
     "the hand stops answering (no echo, no reply)"},
    {FaultKind::Noise, "noise", MotorRule::None, 0, 0, 0, "after count bytes",
     "the hand echoes, then sends bytes of noise instead of reply and prompt (bytes=64)"},
    {FaultKind::Hangup, "hangup", MotorRule::None, 0, 0, 0, "after down",
     "the hand hangs up the line after `after` commands and its link goes; a "
     "new line is linked down ms later (down=500, -1: never)"},
}};

const KindInfo* FindKind(std::string_view name) {
    for (const KindInfo& info : kKinds)
        if (info.name == name) return &info;
    return nullptr;
}

const KindInfo& InfoOf(FaultKind kind) {
    for (const KindInfo& info : kKinds)
        if (info.kind == kind) return info;
    return kKinds[0];
}

bool HasKey(std::string_view keys, std::string_view key) {
    while (!keys.empty()) {
        const std::size_t blank = keys.find(' ');
        if (keys.substr(0, blank) == key) return true;
        if (blank == std::string_view::npos) break;
        keys.remove_prefix(blank + 1);
    }
    return false;
}

bool ParseInt(std::string_view text, int& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseDouble(std::string_view text, double& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(value);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

}  // namespace

bool IsClosingFault(FaultKind kind) {
    return kind == FaultKind::JamOpen || kind == FaultKind::EarlyBreakaway ||
           kind == FaultKind::NoBreakaway || kind == FaultKind::SpreadShort;
}

bool IsOpeningFault(FaultKind kind) {
    return kind == FaultKind::JamClosed || kind == FaultKind::SpreadNoOpen;
}

bool ParseFault(std::string_view spec, Fault& fault, std::string& error) {
    const std::vector<std::string_view> parts = Split(spec, ',');
    std::string_view head = parts[0];
    std::string_view motorText;
    if (const std::size_t colon = head.find(':'); colon != std::string_view::npos) {
        motorText = head.substr(colon + 1);
        head = head.substr(0, colon);
    }
    const KindInfo* info = FindKind(head);
    if (!info) {
        error = "unknown fault kind '" + std::string(head) + "'";
        return false;
    }
    Fault result;
    result.kind = info->kind;
    result.at = info->atDefault;
    switch (info->motors) {
        case MotorRule::Spread:
            result.motor = 4;
            if (!motorText.empty() && motorText != "4" && motorText != "S") {
                error = std::string(info->name) + ": the spread is motor 4";
                return false;
            }
            break;
        case MotorRule::None:
            if (!motorText.empty()) {
                error = std::string(info->name) + " takes no motor";
                return false;
            }
            break;
        case MotorRule::Finger:
        case MotorRule::Any: {
            const int highest = info->motors == MotorRule::Finger ? 3 : 4;
            if (!ParseInt(motorText, result.motor) || result.motor < 1 || result.motor > highest) {
                error =
                    std::string(info->name) + " needs a motor :1 to :" + std::to_string(highest);
                return false;
            }
            break;
        }
    }
    bool haveFrom = false;
    bool haveOnce = false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::size_t equals = parts[i].find('=');
        const std::string_view key = parts[i].substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : parts[i].substr(equals + 1);
        if (!HasKey(info->keys, key)) {
            error = std::string(info->name) + " does not take '" + std::string(key) + "'";
            return false;
        }
        bool ok = false;
        if (key == "factor") {
            ok =
                ParseDouble(value, result.factor) && result.factor >= 0.01 && result.factor <= 1000;
        } else {
            int number = 0;
            ok = ParseInt(value, number);
            if (key == "from" || key == "once") {
                ok = ok && number >= 1;
                result.from = number;
                (key == "from" ? haveFrom : haveOnce) = true;
                result.once = key == "once";
            } else if (key == "at") {
                ok = ok && number >= info->atMin && number <= info->atMax;
                result.at = number;
            } else if (key == "rate") {
                ok = ok && number >= -255 && number <= 255;
                result.rate = number;
            } else if (key == "after") {
                ok = ok && number >= 0;
                result.after = number;
            } else if (key == "count") {
                ok = ok && number >= 0;
                result.count = number;
            } else if (key == "bytes") {
                ok = ok && number >= 1 && number <= 100000;
                result.bytes = number;
            } else if (key == "down") {
                ok = ok && number >= -1;
                result.downMs = number;
            }
        }
        if (!ok) {
            error = std::string(info->name) + ": bad value for " + std::string(key) + " '" +
                    std::string(value) + "'";
            if (key == "at")
                error +=
                    " (" + std::to_string(info->atMin) + ".." + std::to_string(info->atMax) + ")";
            return false;
        }
    }
    if (haveFrom && haveOnce) {
        error = std::string(info->name) + ": give from or once, not both";
        return false;
    }
    fault = result;
    return true;
}

std::string FaultHelp() {
    std::string text =
        "Faults (--fault SPEC, repeatable): SPEC is KIND[:MOTOR][,KEY=VALUE]...\n"
        "  F is a finger 1..3, M a motor 1..4 (4 is the spread).\n";
    for (const KindInfo& info : kKinds) {
        std::string head = "  " + std::string(info.name);
        if (info.motors == MotorRule::Finger) head += ":F";
        if (info.motors == MotorRule::Any) head += ":M";
        head.resize(std::max<std::size_t>(head.size() + 1, 22), ' ');
        text += head + std::string(info.help) + "\n";
    }
    text +=
        "  Keys of the motion faults: from=N (from the motor's Nth close, or Nth open for\n"
        "  jam-closed and spread-no-open, on; default 1), once=N (that move only),\n"
        "  at=POS (where the motor stops). Keys of the line faults: after=N (N commands\n"
        "  are answered normally first; default 0), count=N (commands affected; default\n"
        "  0, every later one). Every command line counts, an empty one too.\n"
        "  Examples: --fault no-breakaway:2,from=5  --fault spread-short,once=3,at=2000\n"
        "            --fault slow:4,factor=3  --fault hangup,after=20,down=-1\n";
    return text;
}

std::string DescribeFault(const Fault& fault) {
    const KindInfo& info = InfoOf(fault.kind);
    std::string text(info.name);
    if (info.motors == MotorRule::Finger || info.motors == MotorRule::Any)
        text += ":" + std::to_string(fault.motor);
    if (IsClosingFault(fault.kind) || IsOpeningFault(fault.kind)) {
        text += (fault.once ? ",once=" : ",from=") + std::to_string(fault.from);
        text += ",at=" + std::to_string(fault.at);
    }
    char factor[32];
    switch (fault.kind) {
        case FaultKind::Slow:
            std::snprintf(factor, sizeof factor, "%g", fault.factor);
            text += ",factor=" + std::string(factor);
            break;
        case FaultKind::Drift:
            text += ",rate=" + std::to_string(fault.rate);
            break;
        case FaultKind::Silent:
            text +=
                ",after=" + std::to_string(fault.after) + ",count=" + std::to_string(fault.count);
            break;
        case FaultKind::Noise:
            text += ",after=" + std::to_string(fault.after) +
                    ",count=" + std::to_string(fault.count) +
                    ",bytes=" + std::to_string(fault.bytes);
            break;
        case FaultKind::Hangup:
            text +=
                ",after=" + std::to_string(fault.after) + ",down=" + std::to_string(fault.downMs);
            break;
        default:
            break;
    }
    return text;
}

}  // namespace zhandsim
