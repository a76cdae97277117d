// GetParameters and GetTemperature fed arbitrary replies: the values must be
// the integers at the start of the reply, filled in order up to the span's
// size and untouched beyond what the reply gives or when the exchange fails.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "fuzz_hand.h"
#include "wire_model.h"
#include "wire_text.h"

using zhand::detail::LeadingInteger;
using zhand::detail::ParseIntegers;

namespace {

constexpr const char* kMotors[] = {"", "1", "2", "3", "4", "G", "S", "GS", "1234"};
constexpr const char* kNames[] = {"P", "MOV", "MCV", "LCV LCPG LFV LFS LFAP LFDP", "SG", "P MOV"};
constexpr int kSentinel = 0x5a5a5a5a;

// The hand's side of an exchange: echo, the reply and (mostly) the prompt;
// sometimes the bytes stand as given.
std::string Answer(FuzzInput& input, const std::string& command) {
    int shape = input.IntegralInRange<int>(0, 3);
    std::string text = input.RandomLengthString(6000);
    switch (shape) {
        case 0:
            return command.substr(0, command.size() - 1) + "\r\n" + text + "\r\n=> ";
        case 1:
            return command.substr(0, command.size() - 1) + "\r\nERR " + text + "\r\n=> ";
        case 2:
            return command.substr(0, command.size() - 1) + text;
        default:
            return text;
    }
}

// A reply made only of decimal words that fit 32 bits: each value must be
// the word as strtol reads it.
std::string CheckPlainWords(const std::string& reply, const std::vector<int>& values,
                            size_t filled) {
    std::vector<long> words;
    size_t at = 0;
    while (at < reply.size()) {
        while (at < reply.size() && std::isspace(static_cast<unsigned char>(reply[at]))) ++at;
        size_t start = at;
        while (at < reply.size() && !std::isspace(static_cast<unsigned char>(reply[at]))) ++at;
        if (at == start) break;
        std::string word = reply.substr(start, at - start);
        size_t digits = word[0] == '-' ? 1 : 0;
        if (word.size() == digits || word.size() - digits > 9) return {};
        for (size_t i = digits; i < word.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(word[i]))) return {};
        }
        words.push_back(std::strtol(word.c_str(), nullptr, 10));
    }
    FUZZ_EXPECT(filled == std::min(words.size(), values.size()), "filled %zu of %zu from \"%s\"",
                filled, words.size(), Visible(reply).c_str());
    for (size_t i = 0; i < filled; ++i) {
        FUZZ_EXPECT(values[i] == words[i], "value %zu is %d, the reply says %ld", i, values[i],
                    words[i]);
    }
    return {};
}

struct Request {
    bool temperature = false;
    std::string motors;
    std::string names;
    size_t count = 0;
    std::string command;
    std::string stream;
    wire_model::Outcome model;
};

// Runs the request once; "" when the driver agreed with the model.
std::string Run(FuzzHand& peer, const Request& r) {
    ZHand& hand = peer.Hand();
    std::vector<int> values(r.count, kSentinel);
    int temperature = kSentinel;
    int code = 0;
    FuzzHand::Run run =
        peer.Play({{r.command.size(), r.stream.substr(0, r.model.consumed)}}, [&] {
            code = r.temperature ? hand.GetTemperature(&temperature)
                                 : hand.GetParameters(r.motors.c_str(), r.names.c_str(), values);
        });
    FUZZ_EXPECT(!run.received.empty() && run.received[0] == r.command, "the hand received \"%s\"",
                run.received.empty() ? "" : Visible(run.received[0]).c_str());
    FUZZ_EXPECT(code == r.model.code, "code %d, model %d, stream \"%s\"", code, r.model.code,
                Visible(r.stream).c_str());
    if (r.temperature) {
        int tenths = 0;
        bool number = code == 0 && LeadingInteger(r.model.reply, &tenths);
        int expected = number ? tenths / 10 : kSentinel;
        FUZZ_EXPECT(temperature == expected, "temperature %d, expected %d from \"%s\"", temperature,
                    expected, Visible(r.model.reply).c_str());
        return {};
    }
    if (code != 0) {
        for (int v : values) FUZZ_EXPECT(v == kSentinel, "a failed read changed a value to %d", v);
        return {};
    }
    std::vector<int> expected(r.count, kSentinel);
    size_t filled = ParseIntegers(r.model.reply, expected);
    FUZZ_EXPECT(filled <= r.count, "ParseIntegers filled %zu of %zu", filled, r.count);
    for (size_t i = 0; i < r.count; ++i) {
        FUZZ_EXPECT(values[i] == expected[i], "value %zu is %d, expected %d from \"%s\"", i,
                    values[i], expected[i], Visible(r.model.reply).c_str());
    }
    return CheckPlainWords(r.model.reply, expected, filled);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHand& peer = FuzzHand::Get();
    FuzzInput input(data, size);
    Request r;
    r.temperature = input.Bool();
    r.motors = input.Pick(kMotors);
    r.names = input.Pick(kNames);
    r.count = input.IntegralInRange<size_t>(0, 8);
    r.command = r.temperature ? std::string("PGET TEMP\r") : r.motors + "FGET " + r.names + "\r";
    r.stream = Answer(input, r.command);
    r.model = wire_model::TextExchange(r.command.size(), false, r.stream);

    std::string failure = Run(peer, r);
    if (!failure.empty()) {
        // A slow peer thread can make a read time out; a difference counts
        // only when it stays with long time-outs.
        peer.SetReadTimeout(FuzzHand::kSlowReadTimeoutMs);
        failure = Run(peer, r);
        peer.SetReadTimeout(FuzzHand::kReadTimeoutMs);
    }
    FUZZ_CHECK(failure.empty(), "%s", failure.c_str());
    return 0;
}
