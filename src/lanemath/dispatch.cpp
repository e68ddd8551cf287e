// Which build of sinf and cosf this process's C library uses, found out once by asking
// it, and the public entry points that run the matching kernels.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

#include "lanemath/kernels.hpp"
#include "lanemath/libm_lanes.hpp"

namespace vorlisk::lanemath {
namespace {

using detail::Kernels;
using detail::kernels_for;
using detail::processor_has_avx512;
using detail::processor_has_fma;

// Every input below 120 on which glibc's two builds differ (each also negated): the
// library's answers on these tell the builds apart.
constexpr std::uint32_t kSinfBuildsDiffer[] = {0x4255b0a9, 0x42a35c07, 0x42a35d44,
                                               0x42a97360, 0x42cf5854, 0x42e87a55};
constexpr std::uint32_t kCosfBuildsDiffer[] = {0x418a3adb, 0x418a3adc, 0x418a3add, 0x418a3ade,
                                               0x41bc76d9, 0x4202eb4b, 0x42687a55, 0x4280ce28,
                                               0x42870e40, 0x42c55faa, 0x42d8d23e};

bool same_bits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Whether the library answers like `variant` where the builds differ and on inputs
// spread over the whole vector range.
bool answers_like(LibmVariant variant) {
  constexpr std::size_t kSpread = 1024;
  constexpr std::size_t kProbes = kSpread + std::size(kSinfBuildsDiffer) + std::size(kCosfBuildsDiffer);
  float x[kProbes];
  for (std::size_t k = 0; k < kSpread; ++k) {
    x[k] = -kSinCosVectorLimit + 2.0f * kSinCosVectorLimit * (static_cast<float>(k) + 0.5f) /
                                     static_cast<float>(kSpread);
  }
  std::size_t k = kSpread;
  for (const std::uint32_t bits : kSinfBuildsDiffer) x[k++] = std::bit_cast<float>(bits);
  for (const std::uint32_t bits : kCosfBuildsDiffer) x[k++] = std::bit_cast<float>(bits);
  const Kernels kernels = kernels_for(variant);
  float sin_x[kProbes];
  float cos_x[kProbes];
  kernels.sin(x, sin_x, kProbes);
  kernels.cos(x, cos_x, kProbes);
  for (k = 0; k < kProbes; ++k) {
    if (!same_bits(sin_x[k], std::sin(x[k])) || !same_bits(cos_x[k], std::cos(x[k]))) return false;
  }
  return true;
}

LibmVariant choose_variant() {
  if (!libm_library_checked()) return LibmVariant::kLibrary;
  // glibc takes its FMA build where the processor has FMA and AVX2, unless tunables
  // say otherwise; asking the library covers both.
  if (processor_has_fma() && answers_like(LibmVariant::kFused)) {
    return processor_has_avx512() ? LibmVariant::kFused512 : LibmVariant::kFused;
  }
  if (answers_like(LibmVariant::kPlain)) return LibmVariant::kPlain;
  return LibmVariant::kLibrary;
}

const Kernels& active_kernels() {
  static const Kernels kernels = [] {
    Kernels k = kernels_for(libm_variant());
    // fmodf is exact everywhere: always vector code, as wide as the processor allows.
    const LibmVariant widest = processor_has_avx512() ? LibmVariant::kFused512
                               : processor_has_fma()  ? LibmVariant::kFused
                                                      : LibmVariant::kPlain;
    k.fmod = kernels_for(widest).fmod;
    return k;
  }();
  return kernels;
}

}  // namespace

// The glibc releases whose sinf/cosf these variants were compared with over every float.
bool libm_library_checked() {
#if defined(__GLIBC__) && defined(__x86_64__)
  return std::strcmp(gnu_get_libc_version(), "2.36") == 0;
#else
  return false;
#endif
}

LibmVariant libm_variant() {
  static const LibmVariant variant = choose_variant();
  return variant;
}

bool libm_variant_runs(LibmVariant variant) {
  switch (variant) {
    case LibmVariant::kFused:
      return processor_has_fma();
    case LibmVariant::kFused512:
      return processor_has_avx512();
    case LibmVariant::kLibrary:
    case LibmVariant::kPlain:
      break;
  }
  return true;
}

void sinf_lanes(const float* x, float* out, std::size_t n) { active_kernels().sin(x, out, n); }
void cosf_lanes(const float* x, float* out, std::size_t n) { active_kernels().cos(x, out, n); }
void sincosf_lanes(const float* x, float* sin_out, float* cos_out, std::size_t n) {
  active_kernels().sincos(x, sin_out, cos_out, n);
}
void fmodf_lanes(const float* x, float y, float* out, std::size_t n) {
  active_kernels().fmod(x, y, out, n);
}

void sinf_lanes(LibmVariant variant, const float* x, float* out, std::size_t n) {
  kernels_for(variant).sin(x, out, n);
}
void cosf_lanes(LibmVariant variant, const float* x, float* out, std::size_t n) {
  kernels_for(variant).cos(x, out, n);
}
void sincosf_lanes(LibmVariant variant, const float* x, float* sin_out, float* cos_out,
                   std::size_t n) {
  kernels_for(variant).sincos(x, sin_out, cos_out, n);
}
void fmodf_lanes(LibmVariant variant, const float* x, float y, float* out, std::size_t n) {
  kernels_for(variant).fmod(x, y, out, n);
}

}  // namespace vorlisk::lanemath
