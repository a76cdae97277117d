// The flat interface: each function checks that the interface's object exists,
// turns its plain arguments into those of one ZHand operation and returns that
// operation's result code.
#include "zhand_flat.h"

#include <array>
#include <mutex>
#include <new>
#include <span>

#include "zhand.h"

ZHand* theHand = nullptr;

namespace {

constexpr int kNoInstance = -15;
constexpr int kUnknownSelector = -16;
constexpr int kAlreadyCreated = -1;
constexpr int kPort = 1;
constexpr int kPriority = 15;

// The one-character motor string of a motor argument; the character 0 gives
// the empty string, which addresses the hand as a whole.
struct MotorString {
    explicit MotorString(char motor) : text{motor, '\0'} {}
    const char* c_str() const { return text.data(); }
    std::array<char, 2> text;
};

// Parameter names behind the selectors; null where the selector has none.
const char* SetName(char selector) {
    switch (selector) {
        case 'C':
            return "MCV";
        case 'M':
            return "HOLD";
        case 'O':
            return "MOV";
        case 'S':
            return "MSG";
        default:
            return nullptr;
    }
}

const char* GetName(char selector) {
    switch (selector) {
        case 'C':
            return "MCV";
        case 'M':
            return "S";
        case 'O':
            return "MOV";
        case 'P':
            return "P";
        case 'S':
            return "SG";
        default:
            return nullptr;
    }
}

template <typename Operation>
int Forward(Operation operation) {
    if (theHand == nullptr) return kNoInstance;
    return operation(*theHand);
}

}  // namespace

int CreateHand(void) noexcept {
    static std::mutex creating;
    std::lock_guard lock(creating);
    if (theHand != nullptr) return kAlreadyCreated;
    theHand = new (std::nothrow) ZHand();
    if (theHand == nullptr) return kNoInstance;
    return theHand->Initialize(kPort, kPriority);
}

int Open(char motor) noexcept {
    return Forward([&](ZHand& hand) { return hand.Open(MotorString(motor).c_str()); });
}

int Close(char motor) noexcept {
    return Forward([&](ZHand& hand) { return hand.Close(MotorString(motor).c_str()); });
}

int IncrementalOpen(char motor, int counts) noexcept {
    return Forward(
        [&](ZHand& hand) { return hand.IncrementalOpen(MotorString(motor).c_str(), counts); });
}

int IncrementalClose(char motor, int counts) noexcept {
    return Forward(
        [&](ZHand& hand) { return hand.IncrementalClose(MotorString(motor).c_str(), counts); });
}

int MoveTo(char motor, int position) noexcept {
    return Forward([&](ZHand& hand) { return hand.MoveTo(MotorString(motor).c_str(), position); });
}

int MoveAllTo(int p1, int p2, int p3, int p4) noexcept {
    return Forward([&](ZHand& hand) { return hand.MoveAllTo(p1, p2, p3, p4); });
}

int Home(void) noexcept {
    return Forward([](ZHand& hand) { return hand.Home(); });
}

int Terminate(char motor) noexcept {
    return Forward([&](ZHand& hand) { return hand.Terminate(MotorString(motor).c_str()); });
}

int Set(char motor, char selector, int value) noexcept {
    return Forward([&](ZHand& hand) {
        const char* name = SetName(selector);
        if (name == nullptr) return kUnknownSelector;
        return hand.SetParameter(MotorString(motor).c_str(), name, value);
    });
}

int Get(char motor, char selector, int* values) noexcept {
    return Forward([&](ZHand& hand) {
        const char* name = GetName(selector);
        if (name == nullptr) return kUnknownSelector;
        std::span<int> caller;
        if (values != nullptr) caller = std::span<int>(values, ZHAND_GET_MAX_VALUES);
        return hand.GetParameters(MotorString(motor).c_str(), name, caller);
    });
}

int SaveParameters(char motor) noexcept {
    return Forward([&](ZHand& hand) { return hand.SaveParameters(MotorString(motor).c_str()); });
}

int LoadParameters(char motor) noexcept {
    return Forward([&](ZHand& hand) { return hand.LoadParameters(MotorString(motor).c_str()); });
}

int LoadDefaults(char motor) noexcept {
    return Forward([&](ZHand& hand) { return hand.LoadDefaults(MotorString(motor).c_str()); });
}

int GetTemperature(int* value) noexcept {
    return Forward([&](ZHand& hand) {
        int discarded = 0;
        return hand.GetTemperature(value != nullptr ? value : &discarded);
    });
}

int InitHand(void) noexcept {
    return Forward([](ZHand& hand) { return hand.InitHand("GS"); });
}
