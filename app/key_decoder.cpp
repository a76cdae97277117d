#include "key_decoder.h"

#include <string>
#include <vector>

namespace {

constexpr unsigned char kEsc = 27;

// Parses "a;b;c" into numbers; an empty field is 0.
std::vector<int> CsiNumbers(const std::string& params) {
    std::vector<int> numbers{0};
    for (char c : params) {
        if (c == ';') {
            numbers.push_back(0);
        } else if (c >= '0' && c <= '9') {
            if (numbers.back() < 100000) numbers.back() = numbers.back() * 10 + (c - '0');
        } else {
            return {};  // private or sub-parameters: not a key we know
        }
    }
    return numbers;
}

bool ShiftHeld(int modifiers) {
    return modifiers >= 2 && ((modifiers - 1) & 1) != 0;
}

// Tab and Enter with Shift become 10 and 14; without Shift they stay.
int ShiftedKey(int key, int modifiers) {
    if (key == 9) return ShiftHeld(modifiers) ? 10 : 9;
    if (key == 13) return ShiftHeld(modifiers) ? 14 : 13;
    return 0;
}

}  // namespace

void KeyDecoder::Feed(std::string_view bytes) {
    for (char c : bytes) bytes_.push_back(static_cast<unsigned char>(c));
    Decode();
}

void KeyDecoder::Timeout() {
    if (bytes_.empty()) return;
    // Only an escape sequence can be waiting: a lone ESC is the key itself,
    // anything longer was cut off and is dropped.
    if (bytes_.size() == 1) Push(27);
    bytes_.clear();
}

int KeyDecoder::TakeKey() {
    int key = keys_.front().code;
    keys_.pop_front();
    return key;
}

void KeyDecoder::Clear() {
    bytes_.clear();
    keys_.clear();
}

void KeyDecoder::Decode() {
    while (!bytes_.empty()) {
        std::size_t used = DecodeOne();
        if (used == 0) return;
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(used));
    }
}

std::size_t KeyDecoder::DecodeOne() {
    unsigned char b = bytes_[0];
    if (b != kEsc) {
        if (b == 127) {
            Push(8);
        } else if (b != 0) {
            Push(static_cast<signed char>(b), b == '\n');
        }
        return 1;
    }
    if (bytes_.size() < 2) return 0;
    unsigned char next = bytes_[1];
    if (next == '[') return DecodeCsi();
    if (next == 'O') {
        if (bytes_.size() < 3) return 0;
        if (bytes_[2] == 'M') Push(13);
        return 3;
    }
    if (next == kEsc) {
        Push(27);  // ESC pressed twice: the first stands alone
        return 1;
    }
    // Alt with a key: the key's own character.
    bytes_.pop_front();
    return DecodeOne();
}

std::size_t KeyDecoder::DecodeCsi() {
    std::string params;
    for (std::size_t i = 2; i < bytes_.size(); ++i) {
        unsigned char c = bytes_[i];
        if (c >= 0x40 && c <= 0x7e) {
            std::vector<int> n = CsiNumbers(params);
            int key = 0;
            if (c == 'Z') {
                key = 10;
            } else if (c == 'u' && !n.empty()) {
                key = ShiftedKey(n[0], n.size() > 1 ? n[1] : 1);
            } else if (c == '~' && n.size() == 3 && n[0] == 27) {
                key = ShiftedKey(n[2], n[1]);
            }
            if (key != 0) Push(key);
            return i + 1;
        }
        if (c < 0x20 || c > 0x3f) {
            // Not a well-formed sequence: drop what was read, keep this byte.
            return i;
        }
        params.push_back(static_cast<char>(c));
    }
    return 0;
}
