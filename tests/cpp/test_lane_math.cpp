#include "envs/core/lane_math.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace vorlisk::envs {
namespace {

bool same_bits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}

// A strided walk over every bit pattern (both signs, subnormals, the 2^23 boundary,
// infinities and NaNs) plus the values around the integers where floor turns. The
// vector form is checked on the same values, four lanes at a time.
TEST(FloorF32, MatchesStdFloorBitForBit) {
  for (std::uint64_t bits = 0; bits < (1ull << 32); bits += 4 * 4099) {
    F32x4 x;
    for (int k = 0; k < 4; ++k) x[k] = std::bit_cast<float>(static_cast<std::uint32_t>(bits + k * 4099));
    const F32x4 lanes = floor_f32(x);
    for (int k = 0; k < 4; ++k) {
      ASSERT_TRUE(same_bits(floor_f32(x[k]), std::floor(x[k]))) << std::hexfloat << x[k];
      ASSERT_TRUE(same_bits(lanes[k], std::floor(x[k]))) << "vector lane " << std::hexfloat << x[k];
    }
  }
  constexpr float kSpecial[] = {0.0f, -0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 8388607.5f, -8388607.5f,
                                8388608.0f, -8388608.0f, 16777217.0f, 2147483648.0f,
                                -2147483904.0f, std::numeric_limits<float>::denorm_min(),
                                -std::numeric_limits<float>::denorm_min(),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN()};
  for (const float x : kSpecial) {
    for (const float y : {x, std::nextafter(x, 0.0f), std::nextafter(x, -INFINITY),
                          std::nextafter(x, INFINITY)}) {
      EXPECT_TRUE(same_bits(floor_f32(y), std::floor(y))) << std::hexfloat << y;
    }
  }
}

}  // namespace
}  // namespace vorlisk::envs
