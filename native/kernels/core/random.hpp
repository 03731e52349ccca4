// A small seeded random generator of our own: splitmix64 for uniform bits and
// Box-Muller for normals. Its output depends only on the seed, on every
// platform and standard library (the std:: distributions differ between
// implementations).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    // The next 64 uniformly distributed bits.
    std::uint64_t next_bits();
    // A double uniform on [0, 1), from the top 53 bits.
    double uniform();
    // A standard normal deviate (Box-Muller; the second value of each pair is
    // kept for the next call).
    double normal();

  private:
    std::uint64_t state_;
    double spare_ = 0.0;
    bool has_spare_ = false;
};

// The seed of an integer of any size, given as its magnitude's 64-bit words
// (least significant first) and its sign: a non-negative integer below 2**64
// is its own seed; any other is folded, every word and the sign mixed in, so
// that integers differing anywhere give different streams (up to the odds of
// a 64-bit collision).
std::uint64_t seed_of_integer(const std::uint64_t* words, std::size_t count, bool negative);

} // namespace zeka::kernels
