// The array handling around the vector sinf/cosf/fmodf: every length (partial groups
// of four), in place or not, vector lanes mixed with lanes handed to the library, and
// divisors the vector code refuses. Values over every float: the exhaustive program.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lanemath/libm_lanes.hpp"

namespace {

using vorlisk::lanemath::LibmVariant;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Vector lanes, both zeros, a subnormal, quadrant edges and lanes past every limit.
const std::vector<float> kInputs = {0.5f,   -0.0f,   0.0f,    1e-40f,  -2.3561945f, 3.1415927f,
                                    119.9f, -120.0f, 1e6f,    kInf,    -kNaN,       -6.2831855f,
                                    100.5f, -1e30f,  12.566371f, 0.25f, -7.0f};

bool same(float got, float want) {
  if (std::isnan(want)) return std::isnan(got);
  return std::bit_cast<std::uint32_t>(got) == std::bit_cast<std::uint32_t>(want);
}

std::vector<LibmVariant> runnable_variants() {
  std::vector<LibmVariant> variants;
  for (const LibmVariant v : {LibmVariant::kLibrary, LibmVariant::kPlain, LibmVariant::kFused,
                                LibmVariant::kFused512}) {
    if (vorlisk::lanemath::libm_variant_runs(v)) variants.push_back(v);
  }
  return variants;
}

// Every prefix length, out of place and in place, against the library lane by lane.
template <class Vector, class Library>
void check_prefixes(Vector vector, Library library) {
  for (std::size_t n = 0; n <= kInputs.size(); ++n) {
    std::vector<float> out(n + 1, 42.0f);
    vector(kInputs.data(), out.data(), n);
    std::vector<float> in_place(kInputs.begin(), kInputs.begin() + static_cast<std::ptrdiff_t>(n));
    vector(in_place.data(), in_place.data(), n);
    for (std::size_t k = 0; k < n; ++k) {
      const float want = library(kInputs[k]);
      EXPECT_TRUE(same(out[k], want)) << "n " << n << " lane " << k << " x " << kInputs[k];
      EXPECT_TRUE(same(in_place[k], want)) << "in place, n " << n << " lane " << k;
    }
    EXPECT_EQ(out[n], 42.0f) << "wrote past lane " << n;
  }
}

TEST(LibmLanes, SinAndCosEveryLengthAndVariant) {
  for (const LibmVariant v : runnable_variants()) {
    SCOPED_TRACE(static_cast<int>(v));
    check_prefixes([v](const float* x, float* o, std::size_t n) { vorlisk::lanemath::sinf_lanes(v, x, o, n); },
                   [](float x) { return std::sin(x); });
    check_prefixes([v](const float* x, float* o, std::size_t n) { vorlisk::lanemath::cosf_lanes(v, x, o, n); },
                   [](float x) { return std::cos(x); });
    // sincosf, each output in place in turn.
    for (const bool cosine : {false, true}) {
      check_prefixes([v, cosine](const float* x, float* o, std::size_t n) {
        std::vector<float> other(n);
        vorlisk::lanemath::sincosf_lanes(v, x, cosine ? other.data() : o, cosine ? o : other.data(), n);
      }, [cosine](float x) { return cosine ? std::cos(x) : std::sin(x); });
    }
  }
  // The variant the dispatch picks must be the one that reproduces the library.
  check_prefixes([](const float* x, float* o, std::size_t n) { vorlisk::lanemath::sinf_lanes(x, o, n); },
                 [](float x) { return std::sin(x); });
}

// Every variant's fmodf is exact, so the one the dispatch picks needs no check of its own.
TEST(LibmLanes, FmodEveryLengthVariantAndDivisor) {
  for (const float y : {6.2831855f, -6.2831855f, 0.75f, 1e-40f, 3e38f, 0.0f, -0.0f, kInf, kNaN}) {
    SCOPED_TRACE(y);
    for (const LibmVariant v : runnable_variants()) {
      check_prefixes(
          [v, y](const float* x, float* o, std::size_t n) { vorlisk::lanemath::fmodf_lanes(v, x, y, o, n); },
          [y](float x) { return std::fmod(x, y); });
    }
  }
}

}  // namespace
