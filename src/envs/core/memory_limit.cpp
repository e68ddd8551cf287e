#include "envs/core/memory_limit.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace vorlisk::envs {
namespace {

// The address space this process already maps, from /proc (0 where unreadable).
std::uint64_t mapped_bytes() noexcept {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long long pages = 0;
  const int got = std::fscanf(f, "%llu", &pages);
  std::fclose(f);
  const long page = sysconf(_SC_PAGESIZE);
  return got == 1 && page > 0 ? pages * static_cast<std::uint64_t>(page) : 0;
}

}  // namespace

MemoryLimits current_memory_limits() noexcept {
  MemoryLimits limits;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0) {
    limits.physical_bytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  }
  rlimit as{};
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
    const std::uint64_t cap = as.rlim_cur;
    const std::uint64_t used = mapped_bytes();
    limits.address_space_bytes = cap > used ? cap - used : 0;
  }
  return limits;
}

void check_fits(std::size_t count, std::size_t bytes_per_item, const char* items,
                const MemoryLimits& limits) {
  std::uint64_t bytes = 0;
  const bool overflow = __builtin_mul_overflow(static_cast<std::uint64_t>(count),
                                               static_cast<std::uint64_t>(bytes_per_item), &bytes);
  const std::string needed = overflow ? "more than 2**64 bytes"
                                      : "about " + std::to_string(bytes) + " bytes";
  const std::string what = needed + " for " + std::to_string(count) + " " + items;
  if (overflow || bytes > limits.physical_bytes) {
    throw OutOfMemory("not enough memory: " + what + ", more than the machine's " +
                      std::to_string(limits.physical_bytes) + " bytes of physical memory");
  }
  if (bytes > limits.address_space_bytes) {
    throw OutOfMemory("not enough memory: " + what + ", more than the " +
                      std::to_string(limits.address_space_bytes) +
                      " bytes the address-space limit (RLIMIT_AS) leaves this process");
  }
}

}  // namespace vorlisk::envs
