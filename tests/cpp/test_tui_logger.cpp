// The logger's state: the bounded histories and their gate, a poisoned or busy
// history lock, and an update() that never allocates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <future>
#include <new>
#include <thread>
#include <vector>

#include "tui/logger/logger.hpp"
#include "tui_test_support.hpp"

// update() sits in the training loop and must never allocate. This file replaces the
// global operator new of the test program to count the calling thread's allocations.
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

using Steps = std::vector<std::uint64_t>;

Steps history_steps(const SharedState& state) {
  auto history = state.history->lock();
  Steps steps;
  for (std::size_t i = 0; i < history->size(); ++i) steps.push_back(history->steps()[i]);
  return steps;
}

TEST(HistoryBuffer, KeepsTheNewestPointsInStepWithEachOther) {
  for (auto [history_len, appended, kept] : {std::tuple<std::size_t, int, Steps>{3, 5, {3, 4, 5}}, {3, 2, {1, 2}},
                                             {0, 4, {4}}, {4, 11, {8, 9, 10, 11}}}) {
    HistoryBuffer history(history_len);
    for (int i = 1; i <= appended; ++i) {
      double x = i;
      history.append({static_cast<std::uint64_t>(i), x, x + 1, x + 2, x + 3, x + 4, x + 5, x + 6, x + 7});
    }
    ASSERT_EQ(history.size(), kept.size()) << history_len;
    for (std::size_t i = 0; i < kept.size(); ++i) {
      EXPECT_EQ(history.steps()[i], kept[i]);
      EXPECT_EQ(history.gpu_memory_percent()[i], static_cast<double>(kept[i] + 7));
    }
  }
  EXPECT_THROW(HistoryBuffer(SIZE_MAX), std::bad_alloc);
}

TEST(LoggerHistory, AppendsWhenStepsMovedAWholeIntervalPastTheLastPoint) {
  for (auto [interval, calls, appended] : {std::tuple<std::uint64_t, Steps, Steps>{10000, {5000, 10000, 15000, 20000}, {10000, 20000}},
                                           {0, {0, 1, 1, 2}, {0, 1, 1, 2}},
                                           {10000, {0}, {}},
                                           {10000, {60000, 100, 5000, 69999, 70000}, {60000, 70000}},  // a new run
                                           {0, {60000, 100}, {60000, 100}}}) {
    Logger logger({.update_interval_steps = interval, .monitor_sources = testing::fake_sources()});
    for (std::uint64_t steps : calls) logger.update({.steps = steps});
    EXPECT_EQ(history_steps(logger.shared()), appended) << interval << ", " << calls.size();
  }
}

// Samples that do not exist yet are NaN in the histories; their cells (what the CSV writes) stay 0.
TEST(LoggerHistory, SamplesThatDoNotExistYetAreNaN) {
  std::promise<void> first_cycle_done;
  Logger logger({.monitor_interval_ms = 0, .update_interval_steps = 0, .monitor_sources = testing::fake_sources(
                     [&](int n) { if (n == 2) first_cycle_done.set_value(); }, testing::kNoNvml, NAN)});
  first_cycle_done.get_future().wait();
  logger.update({.steps = 1, .gpu_memory = 5000.0});
  logger.update({.steps = 2, .gpu_usage = 0.0, .total_gpu_memory = 10000.0});
  auto h = logger.shared().history->lock();
  EXPECT_TRUE(std::isnan(h->cpu_usage()[1]) && std::isnan(h->gpu_usage()[0]) && std::isnan(h->gpu_memory_percent()[0]));
  EXPECT_EQ((std::vector<double>{logger.shared().metrics->cpu_usage.load(), h->gpu_usage()[1],
                                 h->gpu_memory_percent()[1], h->memory_percent()[0]}), (std::vector<double>{0, 0, 50, 25}));
}

TEST(PoisonLock, ACleanReleaseDuringUnrelatedUnwindingDoesNotPoison) {
  PoisonLock<int> lock(std::in_place, 0);
  struct TouchesLockOnDestruction {
    PoisonLock<int>& lock;
    ~TouchesLockOnDestruction() { *lock.lock() += 1; }
  };
  try {
    TouchesLockOnDestruction touch{lock};
    throw 1;
  } catch (int) {
  }
  EXPECT_FALSE(lock.poisoned());
}

// A frame being drawn costs update() that one point, never a wait; a holder that
// failed half-way stops the history for good, but never the metrics.
TEST(LoggerHistoryLock, ABusyLockSkipsOnePointAPoisonedOneEveryPoint) {
  Logger logger({.monitor_sources = testing::fake_sources()});
  std::promise<void> locked, release;
  std::thread view([&] {
    auto guard = logger.shared().history->lock();
    locked.set_value();
    release.get_future().wait();
  });
  locked.get_future().wait();
  logger.update({.steps = 10000});  // must not wait for the view
  release.set_value();
  view.join();
  logger.update({.steps = 10001});
  testing::poison(*logger.shared().history);
  logger.update({.steps = 30000});
  EXPECT_EQ(logger.shared().metrics->steps.load(), 30000u);
  EXPECT_EQ(history_steps(logger.shared()), Steps{10001});
}

TEST(LoggerUpdate, AllocatesNothingWhateverItDoes) {
  Logger logger({.history_len = 4, .csv_path = "/dev/null", .update_interval_steps = 0,
                 .user_metrics = {"kl", "lr"}, .monitor_sources = testing::fake_sources()});
  const double user[] = {0.01, 3e-4};
  // Enough rows to fill and flush the CSV buffer many times and to wrap the
  // histories, with every optional figure present.
  counting = true;
  for (std::uint64_t i = 0; i < 5000; ++i) {
    logger.update({.steps = i, .episodes = i, .mean_reward = 1e300, .sps = -1.5, .policy_loss = 0.1,
                   .gpu_usage = 50.0, .gpu_memory = 1e30, .total_gpu_memory = 2.0, .user = {user, 0b11}});
  }
  counting = false;
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(logger.shared().history->lock()->size(), 4u);
}

}  // namespace
}  // namespace vorlisk::tui
