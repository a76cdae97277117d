// The pure text rules of the hand's wire format: host-side DELAY, the
// "ERR n" answer, and the integers of a reply.
#pragma once

#include <span>
#include <string_view>

namespace zhand::detail {

// True when the first whitespace-delimited word of the command is "DELAY".
bool IsHostDelay(std::string_view command);
// Milliseconds of a DELAY command: the number after "DELAY " clamped to
// 1..100000; a missing or unreadable number gives 1, a negative one 100000.
unsigned long HostDelayMs(std::string_view command);
// 0, or the error code of a trimmed reply that begins with "ERR": the
// number after "ERR " when it is positive, else 1.
int HandErrorCode(std::string_view reply);
// Reads whitespace-separated integers from the start of `text` into
// `values`, stopping at any other character or when `values` is full.
// Returns how many were filled.
size_t ParseIntegers(std::string_view text, std::span<int> values);
// The integer at the very start of `text`, if it begins with one.
bool LeadingInteger(std::string_view text, int* value);

}  // namespace zhand::detail
