// Objects too large for memory are refused before anything is allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "envs/core/memory_limit.hpp"

namespace vorlisk::envs {
namespace {

std::string refusal(std::size_t count, std::size_t bytes, const MemoryLimits& limits) {
  try {
    check_fits(count, bytes, "lanes", limits);
  } catch (const OutOfMemory& e) {
    return e.what();
  }
  return "";
}

TEST(MemoryLimit, RefusesWhatExceedsEitherLimitAndSaysHowMuch) {
  const MemoryLimits limits{.physical_bytes = 1000, .address_space_bytes = 500};
  EXPECT_EQ(refusal(10, 50, limits), "");
  const std::string over_cap = refusal(11, 50, limits);
  EXPECT_NE(over_cap.find("about 550 bytes for 11 lanes"), std::string::npos) << over_cap;
  EXPECT_NE(over_cap.find("address-space limit"), std::string::npos) << over_cap;
  const std::string over_ram = refusal(21, 50, limits);
  EXPECT_NE(over_ram.find("1000 bytes of physical memory"), std::string::npos) << over_ram;
  // A product beyond 64 bits must not wrap around to something that fits.
  const std::string wrapped = refusal(SIZE_MAX / 8 + 2, 16, limits);
  EXPECT_NE(wrapped.find("more than 2**64 bytes"), std::string::npos) << wrapped;
}

TEST(MemoryLimit, TheMachineHasSomePhysicalMemory) {
  const MemoryLimits limits = current_memory_limits();
  EXPECT_GT(limits.physical_bytes, 0u);
  EXPECT_NO_THROW(check_fits(1024, 64, "lanes"));
}

}  // namespace
}  // namespace vorlisk::envs
