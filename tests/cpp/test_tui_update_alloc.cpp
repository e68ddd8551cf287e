// update() sits in the training loop and must never allocate. Every operator new
// of the calling thread is counted while a test says so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "tui/logger.hpp"
#include "tui_test_support.hpp"

namespace {
thread_local bool counting = false;
thread_local long allocations = 0;

void* allocate(std::size_t size) {
  if (counting) ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace vorlisk::tui {
namespace {

TEST(LoggerUpdate, AllocatesNothingWhateverItDoes) {
  LoggerOptions options;
  options.history_len = 4;
  options.update_interval_steps = 0;
  options.csv_path = "/dev/null";
  options.monitor_sources = testing::fake_sources();
  Logger logger(std::move(options));

  counting = true;
  // Enough rows to fill and flush the CSV buffer many times and to wrap the
  // histories, with every optional figure present.
  for (std::uint64_t i = 0; i < 5000; ++i) {
    logger.update({.steps = i, .episodes = i, .mean_reward = 1e300, .sps = -1.5,
                   .policy_loss = 0.1, .gpu_usage = 50.0, .gpu_memory = 1e30,
                   .total_gpu_memory = 2.0});
  }
  counting = false;
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(logger.shared().history->lock()->size(), 4u);
}

TEST(LoggerUpdate, TheCounterSeesAllocations) {
  static int* volatile kept;  // volatile: the allocation cannot be optimised away
  counting = true;
  kept = new int(1);
  counting = false;
  delete kept;
  EXPECT_EQ(allocations, 1);
  allocations = 0;
}

}  // namespace
}  // namespace vorlisk::tui
