// The I/O thread: waits for a request, performs the exchange on the wire and
// completes it with a result code.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "thread_state.h"
#include "zhand.h"

namespace {

constexpr std::string_view kPrompt = "=> ";
constexpr int kMaxReply = ZHand::BufferSize - 1;  // 4999 characters without a prompt: -10
constexpr unsigned long kMaxDelayMs = 100000;

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

void ZHand::Complete(int code) {
    result = code;
    requestSignal.Reset();
    doneSignal.Set();
}

int ZHand::Exchange(int kind) {
    switch (kind) {
        case RequestRealtime:
            return RealtimeExchange();
        case RequestCommand:
            return TextExchange();
        case RequestPurge:
            return PurgePort() ? 0 : -11;
        default:
            return 0;
    }
}

// A command whose first word is DELAY pauses on the host; nothing is sent.
bool ZHand::IsHostDelay() const {
    std::string_view text(command.data(), static_cast<size_t>(commandLength));
    size_t start = 0;
    while (start < text.size() && IsSpace(text[start])) ++start;
    size_t end = start;
    while (end < text.size() && !IsSpace(text[end])) ++end;
    return text.substr(start, end - start) == "DELAY";
}

// Sleeps for the number after "DELAY ", clamped to 1..100000 ms; a missing
// or unreadable number counts as 0 and so sleeps 1 ms.
void ZHand::HostDelay() {
    unsigned long ms = 0;
    if (commandLength > 6) {
        std::string number(command.data() + 6, static_cast<size_t>(commandLength - 6));
        errno = 0;
        ms = std::strtoul(number.c_str(), nullptr, 10);
        if (errno == ERANGE) ms = kMaxDelayMs;
    }
    if (ms == 0) ms = 1;
    if (ms > kMaxDelayMs) ms = kMaxDelayMs;
    port.Pause(static_cast<int>(ms));
}

void ZHand::ClearReply() {
    replyLength = 0;
    reply[0] = '\0';
}

// Appends bytes to `reply` until it ends with the prompt, then trims it and
// turns an "ERR n" answer into n. Leading whitespace is dropped while the
// reply is empty and `skipLeadingSpace` holds.
int ZHand::ReadReply(bool skipLeadingSpace) {
    for (;;) {
        unsigned char byte = 0;
        if (ReadBytes(&byte, 1) != 0) return -9;
        if (replyLength == 0 && skipLeadingSpace && IsSpace(static_cast<char>(byte))) continue;
        reply[replyLength++] = static_cast<char>(byte);
        reply[replyLength] = '\0';
        std::string_view text(reply.data(), static_cast<size_t>(replyLength));
        if (text.ends_with(kPrompt)) break;
        if (replyLength >= kMaxReply) return -10;
    }
    replyLength -= static_cast<int>(kPrompt.size());
    while (replyLength > 0 && IsSpace(reply[replyLength - 1])) --replyLength;
    reply[replyLength] = '\0';
    return HandError();
}

// 0, or the hand's error number when the reply begins with "ERR": the number
// after "ERR " when it is positive, else 1, so the answer never reads as success.
int ZHand::HandError() const {
    std::string_view text(reply.data(), static_cast<size_t>(replyLength));
    if (!text.starts_with("ERR")) return 0;
    if (text.size() <= 4) return 1;
    errno = 0;
    long number = std::strtol(reply.data() + 4, nullptr, 10);
    if (number <= 0) return 1;
    return number > INT_MAX ? INT_MAX : static_cast<int>(number);
}

// After the echo of RESET or PSET BAUD the port follows the hand to its new
// rate. A switch that fails is dropped, not retried by later commands.
int ZHand::SwitchPendingBaud() {
    if (pendingBaud == 0) return 0;
    int baud = pendingBaud;
    pendingBaud = 0;
    int rc = SetBaudRate(baud);
    if (rc != 0) return rc;
    if (std::string_view(command.data(), static_cast<size_t>(commandLength))
            .starts_with("PSET BAUD")) {
        port.Pause(1000);
        if (!PurgePort()) return -11;
        const unsigned char cr = '\r';
        if (WriteBytes(&cr, 1) != 0) return -8;
    }
    return 0;
}

int ZHand::TextExchange() {
    if (IsHostDelay()) {
        HostDelay();
        ClearReply();
        return 0;
    }
    if (!PurgePort()) return -11;
    auto* bytes = reinterpret_cast<const unsigned char*>(command.data());
    if (WriteBytes(bytes, commandLength) != 0) return -8;
    if (commandLength >= 2 && ReadBytes(echo.data(), commandLength - 1) != 0) return -9;
    ClearReply();
    int rc = SwitchPendingBaud();
    if (rc != 0) return rc;
    std::string_view text(command.data(), static_cast<size_t>(commandLength));
    if (text.ends_with("LOOP\r")) {
        unsigned char first = 0;
        if (ReadBytes(&first, 1) != 0) return -9;
        if (first == '*') return 0;
    }
    return ReadReply(true);
}

int ZHand::RealtimeExchange() {
    if (!PurgePort()) return -11;
    auto* bytes = reinterpret_cast<const unsigned char*>(command.data());
    if (WriteBytes(bytes, commandLength) != 0) return -8;
    unsigned char first = 0;
    if (ReadBytes(&first, 1) != 0) return -9;
    if (first == '*') {
        int feedback = std::min(replyLength - 1, static_cast<int>(echo.size()));
        if (feedback > 0) {
            if (ReadBytes(echo.data(), feedback) != 0) return -9;
            std::memcpy(rtFeedback.data(), echo.data(),
                        std::min<size_t>(static_cast<size_t>(feedback), rtFeedback.size()));
        }
        return 0;
    }
    reply[0] = static_cast<char>(first);
    reply[1] = '\0';
    replyLength = 1;
    return ReadReply(false);
}

void ZHand::IoThreadMain(std::shared_ptr<ThreadState> state) {
    for (;;) {
        requestSignal.Wait();
        result = 0;
        if (requestKind == RequestExit) {
            requestSignal.Reset();
            doneSignal.Set();
            std::lock_guard lock(state->mutex);
            state->ended = true;
            state->changed.notify_all();
            return;
        }
        Complete(Exchange(requestKind));
        if (auto notify = callback) {
            {
                std::lock_guard lock(state->mutex);
                state->inCallback = true;
                state->changed.notify_all();
            }
            notify(this);
            std::lock_guard lock(state->mutex);
            state->inCallback = false;
            if (state->abandoned) return;  // the object is gone
        }
    }
}
