#include "wire_model.h"

#include "wire_text.h"

using zhand::detail::HandErrorCode;

namespace wire_model {
namespace {

constexpr std::string_view kPrompt = "=> ";

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads the reply text from stream[at] on, appending to outcome.reply.
void ReadReply(std::string_view stream, std::size_t at, bool skipLeadingSpace, Outcome& outcome) {
    outcome.replyTouched = true;
    for (;; ++at) {
        if (at >= stream.size()) {
            outcome.code = -9;
            outcome.consumed = stream.size();
            return;
        }
        char byte = stream[at];
        if (outcome.reply.empty() && skipLeadingSpace && IsSpace(byte)) continue;
        outcome.reply += byte;
        if (outcome.reply.ends_with(kPrompt)) break;
        if (outcome.reply.size() >= kMaxReply) {
            outcome.code = -10;
            outcome.consumed = at + 1;
            return;
        }
    }
    outcome.consumed = at + 1;
    outcome.reply.resize(outcome.reply.size() - kPrompt.size());
    while (!outcome.reply.empty() && IsSpace(outcome.reply.back())) outcome.reply.pop_back();
    outcome.code = HandErrorCode(outcome.reply);
}

// An answer that is not "*" where "*" confirms: read up to the prompt with
// leading blanks skipped; an ERR number gives that number, anything else -10.
void ReadRefusal(std::string_view stream, std::size_t at, Outcome& outcome) {
    if (!IsSpace(stream[at])) outcome.reply = std::string(1, stream[at]);
    ReadReply(stream, at + 1, true, outcome);
    if (outcome.code == 0) outcome.code = -10;
}

}  // namespace

Outcome TextExchange(std::size_t commandLength, bool loop, std::string_view stream) {
    Outcome outcome;
    std::size_t echo = commandLength >= 2 ? commandLength - 1 : 0;
    if (stream.size() < echo) {
        outcome.code = -9;
        outcome.consumed = stream.size();
        return outcome;
    }
    outcome.replyTouched = true;  // emptied once the echo is in
    std::size_t at = echo;
    if (loop) {
        if (at >= stream.size()) {
            outcome.code = -9;
            outcome.consumed = stream.size();
            return outcome;
        }
        if (stream[at] == '*') {
            outcome.code = 0;
            outcome.consumed = at + 1;
            outcome.loopEntered = true;
            return outcome;
        }
        ReadRefusal(stream, at, outcome);
        return outcome;
    }
    ReadReply(stream, at, true, outcome);
    return outcome;
}

Outcome RealtimeExchange(std::size_t replyLength, std::string_view stream) {
    Outcome outcome;
    if (stream.empty()) {
        outcome.code = -9;
        return outcome;
    }
    if (stream[0] == '*') {
        std::size_t feedback = replyLength > 1 ? replyLength - 1 : 0;
        if (stream.size() < 1 + feedback) {
            outcome.code = -9;
            outcome.consumed = stream.size();
            return outcome;
        }
        outcome.code = 0;
        outcome.consumed = 1 + feedback;
        outcome.feedbackRead = true;
        outcome.feedback = std::string(stream.substr(1, feedback));
        return outcome;
    }
    ReadRefusal(stream, 0, outcome);
    return outcome;
}

std::string AsCString(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace wire_model
