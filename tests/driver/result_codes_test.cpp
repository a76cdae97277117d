#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "zhand.h"

namespace {

TEST(ErrorText, EveryCodeHasItsMessage) {
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {
        {0, "No error"},
        {-1, "An instance of class ZHand has already been initialized"},
        {-2, "Open comm port failed"},
        {-3, "Get comm port state failed"},
        {-4, "Set comm port state failed"},
        {-5, "Set comm timeouts failed"},
        {-6, "Unable to start hand i/o thread"},
        {-7, "Unable to set hand i/o thread priority"},
        {-8, "Error writing to comm port (or write timeout)"},
        {-9, "Error reading from comm port (or read timeout)"},
        {-10, "Hand sent incorrect sequence of characters - possible loss of data"},
        {-11, "Clear comm buffer failed"},
        {-12, "Request to hand i/o thread timed out"},
        {-13, "Processing of previous request is not completed"},
        {-14, "Request pending - in asynch mode"},
        {-15, "No instances of class ZHand have been initialized"},
        {-16, "Unrecognized parameter name in call to Set"},
        {-17, "String too long"},
        {-18, "Parameter value out of range (0-30000)"},
        {-19, "Specified motor was not activated in RTStart"},
        {1, "Hand error - check hand manual"},
        {12, "Hand error - check hand manual"},
        {INT_MAX, "Hand error - check hand manual"},
        {-20, "Invalid error number"},
        {INT_MIN, "Invalid error number"},
    };
    for (const Case& c : cases) {
        const char* text = ZHand::ErrorText(c.code);
        ASSERT_NE(text, nullptr) << c.code;
        EXPECT_STREQ(text, c.text) << c.code;
        EXPECT_LT(std::strlen(text), 100u) << c.code;
    }
}

// The named codes keep the numbers callers have always compared against.
TEST(ErrorText, NamedCodesKeepTheirNumbers) {
    const int named[] = {
        ZHand::Ok,
        ZHand::InstanceExists,
        ZHand::OpenPortFailed,
        ZHand::GetPortStateFailed,
        ZHand::SetPortStateFailed,
        ZHand::SetTimeoutsFailed,
        ZHand::ThreadStartFailed,
        ZHand::ThreadPriorityFailed,
        ZHand::WriteFailed,
        ZHand::ReadFailed,
        ZHand::BadReply,
        ZHand::PurgeFailed,
        ZHand::RequestTimedOut,
        ZHand::RequestPending,
        ZHand::AsyncPending,
        ZHand::NoInstance,
        ZHand::UnknownParameter,
        ZHand::StringTooLong,
        ZHand::OutOfRange,
        ZHand::MotorNotActive,
    };
    for (int k = 0; k < 20; ++k) EXPECT_EQ(named[k], -k) << k;
    EXPECT_STREQ(ZHand::ErrorText(ZHand::HandError), "Hand error - check hand manual");
    EXPECT_STREQ(ZHand::ErrorText(ZHand::InvalidCode), "Invalid error number");
}

}  // namespace
