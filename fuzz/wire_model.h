// A reference model of the hand's text and real-time framing as the host must
// read it: given the bytes the hand sends after a command, what the driver
// reads, what it keeps as the reply and which result code it completes with.
// The fuzz targets send exactly the bytes the model says the driver consumes
// and then compare the driver with the model.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wire_model {

// The reply buffer's capacity without its terminator and without a prompt.
inline constexpr std::size_t kMaxReply = 4999;

struct Outcome {
    int code = 0;               // result code; -9 when the bytes ran out
    std::size_t consumed = 0;   // bytes of the stream the driver reads
    bool replyTouched = false;  // false: the reply keeps the previous text
    std::string reply;          // the reply (trimmed on success or hand error)
    bool loopEntered = false;   // a LOOP command answered by "*"
    bool feedbackRead = false;  // a real-time update answered by "*" and its feedback
    std::string feedback;       // the feedback bytes after "*"
};

// The exchange of a text command of `commandLength` bytes (its '\r'
// included); `loop` when the command ends in "LOOP\r".
Outcome TextExchange(std::size_t commandLength, bool loop, std::string_view stream);

// The exchange of a real-time update that expects `replyLength` bytes
// ("*" and the feedback).
Outcome RealtimeExchange(std::size_t replyLength, std::string_view stream);

// The reply as the driver hands it out: a C string, so it ends at a NUL.
std::string AsCString(const std::string& text);

}  // namespace wire_model
