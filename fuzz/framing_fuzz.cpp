// The text-exchange framing fed an arbitrary byte stream from the hand: the
// driver must complete every exchange with the code and the reply that the
// reference model gives, reading exactly the bytes the model says.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "fuzz_hand.h"
#include "wire_model.h"

namespace {

enum class Operation { Command, Loop, Abort, Update };

struct Exchange {
    Operation operation = Operation::Command;
    std::string text;     // command text without its '\r'
    std::string command;  // the bytes the hand must receive
    std::string stream;   // what the hand sends back
    wire_model::Outcome model;
};

Exchange Plan(FuzzInput& input) {
    Exchange e;
    e.operation = static_cast<Operation>(input.IntegralInRange<int>(0, 3));
    e.text = std::string(input.IntegralInRange<size_t>(0, 40), 'C');
    e.stream = input.RemainingBytes();
    switch (e.operation) {
        case Operation::Command:
            e.command = e.text + "\r";
            e.model = wire_model::TextExchange(e.command.size(), false, e.stream);
            break;
        case Operation::Loop:
            e.text += "LOOP";
            e.command = e.text + "\r";
            e.model = wire_model::TextExchange(e.command.size(), true, e.stream);
            break;
        case Operation::Abort:
            e.command = "\x03";
            e.model = wire_model::TextExchange(e.command.size(), false, e.stream);
            break;
        case Operation::Update:
            e.command = "a";
            e.model = wire_model::RealtimeExchange(1, e.stream);
            break;
    }
    return e;
}

// Runs the exchange once; "" when the driver agreed with the model.
std::string Run(FuzzHand& peer, const Exchange& e) {
    ZHand& hand = peer.Hand();
    const std::string replyBefore = hand.ReplyText();
    std::string reply;
    int code = 0;
    FuzzHand::Run run =
        peer.Play({{e.command.size(), e.stream.substr(0, e.model.consumed)}}, [&] {
            switch (e.operation) {
                case Operation::Command:
                case Operation::Loop:
                    code = hand.Command(e.text.c_str(), &reply);
                    break;
                case Operation::Abort:
                    code = hand.RTAbort();
                    break;
                case Operation::Update:
                    code = hand.RTUpdate(false, false);
                    break;
            }
        });
    const std::string after = hand.ReplyText();
    const std::string stream = Visible(e.stream);
    FUZZ_EXPECT(!run.received.empty() && run.received[0] == e.command,
                "the hand received \"%s\" for \"%s\"",
                run.received.empty() ? "" : Visible(run.received[0]).c_str(),
                Visible(e.command).c_str());
    FUZZ_EXPECT(code == e.model.code, "code %d, model %d, stream \"%s\"", code, e.model.code,
                stream.c_str());
    const std::string expected =
        e.model.replyTouched ? wire_model::AsCString(e.model.reply) : replyBefore;
    if (code == -9) {
        // The bytes ran out; a read may also have timed out a little earlier
        // than the model's, so the reply is the old one or a part of the model's.
        FUZZ_EXPECT(after == replyBefore || expected.starts_with(after),
                    "reply \"%s\" after -9, model \"%s\", stream \"%s\"", Visible(after).c_str(),
                    Visible(expected).c_str(), stream.c_str());
    } else {
        FUZZ_EXPECT(after == expected, "reply \"%s\", model \"%s\", stream \"%s\"",
                    Visible(after).c_str(), Visible(expected).c_str(), stream.c_str());
    }
    if (e.operation == Operation::Command || e.operation == Operation::Loop) {
        FUZZ_EXPECT(reply == (code == 0 ? after : std::string()),
                    "Command's reply \"%s\", ReplyText \"%s\"", Visible(reply).c_str(),
                    Visible(after).c_str());
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHand& peer = FuzzHand::Get();
    FuzzInput input(data, size);
    const Exchange exchange = Plan(input);
    std::string failure = Run(peer, exchange);
    if (!failure.empty()) {
        // A slow peer thread can make a read time out; a difference counts
        // only when it stays with long time-outs.
        peer.SetReadTimeout(FuzzHand::kSlowReadTimeoutMs);
        failure = Run(peer, exchange);
        peer.SetReadTimeout(FuzzHand::kReadTimeoutMs);
    }
    FUZZ_CHECK(failure.empty(), "%s", failure.c_str());
    return 0;
}
