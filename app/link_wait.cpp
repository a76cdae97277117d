#include "link_wait.h"

namespace {

constexpr int kEsc = 27;

}  // namespace

bool AwaitReconnect(ZHand& hand, Console& console) {
    while (!hand.Reconnect()) {
        if (!console.WaitForKey(kReconnectPollMs)) continue;
        if (console.GetKey() == kEsc || console.InputEnded()) return false;
    }
    return true;
}
