// Splits a fuzz input into typed values. Integers and choices come from the
// end of the input, strings and bytes from the front, so that a mutation of
// one kind disturbs the other little. Once the input runs out every value is
// its smallest one. Plain C++: the same targets build for a corpus replay
// with any compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Remaining() const { return size_; }

    // A value in [min, max], from as few bytes as the range needs.
    template <typename T>
    T IntegralInRange(T min, T max) {
        static_assert(std::is_integral_v<T>);
        using U = std::make_unsigned_t<T>;
        const uint64_t range = static_cast<U>(static_cast<U>(max) - static_cast<U>(min));
        uint64_t value = 0;
        for (uint64_t taken = 0; taken < range && size_ > 0; taken = taken << 8 | 0xFF) {
            value = value << 8 | data_[--size_];
        }
        if (range != std::numeric_limits<uint64_t>::max()) value %= range + 1;
        return static_cast<T>(static_cast<U>(static_cast<U>(min) + static_cast<U>(value)));
    }
    template <typename T>
    T Integral() {
        return IntegralInRange<T>(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
    }
    bool Bool() { return (IntegralInRange<uint8_t>(0, 255) & 1) != 0; }

    template <typename T, size_t N>
    T Pick(const T (&values)[N]) {
        return values[IntegralInRange<size_t>(0, N - 1)];
    }

    // Up to `max` bytes from the front; a backslash escapes the next byte and
    // a backslash followed by anything else ends the string, so the fuzzer
    // can grow and cut strings without shifting what follows.
    std::string RandomLengthString(size_t max) {
        std::string text;
        while (size_ > 0 && text.size() < max) {
            char c = static_cast<char>(*data_++);
            --size_;
            if (c == '\\' && size_ > 0) {
                c = static_cast<char>(*data_++);
                --size_;
                if (c != '\\') break;
            }
            text += c;
        }
        return text;
    }
    // Exactly `count` bytes from the front, or what is left.
    std::string Bytes(size_t count) {
        count = count < size_ ? count : size_;
        std::string bytes(reinterpret_cast<const char*>(data_), count);
        data_ += count;
        size_ -= count;
        return bytes;
    }
    std::string RemainingBytes() { return Bytes(size_); }

  private:
    const uint8_t* data_;
    size_t size_;
};
