#include "zhand.h"

namespace {

// Entry k holds the message of code -k; then the one for every positive code
// (the hand's own error numbers) and the one for codes below -19.
constexpr const char* kMessages[22] = {
    "No error",
    "An instance of class ZHand has already been initialized",
    "Open comm port failed",
    "Get comm port state failed",
    "Set comm port state failed",
    "Set comm timeouts failed",
    "Unable to start hand i/o thread",
    "Unable to set hand i/o thread priority",
    "Error writing to comm port (or write timeout)",
    "Error reading from comm port (or read timeout)",
    "Hand sent incorrect sequence of characters - possible loss of data",
    "Clear comm buffer failed",
    "Request to hand i/o thread timed out",
    "Processing of previous request is not completed",
    "Request pending - in asynch mode",
    "No instances of class ZHand have been initialized",
    "Unrecognized parameter name in call to Set",
    "String too long",
    "Parameter value out of range (0-30000)",
    "Specified motor was not activated in RTStart",
    "Hand error - check hand manual",
    "Invalid error number",
};

}  // namespace

const char* ZHand::ErrorText(int code) {
    if (code > 0) return kMessages[20];
    if (code < -19) return kMessages[21];
    return kMessages[-code];
}
