// Drives the hand through the ZHand class of the installed libzhand: opens
// port 1 (./COM1), initialises the hand, closes and opens the grasp and
// prints the fingers' positions after each.
#include <zhand.h>

#include <array>
#include <cstdio>

namespace {

bool Failed(const char* what, int code) {
    if (code == 0) return false;
    std::fprintf(stderr, "%s failed: %s (%d)\n", what, ZHand::ErrorText(code), code);
    return true;
}

bool PrintFingers(ZHand& hand, const char* label) {
    std::array<int, 3> positions{};
    if (Failed("GetParameters", hand.GetParameters("G", "P", positions))) return false;
    std::printf("%s F1 %d F2 %d F3 %d\n", label, positions[0], positions[1], positions[2]);
    return true;
}

}  // namespace

int main() {
    ZHand hand;
    if (Failed("Initialize", hand.Initialize(1, 15))) return 1;
    if (Failed("InitHand", hand.InitHand("GS"))) return 1;
    if (Failed("Close", hand.Close("G")) || !PrintFingers(hand, "closed:")) return 1;
    if (Failed("Open", hand.Open("G")) || !PrintFingers(hand, "opened:")) return 1;
    return 0;
}
