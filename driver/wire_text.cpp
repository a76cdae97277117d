#include "wire_text.h"

#include <algorithm>
#include <cstdint>

namespace zhand::detail {

namespace {

constexpr unsigned long kMaxDelayMs = 100000;

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits from `at` on as a value that saturates instead of overflowing.
int64_t ReadDigits(std::string_view text, size_t& at) {
    int64_t value = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        value = std::min<int64_t>(value * 10 + (text[at] - '0'), int64_t{1} << 40);
    }
    return value;
}

int ToInt(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

bool IsHostDelay(std::string_view command) {
    size_t start = 0;
    while (start < command.size() && IsSpace(command[start])) ++start;
    size_t end = start;
    while (end < command.size() && !IsSpace(command[end])) ++end;
    return command.substr(start, end - start) == "DELAY";
}

unsigned long HostDelayMs(std::string_view command) {
    // The number starts right after "DELAY" and one separator, as an unsigned
    // value: leading whitespace is skipped and a minus sign wraps it around.
    std::string_view rest = command.size() > 6 ? command.substr(6) : std::string_view{};
    size_t at = 0;
    while (at < rest.size() && IsSpace(rest[at])) ++at;
    bool negative = false;
    if (at < rest.size() && (rest[at] == '-' || rest[at] == '+')) negative = rest[at++] == '-';
    if (at >= rest.size() || !IsDigit(rest[at])) return 1;
    int64_t value = ReadDigits(rest, at);
    if (value == 0) return 1;
    if (negative || value > static_cast<int64_t>(kMaxDelayMs)) return kMaxDelayMs;
    return static_cast<unsigned long>(value);
}

int HandErrorCode(std::string_view reply) {
    if (!reply.starts_with("ERR")) return 0;
    if (reply.size() <= 4) return 1;
    std::string_view rest = reply.substr(4);
    size_t at = 0;
    while (at < rest.size() && IsSpace(rest[at])) ++at;
    if (at < rest.size() && (rest[at] == '-' || rest[at] == '+')) {
        if (rest[at] == '-') return 1;
        ++at;
    }
    int64_t number = ReadDigits(rest, at);
    return number > 0 ? ToInt(number) : 1;
}

size_t ParseIntegers(std::string_view text, std::span<int> values) {
    size_t filled = 0;
    size_t at = 0;
    while (at < text.size() && filled < values.size()) {
        while (at < text.size() && IsSpace(text[at])) ++at;
        if (at >= text.size() || !(text[at] == '-' || IsDigit(text[at]))) break;
        bool negative = text[at] == '-';
        size_t digits = negative ? at + 1 : at;
        int64_t value = ReadDigits(text, digits);
        values[filled++] = ToInt(negative ? -value : value);
        while (at < text.size() && (text[at] == '-' || IsDigit(text[at]))) ++at;
    }
    return filled;
}

bool LeadingInteger(std::string_view text, int* value) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
    if (at >= text.size() || !IsDigit(text[at])) return false;
    int64_t number = ReadDigits(text, at);
    *value = ToInt(negative ? -number : number);
    return true;
}

}  // namespace zhand::detail
