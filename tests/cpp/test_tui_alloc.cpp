// update() sits in the training loop and must never allocate. This file replaces the
// global operator new of the test program to count the calling thread's allocations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "tui/logger/logger.hpp"
#include "tui_test_support.hpp"

namespace {
thread_local bool counting = false;
thread_local long allocations = 0;

void* allocate(std::size_t size) {
  allocations += counting;
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

template <class F>
long allocations_of(F&& f) {
  allocations = 0;
  counting = true;
  f();
  counting = false;
  return allocations;
}

TEST(LoggerUpdate, AllocatesNothingWhateverItDoes) {
  Logger logger({.history_len = 4, .csv_path = "/dev/null", .update_interval_steps = 0,
                 .monitor_sources = testing::fake_sources()});
  // Enough rows to fill and flush the CSV buffer many times and to wrap the
  // histories, with every optional figure present.
  EXPECT_EQ(allocations_of([&] {
              for (std::uint64_t i = 0; i < 5000; ++i) {
                logger.update({.steps = i, .episodes = i, .mean_reward = 1e300, .sps = -1.5,
                               .policy_loss = 0.1, .gpu_usage = 50.0, .gpu_memory = 1e30,
                               .total_gpu_memory = 2.0});
              }
            }),
            0);
  EXPECT_EQ(logger.shared().history->lock()->size(), 4u);
}

}  // namespace
}  // namespace vorlisk::tui
