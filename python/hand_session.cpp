#include "hand_session.h"

#include <cctype>

namespace zhandpy {

template <class Open>
int HandSession::Start(Open open, bool reset) {
    std::lock_guard lock(mutex_);
    hand_.reset();  // a port held before is let go first
    auto hand = std::make_unique<ZHand>();
    hand->mode = ZHand::ModeSync;
    hand->timeout = -1;
    int rc = open(*hand);
    if (rc == 0 && reset) rc = hand->Reset();
    if (rc == 0) hand_ = std::move(hand);
    return rc;
}

int HandSession::OpenPort(int port, int priority, bool reset) {
    return Start([&](ZHand& hand) { return hand.OpenPort(port, priority); }, reset);
}

int HandSession::OpenDevice(const std::string& path, int priority, bool reset) {
    return Start([&](ZHand& hand) { return hand.OpenDevice(path.c_str(), priority); }, reset);
}

void HandSession::Close() {
    std::lock_guard lock(mutex_);
    hand_.reset();
}

int CountIntegers(std::string_view reply) {
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    int count = 0;
    size_t at = 0;
    while (at < reply.size()) {
        while (at < reply.size() && std::isspace(static_cast<unsigned char>(reply[at]))) ++at;
        if (at >= reply.size() || !(reply[at] == '-' || digit(reply[at]))) break;
        ++count;
        while (at < reply.size() && (reply[at] == '-' || digit(reply[at]))) ++at;
    }
    return count;
}

}  // namespace zhandpy
