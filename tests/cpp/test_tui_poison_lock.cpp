#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <thread>

#include "tui/logger/logger.hpp"
#include "tui/logger/poison_lock.hpp"
#include "tui_test_support.hpp"

namespace vorlisk::tui {
namespace {

void fail_while_holding(HistoryLock& lock) {
  try {
    auto guard = lock.lock();
    throw std::runtime_error("view failed half-way");
  } catch (const std::runtime_error&) {
  }
}

TEST(PoisonLock, UnwindingWhileHoldingPoisonsForGood) {
  PoisonLock<int> lock(std::in_place, 0);
  { *lock.lock() = 1; }
  EXPECT_FALSE(lock.poisoned());
  try {
    auto guard = lock.lock();
    throw 42;
  } catch (int) {
  }
  EXPECT_TRUE(lock.poisoned());
  auto guard = lock.try_lock();
  ASSERT_TRUE(guard);
  EXPECT_TRUE(guard.poisoned());
}

// A lock taken and released normally inside a destructor that runs during some
// other unwinding is not to blame for that exception.
TEST(PoisonLock, CleanReleaseDuringUnrelatedUnwindingDoesNotPoison) {
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
  EXPECT_EQ(*lock.lock(), 1);
}

TEST(LoggerHistoryLock, PoisonedLockStopsHistoryButNotMetrics) {
  Logger logger({.update_interval_steps = 0, .monitor_sources = testing::fake_sources()});
  logger.update({.steps = 1});
  fail_while_holding(*logger.shared().history);
  logger.update({.steps = 2});
  EXPECT_EQ(logger.shared().metrics->steps.load(), 2u);
  auto history = logger.shared().history->lock();
  ASSERT_EQ(history->size(), 1u);
  EXPECT_EQ(history->steps()[0], 1u);
}

TEST(LoggerHistoryLock, BusyLockSkipsThePointAndRetriesNextCall) {
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
  auto history = logger.shared().history->lock();
  ASSERT_EQ(history->size(), 1u);
  EXPECT_EQ(history->steps()[0], 10001u);
}

}  // namespace
}  // namespace vorlisk::tui
