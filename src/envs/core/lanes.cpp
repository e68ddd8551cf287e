#include "envs/core/lanes.hpp"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "envs/core/step_io.hpp"

namespace vorlisk::envs {
namespace {

std::atomic<bool> narrow_forced{false};

bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace

bool wide_blocks_enabled() {
  static const bool available = cpu_has_avx2();
  return available && !narrow_forced.load(std::memory_order_relaxed);
}

void force_narrow_blocks(bool narrow) { narrow_forced.store(narrow, std::memory_order_relaxed); }

namespace {

[[gnu::always_inline]] inline void convert(const char* data, float* out, std::size_t n) {
  if (reinterpret_cast<std::uintptr_t>(data) % alignof(std::int32_t) == 0) {
    const auto* in = reinterpret_cast<const std::int32_t*>(data);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<float>(in[i]);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::int32_t v;
    std::memcpy(&v, data + i * sizeof v, sizeof v);
    out[i] = static_cast<float>(v);
  }
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] void convert_avx2(const char* data, float* out, std::size_t n) {
  convert(data, out, n);
}
#endif

}  // namespace

// Chosen at run time rather than through an ifunc: a resolver runs while the program
// is being relocated, before a sanitizer's runtime is ready for instrumented code.
void int32_to_f32(const char* data, float* out, std::size_t n) {
#if defined(__x86_64__) || defined(__i386__)
  if (wide_blocks_enabled()) return convert_avx2(data, out, n);
#endif
  convert(data, out, n);
}

}  // namespace vorlisk::envs
