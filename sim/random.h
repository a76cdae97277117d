// A small deterministic generator (splitmix64): the same seed gives the same
// sequence on every platform and library.
#pragma once

#include <cstdint>

namespace zhandsim {

class Random {
  public:
    explicit Random(std::uint64_t seed = 1) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // A number from lo to hi, both included (lo <= hi).
    int Uniform(int lo, int hi) {
        const std::uint64_t span = static_cast<std::uint64_t>(hi - lo) + 1;
        return lo + static_cast<int>(Next() % span);
    }

  private:
    std::uint64_t state_;
};

}  // namespace zhandsim
