// Every float bit pattern that the vector sinf, cosf and fmodf compute themselves goes
// through them and through the C library, and the bits must agree (any NaN for a
// NaN). Patterns they hand to the library per lane (|x| >= 120 for sin and cos,
// |x| >= 16 |y| for fmod, inf, NaN) are compared on every 1021st pattern, which
// checks that hand-over without paying for billions of slow library reductions.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>


#include "lanemath/libm_lanes.hpp"

namespace {

using vorlisk::lanemath::LibmVariant;

constexpr std::uint64_t kPatterns = std::uint64_t{1} << 32;
constexpr std::uint64_t kBatch = 1 << 14;
constexpr std::uint64_t kSampleStride = 1021;

struct Report {
  std::uint64_t compared = 0;
  std::uint64_t mismatches = 0;
  std::uint32_t first_bits = 0;
  float got = 0.0f;
  float want = 0.0f;
};

std::string describe(const Report& r) {
  char text[160];
  std::snprintf(text, sizeof text, "%llu of %llu differ; first 0x%08x: got %a, library %a",
                static_cast<unsigned long long>(r.mismatches),
                static_cast<unsigned long long>(r.compared), r.first_bits,
                static_cast<double>(r.got), static_cast<double>(r.want));
  return text;
}

bool same(float got, float want) {
  if (std::isnan(want)) return std::isnan(got);
  return std::bit_cast<std::uint32_t>(got) == std::bit_cast<std::uint32_t>(want);
}

using LaneFunction = std::function<void(const float*, float*, std::size_t)>;

// Compares each of `vectors` (over arrays) with `library` (one float) on every pattern
// whose magnitude bits lie below `vector_below`, on every non-finite pattern and on
// every kSampleStride-th other pattern; the library is called once per pattern.
// Batches are handed out to all cores.
template <class Library>
std::vector<Report> compare_all(std::uint32_t vector_below, const std::vector<LaneFunction>& vectors,
                                Library library) {
  std::atomic<std::uint64_t> next{0};
  std::mutex merge;
  std::vector<Report> total(vectors.size());
  for (Report& r : total) r.first_bits = ~0u;
  auto worker = [&] {
    std::vector<float> x(kBatch);
    std::vector<float> want(kBatch);
    std::vector<std::vector<float>> got(vectors.size(), std::vector<float>(kBatch));
    std::vector<Report> mine(vectors.size());
    for (;;) {
      const std::uint64_t base = next.fetch_add(kBatch);
      if (base >= kPatterns) break;
      std::size_t n = 0;
      for (std::uint64_t b = base; b < base + kBatch; ++b) {
        const auto bits = static_cast<std::uint32_t>(b);
        const std::uint32_t magnitude = bits & 0x7fffffffu;
        if (magnitude < vector_below || magnitude >= 0x7f800000u || b % kSampleStride == 0) {
          x[n++] = std::bit_cast<float>(bits);
        }
      }
      for (std::size_t k = 0; k < n; ++k) want[k] = library(x[k]);
      for (std::size_t v = 0; v < vectors.size(); ++v) {
        vectors[v](x.data(), got[v].data(), n);
        // Equal bytes are the common case and need no look at each lane.
        if (std::memcmp(got[v].data(), want.data(), n * sizeof(float)) == 0) {
          mine[v].compared += n;
          continue;
        }
        for (std::size_t k = 0; k < n; ++k) {
          if (!same(got[v][k], want[k]) && mine[v].mismatches++ == 0) {
            mine[v].first_bits = std::bit_cast<std::uint32_t>(x[k]);
            mine[v].got = got[v][k];
            mine[v].want = want[k];
          }
        }
        mine[v].compared += n;
      }
    }
    std::lock_guard lock(merge);
    for (std::size_t v = 0; v < vectors.size(); ++v) {
      total[v].compared += mine[v].compared;
      total[v].mismatches += mine[v].mismatches;
      if (mine[v].mismatches != 0 && mine[v].first_bits < total[v].first_bits) {
        total[v].first_bits = mine[v].first_bits;
        total[v].got = mine[v].got;
        total[v].want = mine[v].want;
      }
    }
  };
  std::vector<std::thread> threads(std::max(2u, std::thread::hardware_concurrency()));
  for (auto& t : threads) t = std::thread(worker);
  for (auto& t : threads) t.join();
  return total;
}

LibmVariant expected_variant() {
  const char* expect = std::getenv("VORLISK_EXPECT_LIBM");
  if (expect != nullptr && std::string(expect) == "plain") return LibmVariant::kPlain;
  for (const LibmVariant v : {LibmVariant::kFused512, LibmVariant::kFused}) {
    if (vorlisk::lanemath::libm_variant_runs(v)) return v;
  }
  return LibmVariant::kPlain;
}

// An array with a filler after every three inputs, so that no group of four or eight
// lanes holds inputs alone; and the inputs' results taken back out of such an array.
const std::vector<float>& mixed_with(const float* x, std::size_t n, float filler) {
  thread_local std::vector<float> mixed;  // reused: no page faults per batch
  mixed.assign(n + (n + 2) / 3, filler);
  float* m = mixed.data();
  std::size_t k = 0;
  for (; k + 3 <= n; k += 3, m += 4) {
    m[0] = x[k];
    m[1] = x[k + 1];
    m[2] = x[k + 2];
  }
  for (std::size_t j = 0; k < n; ++k, ++j) m[j] = x[k];
  return mixed;
}
void unmix(const float* mixed, std::size_t n, float* out) {
  std::size_t k = 0;
  for (; k + 3 <= n; k += 3, mixed += 4) {
    out[k] = mixed[0];
    out[k + 1] = mixed[1];
    out[k + 2] = mixed[2];
  }
  for (std::size_t j = 0; k < n; ++k, ++j) out[k] = mixed[j];
}

// The chosen variant and, where that is the FMA build on 512-bit registers, its AVX2
// form, which processors without AVX-512 take.
std::vector<LibmVariant> sincos_variants() {
  const LibmVariant chosen = vorlisk::lanemath::libm_variant();
  if (chosen == LibmVariant::kLibrary) return {};
  if (chosen == LibmVariant::kFused512) return {chosen, LibmVariant::kFused};
  return {chosen};
}

constexpr std::uint32_t kSinCosVectorBits = 0x42f00000;  // 120

// The library build this process got is the one the vector code reproduces: on a
// checked glibc the choice must not fall back to library calls (which would make the
// comparisons below compare the library with itself).
TEST(LibmExhaustive, ChosenVariantMatchesTheProcessorAndTunables) {
  if (!vorlisk::lanemath::libm_library_checked()) GTEST_SKIP() << "vector sinf/cosf are only used with glibc 2.36";
  EXPECT_EQ(vorlisk::lanemath::libm_variant(), expected_variant());
}

// sinf and cosf, each alone and as one output of sincosf, in each variant that
// reproduces the library build this process got.
TEST(LibmExhaustive, SinfAndCosfEveryFloat) {
  const std::vector<LibmVariant> variants = sincos_variants();
  if (variants.empty()) GTEST_SKIP() << "library calls only";
  for (const bool cosine : {false, true}) {
    std::vector<LaneFunction> vectors;
    for (const LibmVariant variant : variants) {
      vectors.push_back([=](const float* x, float* out, std::size_t n) {
        cosine ? vorlisk::lanemath::cosf_lanes(variant, x, out, n) : vorlisk::lanemath::sinf_lanes(variant, x, out, n);
      });
      // sincosf with a 1.0 among the inputs: no group lies wholly below 0.75, so here
      // small inputs take the reduction, which the lone functions skip.
      vectors.push_back([=](const float* x, float* out, std::size_t n) {
        const std::vector<float>& mixed = mixed_with(x, n, 1.0f);
        thread_local std::vector<float> sin_x, cos_x;
        sin_x.resize(mixed.size());
        cos_x.resize(mixed.size());
        vorlisk::lanemath::sincosf_lanes(variant, mixed.data(), sin_x.data(), cos_x.data(), mixed.size());
        unmix((cosine ? cos_x : sin_x).data(), n, out);
      });
    }
    const std::vector<Report> reports = compare_all(
        kSinCosVectorBits, vectors, [cosine](float x) { return cosine ? std::cos(x) : std::sin(x); });
    for (std::size_t v = 0; v < reports.size(); ++v) {
      EXPECT_EQ(reports[v].mismatches, 0u)
          << (cosine ? "cosf" : "sinf") << (v % 2 ? " from sincosf" : "") << ", variant "
          << static_cast<int>(variants[v / 2]) << ": " << describe(reports[v]);
      EXPECT_GT(reports[v].compared, std::uint64_t{2} * kSinCosVectorBits);
    }
  }
}

// Every divisor the engines use: Pendulum's 2 pi.
TEST(LibmExhaustive, FmodfEveryFloatForEachDivisorAndVariant) {
  for (const float divisor : {6.2831855f}) {
    const auto vector_below =
        std::bit_cast<std::uint32_t>(divisor * vorlisk::lanemath::kFmodVectorQuotients);
    std::vector<LaneFunction> vectors;
    std::vector<LibmVariant> variants;
    for (const LibmVariant variant : {LibmVariant::kPlain, LibmVariant::kFused, LibmVariant::kFused512}) {
      if (!vorlisk::lanemath::libm_variant_runs(variant)) continue;
      variants.push_back(variant);
      vectors.push_back([variant, divisor](const float* x, float* out, std::size_t n) {
        vorlisk::lanemath::fmodf_lanes(variant, x, divisor, out, n);
      });
      // With 10 |y| among the inputs no group lies wholly below 2 |y|, so here every
      // input takes the general path, which groups of small inputs skip.
      vectors.push_back([variant, divisor](const float* x, float* out, std::size_t n) {
        const std::vector<float>& mixed = mixed_with(x, n, 10.0f * divisor);
        thread_local std::vector<float> r;
        r.resize(mixed.size());
        vorlisk::lanemath::fmodf_lanes(variant, mixed.data(), divisor, r.data(), mixed.size());
        unmix(r.data(), n, out);
      });
    }
    const std::vector<Report> reports =
        compare_all(vector_below, vectors, [&](float x) { return std::fmod(x, divisor); });
    for (std::size_t v = 0; v < reports.size(); ++v) {
      EXPECT_EQ(reports[v].mismatches, 0u) << "divisor " << divisor << ", variant "
                                           << static_cast<int>(variants[v / 2])
                                           << (v % 2 ? ", mixed" : "") << ": " << describe(reports[v]);
    }
  }
}

}  // namespace
