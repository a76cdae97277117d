// Supervisory commands: each composes one text command of the hand's
// language and hands it to the I/O thread.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "wire_text.h"
#include "zhand.h"
#include "zhand_impl.h"

using namespace zhand::detail;

namespace {

constexpr int kMinPosition = 0;
constexpr int kMaxPosition = 30000;

bool InRange(int value) {
    return value >= kMinPosition && value <= kMaxPosition;
}

const char* Text(const char* s) {
    return s ? s : "";
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

}  // namespace

// Composes `bytes` into `command` once no request is pending, and hands it
// over as `kind`. A text that does not fit the buffer is refused with -17.
int ZHand::Impl::Submit(int kind, std::string_view bytes, int baud, int expectedReply) {
    if (bytes.size() >= static_cast<size_t>(BufferSize)) return -17;
    int rc = WaitIdle();
    if (rc != 0) return rc;
    std::memcpy(command.data(), bytes.data(), bytes.size());
    command[bytes.size()] = '\0';
    commandLength = static_cast<int>(bytes.size());
    if (expectedReply > 0) replyLength = expectedReply;
    pendingBaud = hand.mode == ModeCallback ? 0 : baud;  // the switch goes with this command only
    return Request(kind);
}

int ZHand::Impl::SendText(const std::string& text, int baud) {
    return Submit(RequestCommand, text, baud, 0);
}

// Asks the hand even in ModeCallback, where nothing else is sent.
int ZHand::Impl::AskHand(const std::string& text) {
    int saved = hand.mode;
    if (hand.mode == ModeCallback) hand.mode = ModeSync;
    int rc = SendText(text);
    hand.mode = saved;
    return rc;
}

int ZHand::Open(const char* motors) {
    return impl->SendText(Format("%sO\r", Text(motors)));
}

int ZHand::Close(const char* motors) {
    return impl->SendText(Format("%sC\r", Text(motors)));
}

int ZHand::IncrementalOpen(const char* motors, int value) {
    if (!InRange(value)) return -18;
    return impl->SendText(Format("%sIO %d\r", Text(motors), value));
}

int ZHand::IncrementalClose(const char* motors, int value) {
    if (!InRange(value)) return -18;
    return impl->SendText(Format("%sIC %d\r", Text(motors), value));
}

int ZHand::MoveTo(const char* motors, int value) {
    if (!InRange(value)) return -18;
    return impl->SendText(Format("%sM %d\r", Text(motors), value));
}

int ZHand::Move(const char* motors) {
    return impl->SendText(Format("%sM\r", Text(motors)));
}

int ZHand::MoveAllTo(int p1, int p2, int p3, int p4) {
    const int positions[4] = {p1, p2, p3, p4};
    for (int p : positions) {
        if (!InRange(p)) return -18;
    }
    const char* motors[4] = {"1", "2", "3", "4"};
    for (int i = 0; i < 4; ++i) {
        int rc = SetParameter(motors[i], "DP", positions[i]);
        if (rc != 0) return rc;
    }
    return Move("GS");
}

int ZHand::Home() {
    int rc = impl->SendText("GSHOME\r");
    if (rc != 0) return rc;
    return impl->SendText("SHOME\r");
}

int ZHand::Terminate(const char* motors) {
    return impl->SendText(Format("%sT\r", Text(motors)));
}

int ZHand::InitHand(const char* motors) {
    return impl->SendText(Format("%sHI\r", Text(motors)));
}

int ZHand::SetParameter(const char* motors, const char* name, int value) {
    return impl->SendText(Format("%sFSET %s %d\r", Text(motors), Text(name), value));
}

int ZHand::GetParameters(const char* motors, const char* names, std::span<int> values) {
    int rc = impl->AskHand(Format("%sFGET %s\r", Text(motors), Text(names)));
    if (rc != 0) return rc;
    ParseIntegers(std::string_view(impl->reply.data(), static_cast<size_t>(impl->replyLength)),
                  values);
    return 0;
}

int ZHand::SaveParameters(const char* motors) {
    return impl->SendText(Format("%sFSAVE\r", Text(motors)));
}

int ZHand::LoadParameters(const char* motors) {
    return impl->SendText(Format("%sFLOAD\r", Text(motors)));
}

int ZHand::LoadDefaults(const char* motors) {
    return impl->SendText(Format("%sFDEF\r", Text(motors)));
}

int ZHand::GetTemperature(int* value) {
    int rc = impl->AskHand("PGET TEMP\r");
    int tenths = 0;
    if (rc == 0 && value != nullptr &&
        LeadingInteger(std::string_view(impl->reply.data(), static_cast<size_t>(impl->replyLength)),
                       &tenths))
        *value = tenths / 10;
    return rc;
}

int ZHand::Reset() {
    int rc = Command("");
    if (rc < 0) return rc;
    return impl->SendText("RESET\r", 9600);
}

int ZHand::SetHandBaud(unsigned baud) {
    // A rate beyond int wraps to a negative one, which the port refuses.
    return impl->SendText(Format("PSET BAUD %d\r", static_cast<int>(baud / 100)),
                          static_cast<int>(baud));
}

int ZHand::Delay(unsigned ms) {
    return impl->SendText(Format("DELAY %lu\r", static_cast<unsigned long>(ms)));
}

int ZHand::Command(const char* text, std::string* replyText) {
    std::string line = Text(text);
    line += '\r';
    if (line.size() >= static_cast<size_t>(BufferSize)) {
        if (replyText) replyText->clear();
        return -17;
    }
    int rc = impl->SendText(line);
    if (replyText) {
        if (rc == 0) {
            replyText->assign(impl->reply.data());
        } else {
            replyText->clear();
        }
    }
    return rc;
}
