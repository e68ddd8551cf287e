// The lane generator: xoshiro256** seeded through SplitMix64. A generator lives for
// one lane reset only, so reproducibility rests entirely on the lane seeds.
#pragma once

#include <cstdint>

namespace vorlisk::envs {

constexpr std::uint64_t splitmix64_next(std::uint64_t& state) {
  state += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class Xoshiro256StarStar {
 public:
  explicit constexpr Xoshiro256StarStar(std::uint64_t seed) { seed_from(seed); }

  static constexpr Xoshiro256StarStar from_state(std::uint64_t s0, std::uint64_t s1,
                                                 std::uint64_t s2, std::uint64_t s3) {
    Xoshiro256StarStar g(0);
    g.s_[0] = s0;
    g.s_[1] = s1;
    g.s_[2] = s2;
    g.s_[3] = s3;
    return g;
  }

  constexpr std::uint64_t next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  // A value in [0, 1) from the top 24 bits, so it is exact in single precision.
  constexpr float unit() { return static_cast<float>(next() >> 40) * 0x1p-24f; }

  constexpr std::uint64_t state(int i) const { return s_[i]; }

 private:
  static constexpr std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  constexpr void seed_from(std::uint64_t seed) {
    std::uint64_t sm = seed;
    for (auto& word : s_) word = splitmix64_next(sm);
    // The all-zero state is a fixed point of xoshiro; fall back to seed 0's state.
    if ((s_[0] | s_[1] | s_[2] | s_[3]) == 0) {
      sm = 0;
      for (auto& word : s_) word = splitmix64_next(sm);
    }
  }

  std::uint64_t s_[4] = {};
};

}  // namespace vorlisk::envs
