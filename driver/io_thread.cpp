// The I/O thread: waits for a request, performs the exchange on the wire and
// completes it with a result code.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "wire_text.h"
#include "zhand.h"
#include "zhand_impl.h"

using namespace zhand::detail;

namespace {

constexpr std::string_view kPrompt = "=> ";
constexpr int kMaxReply = ZHand::BufferSize - 1;  // 4999 characters without a prompt: -10

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::string_view ZHand::Impl::CommandView() const {
    return std::string_view(command.data(), static_cast<size_t>(commandLength));
}

void ZHand::Impl::Complete(int code) {
    hand.result = code;
    requestSignal.Reset();
    doneSignal.Set();
}

int ZHand::Impl::Exchange(int kind) {
    // A rate switch belongs to the command it was set for: taken here, it
    // cannot outlive a failure of that command and hit a later one.
    const int baud = std::exchange(pendingBaud, 0);
    switch (kind) {
        case RequestRealtime:
            return RealtimeExchange();
        case RequestCommand:
            return TextExchange(baud);
        case RequestPurge:
            return hand.PurgePort() ? 0 : -11;
        default:
            return 0;
    }
}

// Sleeps on the host; nothing is sent.
void ZHand::Impl::HostDelay() {
    port.Pause(static_cast<int>(HostDelayMs(CommandView())));
}

void ZHand::Impl::ClearReply() {
    replyLength = 0;
    reply[0] = '\0';
}

// Appends bytes to `reply` until it ends with the prompt, then trims it and
// turns an "ERR n" answer into n. Whitespace is dropped while the reply is
// still empty.
int ZHand::Impl::ReadReply() {
    for (;;) {
        unsigned char byte = 0;
        if (hand.ReadBytes(&byte, 1) != 0) return -9;
        if (replyLength == 0 && IsSpace(static_cast<char>(byte))) continue;
        reply[replyLength++] = static_cast<char>(byte);
        reply[replyLength] = '\0';
        std::string_view text(reply.data(), static_cast<size_t>(replyLength));
        if (text.ends_with(kPrompt)) break;
        if (replyLength >= kMaxReply) return -10;
    }
    replyLength -= static_cast<int>(kPrompt.size());
    while (replyLength > 0 && IsSpace(reply[replyLength - 1])) --replyLength;
    reply[replyLength] = '\0';
    return HandErrorCode(std::string_view(reply.data(), static_cast<size_t>(replyLength)));
}

// The hand answered `first` where a "*" confirms the loop or an update. Its
// text up to the prompt, blanks before it skipped, is either "ERR n", the
// hand's code n, or anything else: -10, for no reading of the hand may be
// taken from it. `reply` keeps the text.
int ZHand::Impl::ReadRefusal(unsigned char first) {
    ClearReply();
    if (!IsSpace(static_cast<char>(first))) {
        reply[0] = static_cast<char>(first);
        reply[1] = '\0';
        replyLength = 1;
    }
    int rc = ReadReply();
    return rc == 0 ? -10 : rc;
}

// After the echo of RESET or PSET BAUD the port follows the hand to its new
// rate `baud` (0: no switch).
int ZHand::Impl::SwitchBaud(int baud) {
    if (baud == 0) return 0;
    int rc = hand.SetBaudRate(baud);
    if (rc != 0) return rc;
    if (CommandView().starts_with("PSET BAUD")) {
        port.Pause(1000);
        if (!hand.PurgePort()) return -11;
        const unsigned char cr = '\r';
        if (hand.WriteBytes(&cr, 1) != 0) return -8;
    }
    return 0;
}

int ZHand::Impl::TextExchange(int baud) {
    if (IsHostDelay(CommandView())) {
        HostDelay();
        ClearReply();
        return 0;
    }
    if (!hand.PurgePort()) return -11;
    auto* bytes = reinterpret_cast<const unsigned char*>(command.data());
    if (hand.WriteBytes(bytes, commandLength) != 0) return -8;
    if (commandLength >= 2 && hand.ReadBytes(echo.data(), commandLength - 1) != 0) return -9;
    ClearReply();
    int rc = SwitchBaud(baud);
    if (rc != 0) return rc;
    if (CommandView().ends_with("LOOP\r")) {
        unsigned char first = 0;
        if (hand.ReadBytes(&first, 1) != 0) return -9;
        return first == '*' ? 0 : ReadRefusal(first);
    }
    return ReadReply();
}

int ZHand::Impl::RealtimeExchange() {
    if (!hand.PurgePort()) return -11;
    auto* bytes = reinterpret_cast<const unsigned char*>(command.data());
    if (hand.WriteBytes(bytes, commandLength) != 0) return -8;
    unsigned char first = 0;
    if (hand.ReadBytes(&first, 1) != 0) return -9;
    if (first == '*') {
        int feedback = std::min(replyLength - 1, static_cast<int>(echo.size()));
        if (feedback > 0) {
            if (hand.ReadBytes(echo.data(), feedback) != 0) return -9;
            std::memcpy(rtFeedback.data(), echo.data(),
                        std::min<size_t>(static_cast<size_t>(feedback), rtFeedback.size()));
        }
        return 0;
    }
    return ReadRefusal(first);
}

// `signals` is the object's own hand-off, held here so that it outlives a
// Set that is still returning when the object is gone.
void ZHand::Impl::IoThreadMain(std::shared_ptr<zhand::detail::ThreadState> state,
                               std::shared_ptr<zhand::detail::HandOff> signals) {
    {
        std::lock_guard lock(state->mutex);
        state->ioThread = std::this_thread::get_id();
        state->tid = gettid();
        state->changed.notify_all();
    }
    for (;;) {
        signals->request.Wait();
        hand.result = 0;
        if (requestKind == RequestExit) {
            {
                // Marked first: a request made after the exit completes at
                // once instead of waiting for a thread that is gone.
                std::lock_guard lock(state->mutex);
                state->ended = true;
                state->changed.notify_all();
            }
            requestSignal.Reset();
            doneSignal.Set();
            return;
        }
        int code = Exchange(requestKind);
        // The callback in effect at completion. It is marked running before
        // the caller is woken, so that the caller's next operation waits for
        // it to return before composing over the command and reply it reads.
        auto notify = hand.callback.load();
        // Taken now: once the caller is woken, this object may be freed
        // while the callback still runs.
        ZHand* owner = &hand;
        if (notify) {
            std::lock_guard lock(state->mutex);
            state->inCallback = true;
            state->changed.notify_all();
        }
        Complete(code);
        if (notify) {
            notify(owner);
            std::lock_guard lock(state->mutex);
            state->inCallback = false;
            state->changed.notify_all();
            if (state->abandoned) return;  // the object is gone
        }
    }
}
