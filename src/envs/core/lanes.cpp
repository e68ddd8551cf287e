#include "envs/core/lanes.hpp"

#include <atomic>

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

}  // namespace vorlisk::envs
