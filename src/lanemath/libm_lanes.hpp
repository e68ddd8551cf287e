// The C library's single-precision sin, cos and fmod over arrays of lanes, returning
// for every input the same bits as the library call they replace (NaN payloads
// aside), several lanes at a time.
//
// fmodf is exact by definition, so any exact algorithm matches every C library.
// sinf and cosf reproduce the algorithm of the glibc versions we have checked over
// every float: its double-precision reduction and polynomials, in the build it picks
// on the running processor (one with fused multiply-adds where the processor has FMA
// and AVX2, one without), the FMA build on 512-bit registers where the processor
// has AVX-512. Which build the library uses is found out once, by asking
// it; anywhere else (another C library or version, another processor, a library that
// answers like neither build) every lane calls the library.
#pragma once

#include <cstddef>

namespace vorlisk::lanemath {

enum class LibmVariant {
  kLibrary,  // one library call per lane
  kPlain,    // vector code without fused multiply-adds (baseline instruction set)
  kFused,    // vector code with glibc's fused multiply-adds (AVX2 + FMA)
  kFused512, // the same eight lanes per register (AVX-512), where the processor has it
};

// Whether this process's C library is one the vector sinf and cosf reproduce (every
// other one gets kLibrary).
bool libm_library_checked();
// The variant that reproduces this process's C library; chosen once.
LibmVariant libm_variant();
// Whether the processor can execute `variant`.
bool libm_variant_runs(LibmVariant variant);

// out[k] = sinf(x[k]), cosf(x[k]) or fmodf(x[k], y) for k < n; `out` may be `x`.
void sinf_lanes(const float* x, float* out, std::size_t n);
void cosf_lanes(const float* x, float* out, std::size_t n);
void fmodf_lanes(const float* x, float y, float* out, std::size_t n);
// Both from one reduction, as cheap as either alone; `sin_out` may be `x`.
void sincosf_lanes(const float* x, float* sin_out, float* cos_out, std::size_t n);

// The same with a given variant, which must run on this processor. For fmodf every
// variant gives the same exact result; the variant only selects the code.
void sinf_lanes(LibmVariant variant, const float* x, float* out, std::size_t n);
void cosf_lanes(LibmVariant variant, const float* x, float* out, std::size_t n);
void sincosf_lanes(LibmVariant variant, const float* x, float* sin_out, float* cos_out,
                   std::size_t n);
void fmodf_lanes(LibmVariant variant, const float* x, float y, float* out, std::size_t n);

// Where the vector code gives way to the library per lane: |x| >= 120 (and inf/NaN)
// for sinf/cosf, |x| >= 16 |y| (and inf/NaN) for fmodf; every variant but kLibrary.
inline constexpr float kSinCosVectorLimit = 120.0f;
inline constexpr float kFmodVectorQuotients = 16.0f;

}  // namespace vorlisk::lanemath
