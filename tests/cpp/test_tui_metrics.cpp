#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "tui/logger/metrics.hpp"

namespace vorlisk::tui {
namespace {

struct SaturateCase {
  double value;
  std::uint64_t expected;
};

class SaturatingU64 : public ::testing::TestWithParam<SaturateCase> {};

TEST_P(SaturatingU64, TruncatesTowardZeroWithinTheRange) {
  EXPECT_EQ(saturating_u64(GetParam().value), GetParam().expected);
}

constexpr double kTwo64 = 18446744073709551616.0;

INSTANTIATE_TEST_SUITE_P(
    Values, SaturatingU64,
    ::testing::Values(SaturateCase{-5.0, 0}, SaturateCase{-0.0, 0}, SaturateCase{-0.9, 0},
                      SaturateCase{std::numeric_limits<double>::quiet_NaN(), 0},
                      SaturateCase{-std::numeric_limits<double>::infinity(), 0},
                      SaturateCase{0.9, 0}, SaturateCase{3072.99, 3072},
                      SaturateCase{std::nextafter(kTwo64, 0.0), 18446744073709549568u},
                      SaturateCase{kTwo64, UINT64_MAX}, SaturateCase{1e300, UINT64_MAX},
                      SaturateCase{std::numeric_limits<double>::infinity(), UINT64_MAX}));

}  // namespace
}  // namespace vorlisk::tui
