// A failed expectation in a fuzz target: print what differed and abort, so
// that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Printable form of bytes for a failure message.
inline std::string Visible(std::string_view bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127 && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        }
    }
    return text;
}

#define FUZZ_CHECK(condition, ...)                                                             \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                                 \
            std::fprintf(stderr, "\n");                                                        \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// The message of an expectation that failed, for a check that may be retried.
inline std::string Describe(const char* file, int line, const char* condition, const char* format,
                            ...) __attribute__((format(printf, 4, 5)));
inline std::string Describe(const char* file, int line, const char* condition, const char* format,
                            ...) {
    char head[512];
    std::snprintf(head, sizeof head, "%s:%d: check failed: %s\n", file, line, condition);
    va_list args;
    va_start(args, format);
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string(head) + text;
}

// In a function that returns std::string: returns the message of the first
// expectation that fails ("" from the end of the function means all held).
#define FUZZ_EXPECT(condition, ...)                                                     \
    do {                                                                                \
        if (!(condition)) return Describe(__FILE__, __LINE__, #condition, __VA_ARGS__); \
    } while (0)
