// The entry points of each build of the arithmetic: the vector kernels instantiated
// once per instruction set, and the library called lane by lane.
#include "lanemath/kernels.hpp"

#include <cmath>

#include "lanemath/fmod.hpp"
#include "lanemath/sincos.hpp"

namespace vorlisk::lanemath::detail {
namespace {

void sin_library(const float* x, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::sin(x[i]);
}
void cos_library(const float* x, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::cos(x[i]);
}
void sincos_library(const float* x, float* sin_out, float* cos_out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const float y = x[i];  // sin_out may be x
    sin_out[i] = std::sin(y);
    cos_out[i] = std::cos(y);
  }
}
void fmod_library(const float* x, float y, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::fmod(x[i], y);
}

// One set of entry points per build of the arithmetic.
#define VORLISK_LIBM_ENTRY_POINTS(TARGET, OPS, SUFFIX)                                        \
  TARGET void sin_##SUFFIX(const float* x, float* out, std::size_t n) {                     \
    float* const outs[1] = {out};                                                           \
    sincos_array<OPS, true, false>(x, outs, n);                                             \
  }                                                                                         \
  TARGET void cos_##SUFFIX(const float* x, float* out, std::size_t n) {                     \
    float* const outs[1] = {out};                                                           \
    sincos_array<OPS, false, true>(x, outs, n);                                             \
  }                                                                                         \
  TARGET void sincos_##SUFFIX(const float* x, float* sin_out, float* cos_out, std::size_t n) { \
    float* const outs[2] = {sin_out, cos_out};                                              \
    sincos_array<OPS, true, true>(x, outs, n);                                              \
  }                                                                                         \
  TARGET void fmod_##SUFFIX(const float* x, float y, float* out, std::size_t n) {           \
    fmod_array<OPS>(x, y, out, n);                                                             \
  }

VORLISK_LIBM_ENTRY_POINTS(, Plain, plain)
#if defined(__x86_64__)
VORLISK_LIBM_ENTRY_POINTS([[gnu::target("avx2,fma")]], Fused, fused)
VORLISK_LIBM_ENTRY_POINTS([[VORLISK_AVX512]], Fused512, fused512)
#undef VORLISK_AVX512
#endif
#undef VORLISK_LIBM_ENTRY_POINTS

}  // namespace

Kernels kernels_for(LibmVariant variant) {
  switch (variant) {
    case LibmVariant::kPlain:
      return {sin_plain, cos_plain, sincos_plain, fmod_plain};
#if defined(__x86_64__)
    case LibmVariant::kFused:
      return {sin_fused, cos_fused, sincos_fused, fmod_fused};
    case LibmVariant::kFused512:
      return {sin_fused512, cos_fused512, sincos_fused512, fmod_fused512};
#else
    case LibmVariant::kFused:
    case LibmVariant::kFused512:
#endif
    case LibmVariant::kLibrary:
      break;
  }
  return {sin_library, cos_library, sincos_library, fmod_library};
}

bool processor_has_fma() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

bool processor_has_avx512() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return processor_has_fma() && __builtin_cpu_supports("avx512f") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
#else
  return false;
#endif
}

}  // namespace vorlisk::lanemath::detail
